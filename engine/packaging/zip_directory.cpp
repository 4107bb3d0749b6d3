#include "packaging/zip_directory.hpp"

#include <zlib.h>

#include <algorithm>
#include <numeric>
#include <string_view>
#include <vector>

#include "localfiles/local_file.hpp"
#include "packaging/entry_name.hpp"
#include "packaging/zip_format.hpp"
#include "vtplatform.h"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"
#include "vtplatform/find.hpp"
#include "vtplatform/text.hpp"

namespace vtbox {

namespace {

using namespace zipformat;
constexpr size_t kCentralSize = 46;
constexpr uint64_t kEndRecordSize = 22;
constexpr size_t kBlockSize = 64 * 1024;

uint16_t Le16(const unsigned char *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t Le64(const unsigned char *p) {
    return static_cast<uint64_t>(Le32(p)) | (static_cast<uint64_t>(Le32(p + 4)) << 32);
}

bool Corrupt() {
    SetLastError(vt::code(vt::Code::DAMAGED_FILE));
    return false;
}

bool Refuse(std::string *problem, std::string text) {
    vt::DebugPrint("\n zip directory: %s \n", text.c_str());
    *problem = std::move(text);
    return Corrupt();
}

// An archive that ends too early is a corrupt one.
bool ReadExactly(int fd, void *buffer, size_t size, uint64_t at) {
    if (ReadAllAt(fd, buffer, size, at)) return true;
    if (GetLastError() == vt::code(vt::Code::END_OF_FILE)) return Corrupt();
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

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool FoldedLess(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (Fold(a[i]) != Fold(b[i]))
            return static_cast<unsigned char>(Fold(a[i])) < static_cast<unsigned char>(Fold(b[i]));
    return a.size() < b.size();
}

bool FoldedStartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && vt::EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

// The name is its parts joined by single separators (and a folder entry's
// one separator at the end): no empty or "." part.
bool IsPlainPath(std::string_view name, const std::vector<std::string> &parts) {
    if (!name.empty() && name.back() == '\\') name.remove_suffix(1);
    size_t at = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0 && (at >= name.size() || name[at++] != '\\')) return false;
        if (name.compare(at, parts[i].size(), parts[i]) != 0) return false;
        at += parts[i].size();
    }
    return at == name.size();
}

// An entry's name as a path: a folder entry's without its closing separator.
std::string_view PathOf(const DirectoryEntry &e) {
    std::string_view name = e.name;
    while (!name.empty() && name.back() == '\\') name.remove_suffix(1);
    return name;
}

// Names as one folder tree: no path twice, in any case, and no folder
// spelled in two cases. Sorted without regard to case, the paths that share
// a folder stand together, so comparing neighbours finds every clash; the
// memory is that of the names, however deep they are.
// A box's entry names ("F0000001\\D0000001\\PAGE0001.DAT") take some 30
// bytes; the names block is reserved at this much an entry, the size of the
// entry itself, so that a list that claims many entries and holds few costs
// no more in names than in entries.
constexpr uint64_t kNameBytesReserved = 64;

bool CheckNames(const std::vector<DirectoryEntry> &entries, std::string *problem) {
    std::vector<size_t> order(entries.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return FoldedLess(PathOf(entries[a]), PathOf(entries[b])); });
    for (size_t k = 1; k < order.size(); ++k) {
        const std::string_view a = PathOf(entries[order[k - 1]]), b = PathOf(entries[order[k]]);
        if (a == b) return Refuse(problem, "two entries are named " + std::string(a));
        size_t common = 0;
        while (common < a.size() && common < b.size() && Fold(a[common]) == Fold(b[common])) ++common;
        if (common == a.size() && common == b.size())
            return Refuse(problem, std::string(a) + " and " + std::string(b) + " differ only in case");
        // The longest folder both lie in (or that one of them is).
        size_t shared = common;
        bool boundary = (shared == a.size() || a[shared] == '\\') && (shared == b.size() || b[shared] == '\\');
        if (!boundary) {
            size_t sep = shared == 0 ? std::string_view::npos : a.rfind('\\', shared - 1);
            shared = sep == std::string_view::npos ? 0 : sep;
        }
        if (shared > 0 && a.substr(0, shared) != b.substr(0, shared))
            return Refuse(problem, "the folders " + std::string(a.substr(0, shared)) + " and " +
                                       std::string(b.substr(0, shared)) + " differ only in case");
    }
    // A file's name that is also a folder of another entry.
    for (size_t k = 0; k < order.size(); ++k) {
        const DirectoryEntry &file = entries[order[k]];
        if (file.isFolder) continue;
        const std::string folder = std::string(PathOf(file)) + "\\";
        auto it =
            std::lower_bound(order.begin() + static_cast<std::ptrdiff_t>(k) + 1, order.end(), folder,
                             [&](size_t e, const std::string &key) { return FoldedLess(PathOf(entries[e]), key); });
        if (it != order.end() && FoldedStartsWith(PathOf(entries[*it]), folder))
            return Refuse(problem,
                          std::string(file.name) + " is a file, and " + std::string(entries[*it].name) + " lies in it");
    }
    return true;
}

// The entries' bytes, header and data, one after another and all before the
// central directory: no entry's data is another's, or the directory's.
bool CheckRegions(const std::vector<DirectoryEntry> &entries, std::string *problem) {
    std::vector<size_t> order(entries.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return entries[a].localHeaderOffset < entries[b].localHeaderOffset; });
    for (size_t k = 0; k < order.size(); ++k) {
        const DirectoryEntry &e = entries[order[k]];
        const uint64_t end = e.dataOffset() + e.compressedSize;  // checked to lie in the file
        if (k + 1 < order.size()) {
            const DirectoryEntry &next = entries[order[k + 1]];
            if (end > next.localHeaderOffset)
                return Refuse(problem,
                              "the data of " + std::string(e.name) + " and of " + std::string(next.name) + " overlap");
        }
    }
    return true;
}

}  // namespace

bool ReadCentralRecord(int fd, uint64_t centralPos, CentralRecord *record) {
    unsigned char head[kCentralSize];
    if (!ReadExactly(fd, head, sizeof head, centralPos)) return false;
    if (Le32(head) != kCentralSignature) return Corrupt();
    CentralRecord r;
    r.versionMadeBy = Le16(head + 4);
    r.versionNeeded = Le16(head + 6);
    r.flags = Le16(head + 8);
    r.method = Le16(head + 10);
    r.dosDateTime = Le32(head + 12);
    r.crc = Le32(head + 16);
    const uint32_t compressed = Le32(head + 20), uncompressed = Le32(head + 24);
    const uint16_t nameLen = Le16(head + 28), extraLen = Le16(head + 30), commentLen = Le16(head + 32);
    r.internalAttributes = Le16(head + 36);
    r.externalAttributes = Le32(head + 38);
    const uint32_t offset = Le32(head + 42);
    r.compressedSize = compressed;
    r.uncompressedSize = uncompressed;
    r.localHeaderOffset = offset;
    r.usesZip64 = compressed == kPlaceholder32 || uncompressed == kPlaceholder32 || offset == kPlaceholder32;
    r.recordSize = kCentralSize + nameLen + extraLen + commentLen;

    std::vector<unsigned char> rest(static_cast<size_t>(nameLen) + extraLen + commentLen);
    if (!rest.empty() && !ReadExactly(fd, rest.data(), rest.size(), centralPos + kCentralSize)) return false;
    r.name.assign(reinterpret_cast<const char *>(rest.data()), nameLen);
    r.comment.assign(reinterpret_cast<const char *>(rest.data()) + nameLen + extraLen, commentLen);

    if (r.usesZip64) {
        const unsigned char *extra = rest.data() + nameLen;
        bool found = false;
        for (size_t at = 0; at + 4 <= extraLen;) {
            const uint16_t id = Le16(extra + at), size = Le16(extra + at + 2);
            if (at + 4 + size > extraLen) return Corrupt();
            if (id == kZip64ExtraId) {
                // Only the fields whose 32-bit value is the placeholder are
                // present, always in this order.
                const unsigned char *p = extra + at + 4;
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
    *record = std::move(r);
    return true;
}

bool ReadDirectory(int fd, uint64_t fileSize, uint64_t firstCentral, uint64_t count, DirectoryList *list,
                   std::string *problem) {
    list->clear();
    problem->clear();
    if (count > kMaxArchiveEntries)
        return Refuse(problem, vt::Format("the archive lists %llu entries; at most %llu are read",
                                          static_cast<unsigned long long>(count),
                                          static_cast<unsigned long long>(kMaxArchiveEntries)));
    if (firstCentral > fileSize) return Refuse(problem, "the list of entries lies outside the file");
    if (count > (fileSize - firstCentral) / kCentralSize)
        return Refuse(problem, vt::Format("the archive lists %llu entries, more than the file can hold",
                                          static_cast<unsigned long long>(count)));
    std::vector<DirectoryEntry> &entries = list->entries_;
    std::vector<char> &names = list->names_;
    entries.reserve(static_cast<size_t>(count));
    // The names and comments take at most what the central records leave
    // beside their fixed parts: reserved at once, up to kNameBytesReserved an
    // entry, so that a long list's block is not grown and copied through
    // blocks of half its size, which the heap keeps afterwards.
    names.reserve(static_cast<size_t>(
        std::min<uint64_t>(fileSize - firstCentral - count * kCentralSize, count * kNameBytesReserved)));
    // Where each name begins in names, until the block has stopped growing
    // and the entries can view it.
    std::vector<size_t> nameAt;
    nameAt.reserve(static_cast<size_t>(count));
    uint64_t pos = firstCentral;
    CentralRecord r;
    std::vector<std::string> parts;
    for (uint64_t i = 0; i < count; ++i) {
        if (!ReadCentralRecord(fd, pos, &r))
            return Refuse(problem, vt::Format("the list of entries is damaged at its entry %llu",
                                              static_cast<unsigned long long>(i + 1)));
        pos += r.recordSize;
        const std::string name = NormalizeEntryName(r.name);
        const bool isFolder =
            (r.externalAttributes & vt::kAttrDirectory) != 0 || (!name.empty() && name.back() == '\\');
        if (!SplitSafeEntryName(name, &parts))
            return Refuse(problem, "the name \"" + name + "\" leads out of its folder");
        // One spelling for a path: "a\\.\\b" or "a\\\\b" would unpack onto "a\\b".
        if (!IsPlainPath(name, parts)) return Refuse(problem, "the name \"" + name + "\" is no plain path");

        // The local header, and where the data behind it begins.
        const uint64_t local = r.localHeaderOffset;
        unsigned char head[kLocalSize];
        if (local >= firstCentral || kLocalSize > firstCentral - local)
            return Refuse(problem, "the header of " + name + " lies outside the file's entries");
        if (!ReadExactly(fd, head, sizeof head, local) || Le32(head) != kLocalSignature)
            return Refuse(problem, "the header of " + name + " is damaged");
        const uint64_t dataOffset = local + kLocalSize + Le16(head + 26) + Le16(head + 28);
        if (dataOffset > firstCentral || r.compressedSize > firstCentral - dataOffset)
            return Refuse(problem, "the data of " + name + " lies outside the file's entries");

        DirectoryEntry e;
        e.localHeaderOffset = local;
        e.headerSize = static_cast<uint32_t>(dataOffset - local);
        e.compressedSize = r.compressedSize;
        e.uncompressedSize = r.uncompressedSize;
        e.crc = r.crc;
        e.dosDateTime = r.dosDateTime;
        e.externalAttributes = r.externalAttributes;
        e.flags = r.flags;
        e.method = r.method;
        e.commentSize = static_cast<uint16_t>(r.comment.size());  // read by a 16-bit length
        e.isFolder = isFolder;
        nameAt.push_back(names.size());
        names.insert(names.end(), name.begin(), name.end());
        names.insert(names.end(), r.comment.begin(), r.comment.end());
        entries.push_back(e);
        // The views are made below; the size is kept in the meantime.
        entries.back().name = std::string_view(names.data(), name.size());
    }
    for (size_t i = 0; i < entries.size(); ++i)
        entries[i].name = std::string_view(names.data() + nameAt[i], entries[i].name.size());
    if (pos > fileSize || fileSize - pos < kEndRecordSize)
        return Refuse(problem, "the list of entries runs past the end of the file");
    return CheckRegions(entries, problem) && CheckNames(entries, problem);
}

bool CopyEntryData(int fd, const DirectoryEntry &entry, int outFd) {
    return ReadEntryData(fd, entry,
                         [outFd](const unsigned char *data, size_t size) { return WriteAll(outFd, data, size); });
}

bool ReadEntryData(int fd, const DirectoryEntry &entry, const EntryDataSink &sink) {
    const DirectoryEntry &record = entry;
    if (record.method != 0 && record.method != Z_DEFLATED) {
        SetLastError(vt::code(vt::Code::NOT_SUPPORTED));
        return false;
    }
    // An empty file some writers keep as a deflated entry without bytes.
    if (record.compressedSize == 0 && record.uncompressedSize == 0 && record.crc == 0) return true;
    std::vector<unsigned char> in(kBlockSize), out(kBlockSize);
    uint64_t at = entry.dataOffset(), left = record.compressedSize, produced = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    Inflater inflater;
    if (record.method == Z_DEFLATED && !inflater.ready) {
        SetLastError(vt::code(vt::Code::NOT_ENOUGH_MEMORY));
        return false;
    }
    bool ended = record.method == 0;
    while (left > 0) {
        // A deflate stream that ends before its compressed size is used up
        // does not match its sizes.
        if (record.method == Z_DEFLATED && ended) return Corrupt();
        const size_t chunk = left < in.size() ? static_cast<size_t>(left) : in.size();
        if (!ReadExactly(fd, in.data(), chunk, at)) return false;
        at += chunk;
        left -= chunk;
        if (record.method == 0) {
            produced += chunk;
            if (produced > record.uncompressedSize) return Corrupt();
            crc = crc32(crc, in.data(), static_cast<uInt>(chunk));
            if (!sink(in.data(), chunk)) return false;
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
            // What inflates beyond the declared size is damage, found
            // before more than one block of it is written.
            produced += made;
            if (produced > record.uncompressedSize) return Corrupt();
            crc = crc32(crc, out.data(), static_cast<uInt>(made));
            if (!sink(out.data(), made)) return false;
            ended = rc == Z_STREAM_END;
            if (rc == Z_OK && made == 0 && inflater.stream.avail_in == 0) break;
        }
        if (ended && inflater.stream.avail_in > 0) return Corrupt();
    }
    // A stream that has not ended may yet hold more than it declares.
    if (!ended || produced != record.uncompressedSize || static_cast<uint32_t>(crc) != record.crc) return Corrupt();
    return true;
}

}  // namespace vtbox
