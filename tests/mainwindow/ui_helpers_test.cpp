#include "mainwindow/UiHelpers.h"

#include <gtest/gtest.h>

namespace olvo
{

TEST (CompareVersion, AgainstOneMinorTertiary)
{
    const struct { const char* version; int minor, tertiary, expected; } table[] {
        { "1.2.0", 2, 0, 0 },
        { "1.2.1", 2, 0, 1 },
        { "1.1.9", 2, 0, -1 },
        { "1.0.14", 0, 14, 0 },
        { "1.0.13", 0, 14, -1 },
        { "2.0.0", 9, 9, 1 },        // the major decides, whatever the rest
        { "0.9.9", 0, 0, -1 },
        { "", 2, 0, 1 },             // fewer than three parts count as newer
        { "1.2", 2, 0, 1 },
        { "1..2", 2, 0, -1 },        // an empty part is still a part, and reads as 0
        { "1.2.0.7", 2, 0, 0 },      // parts after the third are ignored
        { "1.2.x", 2, 0, 0 },        // a part without digits reads as 0
        { " 1.+2.0", 2, 0, 0 },      // atoi's leading spaces and sign
        { "1.2.3abc", 2, 3, 0 },
        { "1.-1.0", 0, 0, -1 },
    };

    for (const auto& row : table)
        EXPECT_EQ (compareVersion (row.version, row.minor, row.tertiary), row.expected)
            << row.version << " against 1." << row.minor << "." << row.tertiary;
}

TEST (CompareVersion, HugeNumbersSaturateInsteadOfOverflowing)
{
    // Read with an overflowing conversion these could wrap to anything; clamped they stay the largest values.
    EXPECT_EQ (compareVersion ("99999999999999999999.0.0", 0, 0), 1);
    EXPECT_EQ (compareVersion ("-99999999999999999999.0.0", 0, 0), -1);
    EXPECT_EQ (compareVersion ("1.99999999999999999999.0", 2, 0), 1);
    EXPECT_EQ (compareVersion ("1.2.99999999999999999999", 2, 0), 1);
    EXPECT_EQ (compareVersion ("1.2.2147483647", 2, 2147483647), 0);
}

} // namespace olvo
