// Crawl control (start, stop, reprocess) over the fetch queue and the crawl records, and the
// crawl and query logs.
#include "api/archive-info.h"
#include "fixture.h"

#include <algorithm>

namespace apiops4 {
namespace {

class Crawl : public scratch_db {
protected:
    // An archive whose ACL lets "reader" read and "writer" write, over a source with seeds.
    std::int32_t archive_with_seeds(std::vector<std::string> seeds, const char* name = "a") {
        SourceConfiguration s;
        s.Name = name;
        s.Seeds = std::move(seeds);
        std::uint32_t m = 0;
        ArchiveConfiguration a;
        a.Name = name;
        a.Source = cfgstorage<SourceConfiguration>::add(db_, s, m);
        a.ACL = {{"reader", READACCESS, false}, {"writer", WRITEACCESS, false}};
        return cfgstorage<ArchiveConfiguration>::add(db_, a, m);
    }
    using control = void (api::*)(api_result&, std::int32_t, ArchiveInfo&);
    api_result run(const api_context& ctx, control op, std::int32_t arcid, ArchiveInfo& info) {
        return call(ctx, [&](api& a, api_result& r) { (a.*op)(r, arcid, info); });
    }
    std::string queued(std::int32_t arcid) {
        return shell("select url, priority from fetchqueue where arcid=" + std::to_string(arcid) +
                     " order by url");
    }
    std::string crawls(std::int32_t arcid) {
        return shell("select start, end from crawlstats where arcid=" + std::to_string(arcid) +
                     " order by start");
    }
};

TEST_F(Crawl, StartOpensOneRecordAndQueuesTheSeedsOnce) {
    const std::int32_t id = archive_with_seeds(
        {"http://example.org/", "http://example.org/b", "http://other.example.org/c"});
    ArchiveInfo info;
    ASSERT_TRUE(run(context(true), &api::start_crawl, id, info).ok);
    EXPECT_EQ(info.Archive, id);
    EXPECT_TRUE(info.Crawling);
    EXPECT_EQ(info.LastRunStart, clock_);
    EXPECT_EQ(info.LastRunEnd, 0);
    EXPECT_FALSE(info.ReadOnly);
    EXPECT_EQ(info.Configuration.Name, "a");
    EXPECT_EQ(crawls(id), std::to_string(clock_) + "|0\n");
    const std::string three =
        "http://example.org/|0\nhttp://example.org/b|0\nhttp://other.example.org/c|0\n";
    EXPECT_EQ(queued(id), three);

    // While it runs, a second start changes nothing, even after the queue was worked on.
    shell("delete from fetchqueue where url='http://example.org/b'");
    clock_ += 60;
    ArchiveInfo again;
    ASSERT_TRUE(run(context(true), &api::start_crawl, id, again).ok);
    EXPECT_TRUE(again.Crawling);
    EXPECT_EQ(again.LastRunStart, clock_ - 60);
    EXPECT_EQ(crawls(id), std::to_string(clock_ - 60) + "|0\n");
    EXPECT_EQ(queued(id), "http://example.org/|0\nhttp://other.example.org/c|0\n");
}

TEST_F(Crawl, StopEmptiesOnlyThisArchivesQueueAndClosesTheRecord) {
    const std::int32_t id = archive_with_seeds({"http://example.org/", "http://example.org/x"});
    const std::int32_t other = archive_with_seeds({"http://example.org/"}, "other");
    ArchiveInfo info;
    ASSERT_TRUE(run(context(true), &api::start_crawl, id, info).ok);
    ASSERT_TRUE(run(context(true), &api::start_crawl, other, info).ok);
    const std::int64_t start = clock_;

    clock_ += 500;
    ASSERT_TRUE(run(context(true), &api::stop_crawl, id, info).ok);
    EXPECT_FALSE(info.Crawling);
    EXPECT_EQ(info.LastRunStart, start);
    EXPECT_EQ(info.LastRunEnd, clock_);
    EXPECT_EQ(queued(id), "");
    EXPECT_EQ(crawls(id), std::to_string(start) + "|" + std::to_string(clock_) + "\n");
    EXPECT_EQ(queued(other), "http://example.org/|0\n");
    EXPECT_EQ(crawls(other), std::to_string(start) + "|0\n");

    // Stopping an idle archive answers its state and changes nothing.
    clock_ += 10;
    ArchiveInfo idle;
    ASSERT_TRUE(run(context(true), &api::stop_crawl, id, idle).ok);
    EXPECT_FALSE(idle.Crawling);
    EXPECT_EQ(idle.LastRunEnd, clock_ - 10);

    // The queue object forgot the archive's URLs too: the other archive's URL is next.
    std::uint32_t arcid = 0, priority = 0;
    std::string url;
    ASSERT_TRUE(queue_->next(db_, arcid, url, priority));
    EXPECT_EQ(arcid, static_cast<std::uint32_t>(other));
}

TEST_F(Crawl, ReprocessQueuesStoredDocumentsOnlyWhenIdle) {
    const std::int32_t id = archive_with_seeds({"http://example.org/"});
    for (const char* guid : {"g1", "g2"})
        docs_->store(db_,
                     {.guid = guid,
                      .arcid = static_cast<std::uint32_t>(id),
                      .url = std::string("http://example.org/") + guid,
                      .timestamp = static_cast<std::uint32_t>(clock_ - 1000),
                      .error = docstorage::STATUS_NONE,
                      .content = "body",
                      .mime = "text/plain",
                      .charset = "utf-8"},
                     {}, FULLCACHE);

    // During a crawl: nothing.
    ArchiveInfo info;
    ASSERT_TRUE(run(context(true), &api::start_crawl, id, info).ok);
    clock_ += 5;
    ASSERT_TRUE(run(context(true), &api::reprocess_documents, id, info).ok);
    EXPECT_TRUE(info.Crawling);
    EXPECT_EQ(queued(id), "http://example.org/|0\n");
    EXPECT_EQ(crawls(id), std::to_string(clock_ - 5) + "|0\n");

    clock_ += 5;
    ASSERT_TRUE(run(context(true), &api::stop_crawl, id, info).ok);
    clock_ += 100;
    ASSERT_TRUE(run(context(true), &api::reprocess_documents, id, info).ok);
    EXPECT_TRUE(info.Crawling);
    EXPECT_EQ(info.LastRunStart, clock_);
    EXPECT_EQ(queued(id), "guid:g1|0\nguid:g2|0\n");
}

TEST_F(Crawl, StartWithoutALoadableSourceChangesNothing) {
    ArchiveConfiguration a;
    a.Source = 42;
    std::uint32_t m = 0;
    const int id = cfgstorage<ArchiveConfiguration>::add(db_, a, m);
    ArchiveInfo info;
    const api_result r = run(context(true), &api::start_crawl, id, info);
    EXPECT_EQ(r, api_result{});
    EXPECT_EQ(info.Archive, id);
    EXPECT_FALSE(info.Crawling);
    EXPECT_EQ(crawls(id), "");
}

// The process threads end a crawl only after handling one of its URLs, so a crawl with
// nothing to fetch must not stay open: it would show as running for ever.
TEST_F(Crawl, ACrawlWithNothingToFetchEndsAtOnce) {
    const std::int32_t id = archive_with_seeds({});
    ArchiveInfo info;
    ASSERT_TRUE(run(context(true), &api::start_crawl, id, info).ok);
    EXPECT_FALSE(info.Crawling);
    EXPECT_EQ(info.LastRunStart, clock_);
    EXPECT_EQ(info.LastRunEnd, clock_);
    EXPECT_EQ(crawls(id), std::to_string(clock_) + "|" + std::to_string(clock_) + "\n");

    // Reprocessing an archive without stored documents, a little later.
    clock_ += 30;
    ASSERT_TRUE(run(context(true), &api::reprocess_documents, id, info).ok);
    EXPECT_FALSE(info.Crawling);
    EXPECT_EQ(info.LastRunStart, clock_);
    EXPECT_EQ(info.LastRunEnd, clock_);

    // And a start again within the same second folds into the finished record.
    ASSERT_TRUE(run(context(true), &api::start_crawl, id, info).ok);
    EXPECT_FALSE(info.Crawling);
    EXPECT_EQ(crawls(id), std::to_string(clock_ - 30) + "|" + std::to_string(clock_ - 30) + "\n" +
                              std::to_string(clock_) + "|" + std::to_string(clock_) + "\n");
}

TEST_F(Crawl, AccessIsWriteForControlAndReadForLogs) {
    const std::int32_t id = archive_with_seeds({"http://example.org/"});
    logs_->start_crawl(db_, id, clock_ - 100);
    logs_->log_document(db_, "g1", id, "http://example.org/", clock_ - 50, 0);
    logs_->log_query(db_, id, "hello", clock_ - 40);

    struct caller {
        const char* name;
        bool admin;
        const char* user;
        std::vector<std::string> groups;
        bool may_read, may_write;
    };
    const std::vector<caller> callers = {
        {"administrator", true, "root", {}, true, true},
        {"reader", false, "reader", {}, true, false},
        {"writer only", false, "writer", {}, false, true},
        {"stranger", false, "bob", {"staff"}, false, false},
    };
    for (const caller& c : callers) {
        SCOPED_TRACE(c.name);
        const api_context ctx = context(c.admin, c.user, c.groups);
        for (control op : {&api::stop_crawl, &api::start_crawl, &api::reprocess_documents}) {
            ArchiveInfo info;
            info.Archive = -7;
            const api_result r = call(ctx, [&](api& a, api_result& res) {
                // A refused caller must not reach the running crawl: try to stop it.
                (a.*op)(res, id, info);
            });
            if (c.may_write) {
                EXPECT_TRUE(r.ok);
            } else {
                EXPECT_EQ(r.code, API_ACCESS_VIOLATION);
                EXPECT_EQ(info.Archive, -7); // not filled
            }
        }
        std::vector<CrawlLog> starts;
        std::vector<CrawlLogData> rows;
        std::vector<QueryLogData> queries;
        CrawlLog cursor{static_cast<std::int32_t>(clock_ - 100), ""};
        const api_result r1 =
            call(ctx, [&](api& a, api_result& r) { a.get_available_crawl_logs(r, id, starts); });
        const api_result r2 =
            call(ctx, [&](api& a, api_result& r) { a.get_crawl_log(r, id, 10, cursor, rows); });
        const api_result r3 = call(ctx, [&](api& a, api_result& r) {
            a.get_query_log(r, id, 0, static_cast<std::int32_t>(clock_), queries);
        });
        for (const api_result& r : {r1, r2, r3})
            EXPECT_EQ(r.code, c.may_read ? 0 : API_ACCESS_VIOLATION);
        if (c.may_read) {
            EXPECT_FALSE(starts.empty());
            EXPECT_FALSE(queries.empty());
        } else {
            EXPECT_TRUE(starts.empty());
            EXPECT_TRUE(rows.empty());
            EXPECT_TRUE(queries.empty());
        }
    }

    // An unknown archive is refused alike, for every caller.
    ArchiveInfo info;
    EXPECT_EQ(run(context(true), &api::start_crawl, 999, info).code, API_ACCESS_VIOLATION);
    std::vector<CrawlLog> starts;
    EXPECT_EQ(call(context(true),
                   [&](api& a, api_result& r) { a.get_available_crawl_logs(r, 999, starts); })
                  .code,
              API_ACCESS_VIOLATION);
}

TEST_F(Crawl, LogsListCrawlsPageTheDocumentLogAndFilterQueries) {
    const std::int32_t id = archive_with_seeds({"http://example.org/"});
    const api_context admin = context(true);
    std::vector<CrawlLog> starts{{1, "x"}};
    ASSERT_TRUE(
        call(admin, [&](api& a, api_result& r) { a.get_available_crawl_logs(r, id, starts); }).ok);
    EXPECT_TRUE(starts.empty()); // never crawled

    ArchiveInfo info;
    const std::int64_t first = clock_;
    ASSERT_TRUE(run(admin, &api::start_crawl, id, info).ok);
    for (int i = 0; i < 5; ++i)
        logs_->log_document(db_, "g" + std::to_string(i), id,
                            "http://example.org/" + std::to_string(i), first + i,
                            i == 3 ? 3 /* not found */ : 0);
    clock_ += 10;
    ASSERT_TRUE(run(admin, &api::stop_crawl, id, info).ok);
    EXPECT_EQ(info.Documents, 4);
    EXPECT_EQ(info.Errors, 1);
    clock_ += 100;
    const std::int64_t second = clock_;
    ASSERT_TRUE(run(admin, &api::start_crawl, id, info).ok);

    ASSERT_TRUE(
        call(admin, [&](api& a, api_result& r) { a.get_available_crawl_logs(r, id, starts); }).ok);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0].Time, first);
    EXPECT_EQ(starts[1].Time, second);

    // Pages of two through the first crawl's five rows, then the end marker.
    CrawlLog cursor = starts[0];
    std::vector<std::string> seen;
    for (int page = 0; page < 4 && cursor.Cookie != "-1"; ++page) {
        std::vector<CrawlLogData> rows;
        ASSERT_TRUE(call(admin, [&](api& a, api_result& r) {
                        a.get_crawl_log(r, id, 2, cursor, rows);
                    }).ok);
        for (const CrawlLogData& row : rows)
            seen.push_back(row.ID);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"g0", "g1", "g2", "g3", "g4"}));
    EXPECT_EQ(cursor.Cookie, "-1");

    logs_->log_query(db_, id, "early", 100);
    logs_->log_query(db_, id, "middle", 200);
    logs_->log_query(db_, id, "late", 300);
    std::vector<QueryLogData> queries;
    ASSERT_TRUE(
        call(admin, [&](api& a, api_result& r) { a.get_query_log(r, id, 150, 300, queries); }).ok);
    EXPECT_EQ(queries, (std::vector<QueryLogData>{{200, "middle"}, {300, "late"}}));
}

// A source of many seeds is read a part at a time: every seed is queued, in the record's order,
// once per canonical form, exactly as queueing the whole record's seeds one by one does.
TEST_F(Crawl, ManySeedsAreQueuedInOrderOnceEach) {
    std::vector<std::string> seeds;
    for (int k = 0; k < 50000; ++k) {
        const std::string host = "h" + std::to_string(k % 11) + ".example.org";
        seeds.push_back("http://" + host + "/p" + std::to_string(k) +
                        "?q=a&r=" + std::to_string(k % 5));
        // Every hundredth seed again, once as it is and once in another spelling of it.
        if (k % 100 == 0) seeds.push_back(seeds.back());
        if (k % 100 == 50)
            seeds.push_back("HTTP://" + host + ":80/p" + std::to_string(k) +
                            "?q=a&r=" + std::to_string(k % 5));
    }
    const std::int32_t id = archive_with_seeds(seeds);
    ArchiveInfo info;
    ASSERT_TRUE(run(context(true), &api::start_crawl, id, info).ok);
    EXPECT_TRUE(info.Crawling);

    // The same seeds queued one by one from the whole record, for another archive.
    const std::uint32_t other = 999;
    {
        SourceConfiguration whole;
        std::uint32_t m = 0;
        ASSERT_TRUE(cfgstorage<SourceConfiguration>::get(db_, info.Configuration.Source, whole, m));
        ASSERT_EQ(whole.Seeds.size(), seeds.size());
        for (const std::string& seed : whole.Seeds)
            queue_->push(db_, other, seed, 0);
    }
    auto rows = [&](std::uint32_t arcid) {
        return shell("select url, host, priority from fetchqueue where arcid=" +
                     std::to_string(arcid) + " order by rowid");
    };
    const std::string queued_rows = rows(static_cast<std::uint32_t>(id));
    EXPECT_EQ(std::count(queued_rows.begin(), queued_rows.end(), '\n'), 50000);
    EXPECT_EQ(queued_rows, rows(other));
    EXPECT_EQ(queued_rows.substr(0, queued_rows.find('\n')),
              "http://h0.example.org/p0?q=a&r=0|h0.example.org|0");
}

// A stored source whose text breaks after some seeds cannot be loaded: the start changes
// nothing, not even with the seeds read before the fault, and a repaired record starts.
TEST_F(Crawl, StartOverADamagedSourceQueuesNothing) {
    const std::int32_t id = archive_with_seeds({"http://a.example/", "http://b.example/"});
    ArchiveConfiguration archive;
    std::uint32_t m = 0;
    ASSERT_TRUE(cfgstorage<ArchiveConfiguration>::get(db_, id, archive, m));
    const std::string source = std::to_string(archive.Source);
    shell("update cfgstorage set cfg=substr(cfg, 1, instr(cfg, '<limit')) || 'oops' "
          "where key='SourceConfiguration' and id=" +
          source);
    const std::string damaged = shell("select cfg from cfgstorage where key='SourceConfiguration' "
                                      "and id=" +
                                      source);
    ASSERT_NE(damaged.find("http://b.example/"), std::string::npos) << damaged;

    ArchiveInfo info;
    EXPECT_EQ(run(context(true), &api::start_crawl, id, info), api_result{});
    EXPECT_FALSE(info.Crawling);
    EXPECT_EQ(crawls(id), "");
    EXPECT_EQ(queued(id), "");
    std::uint32_t arcid = 0, priority = 0;
    std::string url;
    EXPECT_FALSE(queue_->next(db_, arcid, url, priority));

    SourceConfiguration repaired;
    repaired.Seeds = {"http://b.example/"};
    std::uint32_t any = 0;
    ASSERT_TRUE(cfgstorage<SourceConfiguration>::set(db_, archive.Source, repaired, any));
    ASSERT_TRUE(run(context(true), &api::start_crawl, id, info).ok);
    EXPECT_TRUE(info.Crawling);
    EXPECT_EQ(queued(id), "http://b.example/|0\n");
    ASSERT_TRUE(queue_->next(db_, arcid, url, priority));
    EXPECT_EQ(url, "http://b.example/");
}

} // namespace
} // namespace apiops4
