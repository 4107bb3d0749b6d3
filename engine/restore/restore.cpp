// vtBoxRestore: writes chosen boxes of a backup file back into the device;
// vtBoxRestoreSelection: the same for chosen folders and documents of them.
//
// The backup is unpacked into BOX in the work folder, one box at a time
// under BOX/DATA. A box the device lacks is made whole; a box it has is
// merged level by level. Of a box chosen in part, only the chosen part is
// unpacked (browse/selection.hpp), and everything after works on that part
// alone, with the same rules: it is a box restore of a smaller box.
// Everything that can refuse a box (the device's document and folder limits,
// its free space) is checked before anything of that box is sent, deleted or
// made.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
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

constexpr const char *kBoxBanner = "\n ################################# BOX ######################################\n";
constexpr uint32_t kReplaceMode = 1;

}  // namespace

void Restore::Run() {
    job_.Start(session_);
    progress_.SetPhase(VTPHASE_UNPACKING);
    progress_.SetPercent(1);
    progress_.Signal();

    MakeWorkTree();
    // The description first: what the file may hold is measured by it.
    ReadDescription();
    progress_.SetPercent(2);
    progress_.CheckCancel();
    unpacker_.UnpackFile();
    progress_.SetPercent(4);
    progress_.SetPhase(VTPHASE_PREPARING);
    progress_.Signal();
    progress_.CheckCancel();
    UnpackChosenParts();
    CheckLaterBoxes();
    progress_.SetPercent(5);
    progress_.Signal();
    progress_.CheckCancel();

    for (size_t i = 0; i < boxes_.size(); ++i) RestoreBox(i);

    progress_.CheckCancel();
    progress_.ClearNames();
    progress_.SetPhase(VTPHASE_TIDYING);
    progress_.SetPercent(99);
    progress_.Signal();
    DeleteLocalTree(boxRoot_, work_);
    job_.Finish();
}

void Restore::Fail(uint32_t code) noexcept {
    try {
        int32_t phase = progress_.record().Phase;
        job_.MarkFailed();
        senders_.reset();
        ftp_.reset();
        unpacking_.Join();
        if (madeBox_) DeleteLocalTree(boxRoot_, work_);
        job_.StopKeepAlive();
        if (code == vt::code(vt::Code::DEVICE_LIMIT)) progress_.SetPhase(phase);
    } catch (...) {
        job_.StopKeepAlive();
    }
}

// BOX is made new: a BOX already in the work folder is the caller's (or a
// link to what is), and is left as it was.
void Restore::MakeWorkTree() {
    if (::mkdir(boxRoot_.c_str(), 0777) != 0) {
        const int error = errno;
        Raise(vt::Win32FromErrno(error),
              error == EEXIST ? "cannot make the folder " + boxRoot_ + ": it is there already, and is left as it was"
                              : "cannot make the folder " + boxRoot_);
    }
    madeBox_ = true;
}

void Restore::ReadDescription() {
    info_ = unpacker_.ReadDescription(work_);
    const std::vector<VTBOXBK> &described = unpacker_.described();
    // Each box once, however often it is chosen or described.
    for (uint32_t number : selection_.boxes()) {
        const VTBOXBK *found = nullptr;
        for (size_t i = 0; i < described.size() && !found; ++i)
            if (described[i].BoxNo == number) found = &described[i];
        if (!found) Raise(vt::Code::INVALID_PARAMETER);
        boxes_.push_back(*found);
        // A box chosen in part counts what is chosen once it is unpacked.
        if (!selection_.of(number).whole) continue;
        total_ += uint64_t{found->NumOfFolders} + found->NumOfDocs + 2;
        docsTotal_ += found->NumOfDocs;
    }
    progress_.record().DocsTotal = static_cast<int32_t>(std::min<int64_t>(docsTotal_, INT32_MAX));
}

// The chosen parts of boxes are unpacked before anything is sent, so that a
// chosen folder or document that the file lacks refuses the restore while
// the device is as it was.
void Restore::UnpackChosenParts() {
    for (const VTBOXBK &box : boxes_) {
        const uint32_t number = box.BoxNo;
        if (selection_.of(number).whole) continue;
        progress_.CheckCancel();
        Check(UnpackBox(number));
        unpackedFirst_.insert(number);
        const std::string level = Join(tree_.boxFolder(number), FindInnerFolder(work_, number));
        EntryList folders, documents;
        ReadLocalEntries(level, &folders, &documents);
        uint64_t chosen = documents.size();
        for (const auto &f : folders) {
            EntryList inside;
            ReadLocalEntries(Join(level, EntryName(f.id, false)), nullptr, &inside);
            chosen += inside.size();
        }
        total_ += folders.size() + chosen + 2;
        docsTotal_ += static_cast<int64_t>(chosen);
    }
    progress_.record().DocsTotal = static_cast<int32_t>(std::min<int64_t>(docsTotal_, INT32_MAX));
}

// Every box is judged before anything is sent: a box that the file holds
// damaged refuses the restore while the device is as it was, as verify and
// the dry run refuse the file. The first box is judged as it is unpacked,
// before anything of it goes, and a chosen part was unpacked already; the
// others are read here, one archive at a time, and unpacked again in turn.
void Restore::CheckLaterBoxes() {
    for (size_t i = 1; i < boxes_.size(); ++i) {
        const uint32_t number = boxes_[i].BoxNo;
        if (unpackedFirst_.count(number) || number == boxes_[0].BoxNo) continue;
        progress_.CheckCancel();
        unpacker_.CheckBox(number);
    }
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
    std::string where = vt::Format("box %03u", currentBox_);
    const char *folder = progress_.record().FolderName;
    if (folder[0] != '\0') where += vt::Format(", folder \"%s\"", folder);
    Raise(vt::Code::DEVICE_LIMIT,
          phase == VTPHASE_TOO_MANY_FOLDERS
              ? where + vt::Format(": more than %zu folders, or no folder number left", kMaxFoldersPerBox)
              : where + vt::Format(": more than %zu documents in one level", kMaxDocumentsPerLevel));
}

uint32_t Restore::UnpackBox(uint32_t number) {
    const BoxSelection &chosen = selection_.of(number);
    if (chosen.whole) {
        unpacker_.UnpackBox(number);
    } else {
        SelectionFilter filter(number, chosen);
        unpacker_.UnpackBox(number, &filter);
    }
    StampDocumentTime(Join(tree_.boxFolder(number), FindInnerFolder(work_, number)), deviceTime_);
    return 0;
}

void Restore::RestoreBox(size_t index) {
    const VTBOXBK &info = boxes_[index];
    uint32_t number = info.BoxNo;
    currentBox_ = number;
    OutputDebugStringA(kBoxBanner);
    progress_.CheckCancel();
    progress_.SetPhase(VTPHASE_UNPACKING);
    progress_.SetBoxName(std::string(info.BoxName, strnlen(info.BoxName, sizeof info.BoxName)));
    progress_.SetFolderName("");
    progress_.SetDocName("");
    progress_.Signal();

    if (unpackedFirst_.count(number) || (unpackedAhead_ == number && unpacking_.Running())) {
        unpacking_.Wait();
    } else {
        unpacking_.Wait();
        Check(UnpackBox(number));
    }
    unpackedAhead_ = 0;
    progress_.SetPhase(VTPHASE_PREPARING);
    progress_.Signal();
    // The next box is unpacked while this one goes to the device.
    if (index + 1 < boxes_.size() && boxes_[index + 1].BoxNo != number &&
        !unpackedFirst_.count(boxes_[index + 1].BoxNo)) {
        unpackedAhead_ = boxes_[index + 1].BoxNo;
        unpacking_.Start([this, next = unpackedAhead_] { return UnpackBox(next); });
    }

    BoxWork box;
    box.info = info;
    box.partial = !selection_.of(number).whole;
    std::string inner = FindInnerFolder(work_, number);
    box.local = Join(tree_.boxFolder(number), inner);
    box.remote = Join(DeviceBoxFolder(number), inner);
    progress_.CheckCancel();

    ftp_ = ConnectFtpClient(session_, ftpUser_, password_, info_.EngineVersion, cancel_);
    remoteLevels_.clear();

    EntryList deviceFolders, deviceDocuments;
    uint32_t rc = ReadDeviceEntries(session_, password_, number, 0, &deviceFolders, &deviceDocuments);
    if (rc == vt::code(vt::Code::NOT_ON_DEVICE)) {
        ClearFailureDetail();  // no such box on the device: it is made whole
        CheckNewBox(box);
        MakeBox(box);
    } else {
        Check(rc);
        MergeBox(box, deviceFolders, deviceDocuments);
    }
    UploadLevel(box);

    senders_.reset();
    sendersAsked_ = false;
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
    std::string boxFolder = DeviceBoxFolder(number);
    ftp_->RemoveEntry(boxFolder, true);
    ftp_->FtpCreateFolder(boxFolder);
    ftp_->CreateEmptyFile(Join(boxFolder, kCreateStatusFile));
    NoteRemote(box.remote, ftp_->FtpCreateFolder(box.remote) != 0);
    if (total_ != 0)
        progress_.SetPercent(static_cast<int32_t>(std::min<uint64_t>((steps_ * 94 + 94) / total_ + 5, 99)));
    progress_.SetPhase(VTPHASE_UPLOADING);
    progress_.Signal();

    std::string record = DeviceBoxRecord(number);
    ftp_->RemoveEntry(record, false);
    ftp_->PutFile(record, tree_.boxRecord(number));
    Check(vtBoxDirSerialClusterChange(session_, number, password_, 0, 0, 2, 1));
    ftp_->FtpReplaceStatusFile(boxFolder);

    steps_ += 2;
    if (total_ != 0) progress_.SetPercent(static_cast<int32_t>(std::min<uint64_t>(steps_ * 94 / total_ + 5, 99)));
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
    const uint64_t need = SpaceABoxNeeds(box.info, box.partial, TreeKilobytes(tree_.boxFolder(box.info.BoxNo)));
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
    SendDocuments(box, LevelWork{0, box.remote, box.local}, documents, box.topReplaced, box.topDeviceIds, false);
    ReadLocalEntries(box.local, &folders, nullptr);
    // The new folders are made first, with nothing in flight, and their
    // documents then go as one stream: no connection waits for the last
    // documents of each folder before the next folder is made.
    for (const auto &f : folders) {
        std::string name = EntryName(f.id, false);
        std::string localFolder = Join(box.local, name);
        std::string remoteFolder = Join(box.remote, name);
        progress_.SetFolderName(ReadRecordNameUtf8(RecordFileName(localFolder)));
        progress_.Signal();
        MakeEntry(number, f.id, 0, remoteFolder, localFolder);
        KnowLevel(remoteFolder);
        Step();
        progress_.Signal();
    }
    try {
        for (const auto &f : folders) {
            std::string name = EntryName(f.id, false);
            std::string localFolder = Join(box.local, name);
            progress_.SetFolderName(ReadRecordNameUtf8(RecordFileName(localFolder)));
            progress_.Signal();
            EntryList inside;
            ReadLocalEntries(localFolder, nullptr, &inside);
            progress_.CheckCancel();
            SendDocuments(box, LevelWork{f.id, Join(box.remote, name), localFolder}, inside, {}, {}, true, true);
        }
    } catch (...) {
        senders_.reset();  // nothing more is begun
        throw;
    }
    FinishDocuments(nullptr);
    progress_.SetFolderName("");
}

// One entry on the device: its folder marked as being written, the service
// told, the record sent, a document's pages sent, then marked complete. The
// entry's number is one the device does not use: nothing is ever made over,
// or removed for, what the device has under that number, listed or not.
void Restore::MakeEntry(uint32_t box, uint32_t folder, uint32_t document, const std::string &remote,
                        const std::string &local, bool cancelBeforeUpload) {
    if (document != 0) {
        DocumentSend sent = PrepareDocument(box, folder, document, remote, local, cancelBeforeUpload);
        SendSteps(*ftp_, sent);
        return;
    }
    const std::string record = RecordFileName(remote);
    if (RemoteMayHave(remote) || RemoteMayHave(record))
        Raise(vt::Code::INTERNAL_ERROR, remote + ": the number is taken on the device, or its level cannot be listed");
    NoteRemote(remote, ftp_->FtpCreateFolder(remote) != 0);
    ftp_->CreateEmptyFile(Join(remote, kCreateStatusFile));
    Check(vtBoxDirSerialClusterChange(session_, box, password_, folder, 0, 2, 1));
    ftp_->PutFile(record, RecordFileName(local));
    NoteRemote(record, false);
    ftp_->FtpReplaceStatusFile(remote);
}

DocumentSend Restore::PrepareDocument(uint32_t box, uint32_t folder, uint32_t number, const std::string &remote,
                                      const std::string &local, bool cancelBeforeUpload) {
    const std::string record = RecordFileName(remote);
    if (RemoteMayHave(remote) || RemoteMayHave(record))
        Raise(vt::Code::INTERNAL_ERROR, remote + ": the number is taken on the device, or its level cannot be listed");
    // Taken from now on, whichever connection makes it; what the document's
    // folder holds is not known here.
    NoteRemote(remote, false);
    NoteRemote(record, false);
    progress_.SetDocName(ReadRecordNameUtf8(RecordFileName(local)));
    progress_.Signal();
    DocumentSend sent;
    sent.box = box;
    sent.folder = folder;
    sent.number = number;
    sent.remote = remote;
    sent.local = local;
    sent.cancelBeforeUpload = cancelBeforeUpload;
    return sent;
}

void Restore::SendSteps(BoxFtpClient &ftp, DocumentSend &document) const {
    // Each step counts once it is done, so that a document refused a data
    // connection part-way goes on elsewhere from the step refused.
    enum : uint32_t { kFolder, kCreateStatus, kServiceTold, kRecord, kPages, kUnlocked };
    const std::string &remote = document.remote;
    if (document.done == kFolder) {
        ftp.CheckCancel();
        ftp.FtpCreateFolder(remote);
        document.done = kCreateStatus;
    }
    if (document.done == kCreateStatus) {
        ftp.CreateEmptyFile(Join(remote, kCreateStatusFile));
        document.done = kServiceTold;
    }
    if (document.done == kServiceTold) {
        Check(vtBoxDirSerialClusterChange(session_, document.box, password_, document.folder, document.number, 0, 0));
        document.done = kRecord;
    }
    if (document.done == kRecord) {
        ftp.PutFile(RecordFileName(remote), RecordFileName(document.local));
        document.done = kPages;
    }
    if (document.done == kPages) {
        if (document.cancelBeforeUpload) ftp.CheckCancel();
        ftp.UploadFolderByFTP(document.local, remote);
        document.done = kUnlocked;
    }
    if (document.done == kUnlocked) {
        ftp.FtpReplaceStatusFile(remote);
        document.done = kUnlocked + 1;
    }
    // Complete: the device's documents it replaces go.
    for (size_t i = document.done - (kUnlocked + 1); i < document.replaced.size(); ++i) {
        DeleteDocument(document.box, document.folder, document.replaced[i]);
        ++document.done;
    }
}

const std::set<std::string> &Restore::RemoteNames(const std::string &level) {
    auto known = remoteLevels_.find(level);
    if (known == remoteLevels_.end()) {
        FindList folders, files;
        ftp_->FtpListDirectory(level, &folders, &files);
        std::set<std::string> names;
        for (const auto &f : folders) names.insert(f.cFileName);
        for (const auto &f : files) names.insert(f.cFileName);
        known = remoteLevels_.emplace(level, std::move(names)).first;
    }
    return known->second;
}

void Restore::KnowLevel(const std::string &level) {
    try {
        RemoteNames(level);
    } catch (const BoxError &) {
        ClearFailureDetail();  // asked again, and refused, by the first entry made in it
    }
}

bool Restore::RemoteMayHave(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return true;
    try {
        // One listing of the level instead of a look for every entry.
        return RemoteNames(path.substr(0, slash)).count(path.substr(slash + 1)) != 0;
    } catch (const BoxError &) {
        ClearFailureDetail();  // not known, then
        return true;
    }
}

std::set<uint32_t> Restore::NumbersInUse(const std::string &level, char letter) {
    std::set<uint32_t> numbers;
    for (const std::string &name : RemoteNames(level)) {
        int n = EntryNumberFromRecordName(name, letter);
        if (n < 0) n = EntryNumberFromRecordName(name + kRecordExtension, letter);
        if (n > 0) numbers.insert(static_cast<uint32_t>(n));
    }
    return numbers;
}

void Restore::NoteRemote(const std::string &path, bool freshLevel) {
    size_t slash = path.rfind('/');
    if (slash != std::string::npos) {
        auto known = remoteLevels_.find(path.substr(0, slash));
        if (known != remoteLevels_.end()) known->second.insert(path.substr(slash + 1));
    }
    // A folder that could not be made was there already: its content is not known.
    if (freshLevel)
        remoteLevels_[path].clear();
    else
        remoteLevels_.erase(path);
}

namespace {

// True when every chosen box is one the backup file describes, or when the
// description cannot be read here (the restore then fails on it in order).
bool BoxesAreDescribed(const char *backupFile, const char *workFolder, const std::vector<uint32_t> &chosen) {
    VTBACKUPINFO info{};
    uint32_t count = 0;
    VTBOXBK *boxes = nullptr;
    void *handle = nullptr;
    if (vtBoxGetXMLInfo(backupFile, workFolder, &info, &count, &boxes, &handle) != 0) return true;
    GlobalBlock owner(handle);
    for (uint32_t number : chosen) {
        bool found = false;
        for (uint32_t j = 0; j < count && !found; ++j) found = boxes[j].BoxNo == number;
        if (!found) {
            vt::DebugPrint("\n Box %03u is not in the backup file \n", number);
            NoteFailure(vt::code(vt::Code::INVALID_PARAMETER), vt::Format("box %03u is not in %s", number, backupFile));
            return false;
        }
    }
    return true;
}

}  // namespace
}  // namespace vtbox

using namespace vtbox;

namespace {

// The restore of a selection, framed as an export.
uint32_t RunRestore(const char *name, bool valid, VTMFPSESSION *session, const char *password, const char *ftpUser,
                    const char *workFolder, const char *backupFile, const std::function<Selection()> &choose,
                    uint32_t mode, uint32_t deviceTime, HANDLE cancelEvent, HANDLE progressEvent,
                    VTPROGRESSINFO *progress) {
    std::unique_ptr<Restore> job;
    bool started = false;  // a box the file does not describe is refused like an argument
    return RunExport(
        name, valid,
        [&] {
            Selection selection = choose();
            if (!BoxesAreDescribed(backupFile, workFolder, selection.boxes())) Raise(vt::Code::INVALID_PARAMETER);
            started = true;
            job = std::make_unique<Restore>(session, password, ftpUser, FullPath(workFolder), FullPath(backupFile),
                                            std::move(selection), mode == kReplaceMode, deviceTime, cancelEvent,
                                            progressEvent, progress);
            job->Run();
        },
        [&](uint32_t rc) noexcept {
            if (job) {
                job->Fail(rc);
            } else if (started) {
                progress->Phase = VTPHASE_FAILED;
                if (progressEvent) SetEvent(progressEvent);
            }
        });
}

}  // namespace

extern "C" uint32_t vtBoxRestore(VTMFPSESSION *session, const char *password, const char *ftpUser,
                                 const char *workFolder, const char *backupFile, uint32_t boxCount,
                                 const uint32_t *boxNumbers, uint32_t mode, uint32_t deviceTime, HANDLE cancelEvent,
                                 HANDLE progressEvent, VTPROGRESSINFO *progress) {
    bool valid = SessionIsOpen(session) && password && ftpUser && workFolder && *workFolder && backupFile &&
                 *backupFile && progress && (boxCount == 0 || boxNumbers);
    return RunRestore(
        kRestoreExport, valid, session, password, ftpUser, workFolder, backupFile,
        [&] { return Selection::WholeBoxes(boxNumbers, boxCount); }, mode, deviceTime, cancelEvent, progressEvent,
        progress);
}

extern "C" uint32_t vtBoxRestoreSelection(VTMFPSESSION *session, const char *password, const char *ftpUser,
                                          const char *workFolder, const char *backupFile, uint32_t itemCount,
                                          const VTBACKUPITEM *items, uint32_t mode, uint32_t deviceTime,
                                          HANDLE cancelEvent, HANDLE progressEvent, VTPROGRESSINFO *progress) {
    bool valid = SessionIsOpen(session) && password && ftpUser && workFolder && *workFolder && backupFile &&
                 *backupFile && progress && itemCount > 0 && items;
    return RunRestore(
        "vtBoxRestoreSelection", valid, session, password, ftpUser, workFolder, backupFile,
        [&] { return Selection::FromItems(items, itemCount); }, mode, deviceTime, cancelEvent, progressEvent, progress);
}
