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

void Restore::MergeBox(BoxWork &box, EntryList &device_folders, EntryList &device_documents) {
    uint32_t number = box.info.BoxNo;
    std::string device_inner;
    if (ftp_->GetBoxInnerFolderName(number, &device_inner))
        box.remote = Join(DeviceBoxFolder(number), device_inner);

    EntryList local_folders, local_documents;
    ReadLocalEntries(box.local, &local_folders, &local_documents);
    Step();
    progress_.SetPhase(VTPHASE_PREPARING);
    progress_.Signal();
    progress_.CheckCancel();

    // Everything that can refuse the box, before anything changes.
    std::vector<std::u16string> top = Names(device_documents);
    if (DocumentsAfterRestore(top, local_documents, replace_) > kMaxDocumentsPerLevel) {
        progress_.SetFolderName("");
        FailLimit(VTPHASE_TOO_MANY_DOCUMENTS);
    }
    std::vector<FolderMerge> merges;
    std::map<uint32_t, std::vector<std::u16string>> merged_names;
    size_t new_folders = 0;
    for (const auto &lf : local_folders) {
        EntryList inside;
        ReadLocalEntries(Join(box.local, EntryName(lf.id, false)), nullptr, &inside);
        auto same = std::find_if(device_folders.begin(), device_folders.end(),
                                 [&](const BoxEntry &df) { return df.name == lf.name; });
        size_t after = inside.size();
        if (same != device_folders.end()) {
            merges.push_back({lf.id, same->id});
            auto names = merged_names.find(same->id);
            if (names == merged_names.end()) {
                EntryList device_inside;
                Check(ReadDeviceEntries(session_, password_, number, same->id, nullptr, &device_inside));
                names = merged_names.emplace(same->id, Names(device_inside)).first;
            }
            after = DocumentsAfterRestore(names->second, inside, replace_);
        } else {
            ++new_folders;
        }
        if (after > kMaxDocumentsPerLevel) {
            progress_.SetFolderName(vt::Utf16ToUtf8(lf.name));
            FailLimit(VTPHASE_TOO_MANY_DOCUMENTS);
        }
    }
    if (device_folders.size() + new_folders > kMaxFoldersPerBox) {
        progress_.SetFolderName("");
        FailLimit(VTPHASE_TOO_MANY_FOLDERS);
    }
    CheckDiskSpace(box);

    // The replaced top-level documents go as their replacements arrive.
    for (const auto &d : device_documents) box.top_device_ids.insert(d.id);
    ResolveDocumentClashes(box.local, 0, replace_, device_documents, local_documents, box.top_replaced);
    for (const auto &m : merges) MergeFolder(box, m);

    progress_.SetPhase(VTPHASE_PREPARING);
    progress_.Signal();
    progress_.CheckCancel();
    RenumberNewFolders(box, device_folders);
    Step();
    progress_.Signal();
    progress_.CheckCancel();
}

void Restore::MergeFolder(BoxWork &box, const FolderMerge &merge) {
    uint32_t number = box.info.BoxNo;
    std::string local_folder = Join(box.local, EntryName(merge.local_id, false));
    progress_.SetFolderName(ReadRecordNameUtf8(RecordFileName(local_folder)));
    progress_.SetPhase(VTPHASE_PREPARING);
    progress_.Signal();

    EntryList device_documents, local_documents, replaced;
    Check(ReadDeviceEntries(session_, password_, number, merge.device_id, nullptr, &device_documents));
    std::set<uint32_t> on_device;
    for (const auto &d : device_documents) on_device.insert(d.id);
    ReadLocalEntries(local_folder, nullptr, &local_documents);
    ResolveDocumentClashes(box.local, merge.local_id, replace_, device_documents, local_documents,
                           replaced);
    // The device's list is read afresh here: a second backup folder of the same
    // name counts on from the first.
    if (device_documents.size() + local_documents.size() > kMaxDocumentsPerLevel)
        FailLimit(VTPHASE_TOO_MANY_DOCUMENTS);

    ReadLocalEntries(local_folder, nullptr, &local_documents);
    progress_.SetPhase(VTPHASE_UPLOADING);
    progress_.Signal();
    LevelWork level{merge.device_id, Join(box.remote, EntryName(merge.device_id, false)),
                    local_folder};
    SendDocuments(box, level, local_documents, replaced, on_device, false);
    progress_.SetFolderName("");
    progress_.SetPhase(VTPHASE_TIDYING);
    progress_.Signal();

    // Gone from the local tree, so that the new folders do not add it again.
    ::unlink(RecordFileName(local_folder).c_str());
    DeleteLocalTree(local_folder, box.local);
    Step();
    progress_.Signal();
    progress_.CheckCancel();
}

// New folders keep their numbers where the device has none of them; the
// others take the lowest numbers left.
void Restore::RenumberNewFolders(BoxWork &box, const EntryList &device_folders) {
    EntryList local_folders;
    ReadLocalEntries(box.local, &local_folders, nullptr);
    std::set<uint32_t> used;
    for (const auto &df : device_folders) used.insert(df.id);
    EntryList clashing;
    for (const auto &lf : local_folders) {
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
