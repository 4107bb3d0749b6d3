// Archives against zip readers and writers that no one here wrote: Info-ZIP
// zip/unzip and Python's zipfile.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "archive_helpers.hpp"
#include "packaging/folder_archive.hpp"
#include "temp_dir.hpp"
#include "vtBoxBRD.h"

namespace {

using namespace pkgtest;
using vttest::TempDir;

int RunShell(const std::string &command) {
    int status = std::system((command + " >/dev/null 2>&1").c_str());
    if (std::getenv("PEER_VERBOSE")) std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Have(const char *tool) { return RunShell(std::string("command -v ") + tool) == 0; }

std::string Quote(const std::string &text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Python's zipfile opens the archive, checks every CRC and finds exactly the
// names listed in expected (one per line, backslashes as stored, any order).
int PythonAccepts(const std::string &archive, const std::string &expected) {
    const std::string script =
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "assert z.testzip() is None\n"
        "want = open(sys.argv[2], encoding='utf-8').read().split('\\n')[:-1]\n"
        "assert sorted(z.namelist()) == sorted(want), z.namelist()\n";
    return RunShell("python3 -c " + Quote(script) + " " + Quote(archive) + " " + Quote(expected));
}

class PeerReaders : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Have("unzip") || !Have("zip") || !Have("python3"))
            GTEST_SKIP() << "Info-ZIP zip/unzip or python3 missing (scripts/install-deps installs them)";
    }
    // A tree with nested, empty and binary content and a name outside ASCII.
    void MakeTree(const fs::path &folder) {
        WriteFile(folder / "D0000001.XML", PageBytes(137, 1));
        WriteFile(folder / "D0000001/PAGE0001.JPG", PageBytes(120000, 2));
        WriteFile(folder / "F0000001/D0000002/PAGE0001.TIF", PageBytes(70000, 3));
        WriteFile(folder / "F0000001/UNLOCK.STS", "");
        WriteFile(folder / "F0000001/Überweisung.txt", "umlaut");
        fs::create_directories(folder / "F0000002");
    }
    // Both readers accept the archive; names is what Python must list.
    void ExpectAccepted(const std::string &archive, const std::string &names) {
        SCOPED_TRACE(archive);
        EXPECT_EQ(RunShell("unzip -tq " + Quote(archive)), 0);
        WriteFile(dir / "names.txt", names);
        EXPECT_EQ(PythonAccepts(archive, dir / "names.txt"), 0);
    }
    KeepCwd keep;
    TempDir dir;
};

TEST_F(PeerReaders, AcceptTreeFlatAndUnchangedBoxArchives) {
    MakeTree(dir / "B0000005");
    const std::string tree_names =
        "B0000005\\\nB0000005\\D0000001.XML\nB0000005\\D0000001\\\nB0000005\\D0000001\\PAGE0001.JPG\n"
        "B0000005\\F0000001\\\nB0000005\\F0000001\\UNLOCK.STS\nB0000005\\F0000001\\Überweisung.txt\n"
        "B0000005\\F0000001\\D0000002\\\nB0000005\\F0000001\\D0000002\\PAGE0001.TIF\n"
        "B0000005\\F0000002\\\n";

    ASSERT_EQ(vtbox::ZipFolder(dir / "tree.zip", dir / "B0000005"), 0u);
    ExpectAccepted(dir / "tree.zip", tree_names);

    ASSERT_EQ(vtbox::ZipFolder(dir / "B0000005.vtb", dir / "B0000005", {.byteChange = true}), 0u);
    EXPECT_NE(RunShell("unzip -tq " + Quote(dir / "B0000005.vtb")), 0);  // hidden until undone
    ASSERT_EQ(vtbox::ChangeLast32Bytes(dir / "B0000005.vtb"), 0u);
    ExpectAccepted(dir / "B0000005.vtb", tree_names);

    ASSERT_EQ(vtbox::ZipFolder(dir / "flat.zip", dir / "B0000005/F0000001", {.flat = true}), 0u);
    ExpectAccepted(dir / "flat.zip", "UNLOCK.STS\nÜberweisung.txt\n");
}

TEST_F(PeerReaders, AcceptEveryArchiveOfAWholeStore) {
    MakeTree(dir / "store/BOX/DATA/B0000001/P0000001");
    MakeTree(dir / "store/BOX/DATA/B0000002/P0000001");
    WriteFile(dir / "store/BOX/DATABASE/B0000001.XML", PageBytes(300, 4));
    WriteFile(dir / "store/BOX/DATABASE/B0000002.XML", PageBytes(300, 5));
    const std::string archive = dir / "whole.zip";
    const std::string root = dir / "store";
    ASSERT_EQ(vtBoxZipAllVaultraData(archive.c_str(), root.c_str(), nullptr, nullptr, nullptr), 0u);
    ExpectAccepted(archive, "BOX\\\nBOX\\DATA.zip\nBOX\\DATABASE.vtb\n");

    // The inner archives, opened with the same readers.
    ASSERT_EQ(vtbox::UnzipArchive(archive, dir / "look"), 0u);
    ExpectAccepted(dir / "look/BOX/DATA.zip", "DATA\\\nDATA\\B0000001.vtb\nDATA\\B0000002.vtb\n");
    ASSERT_EQ(vtbox::ChangeLast32Bytes(dir / "look/BOX/DATABASE.vtb"), 0u);
    ExpectAccepted(dir / "look/BOX/DATABASE.vtb", "DATABASE\\\nDATABASE\\B0000001.XML\nDATABASE\\B0000002.XML\n");
    ASSERT_EQ(vtbox::UnzipArchive(dir / "look/BOX/DATA.zip", dir / "look/BOX"), 0u);
    ASSERT_EQ(vtbox::ChangeLast32Bytes(dir / "look/BOX/DATA/B0000002.vtb"), 0u);
    EXPECT_EQ(RunShell("unzip -tq " + Quote(dir / "look/BOX/DATA/B0000002.vtb")), 0);
}

TEST_F(PeerReaders, ArchivesMadeByInfoZipUnpackThroughUnzipArchive) {
    MakeTree(dir / "src/B0000003");
    ASSERT_EQ(RunShell("cd " + Quote(dir / "src") + " && zip -r -q ../infozip.zip B0000003"), 0);
    ASSERT_EQ(vtbox::UnzipArchive(dir / "infozip.zip", dir / "out"), 0u);
    EXPECT_EQ(Snapshot(dir / "out/B0000003"), Snapshot(dir / "src/B0000003"));
}

TEST_F(PeerReaders, ArchivesMadeByPythonUnpackThroughUnzipArchive) {
    MakeTree(dir / "src/B0000004");
    const std::string script =
        "import os, sys, zipfile\n"
        "os.chdir(sys.argv[1])\n"
        "with zipfile.ZipFile(sys.argv[2], 'w', zipfile.ZIP_DEFLATED) as z:\n"
        "    for top, dirs, files in os.walk('B0000004'):\n"
        "        z.write(top)\n"
        "        for f in files: z.write(os.path.join(top, f))\n";
    ASSERT_EQ(RunShell("python3 -c " + Quote(script) + " " + Quote(dir / "src") + " " + Quote(dir / "python.zip")), 0);
    ASSERT_EQ(vtbox::UnzipArchive(dir / "python.zip", dir / "out"), 0u);
    EXPECT_EQ(Snapshot(dir / "out/B0000004"), Snapshot(dir / "src/B0000004"));
}

}  // namespace

namespace {

// Many files compressed ahead of the writer, and archives inside the archive
// stored as they are: every reader gets every byte back, in the order written.
TEST_F(PeerReaders, ManyFilesAndStoredInnerArchivesReadBackEverywhere) {
    fs::create_directories(dir / "DATA/B0000001");
    std::string names = "DATA\\\nDATA\\inner.ZIP\nDATA\\B0000001.vtb\n";
    WriteFile(dir / "DATA/inner.ZIP", PageBytes(300000, 1));
    WriteFile(dir / "DATA/B0000001.vtb", PageBytes(200000, 2));
    names += "DATA\\B0000001\\\n";
    for (int i = 0; i < 120; ++i) {
        char file[32];
        std::snprintf(file, sizeof file, "PAGE%04d.DAT", i);
        WriteFile(dir / (std::string("DATA/B0000001/") + file), PageBytes(1000 + i * 997, 10 + i));
        names += std::string("DATA\\B0000001\\") + file + "\n";
    }
    auto before = Snapshot(dir / "DATA");
    ASSERT_EQ(vtbox::ZipFolder(dir / "data.zip", dir / "DATA"), 0u);
    ExpectAccepted(dir / "data.zip", names);
    // The two archives went in uncompressed, the pages deflated.
    std::string listing;
    FILE *p = popen(("unzip -v " + Quote(dir / "data.zip")).c_str(), "r");
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) listing.append(buf, n);
    pclose(p);
    for (const char *archive : {"DATA\\inner.ZIP", "DATA\\B0000001.vtb"}) {
        size_t at = listing.find(archive);
        ASSERT_NE(at, std::string::npos) << listing;
        size_t lineStart = listing.rfind('\n', at) + 1;
        EXPECT_NE(listing.substr(lineStart, at - lineStart).find("Stored"), std::string::npos) << listing;
    }
    EXPECT_NE(listing.find("Defl:N"), std::string::npos);

    fs::create_directories(dir / "out");
    ASSERT_EQ(vtbox::UnzipArchive(dir / "data.zip", dir / "out"), 0u);
    EXPECT_EQ(Snapshot(dir / "out/DATA"), before);
}

}  // namespace
