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
    // are released in its name.
    const uint32_t ownId = own->SessionId;
    own->SessionId = record.sessionId;
    LeftJobRelease release;
    release.account = vtBoxDeleteFTPAccount(own, password);
    release.lock = vtBoxUnlockUiJob(own, password, record.mode);
    own->SessionId = ownId;
    return release;
}

}  // namespace vtjobs
