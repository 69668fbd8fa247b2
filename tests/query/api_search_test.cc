// The search operation end to end: configuration records in a scratch database, documents in
// the document store and in a real siftvault, searches through the API call object, and the
// query-log rows read back with SQL.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "../idxstorage/idx_test_env.h"
#include "apiops/api-common.h"
#include "apiops/api-query.h"
#include "docstorage/docstorage.h"
#include "idxstorage/idxstorage.h"
#include "logstorage/logstorage.h"
#include "trawlnestd/cfgstorage.h"
#include "fff/FFF.h"
#include "../support/fff_fixtures.h"
#include "../support/stored_page.h"

using namespace lumbrake;

namespace {

const char* const siftvault_program = TN_BINARY_DIR "/src/index-server/siftvault";


std::string fff_of(const std::vector<std::string>& words) {
    return fff_document(words);
}

ArchiveConfiguration archive_with(std::vector<AccessSpec> acl) {
    ArchiveConfiguration a;
    a.Name = "archive";
    a.ACL = std::move(acl);
    return a;
}

QueryAtom W(const char* w) {
    return {ATOM_WORD, "", w};
}

using log_rows = std::vector<std::tuple<int, std::string>>;

class SearchOp : public ::testing::Test {
protected:
    void SetUp() override {
        deploy_ = std::make_unique<idx_test::scratch_deploy>(siftvault_program);
        ASSERT_EQ(sqlite3_open((deploy_->data() / "trawlnest.db").c_str(), &db_), SQLITE_OK);
        stores_ = std::make_unique<config_stores>(db_);
        docs_ = std::make_unique<docstorage>(db_);
        logs_ = std::make_unique<logstorage>(db_);
        // Half past an hour: the index keeps times rounded down to the hour, so a clock near
        // the top of the hour would move documents out of an hour-wide window. The index's
        // search window and the API read the same fixed clock.
        now_ = 1700001000; // 2023-11-14 22:30:00 UTC
        index_ = std::make_unique<idxstorage>([this] { return now_; });

        // 1: everyone reads; 2: only alice; 3: bob may write but not read.
        std::uint32_t magic = 0;
        ASSERT_EQ(cfgstorage<ArchiveConfiguration>::add(
                      db_, archive_with({{"All Users", READACCESS, false}}), magic),
                  1);
        ASSERT_EQ(cfgstorage<ArchiveConfiguration>::add(
                      db_, archive_with({{"alice", READACCESS, false}}), magic),
                  2);
        ASSERT_EQ(cfgstorage<ArchiveConfiguration>::add(
                      db_, archive_with({{"bob", WRITEACCESS, false}}), magic),
                  3);

        add("g-open", 1, {"alpha", "report", "open"});
        add("g-secret", 2, {"alpha", "report", "secret"});
        add("g-hidden", 3, {"alpha", "hidden"});
        add("g-orphan", 9, {"alpha", "orphan"}); // no archive record
        index_->flush();

        ctx_.db = db_;
        ctx_.services.docs = docs_.get();
        ctx_.services.logs = logs_.get();
        ctx_.services.index = index_.get();
        ctx_.services.clock = [this] { return now_; };
        ctx_.user = "bob";
        ctx_.groups = {"staff"};
    }
    void TearDown() override {
        index_.reset();
        logs_.reset();
        docs_.reset();
        stores_.reset();
        sqlite3_close(db_);
        deploy_.reset();
    }

    void add(const std::string& guid, std::uint32_t arcid, const std::vector<std::string>& words) {
        const std::string fff = fff_of(words);
        auto t = static_cast<std::uint32_t>(now_ - 600);
        tn_test::store_and_index_page(db_, *docs_, *index_, guid, arcid, "http://intra/" + guid, t,
                                      fff);
    }

    struct outcome {
        api_result res;
        std::int32_t total = 0;
        std::set<std::string> ids;
        QuerySpec query_spec;
    };
    outcome run(QuerySpec query_spec, bool lenient = false) {
        outcome o;
        std::vector<QueryResult> hits;
        {
            api call(ctx_);
            call.query(o.res, query_spec, hits, o.total, lenient);
        }
        for (const QueryResult& h : hits)
            o.ids.insert(h.ID);
        o.query_spec = query_spec;
        return o;
    }
    static QuerySpec spec_of(std::vector<std::int32_t> archives, QueryParser parser,
                             const std::string& text) {
        QuerySpec s;
        s.Archives = std::move(archives);
        s.LastDoc = 99;
        s.Parser = parser;
        s.QueryString = text;
        return s;
    }
    log_rows query_log() {
        log_rows rows;
        sqlite3_stmt* st = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db_,
                                     "select arcid, query, timestamp from querylog order by rowid",
                                     -1, &st, nullptr),
                  SQLITE_OK);
        while (sqlite3_step(st) == SQLITE_ROW) {
            rows.emplace_back(sqlite3_column_int(st, 0),
                              reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
            EXPECT_EQ(sqlite3_column_int64(st, 2), now_);
        }
        sqlite3_finalize(st);
        return rows;
    }
    int add_watch(const std::string& query, QueryParser parser, std::int32_t collection,
                  std::int32_t freshness) {
        WatchConfiguration w;
        w.Name = "watch";
        w.Query = query;
        w.Parser = parser;
        w.Collection = collection;
        w.Freshness = freshness;
        std::uint32_t magic = 0;
        int id = cfgstorage<WatchConfiguration>::add(db_, w, magic);
        EXPECT_GT(id, 0);
        return id;
    }
    int add_collection(std::vector<std::int32_t> archives, std::vector<AccessSpec> acl) {
        CollectionConfiguration c;
        c.Name = "collection";
        c.Archives = std::move(archives);
        c.ACL = std::move(acl);
        std::uint32_t magic = 0;
        int id = cfgstorage<CollectionConfiguration>::add(db_, c, magic);
        EXPECT_GT(id, 0);
        return id;
    }

    std::unique_ptr<idx_test::scratch_deploy> deploy_;
    sqlite3* db_ = nullptr;
    std::unique_ptr<config_stores> stores_;
    std::unique_ptr<docstorage> docs_;
    std::unique_ptr<logstorage> logs_;
    std::unique_ptr<idxstorage> index_;
    std::int64_t now_ = 0;
    api_context ctx_;
};

using ids = std::set<std::string>;

} // namespace

TEST_F(SearchOp, EachSyntaxSearchesAndLogsPerArchive) {
    ctx_.admin = true;
    struct tcase {
        QueryParser parser;
        const char* text;
        ids want;
        const char* logged;
    };
    const std::vector<tcase> cases = {
        {RPNPARSER,
         "WORD:alpha WORD:report AND:2",
         {"g-open", "g-secret"},
         "WORD:alpha WORD:report AND:2"},
        {ALGPARSER,
         "alpha & !report",
         {"g-hidden", "g-orphan"},
         "WORD:alpha WORD:report NOT:1 AND:2"},
        {NETPARSER,
         "alpha -report -hidden",
         {"g-orphan"},
         "WORD:alpha WORD:report NOT:1 WORD:hidden NOT:1 AND:3"},
    };
    log_rows want_log;
    for (const tcase& c : cases) {
        outcome o = run(spec_of({1, 2, 3, 9}, c.parser, c.text));
        EXPECT_TRUE(o.res.ok) << c.text;
        EXPECT_EQ(o.ids, c.want) << c.text;
        EXPECT_EQ(o.total, static_cast<std::int32_t>(c.want.size())) << c.text;
        for (int arc : {1, 2, 3, 9})
            want_log.emplace_back(arc, c.logged);
    }
    EXPECT_EQ(query_log(), want_log);
}

TEST_F(SearchOp, ArchiveAccessStrictAndLenient) {
    // Strict: one unreadable archive refuses the whole call; nothing is logged.
    outcome strict = run(spec_of({1, 2}, ALGPARSER, "alpha"));
    EXPECT_EQ(strict.res, api_errors().at(API_ACCESS_VIOLATION));
    EXPECT_EQ(strict.total, -1);
    EXPECT_TRUE(strict.ids.empty());
    // Write access does not give read access.
    EXPECT_FALSE(run(spec_of({3}, ALGPARSER, "alpha")).res.ok);

    // Lenient: the unreadable archives are left out; an id without a record is searched.
    outcome lenient = run(spec_of({1, 2, 3, 9}, ALGPARSER, "alpha"), true);
    EXPECT_TRUE(lenient.res.ok);
    EXPECT_EQ(lenient.ids, (ids{"g-open", "g-orphan"}));
    EXPECT_EQ(query_log(), (log_rows{{1, "WORD:alpha"}, {9, "WORD:alpha"}}));

    // Every archive refused: success, count -1, nothing logged.
    outcome none = run(spec_of({2, 3}, ALGPARSER, "alpha"), true);
    EXPECT_TRUE(none.res.ok);
    EXPECT_EQ(none.total, -1);
    EXPECT_EQ(query_log().size(), 2u);

    // Collection -1 makes even a strict call skip what the caller may not read.
    QuerySpec all = spec_of({}, ALGPARSER, "alpha");
    all.Collection = -1;
    outcome every = run(all);
    EXPECT_TRUE(every.res.ok);
    EXPECT_EQ(every.ids, (ids{"g-open"}));

    // Alice reads archive 2 through her own entry.
    ctx_.user = "alice";
    EXPECT_EQ(run(spec_of({1, 2}, ALGPARSER, "secret")).ids, (ids{"g-secret"}));
}

TEST_F(SearchOp, UnreadableArchiveRecordIsNotOpenToAll) {
    ASSERT_TRUE(cfgstore_detail::store(db_, "ArchiveConfiguration", 9, "<archive"));
    outcome o = run(spec_of({9}, ALGPARSER, "alpha"));
    EXPECT_EQ(o.res.code, API_ACCESS_VIOLATION);
    ctx_.admin = true;
    EXPECT_EQ(run(spec_of({9}, ALGPARSER, "alpha")).ids, (ids{"g-orphan"}));
}

TEST_F(SearchOp, CollectionReplacesArchives) {
    int open = add_collection({1, 9}, {{"staff", READACCESS, false}});
    int closed = add_collection({1}, {{"alice", READACCESS, false}});

    QuerySpec s = spec_of({2, 3}, ALGPARSER, "alpha");
    s.Collection = open;
    outcome o = run(s);
    EXPECT_TRUE(o.res.ok);
    EXPECT_EQ(o.ids, (ids{"g-open", "g-orphan"}));

    s.Collection = closed;
    EXPECT_EQ(run(s).res.code, API_ACCESS_VIOLATION);
    s.Collection = 77;
    EXPECT_EQ(run(s).res.code, API_ACCESS_VIOLATION);
    // 0 and other negatives name no collection: the record's own archives.
    s.Archives = {1};
    s.Collection = -5;
    EXPECT_EQ(run(s).ids, (ids{"g-open"}));
}

TEST_F(SearchOp, WatchAddsSavedQueryFreshnessViewAndSort) {
    int watch = add_watch("WORD:report", RPNPARSER, 0, 3600);
    QuerySpec s;
    s.Archives = {1, 2, 9};
    s.LastDoc = 99;
    s.Watch = watch;
    s.Parser = NOPARSER;
    s.Query = {W("alpha")};
    s.Sort = SORT_RELEVANCE;
    ctx_.admin = true;
    outcome o = run(s);
    ASSERT_TRUE(o.res.ok);
    EXPECT_EQ(o.ids, (ids{"g-open", "g-secret"}));
    EXPECT_EQ(o.query_spec.Query, (std::vector<QueryAtom>{W("alpha"), W("report"), {ATOM_AND, "", "2"}}));
    EXPECT_EQ(o.query_spec.MinTime, now_ - 3600);
    EXPECT_EQ(o.query_spec.View, VIEW_CORECHANGED);
    EXPECT_EQ(o.query_spec.Sort, SORT_TIME_NEWER);
    EXPECT_EQ(query_log().front(),
              (std::tuple<int, std::string>{1, "WORD:alpha WORD:report AND:2"}));

    // A MinTime already set is kept; it hides documents older than it.
    s.MinTime = static_cast<std::int32_t>(now_ - 60);
    o = run(s);
    EXPECT_EQ(o.query_spec.MinTime, now_ - 60);
    EXPECT_TRUE(o.ids.empty());

    // Without a query of its own the saved query stands alone.
    s.MinTime = 0;
    s.Query.clear();
    o = run(s);
    EXPECT_EQ(o.query_spec.Query, (std::vector<QueryAtom>{W("report")}));

    // The watch's collection replaces the record's archives.
    int coll = add_collection({1}, {});
    int watch2 = add_watch("hidden | open", ALGPARSER, coll, 0);
    s.Watch = watch2;
    EXPECT_EQ(run(s).ids, (ids{"g-open"}));
}

TEST_F(SearchOp, BadQueriesAndMissingWatch) {
    ctx_.admin = true;
    outcome o = run(spec_of({1}, static_cast<QueryParser>(7), "alpha"));
    EXPECT_EQ(o.res, api_errors().at(API_BAD_QUERY));
    EXPECT_EQ(o.total, -1);
    EXPECT_EQ(run(spec_of({1}, ALGPARSER, "(alpha")).res.code, API_BAD_QUERY);
    EXPECT_EQ(run(spec_of({1}, RPNPARSER, "alpha")).res.code, API_BAD_QUERY);
    // A text beyond the bound is refused before it is parsed.
    std::string huge;
    while (huge.size() <= max_query_text)
        huge += "alpha ";
    EXPECT_EQ(run(spec_of({1}, NETPARSER, huge)).res.code, API_BAD_QUERY);

    // A saved query without a syntax fails the call.
    QuerySpec s = spec_of({1}, ALGPARSER, "alpha");
    s.Watch = add_watch("WORD:x", NOPARSER, 0, 0);
    EXPECT_EQ(run(s).res.code, API_BAD_QUERY);
    s.Watch = 999;
    EXPECT_EQ(run(s).res.code, API_ACCESS_VIOLATION);
    EXPECT_TRUE(query_log().empty());

    // The caller's own list, empty: searched, not logged.
    QuerySpec empty = spec_of({1}, NOPARSER, "");
    o = run(empty);
    EXPECT_TRUE(o.res.ok);
    EXPECT_TRUE(query_log().empty());
}
