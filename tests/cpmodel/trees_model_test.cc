// Tree rows: filter, links between kinds, red archives, names for unnamed objects, pending
// selections.
#include "cpmodel/trees-model.h"
#include "../support/info_records.h"

#include <gtest/gtest.h>

using namespace lumbrake;

namespace {

SourceInfo source(int id, std::string name, std::string description = "") {
    SourceInfo s;
    s.Source = id;
    s.Configuration.Name = std::move(name);
    s.Configuration.Description = std::move(description);
    return s;
}

using tn_test::archive;

} // namespace

TEST(trees_model, FilterWordsMustAllOccurInAnyCase) {
    struct row {
        const char* text;
        const char* filter;
        bool match;
    } rows[] = {
        {"Web pages NEWS", "Web  NEWS", true},
        {"web site", "web news", false},
        {"anything", "", true},
        {"anything", " \t\r\n", true},
        {"Newsweb", "web\tnews", true},
        {"abc", "x", false},
    };
    for (const auto& r : rows)
        EXPECT_EQ(matches_filter(r.text, r.filter), r.match) << r.text << "|" << r.filter;
}

TEST(trees_model, SourceTreeListsArchivesAndFiltersTopLevelOnly) {
    std::vector<SourceInfo> sources{source(1, "Web", "news site"), source(2, "Files", "disk")};
    std::vector<ArchiveInfo> archives{archive(5, "zzz", 1, 3), archive(6, "other", 2),
                                      archive(7, "more", 1)};
    auto rows = source_tree_rows(sources, archives, "");
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(rows[0].children.size(), 2u);
    EXPECT_EQ(rows[0].children[0].id, 5);
    EXPECT_TRUE(rows[0].children[0].red);
    EXPECT_FALSE(rows[0].children[1].red);
    EXPECT_EQ(rows[1].children[0].index, 1u);

    rows = source_tree_rows(sources, archives, "NEWS web");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].id, 1);
    EXPECT_EQ(rows[0].children.size(), 2u); // children shown whatever their names

    auto arows = archive_tree_rows(archives, sources, "");
    ASSERT_EQ(arows.size(), 3u);
    EXPECT_TRUE(arows[0].red);
    ASSERT_EQ(arows[0].children.size(), 1u);
    EXPECT_EQ(arows[0].children[0].kind, cp_kind::source);
    EXPECT_EQ(arows[0].children[0].id, 1);
}

TEST(trees_model, WatchesHangUnderTheirCollectionAndTheBuiltinOne) {
    std::vector<CollectionInfo> collections(2);
    collections[0].Collection = 3;
    collections[0].Configuration.Name = "c";
    collections[1].Collection = -1;
    collections[1].Configuration.Name = "<All archives>";
    std::vector<WatchInfo> watches(3);
    watches[0].Watch = 1;
    watches[0].Configuration.Collection = -1;
    watches[1].Watch = 2;
    watches[1].Configuration.Collection = 3;
    watches[2].Watch = 4;
    watches[2].Configuration.Collection = 3;
    std::vector<SourceInfo> s;
    std::vector<ArchiveInfo> a;
    name_unnamed(s, a, collections, watches, "(no name)");
    EXPECT_EQ(watches[0].Configuration.Name, "(no name)");
    auto crows = collection_tree_rows(collections, watches, "");
    EXPECT_EQ(crows[0].children.size(), 2u);
    ASSERT_EQ(crows[1].children.size(), 1u);
    EXPECT_EQ(crows[1].children[0].id, 1);
    auto wrows = watch_tree_rows(watches, collections, "");
    ASSERT_EQ(wrows[0].children.size(), 1u);
    EXPECT_EQ(wrows[0].children[0].id, -1);
}

TEST(trees_model, OnePendingIdPerRefresh) {
    pending_selection p;
    p.source = 4;
    p.watch = 9;
    int noted[4] = {1, 2, 3, 0};
    consume_pending(p, noted);
    EXPECT_EQ(noted[0], 4);
    EXPECT_EQ(noted[3], 0);
    consume_pending(p, noted);
    EXPECT_EQ(noted[3], 9);
    p.collection = -1;
    consume_pending(p, noted);
    EXPECT_EQ(noted[2], -1);
    EXPECT_EQ(p.collection, 0);
}
