// vtBoxRestore against the simulated device, with backup files that
// vtBoxBackup made of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "backup_job.hpp"
#include "ftp/ftp_client.hpp"
#include "jobs/keep_alive.hpp"
#include "level_files.hpp"
#include "packaging/folder_archive.hpp"
#include "restore_support.hpp"
#include "vthandles.hpp"
#include "vtregistry.h"

namespace {

using namespace vttest;

TEST(RestoreRoundTrip, EveryBoxComesBackByteForByteButTheTimeStamps) {
    SimDevice sim;
    auto original = Snapshot(sim);
    std::vector<std::string> view = DeviceView(sim);
    std::string backup = MakeBackup(sim, {1, 2, 3});
    DeleteAllBoxes(sim);
    ASSERT_TRUE(DeviceView(sim).empty());

    RestoreRun run = RunRestore(sim, backup, {1, 2, 3}, kKeepBoth);
    ASSERT_EQ(run.rc, 0u);
    ExpectRestoredStore(original, Snapshot(sim), run.device_time);
    EXPECT_EQ(DeviceView(sim), view);

    EXPECT_EQ(run.progress.Phase, 0);
    EXPECT_EQ(run.progress.Percent, 100);
    EXPECT_EQ(run.progress.DocsTotal, 27);
    EXPECT_EQ(run.progress.DocsDone, 27);
    ExpectWorkFolderEmpty(sim);
    // Percent never falls, and the phases end 7 -> 0.
    for (size_t i = 1; i < run.seen.size(); ++i) EXPECT_GE(run.seen[i].Percent, run.seen[i - 1].Percent);
    ASSERT_FALSE(run.seen.empty());
    EXPECT_EQ(run.seen.back().Phase, 0);

    // The service heard of every box, folder and document made.
    auto calls = sim.device->Records().serialChanges;
    size_t boxes = 0, folders = 0, docs = 0;
    for (const auto &c : calls) {
        if (c.folder == 0 && c.document == 0)
            boxes += c.noc == 2 && c.mod == 1;
        else if (c.document == 0)
            folders += c.noc == 2 && c.mod == 1;
        else
            docs += c.noc == 0 && c.mod == 0;
    }
    EXPECT_EQ(boxes, 3u);
    EXPECT_EQ(folders, 6u);
    EXPECT_EQ(docs, 27u);
    EXPECT_EQ(calls.size(), 36u);

    // None of it was on the device: a removal goes only to each box's folder
    // and record, never to an entry the device cannot have.
    EXPECT_EQ(CountCommands(sim, "RMD "), 3u);
    EXPECT_EQ(CountCommands(sim, "DELE /SHR/BOX/DATABASE/"), 3u);
    size_t status_deletes = 0;
    for (const auto &c : sim.device->Records().ftpCommands)
        status_deletes += c.rfind("DELE ", 0) == 0 && c.ends_with("/CREATE.STS");
    EXPECT_EQ(status_deletes, 36u);
    EXPECT_EQ(CountCommands(sim, "DELE "), 39u);
}

TEST(RestoreRoundTrip, AShellDialectDevice) {
    SimOptions o;
    o.engineVersion = "Korvo-D V1.0.0.0";
    o.seed.boxes = 1;
    SimDevice sim(o);
    auto original = Snapshot(sim);
    std::string backup = MakeBackup(sim, {1});
    DeleteAllBoxes(sim);
    // A BOX the caller has in the work folder ends the restore at once (183)
    // and stays as it was; nothing of it is restored.
    fs::path stale = sim.dir / "work/BOX/DATA/B0000001/P0000001";
    fs::create_directories(stale);
    AddEntry(stale, 'D', 99, "left over");
    RestoreRun run = RunRestore(sim, backup, {1}, kReplace);
    EXPECT_EQ(run.rc, 183u);
    EXPECT_NE(run.detail.find(std::string(sim.dir / "work/BOX")), std::string::npos) << run.detail;
    EXPECT_TRUE(fs::exists(stale / "D0000099.XML"));
    ExpectNothingSent(sim);
    fs::remove_all(sim.dir / "work/BOX");
    run = RunRestore(sim, backup, {1}, kReplace);
    ASSERT_EQ(run.rc, 0u);
    ExpectRestoredStore(original, Snapshot(sim), run.device_time);
    ExpectWorkFolderEmpty(sim);
    EXPECT_GT(CountCommands(sim, "mkdir "), 0u);
    EXPECT_EQ(CountCommands(sim, "MKD "), 0u);
}

TEST(RestoreRoundTrip, A552DuringTheUploadIsRecovered) {
    SimOptions o;
    o.seed.boxes = 1;
    SimDevice sim(o);
    auto original = Snapshot(sim);
    std::string backup = MakeBackup(sim, {1});
    DeleteAllBoxes(sim);
    sim.faults().FailStor(552, 6, false);
    RestoreRun run = RunRestore(sim, backup, {1}, kKeepBoth);
    ASSERT_EQ(run.rc, 0u);
    ExpectRestoredStore(original, Snapshot(sim), run.device_time);
}

// A box the device has: one top-level document named Report, one with a
// 64-unit name, one folder that the backup also holds.
class Merge : public ::testing::Test {
protected:
    static SimOptions Options() {
        SimOptions o;
        o.seed.boxes = 1;
        o.seed.folders = 1;
        o.seed.docs = 2;
        return o;
    }
    void SetUp() override {
        WriteName(top / "D0000001.XML", u"Report");
        WriteName(top / "D0000002.XML", long_name);
        backup = MakeBackup(sim, {1});
    }
    static void WriteName(const fs::path &record, const std::u16string &name) {
        devicesim::EntryRecord r = ReadEntry(record);
        r.displayName = name;
        WriteBytes(record, devicesim::EncodeEntryRecord(r));
    }
    SimDevice sim{Options()};
    fs::path top = Level(sim, 1);
    std::u16string long_name = std::u16string(64, u'\u00E9');
    std::string backup;
};

TEST_F(Merge, KeepBothAddsSuffixesAndMergesTheSameNamedFolder) {
    RestoreRun run = RunRestore(sim, backup, {1}, kKeepBoth);
    ASSERT_EQ(run.rc, 0u);
    std::u16string cut = std::u16string(60, u'\u00E9') + u"-001";
    EXPECT_EQ(Names(top, 'D'),
              (std::map<uint32_t, std::u16string>{{1, u"Report"}, {2, long_name}, {3, u"Report-001"}, {4, cut}}));
    // The folder was poured into the device's folder of that name: no new folder.
    EXPECT_EQ(Names(top, 'F').size(), 1u);
    auto inside = Names(top / "F0000001", 'D');
    ASSERT_EQ(inside.size(), 4u);
    EXPECT_EQ(inside[3], inside[1] + u"-001");
    EXPECT_EQ(ReadEntry(top / "D0000003.XML").ownName, "D0000003");
    EXPECT_TRUE(fs::exists(top / "D0000003/UNLOCK.STS"));
    EXPECT_FALSE(fs::exists(top / "D0000003/CREATE.STS"));
    EXPECT_EQ(ReadEntry(top / "D0000003.XML").updateTime, run.device_time);
    EXPECT_EQ(run.progress.DocsDone, 4);

    // Report-001 is taken now: the next restore makes Report-002.
    ASSERT_EQ(RunRestore(sim, backup, {1}, kKeepBoth).rc, 0u);
    EXPECT_EQ(Names(top, 'D')[5], u"Report-002");
    EXPECT_EQ(Names(top, 'D').size(), 6u);
}

// Each replacement is made once, under a number the device does not use, and
// the document it replaces is deleted once it is complete: names, pages and
// folders end as the backup has them, only the numbers differ.
TEST_F(Merge, ReplaceMakesEachReplacementOnceThenDeletesTheOldOne) {
    WriteBytes(top / "D0000001/PAGE0001.DAT", {9, 9, 9});  // changed since the backup
    auto before_restore = FileBytes(top / "D0000001/PAGE0002.DAT");
    RestoreRun run = RunRestore(sim, backup, {1}, kReplace);
    ASSERT_EQ(run.rc, 0u);
    EXPECT_EQ(Names(top, 'D'), (std::map<uint32_t, std::u16string>{{3, u"Report"}, {4, long_name}}));
    EXPECT_NE(FileBytes(top / "D0000003/PAGE0001.DAT"), (std::vector<uint8_t>{9, 9, 9}));
    EXPECT_EQ(FileBytes(top / "D0000003/PAGE0002.DAT"), before_restore);
    EXPECT_EQ(Names(top / "F0000001", 'D').size(), 2u);
    EXPECT_EQ(CountRequests(sim, "boxnwDeleteDoc"), 4u);
    size_t record_uploads = 0;
    for (const auto &c : sim.device->Records().ftpCommands)
        record_uploads += c.rfind("STOR ", 0) == 0 && c.find("/D0000") != std::string::npos && c.ends_with(".XML");
    EXPECT_EQ(record_uploads, 4u);
    for (const auto &e : fs::directory_iterator(top)) {
        std::string name = e.path().filename().string();
        EXPECT_TRUE(name == "F0000001" || name == "F0000001.XML" || name == "D0000003" || name == "D0000003.XML" ||
                    name == "D0000004" || name == "D0000004.XML" || name == "UNLOCK.STS")
            << name << " left behind";
    }
    ExpectWorkFolderEmpty(sim);
}

// Complete documents of the store (their folder not marked as being
// written), as level, display name and page bytes; the same document twice
// counts twice.
std::multiset<std::string> CompleteDocuments(const SimDevice &sim) {
    std::multiset<std::string> out;
    fs::path data = fs::path(sim.storeRoot) / "SHR/BOX/DATA";
    for (const auto &e : fs::recursive_directory_iterator(data))
        if (e.is_directory())
            for (const auto &doc : CompleteDocumentsOf(e.path()))
                out.insert(fs::relative(e.path(), data).string() + "|" + doc);
    return out;
}

// Files the store holds under a name, anywhere below its boxes.
size_t FilesNamed(const SimDevice &sim, const std::string &name) {
    size_t n = 0;
    for (const auto &e : fs::recursive_directory_iterator(fs::path(sim.storeRoot) / "SHR/BOX"))
        n += e.path().filename() == name;
    return n;
}

// Three connections asked for: the documents of three boxes go out over
// them, into an emptied device and then each replacing itself, and every
// one arrives whole. A device with one data connection (here one of the
// shell dialect) refuses the others' transfers (425) part-way through a
// document: that document is finished on another connection, and the
// restore goes on down to one.
TEST(RestoreRoundTrip, DocumentsGoOutOverFurtherConnectionsOnlyWhereTheDeviceGivesThem) {
    vttest::ScopedEnv connections("VTBOX_FTP_CONNECTIONS", "3");
    for (const char *limit : {"none", "one data connection"}) {
        SCOPED_TRACE(limit);
        SimOptions o;
        if (std::string(limit) == "one data connection") o.engineVersion = "Korvo-D V1.0.0.0";
        SimDevice sim(o);
        devicesim::LanModel lan;
        if (std::string(limit) == "one data connection") lan.maxDataConnections = 1;
        sim.device->SetLan(lan);
        auto original = Snapshot(sim);
        std::vector<std::string> view = DeviceView(sim);
        std::string backup = MakeBackup(sim, {1, 2, 3});
        DeleteAllBoxes(sim);

        RestoreRun run = RunRestore(sim, backup, {1, 2, 3}, kKeepBoth);
        ASSERT_EQ(run.rc, 0u) << run.detail;
        ExpectRestoredStore(original, Snapshot(sim), run.device_time);
        EXPECT_EQ(DeviceView(sim), view);
        EXPECT_EQ(run.progress.DocsDone, 27);
        EXPECT_EQ(run.progress.Percent, 100);
        EXPECT_EQ(sim.device->Records().serialChanges.size(), 36u);
        if (std::string(limit) == "none") {
            EXPECT_GT(CountCommands(sim, "USER "), 3u);
        }

        sim.device->ClearRecords();
        auto restored = CompleteDocuments(sim);
        run = RunRestore(sim, backup, {1, 2, 3}, kReplace);
        ASSERT_EQ(run.rc, 0u) << run.detail;
        EXPECT_EQ(CompleteDocuments(sim), restored);
        EXPECT_EQ(FilesNamed(sim, "CREATE.STS"), 0u);
        EXPECT_EQ(CountRequests(sim, "boxnwDeleteDoc"), 27u);
        EXPECT_EQ(run.progress.DocsDone, 27);
        ExpectWorkFolderEmpty(sim);
    }
}

// A replace-mode restore that stops part-way, whatever stops it, leaves every
// document the device had: the old one, its replacement complete, or both.
TEST(ReplaceLosesNothing, WhereverTheRestoreStops) {
    struct Stop {
        const char *what;
        std::function<void(SimDevice &)> fault;
    };
    std::vector<Stop> stops;
    for (int nth : {1, 2, 4, 7, 11})
        stops.push_back(
            {"STOR refused from this one on", [nth](SimDevice &sim) { sim.faults().FailStor(451, nth, true); }});
    stops.push_back({"data connection dropped", [](SimDevice &sim) { sim.faults().DropDataConnection(5, 100); }});
    stops.push_back({"folder creation refused", [](SimDevice &sim) { sim.faults().RefuseFolderCreation(); }});
    // Over three connections too: a failure on one ends the documents in
    // flight on the others, and begins no other.
    for (const char *connections : {"1", "3"})
        for (const auto &stop : stops) {
            SCOPED_TRACE(std::string(stop.what) + ", connections " + connections);
            vttest::ScopedEnv env("VTBOX_FTP_CONNECTIONS", connections);
            SimOptions o;
            o.seed.boxes = 1;
            o.seed.folders = 1;
            o.seed.docs = 3;
            SimDevice sim(o);
            std::string backup = MakeBackup(sim, {1});
            auto before = CompleteDocuments(sim);
            stop.fault(sim);
            RestoreRun run = RunRestore(sim, backup, {1}, kReplace);
            EXPECT_NE(run.rc, 0u);
            auto after = CompleteDocuments(sim);
            for (const auto &doc : before)
                EXPECT_GE(after.count(doc), 1u) << "lost: " << doc.substr(0, doc.find('|', doc.find('|') + 1));
            ExpectWorkFolderEmpty(sim);
        }
}

// Names that changed places: the backup's Report is at 2 and its Other at 1,
// the device's the other way round. Neither replacement takes a number an old
// document still holds.
TEST(ReplaceLosesNothing, DocumentsThatSwappedNumbers) {
    SimOptions o;
    o.seed.boxes = 1;
    o.seed.folders = 0;
    o.seed.docs = 2;
    SimDevice sim(o);
    fs::path top = Level(sim, 1);
    auto rename = [&](const fs::path &record, const std::u16string &name) {
        devicesim::EntryRecord r = ReadEntry(record);
        r.displayName = name;
        WriteBytes(record, devicesim::EncodeEntryRecord(r));
    };
    rename(top / "D0000001.XML", u"Other");
    rename(top / "D0000002.XML", u"Report");
    std::string backup = MakeBackup(sim, {1});
    rename(top / "D0000001.XML", u"Report");
    rename(top / "D0000002.XML", u"Other");
    auto pages1 = FileBytes(top / "D0000001/PAGE0001.DAT");
    ASSERT_EQ(RunRestore(sim, backup, {1}, kReplace).rc, 0u);
    // As the backup had them, and nothing else.
    EXPECT_EQ(Names(top, 'D'), (std::map<uint32_t, std::u16string>{{3, u"Other"}, {4, u"Report"}}));
    EXPECT_EQ(FileBytes(top / "D0000003/PAGE0001.DAT"), pages1);
    EXPECT_FALSE(fs::exists(top / "D0000003/CREATE.STS"));
    EXPECT_FALSE(fs::exists(top / "D0000004/CREATE.STS"));
}

// The entries of every level of a box as the box service lists them:
// (folder, number) -> name, folders under folder number 0 with kind 0.
std::map<std::pair<uint32_t, uint32_t>, std::string> ListedEntries(SimDevice &sim, uint32_t box) {
    VTMFPSESSION s = sim.Session();
    EXPECT_EQ(vtBoxOpenConnection(&s), 0u);
    std::map<std::pair<uint32_t, uint32_t>, std::string> out;
    std::vector<uint32_t> folders{0};
    for (size_t f = 0; f < folders.size(); ++f) {
        for (const std::string &line : Listing(s, box, folders[f])) {
            // kind/id/name/docs/pages
            size_t a = line.find('/'), b = line.find('/', a + 1), c = line.find('/', b + 1);
            uint32_t id = static_cast<uint32_t>(std::stoul(line.substr(a + 1, b - a - 1)));
            std::string name = line.substr(b + 1, c - b - 1);
            if (line[0] == '0') {
                folders.push_back(id);
                out[{0, 1000 + id}] = name;  // a folder, apart from the top level's documents
            } else {
                out[{folders[f], id}] = name;
            }
        }
    }
    vtBoxCloseConnection(&s);
    return out;
}

// The plan a dry run makes is what the restore then does, entry by entry,
// in both modes: every document and folder it names arrives under the number
// and name it gives, and each document it says is replaced is gone.
TEST_F(Merge, ThePlanIsWhatTheRestoreThenDoes) {
    for (uint32_t mode : {kKeepBoth, kReplace}) {
        SCOPED_TRACE(mode == kReplace ? "replace" : "keep both");
        VTMFPSESSION s = sim.Session();
        ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
        std::string work = sim.dir / "work";
        fs::create_directories(work);
        uint32_t box = 1, count = 0;
        VTRESTOREPLAN *items = nullptr;
        HGLOBAL block = vtBoxPlanRestore(&s, "admin", work.c_str(), backup.c_str(), 1, &box, mode, &count, &items);
        ASSERT_NE(block, nullptr) << vtBoxGetLastErrorText();
        std::vector<VTRESTOREPLAN> plan(items, items + count);
        GlobalFree(block);
        vtBoxCloseConnection(&s);
        ASSERT_EQ(RunRestore(sim, backup, {1}, mode).rc, 0u);
        auto after = ListedEntries(sim, 1);
        size_t documents = 0;
        for (const VTRESTOREPLAN &p : plan) {
            switch (p.Action) {
            case VTPLAN_ADD_DOCUMENT:
            case VTPLAN_REPLACE_DOCUMENT:
            case VTPLAN_RENAME_DOCUMENT: {
                ++documents;
                const char *name = p.Action == VTPLAN_RENAME_DOCUMENT ? p.NewName : p.Name;
                EXPECT_EQ(after[std::make_pair(p.FolderNo, p.NewNo)], name)
                    << "document " << p.EntryNo << " in " << p.FolderNo;
                if (p.Action == VTPLAN_REPLACE_DOCUMENT) {
                    EXPECT_EQ(after.count(std::make_pair(p.FolderNo, p.DeviceNo)), 0u) << "replaced " << p.DeviceNo;
                }
                break;
            }
            case VTPLAN_ADD_FOLDER:
            case VTPLAN_MERGE_FOLDER:
                EXPECT_EQ(after[std::make_pair(0u, 1000 + p.NewNo)], p.Name) << "folder " << p.EntryNo;
                break;
            default: break;
            }
        }
        EXPECT_EQ(documents, 4u);  // every document of the backup has its line
    }
}

TEST_F(Merge, UsedNumbersMoveToTheLowestFreeOnesAndFreeOnesStay) {
    // The device now holds other documents at numbers 1 and 3; 2 is free.
    fs::remove_all(top / "D0000002");
    fs::remove(top / "D0000002.XML");
    fs::rename(top / "D0000001", top / "D0000003");
    fs::rename(top / "D0000001.XML", top / "D0000003.XML");
    AddEntry(top, 'D', 1, "device one");
    WriteName(top / "D0000003.XML", u"device three");
    ASSERT_EQ(RunRestore(sim, backup, {1}, kKeepBoth).rc, 0u);
    EXPECT_EQ(Names(top, 'D'), (std::map<uint32_t, std::u16string>{
                                   {1, u"device one"}, {2, long_name}, {3, u"device three"}, {4, u"Report"}}));
    EXPECT_EQ(ReadEntry(top / "D0000004.XML").ownName, "D0000004");
}

// A number the device uses is never free, whether its list gives it or not:
// a document the list leaves out, and a page folder without its record (a
// cut entry), are skipped for the next free numbers, and keep-both removes
// nothing. A list that gives a number twice is a bad reply, before anything
// is sent.
TEST_F(Merge, KeepBothSkipsNumbersTheListLeavesOutAndRemovesNothing) {
    AddEntry(top, 'D', 3, "left out of the list");
    AddEntry(top, 'D', 4, "device four");
    fs::create_directories(top / "D0000005");
    auto pages3 = FileBytes(top / "D0000003/PAGE0001.DAT");
    sim.faults().LeaveOutOfLists('D', 3);
    ASSERT_EQ(RunRestore(sim, backup, {1}, kKeepBoth).rc, 0u);
    std::string level = "/SHR/BOX/DATA/B0000001/P0000001";
    EXPECT_EQ(CountCommands(sim, "RMD "), 0u);
    for (const auto &c : sim.device->Records().ftpCommands)
        EXPECT_FALSE(c.rfind("DELE ", 0) == 0 && !c.ends_with("/CREATE.STS")) << c;
    auto commands = sim.device->Records().ftpCommands;
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "LIST " + level), 1);  // listed once
    std::u16string cut = std::u16string(60, u'\u00E9') + u"-001";
    EXPECT_EQ(Names(top, 'D'), (std::map<uint32_t, std::u16string>{{1, u"Report"},
                                                                   {2, long_name},
                                                                   {3, u"left out of the list"},
                                                                   {4, u"device four"},
                                                                   {6, u"Report-001"},
                                                                   {7, cut}}));
    EXPECT_EQ(FileBytes(top / "D0000003/PAGE0001.DAT"), pages3);
    EXPECT_TRUE(fs::is_directory(top / "D0000005"));

    sim.faults().Clear();
    sim.faults().RepeatInLists('D', 4);
    sim.device->ClearRecords();
    RestoreRun run = RunRestore(sim, backup, {1}, kKeepBoth);
    EXPECT_EQ(run.rc, 11u);
    EXPECT_NE(run.detail.find("document 004 twice"), std::string::npos) << run.detail;
    ExpectNothingSent(sim);
    ExpectWorkFolderEmpty(sim);
}

// A replace-mode restore cut after a replacement is complete, before its
// old document is deleted, leaves the name twice; the same restore run again
// leaves each name of the backup once, the pages the backup's, and every
// document of another name where it was. Its dry run says so beforehand.
TEST_F(Merge, ARerunAfterACutReplaceLeavesEachNameOnce) {
    AddEntry(top, 'D', 9, "not in the backup");
    // The device's levels: folder number -> the numbers of each document name.
    auto levels = [&] {
        std::map<uint32_t, std::map<std::u16string, std::set<uint32_t>>> out;
        for (uint32_t folder : {0u, 1u})
            for (const auto &[number, name] : Names(folder == 0 ? top : top / "F0000001", 'D'))
                out[folder][name].insert(number);
        return out;
    };
    auto before = levels();
    sim.faults().ForceResult("boxnwDeleteDoc", 1, 1);
    ASSERT_NE(RunRestore(sim, backup, {1}, kReplace).rc, 0u);
    uint32_t folder = 0;
    std::u16string twice;
    std::set<uint32_t> numbers;
    for (const auto &[f, names] : levels())
        for (const auto &[name, at] : names)
            if (at.size() > 1) folder = f, twice = name, numbers = at;
    ASSERT_EQ(numbers.size(), 2u) << "the cut restore left no name twice";

    // The dry run names both documents of the name as replaced.
    VTMFPSESSION s = sim.Session();
    ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
    std::string work = sim.dir / "work";
    uint32_t box = 1, count = 0;
    VTRESTOREPLAN *items = nullptr;
    HGLOBAL block = vtBoxPlanRestore(&s, "admin", work.c_str(), backup.c_str(), 1, &box, kReplace, &count, &items);
    ASSERT_NE(block, nullptr) << vtBoxGetLastErrorText();
    std::set<uint32_t> planned;
    for (uint32_t i = 0; i < count; ++i)
        if (items[i].Action == VTPLAN_REPLACE_DOCUMENT && items[i].FolderNo == folder &&
            std::string(items[i].Name) == vt::Utf16ToUtf8(twice))
            planned.insert(items[i].DeviceNo);
    GlobalFree(block);
    vtBoxCloseConnection(&s);
    EXPECT_EQ(planned, numbers);

    ASSERT_EQ(RunRestore(sim, backup, {1}, kReplace).rc, 0u);
    auto after = levels();
    for (const auto &[f, names] : before) {
        ASSERT_EQ(after[f].size(), names.size()) << "folder " << f;
        for (const auto &[name, at] : after[f]) EXPECT_EQ(at.size(), 1u) << "folder " << f;
    }
    EXPECT_EQ(after[0][u"not in the backup"], std::set<uint32_t>{9});
    ExpectWorkFolderEmpty(sim);
}

TEST_F(Merge, ANewFolderTakesAFreeNumber) {
    WriteName(top / "F0000001.XML", u"renamed on the device");
    ASSERT_EQ(RunRestore(sim, backup, {1}, kKeepBoth).rc, 0u);
    auto folders = Names(top, 'F');
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders[1], u"renamed on the device");
    EXPECT_EQ(vt::Utf16ToUtf8(folders[2]), devicesim::SeededFolderName(1, 1));
    EXPECT_EQ(ReadEntry(top / "F0000002.XML").ownName, "F0000002");
    EXPECT_EQ(Names(top / "F0000002", 'D').size(), 2u);
    EXPECT_TRUE(fs::exists(top / "F0000002/UNLOCK.STS"));
}

TEST(RestoreLimits, FourHundredDocumentsAtALevel) {
    SimOptions o;
    o.seed.boxes = 1;
    o.seed.folders = 0;
    o.seed.docs = 2;
    SimDevice sim(o);
    std::string backup = MakeBackup(sim, {1});
    fs::path top = Level(sim, 1);
    for (uint32_t n = 3; n <= 399; ++n) AddEntry(top, 'D', n, "device " + std::to_string(n));
    auto before = Snapshot(sim);

    RestoreRun run = RunRestore(sim, backup, {1}, kKeepBoth);  // 399 + 2
    EXPECT_EQ(run.rc, 8260u);
    EXPECT_EQ(run.progress.Phase, 9);
    ExpectNothingSent(sim);
    EXPECT_EQ(Snapshot(sim), before);
    ExpectWorkFolderEmpty(sim);

    // Replacing both same-named documents keeps the level at 399.
    ASSERT_EQ(RunRestore(sim, backup, {1}, kReplace).rc, 0u);
    EXPECT_EQ(Names(top, 'D').size(), 399u);

    // A full level has no room for a replacement beside its old document: the
    // replacements still arrive, each old document copied into the work
    // folder before it goes, and the copies go once they are in.
    AddEntry(top, 'D', 400, "device 400");
    ASSERT_EQ(RunRestore(sim, backup, {1}, kReplace).rc, 0u);
    auto names = Names(top, 'D');
    EXPECT_EQ(names.size(), 400u);
    EXPECT_EQ(names[400], u"device 400");
    ExpectWorkFolderEmpty(sim);
}

TEST(RestoreLimits, AHundredFoldersInABox) {
    SimOptions o;
    o.seed.boxes = 1;
    o.seed.folders = 41;
    o.seed.docs = 0;
    SimDevice sim(o);
    std::string backup = MakeBackup(sim, {1});
    fs::path top = Level(sim, 1);
    for (const auto &e : fs::directory_iterator(top)) fs::remove_all(e.path());
    for (uint32_t n = 1; n <= 60; ++n) AddEntry(top, 'F', n, "device folder " + std::to_string(n));
    auto before = Snapshot(sim);

    RestoreRun run = RunRestore(sim, backup, {1}, kKeepBoth);  // 60 + 41
    EXPECT_EQ(run.rc, 8260u);
    EXPECT_EQ(run.progress.Phase, 10);
    ExpectNothingSent(sim);
    EXPECT_EQ(Snapshot(sim), before);

    // A device folder of the same name takes one of them in: 60 + 40 pass.
    devicesim::EntryRecord r = ReadEntry(top / "F0000007.XML");
    r.displayName = vt::Utf8ToUtf16(devicesim::SeededFolderName(1, 1));
    WriteBytes(top / "F0000007.XML", devicesim::EncodeEntryRecord(r));
    ASSERT_EQ(RunRestore(sim, backup, {1}, kKeepBoth).rc, 0u);
    EXPECT_EQ(Names(top, 'F').size(), 100u);
}

TEST(RestoreFailures, A451EndsWith8260InPhase4) {
    SimOptions o;
    o.seed.boxes = 1;
    SimDevice sim(o);
    std::string backup = MakeBackup(sim, {1});
    // On the job's connection or on another, the refusal keeps its code.
    for (const char *connections : {"1", "3"}) {
        SCOPED_TRACE(std::string("connections ") + connections);
        vttest::ScopedEnv env("VTBOX_FTP_CONNECTIONS", connections);
        DeleteAllBoxes(sim);
        sim.faults().FailStor(451, 8, true);
        RestoreRun run = RunRestore(sim, backup, {1}, kKeepBoth);
        EXPECT_EQ(run.rc, 8260u);
        EXPECT_EQ(run.progress.Phase, 4);
        EXPECT_NE(run.detail.find("451"), std::string::npos) << run.detail;
        ExpectWorkFolderEmpty(sim);
    }
}

void SetFtpLog(DWORD level) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, vtbox::kFtpLogKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              0);
    RegSetValueExA(key, vtbox::kFtpLogValue, 0, REG_DWORD, reinterpret_cast<uint8_t *>(&level), sizeof level);
    RegCloseKey(key);
}

// Sets the cancel event the moment the first page upload of a document starts.
struct CancelAtUpload {
    HANDLE cancel = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CancelAtUpload() { vtSetDebugHook(&Hook, this); }
    ~CancelAtUpload() {
        vtSetDebugHook(nullptr, nullptr);
        CloseHandle(cancel);
    }
    static void Hook(const char *text, void *self) {
        if (std::strstr(text, "Uploading...")) SetEvent(static_cast<CancelAtUpload *>(self)->cancel);
    }
};

TEST(RestoreFailures, CancelMidUploadLeavesTheEntryInFlightMarkedAsBeingWritten) {
    SimOptions o;
    o.seed.boxes = 1;
    SimDevice sim(o);
    std::string backup = MakeBackup(sim, {1});
    DeleteAllBoxes(sim);
    SetFtpLog(1);
    RestoreRun run;
    {
        CancelAtUpload canceller;
        run = RunRestore(sim, backup, {1}, kKeepBoth, canceller.cancel);
    }
    EXPECT_EQ(run.rc, 995u);
    EXPECT_EQ(run.progress.Phase, 8);
    fs::path doc = Level(sim, 1) / "D0000001";
    EXPECT_TRUE(fs::exists(doc / "CREATE.STS"));
    EXPECT_FALSE(fs::exists(doc / "UNLOCK.STS"));
    EXPECT_FALSE(fs::exists(Level(sim, 1) / "D0000002"));
    ExpectWorkFolderEmpty(sim);
}

// A cancel is 995 wherever it lands: the device holds each step (the FTP
// login, a removal, a folder's creation, the free-space request) until well
// after the cancel, which is signalled once the step has reached the device.
TEST(RestoreFailures, ACancelInEveryWindowIsACancel) {
    SimOptions o;
    o.seed.boxes = 1;
    SimDevice sim(o);
    std::string backup = MakeBackup(sim, {1});
    struct Window {
        const char *what;
        std::function<void()> hold;
        std::function<bool()> reached;
    };
    auto command_seen = [&](const char *prefix) { return [&sim, prefix] { return CountCommands(sim, prefix) > 0; }; };
    using devicesim::FreezeScope;
    Window windows[] = {
        {"login", [&] { sim.faults().FreezeOnCommand("PASS", FreezeScope::Ftp, 3); }, command_seen("PASS")},
        {"free space", [&] { sim.faults().FreezeOn("boxnwGetBoxDiskSpace", FreezeScope::Web, 3); },
         [&] { return CountRequests(sim, "boxnwGetBoxDiskSpace") > 0; }},
        {"removal", [&] { sim.faults().FreezeOnCommand("RMD", FreezeScope::Ftp, 3); }, command_seen("RMD")},
        {"folder creation", [&] { sim.faults().FreezeOnCommand("MKD", FreezeScope::Ftp, 3); }, command_seen("MKD")},
    };
    for (const Window &w : windows) {
        DeleteAllBoxes(sim);
        w.hold();
        HANDLE cancel = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::thread canceller([&] {
            for (int i = 0; i < 1000 && !w.reached(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            SetEvent(cancel);
        });
        RestoreRun run = RunRestore(sim, backup, {1}, kKeepBoth, cancel);
        canceller.join();
        CloseHandle(cancel);
        EXPECT_EQ(run.rc, 995u) << w.what << ": " << vtBoxGetLastErrorText();
        sim.faults().Thaw();
        ExpectWorkFolderEmpty(sim);
    }
}

// A level at the device's limit of 400 documents, restored over itself in
// replace mode: there is no room for a replacement beside its old document,
// so the old one is copied into the work folder before it goes.
class FullLevel : public ::testing::Test {
protected:
    static SimOptions Options() {
        SimOptions o;
        o.seed.boxes = 1;
        o.seed.folders = 0;
        o.seed.docs = 400;
        o.seed.pages = 1;
        o.seed.pageKb = 1;
        return o;
    }
    void SetUp() override {
        backup = MakeBackup(sim, {1});
        before = CompleteDocumentsOf(top);
        ASSERT_EQ(before.size(), 400u);
    }
    // Every document of the level is on the device or in a rescue copy.
    void ExpectNothingLost() {
        auto on_device = CompleteDocumentsOf(top);
        auto rescued = RescuedDocumentsIn(sim.dir / "work");
        for (const auto &d : before)
            EXPECT_GE(on_device.count(d) + rescued.count(d), 1u) << "lost: " << d.substr(0, d.find('|'));
        std::printf("[ figures  ] %zu documents on the device, %zu in rescue copies, %zu lost\n", on_device.size(),
                    rescued.size(), static_cast<size_t>(std::count_if(before.begin(), before.end(), [&](const auto &d) {
                        return on_device.count(d) + rescued.count(d) == 0;
                    })));
    }
    SimDevice sim{Options()};
    fs::path top = Level(sim, 1);
    std::string backup;
    std::multiset<std::string> before;
};

TEST_F(FullLevel, EveryReplacementArrivesAndNoCopyStays) {
    RestoreRun run = RunRestore(sim, backup, {1}, kReplace);
    ASSERT_EQ(run.rc, 0u) << run.detail;
    EXPECT_EQ(CompleteDocumentsOf(top), before);
    EXPECT_EQ(Names(top, 'D').size(), 400u);
    EXPECT_EQ(CountRequests(sim, "boxnwDeleteDoc"), 400u);
    ExpectWorkFolderEmpty(sim);
}

// The same rerun at a level that the leftover fills to the limit: the
// first replacement goes by way of a rescue copy, and the leftover after it.
TEST_F(FullLevel, ARerunAfterACutReplaceLeavesEachNameOnce) {
    fs::remove_all(top / "D0000400");
    fs::remove(top / "D0000400.XML");
    sim.faults().ForceResult("boxnwDeleteDoc", 1, 1);
    ASSERT_NE(RunRestore(sim, backup, {1}, kReplace).rc, 0u);
    ASSERT_EQ(Names(top, 'D').size(), 400u);
    RestoreRun run = RunRestore(sim, backup, {1}, kReplace);
    ASSERT_EQ(run.rc, 0u) << run.detail;
    EXPECT_EQ(CompleteDocumentsOf(top), before);
    ExpectWorkFolderEmpty(sim);
}

TEST_F(FullLevel, ADroppedConnectionPutsTheOldDocumentBack) {
    // The third transfer after the first delete: the replacement's first page.
    sim.faults().DropDataConnectionAfter("boxnwDeleteDoc", 3, 100);
    RestoreRun run = RunRestore(sim, backup, {1}, kReplace);
    EXPECT_NE(run.rc, 0u);
    EXPECT_EQ(CompleteDocumentsOf(top), before);
    EXPECT_EQ(Names(top, 'D').size(), 400u) << "the half-made replacement stayed";
    EXPECT_NE(run.detail.find("deleted to make room for its replacement, was put back as it was"), std::string::npos)
        << run.detail;
    ExpectNothingLost();
    ExpectWorkFolderEmpty(sim);
}

// Sets the cancel event as the first replacement at a full level sends its
// pages, the old document being off the device.
struct CancelWhileOffTheDevice {
    HANDLE cancel = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> full{false};
    CancelWhileOffTheDevice() { vtSetDebugHook(&Hook, this); }
    ~CancelWhileOffTheDevice() {
        vtSetDebugHook(nullptr, nullptr);
        CloseHandle(cancel);
    }
    static void Hook(const char *text, void *p) {
        auto *self = static_cast<CancelWhileOffTheDevice *>(p);
        if (std::strstr(text, "The level is full"))
            self->full = true;
        else if (self->full && std::strstr(text, "Uploading..."))
            SetEvent(self->cancel);
    }
};

TEST_F(FullLevel, ACancelWhileTheOldDocumentIsOffTheDevicePutsItBack) {
    SetFtpLog(1);
    RestoreRun run;
    {
        CancelWhileOffTheDevice canceller;
        run = RunRestore(sim, backup, {1}, kReplace, canceller.cancel);
    }
    EXPECT_EQ(run.rc, 995u);
    EXPECT_EQ(CompleteDocumentsOf(top), before);
    ExpectWorkFolderEmpty(sim);
}

TEST_F(FullLevel, ADeviceKilledWhileTheOldDocumentIsOffTheDeviceLeavesItsCopy) {
    sim.faults().FreezeAfter("boxnwDeleteDoc", devicesim::FreezeScope::Device, 0);
    std::thread killer([&] {
        for (int i = 0; i < 30000 && !sim.faults().Frozen(true); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        sim.device->Stop();
    });
    RestoreRun run = RunRestore(sim, backup, {1}, kReplace);
    killer.join();
    EXPECT_NE(run.rc, 0u);
    auto rescued = RescuedDocumentsIn(sim.dir / "work");
    ASSERT_EQ(rescued.size(), 1u);
    EXPECT_EQ(CompleteDocumentsOf(top).size(), 399u);
    ExpectNothingLost();
    std::string copies = (fs::path(sim.dir / "work") / VTBOX_RESCUE_FOLDER).string();
    EXPECT_NE(run.detail.find("could not be put back: its only copy is kept in " + copies), std::string::npos)
        << run.detail;
    // The copy says what it is, and nothing else of the job stays.
    fs::path copy = fs::directory_iterator(copies)->path();
    EXPECT_NE(ReadFile(copy / "NOTE.txt").find("/SHR/BOX/DATA/B0000001/P0000001/D0000"), std::string::npos);
    std::vector<std::string> left;
    for (const auto &e : fs::directory_iterator(sim.dir / "work")) left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{VTBOX_RESCUE_FOLDER});
}

TEST(RestoreFailures, TheSessionIsKeptAliveUntilAFailedRestoreReturns) {
    SimOptions o;
    o.seed.boxes = 1;
    o.seed.pageKb = 256;
    SimDevice sim(o);
    std::string backup = MakeBackup(sim, {1});
    DeleteAllBoxes(sim);
    sim.faults().FailStor(451, 30, true);
    vtbox::KeepAlive::SetPeriodMsForTesting(5);
    RestoreRun run = RunRestore(sim, backup, {1}, kKeepBoth);
    vtbox::KeepAlive::SetPeriodMsForTesting(300000);
    EXPECT_NE(run.rc, 0u);
    unsigned touches = sim.device->Records().keepAlives;
    EXPECT_GT(touches, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(sim.device->Records().keepAlives, touches);
}

TEST(RestoreFailures, TooLittleDiskSpaceIs1344BeforeTheBoxIsMade) {
    SimOptions o;
    o.seed.boxes = 1;
    SimDevice sim(o);
    std::string backup = MakeBackup(sim, {1});
    DeleteAllBoxes(sim);
    sim.faults().SetLowDisk(1);
    RestoreRun run = RunRestore(sim, backup, {1}, kKeepBoth);
    EXPECT_EQ(run.rc, 1344u);
    EXPECT_EQ(run.progress.Phase, 8);
    ExpectNothingSent(sim);
    ExpectWorkFolderEmpty(sim);
}

TEST(RestoreFailures, ABoxTheFileDoesNotDescribeIsRefusedBeforeAnythingIsDone) {
    SimOptions o;
    o.seed.boxes = 2;
    SimDevice sim(o);
    std::string backup = MakeBackup(sim, {1});
    RestoreRun got = RunRestore(sim, backup, {1, 2}, kKeepBoth);
    EXPECT_EQ(got.rc, 87u);
    EXPECT_EQ(got.progress.Phase, 0);
    EXPECT_TRUE(got.seen.empty());
    EXPECT_EQ(CountCommands(sim, "USER"), 0u);
    ExpectWorkFolderEmpty(sim);

    VTMFPSESSION closed = sim.Session();
    VTPROGRESSINFO p;
    uint32_t box = 1;
    EXPECT_EQ(vtBoxRestore(&closed, "admin", "u", "/tmp", backup.c_str(), 1, &box, 0, 0, nullptr, nullptr, &p), 87u);
}

}  // namespace

namespace {

// A backup file rebuilt with one box's unpacked tree changed by edit
// (given the box level, the inner folder), as a crafted file would be.
std::string RepackBackup(SimDevice &sim, const std::string &backup, uint32_t box,
                         const std::function<void(const fs::path &level)> &edit) {
    fs::path work = sim.dir / "repack";
    fs::remove_all(work);
    fs::create_directories(work);
    EXPECT_EQ(vtbox::UnzipArchive(backup, work.string()), 0u);
    fs::path data = work / "BOX/DATA";
    EXPECT_EQ(vtbox::UnzipArchive((work / "BOX/DATA.zip").string(), (work / "BOX").string(), {.deleteArchive = true}),
              0u);
    std::string box_name = vt::Format("B0000%03u", box);
    EXPECT_EQ(vtbox::UnzipArchive((data / (box_name + ".vtb")).string(), data.string(), vtbox::kUnpackBoxArchive), 0u);
    edit(data / box_name / "P0000001");
    EXPECT_EQ(vtbox::ZipFolder((data / (box_name + ".vtb")).string(), (data / box_name).string(), {.byteChange = true}),
              0u);
    fs::remove_all(data / box_name);
    EXPECT_EQ(vtbox::ZipFolder((work / "BOX/DATA.zip").string(), data.string()), 0u);
    fs::remove_all(data);
    std::string crafted = sim.dir / "crafted.zip";
    fs::remove(crafted);
    EXPECT_EQ(vtbox::ZipFolder(crafted, (work / "BOX").string()), 0u);
    fs::remove_all(work);
    return crafted;
}

// What does not belong to a box is refused before anything of the box is
// sent, whatever it is.
TEST(CraftedBackups, WhatIsNoPartOfABoxIsRefusedBeforeAnythingIsSent) {
    struct Craft {
        const char *what;
        std::function<void(const fs::path &)> edit;
    };
    const Craft crafts[] = {
        {"a stray file in a page folder",
         [](const fs::path &l) {
             WriteBytes(l / "D0000001" / "evil name", {1, 2, 3});
         }},
        {"a stray file at the level", [](const fs::path &l) { WriteBytes(l / "notes.txt", {1}); }},
        {"a link instead of a page folder",
         [](const fs::path &l) {
             fs::remove_all(l / "D0000002");
             fs::create_symlink("/etc", l / "D0000002");
         }},
        {"a record without its page folder", [](const fs::path &l) { fs::remove_all(l / "D0000003"); }},
        {"a page folder inside a page folder", [](const fs::path &l) { fs::create_directories(l / "D0000001/sub"); }},
    };
    for (const Craft &craft : crafts) {
        SCOPED_TRACE(craft.what);
        SimOptions o;
        o.seed.boxes = 1;
        SimDevice sim(o);
        std::string backup = MakeBackup(sim, {1});
        std::string crafted = RepackBackup(sim, backup, 1, craft.edit);
        DeleteAllBoxes(sim);
        auto before = Snapshot(sim);
        RestoreRun run = RunRestore(sim, crafted, {1}, kKeepBoth);
        EXPECT_EQ(run.rc, 1392u);
        ExpectNothingSent(sim);
        EXPECT_EQ(Snapshot(sim), before);
        ExpectWorkFolderEmpty(sim);
    }
}

bool DryRunGoesThrough(SimDevice &sim, const std::string &file, std::vector<uint32_t> boxes, std::string *said);

// A box whose pages unpack to more than the description says, within the
// margin it is given, is measured by what it really holds before the
// device's free space is trusted with it, by the restore and its dry run
// alike; beyond the margin the box is damaged, and refused before anything
// of it is unpacked or sent.
TEST(CraftedBackups, WhatABoxHoldsIsMeasuredAndBoundByItsDescription) {
    SimOptions o;
    o.seed.boxes = 1;
    SimDevice sim(o);
    std::string backup = MakeBackup(sim, {1});
    // 3 MB of zeros: a few KB packed, and the description still says ~100 KB.
    std::string crafted = RepackBackup(sim, backup, 1, [](const fs::path &l) {
        WriteBytes(l / "D0000001/PAGE0009.DAT", std::vector<uint8_t>(3u << 20, 0));
    });
    sim.faults().SetLowDisk(1024);
    std::string said;
    EXPECT_FALSE(DryRunGoesThrough(sim, crafted, {1}, &said)) << said;
    RestoreRun run = RunRestore(sim, crafted, {1}, kKeepBoth);
    EXPECT_EQ(run.rc, 1344u);
    EXPECT_EQ(CountCommands(sim, "STOR"), 0u);
    // The same for the corpus's file that says its box uses 1 KB and holds 3 MB.
    const std::string understated = std::string(BACKUP_CORPUS_DIR) + "/whole-understated-size.zip";
    EXPECT_FALSE(DryRunGoesThrough(sim, understated, {1}, &said)) << said;
    EXPECT_EQ(RunRestore(sim, understated, {1}, kKeepBoth).rc, 1344u);
    EXPECT_EQ(CountCommands(sim, "STOR"), 0u);

    // 64 MB of zeros, far more than the box's description lets it hold.
    sim.faults().Clear();
    std::string bomb = RepackBackup(sim, backup, 1, [](const fs::path &l) {
        WriteBytes(l / "D0000001/PAGE0009.DAT", std::vector<uint8_t>(64u << 20, 0));
    });
    DeleteAllBoxes(sim);
    sim.device->ClearRecords();
    run = RunRestore(sim, bomb, {1}, kKeepBoth);
    EXPECT_EQ(run.rc, 1392u);
    ExpectNothingSent(sim);
    ExpectWorkFolderEmpty(sim);
}

}  // namespace

namespace {

// The boxes a file describes (each once), or box 1 when its description
// does not read: the restore is asked for what it would be asked for.
std::vector<uint32_t> DescribedBoxes(const std::string &file, const std::string &work) {
    VTBACKUPINFO info{};
    uint32_t count = 0;
    VTBOXBK *boxes = nullptr;
    void *handle = nullptr;
    std::vector<uint32_t> out;
    if (vtBoxGetXMLInfo(file.c_str(), work.c_str(), &info, &count, &boxes, &handle) == 0)
        for (uint32_t i = 0; i < count; ++i)
            if (std::find(out.begin(), out.end(), boxes[i].BoxNo) == out.end()) out.push_back(boxes[i].BoxNo);
    if (handle) GlobalFree(handle);
    if (out.empty()) out.push_back(1);
    return out;
}

// Whole (0) or damaged (1392 and what is wrong), as vtBoxCheckBackup says.
bool VerifySaysWhole(const std::string &file, const std::string &work, std::string *said) {
    uint32_t count = 0;
    VTCHECKITEM *items = nullptr;
    void *handle = nullptr;
    uint32_t rc = vtBoxCheckBackup(file.c_str(), work.c_str(), &count, &items, &handle);
    for (uint32_t i = 0; i < count; ++i) *said += std::string(items[i].Entry) + ": " + items[i].Text + "\n";
    if (handle) GlobalFree(handle);
    EXPECT_TRUE(rc == 0 || (rc == 1392u && count > 0)) << "verify failed with " << rc;
    return rc == 0;
}

// Whether the dry run plans a restore that goes through.
bool DryRunGoesThrough(SimDevice &sim, const std::string &file, std::vector<uint32_t> boxes, std::string *said) {
    VTMFPSESSION s = sim.Session();
    EXPECT_EQ(vtBoxOpenConnection(&s), 0u);
    std::string work = sim.dir / "work";
    uint32_t count = 0;
    VTRESTOREPLAN *items = nullptr;
    HGLOBAL plan = vtBoxPlanRestore(&s, "admin", work.c_str(), file.c_str(), static_cast<uint32_t>(boxes.size()),
                                    boxes.data(), kKeepBoth, &count, &items);
    bool through = plan != nullptr;
    if (!plan) *said = vt::Format("error %u: ", GetLastError()) + vtBoxGetLastErrorText();
    for (uint32_t i = 0; plan && i < count; ++i)
        through = through && items[i].Action != VTPLAN_TOO_MANY_DOCUMENTS &&
                  items[i].Action != VTPLAN_TOO_MANY_FOLDERS && items[i].Action != VTPLAN_NO_DISK_SPACE;
    if (plan) GlobalFree(plan);
    vtBoxCloseConnection(&s);
    return through;
}

// verify names what is wrong: the box, the entry and the kind of damage.
TEST(CraftedBackups, VerifyNamesTheBoxTheEntryAndTheDamage) {
    vttest::TempDir work;
    struct Case {
        const char *file;
        uint32_t box;
        const char *said;
    } cases[] = {
        {"damaged-page-crc.zip", 1, "D0000001\\PAGE0002.DAT: the entry is damaged (its data does not match its CRC)"},
        {"damaged-duplicate-description.zip", 0, "two entries are named BOX\\Backup.XML"},
        {"damaged-undescribed-box-archive.zip", 2, "B0000002.vtb, a box the description does not list"},
        {"damaged-document-count.zip", 1, "the description counts 3 documents, the box archive holds 2"},
        {"damaged-overlapping-entries.zip", 1, "overlap"},
    };
    for (const Case &c : cases) {
        std::string file = std::string(BACKUP_CORPUS_DIR) + "/" + c.file;
        uint32_t count = 0;
        VTCHECKITEM *items = nullptr;
        void *handle = nullptr;
        EXPECT_EQ(vtBoxCheckBackup(file.c_str(), work.path().c_str(), &count, &items, &handle), 1392u) << c.file;
        vt::GlobalBlock owner(handle);
        bool found = false;
        std::string all;
        for (uint32_t i = 0; i < count; ++i) {
            std::string line = std::string(items[i].Entry) + ": " + items[i].Text;
            all += line + "\n";
            found = found || (items[i].BoxNo == c.box && line.find(c.said) != std::string::npos);
        }
        EXPECT_TRUE(found) << c.file << "\n" << all;
    }
}

// For every crafted file of backup_corpus (written by make_backup_corpus.py),
// verify, the restore and its dry run come to one verdict, the one the
// file's name gives: whole-* is restored, damaged-* is refused, and a refused
// file changes nothing on the device. The restore runs against the
// simulated device, all of the boxes the file describes.
TEST(CraftedBackups, VerifyTheRestoreAndItsDryRunAgreeOnEveryFile) {
    SimOptions o;
    o.seed.boxes = 0;
    SimDevice sim(o);
    std::string work = sim.dir / "work";
    fs::create_directories(work);
    std::vector<fs::path> files;
    for (const auto &e : fs::directory_iterator(BACKUP_CORPUS_DIR)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    size_t whole = 0, damaged = 0;
    for (const fs::path &file : files) {
        const std::string name = file.filename().string();
        const bool expected = name.rfind("whole-", 0) == 0;
        ASSERT_TRUE(expected || name.rfind("damaged-", 0) == 0) << name;
        (expected ? whole : damaged) += 1;
        SCOPED_TRACE(name);
        std::string verified, planned;
        EXPECT_EQ(VerifySaysWhole(file, work, &verified), expected) << verified;
        const std::vector<uint32_t> boxes = DescribedBoxes(file, work);
        EXPECT_EQ(DryRunGoesThrough(sim, file, boxes, &planned), expected) << planned;

        DeleteAllBoxes(sim);
        auto before = Snapshot(sim);
        RestoreRun run = RunRestore(sim, file, boxes, kKeepBoth);
        EXPECT_EQ(run.rc == 0, expected) << "restore: " << run.rc;
        if (!expected) {
            EXPECT_EQ(run.rc, 1392u);
            ExpectNothingSent(sim);
            EXPECT_EQ(Snapshot(sim), before);
        }
        ExpectWorkFolderEmpty(sim);
    }
    EXPECT_GE(whole, 3u);
    EXPECT_GE(damaged, 20u);
}

}  // namespace
