#include <gtest/gtest.h>

#include "vtplatform/times.hpp"

namespace {

std::string Show(const SYSTEMTIME &t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u.%03u dow%u", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond, t.wMilliseconds, t.wDayOfWeek);
    return buf;
}

TEST(Times, UnixZeroIsTheEpoch) {
    SYSTEMTIME t;
    ASSERT_TRUE(vt::UnixTimeToSystemTime(0, &t));
    EXPECT_EQ(Show(t), "1970-01-01 00:00:00.000 dow4");
}

TEST(Times, KnownDatesAndLeapDays) {
    SYSTEMTIME t;
    ASSERT_TRUE(vt::UnixTimeToSystemTime(1700000000, &t));
    EXPECT_EQ(Show(t), "2023-11-14 22:13:20.000 dow2");
    ASSERT_TRUE(vt::UnixTimeToSystemTime(951782400, &t));  // 2000-02-29
    EXPECT_EQ(Show(t), "2000-02-29 00:00:00.000 dow2");
    ASSERT_TRUE(vt::UnixTimeToSystemTime(2147483647, &t));
    EXPECT_EQ(Show(t), "2038-01-19 03:14:07.000 dow2");
}

TEST(Times, NegativeValuesAreBefore1970) {
    SYSTEMTIME t;
    ASSERT_TRUE(vt::UnixTimeToSystemTime(-1, &t));
    EXPECT_EQ(Show(t), "1969-12-31 23:59:59.000 dow3");
    ASSERT_TRUE(vt::UnixTimeToSystemTime(-2147483648LL, &t));
    EXPECT_EQ(Show(t), "1901-12-13 20:45:52.000 dow5");
    // Before 1601 there is no FILETIME: refused, record zeroed.
    EXPECT_FALSE(vt::UnixTimeToSystemTime(-11644473601LL, &t));
    EXPECT_EQ(t.wYear, 0);
}

TEST(Times, SystemTimeAndFileTimeRoundTrip) {
    SYSTEMTIME in{2024, 2, 0, 29, 13, 45, 30, 250};
    FILETIME ft;
    ASSERT_TRUE(vt::SystemTimeToFileTime(&in, &ft));
    SYSTEMTIME out;
    ASSERT_TRUE(vt::FileTimeToSystemTime(&ft, &out));
    EXPECT_EQ(Show(out), "2024-02-29 13:45:30.250 dow4");
    EXPECT_EQ(vt::FileTimeToUnix(ft), 1709214330);

    SYSTEMTIME bad{2023, 2, 0, 29, 0, 0, 0, 0};  // no 29 February in 2023
    EXPECT_FALSE(vt::SystemTimeToFileTime(&bad, &ft));
    FILETIME epoch1601{0, 0};
    ASSERT_TRUE(vt::FileTimeToSystemTime(&epoch1601, &out));
    EXPECT_EQ(Show(out), "1601-01-01 00:00:00.000 dow1");
}

}  // namespace
