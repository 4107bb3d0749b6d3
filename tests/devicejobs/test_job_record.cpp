// The job record as vtbox and the utility share it: written and read back,
// and refused when the file holds more than a record or values out of range.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "job_record.hpp"
#include "temp_dir.hpp"

namespace {

TEST(JobRecord, ReadsWhatWasWrittenAndRefusesWhatNoJobWrites) {
    vttest::TempDir dir;
    vttest::ScopedEnv state("XDG_STATE_HOME", dir.path());
    ASSERT_TRUE(vtjobs::WriteJobRecord("192.0.2.10", 8080, {4294967295u, 1, 4194304, {}}));
    std::optional<vtjobs::JobRecord> read = vtjobs::ReadJobRecord("192.0.2.10", 8080);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->sessionId, 4294967295u);
    EXPECT_EQ(read->mode, 1u);
    EXPECT_EQ(read->pid, 4194304);
    EXPECT_FALSE(vtjobs::ReadJobRecord("192.0.2.10", 8081)) << "one record per device and port";

    const std::string file = dir / "vtbox/jobs/192.0.2.10_8080";
    const auto readText = [&](const std::string &text) {
        std::ofstream(file, std::ios::trunc) << text;
        return vtjobs::ReadJobRecord("192.0.2.10", 8080);
    };
    EXPECT_TRUE(readText("session 7\nmode 0\npid 0\nnote 1\n")) << "a key of a later version is passed over";
    // The FTP login name: kept as written, refused when no device's name
    // could be it; one the device gave that a record cannot keep is left out.
    ASSERT_TRUE(vtjobs::WriteJobRecord("192.0.2.10", 8080, {7, 0, 1, std::string(64, 'v')}));
    EXPECT_EQ(vtjobs::ReadJobRecord("192.0.2.10", 8080)->login, std::string(64, 'v'));
    ASSERT_TRUE(vtjobs::WriteJobRecord("192.0.2.10", 8080, {7, 0, 1, "vt/../x"}));
    EXPECT_EQ(vtjobs::ReadJobRecord("192.0.2.10", 8080)->login, "");
    EXPECT_FALSE(readText("session 7\nmode 0\npid 1\nlogin " + std::string(65, 'v') + "\n"));
    EXPECT_FALSE(readText("session 7\nmode 0\npid 1\nlogin a b\n"));
    EXPECT_FALSE(readText("session 4294967296\nmode 0\npid 1\n"));
    EXPECT_FALSE(readText("session 7\nmode 2\npid 1\n"));
    EXPECT_FALSE(readText("session 7\nmode 0\npid 4194305\n"));
    EXPECT_FALSE(readText("session 7\nmode 0\n"));
    const std::string record = "session 7\nmode 0\npid 1\n";
    EXPECT_TRUE(readText(record + std::string(128 - record.size(), ' ')));
    EXPECT_FALSE(readText(record + std::string(129 - record.size(), ' '))) << "longer than a record";
    // Only a record of our own at the name: a FIFO is passed over, never
    // waited on, and so is a link, wherever it points.
    const std::string elsewhere = dir / "elsewhere";
    std::ofstream(elsewhere) << record;
    std::filesystem::remove(file);
    std::filesystem::create_symlink(elsewhere, file);
    EXPECT_FALSE(vtjobs::ReadJobRecord("192.0.2.10", 8080)) << "a link";
    std::filesystem::remove(file);
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    EXPECT_FALSE(vtjobs::ReadJobRecord("192.0.2.10", 8080)) << "a FIFO";
    std::filesystem::remove(file);
    ASSERT_TRUE(vtjobs::WriteJobRecord("192.0.2.10", 8080, {7, 0, 1, {}}));

    vtjobs::RemoveJobRecord("192.0.2.10", 8080);
    EXPECT_FALSE(vtjobs::ReadJobRecord("192.0.2.10", 8080));

    // A link planted where the record is written first, and a hard link to
    // another file there: neither target is written, and the record is made.
    const std::string victim = dir / "victim", other = dir / "other";
    std::ofstream(victim) << "keep";
    std::ofstream(other) << "keep too";
    std::filesystem::create_symlink(victim, file + ".part");
    ASSERT_TRUE(vtjobs::WriteJobRecord("192.0.2.10", 8080, {7, 0, 1, {}}));
    std::filesystem::create_hard_link(other, file + ".part");
    ASSERT_TRUE(vtjobs::WriteJobRecord("192.0.2.10", 8080, {8, 0, 1, {}}));
    for (const auto &[path, text] : {std::pair{victim, "keep"}, std::pair{other, "keep too"}}) {
        std::stringstream kept;
        kept << std::ifstream(path).rdbuf();
        EXPECT_EQ(kept.str(), text) << path;
    }
    ASSERT_TRUE(vtjobs::ReadJobRecord("192.0.2.10", 8080));
    EXPECT_EQ(vtjobs::ReadJobRecord("192.0.2.10", 8080)->sessionId, 8u);
    EXPECT_FALSE(std::filesystem::is_symlink(file)) << "the record is a file of its own";
}

TEST(JobRecord, OnlyOurJobProgramsCountAsRunning) {
    pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    EXPECT_FALSE(vtjobs::RunningJobProgram(child)) << "no process has the number";
    EXPECT_FALSE(vtjobs::RunningJobProgram(0)) << "a job that has ended";
    EXPECT_FALSE(vtjobs::RunningJobProgram(getpid())) << "this test is neither vtbox nor the utility";
}

}  // namespace
