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

BoxContents MapBoxContents(const DirectoryList &entries, bool withFiles) {
    BoxContents box;
    auto addFile = [&](DocumentEntries &d, const std::vector<std::string> &p, const DirectoryEntry &e) {
        if (withFiles) d.files.push_back({p.back(), Joined(p), e.uncompressedSize});
        ++d.fileCount;
        d.bytes += e.uncompressedSize;
    };
    for (size_t i = 0; i < entries.size(); ++i) {
        const DirectoryEntry &e = entries[i];
        const std::vector<std::string> p = EntryParts(e);
        // B0000nnn / inner / ...: below the inner folder lie the box's entries.
        if (p.size() < 3 || !IsInnerFolderName(p[1])) continue;
        if (box.inner.empty()) box.inner = p[1];
        if (e.isFolder) continue;
        const std::string &name = p.back();
        int n, f;
        if (p.size() == 3 && (n = EntryNumberFromRecordName(name, 'D')) > 0) {
            DocumentEntries &d = box.documents[{0, static_cast<uint32_t>(n)}];
            if (withFiles) d.record = Joined(p);
            d.recordIndex = i;
        } else if (p.size() == 3 && (n = EntryNumberFromRecordName(name, 'F')) > 0) {
            if (withFiles) box.folders[static_cast<uint32_t>(n)] = Joined(p);
            box.folderRecords[static_cast<uint32_t>(n)] = i;
        } else if (p.size() == 4 && (n = FolderNumber(p[2], 'D')) > 0) {
            if (IsStatusFileName(name)) continue;
            addFile(box.documents[{0, static_cast<uint32_t>(n)}], p, e);
        } else if (p.size() >= 4 && (f = FolderNumber(p[2], 'F')) > 0) {
            const uint32_t folder = static_cast<uint32_t>(f);
            if (p.size() == 4 && (n = EntryNumberFromRecordName(name, 'D')) > 0) {
                DocumentEntries &d = box.documents[{folder, static_cast<uint32_t>(n)}];
                if (withFiles) d.record = Joined(p);
                d.recordIndex = i;
            } else if (p.size() == 5 && (n = FolderNumber(p[3], 'D')) > 0 && !IsStatusFileName(name)) {
                addFile(box.documents[{folder, static_cast<uint32_t>(n)}], p, e);
            }
        }
    }
    return box;
}

}  // namespace vtbox
