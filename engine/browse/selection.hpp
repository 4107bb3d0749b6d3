// What a job takes of a backup file: whole boxes, or chosen folders and
// documents of them, named by their numbers in the file (VTBACKUPITEM). The
// restore, its plan and the extraction of documents take their selection
// here, and it is applied as a filter on what a box archive unpacks (verify's
// BoxEntryFilter): every entry is still read against its CRC, only the chosen
// ones are written, so that what follows works on the chosen part alone.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "browse/box_contents.hpp"
#include "verify/backup_unpack.hpp"
#include "vtBoxBRD.h"

namespace vtbox {

// What is chosen of one box.
struct BoxSelection {
    bool whole = false;
    std::set<uint32_t> folders;       // whole folders
    std::set<DocumentKey> documents;  // single documents (folder 0: the top level)

    // Whether a document is chosen, by itself or by its folder or box.
    bool HasDocument(const DocumentKey &key) const;
    // Whether a folder is needed: chosen, or holding a chosen document (its
    // record and folder come along, so that the document has a folder to go to).
    bool NeedsFolder(uint32_t folder) const;
};

// The chosen boxes, in the order in which they were first named.
class Selection {
public:
    // Whole boxes, as vtBoxRestore chooses them.
    static Selection WholeBoxes(const uint32_t *boxes, uint32_t count);
    // Items as the exports take them; an item inside a box chosen whole (or a
    // document inside a folder chosen whole) adds nothing. Raises 87 for an
    // item whose numbers are out of the device's range (above 999, box 0).
    static Selection FromItems(const VTBACKUPITEM *items, uint32_t count);

    const std::vector<uint32_t> &boxes() const { return order_; }
    const BoxSelection &of(uint32_t box) const { return chosen_.at(box); }
    bool empty() const { return order_.empty(); }

private:
    BoxSelection &Box(uint32_t box);
    std::vector<uint32_t> order_;
    std::map<uint32_t, BoxSelection> chosen_;
};

// Raises 1168 (VTBOX_E_NOT_FOUND), with the item in the detail, for a chosen
// folder or document that contents lacks (its folder records and documents
// are looked at; it may hold no more than the chosen documents found).
void CheckChosenParts(uint32_t box, const BoxSelection &chosen, const BoxContents &contents);

// The filter that unpacks one box's chosen part: the box and inner folders,
// the records and folders of the needed folders, and the chosen documents
// with everything in their page folders. Examine refuses, with 1168
// (VTBOX_E_NOT_FOUND) and the item in the detail, a chosen folder or document
// the box archive does not hold, before anything of the box is written.
class SelectionFilter : public BoxEntryFilter {
public:
    SelectionFilter(uint32_t box, const BoxSelection &chosen) : box_(box), chosen_(chosen) {}
    void Examine(const DirectoryList &entries) override;
    bool Keep(const std::vector<std::string> &parts, bool isFolder) const override;
    // What the archive holds, as Examine mapped it.
    const BoxContents &contents() const { return contents_; }

private:
    uint32_t box_;
    const BoxSelection &chosen_;
    BoxContents contents_;
};

// "box 003, folder 002, document 017", as failures name an item.
std::string ItemText(uint32_t box, uint32_t folder, uint32_t document);

}  // namespace vtbox
