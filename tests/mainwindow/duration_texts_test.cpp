#include "mainwindow/DurationTexts.h"

#include <gtest/gtest.h>

namespace olvo
{

TEST (DurationTexts, MinutesAsText)
{
    const struct { int64_t minutes; const char* text; } table[] {
        { -5, "-5 min" }, { 0, "0 min" }, { 1, "1 min" }, { 60, "60 min" }, { 61, "1h 01m" }, { 90, "1h 30m" },
        { 120, "2h 00m" }, { 9998, "166h 38m" }, { 9999, "No Limit" }, { 100000, "No Limit" },
        { std::numeric_limits<int64_t>::max(), "No Limit" }, { std::numeric_limits<int64_t>::min(),
                                                              "-9223372036854775808 min" },
    };
    for (const auto& row : table)
        EXPECT_EQ (formatDurationMinutes (row.minutes), row.text) << row.minutes;
}

TEST (DurationTexts, TextAsMinutes)
{
    const struct { const char* text; int minutes; } table[] {
        { "", 0 }, { "No Limit", 9999 }, { "no limit", 0 }, { "No Limit ", 0 }, { "1h 30m", 90 }, { "2H05m", 125 },
        { "h 15m", 15 }, { "3h", 180 }, { "45 min", 45 }, { "abc", 0 }, { "1h 2h", 62 }, { " -5 min", -5 },
        { "+7", 7 }, { "1h -30m", 30 },
        // Numbers saturate instead of overflowing, and so does the total.
        { "99999999999999999999", std::numeric_limits<int32_t>::max() },
        { "-99999999999999999999", std::numeric_limits<int32_t>::min() },
        { "99999999999h 5m", std::numeric_limits<int32_t>::max() },
        { "-99999999999h", std::numeric_limits<int32_t>::min() },
        { "2147483647h 2147483647m", std::numeric_limits<int32_t>::max() },
    };
    for (const auto& row : table)
        EXPECT_EQ (parseDurationMinutes (juce::String::fromUTF8 (row.text)), row.minutes) << row.text;

    // Characters, not bytes: the letter after a multi-byte character is still found.
    EXPECT_EQ (parseDurationMinutes (juce::String::fromUTF8 ("2\xc3\xa9h 3m")), 123);
}

TEST (DurationTexts, EveryTextOfOneToNoLimitReadsBack)
{
    for (int minutes = 1; minutes <= 9999; ++minutes)
        ASSERT_EQ (parseDurationMinutes (formatDurationMinutes (minutes)), minutes) << formatDurationMinutes (minutes);
}

TEST (DurationTexts, TheWindowsRangeIsTheFirmwaresNarrowedByTheServer)
{
    GroupLimits open;            // 1 .. 9999: narrows nothing
    GroupLimits narrow;
    narrow.durationMin = 5;
    narrow.durationMax = 120;

    const struct { bool deviceOpen; FirmwareVersion version; int group; GroupLimits limits; Range range; } table[] {
        { false, { 1, 2, 0 }, 0, open, { 0, 0 } },           // no device: nothing to offer
        { true, { 2, 0, 0 }, 0, open, { 1, 0 } },            // a major other than 1: none (the limits make it 1..0)
        { true, { 1, 0, 13 }, 0, open, { 1, 9999 } },
        { true, { 1, 0, 13 }, 1, open, { 1, 30 } },
        { true, { 1, 0, 13 }, 2, open, { 1, 0 } },
        { true, { 1, 0, 14 }, 0, open, { 30, 30 } },
        { true, { 1, 0, 14 }, 1, open, { 30, 30 } },
        { true, { 1, 0, 14 }, 2, open, { 9999, 9999 } },
        { true, { 1, 1, 5 }, 0, open, { 1, 9999 } },
        { true, { 1, 1, 5 }, 1, open, { 1, 255 } },
        { true, { 1, 1, 5 }, 2, open, { 9999, 9999 } },
        { true, { 1, 2, 0 }, 2, open, { 1, 9999 } },
        { true, { 1, 7, 0 }, 1, open, { 1, 255 } },
        { true, { 1, 1, 5 }, 1, narrow, { 5, 120 } },
        { true, { 1, 0, 14 }, 0, narrow, { 30, 30 } },
        { true, { 1, 0, 14 }, 2, narrow, { 9999, 120 } },    // the server never widens: an empty range
    };

    for (const auto& row : table)
    {
        const auto range = windowDurationRange (row.deviceOpen, row.version, row.group, row.limits);
        EXPECT_EQ (range, row.range) << row.version.major << "." << row.version.minor << "." << row.version.tertiary
                                     << " group " << row.group << ": " << range.lo << ".." << range.hi;
    }
}

TEST (DurationTexts, TheListsOfferTheStandardDurationsWithinTheRange)
{
    EXPECT_EQ (durationsWithin ({ 1, 9999 }), std::vector<int> (standardDurations.begin(), standardDurations.end()));
    EXPECT_EQ (durationsWithin ({ 30, 30 }), std::vector<int> { 30 });
    EXPECT_EQ (durationsWithin ({ 9999, 9999 }), std::vector<int> { 9999 });
    EXPECT_EQ (durationsWithin ({ 0, 0 }), std::vector<int> {});
    EXPECT_EQ (durationsWithin ({ 9999, 120 }), std::vector<int> {});

    // Firmware 1.1.x with the server's maximum at 120 minutes: the twenty entries from 1 to 120.
    const auto entries = durationsWithin ({ 1, 120 });
    EXPECT_EQ (entries.size(), 20u);
    EXPECT_EQ (entries.front(), 1);
    EXPECT_EQ (entries.back(), 120);
}

} // namespace olvo
