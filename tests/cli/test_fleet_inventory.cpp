// The fleet's inventory: what it refuses and where it says so, which level a
// setting comes from, what "fleet check" shows of it.
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fleet_inventory.hpp"
#include "temp_dir.hpp"

namespace vtcli::fleet {
namespace {

std::string Write(const vttest::TempDir &dir, const std::string &text, mode_t mode = 0600) {
    const std::string path = dir / "fleet.toml";
    std::ofstream(path, std::ios::trunc) << text;
    chmod(path.c_str(), mode);
    return path;
}

// A sound start that each case below spoils in one place.
const std::string kBase =
    "[defaults]\n"                   // 1
    "backup-root = \"/srv/b\"\n"     // 2
    "password-file = \"/etc/p\"\n";  // 3

std::string Devices(size_t count) {
    std::string text = kBase;
    for (size_t i = 0; i < count; ++i) text += "[[device]]\nname = \"d" + std::to_string(i) + "\"\nhost = \"h\"\n";
    return text;
}

std::string Groups(size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) text += "[group.g" + std::to_string(i) + "]\n";
    return text;
}

TEST(FleetInventory, EachFaultNamesItsLineAndKey) {
    struct Case {
        const char *what;
        std::string text;
        int line;         // 0: no line
        std::string key;  // "" for a parse error or a fault of the whole file
        const char *says;
    };
    const std::string dev = "[[device]]\nname = \"a\"\nhost = \"h\"\n";  // lines 4-6 after kBase
    const std::vector<Case> cases = {
        {"toml that does not parse", kBase + dev + "port = = 3\n", 7, "", ""},
        {"unknown key, with a suggestion", kBase + dev + "keep-dialy = 3\n", 7, "keep-dialy",
         "did you mean keep-daily?"},
        {"unknown table", kBase + "[defualts]\n" + dev, 4, "defualts", "did you mean defaults?"},
        {"run key outside [fleet]", "jobs = 3\n" + kBase + dev, 1, "jobs", "belongs in [fleet]"},
        {"device-only key in [defaults]", "[defaults]\nhost = \"h\"\n" + dev, 2, "host", "[[device]] table only"},
        {"duplicate name", kBase + dev + dev, 8, "name", "named at line 5 already"},
        {"unsafe name", kBase + "[[device]]\nname = \"../x\"\nhost = \"h\"\n", 5, "name", "not a safe name"},
        {"name one over its length", kBase + "[[device]]\nname = \"" + std::string(65, 'n') + "\"\nhost = \"h\"\n", 5,
         "name", "1 to 64"},
        {"host a shell would split", kBase + "[[device]]\nname = \"a\"\nhost = \"h;reboot\"\n", 6, "host",
         "not a host name"},
        {"wrong type", kBase + dev + "port = \"80\"\n", 7, "port", "must be an integer, not a string"},
        {"number out of range", kBase + dev + "ftp-port = 65536\n", 7, "ftp-port", "from 1 to 65535"},
        {"group that does not exist", "[group.berlin]\n" + kBase + dev + "group = \"berlinn\"\n", 8, "group",
         "did you mean berlin?"},
        {"unsafe group name", kBase + "[group.\"a b\"]\n" + dev, 4, "group.a b", "not a safe group name"},
        {"missing name", kBase + "[[device]]\nhost = \"h\"\n", 4, "name", "needs a name"},
        {"missing host", kBase + "[[device]]\nname = \"a\"\n", 4, "host", "needs a host"},
        {"missing backup-root", "[defaults]\npassword = \"x\"\n" + dev, 3, "backup-root", "has no backup-root"},
        {"missing password", "[defaults]\nbackup-root = \"/b\"\n" + dev, 3, "password", "has no password"},
        {"two passwords at one level", kBase + dev + "password-file = \"/p\"\npassword-command = \"pass a\"\n", 8,
         "password-command", "password-file is given here too (line 7)"},
        {"relative backup-root", kBase + dev + "backup-root = \"b\"\n", 7, "backup-root", "absolute path"},
        {"relative password-file", kBase + dev + "password-file = \"%n.pw\"\n", 7, "password-file", "absolute path"},
        {"boxes vtbox refuses", kBase + dev + "boxes = \"3-1\"\n", 7, "boxes", "\"3-1\""},
        {"file-name with a folder", kBase + dev + "file-name = \"x/%n.zip\"\n", 7, "file-name", "without '/'"},
        {"file-name with an unknown field", kBase + dev + "file-name = \"%n-%Q.zip\"\n", 7, "file-name",
         "the output name \"%n-%Q.zip\" holds %Q"},
        {"file-name one over a file name's length", kBase + dev + "file-name = \"%n%N" + std::string(183, 'z') + "\"\n",
         7, "file-name", "longer than a file name may be"},
        {"duration of unknown form", kBase + dev + "stale-after = \"2y\"\n", 7, "stale-after", "\"2y\""},
        {"duration one over a year", kBase + dev + "retry-delay = 31536001\n", 7, "retry-delay", "to 365d"},
        {"timeout one over its bound", kBase + dev + "timeout = 3601\n", 7, "timeout", "from 1s to 1h, not 1h1s"},
        {"jobs one over its bound", kBase + dev + "[fleet]\njobs = 65\n", 8, "jobs", "from 1 to 64"},
        {"jobs zero", kBase + dev + "[fleet]\njobs = 0\n", 8, "jobs", "from 1 to 64"},
        {"hook not an array", kBase + dev + "on-success = \"/bin/true\"\n", 7, "on-success", "array of strings"},
        {"hook empty", kBase + dev + "on-failure = []\n", 7, "on-failure", "must name a program"},
        {"hook relative path", kBase + dev + "on-finish = [\"bin/mail\"]\n", 7, "on-finish", "absolute path"},
        {"hook with a number", kBase + "[fleet]\non-run-end = [\"/bin/x\", 3]\n" + dev, 5, "on-run-end",
         "strings only"},
        {"one [device] table", kBase + "[device]\nname = \"a\"\n", 4, "device", "[[device]] tables"},
        {"no device", kBase, 0, "", "names no device"},
        {"one device over the bound", Devices(10001), 4, "device", "more than 10000 devices"},
        {"one group over the bound", kBase + dev + Groups(10001), 7, "group", "more than 10000 groups"},
        {"file over its bound", kBase + dev + "#" + std::string(1024 * 1024, 'x') + "\n", 0, "", "larger than"},
    };
    vttest::TempDir dir;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Write(dir, c.text);
        Inventory inv;
        std::string error;
        ASSERT_FALSE(LoadInventory(path, &inv, &error));
        std::string where = path + (c.line ? ":" + std::to_string(c.line) : "") + ": ";
        if (!c.key.empty()) where += c.key + ": ";
        EXPECT_EQ(error.rfind(where, 0), 0u) << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

TEST(FleetInventory, DeviceBeatsGroupBeatsDefaultsBeatsBuiltIn) {
    const std::string name64(64, 'n');
    const std::string text =
        "[defaults]\n"                          // 1
        "backup-root = \"/srv/b/\"\n"           // 2
        "password-file = \"/etc/p\"\n"          // 3
        "keep-daily = 3\n"                      // 4
        "port = 81\n"                           // 5
        "stale-after = \"1d12h\"\n"             // 6
        "[group.berlin]\n"                      // 7
        "password-command = \"pass show b\"\n"  // 8
        "port = 82\n"                           // 9
        "retry-delay = \"365d\"\n"              // 10
        "file-name = \"%n%N" +
        std::string(182, 'z') +
        "\"\n"                                           // 11
        "[[device]]\n"                                   // 12
        "name = \"a\"\n"                                 // 13
        "host = \"10.0.0.1\"\n"                          // 14
        "group = \"berlin\"\n"                           // 15
        "port = 83\n"                                    // 16
        "on-success = [\"curl\", \"-fsS\", \"it's\"]\n"  // 17
        "[[device]]\n"                                   // 18
        "name = \"" +
        name64 +
        "\"\n"                  // 19
        "host = \"[::1]\"\n"    // 20
        "group = \"berlin\"\n"  // 21
        "timeout = 3600\n"      // 22
        "[[device]]\n"          // 23
        "name = \"c\"\n"        // 24
        "host = \"h\"\n"        // 25
        "[fleet]\n"             // 26
        "jobs = 64\n";          // 27
    vttest::TempDir dir;
    const std::string path = Write(dir, text);
    Inventory inv;
    std::string error;
    ASSERT_TRUE(LoadInventory(path, &inv, &error)) << error;
    ASSERT_EQ(inv.devices.size(), 3u);
    const DeviceConfig &a = inv.devices[0], &b = inv.devices[1], &c = inv.devices[2];

    // port: each level in turn.
    EXPECT_EQ(a.port.value, 83u);
    EXPECT_EQ(SourceText(a.port.from), "device:16");
    EXPECT_EQ(b.port.value, 82u);
    EXPECT_EQ(SourceText(b.port.from), "group berlin:9");
    EXPECT_EQ(c.port.value, 81u);
    EXPECT_EQ(SourceText(c.port.from), "defaults:5");
    EXPECT_EQ(c.ftpPort.value, 21u);
    EXPECT_EQ(SourceText(c.ftpPort.from), "built-in");
    // The group's password source replaces the defaults' whole.
    EXPECT_EQ(a.passwordCommand.value, "pass show b");
    EXPECT_EQ(a.passwordFile.value, "");
    EXPECT_EQ(c.passwordFile.value, "/etc/p");
    EXPECT_EQ(c.passwordCommand.value, "");
    EXPECT_EQ(a.Folder(), "/srv/b/a");
    EXPECT_EQ(a.staleAfterSeconds.value, 36 * 3600u);
    EXPECT_EQ(b.retryDelaySeconds.value, 365 * 86400u);
    EXPECT_EQ(b.timeoutSeconds.value, 3600u);
    EXPECT_EQ(b.fileName.value, name64 + "%N" + std::string(182, 'z'));  // the longest a file name may take
    EXPECT_EQ(c.fileName.value, "c-%Y%m%d-%N.zip");
    EXPECT_EQ(inv.run.jobs.value, 64u);
    EXPECT_EQ(SourceText(inv.run.jobs.from), "fleet:27");
    EXPECT_EQ(inv.groups, std::vector<std::string>{"berlin"});

    // What "fleet check" shows: every setting with its value and source.
    const std::string report = CheckReport(inv, false);
    EXPECT_NE(report.find("a  host 10.0.0.1  group berlin  (line 12)\n"), std::string::npos) << report;
    EXPECT_NE(report.find("password-command   pass show b"), std::string::npos) << report;
    EXPECT_NE(report.find("stale-after        1d12h"), std::string::npos) << report;
    EXPECT_NE(report.find("curl -fsS 'it'\\''s'"), std::string::npos) << report;
    const std::string json = CheckReport(inv, true);
    EXPECT_NE(json.find("{\"type\":\"device\",\"name\":\"a\",\"line\":12,\"host\":\"10.0.0.1\",\"group\":\"berlin\""),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"port\":{\"value\":83,\"from\":\"device:16\"}"), std::string::npos) << json;
    EXPECT_NE(json.find("\"keep-daily\":{\"value\":3,\"from\":\"defaults:4\"}"), std::string::npos) << json;
    EXPECT_NE(json.find("\"on-success\":{\"value\":[\"curl\",\"-fsS\",\"it's\"],\"from\":\"device:17\"}"),
              std::string::npos)
        << json;
    EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 4);  // [fleet] and three devices

    // Durations as the design writes them, and as check shows them back.
    uint64_t seconds = 0;
    EXPECT_TRUE(ParseDuration("1h30m", &seconds) && FormatDuration(seconds) == "1h30m");
    EXPECT_TRUE(ParseDuration("90", &seconds) && FormatDuration(seconds) == "1m30s");
    EXPECT_FALSE(ParseDuration("30m1h", &seconds) || ParseDuration("1h1h", &seconds) || ParseDuration("h", &seconds));

    // As many devices and groups as an inventory may hold (one more is refused above).
    ASSERT_TRUE(LoadInventory(Write(dir, Devices(10000) + Groups(10000)), &inv, &error)) << error;
    EXPECT_EQ(inv.devices.size(), 10000u);
    EXPECT_EQ(inv.groups.size(), 10000u);
}

TEST(FleetInventory, FillsNameAndHostAndKeepsAnInlinePasswordPrivate) {
    const std::string text =
        "[defaults]\n"                                           // 1
        "backup-root = \"/b\"\n"                                 // 2
        "password-file = \"/etc/vtbox/%n@%h.pw\"\n"              // 3
        "file-name = \"%n-100%%-%Y.zip\"\n"                      // 4
        "[group.g]\n"                                            // 5
        "password-command = \"pass show %h/%n %%n date +%s\"\n"  // 6
        "[[device]]\n"                                           // 7
        "name = \"a\"\n"                                         // 8
        "host = \"pr.example.org\"\n"                            // 9
        "[[device]]\n"                                           // 10
        "name = \"b\"\n"                                         // 11
        "host = \"10.0.0.2\"\n"                                  // 12
        "group = \"g\"\n"                                        // 13
        "[[device]]\n"                                           // 14
        "name = \"c\"\n"                                         // 15
        "host = \"h\"\n"                                         // 16
        "password = \"s3cret\"\n";                               // 17
    vttest::TempDir dir;
    Inventory inv;
    std::string error;
    // Group and others may read it: the inline password is refused, naming the mode.
    std::string path = Write(dir, text, 0640);
    ASSERT_FALSE(LoadInventory(path, &inv, &error));
    EXPECT_EQ(error, path +
                         ":17: password: the inventory holds a password and can be read by others (mode 640); make "
                         "it private with: chmod 600 " +
                         path + ", or use password-file or password-command");
    // Without the inline password the same file is sound.
    path = Write(dir, text.substr(0, text.rfind("password = ")), 0644);
    ASSERT_TRUE(LoadInventory(path, &inv, &error)) << error;

    path = Write(dir, text, 0600);
    ASSERT_TRUE(LoadInventory(path, &inv, &error)) << error;
    ASSERT_EQ(inv.devices.size(), 3u);
    EXPECT_EQ(inv.devices[0].passwordFile.value, "/etc/vtbox/a@pr.example.org.pw");
    EXPECT_EQ(inv.devices[0].fileName.value, "a-100%%-%Y.zip");  // vtbox's own fields left for vtbox
    EXPECT_EQ(inv.devices[1].passwordCommand.value, "pass show 10.0.0.2/b %n date +%s");
    EXPECT_EQ(inv.devices[2].password.value, "s3cret");
    EXPECT_EQ(SourceText(inv.devices[2].password.from), "device:17");
    for (bool json : {false, true}) {
        const std::string report = CheckReport(inv, json);
        EXPECT_EQ(report.find("s3cret"), std::string::npos) << report;
        EXPECT_NE(report.find("(inline)"), std::string::npos) << report;
    }
}

}  // namespace
}  // namespace vtcli::fleet
