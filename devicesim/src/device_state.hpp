// State that the device keeps beside the store: web sessions, the exclusive
// mode, the temporary FTP account, and the records of what it saw.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "devicesim/device.hpp"

namespace devicesim {

class DeviceState {
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;
    // Sessions idle for longer than `idleSeconds` (0: never) end, with what they
    // hold, so that a client that died mid-job does not lock the device for good.
    DeviceState(unsigned maxSessions, unsigned idleSeconds, Now now = Clock::now)
        : maxSessions_(maxSessions), idle_(idleSeconds), now_(std::move(now)) {}

    // A new web session id, or 0 when too many sessions are open.
    uint32_t OpenSession();
    // Ends a session; the exclusive mode and the FTP account it holds end with it.
    bool CloseSession(uint32_t sid);
    // True for an open session, which counts as active from now on.
    bool HasSession(uint32_t sid);

    struct Exclusive {
        uint32_t holder = 0;
        unsigned mode = 0;
    };
    // The exclusive mode when a session other than `sid` holds it.
    std::optional<Exclusive> HeldByOther(uint32_t sid);
    // Reply Result: 0 entered (or already held by this session in this mode),
    // 211/212 held by another session, 105 held by this session in another mode.
    int EnterExclusive(uint32_t sid, unsigned mode);
    // 0 left; 105 when this session does not hold the mode given.
    int LeaveExclusive(uint32_t sid, unsigned mode);

    // The login name of a new account (or of this session's account); nullopt
    // when another session's account exists.
    std::optional<std::string> CreateFtpAccount(uint32_t sid);
    bool DeleteFtpAccount();
    bool FtpLoginAllowed(const std::string &user);

private:
    void ExpireLocked();
    void EndLocked(uint32_t sid);

    std::mutex mutex_;
    unsigned maxSessions_;
    std::chrono::seconds idle_;
    Now now_;
    std::map<uint32_t, Clock::time_point> sessions_;  // session -> last request
    uint32_t nextSession_ = 10000001;
    std::optional<Exclusive> exclusive_;
    struct Account {
        std::string login;
        uint32_t owner = 0;
    };
    std::optional<Account> account_;
    unsigned accountCounter_ = 0;
};

class Recorder {
public:
    void Http(const std::string &target);
    void Serial(const SerialChangeCall &call);
    void KeepAlive();
    void Ftp(const std::string &line);
    DeviceRecords Snapshot() const;
    void Clear();

private:
    mutable std::mutex mutex_;
    DeviceRecords records_;
};

}  // namespace devicesim
