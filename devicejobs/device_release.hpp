// Giving the device back at the end of a job: the temporary FTP account
// deleted and the panel unlocked, each only if the job made it. A device
// that does not answer must not hold the program for the length of the
// release pages' own time-outs (minutes each): the release is tried again,
// in rounds with growing pauses, for a bounded time, and a stop event ends
// it at once, the request in flight included.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "vtBoxBRD.h"

namespace vtjobs {

class Deadline;

// How long a release is tried: $VTBOX_RELEASE_SECONDS (1 to 3600), else 60.
unsigned ReleaseSeconds();

enum class ReleaseStep { DeleteAccount, Unlock };

// One step of the release: still pending when it never worked, with the code
// and detail of its failure (a cut attempt says less than the failure before
// it, so that one is kept).
struct ReleaseStepResult {
    bool pending = false;
    uint32_t code = 0;
    std::string detail;
};

struct ReleaseOutcome {
    ReleaseStepResult account;  // deleting the FTP account
    ReleaseStepResult lock;     // unlocking the panel
    bool Released() const { return !account.pending && !lock.pending; }
    // The first pending step's code (the account's before the lock's); 0 when released.
    uint32_t FirstCode() const;
};

// The release of the device that session (open) holds in lock mode mode.
// From its construction, stop (a manual-reset event the caller owns and may
// set at any time to stop waiting) is the session's request cancel event, and
// the object sets it itself once bound has passed, until it ends: what the
// caller does with the session meanwhile (closing it) is bounded too. stop
// stays the session's request cancel event afterwards; a caller that goes on
// using the session gives it another one (vtBoxSetRequestCancelEvent).
class DeviceRelease {
public:
    DeviceRelease(VTMFPSESSION *session, const char *password, uint32_t mode, HANDLE stop, std::chrono::seconds bound);
    ~DeviceRelease();
    DeviceRelease(const DeviceRelease &) = delete;
    DeviceRelease &operator=(const DeviceRelease &) = delete;

    // Deletes the account when account is set and unlocks when locked is
    // set, trying until both are done or stop is signalled. watch, when
    // given, is told before each attempt which step it makes. A step found
    // done by an earlier attempt whose reply was lost counts as done, and so
    // do both when the device has ended the job's web session by itself (its
    // lock and account went with it).
    ReleaseOutcome Run(bool account, bool locked, const std::function<void(ReleaseStep)> &watch = {});

private:
    VTMFPSESSION *session_;
    const char *password_;
    uint32_t mode_;
    HANDLE stop_;
    std::unique_ptr<Deadline> deadline_;
};

}  // namespace vtjobs
