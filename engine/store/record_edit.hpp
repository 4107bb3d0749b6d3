// Changes that a restore makes to the record files of an unpacked backup
// before it sends them: the display name, the own name (with the entry's
// number) and the time stamp of documents.
//
// Every function takes the folder it works in; none depends on the process's
// current folder. Files are never opened through a symbolic link, and no path
// is ever built from a record's content: names of files come from numbers.
#pragma once

#include <cstdint>
#include <string>

#include "store/layout.hpp"

namespace vtbox {

// The display name field of a record holds this many UTF-16 units.
inline constexpr size_t kRecordNameUnits = 64;

// Writes the own name and the display name (cut to 64 units, never inside a
// surrogate pair, zero-filled) over bytes 0..136 of the record "<entry>.XML"
// in folder. The record must exist: raises 2 otherwise; other bytes stay.
void WriteRecordName(const std::string &folder, uint32_t number, const std::u16string &name, bool document);

// Writes time, big-endian, at offset 148 of every document record (files
// matching "D000*") in folder, then in every subfolder matching "F000*".
// Raises 2 when a record cannot be opened, 13 when it cannot be positioned,
// 161 when a folder cannot be entered.
void StampDocumentTime(const std::string &folder, uint32_t deviceTime);

// Gives an entry of a box level a new number: its page folder (or folder)
// and its record take the new name, and the record's own name changes with
// them. boxLevel is the local box level (the inner folder). A document is
// renumbered when document is not 0, inside folder "F0000<folder>" or at the
// top level (folder 0); a folder when document is 0. Nothing happens when the
// numbers are equal. Existing entries are never replaced. When the record
// cannot be rewritten, the folder rename is undone so that the two agree, and
// the failure is raised (2 for a record that cannot be opened).
void RenumberEntry(const std::string &boxLevel, uint32_t folder, uint32_t document, uint32_t newNumber);

}  // namespace vtbox
