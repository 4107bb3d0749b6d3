#include "session/waits.hpp"

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace vtbox {

namespace {
thread_local HANDLE t_cancel = nullptr;
}  // namespace

HANDLE CurrentCancelEvent() { return t_cancel; }

CancelScope::CancelScope(HANDLE cancelEvent) : previous_(t_cancel) { t_cancel = cancelEvent; }
CancelScope::~CancelScope() { t_cancel = previous_; }

bool IsSignalled(HANDLE event) { return event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

namespace {
uint32_t CapFromEnvironment() {
    const char *text = std::getenv("VTBOX_NETWORK_TIMEOUT_MS");
    if (!text || !*text) return 0u;
    char *end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || text[0] == '-' || v == 0 || v > 0xFFFFFFFFul) return 0u;
    return static_cast<uint32_t>(v);
}

std::atomic<uint32_t> &Cap() {
    static std::atomic<uint32_t> cap{CapFromEnvironment()};
    return cap;
}
}  // namespace

uint32_t NetworkTimeoutMs(uint32_t designedMs) {
    uint32_t cap = Cap();
    return cap != 0 && cap < designedMs ? cap : designedMs;
}

void SetNetworkTimeoutCapForTesting(uint32_t ms) { Cap() = ms; }

}  // namespace vtbox
