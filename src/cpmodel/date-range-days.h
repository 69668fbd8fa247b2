// The date range dialog's model: a range of whole days picked on two calendars and its bounds
// in seconds. Days are UTC days, like every time the control panel shows.
#pragma once

#include <compare>
#include <cstdint>

namespace lumbrake {

struct civil_date {
    int year = 1970;
    int month = 1; // 1..12
    int day = 1;   // 1..31
    auto operator<=>(const civil_date&) const = default;
};

// Days since 1970-01-01 and back (proleptic Gregorian calendar).
std::int64_t days_from_civil(const civil_date& date);
civil_date civil_from_days(std::int64_t days);

// The UTC day that holds the second.
civil_date utc_date_of(std::int64_t seconds);

// The first and last days whose bounds fit in 32-bit seconds (1901-12-14, 2038-01-19).
civil_date earliest_range_date();
civil_date latest_range_date();

struct date_range_seconds {
    std::int32_t from = 0;
    std::int32_t to = 0;
};

// from = the start of the From day, to = the start of the To day + 86399; both held to the
// 32-bit range.
date_range_seconds date_range_to_seconds(const civil_date& from, const civil_date& to);

// What the two calendars show.
struct date_range_days {
    civil_date from, to;
};

// A day picked on the From calendar (by the user or by "Today"); a From day after the To day
// takes the To calendar along, so the range never runs backwards.
void pick_from_day(date_range_days& range, const civil_date& day);
// Likewise for the To calendar: a To day before the From day takes the From calendar along.
void pick_to_day(date_range_days& range, const civil_date& day);

} // namespace lumbrake
