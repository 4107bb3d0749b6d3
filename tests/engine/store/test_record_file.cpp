#include <gtest/gtest.h>

#include <fstream>

#include "session/result.hpp"
#include "store/record_file.hpp"
#include "temp_dir.hpp"

namespace {

void WriteRecord(const std::string &path, const std::u16string &name) {
    std::string bytes(500, '\x5a');
    bytes.replace(0, 8, "D0000042");
    bytes[8] = 0;
    for (size_t i = 0; i < 64; ++i) {
        char16_t u = i < name.size() ? name[i] : 0;
        bytes[9 + 2 * i] = static_cast<char>(u & 0xFF);
        bytes[10 + 2 * i] = static_cast<char>(u >> 8);
    }
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(RecordFile, NameAndNumber) {
    vttest::TempDir dir;
    std::string path = dir / "D0000042.XML";
    WriteRecord(path, u"Quarterly \u00e9 \U0001F600");
    uint32_t number = 0;
    EXPECT_EQ(vtbox::ReadRecordName(path, &number), u"Quarterly \u00e9 \U0001F600");
    EXPECT_EQ(number, 42u);
    EXPECT_EQ(vtbox::ReadRecordNameUtf8(path), "Quarterly \xc3\xa9 \xf0\x9f\x98\x80");
}

TEST(RecordFile, AFullLengthNameHasNoTerminator) {
    vttest::TempDir dir;
    std::string path = dir / "F0000007.XML";
    std::u16string full(64, u'n');
    WriteRecord(path, full);
    EXPECT_EQ(vtbox::ReadRecordName(path), full);
}

TEST(RecordFile, AMissingFileRaises2AndAShortOneGivesWhatItHas) {
    vttest::TempDir dir;
    try {
        vtbox::ReadRecordName(dir / "D0000001.XML");
        FAIL();
    } catch (const vtbox::BoxError &e) {
        EXPECT_EQ(e.code(), 2u);
    }
    std::ofstream(dir / "D0000002.XML", std::ios::binary) << std::string("D0000002\0A\0B", 12);
    EXPECT_EQ(vtbox::ReadRecordName(dir / "D0000002.XML"), u"A");
}

}  // namespace
