// The store's names read back: every number a record name can carry, and
// the names that are no record of the device.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "session/result.hpp"
#include "store/layout.hpp"
#include "temp_dir.hpp"

namespace {

TEST(StoreLayout, EveryEntryNumberSurvivesItsRecordName) {
    for (uint32_t n = 1; n <= vtbox::kMaxEntryNumber; ++n) {
        EXPECT_EQ(vtbox::EntryNumberFromRecordName(vtbox::RecordFileName(vtbox::EntryName(n, true)), 'D'),
                  static_cast<int>(n));
        EXPECT_EQ(vtbox::EntryNumberFromRecordName(vtbox::RecordFileName(vtbox::EntryName(n, false)), 'F'),
                  static_cast<int>(n));
    }
}

TEST(StoreLayout, NamesThatAreNoRecordOfTheDevice) {
    for (const char *name : {"D0000000.XML", "D0000001.xml", "D000001.XML", "D00000x1.XML", "F0000001.XML",
                             "D0000001.XMLX", "D00001000.XML", "D0000001", ""})
        EXPECT_EQ(vtbox::EntryNumberFromRecordName(name, 'D'), -1) << name;
}

TEST(StoreLayout, AnEntryNumberAboveThreeDigitsIsRefused) {
    try {
        vtbox::EntryName(vtbox::kMaxEntryNumber + 1, true);
        FAIL() << "no error raised";
    } catch (const vtbox::BoxError &e) {
        EXPECT_EQ(e.code(), 87u);
    }
}

// A backup file written on a system that ignores case may spell the names of
// its tree otherwise; once unpacked they take ours, and nothing else moves.
TEST(StoreLayout, UnpackedNamesTakeTheirSpellingHere) {
    namespace fs = std::filesystem;
    vttest::TempDir dir;
    fs::create_directories(dir / "box/data");
    std::ofstream(dir / "box/DATA.ZIP") << "d";
    std::ofstream(dir / "box/backup.xml") << "b";
    std::ofstream(dir / "box/database.VTB") << "r";
    std::ofstream(dir / "box/Other.txt") << "o";
    const vtbox::StoreTree tree(dir.path());
    tree.AdoptNameCase();
    EXPECT_TRUE(fs::is_regular_file(tree.dataArchive()));
    EXPECT_TRUE(fs::is_regular_file(tree.description()));
    EXPECT_TRUE(fs::is_regular_file(tree.databaseArchive()));
    EXPECT_TRUE(fs::is_directory(dir / "BOX/data"));  // what the tree does not name stays as it is
    EXPECT_TRUE(fs::is_regular_file(dir / "BOX/Other.txt"));
    EXPECT_FALSE(fs::exists(dir / "box"));
    tree.AdoptNameCase();  // names already right stay
    EXPECT_TRUE(fs::is_regular_file(tree.dataArchive()));
}

}  // namespace
