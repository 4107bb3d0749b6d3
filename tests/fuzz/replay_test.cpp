// Replays every corpus file through its fuzz target: the inputs that once
// found a fault stay fixed in the ordinary (and the sanitizer) test runs.
#include <gtest/gtest.h>

#include <filesystem>

#include "fuzz_target.h"

namespace {

namespace fs = std::filesystem;

const char *const kTargets[] = {
    "xmlreply", "ftp_listing", "zip_reader", "record_file",         "description", "registry",   "sim_http",
    "sim_ftp",  "element_map", "plain_text", "conversion_settings", "json_line",   "job_history"};

class Corpus : public ::testing::TestWithParam<const char *> {};

TEST_P(Corpus, EveryFilePasses) {
    const vtfuzz::Target target = vtfuzz::Find(GetParam());
    ASSERT_NE(target, nullptr) << GetParam();
    size_t files = 0;
    for (const auto &entry : fs::directory_iterator(fs::path(FUZZ_CORPUS_DIR) / GetParam())) {
        const std::string bytes = vtfuzz::ReadFile(entry.path());
        SCOPED_TRACE(entry.path().filename().string());
        EXPECT_EQ(target(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()), 0);
        ++files;
    }
    EXPECT_GT(files, 0u);
}

INSTANTIATE_TEST_SUITE_P(Fuzz, Corpus, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<const char *> &info) { return std::string(info.param); });

TEST(CorpusList, NamesEveryTarget) {
    EXPECT_EQ(vtfuzz::RegisteredNames(), std::set<std::string>(std::begin(kTargets), std::end(kTargets)));
}

}  // namespace
