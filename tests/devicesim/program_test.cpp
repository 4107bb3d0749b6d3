// The vtbox-devicesim program, and its control page, driven from outside.
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>
#include <tuple>

#include "sim_support.hpp"

extern char **environ;

namespace simtest {
namespace {

// Runs the program with its standard output on a pipe; kills it if the test ends early.
class Program {
public:
    explicit Program(const std::vector<std::string> &args) {
        std::vector<std::string> all = {DEVICESIM_PROGRAM};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (auto &a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        out_ = ::fdopen(fds[0], "r");
        char line[512];
        while (out_ && std::fgets(line, sizeof line, out_)) {
            std::string text = line;
            banner_ += text;
            unsigned port = 0;
            if (std::sscanf(line, "http port %u", &port) == 1) httpPort = static_cast<uint16_t>(port);
            if (std::sscanf(line, "ftp port %u", &port) == 1) ftpPort = static_cast<uint16_t>(port);
            if (text.rfind("ftp dialect", 0) == 0) break;
        }
    }
    ~Program() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_) std::fclose(out_);
    }
    // SIGTERM, then the exit status (-1 when it did not exit normally).
    int Terminate() {
        if (pid_ <= 0) return -1;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string &Banner() const { return banner_; }
    uint16_t httpPort = 0, ftpPort = 0;

private:
    pid_t pid_ = -1;
    FILE *out_ = nullptr;
    std::string banner_;
};

class ProgramTest : public ::testing::Test {
protected:
    std::string Url(const Program &p, const std::string &target) {
        return "http://127.0.0.1:" + std::to_string(p.httpPort) + target;
    }
    std::string Control(const Program &p, const std::string &query) {
        return Shell("curl -s -0 --max-time 10 " + Quote(Url(p, "/devicesim/" + query))).out;
    }
    std::string Sid(const Program &p) {
        return QueryXml(Url(p, "/VaultraBox/boxnwConnect"), {"Message/SessionInfo/WebSessionID"}).at(0);
    }
    std::vector<std::string> Ftp(const Program &p, const std::vector<std::string> &ops) {
        std::string cmd = "python3 " + Quote(ScriptPath("ftpl.py")) + " " + std::to_string(p.ftpPort);
        for (const auto &op : ops) cmd += " " + Quote(op);
        return Lines(Shell(cmd + " 2>&1").out);
    }
    std::vector<std::string> BaseArgs() {
        return {"--store", (dir.Path() / "store").string(), "--address", "127.0.0.1", "--http-port", "0", "--ftp-port",
                "0"};
    }
    TempDir dir;
};

TEST_F(ProgramTest, ServesASeededStoreAndStopsOnSigterm) {
    auto args = BaseArgs();
    for (const char *a : {"--seed", "--boxes", "2", "--folders", "1", "--docs", "2", "--pages", "1", "--page-kb", "4",
                          "--password", "s3cret", "--engine-version", "Korvo-D V1.0.0.0", "--capacity-kb", "77777"})
        args.push_back(a);
    {
        Program p(args);
        ASSERT_NE(p.httpPort, 0) << p.Banner();
        ASSERT_NE(p.ftpPort, 0) << p.Banner();
        EXPECT_NE(p.Banner().find("ftp dialect shell"), std::string::npos);
        const std::string sid = Sid(p);
        const std::string auth = "?SID=" + sid + "&PWD=s3cret";
        EXPECT_EQ(
            QueryXml(Url(p, "/VaultraBox/Admin/boxnwGetEngineVersion" + auth), {"Message/VersionInfo/EngineVersion"})
                .at(0),
            "Korvo-D V1.0.0.0");
        EXPECT_EQ(QueryXml(Url(p, "/VaultraBox/Admin/boxnwGetBoxProperty" + auth + "&BNO=002"),
                           {"Message/BoxProp/NumOfDocs", "Message/BoxProp/NumOfFolders"}),
                  (std::vector<std::string>{"4", "1"}));
        EXPECT_EQ(QueryXml(Url(p, "/VaultraBox/Admin/boxnwGetBoxDiskSpace" + auth), {"Message/DiskCapacity"}).at(0),
                  "77777");
        const std::string login =
            QueryXml(Url(p, "/VaultraBox/Admin/boxnwCreateFTPAccount" + auth), {"Message/LoginName"}).at(0);
        auto out = Ftp(p, {"login:" + login + ":s3cret", "list:ls /SHR/BOX/DATA"});
        EXPECT_TRUE(Contains(out, " B0000002")) << out.back();
        EXPECT_EQ(p.Terminate(), 0);
    }
    // A second start on the same store keeps its contents and does not seed again.
    const auto before = fs::file_size(dir.Path() / "store/SHR/BOX/DATA/B0000001/P0000001/D0000001/PAGE0001.DAT");
    EXPECT_EQ(before, 4096u);
    Program again(args);
    ASSERT_NE(again.httpPort, 0);
    const std::string sid = Sid(again);
    EXPECT_EQ(QueryXml(Url(again, "/VaultraBox/Admin/boxnwGetBoxList?SID=" + sid), {"Message/Boxes@NumOfBoxes"}).at(0),
              "2");
    EXPECT_EQ(again.Terminate(), 0);
}

TEST_F(ProgramTest, FaultsThroughTheControlPage) {
    auto args = BaseArgs();
    args.push_back("--seed");
    Program p(args);
    ASSERT_NE(p.httpPort, 0) << p.Banner();
    const std::string sid = Sid(p);
    const std::string list = Url(p, "/VaultraBox/Admin/boxnwGetBoxList?SID=" + sid);
    const std::string auth = "?SID=" + sid + "&PWD=admin";

    EXPECT_EQ(Control(p, "fault?kind=result&page=boxnwGetBoxList&value=211&times=1"), "OK\n");
    EXPECT_EQ(QueryXml(list, {"Message/Result"}).at(0), "211");
    EXPECT_EQ(QueryXml(list, {"Message/Result"}).at(0), "0");

    EXPECT_EQ(Control(p, "fault?kind=status&page=boxnwGetBoxList&value=404&times=1"), "OK\n");
    EXPECT_EQ(Shell("curl -s -0 -o /dev/null -w '%{http_code}' " + Quote(list)).out, "404");

    EXPECT_EQ(Control(p, "fault?kind=malformed&page=boxnwGetBoxList&times=1"), "OK\n");
    EXPECT_EQ(QueryXml(list, {"Message/Result"}).at(0).rfind("PARSE-ERROR", 0), 0u);

    EXPECT_EQ(Control(p, "fault?kind=delay&page=boxnwGetBoxList&seconds=3&times=1"), "OK\n");
    EXPECT_EQ(Shell("curl -s -0 -o /dev/null --max-time 1 " + Quote(list)).exitCode, 28);

    EXPECT_EQ(Control(p, "fault?kind=low-disk&value=5"), "OK\n");
    EXPECT_EQ(QueryXml(Url(p, "/VaultraBox/Admin/boxnwGetBoxDiskSpace" + auth), {"Message/DiskAvailability"}).at(0),
              "5");

    const std::string login =
        QueryXml(Url(p, "/VaultraBox/Admin/boxnwCreateFTPAccount" + auth), {"Message/LoginName"}).at(0);
    const std::string loginOp = "login:" + login + ":admin";
    WriteFile(dir.Path() / "f", "data");
    const std::string put = "put:/SHR/BOX/f.bin:" + (dir.Path() / "f").string();
    EXPECT_EQ(Control(p, "fault?kind=stor552&nth=1&repeat=once"), "OK\n");
    EXPECT_TRUE(Contains(Ftp(p, {loginOp, put}), "ERR 552 Requested file action aborted"));
    EXPECT_EQ(Control(p, "fault?kind=stor451&nth=1&repeat=always"), "OK\n");
    auto out = Ftp(p, {loginOp, put, put});
    EXPECT_EQ(out.at(2).rfind("ERR 451 Requested action aborted", 0), 0u);
    EXPECT_EQ(out.at(3).rfind("ERR 451 Requested action aborted", 0), 0u);
    EXPECT_EQ(Control(p, "clear"), "OK\n");
    EXPECT_EQ(Control(p, "fault?kind=ftp-drop&nth=1&bytes=10"), "OK\n");
    out = Ftp(p, {loginOp, "get:/SHR/BOX/DATABASE/B0000001.XML"});
    EXPECT_EQ(out.at(2), "GOT 10");
    EXPECT_EQ(Control(p, "fault?kind=mkdir-refused&times=1"), "OK\n");
    EXPECT_TRUE(Contains(Ftp(p, {loginOp, "raw:MKD /SHR/BOX/Z"}), "ERR 550"));
    EXPECT_EQ(Control(p, "fault?kind=login-refused&times=1"), "OK\n");
    EXPECT_TRUE(Contains(Ftp(p, {loginOp}), "ERR 530"));

    // Silence, then the device answers again by itself.
    EXPECT_EQ(Control(p, "fault?kind=silent&page=boxnwGetBoxList&seconds=2"), "OK\n");
    auto pending = std::async(std::launch::async,
                              [&] { return Shell("curl -s -0 -o /dev/null --max-time 30 " + Quote(list)).exitCode; });
    // The polling page fails: refused (7), or, when the poll came in just as the
    // silence began, held and closed without an answer (52).
    int pollExit = 0;
    for (int i = 0; i < 100 && pollExit == 0; ++i) {
        pollExit = Shell("curl -s -0 -o /dev/null --max-time 5 " + Quote(Url(p, "/VaultraBox/vtb.asp?"))).exitCode;
        if (pollExit == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(pollExit == 7 || pollExit == 52) << pollExit;
    EXPECT_EQ(pending.get(), 52);
    int back = 1;
    for (int i = 0; i < 200 && back != 0; ++i) {
        back = Shell("curl -s -0 -o /dev/null --max-time 5 " + Quote(list)).exitCode;
        if (back != 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(back, 0);

    auto records = Lines(Control(p, "records"));
    EXPECT_TRUE(Contains(records, "http /VaultraBox/Admin/boxnwGetBoxList?SID=" + sid));
    EXPECT_TRUE(Contains(records, "ftp PASS ****"));
    EXPECT_FALSE(Contains(records, "devicesim"));  // control requests are not recorded

    // Refused control requests.
    EXPECT_EQ(Control(p, "fault?kind=nonsense").rfind("unknown fault kind", 0), 0u);
    EXPECT_EQ(Control(p, "fault?kind=silent&seconds=0").rfind("seconds", 0), 0u);
    EXPECT_EQ(Control(p, "fault?kind=result&page=x").rfind("value", 0), 0u);
    EXPECT_EQ(p.Terminate(), 0);
}

TEST_F(ProgramTest, SeedsFlaggedDocumentsAndFreezesThroughTheControlPage) {
    auto args = BaseArgs();
    for (const char *a : {"--seed", "--boxes", "1", "--folders", "1", "--docs", "2", "--pages", "1", "--page-kb", "1",
                          "--colour-docs", "1.0.2", "--wide-docs", "none", "--mix-docs", "1.1.1=0x02"})
        args.push_back(a);
    Program p(args);
    ASSERT_NE(p.httpPort, 0) << p.Banner();
    const fs::path level = dir.Path() / "store/SHR/BOX/DATA/B0000001/P0000001";
    for (const auto &[record, mix, colour] :
         {std::tuple{"D0000001.XML", 0, 0}, std::tuple{"D0000002.XML", 0, 2}, std::tuple{"F0000001/D0000001.XML", 2, 0},
          std::tuple{"F0000001/D0000002.XML", 0, 0}}) {
        const std::string bytes = ReadFile(level / record);
        ASSERT_EQ(bytes.size(), 512u) << record;
        EXPECT_EQ(bytes[157], mix) << record;
        EXPECT_EQ(bytes[162], 0) << record;
        EXPECT_EQ(bytes[167], colour) << record;
    }

    const std::string list = Url(p, "/VaultraBox/Admin/boxnwGetBoxList?SID=" + Sid(p));
    EXPECT_EQ(Control(p, "fault?kind=freeze&scope=web"), "OK\n");
    EXPECT_EQ(Shell("curl -s -0 -o /dev/null --max-time 1 " + Quote(list)).exitCode, 28);
    EXPECT_TRUE(Contains(Lines(Control(p, "records")), "http /VaultraBox/boxnwConnect"));
    EXPECT_EQ(Control(p, "fault?kind=thaw"), "OK\n");
    EXPECT_EQ(QueryXml(list, {"Message/Result"}).at(0), "0");
    EXPECT_EQ(Control(p, "fault?kind=freeze&scope=ftp&nth=1&bytes=100&seconds=5"), "OK\n");
    EXPECT_EQ(Control(p, "fault?kind=freeze&page=boxnwDisconnect&seconds=5"), "OK\n");
    EXPECT_EQ(Control(p, "fault?kind=delete-refused&times=1"), "OK\n");
    EXPECT_EQ(Control(p, "fault?kind=freeze&scope=all").rfind("scope", 0), 0u);
    EXPECT_EQ(p.Terminate(), 0);
}

// The LAN model: replies wait the latency and are counted all the same; a
// data connection beyond the limit is refused at once; a paced transfer takes
// at least its size over the rate. Only lower bounds of time are asserted.
TEST_F(ProgramTest, BehavesAsADeviceOnALan) {
    using Clock = std::chrono::steady_clock;
    constexpr int kLatencyMs = 40;
    auto args = BaseArgs();
    for (const char *a : {"--seed", "--boxes", "1", "--folders", "0", "--docs", "1", "--pages", "1", "--page-kb", "8",
                          "--latency-ms", "40", "--max-data-connections", "1"})
        args.push_back(a);
    Program p(args);
    ASSERT_NE(p.httpPort, 0) << p.Banner();
    const std::string sid = Sid(p);
    const std::string login =
        QueryXml(Url(p, "/VaultraBox/Admin/boxnwCreateFTPAccount?SID=" + sid + "&PWD=admin"), {"Message/LoginName"})
            .at(0);
    const std::string loginOp = "login:" + login + ":admin";
    auto counts = Lines(Control(p, "counts"));
    EXPECT_TRUE(Contains(counts, "box-request boxnwConnect 1"));
    EXPECT_TRUE(Contains(counts, "latency-ms 40"));
    EXPECT_EQ(Control(p, "clear-records"), "OK\n");

    auto start = Clock::now();
    const std::string list = Url(p, "/VaultraBox/Admin/boxnwGetBoxList?SID=" + sid);
    EXPECT_EQ(QueryXml(list, {"Message/Result"}).at(0), "0");
    EXPECT_EQ(QueryXml(list, {"Message/Result"}).at(0), "0");
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(2 * kLatencyMs));
    start = Clock::now();
    // Six replies: the greeting, USER, PASS, two NOOPs and QUIT.
    auto out = Ftp(p, {loginOp, "raw:NOOP", "raw:noop"});
    EXPECT_EQ(out.at(3), "200 NOOP ok.");
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(6 * kLatencyMs));
    counts = Lines(Control(p, "counts"));
    for (const char *line : {"ftp-commands 5", "ftp-command NOOP 2", "ftp-command USER 1", "ftp-command QUIT 1",
                             "box-requests 2", "box-request boxnwGetBoxList 2"})
        EXPECT_EQ(std::count(counts.begin(), counts.end(), line), 1) << line << "\n" << Control(p, "counts");
    EXPECT_FALSE(Contains(counts, "boxnwConnect"));

    // An upload holds the one data connection: a listing on a second
    // connection is refused, and works once the upload has ended.
    out = Ftp(p, {loginOp, "holdstor:/SHR/BOX/held.bin:LIST /SHR/BOX", "list:LIST /SHR/BOX"});
    EXPECT_TRUE(Contains(out, "OTHER ERR 425 Can't open data connection.")) << ::testing::PrintToString(out);
    EXPECT_TRUE(Contains(out, "226 Transfer complete."));
    EXPECT_TRUE(Contains(out, " held.bin"));
    EXPECT_EQ(ReadFile(dir.Path() / "store/SHR/BOX/held.bin"), "held");

    // 8 KB at 64 kbit/s: at least 1.024 s, whatever the load.
    EXPECT_EQ(Control(p, "lan?rate-kbps=64&latency-ms=0&max-data-connections=0"), "OK\n");
    start = Clock::now();
    out = Ftp(p, {loginOp, "get:/SHR/BOX/DATA/B0000001/P0000001/D0000001/PAGE0001.DAT"});
    EXPECT_EQ(out.at(2), "GOT 8192");
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(8192 * 8 / 64 - 50));
    counts = Lines(Control(p, "counts"));
    EXPECT_EQ(std::count(counts.begin(), counts.end(), "rate-kbps 64"), 1);
    EXPECT_EQ(std::count(counts.begin(), counts.end(), "data-connections 0"), 1);

    EXPECT_EQ(Control(p, "lan?latency-ms=10001").rfind("latency-ms must be", 0), 0u);
    EXPECT_EQ(p.Terminate(), 0);
}

TEST_F(ProgramTest, RefusesBadOptions) {
    EXPECT_EQ(Shell(std::string(DEVICESIM_PROGRAM) + " --http-port 70000 --store x 2>/dev/null").exitCode, 2);
    EXPECT_EQ(Shell(std::string(DEVICESIM_PROGRAM) + " --frobnicate 2>/dev/null").exitCode, 2);
    EXPECT_EQ(Shell(std::string(DEVICESIM_PROGRAM) + " --http-port 1 2>/dev/null").exitCode, 2);  // no store
    EXPECT_EQ(Shell(std::string(DEVICESIM_PROGRAM) + " --store x --colour-docs 1.x.1 2>/dev/null").exitCode, 2);
    EXPECT_EQ(Shell(std::string(DEVICESIM_PROGRAM) + " --store x --latency-ms 10001 2>/dev/null").exitCode, 2);
}

}  // namespace
}  // namespace simtest
