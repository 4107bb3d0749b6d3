// The device's fixed-layout record files (D0000nnn.XML, F0000nnn.XML): binary
// despite the extension.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vtbox {

inline constexpr size_t kRecordNameOffset = 9;
inline constexpr size_t kRecordNameBytes = 128;  // 64 UTF-16 units
inline constexpr size_t kRecordStampOffset = 148;

// The entry's display name from its record file, and the number that the
// path's "nnn" (7 to 5 characters before its end) gives. Raises 2 when the
// file cannot be read.
std::u16string ReadRecordName(const std::string &recordPath, uint32_t *number = nullptr);

// The same name as UTF-8 text.
std::string ReadRecordNameUtf8(const std::string &recordPath);

// The fields of a document record that tell what kind of document it is,
// how much room it takes on the device and when it last changed. They lie in
// its first 500 bytes:
//   148  u32 BE        time stamp: last update, seconds since 1970 (UTC)
//   157  u8            mix flags
//   160  u32 BE        paper flags
//   166  i16 LE        colour flags
//   169  i16 LE        size term A
//   172  u32 BE        size term B
struct RecordFields {
    std::u16string name;  // the display name, as ReadRecordName reads it
    uint32_t stamp = 0;
    uint8_t mixFlags = 0;
    uint32_t paperFlags = 0;
    int16_t colourFlags = 0;
    int16_t sizeA = 0;
    uint32_t sizeB = 0;
};

inline constexpr size_t kRecordFieldsBytes = 500;

// What kind of document a record describes, each test on its own (the
// conversions drop documents by them, and a backup's listing shows them):
//  colour:     bit 9 or 10 of the colour flags (the byte at 167: 0x02, 0x04)
//  copy mix:   bit 1 of the mix flags and one of its bits 2 to 4
//  wide paper: bit 14 or 15 of the paper flags (the byte at 162: 0x40, 0x80)
bool IsColourDocument(const RecordFields &fields);
bool IsCopyMixDocument(const RecordFields &fields);
bool IsWidePaperDocument(const RecordFields &fields);

// Reads the fields of a record. A record that cannot be opened, or a short
// one, leaves what it does not hold at zero; false when it cannot be opened.
bool ReadRecordFields(const std::string &recordPath, RecordFields *fields);

// The same fields from a record's first bytes, as read from an archive (at
// most kRecordFieldsBytes of them are looked at; what head lacks is zero).
void ParseRecordFields(std::string_view head, RecordFields *fields);

}  // namespace vtbox
