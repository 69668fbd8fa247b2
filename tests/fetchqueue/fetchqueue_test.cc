#include "fetchqueue/fetchqueue.h"

#include "../support/command.h"
#include "../support/sqlite_db.h"
#include "util/sqlite_stmt.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace lumbrake;

namespace {

constexpr std::int64_t t0 = 1700000000;

struct taken {
    std::uint32_t arcid;
    std::string url;
    std::uint32_t priority;
    bool operator==(const taken&) const = default;
};

std::ostream& operator<<(std::ostream& os, const taken& t) {
    return os << "{" << t.arcid << ", " << t.url << ", " << t.priority << "}";
}

struct queue_fixture {
    std::string path;
    sqlite3* db = nullptr;
    std::int64_t clock = t0;
    std::unique_ptr<fetchqueue> q;

    queue_fixture(const std::string& name, std::int32_t delay) {
        path = testing::TempDir() + "fq-" + name + ".db";
        std::filesystem::remove(path);
        EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        // As the daemon's connections do.
        keep_statements(db);
        reopen(delay);
    }
    ~queue_fixture() {
        q.reset();
        drop_kept_statements(db);
        sqlite3_close(db);
    }
    // A new queue object over the same table, as at a daemon restart.
    void reopen(std::int32_t delay) {
        q = std::make_unique<fetchqueue>(db, delay, [this] { return clock; });
    }
    void push(std::uint32_t arcid, const std::string& url, std::uint32_t priority = 0) {
        q->push(db, arcid, url, priority);
    }
    // The next URL, or arcid 0 and an empty URL when none may be fetched now.
    taken next() {
        taken t{0, "", 0};
        if (!q->next(db, t.arcid, t.url, t.priority)) return {0, "", 0};
        return t;
    }
    void done(const taken& t) { q->remove(db, t.arcid, t.url); }
    long long scalar(const std::string& sql) { return tn_test::sql_scalar(db, sql); }
};

const taken none{0, "", 0};

std::string run(const std::string& command) {
    return tn_test::command_output(command);
}

} // namespace

TEST(FetchQueue, CreatesTheTableAndIndexes) {
    queue_fixture f("schema", 0);
    for (const char* sql :
         {"CREATE TABLE fetchqueue(arcid integer, url text, host text, priority integer)",
          "CREATE UNIQUE INDEX fetchqueue_idx1 on fetchqueue(arcid, url)",
          "CREATE INDEX fetchqueue_idx2 on fetchqueue(arcid, host, priority)"})
        EXPECT_EQ(
            f.scalar(std::string("select count(*) from sqlite_master where sql = '") + sql + "'"),
            1)
            << sql;
    f.push(1, "http://a/x");
    f.reopen(0);
    EXPECT_EQ(f.scalar("select count(*) from fetchqueue"), 1);
}

TEST(FetchQueue, StoresCanonicalUrlsOncePerArchive) {
    queue_fixture f("push", 0);
    f.push(1, "HTTP://WWW.Example.COM:80/a/../b.html#top", 3);
    f.push(1, "http://www.example.com/b.html", 1); // already queued: keeps priority 3
    f.push(2, "http://www.example.com/b.html", 1); // another archive: its own row
    f.push(1, "www.example.com:8080/o'reilly?q=1", 0);
    f.push(7, "file:///srv/share/a.txt", 2);
    if (std::system("command -v sqlite3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "no sqlite3";
    EXPECT_EQ(run("sqlite3 '" + f.path +
                  "' 'select arcid, url, host, priority from fetchqueue order by arcid, url'"),
              "1|http:///www.example.com:8080/o'reilly?q=1||0\n"
              "1|http://www.example.com/b.html|www.example.com|3\n"
              "2|http://www.example.com/b.html|www.example.com|1\n"
              "7|file:///srv/share/a.txt||2\n");
}

// A page's links through one statement: a URL already queued in the middle of the list must
// not stop the ones after it, and every new host is handed out.
TEST(FetchQueue, ABatchQueuesPastAUrlAlreadyQueued) {
    queue_fixture f("batch", 0);
    f.push(1, "http://a/1", 5);
    {
        fetchqueue::batch batch(*f.q, f.db, 1);
        for (const char* url : {"http://b/1", "HTTP://A:80/1", "http://b/1", "http://c/1"})
            batch.push(fetchqueue::key_of(url), 2);
    }
    EXPECT_EQ(f.scalar("select count(*) from fetchqueue"), 3);
    EXPECT_EQ(f.scalar("select priority from fetchqueue where url='http://a/1'"), 5);
    std::set<std::string> handed;
    for (taken t = f.next(); t != none; t = f.next())
        handed.insert(t.url);
    EXPECT_EQ(handed, (std::set<std::string>{"http://a/1", "http://b/1", "http://c/1"}));
}

TEST(FetchQueue, ArchivesAndHostsTakeTurnsLowestPriorityFirst) {
    queue_fixture f("turns", 0);
    f.push(1, "http://a/low", 5);
    f.push(1, "http://a/high", 1);
    f.push(1, "http://b/1", 0);
    f.push(2, "http://c/1", 0);
    f.push(2, "http://c/2", 0);
    std::vector<taken> got;
    for (taken t = f.next(); !(t == none); t = f.next()) {
        got.push_back(t);
        f.done(t);
    }
    std::vector<taken> want = {{1, "http://a/high", 1},
                               {2, "http://c/1", 0},
                               {1, "http://b/1", 0},
                               {2, "http://c/2", 0},
                               {1, "http://a/low", 5}};
    ASSERT_EQ(got.size(), want.size());
    // Within host c the database decides between equal priorities.
    EXPECT_EQ(got[0], want[0]);
    EXPECT_EQ(got[2], want[2]);
    EXPECT_EQ(got[4], want[4]);
    EXPECT_EQ(got[1].arcid, 2u);
    EXPECT_EQ(got[3].arcid, 2u);
    EXPECT_TRUE(f.q->empty(f.db, 1));
    EXPECT_TRUE(f.q->empty(f.db, 2));
}

TEST(FetchQueue, OneFetchPerHostAtATime) {
    for (std::int32_t delay : {0, 20}) {
        SCOPED_TRACE(delay);
        queue_fixture f("busy" + std::to_string(delay), delay);
        f.push(1, "http://a/1");
        f.push(1, "http://a/2");
        taken first = f.next();
        EXPECT_EQ(first.url, "http://a/1");
        f.clock += 3600;
        EXPECT_EQ(f.next(), none); // still out, however long ago
        f.done(first);
        EXPECT_EQ(f.next().url, "http://a/2");
    }
}

TEST(FetchQueue, ZeroDelayHandsOutBackToBack) {
    queue_fixture f("nodelay", 0);
    f.push(1, "http://a/1");
    f.push(1, "http://a/2");
    f.done(f.next());
    EXPECT_EQ(f.next().url, "http://a/2");
}

TEST(FetchQueue, AHostWaitsTheDelayFromTheStartOfItsLastFetch) {
    queue_fixture f("delay", fetchqueue::default_delay);
    f.push(1, "http://a/1");
    f.push(1, "http://a/2");
    f.push(1, "http://a/3");
    taken t = f.next();
    f.clock = t0 + 5;
    f.done(t);
    f.clock = t0 + 19;
    EXPECT_EQ(f.next(), none);
    f.clock = t0 + 20;
    EXPECT_EQ(f.next().url, "http://a/2");
    f.done({1, "http://a/2", 0});
    // The clock set back an hour: the host waits one delay from now, not an hour and more.
    f.clock = t0 - 3600;
    EXPECT_EQ(f.next(), none);
    f.clock = t0 - 3600 + 19;
    EXPECT_EQ(f.next(), none);
    f.clock = t0 - 3600 + 20;
    EXPECT_EQ(f.next().url, "http://a/3");
}

TEST(FetchQueue, LocalHostsNeverWaitButStillGoOneAtATime) {
    for (const char* base : {"http://localhost/", "http://127.0.0.1/"}) {
        SCOPED_TRACE(base);
        queue_fixture f("local", 20);
        f.push(1, std::string(base) + "1");
        f.push(1, std::string(base) + "2");
        taken t = f.next();
        EXPECT_EQ(t.url, std::string(base) + "1");
        EXPECT_EQ(f.next(), none);
        f.done(t);
        EXPECT_EQ(f.next().url, std::string(base) + "2");
    }
}

// Stored documents to process again ("guid:") and local files burden no server: every worker
// may take one at once, each URL is handed out once, and a host-less URL still out is not
// handed out again when the queue has been emptied and filled meanwhile.
TEST(FetchQueue, HostlessUrlsGoSideBySide) {
    queue_fixture f("hostless", 20);
    for (int i = 1; i <= 4; ++i)
        f.push(1, "guid:" + std::to_string(i), i == 4 ? 0 : 1);
    f.push(1, "file:///srv/a.txt", 2);
    f.push(1, "http://h/1");
    std::vector<std::string> out;
    for (taken t = f.next(); !t.url.empty(); t = f.next())
        out.push_back(t.url);
    // Hosts take turns; the host-less ones by priority, all of them at once.
    EXPECT_EQ(out, (std::vector<std::string>{"guid:4", "http://h/1", "guid:1", "guid:2", "guid:3",
                                             "file:///srv/a.txt"}));
    f.done({1, "guid:2", 1});
    EXPECT_EQ(f.next(), none); // nothing new: the others are still out
    f.push(1, "guid:2", 1);    // processed again later
    EXPECT_EQ(f.next(), (taken{1, "guid:2", 1}));
    EXPECT_EQ(f.next(), none);

    // Emptied while URLs are out: they are not handed out twice when new ones come.
    f.done({1, "guid:4", 0});
    f.push(1, "guid:5", 0);
    EXPECT_EQ(f.next(), (taken{1, "guid:5", 0}));
    EXPECT_EQ(f.next(), none);
    for (const char* u : {"guid:1", "guid:2", "guid:3", "guid:5", "file:///srv/a.txt"})
        f.done({1, u, 0});
    EXPECT_EQ(f.next(), none);
    EXPECT_EQ(f.scalar("select count(*) from fetchqueue where url <> 'http://h/1'"), 0);
}

TEST(FetchQueue, ClearArchiveDropsItsUrlsAndNextForgetsItsHosts) {
    queue_fixture f("cleararc", 0);
    f.push(1, "http://a/1");
    f.push(1, "http://b/1");
    f.push(2, "http://c/1");
    f.push(2, "http://c/2");
    f.q->clear_archive(f.db, 1);
    EXPECT_TRUE(f.q->empty(f.db, 1));
    EXPECT_FALSE(f.q->empty(f.db, 2));
    // Archive 1 yields nothing; archive 2 still takes its turns.
    taken t = f.next();
    EXPECT_EQ(t.arcid, 2u);
    f.done(t);
    EXPECT_EQ(f.next().arcid, 2u);
    std::uint32_t arcid = 99;
    std::string url;
    std::uint32_t priority = 0;
    EXPECT_FALSE(f.q->next(f.db, arcid, url, priority));
    EXPECT_NE(arcid, 99u); // the last archive examined
    // Archive 1 queues again later: its hosts come back.
    f.push(1, "http://a/2");
    f.done({2, "http://c/2", 0});
    EXPECT_EQ(f.next(), (taken{1, "http://a/2", 0}));
}

TEST(FetchQueue, ClearingWhileAUrlIsOut) {
    queue_fixture f("clearout", 0);
    f.push(1, "http://a/1");
    taken t = f.next();
    f.q->clear_archive(f.db, 1);
    f.push(1, "http://a/2");
    EXPECT_EQ(f.next(), none); // host a is still busy with the URL handed out
    f.done(t);
    EXPECT_EQ(f.next().url, "http://a/2");
    f.q->clear(f.db);
    EXPECT_EQ(f.scalar("select count(*) from fetchqueue"), 0);
    EXPECT_EQ(f.next(), none);
    f.push(3, "http://a/3");
    EXPECT_EQ(f.next(), (taken{3, "http://a/3", 0}));
}

TEST(FetchQueue, NothingQueuedAnswersFalseAtOnce) {
    queue_fixture f("nothing", 0);
    std::uint32_t arcid = 42;
    std::string url = "kept";
    std::uint32_t priority = 7;
    EXPECT_FALSE(f.q->next(f.db, arcid, url, priority));
    EXPECT_EQ(arcid, 42u);
    EXPECT_EQ(url, "kept");
    EXPECT_TRUE(f.q->empty(f.db, 1));
}

// An idle crawl thread waits for a URL to be queued: a new URL wakes it, one already queued
// does not, and a URL queued before the wait began is not missed.
TEST(FetchQueue, AQueuedUrlEndsTheWaitOfAnIdleThread) {
    using std::chrono::milliseconds;
    queue_fixture f("wake", 0);
    std::uint64_t seen = f.q->queued_count();
    EXPECT_FALSE(f.q->wait_queued(seen, milliseconds(20)));
    f.push(1, "http://a/x");
    EXPECT_TRUE(f.q->wait_queued(seen, milliseconds(0)));
    seen = f.q->queued_count();
    f.push(1, "http://a/x"); // already queued
    EXPECT_FALSE(f.q->wait_queued(seen, milliseconds(20)));

    bool woken = false;
    std::thread idle([&] { woken = f.q->wait_queued(seen, std::chrono::seconds(60)); });
    std::this_thread::sleep_for(milliseconds(20));
    f.push(2, "http://a/x");
    idle.join();
    EXPECT_TRUE(woken);
}

TEST(FetchQueue, ARestartHandsOutUnfinishedUrlsAgain) {
    queue_fixture f("restart", 20);
    f.push(4, "http://a/1", 2);
    f.push(5, "http://b/1", 0);
    taken out = f.next();
    EXPECT_EQ(out, (taken{4, "http://a/1", 2}));
    f.reopen(20); // never removed: busy and last fetch are forgotten
    std::vector<taken> got = {f.next(), f.next()};
    EXPECT_EQ(got[0], out);
    EXPECT_EQ(got[1], (taken{5, "http://b/1", 0}));
}

TEST(FetchQueue, UrlsWithQuotesAndNulBytesRoundTrip) {
    queue_fixture f("bytes", 0);
    // A scheme whose canonical form keeps its bytes as they are.
    std::string nul_url = std::string("javascript:a\0b", 14);
    f.push(1, "http://a/it's%20'quoted'");
    f.push(2, nul_url);
    taken a = f.next();
    taken b = f.next();
    EXPECT_EQ(a.url, "http://a/it's%20'quoted'");
    EXPECT_EQ(b.url, nul_url);
    f.done(a);
    f.done(b);
    EXPECT_EQ(f.scalar("select count(*) from fetchqueue"), 0);
}

TEST(FetchQueue, ThrottlingSetting) {
    constexpr std::int32_t big = std::numeric_limits<std::int32_t>::max();
    struct {
        bool present;
        const char* value;
        std::int32_t delay;
    } cases[] = {{false, "", 20},
                 {true, "", 20},
                 {true, "0", 0},
                 {true, "5", 5},
                 {true, "5s", 5},
                 {true, " 7", 7},
                 {true, "-3", 20},
                 {true, "00", 20},
                 {true, "abc", 20},
                 {true, "0x10", 20},
                 {true, "99999999999", big}};
    for (const auto& c : cases)
        EXPECT_EQ(fetchqueue::delay_from_setting(c.present, c.value), c.delay) << c.value;
}
