// The fleet's state file: a state that reads back as it was written, a
// state that cannot be trusted (damaged, foreign, a link, too large)
// reported and rebuilt from the backup folders.
#include <gmock/gmock.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fleet_state.hpp"
#include "temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
using namespace vtcli::fleet;
using ::testing::HasSubstr;

constexpr size_t kMaxStateBytes = 16 * 1024 * 1024;

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
    struct stat st{};
    lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

std::string Show(const DeviceState &s) {
    std::ostringstream out;
    out << s.last.time << "|" << s.last.outcome << "|" << s.last.exitCode << "|" << s.last.reason << "|"
        << s.last.seconds << "|" << s.success.time << "|" << s.success.file << "|" << s.success.size << "|"
        << s.success.documents << "|" << s.success.seconds;
    return out.str();
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
                                         {1764900000, "/srv/b/berlin-2nd-floor/x.zip", 123456789, 42, 300.25}};
    saved.devices["hq.mailroom"].last = {1765000100, "done", 0, "", 1};
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
    const std::string rebuilt = Show({{}, {1765100000, folder + "/a-newer.zip", 5, -1, 0}});

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
        {head + "# " + std::string(kMaxStateBytes - head.size() - 1, 'x'),
         "is not read (larger than 16777216 bytes)"},
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

}  // namespace
