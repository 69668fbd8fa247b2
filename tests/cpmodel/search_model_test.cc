// The search pages' logic: the query each page sends, the watch periods, the status line,
// contexts, the feed address and the watch made by "Save as watch".
#include "cpmodel/search-model.h"

#include <gtest/gtest.h>

using namespace lumbrake;

namespace {

const std::vector<QuerySliceWeight> title_heavy = {{15, 100}, {10, 0}};

TEST(search_model, EachPressAsksForTheNextTenAfterTheRowsShown) {
    search_inputs in;
    in.scope = 7;
    in.query = "apple OR pear";
    for (int rows : {0, 10, 20, 27}) {
        in.rows = rows;
        const QuerySpec q = make_search_query(in);
        EXPECT_EQ(q.FirstDoc, rows);
        EXPECT_EQ(q.LastDoc, rows + 9);
        EXPECT_EQ(q.Archives, std::vector<std::int32_t>{7});
        EXPECT_EQ(q.Parser, ALGPARSER);
        EXPECT_EQ(q.QueryString, "apple OR pear");
        EXPECT_EQ(q.Info, INFO_CONTEXT);
        EXPECT_EQ(q.View, VIEW_PUBLISHED);
    }
}

TEST(search_model, ScopeOfEachPage) {
    struct row {
        search_page page;
        std::int32_t scope;
        std::vector<std::int32_t> archives;
        std::int32_t collection, watch;
    } rows[] = {
        {search_page::archive, 3, {3}, 0, 0},
        {search_page::collection, 4, {}, 4, 0},
        {search_page::collection, -1, {}, -1, 0}, // "<All archives>"
        {search_page::watch, 5, {}, 0, 5},
    };
    for (const row& r : rows) {
        search_inputs in;
        in.page = r.page;
        in.scope = r.scope;
        const QuerySpec q = make_search_query(in);
        EXPECT_EQ(q.Archives, r.archives) << r.scope;
        EXPECT_EQ(q.Collection, r.collection) << r.scope;
        EXPECT_EQ(q.Watch, r.watch) << r.scope;
    }
}

TEST(search_model, AdvancedOptionsGoOutOnlyWhenTicked) {
    search_inputs in;
    in.page = search_page::collection;
    in.scope = 2;
    in.sort = 3;
    in.weights = title_heavy;
    in.from = 978307200;
    in.to = 1009843199;

    in.advanced = false;
    QuerySpec q = make_search_query(in);
    EXPECT_EQ(q.Sort, SORT_STANDARD);
    EXPECT_TRUE(q.Weights.empty());
    EXPECT_EQ(q.MinTime, 0);
    EXPECT_EQ(q.MaxTime, 2147483647);

    in.advanced = true;
    q = make_search_query(in);
    EXPECT_EQ(q.Sort, SORT_TIME_NEWER);
    EXPECT_EQ(q.Weights, title_heavy);
    EXPECT_EQ(q.MinTime, 978307200);
    EXPECT_EQ(q.MaxTime, 1009843199);

    // A watch page never sends sort, weights or the query pages' dates.
    in.page = search_page::watch;
    in.period = 4;
    q = make_search_query(in);
    EXPECT_EQ(q.Sort, SORT_STANDARD);
    EXPECT_TRUE(q.Weights.empty());
    EXPECT_EQ(q.MinTime, 1);
    EXPECT_EQ(q.MaxTime, 2147483647);
}

TEST(search_model, SortChoicePositions) {
    const std::pair<int, QuerySort> rows[] = {
        {-1, SORT_STANDARD},  {0, SORT_STANDARD},   {1, SORT_RELEVANCE}, {2, SORT_SCORE},
        {3, SORT_TIME_NEWER}, {4, SORT_TIME_OLDER}, {5, SORT_STANDARD},
    };
    for (const auto& [position, sort] : rows)
        EXPECT_EQ(sort_of_choice(position), sort) << position;
}

TEST(search_model, WatchPeriods) {
    const std::int64_t now = 1700000000;
    struct row {
        int position;
        std::int32_t freshness;
        std::int32_t min_time;
    } rows[] = {
        {0, 7200, 1700000000 - 7200}, // the watch's own freshness
        {0, 0, 0},                    // a watch without one
        {1, 7200, 1700000000 - 86400},
        {2, 0, 1700000000 - 604800},
        {3, 0, 1700000000 - 2592000},
        {4, 7200, 1}, // "All": not 0, which would let the daemon apply 7200
        {-1, 7200, 0},
    };
    for (const row& r : rows)
        EXPECT_EQ(watch_period_min_time(r.position, r.freshness, now), r.min_time) << r.position;
    // Early clocks do not go below 0.
    EXPECT_EQ(watch_period_min_time(3, 0, 1000), 0);
}

TEST(search_model, StatusLines) {
    struct row {
        int rows, total;
        const char* line;
    } rows[] = {
        {0, 0, "Searched Orchard for 'pear' in 12 ms, no results."},
        {0, -1, "Searched Orchard for 'pear' in 12 ms, no results."},
        {30, 41, "Searched Orchard for 'pear' in 12 ms, displaying first 30 of 41 results."},
        // The daemon did not count the matches.
        {10, -1, "Searched Orchard for 'pear' in 12 ms, displaying first 10 results."},
    };
    for (const row& r : rows)
        EXPECT_EQ(search_status_line("Orchard", "pear", 12, r.rows, r.total), r.line);
    // Names and queries keep their bytes, and a "%" in them is not a format.
    EXPECT_EQ(search_status_line("Äpfel 100%", "%s %d", 3, 1, 1),
              "Searched Äpfel 100% for '%s %d' in 3 ms, displaying first 1 of 1 results.");
    // The translation of the format is used.
    EXPECT_EQ(search_status_line("A", "q", 5, 0, 0,
                                 [](const char*) { return std::string("%s/%s/%d nulla"); }),
              "A/q/5 nulla");
}

TEST(search_model, ContextsJoined) {
    EXPECT_EQ(contexts_text({}), "");
    EXPECT_EQ(contexts_text({"one"}), "one");
    EXPECT_EQ(contexts_text({"one", "two", "three"}), "one ... two ... three");
}

TEST(search_model, FeedAddressKeepsTheHtmlAmpersand) {
    EXPECT_EQ(watch_feed_url("http://h:2200/private/en", 12),
              "http://h:2200/private/en/rss20?t=12&amp;mintime=0");
}

TEST(search_model, SaveAsWatchRecord) {
    const WatchConfiguration w = watch_from_search("foo", 3, "alice");
    EXPECT_EQ(w.Name, "foo");
    EXPECT_EQ(w.Description, "");
    EXPECT_EQ(w.Query, "foo");
    EXPECT_EQ(w.Parser, ALGPARSER);
    EXPECT_EQ(w.Freshness, 604800);
    EXPECT_EQ(w.Collection, 3);
    EXPECT_EQ(w.ACL, (std::vector<AccessSpec>{{"alice", READACCESS, false},
                                              {"alice", WRITEACCESS, false}}));
}

} // namespace
