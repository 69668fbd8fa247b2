// The crawl-log download loop against a scripted daemon: pages, pauses, the end mark, stops and
// failures.
#include "cpmodel/crawl-log-download.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

using lumbrake::CrawlLog;
using lumbrake::CrawlLogData;
using lumbrake::crawl_log_download;

std::vector<CrawlLogData> page(int first, int count) {
    std::vector<CrawlLogData> rows;
    for (int i = first; i < first + count; ++i)
        rows.push_back({i, "id" + std::to_string(i), "file:///d/" + std::to_string(i), 0});
    return rows;
}

// Answers the scripted pages in turn; records the cursors sent and the pauses between requests.
struct scripted_daemon {
    struct answer {
        std::vector<CrawlLogData> rows;
        std::string cookie;
        bool fail = false;
    };
    std::vector<answer> answers;
    std::vector<std::string> cookies_sent;
    std::vector<int> pauses; // sleep steps before each request after the first
    int steps = 0;

    crawl_log_download::fetch_page fetch() {
        return [this](CrawlLog& cursor, std::vector<CrawlLogData>& rows) {
            if (!cookies_sent.empty()) pauses.push_back(steps);
            steps = 0;
            cookies_sent.push_back(cursor.Cookie);
            if (cookies_sent.size() > answers.size()) throw std::runtime_error("no more script");
            const answer& a = answers[cookies_sent.size() - 1];
            if (a.fail) throw std::runtime_error("connection refused");
            rows = a.rows;
            cursor.Cookie = a.cookie;
        };
    }
    std::function<void()> sleep() {
        return [this] { ++steps; };
    }
};

std::vector<int> times(const std::vector<CrawlLogData>& rows) {
    std::vector<int> out;
    for (const auto& r : rows)
        out.push_back(r.Time);
    return out;
}

TEST(crawl_log_download, FullPagesFollowQuicklyAndTheEndMarkStopsAtOnce) {
    scripted_daemon d;
    d.answers = {{page(0, 100), "100"}, {page(100, 100), "200"}, {page(200, 50), "-1"}};
    crawl_log_download dl(CrawlLog{1000, "0"});
    EXPECT_EQ(dl.run(d.fetch(), [] { return false; }, d.sleep()), 0);
    EXPECT_EQ(d.cookies_sent, (std::vector<std::string>{"0", "100", "200"}));
    EXPECT_EQ(d.pauses, (std::vector<int>{10, 10}));
    EXPECT_EQ(d.steps, 0); // no pause after the last page
    std::vector<CrawlLogData> rows;
    dl.take_rows(rows);
    ASSERT_EQ(rows.size(), 250u);
    for (int i = 0; i < 250; ++i)
        EXPECT_EQ(rows[static_cast<std::size_t>(i)].Time, i);
    dl.take_rows(rows);
    EXPECT_TRUE(rows.empty());
}

TEST(crawl_log_download, ShortPagesWaitLongerUntilTheCrawlEnds) {
    scripted_daemon d;
    // An empty page, then a short one while the crawl runs; a cookie that only begins with
    // "-1" is no end mark.
    d.answers = {{{}, "0"}, {page(0, 3), "3"}, {page(3, 1), "-10"}, {{}, "-1"}};
    crawl_log_download dl(CrawlLog{1000, ""});
    EXPECT_EQ(dl.run(d.fetch(), [] { return false; }, d.sleep()), 0);
    EXPECT_EQ(d.pauses, (std::vector<int>{100, 100, 100}));
    std::vector<CrawlLogData> rows;
    dl.take_rows(rows);
    EXPECT_EQ(times(rows), (std::vector<int>{0, 1, 2, 3}));
}

TEST(crawl_log_download, AStopDuringAPauseEndsWithZero) {
    scripted_daemon d;
    d.answers = {{page(0, 100), "100"}};
    crawl_log_download dl(CrawlLog{1000, "0"});
    int asked = 0;
    EXPECT_EQ(dl.run(d.fetch(), [&] { return ++asked > 3; }, d.sleep()), 0);
    EXPECT_EQ(d.cookies_sent.size(), 1u);
    EXPECT_EQ(d.steps, 3);
    std::vector<CrawlLogData> rows;
    dl.take_rows(rows);
    EXPECT_EQ(rows.size(), 100u);
}

TEST(crawl_log_download, AFailureEndsWithOneAndKeepsTheRowsSoFar) {
    scripted_daemon d;
    d.answers = {{page(0, 100), "100"}, {{}, "", true}};
    crawl_log_download dl(CrawlLog{1000, "0"});
    EXPECT_EQ(dl.run(d.fetch(), [] { return false; }, d.sleep()), 1);
    std::vector<CrawlLogData> rows;
    dl.take_rows(rows);
    EXPECT_EQ(rows.size(), 100u);
}

TEST(crawl_log_download, TakingWhileDownloadingGivesEveryRowOnceInOrder) {
    crawl_log_download dl(CrawlLog{1000, "0"});
    std::atomic<int> next{0};
    const int pages = 200;
    std::thread t([&] {
        dl.run(
            [&](CrawlLog& cursor, std::vector<CrawlLogData>& rows) {
                const int n = next++;
                rows = page(n * 100, 100);
                cursor.Cookie = n + 1 == pages ? "-1" : std::to_string(n + 1);
            },
            [] { return false; }, [] {});
    });
    std::vector<CrawlLogData> all, part;
    while (all.size() < static_cast<std::size_t>(pages * 100)) {
        dl.take_rows(part);
        all.insert(all.end(), part.begin(), part.end());
        std::this_thread::yield();
    }
    t.join();
    dl.take_rows(part);
    EXPECT_TRUE(part.empty());
    for (std::size_t i = 0; i < all.size(); ++i)
        ASSERT_EQ(all[i].Time, static_cast<int>(i));
}

} // namespace
