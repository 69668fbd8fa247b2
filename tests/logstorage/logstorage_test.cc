#include "logstorage/logstorage.h"

#include "../support/command.h"
#include "../support/scratch.h"

#include "linux-platform/eventlog.h"
#include "util/sqlite_stmt.h"
#include "util/sqlite_txn.h"
#include "util/uri.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

using namespace lumbrake;
namespace fs = std::filesystem;

namespace {

std::string fresh_dir(const std::string& name) {
    return tn_test::fresh_dir("logstorage-" + name).string();
}

// One database file per test, opened the way a daemon thread opens it.
class LogStore : public testing::Test {
protected:
    void SetUp() override {
        path_ = fresh_dir(testing::UnitTest::GetInstance()->current_test_info()->name()) +
                "/trawlnest.db";
        ASSERT_EQ(sqlite3_open(path_.c_str(), &db_), SQLITE_OK);
        keep_statements(db_);
    }
    void TearDown() override {
        drop_kept_statements(db_);
        sqlite3_close(db_);
    }

    // Runs a query and answers its rows, columns joined by '|', rows by '\n'.
    std::string rows(const std::string& sql) {
        sqlite3_stmt* st = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
        std::string out;
        while (st && sqlite3_step(st) == SQLITE_ROW) {
            if (!out.empty()) out += '\n';
            for (int i = 0; i < sqlite3_column_count(st); ++i) {
                if (i) out += '|';
                const unsigned char* t = sqlite3_column_text(st, i);
                out += t ? reinterpret_cast<const char*>(t) : "NULL";
            }
        }
        sqlite3_finalize(st);
        return out;
    }

    // Logs n documents of archive 1 at times from..from+n-1 (one per second).
    void log_many(logstorage& ls, int n, std::int64_t from, std::int32_t archive = 1) {
        for (int i = 0; i < n; ++i)
            ls.log_document(db_, "g" + std::to_string(i), archive, "http://h/" + std::to_string(i),
                            from + i, 0);
    }

    std::string path_;
    sqlite3* db_ = nullptr;
};

std::string shell(const std::string& db, const std::string& sql) {
    return tn_test::sqlite_output(db, sql);
}

void to_stderr(platform::eventlog_type, const char* text) {
    std::fputs(text, stderr);
}

} // namespace

TEST_F(LogStore, CreatesTheTablesOnceAndTheSqliteShellReadsThem) {
    {
        logstorage ls(db_);
        ls.start_crawl(db_, 7, 1000);
        ls.log_document(db_, "abc", 7, "http://example.com/x", 1001, 0);
        ls.log_query(db_, 7, "word1 word2", 1002);
    }
    logstorage again(db_); // a second start finds the tables and keeps their rows

    // SQLite keeps each statement as given, its leading keywords upper-cased.

    EXPECT_EQ(shell(path_, "select sql from sqlite_master order by name"),
              "CREATE TABLE crawlstats(arcid integer, start integer, end integer, docs integer, "
              "errors integer)\n"
              "CREATE UNIQUE INDEX crawlstats_idx1 on crawlstats(arcid, start, end)\n"
              "CREATE TABLE documentlog(guid text, arcid integer, url text, timestamp integer, "
              "status integer)\n"
              "CREATE INDEX documentlog_idx1 on documentlog(arcid, timestamp)\n"
              "CREATE TABLE querylog(arcid integer, timestamp integer, query text)\n"
              "CREATE INDEX querylog_idx1 on querylog(arcid, timestamp)\n");
    EXPECT_EQ(shell(path_, "select * from crawlstats; select * from documentlog; "
                           "select * from querylog; select typeof(arcid), typeof(timestamp) "
                           "from documentlog"),
              "7|1000|0|1|0\n"
              "abc|7|http://example.com/x|1001|0\n"
              "7|1002|word1 word2\n"
              "integer|integer\n");
}

TEST_F(LogStore, EachStatusFeedsTheRightCountOfTheRunningCrawlOnly) {
    logstorage ls(db_);
    struct {
        std::int32_t status;
        int docs, errors;
    } cases[] = {{0, 1, 0}, {9, 1, 0},  {3, 0, 1},  {4, 0, 1},  {5, 0, 1}, {7, 0, 1},
                 {8, 0, 1}, {11, 0, 1}, {12, 0, 1}, {13, 0, 1}, {1, 0, 0}, {2, 0, 0},
                 {6, 0, 0}, {10, 0, 0}, {-1, 0, 0}, {14, 0, 0}, {99, 0, 0}};
    std::int64_t t = 1000;
    for (const auto& c : cases) {
        ls.start_crawl(db_, 1, t);
        ls.start_crawl(db_, 2, t); // another archive's crawl is never counted
        ls.log_document(db_, "g", 1, "http://h/", t + 1, c.status);
        std::int64_t start = -5, end = -5, docs = -5, errors = -5;
        ASSERT_TRUE(ls.last_crawl(db_, 1, start, end, docs, errors));
        EXPECT_EQ(start, t);
        EXPECT_EQ(end, 0);
        EXPECT_EQ(docs, c.docs) << "status " << c.status;
        EXPECT_EQ(errors, c.errors) << "status " << c.status;
        EXPECT_EQ(rows("select docs, errors from crawlstats where arcid=2 and end=0"), "0|0");
        t += 10;
    }
    // The row is written whatever the status.
    EXPECT_EQ(rows("select count(*) from documentlog"), std::to_string(std::size(cases)));

    // Without a running crawl the row is logged and no crawl changes.
    ls.end_crawl(db_, 1, t);
    std::string before = rows("select * from crawlstats order by arcid, start");
    ls.log_document(db_, "late", 1, "http://h/late", t + 1, 0);
    ls.log_document(db_, "late", 1, "http://h/late", t + 1, 4);
    EXPECT_EQ(rows("select * from crawlstats order by arcid, start"), before);
    EXPECT_EQ(rows("select count(*) from documentlog where guid='late'"), "2");
}

TEST_F(LogStore, LogsTheCanonicalUrlAndKeepsTextsWhole) {
    logstorage ls(db_);
    const std::string raw = "HTTP://Example.COM:80/a/./b/../c#frag";
    ls.log_document(db_, "it's", 3, raw, 5, 0);
    EXPECT_EQ(rows("select guid, url from documentlog"), "it's|" + canonicalize_url(raw));
    EXPECT_EQ(canonicalize_url(raw).find("frag"), std::string::npos);
    EXPECT_EQ(canonicalize_url(raw).find("/./"), std::string::npos);

    // Quotes and zero bytes are data, not SQL.
    const std::string query = std::string("a' or '1'='1\0tail", 17);
    ls.log_query(db_, 3, query, 6);
    std::vector<QueryLogData> q;
    ls.query_log(db_, 3, 0, 10, q);
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].Query, query);
}

TEST_F(LogStore, StartingARunningCrawlClosesItAtTheNewStart) {
    logstorage ls(db_);
    ls.start_crawl(db_, 1, 100);
    ls.log_document(db_, "g", 1, "http://h/", 101, 0);
    ls.start_crawl(db_, 1, 200);
    EXPECT_EQ(rows("select start, end, docs, errors from crawlstats order by start"),
              "100|200|1|0\n200|0|0|0");
    ls.end_crawl(db_, 1, 300);
    ls.end_crawl(db_, 1, 400); // nothing runs any more
    EXPECT_EQ(rows("select start, end from crawlstats order by start"), "100|200\n200|300");
}

TEST_F(LogStore, ManyStartsWithinOneSecondNeverBreakTheUniqueIndex) {
    logstorage ls(db_);
    for (int i = 0; i < 4; ++i) {
        ls.start_crawl(db_, 1, 500);
        ls.log_document(db_, "g", 1, "http://h/", 500, i == 3 ? 4 : 0);
    }
    // One finished zero-length crawl holding the counts of the closed ones, one running crawl.
    EXPECT_EQ(rows("select start, end, docs, errors from crawlstats order by end desc"),
              "500|500|3|0\n500|0|0|1");
    EXPECT_EQ(rows("select count(*) from crawlstats where end=0"), "1");

    // A crawl ending at the same second as an equal finished one is folded into it.
    ls.end_crawl(db_, 1, 500);
    EXPECT_EQ(rows("select start, end, docs, errors from crawlstats"), "500|500|3|1");

    // Time 0 cannot close a crawl: the running one stays the only one.
    ls.start_crawl(db_, 1, 600);
    ls.start_crawl(db_, 1, 0);
    ls.start_crawl(db_, 1, 0);
    EXPECT_EQ(rows("select start, end from crawlstats where end=0"), "600|0");
}

TEST_F(LogStore, LastCrawlAndCrawlStarts) {
    logstorage ls(db_);
    std::int64_t start = 11, end = 12, docs = 13, errors = 14;
    EXPECT_FALSE(ls.last_crawl(db_, 1, start, end, docs, errors));
    EXPECT_EQ(std::vector<std::int64_t>({start, end, docs, errors}),
              std::vector<std::int64_t>({11, 12, 13, 14}));

    ls.start_crawl(db_, 1, 300);
    ls.end_crawl(db_, 1, 350);
    ls.start_crawl(db_, 1, 100); // an older start inserted later
    ls.end_crawl(db_, 1, 150);
    ls.start_crawl(db_, 2, 50);
    ASSERT_TRUE(ls.last_crawl(db_, 1, start, end, docs, errors));
    EXPECT_EQ(start, 300);
    EXPECT_EQ(end, 350);

    std::vector<CrawlLog> crawls{{9, "x"}};
    ls.crawl_starts(db_, 1, crawls);
    EXPECT_EQ(crawls, (std::vector<CrawlLog>{{100, "0"}, {300, "0"}}));
    ls.crawl_starts(db_, 3, crawls);
    EXPECT_TRUE(crawls.empty());
}

TEST_F(LogStore, ReadsAFinishedCrawlPageByPage) {
    logstorage ls(db_);
    struct {
        int entries;
        std::vector<std::size_t> sizes;
        std::vector<std::string> cookies;
    } cases[] = {
        {25, {10, 10, 5}, {"10", "20", "-1"}},
        {20, {10, 10, 0}, {"10", "20", "-1"}},
        {0, {0}, {"-1"}},
    };
    std::int32_t archive = 1;
    for (const auto& c : cases) {
        // Entries before the start, after the end and of other archives stay out; entries at
        // the start and at the end are in.
        ls.log_document(db_, "before", archive, "http://h/b", 999, 0);
        ls.start_crawl(db_, archive, 1000);
        log_many(ls, c.entries, 1000, archive);
        log_many(ls, 3, 1000, archive + 100);
        const std::int64_t end = c.entries ? 1000 + c.entries - 1 : 1000;
        ls.end_crawl(db_, archive, end);
        ls.log_document(db_, "after", archive, "http://h/a", end + 1, 0);

        std::vector<CrawlLog> crawls;
        ls.crawl_starts(db_, archive, crawls);
        ASSERT_EQ(crawls.size(), 1u);
        CrawlLog cursor = crawls[0];
        std::vector<CrawlLogData> page{{1, "x", "y", 2}};
        std::vector<std::string> seen;
        for (std::size_t i = 0; i < c.sizes.size(); ++i) {
            ls.document_log(db_, archive, 10, cursor, page);
            EXPECT_EQ(page.size(), c.sizes[i]) << c.entries << " entries, call " << i;
            EXPECT_EQ(cursor.Cookie, c.cookies[i]) << c.entries << " entries, call " << i;
            EXPECT_EQ(cursor.Time, 1000);
            for (const auto& e : page)
                seen.push_back(e.ID);
        }
        ASSERT_EQ(seen.size(), static_cast<std::size_t>(c.entries));
        for (int i = 0; i < c.entries; ++i)
            EXPECT_EQ(seen[i], "g" + std::to_string(i));

        // Read to its end: nothing more, and the cursor stays.
        ls.document_log(db_, archive, 10, cursor, page);
        EXPECT_TRUE(page.empty());
        EXPECT_EQ(cursor.Cookie, "-1");
        ++archive;
    }
}

TEST_F(LogStore, EntriesComeByTimeThenByInsertionWithAllTheirFields) {
    logstorage ls(db_);
    ls.start_crawl(db_, 1, 100);
    ls.log_document(db_, "late", 1, "http://h/3", 120, 13);
    ls.log_document(db_, "first", 1, "http://h/1", 110, 0);
    ls.log_document(db_, "second", 1, "http://h/2", 110, 6);
    CrawlLog cursor{100, ""}; // an empty cookie reads from the beginning
    std::vector<CrawlLogData> page;
    ls.document_log(db_, 1, 50, cursor, page);
    EXPECT_EQ(page, (std::vector<CrawlLogData>{{110, "first", "http://h/1", 0},
                                               {110, "second", "http://h/2", 6},
                                               {120, "late", "http://h/3", 13}}));
}

TEST_F(LogStore, ARunningCrawlIsPolledAndItsCursorNeverEnds) {
    logstorage ls(db_);
    ls.start_crawl(db_, 1, 1000);
    log_many(ls, 4, 1000);
    CrawlLog cursor{1000, "0"};
    std::vector<CrawlLogData> page;
    ls.document_log(db_, 1, 10, cursor, page);
    EXPECT_EQ(page.size(), 4u);
    EXPECT_EQ(cursor.Cookie, "4");
    ls.document_log(db_, 1, 10, cursor, page);
    EXPECT_TRUE(page.empty());
    EXPECT_EQ(cursor.Cookie, "4");
    ls.log_document(db_, "new", 1, "http://h/new", 5000, 0);
    ls.document_log(db_, 1, 10, cursor, page);
    ASSERT_EQ(page.size(), 1u);
    EXPECT_EQ(page[0].ID, "new");
    EXPECT_EQ(cursor.Cookie, "5");
}

TEST_F(LogStore, CursorsThatNameNoCrawlOrCarryOddCookies) {
    logstorage ls(db_);
    ls.start_crawl(db_, 1, 1000);
    log_many(ls, 6, 1000);
    ls.end_crawl(db_, 1, 2000);
    ls.start_crawl(db_, 2, 3000);
    log_many(ls, 6, 3000, 2);

    struct {
        std::int32_t archive, time;
        std::string cookie;
        std::int32_t nmax;
        std::size_t entries;
        std::string next;
    } cases[] = {
        {1, 1234, "0", 10, 0, "-1"},                       // no crawl starts then
        {3, 1000, "0", 10, 0, "-1"},                       // no such archive
        {1, 0, "0", 10, 0, "-1"},                          // time 0 names no crawl
        {1, -5, "0", 10, 0, "-1"},                         // nor does a negative time
        {1, 1000, "", 10, 6, "-1"},                        // empty: 0
        {1, 1000, "abc", 10, 6, "-1"},                     // not a number: 0
        {1, 1000, " 2", 3, 3, "5"},                        // blanks before the digits are allowed
        {1, 1000, "4xyz", 3, 2, "-1"},                     // digits, then junk
        {1, 1000, "-1", 10, 0, "-1"},                      // finished: stays
        {1, 1000, "-7", 10, 0, "-7"},                      // any negative cookie stays as it is
        {1, 1000, "99999999999999999999999", 10, 0, "-1"}, // saturates, reads past the end
        {2, 3000, "99999999999999999999999", 10, 0, "9223372036854775807"},
        {2, 3000, "-99999999999999999999999", 10, 0, "-99999999999999999999999"},
        {1, 1000, "0", 0, 0, "0"},  // an empty page moves nothing
        {1, 1000, "2", -1, 0, "2"}, // a negative count is no "unlimited"
        {2, 3000, "0", -1, 0, "0"},
    };
    for (const auto& c : cases) {
        CrawlLog cursor{c.time, c.cookie};
        std::vector<CrawlLogData> page{{1, "x", "y", 2}};
        ls.document_log(db_, c.archive, c.nmax, cursor, page);
        EXPECT_EQ(page.size(), c.entries) << c.archive << " " << c.time << " '" << c.cookie << "'";
        EXPECT_EQ(cursor.Cookie, c.next) << c.archive << " " << c.time << " '" << c.cookie << "'";
        EXPECT_EQ(cursor.Time, c.time);
    }
}

TEST_F(LogStore, QueryLogIncludesBothBounds) {
    logstorage ls(db_);
    for (std::int64_t t : {99, 100, 150, 200, 201})
        ls.log_query(db_, 1, "q" + std::to_string(t), t);
    ls.log_query(db_, 1, "q150b", 150);
    ls.log_query(db_, 2, "other", 150);
    std::vector<QueryLogData> q{{1, "stale"}};
    ls.query_log(db_, 1, 100, 200, q);
    EXPECT_EQ(q, (std::vector<QueryLogData>{
                     {100, "q100"}, {150, "q150"}, {150, "q150b"}, {200, "q200"}}));
    ls.query_log(db_, 1, 200, 100, q);
    EXPECT_TRUE(q.empty());
}

TEST_F(LogStore, RemoveArchiveAndClear) {
    logstorage ls(db_);
    for (std::int32_t a : {1, 2}) {
        ls.start_crawl(db_, a, 10);
        ls.log_document(db_, "g", a, "http://h/", 11, 0);
        ls.log_query(db_, a, "q", 12);
    }
    ls.remove_archive(db_, 1);
    EXPECT_EQ(rows("select arcid from documentlog union all select arcid from querylog "
                   "union all select arcid from crawlstats"),
              "2\n2\n2");
    ls.clear(db_);
    EXPECT_EQ(rows("select count(*) from documentlog union all select count(*) from querylog "
                   "union all select count(*) from crawlstats"),
              "0\n0\n0");
    // The tables stay usable.
    ls.start_crawl(db_, 1, 20);
    EXPECT_EQ(rows("select * from crawlstats"), "1|20|0|0|0");
}

TEST_F(LogStore, WorksInsideTheStorageTransaction) {
    logstorage ls(db_);
    storage_transaction txn(db_);
    ls.start_crawl(db_, 1, 10);
    ls.log_document(db_, "g", 1, "http://h/", 11, 0);
    txn.commit();
    EXPECT_EQ(shell(path_, "select docs from crawlstats"), "1\n");
}

using LogStoreDeathTest = LogStore;

TEST_F(LogStoreDeathTest, SqliteFailuresAreFatal) {
    // A table of that name with another layout: the probe passes, the insert fails.
    ASSERT_EQ(sqlite3_exec(db_, "create table documentlog(x)", nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_DEATH(
        {
            platform::set_eventlog_sink(&to_stderr);
            logstorage ls(db_);
            ls.log_document(db_, "g", 1, "http://h/", 1, 0);
        },
        "src/logstorage/logstorage.cc\\([0-9]+\\): assertion \\[SQLite error: \\[1\\] "
        "table documentlog has 1 columns but 5 values were supplied\\] failed");
    // A database that cannot be written: creating the tables fails.
    sqlite3* ro = nullptr;
    std::string other = fs::path(path_).parent_path() / "readonly.db";
    {
        std::FILE* f = std::fopen(other.c_str(), "w");
        std::fclose(f);
    }
    ASSERT_EQ(sqlite3_open_v2(other.c_str(), &ro, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    EXPECT_DEATH(
        {
            platform::set_eventlog_sink(&to_stderr);
            logstorage ls(ro);
        },
        "SQLite error: \\[8\\] attempt to write a readonly database");
    sqlite3_close(ro);
}
