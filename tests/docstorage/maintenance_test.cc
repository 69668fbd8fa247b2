#include "docstorage/docstorage.h"

#include "fetchqueue/fetchqueue.h"
#include "test_db.h"
#include "util/sqlite_txn.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace lumbrake;
using docstorage_test::test_db;

namespace {

void store(docstorage& ds, sqlite3* db, const std::string& guid, std::uint32_t arcid,
           std::int32_t error, std::size_t content_length, std::uint32_t timestamp = 1000,
           int cache = 0, bool corechanged = false) {
    ds.store(db,
             {.guid = guid,
              .arcid = arcid,
              .url = "http://example.com/" + guid,
              .timestamp = timestamp,
              .error = error,
              .headers = "H",
              .content = std::string(content_length, 'c'),
              .fff = "FFF of " + guid,
              .fffcrc = 1,
              .corecrc = 2,
              .corechanged = corechanged,
              .score = 500000,
              .mime = "text/plain",
              .charset = "utf-8",
              .servertime = timestamp - 10},
             {{"SideMeta", "meta of " + guid}}, cache);
}

std::string counters(const test_db& t) {
    return t.query("select arcid, ndocs, nbytes from doccount order by arcid");
}

} // namespace

TEST(DocstorageRemove, OneVersion) {
    test_db t;
    docstorage ds(t.db());
    store(ds, t.db(), "a", 1, 0, 100);
    store(ds, t.db(), "b", 1, 0, 40);
    store(ds, t.db(), "bad", 1, 4, 7);
    store(ds, t.db(), "c", 2, 0, 1000);
    ASSERT_EQ(counters(t), "0|3|1140\n1|2|140\n2|1|1000\n");

    // not stored: no row changes, no counter row is written
    t.exec("delete from doccount where arcid = 2");
    ds.remove(t.db(), "nobody");
    EXPECT_EQ(counters(t), "0|3|1140\n1|2|140\n");
    EXPECT_EQ(t.query("select count(*) from docstorage"), "4\n");

    // a version with another status changes no count, but both rows are rewritten
    t.exec("delete from doccount");
    ds.remove(t.db(), "bad");
    EXPECT_EQ(counters(t), "0|0|0\n1|0|0\n");
    t.exec("insert or replace into doccount values(0, 3, 1140), (1, 2, 140), (2, 1, 1000)");

    // a counted version leaves, with its auxiliary values
    ds.remove(t.db(), "a");
    EXPECT_EQ(counters(t), "0|2|1040\n1|1|40\n2|1|1000\n");
    EXPECT_EQ(t.query("select guid from docstorage order by guid"), "b\nc\n");
    EXPECT_EQ(t.query("select guid from auxstorage order by guid"), "b\nc\n");

    // the only version of archive 2: its row stays at zero
    ds.remove(t.db(), "c");
    EXPECT_EQ(counters(t), "0|1|40\n1|1|40\n2|0|0\n");
}

TEST(DocstorageRemove, VersionOfArchiveZeroIsLeftAlone) {
    test_db t;
    docstorage ds(t.db());
    store(ds, t.db(), "zero", 0, 0, 10);
    const std::string before = counters(t);
    ds.remove(t.db(), "zero");
    EXPECT_EQ(t.query("select guid from docstorage"), "zero\n");
    EXPECT_EQ(counters(t), before);
}

TEST(DocstorageRemove, WholeArchive) {
    test_db t;
    docstorage ds(t.db());
    store(ds, t.db(), "a1", 1, 0, 100);
    store(ds, t.db(), "a2", 1, 9, 50);
    store(ds, t.db(), "a3", 1, 0, 25);
    store(ds, t.db(), "b1", 2, 0, 1000);
    ASSERT_EQ(counters(t), "0|3|1125\n1|2|125\n2|1|1000\n");

    ds.remove_archive(t.db(), 1);
    EXPECT_EQ(t.query("select guid from docstorage"), "b1\n");
    EXPECT_EQ(t.query("select guid from auxstorage"), "b1\n");
    EXPECT_EQ(counters(t), "0|1|1000\n2|1|1000\n");

    // an archive without counter row or versions leaves the totals as they were
    ds.remove_archive(t.db(), 7);
    EXPECT_EQ(counters(t), "0|1|1000\n2|1|1000\n");
    t.exec("delete from doccount");
    ds.remove_archive(t.db(), 7);
    EXPECT_EQ(counters(t), "0|0|0\n");
}

TEST(DocstorageExpiry, OldestDocumentsInPages) {
    test_db t;
    docstorage ds(t.db());
    // 250 expired versions stored newest first, and a few newer ones and another archive
    storage_transaction txn(t.db());
    for (int i = 249; i >= 0; --i)
        store(ds, t.db(), "old" + std::to_string(i), 1, i % 3 == 0 ? 0 : 4, 1, 1000 + i);
    store(ds, t.db(), "fresh", 1, 0, 1, 5000);
    store(ds, t.db(), "other", 2, 0, 1, 1);
    txn.commit();

    std::vector<std::string> guids{"kept"};
    ds.oldest_documents(t.db(), 1, 4000, 100, guids);
    ASSERT_EQ(guids.size(), 101u);
    EXPECT_EQ(guids.front(), "kept");
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(guids[i + 1], "old" + std::to_string(i));

    // the bound is inclusive; later runs take the rest
    for (std::size_t i = 1; i < guids.size(); ++i)
        ds.remove(t.db(), guids[i]);
    guids.clear();
    ds.oldest_documents(t.db(), 1, 1249, 100, guids);
    ASSERT_EQ(guids.size(), 100u);
    EXPECT_EQ(guids.front(), "old100");
    EXPECT_EQ(guids.back(), "old199");

    // a bound before 1970 (a garbage limit longer than the clock) takes nothing
    guids.clear();
    ds.oldest_documents(t.db(), 1, -5, 100, guids);
    ds.oldest_documents(t.db(), 2, 0, 100, guids);
    EXPECT_TRUE(guids.empty());
}

TEST(DocstorageRequeue, OnlyIdleArchivesAndProcessedVersions) {
    test_db t;
    docstorage ds(t.db());
    fetchqueue queue(t.db(), 0);
    store(ds, t.db(), "ok", 1, 0, 10);
    store(ds, t.db(), "same", 1, 9, 10);
    store(ds, t.db(), "missing", 1, 3, 10);
    store(ds, t.db(), "broken", 1, 4, 10);
    store(ds, t.db(), "elsewhere", 2, 0, 10);

    // one queued URL: nothing is added
    queue.push(t.db(), 1, "http://example.com/pending", 3);
    ds.queue_reprocess(t.db(), 1, queue);
    EXPECT_EQ(t.query("select arcid, url, priority from fetchqueue"),
              "1|http://example.com/pending|3\n");

    queue.clear(t.db());
    ds.queue_reprocess(t.db(), 1, queue);
    EXPECT_EQ(t.query("select arcid, url, priority from fetchqueue order by url"),
              "1|guid:ok|0\n1|guid:same|0\n");

    // the queue hands them out like any URL
    std::uint32_t arcid, priority;
    std::string url;
    ASSERT_TRUE(queue.next(t.db(), arcid, url, priority));
    EXPECT_EQ(arcid, 1u);
    EXPECT_TRUE(url == "guid:ok" || url == "guid:same") << url;
}

namespace {

// Records what the rebuild asks of the index, in order.
struct recording_index {
    std::vector<std::string> calls;
    std::vector<std::string> fffs;
    void reset() { calls.push_back("reset"); }
    void flush() { calls.push_back("flush"); }
    void add_document(const std::string& guid, std::uint32_t arcid, const std::string& url,
                      const std::string& mime, std::int32_t time, std::int32_t servertime,
                      std::uint32_t score, const std::vector<std::int32_t>& views,
                      const std::string& fff) {
        std::string call = "add " + guid + " " + std::to_string(arcid) + " " + url + " " + mime +
                           " " + std::to_string(time) + " " + std::to_string(servertime) + " " +
                           std::to_string(score) + " views";
        for (std::int32_t v : views)
            call += " " + std::to_string(v);
        calls.push_back(call);
        fffs.push_back(fff);
    }
};

} // namespace

TEST(DocstorageRebuild, AddsProcessedVersionsBetweenResetAndFlush) {
    test_db t;
    docstorage ds(t.db());
    store(ds, t.db(), "full", 1, 0, 10, 7200, 0, false);
    store(ds, t.db(), "changed", 2, 0, 10, 7300, 1, true);
    store(ds, t.db(), "nocache", 1, 0, 10, 7400, 2, false);
    store(ds, t.db(), "same", 1, 9, 10);
    store(ds, t.db(), "gone", 1, 3, 10);

    recording_index index;
    ds.rebuild_index(t.db(), index);
    EXPECT_EQ(index.calls,
              (std::vector<std::string>{
                  "reset", "add full 1 http://example.com/full text/plain 7200 7190 500000 views 0",
                  "add changed 2 http://example.com/changed text/plain 7300 7290 500000 views 0 1",
                  "add nocache 1 http://example.com/nocache text/plain 7400 7390 500000 views 0",
                  "flush"}));
    EXPECT_EQ(index.fffs, (std::vector<std::string>{"FFF of full", "FFF of changed", ""}));
}

TEST(DocstorageRebuild, OnlyUnchangedVersionsLeaveAnEmptyFlushedIndex) {
    test_db t;
    docstorage ds(t.db());
    store(ds, t.db(), "s1", 1, 9, 10);
    store(ds, t.db(), "s2", 2, 9, 10);
    recording_index index;
    ds.rebuild_index(t.db(), index);
    EXPECT_EQ(index.calls, (std::vector<std::string>{"reset", "flush"}));
}

TEST(DocstorageClear, EmptiesTheThreeTables) {
    test_db t;
    docstorage ds(t.db());
    store(ds, t.db(), "a", 1, 0, 10);
    store(ds, t.db(), "b", 2, 0, 10);
    ds.clear(t.db());
    EXPECT_EQ(t.query("select (select count(*) from docstorage), (select count(*) from "
                      "auxstorage), (select count(*) from doccount)"),
              "0|0|0\n");
    EXPECT_EQ(ds.document_count(t.db(), 0), 0);
    // the tables stay
    store(ds, t.db(), "c", 1, 0, 10);
    EXPECT_EQ(ds.document_count(t.db(), 0), 1);
}
