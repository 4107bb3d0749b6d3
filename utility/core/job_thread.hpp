// The job threads: one backup or restore, from locking the device to giving
// it back. A job thread drives the engine calls around the one long engine
// call, which runs on a worker thread of its own, and watches the worker
// through the progress record and the "Status" event.
//
// The job thread never touches a window: what the progress window shows
// leaves as signals, which the window connects queued. Its last signal,
// Ended, is the close request; before it, on every way out, the job signals
// the window's WAITFORTHREAD event, so that a window waiting on that event
// after a confirmed cancel never waits for ever.
#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "job_figures.hpp"
#include "vtBoxBRD.h"
#include "vthandles.hpp"

namespace vtutil {

class DeviceSession;

// The device calls a job makes around its long engine call, each bounded and
// cut short by a confirmed cancel (the release has signals of its own).
enum class JobWait { Lock = 1, Account = 2, CountBefore = 3, CountAfter = 4 };

// The progress window's operation codes.
enum class JobOperation : uint32_t { Backup = 301, Restore = 302 };

// How a job ends. A job is failed until it has finished or was cancelled.
inline constexpr int32_t kJobFinished = 303;
inline constexpr int32_t kJobFailed = 304;
inline constexpr int32_t kJobCancelled = 305;

// Restore modes (vtBoxRestore's mode).
inline constexpr uint32_t kRestoreReplace = 1;
inline constexpr uint32_t kRestoreKeepBoth = 2;

struct JobRequest {
    JobOperation operation = JobOperation::Backup;
    std::string target;           // the backup file written, or read by a restore
    std::vector<uint32_t> boxes;  // the chosen box numbers
    // A restore of chosen parts of those boxes (vtBoxRestoreSelection): whole
    // boxes, whole folders and single documents. Empty: the boxes whole
    // (vtBoxRestore).
    std::vector<VTBACKUPITEM> items;
    uint32_t restoreMode = kRestoreReplace;
    std::string workParent;  // where the job's work folder goes; empty: beside the target
};

struct JobOutcome {
    int32_t state = kJobFailed;
    uint32_t result = 0;  // the engine's code, or that of the last clean-up step that failed
    QString detail;       // more about that failure than its code says, when known
    // The code of the job before the release of the device had its say (the
    // release's failure replaces it in result), and its detail.
    uint32_t jobResult = 0;
    QString jobDetail;
    // The device was given back: false when its release was given up (the
    // device did not answer in time, or the user stopped waiting), so that
    // its panel may stay locked.
    bool released = true;
    // Work folders of killed jobs beside this one's that were kept, as they
    // hold what may be the only copy of something.
    QStringList keptWorkFolders;
    // Where the engine was when it ended (a restore's report names them).
    int32_t lastPhase = 0;
    // Documents the engine had backed up or written to the device.
    int32_t documentsDone = 0;
    // What the job did, for its report: the backup file written or read, its
    // size once a backup has written it (-1: not known), the boxes chosen and
    // the seconds from the job's start to its end.
    QString file;
    int64_t fileBytes = -1;
    int boxes = 0;
    double seconds = 0;
    // A restore: of the documents written, those that took the place of the
    // device's of the same name and those added (-1: not known).
    int64_t replaced = -1;
    int64_t added = -1;
    QString boxName;
    QString folderName;
};

// Held closed while the user is asked whether to cancel: the job's watch
// loop waits at it, neither updating the window nor deciding anything. The
// engine's worker goes on meanwhile (a thread cannot be suspended here).
class JobGate {
public:
    void Close();
    void Open();
    // Returns at once while open; otherwise waits until it opens.
    void Pass();

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool closed_ = false;
};

class CJobThread : public QThread {
    Q_OBJECT
public:
    // waitForThread is the window's WAITFORTHREAD event; the window keeps
    // it open for the life of this object.
    CJobThread(DeviceSession &session, JobRequest request, HANDLE waitForThread);
    // Waits until the thread has ended.
    ~CJobThread() override;

    // A confirmed cancel: the device call in flight ends within about a
    // second, and the job goes on to give the device back. May be called
    // from any thread.
    void SetCancelFlag();
    // Stops waiting for the device at the job's end: the release ends at
    // once, the request in flight included, and the device may stay locked.
    void StopWaiting();
    JobGate &Gate() { return gate_; }
    const JobRequest &Request() const { return request_; }

    static constexpr int kProgressRange = 100;
    static constexpr int kProgressStep = 1;

signals:
    void ProgressReset(int range, int step);
    void AnimationStarted();
    void PercentChanged(int percent);
    void PhaseTextChanged(const QString &text);
    // Where the job is, uncut, for a window that fits the names to its room.
    void WhereChanged(const QString &box, const QString &folder, const QString &document);
    // The job's figures (JobFigures): seconds since its start, the engine's
    // percent and the bytes moved so far (-1: not known).
    void FiguresChanged(double seconds, int percent, qint64 bytes);
    void DocumentsLineChanged(const QString &text);
    // The release of the device has begun; it is given up after seconds.
    void ReleaseStarted(int seconds);
    // The release tries this step now (vtjobs::ReleaseStep).
    void ReleaseStepChanged(int step);
    // A device call of the job's own (JobWait) has begun; it is given up
    // after seconds. DeviceWaitEnded: it has returned.
    void DeviceWaitStarted(int what, int seconds);
    void DeviceWaitEnded();
    // The close request: the job has ended and cleaned up.
    void Ended(const vtutil::JobOutcome &outcome);

protected:
    void run() override;

    // The lock mode of vtBoxLockUiJob and vtBoxUnlockUiJob.
    virtual uint32_t LockMode() const = 0;
    // The long engine call, on the worker thread.
    virtual uint32_t CallEngine(HANDLE cancel, HANDLE status, VTPROGRESSINFO *progress) = 0;

    DeviceSession &session_;
    const JobRequest request_;
    // The folder the engine works in, beside the backup file.
    std::string workFolder_;

private:
    void WatchWorker(HANDLE status, HANDLE cancel, JobOutcome &outcome);
    void ShowProgress(const VTPROGRESSINFO &progress);
    void Finish(JobOutcome &outcome);
    void Fail(JobOutcome &outcome, uint32_t code);
    // Ends a job whose lock or account step did not work (code, detail):
    // cancelled when the user cut it, failed otherwise; the device is given
    // back first (the FTP account too when account is set).
    void EndBeforeTheWork(JobOutcome &outcome, uint32_t code, const QString &detail, bool account);
    // Gives the device back, for a bounded time: the FTP account when account
    // is set, then the panel lock.
    void ReleaseDevice(JobOutcome &outcome, bool account);
    // Runs call, a device call on the session, within the bound of a device
    // wait (vtjobs::ReleaseSeconds): the session's requests are cut once the
    // bound has passed or the job is cancelled, whichever comes first. Returns
    // the call's code; a call cut by the bound returns VTBOX_E_NET_TIMEOUT
    // with a detail that says so in *detail.
    uint32_t BoundedCall(JobWait what, const std::function<uint32_t()> &call, QString *detail);
    bool Cancelled() const { return cancelFlag_; }
    // The documents the chosen boxes hold on the device (a box it lacks
    // holds none); nothing when one cannot be read in time.
    std::optional<uint64_t> CountDeviceDocuments(JobWait what);
    // What a finished job did: the file's size, or the restore's documents
    // replaced and added (documentsBefore: CountDeviceDocuments before it).
    void NoteWhatWasDone(JobOutcome &outcome, std::optional<uint64_t> documentsBefore);

    const HANDLE waitForThread_;
    std::chrono::steady_clock::time_point started_;
    // Ends the release of the device (set by the user, or when its time is up).
    vt::OwnedHandle stopRelease_;
    JobGate gate_;
    std::atomic<bool> cancelFlag_{false};
    // What a confirmed cancel signals: the engine's cancel event for the
    // long call, and the stop of the bounded device call in flight.
    std::mutex cancelMutex_;
    vt::OwnedHandle engineCancel_;
    HANDLE callStop_ = nullptr;
    VTPROGRESSINFO progress_{};
    std::atomic<bool> workerDone_{false};
    uint32_t workerResult_ = 0;
    std::string workerDetail_;  // the engine's detail of a failing call on the worker
    int32_t lastPhase_ = 0;
    // Texts looked up on the window's thread, before the job starts.
    std::map<int32_t, QString> phaseTexts_;
    QString documentsLabel_;
    // What a restore has moved so far is its share of the file's bytes (a
    // backup's is the engine's count of the bytes downloaded).
    int64_t fileBytes_ = -1;
    QString workFolderNotMade_;
    QString deviceDidNotAnswer_;
};

class CBackupThread final : public CJobThread {
    Q_OBJECT
public:
    using CJobThread::CJobThread;

protected:
    uint32_t LockMode() const override { return 0; }
    uint32_t CallEngine(HANDLE cancel, HANDLE status, VTPROGRESSINFO *progress) override;
};

class CRestoreThread final : public CJobThread {
    Q_OBJECT
public:
    using CJobThread::CJobThread;

protected:
    uint32_t LockMode() const override { return 1; }
    uint32_t CallEngine(HANDLE cancel, HANDLE status, VTPROGRESSINFO *progress) override;
};

// The hidden work folder of a job inside folder: ".$__B_R_Temp__$", the
// process number, "-" and a millisecond count, always a new folder. The work
// folders that killed jobs of the utility left there are removed first (see
// vtjobs::ClearDeadWorkFolders); those kept, as they hold what may be the
// only copy of something, are named in keptDead (may be null). Returns 0 and
// the path, or the system's code.
uint32_t MakeJobTempFolder(const std::string &folder, std::string *path, std::vector<std::string> *keptDead);

// Leaves the work folder (the engine works in the process's current folder)
// and removes it with anything a failed engine call left in it, but for what
// may be the only copy of something (vtjobs::KeptContent): the restore's
// rescue copies of device documents and a complete backup that could not be
// put in place. The folder then stays with those alone, and the engine's
// failure detail, which the job shows, names them. True when the folder
// stays.
bool RemoveJobTempFolder(const std::string &path);

}  // namespace vtutil

Q_DECLARE_METATYPE(vtutil::JobOutcome)
