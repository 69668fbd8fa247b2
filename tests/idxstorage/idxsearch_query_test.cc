// The QUERY request that the client builds from a search, and the server's query engine over
// an in-memory store (hit windows, cursor edge cases).
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "idxstorage/idx-search.h"
#include "index-server/server-search.h"
#include "index-server/vault-session.h"

using namespace lumbrake;

namespace {

index_term T(const char* v, const char* f = "") {
    return {IDX_OP_TERM, v, f};
}
index_term O(std::int32_t op, const char* v) {
    return {op, v, ""};
}

const std::time_t now = 1700000000;

index_query build(const std::vector<std::int32_t>& archives, std::int32_t view,
                  const std::vector<QueryAtom>& atoms, std::int32_t min_time = 0,
                  std::int32_t max_time = 0, std::uint32_t min_score = 0,
                  std::int32_t sort = SORT_STANDARD,
                  const std::vector<QuerySliceWeight>& weights = {}) {
    return build_search_query(archives, min_time, max_time, min_score, view, sort, atoms, weights,
                              now);
}

} // namespace

TEST(IdxSearchQuery, ItemsAroundTheUserQuery) {
    EXPECT_EQ(build({1}, 0, {}).items,
              std::vector<index_term>({T("1", "arcid"), T("0", "view"), O(IDX_OP_AND, "2")}));

    std::vector<QueryAtom> atoms = {
        {ATOM_WORD, "", "Report"}, {ATOM_WORD, "", "2005"}, {ATOM_AND, "", "2"}};
    EXPECT_EQ(build({3, 7}, 1, atoms).items,
              std::vector<index_term>({T("3", "arcid"), T("7", "arcid"), O(IDX_OP_OR, "2"),
                                       T("1", "view"), T("report"), T("2005"), O(IDX_OP_AND, "2"),
                                       O(IDX_OP_AND, "3")}));
}

TEST(IdxSearchQuery, AtomMapping) {
    struct tcase {
        QueryAtom atom;
        std::vector<index_term> want;
    };
    const std::vector<tcase> cases = {
        {{ATOM_WORD, "ignored", "\xC3\x84rger"}, {T("\xC3\xA4rger")}}, // folded beyond ASCII
        {{ATOM_WORD, "", ""}, {}},
        {{ATOM_WORD, "", "bad\xff"}, {}},
        {{ATOM_NOT, "", "whatever"}, {O(IDX_OP_NOT, "")}},
        {{ATOM_AND, "", "4"}, {O(IDX_OP_AND, "4")}},
        {{ATOM_OR, "", "2"}, {O(IDX_OP_OR, "2")}},
        {{ATOM_NEAR, "", "3"}, {O(IDX_OP_NEAR, "3")}},
        {{ATOM_META, "Title", "Report"}, {T("title:report")}},
        {{ATOM_META, "", "report"}, {}},
        {{ATOM_META, "title", ""}, {}},
        {{ATOM_META, "title", "\xe2\x82"}, {}},
        {{static_cast<QueryAtomType>(9), "", "x"}, {}},
    };
    for (const tcase& c : cases) {
        std::vector<index_term> items;
        append_atom_items(c.atom, items);
        EXPECT_EQ(items, c.want) << "type " << c.atom.Type << " param " << c.atom.Param;
    }
}

TEST(IdxSearchQuery, BoostsFromDefaultsAndWeights) {
    auto boosts = [](const std::vector<QuerySliceWeight>& w) {
        std::vector<std::pair<int, int>> out;
        for (const index_boost& b : slice_boosts(w))
            out.emplace_back(b.slice, b.boost);
        return out;
    };
    const std::vector<std::pair<int, int>> defaults = {{5, 1},  {6, 2},  {7, 1},  {8, 3},
                                                       {9, 3},  {10, 2}, {11, 4}, {12, 2},
                                                       {13, 6}, {14, 6}, {15, 12}};
    EXPECT_EQ(boosts({}), defaults);
    auto without_title = defaults;
    without_title.pop_back();
    EXPECT_EQ(boosts({{15, 0}}), without_title);
    EXPECT_EQ(boosts({{0, 5}, {-3, 9}}), defaults);
    auto with_20 = defaults;
    with_20.emplace_back(20, 3);
    EXPECT_EQ(boosts({{20, 3}}), with_20);
    // A later weight for the same slice wins; a slice that weighed nothing can be raised.
    auto later = boosts({{10, 7}, {10, 9}, {1, 4}});
    EXPECT_EQ(later.front(), std::make_pair(1, 4));
    EXPECT_EQ(later[6], std::make_pair(10, 9));
}

TEST(IdxSearchQuery, TimeScoreAndSort) {
    struct tcase {
        std::int32_t min_time, max_time;
        std::string field;
        std::int32_t sent_min, sent_max;
    };
    const std::vector<tcase> times = {
        {0, 0, "", 0, 0},
        {0, static_cast<std::int32_t>(now - 3600), "time", 0,
         static_cast<std::int32_t>(now - 3600)},
        {0, static_cast<std::int32_t>(now), "", 0, 0},
        {0, static_cast<std::int32_t>(now + 50), "", 0, 0},
        {5000, 0, "time", 5000, 0},
        {5000, 9000, "time", 5000, 9000},
    };
    for (const tcase& c : times) {
        index_query q = build({1}, 0, {}, c.min_time, c.max_time);
        EXPECT_EQ(q.time_field, c.field) << c.min_time << ".." << c.max_time;
        EXPECT_EQ(q.min_time, c.sent_min);
        EXPECT_EQ(q.max_time, c.sent_max);
    }

    EXPECT_EQ(build({1}, 0, {}, 0, 0, 0).min_score, "");
    EXPECT_EQ(build({1}, 0, {}, 0, 0, 500000).min_score, "0007a120");
    EXPECT_EQ(build({1}, 0, {}, 0, 0, 1000000).min_score, "000f4240");
    EXPECT_EQ(build({1}, 0, {}).score_field, "score");

    struct scase {
        std::int32_t sort;
        std::string field;
        std::int32_t reverse;
    };
    for (const scase& c : std::vector<scase>{{SORT_STANDARD, "", 0},
                                             {SORT_RELEVANCE, "", 0},
                                             {SORT_SCORE, "score", 1},
                                             {SORT_TIME_NEWER, "time", 1},
                                             {SORT_TIME_OLDER, "time", 0},
                                             {77, "", 0}}) {
        index_query q = build({1}, 0, {}, 0, 0, 0, c.sort);
        EXPECT_EQ(q.sort_field, c.field) << c.sort;
        EXPECT_EQ(q.reverse, c.reverse) << c.sort;
    }
}

// ---- the server's engine over an in-memory store ----

namespace {

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 150; ++i) {
            db.begin_document();
            db.add_text_field("guid", "doc" + std::to_string(i), true, true, false);
            db.add_text_field("arcid", "1", true, true, false);
            db.add_time_field("time", i * 3600, true, true, false);
            db.add_text_field("view", "0", true, true, false);
            std::string stream = std::string("common") + '\x4a';
            if (i % 3 == 0) stream += std::string("\x01third") + '\x4a';
            db.add_text_field("", stream, false, true, true);
            db.end_document();
        }
        db.flush();
    }
    index_query query_of(std::vector<index_term> user, const char* sort_field = "",
                         std::int32_t reverse = 0) {
        index_query q;
        q.items = {T("1", "arcid"), T("0", "view")};
        q.items.insert(q.items.end(), user.begin(), user.end());
        q.items.push_back(O(IDX_OP_AND, user.empty() ? "2" : "3"));
        q.sort_field = sort_field;
        q.reverse = reverse;
        q.score_field = "score";
        return q;
    }
    std::string guid() {
        std::string text;
        EXPECT_EQ(engine->hit_text("guid", text), 0);
        return text;
    }

    siftvault::vault_db db{"", {}};
    std::unique_ptr<siftvault::query_engine> engine = siftvault::make_query_engine();
};

} // namespace

TEST_F(EngineTest, HitsAcrossWindowsInAnyOrder) {
    ASSERT_EQ(engine->query(db, query_of({T("common")}, "time", 0)), 0);
    ASSERT_EQ(engine->hit_count(), 150);
    // Forward past the first window, then back, then a jump: always the hit asked for.
    for (int i : {0, 1, 63, 64, 65, 149, 5, 100, 64, 0}) {
        ASSERT_EQ(engine->select_hit(i), 0) << i;
        EXPECT_EQ(guid(), "doc" + std::to_string(i));
        EXPECT_EQ(engine->hit_time("time"), i * 3600);
    }
    EXPECT_EQ(engine->hit_time("servertime"), 0) << "a field the hit lacks";

    ASSERT_EQ(engine->query(db, query_of({T("third")}, "time", 1)), 0);
    EXPECT_EQ(engine->hit_count(), 50);
    ASSERT_EQ(engine->select_hit(0), 0);
    EXPECT_EQ(guid(), "doc147");
}

TEST_F(EngineTest, NearGroups) {
    // A repeated word needs two occurrences; a group of a word and a field term asks for both.
    ASSERT_EQ(engine->query(db, query_of({T("common"), T("common"), O(IDX_OP_NEAR, "2")})), 0);
    EXPECT_EQ(engine->hit_count(), 0);
    ASSERT_EQ(engine->query(db, query_of({T("common"), T("third"), O(IDX_OP_NEAR, "2")})), 0);
    EXPECT_EQ(engine->hit_count(), 50);
    ASSERT_EQ(engine->query(db, query_of({T("third"), T("doc3", "guid"), O(IDX_OP_NEAR, "2")})), 0);
    EXPECT_EQ(engine->hit_count(), 1);
}

TEST_F(EngineTest, CursorOutsideTheHits) {
    std::string text = "stale";
    // Before any query, and after END_QUERY, there is nothing to read.
    EXPECT_EQ(engine->hit_count(), -1);
    EXPECT_EQ(engine->select_hit(0), -1);
    EXPECT_EQ(engine->hit_text("guid", text), -1);
    EXPECT_EQ(text, "");
    ASSERT_EQ(engine->query(db, query_of({T("third")})), 0);
    for (int bad : {-1, 50, 1 << 30, INT32_MIN}) {
        EXPECT_EQ(engine->select_hit(bad), -1) << bad;
        EXPECT_EQ(engine->hit_score(), -1);
        EXPECT_EQ(engine->hit_time("time"), -1);
    }
    engine->end_query();
    EXPECT_EQ(engine->hit_count(), -1);
}

TEST_F(EngineTest, MalformedAndOversizedQueries) {
    struct tcase {
        const char* what;
        std::vector<index_term> items;
        std::int32_t want;
    };
    std::vector<index_term> wide;
    for (int i = 0; i < 20000; ++i)
        wide.push_back(T(("w" + std::to_string(i)).c_str()));
    wide.push_back(O(IDX_OP_OR, "20000"));
    const std::vector<tcase> cases = {
        {"empty list", {}, siftvault::QUERY_MALFORMED},
        {"unknown op", {T("a"), O(9, "")}, siftvault::QUERY_MALFORMED},
        {"NOT alone", {O(IDX_OP_NOT, "")}, siftvault::QUERY_MALFORMED},
        {"count with sign", {T("a"), T("b"), O(IDX_OP_AND, "+2")}, siftvault::QUERY_MALFORMED},
        {"count with blank", {T("a"), T("b"), O(IDX_OP_AND, "2 ")}, siftvault::QUERY_MALFORMED},
        {"thousands of words no document holds", wide, 0},
    };
    for (const tcase& c : cases) {
        index_query q;
        q.items = c.items;
        EXPECT_EQ(engine->query(db, q), c.want) << c.what;
        EXPECT_EQ(engine->hit_count(), c.want == 0 ? 0 : -1) << c.what;
    }
    // The bound on distinct words counts words of the store (each is weighed per slice).
    siftvault::search_limits small;
    small.max_words = 1;
    Xapian::Query built;
    std::string why;
    EXPECT_EQ(siftvault::build_search(db, query_of({T("common"), T("third"), O(IDX_OP_OR, "2")}),
                                      built, why, small),
              siftvault::QUERY_TOO_COMPLEX);
    EXPECT_EQ(siftvault::build_search(
                  db, query_of({T("common"), T("common"), T("nothere"), O(IDX_OP_OR, "3")}), built,
                  why, small),
              0)
        << why;
    // Empty terms would be Xapian's match-everything term: they match nothing here.
    ASSERT_EQ(engine->query(db, query_of({T("")})), 0);
    EXPECT_EQ(engine->hit_count(), 0);
    // A time field or score field that no document stores leaves no hit; an unknown sort
    // field keeps relevance order.
    index_query q = query_of({T("common")}, "nosuchfield", 1);
    ASSERT_EQ(engine->query(db, q), 0);
    EXPECT_EQ(engine->hit_count(), 150);
    q.time_field = "nosuchtime";
    q.min_time = 1;
    ASSERT_EQ(engine->query(db, q), 0);
    EXPECT_EQ(engine->hit_count(), 0);
    q.time_field.clear();
    q.min_score = "00000001";
    ASSERT_EQ(engine->query(db, q), 0);
    EXPECT_EQ(engine->hit_count(), 0);
}

TEST(IdxSearchQuery, ScoreOfWeight) {
    EXPECT_EQ(siftvault::score_of_weight(0.0), 0);
    EXPECT_EQ(siftvault::score_of_weight(-1.0), 0);
    EXPECT_EQ(siftvault::score_of_weight(std::nan("")), 0);
    EXPECT_EQ(siftvault::score_of_weight(1.2345), 1235);
    EXPECT_EQ(siftvault::score_of_weight(1e300), INT32_MAX);
}

// A window in one call answers what the one-hit calls answer hit by hit (the base class asks
// them), for windows inside, across and outside the hits, in relevance and value order, and
// whether or not the count was asked for first.
TEST_F(EngineTest, WindowMatchesHitByHitAnswers) {
    const index_window_request fields{0, 0, {"guid", "arcid", "absent"}, {"time", "servertime"}};
    struct wcase {
        std::int32_t first, last;
        std::size_t max_hits;
        std::size_t hits;
    };
    const wcase cases[] = {
        {0, 9, 1000, 10},           {60, 70, 1000, 11},      {-5, 3, 1000, 4},
        {140, INT32_MAX, 1000, 10}, {5, 3, 1000, 0},         {150, 200, 1000, 0},
        {0, INT32_MAX, 100, 100},   {INT32_MIN, 0, 1000, 1}, {INT32_MAX, INT32_MAX, 1000, 0},
    };
    for (const char* sort : {"", "time"})
        for (bool counted_first : {false, true})
            for (const wcase& c : cases) {
                SCOPED_TRACE(testing::Message()
                             << "sort '" << sort << "' window " << c.first << ".." << c.last
                             << " max " << c.max_hits << (counted_first ? " counted" : ""));
                index_window_request r = fields;
                r.first = c.first;
                r.last = c.last;
                index_window one_by_one, at_once;
                ASSERT_EQ(engine->query(db, query_of({T("common")}, sort, 1)), 0);
                engine->query_engine::hit_window(r, c.max_hits, one_by_one);
                ASSERT_EQ(engine->query(db, query_of({T("common")}, sort, 1)), 0);
                if (counted_first) EXPECT_EQ(engine->hit_count(), 150);
                engine->hit_window(r, c.max_hits, at_once);
                EXPECT_EQ(at_once.total, 150);
                EXPECT_EQ(at_once.hits.size(), c.hits);
                EXPECT_EQ(at_once, one_by_one);
                if (!at_once.hits.empty()) {
                    EXPECT_EQ(at_once.hits[0].selected, 0);
                    EXPECT_EQ(at_once.hits[0].texts[1], "1");
                    EXPECT_EQ(at_once.hits[0].texts[2], "") << "a field the hit lacks";
                    EXPECT_EQ(at_once.hits[0].times[1], 0) << "a time the hit lacks";
                }
            }
    // The one-hit calls still work after a window, on any hit.
    ASSERT_EQ(engine->select_hit(3), 0);
    EXPECT_EQ(engine->hit_time("time"), (149 - 3) * 3600);

    // Without a query there is no window.
    engine->end_query();
    index_window none;
    engine->hit_window(fields, 1000, none);
    EXPECT_EQ(none, index_window{});
}
