#include "api/collection-info.h"
#include "api/watch-info.h"
#include "apiops2_env.h"

namespace apiops2 {
namespace {

using namespace lumbrake;

class collections : public apiops2_test {
protected:
    // An archive record stored directly, readable by the names given.
    std::int32_t archive_readable_by(const std::string& name) {
        ArchiveConfiguration arc;
        arc.Name = "arc-" + name;
        arc.ACL = {allow(name, READACCESS)};
        std::uint32_t magic = 0;
        storage_transaction txn(db_);
        std::int32_t id = cfgstorage<ArchiveConfiguration>::add(db_, arc, magic);
        txn.commit();
        return id;
    }
    // The stored XML text as the sqlite3 shell reads it (its line end removed).
    std::string stored_text(const char* key, int id) {
        std::string text = sql(std::string("select cfg from cfgstorage where key='") + key +
                               "' and id=" + std::to_string(id));
        if (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }
    std::size_t stored_count(const char* key) {
        return std::stoul(
            sql(std::string("select count(*) from cfgstorage where key='") + key + "'"));
    }
    CollectionConfiguration collection(std::vector<std::int32_t> archives,
                                       std::vector<AccessSpec> acl) {
        CollectionConfiguration c;
        c.Name = "news";
        c.Description = "all the news";
        c.Archives = std::move(archives);
        c.ACL = std::move(acl);
        return c;
    }
    WatchConfiguration watch(std::int32_t collection, std::vector<AccessSpec> acl) {
        WatchConfiguration w;
        w.Name = "w";
        w.Query = "budget";
        w.Parser = RPNPARSER;
        w.Freshness = 3600;
        w.Collection = collection;
        w.ACL = std::move(acl);
        return w;
    }
    // A collection of no archives and a watch on it, open to administrators only.
    void add_collection_with_watch(const api_context& root, CollectionInfo& ci, WatchInfo& wi) {
        ASSERT_TRUE(
            call(root, [&](auto& a, auto& r) { a.add_collection(r, collection({}, {}), ci); }).ok);
        ASSERT_TRUE(
            call(root, [&](auto& a, auto& r) { a.add_watch(r, watch(ci.Collection, {}), wi); })
                .ok);
    }
};

TEST_F(collections, AddNeedsWriteOnTheBrowsingRootAcl) {
    CollectionConfiguration cfg = collection({}, {});
    WatchConfiguration w = watch(0, {});
    // No root ACL stored: only administrators may create.
    auto bob = ctx("bob", {"staff"});
    CollectionInfo ci;
    WatchInfo wi;
    EXPECT_EQ(call(bob, [&](auto& a, auto& r) { a.add_collection(r, cfg, ci); }).code, 2);
    EXPECT_EQ(call(bob, [&](auto& a, auto& r) { a.add_watch(r, w, wi); }).code, 2);
    EXPECT_TRUE(call(admin(), [&](auto& a, auto& r) { a.add_collection(r, cfg, ci); }).ok);

    // Write on the crawling root ACL does not count; read on the browsing one neither.
    set_root_acl(ROOTACL_CRAWLING, {allow("staff", WRITEACCESS)});
    set_root_acl(ROOTACL_BROWSING, {allow("staff", READACCESS)});
    EXPECT_EQ(call(bob, [&](auto& a, auto& r) { a.add_collection(r, cfg, ci); }).code, 2);
    EXPECT_EQ(call(bob, [&](auto& a, auto& r) { a.add_watch(r, w, wi); }).code, 2);
    EXPECT_EQ(stored_count("CollectionConfiguration"), 1u);
    EXPECT_EQ(stored_count("WatchConfiguration"), 0u);

    set_root_acl(ROOTACL_BROWSING, {allow("staff", WRITEACCESS)});
    api_result r = call(bob, [&](auto& a, auto& r) { a.add_collection(r, cfg, ci); });
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(ci.Collection, 2);
    EXPECT_EQ(ci.Configuration, cfg);
    EXPECT_TRUE(ci.ReadOnly); // the record's own ACL gives bob no write access
    // The answered magic is the stamp of the stored text.
    EXPECT_EQ(ci.Magic, cfg_magic(stored_text("CollectionConfiguration", 2)));
}

TEST_F(collections, ListedArchivesMustBeReadable) {
    set_root_acl(ROOTACL_BROWSING, {allow("All Users", WRITEACCESS)});
    std::int32_t mine = archive_readable_by("bob");
    std::int32_t theirs = archive_readable_by("alice");
    auto bob = ctx("bob");
    CollectionInfo ci;
    // Unreadable, then missing: refused, nothing stored.
    for (std::int32_t other : {theirs, 999}) {
        CollectionConfiguration cfg = collection({mine, other}, {allow("bob", WRITEACCESS)});
        EXPECT_EQ(call(bob, [&](auto& a, auto& r) { a.add_collection(r, cfg, ci); }).code, 2);
    }
    EXPECT_EQ(stored_count("CollectionConfiguration"), 0u);

    // An administrator may list an archive that does not exist.
    CollectionConfiguration ghost = collection({999}, {});
    EXPECT_TRUE(call(admin(), [&](auto& a, auto& r) { a.add_collection(r, ghost, ci); }).ok);

    CollectionConfiguration ok = collection({mine}, {allow("bob", WRITEACCESS)});
    ASSERT_TRUE(call(bob, [&](auto& a, auto& r) { a.add_collection(r, ok, ci); }).ok);
    EXPECT_FALSE(ci.ReadOnly);

    // The same test on a change: the stored record stays as it was.
    std::uint32_t magic = ci.Magic;
    CollectionConfiguration changed = ok;
    changed.Archives.push_back(theirs);
    CollectionInfo si;
    EXPECT_EQ(call(bob,
                   [&](auto& a, auto& r) {
                       a.set_collection_configuration(r, ci.Collection, changed, magic, si);
                   })
                  .code,
              2);
    CollectionConfiguration stored;
    std::uint32_t stamp = 0;
    ASSERT_TRUE(call(admin(), [&](auto& a, auto& r) {
                    a.get_collection_configuration(r, ci.Collection, stored, stamp);
                }).ok);
    EXPECT_EQ(stored, ok);
    EXPECT_EQ(stamp, magic);
}

TEST_F(collections, RemoveRefusedWhileAWatchNamesIt) {
    CollectionInfo ci;
    WatchInfo wi, other;
    auto root = admin();
    ASSERT_TRUE(
        call(root, [&](auto& a, auto& r) { a.add_collection(r, collection({}, {}), ci); }).ok);
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) {
                    a.add_watch(r, watch(ci.Collection + 7, {}), other);
                }).ok);
    ASSERT_TRUE(
        call(root, [&](auto& a, auto& r) { a.add_watch(r, watch(ci.Collection, {}), wi); }).ok);
    api_result r = call(root, [&](auto& a, auto& r) { a.remove_collection(r, ci.Collection); });
    EXPECT_EQ(r, api_errors().at(API_IN_USE));
    EXPECT_EQ(stored_count("CollectionConfiguration"), 1u);
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) { a.remove_watch(r, wi.Watch); }).ok);
    EXPECT_TRUE(call(root, [&](auto& a, auto& r) { a.remove_collection(r, ci.Collection); }).ok);
    EXPECT_EQ(stored_count("CollectionConfiguration"), 0u);
    // Gone now: every further call on it is code 2.
    CollectionConfiguration cfg;
    std::uint32_t magic = 0;
    EXPECT_EQ(call(root, [&](auto& a, auto& r) { a.remove_collection(r, ci.Collection); }).code, 2);
    EXPECT_EQ(
        call(root, [&](auto& a,
                       auto& r) { a.get_collection_configuration(r, ci.Collection, cfg, magic); })
            .code,
        2);
    EXPECT_EQ(call(root, [&](auto& a, auto& r) { a.remove_watch(r, wi.Watch); }).code, 2);
}

TEST_F(collections, RecordAclGuardsGetSetRemove) {
    set_root_acl(ROOTACL_BROWSING, {allow("All Users", WRITEACCESS)});
    CollectionInfo ci;
    WatchInfo wi;
    auto root = admin();
    const std::vector<AccessSpec> acl = {allow("readers", READACCESS), allow("carol", WRITEACCESS)};
    ASSERT_TRUE(
        call(root, [&](auto& a, auto& r) { a.add_collection(r, collection({}, acl), ci); }).ok);
    ASSERT_TRUE(
        call(root, [&](auto& a, auto& r) { a.add_watch(r, watch(ci.Collection, acl), wi); }).ok);

    auto reader = ctx("dave", {"readers"});
    auto writer = ctx("carol"); // write but no read
    auto stranger = ctx("eve");
    CollectionConfiguration cc;
    WatchConfiguration wc;
    std::uint32_t magic = 0;
    EXPECT_TRUE(call(reader, [&](auto& a, auto& r) {
                    a.get_collection_configuration(r, ci.Collection, cc, magic);
                }).ok);
    EXPECT_EQ(magic, ci.Magic);
    EXPECT_TRUE(call(reader, [&](auto& a, auto& r) {
                    a.get_watch_configuration(r, wi.Watch, wc, magic);
                }).ok);
    EXPECT_EQ(wc, wi.Configuration);
    EXPECT_EQ(magic, wi.Magic);
    for (auto* c : {&writer, &stranger}) {
        EXPECT_EQ(
            call(*c, [&](auto& a,
                         auto& r) { a.get_collection_configuration(r, ci.Collection, cc, magic); })
                .code,
            2);
        EXPECT_EQ(
            call(*c, [&](auto& a, auto& r) { a.get_watch_configuration(r, wi.Watch, wc, magic); })
                .code,
            2);
    }
    CollectionInfo cinfo;
    WatchInfo winfo;
    for (auto* c : {&reader, &stranger}) {
        EXPECT_EQ(call(*c,
                       [&](auto& a, auto& r) {
                           a.set_collection_configuration(r, ci.Collection, ci.Configuration,
                                                          ci.Magic, cinfo);
                       })
                      .code,
                  2);
        EXPECT_EQ(call(*c,
                       [&](auto& a, auto& r) {
                           a.set_watch_configuration(r, wi.Watch, wi.Configuration, wi.Magic,
                                                     winfo);
                       })
                      .code,
                  2);
        EXPECT_EQ(call(*c, [&](auto& a, auto& r) { a.remove_watch(r, wi.Watch); }).code, 2);
    }
    // The stored list decides, not the one sent: carol's new list drops her write access, and
    // the answer says so.
    WatchConfiguration next = wi.Configuration;
    next.ACL = {allow("readers", READACCESS)};
    next.Query = "budget AND 2024";
    ASSERT_TRUE(call(writer, [&](auto& a, auto& r) {
                    a.set_watch_configuration(r, wi.Watch, next, wi.Magic, winfo);
                }).ok);
    EXPECT_TRUE(winfo.ReadOnly);
    EXPECT_EQ(winfo.Configuration, next);
    EXPECT_EQ(call(writer, [&](auto& a, auto& r) { a.remove_watch(r, wi.Watch); }).code, 2);
}

TEST_F(collections, StaleMagicIsRefusedAndChangesNothing) {
    CollectionInfo ci;
    WatchInfo wi;
    auto root = admin();
    ASSERT_NO_FATAL_FAILURE(add_collection_with_watch(root, ci, wi));

    CollectionConfiguration cc;
    std::uint32_t got = 0;
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) {
                    a.get_collection_configuration(r, ci.Collection, cc, got);
                }).ok);
    cc.Name = "renamed";
    CollectionInfo after;
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) {
                    a.set_collection_configuration(r, ci.Collection, cc, got, after);
                }).ok);
    EXPECT_NE(after.Magic, got);
    EXPECT_EQ(after.Collection, ci.Collection);
    CollectionConfiguration again = cc;
    again.Name = "lost update";
    EXPECT_EQ(call(root,
                   [&](auto& a, auto& r) {
                       a.set_collection_configuration(r, ci.Collection, again, got, after);
                   }),
              api_errors().at(API_BAD_MAGIC));
    EXPECT_EQ(
        sql("select cfg like '%renamed%' from cfgstorage where key='CollectionConfiguration'"),
        "1\n");

    WatchConfiguration wc = wi.Configuration;
    wc.Freshness = 60;
    WatchInfo wafter;
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) {
                    a.set_watch_configuration(r, wi.Watch, wc, wi.Magic, wafter);
                }).ok);
    EXPECT_EQ(call(root,
                   [&](auto& a, auto& r) {
                       a.set_watch_configuration(r, wi.Watch, wi.Configuration, wi.Magic, wafter);
                   })
                  .code,
              10);
    WatchConfiguration stored;
    std::uint32_t magic = 0;
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) {
                    a.get_watch_configuration(r, wi.Watch, stored, magic);
                }).ok);
    EXPECT_EQ(stored, wc);
}

TEST_F(collections, UnwritableRecordsAreRefusedNotDropped) {
    CollectionInfo ci;
    WatchInfo wi;
    auto root = admin();
    ASSERT_NO_FATAL_FAILURE(add_collection_with_watch(root, ci, wi));
    CollectionConfiguration bad_name = collection({}, {});
    bad_name.Name = std::string("a\x01z", 3); // no XML text can carry U+0001
    WatchConfiguration bad_parser = watch(ci.Collection, {});
    bad_parser.Parser = static_cast<QueryParser>(9);
    CollectionInfo c2;
    WatchInfo w2;
    EXPECT_EQ(call(root, [&](auto& a, auto& r) { a.add_collection(r, bad_name, c2); }).code,
              API_INVALID_ENTITY);
    EXPECT_EQ(call(root, [&](auto& a, auto& r) { a.add_watch(r, bad_parser, w2); }).code,
              API_INVALID_ENTITY);
    EXPECT_EQ(call(root,
                   [&](auto& a, auto& r) {
                       a.set_collection_configuration(r, ci.Collection, bad_name, ci.Magic, c2);
                   })
                  .code,
              API_INVALID_ENTITY);
    EXPECT_EQ(call(root,
                   [&](auto& a, auto& r) {
                       a.set_watch_configuration(r, wi.Watch, bad_parser, wi.Magic, w2);
                   })
                  .code,
              API_INVALID_ENTITY);
    EXPECT_EQ(stored_count("CollectionConfiguration"), 1u);
    EXPECT_EQ(stored_count("WatchConfiguration"), 1u);
    // The records are as they were: their stored magic still answers.
    CollectionInfo c3;
    EXPECT_TRUE(call(root, [&](auto& a, auto& r) {
                    a.set_collection_configuration(r, ci.Collection, ci.Configuration, ci.Magic,
                                                   c3);
                }).ok);
}

TEST_F(collections, EnumAnswersReadableRecordsInIdOrder) {
    set_root_acl(ROOTACL_BROWSING, {allow("All Users", WRITEACCESS)});
    auto root = admin();
    // Watches 1..4: readable by bob with write (1), readable only (2), not readable (3), read
    // through "All Users" but denied through his group (4), readable only (5).
    const std::vector<std::vector<AccessSpec>> acls = {
        {allow("bob", READACCESS), allow("bob", WRITEACCESS)},
        {allow("All Users", READACCESS)},
        {allow("bob", WRITEACCESS)},
        {allow("bob", READACCESS), deny("staff", READACCESS)},
        {allow("staff", READACCESS)},
    };
    for (const auto& acl : acls) {
        WatchInfo wi;
        CollectionInfo ci;
        ASSERT_TRUE(call(root, [&](auto& a, auto& r) { a.add_watch(r, watch(1, acl), wi); }).ok);
        ASSERT_TRUE(
            call(root, [&](auto& a, auto& r) { a.add_collection(r, collection({}, acl), ci); }).ok);
    }
    std::vector<WatchInfo> watches;
    std::vector<CollectionInfo> colls;
    auto bob = ctx("bob", {"staff"});
    ASSERT_TRUE(call(bob, [&](auto& a, auto& r) { a.enum_watch_configurations(r, watches); }).ok);
    ASSERT_TRUE(
        call(bob, [&](auto& a, auto& r) { a.enum_collection_configurations(r, colls); }).ok);
    ASSERT_EQ(watches.size(), 3u);
    ASSERT_EQ(colls.size(), 3u);
    const std::int32_t ids[] = {1, 2, 5};
    const bool read_only[] = {false, true, true};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(watches[i].Watch, ids[i]);
        EXPECT_EQ(watches[i].ReadOnly, read_only[i]);
        EXPECT_EQ(watches[i].Configuration.ACL, acls[ids[i] - 1]);
        EXPECT_EQ(colls[i].Collection, ids[i]);
        EXPECT_EQ(colls[i].ReadOnly, read_only[i]);
    }
    // Administrators see all, none read-only.
    watches.clear();
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) { a.enum_watch_configurations(r, watches); }).ok);
    ASSERT_EQ(watches.size(), 5u);
    for (const WatchInfo& w : watches)
        EXPECT_FALSE(w.ReadOnly);
    // A stranger sees what "All Users" may read; with no such entry, an empty list and success.
    watches.clear();
    auto nobody = ctx("nobody");
    EXPECT_TRUE(
        call(nobody, [&](auto& a, auto& r) { a.enum_watch_configurations(r, watches); }).ok);
    ASSERT_EQ(watches.size(), 1u);
    EXPECT_EQ(watches[0].Watch, 2);
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) { a.remove_watch(r, 2); }).ok);
    watches.clear();
    EXPECT_TRUE(
        call(nobody, [&](auto& a, auto& r) { a.enum_watch_configurations(r, watches); }).ok);
    EXPECT_TRUE(watches.empty());
}

} // namespace
} // namespace apiops2
