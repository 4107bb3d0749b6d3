// vtBoxRestore: writes chosen boxes of a backup file back into the device.
//
// The backup is unpacked into BOX in the work folder, one box at a time
// under BOX/DATA. A box the device lacks is made whole; a box it has is
// merged level by level. Everything that can refuse a box (the device's
// document and folder limits, its free space) is checked before anything of
// that box is sent, deleted or made.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <map>
#include <set>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "localfiles/local_file.hpp"
#include "localfiles/local_folder.hpp"
#include "restore/restore_job.hpp"
#include "session/report.hpp"
#include "session/result.hpp"
#include "store/layout.hpp"
#include "store/record_edit.hpp"
#include "store/record_file.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"
#include "vtplatform/text.hpp"

namespace vtbox {

namespace {

constexpr const char *kBoxBanner =
    "\n ################################# BOX ######################################\n";
constexpr uint32_t kReplaceMode = 1;

// The bytes of the regular files under folder, in KB rounded up (links are
// not followed).
uint64_t TreeKilobytes(const std::string &folder) {
    uint64_t bytes = 0;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code size_ec;
        if (it->is_regular_file(size_ec)) {
            uint64_t size = it->file_size(size_ec);
            if (!size_ec) bytes += size;
        }
    }
    return (bytes + 1023) / 1024;
}

}  // namespace

void Restore::Run() {
    job_.Start(session_);
    progress_.SetPhase(VTPHASE_UNPACKING);
    progress_.SetPercent(1);
    progress_.Signal();

    RemoveStaleWorkTree();
    // The description first: what the file may hold is measured by it.
    ReadDescription();
    progress_.SetPercent(2);
    progress_.CheckCancel();
    unpacker_.UnpackFile();
    progress_.SetPercent(4);
    progress_.SetPhase(VTPHASE_PREPARING);
    progress_.Signal();
    progress_.CheckCancel();
    progress_.SetPercent(5);
    progress_.Signal();
    progress_.CheckCancel();

    for (size_t i = 0; i < boxes_.size(); ++i) RestoreBox(i);

    progress_.CheckCancel();
    progress_.ClearNames();
    progress_.SetPhase(VTPHASE_TIDYING);
    progress_.SetPercent(99);
    progress_.Signal();
    DeleteLocalTree(box_root_, work_);
    description_.reset();
    job_.Finish();
}

void Restore::Fail(uint32_t code) noexcept {
    try {
        int32_t phase = progress_.record().Phase;
        job_.MarkFailed();
        ftp_.reset();
        unpacking_.Join();
        description_.reset();
        struct stat st;
        if (::lstat(box_root_.c_str(), &st) == 0) DeleteLocalTree(box_root_, work_);
        job_.StopKeepAlive();
        if (code == vt::code(vt::Code::DEVICE_LIMIT)) progress_.SetPhase(phase);
    } catch (...) {
        job_.StopKeepAlive();
    }
}

// A BOX left by a process that died mid-way would mix old entries into this
// restore.
void Restore::RemoveStaleWorkTree() {
    struct stat st;
    if (::lstat(box_root_.c_str(), &st) != 0) return;
    OutputDebugStringA("\n Removing an old BOX folder from the work folder \n");
    if (!S_ISDIR(st.st_mode)) {
        if (::unlink(box_root_.c_str()) != 0) Raise(vt::Win32FromErrno(errno));
        return;
    }
    Check(DeleteLocalTree(box_root_, work_));
}

void Restore::ReadDescription() {
    uint32_t count = 0;
    VTBOXBK *described = nullptr;
    void *handle = nullptr;
    uint32_t rc = vtBoxGetXMLInfo(backup_.c_str(), work_.c_str(), &info_, &count, &described, &handle);
    description_.reset(handle);
    Check(rc);
    unpacker_.Describe(described, count);
    int64_t docs_total = 0;
    for (uint32_t number : chosen_) {
        // Each box once, however often it is chosen or described.
        if (std::any_of(boxes_.begin(), boxes_.end(), [&](const VTBOXBK &b) { return b.BoxNo == number; }))
            continue;
        const VTBOXBK *found = nullptr;
        for (uint32_t i = 0; i < count && !found; ++i)
            if (described[i].BoxNo == number) found = &described[i];
        if (!found) Raise(vt::Code::INVALID_PARAMETER);
        boxes_.push_back(*found);
        total_ += uint64_t{found->NumOfFolders} + found->NumOfDocs + 2;
        docs_total += found->NumOfDocs;
    }
    progress_.record().DocsTotal = static_cast<int32_t>(std::min<int64_t>(docs_total, INT32_MAX));
}

void Restore::Step() {
    if (total_ == 0) return;
    uint64_t percent = (steps_ * 94 + 94) / total_ + 5;
    ++steps_;
    // Counts from the description may be short of what the box holds.
    progress_.SetPercent(static_cast<int32_t>(std::min<uint64_t>(percent, 99)));
}

void Restore::DocumentDone() {
    Step();
    progress_.SetDocName("");
    ++progress_.record().DocsDone;
    progress_.Signal();
}

void Restore::FailLimit(int32_t phase) {
    progress_.SetPhase(phase);
    std::string where = vt::Format("box %03u", current_box_);
    const char *folder = progress_.record().FolderName;
    if (folder[0] != '\0') where += vt::Format(", folder \"%s\"", folder);
    Raise(vt::Code::DEVICE_LIMIT,
          phase == VTPHASE_TOO_MANY_FOLDERS
              ? where + vt::Format(": more than %zu folders, or no folder number left", kMaxFoldersPerBox)
              : where + vt::Format(": more than %zu documents in one level", kMaxDocumentsPerLevel));
}

uint32_t Restore::UnpackBox(uint32_t number) {
    unpacker_.UnpackBox(number);
    StampDocumentTime(Join(tree_.boxFolder(number), FindInnerFolder(work_, number)), device_time_);
    return 0;
}

void Restore::RestoreBox(size_t index) {
    const VTBOXBK &info = boxes_[index];
    uint32_t number = info.BoxNo;
    current_box_ = number;
    OutputDebugStringA(kBoxBanner);
    progress_.CheckCancel();
    progress_.SetPhase(VTPHASE_UNPACKING);
    progress_.SetBoxName(std::string(info.BoxName, strnlen(info.BoxName, sizeof info.BoxName)));
    progress_.SetFolderName("");
    progress_.SetDocName("");
    progress_.Signal();

    if (unpacked_ahead_ == number && unpacking_.Running()) {
        unpacking_.Wait();
    } else {
        unpacking_.Wait();
        Check(UnpackBox(number));
    }
    unpacked_ahead_ = 0;
    progress_.SetPhase(VTPHASE_PREPARING);
    progress_.Signal();
    // The next box is unpacked while this one goes to the device.
    if (index + 1 < boxes_.size() && boxes_[index + 1].BoxNo != number) {
        unpacked_ahead_ = boxes_[index + 1].BoxNo;
        unpacking_.Start([this, next = unpacked_ahead_] { return UnpackBox(next); });
    }

    BoxWork box;
    box.info = info;
    std::string inner = FindInnerFolder(work_, number);
    box.local = Join(tree_.boxFolder(number), inner);
    box.remote = Join(DeviceBoxFolder(number), inner);
    progress_.CheckCancel();

    ftp_ = ConnectFtpClient(session_, ftp_user_, password_, info_.EngineVersion, cancel_);
    remote_levels_.clear();

    EntryList device_folders, device_documents;
    uint32_t rc = ReadDeviceEntries(session_, password_, number, 0, &device_folders, &device_documents);
    if (rc == vt::code(vt::Code::NOT_ON_DEVICE)) {
        ClearFailureDetail();  // no such box on the device: it is made whole
        CheckNewBox(box);
        MakeBox(box);
    } else {
        Check(rc);
        MergeBox(box, device_folders, device_documents);
    }
    UploadLevel(box);

    ftp_->Close();
    ftp_.reset();
    progress_.CheckCancel();
    DeleteLocalTree(tree_.boxFolder(number), work_);
    OutputDebugStringA(("\n " + std::string(80, '#') + "\n").c_str());
}

// A box made whole must fit the device's limits too (a backup file is not
// trusted to come from a device).
void Restore::CheckNewBox(BoxWork &box) {
    EntryList folders, documents;
    ReadLocalEntries(box.local, &folders, &documents);
    if (documents.size() > kMaxDocumentsPerLevel) FailLimit(VTPHASE_TOO_MANY_DOCUMENTS);
    if (folders.size() > kMaxFoldersPerBox) FailLimit(VTPHASE_TOO_MANY_FOLDERS);
    for (const auto &f : folders) {
        EntryList inside;
        ReadLocalEntries(Join(box.local, EntryName(f.id, false)), nullptr, &inside);
        if (inside.size() > kMaxDocumentsPerLevel) {
            progress_.SetFolderName(vt::Utf16ToUtf8(f.name));
            FailLimit(VTPHASE_TOO_MANY_DOCUMENTS);
        }
    }
    CheckDiskSpace(box);
}

void Restore::MakeBox(BoxWork &box) {
    uint32_t number = box.info.BoxNo;
    std::string box_folder = DeviceBoxFolder(number);
    ftp_->RemoveEntry(box_folder, true);
    ftp_->FtpCreateFolder(box_folder);
    ftp_->CreateEmptyFile(Join(box_folder, kCreateStatusFile));
    NoteRemote(box.remote, ftp_->FtpCreateFolder(box.remote) != 0);
    if (total_ != 0)
        progress_.SetPercent(static_cast<int32_t>(std::min<uint64_t>((steps_ * 94 + 94) / total_ + 5, 99)));
    progress_.SetPhase(VTPHASE_UPLOADING);
    progress_.Signal();

    std::string record = DeviceBoxRecord(number);
    ftp_->RemoveEntry(record, false);
    ftp_->PutFile(record, tree_.boxRecord(number));
    Check(vtBoxDirSerialClusterChange(session_, number, password_, 0, 0, 2, 1));
    ftp_->FtpReplaceStatusFile(box_folder);

    steps_ += 2;
    if (total_ != 0)
        progress_.SetPercent(static_cast<int32_t>(std::min<uint64_t>(steps_ * 94 / total_ + 5, 99)));
    progress_.Signal();
    progress_.CheckCancel();
}
void Restore::CheckDiskSpace(const BoxWork &box) {
    progress_.SetPhase(VTPHASE_PREPARING);
    progress_.Signal();
    progress_.CheckCancel();
    uint32_t capacity = 0, available = 0;
    uint32_t asked = vtBoxGetBoxDiskSpace(session_, password_, &capacity, &available);
    // A cancel that lands on the request is a cancel, not a full disk.
    if (asked == vt::code(vt::Code::CANCELLED)) Raise(asked, "cancelled while asking the device's free space");
    if (asked != 0) available = 0;
    // What the box really holds, unpacked, counts when the description says less.
    uint64_t need = std::max<uint64_t>(box.info.BoxUsedDisk, TreeKilobytes(tree_.boxFolder(box.info.BoxNo)));
    if (!(need < available)) {
        vt::DebugPrint("\n Box %03u needs %llu KB, the device has %u KB \n", box.info.BoxNo,
                       static_cast<unsigned long long>(need), available);
        Raise(vt::Code::NO_DEVICE_SPACE,
              asked != 0 ? vt::Format("box %03u needs %llu KB, and the device did not tell its free space (error %u)",
                                      box.info.BoxNo, static_cast<unsigned long long>(need), asked)
                         : vt::Format("box %03u needs %llu KB, the device has %u KB free", box.info.BoxNo,
                                      static_cast<unsigned long long>(need), available));
    }
}

// The box level's documents, then its folders with their documents.
void Restore::UploadLevel(BoxWork &box) {
    uint32_t number = box.info.BoxNo;
    progress_.SetPhase(VTPHASE_PREPARING);
    progress_.Signal();
    progress_.CheckCancel();

    EntryList folders, documents;
    ReadLocalEntries(box.local, &folders, &documents);
    progress_.SetPhase(VTPHASE_UPLOADING);
    progress_.Signal();
    SendDocuments(box, LevelWork{0, box.remote, box.local}, documents, box.top_replaced, box.top_device_ids,
                  false);
    ReadLocalEntries(box.local, &folders, nullptr);
    for (const auto &f : folders) {
        std::string name = EntryName(f.id, false);
        std::string local_folder = Join(box.local, name);
        std::string remote_folder = Join(box.remote, name);
        progress_.SetFolderName(ReadRecordNameUtf8(RecordFileName(local_folder)));
        progress_.Signal();
        MakeEntry(number, f.id, 0, remote_folder, local_folder);
        Step();
        progress_.Signal();

        EntryList inside;
        ReadLocalEntries(local_folder, nullptr, &inside);
        progress_.CheckCancel();
        for (const auto &d : inside) {
            std::string doc = EntryName(d.id, true);
            MakeEntry(number, f.id, d.id, Join(remote_folder, doc), Join(local_folder, doc), true);
            DocumentDone();
        }
        progress_.SetFolderName("");
    }
}

// One entry on the device: its folder marked as being written, the service
// told, the record sent, a document's pages sent, then marked complete. A
// folder or record left on the device under the entry's name is removed
// first; where the device surely has none, nothing is sent for it.
void Restore::MakeEntry(uint32_t box, uint32_t folder, uint32_t document, const std::string &remote,
                        const std::string &local, bool cancel_before_upload) {
    bool is_document = document != 0;
    const std::string record = RecordFileName(remote);
    if (RemoteMayHave(remote)) ftp_->RemoveEntry(remote, true);
    NoteRemote(remote, ftp_->FtpCreateFolder(remote) != 0);
    ftp_->CreateEmptyFile(Join(remote, kCreateStatusFile));
    Check(vtBoxDirSerialClusterChange(session_, box, password_, folder, document,
                                      is_document ? 0 : 2, is_document ? 0 : 1));
    if (RemoteMayHave(record)) ftp_->RemoveEntry(record, false);
    ftp_->PutFile(record, RecordFileName(local));
    NoteRemote(record, false);
    if (is_document) {
        progress_.SetDocName(ReadRecordNameUtf8(RecordFileName(local)));
        progress_.Signal();
        if (cancel_before_upload) progress_.CheckCancel();
        ftp_->UploadFolderByFTP(local, remote);
    }
    ftp_->FtpReplaceStatusFile(remote);
}

bool Restore::RemoteMayHave(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return true;
    const std::string level = path.substr(0, slash);
    auto known = remote_levels_.find(level);
    if (known == remote_levels_.end()) {
        // One listing of the level instead of a removal for every entry.
        FindList folders, files;
        try {
            ftp_->FtpListDirectory(level, &folders, &files);
        } catch (const BoxError &) {
            ClearFailureDetail();  // not known, then: every removal is sent
            return true;
        }
        std::set<std::string> names;
        for (const auto &f : folders) names.insert(f.cFileName);
        for (const auto &f : files) names.insert(f.cFileName);
        known = remote_levels_.emplace(level, std::move(names)).first;
    }
    return known->second.count(path.substr(slash + 1)) != 0;
}

void Restore::NoteRemote(const std::string &path, bool fresh_level) {
    size_t slash = path.rfind('/');
    if (slash != std::string::npos) {
        auto known = remote_levels_.find(path.substr(0, slash));
        if (known != remote_levels_.end()) known->second.insert(path.substr(slash + 1));
    }
    // A folder that could not be made was there already: its content is not known.
    if (fresh_level) remote_levels_[path].clear();
    else remote_levels_.erase(path);
}

namespace {

// True when every chosen box is one the backup file describes, or when the
// description cannot be read here (the restore then fails on it in order).
bool BoxesAreDescribed(const char *backup_file, const char *work_folder, uint32_t box_count,
                       const uint32_t *box_numbers) {
    VTBACKUPINFO info{};
    uint32_t count = 0;
    VTBOXBK *boxes = nullptr;
    void *handle = nullptr;
    if (vtBoxGetXMLInfo(backup_file, work_folder, &info, &count, &boxes, &handle) != 0) return true;
    GlobalBlock owner(handle);
    for (uint32_t i = 0; i < box_count; ++i) {
        bool found = false;
        for (uint32_t j = 0; j < count && !found; ++j) found = boxes[j].BoxNo == box_numbers[i];
        if (!found) {
            vt::DebugPrint("\n Box %03u is not in the backup file \n", box_numbers[i]);
            NoteFailure(vt::code(vt::Code::INVALID_PARAMETER),
                        vt::Format("box %03u is not in %s", box_numbers[i], backup_file));
            return false;
        }
    }
    return true;
}

}  // namespace
}  // namespace vtbox

using namespace vtbox;

extern "C" uint32_t vtBoxRestore(VTMFPSESSION *session, const char *password, const char *ftp_user,
                                 const char *work_folder, const char *backup_file,
                                 uint32_t box_count, const uint32_t *box_numbers, uint32_t mode,
                                 uint32_t device_time, HANDLE cancel_event, HANDLE progress_event,
                                 VTPROGRESSINFO *progress) {
    bool valid = SessionIsOpen(session) && password && ftp_user && work_folder && *work_folder &&
                 backup_file && *backup_file && progress && (box_count == 0 || box_numbers);
    std::unique_ptr<Restore> job;
    bool started = false;  // a box the file does not describe is refused like an argument
    return RunExport(
        kRestoreExport, valid,
        [&] {
            if (!BoxesAreDescribed(backup_file, work_folder, box_count, box_numbers))
                Raise(vt::Code::INVALID_PARAMETER);
            started = true;
            job = std::make_unique<Restore>(
                session, password, ftp_user, FullPath(work_folder), FullPath(backup_file),
                std::vector<uint32_t>(box_numbers, box_numbers + box_count), mode == kReplaceMode, device_time,
                cancel_event, progress_event, progress);
            job->Run();
        },
        [&](uint32_t rc) noexcept {
            if (job) {
                job->Fail(rc);
            } else if (started) {
                progress->Phase = VTPHASE_FAILED;
                if (progress_event) SetEvent(progress_event);
            }
        });
}
