// The entries of a local box level and the settling of clashes with the device's.
#include <gtest/gtest.h>

#include <functional>

#include "level_files.hpp"
#include "restore/restore_entries.hpp"
#include "session/result.hpp"
#include "temp_dir.hpp"

namespace {

using namespace vttest;
using vtbox::BoxEntry;
using vtbox::EntryList;

BoxEntry Doc(uint32_t id, const std::u16string &name) { return BoxEntry{1, id, name}; }

std::vector<uint32_t> Ids(const EntryList &list) {
    std::vector<uint32_t> ids;
    for (const auto &e : list) ids.push_back(e.id);
    return ids;
}

class Level : public ::testing::Test {
protected:
    TempDir tmp;
    fs::path box = fs::path(tmp.path()) / "BOX/DATA/B0000001";
    fs::path level = box / "P0000001";
    void SetUp() override { fs::create_directories(level); }
};

TEST(KeepBothName, SuffixAfterTheFirstSixtyUnits) {
    EXPECT_EQ(vtbox::KeepBothName(u"Report", 1), u"Report-001");
    EXPECT_EQ(vtbox::KeepBothName(u"Report", 42), u"Report-042");
    std::u16string long_name(64, u'a');
    EXPECT_EQ(vtbox::KeepBothName(long_name, 2), std::u16string(60, u'a') + u"-002");
    // Past 999 the name is cut further, so that it still fits 64 units.
    EXPECT_EQ(vtbox::KeepBothName(long_name, 1000), std::u16string(59, u'a') + u"-1000");
    EXPECT_EQ(vtbox::KeepBothName(u"short", 12345), u"short-12345");
    // Never half a surrogate pair.
    std::u16string pair = std::u16string(59, u'b') + u"\U0001F600" + u"tail";
    EXPECT_EQ(vtbox::KeepBothName(pair, 1), std::u16string(59, u'b') + u"-001");
}

TEST(DocumentsAfterRestore, ReplacedNamesCountOnceAndLevelsCountOn) {
    std::vector<std::u16string> device{u"A", u"B", u"A"};
    EntryList local{Doc(1, u"A"), Doc(2, u"C")};
    EXPECT_EQ(vtbox::DocumentsAfterRestore(device, local, true), 3u);   // every A replaced
    EXPECT_EQ(vtbox::DocumentsAfterRestore(device, local, false), 5u);  // counts on from there
}

TEST_F(Level, ReadLocalEntriesTakesOnlyTheDevicesRecordNames) {
    AddEntry(level, 'D', 3, "three");
    AddEntry(level, 'D', 1, "one");
    AddEntry(level, 'F', 2, "folder");
    WriteBytes(level / "D00001234.XML", {0});
    WriteBytes(level / "D0000abc.XML", {0});
    WriteBytes(level / "d0000005.xml", {0});
    WriteBytes(level / "D0000000.XML", {0});
    fs::create_symlink(level / "D0000001.XML", level / "D0000009.XML");
    EntryList folders, docs;
    vtbox::ReadLocalEntries(level.string(), &folders, &docs);
    EXPECT_EQ(Ids(docs), (std::vector<uint32_t>{1, 3}));
    EXPECT_EQ(docs[1].name, u"three");
    EXPECT_EQ(docs[1].kind, 1u);
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0].kind, 0u);
    EXPECT_EQ(folders[0].name, u"folder");
}

TEST_F(Level, ShortAndUnterminatedRecordsAreReadWithinTheirBounds) {
    WriteBytes(level / "D0000001.XML", {'D', '0', '0', '0', '0', '0', '0', '1', 0, 'A'});
    std::vector<uint8_t> full(512, 0);
    for (size_t i = 9; i < 300; i += 2) full[i] = 'z';  // no terminator anywhere near the field's end
    WriteBytes(level / "D0000002.XML", full);
    EntryList docs;
    vtbox::ReadLocalEntries(level.string(), nullptr, &docs);
    ASSERT_EQ(docs.size(), 2u);
    EXPECT_EQ(docs[0].name, u"");  // half a unit is no unit
    EXPECT_EQ(docs[1].name, std::u16string(64, u'z'));
}

TEST_F(Level, FindInnerFolderRefusesNamesUnfitForAPath) {
    EXPECT_EQ(vtbox::FindInnerFolder(tmp.path(), 1), "P0000001");
    fs::remove_all(level);
    fs::create_directories(box / "P x\r\nDELE y");
    try {
        vtbox::FindInnerFolder(tmp.path(), 1);
        ADD_FAILURE() << "accepted";
    } catch (const vtbox::BoxError &e) {
        EXPECT_EQ(e.code(), 3u);
    }
}

TEST_F(Level, KeepBothRenamesRecordAndTakesTheNextFreeSuffix) {
    AddEntry(level, 'D', 1, "Report");
    AddEntry(level, 'D', 2, "Report-001");  // a restored document also holds a candidate
    AddEntry(level, 'D', 3, "Other");
    EntryList device{Doc(1, u"Report"), Doc(7, u"Report-002")};
    EntryList local, replaced;
    vtbox::ReadLocalEntries(level.string(), nullptr, &local);
    vtbox::ResolveDocumentClashes(level.string(), 0, false, device, local, replaced);
    EXPECT_TRUE(replaced.empty());
    // Report -> Report-003: 001 is the other local document's, 002 the device's.
    EntryList after;
    vtbox::ReadLocalEntries(level.string(), nullptr, &after);
    std::vector<std::u16string> names;
    for (const auto &e : after) names.push_back(e.name);
    EXPECT_NE(std::find(names.begin(), names.end(), u"Report-003"), names.end());
    EXPECT_EQ(std::count(names.begin(), names.end(), u"Report"), 0);
}

TEST_F(Level, ReplaceMovesEveryDeviceDocumentOfTheNameAndKeepsIt) {
    AddEntry(level, 'D', 4, "Report");
    EntryList device{Doc(1, u"Report"), Doc(2, u"Report")}, local, replaced;
    vtbox::ReadLocalEntries(level.string(), nullptr, &local);
    vtbox::ResolveDocumentClashes(level.string(), 0, true, device, local, replaced);
    // Every device document of the name goes once the replacement, under a
    // number neither holds, is complete.
    ASSERT_EQ(Ids(replaced), (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(replaced[0].replacedBy, 4u);
    EXPECT_EQ(replaced[1].replacedBy, 4u);
    EXPECT_EQ(ReadEntry(level / "D0000004.XML").displayName, u"Report");
}

TEST_F(Level, UsedNumbersTakeTheLowestFreeOnesAndFreeNumbersStay) {
    for (uint32_t n : {1u, 2u, 5u, 9u}) AddEntry(level, 'D', n, "local " + std::to_string(n));
    EntryList device{Doc(1, u"d1"), Doc(2, u"d2"), Doc(4, u"d4")}, local, replaced;
    vtbox::ReadLocalEntries(level.string(), nullptr, &local);
    vtbox::ResolveDocumentClashes(level.string(), 0, false, device, local, replaced);
    // 5 and 9 are free on the device and stay; 1 and 2 take 3 and 6.
    EntryList after;
    vtbox::ReadLocalEntries(level.string(), nullptr, &after);
    EXPECT_EQ(Ids(after), (std::vector<uint32_t>{3, 5, 6, 9}));
    EXPECT_EQ(ReadEntry(level / "D0000003.XML").displayName, u"local 1");
    EXPECT_EQ(ReadEntry(level / "D0000006.XML").displayName, u"local 2");
    EXPECT_EQ(ReadEntry(level / "D0000006.XML").ownName, "D0000006");
    EXPECT_TRUE(fs::exists(level / "D0000006/PAGE0001.DAT"));
}

TEST_F(Level, ClashesInsideAFolderStayInsideIt) {
    fs::path folder = level / "F0000002";
    AddEntry(level, 'F', 2, "folder");
    AddEntry(folder, 'D', 1, "Report");
    AddEntry(level, 'D', 1, "top-level, untouched");
    EntryList device{Doc(1, u"Report")}, local, replaced;
    vtbox::ReadLocalEntries(folder.string(), nullptr, &local);
    vtbox::ResolveDocumentClashes(level.string(), 2, false, device, local, replaced);
    EXPECT_EQ(ReadEntry(folder / "D0000002.XML").displayName, u"Report-001");
    EXPECT_FALSE(fs::exists(folder / "D0000001.XML"));
    EXPECT_EQ(ReadEntry(level / "D0000001.XML").displayName, u"top-level, untouched");
}

}  // namespace
