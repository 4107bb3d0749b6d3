#include "restore/restore_entries.hpp"

#include <algorithm>
#include <map>
#include <set>

#include "localfiles/local_folder.hpp"
#include "session/boundary.hpp"
#include "session/result.hpp"
#include "store/layout.hpp"
#include "store/record_edit.hpp"
#include "store/record_file.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"
#include "vtplatform/text.hpp"

namespace vtbox {

namespace {

// Keep-both names: this many units of the original name at most.
constexpr size_t kKeepBothBaseUnits = 60;

void ReadLevel(const std::string &levelFolder, const char *pattern, char letter, uint32_t kind, EntryList *out) {
    out->clear();
    FindList files;
    uint32_t rc = ListLocalFolder(levelFolder, pattern, nullptr, &files);
    if (rc == vt::code(vt::Code::NOT_ON_DEVICE)) Raise(rc);
    for (const auto &f : files) {
        int number = EntryNumberFromRecordName(f.cFileName, letter);
        if (number < 0 || (f.dwFileAttributes & vt::kAttrReparsePoint)) {
            vt::DebugPrint("\n Skipping %s in %s: not a record of the box \n", f.cFileName, levelFolder.c_str());
            continue;
        }
        BoxEntry e;
        e.kind = kind;
        e.id = static_cast<uint32_t>(number);
        e.name = ReadRecordName(levelFolder + "/" + f.cFileName);
        out->push_back(std::move(e));
    }
}

bool NameTaken(const EntryList &list, const std::u16string &name) {
    return std::any_of(list.begin(), list.end(), [&](const BoxEntry &e) { return e.name == name; });
}

}  // namespace

std::string FindInnerFolder(const std::string &workFolder, uint32_t box) {
    FindList folders;
    ListLocalFolder(StoreTree(workFolder).boxFolder(box), kInnerFolderPattern, &folders, nullptr);
    if (folders.empty()) {
        vt::DebugPrint("\n No inner folder in box %03u of the backup \n", box);
        Raise(vt::Code::PATH_NOT_FOUND);
    }
    std::string name = folders.front().cFileName;
    if (!IsInnerFolderName(name)) {
        vt::DebugPrint("\n The inner folder of box %03u has an unusable name \n", box);
        Raise(vt::Code::PATH_NOT_FOUND);
    }
    return name;
}

void ReadLocalEntries(const std::string &levelFolder, EntryList *folders, EntryList *documents) {
    if (folders) ReadLevel(levelFolder, kFolderRecordPattern, 'F', 0, folders);
    if (documents) ReadLevel(levelFolder, kDocumentRecordPattern, 'D', 1, documents);
}

uint64_t SpaceABoxNeeds(const VTBOXBK &described, bool partial, uint64_t unpackedKb) {
    return partial ? unpackedKb : std::max<uint64_t>(described.BoxUsedDisk, unpackedKb);
}

uint32_t ReadDeviceEntries(VTMFPSESSION *session, const char *password, uint32_t box, uint32_t folder,
                           EntryList *folders, EntryList *documents) {
    if (folders) folders->clear();
    if (documents) documents->clear();
    uint32_t count = 0;
    VTBOXELEMENT *elements = nullptr;
    GlobalBlock block(vtBoxGetCollection(session, box, password, folder, &count, &elements));
    if (!block) {
        uint32_t rc = GetLastError();
        return rc != 0 ? rc : vt::code(vt::Code::INTERNAL_ERROR);
    }
    // A number given twice leaves one entry unlisted: the restore would take
    // its number for free and make an entry over it.
    std::set<std::pair<bool, uint32_t>> seen;
    for (uint32_t i = 0; i < count; ++i) {
        const VTBOXELEMENT &el = elements[i];
        if (!seen.insert({el.Kind == 0, el.Id}).second) {
            const uint32_t rc = vt::code(vt::Code::BAD_FORMAT);
            NoteFailure(
                rc, vt::Format("the device lists %s %03u twice in box %03u, %s", el.Kind == 0 ? "folder" : "document",
                               el.Id, box, folder == 0 ? "top level" : ("folder " + FolderEntryName(folder)).c_str()));
            if (folders) folders->clear();
            if (documents) documents->clear();
            return rc;
        }
        BoxEntry e;
        e.kind = el.Kind;
        e.id = el.Id;
        e.name = std::u16string(vt::Utf16View(reinterpret_cast<const char16_t *>(el.Name), 128));
        EntryList *to = el.Kind == 0 ? folders : documents;
        if (to) to->push_back(std::move(e));
    }
    return 0;
}

std::u16string KeepBothName(const std::u16string &name, uint32_t k) {
    std::u16string suffix = vt::Utf8ToUtf16(vt::Format("-%03u", k));
    size_t room = suffix.size() < kRecordNameUnits ? kRecordNameUnits - suffix.size() : 0;
    size_t keep = vt::Utf16PrefixLength(name, std::min(kKeepBothBaseUnits, room));
    return name.substr(0, keep) + suffix;
}

size_t DocumentsAfterRestore(std::vector<std::u16string> &deviceNames, const EntryList &local, bool replace) {
    if (replace) {
        // Every device document of a name the local ones carry goes.
        std::set<std::u16string> names;
        for (const auto &l : local) names.insert(l.name);
        deviceNames.erase(std::remove_if(deviceNames.begin(), deviceNames.end(),
                                         [&](const std::u16string &n) { return names.count(n) != 0; }),
                          deviceNames.end());
    }
    for (const auto &l : local) deviceNames.push_back(l.name);
    return deviceNames.size();
}

std::vector<SettledDocument> SettleDocumentClashes(bool replace, EntryList &device, EntryList &local,
                                                   EntryList &replaced, const std::set<uint32_t> &taken) {
    std::vector<SettledDocument> settled;
    for (const auto &l : local) settled.push_back({l.id, l.id, l.name, l.name, false, {}});

    // Names. replacing: a local document's index -> its entries in replaced.
    std::map<size_t, std::vector<size_t>> replacing;
    for (size_t i = 0; i < local.size(); ++i) {
        BoxEntry &l = local[i];
        auto same = std::find_if(device.begin(), device.end(), [&](const BoxEntry &d) { return d.name == l.name; });
        if (same == device.end()) continue;
        if (replace) {
            // Every device document of the name goes, so that a restore run
            // again after one that was cut between a replacement and the
            // deletion of its old document leaves the name once.
            settled[i].replaces = true;
            for (auto d = same; d != device.end();) {
                if (d->name != l.name) {
                    ++d;
                    continue;
                }
                settled[i].replacedIds.push_back(d->id);
                replacing[i].push_back(replaced.size());
                replaced.push_back(*d);
                replaced.back().replacedBy = l.id;
                d = device.erase(d);
            }
            continue;
        }
        for (uint32_t k = 1;; ++k) {
            std::u16string candidate = KeepBothName(l.name, k);
            if (NameTaken(device, candidate) || NameTaken(local, candidate)) continue;
            l.name = std::move(candidate);
            settled[i].newName = l.name;
            break;
        }
    }

    // Numbers: those the device does not use stay; 0 is no number and never
    // stays. A replaced document still holds its number until its replacement
    // is complete, so that number is not free for the replacement: each
    // replacement is made once, under a free number, before the old one goes.
    std::set<uint32_t> used = taken;
    for (const auto &d : device) used.insert(d.id);
    for (const auto &r : replaced) used.insert(r.id);
    EntryList clashing;
    std::vector<size_t> clashingIndex;
    for (size_t i = 0; i < local.size(); ++i) {
        BoxEntry &l = local[i];
        if (l.id != 0 && used.count(l.id) == 0) {
            used.insert(l.id);
            device.push_back(std::move(l));
        } else {
            clashing.push_back(std::move(l));
            clashingIndex.push_back(i);
        }
    }
    local = std::move(clashing);

    uint32_t j = 0;
    for (size_t k = 0; k < local.size(); ++k) {
        do {
            ++j;
        } while (used.count(j) != 0);
        if (j > kMaxEntryNumber) Raise(vt::Code::DEVICE_LIMIT);
        local[k].id = j;
        settled[clashingIndex[k]].newId = j;
        if (auto r = replacing.find(clashingIndex[k]); r != replacing.end())
            for (size_t at : r->second) replaced[at].replacedBy = j;
    }
    return settled;
}

void ResolveDocumentClashes(const std::string &boxLevel, uint32_t folder, bool replace, EntryList &device,
                            EntryList &local, EntryList &replaced, const std::set<uint32_t> &taken) {
    std::string level = folder == 0 ? boxLevel : boxLevel + "/" + EntryName(folder, false);
    std::vector<SettledDocument> settled = SettleDocumentClashes(replace, device, local, replaced, taken);
    for (const auto &s : settled)
        if (s.newName != s.oldName) WriteRecordName(level, s.oldId, s.newName, true);
    for (const auto &s : settled)
        if (s.newId != s.oldId) RenumberEntry(boxLevel, folder, s.oldId, s.newId);
}

}  // namespace vtbox
