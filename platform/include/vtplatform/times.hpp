// Calendar times: SYSTEMTIME, FILETIME and Unix seconds.
#pragma once

#include <cstdint>

#include "vtplatform.h"

namespace vt {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochDifferenceSeconds = 11644473600LL;

// Unix seconds (UTC) to a SYSTEMTIME in UTC, by way of a FILETIME. Times
// before 1601 cannot be expressed and give false (the record is zeroed).
bool UnixTimeToSystemTime(int64_t seconds, SYSTEMTIME *out);

bool FileTimeToSystemTime(const FILETIME *in, SYSTEMTIME *out);
bool SystemTimeToFileTime(const SYSTEMTIME *in, FILETIME *out);

uint64_t FileTimeToTicks(const FILETIME &ft);
FILETIME TicksToFileTime(uint64_t ticks);

// Unix time (seconds and nanoseconds) to FILETIME and back; false when out of
// range.
bool UnixToFileTime(int64_t seconds, uint32_t nanoseconds, FILETIME *out);
int64_t FileTimeToUnix(const FILETIME &ft);

// Now, in UTC and in local time.
void GetSystemTime(SYSTEMTIME *out);
void GetLocalTime(SYSTEMTIME *out);

// Local time's offset from UTC in minutes (east positive) at the given Unix time.
int LocalUtcOffsetMinutes(int64_t unix_seconds);

}  // namespace vt
