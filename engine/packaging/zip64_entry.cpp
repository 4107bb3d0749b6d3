#include "packaging/zip64_entry.hpp"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <vector>

#include "localfiles/local_file.hpp"
#include "packaging/zip_format.hpp"
#include "vtplatform.h"
#include "vtplatform/errors.hpp"

namespace vtbox {

namespace {

using namespace zipformat;
constexpr size_t kCentralSize = 46;
constexpr size_t kBlockSize = 64 * 1024;

uint16_t Le16(const unsigned char *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t Le64(const unsigned char *p) {
    return static_cast<uint64_t>(Le32(p)) | (static_cast<uint64_t>(Le32(p + 4)) << 32);
}

bool Corrupt() {
    SetLastError(vt::code(vt::Code::FileCorrupt));
    return false;
}

// An archive that ends too early is a corrupt one.
bool ReadExactly(int fd, void *buffer, size_t size, uint64_t at) {
    if (ReadAllAt(fd, buffer, size, at)) return true;
    if (GetLastError() == vt::code(vt::Code::HandleEof)) return Corrupt();
    return false;
}

// Owns an inflate stream.
struct Inflater {
    z_stream stream{};
    bool ready = false;
    Inflater() { ready = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
    ~Inflater() {
        if (ready) inflateEnd(&stream);
    }
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;
};

}  // namespace

bool ReadCentralRecord(int fd, uint64_t central_pos, CentralRecord *record) {
    unsigned char head[kCentralSize];
    if (!ReadExactly(fd, head, sizeof head, central_pos)) return false;
    if (Le32(head) != kCentralSignature) return Corrupt();
    CentralRecord r;
    r.flags = Le16(head + 8);
    r.method = Le16(head + 10);
    r.crc = Le32(head + 16);
    uint32_t compressed = Le32(head + 20), uncompressed = Le32(head + 24);
    uint32_t offset = Le32(head + 42);
    r.compressedSize = compressed;
    r.uncompressedSize = uncompressed;
    r.localHeaderOffset = offset;
    r.usesZip64 = compressed == kPlaceholder32 || uncompressed == kPlaceholder32 || offset == kPlaceholder32;
    const uint16_t name_len = Le16(head + 28), extra_len = Le16(head + 30);

    if (r.usesZip64) {
        std::vector<unsigned char> extra(extra_len);
        if (!ReadExactly(fd, extra.data(), extra.size(), central_pos + kCentralSize + name_len)) return false;
        bool found = false;
        for (size_t at = 0; at + 4 <= extra.size();) {
            const uint16_t id = Le16(&extra[at]), size = Le16(&extra[at + 2]);
            if (at + 4 + size > extra.size()) return Corrupt();
            if (id == kZip64ExtraId) {
                // Only the fields whose 32-bit value is the placeholder are
                // present, always in this order.
                const unsigned char *p = &extra[at + 4];
                size_t left = size;
                auto take = [&](uint64_t *value) {
                    if (left < 8) return false;
                    *value = Le64(p);
                    p += 8;
                    left -= 8;
                    return true;
                };
                if (uncompressed == kPlaceholder32 && !take(&r.uncompressedSize)) return Corrupt();
                if (compressed == kPlaceholder32 && !take(&r.compressedSize)) return Corrupt();
                if (offset == kPlaceholder32 && !take(&r.localHeaderOffset)) return Corrupt();
                found = true;
                break;
            }
            at += 4 + size;
        }
        if (!found) return Corrupt();
    }
    *record = r;
    return true;
}

bool CopyEntryData(int fd, const CentralRecord &record, int out_fd) {
    if (record.method != 0 && record.method != Z_DEFLATED) {
        SetLastError(vt::code(vt::Code::NotSupported));
        return false;
    }
    unsigned char local[kLocalSize];
    if (!ReadExactly(fd, local, sizeof local, record.localHeaderOffset)) return false;
    if (Le32(local) != kLocalSignature) return Corrupt();
    uint64_t at = record.localHeaderOffset + kLocalSize + Le16(local + 26) + Le16(local + 28);
    struct stat st;
    if (fstat(fd, &st) != 0) return LastErrorFromErrno(errno), false;
    if (at > static_cast<uint64_t>(st.st_size) ||
        record.compressedSize > static_cast<uint64_t>(st.st_size) - at)
        return Corrupt();

    std::vector<unsigned char> in(kBlockSize), out(kBlockSize);
    uint64_t left = record.compressedSize, produced = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    Inflater inflater;
    if (record.method == Z_DEFLATED && !inflater.ready) {
        SetLastError(vt::code(vt::Code::NotEnoughMemory));
        return false;
    }
    bool ended = record.method == 0;
    while (left > 0 && !(record.method == Z_DEFLATED && ended)) {
        const size_t chunk = left < in.size() ? static_cast<size_t>(left) : in.size();
        if (!ReadExactly(fd, in.data(), chunk, at)) return false;
        at += chunk;
        left -= chunk;
        if (record.method == 0) {
            produced += chunk;
            if (produced > record.uncompressedSize) return Corrupt();
            crc = crc32(crc, in.data(), static_cast<uInt>(chunk));
            if (!WriteAll(out_fd, in.data(), chunk)) return false;
            continue;
        }
        inflater.stream.next_in = in.data();
        inflater.stream.avail_in = static_cast<uInt>(chunk);
        while (inflater.stream.avail_in > 0 && !ended) {
            inflater.stream.next_out = out.data();
            inflater.stream.avail_out = static_cast<uInt>(out.size());
            int rc = inflate(&inflater.stream, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END) return Corrupt();
            const size_t made = out.size() - inflater.stream.avail_out;
            produced += made;
            if (produced > record.uncompressedSize) return Corrupt();
            crc = crc32(crc, out.data(), static_cast<uInt>(made));
            if (!WriteAll(out_fd, out.data(), made)) return false;
            ended = rc == Z_STREAM_END;
            if (rc == Z_OK && made == 0 && inflater.stream.avail_in == 0) break;
        }
    }
    if (!ended || produced != record.uncompressedSize || static_cast<uint32_t>(crc) != record.crc)
        return Corrupt();
    return true;
}

}  // namespace vtbox
