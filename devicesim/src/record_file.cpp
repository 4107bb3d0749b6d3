#include "devicesim/record_file.hpp"

#include <algorithm>

namespace devicesim {

namespace {

// Reads and writes that stay inside the buffer; reads beyond it give zero.
class Bytes {
public:
    explicit Bytes(std::span<const uint8_t> data) : data_(data) {}
    uint8_t U8(size_t at) const { return at < data_.size() ? data_[at] : 0; }
    uint16_t U16Le(size_t at) const { return static_cast<uint16_t>(U8(at) | (U8(at + 1) << 8)); }
    uint32_t U32Le(size_t at) const {
        return static_cast<uint32_t>(U8(at)) | (static_cast<uint32_t>(U8(at + 1)) << 8) |
               (static_cast<uint32_t>(U8(at + 2)) << 16) | (static_cast<uint32_t>(U8(at + 3)) << 24);
    }
    uint32_t U32Be(size_t at) const {
        return (static_cast<uint32_t>(U8(at)) << 24) | (static_cast<uint32_t>(U8(at + 1)) << 16) |
               (static_cast<uint32_t>(U8(at + 2)) << 8) | static_cast<uint32_t>(U8(at + 3));
    }
    std::string Ascii(size_t at, size_t max) const {
        std::string out;
        for (size_t i = 0; i < max; ++i) {
            const uint8_t c = U8(at + i);
            if (c == 0) break;
            out.push_back(static_cast<char>(c));
        }
        return out;
    }
    std::u16string Utf16Le(size_t at, size_t units) const {
        std::u16string out;
        for (size_t i = 0; i < units; ++i) {
            const char16_t c = static_cast<char16_t>(U16Le(at + 2 * i));
            if (c == 0) break;
            out.push_back(c);
        }
        return out;
    }

private:
    std::span<const uint8_t> data_;
};

void PutU8(std::vector<uint8_t> &b, size_t at, uint8_t v) { b.at(at) = v; }
void PutU16Le(std::vector<uint8_t> &b, size_t at, uint16_t v) {
    b.at(at) = static_cast<uint8_t>(v);
    b.at(at + 1) = static_cast<uint8_t>(v >> 8);
}
void PutU32Le(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) b.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
}
void PutU32Be(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) b.at(at + i) = static_cast<uint8_t>(v >> (8 * (3 - i)));
}
void PutAscii(std::vector<uint8_t> &b, size_t at, const std::string &text, size_t max) {
    const size_t n = std::min(text.size(), max);
    std::copy_n(text.begin(), n, b.begin() + static_cast<ptrdiff_t>(at));
}
void PutUtf16Le(std::vector<uint8_t> &b, size_t at, std::u16string_view text, size_t units) {
    size_t n = std::min(text.size(), units);
    // Never keep the first half of a surrogate pair without its second half.
    if (n > 0 && n < text.size() && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
    for (size_t i = 0; i < n; ++i) PutU16Le(b, at + 2 * i, static_cast<uint16_t>(text[i]));
}

}  // namespace

std::vector<uint8_t> EncodeEntryRecord(const EntryRecord &r) {
    namespace o = entry_offset;
    std::vector<uint8_t> b(kEntryRecordSize, 0);
    PutAscii(b, o::kOwnName, r.ownName, 8);
    PutUtf16Le(b, o::kDisplayName, r.displayName, kEntryNameUnits);
    PutU32Be(b, o::kUpdateTime, r.updateTime);
    PutU8(b, o::kMixFlags, r.mixFlags);
    PutU32Be(b, o::kPaperFlags, r.paperFlags);
    PutU16Le(b, o::kColourFlags, static_cast<uint16_t>(r.colourFlags));
    PutU16Le(b, o::kSizeTermA, static_cast<uint16_t>(r.sizeTermA));
    PutU32Be(b, o::kSizeTermB, r.sizeTermB);
    PutU32Le(b, o::kCreateTime, r.createTime);
    PutU32Le(b, o::kAccessTime, r.accessTime);
    PutU8(b, o::kDocStatus, r.docStatus);
    PutU8(b, o::kSourceType, r.sourceType);
    PutU8(b, o::kColorMonoMix, r.colorMonoMix);
    PutU8(b, o::kScanDuplex, r.scanDuplex);
    PutU16Le(b, o::kMResolution, r.mResolution);
    PutU16Le(b, o::kSResolution, r.sResolution);
    PutU8(b, o::kRotation, r.rotation);
    PutAscii(b, o::kThumbnail, r.thumbnail, kThumbnailNameMax);
    return b;
}

EntryRecord DecodeEntryRecord(std::span<const uint8_t> bytes) {
    namespace o = entry_offset;
    const Bytes b(bytes);
    EntryRecord r;
    r.ownName = b.Ascii(o::kOwnName, 8);
    r.displayName = b.Utf16Le(o::kDisplayName, kEntryNameUnits);
    r.updateTime = b.U32Be(o::kUpdateTime);
    r.mixFlags = b.U8(o::kMixFlags);
    r.paperFlags = b.U32Be(o::kPaperFlags);
    r.colourFlags = static_cast<int16_t>(b.U16Le(o::kColourFlags));
    r.sizeTermA = static_cast<int16_t>(b.U16Le(o::kSizeTermA));
    r.sizeTermB = b.U32Be(o::kSizeTermB);
    r.createTime = b.U32Le(o::kCreateTime);
    r.accessTime = b.U32Le(o::kAccessTime);
    r.docStatus = b.U8(o::kDocStatus);
    r.sourceType = b.U8(o::kSourceType);
    r.colorMonoMix = b.U8(o::kColorMonoMix);
    r.scanDuplex = b.U8(o::kScanDuplex);
    r.mResolution = b.U16Le(o::kMResolution);
    r.sResolution = b.U16Le(o::kSResolution);
    r.rotation = b.U8(o::kRotation);
    r.thumbnail = b.Ascii(o::kThumbnail, kThumbnailNameMax);
    return r;
}

std::vector<uint8_t> EncodeBoxRecord(const BoxRecord &r) {
    namespace o = box_offset;
    std::vector<uint8_t> b(kBoxRecordSize, 0);
    PutAscii(b, o::kOwnName, r.ownName, 8);
    PutU32Le(b, o::kCreateTime, r.createTime);
    PutU32Le(b, o::kUpdateTime, r.updateTime);
    PutU32Le(b, o::kProtected, r.protectedFlag);
    PutU32Le(b, o::kPreservationFlag, r.preservationFlag);
    PutU32Le(b, o::kPreservation, r.preservationDays);
    PutUtf16Le(b, o::kName, r.name, 127);
    PutUtf16Le(b, o::kOwner, r.owner, 127);
    PutUtf16Le(b, o::kWarning, r.warningNotice, 223);
    return b;
}

BoxRecord DecodeBoxRecord(std::span<const uint8_t> bytes) {
    namespace o = box_offset;
    const Bytes b(bytes);
    BoxRecord r;
    r.ownName = b.Ascii(o::kOwnName, 8);
    r.createTime = b.U32Le(o::kCreateTime);
    r.updateTime = b.U32Le(o::kUpdateTime);
    r.protectedFlag = b.U32Le(o::kProtected);
    r.preservationFlag = b.U32Le(o::kPreservationFlag);
    r.preservationDays = b.U32Le(o::kPreservation);
    // As many units as the encoder writes: the last unit of each field is its terminator.
    r.name = b.Utf16Le(o::kName, 127);
    r.owner = b.Utf16Le(o::kOwner, 127);
    r.warningNotice = b.Utf16Le(o::kWarning, 223);
    return r;
}

}  // namespace devicesim
