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

#include "deadline.hpp"
#include "device_release.hpp"
#include "device_session.hpp"
#include "job_record.hpp"
#include "job_work_folders.hpp"
#include "language.hpp"
#include "text_format.hpp"
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
    if (path.empty()) return false;
    if (::chdir(ParentFolder(path).c_str()) != 0) ::chdir("/");
    return vtjobs::RemoveWorkFolder(path);
}

uint32_t MakeJobTempFolder(const std::string &folder, std::string *path, std::vector<std::string> *keptDead) {
    std::string base = folder;
    if (base.empty() || base.back() != '/') base += '/';
    // Folders of killed jobs go first, but for what may be the only copy of something.
    vtjobs::DeadWorkFolders dead = vtjobs::ClearDeadWorkFolders(base, kTempFolderName);
    if (keptDead) *keptDead = std::move(dead.kept);
    const std::string owner = std::to_string(::getpid()) + "-";
    const uint32_t ticks = MillisecondTicks();
    for (int i = 0; i < kTempFolderTries; ++i) {
        std::string candidate = base + kTempFolderName + owner + std::to_string(ticks + static_cast<uint32_t>(i));
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
    : session_(session), request_(std::move(request)), waitForThread_(waitForThread), stopRelease_(vt::NewEvent(true)) {
    const std::pair<int32_t, uint32_t> phases[] = {
        {VTPHASE_PACKING, ids::kPhasePacking},         {VTPHASE_UNPACKING, ids::kPhaseUnpacking},
        {VTPHASE_DOWNLOADING, ids::kPhaseDownloading}, {VTPHASE_UPLOADING, ids::kPhaseUploading},
        {VTPHASE_PREPARING, ids::kPhasePreparing},     {VTPHASE_TIDYING, ids::kPhaseTidying},
        {VTPHASE_FAILED, ids::kPhaseFailed},
    };
    for (const auto &[phase, id] : phases) phaseTexts_[phase] = Text(id);
    phaseTexts_[kBlankPhase] = QString();
    documentsLabel_ = Text(ids::kDocumentsLine);
    workFolderNotMade_ = Text(ids::kWorkFolderNotMade);
    deviceDidNotAnswer_ = Text(ids::kJobDeviceDidNotAnswer);
}

CJobThread::~CJobThread() { wait(); }

void CJobThread::Fail(JobOutcome &outcome, uint32_t code) {
    outcome.state = kJobFailed;
    outcome.result = code;
}

void CJobThread::SetCancelFlag() {
    std::lock_guard lock(cancelMutex_);
    cancelFlag_ = true;
    if (engineCancel_) SetEvent(engineCancel_.get());
    if (callStop_) SetEvent(callStop_);
}

uint32_t CJobThread::BoundedCall(JobWait what, const std::function<uint32_t()> &call, QString *detail) {
    const unsigned seconds = vtjobs::ReleaseSeconds();
    vt::OwnedHandle stop(vt::NewEvent(true));
    {
        std::lock_guard lock(cancelMutex_);
        callStop_ = stop.get();
        if (cancelFlag_) SetEvent(callStop_);
    }
    emit DeviceWaitStarted(static_cast<int>(what), static_cast<int>(seconds));
    VTMFPSESSION *record = session_.Record();
    uint32_t rc = 0;
    {
        vtjobs::Deadline deadline(stop.get(), std::chrono::seconds(seconds));
        vtBoxSetRequestCancelEvent(record, stop.get());
        rc = call();
        if (rc && detail) *detail = QString::fromUtf8(vtBoxGetLastErrorText());
        vtBoxSetRequestCancelEvent(record, nullptr);
    }
    {
        std::lock_guard lock(cancelMutex_);
        callStop_ = nullptr;
    }
    emit DeviceWaitEnded();
    // Cut, and not by the user: the device did not answer within the bound.
    if (rc == VTBOX_E_CANCELLED && !cancelFlag_) {
        rc = VTBOX_E_NET_TIMEOUT;
        if (detail) *detail = FormatValues(deviceDidNotAnswer_, {QString::number(seconds)});
    }
    return rc;
}

void CJobThread::StopWaiting() {
    if (stopRelease_) SetEvent(stopRelease_.get());
}

void CJobThread::ReleaseDevice(JobOutcome &outcome, bool account) {
    outcome.jobResult = outcome.result;
    outcome.jobDetail = outcome.detail;
    const unsigned seconds = vtjobs::ReleaseSeconds();
    emit ReleaseStarted(static_cast<int>(seconds));
    VTMFPSESSION *record = session_.Record();
    const std::string password = session_.Password();
    // Kept before the session may be ended below.
    vtjobs::JobRecord ended{record->SessionId, LockMode(), 0, {}};
    vtjobs::ReleaseOutcome released;
    {
        vtjobs::DeviceRelease release(record, password.c_str(), LockMode(), stopRelease_.get(),
                                      std::chrono::seconds(seconds));
        released = release.Run(account, true,
                               [this](vtjobs::ReleaseStep step) { emit ReleaseStepChanged(static_cast<int>(step)); });
        // Given up: the session is ended as far as the device lets it (cut
        // at once when it does not answer), so that nothing later waits on
        // it; the job record keeps its number for a later release.
        if (!released.Released()) vtBoxCloseConnection(record);
    }
    // The session goes on serving the window: its requests are not to be
    // cut by this job's stop.
    vtBoxSetRequestCancelEvent(record, nullptr);
    // A step that failed for good replaces the job's code, the lock's last.
    for (const vtjobs::ReleaseStepResult *step : {&released.account, &released.lock}) {
        if (!step->pending) continue;
        outcome.result = step->code;
        outcome.detail = QString::fromStdString(step->detail);
    }
    outcome.released = released.Released();
    // A device left held keeps its record, now of a job that has ended, for
    // vtbox unlock and the next login.
    if (outcome.released)
        vtjobs::RemoveJobRecord(record->Host, record->Port);
    else {
        // With the account's name while the account stays, which ties the
        // session to this job.
        if (account && released.account.pending) ended.login = session_.App().ftpAccountCopy;
        vtjobs::WriteJobRecord(record->Host, record->Port, ended);
    }
}

std::optional<uint64_t> CJobThread::CountDeviceDocuments(JobWait what) {
    const std::string password = session_.Password();
    uint64_t total = 0;
    std::vector<uint32_t> boxes;
    // One bound for all the boxes: the box page's own time-out is hours,
    // with the device locked meanwhile.
    const uint32_t rc = BoundedCall(
        what,
        [&]() -> uint32_t {
            for (uint32_t box : request_.boxes) {
                if (std::find(boxes.begin(), boxes.end(), box) != boxes.end()) continue;
                boxes.push_back(box);
                VTBOXEX properties{};
                const uint32_t got =
                    vtBoxGetBoxProperty(session_.Record(), box, password.c_str(), &properties, nullptr);
                if (got == VTBOX_E_NOT_ON_DEVICE) continue;
                if (got != 0) return got;
                total += properties.NumOfDocs;
            }
            return 0;
        },
        nullptr);
    if (rc != 0) return std::nullopt;
    return total;
}

void CJobThread::NoteWhatWasDone(JobOutcome &outcome, std::optional<uint64_t> documentsBefore) {
    if (outcome.state != kJobFinished) return;
    if (request_.operation == JobOperation::Backup) {
        struct stat st;
        if (::stat(request_.target.c_str(), &st) == 0) outcome.fileBytes = st.st_size;
        return;
    }
    const int64_t written = outcome.documentsDone;
    if (request_.restoreMode != kRestoreReplace) {
        // Every restored document got a name of its own.
        outcome.replaced = 0;
        outcome.added = written;
        return;
    }
    // A document that replaced one of its name left the box's count as it
    // was; one that found no namesake raised it.
    std::optional<uint64_t> documentsAfter = CountDeviceDocuments(JobWait::CountAfter);
    if (!documentsBefore || !documentsAfter) return;
    const int64_t grown = static_cast<int64_t>(*documentsAfter) - static_cast<int64_t>(*documentsBefore);
    outcome.added = std::clamp<int64_t>(grown, 0, written);
    outcome.replaced = written - outcome.added;
}

void CJobThread::run() {
    JobOutcome outcome;
    started_ = std::chrono::steady_clock::now();
    outcome.file = QString::fromStdString(request_.target);
    std::vector<uint32_t> distinct = request_.boxes;
    std::sort(distinct.begin(), distinct.end());
    outcome.boxes = static_cast<int>(std::unique(distinct.begin(), distinct.end()) - distinct.begin());
    emit ProgressReset(kProgressRange, kProgressStep);

    Event status(CreateEventA(nullptr, FALSE, FALSE, "Status"));
    // Manual reset: every place in the engine that polls it sees the cancel.
    {
        std::lock_guard lock(cancelMutex_);
        engineCancel_.reset(CreateEventA(nullptr, TRUE, cancelFlag_ ? TRUE : FALSE, "Cancel"));
    }
    if (!status || !engineCancel_) {
        Fail(outcome, GetLastError());
        Finish(outcome);
        return;
    }
    std::vector<std::string> keptDead;
    const std::string folder = request_.workParent.empty() ? ParentFolder(request_.target) : request_.workParent;
    const uint32_t made = MakeJobTempFolder(folder, &workFolder_, &keptDead);
    const int why = errno;
    for (const std::string &kept : keptDead) outcome.keptWorkFolders << QString::fromStdString(kept);
    if (uint32_t rc = made) {
        Fail(outcome, rc);
        outcome.detail = FormatValues(workFolderNotMade_,
                                      {QString::fromStdString(folder), QString::fromLocal8Bit(std::strerror(why))});
        Finish(outcome);
        return;
    }

    if (request_.operation != JobOperation::Backup) {
        struct stat st {};
        if (::stat(request_.target.c_str(), &st) == 0) fileBytes_ = st.st_size;
    }

    VTMFPSESSION *record = session_.Record();
    const std::string password = session_.Password();
    // Each step waits here while the user is asked whether to cancel, so
    // that none begins on a device the user is about to stop using.
    gate_.Pass();
    QString detail;
    uint32_t locked = VTBOX_E_CANCELLED;
    if (!Cancelled())
        locked = BoundedCall(
            JobWait::Lock, [&] { return vtBoxLockUiJob(record, password.c_str(), LockMode(), &session_.LockValue()); },
            &detail);
    if (locked != 0) {
        RemoveJobTempFolder(workFolder_);
        if (locked != VTBOX_E_CANCELLED && locked != VTBOX_E_NET_TIMEOUT) {
            // Refused: nothing was locked.
            Fail(outcome, locked);
            outcome.detail = detail;
            Finish(outcome);
            return;
        }
        // Cut: the device may have locked its panel all the same, so it is
        // unlocked within the release's bound.
        EndBeforeTheWork(outcome, locked, detail, false);
        return;
    }
    // A job killed from now on leaves this record behind, for a later
    // release. Without it (the state folder cannot be written) the job still
    // runs: only that help is lost.
    vtjobs::WriteJobRecord(record->Host, record->Port,
                           {record->SessionId, LockMode(), static_cast<int>(::getpid()), {}});
    std::memset(session_.FtpAccount(), 0, DeviceSession::kFtpAccountBytes);
    gate_.Pass();
    uint32_t account = VTBOX_E_CANCELLED;
    if (!Cancelled())
        account = BoundedCall(
            JobWait::Account, [&] { return vtBoxCreateFTPAccount(record, password.c_str(), session_.FtpAccount()); },
            &detail);
    if (account != 0) {
        RemoveJobTempFolder(workFolder_);
        // An account whose making was cut may exist on the device: its
        // deletion is tried with the unlock.
        EndBeforeTheWork(outcome, account, detail, account == VTBOX_E_CANCELLED || account == VTBOX_E_NET_TIMEOUT);
        return;
    }
    session_.App().ftpAccountCopy.assign(session_.FtpAccount(),
                                         strnlen(session_.FtpAccount(), DeviceSession::kFtpAccountBytes));
    // The account's name ties the session to this job for a later release.
    vtjobs::WriteJobRecord(
        record->Host, record->Port,
        {record->SessionId, LockMode(), static_cast<int>(::getpid()), session_.App().ftpAccountCopy});

    // A restore in replace mode counts the documents of its boxes before and
    // after, to tell the documents it replaced from those it added.
    std::optional<uint64_t> documentsBefore;
    gate_.Pass();
    if (request_.operation == JobOperation::Restore && request_.restoreMode == kRestoreReplace && !Cancelled())
        documentsBefore = CountDeviceDocuments(JobWait::CountBefore);

    if (Cancelled()) {
        outcome.state = kJobCancelled;
        outcome.result = 0;
    } else {
        WatchWorker(status.get(), engineCancel_.get(), outcome);
        NoteWhatWasDone(outcome, documentsBefore);
    }

    status.reset();
    RemoveJobTempFolder(workFolder_);
    // The device is always given back; a failure here is the job's result.
    ReleaseDevice(outcome, true);
    Finish(outcome);
}

void CJobThread::EndBeforeTheWork(JobOutcome &outcome, uint32_t code, const QString &detail, bool account) {
    if (code == VTBOX_E_CANCELLED && Cancelled()) {
        outcome.state = kJobCancelled;
        outcome.result = 0;
    } else {
        Fail(outcome, code);
        outcome.detail = detail;
    }
    ReleaseDevice(outcome, account);
    // The job's end is the one to report: the release only undid its start,
    // unless it was given up, which the report adds.
    if (outcome.released) {
        outcome.result = outcome.jobResult;
        outcome.detail = outcome.jobDetail;
    }
    Finish(outcome);
}

void CJobThread::WatchWorker(HANDLE status, HANDLE cancel, JobOutcome &outcome) {
    progress_ = VTPROGRESSINFO{};
    std::thread worker;
    try {
        worker = std::thread([this, status, cancel] {
            const uint32_t rc = CallEngine(cancel, status, &progress_);
            if (rc != 0) workerDetail_ = vtBoxGetLastErrorText();
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
            // Set already by SetCancelFlag; again for a flag set without it.
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
            // Where it ended, shown while the device is given back.
            ShowProgress(progress_);
            outcome.result = workerResult_;
            outcome.detail = QString::fromStdString(workerDetail_);
            if (workerResult_ == 0) outcome.state = kJobFinished;
            break;
        }
        ShowProgress(progress_);
    }
    // The engine has returned: the record holds where it ended.
    outcome.lastPhase = progress_.Phase;
    outcome.documentsDone = std::max(progress_.DocsDone, 0);
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
    emit WhereChanged(FieldText(progress.BoxName, sizeof progress.BoxName),
                      FieldText(progress.FolderName, sizeof progress.FolderName),
                      FieldText(progress.DocName, sizeof progress.DocName));
    emit DocumentsLineChanged(
        QStringLiteral("%1 %2 / %3").arg(documentsLabel_).arg(progress.DocsDone).arg(progress.DocsTotal));
    const int percent = std::clamp<int>(progress.Percent, 0, kProgressRange);
    int64_t bytes = -1;
    if (request_.operation == JobOperation::Backup)
        bytes = static_cast<int64_t>(vtBoxGetDownloadedBytes());  // small files never reach the work folder
    else if (fileBytes_ >= 0)
        bytes = fileBytes_ / kProgressRange * percent;
    emit FiguresChanged(std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count(), percent,
                        bytes);
}

void CJobThread::Finish(JobOutcome &outcome) {
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
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
    if (!request_.items.empty())
        return vtBoxRestoreSelection(session_.Record(), session_.Password().c_str(), ftpUser.c_str(),
                                     workFolder_.c_str(), request_.target.c_str(),
                                     static_cast<uint32_t>(request_.items.size()), request_.items.data(),
                                     request_.restoreMode, session_.LockValue(), cancel, status, progress);
    return vtBoxRestore(session_.Record(), session_.Password().c_str(), ftpUser.c_str(), workFolder_.c_str(),
                        request_.target.c_str(), static_cast<uint32_t>(request_.boxes.size()), request_.boxes.data(),
                        request_.restoreMode, session_.LockValue(), cancel, status, progress);
}

}  // namespace vtutil
