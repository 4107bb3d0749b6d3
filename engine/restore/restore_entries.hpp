// The entries of one level of a box (its top level or one folder), as the
// device lists them and as the unpacked backup holds them, and the settling
// of clashes between the two before a restore sends anything.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "vtBoxBRD.h"

namespace vtbox {

// A folder (kind 0) or document (kind 1) of one level.
struct BoxEntry {
    uint32_t kind = 0;
    uint32_t id = 0;
    std::u16string name;  // at most 64 units from a record, 127 from the device
    // In a list of replaced device documents: the number of the restored
    // document that replaces this one (its final number at the level).
    uint32_t replacedBy = 0;
};
using EntryList = std::vector<BoxEntry>;

// The limits that the device imposes.
inline constexpr size_t kMaxDocumentsPerLevel = 400;
inline constexpr size_t kMaxFoldersPerBox = 100;

// The space, in KB, that restoring a box takes on the device, given what its
// unpacked folder holds (unpackedKb): that, or what the description says the
// box uses when it says more; of a box chosen in part, what is chosen. The
// restore and its plan both ask this before they trust the device's free
// space with a box.
uint64_t SpaceABoxNeeds(const VTBOXBK &described, bool partial, uint64_t unpackedKb);

// The name of the first folder matching "P*" in the local box folder. Raises
// 3 when there is none, or when its name is not a plain name of letters,
// digits, '_' and '-' (it becomes part of FTP paths).
std::string FindInnerFolder(const std::string &workFolder, uint32_t box);

// The entries of a local level folder, in name order: folders from
// "F0000???.XML" (when folders is given), documents from "D0000*.XML" (when
// documents is given); each list is emptied first. Only regular files named
// exactly "D0000nnn.XML" / "F0000nnn.XML", nnn from 001, count; the number
// comes from the name and the name from the record. The folder becomes the
// current folder.
// Raises 161 when the folder cannot be entered, 2 when a record cannot be read.
void ReadLocalEntries(const std::string &levelFolder, EntryList *folders, EntryList *documents);

// The device's entries of box's top level (folder 0) or of one folder:
// folders to folders, everything else to documents (each when given).
// Returns 0 or the last error of vtBoxGetCollection (161: no such box); a
// list that gives one folder or document number twice is a bad reply (11,
// with the detail noted).
uint32_t ReadDeviceEntries(VTMFPSESSION *session, const char *password, uint32_t box, uint32_t folder,
                           EntryList *folders, EntryList *documents);

// The name a restored document takes in keep-both mode for counter k: the
// first 60 units of name, "-" and k in at least three digits. When the
// counter needs more digits the name is cut further, so that it always fits
// the record's 64 units; a surrogate pair is never split.
std::u16string KeepBothName(const std::u16string &name, uint32_t k);

// How many documents a level holds once local has been restored into it (in
// replace mode every device document of a name that local carries goes).
// deviceNames holds the level's names now and is brought up to date, so
// that a second restore into the same level counts on from the first.
size_t DocumentsAfterRestore(std::vector<std::u16string> &deviceNames, const EntryList &local, bool replace);

// What settling the clashes did to one local document.
struct SettledDocument {
    uint32_t oldId = 0, newId = 0;
    std::u16string oldName, newName;
    bool replaces = false;              // replace mode: the device documents of its name go
    std::vector<uint32_t> replacedIds;  // their numbers
};

// The clash settling of ResolveDocumentClashes worked out in memory, nothing
// written: device, local and replaced change as described there, and the
// result lists every local document in its original order.
std::vector<SettledDocument> SettleDocumentClashes(bool replace, EntryList &device, EntryList &local,
                                                   EntryList &replaced, const std::set<uint32_t> &taken = {});

// Settles the clashes of local documents with the device's at one level
// (folder 0: the top level; otherwise the local folder "F0000<folder>") of
// the local box level boxLevel.
//  - names: in replace mode every device document of the local document's
//    name (the first local one of that name) moves from device to replaced,
//    its replacedBy the local document's final number (nothing is deleted
//    here): a level never keeps an old copy beside its replacement, and no
//    document of another name goes; otherwise the local document is renamed
//    (record and list) with the lowest free keep-both counter.
//  - numbers: a local document whose number the device does not use keeps
//    it (and moves into device, its number now used); the others, in order,
//    take the lowest free numbers (RenumberEntry). The numbers of the
//    documents in replaced count as used: a replacement never takes the
//    number of a document that is still on the device. So do the numbers in
//    taken: those the device's files show in use (a folder or record of the
//    number) where its list leaves them out.
// Raises 8260 when no number is left.
void ResolveDocumentClashes(const std::string &boxLevel, uint32_t folder, bool replace, EntryList &device,
                            EntryList &local, EntryList &replaced, const std::set<uint32_t> &taken = {});

}  // namespace vtbox
