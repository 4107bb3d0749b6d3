#include "backup_paths.hpp"

#include <cstdio>
#include <cstdlib>

#include "options.hpp"
#include "text_output.hpp"

namespace vtcli {

namespace {

std::vector<std::string> Split(const std::string &path) {
    std::vector<std::string> parts;
    size_t at = 0;
    for (;;) {
        size_t slash = path.find('/', at);
        parts.push_back(path.substr(at, slash == std::string::npos ? std::string::npos : slash - at));
        if (slash == std::string::npos) break;
        at = slash + 1;
    }
    if (parts.size() > 1 && parts.back().empty()) parts.pop_back();  // "3/" is "3"
    return parts;
}

// "17", "017": a number from 1 to 999; 0 otherwise.
uint32_t Number(const std::string &digits) {
    if (digits.empty() || digits.size() > 7 || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
    unsigned long n = std::strtoul(digits.c_str(), nullptr, 10);
    return n >= 1 && n <= 999 ? static_cast<uint32_t>(n) : 0;
}

// "F2", "f002", "F0000002" for letter 'F': 2; 0 when the part is no such number.
uint32_t LetterNumber(const std::string &part, char letter) {
    if (part.size() < 2 || (part[0] != letter && part[0] != letter + ('a' - 'A'))) return 0;
    return Number(part.substr(1));
}

std::string BoxText(uint32_t n) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%u", n);
    return buf;
}

}  // namespace

std::string BackupTree::NumberPath(const VTBACKUPENTRY &e) {
    std::string path = BoxText(e.BoxNo);
    if (e.Kind == VTENTRY_FOLDER || (e.Kind == VTENTRY_DOCUMENT && e.FolderNo != 0))
        path += "/F" + std::to_string(e.FolderNo);
    if (e.Kind == VTENTRY_DOCUMENT) path += "/D" + std::to_string(e.DocNo);
    return path;
}

BackupTree::BackupTree(std::vector<VTBACKUPENTRY> entries) : entries_(std::move(entries)) {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].Kind == VTENTRY_FOLDER)
            folders_.emplace(std::make_pair(entries_[i].BoxNo, entries_[i].FolderNo), i);
}

const VTBACKUPENTRY *BackupTree::Folder(uint32_t box, uint32_t folder) const {
    auto found = folders_.find({box, folder});
    return found == folders_.end() ? nullptr : &entries_[found->second];
}

std::string BackupTree::NamePath(const VTBACKUPENTRY &e, const char *folderName) {
    std::string path = BoxText(e.BoxNo);
    if (e.Kind == VTENTRY_BOX) return path;
    if (e.Kind == VTENTRY_DOCUMENT && e.FolderNo != 0) path += "/" + std::string(folderName ? folderName : "");
    return path + "/" + e.Name;
}

std::string BackupTree::NamePath(const VTBACKUPENTRY &e) const {
    const VTBACKUPENTRY *folder = e.Kind == VTENTRY_DOCUMENT ? Folder(e.BoxNo, e.FolderNo) : nullptr;
    return NamePath(e, folder ? folder->Name : nullptr);
}

std::vector<const VTBACKUPENTRY *> BackupTree::Candidates(uint32_t box, uint32_t folder, bool foldersOnly,
                                                          const std::string &part) const {
    std::vector<const VTBACKUPENTRY *> found;
    const uint32_t folderNumber = folder == 0 ? LetterNumber(part, 'F') : 0;
    const uint32_t documentNumber = foldersOnly ? 0 : LetterNumber(part, 'D');
    for (const auto &e : entries_) {
        if (e.BoxNo != box) continue;
        const bool isFolder = folder == 0 && e.Kind == VTENTRY_FOLDER;
        const bool isDocument = !foldersOnly && e.Kind == VTENTRY_DOCUMENT && e.FolderNo == folder;
        if (!isFolder && !isDocument) continue;
        const bool byName = part == e.Name || part == PlainText(e.Name);
        const bool byNumber = isFolder ? e.FolderNo == folderNumber : e.DocNo == documentNumber;
        if (byName || byNumber) found.push_back(&e);
    }
    return found;
}

const VTBACKUPENTRY *BackupTree::Resolve(const std::string &path, std::string *problem, bool *ambiguous) const {
    *ambiguous = false;
    const std::vector<std::string> parts = Split(path);
    const uint32_t box = Number(parts[0]);
    if (box == 0) {
        *problem = "\"" + path + "\" does not begin with a box number (1 to 999)";
        return nullptr;
    }
    const VTBACKUPENTRY *at = nullptr;
    for (const auto &e : entries_)
        if (e.Kind == VTENTRY_BOX && e.BoxNo == box) at = &e;
    if (!at) {
        *problem = "box " + parts[0] + " is not in the file";
        return nullptr;
    }
    for (size_t i = 1; i < parts.size(); ++i) {
        if (at->Kind == VTENTRY_DOCUMENT) at = nullptr;  // nothing lies below a document
        const uint32_t folder = at && at->Kind == VTENTRY_FOLDER ? at->FolderNo : 0;
        std::vector<const VTBACKUPENTRY *> found;
        if (at) found = Candidates(box, folder, i + 1 < parts.size(), parts[i]);
        const std::string where = at ? NumberPath(*at) : std::string();
        if (found.empty()) {
            std::vector<std::string> names;
            if (at)
                for (const auto &e : entries_)
                    if (e.BoxNo == box && e.Kind != VTENTRY_BOX &&
                        ((folder == 0 && (e.Kind == VTENTRY_FOLDER || e.FolderNo == 0)) ||
                         (folder != 0 && e.Kind == VTENTRY_DOCUMENT && e.FolderNo == folder)))
                        names.push_back(e.Name);
            std::string near = ClosestMatch(parts[i], names);
            *problem = "\"" + path + "\" is not in the file: " + (where.empty() ? "a document" : where) +
                       " holds no \"" + parts[i] + "\"" + (near.empty() ? "" : "; did you mean \"" + near + "\"?");
            return nullptr;
        }
        if (found.size() > 1) {
            *ambiguous = true;
            *problem = "\"" + path + "\": \"" + parts[i] + "\" names more than one entry of " + where + ":";
            for (const auto *e : found) *problem += " " + NumberPath(*e);
            *problem += "; give the number instead";
            return nullptr;
        }
        at = found.front();
    }
    return at;
}

std::vector<const VTBACKUPENTRY *> BackupTree::Below(const VTBACKUPENTRY &entry) const {
    std::vector<const VTBACKUPENTRY *> out;
    for (const auto &e : entries_) {
        if (e.BoxNo != entry.BoxNo) continue;
        const bool inside = entry.Kind == VTENTRY_BOX ||
                            (entry.Kind == VTENTRY_FOLDER && e.Kind != VTENTRY_BOX && e.FolderNo == entry.FolderNo) ||
                            (entry.Kind == VTENTRY_DOCUMENT && &e == &entry);
        if (inside) out.push_back(&e);
    }
    return out;
}

bool BoxesOfPaths(const std::vector<std::string> &paths, std::vector<uint32_t> *boxes, std::string *problem) {
    boxes->clear();
    for (const auto &p : paths) {
        const uint32_t box = Number(Split(p)[0]);
        if (box == 0) {
            *problem = "\"" + p + "\" does not begin with a box number (1 to 999)";
            return false;
        }
        bool seen = false;
        for (uint32_t b : *boxes) seen = seen || b == box;
        if (!seen) boxes->push_back(box);
    }
    return true;
}

VTBACKUPITEM ItemOf(const VTBACKUPENTRY &e) {
    VTBACKUPITEM item{};
    item.BoxNo = e.BoxNo;
    item.FolderNo = e.Kind == VTENTRY_BOX ? 0 : e.FolderNo;
    item.DocNo = e.Kind == VTENTRY_DOCUMENT ? e.DocNo : 0;
    return item;
}

}  // namespace vtcli
