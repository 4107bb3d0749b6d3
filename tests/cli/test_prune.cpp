// Retention of backups: which backups each rule keeps over a hundred days of
// daily backups, and vtbox prune on a real folder of backup files mixed with
// files it must leave alone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "output_name.hpp"
#include "packaging/folder_archive.hpp"
#include "prune.hpp"
#include "temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
using vtcli::BackupDate;
using vtcli::PruneRules;

// A hundred days of backups, from Monday 2026-08-31 to Tuesday 2026-12-08,
// each day at 02:30:00, and on every tenth day (from 09-03) a second one
// at 14:00:00.
struct Hundred {
    struct Item {
        std::string when;  // "2026-09-03 14:00"
        BackupDate date;
    };
    std::vector<Item> items;
    Hundred() {
        std::tm day{};
        day.tm_year = 2026 - 1900;
        day.tm_mon = 7;
        day.tm_mday = 31;
        day.tm_hour = 12;
        for (int i = 0; i < 100; ++i) {
            std::tm d = day;
            d.tm_mday += i;
            timegm(&d);
            Add(d, 2, 30);
            if (i % 10 == 3) Add(d, 14, 0);
        }
    }
    void Add(const std::tm &d, int hour, int minute) {
        char text[64];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", d.tm_year + 1900, d.tm_mon + 1, d.tm_mday, hour,
                      minute);
        items.push_back({text, {d.tm_year + 1900, d.tm_mon + 1, d.tm_mday, hour, minute, 0}});
    }
};

// The dates of the backups kept; the candidates are named by their dates.
std::set<std::string> Kept(const PruneRules &rules) {
    std::vector<vtcli::PruneCandidate> candidates;
    for (const auto &item : Hundred().items) candidates.push_back({item.when, item.date});
    std::set<std::string> kept;
    for (const auto &v : vtcli::DecidePrune(candidates, rules))
        if (v.keep) kept.insert(v.name);
    return kept;
}

using Names = std::set<std::string>;

TEST(PruneRules, EachRuleOverAHundredDays) {
    EXPECT_EQ(Kept({3, 0, 0, 0}), (Names{"2026-12-08 02:30", "2026-12-07 02:30", "2026-12-06 02:30"}));
    // The newest backup of a day is kept, not the day's first.
    EXPECT_EQ(Kept({0, 7, 0, 0}), (Names{"2026-12-08 02:30", "2026-12-07 02:30", "2026-12-06 02:30", "2026-12-05 02:30",
                                         "2026-12-04 02:30", "2026-12-03 02:30", "2026-12-02 14:00"}));
    // Weeks run Monday to Sunday: 12-07..08, 11-30..12-06, 11-23..29, 11-16..22.
    EXPECT_EQ(Kept({0, 0, 4, 0}),
              (Names{"2026-12-08 02:30", "2026-12-06 02:30", "2026-11-29 02:30", "2026-11-22 14:00"}));
    EXPECT_EQ(Kept({0, 0, 0, 5}), (Names{"2026-12-08 02:30", "2026-11-30 02:30", "2026-10-31 02:30", "2026-09-30 02:30",
                                         "2026-08-31 02:30"}));
    // More periods asked for than there are: every period keeps its newest.
    EXPECT_EQ(Kept({0, 0, 0, 12}), Kept({0, 0, 0, 5}));
    EXPECT_EQ(Kept({0, 1000, 0, 0}).size(), 100u);
    // Rules add up; a backup kept twice is kept once.
    Names all = Kept({0, 7, 0, 0});
    for (const PruneRules &r : {PruneRules{0, 0, 4, 0}, PruneRules{0, 0, 0, 5}})
        for (const std::string &n : Kept(r)) all.insert(n);
    EXPECT_EQ(Kept({0, 7, 4, 5}), all);
    EXPECT_EQ(all.size(), 13u);
}

TEST(PruneRules, NewestAlwaysKeptAndTiesByName) {
    EXPECT_EQ(Kept({}), (Names{"2026-12-08 02:30"}));
    // Input order does not matter; equal dates are ordered by name.
    BackupDate d{2026, 1, 5, 10, 0, 0};
    auto verdicts = vtcli::DecidePrune({{"a.zip", d}, {"c.zip", d}, {"b.zip", d}}, {0, 1, 0, 0});
    ASSERT_EQ(verdicts.size(), 3u);
    EXPECT_EQ(verdicts[0].name, "c.zip");
    EXPECT_TRUE(verdicts[0].keep);
    EXPECT_FALSE(verdicts[1].keep);
    EXPECT_FALSE(verdicts[2].keep);
    EXPECT_TRUE(vtcli::DecidePrune({}, {1, 1, 1, 1}).empty());
}

TEST(PruneRules, AWeekAcrossTheNewYearIsOneWeek) {
    // Thursday 2026-12-31 and Friday 2027-01-01 share a week; Sunday
    // 2026-12-27 is the week before.
    auto kept = [](uint32_t weeks) {
        Names names;
        for (const auto &v : vtcli::DecidePrune(
                 {{"thu", {2026, 12, 31, 9, 0, 0}}, {"fri", {2027, 1, 1, 9, 0, 0}}, {"sun", {2026, 12, 27, 9, 0, 0}}},
                 {0, 0, weeks, 0}))
            if (v.keep) names.insert(v.name);
        return names;
    };
    EXPECT_EQ(kept(1), (Names{"fri"}));
    EXPECT_EQ(kept(2), (Names{"fri", "sun"}));
}

// Backups dated after now (a clock that was wrong once) are kept, but count
// for no rule: as "the newest" they would push every real backup out.
TEST(PruneRules, DatesAfterNowCountForNothing) {
    std::vector<vtcli::PruneCandidate> candidates;
    for (const auto &item : Hundred().items) candidates.push_back({item.when, item.date});
    candidates.push_back({"2031", {2031, 1, 1, 0, 0, 0}, true});
    candidates.push_back({"2030", {2030, 6, 1, 0, 0, 0}, true});
    std::map<std::string, std::vector<std::string>> kept;
    for (const auto &v : vtcli::DecidePrune(candidates, {2, 1, 0, 0}))
        if (v.keep) kept[v.name] = v.reasons;
    EXPECT_EQ(kept, (std::map<std::string, std::vector<std::string>>{
                        {"2031", {"future"}},
                        {"2030", {"future"}},
                        {"2026-12-08 02:30", {"newest", "last", "daily"}},
                        {"2026-12-07 02:30", {"last"}},
                    }));
    // The description's zone decides where it has one: 10:00 at UTC+02:00
    // is 08:00 UTC.
    std::tm eight{};
    eight.tm_year = 2026 - 1900;
    eight.tm_mon = 11;
    eight.tm_mday = 9;
    eight.tm_hour = 8;
    const std::time_t now = timegm(&eight);
    const int32_t east = 120, west = -60;
    EXPECT_FALSE(vtcli::DatedAfter({2026, 12, 9, 10, 0, 0}, &east, now));
    EXPECT_TRUE(vtcli::DatedAfter({2026, 12, 9, 10, 0, 1}, &east, now));
    EXPECT_TRUE(vtcli::DatedAfter({2026, 12, 9, 7, 30, 0}, &west, now));
}

TEST(PruneRules, OnlyRealDatesArePlaced) {
    EXPECT_TRUE(vtcli::IsValidDate({2024, 2, 29, 23, 59, 59}));
    EXPECT_FALSE(vtcli::IsValidDate({2026, 2, 29, 0, 0, 0}));
    EXPECT_FALSE(vtcli::IsValidDate({0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(vtcli::IsValidDate({2026, 13, 1, 0, 0, 0}));
    EXPECT_FALSE(vtcli::IsValidDate({2026, 4, 31, 0, 0, 0}));
    EXPECT_FALSE(vtcli::IsValidDate({2026, 4, 30, 24, 0, 0}));
}

TEST(OutputName, DateAndTimeFields) {
    std::tm when{};
    when.tm_year = 2026 - 1900;
    when.tm_mon = 0;
    when.tm_mday = 5;
    when.tm_hour = 7;
    when.tm_min = 3;
    when.tm_sec = 9;
    std::string out, error;
    ASSERT_TRUE(vtcli::ExpandOutputName("/srv/b/%Y/box-%Y%m%d-%H%M%S.zip", when, &out, &error)) << error;
    EXPECT_EQ(out, "/srv/b/2026/box-20260105-070309.zip");
    ASSERT_TRUE(vtcli::ExpandOutputName("100%%-%d.zip", when, &out, &error));
    EXPECT_EQ(out, "100%-05.zip");
    ASSERT_TRUE(vtcli::ExpandOutputName("plain.zip", when, &out, &error));
    EXPECT_EQ(out, "plain.zip");
    for (const char *bad : {"box-%y.zip", "box-%.zip", "box.zip%", "%Z"}) {
        out = "untouched";
        EXPECT_FALSE(vtcli::ExpandOutputName(bad, when, &out, &error)) << bad;
        EXPECT_EQ(out, "untouched");
        EXPECT_NE(error.find("%Y %m %d %H %M %S"), std::string::npos) << error;
    }
}

// %N numbers the file past every number of its series in the folder (as
// the utility's automatic backup does), and never names a file that exists.
TEST(OutputName, RunNumber) {
    vttest::TempDir dir;
    std::tm when{};
    when.tm_year = 2026 - 1900;
    when.tm_mday = 5;
    std::string out, error;
    const std::string pattern = dir / "Set_%N.zip";
    ASSERT_TRUE(vtcli::ExpandOutputName(pattern, when, &out, &error)) << error;
    EXPECT_EQ(out, dir / "Set_001.zip");
    for (const char *name : {"Set_001.zip", "Set_007.zip", "set_050.zip", "Set_60.zip", "Set_0000000099.zip"})
        std::ofstream(dir / name) << "x";
    vtcli::RunNumber number;
    ASSERT_TRUE(vtcli::ExpandOutputName(pattern, when, &out, &error, &number)) << error;
    EXPECT_EQ(out, dir / "Set_008.zip");
    // Another job took the number meanwhile: the finished file takes the
    // next one, and the other job's file stays as it was.
    std::ofstream(dir / "Set_008.zip") << "the other job's";
    std::ofstream(dir / "finished") << "this job's";
    std::string placed;
    ASSERT_TRUE(vtcli::TakeRunNumber(dir / "finished", number, &placed, &error)) << error;
    EXPECT_EQ(placed, dir / "Set_009.zip");
    std::stringstream other;
    other << std::ifstream(dir / "Set_008.zip").rdbuf();
    EXPECT_EQ(other.str(), "the other job's");
    EXPECT_FALSE(fs::exists(dir / "finished"));
    ASSERT_TRUE(vtcli::ExpandOutputName(dir / "%Y-%N-%%.zip", when, &out, &error)) << error;
    EXPECT_EQ(out, dir / "2026-001-%.zip");
    std::ofstream(dir / "Set_999999998.zip") << "x";
    ASSERT_TRUE(vtcli::ExpandOutputName(pattern, when, &out, &error, &number)) << error;
    EXPECT_EQ(out, dir / "Set_999999999.zip");
    std::ofstream(dir / "Set_999999999.zip") << "x";
    std::ofstream(dir / "finished") << "x";
    EXPECT_FALSE(vtcli::TakeRunNumber(dir / "finished", number, &placed, &error)) << "no number is left";
    EXPECT_TRUE(fs::exists(dir / "finished"));
    EXPECT_FALSE(vtcli::ExpandOutputName(pattern, when, &out, &error));
    EXPECT_NE(error.find("no run number is left"), std::string::npos) << error;
    EXPECT_FALSE(vtcli::ExpandOutputName(dir / "%N/x.zip", when, &out, &error));
    EXPECT_FALSE(vtcli::ExpandOutputName(dir / "%N-%N.zip", when, &out, &error));
}

// ---- vtbox prune on a folder ------------------------------------------------------

std::string Description(const std::string &engine, const BackupDate &d) {
    char date[64];
    std::snprintf(date, sizeof date, "%04d/%02d/%02d %02d:%02d:%02d", d.year, d.month, d.day, d.hour, d.minute,
                  d.second);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BackupInfo>\r\n<EngineVersion>" + engine +
           "</EngineVersion>\r\n<MACAddress>02:00:5E:10:20:30</MACAddress>\r\n<BackupDate>" + date +
           "</BackupDate>\r\n<Timezone>GMT+01:00</Timezone>\r\n<Boxes NumOfBoxes=\"1\">\r\n<BoxProp>\r\n"
           "<BoxName>Scans</BoxName>\r\n<BoxNo>1</BoxNo>\r\n<Protected>no</Protected>\r\n<NumOfFolders>0"
           "</NumOfFolders>\r\n<NumOfDocs>0</NumOfDocs>\r\n<BoxUsedDisk>0</BoxUsedDisk>\r\n</BoxProp>\r\n"
           "</Boxes>\r\n</BackupInfo>";
}

// Zips `file` (named `name`) as BOX/<name> into `archive`.
void Pack(const std::string &scratch, const std::string &archive, const std::string &name, const std::string &text) {
    fs::path box = fs::path(scratch) / "BOX";
    fs::remove_all(scratch);
    fs::create_directories(box);
    std::ofstream(box / name, std::ios::binary) << text;
    ASSERT_EQ(vtbox::ZipFolder(archive, box.string()), 0u) << archive;
}

struct Outcome {
    int exitCode = -1;
    std::string out, err;
};

Outcome Vtbox(const std::vector<std::string> &args) {
    vttest::TempDir io;
    std::vector<std::string> full = {VTBOX_PROGRAM};
    full.insert(full.end(), args.begin(), args.end());
    pid_t pid = fork();
    if (pid == 0) {
        freopen((io / "out").c_str(), "w", stdout);
        freopen((io / "err").c_str(), "w", stderr);
        std::vector<char *> argv;
        for (auto &a : full) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::stringstream o, e;
    o << std::ifstream(io / "out").rdbuf();
    e << std::ifstream(io / "err").rdbuf();
    r.out = o.str();
    r.err = e.str();
    return r;
}

// Every file under the folder with its size and a hash of its bytes
// (symbolic links with their target).
std::map<std::string, std::string> Contents(const fs::path &folder) {
    std::map<std::string, std::string> files;
    for (const auto &e : fs::recursive_directory_iterator(folder)) {
        std::string rel = e.path().lexically_relative(folder).string();
        if (e.is_symlink()) {
            files[rel] = "-> " + fs::read_symlink(e.path()).string();
        } else if (e.is_regular_file()) {
            std::stringstream s;
            s << std::ifstream(e.path(), std::ios::binary).rdbuf();
            files[rel] =
                std::to_string(s.str().size()) + " bytes, hash " + std::to_string(std::hash<std::string>()(s.str()));
        }
    }
    return files;
}

class PruneFolder : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(folder);
        // Names in no date order, and file times the reverse of the dates,
        // so that only the descriptions can order the backups.
        const auto &items = hundred.items;
        for (size_t i = 0; i < items.size(); ++i) {
            std::string name = "backup-" + std::to_string((i * 37) % items.size() + 100) + ".zip";
            nameOf[items[i].when] = name;
            Pack(dir / "scratch", folder / name, "Backup.XML", Description("Korvo-B V1.3.0.0", items[i].date));
            struct timespec times[2] = {{static_cast<time_t>(2000000000 - i * 86400), 0},
                                        {static_cast<time_t>(2000000000 - i * 86400), 0}};
            ASSERT_EQ(utimensat(AT_FDCWD, (folder / name).c_str(), times, 0), 0);
        }
        // What prune leaves alone: other files, a zip without a description,
        // a document archive, backups in a subfolder and behind a symbolic
        // link, and an undated backup.
        std::ofstream(folder / "notes.txt") << "keep me";
        Pack(dir / "scratch", folder / "other.zip", "readme.txt", "not a backup");
        Pack(dir / "scratch", folder / "archive.zip", "Archive.XML",
             "<?xml version=\"1.0\"?><ArchiveInfo><Version>Korvo-B V1.3.0.0</Version>"
             "<ArchiveDate>2020/01/01 00:00:00</ArchiveDate><NumOfDocs>1</NumOfDocs></ArchiveInfo>");
        Pack(dir / "scratch", folder / "undated.zip", "Backup.XML", Description("Korvo-B V1.3.0.0", {}));
        fs::create_directories(folder / "old");
        Pack(dir / "scratch", folder / "old" / "2019.zip", "Backup.XML",
             Description("Korvo-B V1.3.0.0", {2019, 5, 5, 0, 0, 0}));
        fs::create_symlink("old/2019.zip", folder / "link.zip");
        fs::remove_all(dir / "scratch");
    }

    Hundred hundred;
    vttest::TempDir dir;
    fs::path folder = fs::path(dir.path()) / "backups";
    std::map<std::string, std::string> nameOf;  // date -> file name
};

TEST_F(PruneFolder, DryRunThenPrune) {
    const auto before = Contents(folder);
    const std::vector<std::string> rules = {"--keep-daily", "7", "--keep-weekly", "4", "--keep-monthly", "5"};
    std::vector<std::string> args = {"prune", folder.string(), "--dry-run"};
    args.insert(args.end(), rules.begin(), rules.end());
    Outcome dry = Vtbox(args);
    ASSERT_EQ(dry.exitCode, 0) << dry.err;
    EXPECT_EQ(Contents(folder), before) << "--dry-run changed the folder";
    EXPECT_NE(dry.out.find("13 backups kept, 97 would be removed"), std::string::npos) << dry.out;

    args.push_back("--json");
    Outcome json = Vtbox(args);
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(Contents(folder), before);
    EXPECT_EQ(json.out.rfind("{\"folder\":", 0), 0u) << json.out;
    size_t kept = 0;
    for (size_t at = 0; (at = json.out.find("\"keep\":true,\"removed\":false", at)) != std::string::npos; ++at) ++kept;
    EXPECT_EQ(kept, 13u) << json.out;
    EXPECT_EQ(json.out.find("\"removed\":true"), std::string::npos) << json.out;

    args.pop_back();
    args.erase(args.begin() + 2);
    Outcome real = Vtbox(args);
    ASSERT_EQ(real.exitCode, 0) << real.err;
    std::set<std::string> expected;
    for (const std::string &when : Kept({0, 7, 4, 5})) expected.insert(nameOf.at(when));
    auto after = Contents(folder);
    for (const auto &[name, bytes] : before) {
        bool isDatedBackup =
            std::any_of(nameOf.begin(), nameOf.end(), [&, n = name](auto &p) { return p.second == n; });
        if (!isDatedBackup)
            EXPECT_EQ(after[name], bytes) << name << " is no backup of the folder and must stay as it was";
        else
            EXPECT_EQ(after.count(name), expected.count(name)) << name;
    }
    EXPECT_EQ(after.size(), before.size() - 97);
    // Each backup has its line: kept ones with their rules.
    EXPECT_NE(real.out.find("keep          2026-12-08 02:30:00  " + nameOf.at("2026-12-08 02:30") +
                            "  newest, daily, weekly, monthly"),
              std::string::npos)
        << real.out;
    EXPECT_NE(real.out.find("remove        2026-12-01 02:30:00  " + nameOf.at("2026-12-01 02:30") + "\n"),
              std::string::npos)
        << real.out;
    // The zip files it does not take for backups are named, with the reason.
    for (const char *name : {"other.zip", "archive.zip", "undated.zip"})
        EXPECT_NE(real.err.find(std::string(name) + " ("), std::string::npos) << real.err;

    // Run again: nothing more goes.
    Outcome again = Vtbox(args);
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(Contents(folder), after);
}

TEST(PruneFuture, NamedKeptAndPushesNothingOut) {
    vttest::TempDir dir;
    const fs::path folder = fs::path(dir.path()) / "backups";
    fs::create_directories(folder);
    Pack(dir / "scratch", folder / "old.zip", "Backup.XML", Description("Korvo-B V1.3.0.0", {2024, 1, 1, 0, 0, 0}));
    Pack(dir / "scratch", folder / "recent.zip", "Backup.XML", Description("Korvo-B V1.3.0.0", {2025, 1, 1, 0, 0, 0}));
    Pack(dir / "scratch", folder / "ahead.zip", "Backup.XML", Description("Korvo-B V1.3.0.0", {2999, 1, 1, 0, 0, 0}));
    Outcome r = Vtbox({"prune", folder.string(), "--keep-last", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::exists(folder / "recent.zip")) << r.out;
    EXPECT_TRUE(fs::exists(folder / "ahead.zip")) << r.out;
    EXPECT_FALSE(fs::exists(folder / "old.zip")) << r.out;
    EXPECT_NE(r.out.find("keep          2999-01-01 00:00:00  ahead.zip  future\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("keep          2025-01-01 00:00:00  recent.zip  newest, last\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("ahead.zip is dated 2999-01-01 00:00:00, after now"), std::string::npos) << r.err;
}

TEST_F(PruneFolder, UsageAndMissingFolder) {
    Outcome noRule = Vtbox({"prune", folder.string()});
    EXPECT_EQ(noRule.exitCode, 2);
    EXPECT_NE(noRule.err.find("at least one of --keep-last"), std::string::npos) << noRule.err;
    Outcome missing = Vtbox({"prune", (folder / "nowhere").string(), "--keep-last", "1"});
    EXPECT_EQ(missing.exitCode, 7);
    EXPECT_NE(missing.err.find("is not a folder"), std::string::npos) << missing.err;
    Outcome badName = Vtbox({"--host", "127.0.0.1", "--port", "1", "backup", "--boxes", "all", "--output", "b-%q.zip"});
    EXPECT_EQ(badName.exitCode, 2) << "a bad output name is refused before the device is called";
    EXPECT_NE(badName.err.find("%q"), std::string::npos) << badName.err;
}

}  // namespace
