// What one box of a backup file holds, read without a device
// (vtBoxListBackup): the box, its folders and their documents, then its
// top-level documents. The restore page's chooser shows it.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "vtBoxBRD.h"

namespace vtutil {

struct BoxListing {
    uint32_t result = 0;  // the engine's code; 0 when read
    QString detail;       // the engine's detail of a failure
    std::vector<VTBACKUPENTRY> entries;
};

// Reads box's listing of the backup file. The records are unpacked for a
// moment into a private folder of the temp folder, never beside the file
// (the backup's folder may be one nobody can write to), and the folder goes
// with everything in it before this returns.
BoxListing ReadBoxListing(const QString &backupFile, uint32_t box);

}  // namespace vtutil
