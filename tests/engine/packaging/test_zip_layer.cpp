// The outer levels of a backup file written around data already in place:
// byte for byte what ZipWriter (minizip) writes for the same entries, zip64
// forms included, and a whole backup file that unpacks to the tree it came
// from.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <minizip/zip.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <random>

#include "archive_helpers.hpp"
#include "packaging/backup_file.hpp"
#include "packaging/deflate_pool.hpp"
#include "packaging/entry_name.hpp"
#include "packaging/folder_archive.hpp"
#include "packaging/zip_layer.hpp"
#include "session/waits.hpp"
#include "temp_dir.hpp"
#include "vtplatform.h"

namespace {

using namespace pkgtest;
using vtbox::ZipLayer;
using vttest::TempDir;

struct LimitsForTest {
    LimitsForTest(uint64_t threshold, uint64_t field_limit) {
        ZipLayer::SetZip64LimitsForTesting(threshold, field_limit);
    }
    ~LimitsForTest() { ZipLayer::SetZip64LimitsForTesting(0, 0); }
};

uint32_t Crc(const std::string &bytes) {
    return static_cast<uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(bytes.data()), static_cast<uInt>(bytes.size())));
}

struct stat Stat(const std::string &path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st;
}

// The file's bytes written where the layer wants the next entry's data, then
// the entry's header, as the backup does with a box archive.
void LayStored(ZipLayer &layer, int fd, const std::string &name, const std::string &path) {
    std::string bytes = ReadFile(path);
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(layer.nextDataOffset(name))),
              static_cast<ssize_t>(bytes.size()));
    struct stat st = Stat(path);
    ASSERT_TRUE(layer.AddWritten(name, vtbox::DosDateTimeFromUnix(st.st_mtime), vtbox::DosAttributesOf(st),
                                 bytes.size(), Crc(bytes)));
}

TEST(ZipLayer, WritesWhatZipWriterWritesForTheSameEntries) {
    KeepCwd keep;
    TempDir dir;
    WriteFile(dir / "DATA/B0000001.vtb", PageBytes(5000, 1));
    WriteFile(dir / "DATA/B0000002.vtb", PageBytes(3000, 2));
    WriteFile(dir / "DATA/notes.XML", PageBytes(2000, 3));
    ASSERT_EQ(vtbox::ZipFolder(dir / "reference.zip", dir / "DATA"), 0u);
    const std::string reference = ReadFile(dir / "reference.zip");

    // Behind 77 bytes of something else: the layer's offsets count from its start.
    int fd = open((dir / "layer.bin").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, std::string(77, 'x').data(), 77, 0), 77);
    ZipLayer layer(fd, 77);
    struct stat st = Stat(dir / "DATA");
    ASSERT_TRUE(layer.AddFolder("DATA\\", vtbox::DosDateTimeFromUnix(st.st_mtime), vtbox::DosAttributesOf(st)));
    LayStored(layer, fd, "DATA\\B0000001.vtb", dir / "DATA/B0000001.vtb");
    LayStored(layer, fd, "DATA\\B0000002.vtb", dir / "DATA/B0000002.vtb");
    vtbox::DeflatePool pool({dir / "DATA/notes.XML"}, {false});
    vtbox::DeflatedFile notes = pool.Take(0);
    ASSERT_EQ(notes.state, vtbox::DeflatedFile::State::Done);
    ASSERT_TRUE(layer.AddDeflated("DATA\\notes.XML", vtbox::DosDateTimeFromUnix(notes.st.st_mtime),
                                  vtbox::DosAttributesOf(notes.st), notes.Joined(), notes.size, notes.crc));
    ASSERT_TRUE(layer.Finish());
    close(fd);

    const std::string written = ReadFile(dir / "layer.bin");
    EXPECT_EQ(written.substr(0, 77), std::string(77, 'x'));
    EXPECT_TRUE(written.substr(77) == reference) << "the layer differs from ZipWriter's archive";
    EXPECT_EQ(layer.size(), reference.size());
    EXPECT_EQ(layer.crc(), Crc(reference));
}

TEST(ZipLayer, AZip64SizedEntryGetsMinizipsLongerHeaderAndItsDataMovesUp) {
    LimitsForTest limits(1000, 0);  // the zip64 form from 1000 bytes on
    TempDir dir;
    const std::string data = PageBytes(4000, 7);
    const uint32_t dos = 0x5A2F6000u;

    // What ZipWriter asks of minizip for an entry of the zip64 size.
    zipFile zip = zipOpen64((dir / "reference.zip").c_str(), APPEND_STATUS_CREATE);
    ASSERT_NE(zip, nullptr);
    zip_fileinfo info{};
    info.dosDate = dos;
    info.external_fa = 0x20;
    ASSERT_EQ(zipOpenNewFileInZip4_64(zip, "DATA\\B0000009.vtb", &info, nullptr, 0, nullptr, 0, nullptr, 0, 0, 0,
                                      -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, 0, 0, 1),
              ZIP_OK);
    ASSERT_EQ(zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size())), ZIP_OK);
    ASSERT_EQ(zipCloseFileInZip(zip), ZIP_OK);
    ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);

    int fd = open((dir / "layer.zip").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ZipLayer layer(fd, 0);
    const std::string name = "DATA\\B0000009.vtb";
    ASSERT_EQ(pwrite(fd, data.data(), data.size(), static_cast<off_t>(layer.nextDataOffset(name))),
              static_cast<ssize_t>(data.size()));
    ASSERT_TRUE(layer.AddWritten(name, dos, 0x20, data.size(), Crc(data)));
    ASSERT_TRUE(layer.Finish());
    close(fd);
    EXPECT_TRUE(ReadFile(dir / "layer.zip") == ReadFile(dir / "reference.zip"));
}

// A small store's work tree, as a backup leaves it before packing.
void MakeWorkTree(const fs::path &box) {
    WriteFile(box / "Backup.XML", "<?xml version=\"1.0\"?>\r\n<BackupInfo>\r\n</BackupInfo>");
    WriteFile(box / "DATABASE/B0000001.XML", PageBytes(300, 1));
    WriteFile(box / "DATABASE/B0000002.XML", PageBytes(300, 2));
    for (int b = 1; b <= 2; ++b) {
        fs::path level = box / ("DATA/B000000" + std::to_string(b)) / "P0000001";
        WriteFile(level / "D0000001.XML", PageBytes(200, b));
        WriteFile(level / "D0000001/PAGE0001.JPG", PageBytes(30000 * b, b + 10));
        WriteFile(level / "F0000001/D0000001/PAGE0001.TIF", PageBytes(9000, b + 20));
    }
    // A large page that does not compress: read and compressed in several blocks.
    std::mt19937 noise(7);
    std::string scan(700000, '\0');
    for (auto &c : scan) c = static_cast<char>(noise());
    WriteFile(box / "DATA/B0000001/P0000001/D0000002/PAGE0001.JPG", scan);
}

// The backup file unpacked level by level with the engine's own reader.
std::map<std::string, std::string> UnpackBackup(const std::string &file, const fs::path &out) {
    EXPECT_EQ(vtbox::UnzipArchive(file, out), 0u);
    EXPECT_EQ(vtbox::UnzipArchive(out / "BOX/DATABASE.vtb", out / "BOX", vtbox::kUnpackBoxArchive), 0u);
    EXPECT_EQ(vtbox::UnzipArchive(out / "BOX/DATA.zip", out / "BOX", {.deleteArchive = true}), 0u);
    for (const char *box : {"B0000001.vtb", "B0000002.vtb"})
        EXPECT_EQ(vtbox::UnzipArchive(out / "BOX/DATA" / box, out / "BOX/DATA", vtbox::kUnpackBoxArchive), 0u);
    return Snapshot(out / "BOX");
}

TEST(BackupFileWriter, ABackupFileUnpacksToTheTreeItWasWrittenFrom) {
    // With the usual limits, and with limits that put every zip64 form into
    // both levels (long headers, moved data, 64-bit sizes, offsets and end
    // records).
    for (uint64_t threshold : {uint64_t{0}, uint64_t{1024}}) {
        SCOPED_TRACE(threshold);
        LimitsForTest limits(threshold, threshold * 4);
        KeepCwd keep;
        TempDir dir;
        MakeWorkTree(dir / "BOX");
        const auto before = Snapshot(dir / "BOX");
        vtbox::StoreTree tree(dir.path());
        {
            vtbox::BackupFileWriter writer(tree);
            ASSERT_EQ(writer.Create(), 0u);
            ASSERT_EQ(writer.AddDatabase(), 0u);
            ASSERT_EQ(writer.AddBox(2), 0u);
            ASSERT_EQ(writer.AddBox(1), 0u);
            ASSERT_EQ(writer.FinishData(), 0u);
            ASSERT_EQ(writer.Finish(), 0u);
        }
        // Only the finished file is new in the work folder.
        std::vector<std::string> names;
        for (const auto &e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"BOX", "BOX.zip"}));
        EXPECT_EQ(EntryNames(tree.packedBox()),
                  (std::vector<std::string>{"BOX\\", "BOX\\Backup.XML", "BOX\\DATA.zip", "BOX\\DATABASE.vtb"}));
        // The zip64 end records appear exactly when the limits were lowered.
        const bool zip64End = ReadFile(tree.packedBox()).find(std::string("PK\x06\x06", 4)) != std::string::npos;
        EXPECT_EQ(zip64End, threshold != 0);
        EXPECT_EQ(UnpackBackup(tree.packedBox(), dir / "out"), before);
    }
}

TEST(BackupFileWriter, ACancelledBackupFileLeavesNothing) {
    KeepCwd keep;
    TempDir dir;
    MakeWorkTree(dir / "BOX");
    vtbox::StoreTree tree(dir.path());
    HANDLE cancel = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    {
        vtbox::CancelScope scope(cancel);
        vtbox::BackupFileWriter writer(tree);
        ASSERT_EQ(writer.Create(), 0u);
        ASSERT_EQ(writer.AddDatabase(), 0u);
        SetEvent(cancel);
        EXPECT_EQ(writer.AddBox(1), 995u);
    }  // gone without being finished
    CloseHandle(cancel);
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"BOX"});
}

}  // namespace
