// Files of 4 GiB and more: zip64 records keep sizes whole. The input is a
// sparse file, so the test costs time (deflate and inflate of 4 GiB of mostly
// zeros) but little disk until it unpacks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "archive_helpers.hpp"
#include "packaging/folder_archive.hpp"
#include "packaging/zip_reader.hpp"
#include "temp_dir.hpp"

namespace {

using namespace pkgtest;
using vttest::TempDir;

constexpr uint64_t kBigSize = (4ull << 30) + 65536 + 5;

// Marks the file at its start, across the 4 GiB line and at its end, so that
// a size or offset cut to 32 bits shows.
const std::vector<std::pair<uint64_t, std::string>> kMarks = {
    {0, "start of a very large scan"}, {(4ull << 30) - 7, "across the 4 GiB line"}, {kBigSize - 12, "end-of-file."}};

TEST(Zip64, AFileOver4GiBRoundTripsThroughABoxArchive) {
    KeepCwd keep;
    TempDir dir;
    WriteFile(dir / "B0000001/small.txt", "after the big one");
    {
        int fd = open((dir / "B0000001/huge.bin").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kBigSize)), 0);
        for (const auto &[at, text] : kMarks)
            ASSERT_EQ(pwrite(fd, text.data(), text.size(), static_cast<off_t>(at)), static_cast<ssize_t>(text.size()));
        close(fd);
    }
    ASSERT_EQ(vtbox::ZipFolder(dir / "B0000001.vtb", dir / "B0000001", {.byteChange = true}), 0u);
    fs::remove_all(dir / "B0000001");

    // The box archive unpacks whole once the byte change is undone.
    ASSERT_EQ(vtbox::UnzipArchive(dir / "B0000001.vtb", dir.path(), {.undoByteChange = true}), 0u);
    {
        vtbox::ZipReader reader;
        ASSERT_TRUE(reader.Open(dir / "B0000001.vtb"));
        ASSERT_TRUE(reader.Locate("B0000001\\huge.bin", false));
        vtbox::ZipEntryInfo info;
        ASSERT_TRUE(reader.CurrentInfo(&info));
        EXPECT_EQ(info.uncompressedSize, kBigSize);
    }
    EXPECT_EQ(fs::file_size(dir / "B0000001/huge.bin"), kBigSize);
    int fd = open((dir / "B0000001/huge.bin").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    for (const auto &[at, text] : kMarks) {
        std::string got(text.size(), '\0');
        ASSERT_EQ(pread(fd, got.data(), got.size(), static_cast<off_t>(at)), static_cast<ssize_t>(got.size()));
        EXPECT_EQ(got, text) << at;
    }
    close(fd);
    EXPECT_EQ(ReadFile(dir / "B0000001/small.txt"), "after the big one");

    // A reader no one here wrote agrees (checks every CRC, no extraction).
    if (std::system("command -v unzip >/dev/null 2>&1") == 0) {
        int status = std::system(("unzip -tq '" + (dir / "B0000001.vtb") + "' >/dev/null 2>&1").c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
}

}  // namespace
