// The device's fixed-layout record files (D0000nnn.XML, F0000nnn.XML): binary
// despite the extension.
#pragma once

#include <cstdint>
#include <string>

namespace vtbox {

inline constexpr size_t kRecordNameOffset = 9;
inline constexpr size_t kRecordNameBytes = 128;  // 64 UTF-16 units
inline constexpr size_t kRecordStampOffset = 148;

// The entry's display name from its record file, and the number that the
// path's "nnn" (7 to 5 characters before its end) gives. Raises 2 when the
// file cannot be read.
std::u16string ReadRecordName(const std::string &record_path, uint32_t *number = nullptr);

// The same name as UTF-8 text.
std::string ReadRecordNameUtf8(const std::string &record_path);

}  // namespace vtbox
