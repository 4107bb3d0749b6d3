// What one box archive of a backup file holds, mapped from its list of
// entries once the checker (verify/backup_layout) has passed it: the box's
// folders and documents by number, each with its record and, for a
// document, its files. The listing, a restore of chosen documents and the
// extraction of documents all find a box's parts here, so that they agree on
// what belongs to what.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "packaging/zip_directory.hpp"

namespace vtbox {

// A document's place: its folder (0 for the box's top level) and number.
struct DocumentKey {
    uint32_t folder = 0;
    uint32_t number = 0;
    auto operator<=>(const DocumentKey &) const = default;
};

// One file of a document's page folder (a page, a thumbnail; never a
// status file), by its name in the archive.
struct DocumentFile {
    std::string name;    // the file's own name, as the checker let it pass
    std::string entry;   // the entry's whole name, parts joined by "/"
    uint64_t bytes = 0;  // what it unpacks to
};

struct DocumentEntries {
    std::string record;  // the record's entry, parts joined by "/"
    std::vector<DocumentFile> files;
    uint32_t fileCount = 0;         // its files, named in files or not
    uint64_t bytes = 0;             // all files together (the record left out)
    size_t recordIndex = SIZE_MAX;  // the record's place in the list of entries
};

struct BoxContents {
    std::string inner;                         // the inner folder's name
    std::map<uint32_t, std::string> folders;   // number -> the record's entry
    std::map<uint32_t, size_t> folderRecords;  // number -> the record's place in the list of entries
    std::map<DocumentKey, DocumentEntries> documents;
};

// What an entry of a box archive is to the box's folders and documents.
struct EntryRole {
    enum Kind { Other, FolderRecord, DocumentRecord, DocumentFile } kind = Other;
    DocumentKey key;  // a folder's record: key.folder is its number
};

// The role of the entry named by parts (as EntryParts gives them): a
// folder's or a document's record, or a file of a document's page folder
// (never a status file); anything else, folders included, is Other.
EntryRole RoleOf(const std::vector<std::string> &parts, bool isFolder);

// Maps a box archive's checked entries (names split by SplitSafeEntryName).
// Entries that are no part of a folder or document (status files, the box
// and inner folders) are passed over. Without withFiles a document's files
// are counted and measured but not named, and records are known by their
// place alone (folderRecords, recordIndex; folders stays empty): a listing
// needs no more, and a full box names some 100,000 files and 40,000 records.
BoxContents MapBoxContents(const DirectoryList &entries, bool withFiles = true);

// The parts of an entry's name as SplitSafeEntryName gives them, for an
// entry of a checked list (the reader refused every name it would not split).
std::vector<std::string> EntryParts(const DirectoryEntry &entry);

}  // namespace vtbox
