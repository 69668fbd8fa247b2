#include "apiops/api-schedule.h"

#include "api/archive.h"
#include "logstorage/logstorage.h"
#include "util/syslayer.h"

#include <ctime>
#include <limits>

namespace lumbrake {

namespace {

constexpr std::int64_t hour_seconds = 3600;
constexpr std::int64_t day_seconds = 86400;

std::int64_t floor_mod(std::int64_t a, std::int64_t b) {
    std::int64_t r = a % b;
    return r < 0 ? r + b : r;
}

std::int32_t fit32(std::int64_t value) {
    if (value < 0 || value > std::numeric_limits<std::int32_t>::max()) return 0;
    return static_cast<std::int32_t>(value);
}

// Clamps a stored count or time into the 32-bit field instead of wrapping it.
std::int32_t clamp32(std::int64_t value) {
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

std::tm utc_fields(std::int64_t seconds) {
    std::tm utc{};
    std::time_t t = static_cast<std::time_t>(seconds);
    gmtime_r(&t, &utc);
    return utc;
}

} // namespace

std::int32_t next_run_at(int frequency, std::int32_t attribute, std::int32_t access_time,
                         std::int64_t now) {
    const std::tm utc = utc_fields(now);
    const std::int64_t day_start = now - floor_mod(now, day_seconds);
    const std::int64_t h = utc.tm_hour;
    const std::int64_t n = attribute;
    const std::int64_t at = access_time;

    if (frequency == HOURLY) {
        if (n < 1) return 0;
        // The scheduler tests each hour of the day: due when the distance from AccessTime
        // is a multiple of N. The hours of a day repeat daily, so one day's search is enough;
        // when no hour of the day qualifies the archive never runs.
        const std::int64_t hour_start = now - floor_mod(now, hour_seconds);
        for (std::int64_t k = 1; k <= 24; ++k)
            if (((h + k) % 24 - at) % n == 0) return fit32(hour_start + k * hour_seconds);
        return 0;
    }
    if (frequency != DAILY && frequency != WEEKLY && frequency != MONTHLY) return 0;
    // The scheduler tests the hour for equality with AccessTime, so any other value never
    // runs.
    if (at < 0 || at > 23) return 0;

    switch (frequency) {
    case DAILY: {
        if (n < 1) return 0;
        // The scheduler's run days are those whose day of the year (from 0) is a multiple of
        // N; the first of January always is, so the search ends within a year and a day.
        for (std::int64_t d = 0; d <= 367; ++d) {
            const std::int64_t day = day_start + d * day_seconds;
            if (d == 0 && h >= at) continue;
            if (utc_fields(day).tm_yday % n == 0) return fit32(day + at * hour_seconds);
        }
        return 0;
    }
    case WEEKLY: {
        if (n < 0 || n > 6) return 0;
        std::int64_t days = floor_mod(n - utc.tm_wday, 7);
        if (days == 0 && h >= at) days = 7;
        return fit32(day_start + days * day_seconds + at * hour_seconds);
    }
    case MONTHLY: {
        if (n < 1 || n > 28) return 0;
        int month = utc.tm_mon;
        int year = utc.tm_year + 1900;
        if (utc.tm_mday > n || (utc.tm_mday == n && h >= at)) {
            if (++month == 12) {
                month = 0;
                ++year;
            }
        }
        return fit32(utc_mktime(0, 0, static_cast<int>(at), static_cast<int>(n), month, year, -1));
    }
    default:
        return 0;
    }
}

void fill_run_state(sqlite3* db, logstorage& logs, std::int32_t arcid, int frequency,
                    std::int32_t attribute, std::int32_t access_time, std::int64_t now,
                    run_state& state) {
    std::int64_t start = 0, end = 0, docs = 0, errors = 0;
    if (!logs.last_crawl(db, arcid, start, end, docs, errors)) start = end = docs = errors = 0;
    state.LastRunStart = clamp32(start);
    state.LastRunEnd = clamp32(end);
    state.Documents = clamp32(docs);
    state.Errors = clamp32(errors);
    state.Crawling = start != 0 && end == 0;
    state.NextRun = next_run_at(frequency, attribute, access_time, now);
}

} // namespace lumbrake
