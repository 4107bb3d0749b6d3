// What ls, find, extract, diff and restore --only share: a backup file's
// listing read through the engine (vtBoxListBackup), the paths given on the
// command line resolved in it, and an entry shown as a line or as JSON.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "backup_paths.hpp"
#include "json_output.hpp"
#include "vtBoxBRD.h"

namespace vtcli {

struct ListedFile {
    BackupTree tree{{}};
    std::map<uint32_t, VTBOXBK> described;  // the description's boxes
    std::vector<uint32_t> order;            // the description's box numbers, in its order
};

// An entry of a listing as it is read, with its path of names.
using EntrySink = std::function<void(const VTBACKUPENTRY &entry, const std::string &namePath)>;

// Reads file's description into out (its tree left empty) and hands each
// entry of the chosen boxes (all when none) to each as it is read, in a work
// folder beside the file (else in the temp folder): a box at a time is held,
// whatever the file holds. A damaged box is found when it is reached, after
// the entries before it were handed out. Prints what failed; returns the
// exit code (0 when read; 7 for a box the file does not hold).
int WalkListing(const std::string &file, const std::vector<uint32_t> &boxes, ListedFile *out, const EntrySink &each);

// Reads file's description into out (its tree left empty), as WalkListing
// does before any entry, and reads no box. Prints what failed; returns the
// exit code (7 for a box the file does not hold).
int ReadDescribedBoxes(const std::string &file, const std::vector<uint32_t> &boxes, ListedFile *out);

// WalkListing, with the entries kept in out->tree.
int ReadListing(const std::string &file, const std::vector<uint32_t> &boxes, ListedFile *out);

// Reads the listing of the boxes that paths begin with and resolves each
// path to its entry. Prints what failed; returns the exit code (7 for a path
// that is not in the file, 2 for one that names more than one entry).
int ResolvePaths(const std::string &file, const std::vector<std::string> &paths, ListedFile *listing,
                 std::vector<const VTBACKUPENTRY *> *entries);

// The items that paths name (ItemOf the entries ResolvePaths gives, with the
// same messages and exit codes), holding of the listing only what a path
// could name: the boxes, their folders, and the documents whose name or
// number is a part of a path, so that a box at the device's limits costs its
// folders, not its documents. Paths of whole boxes ("3", "3/") need the
// file's description alone.
int ResolveItems(const std::string &file, const std::vector<std::string> &paths, std::vector<VTBACKUPITEM> *items);

// Bytes as a person reads them: "0 KB", "33 KB", "12.5 MB".
std::string SizeText(uint64_t bytes);

// The header and one line of the table that ls and find print (names through
// PlainText).
std::string EntryHeader();
std::string EntryLine(const BackupTree &tree, const VTBACKUPENTRY &entry);
std::string EntryLine(const std::string &namePath, const VTBACKUPENTRY &entry);

// A folder's or document's JSON object, as ls and find write it.
JsonObject EntryJson(const BackupTree &tree, const VTBACKUPENTRY &entry);
JsonObject EntryJson(const std::string &namePath, const VTBACKUPENTRY &entry);

}  // namespace vtcli
