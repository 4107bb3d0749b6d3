// The document filters read from record files, the room a removed document
// frees, the per-document report, and the line edit of descriptions.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "conversion/description_edit.hpp"
#include "conversion/document_filter.hpp"
#include "debug_capture.hpp"
#include "session/result.hpp"
#include "temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
using vtbox::CheckSettings;
using vtbox::FilterContext;
using vtbox::RecordFields;

constexpr CheckSettings kAllOn{true, true, true, false};

class Records : public testing::Test {
protected:
    // A 512-byte record whose bytes at the given offsets are set.
    RecordFields Record(std::initializer_list<std::pair<size_t, unsigned char>> bytes) {
        std::string data(512, '\0');
        data.replace(0, 8, "D0000001");
        data[9] = 'N';  // display name "N"
        for (auto [at, value] : bytes) data[at] = static_cast<char>(value);
        std::string path = dir / "D0000001.XML";
        std::ofstream(path, std::ios::binary) << data;
        RecordFields fields;
        EXPECT_TRUE(vtbox::ReadRecordFields(path, &fields));
        EXPECT_EQ(fields.name, u"N");
        return fields;
    }
    vttest::TempDir dir;
};

TEST_F(Records, ColourByteAt167) {
    EXPECT_TRUE(vtbox::IsColourDocument(Record({{167, 0x02}})));
    EXPECT_TRUE(vtbox::IsColourDocument(Record({{167, 0x04}})));
    EXPECT_FALSE(vtbox::IsColourDocument(Record({{167, 0x08}})));
    EXPECT_FALSE(vtbox::IsColourDocument(Record({{166, 0xFF}, {167, 0x01}})));
}

TEST_F(Records, CopyMixNeedsBitOneAndAnother) {
    EXPECT_TRUE(vtbox::IsCopyMixDocument(Record({{157, 0x06}})));
    EXPECT_TRUE(vtbox::IsCopyMixDocument(Record({{157, 0x12}})));
    EXPECT_FALSE(vtbox::IsCopyMixDocument(Record({{157, 0x02}})));
    EXPECT_FALSE(vtbox::IsCopyMixDocument(Record({{157, 0x04}})));
    EXPECT_FALSE(vtbox::IsCopyMixDocument(Record({{157, 0x22}})));
}

TEST_F(Records, WidePaperByteAt162) {
    EXPECT_TRUE(vtbox::IsWidePaperDocument(Record({{162, 0x80}})));
    EXPECT_TRUE(vtbox::IsWidePaperDocument(Record({{162, 0x40}})));
    EXPECT_FALSE(vtbox::IsWidePaperDocument(Record({{162, 0x20}, {163, 0xFF}, {161, 0xFF}})));
}

TEST_F(Records, FiltersRunInOrderOnlyWhenOnAndLogPerContext) {
    RecordFields colourWide = Record({{167, 0x02}, {162, 0x80}});
    vttest::DebugCapture log;
    auto out = vtbox::ApplyFilters(colourWide, kAllOn, FilterContext::BoxLevel);
    EXPECT_TRUE(out.remove);
    EXPECT_EQ(out.flag, 3u);
    EXPECT_EQ(log.text(), "Deleting Color/Gray Document Deleting WidePaper Document ");

    log.clear();
    RecordFields all = Record({{167, 0x04}, {162, 0x40}, {157, 0x06}});
    out = vtbox::ApplyFilters(all, kAllOn, FilterContext::InFolder);
    EXPECT_EQ(out.flag, 7u);
    EXPECT_EQ(log.text(), "Deleting Color Document Deleting Copy Mix Document Deleting WidePaper Document ");

    log.clear();
    out = vtbox::ApplyFilters(all, CheckSettings{false, false, true, true}, FilterContext::Archive);
    EXPECT_EQ(out.flag, 4u);
    EXPECT_EQ(log.text(), "Deleting CopyColor Mix Document");

    log.clear();
    out = vtbox::ApplyFilters(all, CheckSettings{}, FilterContext::Archive);
    EXPECT_FALSE(out.remove);
    EXPECT_EQ(out.flag, 0u);
    EXPECT_EQ(log.text(), "");
}

TEST_F(Records, FreedSizeAndShortOrMissingRecords) {
    // A = 3 (i16 LE at 169), B = 0x00010002 (u32 BE at 172).
    RecordFields f = Record({{169, 3}, {172, 0x00}, {173, 0x01}, {174, 0x00}, {175, 0x02}});
    EXPECT_EQ(vtbox::FreedSize(f), 8u + 11u * 3u + 0x00010002u);
    // A negative term A never makes a removal grow the box.
    EXPECT_EQ(vtbox::FreedSize(Record({{169, 0x00}, {170, 0x80}})), 0u);

    std::ofstream(dir / "short.XML", std::ios::binary) << std::string(163, '\xFF');
    RecordFields shortRecord;
    ASSERT_TRUE(vtbox::ReadRecordFields(dir / "short.XML", &shortRecord));
    EXPECT_EQ(shortRecord.paperFlags, 0xFFFFFF00u);  // the byte at 163 is past the end
    EXPECT_EQ(shortRecord.colourFlags, 0);

    RecordFields missing;
    missing.mixFlags = 9;
    EXPECT_FALSE(vtbox::ReadRecordFields(dir / "none.XML", &missing));
    EXPECT_EQ(missing.mixFlags, 0);
    EXPECT_FALSE(vtbox::ApplyFilters(missing, kAllOn, FilterContext::Archive).remove);
}

TEST(DocumentReport, LogsTheDocumentClearsItsOutcomeAndHonoursCancel) {
    VTPROGRESSINFO record{};
    HANDLE cancel = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    vtbox::Progress progress(&record, nullptr, cancel);
    progress.SetBoxName("Box");
    progress.SetDocName("Doc");
    record.bDelete = 1;
    record.Flag = 3;
    vttest::DebugCapture log;
    vtbox::ReportDocument(progress, 40, true);
    EXPECT_EQ(log.text(), "Doc Details---->>> Box = Box , Folder = , Document = Doc bDelete = 1 Flag = 3 ");
    EXPECT_EQ(record.Percent, 40);
    EXPECT_EQ(record.bDelete, 0);
    EXPECT_EQ(record.Flag, 0);
    EXPECT_STREQ(record.DocName, "");

    SetEvent(cancel);
    try {
        vtbox::ReportDocument(progress, 41, false);
        ADD_FAILURE() << "no cancel";
    } catch (const vtbox::BoxError &e) {
        EXPECT_EQ(e.code(), 995u);
    }
    CloseHandle(cancel);
}

class Edit : public testing::Test {
protected:
    std::string Read(const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    void Write(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }
    size_t FilesIn(const std::string &folder) {
        return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }
    vttest::TempDir dir;
};

TEST_F(Edit, FirstElementLineTakesTheValueAndLinesEndInLineFeeds) {
    std::string file = dir / "Backup.XML";
    Write(file,
          "<?xml version=\"1.0\"?>\r\n<BackupInfo>\r\n<EngineVersion>Korvo-B V1.3.0.0        </EngineVersion>\r\n"
          "<EngineVersion>second</EngineVersion>\r\n</BackupInfo>");
    ASSERT_EQ(vtbox::ReplaceXmlElementLine(file, dir.path(), "EngineVersion", "A&B <V1>"), 0);
    EXPECT_EQ(Read(file),
              "<?xml version=\"1.0\"?>\n<BackupInfo>\n<EngineVersion>A&amp;B &lt;V1&gt;</EngineVersion>\n"
              "<EngineVersion>second</EngineVersion>\n</BackupInfo>\n");
    EXPECT_EQ(FilesIn(dir.path()), 1u);  // no temporary file left

    // No such element: the file is copied, with a line feed at its end.
    Write(file, "<a>1</a>\n<b>2</b>");
    ASSERT_EQ(vtbox::ReplaceXmlElementLine(file, dir.path(), "Version", "x"), 0);
    EXPECT_EQ(Read(file), "<a>1</a>\n<b>2</b>\n");

    EXPECT_EQ(vtbox::ReplaceXmlElementLine(dir / "missing.XML", dir.path(), "Version", "x"), -1);
    EXPECT_EQ(vtbox::ReplaceXmlElementLine(file, dir / "no-such-folder", "Version", "x"), -1);
    EXPECT_EQ(Read(file), "<a>1</a>\n<b>2</b>\n");
}

TEST_F(Edit, OnlyTheElementChangesWhereANameOrALineHoldsMore) {
    std::string file = dir / "Archive.XML";
    // A description on one line keeps its other elements.
    Write(file, "<ArchiveInfo><Version>Old</Version><NumOfDocs>4</NumOfDocs></ArchiveInfo>");
    ASSERT_EQ(vtbox::ReplaceXmlElementLine(file, dir.path(), "NumOfDocs", "3"), 0);
    EXPECT_EQ(Read(file), "<ArchiveInfo><Version>Old</Version><NumOfDocs>3</NumOfDocs></ArchiveInfo>\n");

    // A box named after an element keeps its name; each box takes its own totals.
    file = dir / "Backup.XML";
    Write(file,
          "<BoxProp>\n<BoxName>NumOfDocs BoxUsedDisk</BoxName>\n<NumOfDocs>5</NumOfDocs>\n"
          "<BoxUsedDisk>100</BoxUsedDisk>\n</BoxProp>\n<BoxProp>\n<BoxName>b</BoxName>\n"
          "<NumOfDocs>6</NumOfDocs>\n<BoxUsedDisk>200</BoxUsedDisk>\n</BoxProp>");
    ASSERT_EQ(
        vtbox::ReplaceXmlElementsInOrder(
            file, dir.path(), {{"NumOfDocs", "4"}, {"BoxUsedDisk", "90"}, {"NumOfDocs", "0"}, {"BoxUsedDisk", "0"}}),
        0);
    EXPECT_EQ(Read(file),
              "<BoxProp>\n<BoxName>NumOfDocs BoxUsedDisk</BoxName>\n<NumOfDocs>4</NumOfDocs>\n"
              "<BoxUsedDisk>90</BoxUsedDisk>\n</BoxProp>\n<BoxProp>\n<BoxName>b</BoxName>\n"
              "<NumOfDocs>0</NumOfDocs>\n<BoxUsedDisk>0</BoxUsedDisk>\n</BoxProp>\n");
}

}  // namespace
