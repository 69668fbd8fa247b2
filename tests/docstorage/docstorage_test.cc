#include "docstorage/docstorage.h"
#include "docstorage/docstorage-blob.h"

#include "linux-platform/eventlog.h"
#include "test_db.h"
#include "util/sqlite_txn.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <thread>
#include <cstdlib>
#include <vector>

#include <zlib.h>

using namespace lumbrake;
using docstorage_test::test_db;

namespace {

// One version with every field that docstorage::store takes; tests change what they need.
struct version : stored_version {
    aux_values aux{{"SideMeta", "side meta text"}};
    int cache = 0;

    version()
        : stored_version{.guid = "g1",
                         .arcid = 1,
                         .url = "http://example.com/a",
                         .timestamp = 1000,
                         .error = 0,
                         .headers = "Content-Type: text/html\r\n",
                         .content = std::string(300, 'c') + std::string("\0bin\xff", 5),
                         .fff = std::string("\x06\x00"
                                            "fff",
                                            5) +
                                std::string(200, 'f'),
                         .fffcrc = 11,
                         .corecrc = 22,
                         .corechanged = false,
                         .score = 1000000,
                         .mime = "text/html",
                         .charset = "utf-8",
                         .servertime = 900} {}

    void store(docstorage& ds, sqlite3* db) const { ds.store(db, *this, aux, cache); }
};

// A version read back; every field starts as a marker that a load must not touch when the
// guid is not stored.
struct loaded : stored_version {
    bool found = false;
    loaded()
        : stored_version{.guid = "untouched",
                         .arcid = 77,
                         .url = "untouched",
                         .timestamp = 77,
                         .error = 77,
                         .headers = "untouched",
                         .content = "untouched",
                         .fff = "untouched",
                         .fffcrc = 77,
                         .corecrc = 77,
                         .corechanged = true,
                         .score = 77,
                         .mime = "untouched",
                         .charset = "untouched",
                         .servertime = 77} {}
};

loaded load(docstorage& ds, sqlite3* db, const std::string& guid) {
    loaded l;
    l.found = ds.load(db, guid, l);
    return l;
}

std::vector<std::string>* g_statements;
int trace_statement(unsigned, void*, void* stmt, void*) {
    g_statements->push_back(sqlite3_sql(static_cast<sqlite3_stmt*>(stmt)));
    return 0;
}

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

void eventlog_to_stderr(platform::eventlog_type, const char* text) {
    std::fputs(text, stderr);
}

} // namespace

TEST(DocstorageTables, CreatedExactlyAndOnlyProbedWhenPresent) {
    test_db t;
    docstorage ds(t.db());
    EXPECT_EQ(t.shell("select type, name, sql from sqlite_master order by rowid"),
              "table|docstorage|CREATE TABLE docstorage(guid text, arcid integer, url text, "
              "timestamp integer, error integer, headers blob, headerslen integer, content blob, "
              "contentlen integer, fff blob, ffflen integer, fffcrc integer, corecrc integer, "
              "corechanged integer, score integer, mime text, charset text, servertime integer)\n"
              "index|docstorage_idx1|CREATE UNIQUE INDEX docstorage_idx1 on docstorage(guid)\n"
              "index|docstorage_idx2|CREATE INDEX docstorage_idx2 on docstorage(arcid, url)\n"
              "index|docstorage_idx3|CREATE INDEX docstorage_idx3 on docstorage(arcid, "
              "timestamp)\n"
              "table|auxstorage|CREATE TABLE auxstorage(guid text, key text, value blob, "
              "valuelen integer)\n"
              "index|auxstorage_idx1|CREATE INDEX auxstorage_idx1 on auxstorage(guid)\n"
              "table|doccount|CREATE TABLE doccount(arcid integer, ndocs integer, nbytes "
              "integer)\n"
              "index|doccount_idx1|CREATE UNIQUE INDEX doccount_idx1 on doccount(arcid)\n");

    // A second start on the same database only probes.
    std::vector<std::string> statements;
    g_statements = &statements;
    sqlite3_trace_v2(t.db(), SQLITE_TRACE_STMT, trace_statement, nullptr);
    docstorage again(t.db());
    sqlite3_trace_v2(t.db(), 0, nullptr, nullptr);
    EXPECT_EQ(statements, (std::vector<std::string>{"select * from docstorage limit 1",
                                                    "select * from auxstorage limit 1",
                                                    "select * from doccount limit 1"}));
}

TEST(DocstorageStore, RoundTripReadByTheShell) {
    test_db t;
    docstorage ds(t.db());
    version v;
    v.guid = "it's";
    v.url = "http://example.com/o'brien?q=1";
    v.aux = {{"k'ey", "one"}, {"k'ey", "two"}, {"empty", ""}, {"SideMeta", std::string(500, 's')}};
    v.corechanged = true;
    v.store(ds, t.db());

    loaded l = load(ds, t.db(), "it's");
    ASSERT_TRUE(l.found);
    EXPECT_EQ(l.arcid, 1u);
    EXPECT_EQ(l.url, "http://example.com/o'brien?q=1");
    EXPECT_EQ(l.timestamp, 1000u);
    EXPECT_EQ(l.error, 0);
    EXPECT_EQ(l.headers, v.headers);
    EXPECT_EQ(l.content, v.content);
    EXPECT_EQ(l.fff, v.fff);
    EXPECT_EQ(l.fffcrc, 11u);
    EXPECT_EQ(l.corecrc, 22u);
    EXPECT_TRUE(l.corechanged);
    EXPECT_EQ(l.score, 1000000u);
    EXPECT_EQ(l.mime, "text/html");
    EXPECT_EQ(l.charset, "utf-8");
    EXPECT_EQ(l.servertime, 900u);

    aux_values aux{{"stale", "x"}};
    ds.load_aux(t.db(), "it's", aux);
    EXPECT_EQ(aux, v.aux);

    // The shell inflates the blobs by their length columns with its own zlib reader.
    EXPECT_EQ(t.shell("select headerslen, contentlen, ffflen, length(content) < contentlen, "
                      "cast(sqlar_uncompress(headers, headerslen) as text), "
                      "hex(sqlar_uncompress(content, contentlen)), "
                      "hex(sqlar_uncompress(fff, ffflen)) from docstorage"),
              "25|305|205|1|" + v.headers + "|" + hex(v.content) + "|" + hex(v.fff) + "\n");
    EXPECT_EQ(t.shell("select key, length(value), valuelen, "
                      "cast(sqlar_uncompress(value, valuelen) as text) from auxstorage "
                      "where key <> 'SideMeta' order by rowid"),
              "empty|0|0|\nk'ey|11|3|one\nk'ey|11|3|two\n");
}

TEST(DocstorageStore, CacheModeAndStatusDecideWhatIsKept) {
    struct kept_case {
        std::int32_t error;
        int cache;
        bool headers_and_content, fff, aux, counted;
    };
    const kept_case cases[] = {
        {0, 0, true, true, true, true},     {9, 0, true, true, true, false},
        {3, 0, false, false, false, false}, {4, 0, false, false, false, false},
        {0, 1, false, true, false, true},   {9, 1, false, true, false, false},
        {3, 1, false, false, false, false}, {0, 2, false, false, false, true},
        {9, 2, false, false, false, false}, {0, 7, false, false, false, true},
        {0, -1, false, false, false, true},
    };
    for (const kept_case& c : cases) {
        SCOPED_TRACE(testing::Message() << "status " << c.error << " cache " << c.cache);
        test_db t;
        docstorage ds(t.db());
        version v;
        v.error = c.error;
        v.cache = c.cache;
        v.store(ds, t.db());

        loaded l = load(ds, t.db(), "g1");
        ASSERT_TRUE(l.found);
        EXPECT_EQ(l.headers, c.headers_and_content ? v.headers : "");
        EXPECT_EQ(l.content, c.headers_and_content ? v.content : "");
        EXPECT_EQ(l.fff, c.fff ? v.fff : "");
        aux_values aux;
        ds.load_aux(t.db(), "g1", aux);
        EXPECT_EQ(aux.size(), c.aux ? 1u : 0u);
        // The length columns always hold what was given; the blobs are empty, not NULL.
        EXPECT_EQ(t.shell("select headerslen, contentlen, ffflen, typeof(headers), "
                          "length(headers) > 0, length(content) > 0, length(fff) > 0 from "
                          "docstorage"),
                  (testing::Message() << "25|305|205|blob|" << int(c.headers_and_content) << "|"
                                      << int(c.headers_and_content) << "|" << int(c.fff) << "\n")
                      .GetString());
        EXPECT_EQ(ds.document_count(t.db(), 1), c.counted ? 1 : 0);
        EXPECT_EQ(ds.byte_count(t.db(), 1), c.counted ? 305 : 0);
        EXPECT_EQ(ds.document_count(t.db(), 0), c.counted ? 1 : 0);
        EXPECT_EQ(ds.byte_count(t.db(), 0), c.counted ? 305 : 0);
    }
}

TEST(DocstorageStore, CountersFollowReplacedVersions) {
    test_db t;
    docstorage ds(t.db());
    EXPECT_EQ(ds.document_count(t.db(), 0), 0);
    EXPECT_EQ(ds.byte_count(t.db(), 0), 0);
    EXPECT_EQ(t.query("select count(*) from doccount"), "0\n");

    version a; // archive 1
    a.store(ds, t.db());
    version b; // another document in archive 2
    b.guid = "g2";
    b.arcid = 2;
    b.content = std::string(1000, 'b');
    b.store(ds, t.db());
    EXPECT_EQ(t.query("select * from doccount order by arcid"), "0|2|1305\n1|1|305\n2|1|1000\n");

    // status 0 -> 4 -> 0 on one guid
    a.error = 4;
    a.store(ds, t.db());
    EXPECT_EQ(t.query("select * from doccount order by arcid"), "0|1|1000\n1|0|0\n2|1|1000\n");
    a.error = 0;
    a.store(ds, t.db());
    EXPECT_EQ(t.query("select * from doccount order by arcid"), "0|2|1305\n1|1|305\n2|1|1000\n");

    // status 0 twice: the count stays, the bytes move by the difference
    a.content = std::string(100, 'x');
    a.store(ds, t.db());
    EXPECT_EQ(t.query("select * from doccount order by arcid"), "0|2|1100\n1|1|100\n2|1|1000\n");
    EXPECT_EQ(t.query("select count(*) from docstorage"), "2\n");

    // An unchanged version keeps everything but does not count.
    version u;
    u.guid = "g3";
    u.error = 9;
    u.store(ds, t.db());
    EXPECT_EQ(ds.document_count(t.db(), 1), 1);
    EXPECT_EQ(ds.byte_count(t.db(), 0), 1100);

    // Byte totals pass 32 bits.
    t.exec("update doccount set nbytes = nbytes + 5000000000 where arcid in (0, 2)");
    b.content = std::string(10, 'b');
    b.store(ds, t.db());
    EXPECT_EQ(ds.byte_count(t.db(), 0), 5000000110LL);
    EXPECT_EQ(ds.byte_count(t.db(), 2), 5000000010LL);
}

// The daemon's threads each store through their own connection inside the exclusive
// transaction; the counters read and rewritten by each store stay in step with the rows.
TEST(DocstorageStore, CountersStayInStepAcrossThreads) {
    test_db t;
    docstorage ds(t.db());
    std::vector<std::thread> threads;
    for (int n = 0; n < 4; ++n)
        threads.emplace_back([&, n] {
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open(t.path().c_str(), &db), SQLITE_OK);
            sqlite3_exec(db, "pragma synchronous=off", nullptr, nullptr, nullptr);
            for (int i = 0; i < 30; ++i) {
                version v;
                v.guid = "t" + std::to_string(n) + "-" + std::to_string(i % 20); // some replaced
                v.arcid = 1 + i % 2;
                v.error = i % 7 == 0 ? 4 : 0;
                v.content = std::string(static_cast<std::size_t>(n * 100 + i), 'x');
                storage_transaction txn(db);
                v.store(ds, db);
                txn.commit();
            }
            sqlite3_close(db);
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(t.query("select arcid, ndocs, nbytes from doccount order by arcid"),
              t.query("select 0, count(*), sum(contentlen) from docstorage where error=0 union "
                      "all select arcid, count(*), sum(contentlen) from docstorage where "
                      "error=0 group by arcid order by 1"));
}

TEST(DocstorageStore, GuidStoredAgainIntoAnotherArchiveMovesItsCount) {
    test_db t;
    docstorage ds(t.db());
    version v;
    v.store(ds, t.db());
    v.arcid = 2;
    v.store(ds, t.db());
    EXPECT_EQ(t.query("select * from doccount order by arcid"), "0|1|305\n1|0|0\n2|1|305\n");
    v.arcid = 0; // archive 0 shares the row of the totals
    v.store(ds, t.db());
    EXPECT_EQ(t.query("select * from doccount order by arcid"), "0|1|305\n1|0|0\n2|0|0\n");
    v.arcid = 3;
    v.store(ds, t.db());
    EXPECT_EQ(t.query("select * from doccount order by arcid"), "0|1|305\n1|0|0\n2|0|0\n3|1|305\n");
}

TEST(DocstorageStore, CrcWithTopBitIsANegativeDecimal) {
    test_db t;
    docstorage ds(t.db());
    version v;
    v.fffcrc = 0x80000001u;
    v.corecrc = 0xFFFFFFFFu;
    v.store(ds, t.db());
    EXPECT_EQ(t.shell("select fffcrc, corecrc from docstorage"), "-2147483647|-1\n");
    loaded l = load(ds, t.db(), "g1");
    EXPECT_EQ(l.fffcrc, 0x80000001u);
    EXPECT_EQ(l.corecrc, 0xFFFFFFFFu);
    std::string guid;
    std::uint32_t ts, fffcrc, corecrc;
    std::int32_t error;
    ASSERT_TRUE(ds.find_latest(t.db(), 1, v.url, guid, ts, error, fffcrc, corecrc));
    EXPECT_EQ(fffcrc, 0x80000001u);
    EXPECT_EQ(corecrc, 0xFFFFFFFFu);
}

TEST(DocstorageLookup, CanonicalUrlsNewestVersionAndTouch) {
    test_db t;
    docstorage ds(t.db());
    version old_one;
    old_one.guid = "old";
    old_one.url = "HTTP://Example.COM:80/x/../page#top";
    old_one.timestamp = 100;
    old_one.store(ds, t.db());
    version new_one = old_one;
    new_one.guid = "new";
    new_one.url = "//example.com/page";
    new_one.timestamp = 200;
    new_one.error = 9;
    new_one.store(ds, t.db());
    version elsewhere = old_one;
    elsewhere.guid = "other-archive";
    elsewhere.arcid = 2;
    elsewhere.timestamp = 300;
    elsewhere.store(ds, t.db());

    EXPECT_EQ(t.shell("select distinct url from docstorage"), "http://example.com/page\n");

    std::string guid = "untouched";
    std::uint32_t ts = 0, fffcrc = 0, corecrc = 0;
    std::int32_t error = -1;
    ASSERT_TRUE(
        ds.find_latest(t.db(), 1, "http://EXAMPLE.com/./page", guid, ts, error, fffcrc, corecrc));
    EXPECT_EQ(guid, "new");
    EXPECT_EQ(ts, 200u);
    EXPECT_EQ(error, 9);
    EXPECT_EQ(ds.latest_timestamp(t.db(), 1, "//example.com:80/page#frag"), 200u);

    // touch moves the older version ahead; an unknown guid changes nothing
    ds.touch(t.db(), "old", 250);
    ds.touch(t.db(), "nobody", 999);
    ASSERT_TRUE(ds.find_latest(t.db(), 1, "HTTP://example.com/a/../page", guid, ts, error, fffcrc,
                               corecrc));
    EXPECT_EQ(guid, "old");
    EXPECT_EQ(ds.latest_timestamp(t.db(), 1, "http://example.com/page"), 250u);
    EXPECT_EQ(t.query("select guid, timestamp from docstorage order by guid"),
              "new|200\nold|250\nother-archive|300\n");

    // Timestamps past 2038 stay unsigned and in order.
    ds.touch(t.db(), "new", 0xF0000000u);
    EXPECT_EQ(ds.latest_timestamp(t.db(), 1, "http://example.com/page"), 0xF0000000u);

    guid = "untouched";
    EXPECT_FALSE(
        ds.find_latest(t.db(), 3, "http://example.com/page", guid, ts, error, fffcrc, corecrc));
    EXPECT_EQ(guid, "untouched");
    EXPECT_EQ(ds.latest_timestamp(t.db(), 1, "http://example.com/other"), 0u);
}

TEST(DocstorageLookup, MissingVersionLeavesOutputsAlone) {
    test_db t;
    docstorage ds(t.db());
    loaded l = load(ds, t.db(), "nothing");
    EXPECT_FALSE(l.found);
    EXPECT_EQ(l.url, "untouched");
    EXPECT_EQ(l.arcid, 77u);
    EXPECT_TRUE(l.corechanged);
    aux_values aux{{"a", "b"}};
    ds.load_aux(t.db(), "nothing", aux);
    EXPECT_TRUE(aux.empty());
}

// Rows written by another program: the shell's own zlib stream (sqlar_compress) and a stored
// blob whose length column lies.
TEST(DocstorageLoad, ForeignAndDamagedBlobs) {
    test_db t;
    docstorage ds(t.db());
    std::string text;
    for (int i = 0; i < 10; ++i)
        text += "one two three four five six seven eight nine ten ";
    t.exec("insert into docstorage values('foreign', 1, 'http://h/', 1, 0, x'', " +
           std::to_string(text.size()) + ", x'', 0, x'', 0, 0, 0, 0, 0, '', '', 0)");
    std::string shell_blob = t.shell("select hex(sqlar_compress(cast('" + text + "' as blob)))");
    ASSERT_GT(shell_blob.size(), 2u) << shell_blob;
    t.exec("update docstorage set headers = x'" + shell_blob.substr(0, shell_blob.size() - 1) +
           "' where guid = 'foreign'");
    loaded l = load(ds, t.db(), "foreign");
    ASSERT_TRUE(l.found);
    EXPECT_EQ(l.headers, text);
    EXPECT_EQ(l.content, "");

    const std::string good = shell_blob.substr(0, shell_blob.size() - 1);
    const std::string size = std::to_string(text.size());
    const struct {
        std::string name, blob, length;
    } damaged[] = {
        {"length too small", good, std::to_string(text.size() - 1)},
        {"length zero", good, "0"},
        {"length negative", good, "-5"},
        {"length huge", good, "99999999999"},
        {"not zlib", "00112233445566778899", size},
        {"cut short", good.substr(0, good.size() / 2), size},
        {"bad checksum", good.substr(0, good.size() - 1) + (good.back() == '0' ? "1" : "0"), size},
    };
    for (const auto& d : damaged) {
        SCOPED_TRACE(d.name);
        t.exec("update docstorage set headers = x'" + d.blob + "', headerslen = " + d.length);
        loaded l = load(ds, t.db(), "foreign");
        ASSERT_TRUE(l.found);
        EXPECT_EQ(l.headers, "");
    }
    // A length larger than the value is only a bound: the value is what the stream holds.
    t.exec("update docstorage set headers = x'" + good + "', headerslen = 4000000000");
    EXPECT_EQ(load(ds, t.db(), "foreign").headers, text);
}

// The lookups go through the indexes, never a scan of the table: the statements that the
// operations run are traced and planned.
TEST(DocstorageTables, LookupsUseTheIndexes) {
    test_db t;
    docstorage ds(t.db());
    version().store(ds, t.db());
    const struct {
        const char* operation;
        std::function<void()> run;
        const char* index;
    } cases[] = {
        {"load", [&] { load(ds, t.db(), "g1"); }, "docstorage_idx1"},
        {"load_aux",
         [&] {
             aux_values aux;
             ds.load_aux(t.db(), "g1", aux);
         },
         "auxstorage_idx1"},
        {"find_latest",
         [&] {
             std::string guid;
             std::uint32_t ts, fffcrc, corecrc;
             std::int32_t error;
             ds.find_latest(t.db(), 1, "http://h/", guid, ts, error, fffcrc, corecrc);
         },
         "docstorage_idx2 (arcid=? AND url=?)"},
        {"latest_timestamp", [&] { ds.latest_timestamp(t.db(), 1, "http://h/"); },
         "docstorage_idx2 (arcid=? AND url=?)"},
        {"oldest_documents",
         [&] {
             std::vector<std::string> guids;
             ds.oldest_documents(t.db(), 1, 5, 100, guids);
         },
         "docstorage_idx3"},
        {"document_count", [&] { ds.document_count(t.db(), 1); }, "doccount_idx1"},
        {"touch", [&] { ds.touch(t.db(), "g1", 5); }, "docstorage_idx1"},
    };
    std::vector<std::string> statements;
    g_statements = &statements;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.operation);
        statements.clear();
        sqlite3_trace_v2(t.db(), SQLITE_TRACE_STMT, trace_statement, nullptr);
        c.run();
        sqlite3_trace_v2(t.db(), 0, nullptr, nullptr);
        ASSERT_EQ(statements.size(), 1u);
        std::string plan = t.query("explain query plan " + statements[0]);
        EXPECT_NE(plan.find(c.index), std::string::npos) << statements[0] << "\n" << plan;
        EXPECT_EQ(plan.find("SCAN"), std::string::npos) << statements[0] << "\n" << plan;
    }
}

TEST(DocstorageDeathTest, SqliteFailureIsFatal) {
    test_db t;
    docstorage ds(t.db());
    t.exec("drop table doccount");
    EXPECT_EXIT(
        {
            platform::set_eventlog_sink(eventlog_to_stderr);
            version().store(ds, t.db());
            std::exit(0);
        },
        testing::KilledBySignal(SIGABRT),
        "docstorage.*: assertion \\[SQLite error: \\[1\\] no such table: doccount\\] failed");
}

// Blobs come out byte for byte as zlib's compress() writes them (so stored files read and
// compare as before), from any thread, one after another with the state reused, and read back.
TEST(DocStorageBlob, SameBytesAsCompressOnEveryThread) {
    std::vector<std::string> values = {std::string(1, 'x'), std::string(100000, 'a'),
                                       std::string("\0\xff\x01", 3)};
    std::string noise;
    std::uint32_t r = 1;
    for (int i = 0; i < 300000; ++i) {
        r = r * 1103515245u + 12345u;
        noise.push_back(static_cast<char>(r >> 16));
    }
    values.push_back(noise);
    auto check = [&] {
        for (int round = 0; round < 2; ++round) {
            for (const std::string& v : values) {
                std::string want(compressBound(v.size()), '\0');
                uLongf size = want.size();
                ASSERT_EQ(compress(reinterpret_cast<Bytef*>(want.data()), &size,
                                   reinterpret_cast<const Bytef*>(v.data()), v.size()),
                          Z_OK);
                want.resize(size);
                const std::string blob = compress_blob(v);
                EXPECT_EQ(blob, want) << v.size();
                std::string back;
                EXPECT_TRUE(inflate_blob(blob.data(), blob.size(),
                                         static_cast<std::int64_t>(v.size()), back));
                EXPECT_EQ(back, v);
            }
        }
    };
    EXPECT_EQ(compress_blob(""), "");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(check);
    for (auto& t : threads)
        t.join();
}
