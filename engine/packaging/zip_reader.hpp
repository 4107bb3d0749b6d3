// Reads zip archives (minizip over zlib) and unpacks their entries safely.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "localfiles/local_file.hpp"
#include "packaging/zip_directory.hpp"

namespace vtbox {

// What the reader tells about the current entry.
struct ZipEntryInfo {
    std::string name;     // as stored, every "/" turned into "\\"
    std::string comment;  // at most 255 bytes
    uint32_t flags = 0;
    uint32_t method = 0;
    uint32_t dosDateTime = 0;  // date in the high 16 bits, time in the low 16
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint32_t externalAttributes = 0;
    bool isFolder = false;  // directory bit 0x10, or a name that ends in a separator
};

// Owns at most one archive opened for reading. Typical use:
//
//   ZipReader zip;
//   if (zip.Open(path) && zip.Locate("Backup.XML", true)) zip.ExtractCurrent(work, true);
//
// Every failing call returns false with the thread's last error set (never 0).
// Everything in the archive is untrusted: open() reads and checks the whole
// list of entries first (ReadDirectory: entries inside the file, no overlaps,
// safe and distinct names), an entry's data is read only as far as its sizes
// say and must inflate to exactly its size and CRC, and a file appears under
// its name only once it is whole.
class ZipReader {
public:
    ZipReader() = default;
    ~ZipReader();
    ZipReader(const ZipReader &) = delete;
    ZipReader &operator=(const ZipReader &) = delete;

    // Opens an archive; the output folder becomes the archive's own folder.
    // A file that is no zip archive (also one with the byte change applied),
    // or whose list of entries fails the checks, fails with 1392 and
    // problem() says what is wrong; a file that cannot be opened fails with
    // its system error.
    bool Open(const std::string &archive);
    void Close();
    bool IsOpen() const { return static_cast<bool>(archiveFd_); }

    // Why the last open() refused the archive ("" when it did not, or when
    // the file is no zip archive at all).
    const std::string &problem() const { return problem_; }

    // The checked list of entries, in stored order.
    const DirectoryList &entries() const { return entries_; }

    // The number of entries; 0 when none is open or the count cannot be read.
    uint64_t EntryCount();

    // Moves to the first or next entry; with an extension ("vtb", no dot,
    // any case) other entries are passed over. False at the end (last error 18).
    bool GotoFirst(const char *extension = nullptr);
    bool GotoNext(const char *extension = nullptr);

    bool CurrentInfo(ZipEntryInfo *info);

    // Makes the entry called name current: first the whole stored name
    // ("/" and "\\" alike, any case); then, with ignorePath, the first entry
    // whose last part equals name. False with last error 2 when none matches.
    bool Locate(std::string_view name, bool ignorePath);

    // Extracts the current entry below target (created when missing). With
    // ignorePath a file lands directly in target under its last name, or
    // under saveAs when given. A folder entry creates the folder.
    bool ExtractCurrent(const std::string &target, bool ignorePath, const std::string &saveAs = std::string());

    // Reads the current entry whole without writing it anywhere, so that a
    // damaged entry (bad CRC, cut data, wrong size) shows. A folder entry
    // passes. False with 1392 for damage, 50 for an encrypted entry.
    bool CheckCurrent();

    // Reads the current entry whole as CheckCurrent does, and keeps its
    // first keep bytes in *head (all of it when shorter), so that a small
    // entry is taken in without a file made for it. Fails as CheckCurrent.
    bool ReadCurrent(std::string *head, size_t keep);

    // Extracts every entry in stored order; the first failure ends it. An
    // archive without entries fails (1392).
    bool ExtractAll(const std::string &target, bool ignorePath);

    const std::string &outputFolder() const { return outputFolder_; }

private:
    bool Move(bool first, const char *extension);
    bool ExtractFile(const ZipEntryInfo &info, const std::string &destination);
    bool CopyCurrent(int outFd);
    bool ReadEntries(const std::string &archive, uint64_t fileSize);

    UniqueFd archiveFd_;
    DirectoryList entries_;
    size_t current_ = 0;  // entries_.size(): no current entry
    std::string problem_;
    std::string outputFolder_;
};

}  // namespace vtbox
