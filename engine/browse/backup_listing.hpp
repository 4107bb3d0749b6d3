// A backup file's boxes, folders and documents with what their records say,
// read without a device through the checks that verify and the restore use
// (verify/backup_unpack): every entry of a listed box is read against its
// CRC, and the records' first bytes are taken in memory; nothing of a box
// is written but its archive, for the while it is read. vtBoxListBackup hands the listing out; the comparison with a device
// and the extraction of documents read the backup through it too.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "browse/box_contents.hpp"
#include "store/layout.hpp"
#include "store/record_file.hpp"
#include "verify/backup_unpack.hpp"
#include "vtBoxBRD.h"

namespace vtbox {

struct ListedFolder {
    std::u16string name;
    uint32_t stamp = 0;  // the record's last update, seconds since 1970
};

struct ListedDocument {
    RecordFields record;  // name, stamp, flags, size terms
    uint64_t bytes = 0;   // its files in the backup, status files left out
    uint32_t files = 0;
    // The page count its record gives (size term A; never below 0).
    uint32_t pages() const { return record.sizeA > 0 ? static_cast<uint32_t>(record.sizeA) : 0; }
};

struct ListedBox {
    VTBOXBK described{};
    std::map<uint32_t, ListedFolder> folders;
    std::map<DocumentKey, ListedDocument> documents;
};

class BackupListing {
public:
    // Reads the description and the file's outer levels (checked as the
    // restore checks them) into a scratch folder of work. Raises 1392 for a
    // damaged file or a document archive, the description's code when it
    // cannot be read.
    BackupListing(const std::string &backupFile, const std::string &work);

    // The boxes the description lists, in its order.
    const std::vector<VTBOXBK> &described() const { return boxes_; }

    // One box, read whole against its CRCs. Raises 1168 for a box the
    // description does not list, 234 when the box holds more entries than
    // budget (the box's own entry counted).
    ListedBox ReadBox(uint32_t box, size_t budget) const;

    // What filter keeps of one box, unpacked under tree().data() as the
    // box archive names it (the chosen part of a box, say). Raises 1168 for
    // a box the description does not list.
    void Unpack(uint32_t box, BoxEntryFilter *filter) const;
    const StoreTree &tree() const { return tree_; }

    // The description's box. Raises 1168 for a box it does not list.
    const VTBOXBK &Described(uint32_t box) const;

private:
    StoreTree tree_;
    BackupUnpacker unpacker_;
    std::vector<VTBOXBK> boxes_;
};

}  // namespace vtbox
