// Pages filled from records and turned back into the records Apply sends.
#include "cpmodel/apply-model.h"

#include <gtest/gtest.h>

using namespace lumbrake;

namespace {

DocFilterInfo doc_filter(int id, std::string name) {
    DocFilterInfo f;
    f.DocFilterID = id;
    f.DocFilterConfiguration.Name = std::move(name);
    return f;
}

} // namespace

TEST(apply_model, UnchangedPagesSendTheStoredRecords) {
    SourceConfiguration s;
    s.Name = "n";
    s.Seeds = {"http://a/"};
    s.IncludeFilters = {"^http://a/"};
    s.ExcludeFilters = {"x"};
    s.DepthLimit = 0;
    s.Type = AUTH_COOKIE;
    s.CookieParams.Freshness = 90000; // not a whole number of days
    s.CookieParams.Params = {{"u", "v", COOKIE_OTHER}};
    s.RendererDocFilterIDs = {7, 99, 5};
    s.ACL = {{"bob", READACCESS, false}, {"bob", WRITEACCESS, true}};
    const std::vector<DocFilterInfo> filters{doc_filter(5, "five"), doc_filter(7, "seven"),
                                             doc_filter(8, "eight")};
    const source_page sp = source_page_from(s, filters);
    ASSERT_EQ(sp.pipeline.size(), 3u);
    EXPECT_EQ(sp.pipeline[0], (list_row{"seven", 7}));
    EXPECT_EQ(sp.pipeline[2], (list_row{"eight", -8}));
    EXPECT_EQ(sp.hidden_pipeline, std::vector<std::int32_t>{99});
    const SourceConfiguration back = source_from_page(sp, s);
    EXPECT_EQ(back.CookieParams.Freshness, 90000);
    // The id without a known filter is kept, never dropped.
    EXPECT_EQ(back.RendererDocFilterIDs, (std::vector<std::int32_t>{7, 5, 99}));
    SourceConfiguration expect = s;
    expect.RendererDocFilterIDs = back.RendererDocFilterIDs;
    EXPECT_EQ(back, expect);

    ArchiveConfiguration a;
    a.Name = "arc";
    a.Source = 4;
    a.Auth = 9;
    a.Historicize = true;
    a.SchedulingFrequency = WEEKLY;
    a.SchedulingAttribute = 3;
    a.AccessTime = 22;
    a.GarbageLimit = 600;
    a.DocumentCache = NOCACHE;
    EXPECT_EQ(archive_from_page(archive_page_from(a), a), a);

    WatchConfiguration w;
    w.Freshness = 7200;
    w.Collection = -1;
    w.Parser = RPNPARSER;
    const WatchConfiguration wb = watch_from_page(watch_page_from(w), w);
    EXPECT_EQ(wb.Parser, ALGPARSER); // always sent as the algebraic syntax
    EXPECT_EQ(wb.Freshness, 7200);
    EXPECT_EQ(wb.Collection, -1);
}

TEST(apply_model, ControlsBecomeRecordMembers) {
    source_page p;
    p.filters = {{"inc", 0}, {"exc", 1}, {"other", 2}};
    p.depth_check = false;
    p.depth = 5;
    p.auth_type = -1;
    p.pipeline = {{"a", 3}, {"b", 0}, {"c", -4}};
    p.acl = {{"zed", 0x1}, {"amy", 0x2}, {"zed", 0x10000}};
    SourceConfiguration loaded;
    loaded.Type = AUTH_BASIC;
    const SourceConfiguration s = source_from_page(p, loaded);
    EXPECT_EQ(s.IncludeFilters, std::vector<std::string>{"inc"});
    EXPECT_EQ(s.ExcludeFilters, std::vector<std::string>{"exc"});
    EXPECT_EQ(s.DepthLimit, 0);
    EXPECT_EQ(s.Type, AUTH_BASIC);
    EXPECT_EQ(s.RendererDocFilterIDs, std::vector<std::int32_t>{3});
    ASSERT_EQ(s.ACL.size(), 2u);
    EXPECT_EQ(s.ACL[0].Name, "amy");
    EXPECT_EQ(s.ACL[1].Name, "zed"); // the later row of one name replaced the earlier
    EXPECT_TRUE(s.ACL[1].Deny);

    archive_page ap;
    ap.scheduled = false;
    ap.frequency = 2;
    ap.every = 4;
    ap.start = 7;
    ap.age_limit = {true, 2, 1};
    ArchiveConfiguration loaded_a;
    loaded_a.SchedulingFrequency = DAILY;
    const ArchiveConfiguration a = archive_from_page(ap, loaded_a);
    EXPECT_EQ(a.SchedulingFrequency, DISABLED);
    EXPECT_EQ(a.SchedulingAttribute, 4);
    EXPECT_EQ(a.AccessTime, 7);
    EXPECT_EQ(a.GarbageLimit, 2 * 86400);
    EXPECT_EQ(a.PagesLimit, 0);
}

TEST(apply_model, DurationRule) {
    struct row {
        int seconds;
        duration_controls shown;
    } rows[] = {{90000, {true, 1, 1}},
                {7200, {true, 2, 0}},
                {600, {true, 1, 0}},
                {0, {false, 1, 0}},
                {86400, {true, 1, 1}}};
    for (const auto& r : rows)
        EXPECT_EQ(duration_to_controls(r.seconds), r.shown) << r.seconds;
    EXPECT_EQ(duration_from_controls({true, 3, 0}, 90000), 3 * 3600);
    EXPECT_EQ(duration_from_controls({false, 3, 0}, 90000), 0);
    EXPECT_EQ(duration_from_controls({true, 3, -1}, 90000), 90000);
}

TEST(apply_model, CollectionKeepsArchivesWithoutARow) {
    std::vector<SourceInfo> sources(1);
    sources[0].Source = 1;
    sources[0].Configuration.Description = "src";
    std::vector<ArchiveInfo> archives(2);
    archives[0].Archive = 10;
    archives[0].Configuration.Name = "ten";
    archives[0].Configuration.Source = 1;
    archives[1].Archive = 11;
    archives[1].Configuration.Source = 2; // its source is not readable
    CollectionConfiguration c;
    c.Archives = {11, 10, 12};
    const collection_page p = collection_page_from(c, archives, sources);
    ASSERT_EQ(p.archives.size(), 1u);
    EXPECT_EQ(p.archives[0].source_description, "src");
    const CollectionConfiguration back = collection_from_page(p, c);
    EXPECT_EQ(back.Archives, (std::vector<std::int32_t>{10, 11, 12}));
}

TEST(apply_model, DefaultIncludeFilters) {
    EXPECT_EQ(default_include_filter("http://www.Example.com:80/a/b.html?x"),
              "^http://www\\.example\\.com/.*$");
    EXPECT_EQ(default_include_filter("google:foo"), "^http://.*$");

    source_page p;
    p.seeds = {"http://h.org/x/", "http://h.org/y/"};
    EXPECT_TRUE(add_default_include_filters(p));
    ASSERT_EQ(p.filters.size(), 1u); // two seeds of one site: one filter
    EXPECT_EQ(p.filters[0], (list_row{"^http://h\\.org/.*$", 0}));
    EXPECT_FALSE(add_default_include_filters(p));

    source_page g;
    g.seeds = {"google:news"};
    g.filters = {{".*", 0}};
    EXPECT_FALSE(add_default_include_filters(g));

    source_page e; // excluded seeds get a filter all the same (and stay excluded)
    e.seeds = {"http://h.org/"};
    e.filters = {{"h", 0}, {"org", 1}};
    EXPECT_TRUE(add_default_include_filters(e));
    EXPECT_EQ(e.filters.size(), 3u);
}

TEST(apply_model, LenientUtf8) {
    EXPECT_EQ(utf8_lenient("ok \xC3\xA9"), "ok \xC3\xA9");
    EXPECT_EQ(utf8_lenient("a\xE9"
                           "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(utf8_lenient("\xC0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD"); // overlong
    EXPECT_EQ(utf8_lenient(""), "");
}
