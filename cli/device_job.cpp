#include "device_job.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "long_operation.hpp"
#include "options.hpp"
#include "password.hpp"
#include "text_output.hpp"

namespace vtcli {

DeviceSession::DeviceSession(const std::string &host, uint32_t port) {
    std::strncpy(session_.Host, host.c_str(), sizeof session_.Host - 1);
    session_.Port = port;
    session_.Reserved2 = 10000;
}

DeviceSession::~DeviceSession() { Close(); }

uint32_t DeviceSession::Close() {
    if (!open_) return 0;
    open_ = false;
    return vtBoxCloseConnection(&session_);
}

uint32_t DeviceSession::Open(const std::string &password, VTENGVERSION *version) {
    uint32_t rc = vtBoxOpenConnection(&session_);
    if (rc != 0) {
        PrintError("connecting to " + std::string(session_.Host), rc, vtBoxGetLastErrorText());
        return rc;
    }
    open_ = true;
    // Ctrl-C ends a request in flight at once (null when signals are not held).
    vtBoxSetRequestCancelEvent(&session_, StopEvent());
    rc = vtBoxGetEngineVersion(&session_, password.c_str(), version);
    if (rc != 0) PrintError(rc == 1216 ? "logging in" : "reading the engine version", rc, vtBoxGetLastErrorText());
    return rc;
}

bool OpenWithPassword(const Options &o, bool hold_signals, DeviceSession &session, std::string *password,
                      VTENGVERSION *version) {
    std::string error;
    if (!ReadPassword(o.passwordFile, password, &error)) {
        std::fprintf(stderr, "vtbox: %s\n", error.c_str());
        return false;
    }
    if (hold_signals) HoldTerminationSignals();
    return session.Open(*password, version) == 0;
}

ExclusiveJob::ExclusiveJob(DeviceSession &session, const std::string &password, uint32_t mode)
    : session_(session), password_(password), mode_(mode) {}

ExclusiveJob::~ExclusiveJob() { End(); }

uint32_t ExclusiveJob::Begin() {
    uint32_t rc = vtBoxLockUiJob(session_.get(), password_.c_str(), mode_, &deviceTime_);
    if (rc != 0) {
        PrintError("locking the device's panel", rc, vtBoxGetLastErrorText());
        return rc;
    }
    locked_ = true;
    rc = vtBoxCreateFTPAccount(session_.get(), password_.c_str(), login_);
    if (rc != 0) {
        PrintError("creating the FTP account", rc, vtBoxGetLastErrorText());
        return rc;
    }
    account_ = true;
    return 0;
}

unsigned ReleaseSeconds() {
    if (const char *text = std::getenv("VTBOX_RELEASE_SECONDS"); text && *text) {
        char *end = nullptr;
        unsigned long v = std::strtoul(text, &end, 10);
        if (*end == '\0' && v >= 1 && v <= 3600) return static_cast<unsigned>(v);
    }
    return 60;
}

namespace {

constexpr uint32_t kCancelled = 995;
constexpr uint32_t kDeviceBusy = 100;      // unlocking a mode not held (any more)
constexpr uint32_t kFtpAccountError = 1371;  // deleting an account that is gone

// Signals an event when a time has passed, unless dismissed first.
class Deadline {
public:
    Deadline(HANDLE event, std::chrono::seconds after) : thread_([this, event, after] {
        std::unique_lock<std::mutex> lock(m_);
        if (!cv_.wait_for(lock, after, [this] { return dismissed_; })) SetEvent(event);
    }) {}
    ~Deadline() {
        {
            std::lock_guard<std::mutex> lock(m_);
            dismissed_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool dismissed_ = false;
    std::thread thread_;
};

}  // namespace

uint32_t ExclusiveJob::End() {
    if (ended_) return 0;
    ended_ = true;
    BeginRelease();
    // One event ends every wait of the release: set by the deadline, or by a
    // termination signal (the program's give-up event, when it holds them).
    HANDLE own = nullptr;
    HANDLE stop = GiveUpEvent();
    if (!stop) stop = own = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    uint32_t first = 0;
    {
        Deadline deadline(stop, std::chrono::seconds(ReleaseSeconds()));
        vtBoxSetRequestCancelEvent(session_.get(), stop);

        // Rounds of one attempt per step still pending, with growing pauses
        // between them. A retry may find a step done by an attempt whose reply
        // was lost: that counts as done.
        struct Step {
            const char *what;
            bool &pending;
            std::function<uint32_t()> call;
            uint32_t doneOnRetry;
            uint32_t rc = 0;
            std::string detail;
        };
        Step steps[] = {
            {"deleting the FTP account", account_,
             [&] { return vtBoxDeleteFTPAccount(session_.get(), password_.c_str()); }, kFtpAccountError, 0, {}},
            {"unlocking the device's panel", locked_,
             [&] { return vtBoxUnlockUiJob(session_.get(), password_.c_str(), mode_); }, kDeviceBusy, 0, {}},
        };
        DWORD pause_ms = 500;
        for (int round = 0;; ++round) {
            bool left = false;
            for (Step &step : steps) {
                if (!step.pending) continue;
                uint32_t rc = step.call();
                if (rc == 0 || (round > 0 && rc == step.doneOnRetry)) {
                    step.pending = false;
                    continue;
                }
                // A cancelled attempt says less than the failure before it.
                if (rc != kCancelled || step.rc == 0) {
                    step.rc = rc;
                    step.detail = vtBoxGetLastErrorText();
                }
                left = true;
            }
            if (!left || WaitForSingleObject(stop, pause_ms) == WAIT_OBJECT_0) break;
            pause_ms = std::min<DWORD>(pause_ms * 2, 8000);
        }
        for (const Step &step : steps) {
            if (!step.pending) continue;
            if (!first) first = step.rc;
            PrintError(step.what, step.rc, step.detail);
        }
        session_.Close();  // cut short by the stop event when the device does not answer
    }
    if (first) {
        std::fprintf(stderr,
                     "vtbox: warning: the device %s was not released: its panel may stay locked and its temporary "
                     "FTP account may remain until the device ends the session by itself (after its idle time, "
                     "15 minutes by default). Check that the device is on and reachable; to free it sooner, "
                     "restart it or wait, then run vtbox again.\n",
                     session_.get()->Host);
    }
    if (own) CloseHandle(own);
    return first;
}

}  // namespace vtcli
