#include "device_job.hpp"

#include <cstring>

#include <cstdio>

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

DeviceSession::~DeviceSession() {
    if (open_) vtBoxCloseConnection(&session_);
}

uint32_t DeviceSession::Open(const std::string &password, VTENGVERSION *version) {
    uint32_t rc = vtBoxOpenConnection(&session_);
    if (rc != 0) {
        PrintError("connecting to " + std::string(session_.Host), rc, vtBoxGetLastErrorText());
        return rc;
    }
    open_ = true;
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

uint32_t ExclusiveJob::End() {
    uint32_t first = 0;
    if (account_) {
        account_ = false;
        uint32_t rc = vtBoxDeleteFTPAccount(session_.get(), password_.c_str());
        if (rc != 0) {
            PrintError("deleting the FTP account", rc, vtBoxGetLastErrorText());
            first = rc;
        }
    }
    if (locked_) {
        locked_ = false;
        uint32_t rc = vtBoxUnlockUiJob(session_.get(), password_.c_str(), mode_);
        if (rc != 0) {
            PrintError("unlocking the device's panel", rc, vtBoxGetLastErrorText());
            if (!first) first = rc;
        }
    }
    return first;
}

}  // namespace vtcli
