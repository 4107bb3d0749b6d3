#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "archive_helpers.hpp"
#include "debug_capture.hpp"
#include "localfiles/local_folder.hpp"
#include "packaging/folder_archive.hpp"
#include "packaging/zip_reader.hpp"
#include "session/waits.hpp"
#include "temp_dir.hpp"
#include "vtplatform.h"
#include "vtplatform/errors.hpp"

namespace {

using namespace pkgtest;
using Names = std::vector<std::string>;
using vttest::TempDir;

bool HasPartFiles(const fs::path &folder) {
    for (const auto &e : fs::directory_iterator(folder))
        if (e.path().filename().string().rfind(".vtbox-", 0) == 0) return true;
    return false;
}

TEST(ZipFolderTree, EmptyFolderGivesOnlyItsOwnFolderEntry) {
    KeepCwd keep;
    TempDir dir;
    fs::create_directory(dir / "EMPTY");
    ASSERT_EQ(vtbox::ZipFolder("", dir / "EMPTY"), 0u);
    EXPECT_EQ(EntryNames(dir / "EMPTY.zip"), Names{"EMPTY\\"});

    vtbox::ZipReader reader;
    ASSERT_TRUE(reader.Open(dir / "EMPTY.zip"));
    ASSERT_TRUE(reader.GotoFirst());
    vtbox::ZipEntryInfo info;
    ASSERT_TRUE(reader.CurrentInfo(&info));
    EXPECT_TRUE(info.isFolder);
    EXPECT_EQ(info.externalAttributes & 0x10u, 0x10u);
}

TEST(ZipFolderTree, NamesEntriesFromTheFolderAndLeavesOutDotNames) {
    KeepCwd keep;
    TempDir dir;
    WriteFile(dir / "BOX/DATA/B0000001.vtb", "box one");
    WriteFile(dir / "BOX/DATA/.hidden", "no");
    WriteFile(dir / "BOX/DATA/.cache/inside", "no");
    WriteFile(dir / "BOX/DATA/sub/page", "yes");
    ASSERT_EQ(vtbox::ZipFolder(dir / "BOX/DATA.zip", dir / "BOX/DATA"), 0u);
    EXPECT_EQ(EntryNames(dir / "BOX/DATA.zip"),
              (Names{"DATA\\", "DATA\\B0000001.vtb", "DATA\\sub\\", "DATA\\sub\\page"}));
    EXPECT_FALSE(HasPartFiles(dir / "BOX"));

    // Unpacking into BOX recreates the folder's files in place.
    vtbox::DeleteLocalTree(dir / "BOX/DATA", dir.path());
    ASSERT_EQ(vtbox::UnzipArchive(dir / "BOX/DATA.zip", dir / "BOX", {.deleteArchive = true}), 0u);
    EXPECT_EQ(ReadFile(dir / "BOX/DATA/B0000001.vtb"), "box one");
    EXPECT_EQ(ReadFile(dir / "BOX/DATA/sub/page"), "yes");
    EXPECT_FALSE(fs::exists(dir / "BOX/DATA/.hidden"));
    EXPECT_FALSE(fs::exists(dir / "BOX/DATA.zip"));
}

TEST(ZipFolderTree, EntriesCarryTheFilesModificationTime) {
    KeepCwd keep;
    TempDir dir;
    WriteFile(dir / "SRC/scan.tif", PageBytes(5000, 1));
    struct tm when {};
    when.tm_year = 2021 - 1900;
    when.tm_mon = 2;
    when.tm_mday = 4;
    when.tm_hour = 5;
    when.tm_min = 6;
    when.tm_sec = 8;
    when.tm_isdst = -1;
    time_t stamp = mktime(&when);
    struct timespec times[2] = {{stamp, 0}, {stamp, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir / "SRC/scan.tif").c_str(), times, 0), 0);

    ASSERT_EQ(vtbox::ZipFolder(dir / "src.zip", dir / "SRC"), 0u);
    vtbox::ZipReader reader;
    ASSERT_TRUE(reader.Open(dir / "src.zip"));
    ASSERT_TRUE(reader.Locate("SRC\\scan.tif", false));
    vtbox::ZipEntryInfo info;
    ASSERT_TRUE(reader.CurrentInfo(&info));
    EXPECT_EQ(info.dosDateTime, (41u << 25 | 3u << 21 | 4u << 16 | 5u << 11 | 6u << 5 | 4u));
    EXPECT_EQ(info.method, 8u);
    reader.Close();

    ASSERT_EQ(vtbox::UnzipArchive(dir / "src.zip", dir / "out"), 0u);
    struct stat st;
    ASSERT_EQ(stat((dir / "out/SRC/scan.tif").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, stamp);
}

TEST(ZipFolderTree, AnExistingTargetFailsAndKeepsItsBytes) {
    KeepCwd keep;
    TempDir dir;
    WriteFile(dir / "B0000001/P0000001/page", "new data");
    WriteFile(dir / "B0000001.vtb", "precious older archive");
    vttest::DebugCapture log;
    EXPECT_EQ(vtbox::ZipFolder(dir / "B0000001.vtb", dir / "B0000001", {.byteChange = true}), 183u);
    EXPECT_EQ(ReadFile(dir / "B0000001.vtb"), "precious older archive");
    EXPECT_EQ(log.text().find("bChangeLast32Bytes done "), std::string::npos);
    EXPECT_FALSE(HasPartFiles(dir.path()));

    // Without a target the archive beside the folder is the target.
    WriteFile(dir / "B0000001.zip", "also older");
    EXPECT_EQ(vtbox::ZipFolder("", dir / "B0000001"), 183u);
    EXPECT_EQ(ReadFile(dir / "B0000001.zip"), "also older");
}

TEST(ZipFolderTree, AMissingSourceFailsWithoutAnArchive) {
    KeepCwd keep;
    TempDir dir;
    EXPECT_NE(vtbox::ZipFolder(dir / "x.zip", dir / "missing"), 0u);
    EXPECT_FALSE(fs::exists(dir / "x.zip"));
    EXPECT_FALSE(HasPartFiles(dir.path()));
}

TEST(ZipFolderFlat, PacksOnlyTheFilesDirectlyInsideByBareName) {
    KeepCwd keep;
    TempDir dir;
    WriteFile(dir / "work/Archive.XML", "<a/>");
    WriteFile(dir / "work/D0000001.zip", PageBytes(3000, 2));
    WriteFile(dir / "work/D0000001/page", "unpacked folder, not included");
    ASSERT_EQ(vtbox::ZipFolder(dir / "out.zip", dir / "work", {.flat = true}), 0u);
    EXPECT_EQ(EntryNames(dir / "out.zip"), (Names{"Archive.XML", "D0000001.zip"}));

    vttest::DebugCapture log;
    EXPECT_NE(vtbox::ZipFolder(dir / "no/such/folder/out.zip", dir / "work", {.flat = true}), 0u);
    EXPECT_NE(log.text().find("\n\n Not a valid zip file \n"), std::string::npos);
    EXPECT_NE(vtbox::ZipFolder("", dir / "work", {.flat = true}), 0u);  // flat needs a target
}

TEST(ChangeLast32Bytes, ChangedOnceIsRejectedChangedTwiceEqualsThePlainArchive) {
    KeepCwd keep;
    TempDir dir;
    WriteFile(dir / "B0000003/P0000001/D0000001.XML", PageBytes(700, 3));
    WriteFile(dir / "B0000003/P0000001/D0000001/PAGE0001.JPG", PageBytes(40000, 4));
    ASSERT_EQ(vtbox::ZipFolder(dir / "plain.zip", dir / "B0000003"), 0u);
    ASSERT_EQ(vtbox::ZipFolder(dir / "B0000003.vtb", dir / "B0000003", {.byteChange = true}), 0u);

    const std::string plain = ReadFile(dir / "plain.zip");
    const std::string changed = ReadFile(dir / "B0000003.vtb");
    ASSERT_EQ(plain.size(), changed.size());
    for (size_t i = 0; i < plain.size(); ++i) {
        bool in_window = i >= plain.size() - 16 && i < plain.size() - 8;
        ASSERT_EQ(static_cast<unsigned char>(changed[i]),
                  in_window ? static_cast<unsigned char>(~plain[i]) : static_cast<unsigned char>(plain[i]))
            << "byte " << i;
    }

    vttest::DebugCapture log;
    vtbox::ZipReader reader;
    EXPECT_FALSE(reader.Open(dir / "B0000003.vtb"));
    EXPECT_EQ(vtbox::GetArchiveKind(dir / "B0000003.vtb"), 0);
    EXPECT_NE(log.text().find("\n\n Not a valid zip file \n"), std::string::npos);

    ASSERT_EQ(vtbox::ChangeLast32Bytes(dir / "B0000003.vtb"), 0u);
    EXPECT_EQ(ReadFile(dir / "B0000003.vtb"), plain);
}

TEST(ChangeLast32Bytes, FailsOnMissingAndTooShortFilesWithoutChangingThem) {
    TempDir dir;
    vttest::DebugCapture log;
    EXPECT_EQ(vtbox::ChangeLast32Bytes(dir / "missing.vtb"), 2u);
    EXPECT_NE(log.text().find("Zip File Open Failed \n\n\n\n"), std::string::npos);
    WriteFile(dir / "short.vtb", "0123456789");
    EXPECT_NE(vtbox::ChangeLast32Bytes(dir / "short.vtb"), 0u);
    EXPECT_EQ(ReadFile(dir / "short.vtb"), "0123456789");
}

TEST(UnzipArchive, ArchivesWithoutEntriesOrNotZipFailAndAreKept) {
    KeepCwd keep;
    TempDir dir;
    ASSERT_TRUE(CraftArchive(dir / "empty.zip", {}));
    vttest::DebugCapture log;
    EXPECT_NE(vtbox::UnzipArchive(dir / "empty.zip", dir / "out", {.deleteArchive = true}), 0u);
    EXPECT_NE(log.text().find("\n\n *************** UNZIP FAILED ***************\n\n"), std::string::npos);
    EXPECT_TRUE(fs::exists(dir / "empty.zip"));

    log.clear();
    WriteFile(dir / "garbage.zip", PageBytes(4096, 5));
    EXPECT_NE(vtbox::UnzipArchive(dir / "garbage.zip", dir / "out", {.deleteArchive = true}), 0u);
    EXPECT_NE(log.text().find("\n\n Not a valid zip file \n"), std::string::npos);
    EXPECT_TRUE(fs::exists(dir / "garbage.zip"));
    EXPECT_NE(vtbox::UnzipArchive(dir / "missing.zip", dir / "out", {.deleteArchive = true}), 0u);
}

TEST(UnzipArchive, ForwardAndBackwardSlashEntriesLandInTheSameFolders) {
    KeepCwd keep;
    TempDir dir;
    ASSERT_TRUE(CraftArchive(
        dir / "mixed.zip",
        {{"BOX\\DATA\\a.bin", "A"}, {"BOX/DATA/b.bin", "B"}, {"BOX/DATA/sub/", ""}, {"BOX\\DATA\\sub\\c.bin", "C"}}));
    ASSERT_EQ(vtbox::UnzipArchive(dir / "mixed.zip", dir / "out"), 0u);
    EXPECT_EQ(Snapshot(dir / "out"), (std::map<std::string, std::string>{{"BOX/", ""},
                                                                         {"BOX/DATA/", ""},
                                                                         {"BOX/DATA/a.bin", "A"},
                                                                         {"BOX/DATA/b.bin", "B"},
                                                                         {"BOX/DATA/sub/", ""},
                                                                         {"BOX/DATA/sub/c.bin", "C"}}));
}

TEST(UnzipArchive, AnEntryWithDosDateZeroKeepsItsWritingTime) {
    KeepCwd keep;
    TempDir dir;
    ASSERT_TRUE(CraftArchive(dir / "zero.zip", {{"f.txt", "text"}}));
    // Zero the date and time fields of the local and the central header.
    std::string bytes = ReadFile(dir / "zero.zip");
    size_t local = bytes.find("PK\x03\x04"), central = bytes.find("PK\x01\x02");
    ASSERT_NE(local, std::string::npos);
    ASSERT_NE(central, std::string::npos);
    bytes.replace(local + 10, 4, std::string(4, '\0'));
    bytes.replace(central + 12, 4, std::string(4, '\0'));
    WriteFile(dir / "zero.zip", bytes);

    time_t before = time(nullptr);
    ASSERT_EQ(vtbox::UnzipArchive(dir / "zero.zip", dir / "out"), 0u);
    struct stat st;
    ASSERT_EQ(stat((dir / "out/f.txt").c_str(), &st), 0);
    EXPECT_GE(st.st_mtime, before - 1);
    EXPECT_EQ(ReadFile(dir / "out/f.txt"), "text");
}

TEST(UnzipArchive, ADamagedEntryFailsAndLeavesTheOlderFileWhole) {
    KeepCwd keep;
    TempDir dir;
    const std::string data = PageBytes(20000, 6);
    ASSERT_TRUE(CraftArchive(dir / "bad.zip", {{"f.bin", data}}));
    std::string bytes = ReadFile(dir / "bad.zip");
    bytes[30 + 5 + 100] ^= 0x55;  // inside the compressed data of the only entry
    WriteFile(dir / "bad.zip", bytes);
    WriteFile(dir / "out/f.bin", "older copy");

    EXPECT_NE(vtbox::UnzipArchive(dir / "bad.zip", dir / "out"), 0u);
    EXPECT_EQ(ReadFile(dir / "out/f.bin"), "older copy");
    EXPECT_FALSE(HasPartFiles(dir / "out"));
}

TEST(UnzipArchive, UndoesTheByteChangeAndDeletesOnlyAfterACompleteUnpack) {
    KeepCwd keep;
    TempDir dir;
    WriteFile(dir / "B0000009/P0000001/D0000001.XML", "record");
    ASSERT_EQ(vtbox::ZipFolder(dir / "B0000009.vtb", dir / "B0000009", {.byteChange = true}), 0u);
    vtbox::DeleteLocalTree(dir / "B0000009", dir.path());
    ASSERT_EQ(vtbox::UnzipArchive(dir / "B0000009.vtb", "", vtbox::kUnpackBoxArchive), 0u);
    EXPECT_EQ(ReadFile(dir / "B0000009/P0000001/D0000001.XML"), "record");
    EXPECT_FALSE(fs::exists(dir / "B0000009.vtb"));

    // A failed unpack keeps the archive, with the change undone.
    ASSERT_EQ(vtbox::ZipFolder(dir / "again.vtb", dir / "B0000009", {.byteChange = true}), 0u);
    WriteFile(dir / "blocked", "a file where a folder is needed");
    EXPECT_NE(vtbox::UnzipArchive(dir / "again.vtb", dir / "blocked", vtbox::kUnpackBoxArchive), 0u);
    vtbox::ZipReader reader;
    EXPECT_TRUE(reader.Open(dir / "again.vtb"));
}

TEST(ZipFolderTree, ACancelledJobEndsPackingAndUnpackingWithNothingHalfDone) {
    KeepCwd keep;
    TempDir dir;
    for (int i = 1; i <= 3; ++i) WriteFile(dir / ("B0000001/P0000001/D000000" + std::to_string(i) + ".XML"), "r");
    ASSERT_EQ(vtbox::ZipFolder(dir / "B0000001.vtb", dir / "B0000001", {.byteChange = true}), 0u);

    HANDLE cancel = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_NE(cancel, nullptr);
    {
        vtbox::CancelScope scope(cancel);
        const uint32_t aborted = vt::code(vt::Code::CANCELLED);
        EXPECT_EQ(vtbox::ZipFolder(dir / "again.vtb", dir / "B0000001", {.byteChange = true}), aborted);
        EXPECT_FALSE(fs::exists(dir / "again.vtb"));
        EXPECT_FALSE(HasPartFiles(dir.path()));

        fs::create_directory(dir / "out");
        EXPECT_EQ(vtbox::UnzipArchive(dir / "B0000001.vtb", dir / "out", vtbox::kUnpackBoxArchive), aborted);
        EXPECT_TRUE(fs::exists(dir / "B0000001.vtb"));  // kept for another try
    }
    CloseHandle(cancel);
    // The archive left behind is whole (its byte change undone, as after any failed unpack).
    ASSERT_EQ(vtbox::UnzipArchive(dir / "B0000001.vtb", dir / "out"), 0u);
    EXPECT_EQ(ReadFile(dir / "out/B0000001/P0000001/D0000003.XML"), "r");
}

TEST(ZipSlip, EntriesThatWouldLeaveTheTargetAreRefused) {
    KeepCwd keep;
    TempDir dir;
    const std::string outside = dir / "outside.txt";
    const Names unsafe = {"..\\..\\x.txt", "../x.txt", "sub/../../x.txt", outside, "\\x.txt", "C:\\x.txt", "c:x.txt"};
    for (const auto &name : unsafe) {
        SCOPED_TRACE(name);
        fs::create_directories(dir / "a/b/target");
        ASSERT_TRUE(CraftArchive(dir / "evil.zip", {{"fine.txt", "ok"}, {name, "escaped"}}));
        vttest::DebugCapture log;
        EXPECT_NE(vtbox::UnzipArchive(dir / "evil.zip", dir / "a/b/target", {.deleteArchive = true}), 0u);
        // Refused as a whole before anything of it is unpacked.
        EXPECT_NE(log.text().find("leads out of its folder"), std::string::npos) << log.text();
        EXPECT_FALSE(fs::exists(dir / "a/b/target/fine.txt"));
        EXPECT_TRUE(fs::exists(dir / "evil.zip"));
        EXPECT_FALSE(fs::exists(outside));
        EXPECT_FALSE(fs::exists("/x.txt"));
        // Nothing but the target's own content anywhere in the temp folder.
        for (const auto &e : fs::recursive_directory_iterator(dir.path())) {
            std::string rel = fs::relative(e.path(), dir.path()).string();
            EXPECT_TRUE(rel == "evil.zip" || rel == "a" || rel == "a/b" || rel.rfind("a/b/target", 0) == 0) << rel;
            EXPECT_EQ(rel.find("x.txt"), std::string::npos) << rel;
        }
        fs::remove_all(dir / "a");
    }
}

// One entry name of 32,700 levels, about as deep as a name's 16-bit length
// allows: making its folders takes memory of the name's length, not of its
// square (which is a gigabyte), and nothing of a path the system cannot
// name is made.
TEST(UnzipArchive, ADeepEntryNameTakesMemoryOfItsLengthOnly) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit leaves AddressSanitizer no room for its shadow memory";
#endif
    KeepCwd keep;
    TempDir dir;
    std::string deep;
    for (int i = 0; i < 32700; ++i) deep += "a/";
    ASSERT_TRUE(CraftArchive(dir / "deep.zip", {{deep, ""}, {"fine.txt", "ok"}}));
    std::fflush(nullptr);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // 256 MB beyond what the process has mapped already.
        long pages = 0;
        if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
            std::fclose(statm);
        }
        const rlim_t room = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (256u << 20);
        struct rlimit limit = {room, room};
        if (pages == 0 || setrlimit(RLIMIT_AS, &limit) != 0) _exit(2);
        _exit(vtbox::UnzipArchive(dir / "deep.zip", dir / "out") != 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
    EXPECT_FALSE(fs::exists(dir / "out/a"));
}

TEST(ExtractBoxArchive, FindsTheBoxInAnyCaseAndWritesItIntoTheTarget) {
    KeepCwd keep;
    TempDir dir;
    ASSERT_TRUE(CraftArchive(dir / "DATA.zip",
                             {{"DATA\\", ""}, {"DATA\\B0000017.vtb", "seventeen"}, {"DATA\\b0000007.VTB", "seven"}}));
    ASSERT_EQ(vtbox::ExtractBoxArchive(dir / "DATA.zip", dir / "BOX/DATA", 7), 0u);
    EXPECT_EQ(Snapshot(dir / "BOX/DATA"), (std::map<std::string, std::string>{{"B0000007.vtb", "seven"}}));

    vttest::DebugCapture log;
    EXPECT_NE(vtbox::ExtractBoxArchive(dir / "DATA.zip", dir / "BOX/DATA", 8), 0u);
    EXPECT_NE(log.text().find("\n\n File to be extracted was not Found.. \n"), std::string::npos);
    EXPECT_NE(vtbox::ExtractBoxArchive(dir / "missing.zip", dir / "BOX/DATA", 7), 0u);
}

TEST(GetArchiveKind, TellsBackupFilesFromArchiveFiles) {
    TempDir dir;
    ASSERT_TRUE(CraftArchive(dir / "backup.zip", {{"BOX\\", ""}, {"BOX\\backup.xml", "<b/>"}}));
    ASSERT_TRUE(CraftArchive(dir / "archive.zip", {{"Archive.XML", "<a/>"}, {"D0000001.zip", "d"}}));
    ASSERT_TRUE(CraftArchive(dir / "other.zip", {{"Backup.XML.txt", "no"}, {"Backup.XML\\", ""}}));
    WriteFile(dir / "garbage.zip", "not a zip at all, not even close to 22 bytes long");
    EXPECT_EQ(vtbox::GetArchiveKind(dir / "backup.zip"), 1);
    EXPECT_EQ(vtbox::GetArchiveKind(dir / "archive.zip"), 2);
    EXPECT_EQ(vtbox::GetArchiveKind(dir / "other.zip"), 0);
    EXPECT_EQ(vtbox::GetArchiveKind(dir / "garbage.zip"), 0);
    EXPECT_EQ(vtbox::GetArchiveKind(dir / "missing.zip"), 0);
}

TEST(ZipReader, WalksEntriesByExtensionAndSurvivesBrokenArchives) {
    KeepCwd keep;
    TempDir dir;
    ASSERT_TRUE(CraftArchive(
        dir / "data.zip",
        {{"DATA\\", ""}, {"DATA\\B0000001.vtb", "1"}, {"DATA\\readme.txt", "r"}, {"DATA/B0000002.VTB", "2"}}));
    vtbox::ZipReader reader;
    ASSERT_TRUE(reader.Open(dir / "data.zip"));
    EXPECT_EQ(reader.EntryCount(), 4u);
    EXPECT_EQ(reader.outputFolder(), dir.path());
    vtbox::ZipEntryInfo info;
    ASSERT_TRUE(reader.GotoFirst("vtb"));
    ASSERT_TRUE(reader.CurrentInfo(&info));
    EXPECT_EQ(info.name, "DATA\\B0000001.vtb");
    EXPECT_FALSE(info.isFolder);
    ASSERT_TRUE(reader.GotoNext("vtb"));
    ASSERT_TRUE(reader.CurrentInfo(&info));
    EXPECT_EQ(info.name, "DATA\\B0000002.VTB");
    EXPECT_FALSE(reader.GotoNext("vtb"));
    EXPECT_EQ(GetLastError(), 18u);
    EXPECT_TRUE(reader.Locate("data\\b0000002.vtb", false));
    EXPECT_FALSE(reader.Locate("B0000002.vtb", false));
    EXPECT_TRUE(reader.Locate("B0000002.vtb", true));

    // Cut archives and random bytes are refused, never crash.
    const std::string whole = ReadFile(dir / "data.zip");
    for (size_t cut : {size_t{0}, size_t{10}, whole.size() / 2, whole.size() - 22, whole.size() - 23}) {
        WriteFile(dir / "cut.zip", whole.substr(0, cut));
        EXPECT_FALSE(reader.Open(dir / "cut.zip")) << cut;
        EXPECT_NE(GetLastError(), 0u);
    }
    for (unsigned seed = 0; seed < 50; ++seed) {
        std::string noisy = whole;
        noisy[(seed * 7919u) % (noisy.size() - 22)] ^= static_cast<char>(1 + seed);
        WriteFile(dir / "noisy.zip", noisy);
        fs::remove_all(dir / "noisy");
        vtbox::UnzipArchive(dir / "noisy.zip", dir / "noisy");
    }
    for (const auto &e : fs::directory_iterator(dir.path())) {
        std::string name = e.path().filename().string();
        EXPECT_TRUE(name == "data.zip" || name == "cut.zip" || name == "noisy.zip" || name == "noisy") << name;
    }
}

}  // namespace
