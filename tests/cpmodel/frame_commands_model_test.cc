// The main window's create and delete commands as values: the records the New commands send,
// "Add to ->" (also pressed twice), objects in use, list updates after an answer, tree links
// and where the manuals are looked for.
#include "cpmodel/frame-commands-model.h"

#include "cpmodel/frame-ids.h"

#include <gtest/gtest.h>

#include <set>

using namespace lumbrake;

namespace {

SourceInfo source(int id, std::string name, AuthType type = AUTH_NONE) {
    SourceInfo s;
    s.Source = id;
    s.Configuration.Name = std::move(name);
    s.Configuration.Type = type;
    return s;
}

CollectionInfo collection(int id, std::vector<std::int32_t> archives, std::uint32_t magic = 7) {
    CollectionInfo c;
    c.Collection = id;
    c.Configuration.Name = "c" + std::to_string(id);
    c.Configuration.Description = "kept";
    c.Configuration.Archives = std::move(archives);
    c.Magic = magic;
    return c;
}

const std::vector<AccessSpec> owner = {{"ann", READACCESS, false}, {"ann", WRITEACCESS, false}};

} // namespace

TEST(frame_commands_model, NewRecordsCarryTheDefaultsAndTheOwnersAccess) {
    const SourceConfiguration s = new_source_record("ann", "(new)");
    EXPECT_EQ(s.Name, "(new)");
    EXPECT_EQ(s.DepthLimit, 0);
    EXPECT_TRUE(s.CheckRobotsTxt);
    EXPECT_FALSE(s.HasSideMetadata);
    EXPECT_EQ(s.Type, AUTH_NONE);
    EXPECT_EQ(s.CookieParams.Action, COOKIE_GET);
    EXPECT_EQ(s.CookieParams.Freshness, 0);
    EXPECT_TRUE(s.Seeds.empty());
    EXPECT_EQ(s.ACL, owner);

    const WatchConfiguration w = new_watch_record("ann", "(new)", -1);
    EXPECT_EQ(w.Name, "(new)");
    EXPECT_EQ(w.Query, "");
    EXPECT_EQ(w.Parser, ALGPARSER);
    EXPECT_EQ(w.Freshness, 604800);
    EXPECT_EQ(w.Collection, -1);
    EXPECT_EQ(w.ACL, owner);

    const CollectionConfiguration c = new_collection_record("ann", "(new)", {});
    EXPECT_EQ(c.Name, "(new)");
    EXPECT_TRUE(c.Archives.empty());
    EXPECT_EQ(c.ACL, owner);

    const AuthConfiguration a = new_auth_record("Anonymous");
    EXPECT_TRUE(a.Username.empty() && a.Password.empty() && a.ParamValues.empty());
    EXPECT_EQ(a.ACL, (std::vector<AccessSpec>{{"Anonymous", READACCESS, false},
                                              {"Anonymous", WRITEACCESS, false}}));
}

TEST(frame_commands_model, NewArchiveIsNamedAfterTheLastPartOfItsSourceName) {
    struct row {
        const char* source;
        const char* archive;
    } rows[] = {
        {"web\\intranet", "intranet"},
        {"intranet", "intranet"},
        {"a\\b\\c", "c"},
        {"ends\\", ""},
        {"", ""},
        {"forward/slash", "forward/slash"},
    };
    for (const row& r : rows) {
        const ArchiveConfiguration a = new_archive_record(source(4, r.source), true, 9, "ann");
        EXPECT_EQ(a.Name, r.archive) << r.source;
        EXPECT_EQ(a.Source, 4);
        EXPECT_EQ(a.Auth, 9);
        EXPECT_TRUE(a.Historicize);
        EXPECT_EQ(a.SchedulingFrequency, DISABLED);
        EXPECT_EQ(a.PagesLimit, 0);
        EXPECT_EQ(a.GarbageLimit, 0);
        EXPECT_EQ(a.DocumentCache, FULLCACHE);
        EXPECT_EQ(a.ACL, owner);
    }
    EXPECT_FALSE(needs_auth_record(source(1, "x", AUTH_NONE)));
    EXPECT_TRUE(needs_auth_record(source(1, "x", AUTH_BASIC)));
    EXPECT_TRUE(needs_auth_record(source(1, "x", AUTH_COOKIE)));
}

TEST(frame_commands_model, AddToCollectionCreatesAppendsOrDoesNothing) {
    const std::vector<CollectionInfo> list = {collection(2, {5}), collection(3, {8, 1})};
    struct row {
        const char* what;
        int choice;
        add_to_collection_plan::action_kind action;
        int id;
        std::vector<std::int32_t> archives;
    } rows[] = {
        {"new collection entry", 0, add_to_collection_plan::create, 0, {1}},
        {"a negative id is the new entry too", -1, add_to_collection_plan::create, 0, {1}},
        {"appended at the end", 2, add_to_collection_plan::update, 2, {5, 1}},
        {"pressed again: already there", 3, add_to_collection_plan::nothing, 0, {}},
        {"unknown collection", 42, add_to_collection_plan::nothing, 0, {}},
    };
    for (const row& r : rows) {
        const add_to_collection_plan p = plan_add_to_collection(1, r.choice, list, "ann", "News");
        EXPECT_EQ(p.action, r.action) << r.what;
        if (p.action == add_to_collection_plan::nothing) continue;
        EXPECT_EQ(p.id, r.id) << r.what;
        EXPECT_EQ(p.configuration.Archives, r.archives) << r.what;
    }
    const add_to_collection_plan created = plan_add_to_collection(1, 0, list, "ann", "News");
    EXPECT_EQ(created.configuration.Name, "News");
    EXPECT_EQ(created.configuration.ACL, owner);
    const add_to_collection_plan updated = plan_add_to_collection(1, 2, list, "ann", "");
    EXPECT_EQ(updated.magic, 7u);
    EXPECT_EQ(updated.configuration.Description, "kept");
    EXPECT_EQ(updated.configuration.Name, "c2");

    // The answer of the first press is in the list: a second press sends nothing.
    std::vector<CollectionInfo> after = list;
    after[0].Configuration.Archives.push_back(1);
    EXPECT_EQ(plan_add_to_collection(1, 2, after, "ann", "").action,
              add_to_collection_plan::nothing);
}

TEST(frame_commands_model, InUseAndListUpdates) {
    ArchiveInfo a;
    a.Archive = 3;
    a.Configuration.Source = 7;
    EXPECT_TRUE(source_in_use(7, {a}));
    EXPECT_FALSE(source_in_use(8, {a}));
    WatchInfo w;
    w.Watch = 1;
    w.Configuration.Collection = 2;
    EXPECT_TRUE(collection_in_use(2, {w}));
    EXPECT_FALSE(collection_in_use(-1, {w}));

    std::vector<WatchInfo> watches(3);
    watches[0].Watch = 4;
    watches[1].Watch = 5;
    watches[2].Watch = 6;
    EXPECT_TRUE(remove_by_id(watches, 5));
    ASSERT_EQ(watches.size(), 2u);
    EXPECT_EQ(watches[0].Watch, 4);
    EXPECT_EQ(watches[1].Watch, 6);
    EXPECT_FALSE(remove_by_id(watches, 5));
    EXPECT_EQ(watches.size(), 2u);

    std::vector<ArchiveInfo> archives = {a};
    ArchiveInfo answer = a;
    answer.Crawling = true;
    EXPECT_TRUE(replace_archive(archives, answer));
    EXPECT_TRUE(archives[0].Crawling);
    answer.Archive = 99; // an id the frame does not list changes nothing
    answer.Crawling = false;
    EXPECT_FALSE(replace_archive(archives, answer));
    answer.Archive = 0;
    EXPECT_FALSE(replace_archive(archives, answer));
    EXPECT_TRUE(archives[0].Crawling);
}

TEST(frame_commands_model, TreeLinksAndManuals) {
    EXPECT_EQ(linked_kind(0), cp_kind::archive);
    EXPECT_EQ(linked_kind(1), cp_kind::source);
    EXPECT_EQ(linked_kind(2), cp_kind::watch);
    EXPECT_EQ(linked_kind(3), cp_kind::collection);
    EXPECT_EQ(linked_kind(4), cp_kind::none);
    EXPECT_EQ(tree_page_of(cp_kind::source), 0);
    EXPECT_EQ(tree_page_of(cp_kind::watch), 3);

    const int ids[] = {ID_MANUAL_INSTALLATION, ID_MANUAL_USER, ID_MANUAL_ADMINISTRATION,
                       ID_MANUAL_REFERENCE, ID_MANUAL_COOKBOOK};
    std::set<std::string> files;
    for (int id : ids) {
        ASSERT_NE(manual_file(id), nullptr) << id;
        files.insert(manual_file(id));
    }
    EXPECT_EQ(files.size(), 5u);
    EXPECT_EQ(manual_file(ID_REFRESH), nullptr);
    EXPECT_EQ(manual_candidates("/opt/tn/bin/", "user.html"),
              (std::vector<std::string>{"/opt/tn/bin/manual/user.html",
                                        "/opt/tn/bin/../share/trawlnest/manual/user.html"}));
}
