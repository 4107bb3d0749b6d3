// A backup file unpacked into a work tree as the restore and its dry run
// need it, level by level: each level's list of entries is checked
// (backup_layout.hpp) before anything of that level is unpacked. What the
// checks find raises 1392 with the first finding as the detail, as does data
// that does not match its CRC; a full or closed local disk raises its own
// code.
#pragma once

#include <cstdint>
#include <string>

#include "store/layout.hpp"
#include "verify/backup_layout.hpp"
#include "vtBoxBRD.h"

namespace vtbox {

class BackupUnpacker {
public:
    // backup: the backup file; tree: the work tree, whose BOX is filled.
    BackupUnpacker(std::string backup, StoreTree tree) : backup_(std::move(backup)), tree_(std::move(tree)) {}

    // The description's box list (vtBoxGetXMLInfo), checked: each box once.
    void Describe(const VTBOXBK *boxes, uint32_t count);

    // The backup file's own level checked; DATABASE.vtb and DATA.zip taken
    // out into BOX under those names (whatever their case in the file); the
    // box records checked and unpacked into BOX/DATABASE (DATABASE.vtb is
    // removed); DATA.zip's level checked. Describe comes first.
    void UnpackFile();

    // Box box's archive taken out of DATA.zip into BOX/DATA, its byte change
    // undone, its level checked against the box's description and unpacked
    // into BOX/DATA/B0000nnn; the archive is removed whatever happens. May
    // run on another thread than the rest, one box at a time.
    void UnpackBox(uint32_t box) const;

private:
    std::string backup_;
    StoreTree tree_;
    DescribedBoxes boxes_;
};

}  // namespace vtbox
