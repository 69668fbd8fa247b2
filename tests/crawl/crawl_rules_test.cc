// The crawl window, free-space setting, scores, document ids, cookie harvest, notification
// format, cookie cache ages and schedule due tests.
#include "api/archive.h"
#include "trawlnestd/cookie-cache.h"
#include "trawlnestd/crawl-step.h"
#include "trawlnestd/scheduler-thread.h"
#include "util/md5.h"

#include <gtest/gtest.h>

#include <limits>

namespace lumbrake {
namespace {

TEST(CrawlWindow, HoursInsideAndOutside) {
    struct row {
        int start, stop;
        std::vector<int> inside;
    };
    const row rows[] = {
        {22, 3, {22, 23, 0, 1, 2, 3}},
        {0, 23, {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23}},
        {5, 5, {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23}},
        {8, 17, {8, 9, 10, 11, 12, 13, 14, 15, 16, 17}},
    };
    for (const row& r : rows)
        for (int hour = 0; hour < 24; ++hour) {
            bool expected = std::find(r.inside.begin(), r.inside.end(), hour) != r.inside.end();
            EXPECT_EQ(in_crawl_window(hour, r.start, r.stop), expected)
                << r.start << ".." << r.stop << " hour " << hour;
        }
    EXPECT_EQ(utc_hour(0), 0);
    EXPECT_EQ(utc_hour(3600 * 25 + 59), 1);
    EXPECT_EQ(utc_hour(86400 - 1), 23);
}

TEST(CrawlSettings, MinFreeDisk) {
    EXPECT_EQ(min_free_disk_from(false, ""), 524288000u);
    EXPECT_EQ(min_free_disk_from(true, "1"), 1048576u);
    EXPECT_EQ(min_free_disk_from(true, "0"), 0u);
    EXPECT_EQ(min_free_disk_from(true, "word"), 0u);
    // Too large to multiply: the largest whole count, not a wrapped small number.
    EXPECT_GT(min_free_disk_from(true, "99999999999999999999"), std::uint64_t{1} << 62);
    EXPECT_GT(min_free_disk_from(true, "18446744073709"), std::uint64_t{1} << 62);
}

TEST(CrawlScores, BaseScoreAndDocumentId) {
    EXPECT_EQ(base_score_of(0), 1000000u);
    EXPECT_EQ(base_score_of(3), 999997u);
    EXPECT_EQ(base_score_of(1000000), 0u);
    EXPECT_EQ(base_score_of(4000000000u), 0u);
    EXPECT_EQ(document_id("P", 7, "http://h/", false, 123), md5_hex("P|7|http://h/"));
    EXPECT_EQ(document_id("P", 7, "http://h/", true, 123), md5_hex("P|7|http://h/|123"));
}

TEST(CrawlCookies, SetCookieLinesOnly) {
    EXPECT_EQ(cookies_from_headers("HTTP/1.1 200 OK\r\nSet-Cookie: a=1; Path=/\r\n"
                                   "set-cookie: b=2\r\nSET-COOKIE: c=3\r\nX-Set-Cookie: d=4\r\n"
                                   "Set-Cookie:e=5\r\nSet-Cookie: f=6;\n"),
              "a=1; b=2; c=3; e=5; f=6");
    EXPECT_EQ(cookies_from_headers("sEt-CoOkIe:\t g=7\r\nSet-Cookie2: h=8\r\n"), "g=7");
    EXPECT_EQ(cookies_from_headers(""), "");
    EXPECT_EQ(cookies_from_headers("Set-Cookie: "), "");
    EXPECT_EQ(cookies_from_headers("Set-Cookie: only"), "only");
}

TEST(CrawlNotify, FormatTakesOneIntegerConversion) {
    EXPECT_EQ(format_notify_url("http://h/done?arc=%u", 12), "http://h/done?arc=12");
    EXPECT_EQ(format_notify_url("http://h/%05d/%%", 12), "http://h/00012/%");
    EXPECT_EQ(format_notify_url("http://h/%lx", 255), "http://h/ff");
    EXPECT_EQ(format_notify_url("http://h/static", 3), "http://h/static");
    // Conversions that would read arguments that are not there, or write through them.
    for (const char* bad : {"http://h/%s", "http://h/%n", "http://h/%u%u", "http://h/%",
                            "http://h/%999u", "http://h/%.999u", "http://h/%*u", "http://h/%f"})
        EXPECT_FALSE(format_notify_url(bad, 1)) << bad;
    EXPECT_FALSE(format_notify_url(std::string(5000, 'a'), 1));
}

TEST(CookieCache, MaximumAge) {
    std::int64_t now = 1000;
    cookie_cache cache([&now] { return now; });
    std::string text = "untouched";
    EXPECT_FALSE(cache.get(1, 0, text));
    EXPECT_EQ(text, "untouched");
    cache.set(1, "a=1");
    now = 1010;
    EXPECT_TRUE(cache.get(1, 10, text));
    EXPECT_EQ(text, "a=1");
    now = 1011;
    EXPECT_FALSE(cache.get(1, 10, text));
    EXPECT_TRUE(cache.get(1, 0, text)); // 0: never stale
    EXPECT_FALSE(cache.get(2, 0, text));
    cache.set(1, "");
    text = "x";
    EXPECT_TRUE(cache.get(1, 10, text));
    EXPECT_EQ(text, "");
}

std::tm at(int hour, int yday = 0, int wday = 0, int mday = 1) {
    std::tm t{};
    t.tm_hour = hour;
    t.tm_yday = yday;
    t.tm_wday = wday;
    t.tm_mday = mday;
    return t;
}

ArchiveConfiguration schedule(Frequency f, int attr, int access) {
    ArchiveConfiguration a;
    a.SchedulingFrequency = f;
    a.SchedulingAttribute = attr;
    a.AccessTime = access;
    return a;
}

std::vector<int> due_hours(const ArchiveConfiguration& a) {
    std::vector<int> hours;
    for (int h = 0; h < 24; ++h)
        if (schedule_due(a, at(h))) hours.push_back(h);
    return hours;
}

TEST(Schedule, DueHours) {
    EXPECT_EQ(due_hours(schedule(HOURLY, 3, 1)), (std::vector<int>{1, 4, 7, 10, 13, 16, 19, 22}));
    EXPECT_EQ(due_hours(schedule(HOURLY, 3, 3)), (std::vector<int>{0, 3, 6, 9, 12, 15, 18, 21}));
    EXPECT_TRUE(due_hours(schedule(HOURLY, 0, 0)).empty());
    EXPECT_TRUE(due_hours(schedule(DISABLED, 1, 0)).empty());
    EXPECT_TRUE(due_hours(schedule(static_cast<Frequency>(9), 1, 0)).empty());

    const ArchiveConfiguration daily = schedule(DAILY, 2, 5);
    EXPECT_TRUE(schedule_due(daily, at(5, 10)));
    EXPECT_FALSE(schedule_due(daily, at(5, 11)));
    EXPECT_FALSE(schedule_due(daily, at(6, 10)));
    EXPECT_FALSE(schedule_due(schedule(DAILY, 0, 5), at(5, 10)));

    EXPECT_TRUE(schedule_due(schedule(WEEKLY, 0, 4), at(4, 0, 0)));
    EXPECT_FALSE(schedule_due(schedule(WEEKLY, 0, 4), at(4, 0, 1)));
    EXPECT_TRUE(schedule_due(schedule(MONTHLY, 31, 2), at(2, 0, 0, 31)));
    EXPECT_FALSE(schedule_due(schedule(MONTHLY, 31, 2), at(2, 0, 0, 30)));
}

} // namespace
} // namespace lumbrake
