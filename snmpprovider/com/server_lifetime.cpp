#include "server_lifetime.hpp"

#include <atomic>

namespace kx9 {

namespace {
std::atomic<long> g_liveObjects{0};
std::atomic<long> g_serverLocks{0};
}  // namespace

LiveObject::LiveObject() { ++g_liveObjects; }
LiveObject::LiveObject(const LiveObject &) { ++g_liveObjects; }
LiveObject::~LiveObject() { --g_liveObjects; }

void LockServer(bool lock) {
    if (lock)
        ++g_serverLocks;
    else
        --g_serverLocks;
}

bool CanUnload() { return g_liveObjects == 0 && g_serverLocks == 0; }

}  // namespace kx9
