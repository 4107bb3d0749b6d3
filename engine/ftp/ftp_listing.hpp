// The device's listing text, split into folder and file entries.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "localfiles/local_folder.hpp"

namespace vtbox {

// What became of a listing. On success code is 0; otherwise the entry that was
// refused is in refusedName (as listed, possibly cut) and both lists are empty.
struct ListingOutcome {
    uint32_t code = 0;
    std::string refusedName;
};

// Parses the raw text of a listing command. The first line is the listing's
// head and carries no entry, unless it is itself a long-format entry line
// ("-rw-r--r-- 1 ..."; servers other than the device send no head). Every other line names one entry by its last
// blank-separated word. A name that ends in an extension of one to three
// characters (D0000001.XML, A.B) is a file; any other name (D0000001, AB, X.)
// is a folder. Only the name of each
// record is filled; the rest is zero.
//
// Lines may end in LF or CR LF; a last line without a line end still counts;
// empty lines are skipped. A name that could not safely be joined onto a local
// path ("." or "..", or holding "/", "\\" or NUL) is refused with 123; a name
// longer than the record's name field is refused with 206, rather than cut into
// the name of some other file. The given lists are emptied first; a list that
// is not given is skipped.
ListingOutcome ParseListing(std::string_view text, FindList *folders, FindList *files);

// True when name is a single path component that can be joined onto a folder.
bool IsSafeEntryName(std::string_view name);

}  // namespace vtbox
