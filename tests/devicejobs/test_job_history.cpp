// The job history as vtbox and the utility share it: what is written reads
// back whole, the file stays within its bounds, a line that no writer made
// is passed over, and writers at the same moment lose no job.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "job_history.hpp"
#include "temp_dir.hpp"

namespace {

using vtjobs::HistoryEntry;

HistoryEntry Job(int64_t started, const std::string &file = "/backups/office.zip") {
    HistoryEntry e;
    e.started = started;
    e.device = "Print room (192.0.2.10)";
    e.boxes = {1, 42, 999};
    e.file = file;
    e.bytes = 123456789;
    e.documents = 17;
    e.seconds = 75.5;
    e.outcome = vtjobs::HistoryOutcome::Done;
    return e;
}

std::string Slurp(const std::string &path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

TEST(JobHistory, ReadsBackNewestFirstWhateverTheFieldsHold) {
    vttest::TempDir dir;
    vttest::ScopedEnv state("XDG_STATE_HOME", dir.path());
    EXPECT_TRUE(vtjobs::ReadJobHistory().empty()) << "no file yet";

    HistoryEntry odd = Job(1800000000, "/tmp/a\tb\nc\\d\x01\x7f/\xc3\xa9t\xc3\xa9.zip");
    odd.operation = vtjobs::HistoryOperation::Restore;
    odd.outcome = vtjobs::HistoryOutcome::Partial;
    odd.program = vtjobs::HistoryProgram::UtilitySchedule;
    odd.reason = "The device does not answer.\nerror 12002 \\x41";
    odd.bytes = -1;
    odd.documents = -1;
    odd.boxes.clear();
    ASSERT_TRUE(vtjobs::AppendJobHistory(Job(1700000000)));
    ASSERT_TRUE(vtjobs::AppendJobHistory(odd));

    const auto read = vtjobs::ReadJobHistory();
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].file, odd.file);
    EXPECT_EQ(read[0].reason, odd.reason);
    EXPECT_EQ(read[0].operation, vtjobs::HistoryOperation::Restore);
    EXPECT_EQ(read[0].outcome, vtjobs::HistoryOutcome::Partial);
    EXPECT_EQ(read[0].program, vtjobs::HistoryProgram::UtilitySchedule);
    EXPECT_EQ(read[0].bytes, -1);
    EXPECT_EQ(read[0].documents, -1);
    EXPECT_TRUE(read[0].boxes.empty());
    EXPECT_EQ(read[1].started, 1700000000);
    EXPECT_EQ(read[1].device, "Print room (192.0.2.10)");
    EXPECT_EQ(read[1].boxes, (std::vector<uint32_t>{1, 42, 999}));
    EXPECT_EQ(read[1].bytes, 123456789);
    EXPECT_EQ(read[1].documents, 17);
    EXPECT_DOUBLE_EQ(read[1].seconds, 75.5);

    // Private: it names the user's files and devices; never half written.
    const std::string path = dir / "vtbox/history";
    EXPECT_EQ(vtjobs::JobHistoryPath(), path);
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_FALSE(std::filesystem::exists(path + ".part"));

    // Under a service the state folder is the unit's own (the first named).
    vttest::ScopedEnv service("STATE_DIRECTORY", dir / "unit:" + dir / "other");
    EXPECT_EQ(vtjobs::JobHistoryPath(), dir / "unit/history");
}

TEST(JobHistory, DropsTheOldestAndCutsFieldsToTheirBounds) {
    vttest::TempDir dir;
    vttest::ScopedEnv state("XDG_STATE_HOME", dir.path());
    for (size_t i = 0; i < vtjobs::kMaxHistoryEntries + 5; ++i)
        ASSERT_TRUE(vtjobs::AppendJobHistory(Job(static_cast<int64_t>(1000 + i))));
    auto read = vtjobs::ReadJobHistory();
    ASSERT_EQ(read.size(), vtjobs::kMaxHistoryEntries);
    EXPECT_EQ(read.front().started, static_cast<int64_t>(1000 + vtjobs::kMaxHistoryEntries + 4));
    EXPECT_EQ(read.back().started, 1005) << "the five oldest made room";

    // Long fields are cut at a whole character; the file keeps to its
    // byte bound whatever its lines hold.
    HistoryEntry big = Job(5000, "/" + std::string(vtjobs::kMaxHistoryFileBytes, 'f'));
    big.reason = "\xc3\xa9" + std::string(vtjobs::kMaxHistoryReasonBytes, '\n');
    big.device = std::string(vtjobs::kMaxHistoryDeviceBytes - 1, 'd') + "\xc3\xa9";
    ASSERT_TRUE(vtjobs::AppendJobHistory(big));
    const std::string path = dir / "vtbox/history";
    std::string text = Slurp(path);
    const std::string bigLine = text.substr(text.rfind('\n', text.size() - 2) + 1);
    for (size_t bytes = text.size(); bytes <= vtjobs::kMaxHistoryBytes; bytes += bigLine.size()) text += bigLine;
    std::ofstream(path, std::ios::trunc) << text;
    ASSERT_TRUE(vtjobs::AppendJobHistory(big));
    EXPECT_LE(std::filesystem::file_size(path), vtjobs::kMaxHistoryBytes);
    read = vtjobs::ReadJobHistory();
    ASSERT_FALSE(read.empty());
    EXPECT_EQ(read[0].file.size(), vtjobs::kMaxHistoryFileBytes);
    EXPECT_EQ(read[0].reason, "\xc3\xa9" + std::string(vtjobs::kMaxHistoryReasonBytes - 2, '\n'));
    EXPECT_EQ(read[0].device, std::string(vtjobs::kMaxHistoryDeviceBytes - 1, 'd'));
}

TEST(JobHistory, PassesOverLinesNoWriterMadeAndKeepsTheRest) {
    vttest::TempDir dir;
    vttest::ScopedEnv state("XDG_STATE_HOME", dir.path());
    ASSERT_TRUE(vtjobs::AppendJobHistory(Job(1)));
    const std::string path = dir / "vtbox/history";
    const std::string good = Slurp(path).substr(Slurp(path).find('\n') + 1);
    const std::string tail = "\t/f.zip\t1\t1\t1.0\t\n";
    const auto line = [&](const std::string &head) { return head + tail; };
    const std::string common = "backup\tdone\tvtbox\tdev\t";
    std::string text = good;
    // Each of these is refused on its own; the good lines around them stay.
    for (const std::string &bad : std::vector<std::string>{
             line("253402300800\t" + common + "1"),     // after the year 9999
             line("-1\t" + common + "1"),               // before 1970
             line("7\tbackup\tdone\tnobody\tdev\t1"),   // an unknown program
             line("7\t" + common + "1000"),             // a box beyond three digits
             line("7\t" + common + "0"),                // no box 0
             line("7\t" + common + "1,,2"),             // an empty box number
             line("7\tbackup\tdone\tvtbox\td\\q\t1"),   // an unknown escape
             line("7\tbackup\tdone\tvtbox\td\\x4\t1"),  // a cut escape
             line("7\tbackup\tdone\tvtbox\t" + std::string(vtjobs::kMaxHistoryDeviceBytes + 1, 'd') + "\t1"),
             "7\tbackup\tdone\tvtbox\tdev\t1\t/f.zip\t1\t1\t1.0\n",  // a field short
             "7\tbackup\tdone\tvtbox\tdev\t1\t/f.zip\t1\t1\tnan\t\n",
             "7\tbackup\tdone\tvtbox\tdev\t1\t/f.zip\t1\t1\t315576000.1\t\n",
             "7\tbackup\tdone\tvtbox\tdev\t1\t/f.zip\t9007199254740993\t1\t1.0\t\n",
         })
        text += bad + good;
    // At the bounds, and a field a later version adds.
    text += line("253402300799\tbackup\tdone\tvtbox\t" + std::string(vtjobs::kMaxHistoryDeviceBytes, 'd') + "\t999");
    text += "8\trestore\tnot-released\tutility\tdev\t\t/f.zip\t-\t-\t315576000\treason\tlater\n";
    text += "9\tbackup\tdone\tvtbox\tdev\t1\t/f.zip\t1\t1\t1.0\tno line end";
    std::ofstream(path, std::ios::trunc) << text;
    auto read = vtjobs::ReadJobHistory();
    ASSERT_EQ(read.size(), 16u);
    EXPECT_EQ(read[0].started, 8) << "a line without its end is passed over";
    EXPECT_EQ(read[0].reason, "reason");
    EXPECT_EQ(read[1].started, 253402300799);
    EXPECT_EQ(read[1].device.size(), vtjobs::kMaxHistoryDeviceBytes);

    // An append keeps what could be read and drops the rest.
    ASSERT_TRUE(vtjobs::AppendJobHistory(Job(10)));
    EXPECT_EQ(vtjobs::ReadJobHistory().size(), 17u);

    // A file grown past the bound by another hand: its newest part is read,
    // from its first whole line.
    std::ofstream(path, std::ios::trunc) << std::string(vtjobs::kMaxHistoryBytes, 'x') << "\n" << good;
    read = vtjobs::ReadJobHistory();
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].started, 1);

    // A link at the name is neither read nor written through.
    const std::string elsewhere = dir / "elsewhere";
    std::ofstream(elsewhere) << good;
    std::filesystem::remove(path);
    std::filesystem::create_symlink(elsewhere, path);
    std::string problem;
    EXPECT_TRUE(vtjobs::ReadJobHistory(&problem).empty());
    EXPECT_NE(problem.find("link"), std::string::npos) << problem;
    EXPECT_FALSE(vtjobs::AppendJobHistory(Job(11)));
    EXPECT_EQ(Slurp(elsewhere), good);
}

TEST(JobHistory, WritersAtTheSameMomentLoseNoJob) {
    vttest::TempDir dir;
    vttest::ScopedEnv state("XDG_STATE_HOME", dir.path());
    constexpr int kWriters = 6, kJobs = 15;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t child = fork();
        if (child == 0) {
            bool ok = true;
            for (int j = 0; j < kJobs; ++j) ok = vtjobs::AppendJobHistory(Job(w * 100 + j)) && ok;
            _exit(ok ? 0 : 1);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto read = vtjobs::ReadJobHistory();
    std::set<int64_t> seen;
    for (const HistoryEntry &e : read) seen.insert(e.started);
    EXPECT_EQ(read.size(), static_cast<size_t>(kWriters * kJobs));
    EXPECT_EQ(seen.size(), static_cast<size_t>(kWriters * kJobs));

    // A queue that lasts longer than the wait: the lock held past
    // kHistoryLockWaitMs while appends end one after another (the file
    // replaced) does not make the next writer give up.
    const std::string path = vtjobs::JobHistoryPath();
    const int lock = open((path + ".lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    const pid_t late = fork();
    if (late == 0) {
        close(lock);  // the lock stays with the parent alone
        _exit(vtjobs::AppendJobHistory(Job(9999)) ? 0 : 1);
    }
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    for (int held = 0; held < vtjobs::kHistoryLockWaitMs + 1000; held += 400) {
        usleep(400 * 1000);
        std::ofstream(path + ".other") << text.str();
        std::filesystem::rename(path + ".other", path);
    }
    close(lock);
    int status = 0;
    ASSERT_EQ(waitpid(late, &status, 0), late);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(vtjobs::ReadJobHistory().front().started, 9999);
}

TEST(JobHistory, OffersEachFinishedBackupThatStillExistsOnce) {
    vttest::TempDir dir;
    std::ofstream(dir / "a.zip") << "a";
    std::ofstream(dir / "b.zip") << "b";
    std::filesystem::create_directory(dir / "folder.zip");
    std::vector<HistoryEntry> entries = {Job(9, dir / "a.zip"), Job(8, dir / "gone.zip"), Job(7, dir / "folder.zip"),
                                         Job(6, dir / "b.zip"), Job(5, dir / "a.zip"),    Job(4, dir / "c.zip")};
    entries.insert(entries.begin(), Job(10, dir / "b.zip"));
    entries[0].outcome = vtjobs::HistoryOutcome::Failed;
    HistoryEntry restore = Job(11, dir / "b.zip");
    restore.operation = vtjobs::HistoryOperation::Restore;
    entries.insert(entries.begin(), restore);
    std::ofstream(dir / "c.zip") << "c";
    EXPECT_EQ(vtjobs::RecentBackupFiles(entries, 10),
              (std::vector<std::string>{dir / "a.zip", dir / "b.zip", dir / "c.zip"}));
    EXPECT_EQ(vtjobs::RecentBackupFiles(entries, 2), (std::vector<std::string>{dir / "a.zip", dir / "b.zip"}));
}

}  // namespace
