// The device's document store, named in one place: its boxes, folders and
// documents with their record files, where they lie on the device, and the
// BOX tree that a backup file (and a whole-store archive) holds.
//
// On the device, under "/SHR/BOX":
//   DATABASE/B0000nnn.XML            a box's record
//   DATA/B0000nnn/<inner>/           a box's level; the inner folder's name begins with "P"
//     D0000nnn.XML  D0000nnn/        a document's record and its page files
//     F0000nnn.XML  F0000nnn/        a folder's record and its documents
//     .../CREATE.STS, .../UNLOCK.STS an entry being written, an entry complete
//
// A backup file, unpacked into a work folder (StoreTree):
//   BOX/Backup.XML                   the description
//   BOX/DATABASE.vtb                 the box records, packed with the byte change
//   BOX/DATA.zip                     one box archive B0000nnn.vtb per box
//
// Record files are binary despite their ".XML"; their fields are in
// record_file.hpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace vtbox {

// ---- names -----------------------------------------------------------------

// Entry numbers on the device: three decimal digits, 0 standing for "none".
inline constexpr uint32_t kMaxEntryNumber = 999;

// A fixed prefix and the number in three digits: "B0000007", "F0000012",
// "D0000123". Larger numbers give longer names, which the device never has.
std::string BoxFolderName(uint32_t box);
std::string FolderEntryName(uint32_t folder);
std::string DocumentEntryName(uint32_t document);

// The same for an entry of a box level, checked: raises 87 above kMaxEntryNumber.
std::string EntryName(uint32_t number, bool document);

// What begins the name of every folder or document entry.
inline constexpr std::string_view kFolderEntryPrefix = "F0000";
inline constexpr std::string_view kDocumentEntryPrefix = "D0000";

// An item's record file: "<name>.XML".
inline constexpr const char *kRecordExtension = ".XML";
std::string RecordFileName(const std::string &itemName);

// The number in a record file name exactly as the device writes it,
// "<letter>0000nnn.XML" with nnn from 001 to 999; -1 for any other name.
int EntryNumberFromRecordName(std::string_view fileName, char letter);

// Box archives: a box folder packed with the byte change, "B0000nnn.vtb".
inline constexpr const char *kBoxArchiveExtension = ".vtb";
std::string BoxArchiveName(uint32_t box);

// The box number of a box archive's name in any case ("b0000007.VTB": 7, as a
// file written on a system that ignores case may spell it); -1 for any
// other name.
int BoxNumberFromArchiveName(std::string_view fileName);

// A box's inner folder: "P" (or "p", as the pattern "P*" finds it), then
// letters, digits, '_' or '-', at most 64 in all (it becomes part of FTP
// paths).
bool IsInnerFolderName(std::string_view name);

// A page file's name as the device's listings can carry it: printable, no
// blank or separator, not hidden, a three-letter extension, at most 255.
bool IsPageFileName(std::string_view name);

// Patterns for listing a local tree.
inline constexpr const char *kBoxFolderPattern = "B0000*";  // box folders in DATA
inline constexpr const char *kBoxArchivePattern = "*.vtb";  // box archives in DATA
inline constexpr const char *kInnerFolderPattern = "P*";    // the inner folder of a box
inline constexpr const char *kFolderRecordPattern = "F0000???.XML";
inline constexpr const char *kDocumentRecordPattern = "D0000*.XML";
inline constexpr const char *kDocumentItemPattern = "D000*";  // documents' records and page folders
inline constexpr const char *kFolderItemPattern = "F000*";    // folders' records and folders

// ---- the device ------------------------------------------------------------

inline constexpr const char *kDeviceStoreRoot = "/SHR/BOX";

// "/SHR/BOX/DATABASE/B0000nnn.XML".
std::string DeviceBoxRecord(uint32_t box);
// "/SHR/BOX/DATA/B0000nnn".
std::string DeviceBoxFolder(uint32_t box);

// The marks of an entry on the device: being written, complete.
inline constexpr const char *kCreateStatusFile = "CREATE.STS";
inline constexpr const char *kUnlockStatusFile = "UNLOCK.STS";
bool IsStatusFileName(std::string_view name);

// ---- backup files and local copies -----------------------------------------

// The names of the BOX tree (StoreTree gives their paths).
inline constexpr const char *kBoxTreeName = "BOX";
inline constexpr const char *kDataFolderName = "DATA";
inline constexpr const char *kDatabaseFolderName = "DATABASE";
inline constexpr const char *kDataArchiveName = "DATA.zip";
inline constexpr const char *kDatabaseArchiveName = "DATABASE.vtb";

// The descriptions that tell a backup file from a document archive.
inline constexpr const char *kBackupDescriptionName = "Backup.XML";
inline constexpr const char *kArchiveDescriptionName = "Archive.XML";

// A description is a few hundred bytes per box, and a backup holds at most
// 999 boxes: anything much larger is no description.
inline constexpr uint64_t kMaxDescriptionBytes = 4u << 20;

// The BOX tree under a root folder: the work folder of a backup or a
// restore, or the folder of a local copy of the store.
class StoreTree {
public:
    explicit StoreTree(std::string root) : root_(std::move(root)) {}

    const std::string &root() const { return root_; }
    std::string box() const;                     // <root>/BOX
    std::string packedBox() const;               // <root>/BOX.zip
    std::string description() const;             // <root>/BOX/Backup.XML
    std::string database() const;                // <root>/BOX/DATABASE
    std::string databaseArchive() const;         // <root>/BOX/DATABASE.vtb
    std::string data() const;                    // <root>/BOX/DATA
    std::string dataArchive() const;             // <root>/BOX/DATA.zip
    std::string boxRecord(uint32_t box) const;   // <root>/BOX/DATABASE/B0000nnn.XML
    std::string boxFolder(uint32_t box) const;   // <root>/BOX/DATA/B0000nnn
    std::string boxArchive(uint32_t box) const;  // <root>/BOX/DATA/B0000nnn.vtb

    // After a backup file made elsewhere has been unpacked under the root:
    // BOX, the description, DATABASE.vtb and DATA.zip take the spelling
    // above when the file spelled them in another case ("DATA.ZIP"), so that
    // every step after finds them. Names already right, or missing, stay.
    void AdoptNameCase() const;

private:
    std::string root_;
};

}  // namespace vtbox
