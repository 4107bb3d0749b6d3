#include "verify/backup_layout.hpp"

#include <cstring>
#include <set>
#include <string_view>

#include "packaging/entry_name.hpp"
#include "session/result.hpp"
#include "store/layout.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/text.hpp"

namespace vtbox {

namespace {

void Note(BackupFindings *findings, uint32_t box, std::string entry, std::string text) {
    vt::DebugPrint("\n check: box %03u %s: %s \n", box, entry.c_str(), text.c_str());
    findings->push_back({box, std::move(entry), std::move(text)});
}

std::vector<std::string> Parts(const DirectoryEntry &e) {
    std::vector<std::string> parts;
    SplitSafeEntryName(e.name, &parts);  // the reader refused every name this would not split
    return parts;
}

uint64_t Saturated(uint64_t a, uint64_t b) { return a + b < a ? UINT64_MAX : a + b; }
uint64_t Times(uint64_t a, uint64_t b) { return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b; }

std::string Bytes(uint64_t n) { return vt::Format("%llu bytes", static_cast<unsigned long long>(n)); }

// An entry of an outer level larger than its bound.
bool CheckSize(const DirectoryEntry &e, uint64_t bound, const std::string &why, uint32_t box, const std::string &where,
               BackupFindings *findings) {
    if (e.uncompressedSize <= bound) return true;
    Note(findings, box, where + ": " + std::string(e.name),
         "would unpack to " + Bytes(e.uncompressedSize) + "; " + why + " at most " + Bytes(bound));
    return false;
}

// Marks entries as read on: sized for the level, all false to begin with.
class Passed {
public:
    Passed(std::vector<bool> *out, size_t n) : out_(out) {
        if (out_) out_->assign(n, false);
    }
    void mark(size_t i, bool ok) {
        if (out_) (*out_)[i] = ok;
    }

private:
    std::vector<bool> *out_;
};

uint64_t RecordsBound(const DescribedBoxes &boxes) {
    return Times(boxes.size() + 1, kMaxBoxRecordBytes + kEntryOverheadBytes) + kEntryOverheadBytes;
}

uint64_t DataBound(const DescribedBoxes &boxes) {
    uint64_t bound = 2 * kEntryOverheadBytes;  // DATA\ and the end records
    for (const auto &[number, box] : boxes)
        bound = Saturated(bound, Saturated(BoxBytesBound(box), kEntryOverheadBytes));
    return bound;
}

// ---- a box archive ------------------------------------------------------------

// What one level of a box holds: records and entry folders by number.
struct Level {
    std::set<uint32_t> documentRecords, documentFolders;
};

struct BoxTree {
    Level top;
    std::set<uint32_t> folderRecords, folderFolders;
    std::map<uint32_t, Level> inFolder;
    std::set<std::string> innerFolders;
};

// "D0000012" -> 12 when it names an entry folder of the given letter; -1 otherwise.
int FolderNumber(const std::string &name, char letter) {
    return EntryNumberFromRecordName(name + kRecordExtension, letter);
}

std::string LevelName(uint32_t folder) {
    return folder == 0 ? std::string("the top level") : "folder " + FolderEntryName(folder);
}

class BoxCheck {
public:
    BoxCheck(uint32_t box, BackupFindings *findings)
        : box_(box), where_(BoxLabel(box)), folder_(BoxFolderName(box)), findings_(findings) {}

    void Place(const DirectoryEntry &e) {
        const std::vector<std::string> p = Parts(e);
        const std::string where = where_ + ": " + std::string(e.name);
        if (p[0] != folder_) return Note(findings_, box_, where, "lies outside the box's folder " + folder_);
        if (p.size() == 1) {
            if (!e.isFolder) Note(findings_, box_, where, "not part of a box");
            return;
        }
        if (p.size() == 2 && !e.isFolder && IsStatusFileName(p[1])) return;
        if (!IsInnerFolderName(p[1]) || (p.size() == 2 && !e.isFolder))
            return Note(findings_, box_, where, "not part of a box");
        tree_.innerFolders.insert(p[1]);
        if (p.size() > 2) PlaceInLevel(p, 2, e.isFolder, 0, where);
    }

    void Finish(const VTBOXBK &described) {
        if (tree_.innerFolders.size() != 1)
            Note(findings_, box_, where_,
                 vt::Format("the box should hold one inner folder, it holds %zu", tree_.innerFolders.size()));
        CompareLevel(0, tree_.top);
        for (uint32_t f : tree_.folderRecords)
            if (!tree_.folderFolders.count(f))
                Note(findings_, box_, FolderEntryName(f) + kRecordExtension, "a folder record without its folder");
        for (uint32_t f : tree_.folderFolders)
            if (!tree_.folderRecords.count(f)) Note(findings_, box_, FolderEntryName(f), "a folder without its record");
        for (const auto &[f, level] : tree_.inFolder) CompareLevel(f, level);

        size_t documents = tree_.top.documentRecords.size();
        for (const auto &[f, level] : tree_.inFolder) documents += level.documentRecords.size();
        const size_t folders = tree_.folderRecords.size();
        if (documents != described.NumOfDocs)
            Note(findings_, box_, "BOX/Backup.XML",
                 vt::Format("the description counts %u documents, the box archive holds %zu", described.NumOfDocs,
                            documents));
        if (folders != described.NumOfFolders)
            Note(findings_, box_, "BOX/Backup.XML",
                 vt::Format("the description counts %u folders, the box archive holds %zu", described.NumOfFolders,
                            folders));
    }

private:
    // One part of a name below the inner folder (top level) or below a folder
    // (folder != 0): a record, a status file, or an entry folder and what
    // lies in it.
    void PlaceInLevel(const std::vector<std::string> &p, size_t k, bool isFolder, uint32_t folder,
                      const std::string &where) {
        Level &level = folder == 0 ? tree_.top : tree_.inFolder[folder];
        const std::string &name = p[k];
        const bool leaf = k + 1 == p.size();
        int n;
        if (leaf && !isFolder) {
            if (IsStatusFileName(name)) return;
            if ((n = EntryNumberFromRecordName(name, 'D')) > 0)
                level.documentRecords.insert(static_cast<uint32_t>(n));
            else if (folder == 0 && (n = EntryNumberFromRecordName(name, 'F')) > 0)
                tree_.folderRecords.insert(static_cast<uint32_t>(n));
            else
                Note(findings_, box_, where, folder == 0 ? "not part of a box level" : "not part of a folder");
            return;
        }
        if ((n = FolderNumber(name, 'D')) > 0) {
            level.documentFolders.insert(static_cast<uint32_t>(n));
            if (leaf) return;
            // A page folder holds page files and status files, nothing deeper.
            const std::string &page = p[k + 1];
            if (k + 2 != p.size() || isFolder)
                Note(findings_, box_, where, "a folder inside a page folder");
            else if (!IsStatusFileName(page) && !IsPageFileName(page))
                Note(findings_, box_, where, "is no page file");
            return;
        }
        if (folder == 0 && (n = FolderNumber(name, 'F')) > 0) {
            tree_.folderFolders.insert(static_cast<uint32_t>(n));
            tree_.inFolder[static_cast<uint32_t>(n)];
            if (!leaf) PlaceInLevel(p, k + 1, isFolder, static_cast<uint32_t>(n), where);
            return;
        }
        Note(findings_, box_, where, folder == 0 ? "not part of a box level" : "not part of a folder");
    }

    void CompareLevel(uint32_t folder, const Level &level) {
        for (uint32_t d : level.documentRecords)
            if (!level.documentFolders.count(d))
                Note(findings_, box_, DocumentEntryName(d) + kRecordExtension,
                     "a document record in " + LevelName(folder) + " without its document folder");
        for (uint32_t d : level.documentFolders)
            if (!level.documentRecords.count(d))
                Note(findings_, box_, DocumentEntryName(d),
                     "a document folder in " + LevelName(folder) + " without its record");
    }

    uint32_t box_;
    std::string where_, folder_;
    BackupFindings *findings_;
    BoxTree tree_;
};

}  // namespace

uint64_t BoxBytesBound(const VTBOXBK &box) {
    return Saturated(Times(Times(box.BoxUsedDisk, 1024), kDeclaredSizeFactor), kDeclaredSizeSlack);
}

std::string OuterLabel() { return "the backup file"; }
std::string RecordsLabel() { return "BOX/DATABASE.vtb"; }
std::string DataLabel() { return "BOX/DATA.zip"; }
std::string BoxLabel(uint32_t box) { return DataLabel() + ": " + BoxArchiveName(box); }

bool DescriptionIsDamaged(uint32_t rc) {
    for (vt::Code c : {vt::Code::DAMAGED_FILE, vt::Code::BAD_FORMAT, vt::Code::INVALID_DATA})
        if (rc == vt::code(c)) return true;
    return false;
}

void CheckDescription(const VTBOXBK *boxes, uint32_t count, DescribedBoxes *described, BackupFindings *findings) {
    described->clear();
    for (uint32_t i = 0; i < count; ++i) {
        if (!described->emplace(boxes[i].BoxNo, boxes[i]).second)
            Note(findings, boxes[i].BoxNo, "BOX/Backup.XML", "the description lists the box twice");
    }
}

void CheckOuterLevel(const ZipReader &zip, const DescribedBoxes &boxes, BackupFindings *findings,
                     std::vector<bool> *passed) {
    bool description = false, records = false, data = false;
    const std::string where = OuterLabel();
    const auto &entries = zip.entries();
    Passed ok(passed, entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const DirectoryEntry &e = entries[i];
        const std::vector<std::string> p = Parts(e);
        const bool inBox = vt::EqualsIgnoreCase(p[0], kBoxTreeName);
        if (inBox && p.size() == 1 && e.isFolder) continue;
        if (inBox && p.size() == 2 && !e.isFolder) {
            if (vt::EqualsIgnoreCase(p[1], kBackupDescriptionName)) {
                description = true;
                ok.mark(i, CheckSize(e, kMaxDescriptionBytes, "a description holds", 0, where, findings));
                continue;
            }
            if (vt::EqualsIgnoreCase(p[1], kDatabaseArchiveName)) {
                records = true;
                ok.mark(i, CheckSize(e, RecordsBound(boxes), "the records of the boxes described take", 0, where,
                                     findings));
                continue;
            }
            if (vt::EqualsIgnoreCase(p[1], kDataArchiveName)) {
                data = true;
                ok.mark(i, CheckSize(e, DataBound(boxes), "the boxes described take", 0, where, findings));
                continue;
            }
        }
        Note(findings, 0, where + ": " + std::string(e.name), "no part of a backup file");
    }
    if (!description) Note(findings, 0, "BOX/Backup.XML", "missing or unreadable in the backup file");
    if (!records) Note(findings, 0, RecordsLabel(), "missing or unreadable in the backup file");
    if (!data) Note(findings, 0, DataLabel(), "missing or unreadable in the backup file");
}

void CheckRecordsLevel(const ZipReader &zip, const DescribedBoxes &boxes, BackupFindings *findings,
                       std::vector<bool> *passed) {
    std::set<uint32_t> found;
    const std::string where = RecordsLabel();
    const auto &entries = zip.entries();
    Passed ok(passed, entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const DirectoryEntry &e = entries[i];
        const std::vector<std::string> p = Parts(e);
        const bool insideFolder = p[0] == kDatabaseFolderName;
        if (insideFolder && p.size() == 1 && e.isFolder) continue;
        const int n = insideFolder && p.size() == 2 && !e.isFolder ? EntryNumberFromRecordName(p[1], 'B') : -1;
        if (n <= 0) {
            Note(findings, 0, where + ": " + std::string(e.name), "not a box record");
            continue;
        }
        const uint32_t box = static_cast<uint32_t>(n);
        if (!boxes.count(box)) {
            Note(findings, box, where + ": " + std::string(e.name),
                 "the record of a box the description does not list");
            continue;
        }
        found.insert(box);
        ok.mark(i, CheckSize(e, kMaxBoxRecordBytes, "a box record holds", box, where, findings));
    }
    for (const auto &[number, box] : boxes)
        if (!found.count(number))
            Note(findings, number, where,
                 "the box's record " + BoxFolderName(number) + kRecordExtension + " is missing");
}

void CheckDataLevel(const ZipReader &zip, const DescribedBoxes &boxes, BackupFindings *findings,
                    std::vector<bool> *passed) {
    std::set<uint32_t> found;
    const std::string where = DataLabel();
    const auto &entries = zip.entries();
    Passed ok(passed, entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const DirectoryEntry &e = entries[i];
        const std::vector<std::string> p = Parts(e);
        const bool insideFolder = vt::EqualsIgnoreCase(p[0], kDataFolderName);
        if (insideFolder && p.size() == 1 && e.isFolder) continue;
        const int n = insideFolder && p.size() == 2 && !e.isFolder ? BoxNumberFromArchiveName(p[1]) : -1;
        if (n <= 0) {
            Note(findings, 0, where + ": " + std::string(e.name), "not a box archive");
            continue;
        }
        const uint32_t box = static_cast<uint32_t>(n);
        auto described = boxes.find(box);
        if (described == boxes.end()) {
            Note(findings, box, where, "holds " + BoxArchiveName(box) + ", a box the description does not list");
            continue;
        }
        found.insert(box);
        ok.mark(i, CheckSize(e, BoxBytesBound(described->second),
                             vt::Format("the %u KB the description declares for the box let its archive take",
                                        described->second.BoxUsedDisk),
                             box, where, findings));
    }
    for (const auto &[number, box] : boxes)
        if (!found.count(number))
            Note(findings, number, where, "the box archive " + BoxArchiveName(number) + " is missing");
}

bool CheckBoxLevel(const ZipReader &zip, const VTBOXBK &box, BackupFindings *findings) {
    BoxCheck check(box.BoxNo, findings);
    uint64_t total = 0;
    for (const DirectoryEntry &e : zip.entries()) {
        check.Place(e);
        total = Saturated(total, e.uncompressedSize);
    }
    check.Finish(box);
    const uint64_t bound = BoxBytesBound(box);
    if (total <= bound) return true;
    Note(findings, box.BoxNo, BoxLabel(box.BoxNo),
         "the box would unpack to " + Bytes(total) + "; the " + std::to_string(box.BoxUsedDisk) +
             " KB its description declares let it hold at most " + Bytes(bound));
    return false;
}

std::string FindingText(const BackupFinding &f) {
    std::string where = f.box ? vt::Format("box %03u", f.box) : std::string();
    if (!f.entry.empty()) where += (where.empty() ? "" : ", ") + f.entry;
    return where.empty() ? f.text : where + ": " + f.text;
}

}  // namespace vtbox
