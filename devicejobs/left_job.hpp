// Releasing what a job that no longer runs left on a device: the temporary
// FTP account and the panel lock that its web session still holds, released
// in that session's name from a session of our own.
#pragma once

#include <cstdint>

#include "job_record.hpp"
#include "vtBoxBRD.h"

namespace vtjobs {

// True when the job of record may be released by someone else: no program of
// ours runs it any more.
bool JobHasEnded(const JobRecord &record);

struct LeftJobRelease {
    uint32_t account = 0;  // deleting the FTP account
    uint32_t lock = 0;     // unlocking in the job's mode
    bool WrongPassword() const { return account == VTBOX_E_WRONG_PASSWORD || lock == VTBOX_E_WRONG_PASSWORD; }
    // Each step worked or found nothing left: no account of the job's session
    // is left, and that session holds no lock (or has ended: the device's
    // idle time-out came first).
    bool Done() const;
    // The job had left something that this release took away.
    bool ReleasedSomething() const { return account == 0 || lock == 0; }
};

// own is an open session of ours on the device (its own session number is
// put back afterwards); the release proves the password.
LeftJobRelease ReleaseLeftJob(VTMFPSESSION *own, const char *password, const JobRecord &record);

}  // namespace vtjobs
