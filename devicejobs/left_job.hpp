// Releasing what a job that no longer runs left on a device: the temporary
// FTP account and the panel lock that its web session still holds, released
// in that session's name from a session of our own.
#pragma once

#include <cstdint>
#include <string>

#include "job_record.hpp"
#include "vtBoxBRD.h"

namespace vtjobs {

// True when the job of record may be released by someone else: no program of
// ours runs it any more.
bool JobHasEnded(const JobRecord &record);

struct LeftJobRelease {
    uint32_t account = 0;  // deleting the FTP account (the lock's code when the lock stays: not tried)
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

// Whether the web session a record names is still its job's. The number
// alone does not say: a restarted device numbers its sessions again, and
// another computer's job may be given the number. The FTP account does: the
// session is asked for its account (creating one asks for the account it
// has), and only the login name the record keeps ties it to the job.
enum class LeftJobTie {
    Tied,     // the session has the job's FTP account: releasing it releases the job
    Gone,     // the device no longer has the session, nor its lock and account
    Untied,   // the session, or what holds the device, is not the job's (found says what)
    Unknown,  // the device did not say (code)
};
struct LeftJobCheck {
    LeftJobTie tie = LeftJobTie::Unknown;
    uint32_t code = 0;
    std::string found;  // what the device showed, in words
};
// own as for ReleaseLeftJob. A session that holds no account yet gets one,
// of its own, which its job finds made when it asks for it and which goes
// with the session.
LeftJobCheck CheckLeftJob(VTMFPSESSION *own, const char *password, const JobRecord &record);

}  // namespace vtjobs
