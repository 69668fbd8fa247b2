// The date range dialog's model: whole UTC days to seconds, and the two calendars' rules.
#include "cpmodel/date-range-days.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using lumbrake::civil_date;

TEST(date_range_days, DaysToSeconds) {
    struct {
        civil_date from, to;
        std::int32_t from_s, to_s;
    } cases[] = {
        {{1970, 1, 1}, {1970, 1, 1}, 0, 86399}, // the same day: from + 86399
        {{1970, 1, 1}, {2030, 12, 31}, 0, 1924991999},
        {{2000, 2, 29}, {2000, 3, 1}, 951782400, 951955199},
        {{1969, 12, 31}, {1969, 12, 31}, -86400, -1},
        // Held to 32 bits at both ends.
        {{1901, 12, 13}, {2038, 1, 19}, INT_MIN, INT_MAX},
        {{1800, 1, 1}, {2100, 1, 1}, INT_MIN, INT_MAX},
    };
    for (const auto& c : cases) {
        const auto r = lumbrake::date_range_to_seconds(c.from, c.to);
        EXPECT_EQ(r.from, c.from_s) << c.from.year << "-" << c.from.month << "-" << c.from.day;
        EXPECT_EQ(r.to, c.to_s) << c.to.year << "-" << c.to.month << "-" << c.to.day;
    }
}

TEST(date_range_days, SecondsToDaysAndBack) {
    EXPECT_EQ(lumbrake::utc_date_of(0), (civil_date{1970, 1, 1}));
    EXPECT_EQ(lumbrake::utc_date_of(86399), (civil_date{1970, 1, 1}));
    EXPECT_EQ(lumbrake::utc_date_of(-1), (civil_date{1969, 12, 31}));
    EXPECT_EQ(lumbrake::utc_date_of(1924991999), (civil_date{2030, 12, 31}));
    EXPECT_EQ(lumbrake::utc_date_of(951782400), (civil_date{2000, 2, 29}));
    EXPECT_EQ(lumbrake::earliest_range_date(), (civil_date{1901, 12, 14}));
    EXPECT_EQ(lumbrake::latest_range_date(), (civil_date{2038, 1, 19}));
    for (std::int64_t d = -30000; d <= 30000; d += 7)
        EXPECT_EQ(lumbrake::days_from_civil(lumbrake::civil_from_days(d)), d);
    // The whole 32-bit range round-trips through the calendars.
    const auto r = lumbrake::date_range_to_seconds(lumbrake::utc_date_of(INT_MIN + 86400),
                                                   lumbrake::utc_date_of(INT_MAX));
    EXPECT_EQ(lumbrake::utc_date_of(r.from), lumbrake::utc_date_of(INT_MIN + 86400));
    EXPECT_EQ(r.to, INT_MAX);
}

TEST(date_range_days, CalendarsNeverRunBackwards) {
    const civil_date jan1{2024, 1, 1}, jan10{2024, 1, 10}, feb1{2024, 2, 1};
    lumbrake::date_range_days r{jan1, jan10};
    // A From day after the To day takes the To calendar along, and the reverse.
    lumbrake::pick_from_day(r, feb1);
    EXPECT_EQ(r.from, feb1);
    EXPECT_EQ(r.to, feb1);
    lumbrake::pick_to_day(r, jan1);
    EXPECT_EQ(r.from, jan1);
    EXPECT_EQ(r.to, jan1);
    // Within the range only the picked calendar changes.
    r = {jan1, feb1};
    lumbrake::pick_from_day(r, jan10);
    EXPECT_EQ(r.from, jan10);
    EXPECT_EQ(r.to, feb1);
    lumbrake::pick_to_day(r, jan10);
    EXPECT_EQ(r.from, jan10);
    EXPECT_EQ(r.to, jan10);
}

} // namespace
