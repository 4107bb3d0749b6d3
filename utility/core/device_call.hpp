// One engine call of the device session on a thread of its own, so that the
// window that asked for it stays live (moves, repaints, cancels) however long
// the device takes to answer.
//
// The call gets a stop event: a call on an open session makes it the
// session's request cancel event, so that Stop ends the request in flight
// within about a second with VTBOX_E_CANCELLED. A call that cannot be
// cancelled (opening the connection: no session exists yet to take the
// event) works only on what the call itself owns, and is left to end on its
// own when the caller stops waiting.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "vtBoxBRD.h"

namespace vtutil {

// What a slow call waits for; the wait dialog names it.
// Close: the session left open before a new one; EndSession: the session
// ended at exit, at a change of device or between automatic runs.
enum class DeviceWait { Connect, Login, BoxList, Close, Lock, DeleteAll, Unlock, EndSession };

// How one call ended.
struct DeviceCallResult {
    uint32_t code = 0;     // the engine's result; VTBOX_E_CANCELLED when stopped
    std::string detail;    // the engine's detail of a failure (its last error text)
    bool stopped = false;  // the user stopped waiting
};

class DeviceCall {
public:
    // The call, given the stop event; it returns the engine's result code.
    using Call = std::function<uint32_t(HANDLE stop)>;

    // Starts call on a thread of its own at once. With a session (open), the
    // stop event is its request cancel event for the call. Without one, the
    // call is left running once Stop was asked, so it must touch only what
    // it owns.
    DeviceCall(VTMFPSESSION *session, Call call);
    // Waits for a call on a session (a second at most once stopped); a call
    // without one that was left ends on its own, and its thread with it.
    ~DeviceCall();
    DeviceCall(const DeviceCall &) = delete;
    DeviceCall &operator=(const DeviceCall &) = delete;

    // Whether the call has returned (or was left after Stop).
    bool Finished() const;
    // Asks the call to end: sets its stop event. A call without a session
    // counts as finished from here on, stopped.
    void Stop();
    bool Stopping() const;
    // Once Finished: how the call ended.
    DeviceCallResult Result() const;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    bool leavable_;
    std::thread worker_;
};

}  // namespace vtutil
