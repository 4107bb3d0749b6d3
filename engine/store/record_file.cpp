#include "store/record_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "session/result.hpp"
#include "vtplatform/text.hpp"

namespace vtbox {

std::u16string ReadRecordName(const std::string &path, uint32_t *number) {
    if (number) {
        *number = 0;
        if (path.size() >= 7)
            *number = static_cast<uint32_t>(std::strtoul(path.substr(path.size() - 7, 3).c_str(), nullptr, 10));
    }
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) Raise(vt::Code::FILE_NOT_FOUND, "cannot read the record " + path);
    unsigned char bytes[kRecordNameBytes] = {};
    size_t got = 0;
    if (std::fseek(f, static_cast<long>(kRecordNameOffset), SEEK_SET) == 0) got = std::fread(bytes, 1, sizeof bytes, f);
    std::fclose(f);
    std::u16string name;
    for (size_t i = 0; i + 1 < got; i += 2) {
        char16_t unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (unit == 0) break;
        name += unit;
    }
    return name;
}

std::string ReadRecordNameUtf8(const std::string &path) { return vt::Utf16ToUtf8(ReadRecordName(path)); }

namespace {
constexpr size_t kMixOffset = 157;
constexpr size_t kPaperOffset = 160;
constexpr size_t kColourOffset = 166;
constexpr size_t kSizeAOffset = 169;
constexpr size_t kSizeBOffset = 172;

uint32_t BigEndian32(const unsigned char *p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
int16_t LittleEndian16(const unsigned char *p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }
}  // namespace

bool ReadRecordFields(const std::string &path, RecordFields *fields) {
    *fields = RecordFields{};
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    unsigned char bytes[kRecordFieldsBytes] = {};
    const size_t got = std::fread(bytes, 1, sizeof bytes, f);
    std::fclose(f);
    ParseRecordFields(std::string_view(reinterpret_cast<const char *>(bytes), got), fields);
    return true;
}

void ParseRecordFields(std::string_view head, RecordFields *fields) {
    *fields = RecordFields{};
    unsigned char bytes[kRecordFieldsBytes] = {};  // a short record reads as zeros past its end
    std::copy_n(head.begin(), std::min(head.size(), sizeof bytes), bytes);
    for (size_t i = kRecordNameOffset; i + 1 < kRecordNameOffset + kRecordNameBytes; i += 2) {
        char16_t unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (unit == 0) break;
        fields->name += unit;
    }
    fields->stamp = BigEndian32(bytes + kRecordStampOffset);
    fields->mixFlags = bytes[kMixOffset];
    fields->paperFlags = BigEndian32(bytes + kPaperOffset);
    fields->colourFlags = LittleEndian16(bytes + kColourOffset);
    fields->sizeA = LittleEndian16(bytes + kSizeAOffset);
    fields->sizeB = BigEndian32(bytes + kSizeBOffset);
}

bool IsColourDocument(const RecordFields &f) {
    return (static_cast<uint16_t>(f.colourFlags) & ((1u << 9) | (1u << 10))) != 0;
}

bool IsCopyMixDocument(const RecordFields &f) {
    return (f.mixFlags & (1u << 1)) != 0 && (f.mixFlags & ((1u << 2) | (1u << 3) | (1u << 4))) != 0;
}

bool IsWidePaperDocument(const RecordFields &f) { return (f.paperFlags & ((1u << 14) | (1u << 15))) != 0; }

}  // namespace vtbox
