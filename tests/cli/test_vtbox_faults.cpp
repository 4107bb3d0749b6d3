// vtbox against a device or a machine that misbehaves: a broken temp folder,
// hostile names, read-only targets, a device silent at the release, a device
// frozen while Ctrl-C is pressed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "devicesim/record_file.hpp"
#include "sim_device.hpp"
#include "vtbox_run.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/text.hpp"

namespace {

namespace fs = std::filesystem;
using vttest::ExpectDeviceReleased;
using vttest::Result;
using vttest::Signal;
using vttest::SimDevice;
using vttest::Vtbox;

bool Has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

bool SawPage(SimDevice &sim, const std::string &page) {
    for (const auto &t : sim.device->Records().httpRequests)
        if (t.find(page) != std::string::npos) return true;
    return false;
}

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
        EXPECT_EQ(r.exitCode, 9) << temp << "\n" << r.err;
        EXPECT_TRUE(Has(r.err, "set TMPDIR to an existing folder")) << r.err;
    }
}

TEST(VtboxFaults, InfoShowsControlCharactersOfNamesEscaped) {
    SimDevice sim;
    SetBoxName(sim, 2, u"Evil\nFake row\tx\u2067\u200f");
    std::string file = sim.dir / "b.zip";
    ASSERT_EQ(Vtbox(sim, {"backup", "--boxes", "2", "--output", file}).exitCode, 0);
    Result r = Vtbox(sim, {"info", file});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "Evil\\x0AFake row\\x09x\\u2067\\u200F\n")) << r.out;
    EXPECT_FALSE(Has(r.out, "Evil\n")) << r.out;
    EXPECT_FALSE(Has(r.out, "\xe2\x81\xa7") || Has(r.out, "\xe2\x80\x8f")) << "a bidirectional control, raw";
}

TEST(VtboxFaults, AReadOnlyTargetIsKeptUnlessReplacingItIsAsked) {
    SimDevice sim;
    std::string file = sim.dir / "b.zip";
    std::ofstream(file) << "an older backup";
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    Result r = Vtbox(sim, {"backup", "--boxes", "1", "--output", file});
    EXPECT_EQ(r.exitCode, 9);
    EXPECT_TRUE(Has(r.err, "is read-only; give --replace-read-only")) << r.err;
    std::ifstream in(file);
    std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, "an older backup");
    EXPECT_FALSE(SawPage(sim, "boxnwBoxExModeIn"));
    Result replaced = Vtbox(sim, {"backup", "--boxes", "1", "--output", file, "--replace-read-only"});
    EXPECT_EQ(replaced.exitCode, 0) << replaced.err;
}

// A file-size limit (ulimit -f) is a full disk to vtbox: it says so, releases
// the device and leaves nothing behind, instead of being ended by SIGXFSZ.
TEST(VtboxFaults, AFileSizeLimitIsAFullDisk) {
    SimDevice sim;
    std::string file = sim.dir / "b.zip";
    Result r = Vtbox(sim, {"backup", "--boxes", "all", "--output", file}, "admin", {}, {}, {}, 128 * 1024);
    EXPECT_EQ(r.exitCode, 9) << r.err;
    EXPECT_TRUE(Has(r.err, "error 112")) << r.err;
    EXPECT_FALSE(fs::exists(file));
    ExpectDeviceReleased(sim);
    for (const auto &e : fs::directory_iterator(sim.dir.path()))
        EXPECT_FALSE(Has(e.path().filename().string(), ".vtbox-work")) << "work folder left";
}

// A backup that is complete but cannot take its name (a folder has come to
// stand there) is kept where it was made, vtbox says where, and later runs
// keep it too.
TEST(VtboxFaults, ACompleteBackupThatCannotTakeItsNameIsKept) {
    for (bool verify : {false, true}) {
        SCOPED_TRACE(verify ? "--verify" : "without --verify");
        vttest::SimOptions o;
        o.seed.boxes = 1;
        SimDevice sim(o);
        std::string file = sim.dir / "b.zip";
        std::vector<std::string> args = {"backup", "--boxes", "1", "--output", file};
        if (verify) args.push_back("--verify");
        Result r = Vtbox(sim, args, "admin", {}, {}, [&](pid_t) {
            // Once the download has begun: a folder there at the start is
            // refused before anything is fetched.
            auto fetching = [&] {
                for (const auto &c : sim.device->Records().ftpCommands)
                    if (c.rfind("RETR", 0) == 0) return true;
                return false;
            };
            for (int i = 0; i < 10000 && !fetching(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            fs::create_directories(fs::path(file) / "in the way");
        });
        EXPECT_NE(r.exitCode, 0) << r.err;
        std::vector<fs::path> work;
        for (const auto &e : fs::directory_iterator(sim.dir.path()))
            if (Has(e.path().filename().string(), ".vtbox-work-")) work.push_back(e.path());
        ASSERT_EQ(work.size(), 1u) << r.err;
        fs::path kept = verify ? work[0] / VTBOX_KEPT_BACKUP : work[0] / "job" / VTBOX_KEPT_BACKUP;
        ASSERT_TRUE(fs::is_regular_file(kept)) << r.err;
        EXPECT_TRUE(Has(r.err, "vtbox: the complete backup is kept as " + kept.string())) << r.err;
        EXPECT_EQ(Vtbox(sim, {"info", kept.string()}).exitCode, 0);
        ExpectDeviceReleased(sim);

        Result next = Vtbox(sim, {"backup", "--boxes", "1", "--output", sim.dir / "c.zip"});
        EXPECT_EQ(next.exitCode, 0) << next.err;
        EXPECT_TRUE(Has(next.err, "vtbox: kept " + work[0].string())) << next.err;
        EXPECT_TRUE(Has(next.err, "a complete backup that could not be put in place, " + kept.string())) << next.err;
        EXPECT_TRUE(fs::is_regular_file(kept));
    }
}

// What a killed run left is cleared by whichever command next makes a work
// folder in the same place: a killed restore's unpacked backup beside its
// file, the work folder of a run in the temp folder.
TEST(VtboxFaults, EveryCommandThatMakesWorkFoldersClearsDeadOnes) {
    SimDevice sim;
    std::string file = sim.dir / "b.zip";
    ASSERT_EQ(Vtbox(sim, {"backup", "--boxes", "1", "--output", file}).exitCode, 0);
    Result killed = Vtbox(sim, {"restore", "--input", file, "--boxes", "1", "--mode", "keep-both"}, "admin", {}, {},
                          [&](pid_t pid) {
                              for (int i = 0; i < 10000 && !SawPage(sim, "boxnwGetFolderDocList"); ++i)
                                  std::this_thread::sleep_for(std::chrono::milliseconds(2));
                              kill(pid, SIGKILL);
                          });
    ASSERT_EQ(killed.exitCode, 128 + SIGKILL);
    std::vector<fs::path> left;
    for (const auto &e : fs::directory_iterator(sim.dir.path()))
        if (Has(e.path().filename().string(), ".vtbox-work-")) left.push_back(e.path());
    ASSERT_EQ(left.size(), 1u);
    ASSERT_TRUE(fs::exists(left[0] / "BOX")) << "the killed restore left no unpacked backup: the test shows nothing";
    fs::path temp = sim.dir / "tmp";
    fs::path dead_in_temp = temp / (left[0].filename().string());
    fs::create_directories(dead_in_temp / "BOX");

    Result verified = Vtbox(sim, {"verify", file});
    EXPECT_EQ(verified.exitCode, 0) << verified.err;
    EXPECT_TRUE(Has(verified.err, "removed " + left[0].string() + ", left by a vtbox run that was killed"))
        << verified.err;
    EXPECT_FALSE(fs::exists(left[0]));
    Result info = Vtbox(sim, {"info", file}, "admin", {}, {{"TMPDIR", temp.string()}});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_FALSE(fs::exists(dead_in_temp));
    EXPECT_TRUE(fs::is_empty(temp));
}

}  // namespace

namespace {

// A device that ended the web session by itself (it was idle too long) ended
// the lock and the FTP account with it: there is nothing to release, and
// vtbox neither tries again for a minute nor warns that the device may stay
// locked.
TEST(VtboxRelease, ASessionTheDeviceEndedNeedsNoRelease) {
    vttest::SimOptions o;
    o.seed.boxes = 1;
    o.sessionIdleSeconds = 1;
    SimDevice sim(o);
    std::string file = sim.dir / "b.zip";
    // The download of the box stands still for 3 s, with no web request meanwhile.
    sim.faults().FreezeInTransfer(devicesim::FreezeScope::Ftp, 3, 100, 3);
    Result r = Vtbox(sim, {"backup", "--boxes", "1", "--output", file}, "admin", {}, {{"VTBOX_RELEASE_SECONDS", "10"}});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(Has(r.err, "was not released")) << r.err;
    EXPECT_TRUE(fs::exists(file));
    size_t unlocks = 0;
    for (const auto &t : sim.device->Records().httpRequests) unlocks += Has(t, "boxnwBoxExModeOut");
    EXPECT_EQ(unlocks, 1u) << "the release was tried again";
    ExpectDeviceReleased(sim);
}

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

// A device that freezes once it has answered, before the end of the session:
// vtbox leaves the session to the device within the release's bound rather
// than wait the end page's time-out (minutes).
TEST(VtboxRelease, ADeviceFrozenAtTheEndOfTheSessionIsLeftWithinTheBound) {
    SimDevice sim;
    sim.faults().FreezeOn("boxnwDisconnect", devicesim::FreezeScope::Web, 0);
    const auto start = std::chrono::steady_clock::now();
    Result r = Vtbox(sim, {"boxes"}, "admin", {}, {{"VTBOX_RELEASE_SECONDS", "2"}});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 30.0) << r.err;
    EXPECT_TRUE(Has(r.out, "Box 1")) << r.out;
    sim.faults().Thaw();
}

// Freezes the whole device (connections accepted, nothing answered) once the
// backup has begun to fetch page files.
struct FreezeAtFirstPage {
    explicit FreezeAtFirstPage(SimDevice &sim)
        : sim(sim), watcher([this] {
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
        {"Ctrl-C", {{2500, SIGINT}}, 2.0 + 1.0 + 1.0},  // the job, the release bound, a margin
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
        EXPECT_EQ(r.exitCode, c.signals.front().number == SIGTERM ? 143 : 130) << r.err;
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
