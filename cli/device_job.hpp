// The device around a job, as the interactive utility prepares it: the
// session, the password check, the panel lock and the temporary FTP account.
// Whatever was set up is undone when the objects end, also after a failure.
#pragma once

#include <cstdint>
#include <string>

#include "commands.hpp"
#include "vtBoxBRD.h"

namespace vtcli {

class DeviceSession {
public:
    explicit DeviceSession(const Settings &settings);
    ~DeviceSession();
    DeviceSession(const DeviceSession &) = delete;
    DeviceSession &operator=(const DeviceSession &) = delete;

    // Opens the session and proves the password, waiting at most the
    // settings' timeout for the device's answer. Prints what failed and what
    // to do; returns the exit code (0 when open).
    int Open(const std::string &password, VTENGVERSION *version);
    // The same for releasing a device another session holds: the device then
    // refuses the engine version (busy), and the password is proven by the
    // release itself.
    int OpenWhileHeld(const std::string &password);
    VTMFPSESSION *get() { return &session_; }
    const Settings &settings() const { return settings_; }
    // Ends the web session if it is open, waiting for the device no longer
    // than the release's bound (VTBOX_RELEASE_SECONDS) and no longer once
    // stop is set (null: the give-up event of a held Ctrl-C, if any). A device
    // that does not answer is left to end the session by itself: a session
    // without a job holds nothing there. False when it was left so.
    bool Close(HANDLE stop = nullptr);

private:
    int OpenSession(const std::string &password, VTENGVERSION *version, bool busyIsOpen);
    Settings settings_;
    VTMFPSESSION session_{};
    bool open_ = false;
};

// Reads the administrator password (ObtainPassword) and opens the session
// with it. With holdSignals, Ctrl-C is held from then on so that a job can
// still release the device (see HoldTerminationSignals). Prints what failed;
// returns the exit code (0 when open).
int OpenWithPassword(const Context &context, bool holdSignals, DeviceSession &session, std::string *password,
                     VTENGVERSION *version);

class ExclusiveJob {
public:
    ExclusiveJob(DeviceSession &session, const std::string &password, uint32_t mode);
    ~ExclusiveJob();
    ExclusiveJob(const ExclusiveJob &) = delete;
    ExclusiveJob &operator=(const ExclusiveJob &) = delete;

    // Locks the panel and creates the FTP account, noting the job in the job
    // record (see job_record.hpp). Prints what failed; returns the engine code.
    uint32_t Begin();
    // Releases the device: deletes the account and unlocks, each if it was
    // done, then closes the session. A step that fails is tried again with
    // growing pauses for a bounded time ($VTBOX_RELEASE_SECONDS, default 60);
    // a termination signal during the release stops it at once. When the
    // device stays unreleased, prints a plain warning with what to do and
    // returns the first failure's code (0 when all worked). Safe to call more
    // than once.
    uint32_t End();

    uint32_t deviceTime() const { return deviceTime_; }
    const char *ftpUser() const { return login_; }

private:
    DeviceSession &session_;
    std::string password_;
    uint32_t mode_;
    uint32_t deviceTime_ = 0;
    char login_[256] = {};
    bool locked_ = false;
    bool account_ = false;
    bool ended_ = false;
};

}  // namespace vtcli
