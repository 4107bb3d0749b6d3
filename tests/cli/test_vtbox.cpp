// The vtbox program against the simulated device: the device is always
// released (lock and FTP account) whatever becomes of the job.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "sim_device.hpp"
#include "vtbox_run.hpp"
#include "devicesim/record_file.h"
#include "vtplatform/diag.hpp"

namespace {

namespace fs = std::filesystem;
using vttest::SimDevice;
using vttest::Result;
using vttest::Vtbox;
using vttest::ExpectDeviceReleased;
using vttest::Signal;

TEST(Vtbox, BackupThenInfo) {
    SimDevice sim;
    std::string target = sim.dir / "b.zip";
    Result r = Vtbox(sim, {"backup", "--boxes", "all", "--output", target});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("3 boxes backed up"), std::string::npos);
    EXPECT_NE(r.err.find("backup: 100% finished"), std::string::npos) << r.err;
    ExpectDeviceReleased(sim);
    // Nothing but the backup file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(sim.dir.path()), fs::directory_iterator()), 3)
        << "store, registry, b.zip";

    Result info = Vtbox(sim, {"info", target, "--json"});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("\"kind\":\"backup\""), std::string::npos);
    EXPECT_NE(info.out.find("\"number\":3"), std::string::npos);
}

TEST(Vtbox, AFailedBackupReleasesTheDevice) {
    SimDevice sim;
    Result r = Vtbox(sim, {"backup", "--boxes", "1,77", "--output", sim.dir / "b.zip"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("the backup failed: error 161"), std::string::npos) << r.err;
    // The engine's detail follows the code's text: which request, which box.
    EXPECT_NE(r.err.find("(the reply to /VaultraBox/Admin/boxnwGetBoxProperty?"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("BNO=077"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(sim.dir / "b.zip"));
    ExpectDeviceReleased(sim);
}

TEST(Vtbox, CtrlCCancelsAndReleasesTheDevice) {
    SimDevice sim;
    sim.faults().DelayReply("boxnwGetBoxProperty", 3, 1);
    Result r = Vtbox(sim, {"backup", "--boxes", "1,2", "--output", sim.dir / "b.zip"}, "admin", 1200);
    EXPECT_EQ(r.exitCode, 130) << r.err;
    EXPECT_NE(r.err.find("error 995"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(sim.dir / "b.zip"));
    ExpectDeviceReleased(sim);
    for (const auto &e : fs::directory_iterator(sim.dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".vtbox-work"), std::string::npos) << "work folder left";
}

TEST(Vtbox, AWrongPasswordSaysSo) {
    SimDevice sim;
    Result r = Vtbox(sim, {"boxes"}, "not-the-password");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("logging in failed: error 1216: The password is not correct."), std::string::npos) << r.err;
    Result ok = Vtbox(sim, {"boxes", "--json"});
    EXPECT_EQ(ok.exitCode, 0);
    EXPECT_NE(ok.out.find("\"number\":2"), std::string::npos);
}

}  // namespace

namespace {

size_t BoxCount(SimDevice &sim) {
    VTMFPSESSION s = sim.Session();
    if (vtBoxOpenConnection(&s) != 0) return 0;
    uint32_t n = 0;
    VTBOX *boxes = nullptr;
    HGLOBAL h = vtBoxGetBoxList(&s, &n, &boxes);
    GlobalFree(h);
    vtBoxCloseConnection(&s);
    return n;
}

void DeleteAllBoxes(SimDevice &sim) {
    VTMFPSESSION s = sim.Session();
    ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
    uint32_t t = 0;
    ASSERT_EQ(vtBoxLockUiJob(&s, "admin", 1, &t), 0u);
    ASSERT_EQ(vtBoxDeleteAllBox(&s, "admin"), 0u);
    vtBoxUnlockUiJob(&s, "admin", 1);
    vtBoxCloseConnection(&s);
}

bool SawPage(SimDevice &sim, const std::string &page) {
    for (const auto &t : sim.device->Records().httpRequests)
        if (t.find(page) != std::string::npos) return true;
    return false;
}

TEST(VtboxRestore, BackupDeleteRestore) {
    SimDevice sim;
    std::string file = sim.dir / "b.zip";
    ASSERT_EQ(Vtbox(sim, {"backup", "--boxes", "all", "--output", file}).exitCode, 0);
    DeleteAllBoxes(sim);
    ASSERT_EQ(BoxCount(sim), 0u);
    Result r = Vtbox(sim, {"restore", "--input", file, "--boxes", "all", "--mode", "keep-both"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("3 boxes restored"), std::string::npos);
    EXPECT_EQ(BoxCount(sim), 3u);
    ExpectDeviceReleased(sim);
    for (const auto &e : fs::directory_iterator(sim.dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".vtbox-work"), std::string::npos) << "work folder left";
}

TEST(VtboxRestore, RefusesBeforeLockingWhatCannotBeRestored) {
    std::string file;
    vttest::TempDir keep;
    {
        SimDevice source;
        file = keep / "b.zip";
        ASSERT_EQ(Vtbox(source, {"backup", "--boxes", "1", "--output", file}).exitCode, 0);
    }
    vttest::SimOptions other;
    other.engineVersion = "Korvo-B V1.4.0.0";
    SimDevice sim(other);
    Result r = Vtbox(sim, {"restore", "--input", file, "--boxes", "all", "--mode", "replace"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("same engine version"), std::string::npos) << r.err;
    EXPECT_FALSE(SawPage(sim, "boxnwBoxExModeIn"));

    SimDevice same;
    Result missing = Vtbox(same, {"restore", "--input", file, "--boxes", "1,2", "--mode", "replace"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("box 002 is not in"), std::string::npos) << missing.err;
    EXPECT_FALSE(SawPage(same, "boxnwConnect"));
}

TEST(VtboxRestore, CtrlCCancelsAndReleasesTheDevice) {
    SimDevice sim;
    std::string file = sim.dir / "b.zip";
    ASSERT_EQ(Vtbox(sim, {"backup", "--boxes", "1,2", "--output", file}).exitCode, 0);
    sim.faults().DelayReply("boxnwGetFolderDocList", 3, 1);
    Result r = Vtbox(sim, {"restore", "--input", file, "--boxes", "all", "--mode", "keep-both"}, "admin", 1200);
    EXPECT_EQ(r.exitCode, 130) << r.err;
    EXPECT_NE(r.err.find("error 995"), std::string::npos) << r.err;
    ExpectDeviceReleased(sim);
}

}  // namespace

namespace {

bool Has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

void SetBoxName(SimDevice &sim, uint32_t box, const std::u16string &name) {
    fs::path record = fs::path(sim.storeRoot) / vt::Format("SHR/BOX/DATABASE/B0000%03u.XML", box);
    std::ifstream in(record, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    devicesim::BoxRecord r = devicesim::DecodeBoxRecord(bytes);
    r.name = name;
    auto out = devicesim::EncodeBoxRecord(r);
    std::ofstream(record, std::ios::binary).write(reinterpret_cast<const char *>(out.data()), out.size());
}

TEST(VtboxFaults, ABrokenTempFolderIsSaidPlainly) {
    SimDevice sim;
    std::string file = sim.dir / "b.zip";
    ASSERT_EQ(Vtbox(sim, {"backup", "--boxes", "1", "--output", file}).exitCode, 0);
    for (const std::string &temp : {std::string("/nonexistent/vtbox-temp"), file}) {
        Result r = Vtbox(sim, {"info", file}, "admin", {}, {{"TMPDIR", temp}});
        EXPECT_EQ(r.exitCode, 1) << temp << "\n" << r.err;
        EXPECT_TRUE(Has(r.err, "set TMPDIR to an existing folder")) << r.err;
    }
}

TEST(VtboxFaults, InfoShowsControlCharactersOfNamesEscaped) {
    SimDevice sim;
    SetBoxName(sim, 2, u"Evil\nFake row\tx");
    std::string file = sim.dir / "b.zip";
    ASSERT_EQ(Vtbox(sim, {"backup", "--boxes", "2", "--output", file}).exitCode, 0);
    Result r = Vtbox(sim, {"info", file});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "Evil\\x0AFake row\\x09x\n")) << r.out;
    EXPECT_FALSE(Has(r.out, "Evil\n")) << r.out;
}

TEST(VtboxFaults, AReadOnlyTargetIsKeptUnlessReplacingItIsAsked) {
    SimDevice sim;
    std::string file = sim.dir / "b.zip";
    std::ofstream(file) << "an older backup";
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    Result r = Vtbox(sim, {"backup", "--boxes", "1", "--output", file});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Has(r.err, "is read-only; give --replace-read-only")) << r.err;
    std::ifstream in(file);
    std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, "an older backup");
    EXPECT_FALSE(SawPage(sim, "boxnwBoxExModeIn"));
    Result replaced = Vtbox(sim, {"backup", "--boxes", "1", "--output", file, "--replace-read-only"});
    EXPECT_EQ(replaced.exitCode, 0) << replaced.err;
}

}  // namespace

namespace {

// A device that is silent for a moment when the job ends is released all the
// same: the release is tried again until it answers.
TEST(VtboxRelease, ASilenceAtTheEndIsWaitedOut) {
    SimDevice sim;
    std::string file = sim.dir / "b.zip";
    sim.faults().GoSilentOn("boxnwDeleteFTPAccount", 3);
    Result r = Vtbox(sim, {"backup", "--boxes", "1", "--output", file});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ExpectDeviceReleased(sim);
}

// A backup written while the device stays silent at the end: the file is
// there, the exit code says so, and the warning says what to do.
TEST(VtboxRelease, ABackupWrittenOnADeviceThatStaysSilentIsExit3) {
    SimDevice sim;
    std::string file = sim.dir / "b.zip";
    sim.faults().GoSilentOn("boxnwDeleteFTPAccount", 0);
    Result r = Vtbox(sim, {"backup", "--boxes", "1", "--output", file}, "admin", {},
                     {{"VTBOX_RELEASE_SECONDS", "2"}, {"VTBOX_NETWORK_TIMEOUT_MS", "1000"}});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_TRUE(fs::exists(file));
    EXPECT_TRUE(Has(r.out, "1 box backed up")) << r.out;
    EXPECT_TRUE(Has(r.err, "warning: the backup " + file + " was written, but the device was not released")) << r.err;
    EXPECT_TRUE(Has(r.err, "was not released: its panel may stay locked")) << r.err;
    sim.faults().Clear();
}

// Freezes the whole device (connections accepted, nothing answered) once the
// backup has begun to fetch page files.
struct FreezeAtFirstPage {
    explicit FreezeAtFirstPage(SimDevice &sim) : sim(sim), watcher([this] {
        while (!stop) {
            for (const auto &c : this->sim.device->Records().ftpCommands)
                if (c.rfind("RETR", 0) == 0 && c.find("PAGE") != std::string::npos) {
                    this->sim.faults().Freeze(devicesim::FreezeScope::Device, 0);
                    return;
                }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }) {}
    ~FreezeAtFirstPage() {
        stop = true;
        watcher.join();
    }
    SimDevice &sim;
    std::atomic<bool> stop{false};
    std::thread watcher;
};

// Ctrl-C, a second Ctrl-C and SIGTERM end vtbox on a frozen device: the job in
// a second or two, the release within its own bound.
TEST(VtboxCancel, AFrozenDeviceDoesNotHoldTheProgram) {
    struct Case {
        const char *what;
        std::vector<Signal> signals;
        double within;  // seconds from the first signal to the exit
    };
    const Case cases[] = {
        {"Ctrl-C", {{2500, SIGINT}}, 2.0 + 1.0 + 1.0},    // the job, the release bound, a margin
        {"Ctrl-C twice", {{2500, SIGINT}, {2800, SIGINT}}, 2.0},
        {"SIGTERM", {{2500, SIGTERM}}, 2.0 + 1.0 + 1.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        vttest::SimOptions o;
        o.seed.docs = 6;
        SimDevice sim(o);
        std::string file = sim.dir / "b.zip";
        Result r;
        {
            FreezeAtFirstPage freeze(sim);
            r = Vtbox(sim, {"backup", "--boxes", "all", "--output", file}, "admin", c.signals,
                      {{"VTBOX_RELEASE_SECONDS", "1"}});
        }
        EXPECT_EQ(r.exitCode, 130) << r.err;
        EXPECT_LT(r.secondsAfterSignal, c.within) << r.err;
        EXPECT_TRUE(Has(r.err, "error 995")) << r.err;
        EXPECT_TRUE(Has(r.err, "was not released")) << r.err;
        EXPECT_FALSE(fs::exists(file));
        for (const auto &e : fs::directory_iterator(sim.dir.path()))
            EXPECT_FALSE(Has(e.path().filename().string(), ".vtbox-work")) << "work folder left";
        std::printf("[ figures  ] %s on a frozen device: vtbox ended %.2f s after the first signal\n", c.what,
                    r.secondsAfterSignal);
    }
}

}  // namespace
