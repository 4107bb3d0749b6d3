#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "config.hpp"
#include "conversion_report.hpp"
#include "options.hpp"
#include "progress_bar.hpp"
#include "temp_dir.hpp"
#include "text_output.hpp"

namespace {

bool Parse(std::vector<std::string> args, vtcli::Options *o, std::string *error) {
    std::vector<char *> argv{const_cast<char *>("vtbox")};
    for (auto &a : args) argv.push_back(a.data());
    return vtcli::ParseOptions(static_cast<int>(argv.size()), argv.data(), o, error);
}

TEST(CliOptions, BackupAndRestoreCommandLines) {
    vtcli::Options o;
    std::string error;
    ASSERT_TRUE(Parse(
        {"--host=10.0.0.5", "--port", "8081", "backup", "--ftp-port=2121", "--boxes", "1-3,7,2", "-ob.zip", "--verify"},
        &o, &error))
        << error;
    EXPECT_EQ(*o.host, "10.0.0.5");
    EXPECT_EQ(*o.port, 8081u);
    EXPECT_EQ(*o.ftpPort, 2121u);
    EXPECT_EQ(o.boxes, (std::vector<uint32_t>{1, 2, 3, 7}));  // a range, a repeated box once
    EXPECT_EQ(o.output, "b.zip");
    EXPECT_TRUE(o.verify);

    vtcli::Options r;
    ASSERT_TRUE(Parse({"restore", "-i", "b.zip", "--boxes=all", "--mode=replace", "-n", "--json", "-q"}, &r, &error))
        << error;
    EXPECT_TRUE(r.allBoxes && r.dryRun && r.json && r.quiet);
    EXPECT_EQ(r.mode, 1u);
    EXPECT_FALSE(r.host) << "unset until the environment or the file is asked";
    vtcli::Options i;
    ASSERT_TRUE(Parse({"verify", "b.zip", "--json"}, &i, &error));
    EXPECT_EQ(i.input, "b.zip");
    vtcli::Options v;
    ASSERT_TRUE(Parse({"--version"}, &v, &error));
    EXPECT_EQ(v.command, "version");
}

TEST(CliOptions, UsageErrorsSayWhatIsWrong) {
    struct Case {
        std::vector<std::string> args;
        const char *says;
    } cases[] = {
        {{"backup", "--output", "x"}, "--boxes"},
        {{"backup", "--boxes", "0", "--output", "x"}, "1 to 999"},
        {{"backup", "--boxes", "1,,2", "--output", "x"}, "1 to 999"},
        {{"backup", "--boxes", "5-3", "--output", "x"}, "ranges"},
        {{"backup", "--boxes", "1000", "--output", "x"}, "1 to 999"},
        {{"--port", "70000", "boxes"}, "--port"},
        {{"--password", "secret", "boxes"}, "never taken from the command line"},
        {{"--password=secret", "boxes"}, "never taken from the command line"},
        {{"restore", "--input", "b", "--boxes", "1", "--mode", "merge"}, "replace or keep-both"},
        {{"restore", "--input", "b", "--boxes", "1"}, "--mode"},
        {{"frobnicate"}, "unknown command \"frobnicate\""},
        {{"restroe"}, "did you mean restore?"},
        {{"boxes", "--jsn"}, "did you mean --json?"},
        {{"backup", "--outptu", "x"}, "did you mean --output?"},
        {{"info", "--host", "h", "b.zip"}, "info does not take --host"},
        {{"boxes", "--mode", "replace"}, "boxes does not take --mode"},
        {{"backup", "--dry-run", "--boxes", "1", "-o", "x"}, "backup does not take --dry-run"},
        {{"info", "a.zip", "b.zip"}, "info takes one backup file; unexpected \"b.zip\""},
        {{"boxes", "extra"}, "boxes takes no arguments; unexpected \"extra\""},
        {{"boxes", "--json=yes"}, "--json takes no value"},
        {{"boxes", "-q", "-v"}, "exclude each other"},
        {{"boxes", "--host"}, "--host needs a value"},
        {{}, "no command"},
        {{"restore", "-i", "b", "--boxes", "1", "--only", "1/D2", "--mode", "replace"}, "--boxes or --only, not both"},
        {{"restore", "-i", "b", "--only", "", "--mode", "replace"}, "--only needs a path"},
        {{"ls", "b.zip", "1/F1", "1/F2"}, "one path at most"},
        {{"find", "b.zip"}, "find needs a pattern"},
        {{"find", "b.zip", "a", "b"}, "one pattern (quote it)"},
        {{"extract", "b.zip", "1/D1"}, "-o DIR"},
        {{"ls", "--host", "h", "b.zip"}, "ls does not take --host"},
    };
    for (const Case &c : cases) {
        vtcli::Options o;
        std::string error;
        EXPECT_FALSE(Parse(c.args, &o, &error)) << c.says;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

TEST(CliOptions, ConvertNeedsNoDevice) {
    vtcli::Options o;
    std::string error;
    ASSERT_TRUE(Parse({"convert", "backup", "a.zip", "b.zip", "--to", "Korvo-C V1.3.0.0"}, &o, &error)) << error;
    EXPECT_EQ(o.convertWhat, "backup");
    EXPECT_EQ(o.source, "a.zip");
    EXPECT_EQ(o.destination, "b.zip");
    EXPECT_EQ(o.toVersion, "Korvo-C V1.3.0.0");
    vtcli::Options h;
    EXPECT_TRUE(Parse({"convert", "--help"}, &h, &error)) << error;
    for (const std::vector<std::string> &bad : {std::vector<std::string>{"convert"},
                                                {"convert", "restore", "a", "b", "--to", "V"},
                                                {"convert", "backup", "a", "--to", "V"},
                                                {"convert", "archive", "a", "b"},
                                                {"convert", "summary", "--to", "V"},
                                                {"convert", "backup", "a", "b", "--to", "V", "--host", "h"}}) {
        vtcli::Options x;
        EXPECT_FALSE(Parse(bad, &x, &error)) << bad.size();
    }
}

// The tally reads the engine's box and document lines; names may hold the
// very words the lines are made of.
TEST(CliConversionReport, CountsPerBoxAndFilterWhateverTheNames) {
    vtcli::ConversionReport report;
    OutputDebugStringA("\n Converting Box -->7 Scans bDelete = 1 Flag = 7  \n");
    OutputDebugStringA("Deleting WidePaper Document ");
    OutputDebugStringA(
        "Doc Details---->>> Box = B , Folder = , Document = x bDelete = 1 Flag = 7  bDelete = 1 Flag = 3 ");
    OutputDebugStringA("Doc Details---->>> Box = B , Folder = F, Document = y bDelete = 0 Flag = 0 ");
    OutputDebugStringA("\n Converting Box -->12 Other  \n");
    OutputDebugStringA("Doc Details---->>> Box = O , Folder = , Document = z bDelete = 1 Flag = 4 ");
    auto boxes = report.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].box, 7u);
    EXPECT_EQ(boxes[0].name, "Scans bDelete = 1 Flag = 7");
    EXPECT_EQ(boxes[0].kept, 1u);
    EXPECT_EQ(boxes[0].removed, 1u);
    EXPECT_EQ(boxes[0].colour, 1u);
    EXPECT_EQ(boxes[0].widePaper, 1u);
    EXPECT_EQ(boxes[0].copyMix, 0u);
    EXPECT_EQ(boxes[1].box, 12u);
    EXPECT_EQ(boxes[1].copyMix, 1u);
    vtcli::BoxTally total = report.Total();
    EXPECT_EQ(total.kept, 1u);
    EXPECT_EQ(total.removed, 2u);
}

TEST(CliOutput, JsonStringsAreAlwaysValid) {
    EXPECT_EQ(vtcli::JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
    EXPECT_EQ(vtcli::JsonString("Z\xc3\xbcrich \xe6\x9b\xb8"), "\"Z\xc3\xbcrich \xe6\x9b\xb8\"");
    EXPECT_EQ(vtcli::JsonString("bad \xff byte \xc3"), "\"bad \xef\xbf\xbd byte \xef\xbf\xbd\"");
}

// Wide characters take two columns; the bar never reaches the last column,
// so the terminal never wraps it.
TEST(CliProgressBar, FitsTheTerminalByDisplayWidth) {
    EXPECT_EQ(vtcli::DisplayWidth("abc"), 3u);
    EXPECT_EQ(vtcli::DisplayWidth("\xe6\x9b\xb8\xe9\xa1\x9e"), 4u);  // two CJK characters
    EXPECT_EQ(vtcli::DisplayWidth("Zu\xcc\x88rich"), 6u);            // u + combining diaeresis
    EXPECT_EQ(vtcli::FitToWidth("ab\xe6\x9b\xb8", 3), "ab");         // a wide character is never halved
    EXPECT_EQ(vtcli::FitToWidth("ab\xe6\x9b\xb8", 4), "ab\xe6\x9b\xb8");

    VTPROGRESSINFO p{};
    p.Percent = 42;
    p.Phase = VTPHASE_DOWNLOADING;
    p.DocsDone = 3;
    p.DocsTotal = 9;
    std::string name;
    for (int i = 0; i < 40; ++i) name += "\xe6\x9b\xb8";  // 80 columns of box name
    std::snprintf(p.BoxName, sizeof p.BoxName, "%s", name.c_str());
    vtcli::ProgressBar bar("backup", [](const VTPROGRESSINFO &) { return uint64_t{1} << 20; });
    for (size_t width : {20u, 41u, 80u, 200u}) {
        std::string line = bar.BarLine(p, width);
        EXPECT_LE(vtcli::DisplayWidth(line), width - 1) << width;
        EXPECT_NE(line.find("42%"), std::string::npos) << line;
    }
    EXPECT_EQ(vtcli::FormatDuration(125), "2:05");
    EXPECT_EQ(vtcli::FormatRate(1.5e6), "1.5 MB/s");
}

// The environment and the configuration file for one test.
struct Scene {
    vttest::TempDir dir;
    vttest::ScopedEnv xdg{"XDG_CONFIG_HOME", dir.path()};
    std::vector<std::unique_ptr<vttest::ScopedEnv>> env;
    Scene() {
        for (const char *name : {"VTBOX_HOST", "VTBOX_PORT", "VTBOX_FTP_PORT", "VTBOX_PASSWORD", "VTBOX_PASSWORD_FILE",
                                 "VTBOX_PASSWORD_COMMAND", "VTBOX_TIMEOUT", "VTBOX_PASSWORD_COMMAND_SECONDS"}) {
            env.push_back(std::make_unique<vttest::ScopedEnv>(name, ""));
            unsetenv(name);
        }
        std::filesystem::create_directories(dir / "vtbox");
    }
    std::string Write(const std::string &name, const std::string &text, mode_t mode) {
        std::string path = dir / name;
        std::ofstream(path) << text;
        chmod(path.c_str(), mode);
        return path;
    }
};

TEST(CliConfig, FlagsBeatTheEnvironmentWhichBeatsTheFile) {
    Scene s;
    s.Write("vtbox/vtbox.conf", "# device\nhost = file-host\nport = 1001\nVTBOX_FTP_PORT=1002\n", 0644);
    vtcli::Options o;
    std::string error;
    ASSERT_TRUE(Parse({"boxes"}, &o, &error));
    vtcli::ConfigFile file;
    ASSERT_TRUE(vtcli::LoadConfigFile(&file, &error)) << error;
    vtcli::Settings st;
    ASSERT_TRUE(vtcli::ResolveSettings(o, file, &st, &error)) << error;
    EXPECT_EQ(st.host, "file-host");
    EXPECT_EQ(st.port, 1001u);
    EXPECT_EQ(st.ftpPort, 1002u);

    setenv("VTBOX_HOST", "env-host", 1);
    setenv("VTBOX_PORT", "2001", 1);
    ASSERT_TRUE(vtcli::ResolveSettings(o, file, &st, &error));
    EXPECT_EQ(st.host, "env-host");
    EXPECT_EQ(st.port, 2001u);
    EXPECT_EQ(st.ftpPort, 1002u);

    vtcli::Options flags;
    ASSERT_TRUE(Parse({"--host", "flag-host", "--port=3001", "boxes"}, &flags, &error));
    vtcli::Settings sf;
    ASSERT_TRUE(vtcli::ResolveSettings(flags, file, &sf, &error));
    EXPECT_EQ(sf.host, "flag-host");
    EXPECT_EQ(sf.port, 3001u);

    setenv("VTBOX_PORT", "80x", 1);
    EXPECT_FALSE(vtcli::ResolveSettings(o, file, &st, &error));
    EXPECT_NE(error.find("VTBOX_PORT"), std::string::npos) << error;
}

TEST(CliConfig, PasswordSourcesAndRefusals) {
    Scene s;
    std::string error, password;
    vtcli::ConfigFile none;
    std::string file = s.Write("pw", "from-file\nsecond line\n", 0600);
    vtcli::Options o;
    ASSERT_TRUE(Parse({"--password-file", file, "boxes"}, &o, &error));

    // An explicit --password-file beats VTBOX_PASSWORD.
    setenv("VTBOX_PASSWORD", "from-env", 1);
    ASSERT_TRUE(vtcli::ObtainPassword(o, none, &password, &error)) << error;
    EXPECT_EQ(password, "from-file");
    vtcli::Options plain;
    ASSERT_TRUE(Parse({"boxes"}, &plain, &error));
    ASSERT_TRUE(vtcli::ObtainPassword(plain, none, &password, &error));
    EXPECT_EQ(password, "from-env");

    // An empty password from the environment is refused, not sent.
    setenv("VTBOX_PASSWORD", "", 1);
    EXPECT_FALSE(vtcli::ObtainPassword(plain, none, &password, &error));
    EXPECT_NE(error.find("VTBOX_PASSWORD is set but empty"), std::string::npos) << error;
    unsetenv("VTBOX_PASSWORD");

    // A password file others can read is refused, as is an empty one.
    chmod(file.c_str(), 0644);
    EXPECT_FALSE(vtcli::ObtainPassword(o, none, &password, &error));
    EXPECT_NE(error.find("can be read by others (mode 644)"), std::string::npos) << error;
    vtcli::Options empty;
    ASSERT_TRUE(Parse({"--password-file", s.Write("empty", "\n", 0600), "boxes"}, &empty, &error));
    EXPECT_FALSE(vtcli::ObtainPassword(empty, none, &password, &error));

    // A command's first line; a failing command is refused.
    setenv("VTBOX_PASSWORD_COMMAND", "printf 'from-command\\nrest'", 1);
    ASSERT_TRUE(vtcli::ObtainPassword(plain, none, &password, &error)) << error;
    EXPECT_EQ(password, "from-command");
    setenv("VTBOX_PASSWORD_COMMAND", "exit 3", 1);
    EXPECT_FALSE(vtcli::ObtainPassword(plain, none, &password, &error));
    EXPECT_NE(error.find("exit code 3"), std::string::npos) << error;
    unsetenv("VTBOX_PASSWORD_COMMAND");

    // A configuration file with a password must be private.
    std::string conf = s.Write("vtbox/vtbox.conf", "host = h\npassword = from-config\n", 0644);
    vtcli::ConfigFile loaded;
    EXPECT_FALSE(vtcli::LoadConfigFile(&loaded, &error));
    EXPECT_NE(error.find("holds a password and can be read by others"), std::string::npos) << error;
    chmod(conf.c_str(), 0600);
    vtcli::ConfigFile loaded2;
    ASSERT_TRUE(vtcli::LoadConfigFile(&loaded2, &error)) << error;
    ASSERT_TRUE(vtcli::ObtainPassword(plain, loaded2, &password, &error));
    EXPECT_EQ(password, "from-config");

    s.Write("vtbox/vtbox.conf", "hots = h\n", 0600);
    vtcli::ConfigFile bad;
    EXPECT_FALSE(vtcli::LoadConfigFile(&bad, &error));
    EXPECT_NE(error.find("vtbox.conf:1"), std::string::npos) << error;
}

// Local files a job reads are read within a bound and never waited on: a
// FIFO at a name nobody watches would hold a timer's run for ever, and a
// huge file would be read into memory before it is refused.
TEST(CliConfig, LocalFilesAreBoundedRegularFilesNeverWaitedOn) {
    Scene s;
    std::string error, password;
    const std::string conf = s.dir / "vtbox/vtbox.conf";
    ASSERT_EQ(mkfifo(conf.c_str(), 0600), 0);
    vtcli::ConfigFile fifo;
    EXPECT_FALSE(vtcli::LoadConfigFile(&fifo, &error));
    EXPECT_NE(error.find("vtbox.conf: not a regular file"), std::string::npos) << error;
    unlink(conf.c_str());

    const std::string line = "host = h\n";
    s.Write("vtbox/vtbox.conf", line + std::string(64 * 1024 - line.size(), '#'), 0600);
    vtcli::ConfigFile full;
    ASSERT_TRUE(vtcli::LoadConfigFile(&full, &error)) << error;
    EXPECT_EQ(full.values["host"], "h");
    ASSERT_EQ(truncate(conf.c_str(), 64 * 1024 + 1), 0);
    vtcli::ConfigFile over;
    EXPECT_FALSE(vtcli::LoadConfigFile(&over, &error));
    EXPECT_NE(error.find("larger than 65536 bytes"), std::string::npos) << error;
    unlink(conf.c_str());

    const std::string pipe = s.dir / "pw";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    vtcli::Options o;
    ASSERT_TRUE(Parse({"--password-file", pipe, "boxes"}, &o, &error));
    vtcli::ConfigFile none;
    EXPECT_FALSE(vtcli::ObtainPassword(o, none, &password, &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

// A password command is stopped, its whole group with it, when it takes too
// long or prints too much; vtbox says which, and sends nothing.
TEST(CliConfig, APasswordCommandIsStoppedAtItsBounds) {
    Scene s;
    setenv("VTBOX_PASSWORD_COMMAND_SECONDS", "1", 1);
    vtcli::Options plain;
    vtcli::ConfigFile none;
    std::string error, password;
    ASSERT_TRUE(Parse({"boxes"}, &plain, &error));
    const auto run = [&](const std::string &command) {
        setenv("VTBOX_PASSWORD_COMMAND", command.c_str(), 1);
        password.clear();
        return vtcli::ObtainPassword(plain, none, &password, &error);
    };
    // A command that hangs, and what it started that would outlive it.
    const std::string child = s.dir / "child";
    EXPECT_FALSE(run("sleep 1000 & echo $! > '" + child + "'; wait"));
    EXPECT_NE(error.find("the password command (VTBOX_PASSWORD_COMMAND) failed: it gave no answer within 1 s"),
              std::string::npos)
        << error;
    std::string pid;
    std::ifstream(child) >> pid;
    ASSERT_FALSE(pid.empty());
    // Gone, or a zombie its new parent has yet to collect.
    const auto gone = [&] {
        std::ifstream stat("/proc/" + pid + "/stat");
        std::string text;
        std::getline(stat, text);
        const size_t close = text.rfind(')');
        return !stat.is_open() || text.empty() || (close != std::string::npos && text.compare(close + 2, 1, "Z") == 0);
    };
    for (int i = 0; i < 1000 && !gone(); ++i) usleep(10000);
    EXPECT_TRUE(gone()) << "the command's child " << pid << " runs on";

    EXPECT_FALSE(run("exec >&-; sleep 1000")) << "its output closed, the command runs on";
    EXPECT_NE(error.find("no answer within 1 s"), std::string::npos) << error;

    // 64 KiB of output at most, the password on its first line.
    EXPECT_TRUE(run("printf 'pw\\n'; head -c 65533 /dev/zero")) << error;
    EXPECT_EQ(password, "pw");
    EXPECT_FALSE(run("printf 'pw\\n'; head -c 65534 /dev/zero"));
    EXPECT_NE(error.find("it printed more than 65536 bytes"), std::string::npos) << error;
    EXPECT_FALSE(run("cat /dev/zero")) << "a line without end";
    EXPECT_TRUE(password.empty());

    EXPECT_FALSE(run("kill -9 $$"));
    EXPECT_NE(error.find("it was killed by signal 9"), std::string::npos) << error;
}

}  // namespace

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "job_work_folders.hpp"
#include "work_folder.hpp"

namespace {

// Only work folders of our own name whose process is gone are cleared; one
// that holds the only copy of something keeps that, and nothing else.
TEST(CliWorkFolder, ClearsOnlyTheFoldersOfDeadRunsAndKeepsWhatMayBeTheOnlyCopy) {
    namespace fs = std::filesystem;
    vttest::TempDir dir;
    pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);  // a number no process has now
    std::string dead = dir / (".vtbox-work-" + std::to_string(child) + "-AbC123");
    std::string rescued = dir / (".vtbox-work-" + std::to_string(child) + "-Res123");
    std::string backup = dir / (".vtbox-work-" + std::to_string(child) + "-Bak123");
    std::string empty_rescue = dir / (".vtbox-work-" + std::to_string(child) + "-Emp123");
    std::string mine = dir / (".vtbox-work-" + std::to_string(getpid()) + "-AbC123");
    std::string foreign = dir / ".vtbox-work-notes";
    std::string other = dir / "keep-me";
    for (const auto &f : {dead, mine, foreign, other}) fs::create_directories(f + "/inside");
    fs::create_directories(rescued + "/BOX/DATA");
    fs::create_directories(rescued + "/RESCUE/B0000001-F0000000-D0000007/D0000007");
    fs::create_directories(backup + "/job/BOX");
    std::ofstream(backup + "/job/BOX.zip") << "PK";
    fs::create_directories(empty_rescue + "/RESCUE");
    std::string link = dir / (".vtbox-work-" + std::to_string(child) + "-Link12");
    fs::create_directory_symlink(other, link);

    vtjobs::DeadWorkFolders found = vtjobs::ClearDeadWorkFolders(dir.path(), vtcli::kWorkFolderPrefix);
    std::sort(found.removed.begin(), found.removed.end());
    std::sort(found.kept.begin(), found.kept.end());
    EXPECT_EQ(found.removed, (std::vector<std::string>{dead, empty_rescue}));
    EXPECT_EQ(found.kept, (std::vector<std::string>{backup, rescued}));
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(rescued + "/RESCUE/B0000001-F0000000-D0000007/D0000007"));
    EXPECT_FALSE(fs::exists(rescued + "/BOX")) << "what is not kept goes";
    EXPECT_TRUE(fs::exists(backup + "/job/BOX.zip"));
    EXPECT_FALSE(fs::exists(backup + "/job/BOX"));
    EXPECT_EQ(vtjobs::RescuedDocuments(rescued), 1u);
    EXPECT_NE(vtcli::DescribeKeptContent(rescued).find("the only copy of 1 document"), std::string::npos);
    EXPECT_NE(vtcli::DescribeKeptContent(backup).find("a complete backup that could not be put in place, " + backup +
                                                      "/job/BOX.zip"),
              std::string::npos);
    for (const auto &f : {mine, foreign, other, other + "/inside"}) EXPECT_TRUE(fs::exists(f)) << f;
    EXPECT_TRUE(fs::is_symlink(link)) << "a link is never followed nor removed";
}

// A work folder of this run keeps, when it ends, only what may be the only copy.
TEST(CliWorkFolder, EndsWithNothingButWhatItMustKeep) {
    namespace fs = std::filesystem;
    vttest::TempDir dir;
    std::string beside = dir / "backup.zip";
    std::string plain, rescued;
    {
        vtcli::WorkFolder a(beside), b(beside);
        ASSERT_TRUE(a.ok() && b.ok());
        plain = a.path();
        rescued = b.path();
        fs::create_directories(plain + "/BOX/DATA");
        fs::create_directories(rescued + "/BOX/DATA");
        fs::create_directories(rescued + "/RESCUE/B0000001-F0000002-D0000003/D0000003");
    }
    EXPECT_FALSE(fs::exists(plain));
    EXPECT_TRUE(fs::exists(rescued + "/RESCUE/B0000001-F0000002-D0000003/D0000003"));
    EXPECT_FALSE(fs::exists(rescued + "/BOX"));
}

}  // namespace
