#include "job_thread.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>

#include "device_session.hpp"
#include "language.hpp"
#include "status_line.hpp"
#include "text_ids.hpp"
#include "vthandles.hpp"
#include "vtplatform/errors.hpp"

namespace vtutil {

namespace {

constexpr unsigned long kSleepBeforeWaitMs = 100;
constexpr DWORD kStatusWaitMs = 5000;
constexpr const char *kTempFolderName = ".$__B_R_Temp__$";
constexpr int kTempFolderTries = 1000;
// The phase whose first line stays empty.
constexpr int32_t kBlankPhase = 6;

using Event = vt::OwnedHandle;

QString FieldText(const char *field, size_t size) {
    return QString::fromUtf8(field, static_cast<qsizetype>(strnlen(field, size)));
}

uint32_t MillisecondTicks() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string ParentFolder(const std::string &path) { return std::filesystem::path(path).parent_path().string(); }

}  // namespace

bool RemoveJobTempFolder(const std::string &path) {
    namespace fs = std::filesystem;
    if (path.empty()) return false;
    if (::chdir(ParentFolder(path).c_str()) != 0) ::chdir("/");
    std::error_code ec;
    const fs::path rescue = fs::path(path) / VTBOX_RESCUE_FOLDER, backup = fs::path(path) / VTBOX_KEPT_BACKUP;
    const bool keepRescue = fs::is_directory(fs::symlink_status(rescue, ec)) && !fs::is_empty(rescue, ec);
    const bool keepBackup = fs::is_regular_file(fs::symlink_status(backup, ec));
    if (!keepRescue && !keepBackup) {
        fs::remove_all(path, ec);
        return false;
    }
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(it->path());
    for (const fs::path &entry : entries)
        if (!(keepRescue && entry == rescue) && !(keepBackup && entry == backup)) fs::remove_all(entry, ec);
    return true;
}

uint32_t MakeJobTempFolder(const std::string &folder, std::string *path) {
    std::string base = folder;
    if (base.empty() || base.back() != '/') base += '/';
    const uint32_t ticks = MillisecondTicks();
    for (int i = 0; i < kTempFolderTries; ++i) {
        std::string candidate = base + kTempFolderName + std::to_string(ticks + static_cast<uint32_t>(i));
        if (::mkdir(candidate.c_str(), 0700) == 0) {
            *path = std::move(candidate);
            return 0;
        }
        if (errno != EEXIST) return vt::Win32FromErrno(errno);
    }
    return vt::Win32FromErrno(EEXIST);
}

void JobGate::Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
}

void JobGate::Open() {
    {
        std::lock_guard lock(mutex_);
        closed_ = false;
    }
    opened_.notify_all();
}

void JobGate::Pass() {
    std::unique_lock lock(mutex_);
    opened_.wait(lock, [this] { return !closed_; });
}

CJobThread::CJobThread(DeviceSession &session, JobRequest request, HANDLE waitForThread)
    : session_(session), request_(std::move(request)), waitForThread_(waitForThread) {
    const std::pair<int32_t, uint32_t> phases[] = {
        {VTPHASE_PACKING, ids::kPhasePacking},         {VTPHASE_UNPACKING, ids::kPhaseUnpacking},
        {VTPHASE_DOWNLOADING, ids::kPhaseDownloading}, {VTPHASE_UPLOADING, ids::kPhaseUploading},
        {VTPHASE_PREPARING, ids::kPhasePreparing},     {VTPHASE_TIDYING, ids::kPhaseTidying},
        {VTPHASE_FAILED, ids::kPhaseFailed},
    };
    for (const auto &[phase, id] : phases) phaseTexts_[phase] = Text(id);
    phaseTexts_[kBlankPhase] = QString();
    documentsLabel_ = Text(ids::kDocumentsLine);
}

CJobThread::~CJobThread() { wait(); }

void CJobThread::Fail(JobOutcome &outcome, uint32_t code) {
    outcome.state = kJobFailed;
    outcome.result = code;
}

void CJobThread::NoteEngineFailure(JobOutcome &outcome, uint32_t code) {
    outcome.result = code;
    // The engine keeps the detail per thread: read here, on the thread of
    // the call that failed, before the next call replaces it.
    outcome.detail = QString::fromUtf8(vtBoxGetLastErrorText());
}

void CJobThread::run() {
    JobOutcome outcome;
    emit ProgressReset(kProgressRange, kProgressStep);

    Event status(CreateEventA(nullptr, FALSE, FALSE, "Status"));
    // Manual reset: every place in the engine that polls it sees the cancel.
    Event cancel(CreateEventA(nullptr, TRUE, FALSE, "Cancel"));
    if (!status || !cancel) {
        Fail(outcome, GetLastError());
        Finish(outcome);
        return;
    }
    const std::string workParent = request_.workParent.empty() ? ParentFolder(request_.target) : request_.workParent;
    if (uint32_t rc = MakeJobTempFolder(workParent, &workFolder_)) {
        Fail(outcome, rc);
        Finish(outcome);
        return;
    }

    VTMFPSESSION *record = session_.Record();
    const std::string password = session_.Password();
    if (uint32_t rc = vtBoxLockUiJob(record, password.c_str(), LockMode(), &session_.LockValue())) {
        Fail(outcome, rc);
        NoteEngineFailure(outcome, rc);
        RemoveJobTempFolder(workFolder_);
        Finish(outcome);
        return;
    }
    std::memset(session_.FtpAccount(), 0, DeviceSession::kFtpAccountBytes);
    if (uint32_t rc = vtBoxCreateFTPAccount(record, password.c_str(), session_.FtpAccount())) {
        Fail(outcome, rc);
        NoteEngineFailure(outcome, rc);
        vtBoxUnlockUiJob(record, password.c_str(), LockMode());
        RemoveJobTempFolder(workFolder_);
        Finish(outcome);
        return;
    }
    session_.App().ftpAccountCopy.assign(session_.FtpAccount(),
                                         strnlen(session_.FtpAccount(), DeviceSession::kFtpAccountBytes));

    WatchWorker(status.get(), cancel.get(), outcome);

    status.reset();
    cancel.reset();
    RemoveJobTempFolder(workFolder_);
    // The device is always given back; a failure here is the job's result.
    if (uint32_t rc = vtBoxDeleteFTPAccount(record, password.c_str())) NoteEngineFailure(outcome, rc);
    if (uint32_t rc = vtBoxUnlockUiJob(record, password.c_str(), LockMode())) NoteEngineFailure(outcome, rc);
    Finish(outcome);
}

void CJobThread::WatchWorker(HANDLE status, HANDLE cancel, JobOutcome &outcome) {
    progress_ = VTPROGRESSINFO{};
    // Reset here rather than on the worker, so that a cancel confirmed while
    // the worker is starting is never lost.
    ResetEvent(cancel);
    std::thread worker;
    try {
        worker = std::thread([this, status, cancel] {
            const uint32_t rc = CallEngine(cancel, status, &progress_);
            if (rc != 0) workerDetail_ = vtBoxGetLastErrorText();
            ResetEvent(cancel);
            ResetEvent(status);
            workerResult_ = rc;
            workerDone_ = true;
            // Wakes the watch loop at once instead of at its time-out.
            SetEvent(status);
        });
    } catch (const std::system_error &) {
        outcome.state = kJobFailed;
        outcome.result = 0;
        return;
    }

    emit AnimationStarted();
    for (;;) {
        QThread::msleep(kSleepBeforeWaitMs);
        const bool signalled = WaitForSingleObject(status, kStatusWaitMs) == WAIT_OBJECT_0;
        gate_.Pass();
        if (cancelFlag_) {
            SetEvent(cancel);
            worker.join();
            // A worker that finished before it saw the cancel has written
            // everything: the job is finished, not cancelled.
            if (workerResult_ == 0) {
                outcome.state = kJobFinished;
                outcome.result = 0;
            } else {
                outcome.state = kJobCancelled;
                outcome.result = workerResult_ == VTBOX_E_CANCELLED ? 0 : workerResult_;
                if (outcome.result != 0) outcome.detail = QString::fromStdString(workerDetail_);
            }
            break;
        }
        const bool done = workerDone_;
        if (signalled) emit PercentChanged(std::clamp<int>(progress_.Percent, 0, kProgressRange));
        if (done) {
            worker.join();
            outcome.result = workerResult_;
            outcome.detail = QString::fromStdString(workerDetail_);
            if (workerResult_ == 0) outcome.state = kJobFinished;
            break;
        }
        ShowProgress(progress_);
    }
    // The engine has returned: the record holds where it ended.
    outcome.lastPhase = progress_.Phase;
    outcome.boxName = FieldText(progress_.BoxName, sizeof progress_.BoxName);
    outcome.folderName = FieldText(progress_.FolderName, sizeof progress_.FolderName);
}

void CJobThread::ShowProgress(const VTPROGRESSINFO &progress) {
    // The engine writes the record without a lock: the texts are read
    // within their fields and are only shown.
    const int32_t phase = progress.Phase;
    if (phase != lastPhase_) {
        lastPhase_ = phase;
        auto text = phaseTexts_.find(phase);
        if (text != phaseTexts_.end()) emit PhaseTextChanged(text->second);
    }
    emit StatusLineChanged(BuildStatusLine(FieldText(progress.BoxName, sizeof progress.BoxName),
                                           FieldText(progress.FolderName, sizeof progress.FolderName),
                                           FieldText(progress.DocName, sizeof progress.DocName)));
    emit DocumentsLineChanged(
        QStringLiteral("%1 %2 / %3").arg(documentsLabel_).arg(progress.DocsDone).arg(progress.DocsTotal));
}

void CJobThread::Finish(JobOutcome &outcome) {
    if (waitForThread_) SetEvent(waitForThread_);
    emit Ended(outcome);
}

uint32_t CBackupThread::CallEngine(HANDLE cancel, HANDLE status, VTPROGRESSINFO *progress) {
    const std::string &ftpUser = session_.App().ftpAccountCopy;
    return vtBoxBackup(session_.Record(), session_.Password().c_str(), ftpUser.c_str(), workFolder_.c_str(),
                       request_.target.c_str(), static_cast<uint32_t>(request_.boxes.size()), request_.boxes.data(),
                       cancel, status, progress);
}

uint32_t CRestoreThread::CallEngine(HANDLE cancel, HANDLE status, VTPROGRESSINFO *progress) {
    const std::string &ftpUser = session_.App().ftpAccountCopy;
    return vtBoxRestore(session_.Record(), session_.Password().c_str(), ftpUser.c_str(), workFolder_.c_str(),
                        request_.target.c_str(), static_cast<uint32_t>(request_.boxes.size()), request_.boxes.data(),
                        request_.restoreMode, session_.LockValue(), cancel, status, progress);
}

}  // namespace vtutil
