// A backup file's tree as vtbox shows it and takes it back: each part of the
// file named by a path of numbers ("3/F2/D17") and by a path of names
// ("3/Invoices/Scan 12"), and paths given on the command line resolved to
// the parts they name.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "vtBoxBRD.h"

namespace vtcli {

// The entries of a listing (vtBoxListBackup), with the lookups paths need.
class BackupTree {
public:
    explicit BackupTree(std::vector<VTBACKUPENTRY> entries);

    const std::vector<VTBACKUPENTRY> &entries() const { return entries_; }

    // "3", "3/F2", "3/F2/D17", "3/D5": the entry's numbers.
    static std::string NumberPath(const VTBACKUPENTRY &entry);
    // "3", "3/Invoices", "3/Invoices/Scan 12": the box's number and the
    // names, as they are (not escaped: PlainText before printing them).
    std::string NamePath(const VTBACKUPENTRY &entry) const;
    // The same with the name of a document's folder given (null: unnamed),
    // for entries read one at a time.
    static std::string NamePath(const VTBACKUPENTRY &entry, const char *folderName);

    // The entry a path names, or null. Each part after the box is a name of
    // the level (as it is, or as PlainText shows it) or a number ("F2",
    // "D17", any case, leading zeros allowed); a part that names two
    // entries is ambiguous. *problem says what is wrong when null.
    const VTBACKUPENTRY *Resolve(const std::string &path, std::string *problem, bool *ambiguous) const;

    // The entry itself and everything below it, in the listing's order.
    std::vector<const VTBACKUPENTRY *> Below(const VTBACKUPENTRY &entry) const;

    // A folder's entry, or null.
    const VTBACKUPENTRY *Folder(uint32_t box, uint32_t folder) const;

private:
    std::vector<const VTBACKUPENTRY *> Candidates(uint32_t box, uint32_t folder, bool foldersOnly,
                                                  const std::string &part) const;
    std::vector<VTBACKUPENTRY> entries_;
    std::map<std::pair<uint32_t, uint32_t>, size_t> folders_;  // (box, folder) -> its entry
};

// The box numbers that paths begin with, each once, in order; false with
// *problem when a path does not begin with a box number from 1 to 999.
bool BoxesOfPaths(const std::vector<std::string> &paths, std::vector<uint32_t> *boxes, std::string *problem);

// The item a job takes for an entry (VTBACKUPITEM).
VTBACKUPITEM ItemOf(const VTBACKUPENTRY &entry);

}  // namespace vtcli
