#include "device_job.hpp"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "failure_report.hpp"
#include "job_record.hpp"
#include "long_operation.hpp"
#include "reachability.hpp"

namespace vtcli {

DeviceSession::DeviceSession(const Settings &settings) : settings_(settings) {
    std::strncpy(session_.Host, settings.host.c_str(), sizeof session_.Host - 1);
    session_.Port = settings.port;
    session_.Reserved2 = 10000;
}

DeviceSession::~DeviceSession() {
    if (open_) vtBoxCloseConnection(&session_);
}

namespace {

// The opening calls, run on a thread of their own so that a device that
// accepts connections and never answers is given up after the timeout.
struct Opening {
    std::mutex lock;
    std::condition_variable done_signal;
    bool done = false;
    uint32_t rc = 0;
    bool opened = false;
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

int DeviceSession::OpenSession(const std::string &password, VTENGVERSION *version, bool busy_is_open) {
    auto opening = std::make_shared<Opening>();
    opening->session = session_;
    opening->password = password;
    std::thread([opening] {
        uint32_t rc = vtBoxOpenConnection(&opening->session);
        bool opened = rc == 0;
        std::string detail = vtBoxGetLastErrorText();
        if (opened) {
            rc = vtBoxGetEngineVersion(&opening->session, opening->password.c_str(), &opening->version);
            detail = vtBoxGetLastErrorText();
        }
        std::lock_guard<std::mutex> hold(opening->lock);
        opening->rc = rc;
        opening->opened = opened;
        opening->detail = detail;
        opening->done = true;
        opening->done_signal.notify_all();
    }).detach();

    std::unique_lock<std::mutex> hold(opening->lock);
    if (!opening->done_signal.wait_for(hold, std::chrono::seconds(settings_.timeout), [&] { return opening->done; })) {
        // Nothing is locked yet: the stuck request is simply left behind.
        std::fprintf(stderr, "vtbox: connecting to %s failed: no answer within %u s\n", settings_.host.c_str(),
                     settings_.timeout);
        Reach reach = ProbeDevice(settings_.host, settings_.port, 3000);
        std::fprintf(stderr, "vtbox: %s\n",
                     ReachText(reach, settings_.host, settings_.port, "the box web service", "--port").c_str());
        std::fflush(nullptr);
        _exit(kExitUnreachable);
    }
    session_ = opening->session;
    open_ = opening->opened;
    *version = opening->version;
    if (opening->rc == 0 || (busy_is_open && open_ && opening->rc == 100)) return 0;
    return ReportFailure(open_ ? (opening->rc == 1216 ? "logging in" : "reading the engine version")
                               : "connecting to " + settings_.host,
                         opening->rc, opening->detail, FailureSite::Device, &settings_);
}

int OpenWithPassword(const Context &c, bool hold_signals, DeviceSession &session, std::string *password,
                     VTENGVERSION *version) {
    std::string error;
    if (!ObtainPassword(c.options, c.file, password, &error)) return ReportProblem(error, kExitUsage);
    if (hold_signals) HoldTerminationSignals();
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
    if (!WriteJobRecord(s.host, s.port, {session_.get()->SessionId, mode_, static_cast<int>(getpid())}))
        std::fprintf(stderr, "vtbox: warning: cannot note the job for vtbox unlock\n");
    rc = vtBoxCreateFTPAccount(session_.get(), password_.c_str(), login_);
    if (rc != 0) {
        ReportFailure("creating the FTP account", rc, vtBoxGetLastErrorText(), FailureSite::Device,
                      &session_.settings());
        return rc;
    }
    account_ = true;
    return 0;
}

uint32_t ExclusiveJob::End() {
    if (!account_ && !locked_) return 0;
    uint32_t first = 0;
    if (account_) {
        account_ = false;
        uint32_t rc = vtBoxDeleteFTPAccount(session_.get(), password_.c_str());
        if (rc != 0) {
            ReportFailure("deleting the FTP account", rc, vtBoxGetLastErrorText(), FailureSite::Device);
            first = rc;
        }
    }
    if (locked_) {
        locked_ = false;
        uint32_t rc = vtBoxUnlockUiJob(session_.get(), password_.c_str(), mode_);
        if (rc != 0) {
            ReportFailure("unlocking the device's panel", rc, vtBoxGetLastErrorText(), FailureSite::Device);
            if (!first) first = rc;
        }
    }
    // A record stays while the device may still be held, for vtbox unlock.
    if (first == 0) RemoveJobRecord(session_.settings().host, session_.settings().port);
    return first;
}

}  // namespace vtcli
