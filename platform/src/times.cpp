#include "vtplatform/times.hpp"

#include <cstring>
#include <ctime>

namespace vt {

namespace {
constexpr uint64_t kTicksPerSecond = 10000000ULL;
constexpr int64_t kSecondsPerDay = 86400;

// Days since 1970-01-01 for a civil date (proleptic Gregorian), and back.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t *y, unsigned *m, unsigned *d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

// Days since 1601-01-01 of 1970-01-01.
constexpr int64_t kDays1601To1970 = 134774;

void SplitUnix(int64_t secs, uint32_t millis, SYSTEMTIME *out) {
    int64_t days = secs / kSecondsPerDay;
    int64_t rem = secs % kSecondsPerDay;
    if (rem < 0) {
        rem += kSecondsPerDay;
        --days;
    }
    int64_t y;
    unsigned m, d;
    CivilFromDays(days, &y, &m, &d);
    out->wYear = static_cast<WORD>(y);
    out->wMonth = static_cast<WORD>(m);
    out->wDay = static_cast<WORD>(d);
    // 1970-01-01 was a Thursday (4).
    int64_t dow = (days + 4) % 7;
    if (dow < 0) dow += 7;
    out->wDayOfWeek = static_cast<WORD>(dow);
    out->wHour = static_cast<WORD>(rem / 3600);
    out->wMinute = static_cast<WORD>((rem % 3600) / 60);
    out->wSecond = static_cast<WORD>(rem % 60);
    out->wMilliseconds = static_cast<WORD>(millis);
}
}  // namespace

uint64_t FileTimeToTicks(const FILETIME &ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME TicksToFileTime(uint64_t ticks) {
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

bool FileTimeToSystemTime(const FILETIME *in, SYSTEMTIME *out) {
    if (!in || !out) return false;
    uint64_t ticks = FileTimeToTicks(*in);
    // FILETIME values with the top bit set are not valid times.
    if (ticks >> 63) return false;
    int64_t secs1601 = static_cast<int64_t>(ticks / kTicksPerSecond);
    uint32_t millis = static_cast<uint32_t>((ticks % kTicksPerSecond) / 10000);
    SplitUnix(secs1601 - kEpochDifferenceSeconds, millis, out);
    return true;
}

bool SystemTimeToFileTime(const SYSTEMTIME *in, FILETIME *out) {
    if (!in || !out) return false;
    if (in->wYear < 1601 || in->wYear > 30827 || in->wMonth < 1 || in->wMonth > 12 || in->wDay < 1 || in->wDay > 31 ||
        in->wHour > 23 || in->wMinute > 59 || in->wSecond > 59 || in->wMilliseconds > 999)
        return false;
    static const unsigned kDaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (in->wYear % 4 == 0 && in->wYear % 100 != 0) || in->wYear % 400 == 0;
    unsigned maxDay = kDaysIn[in->wMonth - 1] + ((in->wMonth == 2 && leap) ? 1 : 0);
    if (in->wDay > maxDay) return false;
    int64_t days = DaysFromCivil(in->wYear, in->wMonth, in->wDay) + kDays1601To1970;
    uint64_t secs =
        static_cast<uint64_t>(days) * kSecondsPerDay + in->wHour * 3600ULL + in->wMinute * 60ULL + in->wSecond;
    *out = TicksToFileTime(secs * kTicksPerSecond + in->wMilliseconds * 10000ULL);
    return true;
}

bool UnixToFileTime(int64_t seconds, uint32_t nanoseconds, FILETIME *out) {
    if (!out) return false;
    int64_t secs1601 = seconds + kEpochDifferenceSeconds;
    if (secs1601 < 0 || static_cast<uint64_t>(secs1601) > (INT64_MAX / kTicksPerSecond) - 1) return false;
    *out = TicksToFileTime(static_cast<uint64_t>(secs1601) * kTicksPerSecond + nanoseconds / 100);
    return true;
}

int64_t FileTimeToUnix(const FILETIME &ft) {
    return static_cast<int64_t>(FileTimeToTicks(ft) / kTicksPerSecond) - kEpochDifferenceSeconds;
}

bool UnixTimeToSystemTime(int64_t seconds, SYSTEMTIME *out) {
    if (!out) return false;
    FILETIME ft;
    if (!UnixToFileTime(seconds, 0, &ft)) {
        std::memset(out, 0, sizeof *out);
        return false;
    }
    return FileTimeToSystemTime(&ft, out);
}

void GetSystemTime(SYSTEMTIME *out) {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    SplitUnix(ts.tv_sec, static_cast<uint32_t>(ts.tv_nsec / 1000000), out);
}

void GetLocalTime(SYSTEMTIME *out) {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    SplitUnix(ts.tv_sec + LocalUtcOffsetMinutes(ts.tv_sec) * 60LL, static_cast<uint32_t>(ts.tv_nsec / 1000000), out);
}

int LocalUtcOffsetMinutes(int64_t unixSeconds) {
    time_t t = static_cast<time_t>(unixSeconds);
    struct tm local;
    if (!localtime_r(&t, &local)) return 0;
    return static_cast<int>(local.tm_gmtoff / 60);
}

}  // namespace vt
