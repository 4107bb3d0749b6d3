// What bounds a wait on the network: the time-out of its kind, and the cancel
// events that end it early.
//
// A long job's cancel event is made current on its thread for the job's
// length (CancelScope); every request and transfer made on that thread ends
// with 995 within about a second of the event being signalled, whatever the
// device does. A session may carry a cancel event of its own as well
// (vtBoxSetRequestCancelEvent), which ends its box service requests alike.
#pragma once

#include <cstdint>

#include "vtplatform.h"

namespace vtbox {

// The cancel event current on this thread, or null.
HANDLE CurrentCancelEvent();

// Makes cancelEvent current on this thread while it lives.
class CancelScope {
public:
    explicit CancelScope(HANDLE cancelEvent);
    ~CancelScope();
    CancelScope(const CancelScope &) = delete;
    CancelScope &operator=(const CancelScope &) = delete;

private:
    HANDLE previous_;
};

// True when event is set and signalled (a wait of 0 ms).
bool IsSignalled(HANDLE event);

// A network time-out as used: the designed value, or less when
// $VTBOX_NETWORK_TIMEOUT_MS (a positive number of milliseconds) is set, so
// that tests of a silent or frozen device need not wait minutes. Unset, the
// designed values hold.
uint32_t NetworkTimeoutMs(uint32_t designedMs);
// Tests set the cap without the environment (0: the designed values).
void SetNetworkTimeoutCapForTesting(uint32_t ms);

}  // namespace vtbox
