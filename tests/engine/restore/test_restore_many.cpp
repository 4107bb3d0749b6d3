// Thousands of one-page documents: a backup and, right after it, a restore of
// the same store into an emptied device. Each transfer once took a local port
// of its own and left it in TIME_WAIT, and such a restore ran out of ports
// part-way (12003).
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "backup_job.hpp"
#include "level_files.hpp"

namespace {

using namespace vttest;

// Relative path -> bytes of every file under the store's box tree but the
// document records, whose time stamps the restore sets.
std::map<std::string, std::string> Files(const SimDevice &sim, size_t *records) {
    std::map<std::string, std::string> out;
    fs::path root = fs::path(sim.storeRoot) / "SHR/BOX";
    *records = 0;
    for (const auto &e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file()) continue;
        std::string rel = fs::relative(e.path(), root).string();
        std::string name = e.path().filename().string();
        if (rel.rfind("DATA/", 0) == 0 && name.size() == 12 && name[0] == 'D' && name.ends_with(".XML")) {
            ++*records;
            continue;
        }
        out[rel] = ReadFile(e.path());
    }
    return out;
}

TEST(ManyDocuments, SixThousandDocumentsRestoredRightAfterTheirBackup) {
    SimOptions o;
    o.seed.boxes = 5;
    o.seed.folders = 3;
    o.seed.docs = 300;  // 5 boxes x (top level + 3 folders) x 300 = 6,000 documents
    o.seed.pages = 1;
    o.seed.pageKb = 1;
    SimDevice sim(o);
    size_t records_before = 0;
    auto before = Files(sim, &records_before);
    ASSERT_EQ(records_before, 6000u);

    std::string backup = sim.dir / "backup.zip";
    BackupRun made = RunBackup(sim, backup, {1, 2, 3, 4, 5});
    ASSERT_EQ(made.rc, 0u) << made.detail;
    EXPECT_EQ(made.progress.DocsDone, 6000);

    VTMFPSESSION s = sim.Session();
    ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
    ASSERT_EQ(vtBoxDeleteAllBox(&s, "admin"), 0u);
    uint32_t device_time = 0;
    ASSERT_EQ(vtBoxLockUiJob(&s, "admin", 1, &device_time), 0u);
    char login[256] = {};
    ASSERT_EQ(vtBoxCreateFTPAccount(&s, "admin", login), 0u);
    std::string work = sim.dir / "work";
    VTPROGRESSINFO progress{};
    uint32_t boxes[] = {1, 2, 3, 4, 5};
    uint32_t rc = vtBoxRestore(&s, "admin", login, work.c_str(), backup.c_str(), 5, boxes, 0, device_time, nullptr,
                               nullptr, &progress);
    std::string detail = vtBoxGetLastErrorText();
    vtBoxDeleteFTPAccount(&s, "admin");
    vtBoxUnlockUiJob(&s, "admin", 1);
    vtBoxCloseConnection(&s);
    ASSERT_EQ(rc, 0u) << detail << " after " << progress.DocsDone << " documents";
    EXPECT_EQ(progress.DocsDone, 6000);

    size_t records_after = 0;
    auto after = Files(sim, &records_after);
    EXPECT_EQ(records_after, 6000u);
    EXPECT_EQ(after.size(), before.size());
    EXPECT_TRUE(after == before);
}

}  // namespace
