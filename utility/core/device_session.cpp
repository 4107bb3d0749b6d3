#include "device_session.hpp"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "device_release.hpp"
#include "job_record.hpp"
#include "left_job.hpp"
#include "session_close.hpp"

namespace vtutil {

namespace {
constexpr uint32_t kDefaultBoxServicePort = 8080;
constexpr uint32_t kSessionReserved2 = 10000;
constexpr size_t kPasswordBytes = 255;
}  // namespace

uint32_t BoxServicePort() {
    if (const char *text = std::getenv("VTBOX_HTTP_PORT")) {
        char *end = nullptr;
        long port = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && port > 0 && port < 65536) return static_cast<uint32_t>(port);
    }
    return kDefaultBoxServicePort;
}

DeviceSession::DeviceSession(AppState &app) : app_(app) {}

DeviceSession::~DeviceSession() {
    // Without the windows' runner: they may be gone by now.
    if (RecordOpen()) vtjobs::CloseSession(&record_, std::chrono::seconds(vtjobs::ReleaseSeconds()));
    FreeBoxList();
}

void DeviceSession::SetPassword(const std::string &password) { password_ = password.substr(0, kPasswordBytes); }

void DeviceSession::Report(uint32_t code, const std::string &detail) {
    lastDetail_ = QString::fromUtf8(detail.c_str());
    if (!quiet_ && reporter_) reporter_(code, lastDetail_);
}

DeviceCallResult DeviceSession::Run(DeviceWait what, VTMFPSESSION *session, DeviceCall::Call call) {
    if (runner_) return runner_(what, session, std::move(call));
    DeviceCallResult result;
    result.code = call(nullptr);
    if (result.code) result.detail = vtBoxGetLastErrorText();
    return result;
}

void DeviceSession::StopWaiting() {
    stopped_ = true;
    connected_ = false;
    lastResult_ = VTBOX_E_CANCELLED;
    lastDetail_.clear();
    FreeBoxList();
}

bool DeviceSession::LoadBoxList() {
    HGLOBAL block = nullptr;
    uint32_t count = 0;
    VTBOX *boxes = nullptr;
    const DeviceCallResult listed = Run(DeviceWait::BoxList, &record_, [&](HANDLE) -> uint32_t {
        block = vtBoxGetBoxList(&record_, &count, &boxes);
        return block ? 0 : GetLastError();
    });
    if (listed.stopped) {
        // A list that arrived as the user stopped is not taken either.
        vt::GlobalBlock dropped(block);
        StopWaiting();
        return false;
    }
    if (!block) {
        lastResult_ = listed.code;
        lastDetail_ = QString::fromUtf8(listed.detail.c_str());
        return false;
    }
    TakeBoxList(block, count, boxes);
    connected_ = true;
    return true;
}

void DeviceSession::TakeBoxList(HGLOBAL block, uint32_t count, VTBOX *boxes) {
    FreeBoxList();
    boxBlock_.reset(block);
    boxList_ = boxes;
    boxCount_ = count;
}

void DeviceSession::FreeBoxList() {
    boxBlock_.reset();
    boxList_ = nullptr;
    boxCount_ = 0;
}

bool DeviceSession::RecordOpen() const { return record_.ConnectHandle != nullptr || record_.SessionId != 0; }

bool DeviceSession::CloseRecord() {
    if (!RecordOpen()) return true;
    // A device that froze while idle would hold the program (its exit, a
    // change of device) for the end page's whole time-out: the end is
    // bounded, and waited for through the runner, off the window's thread.
    const DeviceCallResult closed = Run(DeviceWait::EndSession, &record_, [this](HANDLE stop) -> uint32_t {
        return vtjobs::CloseSession(&record_, std::chrono::seconds(vtjobs::ReleaseSeconds()), stop) ? 0
                                                                                                    : VTBOX_E_CANCELLED;
    });
    return closed.code == 0;
}

void DeviceSession::ConnectDevice(ConnectReason reason) {
    stopped_ = false;
    if (reason == ConnectReason::Refresh || reason == ConnectReason::ReloadAfterJob) {
        if (LoadBoxList() || stopped_) return;
        if (reason == ConnectReason::ReloadAfterJob) {
            connected_ = false;
            FreeBoxList();
            return;
        }
    }
    // A record left open by a lost connection is released here too, so that
    // its transport handles are not overwritten.
    connected_ = false;
    if (RecordOpen()) {
        const DeviceCallResult closed = Run(DeviceWait::Close, &record_, [this](HANDLE stop) -> uint32_t {
            return vtjobs::CloseSession(&record_, std::chrono::seconds(vtjobs::ReleaseSeconds()), stop)
                       ? 0
                       : VTBOX_E_CANCELLED;
        });
        if (closed.stopped) {
            StopWaiting();
            return;
        }
    }

    record_ = VTMFPSESSION{};
    std::strncpy(record_.Host, app_.deviceAddress.c_str(), sizeof record_.Host - 1);
    record_.Port = BoxServicePort();
    record_.Reserved2 = kSessionReserved2;
    lastResult_ = 0;
    lastDetail_.clear();
    FreeBoxList();

    // The connection is opened on a record of the call's own: no session
    // exists yet to take a cancel event, so a user who stops waiting leaves
    // the call to end by itself, and it then ends what it opened.
    struct Opening {
        VTMFPSESSION record;
        std::string detail;
    };
    auto opening = std::make_shared<Opening>(Opening{record_, {}});
    const DeviceCallResult opened = Run(DeviceWait::Connect, nullptr, [opening](HANDLE stop) -> uint32_t {
        uint32_t rc = vtBoxOpenConnection(&opening->record);
        if (rc) opening->detail = vtBoxGetLastErrorText();
        if (stop && WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) rc = VTBOX_E_CANCELLED;
        // A failure after the device gave out its session number leaves that
        // session open on the device: end it now.
        if (rc) vtjobs::CloseSession(&opening->record, std::chrono::seconds(vtjobs::ReleaseSeconds()));
        return rc;
    });
    if (opened.stopped) {
        StopWaiting();
        return;
    }
    if (opened.code) {
        lastResult_ = opened.code;
        Report(opened.code, opening->detail);
        return;
    }
    record_ = opening->record;
    passwordRejected_ = false;
    engineInfo_ = VTENGVERSION{};
    VTENGVERSION version{};
    DeviceCallResult login = Run(DeviceWait::Login, &record_, [this, &version](HANDLE) {
        return vtBoxGetEngineVersion(&record_, password_.c_str(), &version);
    });
    if (login.stopped) {
        StopWaiting();
        return;
    }
    engineInfo_ = version;
    uint32_t rc = login.code;
    std::string detail = login.detail;
    if (rc == VTBOX_E_DEVICE_IN_USE) {
        rc = ReleaseLeftJob(rc, &detail);
        if (stopped_ || rc == VTBOX_E_CANCELLED) {
            StopWaiting();
            return;
        }
    }
    if (rc == 0) {
        // A record of an ended job whose device is free again is stale.
        std::optional<vtjobs::JobRecord> left = vtjobs::ReadJobRecord(record_.Host, record_.Port);
        if (left && vtjobs::JobHasEnded(*left)) vtjobs::RemoveJobRecord(record_.Host, record_.Port);
    }
    if (rc) {
        lastResult_ = rc;
        Report(rc, detail);
        CloseRecord();
        passwordRejected_ = rc == VTBOX_E_WRONG_PASSWORD;
        return;
    }
    if (LoadBoxList() || stopped_) return;
    // Kept like the codes of the steps before, so that a caller that
    // reports LastResult names this failure too instead of "0".
    Report(lastResult_, lastDetail_.toStdString());
    CloseRecord();
}

uint32_t DeviceSession::ReleaseLeftJob(uint32_t rc, std::string *detail) {
    std::optional<vtjobs::JobRecord> left = vtjobs::ReadJobRecord(record_.Host, record_.Port);
    if (!left || !vtjobs::JobHasEnded(*left) || quiet_ || !leftJobQuestion_ || !leftJobQuestion_()) return rc;
    // Off the window's thread, as every call that waits for the device.
    vtjobs::LeftJobRelease release;
    const DeviceCallResult released = Run(DeviceWait::Unlock, &record_, [&](HANDLE) -> uint32_t {
        release = vtjobs::ReleaseLeftJob(&record_, password_.c_str(), *left);
        return 0;
    });
    if (released.stopped) return VTBOX_E_CANCELLED;
    if (release.WrongPassword()) return VTBOX_E_WRONG_PASSWORD;
    // The record stays until nothing of the job is left: it is what lets the
    // next login or vtbox unlock release the device.
    if (release.Done()) vtjobs::RemoveJobRecord(record_.Host, record_.Port);
    VTENGVERSION version{};
    const DeviceCallResult login = Run(DeviceWait::Login, &record_, [this, &version](HANDLE) {
        return vtBoxGetEngineVersion(&record_, password_.c_str(), &version);
    });
    if (login.stopped) return VTBOX_E_CANCELLED;
    engineInfo_ = version;
    *detail = login.detail;
    return login.code;
}

bool DeviceSession::Close() {
    connected_ = false;
    return CloseRecord();
}

bool DeviceSession::CloseBetweenRuns() {
    const bool connected = connected_;
    const bool closed = CloseRecord();
    connected_ = connected;
    return closed;
}

void DeviceSession::MarkLost() {
    connected_ = false;
    FreeBoxList();
}

}  // namespace vtutil
