// vtbox fleet against simulated devices on loopback addresses of their own:
// one run with every fault a fleet meets at night, and the stops (Ctrl-C, a
// second run, a run killed outright).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "closed_port.hpp"
#include "json_reader.hpp"
#include "sim_device.hpp"
#include "spawn.hpp"

namespace {

using Clock = std::chrono::steady_clock;

std::string Slurp(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void Write(const std::string &path, const std::string &text, mode_t mode = 0600) {
    std::ofstream(path) << text;
    chmod(path.c_str(), mode);
}

std::vector<vtcli::JsonFields> JsonLines(const std::string &text) {
    std::vector<vtcli::JsonFields> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        vtcli::JsonFields f;
        EXPECT_TRUE(vtcli::ParseJsonObject(line, &f)) << "not one JSON object: " << line;
        out.push_back(f);
    }
    return out;
}

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};

// A small store: the fleet's behaviour, not the size of a backup, is tested.
vttest::SimOptions Small(int n) {
    vttest::SimOptions o;
    o.seed.boxes = 1;
    o.seed.folders = 1;
    o.seed.docs = 2;
    o.seed.pages = 1;
    o.address = "127.0.0." + std::to_string(2 + n);
    return o;
}

class Fleet : public ::testing::Test {
protected:
    void SetUp() override {
        mkdir((dir / "pw").c_str(), 0700);
        mkdir((dir / "root").c_str(), 0700);
        Write(dir / "pw/admin", "admin\n");
    }

    vttest::SimDevice &Add(const std::string &name) {
        sims[name] = std::make_unique<vttest::SimDevice>(Small(static_cast<int>(sims.size())));
        return *sims[name];
    }

    // A [[device]] table for a simulated device, with extra lines.
    std::string Device(const std::string &name, const std::string &extra = "") {
        vttest::SimDevice &s = *sims.at(name);
        return "[[device]]\nname = \"" + name + "\"\nhost = \"" + s.address +
               "\"\nport = " + std::to_string(s.device->HttpPort()) +
               "\nftp-port = " + std::to_string(s.device->FtpPort()) + "\n" + extra + "\n";
    }

    std::string Defaults(const std::string &extra = "") {
        return "[defaults]\nbackup-root = \"" + dir / "root" + "\"\npassword-file = \"" + dir / "pw/admin" +
               "\"\nretries = 1\nretry-delay = \"1s\"\nkeep-last = 2\n" + extra + "\n";
    }

    // Runs vtbox fleet; during (when given) runs on this thread once it has
    // started, with its process id.
    RunResult Vtbox(const std::vector<std::string> &args, const std::function<void(pid_t)> &during = {},
                    const std::vector<std::string> &prefix = {}) {
        vttest::TempDir io;
        std::vector<std::string> full = prefix;
        full.push_back(VTBOX_PROGRAM);
        full.insert(full.end(), args.begin(), args.end());
        std::fflush(nullptr);
        // Nothing of the caller's device settings may reach the devices' jobs.
        pid_t pid = vttest::Spawn(full,
                                  {{"XDG_STATE_HOME", dir / "state"},
                                   {"HOME", dir.path()},
                                   {"VTBOX_RELEASE_SECONDS", "10"},
                                   {"VTBOX_PASSWORD", "leaked"},
                                   {"VTBOX_HOST", "192.0.2.1"}},
                                  io / "out", io / "err");
        if (during) during(pid);
        int status = 0;
        auto start = Clock::now();
        bool ended = false;
        while (!ended && Clock::now() - start < std::chrono::seconds(180)) {
            ended = waitpid(pid, &status, WNOHANG) == pid;
            if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!ended) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "vtbox fleet still ran after 180 s";
        }
        RunResult r;
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.out = Slurp(io / "out");
        r.err = Slurp(io / "err");
        return r;
    }

    // Waits until a device's job has written its job record, and returns the
    // process it names.
    pid_t WaitForJob(const std::string &name) {
        vttest::SimDevice &s = *sims.at(name);
        std::string record = dir / ("state/vtbox/jobs/" + s.address + "_" + std::to_string(s.device->HttpPort()));
        for (int i = 0; i < 1500; ++i) {
            std::string text = Slurp(record);
            size_t at = text.find("pid ");
            if (at != std::string::npos && text.find("login ") != std::string::npos)
                return static_cast<pid_t>(std::atoi(text.c_str() + at + 4));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ADD_FAILURE() << "no job record for " << name;
        return 0;
    }

    vttest::TempDir dir;
    std::map<std::string, std::unique_ptr<vttest::SimDevice>> sims;
};

const vtcli::JsonFields *Row(const std::vector<vtcli::JsonFields> &lines, const std::string &device) {
    static vtcli::JsonFields found;
    for (const auto &l : lines)
        if (l.Text("type") == "device" && l.Text("event") == "end" && l.Text("device") == device) {
            found = l;
            return &found;
        }
    return nullptr;
}

// One night of a fleet: three good devices among one that does not answer,
// one with a wrong password, one that freezes mid-backup past its time
// limit, one that another job holds, one whose password command fails and
// one whose folder may not be written. Each ends with its own reason in the
// JSON, the state and the metrics; the good backups are whole; every device
// is released.
TEST_F(Fleet, EveryFaultEndsWithItsOwnReasonAndTheOthersAreWhole) {
    for (const char *n :
         {"good-1", "good-2", "good-3", "wrong-password", "frozen", "locked", "no-password", "read-only"})
        Add(n);
    vttest::ClosedPort closed;
    Write(dir / "pw/wrong", "not-the-password\n");
    sims["frozen"]->faults().FreezeInTransfer(devicesim::FreezeScope::Ftp, 1, 1, 0);
    // Another job holds this one.
    VTMFPSESSION other = sims["locked"]->Session();
    ASSERT_EQ(vtBoxOpenConnection(&other), 0u);
    uint32_t deviceTime = 0;
    ASSERT_EQ(vtBoxLockUiJob(&other, "admin", 0, &deviceTime), 0u);
    mkdir((dir / "root/read-only").c_str(), 0500);

    const std::string hookLog = dir / "hooks.log";
    std::string inventory =
        Defaults(
            "on-finish = [\"/bin/sh\", \"-c\", \"echo \\\"$VTBOX_DEVICE $VTBOX_OUTCOME $VTBOX_EXIT_CODE "
            "$VTBOX_GROUP\\\" >> " +
            hookLog + "\"]") +
        "[group.site-a]\nkeep-last = 1\n\n" + Device("good-1", "group = \"site-a\"") +
        Device("good-2", "group = \"site-a\"") +
        Device("good-3", "on-success = [\"/bin/sleep\", \"30\"]\nhook-time-limit = \"1s\"") +
        "[[device]]\nname = \"silent\"\nhost = \"127.0.0.1\"\nport = " + std::to_string(closed.port()) + "\n\n" +
        Device("wrong-password", "password-file = \"" + dir / "pw/wrong" + "\"") +
        Device("frozen", "device-time-limit = \"4s\"") + Device("locked") +
        Device("no-password", "password-command = \"exit 3\"") + Device("read-only") +
        "[[device]]\nname = \"switched-off\"\nhost = \"127.0.0.1\"\nenabled = false\n";
    Write(dir / "fleet.toml", inventory);
    const std::string metrics = dir / "metrics/fleet.prom";
    mkdir((dir / "metrics").c_str(), 0755);

    // The bounding set loses the override of file permissions, so that the
    // read-only folder is read-only for a test run as root too.
    std::vector<std::string> args = {"fleet", "backup", dir / "fleet.toml", "--jobs",
                                     "4",     "--json", "--metrics",        metrics};
    std::vector<std::string> asUser;
    if (geteuid() == 0) asUser = {"/usr/bin/setpriv", "--bounding-set=-dac_override,-dac_read_search,-fowner"};
    RunResult r = Vtbox(args, {}, asUser);
    vtBoxUnlockUiJob(&other, "admin", 0);
    vtBoxCloseConnection(&other);
    EXPECT_EQ(r.exitCode, 12) << r.out << r.err;
    const auto lines = JsonLines(r.out);
    ASSERT_FALSE(lines.empty());
    const vtcli::JsonFields &summary = lines.back();
    EXPECT_EQ(summary.Text("type"), "summary");
    EXPECT_EQ(summary.Integer("devices"), 9);
    EXPECT_EQ(summary.Integer("failed"), 6);

    // Each device's own exit code and words; the busy and the silent one
    // were tried again, the others not.
    const std::map<std::string, std::pair<int, std::string>> expected = {
        {"silent", {6, "refuses connections"}},
        {"wrong-password", {4, "password"}},
        {"frozen", {130, "device-time-limit"}},
        {"locked", {5, "another job holds the device"}},
        {"no-password", {2, "password command"}},
        {"read-only", {9, "read-only"}},
        {"good-1", {0, ""}},
        {"good-2", {0, ""}},
        {"good-3", {0, ""}}};
    const std::string prom = Slurp(metrics);
    for (const auto &[device, want] : expected) {
        SCOPED_TRACE(device);
        const vtcli::JsonFields *row = Row(lines, device);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->Integer("exitCode"), want.first) << row->Text("reason");
        EXPECT_NE(row->Text("reason").find(want.second), std::string::npos) << row->Text("reason");
        int retries = 0;
        for (const auto &l : lines) retries += l.Text("event") == "retry" && l.Text("device") == device;
        EXPECT_EQ(retries, device == "silent" || device == "locked" ? 1 : 0);
        EXPECT_NE(prom.find("vtbox_fleet_device_last_exit_code{device=\"" + device + "\""), std::string::npos);
        if (want.first == 0) {
            const std::string file = row->Text("file");
            EXPECT_EQ(file.rfind(dir / ("root/" + device + "/" + device + "-"), 0), 0u) << file;
            RunResult verify = Vtbox({"verify", file});
            EXPECT_EQ(verify.exitCode, 0) << verify.out << verify.err;
        }
        if (sims.count(device)) vttest::ExpectDeviceReleased(*sims[device]);
    }
    EXPECT_EQ(Row(lines, "switched-off"), nullptr);
    EXPECT_NE(Row(lines, "good-3")->Text("notes").find("hook on-success was stopped after its time limit of 1s"),
              std::string::npos);
    // Every device's on-finish hook ran with its facts.
    const std::string hooks = Slurp(hookLog);
    EXPECT_NE(hooks.find("good-1 done 0 site-a"), std::string::npos) << hooks;
    EXPECT_NE(hooks.find("wrong-password failed 4 "), std::string::npos) << hooks;
    EXPECT_NE(prom.find("vtbox_fleet_run_failed_devices 6"), std::string::npos) << prom;
    if (access("/usr/bin/promtool", X_OK) == 0) {
        std::string check = "/usr/bin/promtool check metrics < '" + metrics + "' > '" + dir / "promtool.out" + "' 2>&1";
        EXPECT_EQ(std::system(check.c_str()), 0) << Slurp(dir / "promtool.out");
    }

    // The state keeps each device's reason, and status names the stale ones:
    // every device that failed has never had a good backup.
    RunResult status = Vtbox({"fleet", "status", dir / "fleet.toml", "--json"});
    EXPECT_EQ(status.exitCode, 13) << status.err;
    for (const auto &l : JsonLines(status.out)) {
        if (l.Text("type") != "device") continue;
        const std::string device = l.Text("device");
        SCOPED_TRACE(device);
        if (device == "switched-off") continue;
        EXPECT_EQ(l.Text("stale"), expected.at(device).first == 0 ? "false" : "true");
        EXPECT_EQ(l.Integer("lastExitCode"), expected.at(device).first);
        EXPECT_NE(l.Text("lastReason").find(expected.at(device).second), std::string::npos);
    }
}

// Ctrl-C ends a run as it ends one vtbox: nothing new starts, the running
// device is released, the report is printed. A second run of the inventory
// meanwhile is refused, naming the first. A run killed outright, its
// device's job with it, leaves a job record that the next run releases.
TEST_F(Fleet, StopsAndARunKilledOutright) {
    for (const char *n : {"first", "second", "third"}) Add(n);
    sims["first"]->faults().FreezeInTransfer(devicesim::FreezeScope::Ftp, 1, 1, 0);
    Write(dir / "fleet.toml", Defaults() + Device("first") + Device("second") + Device("third"));

    RunResult second;
    RunResult r = Vtbox({"fleet", "backup", dir / "fleet.toml", "--jobs", "1"}, [&](pid_t fleet) {
        WaitForJob("first");
        second = Vtbox({"fleet", "backup", dir / "fleet.toml"});
        EXPECT_NE(second.err.find("(process " + std::to_string(fleet) + ")"), std::string::npos) << second.err;
        kill(fleet, SIGINT);
    });
    EXPECT_EQ(second.exitCode, 5);
    EXPECT_EQ(r.exitCode, 130) << r.out << r.err;
    EXPECT_NE(r.out.find("0 of 3 devices backed up, 3 failed"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("not started: the run was stopped"), std::string::npos) << r.out;
    EXPECT_EQ(sims["second"]->RequestCount(), 0u);
    EXPECT_EQ(sims["third"]->RequestCount(), 0u);
    vttest::ExpectDeviceReleased(*sims["first"]);

    // Killed outright: the fleet and its device's vtbox, as a service's
    // whole control group is killed.
    sims["first"]->faults().Thaw();
    sims["first"]->faults().FreezeInTransfer(devicesim::FreezeScope::Ftp, 1, 1, 0);
    RunResult killed = Vtbox({"fleet", "backup", dir / "fleet.toml", "--device", "first"}, [&](pid_t fleet) {
        pid_t job = WaitForJob("first");
        kill(job, SIGKILL);
        kill(fleet, SIGKILL);
    });
    EXPECT_EQ(killed.exitCode, 128 + SIGKILL);
    sims["first"]->faults().Thaw();
    RunResult next = Vtbox({"fleet", "backup", dir / "fleet.toml", "--device", "first", "--json"});
    EXPECT_EQ(next.exitCode, 0) << next.out << next.err;
    bool unlocked = false;
    for (const auto &l : JsonLines(next.out)) unlocked = unlocked || l.Text("event") == "unlock";
    EXPECT_TRUE(unlocked) << next.out;
    vttest::ExpectDeviceReleased(*sims["first"]);
}

}  // namespace
