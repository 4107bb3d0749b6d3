#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "localfiles/local_file.hpp"
#include "localfiles/local_folder.hpp"
#include "localfiles/target_file.hpp"
#include "temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
using vttest::TempDir;

using vttest::KeepCwd;

std::vector<std::string> Names(const vtbox::FindList &list) {
    std::vector<std::string> out;
    for (const auto &e : list) out.emplace_back(e.cFileName);
    return out;
}

TEST(FindPattern, KeepsTheWindowsMeaning) {
    EXPECT_TRUE(vt::MatchesFindPattern("*.*", "D0000001"));  // no dot, still matched
    EXPECT_TRUE(vt::MatchesFindPattern("*", "D0000001.XML"));
    EXPECT_TRUE(vt::MatchesFindPattern("B0000*", "b0000007.vtb"));
    EXPECT_TRUE(vt::MatchesFindPattern("P*", "P0000001"));
    EXPECT_FALSE(vt::MatchesFindPattern("P*", "D0000001"));
    EXPECT_TRUE(vt::MatchesFindPattern("D000*.zip", "D0000012.ZIP"));
    EXPECT_FALSE(vt::MatchesFindPattern("D000*.zip", "D0000012.zipx"));
    EXPECT_TRUE(vt::MatchesFindPattern("F0000??1.XML", "F0000001.xml"));
    EXPECT_FALSE(vt::MatchesFindPattern("F0000??1.XML", "F000001.XML"));
}

TEST(ListLocalFolder, SplitsFoldersAndFilesAndLeavesTheFolderCurrent) {
    KeepCwd keep;
    TempDir dir;
    fs::create_directories(dir / "P0000001/D0000001");
    fs::create_directories(dir / "F0000002");
    std::ofstream(dir / "D0000001.XML") << "rec";
    std::ofstream(dir / "CREATE.STS");
    vtbox::FindList folders, files;
    ASSERT_EQ(vtbox::ListLocalFolder(dir.path(), "*", &folders, &files), 0u);
    EXPECT_EQ(Names(folders), (std::vector<std::string>{"F0000002", "P0000001"}));
    EXPECT_EQ(Names(files), (std::vector<std::string>{"CREATE.STS", "D0000001.XML"}));
    EXPECT_EQ(files[1].nFileSizeLow, 3u);
    EXPECT_EQ(fs::current_path(), fs::path(dir.path()));

    vtbox::FindList onlyP;
    ASSERT_EQ(vtbox::ListLocalFolder(dir.path(), "P*", &onlyP, nullptr), 0u);
    EXPECT_EQ(Names(onlyP), (std::vector<std::string>{"P0000001"}));
    EXPECT_EQ(vtbox::ListLocalFolder(dir.path(), "*.vtb", &onlyP, nullptr), 1359u);
    EXPECT_EQ(vtbox::ListLocalFolder(dir / "missing", "*", &folders, &files), 161u);
}

TEST(DeleteLocalTree, RemovesANestedTreeGivenByARelativePath) {
    KeepCwd keep;
    TempDir dir;
    fs::create_directories(dir / "work/BOX/DATA/B0000001/P0000001/D0000001");
    std::ofstream(dir / "work/BOX/DATA/B0000001/P0000001/D0000001/PAGE0001.JPG") << "x";
    std::ofstream(dir / "work/BOX/Backup.XML") << "y";
    fs::current_path(dir.path());
    EXPECT_EQ(vtbox::DeleteLocalTree("work/BOX", "work"), 0u);
    EXPECT_FALSE(fs::exists(dir / "work/BOX"));
    EXPECT_TRUE(fs::exists(dir / "work"));
    EXPECT_EQ(fs::current_path(), fs::path(dir / "work"));
}

TEST(DeleteLocalTree, NeverFollowsALinkOutOfTheTree) {
    KeepCwd keep;
    TempDir dir;
    fs::create_directories(dir / "keep");
    std::ofstream(dir / "keep/precious") << "only copy";
    fs::create_directories(dir / "tree/sub");
    fs::create_directory_symlink(dir / "keep", dir / "tree/sub/link");
    EXPECT_EQ(vtbox::DeleteLocalTree(dir / "tree", dir.path()), 0u);
    EXPECT_FALSE(fs::exists(dir / "tree"));
    EXPECT_TRUE(fs::exists(dir / "keep/precious"));

    // A link given as the folder itself goes, and what it points to stays.
    fs::create_directory_symlink(dir / "keep", dir / "BOX");
    EXPECT_EQ(vtbox::DeleteLocalTree(dir / "BOX", dir.path()), 0u);
    EXPECT_FALSE(fs::is_symlink(dir / "BOX"));
    EXPECT_EQ(fs::directory_iterator(dir / "keep")->path().filename(), "precious");
}

TEST(DeleteLocalTree, AMissingFolderGivesTheSystemError) {
    KeepCwd keep;
    TempDir dir;
    EXPECT_EQ(vtbox::DeleteLocalTree(dir / "nothing", dir.path()), 2u);
}

}  // namespace

namespace {

// A finished file never takes the place of a FIFO, a device or a link: the
// thing stays as it was and the finished file is kept for the caller.
TEST(TargetFile, WhatIsNoRegularFileIsNeverReplaced) {
    TempDir dir;
    std::string fifo = dir / "fifo", link = dir / "link", kept = dir / "kept", finished = dir / "finished";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(kept) << "somebody's file";
    fs::create_symlink(kept, link);
    for (const std::string &target : {fifo, link}) {
        std::ofstream(finished) << "backup";
        EXPECT_EQ(vtbox::ReplaceTargetFile(finished, target), 5u) << target;
        EXPECT_TRUE(fs::exists(finished)) << target;
        vtbox::PartFile part;
        ASSERT_TRUE(part.Create(dir.path(), false));
        EXPECT_FALSE(part.Commit(target, true)) << target;
        EXPECT_EQ(GetLastError(), 5u);
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_symlink(link));
    std::ifstream in(kept);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "somebody's file");
    // A regular file and a free name are replaced and taken as before.
    EXPECT_EQ(vtbox::ReplaceTargetFile(finished, kept), 0u);
    std::ofstream(finished) << "again";
    EXPECT_EQ(vtbox::ReplaceTargetFile(finished, dir / "new"), 0u);
}

}  // namespace
