#include "device_job.hpp"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "device_release.hpp"
#include "failure_report.hpp"
#include "job_record.hpp"
#include "long_operation.hpp"
#include "reachability.hpp"
#include "session_close.hpp"
#include "vthandles.hpp"

namespace vtcli {

DeviceSession::DeviceSession(const Settings &settings) : settings_(settings) {
    std::strncpy(session_.Host, settings.host.c_str(), sizeof session_.Host - 1);
    session_.Port = settings.port;
    session_.Reserved2 = 10000;
}

DeviceSession::~DeviceSession() { Close(); }

bool DeviceSession::Close(HANDLE stop) {
    if (!open_) return true;
    open_ = false;
    return vtjobs::CloseSession(&session_, std::chrono::seconds(vtjobs::ReleaseSeconds()), stop ? stop : GiveUpEvent());
}

namespace {

// The opening calls, run on a thread of their own so that a device that
// accepts connections and never answers is given up after the timeout.
struct Opening {
    std::mutex lock;
    std::condition_variable doneSignal;
    bool done = false;
    uint32_t rc = 0;
    bool opened = false;
    // A failed open may still leave a session on the device (the failure
    // came after the device handed out its number): it is closed like one.
    bool held = false;
    std::string detail;
    VTMFPSESSION session{};
    VTENGVERSION version{};
    std::string password;
};

}  // namespace

int DeviceSession::Open(const std::string &password, VTENGVERSION *version) {
    return OpenSession(password, version, false);
}

int DeviceSession::OpenWhileHeld(const std::string &password) {
    VTENGVERSION version{};
    return OpenSession(password, &version, true);
}

int DeviceSession::OpenSession(const std::string &password, VTENGVERSION *version, bool busyIsOpen) {
    auto opening = std::make_shared<Opening>();
    opening->session = session_;
    opening->password = password;
    std::thread worker([opening] {
        uint32_t rc = vtBoxOpenConnection(&opening->session);
        bool opened = rc == 0;
        bool held = opening->session.ConnectHandle != nullptr && opening->session.SessionId != 0;
        std::string detail = vtBoxGetLastErrorText();
        if (opened) {
            rc = vtBoxGetEngineVersion(&opening->session, opening->password.c_str(), &opening->version);
            detail = vtBoxGetLastErrorText();
        }
        std::lock_guard<std::mutex> hold(opening->lock);
        opening->rc = rc;
        opening->opened = opened;
        opening->held = held;
        opening->detail = detail;
        opening->done = true;
        opening->doneSignal.notify_all();
    });

    std::unique_lock<std::mutex> hold(opening->lock);
    if (!opening->doneSignal.wait_for(hold, std::chrono::seconds(settings_.timeout), [&] { return opening->done; })) {
        // Nothing is locked yet: the stuck request is simply left behind.
        std::fprintf(stderr, "vtbox: connecting to %s failed: no answer within %u s\n", settings_.host.c_str(),
                     settings_.timeout);
        Reach reach = ProbeDevice(settings_.host, settings_.port, 3000);
        std::fprintf(stderr, "vtbox: %s\n",
                     ReachText(reach, settings_.host, settings_.port, "the box web service", "--port").c_str());
        std::fflush(nullptr);
        _exit(kExitUnreachable);  // the stuck request is left with the process
    }
    // Joined, so that the thread's own state (the TLS library's, say) is gone
    // with it before the program goes on and ends.
    hold.unlock();
    worker.join();
    session_ = opening->session;
    open_ = opening->held;
    bool opened = opening->opened;
    // Ctrl-C ends a request in flight at once (null when signals are not held).
    if (opened) vtBoxSetRequestCancelEvent(&session_, StopEvent());
    *version = opening->version;
    if (opening->rc == 0 || (busyIsOpen && opened && opening->rc == VTBOX_E_DEVICE_IN_USE)) return 0;
    int exitCode =
        ReportFailure(opened ? (opening->rc == VTBOX_E_WRONG_PASSWORD ? "logging in" : "reading the engine version")
                             : "connecting to " + settings_.host,
                      opening->rc, opening->detail, FailureSite::Device, &settings_);
    Close();
    return exitCode;
}

int OpenWithPassword(const Context &c, bool holdSignals, DeviceSession &session, std::string *password,
                     VTENGVERSION *version) {
    std::string error;
    if (!ObtainPassword(c.options, c.file, password, &error)) return ReportProblem(error, kExitUsage);
    if (holdSignals) HoldTerminationSignals();
    return session.Open(*password, version);
}

ExclusiveJob::ExclusiveJob(DeviceSession &session, const std::string &password, uint32_t mode)
    : session_(session), password_(password), mode_(mode) {}

ExclusiveJob::~ExclusiveJob() { End(); }

uint32_t ExclusiveJob::Begin() {
    uint32_t rc = vtBoxLockUiJob(session_.get(), password_.c_str(), mode_, &deviceTime_);
    if (rc != 0) {
        ReportFailure("locking the device's panel", rc, vtBoxGetLastErrorText(), FailureSite::Device,
                      &session_.settings());
        return rc;
    }
    locked_ = true;
    const Settings &s = session_.settings();
    if (!vtjobs::WriteJobRecord(s.host, s.port, {session_.get()->SessionId, mode_, static_cast<int>(getpid()), {}}))
        std::fprintf(stderr, "vtbox: warning: cannot note the job for vtbox unlock\n");
    rc = vtBoxCreateFTPAccount(session_.get(), password_.c_str(), login_);
    if (rc != 0) {
        ReportFailure("creating the FTP account", rc, vtBoxGetLastErrorText(), FailureSite::Device,
                      &session_.settings());
        return rc;
    }
    account_ = true;
    // The account's name ties the session to this job for vtbox unlock.
    if (!vtjobs::WriteJobRecord(s.host, s.port, {session_.get()->SessionId, mode_, static_cast<int>(getpid()), login_}))
        std::fprintf(stderr, "vtbox: warning: cannot note the job for vtbox unlock\n");
    return 0;
}

uint32_t ExclusiveJob::End() {
    if (ended_) return 0;
    ended_ = true;
    BeginRelease();
    // One event ends every wait of the release: set by the deadline, or by a
    // termination signal (the program's give-up event, when it holds them).
    vt::OwnedHandle own;
    HANDLE stop = GiveUpEvent();
    if (!stop) {
        own = vt::NewEvent(true);
        stop = own.get();
    }
    uint32_t first = 0;
    const uint32_t sessionId = session_.get()->SessionId;  // Close clears it
    {
        vtjobs::DeviceRelease release(session_.get(), password_.c_str(), mode_, stop,
                                      std::chrono::seconds(vtjobs::ReleaseSeconds()));
        const vtjobs::ReleaseOutcome outcome = release.Run(account_, locked_);
        account_ = outcome.account.pending;
        locked_ = outcome.lock.pending;
        const std::pair<const char *, const vtjobs::ReleaseStepResult *> steps[] = {
            {"deleting the FTP account", &outcome.account},
            {"unlocking the device's panel", &outcome.lock},
        };
        for (const auto &[what, step] : steps)
            if (step->pending) ReportFailure(what, step->code, step->detail, FailureSite::Device);
        first = outcome.FirstCode();
        session_.Close(stop);  // within what is left of the release's bound
    }
    // A record stays while the device may still be held, for vtbox unlock.
    const Settings &s = session_.settings();
    if (first == 0) vtjobs::RemoveJobRecord(s.host, s.port);
    // The account went but the lock stays: nothing ties the session to this
    // job any more, and the record no longer says it does.
    if (first != 0 && !account_ && login_[0] != '\0')
        vtjobs::WriteJobRecord(s.host, s.port, {sessionId, mode_, static_cast<int>(getpid()), {}});
    if (first) {
        std::fprintf(stderr,
                     "vtbox: warning: the device %s was not released: its panel may stay locked and its temporary "
                     "FTP account may remain until the device ends the session by itself (after its idle time, "
                     "15 minutes by default). Check that the device is on and reachable; to free it sooner, "
                     "run vtbox unlock once it answers, or restart it.\n",
                     session_.get()->Host);
    }
    return first;
}

}  // namespace vtcli
