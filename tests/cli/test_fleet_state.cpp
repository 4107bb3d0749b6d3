// The fleet's state file and metrics: a state that reads back as it was
// written, a state that cannot be trusted (damaged, foreign, a link, too
// large) reported and rebuilt from the backup folders, and metrics that
// promtool accepts and Debian's node exporter serves.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "fleet_metrics.hpp"
#include "fleet_state.hpp"
#include "spawn.hpp"
#include "temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
using namespace vtcli::fleet;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr size_t kMaxStateBytes = 16 * 1024 * 1024;
constexpr const char *kPromtool = "/usr/bin/promtool";
constexpr const char *kNodeExporter = "/usr/bin/prometheus-node-exporter";

DeviceConfig Device(const std::string &name, const std::string &group, const std::string &host,
                    const std::string &root) {
    DeviceConfig d;
    d.name = name;
    d.group = group;
    d.host = host;
    d.enabled.value = true;
    d.backupRoot.value = root;
    d.staleAfterSeconds.value = 36 * 3600;
    return d;
}

void Write(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }

std::string Slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void SetTime(const std::string &path, std::time_t when) {
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

std::vector<std::string> Names(const std::string &folder) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

mode_t Mode(const std::string &path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

std::string Show(const DeviceState &s) {
    std::ostringstream out;
    out << s.last.time << "|" << s.last.outcome << "|" << s.last.exitCode << "|" << s.last.reason << "|"
        << s.last.seconds << "|" << s.success.time << "|" << s.success.file << "|" << s.success.size << "|"
        << s.success.documents << "|" << s.success.seconds << "|" << s.verify.time << "|" << s.verify.outcome << "|"
        << s.verify.exitCode << "|" << s.verify.reason;
    return out.str();
}

// A command's standard output and error, and its exit status.
std::string RunCommand(const std::string &command, int *status) {
    std::string out;
    FILE *pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return out;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    const int raw = pclose(pipe);
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

TEST(FleetState, ReadsBackWhatItWroteAndRebuildsWhatItCannotTrust) {
    vttest::TempDir dir;
    vttest::ScopedEnv stateDirectory("STATE_DIRECTORY", dir / "state");
    Inventory inventory;
    inventory.path = dir / "site.toml";
    inventory.devices = {Device("berlin-2nd-floor", "berlin", "10.1.2.30", dir / "backups"),
                         Device("hq.mailroom", "", "printer-mail.example.org", dir / "backups")};
    const std::string path = StatePath(inventory);
    EXPECT_EQ(path.rfind(dir / "state/fleet/site-", 0), 0u) << path;
    // Two sites' inventories of the same name keep states of their own.
    Inventory other = inventory;
    other.path = dir / "other/site.toml";
    EXPECT_NE(StatePath(other), path);

    std::string problem = "unset", error;
    EXPECT_TRUE(LoadState(inventory, &problem).devices.empty());
    EXPECT_EQ(problem, "");

    FleetState saved;
    saved.devices["berlin-2nd-floor"] = {{1765000000, "failed", 3, "wrong password for \"admin\"\nsee \xff", 12.5},
                                         {1764900000, "/srv/b/berlin-2nd-floor/x.zip", 123456789, 42, 300.25},
                                         {}};
    saved.devices["hq.mailroom"].last = {1765000100, "done", 0, "", 1};
    saved.devices["hq.mailroom"].verify = {1765000150, "failed", 8, "damaged: DATA.zip", 3};
    saved.devices["retired"].last = {1765000200, "done", 0, "", 1};
    ASSERT_TRUE(SaveState(inventory, saved, &error)) << error;
    EXPECT_EQ(Mode(path), 0600u);
    EXPECT_EQ(Mode(dir / "state/fleet"), 0700u);
    EXPECT_EQ(Names(dir / "state/fleet"), std::vector<std::string>{fs::path(path).filename().string()});
    EXPECT_EQ(Slurp(path).rfind("format = ", 0), 0u) << Slurp(path);

    FleetState loaded = LoadState(inventory, &problem);
    EXPECT_EQ(problem, "");
    // A byte that is not UTF-8 reads back as U+FFFD; everything else as it
    // was; a device the inventory no longer names is dropped.
    saved.devices["berlin-2nd-floor"].last.reason = "wrong password for \"admin\"\nsee \xEF\xBF\xBD";
    EXPECT_EQ(Show(loaded.devices["berlin-2nd-floor"]), Show(saved.devices["berlin-2nd-floor"]));
    EXPECT_EQ(Show(loaded.devices["hq.mailroom"]), Show(saved.devices["hq.mailroom"]));
    EXPECT_EQ(loaded.devices.count("retired"), 0u);

    // The first device's folder: two backups (the newer by time, not by
    // name, is its last success), a newer link and a newer file that is no
    // backup, neither of which counts.
    const std::string folder = dir / "backups/berlin-2nd-floor";
    fs::create_directories(folder);
    Write(folder + "/b-older.zip", "old");
    SetTime(folder + "/b-older.zip", 1765000000);
    Write(folder + "/a-newer.zip", "newer");
    SetTime(folder + "/a-newer.zip", 1765100000);
    Write(dir / "elsewhere.zip", "elsewhere");
    SetTime(dir / "elsewhere.zip", 1765200000);
    fs::create_symlink(dir / "elsewhere.zip", folder + "/z-link.zip");
    Write(folder + "/notes.txt", "notes");
    const std::string rebuilt = Show({{}, {1765100000, folder + "/a-newer.zip", 5, -1, 0}, {}});

    const std::string head = "format = \"vtbox-fleet-state 1\"\ninventory = \"" + inventory.path + "\"\n";
    Write(dir / "victim", "not ours");
    const struct {
        std::string text;  // "" for a link to dir/victim
        std::string says;
    } untrusted[] = {
        {head + "[device.berlin-2nd-floor.last]\noutcome = \"done\"\nexit-code = [\n", "is damaged (line 5"},
        {head + "[device.berlin-2nd-floor.last]\nexit-code = \"three\"\n",
         "is damaged (device.berlin-2nd-floor.last.exit-code is not an integer"},
        {"format = \"vtbox-fleet-state 1\"\ninventory = \"/elsewhere/site.toml\"\n",
         "is foreign (it was written for the inventory \"/elsewhere/site.toml\""},
        {"format = \"vtbox-fleet-state 2\"\n", "is foreign (its format is \"vtbox-fleet-state 2\""},
        {head + "# " + std::string(kMaxStateBytes - head.size() - 1, 'x'), "is not read (larger than 16777216 bytes)"},
        {"", "is not read (a symbolic link)"},
    };
    for (const auto &u : untrusted) {
        SCOPED_TRACE(u.says);
        fs::remove(path);
        if (u.text.empty())
            fs::create_symlink(dir / "victim", path);
        else
            Write(path, u.text);
        loaded = LoadState(inventory, &problem);
        EXPECT_THAT(problem, HasSubstr("state file " + path + " " + u.says));
        EXPECT_THAT(problem, HasSubstr("rebuilt from the backup folders"));
        EXPECT_EQ(Show(loaded.devices["berlin-2nd-floor"]), rebuilt);
        EXPECT_EQ(Show(loaded.devices["hq.mailroom"]), Show({}));
    }
    // Written in the link's place, never through it; a file of exactly the
    // bound is read.
    ASSERT_TRUE(SaveState(inventory, saved, &error)) << error;
    EXPECT_EQ(Slurp(dir / "victim"), "not ours");
    EXPECT_FALSE(fs::is_symlink(path));
    const std::string text = Slurp(path);
    Write(path, text + "#" + std::string(kMaxStateBytes - text.size() - 1, 'x'));
    loaded = LoadState(inventory, &problem);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(Show(loaded.devices["hq.mailroom"]), Show(saved.devices["hq.mailroom"]));
}

// A port on loopback that nothing listened on a moment ago.
int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

// The node exporter with only its textfile collector, on a free loopback
// port (started again on another when one was taken meanwhile), stopped
// when the object dies.
class NodeExporter {
public:
    explicit NodeExporter(const std::string &textfiles, const std::string &logs) {
        for (int attempt = 0; attempt < 5 && !up_; ++attempt) {
            port_ = FreePort();
            const std::string log = logs + "/node-exporter-" + std::to_string(attempt) + ".log";
            pid_ = vttest::Spawn(
                {kNodeExporter, "--web.listen-address=127.0.0.1:" + std::to_string(port_),
                 "--collector.disable-defaults", "--collector.textfile", "--collector.textfile.directory=" + textfiles},
                {}, log, log);
            // Up when its own page answers (a page with its textfile
            // collector's metric is ours); a start on a port that was taken
            // meanwhile ends at once.
            for (int i = 0; i < 300 && !up_; ++i) {
                int status = 0;
                if (waitpid(pid_, &status, WNOHANG) == pid_) {
                    pid_ = -1;
                    failure_ = Slurp(log);
                    break;
                }
                up_ = Fetch().find("node_textfile_scrape_error") != std::string::npos;
                if (!up_) std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
    }
    ~NodeExporter() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool up() const { return up_; }
    const std::string &failure() const { return failure_; }
    std::string Fetch() const {
        int status = 0;
        return RunCommand("curl -sS --max-time 10 http://127.0.0.1:" + std::to_string(port_) + "/metrics", &status);
    }

private:
    pid_t pid_ = -1;
    int port_ = -1;
    bool up_ = false;
    std::string failure_;
};

// The line of one metric with the first device's labels, as served.
double Served(const std::string &page, const std::string &metric) {
    const std::string key = metric + "{device=\"berlin-2nd-floor\",group=\"berlin\",host=\"10.1.2.30\"} ";
    const size_t at = page.find("\n" + key);
    return at == std::string::npos ? -1 : std::strtod(page.c_str() + at + 1 + key.size(), nullptr);
}

TEST(FleetMetrics, PromtoolAcceptsThemAndTheNodeExporterServesThem) {
    vttest::TempDir dir;
    Inventory inventory;
    inventory.path = dir / "site.toml";
    inventory.devices = {Device("berlin-2nd-floor", "berlin", "10.1.2.30", dir / "backups"),
                         Device("hq-mailroom", "", "printer \"mail\"\\1\n", dir / "backups"),
                         Device("spare", "", "10.1.2.99", dir / "backups")};
    inventory.devices[2].enabled.value = false;
    const std::time_t now = std::time(nullptr);
    FleetState state;
    state.devices["berlin-2nd-floor"] = {
        {now - 50, "done", 0, "", 61.5}, {now - 60, dir / "backups/berlin-2nd-floor/b.zip", 7340032, 120, 58.25}, {}};
    state.devices["hq-mailroom"].last = {now - 40, "failed", 3, "wrong password", 2};
    RunFigures run{now - 100, 2, 2, 1, 100, true};
    const std::string text = MetricsText(inventory, state, run);

    // The device never backed up: no success, not up to date, and its
    // labels escaped; the disabled one has no rows.
    const std::string never = "{device=\"hq-mailroom\",group=\"\",host=\"printer \\\"mail\\\"\\\\1\\n\"} ";
    EXPECT_THAT(text, HasSubstr("\nvtbox_fleet_device_last_success_timestamp_seconds" + never + "0\n"));
    EXPECT_THAT(text, HasSubstr("\nvtbox_fleet_device_up_to_date" + never + "0\n"));
    EXPECT_THAT(text, HasSubstr("\nvtbox_fleet_device_last_exit_code" + never + "3\n"));
    EXPECT_THAT(text, Not(HasSubstr("spare")));

    // Readable by the exporter's own user whatever the umask; nothing left
    // beside it, also when it cannot take its name.
    const std::string textfiles = dir / "textfiles";
    fs::create_directories(textfiles + "/blocked.prom/inside");
    const mode_t umaskWas = umask(077);
    std::string error;
    const bool written = WriteMetrics(textfiles + "/fleet.prom", text, &error);
    EXPECT_FALSE(WriteMetrics(textfiles + "/blocked.prom", text, &error));
    umask(umaskWas);
    ASSERT_TRUE(written) << error;
    EXPECT_THAT(error, HasSubstr(textfiles + "/blocked.prom: could not replace it"));
    EXPECT_EQ(Names(textfiles), (std::vector<std::string>{"blocked.prom", "fleet.prom"}));
    EXPECT_EQ(Mode(textfiles + "/fleet.prom"), 0644u);
    fs::remove_all(textfiles + "/blocked.prom");

    if (access(kPromtool, X_OK) != 0) GTEST_SKIP() << kPromtool << " is not installed (Debian package prometheus)";
    int status = -1;
    const std::string checked =
        RunCommand(std::string(kPromtool) + " check metrics < " + textfiles + "/fleet.prom", &status);
    EXPECT_EQ(status, 0) << checked << "\n" << text;

    if (access(kNodeExporter, X_OK) != 0)
        GTEST_SKIP() << kNodeExporter << " is not installed (Debian package prometheus-node-exporter)";
    NodeExporter exporter(textfiles, dir.path());
    ASSERT_TRUE(exporter.up()) << exporter.failure();
    const std::string page = exporter.Fetch();
    EXPECT_THAT(page, HasSubstr("\nnode_textfile_scrape_error 0\n"));
    EXPECT_EQ(Served(page, "vtbox_fleet_device_last_success_timestamp_seconds"), static_cast<double>(now - 60)) << page;
    EXPECT_EQ(Served(page, "vtbox_fleet_device_last_backup_size_bytes"), 7340032.0);
    EXPECT_EQ(Served(page, "vtbox_fleet_device_last_backup_documents"), 120.0);
    EXPECT_EQ(Served(page, "vtbox_fleet_device_last_duration_seconds"), 61.5);
    EXPECT_EQ(Served(page, "vtbox_fleet_device_up_to_date"), 1.0);
    EXPECT_THAT(page, HasSubstr("\nvtbox_fleet_device_up_to_date" + never + "0\n"));
    EXPECT_THAT(page, HasSubstr("\nvtbox_fleet_run_failed_devices 1\n"));
}

}  // namespace
