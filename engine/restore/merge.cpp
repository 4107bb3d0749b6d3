// Restoring into a box the device has: every limit checked before anything
// changes, then same-named folders merged and name and number clashes settled.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "localfiles/local_folder.hpp"
#include "restore/restore_job.hpp"
#include "session/result.hpp"
#include "store/record_edit.hpp"
#include "store/record_file.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/text.hpp"

namespace vtbox {

namespace {

std::vector<std::u16string> Names(const EntryList &list) {
    std::vector<std::u16string> names;
    for (const auto &e : list) names.push_back(e.name);
    return names;
}

}  // namespace

void Restore::MergeBox(BoxWork &box, EntryList &deviceFolders, EntryList &deviceDocuments) {
    uint32_t number = box.info.BoxNo;
    std::string deviceInner;
    if (ftp_->GetBoxInnerFolderName(number, &deviceInner)) box.remote = Join(DeviceBoxFolder(number), deviceInner);

    EntryList localFolders, localDocuments;
    ReadLocalEntries(box.local, &localFolders, &localDocuments);
    Step();
    progress_.SetPhase(VTPHASE_PREPARING);
    progress_.Signal();
    progress_.CheckCancel();

    // Everything that can refuse the box, before anything changes.
    std::vector<std::u16string> top = Names(deviceDocuments);
    if (DocumentsAfterRestore(top, localDocuments, replace_) > kMaxDocumentsPerLevel) {
        progress_.SetFolderName("");
        FailLimit(VTPHASE_TOO_MANY_DOCUMENTS);
    }
    std::vector<FolderMerge> merges;
    std::map<uint32_t, std::vector<std::u16string>> mergedNames;
    size_t newFolders = 0;
    for (const auto &lf : localFolders) {
        EntryList inside;
        ReadLocalEntries(Join(box.local, EntryName(lf.id, false)), nullptr, &inside);
        auto same = std::find_if(deviceFolders.begin(), deviceFolders.end(),
                                 [&](const BoxEntry &df) { return df.name == lf.name; });
        size_t after = inside.size();
        if (same != deviceFolders.end()) {
            merges.push_back({lf.id, same->id});
            auto names = mergedNames.find(same->id);
            if (names == mergedNames.end()) {
                EntryList deviceInside;
                Check(ReadDeviceEntries(session_, password_, number, same->id, nullptr, &deviceInside));
                names = mergedNames.emplace(same->id, Names(deviceInside)).first;
            }
            after = DocumentsAfterRestore(names->second, inside, replace_);
        } else {
            ++newFolders;
        }
        if (after > kMaxDocumentsPerLevel) {
            progress_.SetFolderName(vt::Utf16ToUtf8(lf.name));
            FailLimit(VTPHASE_TOO_MANY_DOCUMENTS);
        }
    }
    if (deviceFolders.size() + newFolders > kMaxFoldersPerBox) {
        progress_.SetFolderName("");
        FailLimit(VTPHASE_TOO_MANY_FOLDERS);
    }
    CheckDiskSpace(box);

    // The replaced top-level documents go as their replacements arrive.
    for (const auto &d : deviceDocuments) box.topDeviceIds.insert(d.id);
    ResolveDocumentClashes(box.local, 0, replace_, deviceDocuments, localDocuments, box.topReplaced,
                           NumbersInUse(box.remote, 'D'));
    for (const auto &m : merges) MergeFolder(box, m);

    progress_.SetPhase(VTPHASE_PREPARING);
    progress_.Signal();
    progress_.CheckCancel();
    RenumberNewFolders(box, deviceFolders, NumbersInUse(box.remote, 'F'));
    Step();
    progress_.Signal();
    progress_.CheckCancel();
}

void Restore::MergeFolder(BoxWork &box, const FolderMerge &merge) {
    uint32_t number = box.info.BoxNo;
    std::string localFolder = Join(box.local, EntryName(merge.localId, false));
    progress_.SetFolderName(ReadRecordNameUtf8(RecordFileName(localFolder)));
    progress_.SetPhase(VTPHASE_PREPARING);
    progress_.Signal();

    EntryList deviceDocuments, localDocuments, replaced;
    Check(ReadDeviceEntries(session_, password_, number, merge.deviceId, nullptr, &deviceDocuments));
    std::set<uint32_t> onDevice;
    for (const auto &d : deviceDocuments) onDevice.insert(d.id);
    ReadLocalEntries(localFolder, nullptr, &localDocuments);
    LevelWork level{merge.deviceId, Join(box.remote, EntryName(merge.deviceId, false)), localFolder};
    ResolveDocumentClashes(box.local, merge.localId, replace_, deviceDocuments, localDocuments, replaced,
                           NumbersInUse(level.remote, 'D'));
    // The device's list is read afresh here: a second backup folder of the same
    // name counts on from the first.
    if (deviceDocuments.size() + localDocuments.size() > kMaxDocumentsPerLevel) FailLimit(VTPHASE_TOO_MANY_DOCUMENTS);

    ReadLocalEntries(localFolder, nullptr, &localDocuments);
    progress_.SetPhase(VTPHASE_UPLOADING);
    progress_.Signal();
    SendDocuments(box, level, localDocuments, replaced, onDevice, false);
    progress_.SetFolderName("");
    progress_.SetPhase(VTPHASE_TIDYING);
    progress_.Signal();

    // Gone from the local tree, so that the new folders do not add it again.
    ::unlink(RecordFileName(localFolder).c_str());
    DeleteLocalTree(localFolder, box.local);
    Step();
    progress_.Signal();
    progress_.CheckCancel();
}

// New folders keep their numbers where the device has none of them (used:
// the numbers its files show in use); the others take the lowest numbers left.
void Restore::RenumberNewFolders(BoxWork &box, const EntryList &deviceFolders, std::set<uint32_t> used) {
    EntryList localFolders;
    ReadLocalEntries(box.local, &localFolders, nullptr);
    for (const auto &df : deviceFolders) used.insert(df.id);
    EntryList clashing;
    for (const auto &lf : localFolders) {
        if (lf.id != 0 && used.insert(lf.id).second) continue;
        clashing.push_back(lf);
    }
    progress_.CheckCancel();
    uint32_t j = 0;
    for (const auto &lf : clashing) {
        do {
            ++j;
        } while (used.count(j) != 0);
        if (j > kMaxEntryNumber) FailLimit(VTPHASE_TOO_MANY_FOLDERS);
        RenumberEntry(box.local, lf.id, 0, j);
    }
}

}  // namespace vtbox
