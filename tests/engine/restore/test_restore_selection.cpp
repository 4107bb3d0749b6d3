// vtBoxRestoreSelection and its plan against the simulated device: chosen
// documents and folders come back alone, by the rules of the box restore,
// and everything else of the box stays as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "restore_support.hpp"

namespace {

using namespace vttest;
using Files = std::map<std::string, std::vector<uint8_t>>;

// The store's files under "DATA/B0000bbb/P0000001/" + rest.
std::string InBox(uint32_t box, const std::string &rest) { return vt::Format("DATA/B0000%03u/P0000001/", box) + rest; }

// What the restore writes into a document record it sends: the device time at 148.
std::vector<uint8_t> Stamped(std::vector<uint8_t> record, uint32_t time) {
    record[148] = static_cast<uint8_t>(time >> 24);
    record[149] = static_cast<uint8_t>(time >> 16);
    record[150] = static_cast<uint8_t>(time >> 8);
    record[151] = static_cast<uint8_t>(time);
    return record;
}

// The files of one entry (its record, and everything under its folder).
Files EntryFiles(const Files &all, const std::string &entry) {
    Files out;
    for (const auto &[rel, bytes] : all)
        if (rel == entry + ".XML" || rel.rfind(entry + "/", 0) == 0) out[rel] = bytes;
    return out;
}

void DeleteDocument(SimDevice &sim, uint32_t box, uint32_t folder, uint32_t document) {
    VTMFPSESSION s = sim.Session();
    ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
    ASSERT_EQ(vtBoxDeleteDocument(&s, box, "admin", folder, document), 0u);
    vtBoxCloseConnection(&s);
}

// A folder deleted on the device's panel, with everything in it.
void DeleteFolder(SimDevice &sim, uint32_t box, uint32_t folder) {
    fs::path level = Level(sim, box);
    fs::remove_all(level / OwnName('F', folder));
    fs::remove(level / (OwnName('F', folder) + ".XML"));
}

class SelectedDocument : public testing::TestWithParam<uint32_t> {};

// One document deleted from a folder since the backup; restoring it alone
// brings back that document under its own number and changes nothing else
// of the device: every other file is byte for byte as it was.
TEST_P(SelectedDocument, ComesBackAloneAndEverythingElseStaysAsItWas) {
    SimDevice sim;
    std::string backup = MakeBackup(sim, {1, 2});
    Files original = Snapshot(sim);
    DeleteDocument(sim, 1, 2, 2);
    const std::string doc = InBox(1, "F0000002/D0000002");
    ASSERT_TRUE(EntryFiles(Snapshot(sim), doc).empty());
    sim.device->ClearRecords();

    RestoreRun run = RunSelection(sim, backup, {{1, 2, 2}}, GetParam());
    ASSERT_EQ(run.rc, 0u) << run.detail;
    Files expected = original;
    expected[doc + ".XML"] = Stamped(expected[doc + ".XML"], run.device_time);
    EXPECT_EQ(Snapshot(sim), expected);
    EXPECT_EQ(run.progress.DocsTotal, 1);
    EXPECT_EQ(run.progress.DocsDone, 1);
    EXPECT_EQ(run.progress.Phase, 0);
    EXPECT_EQ(CountRequests(sim, "boxnwDeleteDoc"), 0u);
    ExpectWorkFolderEmpty(sim);
}

INSTANTIATE_TEST_SUITE_P(BothModes, SelectedDocument, testing::Values(kKeepBoth, kReplace),
                         [](const auto &info) { return info.param == kReplace ? "Replace" : "KeepBoth"; });

// A document chosen in a folder that has been deleted since brings its
// folder back, under its name and number, holding the chosen document only.
TEST(SelectedParts, ADocumentWhoseFolderIsGoneBringsItsFolder) {
    SimDevice sim;
    std::string backup = MakeBackup(sim, {1});
    Files original = Snapshot(sim);
    DeleteFolder(sim, 1, 2);
    Files before = Snapshot(sim);

    RestoreRun run = RunSelection(sim, backup, {{1, 2, 3}}, kKeepBoth);
    ASSERT_EQ(run.rc, 0u) << run.detail;
    Files expected = before;
    const std::string folder = InBox(1, "F0000002");
    expected[folder + ".XML"] = original[folder + ".XML"];
    expected[folder + "/UNLOCK.STS"] = original[folder + "/UNLOCK.STS"];
    for (const auto &[rel, bytes] : EntryFiles(original, folder + "/D0000003")) expected[rel] = bytes;
    expected[folder + "/D0000003.XML"] = Stamped(expected[folder + "/D0000003.XML"], run.device_time);
    EXPECT_EQ(Snapshot(sim), expected);
    ExpectWorkFolderEmpty(sim);
}

// Into a box the device lacks: the box is made, holding the chosen part only.
TEST(SelectedParts, ABoxTheDeviceLacksIsMadeOfTheChosenPart) {
    SimDevice sim;
    std::string backup = MakeBackup(sim, {1, 2});
    Files original = Snapshot(sim);
    DeleteAllBoxes(sim);

    RestoreRun run = RunSelection(sim, backup, {{2, 1, 0}, {2, 1, 3}}, kReplace);
    ASSERT_EQ(run.rc, 0u) << run.detail;
    std::set<std::string> restored;
    for (const auto &[rel, bytes] : Snapshot(sim))
        if (rel.rfind("DATA/B0000002/", 0) == 0) restored.insert(rel);
    std::set<std::string> chosen;
    for (const auto &[rel, bytes] : original)
        if (rel.rfind(InBox(2, "F0000001"), 0) == 0 || rel == "DATA/B0000002/UNLOCK.STS") chosen.insert(rel);
    EXPECT_EQ(restored, chosen);
    EXPECT_EQ(run.progress.DocsDone, 3);
    EXPECT_EQ(Snapshot(sim).count("DATABASE/B0000002.XML"), 1u);
}

// A chosen part the file does not hold refuses the restore before anything
// is sent, naming it.
TEST(SelectedParts, APartTheFileLacksIsRefusedBeforeAnythingIsSent) {
    SimDevice sim;
    std::string backup = MakeBackup(sim, {1, 2});
    DeleteDocument(sim, 1, 0, 1);
    Files before = Snapshot(sim);
    sim.device->ClearRecords();
    RestoreRun run = RunSelection(sim, backup, {{1, 0, 1}, {2, 9, 0}}, kKeepBoth);
    EXPECT_EQ(run.rc, static_cast<uint32_t>(VTBOX_E_NOT_FOUND));
    EXPECT_NE(run.detail.find("box 002, folder 009"), std::string::npos) << run.detail;
    ExpectNothingSent(sim);
    EXPECT_EQ(Snapshot(sim), before);
    ExpectWorkFolderEmpty(sim);
}

// The plan of a selection reads the device only, and says what the restore
// of that selection then does.
TEST(SelectedParts, ThePlanIsWhatTheRestoreThenDoes) {
    SimDevice sim;
    std::string backup = MakeBackup(sim, {1});
    DeleteDocument(sim, 1, 0, 2);
    DeleteFolder(sim, 1, 1);
    const std::vector<VTBACKUPITEM> items = {{1, 0, 2}, {1, 1, 3}, {1, 0, 3}};
    Files before = Snapshot(sim);
    sim.device->ClearRecords();

    VTMFPSESSION s = sim.Session();
    ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
    std::string work = sim.dir / "work";
    fs::create_directories(work);
    uint32_t count = 0;
    VTRESTOREPLAN *plan = nullptr;
    vt::GlobalBlock block(vtBoxPlanRestoreSelection(&s, "admin", work.c_str(), backup.c_str(),
                                                    static_cast<uint32_t>(items.size()), items.data(), kKeepBoth,
                                                    &count, &plan));
    vtBoxCloseConnection(&s);
    ASSERT_TRUE(block) << GetLastError() << " " << vtBoxGetLastErrorText();
    ExpectNothingSent(sim);
    EXPECT_EQ(CountRequests(sim, "boxnwBoxExModeIn"), 0u) << "no lock";
    EXPECT_EQ(CountRequests(sim, "boxnwCreateFTPAccount"), 0u) << "no FTP account";
    EXPECT_EQ(Snapshot(sim), before);

    std::vector<std::string> lines;
    for (uint32_t i = 0; i < count; ++i)
        if (plan[i].Action != VTPLAN_DISK_SPACE)
            lines.push_back(vt::Format("%u %u/%u->%u %s", plan[i].Action, plan[i].FolderNo, plan[i].EntryNo,
                                       plan[i].NewNo, plan[i].NewName));
    // Document 3 is still on the device: kept both, the restored one renamed.
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "2 0/1->1 " + devicesim::SeededBoxName(1),
                         "3 0/2->2 " + devicesim::SeededDocumentName(1, 0, 2),
                         "5 0/3->4 " + devicesim::SeededDocumentName(1, 0, 3) + "-001",
                         "6 0/1->1 " + devicesim::SeededFolderName(1, 1),
                         "3 1/3->3 " + devicesim::SeededDocumentName(1, 1, 3),
                     }));

    RestoreRun run = RunSelection(sim, backup, items, kKeepBoth);
    ASSERT_EQ(run.rc, 0u) << run.detail;
    fs::path level = Level(sim, 1);
    auto top = Names(level, 'D');
    EXPECT_EQ(vt::Utf16ToUtf8(top.at(2)), devicesim::SeededDocumentName(1, 0, 2));
    EXPECT_EQ(vt::Utf16ToUtf8(top.at(4)), devicesim::SeededDocumentName(1, 0, 3) + "-001");
    EXPECT_EQ(top.size(), 4u);
    auto inFolder = Names(level / "F0000001", 'D');
    ASSERT_EQ(inFolder.size(), 1u);
    EXPECT_EQ(vt::Utf16ToUtf8(inFolder.at(3)), devicesim::SeededDocumentName(1, 1, 3));
}

}  // namespace
