// Keeps the device's web session alive during a long operation: one request
// every five minutes until stopped. Stopping waits for the thread, so no
// request is sent after the operation has returned.
#pragma once

#include <atomic>
#include <cstdint>

#include "vtBoxBRD.h"
#include "vthandles.hpp"

namespace vtbox {

class KeepAlive {
public:
    KeepAlive() = default;
    ~KeepAlive() { Stop(); }
    KeepAlive(const KeepAlive &) = delete;
    KeepAlive &operator=(const KeepAlive &) = delete;

    // False when the thread cannot be started.
    bool Start(const VTMFPSESSION *session);
    void Stop();

    // The period between touches (300,000 ms). Tests shorten it.
    static uint32_t PeriodMs();
    static void SetPeriodMsForTesting(uint32_t ms);

private:
    static DWORD Run(void *self);
    const VTMFPSESSION *session_ = nullptr;
    vt::OwnedHandle stopEvent_;
    vt::OwnedHandle thread_;
    std::atomic<bool> stopping_{false};
};

}  // namespace vtbox
