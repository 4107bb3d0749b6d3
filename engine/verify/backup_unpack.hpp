// A backup file unpacked into a work tree as the restore and its dry run
// need it, level by level: each level's list of entries is checked
// (backup_layout.hpp) before anything of that level is unpacked. What the
// checks find raises 1392 with the first finding as the detail, as does data
// that does not match its CRC; a full or closed local disk raises its own
// code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/layout.hpp"
#include "verify/backup_layout.hpp"
#include "vtBoxBRD.h"

namespace vtbox {

// Which entries of a box archive a job writes out: a job that needs part of
// a box (a listing, a restore of chosen documents) still has every entry read
// whole against its CRC, so that it judges the box as the whole restore does,
// but writes only what it keeps.
class BoxEntryFilter {
public:
    virtual ~BoxEntryFilter() = default;
    // Sees the box archive's list of entries, checked, before anything of it
    // is unpacked; may raise to refuse the box.
    virtual void Examine(const DirectoryList &entries) = 0;
    // Whether the entry named by parts ("B0000nnn", the inner folder, ...)
    // is written out.
    virtual bool Keep(const std::vector<std::string> &parts, bool isFolder) const = 0;
    // How many of the first bytes of the entry at index (of the list
    // Examine saw) the filter takes in memory through Take, instead of a
    // file; 0 for none. A taken entry is read whole against its CRC all the
    // same, and is not written out.
    virtual size_t Takes(size_t /*index*/) const { return 0; }
    virtual void Take(size_t /*index*/, const std::string & /*head*/) {}
    // Called once the entry at index has been read against its CRC and,
    // when kept, written out; in the order of the entries, so that a filter
    // may use what is complete while the rest of the box is read.
    virtual void Passed(size_t /*index*/) {}
};

class BackupUnpacker {
public:
    // backup: the backup file; tree: the work tree, whose BOX is filled.
    BackupUnpacker(std::string backup, StoreTree tree) : backup_(std::move(backup)), tree_(std::move(tree)) {}

    // The description's box list (vtBoxGetXMLInfo), checked: each box once.
    void Describe(const VTBOXBK *boxes, uint32_t count);

    // Reads the file's description (vtBoxGetXMLInfo, through work) and
    // Describes its boxes, which described() then lists in the file's order.
    // Raises the description reader's code.
    VTBACKUPINFO ReadDescription(const std::string &work);
    const std::vector<VTBOXBK> &described() const { return described_; }

    // The backup file's own level checked; DATABASE.vtb and DATA.zip taken
    // out into BOX under those names (whatever their case in the file); the
    // box records checked and unpacked into BOX/DATABASE (DATABASE.vtb is
    // removed); DATA.zip's level checked. Describe comes first.
    void UnpackFile();

    // Box box's archive taken out of DATA.zip into BOX/DATA, its byte change
    // undone, its level checked against the box's description and unpacked
    // into BOX/DATA/B0000nnn; the archive is removed whatever happens. May
    // run on another thread than the rest, one box at a time. With a filter,
    // only the entries it keeps are written; the others are read all the same.
    void UnpackBox(uint32_t box, BoxEntryFilter *filter = nullptr) const;

    // Box box judged as UnpackBox judges it (its level checked, every entry
    // read against its CRC), with nothing of it unpacked: only its archive
    // lies in BOX/DATA for the while, and is removed whatever happens.
    void CheckBox(uint32_t box) const;

private:
    void ReadBox(uint32_t box, BoxEntryFilter *filter, bool unpack) const;

    std::string backup_;
    StoreTree tree_;
    DescribedBoxes boxes_;
    std::vector<VTBOXBK> described_;
};

}  // namespace vtbox
