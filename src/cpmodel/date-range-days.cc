#include "cpmodel/date-range-days.h"

#include <algorithm>
#include <limits>

namespace lumbrake {

namespace {

constexpr std::int64_t kDay = 86400;

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

std::int32_t clamp32(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

} // namespace

// Howard Hinnant's civil-calendar algorithms.
std::int64_t days_from_civil(const civil_date& date) {
    const std::int64_t y = static_cast<std::int64_t>(date.year) - (date.month <= 2 ? 1 : 0);
    const std::int64_t era = floor_div(y, 400);
    const std::int64_t yoe = y - era * 400;
    const std::int64_t m = date.month;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + date.day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

civil_date civil_from_days(std::int64_t days) {
    const std::int64_t z = days + 719468;
    const std::int64_t era = floor_div(z, 146097);
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp + (mp < 10 ? 3 : -9);
    const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    return {static_cast<int>(y), static_cast<int>(m), static_cast<int>(d)};
}

civil_date utc_date_of(std::int64_t seconds) { return civil_from_days(floor_div(seconds, kDay)); }

civil_date earliest_range_date() {
    // The first day that starts at or after the smallest 32-bit second.
    return civil_from_days(-floor_div(-static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min()), kDay));
}

civil_date latest_range_date() {
    return utc_date_of(std::numeric_limits<std::int32_t>::max());
}

date_range_seconds date_range_to_seconds(const civil_date& from, const civil_date& to) {
    return {clamp32(days_from_civil(from) * kDay), clamp32(days_from_civil(to) * kDay + kDay - 1)};
}

void pick_from_day(date_range_days& range, const civil_date& day) {
    range.from = day;
    if (range.to < day) range.to = day;
}

void pick_to_day(date_range_days& range, const civil_date& day) {
    range.to = day;
    if (day < range.from) range.from = day;
}

} // namespace lumbrake
