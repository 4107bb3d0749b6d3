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

EntryRole RoleOf(const std::vector<std::string> &p, bool isFolder) {
    EntryRole role;
    // B0000nnn / inner / ...: below the inner folder lie the box's entries.
    if (isFolder || p.size() < 3 || !IsInnerFolderName(p[1])) return role;
    const std::string &name = p.back();
    auto as = [&](EntryRole::Kind kind, int folder, int number) {
        role.kind = kind;
        role.key = {static_cast<uint32_t>(folder), static_cast<uint32_t>(number)};
        return role;
    };
    int n, f;
    if (p.size() == 3 && (n = EntryNumberFromRecordName(name, 'D')) > 0) return as(EntryRole::DocumentRecord, 0, n);
    if (p.size() == 3 && (n = EntryNumberFromRecordName(name, 'F')) > 0) return as(EntryRole::FolderRecord, n, 0);
    if (p.size() == 4 && (n = FolderNumber(p[2], 'D')) > 0)
        return IsStatusFileName(name) ? role : as(EntryRole::DocumentFile, 0, n);
    if (p.size() >= 4 && (f = FolderNumber(p[2], 'F')) > 0) {
        if (p.size() == 4 && (n = EntryNumberFromRecordName(name, 'D')) > 0) return as(EntryRole::DocumentRecord, f, n);
        if (p.size() == 5 && (n = FolderNumber(p[3], 'D')) > 0 && !IsStatusFileName(name))
            return as(EntryRole::DocumentFile, f, n);
    }
    return role;
}

BoxContents MapBoxContents(const DirectoryList &entries, bool withFiles) {
    BoxContents box;
    for (size_t i = 0; i < entries.size(); ++i) {
        const DirectoryEntry &e = entries[i];
        const std::vector<std::string> p = EntryParts(e);
        if (box.inner.empty() && p.size() >= 3 && IsInnerFolderName(p[1])) box.inner = p[1];
        const EntryRole role = RoleOf(p, e.isFolder);
        switch (role.kind) {
        case EntryRole::FolderRecord:
            if (withFiles) box.folders[role.key.folder] = Joined(p);
            box.folderRecords[role.key.folder] = i;
            break;
        case EntryRole::DocumentRecord: {
            DocumentEntries &d = box.documents[role.key];
            if (withFiles) d.record = Joined(p);
            d.recordIndex = i;
            break;
        }
        case EntryRole::DocumentFile: {
            DocumentEntries &d = box.documents[role.key];
            if (withFiles) d.files.push_back({p.back(), Joined(p), e.uncompressedSize});
            ++d.fileCount;
            d.bytes += e.uncompressedSize;
            break;
        }
        case EntryRole::Other: break;
        }
    }
    return box;
}

}  // namespace vtbox
