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
    CloseRecord();
    FreeBoxList();
}

void DeviceSession::SetPassword(const std::string &password) { password_ = password.substr(0, kPasswordBytes); }

void DeviceSession::Report(uint32_t code) {
    lastDetail_ = QString::fromUtf8(vtBoxGetLastErrorText());
    if (!quiet_ && reporter_) reporter_(code, lastDetail_);
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
    // A device that froze while idle would hold the program (its exit, a
    // change of device) for the end page's whole time-out.
    return !RecordOpen() || vtjobs::CloseSession(&record_, std::chrono::seconds(vtjobs::ReleaseSeconds()));
}

void DeviceSession::ConnectDevice(ConnectReason reason) {
    if (reason == ConnectReason::Refresh || reason == ConnectReason::ReloadAfterJob) {
        uint32_t count = 0;
        VTBOX *boxes = nullptr;
        if (HGLOBAL block = vtBoxGetBoxList(&record_, &count, &boxes)) {
            TakeBoxList(block, count, boxes);
            connected_ = true;
            return;
        }
        if (reason == ConnectReason::ReloadAfterJob) {
            connected_ = false;
            FreeBoxList();
            return;
        }
    }
    // A record left open by a lost connection is released here too, so that
    // its transport handles are not overwritten.
    CloseRecord();
    connected_ = false;

    record_ = VTMFPSESSION{};
    std::strncpy(record_.Host, app_.deviceAddress.c_str(), sizeof record_.Host - 1);
    record_.Port = BoxServicePort();
    record_.Reserved2 = kSessionReserved2;
    lastResult_ = 0;
    lastDetail_.clear();
    FreeBoxList();

    if (uint32_t rc = vtBoxOpenConnection(&record_)) {
        lastResult_ = rc;
        Report(rc);
        // A failure after the device gave out its session number leaves that
        // session open on the device: end it now.
        CloseRecord();
        return;
    }
    passwordRejected_ = false;
    engineInfo_ = VTENGVERSION{};
    uint32_t rc = vtBoxGetEngineVersion(&record_, password_.c_str(), &engineInfo_);
    if (rc == VTBOX_E_DEVICE_IN_USE) rc = ReleaseLeftJob(rc);
    if (rc == 0) {
        // A record of an ended job whose device is free again is stale.
        std::optional<vtjobs::JobRecord> left = vtjobs::ReadJobRecord(record_.Host, record_.Port);
        if (left && vtjobs::JobHasEnded(*left)) vtjobs::RemoveJobRecord(record_.Host, record_.Port);
    }
    if (rc) {
        lastResult_ = rc;
        Report(rc);
        CloseRecord();
        passwordRejected_ = rc == VTBOX_E_WRONG_PASSWORD;
        return;
    }
    uint32_t count = 0;
    VTBOX *boxes = nullptr;
    if (HGLOBAL block = vtBoxGetBoxList(&record_, &count, &boxes)) {
        TakeBoxList(block, count, boxes);
        connected_ = true;
        return;
    }
    // Kept like the codes of the steps before, so that a caller that
    // reports LastResult names this failure too instead of "0".
    lastResult_ = GetLastError();
    Report(lastResult_);
    CloseRecord();
}

uint32_t DeviceSession::ReleaseLeftJob(uint32_t rc) {
    std::optional<vtjobs::JobRecord> left = vtjobs::ReadJobRecord(record_.Host, record_.Port);
    if (!left || !vtjobs::JobHasEnded(*left) || quiet_ || !leftJobQuestion_ || !leftJobQuestion_()) return rc;
    const vtjobs::LeftJobRelease release = vtjobs::ReleaseLeftJob(&record_, password_.c_str(), *left);
    if (release.WrongPassword()) return VTBOX_E_WRONG_PASSWORD;
    vtjobs::RemoveJobRecord(record_.Host, record_.Port);
    engineInfo_ = VTENGVERSION{};
    return vtBoxGetEngineVersion(&record_, password_.c_str(), &engineInfo_);
}

bool DeviceSession::Close() {
    connected_ = false;
    return CloseRecord();
}

bool DeviceSession::CloseBetweenRuns() { return CloseRecord(); }

void DeviceSession::MarkLost() {
    connected_ = false;
    FreeBoxList();
}

}  // namespace vtutil
