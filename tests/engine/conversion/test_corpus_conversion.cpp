// vtBoxConvertBackupData over the crafted backup corpus: a conversion reads
// its source through the checks verify makes, and what it writes is a file
// that verify calls whole.
#include <gtest/gtest.h>

#include <filesystem>

#include "conversion_support.hpp"

namespace {

namespace fs = std::filesystem;

constexpr const char *kFrom = "Korvo-B V1.3.0.0";
constexpr const char *kTo = "Korvo-C V1.3.0.0";  // drops wide paper only (engine/conversion/settings)

// Every file named damaged-... is refused with nothing written; every other
// converts into a file whose description agrees with what it holds.
TEST(CorpusConversion, RefusesWhatVerifyRefusesAndWritesWhatVerifyAccepts) {
    vttest::KeepCwd keepCwd;
    vttest::ScopedEnv settings{"VTBOX_CONVERSION_PATH", VTBOX_SETTINGS_DIR};
    vttest::TempDir dir;
    size_t files = 0;
    for (const auto &e : fs::directory_iterator(BACKUP_CORPUS_DIR)) {
        const std::string name = e.path().filename().string();
        SCOPED_TRACE(name);
        ++files;
        const fs::path work = dir / ("work-" + name), result = dir / ("converted-" + name);
        fs::create_directories(work);
        vtconv::ConversionRun run =
            vtconv::Convert(vtBoxConvertBackupData, e.path().string(), result, work, kFrom, kTo, false);
        EXPECT_TRUE(fs::is_empty(work));
        if (name.rfind("damaged-", 0) == 0) {
            EXPECT_NE(run.rc, 0u);
            EXPECT_FALSE(fs::exists(result));
            continue;
        }
        ASSERT_EQ(run.rc, 0u) << run.detail;
        uint32_t count = 0;
        VTCHECKITEM *items = nullptr;
        void *handle = nullptr;
        EXPECT_EQ(vtBoxCheckBackup(result.c_str(), work.c_str(), &count, &items, &handle), 0u)
            << (count > 0 ? items[0].Text : "");
        if (handle) GlobalFree(handle);
    }
    EXPECT_GT(files, 20u);
}

}  // namespace
