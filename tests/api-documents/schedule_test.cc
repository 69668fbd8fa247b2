// Next run times and the last crawl's state of an archive.
#include "api/archive.h"
#include "apiops/api-schedule.h"
#include "logstorage/logstorage.h"
#include "util/syslayer.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <ctime>

namespace lumbrake {
namespace {

// Seconds of a UTC calendar time (month 1-12 here for readability).
std::int64_t at(int year, int month, int day, int hour, int minute = 0) {
    return utc_mktime(0, minute, hour, day, month - 1, year, -1);
}

struct schedule_case {
    const char* what;
    int frequency;
    int attribute;
    int access_time;
    std::int64_t now;
    std::int64_t expected;
};

TEST(NextRunTest, Table) {
    const schedule_case cases[] = {
        // 2026-03-10 is a Tuesday.
        {"hourly from 2", HOURLY, 6, 2, at(2026, 3, 10, 10, 25), at(2026, 3, 10, 14)},
        {"hourly from 20 counts backwards too", HOURLY, 6, 20, at(2026, 3, 10, 10, 25),
         at(2026, 3, 10, 14)},
        {"hourly past midnight", HOURLY, 1, 0, at(2026, 3, 10, 23, 10), at(2026, 3, 11, 0)},
        {"hourly, current hour never counts", HOURLY, 4, 8, at(2026, 3, 10, 8),
         at(2026, 3, 10, 12)},
        // The hours of each day are tested anew, as the scheduler does: a period that does
        // not divide 24 restarts from AccessTime at midnight.
        {"hourly, period restarts each day", HOURLY, 5, 7, at(2026, 3, 10, 22, 30),
         at(2026, 3, 11, 2)},
        {"hourly with a long period", HOURLY, 50, 0, at(2026, 3, 10, 1), at(2026, 3, 11, 0)},
        {"hourly, no hour of the day qualifies", HOURLY, 50, -60, at(2026, 3, 10, 1), 0},
        {"hourly, AccessTime past 23", HOURLY, 5, 100, at(2026, 3, 10, 1), at(2026, 3, 10, 5)},
        {"daily before the hour", DAILY, 1, 3, at(2026, 3, 10, 2, 59), at(2026, 3, 10, 3)},
        {"daily at the hour", DAILY, 1, 3, at(2026, 3, 10, 3), at(2026, 3, 11, 3)},
        {"daily, last day of a month", DAILY, 1, 3, at(2026, 4, 30, 5), at(2026, 5, 1, 3)},
        {"daily, last day of the year", DAILY, 1, 3, at(2026, 12, 31, 5), at(2027, 1, 1, 3)},
        // Day of the year 68 (10 March 2026): run days are multiples of 7: 70 is 12 March.
        {"every 7 days", DAILY, 7, 3, at(2026, 3, 10, 5), at(2026, 3, 12, 3)},
        // Day 70 itself, before and after the hour.
        {"every 7 days, run day before hour", DAILY, 7, 3, at(2026, 3, 12, 1), at(2026, 3, 12, 3)},
        {"every 7 days, run day after hour", DAILY, 7, 3, at(2026, 3, 12, 4), at(2026, 3, 19, 3)},
        {"period longer than a year", DAILY, 1000, 3, at(2026, 3, 10, 5), at(2027, 1, 1, 3)},
        // 2026-03-09 is a Monday.
        {"weekly, Monday before the hour", WEEKLY, 1, 3, at(2026, 3, 9, 2), at(2026, 3, 9, 3)},
        {"weekly, Monday after the hour", WEEKLY, 1, 3, at(2026, 3, 9, 3, 30), at(2026, 3, 16, 3)},
        // Saturday 2026-01-31 -> Monday 2026-02-02.
        {"weekly across a month end", WEEKLY, 1, 3, at(2026, 1, 31, 12), at(2026, 2, 2, 3)},
        {"weekly Sunday", WEEKLY, 0, 0, at(2026, 3, 10, 12), at(2026, 3, 15, 0)},
        {"monthly next year", MONTHLY, 28, 0, at(2026, 12, 29, 10), at(2027, 1, 28, 0)},
        {"monthly this month", MONTHLY, 15, 6, at(2026, 2, 15, 5), at(2026, 2, 15, 6)},
        {"monthly on the day after the hour", MONTHLY, 15, 6, at(2026, 2, 15, 6),
         at(2026, 3, 15, 6)},
        {"disabled", DISABLED, 1, 3, at(2026, 3, 10, 5), 0},
        {"weekly attribute 7", WEEKLY, 7, 3, at(2026, 3, 10, 5), 0},
        {"weekly attribute -1", WEEKLY, -1, 3, at(2026, 3, 10, 5), 0},
        {"monthly attribute 29", MONTHLY, 29, 3, at(2026, 3, 10, 5), 0},
        {"monthly attribute 0", MONTHLY, 0, 3, at(2026, 3, 10, 5), 0},
        {"hourly attribute 0", HOURLY, 0, 3, at(2026, 3, 10, 5), 0},
        {"daily attribute 0", DAILY, 0, 3, at(2026, 3, 10, 5), 0},
        {"daily attribute negative", DAILY, -3, 3, at(2026, 3, 10, 5), 0},
        {"daily at an hour that never comes", DAILY, 1, 24, at(2026, 3, 10, 5), 0},
        {"unknown frequency", 9, 1, 3, at(2026, 3, 10, 5), 0},
        // A run beyond the 32-bit field has no answer rather than a wrapped one.
        {"hourly beyond 2038", HOURLY, 1, 0, at(2038, 1, 19, 3), 0},
        {"weekly beyond 2038", WEEKLY, 3, 0, at(2038, 1, 18, 3), 0},
    };
    for (const schedule_case& c : cases)
        EXPECT_EQ(next_run_at(c.frequency, c.attribute, c.access_time, c.now), c.expected)
            << c.what;
}

// The next run agrees with the scheduler's due test: no due hour is skipped between now and
// the answer, and the answer is due.
TEST(NextRunTest, AgreesWithTheDueHours) {
    auto due = [](int freq, int attr, int hour_at, std::int64_t t) {
        std::time_t tt = t;
        std::tm utc{};
        gmtime_r(&tt, &utc);
        switch (freq) {
        case HOURLY:
            return (static_cast<long long>(utc.tm_hour) - hour_at) % attr == 0;
        case DAILY:
            return utc.tm_hour == hour_at && utc.tm_yday % attr == 0;
        case WEEKLY:
            return utc.tm_hour == hour_at && utc.tm_wday == attr;
        default:
            return utc.tm_hour == hour_at && utc.tm_mday == attr;
        }
    };
    const int schedules[][3] = {
        {HOURLY, 5, 7}, {DAILY, 3, 22}, {DAILY, 10, 0}, {WEEKLY, 6, 23}, {MONTHLY, 1, 12}};
    for (const auto& s : schedules) {
        for (std::int64_t now = at(2027, 12, 20, 0); now < at(2028, 1, 20, 0);
             now += 3600 * 7 + 60) {
            std::int64_t next = next_run_at(s[0], s[1], s[2], now);
            ASSERT_GT(next, now);
            EXPECT_TRUE(due(s[0], s[1], s[2], next)) << s[0] << " " << next;
            for (std::int64_t t = now - now % 3600 + 3600; t < next; t += 3600)
                ASSERT_FALSE(due(s[0], s[1], s[2], t)) << s[0] << " skipped " << t;
        }
    }
}

class RunStateTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK); }
    void TearDown() override { sqlite3_close(db_); }
    sqlite3* db_ = nullptr;
};

TEST_F(RunStateTest, NeverCrawledRunningAndFinished) {
    logstorage logs(db_);
    const std::int64_t now = at(2026, 3, 10, 10, 25);
    run_state s;
    s.Documents = 7; // overwritten
    fill_run_state(db_, logs, 4, HOURLY, 6, 2, now, s);
    EXPECT_FALSE(s.Crawling);
    EXPECT_EQ(s.Documents, 0);
    EXPECT_EQ(s.Errors, 0);
    EXPECT_EQ(s.LastRunStart, 0);
    EXPECT_EQ(s.LastRunEnd, 0);
    EXPECT_EQ(s.NextRun, at(2026, 3, 10, 14));

    logs.start_crawl(db_, 4, now - 100);
    fill_run_state(db_, logs, 4, DISABLED, 0, 0, now, s);
    EXPECT_TRUE(s.Crawling);
    EXPECT_EQ(s.LastRunStart, now - 100);
    EXPECT_EQ(s.LastRunEnd, 0);
    EXPECT_EQ(s.NextRun, 0);

    logs.end_crawl(db_, 4, now - 10);
    fill_run_state(db_, logs, 4, DISABLED, 0, 0, now, s);
    EXPECT_FALSE(s.Crawling);
    EXPECT_EQ(s.LastRunEnd, now - 10);
    // Another archive's crawl is not this one's.
    fill_run_state(db_, logs, 5, DISABLED, 0, 0, now, s);
    EXPECT_EQ(s.LastRunStart, 0);
}

} // namespace
} // namespace lumbrake
