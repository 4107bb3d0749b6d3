#include "device_release.hpp"

#include <algorithm>
#include <cstdlib>

#include "deadline.hpp"

namespace vtjobs {

namespace {

constexpr unsigned kDefaultReleaseSeconds = 60;
// An hour: beyond it the device has long ended the job by its own idle time.
constexpr unsigned long kMaxReleaseSeconds = 3600;
constexpr DWORD kFirstPauseMs = 500;
constexpr DWORD kLongestPauseMs = 8000;

constexpr uint32_t kDeviceBusy = VTBOX_E_DEVICE_IN_USE;            // unlocking a mode not held (any more)
constexpr uint32_t kFtpAccountError = VTBOX_E_FTP_ACCOUNT_FAILED;  // deleting an account that is gone
// The device no longer has the web session (Result 202): it ended it by
// itself, and with it the lock and the FTP account, so nothing is left to
// release.
constexpr uint32_t kSessionGone = VTBOX_E_STORE_TIMEOUT;

}  // namespace

unsigned ReleaseSeconds() {
    if (const char *text = std::getenv("VTBOX_RELEASE_SECONDS"); text && *text) {
        char *end = nullptr;
        unsigned long v = std::strtoul(text, &end, 10);
        if (*end == '\0' && v >= 1 && v <= kMaxReleaseSeconds) return static_cast<unsigned>(v);
    }
    return kDefaultReleaseSeconds;
}

uint32_t ReleaseOutcome::FirstCode() const {
    if (account.pending) return account.code;
    if (lock.pending) return lock.code;
    return 0;
}

DeviceRelease::DeviceRelease(VTMFPSESSION *session, const char *password, uint32_t mode, HANDLE stop,
                             std::chrono::seconds bound)
    : session_(session), password_(password), mode_(mode), stop_(stop),
      deadline_(std::make_unique<Deadline>(stop, bound)) {
    vtBoxSetRequestCancelEvent(session_, stop_);
}

DeviceRelease::~DeviceRelease() = default;

ReleaseOutcome DeviceRelease::Run(bool account, bool locked, const std::function<void(ReleaseStep)> &watch) {
    ReleaseOutcome outcome;
    outcome.account.pending = account;
    outcome.lock.pending = locked;
    // Rounds of one attempt per step still pending, with growing pauses
    // between them. A retry may find a step done by an attempt whose reply
    // was lost: that counts as done.
    struct Step {
        ReleaseStep which;
        ReleaseStepResult &result;
        uint32_t doneOnRetry;
    };
    Step steps[] = {
        {ReleaseStep::DeleteAccount, outcome.account, kFtpAccountError},
        {ReleaseStep::Unlock, outcome.lock, kDeviceBusy},
    };
    DWORD pauseMs = kFirstPauseMs;
    for (int round = 0;; ++round) {
        bool left = false;
        for (Step &step : steps) {
            if (!step.result.pending) continue;
            if (watch) watch(step.which);
            const uint32_t rc = step.which == ReleaseStep::DeleteAccount ? vtBoxDeleteFTPAccount(session_, password_)
                                                                         : vtBoxUnlockUiJob(session_, password_, mode_);
            if (rc == 0 || rc == kSessionGone || (round > 0 && rc == step.doneOnRetry)) {
                step.result.pending = false;
                continue;
            }
            // A cancelled attempt says less than the failure before it.
            if (rc != VTBOX_E_CANCELLED || step.result.code == 0) {
                step.result.code = rc;
                step.result.detail = vtBoxGetLastErrorText();
            }
            left = true;
        }
        if (!left || WaitForSingleObject(stop_, pauseMs) == WAIT_OBJECT_0) break;
        pauseMs = std::min<DWORD>(pauseMs * 2, kLongestPauseMs);
    }
    return outcome;
}

}  // namespace vtjobs
