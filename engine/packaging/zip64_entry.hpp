// Entries whose sizes or offset need zip64 records. minizip 1.1 as shipped by
// Debian keeps the 32-bit placeholders (0xFFFFFFFF) of such entries on 64-bit
// systems, so it would stop reading a file at 4 GiB - 1 and look for entries
// behind the 4 GiB line in the wrong place. For those entries the reader
// takes the central record apart here and inflates the data with zlib itself.
#pragma once

#include <cstdint>

namespace vtbox {

// What the central record says about one entry, zip64 fields applied.
struct CentralRecord {
    uint64_t localHeaderOffset = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint32_t crc = 0;
    uint16_t method = 0;
    uint16_t flags = 0;
    bool usesZip64 = false;  // some 32-bit field held the zip64 placeholder
};

// Reads the central record at offset central_pos of the archive file.
// False (last error 1392) when the bytes there are no valid record.
bool ReadCentralRecord(int archive_fd, uint64_t central_pos, CentralRecord *record);

// Writes the entry's data (stored or deflated) to out_fd, checking its size
// and CRC. False with last error set.
bool CopyEntryData(int archive_fd, const CentralRecord &record, int out_fd);

}  // namespace vtbox
