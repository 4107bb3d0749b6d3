// The current time of the automatic schedule and its log: the system's, or a
// stand-in put in its place (tests move one by hand, minute by minute).
#pragma once

#include <cstdint>

namespace vtutil {

class Clock {
public:
    virtual ~Clock() = default;
    // The present moment in seconds since 1970 (UTC).
    virtual int64_t Now() const = 0;
};

// The process's clock: the system clock unless another was put in place.
const Clock &CurrentClock();

// Puts clock in place of the system clock until it is replaced again; null
// puts the system clock back. The caller keeps clock alive meanwhile. Called
// on the user-interface thread only, like every reader of the clock.
void ReplaceClock(const Clock *clock);

}  // namespace vtutil
