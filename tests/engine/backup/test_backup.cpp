// vtBoxBackup against the simulated device, read back by Python's zipfile.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <filesystem>
#include <regex>
#include <sstream>

#include "backup_job.hpp"
#include "devicesim/seeding.hpp"
#include "jobs/keep_alive.hpp"
#include "localfiles/held_files.hpp"
#include "packaging/zip_layer.hpp"

namespace {

namespace fs = std::filesystem;
using vttest::BackupRun;
using vttest::ReadFile;
using vttest::RunBackup;
using vttest::SimDevice;

std::string Unpack(const std::string &backup, const std::string &out) {
    std::string output;
    int status = vttest::RunCommand(
        "python3 " VTBOX_SUPPORT_DIR "/unpack_backup.py '" + backup + "' '" + out + "' 2>&1", &output);
    EXPECT_EQ(status, 0) << output;
    return output;
}

// Every file of the device's box tree is in the backup, byte for byte, and
// nothing else is, but for the completion marks, which are never fetched.
void ExpectSameTree(const fs::path &device, const fs::path &copy) {
    size_t files = 0;
    for (const auto &e : fs::recursive_directory_iterator(device)) {
        fs::path rel = fs::relative(e.path(), device);
        if (e.is_directory()) {
            EXPECT_TRUE(fs::is_directory(copy / rel)) << rel;
        } else if (e.path().filename() == "UNLOCK.STS") {
            EXPECT_FALSE(fs::exists(copy / rel)) << rel;
        } else {
            ASSERT_TRUE(fs::exists(copy / rel)) << rel;
            EXPECT_EQ(ReadFile(e.path()), ReadFile(copy / rel)) << rel;
            ++files;
        }
    }
    for (const auto &e : fs::recursive_directory_iterator(copy))
        EXPECT_TRUE(fs::exists(device / fs::relative(e.path(), copy))) << e.path();
    EXPECT_GT(files, 0u);
}

TEST(Backup, EveryRecordAndPageFileComesBackByteForByte) {
    SimDevice sim;
    fs::path store = fs::path(sim.storeRoot) / "SHR/BOX";
    // An entry still being written on the device: its CREATE.STS is fetched too.
    std::ofstream(store / "DATA/B0000002/P0000001/D0000001/CREATE.STS");
    std::string target = sim.dir / "backup.zip";
    // Box 1 asked for twice is backed up once.
    BackupRun run = RunBackup(sim, target, {3, 1, 2, 1});
    ASSERT_EQ(run.rc, 0u) << run.detail;
    EXPECT_EQ(run.progress.Phase, 0);
    EXPECT_EQ(run.progress.Percent, 100);
    EXPECT_EQ(run.progress.DocsTotal, 27);
    EXPECT_EQ(run.progress.DocsDone, 27);
    EXPECT_FALSE(fs::exists(sim.dir / "work/BOX"));
    EXPECT_FALSE(fs::exists(sim.dir / "work/BOX.zip"));

    std::string out = sim.dir / "unpacked";
    std::string log = Unpack(target, out);
    EXPECT_NE(log.find("['BOX\\\\', 'BOX\\\\Backup.XML', 'BOX\\\\DATA.zip', 'BOX\\\\DATABASE.vtb']"), std::string::npos)
        << log;
    // The box archives are stored in DATA.zip as they are: a second deflate
    // would only cost time.
    EXPECT_NE(log.find("\nDATA.zip [0]\n"), std::string::npos) << log;
    for (uint32_t box : {1u, 2u, 3u}) {
        char name[16];
        std::snprintf(name, sizeof name, "B0000%03u", box);
        ExpectSameTree(store / "DATA" / name, fs::path(out) / "BOX/DATA" / name);
        EXPECT_EQ(ReadFile(store / "DATABASE" / (std::string(name) + ".XML")),
                  ReadFile(fs::path(out) / "BOX/DATABASE" / (std::string(name) + ".XML")));
    }
    // The phases went from preparing through downloading and packing to the end.
    std::vector<int> phases;
    for (const auto &p : run.seen)
        if (phases.empty() || phases.back() != p.Phase) phases.push_back(p.Phase);
    ASSERT_GE(phases.size(), 4u);
    EXPECT_EQ(phases.front(), 5);
    EXPECT_EQ(phases.back(), 0);
    // And verify finds nothing wrong with it.
    uint32_t findings = 0;
    VTCHECKITEM *items = nullptr;
    void *handle = nullptr;
    EXPECT_EQ(vtBoxCheckBackup(target.c_str(), (sim.dir / "work").c_str(), &findings, &items, &handle), 0u);
    EXPECT_EQ(findings, 0u);
    if (handle) GlobalFree(handle);
}

TEST(Backup, DocumentsComeInOverFurtherConnectionsOnlyWhereTheDeviceGivesThem) {
    // Three connections asked for: the documents come in over them, and the
    // backup is the same tree. A device with one data connection refuses the
    // others' transfers (425): the backup falls back to one connection and
    // still holds every file.
    vttest::ScopedEnv connections("VTBOX_FTP_CONNECTIONS", "3");
    for (const char *limit : {"none", "one data connection"}) {
        SimDevice sim;
        devicesim::LanModel lan;
        if (std::string(limit) == "one data connection") lan.maxDataConnections = 1;
        sim.device->SetLan(lan);
        std::string target = sim.dir / "backup.zip";
        BackupRun run = RunBackup(sim, target, {2, 1});
        ASSERT_EQ(run.rc, 0u) << limit << ": " << run.detail;
        EXPECT_EQ(run.progress.DocsDone, run.progress.DocsTotal) << limit;
        std::string out = sim.dir / "unpacked";
        Unpack(target, out);
        fs::path store = fs::path(sim.storeRoot) / "SHR/BOX";
        for (const char *box : {"B0000001", "B0000002"})
            ExpectSameTree(store / "DATA" / box, fs::path(out) / "BOX/DATA" / box);
        size_t logins = 0;
        for (const auto &c : sim.device->Records().ftpCommands) logins += c.rfind("USER ", 0) == 0;
        // The box records' connection, and per box its own and two more.
        if (std::string(limit) == "none") {
            EXPECT_EQ(logins, 1u + 2u * 3u);
        }
    }
}

// Every entry of every level of a backup, one line each, with the entry's
// time (last field) checked to lie within the run and then left out: the
// rest must not depend on where the downloaded files were kept.
std::vector<std::string> ListEntries(const std::string &backup, time_t from, time_t to) {
    std::string output;
    EXPECT_EQ(vttest::RunCommand("python3 " VTBOX_SUPPORT_DIR "/list_backup.py '" + backup + "' 2>&1", &output), 0)
        << output;
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        size_t bar = line.rfind('|');
        time_t when = static_cast<time_t>(std::stoll(line.substr(bar + 1)));
        // DOS times step by 2 seconds.
        EXPECT_TRUE(when >= from - 2 && when <= to + 2) << line;
        lines.push_back(line.substr(0, bar));
    }
    return lines;
}

TEST(Backup, FilesKeptInMemoryArePackedAsTheWorkTreeWouldPackThem) {
    // Small files are packed from memory, the others from the work tree: the
    // backup is the same file either way, entry by entry. Bounds lowered so
    // that a page of exactly the per-file bound is held and one a byte larger
    // is not, and that the bound on all held files sends the rest of a box
    // to disk; a file named as an archive is never held. Over one connection, and over three on a device that gives one
    // data connection, where refused folders are fetched again.
    constexpr size_t kFileBound = 16 * 1024;  // the seeded pages' size
    SimDevice sim;
    fs::path doc = fs::path(sim.storeRoot) / "SHR/BOX/DATA/B0000001/P0000001/D0000002";
    std::ofstream(doc / "PAGE0003.DAT") << std::string(kFileBound + 1, 'x');
    std::ofstream(doc / "NOTES.ZIP") << "not really an archive";
    std::ofstream(doc / "EMPTY.DAT");
    struct Bounds {
        ~Bounds() {
            vtbox::HeldFiles::SetBoundsForTesting(vtbox::HeldFiles::kMaxFileBytes, vtbox::HeldFiles::kMaxHeldBytes);
        }
    } restore;
    for (const char *connections : {"1", "3"}) {
        vttest::ScopedEnv env("VTBOX_FTP_CONNECTIONS", connections);
        devicesim::LanModel lan;
        if (std::string(connections) == "3") lan.maxDataConnections = 1;
        sim.device->SetLan(lan);
        std::vector<std::string> listed[2];
        for (int held : {0, 1}) {
            vtbox::HeldFiles::SetBoundsForTesting(held ? kFileBound : 0, held ? 6 * kFileBound : 0);
            std::string target = sim.dir / ("backup" + std::to_string(held) + ".zip");
            time_t from = time(nullptr);
            BackupRun run = RunBackup(sim, target, {1, 2});
            ASSERT_EQ(run.rc, 0u) << connections << ": " << run.detail;
            EXPECT_FALSE(fs::exists(sim.dir / "work/BOX"));
            listed[held] = ListEntries(target, from, time(nullptr));
        }
        EXPECT_EQ(listed[0], listed[1]) << connections << " connection(s)";
        std::string all;
        for (const auto &line : listed[1]) all += line + "\n";
        for (const char *name : {"D0000002\\PAGE0003.DAT|8|", "D0000002\\NOTES.ZIP|0|", "D0000002\\EMPTY.DAT|8|"})
            EXPECT_NE(all.find(name), std::string::npos) << name << " in\n" << all;
    }
}

TEST(Backup, ABackupWithZip64SizedArchivesReadsBackEverywhere) {
    // Limits lowered so that both outer levels take every zip64 form: long
    // local headers, sizes, offsets and end records in 64-bit fields.
    vtbox::ZipLayer::SetZip64LimitsForTesting(4096, 32768);
    SimDevice sim;
    std::string target = sim.dir / "backup.zip";
    BackupRun run = RunBackup(sim, target, {2, 1});
    vtbox::ZipLayer::SetZip64LimitsForTesting(0, 0);
    ASSERT_EQ(run.rc, 0u);
    EXPECT_NE(ReadFile(target).find(std::string("PK\x06\x06", 4)), std::string::npos);  // zip64 end record
    std::string out = sim.dir / "unpacked";
    Unpack(target, out);  // every level, DATA.zip included
    fs::path store = fs::path(sim.storeRoot) / "SHR/BOX";
    for (const char *box : {"B0000001", "B0000002"})
        ExpectSameTree(store / "DATA" / box, fs::path(out) / "BOX/DATA" / box);
    std::string listing;
    EXPECT_EQ(vttest::RunCommand("unzip -tq '" + target + "' 2>&1", &listing), 0) << listing;
    // The engine's own reader, as a restore opens the file.
    VTBACKUPINFO info{};
    uint32_t count = 0;
    VTBOXBK *boxes = nullptr;
    void *handle = nullptr;
    ASSERT_EQ(vtBoxGetXMLInfo(target.c_str(), sim.dir.path().c_str(), &info, &count, &boxes, &handle), 0u);
    EXPECT_EQ(count, 2u);
    GlobalFree(handle);
}

TEST(Backup, TheDescriptionIsWrittenAsDesignedAndReadsBack) {
    SimDevice sim;
    std::string target = sim.dir / "backup.zip";
    ASSERT_EQ(RunBackup(sim, target, {2, 1}).rc, 0u);
    std::string out = sim.dir / "unpacked";
    Unpack(target, out);
    std::string xml = ReadFile(out + "/BOX/Backup.XML");
    std::regex shape(
        "<\\?xml version=\"1.0\" encoding=\"UTF-8\"\\?>\r\n<BackupInfo>\r\n"
        "<EngineVersion>Korvo-B V1\\.3\\.0\\.0 {24}</EngineVersion>\r\n"
        "<MACAddress>02:00:5E:10:20:30</MACAddress>\r\n"
        "<BackupDate>\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d</BackupDate>\r\n"
        "<Timezone>GMT[+-]\\d\\d:\\d\\d</Timezone>\r\n"
        "<Boxes NumOfBoxes=\"2\">\r\n"
        "(<BoxProp>\r\n<BoxName>[^\r\n]*</BoxName>\r\n<BoxNo>\\d+</BoxNo>\r\n<Protected>(yes|no)</Protected>\r\n"
        "<NumOfFolders>\\d+</NumOfFolders>\r\n<NumOfDocs>\\d+</NumOfDocs>\r\n<BoxUsedDisk>\\d+</BoxUsedDisk>\r\n"
        "</BoxProp>\r\n){2}"
        "</Boxes>\r\n</BackupInfo>");
    EXPECT_TRUE(std::regex_match(xml, shape)) << xml;
    EXPECT_LT(xml.find("<BoxNo>2</BoxNo>"), xml.find("<BoxNo>1</BoxNo>"));  // the caller's order

    VTBACKUPINFO info{};
    uint32_t count = 0;
    VTBOXBK *boxes = nullptr;
    void *handle = nullptr;
    std::string work = sim.dir / "info";
    fs::create_directories(work);
    ASSERT_EQ(vtBoxGetXMLInfo(target.c_str(), work.c_str(), &info, &count, &boxes, &handle), 0u);
    EXPECT_TRUE(fs::is_empty(work));  // the unpacked description is gone again
    EXPECT_EQ(info.Kind, 1u);
    EXPECT_STREQ(info.EngineVersion, "Korvo-B V1.3.0.0");  // without its padding
    EXPECT_STREQ(info.MACAddress, "02:00:5E:10:20:30");
    EXPECT_GE(info.Date.wYear, 2024);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(boxes[0].BoxNo, 2u);
    EXPECT_EQ(boxes[1].BoxNo, 1u);
    // The name exactly as the device gave it, markup characters and all.
    EXPECT_EQ(std::string(boxes[0].BoxName), devicesim::SeededBoxName(2));
    EXPECT_EQ(boxes[0].NumOfFolders, 2u);
    EXPECT_EQ(boxes[0].NumOfDocs, 9u);
    EXPECT_GT(boxes[0].BoxUsedDisk, 0u);
    GlobalFree(handle);
}

// A file without a box would pass for a backup (and push real ones out of
// a pruned folder): none is made, and an older one stays.
TEST(Backup, NoBoxesMakesNoFile) {
    SimDevice sim;
    std::string target = sim.dir / "empty.zip";
    ASSERT_EQ(RunBackup(sim, target, {}).rc, 87u);
    EXPECT_FALSE(fs::exists(target));
    std::ofstream(target) << "the previous backup";
    ASSERT_EQ(RunBackup(sim, target, {}).rc, 87u);
    EXPECT_EQ(ReadFile(target), "the previous backup");
    EXPECT_TRUE(sim.device->Records().ftpCommands.empty());
}

TEST(Backup, AnUnknownBoxFailsBeforeAnyDownloadAndAnOlderTargetSurvives) {
    SimDevice sim;
    std::string target = sim.dir / "backup.zip";
    std::ofstream(target) << "the previous backup";
    BackupRun run = RunBackup(sim, target, {1, 42});
    EXPECT_EQ(run.rc, 161u);
    EXPECT_EQ(run.progress.Phase, 8);
    EXPECT_TRUE(sim.device->Records().ftpCommands.empty());
    EXPECT_FALSE(fs::exists(sim.dir / "work/BOX"));
    EXPECT_EQ(ReadFile(target), "the previous backup");

    // A complete backup replaces it.
    ASSERT_EQ(RunBackup(sim, target, {1}).rc, 0u);
    EXPECT_NE(ReadFile(target), "the previous backup");
}

// A BOX the caller had in the work folder ends the backup at once (183)
// and stays as it was, as does whatever a link in its place points to.
TEST(Backup, ABoxFolderTheCallerHadIsLeftAsItWas) {
    SimDevice sim;
    std::string target = sim.dir / "backup.zip";
    const fs::path box = sim.dir / "work/BOX";
    fs::create_directories(box);
    std::ofstream(box / "mine.txt") << "the caller's";
    EXPECT_EQ(RunBackup(sim, target, {1}).rc, 183u);
    EXPECT_EQ(ReadFile(box / "mine.txt"), "the caller's");

    fs::remove_all(box);
    fs::create_directories(sim.dir / "elsewhere");
    std::ofstream(sim.dir / "elsewhere/precious") << "only copy";
    fs::create_directory_symlink(sim.dir / "elsewhere", box);
    EXPECT_EQ(RunBackup(sim, target, {1}).rc, 183u);
    EXPECT_TRUE(fs::is_symlink(box));
    EXPECT_EQ(ReadFile(sim.dir / "elsewhere/precious"), "only copy");
    EXPECT_FALSE(fs::exists(target));
}

// A backup that is complete but cannot take the target's place (here a
// folder stands there) is kept in the work folder, and the detail says where:
// the device still has the data, but the backup is made.
TEST(Backup, ACompleteBackupThatCannotBePutInPlaceIsKept) {
    vttest::SimOptions o;
    o.seed.boxes = 1;
    SimDevice sim(o);
    std::string target = sim.dir / "backup.zip";
    // The folder comes once the boxes are fetched (one there at the start is
    // refused before anything is fetched).
    BackupRun run = RunBackup(sim, target, {1}, [&](const VTPROGRESSINFO &p, HANDLE) {
        if (p.Phase == VTPHASE_PACKING) fs::create_directories(fs::path(target) / "in the way");
    });
    EXPECT_NE(run.rc, 0u);
    std::string kept = sim.dir / ("work/" VTBOX_KEPT_BACKUP);
    ASSERT_TRUE(fs::is_regular_file(kept)) << run.detail;
    EXPECT_NE(run.detail.find("the complete backup is kept as " + kept), std::string::npos) << run.detail;
    // It is the whole backup: it reads back.
    VTBACKUPINFO info{};
    uint32_t count = 0;
    VTBOXBK *boxes = nullptr;
    void *handle = nullptr;
    ASSERT_EQ(vtBoxGetXMLInfo(kept.c_str(), sim.dir.path().c_str(), &info, &count, &boxes, &handle), 0u);
    EXPECT_EQ(count, 1u);
    GlobalFree(handle);
    EXPECT_FALSE(fs::exists(sim.dir / "work/BOX"));
}

TEST(Backup, CancelDuringABoxDownload) {
    // In the first box, and in the second while the first is being packed
    // into the backup file. The half-made file goes, the older target stays.
    for (int32_t after_docs : {2, 11}) {
        SimDevice sim;
        std::string target = sim.dir / "backup.zip";
        std::ofstream(target) << "the previous backup";
        BackupRun run = RunBackup(sim, target, {1, 2}, [&](const VTPROGRESSINFO &p, HANDLE cancel) {
            if (p.Phase == 3 && p.DocsDone >= after_docs) SetEvent(cancel);
        });
        EXPECT_EQ(run.rc, 995u) << after_docs;
        EXPECT_EQ(run.progress.Phase, 8);
        EXPECT_FALSE(fs::exists(sim.dir / "work/BOX"));
        EXPECT_EQ(ReadFile(target), "the previous backup");
        auto entries = fs::directory_iterator(sim.dir / "work");
        EXPECT_EQ(entries, fs::directory_iterator());  // nothing left in the work folder
    }
}

TEST(Backup, ABoxThatCannotBePackedFailsTheBackup) {
    // Box 1 is packed while box 2 downloads; the disk fills up under it (a
    // file size limit far above any file fetched, below what box 1 packs to).
    // Its failure still ends the backup, and an older target survives.
    SimDevice sim;
    std::string target = sim.dir / "backup.zip";
    std::ofstream(target) << "the previous backup";
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 48 * 1024;
    auto previous = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    BackupRun run = RunBackup(sim, target, {1, 2});
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    EXPECT_EQ(run.rc, 112u);
    EXPECT_NE(run.detail.find("B0000001"), std::string::npos) << run.detail;
    EXPECT_EQ(run.progress.Phase, 8);
    EXPECT_FALSE(fs::exists(sim.dir / "work/BOX"));
    EXPECT_EQ(fs::directory_iterator(sim.dir / "work"), fs::directory_iterator());
    EXPECT_EQ(ReadFile(target), "the previous backup");
}

TEST(Backup, AShellDialectDevice) {
    vttest::SimOptions o;
    o.engineVersion = "Korvo-D V1.0.0.0";
    o.seed.boxes = 1;
    SimDevice sim(o);
    std::string target = sim.dir / "backup.zip";
    ASSERT_EQ(RunBackup(sim, target, {1}).rc, 0u);
    std::string out = sim.dir / "unpacked";
    Unpack(target, out);
    ExpectSameTree(fs::path(sim.storeRoot) / "SHR/BOX/DATA/B0000001", fs::path(out) / "BOX/DATA/B0000001");
    bool sawLs = false;
    for (const auto &cmd : sim.device->Records().ftpCommands) sawLs |= cmd.rfind("ls ", 0) == 0;
    EXPECT_TRUE(sawLs);
}

TEST(Backup, TheSessionIsKeptAliveDuringTheBackupAndNeverAfter) {
    vttest::SimOptions o;
    o.seed.pageKb = 256;
    SimDevice sim(o);
    vtbox::KeepAlive::SetPeriodMsForTesting(20);
    BackupRun run = RunBackup(sim, sim.dir / "backup.zip", {1, 2, 3});
    vtbox::KeepAlive::SetPeriodMsForTesting(300000);
    ASSERT_EQ(run.rc, 0u);
    unsigned touches = sim.device->Records().keepAlives;
    EXPECT_GT(touches, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(sim.device->Records().keepAlives, touches);
}

TEST(Backup, BadArgumentsGive87) {
    SimDevice sim;
    VTMFPSESSION closed = sim.Session();
    VTPROGRESSINFO p;
    uint32_t box = 1;
    EXPECT_EQ(vtBoxBackup(&closed, "admin", "u", "/tmp", "/tmp/x.zip", 1, &box, nullptr, nullptr, &p), 87u);
    EXPECT_EQ(vtBoxBackup(nullptr, "admin", "u", "/tmp", "/tmp/x.zip", 1, &box, nullptr, nullptr, &p), 87u);
}

}  // namespace
