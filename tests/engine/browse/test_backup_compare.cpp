// vtBoxCompareBackup against the simulated device: what changed on the device
// since a backup, and nothing else; read without a lock or an FTP account.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "backup_job.hpp"
#include "level_files.hpp"
#include "vthandles.hpp"

namespace {

using namespace vttest;

struct Compared {
    uint32_t rc = 0;
    std::string detail;
    std::vector<VTBACKUPDIFF> items;
};

Compared Compare(SimDevice &sim, const std::string &backup, std::vector<uint32_t> boxes = {}) {
    Compared c;
    VTMFPSESSION s = sim.Session();
    EXPECT_EQ(vtBoxOpenConnection(&s), 0u);
    std::string work = sim.dir / "work";
    fs::create_directories(work);
    uint32_t count = 0;
    VTBACKUPDIFF *items = nullptr;
    vt::GlobalBlock block(vtBoxCompareBackup(&s, "admin", work.c_str(), backup.c_str(),
                                             static_cast<uint32_t>(boxes.size()), boxes.data(), &count, &items));
    c.rc = block ? 0 : GetLastError();
    c.detail = vtBoxGetLastErrorText();
    if (block) c.items.assign(items, items + count);
    // Handed out one at a time, the same differences in the same order; a
    // caller that stops after the first gets no more.
    struct Handed {
        std::vector<VTBACKUPDIFF> items;
        bool stopAtFirst = false;
    } handed;
    auto take = [](const VTBACKUPDIFF *d, void *context) -> uint32_t {
        auto &h = *static_cast<Handed *>(context);
        h.items.push_back(*d);
        return h.stopAtFirst ? 1 : 0;
    };
    EXPECT_EQ(vtBoxCompareBackupEach(&s, "admin", work.c_str(), backup.c_str(), static_cast<uint32_t>(boxes.size()),
                                     boxes.data(), take, &handed),
              c.rc);
    EXPECT_EQ(handed.items.size(), c.items.size());
    for (size_t i = 0; i < std::min(handed.items.size(), c.items.size()); ++i)
        EXPECT_EQ(std::memcmp(&handed.items[i], &c.items[i], sizeof(VTBACKUPDIFF)), 0) << "difference " << i;
    if (c.rc == 0 && !c.items.empty()) {
        handed = {{}, true};
        EXPECT_EQ(vtBoxCompareBackupEach(&s, "admin", work.c_str(), backup.c_str(), static_cast<uint32_t>(boxes.size()),
                                         boxes.data(), take, &handed),
                  static_cast<uint32_t>(VTBOX_E_CANCELLED));
        EXPECT_EQ(handed.items.size(), 1u);
    }
    vtBoxCloseConnection(&s);
    EXPECT_EQ(fs::directory_iterator(work), fs::directory_iterator()) << "the work folder is left as it was";
    return c;
}

std::string MakeBackup(SimDevice &sim, std::vector<uint32_t> boxes) {
    std::string target = sim.dir / "backup.zip";
    BackupRun run = RunBackup(sim, target, std::move(boxes));
    if (run.rc != 0) throw std::runtime_error("backup failed: " + std::to_string(run.rc));
    sim.device->ClearRecords();
    return target;
}

// "change kind box/folder/doc -> device folder/doc name differs".
std::string Line(const VTBACKUPDIFF &d) {
    return vt::Format("%u %u %u/%u/%u -> %u/%u %s %u", d.Change, d.Kind, d.BoxNo, d.FolderNo, d.DocNo, d.DeviceFolderNo,
                      d.DeviceDocNo, d.Name, d.Differs);
}

std::vector<std::string> Lines(const Compared &c) {
    std::vector<std::string> out;
    for (const auto &d : c.items) out.push_back(Line(d));
    return out;
}

fs::path Level(const SimDevice &sim, uint32_t box) {
    return fs::path(sim.storeRoot) / vt::Format("SHR/BOX/DATA/B0000%03u/P0000001", box);
}

TEST(CompareBackup, TheDeviceAsItWasShowsNoDifference) {
    SimDevice sim;
    std::string backup = MakeBackup(sim, {1, 2, 3});
    Compared c = Compare(sim, backup);
    ASSERT_EQ(c.rc, 0u) << c.detail;
    EXPECT_EQ(Lines(c), std::vector<std::string>{});
    // Nothing but lists was asked for.
    for (const auto &page : sim.device->Records().httpRequests)
        EXPECT_TRUE(page.find("boxnwGetFolderDocList") != std::string::npos ||
                    page.find("boxnwConnect") != std::string::npos || page.find("boxnwDisconnect") != std::string::npos)
            << page;
    EXPECT_TRUE(sim.device->Records().ftpCommands.empty());
}

// Every kind of change, each named once, with what differs.
TEST(CompareBackup, NamesWhatWasDeletedAddedAndChangedAndNothingElse) {
    SimDevice sim;
    std::string backup = MakeBackup(sim, {1, 2, 3});
    fs::path level = Level(sim, 1);
    fs::remove_all(level / "D0000002");  // deleted at the top level
    fs::remove(level / "D0000002.XML");
    fs::remove_all(level / "F0000002");  // a folder deleted with its documents
    fs::remove(level / "F0000002.XML");
    AddEntry(level, 'D', 9, "New scan");                                                   // added at the top level
    AddEntry(level / "F0000001", 'D', 7, "Added");                                         // added in a folder
    AddEntry(level, 'F', 5, "New folder");                                                 // a folder added
    WriteBytes(level / "F0000001/D0000003/PAGE0003.DAT", std::vector<uint8_t>(40000, 7));  // a page more
    auto record = FileBytes(level / "D0000001.XML");                                       // a later update
    record[151] ^= 1;
    WriteBytes(level / "D0000001.XML", record);
    // Box 3 is gone from the device.
    fs::remove_all(fs::path(sim.storeRoot) / "SHR/BOX/DATA/B0000003");
    fs::remove(fs::path(sim.storeRoot) / "SHR/BOX/DATABASE/B0000003.XML");

    Compared c = Compare(sim, backup);
    ASSERT_EQ(c.rc, 0u) << c.detail;
    const std::string d102 = devicesim::SeededDocumentName(1, 0, 2), d101 = devicesim::SeededDocumentName(1, 0, 1);
    const std::string d113 = devicesim::SeededDocumentName(1, 1, 3);
    EXPECT_EQ(Lines(c), (std::vector<std::string>{
                            "3 1 1/0/1 -> 0/1 " + d101 + " 4",
                            "1 1 1/0/2 -> 0/0 " + d102 + " 0",
                            "2 1 1/0/0 -> 0/9 New scan 0",
                            "3 1 1/1/3 -> 1/3 " + d113 + " 3",
                            "2 1 1/1/0 -> 1/7 Added 0",
                            "1 0 1/2/0 -> 0/0 " + devicesim::SeededFolderName(1, 2) + " 0",
                            "2 0 1/0/0 -> 5/0 New folder 0",
                            "1 2 3/0/0 -> 0/0 " + devicesim::SeededBoxName(3) + " 0",
                        }));
    const VTBACKUPDIFF &grown = c.items[3];
    EXPECT_EQ(grown.BackupPages, 2u);
    EXPECT_EQ(grown.DevicePages, 3u);
    EXPECT_EQ(grown.BackupSize, 2u * 16 * 1024 + 512);  // two pages and the thumbnail
    EXPECT_EQ(std::string(grown.FolderName), devicesim::SeededFolderName(1, 1));
}

// Folders are matched by name, as the restore merges them: a folder that
// took another number is the same folder.
TEST(CompareBackup, AFolderUnderAnotherNumberIsTheSameFolder) {
    SimDevice sim;
    std::string backup = MakeBackup(sim, {1});
    fs::path level = Level(sim, 1);
    fs::rename(level / "F0000002", level / "F0000007");
    auto record = FileBytes(level / "F0000002.XML");
    record[6] = '0';
    record[7] = '7';
    WriteBytes(level / "F0000007.XML", record);
    fs::remove(level / "F0000002.XML");
    Compared c = Compare(sim, backup, {1});
    ASSERT_EQ(c.rc, 0u) << c.detail;
    EXPECT_EQ(Lines(c), std::vector<std::string>{});
}

TEST(CompareBackup, ADamagedFileIsRefused) {
    SimDevice sim;
    std::string backup = MakeBackup(sim, {1});
    std::string damaged = sim.dir / "damaged.zip";
    std::string out;
    ASSERT_EQ(RunCommand("python3 '" DAMAGE_SCRIPT "' '" + backup + "' '" + damaged + "' box:1", &out), 0) << out;
    Compared c = Compare(sim, damaged);
    EXPECT_EQ(c.rc, static_cast<uint32_t>(VTBOX_E_DAMAGED_FILE)) << c.detail;
}

}  // namespace
