// What a backup file may hold, decided in one place for vtBoxCheckBackup
// (vtbox verify), vtBoxRestore and its dry run vtBoxPlanRestore, so that the
// three never disagree about a file.
//
// A backup file nests four zip levels (store/layout.hpp): the file itself,
// DATABASE.vtb and DATA.zip inside it, and one box archive B0000nnn.vtb per
// box inside DATA.zip. Each check below looks at one level's list of
// entries, already read and checked as a zip (ZipReader::open), before
// anything of that level is unpacked, and notes every finding:
//  - an entry outside the level's known tree (the names are the device's
//    own inside DATABASE.vtb and the box archives; the outer names and
//    DATA.zip's may differ in case, as files written on systems that ignore
//    case spell them);
//  - what the entries would unpack to, against what the description declares;
//  - inside a box archive, records without their folders and the reverse, and
//    the description's counts against what the archive holds.
// Data damage (a CRC that does not match) shows only as the data is read.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "packaging/zip_reader.hpp"
#include "vtBoxBRD.h"

namespace vtbox {

struct BackupFinding {
    uint32_t box = 0;   // 0 when it concerns no one box
    std::string entry;  // where: a level's label, then an entry's name
    std::string text;   // what is wrong
};
using BackupFindings = std::vector<BackupFinding>;

// The boxes the description lists, by number.
using DescribedBoxes = std::map<uint32_t, VTBOXBK>;

// ---- bounds -------------------------------------------------------------------

// A box may unpack to twice what its description declares it uses on the
// device (BoxUsedDisk, in KB) and 4 MiB more: room for a device that counts
// its disk otherwise, and for a box that declares next to nothing. The same
// bound holds the box archive's own size inside DATA.zip.
inline constexpr uint64_t kDeclaredSizeFactor = 2;
inline constexpr uint64_t kDeclaredSizeSlack = 4u << 20;
uint64_t BoxBytesBound(const VTBOXBK &box);

// A box record of the device is 1 KB; one of more than 64 KiB is no record.
inline constexpr uint64_t kMaxBoxRecordBytes = 64u << 10;

// What an entry of an outer level adds to its archive beyond its data: the
// local header and central record, each with a name of the known tree.
inline constexpr uint64_t kEntryOverheadBytes = 1024;

// ---- the levels -------------------------------------------------------------

// Where a finding lies: "the backup file", "BOX/DATABASE.vtb",
// "BOX/DATA.zip", "BOX/DATA.zip: B0000nnn.vtb".
std::string OuterLabel();
std::string RecordsLabel();
std::string DataLabel();
std::string BoxLabel(uint32_t box);

// Whether the description reader's code rc says that the file's description
// is no description this system writes (malformed, or values out of their
// range): the file is damaged, for verify, the restore and the listing alike.
bool DescriptionIsDamaged(uint32_t rc);

// The description's box list: each box once. Fills described.
void CheckDescription(const VTBOXBK *boxes, uint32_t count, DescribedBoxes *described, BackupFindings *findings);

// The three outer levels. passed (when given) gets, for each entry in
// stored order, whether it is one of the level's own within its bound, and
// so may be read.

// The backup file: BOX\Backup.XML, BOX\DATABASE.vtb, BOX\DATA.zip and the
// folder entry BOX\, the three files present; their sizes within what the
// description declares.
void CheckOuterLevel(const ZipReader &zip, const DescribedBoxes &boxes, BackupFindings *findings,
                     std::vector<bool> *passed = nullptr);

// DATABASE.vtb: DATABASE\ and one record DATABASE\B0000nnn.XML for each
// described box, nothing else, none larger than kMaxBoxRecordBytes.
void CheckRecordsLevel(const ZipReader &zip, const DescribedBoxes &boxes, BackupFindings *findings,
                       std::vector<bool> *passed = nullptr);

// DATA.zip: DATA\ and one box archive DATA\B0000nnn.vtb for each described
// box, nothing else, each within BoxBytesBound.
void CheckDataLevel(const ZipReader &zip, const DescribedBoxes &boxes, BackupFindings *findings,
                    std::vector<bool> *passed = nullptr);

// A box archive (its byte change undone): one inner folder P... in
// B0000nnn\, and below it the box's documents and folders as the device
// keeps them (record and folder "D0000nnn.XML", "D0000nnn\" with page files,
// "F0000nnn.XML", "F0000nnn\" with documents, status files), each record
// with its folder; the counts the description gives; all of it within
// BoxBytesBound. True when the total stays within the bound (so that
// reading the data is worth it).
bool CheckBoxLevel(const ZipReader &zip, const VTBOXBK &box, BackupFindings *findings);

// A finding in one line, as a failure's detail.
std::string FindingText(const BackupFinding &finding);

}  // namespace vtbox
