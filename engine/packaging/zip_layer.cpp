#include "packaging/zip_layer.hpp"

#include <zlib.h>

#include <algorithm>
#include <atomic>

#include "localfiles/local_file.hpp"
#include "packaging/entry_name.hpp"
#include "packaging/zip_format.hpp"
#include "packaging/zip_writer.hpp"
#include "session/waits.hpp"
#include "vtplatform.h"
#include "vtplatform/errors.hpp"

namespace vtbox {

namespace {

using namespace zipformat;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr size_t kZip64LocalExtra = 20;  // id, length, two sizes
constexpr uint16_t kMadeByDos = 0;
constexpr uint16_t kVersionPlain = 20;
constexpr uint16_t kVersionZip64 = 45;
constexpr uint64_t kMaxEntries16 = 0xFFFF;
constexpr size_t kMoveBlock = 1 << 20;

std::atomic<uint64_t> zip64Threshold{ZipWriter::kZip64Threshold};
std::atomic<uint64_t> fieldLimit{kPlaceholder32};

class Bytes {
public:
    void u16(uint64_t v) { put(v, 2); }
    void u32(uint64_t v) { put(v, 4); }
    void u64(uint64_t v) { put(v, 8); }
    void text(const std::string &s) { out_.insert(out_.end(), s.begin(), s.end()); }
    std::vector<unsigned char> &data() { return out_; }

private:
    void put(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) out_.push_back(static_cast<unsigned char>(v >> (8 * i)));
    }
    std::vector<unsigned char> out_;
};

uint32_t Crc(const std::vector<unsigned char> &bytes) {
    return static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), bytes.data(), static_cast<uInt>(bytes.size())));
}

uint32_t Combine(uint32_t first, uint32_t second, uint64_t secondLength) {
    return static_cast<uint32_t>(crc32_combine(first, second, static_cast<z_off_t>(secondLength)));
}

}  // namespace

void ZipLayer::SetZip64LimitsForTesting(uint64_t threshold, uint64_t limitForTesting) {
    zip64Threshold = threshold ? threshold : ZipWriter::kZip64Threshold;
    fieldLimit = limitForTesting ? limitForTesting : kPlaceholder32;
}

uint64_t ZipLayer::nextDataOffset(const std::string &name) const { return base_ + size_ + kLocalSize + name.size(); }

bool ZipLayer::Append(const std::vector<unsigned char> &bytes) {
    if (!WriteAllAt(fd_, bytes.data(), bytes.size(), base_ + size_)) return false;
    crc_ = Combine(crc_, Crc(bytes), bytes.size());
    size_ += bytes.size();
    return true;
}

// Moves length bytes at from up by a few bytes, the last block first so that
// nothing is overwritten before it has moved.
bool ZipLayer::MoveUp(uint64_t from, uint64_t length, uint64_t by) {
    std::vector<unsigned char> block(static_cast<size_t>(std::min<uint64_t>(length, kMoveBlock)));
    uint64_t left = length;
    while (left > 0) {
        if (IsSignalled(CurrentCancelEvent())) {
            SetLastError(vt::code(vt::Code::CANCELLED));
            return false;
        }
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
        left -= chunk;
        if (!ReadAllAt(fd_, block.data(), chunk, from + left)) return false;
        if (!WriteAllAt(fd_, block.data(), chunk, from + left + by)) return false;
    }
    return true;
}

bool ZipLayer::AddWritten(const std::string &name, uint32_t dosTime, uint32_t attributes, uint64_t size, uint32_t crc) {
    const bool zip64 = size >= zip64Threshold;
    const uint64_t limit = fieldLimit;
    Entry e{
        name, static_cast<uint16_t>(IsNonAsciiUtf8(name) ? kFlagUtf8Name : 0), 0, dosTime, crc, attributes, size, size,
        size_};
    // The header of a zip64 entry holds the sizes in an extra field that the
    // data, written behind the shorter header, must make room for.
    if (zip64 && !MoveUp(nextDataOffset(name), size, kZip64LocalExtra)) return false;

    Bytes h;
    h.u32(kLocalSignature);
    h.u16(zip64 ? kVersionZip64 : kVersionPlain);
    h.u16(e.flags);
    h.u16(e.method);
    h.u32(dosTime);
    h.u32(crc);
    const bool wide = size >= limit;
    h.u32(wide ? kPlaceholder32 : size);
    h.u32(wide ? kPlaceholder32 : size);
    h.u16(name.size());
    h.u16(zip64 ? kZip64LocalExtra : 0);
    h.text(name);
    if (zip64) {
        h.u16(kZip64ExtraId);
        h.u16(16);
        h.u64(wide ? size : 0);  // the sizes themselves only where the fields above cannot hold them
        h.u64(wide ? size : 0);
    }
    if (!WriteAllAt(fd_, h.data().data(), h.data().size(), base_ + size_)) return false;
    crc_ = Combine(Combine(crc_, Crc(h.data()), h.data().size()), crc, size);
    size_ += h.data().size() + size;
    entries_.push_back(std::move(e));
    return true;
}

bool ZipLayer::AddFolder(const std::string &name, uint32_t dosTime, uint32_t attributes) {
    return AddInline(name, 0, dosTime, attributes, {}, 0, 0);
}

bool ZipLayer::AddDeflated(const std::string &name, uint32_t dosTime, uint32_t attributes,
                           const std::vector<unsigned char> &data, uint64_t size, uint32_t crc) {
    return AddInline(name, Z_DEFLATED, dosTime, attributes, data, size, crc);
}

bool ZipLayer::AddInline(const std::string &name, uint16_t method, uint32_t dosTime, uint32_t attributes,
                         const std::vector<unsigned char> &data, uint64_t size, uint32_t crc) {
    Entry e{name,        static_cast<uint16_t>(IsNonAsciiUtf8(name) ? kFlagUtf8Name : 0),
            method,      dosTime,
            crc,         attributes,
            data.size(), size,
            size_};
    Bytes h;
    h.u32(kLocalSignature);
    h.u16(kVersionPlain);
    h.u16(e.flags);
    h.u16(e.method);
    h.u32(dosTime);
    h.u32(crc);
    h.u32(data.size());
    h.u32(size);
    h.u16(name.size());
    h.u16(0);
    h.text(name);
    h.data().insert(h.data().end(), data.begin(), data.end());
    if (!Append(h.data())) return false;
    entries_.push_back(std::move(e));
    return true;
}

bool ZipLayer::Finish() {
    const uint64_t limit = fieldLimit;
    std::vector<const Entry *> order;
    for (const auto &e : entries_) order.push_back(&e);
    std::stable_sort(order.begin(), order.end(), [](const Entry *a, const Entry *b) { return a->name < b->name; });

    Bytes c;
    for (const Entry *e : order) {
        const bool wideCompressed = e->compressed >= limit, wideSize = e->size >= limit,
                   wideOffset = e->offset >= limit;
        const bool zip64 = wideCompressed || wideSize || wideOffset;
        const uint16_t extra = static_cast<uint16_t>((wideSize + wideCompressed + wideOffset) * 8);
        c.u32(kCentralSignature);
        c.u16(zip64 ? kVersionZip64 : kMadeByDos);
        c.u16(zip64 ? kVersionZip64 : kVersionPlain);
        c.u16(e->flags);
        c.u16(e->method);
        c.u32(e->dosTime);
        c.u32(e->crc);
        c.u32(wideCompressed ? kPlaceholder32 : e->compressed);
        c.u32(wideSize ? kPlaceholder32 : e->size);
        c.u16(e->name.size());
        c.u16(extra ? extra + 4 : 0);
        c.u16(0);  // comment
        c.u16(0);  // disk
        c.u16(0);  // internal attributes
        c.u32(e->attributes);
        c.u32(wideOffset ? kPlaceholder32 : e->offset);
        c.text(e->name);
        if (extra) {
            c.u16(kZip64ExtraId);
            c.u16(extra);
            if (wideSize) c.u64(e->size);
            if (wideCompressed) c.u64(e->compressed);
            if (wideOffset) c.u64(e->offset);
        }
    }
    const uint64_t central = size_, centralSize = c.data().size(), count = entries_.size();
    if (central >= limit || count >= kMaxEntries16) {
        const uint64_t zip64End = central + centralSize;
        c.u32(kZip64EndSignature);
        c.u64(44);
        c.u16(kVersionZip64);
        c.u16(kVersionZip64);
        c.u32(0);
        c.u32(0);
        c.u64(count);
        c.u64(count);
        c.u64(centralSize);
        c.u64(central);
        c.u32(kZip64LocatorSignature);
        c.u32(0);
        c.u64(zip64End);
        c.u32(1);
    }
    c.u32(kEndSignature);
    c.u16(0);
    c.u16(0);
    c.u16(std::min(count, kMaxEntries16));
    c.u16(std::min(count, kMaxEntries16));
    c.u32(centralSize);
    c.u32(central >= limit ? kPlaceholder32 : central);
    c.u16(0);  // comment
    return Append(c.data());
}

}  // namespace vtbox
