// A zip archive of stored entries whose data is already in place: the outer
// layers of a backup file (the file itself and DATA.zip inside it) hold only
// archives, folder entries and a small description, so each inner archive
// is written once, straight where its bytes belong, and this writer puts the
// headers around it. The headers, the central directory and the end records
// are the ones ZipWriter writes for the same entries (zip64 forms included),
// so every reader of our archives reads these unchanged.
//
// The archive lies in an open file from a base offset on; all its offsets
// count from there, so a layer can itself be the data of an entry of the
// layer around it. Entries are laid out in the order they are added; the
// central directory lists them by name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vtbox {

class ZipLayer {
public:
    ZipLayer(int fd, uint64_t base) : fd_(fd), base_(base) {}

    // Where, in the file, the data of the next entry begins when it is
    // named name: its local header goes in front of it.
    uint64_t nextDataOffset(const std::string &name) const;

    // The data of entry name (size bytes, CRC-32 crc) has been written at
    // nextDataOffset(name): writes its local header. An entry of the zip64
    // size has a longer header, and its data is moved up to make room.
    // False with last error set.
    bool AddWritten(const std::string &name, uint32_t dosTime, uint32_t attributes, uint64_t size, uint32_t crc);

    // A folder entry (name ends in "\\").
    bool AddFolder(const std::string &name, uint32_t dosTime, uint32_t attributes);

    // An entry of raw deflate data, compressed from size bytes with CRC crc.
    bool AddDeflated(const std::string &name, uint32_t dosTime, uint32_t attributes,
                     const std::vector<unsigned char> &data, uint64_t size, uint32_t crc);

    // Writes the central directory and the end records. Afterwards size()
    // and crc() describe the whole archive.
    bool Finish();

    uint64_t size() const { return size_; }
    uint32_t crc() const { return crc_; }

    // Entries at least this large get the zip64 local header, as ZipWriter
    // gives them (ZipWriter::kZip64Threshold); sizes and offsets at least
    // fieldLimit go in zip64 fields. Tests lower both to reach the zip64
    // forms with small data; 0 restores the defaults.
    static void SetZip64LimitsForTesting(uint64_t threshold, uint64_t fieldLimit);

private:
    struct Entry {
        std::string name;
        uint16_t flags, method;
        uint32_t dosTime, crc, attributes;
        uint64_t compressed, size, offset;
    };
    // An entry whose header and data are written here, small enough for
    // the 32-bit fields.
    bool AddInline(const std::string &name, uint16_t method, uint32_t dosTime, uint32_t attributes,
                   const std::vector<unsigned char> &data, uint64_t size, uint32_t crc);
    bool Append(const std::vector<unsigned char> &bytes);
    bool MoveUp(uint64_t from, uint64_t length, uint64_t by);

    int fd_;
    uint64_t base_;
    uint64_t size_ = 0;  // bytes of the archive so far
    uint32_t crc_ = 0;   // CRC-32 of those bytes
    std::vector<Entry> entries_;
};

}  // namespace vtbox
