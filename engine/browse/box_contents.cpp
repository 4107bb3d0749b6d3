#include "browse/box_contents.hpp"

#include "packaging/entry_name.hpp"
#include "store/layout.hpp"

namespace vtbox {

namespace {

std::string Joined(const std::vector<std::string> &parts) {
    std::string out;
    for (const auto &p : parts) out += (out.empty() ? "" : "/") + p;
    return out;
}

// "D0000012" -> 12 when it names an entry folder of the given letter; -1 otherwise.
int FolderNumber(const std::string &name, char letter) {
    return EntryNumberFromRecordName(name + kRecordExtension, letter);
}

}  // namespace

std::vector<std::string> EntryParts(const DirectoryEntry &entry) {
    std::vector<std::string> parts;
    SplitSafeEntryName(entry.name, &parts);
    return parts;
}

BoxContents MapBoxContents(const std::vector<DirectoryEntry> &entries) {
    BoxContents box;
    for (const DirectoryEntry &e : entries) {
        const std::vector<std::string> p = EntryParts(e);
        // B0000nnn / inner / ...: below the inner folder lie the box's entries.
        if (p.size() < 3 || !IsInnerFolderName(p[1])) continue;
        if (box.inner.empty()) box.inner = p[1];
        if (e.isFolder) continue;
        const std::string &name = p.back();
        int n, f;
        if (p.size() == 3 && (n = EntryNumberFromRecordName(name, 'D')) > 0) {
            box.documents[{0, static_cast<uint32_t>(n)}].record = Joined(p);
        } else if (p.size() == 3 && (n = EntryNumberFromRecordName(name, 'F')) > 0) {
            box.folders[static_cast<uint32_t>(n)] = Joined(p);
        } else if (p.size() == 4 && (n = FolderNumber(p[2], 'D')) > 0) {
            if (IsStatusFileName(name)) continue;
            DocumentEntries &d = box.documents[{0, static_cast<uint32_t>(n)}];
            d.files.push_back({name, Joined(p), e.record.uncompressedSize});
            d.bytes += e.record.uncompressedSize;
        } else if (p.size() >= 4 && (f = FolderNumber(p[2], 'F')) > 0) {
            const uint32_t folder = static_cast<uint32_t>(f);
            if (p.size() == 4 && (n = EntryNumberFromRecordName(name, 'D')) > 0) {
                box.documents[{folder, static_cast<uint32_t>(n)}].record = Joined(p);
            } else if (p.size() == 5 && (n = FolderNumber(p[3], 'D')) > 0 && !IsStatusFileName(name)) {
                DocumentEntries &d = box.documents[{folder, static_cast<uint32_t>(n)}];
                d.files.push_back({name, Joined(p), e.record.uncompressedSize});
                d.bytes += e.record.uncompressedSize;
            }
        }
    }
    return box;
}

}  // namespace vtbox
