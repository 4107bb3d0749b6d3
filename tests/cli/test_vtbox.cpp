// The vtbox program against the simulated device: the device is always
// released (lock and FTP account) whatever becomes of the job.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>

#include "sim_device.hpp"

namespace {

namespace fs = std::filesystem;
using vttest::SimDevice;

struct Result {
    int exitCode = -1;
    std::string out, err;
};

// Runs vtbox with the device's ports; interrupt_after_ms > 0 sends SIGINT then.
// interrupt_when (when given) is polled every 20 ms; SIGINT follows once it holds.
Result Vtbox(SimDevice &sim, std::vector<std::string> args, const std::string &password = "admin",
             int interrupt_after_ms = 0, const std::function<bool()> &interrupt_when = {}) {
    vttest::TempDir io;
    std::string outPath = io / "out", errPath = io / "err";
    std::vector<std::string> full = {VTBOX_PROGRAM, "--host", "127.0.0.1", "--port",
                                     std::to_string(sim.device->HttpPort()), "--ftp-port",
                                     std::to_string(sim.device->FtpPort())};
    full.insert(full.end(), args.begin(), args.end());
    pid_t pid = fork();
    if (pid == 0) {
        setenv("VTBOX_PASSWORD", password.c_str(), 1);
        freopen(outPath.c_str(), "w", stdout);
        freopen(errPath.c_str(), "w", stderr);
        std::vector<char *> argv;
        for (auto &a : full) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (interrupt_after_ms > 0) {
        usleep(static_cast<useconds_t>(interrupt_after_ms) * 1000);
        kill(pid, SIGINT);
    }
    int status = 0;
    bool reaped = false;
    while (interrupt_when && !reaped) {
        reaped = waitpid(pid, &status, WNOHANG) == pid;
        if (!reaped && interrupt_when()) {
            kill(pid, SIGINT);
            break;
        }
        usleep(20000);
    }
    if (!reaped) waitpid(pid, &status, 0);
    Result r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::stringstream o, e;
    o << std::ifstream(outPath).rdbuf();
    e << std::ifstream(errPath).rdbuf();
    r.out = o.str();
    r.err = e.str();
    return r;
}

// The device is free: another session can lock it and make an FTP account.
void ExpectDeviceReleased(SimDevice &sim) {
    VTMFPSESSION s = sim.Session();
    ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
    uint32_t t = 0;
    EXPECT_EQ(vtBoxLockUiJob(&s, "admin", 0, &t), 0u) << "the panel is still locked";
    char login[256];
    EXPECT_EQ(vtBoxCreateFTPAccount(&s, "admin", login), 0u) << "the FTP account still exists";
    vtBoxDeleteFTPAccount(&s, "admin");
    vtBoxUnlockUiJob(&s, "admin", 0);
    vtBoxCloseConnection(&s);
}

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

// vtbox convert: a backup of a device with flagged documents, converted
// for a model without wide paper, reports per box what went.
class VtboxConvert : public testing::Test {
protected:
    static vttest::SimOptions Flagged(unsigned page_kb) {
        vttest::SimOptions o;
        o.seed.boxes = 2;
        o.seed.folders = 1;
        o.seed.docs = 3;
        o.seed.pages = 2;
        o.seed.pageKb = page_kb;
        std::string error;
        o.seed.wideDocs = devicesim::DocumentSelection::Parse("1.0.1,1.1.2,2.*.*", 0x4000, 0xFFFFFFFF, error);
        o.seed.colourDocs = devicesim::DocumentSelection::Parse("1.0.3", 0x0200, 0xFFFF, error);
        o.seed.mixDocs = devicesim::DocumentSelection::Parse("none", 0x06, 0xFF, error);
        return o;
    }
    vttest::ScopedEnv settings{"VTBOX_CONVERSION_PATH", VTBOX_SETTINGS_DIR};
};

TEST_F(VtboxConvert, BackupReportsWhatWentPerBox) {
    SimDevice sim(Flagged(4));
    std::string file = sim.dir / "b.zip", out = sim.dir / "c.zip";
    ASSERT_EQ(Vtbox(sim, {"backup", "--boxes", "all", "--output", file}).exitCode, 0);
    Result r = Vtbox(sim, {"convert", "backup", file, out, "--to", "Korvo-C V1.3.0.0", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // The source version came from the file itself.
    EXPECT_NE(r.out.find("\"from\":\"Korvo-B V1.3.0.0\",\"to\":\"Korvo-C V1.3.0.0\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("{\"number\":1,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"kept\":4,\"removed\":2,\"colour\":0,\"widePaper\":2,\"copyMix\":0}"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"kept\":0,\"removed\":6,\"colour\":0,\"widePaper\":6,\"copyMix\":0}"), std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("backup conversion: done in"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_regular_file(out));

    // The result reads as a backup of the new version; converting it back is
    // refused without a settings file for that direction, and an existing
    // destination is never replaced.
    Result info = Vtbox(sim, {"info", out, "--json"});
    EXPECT_NE(info.out.find("\"engineVersion\":\"Korvo-C V1.3.0.0\""), std::string::npos) << info.out;
    Result again = Vtbox(sim, {"convert", "backup", file, out, "--to", "Korvo-C V1.3.0.0"});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("never replaced"), std::string::npos) << again.err;
    Result unknown = Vtbox(sim, {"convert", "backup", out, sim.dir / "d.zip", "--from", "Nobody V1.0.0.0", "--to", "X"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.err.find("error 50"), std::string::npos) << unknown.err;
    EXPECT_NE(unknown.err.find("Nobody V1.0.0.0.ini"), std::string::npos) << unknown.err;
    for (const auto &e : fs::directory_iterator(sim.dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".vtbox-"), std::string::npos) << "left behind: " << e.path();

    Result summary = Vtbox(sim, {"convert", "summary", "--from", "Korvo-B V1.3.0.0", "--to", "Korvo-A V1.2.0.0"});
    ASSERT_EQ(summary.exitCode, 0) << summary.err;
    EXPECT_NE(summary.out.find("colour documents, documents on wide paper, copies of mixed kind"), std::string::npos)
        << summary.out;
    Result same = Vtbox(sim, {"convert", "summary", "--from", "Korvo-B V1.3.0.0", "--to", "Korvo-B V1.3.0.0"});
    EXPECT_EQ(same.exitCode, 1);
    EXPECT_NE(same.err.find("error 87"), std::string::npos) << same.err;
}

TEST_F(VtboxConvert, CtrlCCancelsAndLeavesNothing) {
    SimDevice sim(Flagged(1024));
    std::string file = sim.dir / "b.zip", out = sim.dir / "c.zip";
    ASSERT_EQ(Vtbox(sim, {"backup", "--boxes", "all", "--output", file}).exitCode, 0);
    // Interrupted once the conversion has begun: its work folder is there.
    auto working = [&] {
        for (const auto &e : fs::directory_iterator(sim.dir.path()))
            if (e.path().filename().string().rfind(".vtbox-work", 0) == 0) return true;
        return false;
    };
    Result r = Vtbox(sim, {"convert", "backup", file, out, "--to", "Korvo-C V1.3.0.0"}, "admin", 0, working);
    EXPECT_EQ(r.exitCode, 130) << r.err;
    EXPECT_NE(r.err.find("cancelled"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
    for (const auto &e : fs::directory_iterator(sim.dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".vtbox-"), std::string::npos) << "left behind: " << e.path();
}

}  // namespace
