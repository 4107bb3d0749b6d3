// The one engine session of the utility: connecting and logging in to the
// device, the box list, and the values that jobs take from it.
//
// All calls are made on the thread that owns the object; jobs use it only
// while the windows are blocked by their progress dialog. The device calls of
// ConnectDevice go through the call runner, which the windows set so that
// they stay live while the device is slow to answer.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <string>

#include "app_state.hpp"
#include "device_call.hpp"
#include "vtBoxBRD.h"
#include "vthandles.hpp"

namespace vtutil {

// Why ConnectDevice runs.
enum class ConnectReason {
    Connect = 0,            // login, device change: a new session
    Refresh = 7,            // reload the box list, reconnecting when that fails
    ReloadAfterJob = 8,     // reload the box list; on failure the device counts as lost
    BeforeAutomaticRun = 9  // reconnect before a scheduled run
};

class DeviceSession {
public:
    explicit DeviceSession(AppState &app);
    ~DeviceSession();
    DeviceSession(const DeviceSession &) = delete;
    DeviceSession &operator=(const DeviceSession &) = delete;

    // Reports a failed step of ConnectDevice to the user: its result code
    // and the engine's detail.
    using ErrorReporter = std::function<void(uint32_t code, const QString &detail)>;
    void SetErrorReporter(ErrorReporter reporter) { reporter_ = std::move(reporter); }
    // Asked when the device says it is busy and a job of this computer that
    // no longer runs holds it (its job record says so): true releases the
    // device in that job's name and goes on connecting.
    using LeftJobQuestion = std::function<bool()>;
    void SetLeftJobQuestion(LeftJobQuestion question) { leftJobQuestion_ = std::move(question); }
    // While quiet (automatic backup), failures are not reported and nothing
    // is asked; the automatic run reports them itself.
    void SetQuiet(bool quiet) { quiet_ = quiet; }
    // Runs one device call and waits for it (see DeviceCall): the windows'
    // runner waits with a live window and lets the user stop waiting. Without
    // one, the call runs on this thread and cannot be stopped.
    using CallRunner = std::function<DeviceCallResult(DeviceWait what, VTMFPSESSION *session, DeviceCall::Call call)>;
    void SetCallRunner(CallRunner runner) { runner_ = std::move(runner); }
    DeviceCallResult Run(DeviceWait what, VTMFPSESSION *session, DeviceCall::Call call);

    // Connects to the device at the application's address with Password,
    // reads the engine version and the box list. Afterwards Connected tells
    // whether device commands are allowed. When the user stops waiting for
    // the device, the session is not connected, LastResult is
    // VTBOX_E_CANCELLED, Stopped is set and nothing is reported (the runner
    // has said so); the engine session is ended at the next connect.
    void ConnectDevice(ConnectReason reason);
    bool Stopped() const { return stopped_; }
    // Ends the engine session (if one is open) and clears Connected, through
    // the call runner (the windows' wait dialog, whose Cancel stops waiting).
    // A device that does not answer is waited for the release's bound
    // (vtjobs::ReleaseSeconds) at most: false when the end was given up and
    // the session left to the device's idle time-out.
    bool Close();
    // Ends the engine session between two runs of automatic backup, leaving
    // the device free; Connected keeps its value (the next run connects
    // again) and so does the box list. Bounded, and false, as Close.
    bool CloseBetweenRuns();
    // The device is gone: Connected = 0 and no boxes. The engine session is
    // released at the next connect or at the end.
    void MarkLost();

    bool Connected() const { return connected_; }
    // Restores a remembered state (a cancelled device change).
    void SetConnected(bool connected) { connected_ = connected; }
    bool PasswordRejected() const { return passwordRejected_; }
    uint32_t LastResult() const { return lastResult_; }
    // The engine's detail of the step that failed with LastResult (kept
    // while quiet too, for the automatic run's report).
    const QString &LastDetail() const { return lastDetail_; }
    const VTENGVERSION &EngineInfo() const { return engineInfo_; }

    // The administrator password as typed (at most 255 bytes are kept).
    const std::string &Password() const { return password_; }
    void SetPassword(const std::string &password);

    // The box list of the last successful vtBoxGetBoxList; the array stays
    // valid until the next ConnectDevice or MarkLost.
    uint32_t BoxCount() const { return boxCount_; }
    const VTBOX *BoxList() const { return boxList_; }

    // For the engine calls of commands and jobs.
    static constexpr size_t kFtpAccountBytes = 256;
    VTMFPSESSION *Record() { return &record_; }
    AppState &App() { return app_; }
    uint32_t &LockValue() { return lockValue_; }
    char *FtpAccount() { return ftpAccount_; }

private:
    // Reports code with the engine's detail of the call that just failed.
    void Report(uint32_t code, const std::string &detail);
    // The user stopped waiting: not connected, no boxes.
    void StopWaiting();
    // The box list read through the runner; false when it failed.
    bool LoadBoxList();
    // After the engine version was refused as busy: releases, once the user
    // agrees, what a job of this computer that no longer runs left on the
    // device. The code of the engine version asked again (its failure's
    // account in *detail), VTBOX_E_CANCELLED when the user stopped waiting,
    // or rc.
    uint32_t ReleaseLeftJob(uint32_t rc, std::string *detail);
    void TakeBoxList(HGLOBAL block, uint32_t count, VTBOX *boxes);
    void FreeBoxList();
    bool RecordOpen() const;
    // Ends the engine session within the bound; false when given up.
    bool CloseRecord();

    AppState &app_;
    ErrorReporter reporter_;
    LeftJobQuestion leftJobQuestion_;
    bool quiet_ = false;
    CallRunner runner_;
    bool stopped_ = false;

    bool connected_ = false;
    bool passwordRejected_ = false;
    VTENGVERSION engineInfo_{};
    char ftpAccount_[kFtpAccountBytes] = {};
    std::string password_;
    uint32_t lockValue_ = 0;
    uint32_t lastResult_ = 0;
    QString lastDetail_;
    VTMFPSESSION record_{};
    uint32_t boxCount_ = 0;
    VTBOX *boxList_ = nullptr;
    vt::GlobalBlock boxBlock_;
};

// The box web service port: 8080, or VTBOX_HTTP_PORT when that holds a port.
uint32_t BoxServicePort();

}  // namespace vtutil
