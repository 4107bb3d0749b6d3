// Binary record files of the store.
//
// Entry records (D0000nnn.XML for a document, F0000nnn.XML for a folder) are
// fixed-layout binary records of kEntryRecordSize bytes despite their
// extension. Box records (SHR/BOX/DATABASE/B0000nnn.XML) are this device's
// own fixed layout of kBoxRecordSize bytes. devicesim/README.md gives every
// field and offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace devicesim {

inline constexpr size_t kEntryRecordSize = 512;
inline constexpr size_t kEntryNameUnits = 64;     // display name field: bytes 9..136
inline constexpr size_t kThumbnailNameMax = 255;  // bytes 196..451, NUL-terminated

namespace entry_offset {
inline constexpr size_t kOwnName = 0;         // 8 ASCII bytes, then byte 8 = 0
inline constexpr size_t kDisplayName = 9;     // 128 bytes UTF-16LE
inline constexpr size_t kUpdateTime = 148;    // u32 big-endian
inline constexpr size_t kMixFlags = 157;      // u8
inline constexpr size_t kPaperFlags = 160;    // u32 big-endian
inline constexpr size_t kColourFlags = 166;   // i16 little-endian
inline constexpr size_t kSizeTermA = 169;     // i16 little-endian
inline constexpr size_t kSizeTermB = 172;     // u32 big-endian
inline constexpr size_t kCreateTime = 176;    // u32 little-endian
inline constexpr size_t kAccessTime = 180;    // u32 little-endian
inline constexpr size_t kDocStatus = 184;     // u8
inline constexpr size_t kSourceType = 185;    // u8
inline constexpr size_t kColorMonoMix = 186;  // u8
inline constexpr size_t kScanDuplex = 187;    // u8
inline constexpr size_t kMResolution = 188;   // u16 little-endian
inline constexpr size_t kSResolution = 190;   // u16 little-endian
inline constexpr size_t kRotation = 192;      // u8
inline constexpr size_t kThumbnail = 196;     // 256 bytes, NUL-terminated
}  // namespace entry_offset

struct EntryRecord {
    std::string ownName;         // "D0000001" or "F0000001" (at most 8 bytes are stored)
    std::u16string displayName;  // at most 64 UTF-16 units are stored
    uint32_t updateTime = 0;     // seconds since 1970 (UTC)
    uint8_t mixFlags = 0;
    uint32_t paperFlags = 0;
    int16_t colourFlags = 0;
    int16_t sizeTermA = 0;   // pages of the document
    uint32_t sizeTermB = 0;  // page data in KB
    uint32_t createTime = 0;
    uint32_t accessTime = 0;
    uint8_t docStatus = 0;
    uint8_t sourceType = 0;
    uint8_t colorMonoMix = 0;
    uint8_t scanDuplex = 0;
    uint16_t mResolution = 0;
    uint16_t sResolution = 0;
    uint8_t rotation = 0;
    std::string thumbnail;  // file name inside the document's page folder

    bool operator==(const EntryRecord &) const = default;
};

// Names longer than their field are cut (a UTF-16 name never in the middle of
// a surrogate pair).
std::vector<uint8_t> EncodeEntryRecord(const EntryRecord &record);

// Tolerant: a short or foreign record reads as if zero-filled to full size.
EntryRecord DecodeEntryRecord(std::span<const uint8_t> bytes);

inline constexpr size_t kBoxRecordSize = 1024;

namespace box_offset {
inline constexpr size_t kOwnName = 0;            // "B0000nnn", then byte 8 = 0
inline constexpr size_t kCreateTime = 16;        // u32 little-endian
inline constexpr size_t kUpdateTime = 20;        // u32 little-endian
inline constexpr size_t kProtected = 24;         // u32 little-endian
inline constexpr size_t kPreservationFlag = 28;  // u32 little-endian
inline constexpr size_t kPreservation = 32;      // u32 little-endian, days
inline constexpr size_t kName = 64;              // 256 bytes UTF-16LE: 127 units and a terminator
inline constexpr size_t kOwner = 320;            // 256 bytes UTF-16LE: 127 units and a terminator
inline constexpr size_t kWarning = 576;          // 448 bytes UTF-16LE: 223 units and a terminator
}  // namespace box_offset

struct BoxRecord {
    std::string ownName;  // "B0000nnn"
    uint32_t createTime = 0;
    uint32_t updateTime = 0;
    uint32_t protectedFlag = 0;
    uint32_t preservationFlag = 0;
    uint32_t preservationDays = 0;
    std::u16string name;
    std::u16string owner;
    std::u16string warningNotice;

    bool operator==(const BoxRecord &) const = default;
};

std::vector<uint8_t> EncodeBoxRecord(const BoxRecord &record);
BoxRecord DecodeBoxRecord(std::span<const uint8_t> bytes);

}  // namespace devicesim
