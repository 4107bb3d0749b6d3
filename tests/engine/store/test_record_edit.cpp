// Record edits of an unpacked backup: display names, time stamps, renumbering.
#include <gtest/gtest.h>

#include <functional>

#include "level_files.hpp"
#include "session/result.hpp"
#include "store/record_edit.hpp"
#include "temp_dir.hpp"

namespace {

using namespace vttest;

uint32_t RaisedCode(const std::function<void()> &body) {
    try {
        body();
    } catch (const vtbox::BoxError &e) {
        return e.code();
    }
    return 0;
}

class RecordEdit : public ::testing::Test {
protected:
    TempDir tmp;
    fs::path level = fs::path(tmp.path()) / "P0000001";
    void SetUp() override { fs::create_directories(level); }
};

TEST_F(RecordEdit, WriteRecordNameChangesOnlyTheNameBytes) {
    AddEntry(level, 'D', 7, "Report");
    std::vector<uint8_t> before = FileBytes(level / "D0000007.XML");
    vtbox::WriteRecordName(level.string(), 7, u"Report-001", true);
    std::vector<uint8_t> after = FileBytes(level / "D0000007.XML");
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(std::vector<uint8_t>(after.begin() + 137, after.end()),
              std::vector<uint8_t>(before.begin() + 137, before.end()));
    devicesim::EntryRecord r = ReadEntry(level / "D0000007.XML");
    EXPECT_EQ(r.ownName, "D0000007");
    EXPECT_EQ(r.displayName, u"Report-001");
    // Zero-filled after the name: nothing of the longer old name shows through.
    vtbox::WriteRecordName(level.string(), 7, u"R", true);
    after = FileBytes(level / "D0000007.XML");
    for (size_t i = 9 + 2; i < 137; ++i) EXPECT_EQ(after[i], 0) << i;
}

TEST_F(RecordEdit, WriteRecordNameFitsTheFieldAndNeedsAnExistingRecord) {
    AddEntry(level, 'F', 3, "Mappe");
    std::u16string long_name(70, u'x');
    vtbox::WriteRecordName(level.string(), 3, long_name, false);
    EXPECT_EQ(ReadEntry(level / "F0000003.XML").displayName, std::u16string(64, u'x'));
    // A surrogate pair that would straddle the end of the field is left out whole.
    std::u16string pair = std::u16string(63, u'y') + u"\U0001F600";
    vtbox::WriteRecordName(level.string(), 3, pair, false);
    EXPECT_EQ(ReadEntry(level / "F0000003.XML").displayName, std::u16string(63, u'y'));

    EXPECT_EQ(RaisedCode([&] { vtbox::WriteRecordName(level.string(), 9, u"x", true); }), 2u);
    EXPECT_FALSE(fs::exists(level / "D0000009.XML"));
}

TEST_F(RecordEdit, StampDocumentTimeWritesBigEndianIntoDocumentRecordsOnly) {
    AddEntry(level, 'D', 1, "top");
    AddEntry(level, 'F', 2, "folder");
    AddEntry(level / "F0000002", 'D', 5, "inside");
    std::vector<uint8_t> folder_record = FileBytes(level / "F0000002.XML");
    std::vector<uint8_t> page = FileBytes(level / "D0000001/PAGE0001.DAT");
    vtbox::StampDocumentTime(level.string(), 0x01020304);
    for (const fs::path &p : {level / "D0000001.XML", level / "F0000002/D0000005.XML"}) {
        std::vector<uint8_t> b = FileBytes(p);
        ASSERT_GE(b.size(), 152u);
        EXPECT_EQ(std::vector<uint8_t>(b.begin() + 148, b.begin() + 152), (std::vector<uint8_t>{1, 2, 3, 4})) << p;
        EXPECT_EQ(ReadEntry(p).createTime, 1600000000u + (p.filename() == "D0000001.XML" ? 1 : 5));
    }
    EXPECT_EQ(FileBytes(level / "F0000002.XML"), folder_record);
    EXPECT_EQ(FileBytes(level / "D0000001/PAGE0001.DAT"), page);
}

TEST_F(RecordEdit, StampDocumentTimeNeverWritesThroughALink) {
    fs::path outside = fs::path(tmp.path()) / "outside.bin";
    WriteBytes(outside, std::vector<uint8_t>(200, 0xEE));
    fs::create_symlink(outside, level / "D0000004.XML");
    AddEntry(level, 'D', 1, "real");
    vtbox::StampDocumentTime(level.string(), 7);
    EXPECT_EQ(FileBytes(outside), std::vector<uint8_t>(200, 0xEE));
    EXPECT_EQ(ReadEntry(level / "D0000001.XML").updateTime, 7u);
}

TEST_F(RecordEdit, RenumberEntryMovesFolderAndRecordTogether) {
    AddEntry(level, 'D', 2, "doc");
    AddEntry(level, 'F', 4, "folder");
    AddEntry(level / "F0000004", 'D', 1, "inner doc");

    vtbox::RenumberEntry(level.string(), 0, 2, 9);
    EXPECT_FALSE(fs::exists(level / "D0000002"));
    EXPECT_FALSE(fs::exists(level / "D0000002.XML"));
    EXPECT_TRUE(fs::exists(level / "D0000009/PAGE0001.DAT"));
    devicesim::EntryRecord r = ReadEntry(level / "D0000009.XML");
    EXPECT_EQ(r.ownName, "D0000009");
    EXPECT_EQ(r.displayName, u"doc");
    EXPECT_EQ(r.createTime, 1600000002u);  // the rest of the record is carried

    vtbox::RenumberEntry(level.string(), 4, 1, 3);  // a document inside folder 4
    EXPECT_EQ(ReadEntry(level / "F0000004/D0000003.XML").ownName, "D0000003");
    EXPECT_TRUE(fs::exists(level / "F0000004/D0000003/PAGE0001.DAT"));

    vtbox::RenumberEntry(level.string(), 4, 0, 6);  // the folder itself
    EXPECT_EQ(ReadEntry(level / "F0000006.XML").ownName, "F0000006");
    EXPECT_TRUE(fs::exists(level / "F0000006/D0000003.XML"));
    EXPECT_FALSE(fs::exists(level / "F0000004"));

    vtbox::RenumberEntry(level.string(), 0, 9, 9);  // same number: nothing happens
    EXPECT_EQ(ReadEntry(level / "D0000009.XML").ownName, "D0000009");
}

TEST_F(RecordEdit, RenumberEntryNeverReplacesAnEntry) {
    AddEntry(level, 'D', 1, "one");
    AddEntry(level, 'D', 2, "two");
    EXPECT_EQ(RaisedCode([&] { vtbox::RenumberEntry(level.string(), 0, 1, 2); }), 183u);
    EXPECT_EQ(ReadEntry(level / "D0000001.XML").displayName, u"one");
    EXPECT_EQ(ReadEntry(level / "D0000002.XML").displayName, u"two");
    EXPECT_EQ(FileBytes(level / "D0000002/PAGE0001.DAT"), (std::vector<uint8_t>{1, 2, 3, 2}));
    // Only the record is in the way: the folder goes back where it was.
    fs::remove_all(level / "D0000002");
    EXPECT_EQ(RaisedCode([&] { vtbox::RenumberEntry(level.string(), 0, 1, 2); }), 183u);
    EXPECT_TRUE(fs::exists(level / "D0000001/PAGE0001.DAT"));
    EXPECT_FALSE(fs::exists(level / "D0000002"));
    EXPECT_EQ(ReadEntry(level / "D0000001.XML").ownName, "D0000001");
}

TEST_F(RecordEdit, RenumberEntryUndoesTheFolderRenameWhenTheRecordIsMissing) {
    fs::create_directories(level / "D0000005");
    EXPECT_EQ(RaisedCode([&] { vtbox::RenumberEntry(level.string(), 0, 5, 8); }), 2u);
    EXPECT_TRUE(fs::is_directory(level / "D0000005"));
    EXPECT_FALSE(fs::exists(level / "D0000008"));
    EXPECT_EQ(RaisedCode([&] { vtbox::RenumberEntry(level.string(), 0, 5, 1000); }), 87u);
}

}  // namespace
