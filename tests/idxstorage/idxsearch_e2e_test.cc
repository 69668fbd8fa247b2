// Searches through the daemon's index client against a real siftvault: documents are stored in
// the document store and indexed through the client, then found again with every kind of
// query element, information level, window, sort order and limit.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "docstorage/docstorage.h"
#include "idx_test_env.h"
#include "idxstorage/idx-search.h"
#include "idxstorage/idxstorage.h"
#include "fff/FFF.h"

using namespace lumbrake;

namespace {

const char* const siftvault_program = TN_BINARY_DIR "/src/index-server/siftvault";

struct para_spec {
    int slice;
    std::vector<std::string> words;
};

struct doc_spec {
    std::string guid;
    std::uint32_t arcid;
    std::string url;
    std::vector<std::string> title; // title-slice words
    std::vector<para_spec> paras;   // one sentence each
    std::vector<std::pair<std::string, std::string>> metas;
    std::int32_t time;
    std::uint32_t score;
    std::vector<std::int32_t> views = {0};
    std::string mime = "text/html";
};

std::string fff_of(const doc_spec& d) {
    FFF::DocumentData root(true);
    auto* contents = new FFF::Contents(true);
    root.add_child(contents);
    for (const auto& [k, v] : d.metas) {
        FFF::meta m;
        m.key = k;
        m.value = v;
        m.dictid = FFF::authorDict;
        contents->metas.push_back(m);
    }
    auto add_para = [&](int slice, const std::vector<std::string>& words) {
        auto* p = new FFF::P;
        auto* s = new FFF::S;
        auto* low = new FFF::Low(slice);
        low->words = words;
        s->add_child(low);
        p->add_child(s);
        contents->add_child(p);
    };
    if (!d.title.empty()) add_para(FFF::titleDict, d.title);
    for (const para_spec& p : d.paras)
        add_para(p.slice, p.words);
    std::string out;
    FFF::ToBinary(root, out);
    return out;
}

std::vector<QueryAtom> rpn(std::initializer_list<QueryAtom> atoms) {
    return atoms;
}
QueryAtom W(const char* w) {
    return {ATOM_WORD, "", w};
}
QueryAtom OP(QueryAtomType t, const char* n) {
    return {t, "", n};
}
QueryAtom M(const char* meta, const char* v) {
    return {ATOM_META, meta, v};
}

class IdxSearchE2E : public ::testing::Test {
protected:
    void SetUp() override {
        deploy_ = std::make_unique<idx_test::scratch_deploy>(siftvault_program);
        ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
        docs_ = std::make_unique<docstorage>(db_);
        // A fixed clock for the documents' times and the search's time window alike.
        now_ = 1700001000; // 2023-11-14 22:30:00 UTC
        index_ = std::make_unique<idxstorage>([this] { return std::int64_t{now_}; });

        add({"g-annual",
             1,
             "http://intra/annual",
             {"Annual", "report", ":", "2005"},
             {{10, {"The", "annual", "Report", "of", "the", "company", "shows", "growth"}}},
             {{"author", "Smith"}, {"categories", "finance/reports"}},
             7300,
             900000});
        add({"g-weather",
             1,
             "http://intra/weather",
             {"Weather"},
             {{10, {"Rain", "and", "sun", "in", "the", "report"}}},
             {},
             3 * 3600,
             500000});
        add({"g-bigdata",
             2,
             "http://intra/bigdata",
             {"Warehouse"},
             {{10, {"we", "store", "big", "data", "in", "a", "warehouse"}}},
             {},
             now_ - 7200,
             100000,
             {0, 1}});
        add({"g-apart",
             3,
             "http://intra/apart",
             {"Apart"},
             {{10, {"big", "fish", "swim", "in", "deep", "water", "data"}}},
             {},
             now_ - 100000,
             700000});
        index_->flush();
    }
    void TearDown() override {
        index_.reset();
        docs_.reset();
        sqlite3_close(db_);
        deploy_.reset();
    }

    void add(const doc_spec& d) {
        const std::string fff = fff_of(d);
        docs_->store(db_,
                     {.guid = d.guid,
                      .arcid = d.arcid,
                      .url = d.url,
                      .timestamp = static_cast<std::uint32_t>(d.time),
                      .fff = fff,
                      .score = d.score,
                      .mime = d.mime,
                      .charset = "utf-8",
                      .servertime = static_cast<std::uint32_t>(d.time)},
                     {}, 0);
        index_->add_document(d.guid, d.arcid, d.url, d.mime, d.time, d.time, d.score, d.views, fff);
    }

    struct outcome {
        std::int32_t count;
        std::vector<QueryResult> hits;
        std::set<std::string> ids() const {
            std::set<std::string> s;
            for (const auto& h : hits)
                s.insert(h.ID);
            return s;
        }
        std::vector<std::string> order() const {
            std::vector<std::string> v;
            for (const auto& h : hits)
                v.push_back(h.ID);
            return v;
        }
    };

    outcome search(const std::vector<QueryAtom>& q, std::vector<std::int32_t> archives = {1, 2, 3},
                   std::int32_t info = INFO_NONE, std::int32_t view = 0,
                   std::int32_t sort = SORT_RELEVANCE, std::int32_t first = 0,
                   std::int32_t last = 99, std::int32_t min_time = 0, std::int32_t max_time = 0,
                   std::uint32_t min_score = 0, std::vector<QuerySliceWeight> weights = {}) {
        outcome o;
        o.count = index_->search(
            {archives, first, last, min_time, max_time, min_score, info, view, sort, q, weights},
            o.hits, db_, *docs_);
        return o;
    }

    std::unique_ptr<idx_test::scratch_deploy> deploy_;
    sqlite3* db_ = nullptr;
    std::unique_ptr<docstorage> docs_;
    std::unique_ptr<idxstorage> index_;
    std::int32_t now_ = 0;
};

using ids = std::set<std::string>;

} // namespace

TEST_F(IdxSearchE2E, EveryQueryElementKind) {
    struct tcase {
        const char* what;
        std::vector<QueryAtom> q;
        ids want;
    };
    const std::vector<tcase> cases = {
        {"word", rpn({W("report")}), {"g-annual", "g-weather"}},
        {"word, case folded", rpn({W("REPORT")}), {"g-annual", "g-weather"}},
        {"word from the title slice", rpn({W("warehouse")}), {"g-bigdata"}},
        {"and", rpn({W("report"), W("annual"), OP(ATOM_AND, "2")}), {"g-annual"}},
        {"or", rpn({W("rain"), W("growth"), OP(ATOM_OR, "2")}), {"g-annual", "g-weather"}},
        {"and not",
         rpn({W("report"), W("rain"), OP(ATOM_NOT, "ignored"), OP(ATOM_AND, "2")}),
         {"g-annual"}},
        {"not alone keeps to the archives",
         rpn({W("report"), OP(ATOM_NOT, "")}),
         {"g-bigdata", "g-apart"}},
        {"near: adjacent words", rpn({W("big"), W("data"), OP(ATOM_NEAR, "2")}), {"g-bigdata"}},
        {"near: order does not matter",
         rpn({W("data"), W("big"), OP(ATOM_NEAR, "2")}),
         {"g-bigdata"}},
        {"and finds the words far apart",
         rpn({W("big"), W("data"), OP(ATOM_AND, "2")}),
         {"g-bigdata", "g-apart"}},
        {"near of one word", rpn({W("fish"), OP(ATOM_NEAR, "1")}), {"g-apart"}},
        {"meta, case folded on both sides", rpn({M("Author", "smith")}), {"g-annual"}},
        {"meta and word",
         rpn({M("author", "Smith"), W("growth"), OP(ATOM_AND, "2")}),
         {"g-annual"}},
        {"nested",
         rpn({W("rain"), W("big"), W("data"), OP(ATOM_NEAR, "2"), OP(ATOM_OR, "2"), W("warehouse"),
              OP(ATOM_NOT, ""), OP(ATOM_AND, "2")}),
         {"g-weather"}},
        {"no such word", rpn({W("nothere")}), {}},
        {"no atoms: everything of the archives",
         {},
         {"g-annual", "g-weather", "g-bigdata", "g-apart"}},
    };
    for (const tcase& c : cases) {
        outcome o = search(c.q);
        EXPECT_EQ(o.count, static_cast<std::int32_t>(c.want.size())) << c.what;
        EXPECT_EQ(o.ids(), c.want) << c.what;
    }
}

TEST_F(IdxSearchE2E, ArchivesAndViewsRestrict) {
    EXPECT_EQ(search({W("data")}, {2}).ids(), ids({"g-bigdata"}));
    EXPECT_EQ(search({W("data")}, {3, 2}).ids(), ids({"g-bigdata", "g-apart"}));
    EXPECT_EQ(search({W("report")}, {2, 3}).count, 0);
    EXPECT_EQ(search({}, {1, 2, 3}, INFO_NONE, VIEW_CORECHANGED).ids(), ids({"g-bigdata"}));
    // No archive: -1 without asking the server.
    outcome none = search({W("report")}, {});
    EXPECT_EQ(none.count, -1);
    EXPECT_TRUE(none.hits.empty());
}

TEST_F(IdxSearchE2E, InformationLevels) {
    for (std::int32_t info : {INFO_NONE, INFO_URL, INFO_TITLE, INFO_CONTEXT}) {
        outcome o = search({W("growth")}, {1}, info);
        ASSERT_EQ(o.count, 1) << info;
        ASSERT_EQ(o.hits.size(), 1u) << info;
        const QueryResult& h = o.hits[0];
        EXPECT_EQ(h.ID, "g-annual");
        EXPECT_EQ(h.Timestamp, 7200) << "indexed in whole hours";
        EXPECT_EQ(h.ServerTime, 7200);
        EXPECT_GT(h.Score, 0);
        EXPECT_EQ(h.Archives, std::vector<std::int32_t>({1}));
        EXPECT_EQ(h.Url, info >= INFO_URL ? "http://intra/annual" : "");
        EXPECT_EQ(h.Title, info >= INFO_TITLE ? "Annual report:2005" : "");
        EXPECT_EQ(h.MimeType, info >= INFO_TITLE ? "text/html" : "");
        if (info == INFO_CONTEXT) {
            // Five tokens before the match; the title paragraph's sentence blank is token 0.
            EXPECT_EQ(h.Contexts,
                      std::vector<std::string>({"Report of the company shows growth "}));
            EXPECT_EQ(h.Categories, "finance/reports");
        } else {
            EXPECT_TRUE(h.Contexts.empty());
            EXPECT_EQ(h.Categories, "");
        }
    }
}

TEST_F(IdxSearchE2E, ContextLevelWithoutStoredDocument) {
    // Indexed but never stored, and stored with an FFF that does not decode: the hit is still
    // reported, only without summary and categories.
    index_->add_document("g-unstored", 4, "http://intra/x", "text/plain", 3600, 3600, 1, {0},
                         fff_of({"", 4, "", {}, {{10, {"orphan"}}}, {}, 0, 0}));
    const std::string broken = "\x64\x06\x07garbage";
    docs_->store(db_,
                 {.guid = "g-broken",
                  .arcid = 4,
                  .url = "http://intra/y",
                  .timestamp = 3600,
                  .fff = broken,
                  .score = 1,
                  .mime = "text/plain",
                  .servertime = 3600},
                 {}, 0);
    index_->add_document("g-broken", 4, "http://intra/y", "text/plain", 3600, 3600, 1, {0},
                         fff_of({"", 4, "", {}, {{10, {"orphan"}}}, {}, 0, 0}));
    index_->flush();
    outcome o = search({W("orphan")}, {4}, INFO_CONTEXT);
    ASSERT_EQ(o.count, 2);
    for (const QueryResult& h : o.hits) {
        EXPECT_TRUE(h.Contexts.empty()) << h.ID;
        EXPECT_EQ(h.Categories, "") << h.ID;
        EXPECT_FALSE(h.Url.empty()) << h.ID;
    }
}

TEST_F(IdxSearchE2E, WindowOfHits) {
    for (int i = 0; i < 10; ++i)
        add({"g-page" + std::to_string(i),
             9,
             "http://intra/p" + std::to_string(i),
             {},
             {{10, {"paging", "word"}}},
             {},
             3600 * (i + 1),
             1000});
    index_->flush();
    outcome all = search({W("paging")}, {9}, INFO_URL, 0, SORT_TIME_OLDER);
    ASSERT_EQ(all.count, 10);
    ASSERT_EQ(all.hits.size(), 10u);

    outcome tail = search({W("paging")}, {9}, INFO_URL, 0, SORT_TIME_OLDER, 8, 20);
    EXPECT_EQ(tail.count, 10);
    EXPECT_EQ(tail.order(), std::vector<std::string>({"g-page8", "g-page9"}));

    outcome past = search({W("paging")}, {9}, INFO_URL, 0, SORT_TIME_OLDER, 10, 20);
    EXPECT_EQ(past.count, 10);
    EXPECT_TRUE(past.hits.empty());

    outcome reversed = search({W("paging")}, {9}, INFO_URL, 0, SORT_TIME_OLDER, 5, 3);
    EXPECT_EQ(reversed.count, 10);
    EXPECT_TRUE(reversed.hits.empty());

    // A negative first asks for nothing before hit 0.
    outcome negative = search({W("paging")}, {9}, INFO_URL, 0, SORT_TIME_OLDER, -5, 1);
    EXPECT_EQ(negative.order(), std::vector<std::string>({"g-page0", "g-page1"}));
    outcome lowest = search({W("paging")}, {9}, INFO_URL, 0, SORT_TIME_OLDER, INT32_MIN, 0);
    EXPECT_EQ(lowest.order(), std::vector<std::string>({"g-page0"}));
}

TEST_F(IdxSearchE2E, OneSearchFetchesAtMostTheWindowCeiling) {
    for (int i = 0; i <= max_result_window; ++i)
        index_->add_document("g-many" + std::to_string(i), 11, "http://intra/m" + std::to_string(i),
                             "text/html", 3600, 3600, 1000, {0},
                             fff_of({"", 11, "", {}, {{10, {"many"}}}, {}, 3600, 1000}));
    index_->flush();
    outcome huge = search({W("many")}, {11}, INFO_NONE, 0, SORT_RELEVANCE, 0, INT32_MAX);
    EXPECT_EQ(huge.count, max_result_window + 1);
    EXPECT_EQ(huge.hits.size(), static_cast<std::size_t>(max_result_window));
    outcome later = search({W("many")}, {11}, INFO_NONE, 0, SORT_RELEVANCE, 990, INT32_MAX);
    EXPECT_EQ(later.hits.size(), 11u);
}

TEST_F(IdxSearchE2E, SortOrders) {
    const std::vector<std::int32_t> arcs = {1, 2, 3};
    EXPECT_EQ(search({}, arcs, INFO_NONE, 0, SORT_TIME_NEWER).order(),
              std::vector<std::string>({"g-bigdata", "g-apart", "g-weather", "g-annual"}));
    EXPECT_EQ(search({}, arcs, INFO_NONE, 0, SORT_TIME_OLDER).order(),
              std::vector<std::string>({"g-annual", "g-weather", "g-apart", "g-bigdata"}));
    EXPECT_EQ(search({}, arcs, INFO_NONE, 0, SORT_SCORE).order(),
              std::vector<std::string>({"g-annual", "g-apart", "g-weather", "g-bigdata"}));
}

TEST_F(IdxSearchE2E, TimeAndScoreLimits) {
    const std::vector<std::int32_t> arcs = {1, 2, 3};
    auto run = [&](std::int32_t min_time, std::int32_t max_time, std::uint32_t min_score) {
        return search({}, arcs, INFO_NONE, 0, SORT_RELEVANCE, 0, 99, min_time, max_time, min_score)
            .ids();
    };
    // A maximum in the future restricts nothing.
    EXPECT_EQ(run(0, now_ + 3600, 0).size(), 4u);
    // Up to an hour ago: the two old documents and the one of a day ago.
    EXPECT_EQ(run(0, now_ - 3 * 3600, 0), ids({"g-annual", "g-weather", "g-apart"}));
    // A minimum alone: since then.
    EXPECT_EQ(run(now_ - 4 * 3600, 0, 0), ids({"g-bigdata"}));
    EXPECT_EQ(run(3600, 4 * 3600, 0), ids({"g-annual", "g-weather"}));
    // Scores compared as 8 hexadecimal digits: 500000 is 0007a120.
    EXPECT_EQ(run(0, 0, 500000), ids({"g-annual", "g-weather", "g-apart"}));
    EXPECT_EQ(run(0, 0, 900001), ids({}));
}

TEST_F(IdxSearchE2E, SliceBoostsRank) {
    add({"g-title", 5, "http://intra/t", {"Budget"}, {{10, {"other", "words"}}}, {}, 3600, 1});
    add({"g-body", 5, "http://intra/b", {"Other"}, {{10, {"the", "budget", "plan"}}}, {}, 3600, 1});
    index_->flush();
    // The title boost (12) outweighs the body's (2).
    EXPECT_EQ(search({W("budget")}, {5}).order(), std::vector<std::string>({"g-title", "g-body"}));
    // Without a title boost, and with the body weighed heavily, the order turns.
    std::vector<QuerySliceWeight> w = {{15, 0}, {10, 40}};
    EXPECT_EQ(search({W("budget")}, {5}, INFO_NONE, 0, SORT_RELEVANCE, 0, 99, 0, 0, 0, w).order(),
              std::vector<std::string>({"g-body", "g-title"}));
}

TEST_F(IdxSearchE2E, HostileQueriesAnswerCleanly) {
    std::vector<QueryAtom> deep;
    // Alternating operators cannot be flattened: nesting thousands deep.
    deep.push_back(W("report"));
    for (int i = 0; i < 5000; ++i) {
        deep.push_back(W(i % 2 ? "rain" : "growth"));
        deep.push_back(OP(i % 2 ? ATOM_AND : ATOM_OR, "2"));
    }
    std::vector<QueryAtom> chain; // one operator all along: flattened, so answered
    chain.push_back(W("report"));
    for (int i = 0; i < 5000; ++i) {
        chain.push_back(W("report"));
        chain.push_back(OP(ATOM_AND, "2"));
    }
    std::vector<std::string> distinct_words;
    for (int i = 0; i < 9000; ++i) // words that no document holds
        distinct_words.push_back("w" + std::to_string(i));
    std::vector<QueryAtom> distinct_chain = {W("report")};
    for (const std::string& w : distinct_words) {
        distinct_chain.push_back({ATOM_WORD, "", w});
        distinct_chain.push_back(OP(ATOM_OR, "2"));
    }
    std::vector<QueryAtom> nots = {W("rain")};
    for (int i = 0; i < 5001; ++i)
        nots.push_back(OP(ATOM_NOT, ""));
    const std::string huge(1 << 20, 'x');
    // More items than the server reads would cost the connection: refused before sending.
    std::vector<QueryAtom> flood(idx_limits{}.max_items, W("report"));
    std::vector<QueryAtom> flood_ok(20000, W("report"));
    flood_ok.push_back(OP(ATOM_OR, "20000"));

    struct tcase {
        const char* what;
        std::vector<QueryAtom> q;
        std::int32_t count;
    };
    const std::vector<tcase> cases = {
        {"two words without operator", rpn({W("report"), W("rain")}), -1},
        {"operator without operands", rpn({OP(ATOM_AND, "2")}), -1},
        {"operator wanting too many", rpn({W("report"), OP(ATOM_OR, "40")}), -1},
        {"count not a number", rpn({W("report"), W("rain"), OP(ATOM_AND, "two")}), -1},
        {"count zero", rpn({W("report"), OP(ATOM_OR, "0")}), -1},
        {"negative count", rpn({W("report"), OP(ATOM_OR, "-1")}), -1},
        {"count beyond 32 bits", rpn({W("report"), OP(ATOM_OR, "99999999999999999999")}), -1},
        // Well formed after all: the NOT takes the view term before it.
        {"not first", rpn({OP(ATOM_NOT, ""), W("report")}), 0},
        {"deep alternating nesting", deep, -1},
        {"long chain of one operator", chain, 2},
        {"long chain of distinct words", distinct_chain, 2},
        {"odd number of negations", nots, 3},
        {"more items than the server reads", flood, -1},
        {"twenty thousand items", flood_ok, 2},
        {"huge term", rpn({W(huge.c_str())}), 0},
        {"huge meta", rpn({M("author", huge.c_str())}), 0},
        {"only empty words", rpn({W(""), W(""), OP(ATOM_AND, "2")}), -1},
        {"unknown atom type", rpn({W("report"), {static_cast<QueryAtomType>(42), "", "x"}}), 2},
        {"control bytes and invalid UTF-8", rpn({W("re\x01port\x41"), W("\xff\xfe")}), 0},
    };
    for (const tcase& c : cases) {
        outcome o = search(c.q, {1, 2, 3}, INFO_TITLE);
        // The request must reach the server whole; one it would refuse is never sent.
        EXPECT_EQ(o.count, c.count) << c.what;
        EXPECT_EQ(o.hits.size(), static_cast<std::size_t>(std::max(0, c.count))) << c.what;
        // The connection stays in step: an ordinary query right after works.
        EXPECT_EQ(search({W("growth")}).ids(), ids({"g-annual"})) << "after " << c.what;
    }
}

TEST_F(IdxSearchE2E, ServerGoneMeansNoResults) {
    // An unknown command makes the server drop the connection: the search then cannot read
    // the QUERY reply and answers -1 with no hits.
    ASSERT_TRUE(index_->connection()->send_int(99));
    outcome o = search({W("report")}, {1}, INFO_CONTEXT);
    EXPECT_EQ(o.count, -1);
    EXPECT_TRUE(o.hits.empty());
    // The lost server is replaced at once; its index waits for a rebuild from the store.
    EXPECT_FALSE(index_->connection()->broken());
    EXPECT_TRUE(index_->needs_rebuild());
    docs_->rebuild_index(db_, *index_);
    EXPECT_FALSE(index_->needs_rebuild());
    EXPECT_EQ(search({W("growth")}).ids(), ids({"g-annual"}));
}
