// vtBoxPlanRestore and vtBoxPlanRestoreSelection: what a restore would do,
// worked out without changing the device. It reads the backup as the restore does (unpacked into a folder of
// its own in the work folder, one box at a time), reads the device's entries
// and free space, and settles clashes with the restore's own rules, writing
// only to its local copy.
#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "boxcalls/box_call.hpp"
#include "browse/selection.hpp"
#include "localfiles/local_file.hpp"
#include "localfiles/local_folder.hpp"
#include "localfiles/scratch_folder.hpp"
#include "restore/restore_entries.hpp"
#include "session/boundary.hpp"
#include "store/layout.hpp"
#include "verify/backup_unpack.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"
#include "vtplatform/text.hpp"

using namespace vtbox;

namespace {

constexpr const char *kExport = "vtBoxPlanRestore";

std::string Utf8(const std::u16string &s) { return vt::Utf16ToUtf8(s); }

// Where the plan's lines go, each once it is complete, in the plan's order.
using PlanSink = std::function<void(const VTRESTOREPLAN &)>;

class RestorePlan {
public:
    RestorePlan(VTMFPSESSION *session, const char *password, std::string work, std::string backup, bool replace,
                PlanSink sink)
        : session_(session), password_(password), work_(std::move(work)), tree_(work_), backup_(std::move(backup)),
          unpacker_(backup_, tree_), replace_(replace), sink_(std::move(sink)) {}

    // The file is read and checked as the restore reads it: what the restore
    // would refuse, the plan refuses.
    void Run(const Selection &chosen) {
        unpacker_.ReadDescription(work_);
        const std::vector<VTBOXBK> &described = unpacker_.described();
        unpacker_.UnpackFile();
        uint32_t capacity = 0;
        if (vtBoxGetBoxDiskSpace(session_, password_, &capacity, &available_) != 0) available_ = 0;
        for (uint32_t number : chosen.boxes()) {
            const VTBOXBK *found = nullptr;
            for (size_t i = 0; i < described.size() && !found; ++i)
                if (described[i].BoxNo == number) found = &described[i];
            if (!found)
                Raise(vt::Code::INVALID_PARAMETER, vt::Format("box %03u is not in %s", number, backup_.c_str()));
            PlanBox(*found, chosen.of(number));
        }
        Hand();
    }

private:
    // The line before the one being made is complete: it goes to the sink.
    void Hand() {
        if (!pending_) return;
        pending_ = false;
        sink_(item_);
    }

    VTRESTOREPLAN &Add(uint32_t action, uint32_t folder, uint32_t entry, uint32_t newNo, const std::string &name,
                       const std::string &newName) {
        VTRESTOREPLAN p{};
        p.BoxNo = box_;
        p.Action = action;
        p.FolderNo = folder;
        p.EntryNo = entry;
        p.NewNo = newNo;
        CopyField(p.Name, name);
        CopyField(p.NewName, newName);
        // A line is finished (a count, a limit, the document replaced) by
        // the caller until the next one is begun.
        Hand();
        item_ = p;
        pending_ = true;
        return item_;
    }

    void Limit(uint32_t action, const std::u16string &folderName, size_t count, size_t limit) {
        VTRESTOREPLAN &p = Add(action, 0, 0, 0, Utf8(folderName), "");
        p.Count = static_cast<uint32_t>(count);
        p.Limit = static_cast<uint32_t>(limit);
    }

    void PlanBox(const VTBOXBK &info, const BoxSelection &chosen) {
        box_ = info.BoxNo;
        SelectionFilter filter(box_, chosen);
        unpacker_.UnpackBox(box_, chosen.whole ? nullptr : &filter);
        std::string level = tree_.boxFolder(box_) + "/" + FindInnerFolder(work_, box_);

        EntryList deviceFolders, deviceDocuments;
        uint32_t rc = ReadDeviceEntries(session_, password_, box_, 0, &deviceFolders, &deviceDocuments);
        std::string name(info.BoxName, strnlen(info.BoxName, sizeof info.BoxName));
        if (rc == vt::code(vt::Code::NOT_ON_DEVICE)) {
            Add(VTPLAN_NEW_BOX, 0, box_, box_, name, name);
            PlanNewBox(level);
        } else {
            Check(rc);
            Add(VTPLAN_MERGE_BOX, 0, box_, box_, name, name);
            PlanMerge(level, deviceFolders, deviceDocuments);
        }
        // The space the box takes, as the restore measures it.
        const uint32_t need = static_cast<uint32_t>(
            std::min<uint64_t>(SpaceABoxNeeds(info, !chosen.whole, TreeKilobytes(tree_.boxFolder(box_))), UINT32_MAX));
        VTRESTOREPLAN &disk = Add(need < available_ ? VTPLAN_DISK_SPACE : VTPLAN_NO_DISK_SPACE, 0, 0, 0, name, "");
        disk.Count = need;
        disk.Limit = available_;
        available_ = need < available_ ? available_ - need : 0;
        DeleteLocalTree(tree_.boxFolder(box_), work_);
    }

    void PlanNewBox(const std::string &level) {
        EntryList folders, documents;
        ReadLocalEntries(level, &folders, &documents);
        if (documents.size() > kMaxDocumentsPerLevel)
            Limit(VTPLAN_TOO_MANY_DOCUMENTS, u"", documents.size(), kMaxDocumentsPerLevel);
        if (folders.size() > kMaxFoldersPerBox) Limit(VTPLAN_TOO_MANY_FOLDERS, u"", folders.size(), kMaxFoldersPerBox);
        for (const auto &d : documents) Add(VTPLAN_ADD_DOCUMENT, 0, d.id, d.id, Utf8(d.name), Utf8(d.name));
        for (const auto &f : folders) {
            Add(VTPLAN_ADD_FOLDER, 0, f.id, f.id, Utf8(f.name), Utf8(f.name));
            EntryList inside;
            ReadLocalEntries(level + "/" + EntryName(f.id, false), nullptr, &inside);
            if (inside.size() > kMaxDocumentsPerLevel)
                Limit(VTPLAN_TOO_MANY_DOCUMENTS, f.name, inside.size(), kMaxDocumentsPerLevel);
            for (const auto &d : inside) Add(VTPLAN_ADD_DOCUMENT, f.id, d.id, d.id, Utf8(d.name), Utf8(d.name));
        }
    }

    void Settled(uint32_t folder, const std::vector<SettledDocument> &settled) {
        for (const auto &s : settled) {
            uint32_t action = s.replaces               ? VTPLAN_REPLACE_DOCUMENT
                              : s.newName != s.oldName ? VTPLAN_RENAME_DOCUMENT
                                                       : VTPLAN_ADD_DOCUMENT;
            VTRESTOREPLAN &p = Add(action, folder, s.oldId, s.newId, Utf8(s.oldName), Utf8(s.newName));
            if (s.replacedIds.empty()) continue;
            p.DeviceNo = s.replacedIds.front();
            // One line for each device document of the name that goes.
            for (size_t i = 1; i < s.replacedIds.size(); ++i)
                Add(action, folder, s.oldId, s.newId, Utf8(s.oldName), Utf8(s.newName)).DeviceNo = s.replacedIds[i];
        }
    }

    static std::vector<std::u16string> Names(const EntryList &list) {
        std::vector<std::u16string> names;
        for (const auto &e : list) names.push_back(e.name);
        return names;
    }

    // The limits as the restore checks them, before it changes anything.
    void CheckMergeLimits(const std::string &level, const EntryList &localFolders, const EntryList &localDocuments,
                          const EntryList &deviceFolders, const EntryList &deviceDocuments) {
        std::vector<std::u16string> top = Names(deviceDocuments);
        size_t after = DocumentsAfterRestore(top, localDocuments, replace_);
        if (after > kMaxDocumentsPerLevel) Limit(VTPLAN_TOO_MANY_DOCUMENTS, u"", after, kMaxDocumentsPerLevel);
        std::map<uint32_t, std::vector<std::u16string>> merged;
        size_t newFolders = 0;
        for (const auto &lf : localFolders) {
            EntryList inside;
            ReadLocalEntries(level + "/" + EntryName(lf.id, false), nullptr, &inside);
            auto same = std::find_if(deviceFolders.begin(), deviceFolders.end(),
                                     [&](const BoxEntry &df) { return df.name == lf.name; });
            size_t n = inside.size();
            if (same != deviceFolders.end()) {
                auto names = merged.find(same->id);
                if (names == merged.end()) {
                    EntryList deviceInside;
                    Check(ReadDeviceEntries(session_, password_, box_, same->id, nullptr, &deviceInside));
                    names = merged.emplace(same->id, Names(deviceInside)).first;
                }
                n = DocumentsAfterRestore(names->second, inside, replace_);
            } else {
                ++newFolders;
            }
            if (n > kMaxDocumentsPerLevel) Limit(VTPLAN_TOO_MANY_DOCUMENTS, lf.name, n, kMaxDocumentsPerLevel);
        }
        if (deviceFolders.size() + newFolders > kMaxFoldersPerBox)
            Limit(VTPLAN_TOO_MANY_FOLDERS, u"", deviceFolders.size() + newFolders, kMaxFoldersPerBox);
    }

    void PlanMerge(const std::string &level, EntryList &deviceFolders, EntryList &deviceDocuments) {
        EntryList localFolders, localDocuments;
        ReadLocalEntries(level, &localFolders, &localDocuments);
        CheckMergeLimits(level, localFolders, localDocuments, deviceFolders, deviceDocuments);

        EntryList replaced;
        Settled(0, SettleDocumentClashes(replace_, deviceDocuments, localDocuments, replaced));

        // Same-named folders pour into the device's; a later backup folder of
        // the same name meets what an earlier one brought.
        std::map<uint32_t, EntryList> poured;
        std::set<uint32_t> mergedLocal;
        for (const auto &lf : localFolders) {
            auto same = std::find_if(deviceFolders.begin(), deviceFolders.end(),
                                     [&](const BoxEntry &df) { return df.name == lf.name; });
            if (same == deviceFolders.end()) continue;
            mergedLocal.insert(lf.id);
            Add(VTPLAN_MERGE_FOLDER, 0, lf.id, same->id, Utf8(lf.name), Utf8(same->name));
            auto it = poured.find(same->id);
            if (it == poured.end()) {
                EntryList deviceInside;
                Check(ReadDeviceEntries(session_, password_, box_, same->id, nullptr, &deviceInside));
                it = poured.emplace(same->id, std::move(deviceInside)).first;
            }
            EntryList inside, gone;
            ReadLocalEntries(level + "/" + EntryName(lf.id, false), nullptr, &inside);
            Settled(same->id, SettleDocumentClashes(replace_, it->second, inside, gone));
            for (auto &e : inside) it->second.push_back(std::move(e));
        }

        // New folders keep free numbers; the others take the lowest left.
        std::set<uint32_t> used;
        for (const auto &df : deviceFolders) used.insert(df.id);
        std::vector<std::pair<BoxEntry, uint32_t>> added;
        EntryList clashing;
        for (const auto &lf : localFolders) {
            if (mergedLocal.count(lf.id)) continue;
            if (lf.id != 0 && used.insert(lf.id).second)
                added.push_back({lf, lf.id});
            else
                clashing.push_back(lf);
        }
        uint32_t j = 0;
        for (const auto &lf : clashing) {
            do {
                ++j;
            } while (used.count(j) != 0);
            added.push_back({lf, j});
        }
        std::sort(added.begin(), added.end(), [](const auto &a, const auto &b) { return a.second < b.second; });
        for (const auto &[lf, number] : added) {
            Add(VTPLAN_ADD_FOLDER, 0, lf.id, number, Utf8(lf.name), Utf8(lf.name));
            EntryList inside;
            ReadLocalEntries(level + "/" + EntryName(lf.id, false), nullptr, &inside);
            for (const auto &d : inside) Add(VTPLAN_ADD_DOCUMENT, number, d.id, d.id, Utf8(d.name), Utf8(d.name));
        }
    }

    VTMFPSESSION *session_;
    const char *password_;
    std::string work_;
    StoreTree tree_;
    std::string backup_;
    BackupUnpacker unpacker_;
    bool replace_;
    uint32_t box_ = 0;
    uint32_t available_ = 0;
    PlanSink sink_;
    VTRESTOREPLAN item_{};  // the line being made
    bool pending_ = false;  // item_ is yet to be handed to the sink
};

// A plan of the chosen parts as one block of at least one record, so that an
// empty plan still has a handle.
GlobalBlock Plan(VTMFPSESSION *session, const char *password, const char *workFolder, const char *backupFile,
                 const Selection &chosen, uint32_t mode, uint32_t *count, VTRESTOREPLAN **items) {
    ScratchFolder folder(workFolder, "vtplan");
    std::vector<VTRESTOREPLAN> found;
    RestorePlan plan(session, password, folder.path(), FullPath(backupFile), mode == 1,
                     [&](const VTRESTOREPLAN &item) { found.push_back(item); });
    plan.Run(chosen);
    GlobalBlock block(GlobalAlloc(GPTR, sizeof(VTRESTOREPLAN) * std::max<size_t>(found.size(), 1)));
    if (!block) Raise(vt::Code::NOT_ENOUGH_MEMORY);
    std::copy(found.begin(), found.end(), static_cast<VTRESTOREPLAN *>(block.get()));
    *count = static_cast<uint32_t>(found.size());
    *items = static_cast<VTRESTOREPLAN *>(block.get());
    return block;
}

}  // namespace

extern "C" HGLOBAL vtBoxPlanRestore(VTMFPSESSION *session, const char *password, const char *workFolder,
                                    const char *backupFile, uint32_t boxCount, const uint32_t *boxNumbers,
                                    uint32_t mode, uint32_t *count, VTRESTOREPLAN **items) {
    if (count) *count = 0;
    if (items) *items = nullptr;
    bool valid = SessionIsOpen(session) && password && workFolder && *workFolder && backupFile && *backupFile &&
                 count && items && (boxCount == 0 || boxNumbers);
    return RunListExport(kExport, valid, [&] {
        return Plan(session, password, workFolder, backupFile, Selection::WholeBoxes(boxNumbers, boxCount), mode, count,
                    items);
    });
}

extern "C" HGLOBAL vtBoxPlanRestoreSelection(VTMFPSESSION *session, const char *password, const char *workFolder,
                                             const char *backupFile, uint32_t itemCount, const VTBACKUPITEM *items,
                                             uint32_t mode, uint32_t *count, VTRESTOREPLAN **plan) {
    if (count) *count = 0;
    if (plan) *plan = nullptr;
    bool valid = SessionIsOpen(session) && password && workFolder && *workFolder && backupFile && *backupFile &&
                 count && plan && itemCount > 0 && items;
    return RunListExport("vtBoxPlanRestoreSelection", valid, [&] {
        return Plan(session, password, workFolder, backupFile, Selection::FromItems(items, itemCount), mode, count,
                    plan);
    });
}

extern "C" uint32_t vtBoxPlanRestoreEach(VTMFPSESSION *session, const char *password, const char *workFolder,
                                         const char *backupFile, uint32_t boxCount, const uint32_t *boxNumbers,
                                         uint32_t itemCount, const VTBACKUPITEM *items, uint32_t mode,
                                         VTPLANITEMPROC itemProc, void *context) {
    bool valid = SessionIsOpen(session) && password && workFolder && *workFolder && backupFile && *backupFile &&
                 itemProc && (boxCount == 0 || boxNumbers) && (itemCount == 0 || items);
    return RunExport("vtBoxPlanRestoreEach", valid, [&] {
        const Selection chosen =
            itemCount > 0 ? Selection::FromItems(items, itemCount) : Selection::WholeBoxes(boxNumbers, boxCount);
        ScratchFolder folder(workFolder, "vtplan");
        RestorePlan plan(session, password, folder.path(), FullPath(backupFile), mode == 1,
                         [&](const VTRESTOREPLAN &item) {
                             if (itemProc(&item, context) != 0) Raise(vt::Code::CANCELLED, "the caller ended the plan");
                         });
        plan.Run(chosen);
    });
}
