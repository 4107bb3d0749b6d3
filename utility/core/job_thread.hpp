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
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "vtBoxBRD.h"

namespace vtutil {

class DeviceSession;

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
    uint32_t restoreMode = kRestoreReplace;
    std::string workParent;  // where the job's work folder goes; empty: beside the target
};

struct JobOutcome {
    int32_t state = kJobFailed;
    uint32_t result = 0;  // the engine's code, or that of the last clean-up step that failed
    QString detail;       // more about that failure than its code says, when known
    // Where the engine was when it ended (a restore's report names them).
    int32_t lastPhase = 0;
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

    // A confirmed cancel; the watch loop acts on it once it passes the gate.
    void SetCancelFlag() { cancelFlag_ = true; }
    JobGate &Gate() { return gate_; }
    const JobRequest &Request() const { return request_; }

    static constexpr int kProgressRange = 100;
    static constexpr int kProgressStep = 1;

signals:
    void ProgressReset(int range, int step);
    void AnimationStarted();
    void PercentChanged(int percent);
    void PhaseTextChanged(const QString &text);
    void StatusLineChanged(const QString &text);
    void DocumentsLineChanged(const QString &text);
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
    // A failing engine call on this thread: its code and the engine's detail.
    void NoteEngineFailure(JobOutcome &outcome, uint32_t code);

    const HANDLE waitForThread_;
    JobGate gate_;
    std::atomic<bool> cancelFlag_{false};
    VTPROGRESSINFO progress_{};
    std::atomic<bool> workerDone_{false};
    uint32_t workerResult_ = 0;
    std::string workerDetail_;  // the engine's detail of a failing call on the worker
    int32_t lastPhase_ = 0;
    // Texts looked up on the window's thread, before the job starts.
    std::map<int32_t, QString> phaseTexts_;
    QString documentsLabel_;
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

// The hidden work folder of a job inside folder: ".$__B_R_Temp__$" and a
// millisecond count, always a new folder. Returns 0 and the path, or the
// system's code.
uint32_t MakeJobTempFolder(const std::string &folder, std::string *path);

// Leaves the work folder (the engine works in the process's current folder)
// and removes it with anything a failed engine call left in it, but for what
// may be the only copy of something: the restore's rescue copies of device
// documents (VTBOX_RESCUE_FOLDER) and a complete backup that could not be put
// in place (VTBOX_KEPT_BACKUP). The folder then stays with those alone, and
// the engine's failure detail, which the job shows, names them. True when
// the folder stays.
bool RemoveJobTempFolder(const std::string &path);

}  // namespace vtutil

Q_DECLARE_METATYPE(vtutil::JobOutcome)
