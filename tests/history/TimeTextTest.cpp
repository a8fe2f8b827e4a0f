#include "ScopedTimeZone.h"
#include "base/TimeText.h"

#include <gtest/gtest.h>

using namespace vantor;
using vantor::test::ScopedTimeZone;

TEST(TimeText, TimestampsInUtcAndBack)
{
    ScopedTimeZone tz("UTC0");
    EXPECT_EQ(formatTimestamp(1110204309), "2005-03-07 14:05:09");
    EXPECT_EQ(formatTimestamp(0), "1970-01-01 00:00:00");
    EXPECT_EQ(formatTimestamp(INT32_MAX), "2038-01-19 03:14:07");
    EXPECT_EQ(parseTimestamp("2005-03-07 14:05:09"), 1110204309);
    EXPECT_EQ(parseTimestamp("2005-3-7 14:5:9"), 1110204309);
    EXPECT_EQ(parseTimestamp(" 2005-03-07  14:05:09"), 1110204309);
    for (const char* bad : {"", "2005-03-07", "2005/03/07 14:05:09", "2005-03-07 14-05-09", "x", "2005-03-07 14:05:"})
        EXPECT_FALSE(parseTimestamp(bad).has_value()) << bad;
}

TEST(TimeText, MomentsBefore1970HaveATextToo)
{
    ScopedTimeZone tz("UTC0");
    EXPECT_EQ(formatTimestamp(-1), invalidTimestampText);
    EXPECT_EQ(formatTimestamp(INT32_MIN), invalidTimestampText);
    LocalTimeCache cache;
    EXPECT_EQ(cache.format(-5), invalidTimestampText);
    EXPECT_FALSE(cache.localSeconds(-5).has_value());
}

TEST(TimeText, Durations)
{
    EXPECT_EQ(formatDuration(3725), "01:02:05");
    EXPECT_EQ(formatDuration(3600), "01:00:00");
    EXPECT_EQ(formatDuration(60), "00:01:00");
    EXPECT_EQ(formatDuration(59), "00:00:59");
    EXPECT_EQ(formatDuration(0), "00:00:00");
    EXPECT_EQ(formatDuration(123 * 3600 + 4 * 60 + 5), "123:04:05");
    EXPECT_EQ(formatDuration(UINT32_MAX), "1193046:28:15");
}

// When the clocks go back, two moments an hour apart read the same: the text alone cannot find a
// session again, which is why the history window keeps each session's start with its row.
TEST(TimeText, TheRepeatedHourReadsTwice)
{
#ifdef _WIN32
    GTEST_SKIP() << "the Windows C runtime takes no daylight-saving rules from TZ (it applies US rules)";
#endif
    ScopedTimeZone tz(vantor::test::berlinRules);
    const int64_t summer = 1130634000 - 3600;  // 2005-10-30 00:00 UTC, 02:00 summer time
    const int64_t winter = 1130634000;  // 01:00 UTC, 02:00 winter time
    EXPECT_EQ(formatTimestamp(summer), "2005-10-30 02:00:00");
    EXPECT_EQ(formatTimestamp(winter), "2005-10-30 02:00:00");
    const auto back = parseTimestamp("2005-10-30 02:00:00");
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(*back == summer || *back == winter);
}

// The cache must give formatTimestamp's text for every moment, across changes of the offset on a
// quarter hour, on a half hour (Lord Howe), at an odd second, and in zones with odd offsets.
TEST(TimeText, LocalTimeCacheAgreesWithThePlatform)
{
    const char* zones[] = {
        "UTC0",
        vantor::test::berlinRules,
        "EST5EDT,M3.2.0,M11.1.0",
        "<+1030>-10:30<+11>-11,M10.1.0,M4.1.0",
        "<+0545>-5:45",
        "<-0044>0:44:30",
        "AAA-1BBB,M3.5.0/2:07:31,M10.5.0/3:07:31",
    };
    for (const char* zone : zones) {
        ScopedTimeZone tz(zone);
        LocalTimeCache cache;
        // Two years in steps that fall on every second of the quarter hour over time.
        for (int64_t t = 1104537600; t < 1104537600 + 2 * 366 * 86400LL; t += 997)
            ASSERT_EQ(cache.format(t), formatTimestamp(t)) << zone << " at " << t;
        // Every second of the nights of the European changes of 2005 (and of the odd-second rule).
        for (int64_t night : {1111881600LL, 1130630400LL})
            for (int64_t t = night; t < night + 4 * 3600; ++t)
                ASSERT_EQ(cache.format(t), formatTimestamp(t)) << zone << " at " << t;
    }
}
