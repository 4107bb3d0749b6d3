#include "left_job.hpp"

namespace vtjobs {

bool JobHasEnded(const JobRecord &record) { return !RunningJobProgram(record.pid); }

bool LeftJobRelease::Done() const {
    const bool accountGone = account == 0 || account == VTBOX_E_FTP_ACCOUNT_FAILED || account == VTBOX_E_STORE_TIMEOUT;
    const bool lockGone = lock == 0 || lock == VTBOX_E_DEVICE_IN_USE || lock == VTBOX_E_STORE_TIMEOUT;
    return accountGone && lockGone;
}

LeftJobRelease ReleaseLeftJob(VTMFPSESSION *own, const char *password, const JobRecord &record) {
    // The dead job's web session still holds the lock and the account: they
    // are released in its name. The lock first: the account is what ties the
    // session to the job (CheckLeftJob), so it goes only once the lock has,
    // and a release the device refuses can be tried again.
    const uint32_t ownId = own->SessionId;
    own->SessionId = record.sessionId;
    LeftJobRelease release;
    release.lock = vtBoxUnlockUiJob(own, password, record.mode);
    const bool lockGone =
        release.lock == 0 || release.lock == VTBOX_E_DEVICE_IN_USE || release.lock == VTBOX_E_STORE_TIMEOUT;
    release.account = lockGone ? vtBoxDeleteFTPAccount(own, password) : release.lock;
    own->SessionId = ownId;
    return release;
}

LeftJobCheck CheckLeftJob(VTMFPSESSION *own, const char *password, const JobRecord &record) {
    const std::string session = "session " + std::to_string(record.sessionId);
    LeftJobCheck check;
    if (record.login.empty()) {
        check.tie = LeftJobTie::Untied;
        check.found =
            "the record names " + session + " but no FTP account, so nothing shows that the session is still the job's";
        return check;
    }
    const uint32_t ownId = own->SessionId;
    own->SessionId = record.sessionId;
    char login[256] = {};
    check.code = vtBoxCreateFTPAccount(own, password, login);
    own->SessionId = ownId;
    login[sizeof login - 1] = '\0';
    switch (check.code) {
    case 0:
        if (record.login == login) {
            check.tie = LeftJobTie::Tied;
            return check;
        }
        check.tie = LeftJobTie::Untied;
        check.found = session + " now has the FTP account " +
                      (RecordableLogin(login) ? std::string(login) : std::string("of another name")) +
                      ", not the job's " + record.login + ": the number has been given to another job";
        return check;
    case VTBOX_E_STORE_TIMEOUT:
        check.tie = LeftJobTie::Gone;
        check.found = "the device has ended " + session + ", and with it the job's lock and FTP account";
        return check;
    case VTBOX_E_DEVICE_IN_USE:
        check.tie = LeftJobTie::Untied;
        check.found = "another session than " + session + " holds the device's lock";
        return check;
    case VTBOX_E_FTP_ACCOUNT_FAILED:
        check.tie = LeftJobTie::Untied;
        check.found = "another session than " + session + " has the device's FTP account";
        return check;
    default: return check;
    }
}

}  // namespace vtjobs
