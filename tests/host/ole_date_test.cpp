#include <gtest/gtest.h>

#include <time.h>

#include <cstdint>

#include "event/ole_date.h"

namespace {

double Unix(int32_t secs, int32_t usecs = 0) {
    double d = -1.0;
    qz45::UnixTimeToOleDate(secs, usecs, &d);
    return d;
}

double Packed(int32_t fast, int32_t slow) {
    double d = -1.0;
    qz45::PackedTimeToOleDate(fast, slow, &d);
    return d;
}

}  // namespace

TEST(UnixTimeToOleDate, NonPositiveSecondsAreNoTime) {
    EXPECT_EQ(Unix(0), 0.0);
    EXPECT_EQ(Unix(0, 500000), 0.0);
    EXPECT_EQ(Unix(-1), 0.0);
    EXPECT_EQ(Unix(INT32_MIN, 999999), 0.0);
}

TEST(UnixTimeToOleDate, KnownInstants) {
    EXPECT_EQ(Unix(1), 25569 + 1 / 86400.0);
    EXPECT_EQ(Unix(946684800), 36526.0);  // 2000-01-01
    EXPECT_EQ(Unix(946728000), 36526.5);
    EXPECT_EQ(Unix(946684799), 36525 + 86399 / 86400.0);
    EXPECT_EQ(Unix(951782400), 36585.0);  // 2000-02-29
    EXPECT_EQ(Unix(951868800), 36586.0);  // 2000-03-01
    EXPECT_EQ(Unix(INT32_MAX), 50424 + 11647 / 86400.0);  // 2038-01-19 03:14:07
}

TEST(UnixTimeToOleDate, MicrosecondsMoveTheDateByTheirOwnAmount) {
    EXPECT_DOUBLE_EQ(Unix(946684800, 500000), 36526 + 0.5 / 86400);
    EXPECT_DOUBLE_EQ(Unix(946684800, -500000), 36526 - 0.5 / 86400);
    EXPECT_DOUBLE_EQ(Unix(946684800, 3000000), 36526 + 3 / 86400.0);
}

// Every day of the 32-bit range against the day count taken from the C
// library's own breakdown: 365 y + (y + 3) / 4 + d + 1.
TEST(UnixTimeToOleDate, AgreesWithTheCalendarOverTheWholeRange) {
    for (int64_t s = 1; s <= INT32_MAX; s += 86400 + 3607) {
        const time_t t = static_cast<time_t>(s);
        struct tm tm;
        ASSERT_NE(gmtime_r(&t, &tm), nullptr);
        const int64_t days = 365 * int64_t{tm.tm_year} + (tm.tm_year + 3) / 4 + tm.tm_yday + 1;
        const double expected =
            days + ((tm.tm_hour * 60 + tm.tm_min) * 60 + tm.tm_sec) / 86400.0;
        ASSERT_EQ(Unix(static_cast<int32_t>(s)), expected) << "secs " << s;
    }
}

TEST(PackedTimeToOleDate, PeriodStartsAndTenths) {
    EXPECT_EQ(Packed(0, 18), 26299.0);  // 1972-01-01
    EXPECT_EQ(Packed(0, 25), 36526.0);  // 2000-01-01
    EXPECT_DOUBLE_EQ(Packed(15, 25), 36526 + 1.5 / 86400);
    EXPECT_DOUBLE_EQ(Packed(631584010, 17), 25569 + 1 / 86400.0);
    EXPECT_EQ(Packed(1262304000, 18), 27760.0);  // runs on into period 19
    EXPECT_EQ(Packed(0, 19), 27760.0);
}

TEST(PackedTimeToOleDate, NegativeMembersAndTimesUpTo1970AreNoTime) {
    EXPECT_EQ(Packed(0, 17), 0.0);
    EXPECT_EQ(Packed(0, 0), 0.0);
    EXPECT_EQ(Packed(-1, 25), 0.0);
    EXPECT_EQ(Packed(0, -1), 0.0);
    EXPECT_EQ(Packed(631584009, 17), 0.0);  // 1970-01-01 00:00:00.9
}

// Past 2038-01-19 03:14:07 the date stays exact: period n begins
// (n - 18) x 1,461 days after 1972-01-01.
TEST(PackedTimeToOleDate, BeyondThe32BitSecondsStaysExact) {
    EXPECT_EQ(Packed(0, 35), 51136.0);                // 2040-01-01
    EXPECT_EQ(Packed(0, 75), 26299.0 + 57 * 1461.0);  // 2200-01-02: 2100 has no leap day
    EXPECT_DOUBLE_EQ(Packed(36000, 35), 51136 + 1 / 24.0);
    const double far = Packed(INT32_MAX, INT32_MAX);
    const double days = 26299.0 + (INT32_MAX - 18.0) * 1461.0 + 2485.0;  // FAST: 2,485 days
    EXPECT_DOUBLE_EQ(far, days + 44364.7 / 86400);
}
