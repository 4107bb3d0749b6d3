// The vtbox program against the simulated device: exit codes by class, the
// words of its failures, verify, the restore's dry run, JSON lines, unlock;
// and the device always released (lock and FTP account) whatever becomes of
// the job.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "closed_port.hpp"
#include "job_history.hpp"
#include "job_record.hpp"
#include "level_files.hpp"
#include "sim_device.hpp"
#include "spawn.hpp"
#include "vtplatform/text.hpp"

namespace {

namespace fs = std::filesystem;
using vttest::SimDevice;

struct Result {
    int exitCode = -1;
    std::string out, err;
    double seconds = 0;
};

struct Run {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;  // "" value: unset
    int signal = 0;                          // sent after signal_after_ms
    int signal_after_ms = 0;
    std::string out_file;                   // keep standard output here
    std::function<bool()> ready = {};       // the signal waits for this first
    std::vector<std::string> wrapper = {};  // a program that runs vtbox (setpriv, prlimit)
};

Result Launch(const Run &run) {
    vttest::TempDir io;
    std::string outPath = run.out_file.empty() ? io / "out" : run.out_file, errPath = io / "err";
    std::vector<std::string> full = run.wrapper;
    full.push_back(VTBOX_PROGRAM);
    full.insert(full.end(), run.args.begin(), run.args.end());
    auto start = std::chrono::steady_clock::now();
    pid_t pid = vttest::Spawn(full, run.env, outPath, errPath);
    if (run.signal) {
        // Looked at every 2 ms, for 20 s at most: some moments last only a
        // few tens of milliseconds.
        for (int i = 0; run.ready && !run.ready() && i < 10000; ++i) usleep(2000);
        usleep(static_cast<useconds_t>(run.signal_after_ms) * 1000);
        kill(pid, run.signal);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Result r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::stringstream o, e;
    o << std::ifstream(outPath).rdbuf();
    e << std::ifstream(errPath).rdbuf();
    r.out = o.str();
    r.err = e.str();
    return r;
}

// The environment of every run: the password, no configuration file, the
// job records in the test's folder.
std::map<std::string, std::string> BaseEnv(const std::string &dir, const std::string &password = "admin") {
    return {{"VTBOX_PASSWORD", password},
            {"XDG_CONFIG_HOME", dir + "/config"},
            {"XDG_STATE_HOME", dir + "/state"},
            {"VTBOX_HOST", ""},
            {"VTBOX_PORT", ""},
            {"VTBOX_PASSWORD_FILE", ""},
            {"VTBOX_PASSWORD_COMMAND", ""}};
}

std::vector<std::string> DeviceArgs(SimDevice &sim, std::vector<std::string> args) {
    std::vector<std::string> full = {"--host",     "127.0.0.1",
                                     "--port",     std::to_string(sim.device->HttpPort()),
                                     "--ftp-port", std::to_string(sim.device->FtpPort())};
    full.insert(full.end(), args.begin(), args.end());
    return full;
}

bool SawPage(SimDevice &sim, const std::string &page);

// With a signal, it is sent signal_after_ms after the job holds the device
// (its FTP account made), however slowly the program starts.
Result Vtbox(SimDevice &sim, std::vector<std::string> args, const std::string &password = "admin", int signal = 0,
             int signal_after_ms = 0) {
    Run run{DeviceArgs(sim, std::move(args)), BaseEnv(sim.dir.path(), password), signal, signal_after_ms, {}, [&sim] {
                return SawPage(sim, "boxnwCreateFTPAccount");
            }};
    return Launch(run);
}

// A command that takes no device (info, verify).
Result Local(SimDevice &sim, std::vector<std::string> args) {
    return Launch({std::move(args), BaseEnv(sim.dir.path()), 0, 0, {}});
}

bool Has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

bool SawPage(SimDevice &sim, const std::string &page) {
    for (const auto &t : sim.device->Records().httpRequests)
        if (Has(t, page)) return true;
    return false;
}

// Runs a Python check over a file; returns its output ("" and exit 0 = fine).
std::pair<int, std::string> Python(const std::string &script, const std::string &file) {
    vttest::TempDir dir;
    std::ofstream(dir / "check.py") << script;
    std::string command = "python3 " + dir / "check.py" + " '" + file + "' > " + dir / "out" + " 2>&1";
    int status = std::system(command.c_str());
    std::stringstream out;
    out << std::ifstream(dir / "out").rdbuf();
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out.str()};
}

std::string Damage(const std::string &file, const std::string &how) {
    std::string out = file + "." + how.substr(0, how.find(':')) + ".zip";
    std::string command = "python3 '" DAMAGE_SCRIPT "' '" + file + "' '" + out + "' " + how;
    EXPECT_EQ(std::system(command.c_str()), 0) << how;
    return out;
}

TEST(Vtbox, BackupThenInfoAndVerify) {
    SimDevice sim;
    std::string target = sim.dir / "b.zip";
    Result r = Vtbox(sim, {"backup", "--boxes", "1-3", "-o", target, "--verify"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "3 boxes backed up")) << r.out;
    EXPECT_TRUE(Has(r.err, "backup: 100% finished")) << r.err;
    ExpectDeviceReleased(sim);
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "a backup holds every document: only its owner may read it";
    // Nothing but the backup file is left beside it.
    std::set<std::string> beside;
    for (const auto &entry : fs::directory_iterator(sim.dir.path())) beside.insert(entry.path().filename());
    EXPECT_EQ(beside, (std::set<std::string>{"b.zip", "state", "store"}));

    Result info = Local(sim, {"info", target, "--json"});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_TRUE(Has(info.out, "\"kind\":\"backup\"")) << info.out;
    EXPECT_TRUE(Has(info.out, "\"protected\":false")) << info.out;
    Result verify = Local(sim, {"verify", target});
    EXPECT_EQ(verify.exitCode, 0) << verify.err;
    EXPECT_TRUE(Has(verify.out, "whole")) << verify.out;
}

// Every kind of damage is found and named, with the damaged-file code, and
// info (description only) still passes a damaged file.
TEST(Vtbox, VerifyFindsAndNamesDamage) {
    SimDevice sim;
    std::string good = sim.dir / "b.zip";
    ASSERT_EQ(Vtbox(sim, {"backup", "--boxes", "1,2", "-o", good}).exitCode, 0);
    struct Case {
        const char *how;
        std::vector<const char *> says;
    } cases[] = {
        {"outer", {"BOX\\DATA.zip: the entry is damaged"}},
        {"database", {"DATABASE.vtb", "B0000001.XML: the entry is damaged"}},
        {"box:2", {"box 002", "B0000002.vtb", "PAGE", "the entry is damaged"}},
        {"no-document:1", {"box 001", "D0000001.XML: a document record in the top level without its document folder"}},
        {"count:2", {"box 002", "the description counts 10 documents, the box archive holds 9"}},
    };
    for (const Case &c : cases) {
        std::string bad = Damage(good, c.how);
        Result r = Local(sim, {"verify", bad});
        EXPECT_EQ(r.exitCode, 8) << c.how << "\n" << r.err;
        for (const char *s : c.says) EXPECT_TRUE(Has(r.err, s)) << c.how << ": " << s << "\n" << r.err;
        std::string json = sim.dir / "verify.json";
        EXPECT_EQ(Launch({{"verify", "--json", bad}, BaseEnv(sim.dir.path()), 0, 0, json}).exitCode, 8);
        auto [rc, out] = Python(
            "import json,sys\n"
            "lines=open(sys.argv[1]).read().splitlines()\n"
            "assert len(lines)==1\n"
            "o=json.loads(lines[0])\n"
            "assert o['ok'] is False and o['exitCode']==8 and len(o['findings'])>=1, o\n"
            "assert all(set(f)=={'box','entry','text'} for f in o['findings'])\n",
            json);
        EXPECT_EQ(rc, 0) << c.how << ": " << out;
    }
    // info reads the description only and passes the flipped file.
    EXPECT_EQ(Local(sim, {"info", Damage(good, "outer")}).exitCode, 0);
}

TEST(VtboxExitCodes, WrongPasswordBusyAndNotFound) {
    SimDevice sim;
    Result wrong = Vtbox(sim, {"boxes"}, "not-the-password");
    EXPECT_EQ(wrong.exitCode, 4) << wrong.err;
    EXPECT_TRUE(Has(wrong.err, "logging in failed: error 1216: The password is not correct.")) << wrong.err;

    // Another session holds the device.
    VTMFPSESSION other = sim.Session();
    ASSERT_EQ(vtBoxOpenConnection(&other), 0u);
    uint32_t t = 0;
    ASSERT_EQ(vtBoxLockUiJob(&other, "admin", 1, &t), 0u);
    Result busy = Vtbox(sim, {"backup", "--boxes", "1", "-o", sim.dir / "b.zip"});
    EXPECT_EQ(busy.exitCode, 5) << busy.err;
    EXPECT_TRUE(Has(busy.err, "another job holds the device")) << busy.err;
    vtBoxUnlockUiJob(&other, "admin", 1);
    vtBoxCloseConnection(&other);

    // An unknown box is named before anything is locked.
    sim.device->ClearRecords();
    Result box = Vtbox(sim, {"backup", "--boxes", "1,77", "-o", sim.dir / "b.zip"});
    EXPECT_EQ(box.exitCode, 7) << box.err;
    EXPECT_TRUE(Has(box.err, "box 077 does not exist on the device (it has 001, 002, 003")) << box.err;
    EXPECT_FALSE(SawPage(sim, "boxnwBoxExModeIn"));

    // A box that vanishes on the way: the engine's detail follows the code's text.
    sim.faults().ForceResult("boxnwGetBoxProperty", 101, 1);
    Result gone = Vtbox(sim, {"backup", "--boxes", "2", "-o", sim.dir / "b.zip"});
    EXPECT_EQ(gone.exitCode, 7) << gone.err;
    EXPECT_TRUE(Has(gone.err, "the backup failed: error 161")) << gone.err;
    EXPECT_TRUE(Has(gone.err, "(the reply to /VaultraBox/Admin/boxnwGetBoxProperty?")) << gone.err;
    EXPECT_FALSE(fs::exists(sim.dir / "b.zip"));
    ExpectDeviceReleased(sim);

    Result missing = Vtbox(sim, {"restore", "-i", sim.dir / "nothing.zip", "--boxes", "1", "--mode", "replace"});
    EXPECT_EQ(missing.exitCode, 7) << missing.err;
    EXPECT_TRUE(Has(missing.err, "nothing.zip does not exist")) << missing.err;

    Result usage = Vtbox(sim, {"backup", "--boxes", "1"});
    EXPECT_EQ(usage.exitCode, 2) << usage.err;

    // A device without boxes: no file that would pass for a backup.
    VTMFPSESSION admin = sim.Session();
    ASSERT_EQ(vtBoxOpenConnection(&admin), 0u);
    ASSERT_EQ(vtBoxLockUiJob(&admin, "admin", 1, &t), 0u);
    ASSERT_EQ(vtBoxDeleteAllBox(&admin, "admin"), 0u);
    vtBoxUnlockUiJob(&admin, "admin", 1);
    vtBoxCloseConnection(&admin);
    Result empty = Vtbox(sim, {"backup", "--boxes", "all", "-o", sim.dir / "empty.zip"});
    EXPECT_EQ(empty.exitCode, 11) << empty.err;
    EXPECT_TRUE(Has(empty.err, "the device has no boxes")) << empty.err;
    EXPECT_FALSE(fs::exists(sim.dir / "empty.zip"));
}

TEST(VtboxExitCodes, UnreachableDevicesEachGetTheirWords) {
    SimDevice sim;
    vttest::TempDir dir;
    auto run = [&](std::vector<std::string> args) { return Launch({std::move(args), BaseEnv(dir.path()), 0, 0, {}}); };
    vttest::ClosedPort closed;
    Result refused = run({"--host", "127.0.0.1", "--port", std::to_string(closed.port()), "boxes"});
    EXPECT_EQ(refused.exitCode, 6) << refused.err;
    EXPECT_TRUE(Has(refused.err, "refuses connections on port")) << refused.err;

    Result name = run({"--host", "no-such-device.invalid", "boxes"});
    EXPECT_EQ(name.exitCode, 6) << name.err;
    EXPECT_TRUE(Has(name.err, "\"no-such-device.invalid\" does not resolve")) << name.err;

    // Accepts connections and never answers: given up after --timeout.
    sim.faults().Freeze(devicesim::FreezeScope::Web, 0);
    Result silent = Vtbox(sim, {"--timeout", "2", "boxes"});
    sim.faults().Thaw();
    EXPECT_EQ(silent.exitCode, 6) << silent.err;
    EXPECT_LT(silent.seconds, 10) << "waited past --timeout";
    EXPECT_TRUE(Has(silent.err, "no answer within 2 s")) << silent.err;
    EXPECT_TRUE(Has(silent.err, "accepts connections but the box web service never answers")) << silent.err;

    // A wrong FTP port: the words name FTP and the port tried.
    vttest::ClosedPort closedFtp;
    const uint16_t ftp = closedFtp.port();
    Result wrongFtp = Launch({{"--host", "127.0.0.1", "--port", std::to_string(sim.device->HttpPort()), "--ftp-port",
                               std::to_string(ftp), "backup", "--boxes", "1", "-o", sim.dir / "b.zip"},
                              BaseEnv(sim.dir.path()),
                              0,
                              0,
                              {}});
    EXPECT_EQ(wrongFtp.exitCode, 6) << wrongFtp.err;
    EXPECT_TRUE(Has(wrongFtp.err, "FTP server")) << wrongFtp.err;
    EXPECT_TRUE(Has(wrongFtp.err, "port " + std::to_string(ftp))) << wrongFtp.err;
    ExpectDeviceReleased(sim);
}

TEST(VtboxExitCodes, LocalDiskDamagedFileAndPartialRestore) {
    SimDevice sim;
    Result disk = Vtbox(sim, {"backup", "--boxes", "1", "-o", "/proc/vtbox-backup.zip"});
    EXPECT_EQ(disk.exitCode, 9) << disk.err;
    // What is no regular file is never replaced, and nothing is locked for it.
    std::string fifo = sim.dir / "fifo.zip", link = sim.dir / "link.zip";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink(sim.dir / "elsewhere.zip", link);
    sim.device->ClearRecords();
    for (const std::string &target : {fifo, link}) {
        Result odd = Vtbox(sim, {"backup", "--boxes", "1", "-o", target});
        EXPECT_EQ(odd.exitCode, 9) << odd.err;
        EXPECT_TRUE(Has(odd.err, "not a regular file; a backup never replaces one")) << odd.err;
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_FALSE(fs::exists(sim.dir / "elsewhere.zip"));
    EXPECT_FALSE(SawPage(sim, "boxnwBoxExModeIn"));

    std::string file = sim.dir / "b.zip";
    ASSERT_EQ(Vtbox(sim, {"backup", "--boxes", "1,2", "-o", file}).exitCode, 0);
    std::ofstream(sim.dir / "not-a-backup.zip") << "plain text";
    Result notZip = Vtbox(sim, {"restore", "-i", sim.dir / "not-a-backup.zip", "--boxes", "1", "--mode", "replace"});
    EXPECT_EQ(notZip.exitCode, 8) << notZip.err;

    // The first box goes through, the second is refused by the device: what
    // was written stays, and the run says it was partial.
    sim.faults().FailStor(451, 40, true);
    Result partial = Vtbox(sim, {"restore", "-i", file, "--boxes", "all", "--mode", "keep-both"});
    sim.faults().Clear();
    EXPECT_EQ(partial.exitCode, 10) << partial.err;
    EXPECT_TRUE(Has(partial.err, "had been restored before the failure and stay on the device")) << partial.err;
    // Each FTP refusal in its own words: a 451 is the server's own error,
    // none of the box's limits.
    EXPECT_TRUE(Has(partial.err, "error of its own (451)")) << partial.err;
    EXPECT_FALSE(Has(partial.err, "400 documents")) << partial.err;
    ExpectDeviceReleased(sim);

    // A folder the device refused to make, then the 553 for a file in it: a
    // refusal on a working connection, not an unreachable device.
    sim.faults().RefuseFolderCreation();
    Result refused = Vtbox(sim, {"restore", "-i", file, "--boxes", "1", "--mode", "keep-both"});
    sim.faults().Clear();
    EXPECT_EQ(refused.exitCode, 1) << refused.err;
    EXPECT_TRUE(Has(refused.err, "could not create the file there (553)")) << refused.err;
    EXPECT_FALSE(Has(refused.err, "broke off")) << refused.err;
    ExpectDeviceReleased(sim);

    // The user's job history holds each job that took the device, newest
    // first, with what it did and why it failed; what was refused before
    // the device was taken is no job.
    vttest::ScopedEnv state("XDG_STATE_HOME", sim.dir / "state");
    const auto jobs = vtjobs::ReadJobHistory();
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(jobs[0].operation, vtjobs::HistoryOperation::Restore);
    EXPECT_EQ(jobs[0].outcome, vtjobs::HistoryOutcome::Failed);
    EXPECT_TRUE(Has(jobs[0].reason, "FTP 553")) << jobs[0].reason;
    EXPECT_EQ(jobs[1].outcome, vtjobs::HistoryOutcome::Partial);
    EXPECT_GT(jobs[1].documents, 0);
    EXPECT_TRUE(Has(jobs[1].reason, "FTP 451")) << jobs[1].reason;
    EXPECT_EQ(jobs[2].operation, vtjobs::HistoryOperation::Backup);
    EXPECT_EQ(jobs[2].outcome, vtjobs::HistoryOutcome::Done);
    EXPECT_EQ(jobs[2].program, vtjobs::HistoryProgram::Vtbox);
    EXPECT_EQ(jobs[2].file, file);
    EXPECT_EQ(jobs[2].bytes, static_cast<int64_t>(fs::file_size(file)));
    EXPECT_EQ(jobs[2].boxes, (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(jobs[2].device, "127.0.0.1:" + std::to_string(sim.device->HttpPort()));
    EXPECT_TRUE(jobs[2].reason.empty());
}

// Problems on the local side get the local-disk code and their own words,
// whichever command meets them: a backup file this user may not read, a
// temporary folder that fills up (a file size limit, the signal it raises
// ignored as vtbox's parent may). A box the restore refuses as damaged is
// the damaged-file code.
TEST(VtboxExitCodes, LocalProblemsAndDamagedBoxesGetTheirClass) {
    if (access("/usr/bin/setpriv", X_OK) != 0 || access("/usr/bin/prlimit", X_OK) != 0)
        GTEST_SKIP() << "needs setpriv and prlimit (util-linux)";
    vttest::SimOptions o;
    o.seed.boxes = 0;
    SimDevice sim(o);
    const std::string file = sim.dir / "b.zip";
    fs::copy_file(fs::path(BACKUP_CORPUS_DIR) / "whole-long-description.zip", file);
    const std::vector<std::vector<std::string>> commands = {
        {"info", file},
        {"verify", file},
        {"restore", "-n", "-i", file, "--boxes", "all", "--mode", "replace"},
        {"restore", "-i", file, "--boxes", "all", "--mode", "replace"}};
    auto run = [&](const std::vector<std::string> &args, std::vector<std::string> wrapper) {
        const bool local = args[0] == "info" || args[0] == "verify";
        return Launch(
            {local ? args : DeviceArgs(sim, args), BaseEnv(sim.dir.path()), 0, 0, {}, {}, std::move(wrapper)});
    };

    // Root reads every file: it runs here without the capabilities that let it.
    ASSERT_EQ(chmod(file.c_str(), 0), 0);
    for (const auto &args : commands) {
        Result r = run(args, {"/usr/bin/setpriv", "--bounding-set", "-dac_override,-dac_read_search"});
        EXPECT_EQ(r.exitCode, 9) << args[0] << "\n" << r.err;
        EXPECT_TRUE(Has(r.err, "you may not read or write there")) << r.err;
        EXPECT_FALSE(Has(r.err, "not a valid") || Has(r.err, "no backup")) << r.err;
    }
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);

    // The 16 KB description does not fit under a limit of 8 KB.
    auto previous = signal(SIGXFSZ, SIG_IGN);
    for (const auto &args : commands) {
        Result r = run(args, {"/usr/bin/prlimit", "--fsize=8192", "--"});
        EXPECT_EQ(r.exitCode, 9) << args[0] << "\n" << r.err;
        EXPECT_TRUE(Has(r.err, "the local disk is full")) << r.err;
    }
    signal(SIGXFSZ, previous);
    EXPECT_TRUE(sim.device->Records().ftpCommands.empty());
    ASSERT_EQ(run(commands[3], {}).exitCode, 0);

    // A box whose archive holds a page no device names so: refused before
    // anything of it is sent, as a damaged file.
    const std::string damaged = sim.dir / "damaged.zip";
    fs::copy_file(fs::path(BACKUP_CORPUS_DIR) / "damaged-page-name.zip", damaged);
    sim.device->ClearRecords();
    Result r = run({"restore", "-i", damaged, "--boxes", "1", "--mode", "keep-both"}, {});
    EXPECT_EQ(r.exitCode, 8) << r.err;
    EXPECT_TRUE(Has(r.err, "is no page file")) << r.err;
    EXPECT_TRUE(Has(r.err, "vtbox verify names what is wrong")) << r.err;
    for (const auto &c : sim.device->Records().ftpCommands) EXPECT_NE(c.rfind("STOR", 0), 0u) << c;
    ExpectDeviceReleased(sim);
    // Extracted, it is the same damaged file, found once the target is made:
    // the target made for it goes again.
    Result x = Local(sim, {"extract", damaged, "1", "-o", sim.dir / "x"});
    EXPECT_EQ(x.exitCode, 8) << x.err;
    EXPECT_TRUE(Has(x.err, "is no page file")) << x.err;
    EXPECT_FALSE(fs::exists(sim.dir / "x"));
}

TEST(VtboxExitCodes, CtrlCAndSigtermCancelAndReleaseTheDevice) {
    for (int sig : {SIGINT, SIGTERM}) {
        SimDevice sim;
        sim.faults().DelayReply("boxnwGetBoxProperty", 3, 1);
        Result r = Vtbox(sim, {"backup", "--boxes", "1,2", "--output", sim.dir / "b.zip"}, "admin", sig, 300);
        EXPECT_EQ(r.exitCode, sig == SIGINT ? 130 : 143) << r.err;
        EXPECT_TRUE(Has(r.err, "error 995")) << r.err;
        EXPECT_FALSE(fs::exists(sim.dir / "b.zip"));
        ExpectDeviceReleased(sim);
        for (const auto &e : fs::directory_iterator(sim.dir.path()))
            EXPECT_FALSE(Has(e.path().filename().string(), ".vtbox-work")) << "work folder left";
    }
}

TEST(Vtbox, JsonLinesParseAndAgree) {
    SimDevice sim;
    std::string file = sim.dir / "b.zip";
    std::string lines = sim.dir / "backup.jsonl";
    Result r = Launch(
        {DeviceArgs(sim, {"backup", "--json", "--boxes", "1,2", "-o", file}), BaseEnv(sim.dir.path()), 0, 0, lines});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "") << "--json leaves standard error to failures";
    // The bytes count what came from the device, small files kept in memory too.
    uintmax_t fetched = 0;
    const fs::path device = fs::path(sim.storeRoot) / "SHR/BOX";
    fetched += fs::file_size(device / "DATABASE/B0000001.XML") + fs::file_size(device / "DATABASE/B0000002.XML");
    for (const char *box : {"DATA/B0000001", "DATA/B0000002"})
        for (const auto &e : fs::recursive_directory_iterator(device / box))
            if (e.is_regular_file()) fetched += e.file_size();
    auto [rc, out] = Python(
        "import json,sys\n"
        "objs=[json.loads(l) for l in open(sys.argv[1]).read().splitlines()]\n"
        "assert all(isinstance(o,dict) for o in objs)\n"
        "types=[o['type'] for o in objs]\n"
        "assert len(types)>2 and types[-1]=='summary' and set(types[:-1])=={'status'}, types\n"
        "for o in objs[:-1]:\n"
        "    for k in "
        "('phase','percent','box','documentsDone','documentsTotal','bytes','secondsElapsed','secondsRemaining'):\n"
        "        assert k in o, (k,o)\n"
        "assert max(o['bytes'] for o in objs[:-1])>=" +
            std::to_string(fetched) +
            ", max(o['bytes'] for o in objs[:-1])\n"
            "s=objs[-1]\n"
            "assert s['outcome']=='done' and s['exitCode']==0 and s['code']==0, s\n"
            "assert s['boxes']==2 and s['documents']==18 and s['size']>0 and s['file'].endswith('b.zip'), s\n",
        lines);
    EXPECT_EQ(rc, 0) << out;

    // boxes, info and the dry run name a box the same way.
    std::string boxes = sim.dir / "boxes.json", info = sim.dir / "info.json", plan = sim.dir / "plan.json";
    ASSERT_EQ(Launch({DeviceArgs(sim, {"boxes", "--json"}), BaseEnv(sim.dir.path()), 0, 0, boxes}).exitCode, 0);
    ASSERT_EQ(Launch({{"info", "--json", file}, BaseEnv(sim.dir.path()), 0, 0, info}).exitCode, 0);
    ASSERT_EQ(Launch({DeviceArgs(sim, {"restore", "--json", "-n", "-i", file, "--boxes", "all", "--mode", "replace"}),
                      BaseEnv(sim.dir.path()), 0, 0, plan})
                  .exitCode,
              0);
    auto [rc2, out2] = Python(
        "import json,sys,re\n"
        "d=sys.argv[1].rsplit('/',1)[0]\n"
        "b=json.load(open(d+'/boxes.json')); i=json.load(open(d+'/info.json')); p=json.load(open(d+'/plan.json'))\n"
        "assert b['boxes'][0]['protected'] in (True,False) and i['boxes'][0]['protected'] in (True,False)\n"
        "assert re.match(r'\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(Z|[+-]\\d\\d:\\d\\d)$', "
        "b['boxes'][0]['lastUpdate'])\n"
        "assert re.match(r'\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(Z|[+-]\\d\\d:\\d\\d)$', i['date'])\n"
        "for x in (b['boxes'][0], i['boxes'][0], p['boxes'][0]):\n"
        "    assert x['number']==1 and x['name']==b['boxes'][0]['name'], x\n"
        "assert p['wouldSucceed'] is True and p['mode']=='replace'\n",
        boxes);
    EXPECT_EQ(rc2, 0) << out2;
}

// Every --json run ends in a line a script can read, however early it
// stops: the summary, with the exit code and the failure's words.
TEST(Vtbox, JsonEndsInASummaryWhateverHappens) {
    SimDevice sim;
    const std::string file = sim.dir / "b.zip", config = sim.dir / "bad-config";
    ASSERT_EQ(Vtbox(sim, {"backup", "--boxes", "1", "-o", file}).exitCode, 0);
    fs::create_directories(config + "/vtbox");
    std::ofstream(config + "/vtbox/vtbox.conf") << "colour = red\n";
    struct Case {
        std::vector<std::string> args;
        std::string password;
        int exitCode;
        std::map<std::string, std::string> env = {};
        int signal = 0;
    };
    const Case cases[] = {
        {{"backup", "--json", "--boxes", "1", "-o", sim.dir / "c.zip"}, "wrong", 4},
        {{"backup", "--json", "--boxes", "1,9", "-o", sim.dir / "c.zip"}, "admin", 7},
        {{"restore", "--json", "-i", file, "--boxes", "2", "--mode", "replace"}, "admin", 7},
        {{"restore", "--json", "-i", file, "--boxes", "1", "--mode", "replace"}, "wrong", 4},
        {{"diff", "--json", file}, "wrong", 4},
        {{"diff", "--json", sim.dir / "none.zip"}, "admin", 7},
        {{"boxes", "--json"}, "admin", 2, {{"XDG_CONFIG_HOME", config}}},
        {{"diff", "--json", file}, "admin", 130, {}, SIGINT},
    };
    for (const Case &c : cases) {
        const std::string what = c.args[0] + " " + c.args.back() + (c.signal ? " (Ctrl-C)" : "");
        // Ctrl-C while the device is slow to answer.
        if (c.signal) sim.faults().DelayReply("boxnwGetFolderDocList", 5);
        ::Run run{DeviceArgs(sim, c.args), BaseEnv(sim.dir.path(), c.password), c.signal, 0, {}, [&sim] {
                      return SawPage(sim, "boxnwGetFolderDocList");
                  }};
        for (const auto &[k, v] : c.env) run.env[k] = v;
        Result r = Launch(run);
        EXPECT_EQ(r.exitCode, c.exitCode) << what << ": " << r.err;
        const size_t last = r.out.size() < 2 ? std::string::npos : r.out.rfind('\n', r.out.size() - 2);
        const std::string line = r.out.substr(last == std::string::npos ? 0 : last + 1);
        for (const std::string &part : {"{\"type\":\"summary\",\"command\":\"" + c.args[0] + "\"",
                                        ",\"exitCode\":" + std::to_string(c.exitCode) + ","})
            EXPECT_TRUE(Has(line, part)) << what << ": " << r.out;
        EXPECT_FALSE(Has(line, "\"text\":\"\"")) << what << ": " << line;
    }
}

// The device's documents of a box level: number -> name.
std::map<uint32_t, std::string> DeviceLevel(SimDevice &sim, uint32_t box, uint32_t folder, bool folders) {
    std::map<uint32_t, std::string> out;
    VTMFPSESSION s = sim.Session();
    if (vtBoxOpenConnection(&s) != 0) return out;
    uint32_t n = 0;
    VTBOXELEMENT *e = nullptr;
    HGLOBAL h = vtBoxGetCollection(&s, box, "admin", folder, &n, &e);
    for (uint32_t i = 0; h && i < n; ++i)
        if ((e[i].Kind == 0) == folders)
            out[e[i].Id] = vt::Utf16ToUtf8(vt::Utf16View(reinterpret_cast<const char16_t *>(e[i].Name), 128));
    if (h) GlobalFree(h);
    vtBoxCloseConnection(&s);
    return out;
}

TEST(VtboxDryRun, ThePlanIsWhatTheRestoreDoesAndNothingIsTouched) {
    SimDevice sim;
    std::string file = sim.dir / "b.zip";
    ASSERT_EQ(Vtbox(sim, {"backup", "--boxes", "1,2", "-o", file}).exitCode, 0);
    // The device keeps some of the file's documents: box 1 lost its second
    // document, box 2 is gone.
    VTMFPSESSION s = sim.Session();
    ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
    ASSERT_EQ(vtBoxDeleteDocument(&s, 1, "admin", 0, 2), 0u);
    vtBoxCloseConnection(&s);
    fs::remove_all(sim.storeRoot + "/SHR/BOX/DATA/B0000002");
    fs::remove(sim.storeRoot + "/SHR/BOX/DATABASE/B0000002.XML");

    for (const char *mode : {"keep-both"}) {
        std::string plan = sim.dir / "plan.json";
        sim.device->ClearRecords();
        Result dry =
            Launch({DeviceArgs(sim, {"restore", "--dry-run", "--json", "-i", file, "--boxes", "all", "--mode", mode}),
                    BaseEnv(sim.dir.path()), 0, 0, plan});
        ASSERT_EQ(dry.exitCode, 0) << dry.err;
        devicesim::DeviceRecords seen = sim.device->Records();
        EXPECT_TRUE(seen.ftpCommands.empty()) << "the dry run used FTP";
        EXPECT_TRUE(seen.serialChanges.empty());
        for (const auto &t : seen.httpRequests)
            for (const char *page : {"ExModeIn", "CreateFTPAccount", "DeleteDoc", "DeleteAllBox"})
                EXPECT_FALSE(Has(t, page)) << t;

        // The plan as lines: box, folder (or F for a folder), number, name.
        std::string lines = sim.dir / "plan.txt";
        auto [rc, out] = Python(
            "import json,sys\n"
            "p=json.load(open(sys.argv[1]))\n"
            "with open(sys.argv[1]+'.txt','w') as f:\n"
            "  for b in p['boxes']:\n"
            "    f.write('%d B %s\\n' % (b['number'], b['action']))\n"
            "    for x in b['folders']: f.write('%d F %d %s\\n' % (b['number'], x['newNumber'], x['newName']))\n"
            "    for x in b['documents']: f.write('%d %d %d %s\\n' % (b['number'], x['folder'], x['newNumber'], "
            "x['newName']))\n",
            plan);
        ASSERT_EQ(rc, 0) << out;
        std::stringstream planned;
        planned << std::ifstream(plan + ".txt").rdbuf();
        std::string text = planned.str();
        EXPECT_TRUE(Has(text, "1 B merge\n")) << text;
        EXPECT_TRUE(Has(text, "2 B new\n")) << text;
        EXPECT_TRUE(Has(text, "-001\n")) << "keep-both names in the plan:\n" << text;

        Result real = Vtbox(sim, {"restore", "-i", file, "--boxes", "all", "--mode", mode});
        ASSERT_EQ(real.exitCode, 0) << real.err;

        // Every planned entry is on the device under the planned number and name.
        std::istringstream in(text);
        std::string line;
        size_t checked = 0;
        std::map<uint32_t, size_t> planned_top;
        while (std::getline(in, line)) {
            std::istringstream f(line);
            uint32_t box = 0;
            std::string where;
            f >> box >> where;
            if (where == "B") continue;
            uint32_t number = 0;
            f >> number;
            std::string name;
            std::getline(f, name);
            name = name.substr(1);
            bool folder = where == "F";
            uint32_t level = folder ? 0 : static_cast<uint32_t>(std::stoul(where));
            if (!folder && level == 0) ++planned_top[box];
            auto on_device = DeviceLevel(sim, box, level, folder);
            ASSERT_TRUE(on_device.count(number)) << line;
            EXPECT_EQ(on_device[number], name) << line;
            ++checked;
        }
        EXPECT_GE(checked, 2u * (2 + 3 + 2 * 3));
        // Box 1's top level: the two documents it kept and the three restored.
        EXPECT_EQ(planned_top[1], 3u);
        EXPECT_EQ(DeviceLevel(sim, 1, 0, false).size(), 5u);
    }
}

// A box that would pass the device's 400 documents a level: the dry run
// shows the refusal with its counts, and the restore is refused the same way
// before it sends anything.
// A record name may hold anything: a title change, a screen clear, a bare CR,
// a C1 control and a right-to-left override. None reaches the output raw, in
// the plan, the restore's progress lines, ls, find, diff, extract (nor the
// extracted folder's name) or verify's findings about an entry of that name.
TEST(VtboxDryRun, NamesFromTheFileNeverReachTheTerminalRaw) {
    SimDevice sim;
    fs::path record = fs::path(sim.storeRoot) / "SHR/BOX/DATA/B0000001/P0000001/D0000001.XML";
    std::vector<uint8_t> bytes = vttest::FileBytes(record);
    std::u16string hostile = u"\x1b]0;owned\x07\r\x1b[2JScan\u009b1m\u202Egpj.exe";
    ASSERT_GE(bytes.size(), 137u);
    std::fill(bytes.begin() + 9, bytes.begin() + 137, 0);
    for (size_t i = 0; i < hostile.size(); ++i) {
        bytes[9 + 2 * i] = static_cast<uint8_t>(hostile[i] & 0xFF);
        bytes[10 + 2 * i] = static_cast<uint8_t>(hostile[i] >> 8);
    }
    vttest::WriteBytes(record, bytes);
    std::string file = sim.dir / "b.zip";
    ASSERT_EQ(Vtbox(sim, {"backup", "--boxes", "1", "-o", file}).exitCode, 0);
    auto raw = [](const std::string &text) {
        return text.find_first_of("\x1b\x07\r") != std::string::npos || Has(text, "\xc2\x9b") ||
               Has(text, "\xe2\x80\xae");
    };
    const std::string shown = "\\x1B]0;owned\\x07\\x0D\\x1B[2JScan\\xC2\\x9B1m\\u202Egpj.exe";
    Result dry = Vtbox(sim, {"restore", "--dry-run", "-i", file, "--boxes", "1", "--mode", "keep-both"});
    ASSERT_EQ(dry.exitCode, 0) << dry.err;
    EXPECT_TRUE(Has(dry.out, shown)) << dry.out;
    EXPECT_FALSE(raw(dry.out)) << dry.out;
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"ls", file, "1"}, {"find", file, "*gpj*"}, {"extract", file, "1/D1", "-o", sim.dir / "x"}}) {
        Result r = Local(sim, args);
        EXPECT_EQ(r.exitCode, 0) << args[0] << "\n" << r.err;
        EXPECT_TRUE(Has(r.out, shown)) << args[0] << "\n" << r.out;
        EXPECT_FALSE(raw(r.out + r.err)) << args[0] << "\n" << r.out;
    }
    for (const auto &e : fs::directory_iterator(sim.dir / "x"))
        EXPECT_FALSE(raw(e.path().filename().string())) << "extracted as " << e.path();
    // An entry of that name where none belongs.
    fs::copy_file(file, file + ".stray");
    auto [rc, said] = Python(
        "import sys,zipfile\n"
        "with zipfile.ZipFile(sys.argv[1],'a') as z:\n"
        "    z.writestr('BOX/\\x1b]0;owned\\x07\\u202Egpj.exe','x')\n",
        file + ".stray");
    ASSERT_EQ(rc, 0) << said;
    Result verify = Local(sim, {"verify", file + ".stray"});
    EXPECT_EQ(verify.exitCode, 8) << verify.err;
    EXPECT_TRUE(Has(verify.err, "\\x1B]0;owned\\x07\\u202Egpj.exe: no part of a backup file")) << verify.err;
    EXPECT_FALSE(raw(verify.err)) << verify.err;

    Result restore = Vtbox(sim, {"restore", "-i", file, "--boxes", "1", "--mode", "keep-both"});
    ASSERT_EQ(restore.exitCode, 0) << restore.err;
    EXPECT_FALSE(raw(restore.err + restore.out)) << restore.err;
    Result diff = Vtbox(sim, {"diff", file});
    EXPECT_EQ(diff.exitCode, 0) << diff.err;
    EXPECT_TRUE(Has(diff.out, "\\u202Egpj.exe")) << diff.out;
    EXPECT_FALSE(raw(diff.out + diff.err)) << diff.out;
}

TEST(VtboxDryRun, ShowsTheDocumentLimitAsTheRestoreMeetsIt) {
    std::string file;
    vttest::TempDir keep;
    {
        vttest::SimOptions small;
        small.seed.boxes = 1;
        SimDevice source(small);
        file = keep / "b.zip";
        ASSERT_EQ(Vtbox(source, {"backup", "--boxes", "1", "-o", file}).exitCode, 0);
    }
    vttest::SimOptions full;
    full.seed.boxes = 1;
    full.seed.folders = 0;
    full.seed.docs = 399;
    full.seed.pages = 1;
    full.seed.pageKb = 1;
    SimDevice sim(full);

    Result dry = Vtbox(sim, {"restore", "-n", "-i", file, "--boxes", "1", "--mode", "keep-both"});
    EXPECT_EQ(dry.exitCode, 1) << dry.err;
    EXPECT_TRUE(Has(dry.out, "REFUSED: the box's top level would hold 402 documents; the device takes 400")) << dry.out;
    // In replace mode the three same-named documents give way: the box fits.
    Result fits = Vtbox(sim, {"restore", "-n", "-i", file, "--boxes", "1", "--mode", "replace"});
    EXPECT_EQ(fits.exitCode, 0) << fits.out << fits.err;
    EXPECT_TRUE(Has(fits.out, "replaces the device's document 001")) << fits.out;

    Result real = Vtbox(sim, {"restore", "-i", file, "--boxes", "1", "--mode", "keep-both"});
    EXPECT_EQ(real.exitCode, 1) << real.err;
    EXPECT_TRUE(Has(real.err, "error 8260")) << real.err;
    EXPECT_TRUE(Has(real.err, "more than 400 documents")) << real.err;
    EXPECT_EQ(DeviceLevel(sim, 1, 0, false).size(), 399u) << "nothing of the box was sent";
    ExpectDeviceReleased(sim);
}

TEST(VtboxUnlock, ReleasesWhatAKilledBackupLeft) {
    SimDevice sim;
    std::string target = sim.dir / "b.zip";
    sim.faults().DelayReply("boxnwGetBoxProperty", 3, 1);
    Result killed = Vtbox(sim, {"backup", "--boxes", "1,2", "-o", target}, "admin", SIGKILL, 300);
    ASSERT_EQ(killed.exitCode, 128 + SIGKILL);
    // The dead run's lock holds (another session cannot lock) and its work folder stays.
    {
        VTMFPSESSION s = sim.Session();
        ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
        uint32_t t = 0;
        EXPECT_NE(vtBoxLockUiJob(&s, "admin", 0, &t), 0u) << "the killed job left no lock: the test shows nothing";
        vtBoxCloseConnection(&s);
    }
    size_t work_folders = 0;
    for (const auto &e : fs::directory_iterator(sim.dir.path()))
        work_folders += Has(e.path().filename().string(), ".vtbox-work-");
    EXPECT_EQ(work_folders, 1u);

    // A device that refuses the unlock keeps the job's record, so that the
    // next vtbox unlock can still release it.
    sim.faults().ForceResult("boxnwBoxExModeOut", 203);
    Result refused = Vtbox(sim, {"unlock"});
    EXPECT_NE(refused.exitCode, 0) << refused.out;
    sim.faults().Clear();
    Result unlock = Vtbox(sim, {"unlock"});
    EXPECT_EQ(unlock.exitCode, 0) << unlock.err;
    EXPECT_TRUE(Has(unlock.out, "released the device")) << unlock.out;
    ExpectDeviceReleased(sim);
    Result again = Vtbox(sim, {"unlock"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_TRUE(Has(again.out, "not locked")) << again.out;

    // The next backup beside it removes the dead run's work folder.
    Result next = Vtbox(sim, {"backup", "--boxes", "1", "-o", target});
    ASSERT_EQ(next.exitCode, 0) << next.err;
    EXPECT_TRUE(Has(next.err, "left by a vtbox run that was killed")) << next.err;
    for (const auto &e : fs::directory_iterator(sim.dir.path()))
        EXPECT_FALSE(Has(e.path().filename().string(), ".vtbox-work")) << e.path();
}

// Jobs that run at once. Another computer's job holds a device under the
// session number that a dead job of this computer's record names: unlock
// leaves it alone. And two backups started together into one folder with a
// run number, from two devices, each keep their file, under two numbers.
TEST(VtboxUnlock, JobsAtOnceKeepTheirDeviceAndTheirFiles) {
    SimDevice first, second;
    {
        VTMFPSESSION other = second.Session();
        ASSERT_EQ(vtBoxOpenConnection(&other), 0u);
        uint32_t t = 0;
        char login[256] = {};
        ASSERT_EQ(vtBoxLockUiJob(&other, "admin", 0, &t), 0u);
        ASSERT_EQ(vtBoxCreateFTPAccount(&other, "admin", login), 0u);
        pid_t dead = fork();
        if (dead == 0) _exit(0);
        waitpid(dead, nullptr, 0);
        {
            vttest::ScopedEnv state("XDG_STATE_HOME", second.dir / "state");
            ASSERT_TRUE(vtjobs::WriteJobRecord("127.0.0.1", second.device->HttpPort(),
                                               {other.SessionId, 0, dead, "vtbkup9999"}));
        }
        Result unlock = Vtbox(second, {"unlock"});
        EXPECT_EQ(unlock.exitCode, 5) << unlock.out << unlock.err;
        EXPECT_TRUE(Has(unlock.err, "session " + std::to_string(other.SessionId) + " now has the FTP account " + login +
                                        ", not the job's vtbkup9999"))
            << unlock.err;
        EXPECT_TRUE(Has(unlock.err, "vtbox unlock --force")) << unlock.err;
        // The other job still has its account and its lock.
        EXPECT_EQ(vtBoxDeleteFTPAccount(&other, "admin"), 0u);
        EXPECT_EQ(vtBoxUnlockUiJob(&other, "admin", 0), 0u);
        vtBoxCloseConnection(&other);
    }

    const fs::path folder = fs::path(first.dir.path()) / "backups";
    fs::create_directories(folder);
    const std::string pattern = folder / "n_%N.zip";
    // The first backup has its name in mind and waits for the device, while
    // the second one runs from start to end.
    first.faults().FreezeOn("boxnwGetBoxProperty", devicesim::FreezeScope::Web, 0);
    vttest::TempDir io;
    const pid_t pid = vttest::Spawn(
        [&] {
            std::vector<std::string> full = {VTBOX_PROGRAM};
            for (const auto &a : DeviceArgs(first, {"backup", "--json", "--boxes", "1", "-o", pattern}))
                full.push_back(a);
            return full;
        }(),
        BaseEnv(first.dir.path()), io / "out", io / "err");
    for (int i = 0; i < 3000 && !SawPage(first, "boxnwGetBoxProperty"); ++i) usleep(10000);
    Result together = Vtbox(second, {"backup", "--boxes", "2", "-o", pattern});
    first.faults().Thaw();
    int status = 0;
    waitpid(pid, &status, 0);
    std::stringstream out, err;
    out << std::ifstream(io / "out").rdbuf();
    err << std::ifstream(io / "err").rdbuf();
    ASSERT_EQ(together.exitCode, 0) << together.err;
    EXPECT_TRUE(Has(together.out, folder / "n_001.zip")) << together.out;
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << err.str();
    EXPECT_TRUE(Has(out.str(), "\"file\":\"" + (folder / "n_002.zip").string() + "\"")) << out.str();
    std::set<std::string> files;
    for (const auto &e : fs::directory_iterator(folder)) files.insert(e.path().filename());
    EXPECT_EQ(files, (std::set<std::string>{"n_001.zip", "n_002.zip"}));
    EXPECT_TRUE(Has(Local(first, {"info", folder / "n_002.zip"}).out, "\n  001 ")) << "the first device's box";
    EXPECT_TRUE(Has(Local(first, {"info", folder / "n_001.zip"}).out, "\n  002 ")) << "the second device's box";
    ExpectDeviceReleased(first);
    ExpectDeviceReleased(second);
}

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

TEST(VtboxRestore, BackupDeleteRestore) {
    SimDevice sim;
    std::string file = sim.dir / "b.zip";
    ASSERT_EQ(Vtbox(sim, {"backup", "--boxes", "all", "--output", file}).exitCode, 0);
    DeleteAllBoxes(sim);
    ASSERT_EQ(BoxCount(sim), 0u);
    Result r = Vtbox(sim, {"restore", "--input", file, "--boxes", "all", "--mode", "keep-both"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "3 boxes restored"));
    EXPECT_EQ(BoxCount(sim), 3u);
    ExpectDeviceReleased(sim);
    for (const auto &e : fs::directory_iterator(sim.dir.path()))
        EXPECT_FALSE(Has(e.path().filename().string(), ".vtbox-work")) << "work folder left";
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
    EXPECT_EQ(r.exitCode, 8);
    EXPECT_TRUE(Has(r.err, "same engine version")) << r.err;
    EXPECT_FALSE(SawPage(sim, "boxnwBoxExModeIn"));
    Result dry = Vtbox(sim, {"restore", "--input", file, "--boxes", "all", "--mode", "replace", "--dry-run"});
    EXPECT_EQ(dry.exitCode, 8);
    EXPECT_TRUE(Has(dry.out, "REFUSED: the backup was made on engine")) << dry.out;

    SimDevice same;
    Result missing = Vtbox(same, {"restore", "--input", file, "--boxes", "1,2", "--mode", "replace"});
    EXPECT_EQ(missing.exitCode, 7);
    EXPECT_TRUE(Has(missing.err, "box 002 is not in")) << missing.err;
    EXPECT_FALSE(SawPage(same, "boxnwConnect"));
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
    Result r = Local(sim, {"convert", "backup", file, out, "--to", "Korvo-C V1.3.0.0", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // The source version came from the file itself.
    EXPECT_NE(r.out.find("\"from\":\"Korvo-B V1.3.0.0\",\"to\":\"Korvo-C V1.3.0.0\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("{\"number\":1,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"kept\":4,\"removed\":2,\"colour\":0,\"widePaper\":2,\"copyMix\":0}"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"kept\":0,\"removed\":6,\"colour\":0,\"widePaper\":6,\"copyMix\":0}"), std::string::npos)
        << r.out;
    EXPECT_TRUE(fs::is_regular_file(out));

    // The result reads as a backup of the new version; an unknown source
    // version is refused, and an existing destination is never replaced.
    Result info = Local(sim, {"info", out, "--json"});
    EXPECT_NE(info.out.find("\"engineVersion\":\"Korvo-C V1.3.0.0\""), std::string::npos) << info.out;
    Result again = Local(sim, {"convert", "backup", file, out, "--to", "Korvo-C V1.3.0.0"});
    EXPECT_NE(again.exitCode, 0);
    EXPECT_NE(again.err.find("never replaced"), std::string::npos) << again.err;
    Result unknown =
        Local(sim, {"convert", "backup", out, sim.dir / "d.zip", "--from", "Nobody V1.0.0.0", "--to", "X"});
    EXPECT_NE(unknown.exitCode, 0);
    EXPECT_NE(unknown.err.find("error 50"), std::string::npos) << unknown.err;
    EXPECT_NE(unknown.err.find("Nobody V1.0.0.0.ini"), std::string::npos) << unknown.err;
    for (const auto &e : fs::directory_iterator(sim.dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".vtbox-work"), std::string::npos) << "left behind: " << e.path();

    Result summary = Local(sim, {"convert", "summary", "--from", "Korvo-B V1.3.0.0", "--to", "Korvo-A V1.2.0.0"});
    ASSERT_EQ(summary.exitCode, 0) << summary.err;
    EXPECT_NE(summary.out.find("colour documents, documents on wide paper, copies of mixed kind"), std::string::npos)
        << summary.out;
    Result same = Local(sim, {"convert", "summary", "--from", "Korvo-B V1.3.0.0", "--to", "Korvo-B V1.3.0.0"});
    EXPECT_NE(same.exitCode, 0);
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
    Result r = Launch({{"convert", "backup", file, out, "--to", "Korvo-C V1.3.0.0"},
                       BaseEnv(sim.dir.path()),
                       SIGINT,
                       0,
                       {},
                       working});
    EXPECT_EQ(r.exitCode, 130) << r.err;
    EXPECT_NE(r.err.find("cancelled"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
    for (const auto &e : fs::directory_iterator(sim.dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".vtbox-work"), std::string::npos) << "left behind: " << e.path();
}

// Ctrl-C while documents are being written out of a backup: the one being
// written goes, those before it stay whole, nothing hidden is left behind.
TEST(VtboxExtract, CtrlCLeavesWholeDocumentsOnly) {
    vttest::SimOptions o;
    o.seed.boxes = 1;
    o.seed.folders = 0;
    o.seed.docs = 40;
    o.seed.pages = 2;
    o.seed.pageKb = 256;  // 20 MB to write: long enough to be interrupted
    SimDevice sim(o);
    const std::string file = sim.dir / "b.zip";
    const fs::path target = sim.dir / "out";
    ASSERT_EQ(Vtbox(sim, {"backup", "--boxes", "1", "--output", file}).exitCode, 0);
    auto writing = [&] {
        std::error_code ec;
        for (const auto &e : fs::directory_iterator(target, ec))
            if (e.path().filename().string().rfind(".vtbox-extract-", 0) == 0) return true;
        return false;
    };
    // What each document's folder holds when nothing stops the extraction.
    const fs::path whole = sim.dir / "whole";
    ASSERT_EQ(Local(sim, {"extract", file, "1", "-o", whole}).exitCode, 0);
    auto files = [](const fs::path &folder) {
        std::map<std::string, uintmax_t> out;
        for (const auto &e : fs::directory_iterator(folder)) out[e.path().filename().string()] = e.file_size();
        return out;
    };

    Result r = Launch({{"extract", file, "1", "-o", target}, BaseEnv(sim.dir.path()), SIGINT, 0, {}, writing});
    EXPECT_EQ(r.exitCode, 130) << r.err;
    EXPECT_TRUE(Has(r.err, "the extraction was cancelled")) << r.err;
    size_t written = 0;
    for (const auto &e : fs::directory_iterator(target)) {
        EXPECT_NE(e.path().filename().string()[0], '.') << "left behind: " << e.path();
        EXPECT_EQ(files(e.path()), files(whole / e.path().filename())) << e.path();
        ++written;
    }
    EXPECT_LT(written, 40u);
    for (const auto &e : fs::directory_iterator(sim.dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".vtbox-work"), std::string::npos) << "left behind: " << e.path();

    // What a killed extraction left (its process is gone) goes at the next
    // extraction into the same folder; the documents stay.
    pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    const fs::path left = target / (".vtbox-extract-" + std::to_string(gone) + "-0");
    fs::create_directories(left);
    std::ofstream(left / "PAGE0001.DAT") << "half";
    r = Local(sim, {"extract", file, "1/D1", "-o", target});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.err, "removed " + left.string())) << r.err;
    EXPECT_FALSE(fs::exists(left));
    EXPECT_EQ(static_cast<size_t>(std::distance(fs::directory_iterator(target), fs::directory_iterator())),
              written + 1);
}

}  // namespace
