#include "clock.hpp"

#include <ctime>

namespace vtutil {

namespace {

class SystemClock final : public Clock {
public:
    int64_t Now() const override { return static_cast<int64_t>(std::time(nullptr)); }
};

const SystemClock kSystemClock;
const Clock *g_clock = &kSystemClock;

}  // namespace

const Clock &CurrentClock() { return *g_clock; }

void ReplaceClock(const Clock *clock) { g_clock = clock ? clock : &kSystemClock; }

}  // namespace vtutil
