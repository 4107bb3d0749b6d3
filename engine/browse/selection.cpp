#include "browse/selection.hpp"

#include "session/result.hpp"
#include "store/layout.hpp"
#include "vtplatform/diag.hpp"

namespace vtbox {

namespace {

// The number of the entry that part k of a name belongs to: "D0000nnn.XML"
// when it is the name's last part and a file (the record), "D0000nnn" (the
// entry's folder) otherwise; -1 when it is no entry of that letter.
int PartNumber(const std::vector<std::string> &p, size_t k, bool isFolder, char letter) {
    const bool record = k + 1 == p.size() && !isFolder;
    return EntryNumberFromRecordName(record ? p[k] : p[k] + kRecordExtension, letter);
}

}  // namespace

bool BoxSelection::HasDocument(const DocumentKey &key) const {
    return whole || documents.count(key) != 0 || (key.folder != 0 && folders.count(key.folder) != 0);
}

bool BoxSelection::NeedsFolder(uint32_t folder) const {
    if (whole || folders.count(folder)) return true;
    auto at = documents.lower_bound({folder, 0});
    return at != documents.end() && at->folder == folder;
}

BoxSelection &Selection::Box(uint32_t box) {
    auto [it, added] = chosen_.try_emplace(box);
    if (added) order_.push_back(box);
    return it->second;
}

Selection Selection::WholeBoxes(const uint32_t *boxes, uint32_t count) {
    Selection s;
    for (uint32_t i = 0; i < count; ++i) s.Box(boxes[i]).whole = true;
    return s;
}

Selection Selection::FromItems(const VTBACKUPITEM *items, uint32_t count) {
    Selection s;
    for (uint32_t i = 0; i < count; ++i) {
        const VTBACKUPITEM &item = items[i];
        if (item.BoxNo == 0 || item.BoxNo > kMaxEntryNumber || item.FolderNo > kMaxEntryNumber ||
            item.DocNo > kMaxEntryNumber)
            Raise(vt::Code::INVALID_PARAMETER, vt::Format("item %u names no part of a backup (%s)", i,
                                                          ItemText(item.BoxNo, item.FolderNo, item.DocNo).c_str()));
        BoxSelection &box = s.Box(item.BoxNo);
        if (item.FolderNo == 0 && item.DocNo == 0)
            box.whole = true;
        else if (item.DocNo == 0)
            box.folders.insert(item.FolderNo);
        else
            box.documents.insert({item.FolderNo, item.DocNo});
    }
    // What a whole box or folder holds needs no item of its own.
    for (auto &[number, box] : s.chosen_) {
        if (box.whole) {
            box.folders.clear();
            box.documents.clear();
        }
        const auto &folders = box.folders;
        std::erase_if(box.documents, [&](const DocumentKey &k) { return k.folder != 0 && folders.count(k.folder); });
    }
    return s;
}

void CheckChosenParts(uint32_t box, const BoxSelection &chosen, const BoxContents &contents) {
    for (uint32_t f : chosen.folders)
        if (!contents.folderRecords.count(f))
            Raise(vt::Code::NOT_FOUND, ItemText(box, f, 0) + " is not in the backup file");
    for (const DocumentKey &d : chosen.documents)
        if (!contents.documents.count(d) || (d.folder != 0 && !contents.folderRecords.count(d.folder)))
            Raise(vt::Code::NOT_FOUND, ItemText(box, d.folder, d.number) + " is not in the backup file");
}

void SelectionFilter::Examine(const DirectoryList &entries) {
    contents_ = MapBoxContents(entries);
    CheckChosenParts(box_, chosen_, contents_);
}

bool SelectionFilter::Keep(const std::vector<std::string> &p, bool isFolder) const {
    if (chosen_.whole) return true;
    // The box folder, the inner folder and their status files make the frame
    // that every restore of the box needs.
    if (p.size() <= 2) return true;
    int n;
    if ((n = PartNumber(p, 2, isFolder, 'D')) > 0) return chosen_.HasDocument({0, static_cast<uint32_t>(n)});
    if ((n = PartNumber(p, 2, isFolder, 'F')) > 0) {
        const uint32_t folder = static_cast<uint32_t>(n);
        if (!chosen_.NeedsFolder(folder)) return false;
        if (p.size() == 3 || chosen_.folders.count(folder)) return true;
        // Inside a folder that is needed for some of its documents only:
        // those documents, and its status files.
        if ((n = PartNumber(p, 3, isFolder, 'D')) > 0) return chosen_.HasDocument({folder, static_cast<uint32_t>(n)});
        return p.size() == 4 && IsStatusFileName(p[3]);
    }
    return p.size() == 3 && IsStatusFileName(p[2]);
}

std::string ItemText(uint32_t box, uint32_t folder, uint32_t document) {
    std::string text = vt::Format("box %03u", box);
    if (folder != 0) text += vt::Format(", folder %03u", folder);
    if (document != 0) text += vt::Format(", document %03u", document);
    return text;
}

}  // namespace vtbox
