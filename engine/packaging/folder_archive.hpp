// Folder archives: packing a folder into a zip archive and unpacking one,
// box archives inside a data archive, the kind of a backup file, and the
// byte change that hides an archive from zip readers.
//
// Every operation runs on the caller's thread, logs to the diagnostics
// channel, never throws, and returns 0 or a non-zero code (the system error
// at the point of failure, else a fixed one). The tree walk and the folder
// listing change the process's current folder: run one at a time.
#pragma once

#include <cstdint>
#include <string>

namespace vtbox {

class HeldFiles;

// What ZipFolder is asked for beyond a plain archive of the folder's tree,
// named at the call: ZipFolder(target, folder, {.byteChange = true}).
struct ZipOptions {
    // The finished archive gets the byte change (box archives, ".vtb").
    bool byteChange = false;
    // The files directly in the folder, by bare name, instead of its tree.
    bool flat = false;
    // An existing target gives way to the new archive once that is complete.
    bool replaceTarget = false;
    // Tree form: every item below the folder goes in, or the packing fails
    // (with the code of the first that could not be read). For a folder that
    // is removed once packed, where an item left out would be lost.
    bool everyItem = false;
};

// The code a failed step returns: the system error it left, or a fixed code
// when it left none (set as the last error too), so that a failure never
// reads as success.
uint32_t FailureCode();

// Packs source into the archive target.
//  - tree (the default): entries are the folder's own name and every file and
//    subfolder below it ("DATA\\", "DATA\\B0000001.vtb"); names beginning
//    with a dot and, unless everyItem is set, items that cannot be read are
//    left out. An empty target means source + ".zip".
//  - flat: the files directly in source, by bare name; the first file that
//    cannot be added fails the operation.
// The archive is built under a hidden temporary name beside the target and
// takes the target's name only when complete. Unless replaceTarget is set,
// an existing target is never replaced: the call fails with 183 and leaves
// that file as it was.
uint32_t ZipFolder(const std::string &target, const std::string &source, ZipOptions options = {});

// Packs source's tree (as ZipFolder's tree form does) into the open file fd
// from offset base on, as an archive of its own: its offsets count from base.
// With byteChange the finished archive gets the byte change. *size gets the
// bytes written. The caller owns the file and removes it on failure. Files
// that held holds (when given) are packed from there (ZipWriter::SetHeldFiles).
uint32_t ZipFolderAt(int fd, uint64_t base, const std::string &source, bool byteChange, uint64_t *size,
                     HeldFiles *held = nullptr);

// What UnzipArchive is asked for beyond unpacking, named at the call.
struct UnzipOptions {
    // The byte change is undone on the archive file first (it stays undone).
    bool undoByteChange = false;
    // The archive is deleted after a complete unpack.
    bool deleteArchive = false;
};

// A box archive (or the records' DATABASE.vtb) unpacked and gone afterwards.
inline constexpr UnzipOptions kUnpackBoxArchive{.undoByteChange = true, .deleteArchive = true};

// Unpacks every entry of archive into target (empty: the archive's folder).
// A failure keeps the archive and what was unpacked before the failing
// entry. Entries that would reach outside target are refused.
uint32_t UnzipArchive(const std::string &archive, const std::string &target, UnzipOptions options = {});

// Finds the box archive "B0000nnn.vtb" (any folder, any case) in archive and
// writes it into target under that name.
uint32_t ExtractBoxArchive(const std::string &archive, const std::string &target, uint32_t box);

// 1 when archive holds "Backup.XML", 2 when it holds "Archive.XML" (any
// folder, any case), 0 otherwise and when it is no zip archive.
int GetArchiveKind(const std::string &archive);
class ZipReader;
// The same for an archive open in reader (which is left at the description).
int ArchiveKindOf(ZipReader &reader);

// Complements the 8 bytes that begin 16 bytes before the end of the file
// (in an archive of ours: fields of the end record, so that readers reject
// it). Applying it twice restores the file. A failure leaves it unchanged.
uint32_t ChangeLast32Bytes(const std::string &archive);
// The same for the archive that ends at offset end of the open file fd.
uint32_t ChangeLast32BytesAt(int fd, uint64_t end);

}  // namespace vtbox
