// An archive's list of entries, read from its central directory and checked
// whole before anything of it is unpacked, and the data of one entry copied
// out with its sizes and CRC checked.
//
// minizip finds the end records; every central record and local header is
// then read here. minizip 1.1 as shipped by Debian keeps the 32-bit
// placeholders (0xFFFFFFFF) of zip64 entries on 64-bit systems and tells
// neither where an entry's data lies nor whether a deflate stream ends where
// its sizes say, so the reader takes the records apart and inflates with
// zlib itself.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vtbox {

// What the central record says about one entry, zip64 fields applied.
struct CentralRecord {
    std::string name;  // as stored
    std::string comment;
    uint64_t localHeaderOffset = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint64_t recordSize = 0;  // the record's bytes: the next one follows
    uint32_t crc = 0;
    uint32_t dosDateTime = 0;
    uint32_t externalAttributes = 0;
    uint16_t versionMadeBy = 0;
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t internalAttributes = 0;
    bool usesZip64 = false;  // some 32-bit field held the zip64 placeholder
};

// Reads the central record at offset centralPos of the archive file.
// False (last error 1392) when the bytes there are no valid record.
bool ReadCentralRecord(int archiveFd, uint64_t centralPos, CentralRecord *record);

// One entry of a checked directory: fixed fields only, its name a view of
// the list's one block of names. A box filled to the device's limits lists
// some 120,000 entries of one page a document (up to a million at the
// bound below), and every byte an entry keeps counts that many times.
struct DirectoryEntry {
    std::string_view name;  // the stored name with every "/" turned into "\\"
    uint64_t localHeaderOffset = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint32_t crc = 0;
    uint32_t dosDateTime = 0;
    uint32_t externalAttributes = 0;
    uint32_t headerSize = 0;  // the local header's bytes, at most 30 + 2 * 65535
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t commentSize = 0;  // the comment lies right behind the name
    bool isFolder = false;     // directory bit 0x10, or a name that ends in a separator

    // Where its data begins, behind its local header.
    uint64_t dataOffset() const { return localHeaderOffset + headerSize; }
    std::string_view comment() const { return {name.data() + name.size(), commentSize}; }
};
static_assert(sizeof(DirectoryEntry) <= 64, "an entry of a full box's list is counted some 120,000 times");

// A checked list of entries, in stored order. It owns the names its entries
// view, so it moves but is never copied.
class DirectoryList {
public:
    DirectoryList() = default;
    DirectoryList(DirectoryList &&) = default;
    DirectoryList &operator=(DirectoryList &&) = default;
    DirectoryList(const DirectoryList &) = delete;
    DirectoryList &operator=(const DirectoryList &) = delete;

    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const DirectoryEntry &operator[](size_t i) const { return entries_[i]; }
    std::vector<DirectoryEntry>::const_iterator begin() const { return entries_.begin(); }
    std::vector<DirectoryEntry>::const_iterator end() const { return entries_.end(); }
    void clear() {
        std::vector<DirectoryEntry>().swap(entries_);
        std::vector<char>().swap(names_);
    }

private:
    friend bool ReadDirectory(int, uint64_t, uint64_t, uint64_t, DirectoryList *, std::string *);
    std::vector<DirectoryEntry> entries_;
    std::vector<char> names_;  // every entry's name and comment, one after another
};

// More entries than this in one archive are refused unread: a box filled to
// the device's limits (101 levels of 400 documents) with a record, a folder
// and twenty pages a document stays below it, and the list of an archive
// this long takes 80 MB and its names.
inline constexpr uint64_t kMaxArchiveEntries = 1u << 20;

// Reads the count entries whose central records begin at firstCentral, in
// an archive file of fileSize bytes, and checks them as one list:
//  - every record and local header reads whole, and every entry's header and
//    data lie in the file before the central directory;
//  - no two entries' bytes overlap;
//  - every name is a safe relative path (SplitSafeEntryName), spelled one
//    way only (no empty or "." part);
//  - no two names are the same, nor the same but for case, nor does a folder
//    part of one differ from another's only in case; no name is a file's and
//    also a folder's;
//  - count is at most kMaxArchiveEntries and no more than the file can hold.
// False with last error 1392 and *problem naming the first fault found.
bool ReadDirectory(int archiveFd, uint64_t fileSize, uint64_t firstCentral, uint64_t count, DirectoryList *entries,
                   std::string *problem);

// Writes the entry's data (stored or deflated) to outFd. Fails (1392) when
// the data does not end where the compressed size says, inflates to more or
// less than the uncompressed size, or does not match the CRC; an unknown
// method fails with 50. False with last error set.
bool CopyEntryData(int archiveFd, const DirectoryEntry &entry, int outFd);

// Where ReadEntryData hands the data, a block at a time; false stops the
// read (with last error set by the sink).
using EntryDataSink = std::function<bool(const unsigned char *data, size_t size)>;

// Reads the entry's data as CopyEntryData does, checked the same way, and
// hands it to sink instead of a file.
bool ReadEntryData(int archiveFd, const DirectoryEntry &entry, const EntryDataSink &sink);

}  // namespace vtbox
