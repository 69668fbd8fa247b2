#include "trawlnestd/cfgstorage.h"

#include "cfgstore_fixture.h"
#include "linux-platform/eventlog.h"
#include "trawlnestd/dbconn.h"
#include "util/sqlite_txn.h"

#include <zlib.h>

#include <climits>
#include <cstdio>

using namespace lumbrake;
using namespace cfgstore_test;

namespace {

class CfgStorage : public DataDir {
protected:
    void SetUp() override {
        DataDir::SetUp();
        db_ = std::make_unique<db_connection>(*cfg_);
    }
    void TearDown() override {
        db_.reset();
        DataDir::TearDown();
    }
    sqlite3* db() { return db_->get(); }
    std::string stored_text(const char* key, int id) {
        return query(db(), "select cfg from cfgstorage where key='" + std::string(key) +
                               "' and id=" + std::to_string(id));
    }
    std::unique_ptr<db_connection> db_;
};

SourceConfiguration source_named(const std::string& name) {
    SourceConfiguration s;
    s.Name = name;
    s.Seeds = {"http://intranet.example/"};
    return s;
}

TEST_F(CfgStorage, NewDatabaseGetsTablesIndexesAndTenZeroCounters) {
    { config_stores stores(db()); }
    EXPECT_EQ(query(db(), "select name from sqlite_master order by name"),
              "cfgcounter\ncfgcounter_idx1\ncfgstorage\ncfgstorage_idx1\n");
    EXPECT_EQ(query(db(), "select key, lastid from cfgcounter order by rowid"),
              "SourceConfiguration|0\nArchiveConfiguration|0\nCollectionConfiguration|0\n"
              "WatchConfiguration|0\nAuthConfiguration|0\nPlugin|0\nDocFilter|0\n"
              "RendererPluginPipe|0\nRootACL|0\nLoginConfiguration|0\n");

    std::uint32_t magic = 0;
    EXPECT_EQ(cfgstorage<SourceConfiguration>::add(db(), source_named("a"), magic), 1);
    EXPECT_EQ(cfgstorage<SourceConfiguration>::add(db(), source_named("b"), magic), 2);
    EXPECT_EQ(cfgstorage<Plugin>::add(db(), Plugin{}, magic), 1);

    // A restart creates nothing and keeps the counters.
    { config_stores stores(db()); }
    EXPECT_EQ(query(db(), "select count(*) from cfgcounter"), "10\n");
    EXPECT_EQ(cfgstorage<SourceConfiguration>::add(db(), source_named("c"), magic), 3);
}

TEST_F(CfgStorage, GetOfMissingIdLeavesRecordAndStampUntouched) {
    config_stores stores(db());
    SourceConfiguration s = source_named("keep");
    std::uint32_t magic = 12345;
    EXPECT_FALSE(stores.sources.get(db(), 4, s, magic));
    EXPECT_EQ(s, source_named("keep"));
    EXPECT_EQ(magic, 12345u);
}

TEST_F(CfgStorage, StampIsCrc32OfTheStoredText) {
    config_stores stores(db());
    std::uint32_t magic = 0;
    int id = stores.sources.add(db(), source_named("crc"), magic);
    std::string text;
    ASSERT_TRUE(source_to_xml(source_named("crc"), text));
    EXPECT_EQ(stored_text("SourceConfiguration", id), text + "\n");
    EXPECT_EQ(magic, crc32(0, reinterpret_cast<const Bytef*>(text.data()), text.size()));
    EXPECT_EQ(magic, cfg_magic(text));

    SourceConfiguration back;
    std::uint32_t read_magic = 0;
    ASSERT_TRUE(stores.sources.get(db(), id, back, read_magic));
    EXPECT_EQ(back, source_named("crc"));
    EXPECT_EQ(read_magic, magic);
}

TEST_F(CfgStorage, SetIsCompareAndSetOnTheStamp) {
    config_stores stores(db());
    // A missing id is written whatever stamp is sent.
    std::uint32_t magic = 999;
    ASSERT_TRUE(stores.archives.set(db(), 7, ArchiveConfiguration{.Name = "first"}, magic));
    const std::uint32_t first = magic;
    EXPECT_NE(first, 999u);

    ArchiveConfiguration a;
    std::uint32_t read = 0;
    ASSERT_TRUE(stores.archives.get(db(), 7, a, read));
    EXPECT_EQ(read, first);

    // Two editors read the same version; the second write is refused and changes nothing.
    std::uint32_t editor1 = read, editor2 = read;
    ASSERT_TRUE(stores.archives.set(db(), 7, ArchiveConfiguration{.Name = "second"}, editor1));
    EXPECT_NE(editor1, first);
    EXPECT_FALSE(stores.archives.set(db(), 7, ArchiveConfiguration{.Name = "third"}, editor2));
    EXPECT_EQ(editor2, first);
    ASSERT_TRUE(stores.archives.get(db(), 7, a, read));
    EXPECT_EQ(a.Name, "second");

    // Storing an identical text gives the same stamp again.
    std::uint32_t again = editor1;
    ASSERT_TRUE(stores.archives.set(db(), 7, ArchiveConfiguration{.Name = "second"}, again));
    EXPECT_EQ(again, editor1);
}

TEST_F(CfgStorage, DamagedStoredTextIsUnreadableButOverwritable) {
    config_stores stores(db());
    const std::string damaged = "<?xml version=\"1.0\"?>\n<collection name=\"x\"";
    query(db(), "insert into cfgstorage values('CollectionConfiguration', 3, '" + damaged + "')");
    CollectionConfiguration c;
    std::uint32_t magic = 0;
    EXPECT_FALSE(stores.collections.get(db(), 3, c, magic));
    EXPECT_EQ(magic, cfg_magic(damaged));

    std::uint32_t any = 42;
    ASSERT_TRUE(stores.collections.set(db(), 3, CollectionConfiguration{.Name = "fixed"}, any));
    ASSERT_TRUE(stores.collections.get(db(), 3, c, magic));
    EXPECT_EQ(c.Name, "fixed");
}

TEST_F(CfgStorage, UnserialisableRecordWritesNothing) {
    config_stores stores(db());
    SourceConfiguration bad = source_named(std::string("ctl\x01") + "byte");
    std::uint32_t magic = 5;
    EXPECT_EQ(stores.sources.add(db(), bad, magic), 0);
    EXPECT_FALSE(stores.sources.set(db(), 1, bad, magic));
    EXPECT_EQ(magic, 5u);
    EXPECT_EQ(query(db(), "select count(*) from cfgstorage"), "0\n");
    EXPECT_EQ(query(db(), "select lastid from cfgcounter where key='SourceConfiguration'"), "0\n");
}

TEST_F(CfgStorage, RemovedIdsAreNeverHandedOutAgain) {
    config_stores stores(db());
    std::uint32_t magic = 0;
    for (int i = 1; i <= 3; ++i)
        ASSERT_EQ(stores.watches.add(db(), WatchConfiguration{}, magic), i);
    EXPECT_TRUE(stores.watches.remove(db(), 3));
    EXPECT_FALSE(stores.watches.remove(db(), 3));
    EXPECT_EQ(stores.watches.add(db(), WatchConfiguration{}, magic), 4);
}

TEST_F(CfgStorage, FullCounterRefusesToAdd) {
    config_stores stores(db());
    query(db(), "update cfgcounter set lastid=" + std::to_string(INT_MAX) +
                    " where key='AuthConfiguration'");
    std::uint32_t magic = 0;
    EXPECT_EQ(stores.auths.add(db(), AuthConfiguration{}, magic), 0);
    EXPECT_EQ(query(db(), "select count(*) from cfgstorage"), "0\n");
}

TEST_F(CfgStorage, QuotesAndSpecialCharactersRoundTrip) {
    config_stores stores(db());
    SourceConfiguration s = source_named("O'Brien's \"docs\" & <more> ''");
    s.Description = "line one\nline 'two'\ttab";
    s.Seeds = {"http://h/a'b?c=1&d=2"};
    std::uint32_t magic = 0;
    int id = stores.sources.add(db(), s, magic);
    SourceConfiguration back;
    ASSERT_TRUE(stores.sources.get(db(), id, back, magic));
    EXPECT_EQ(back, s);
}

TEST_F(CfgStorage, ListIsNumericAndPerType) {
    config_stores stores(db());
    std::vector<int> ids = {99};
    stores.plugins.list(db(), ids);
    EXPECT_TRUE(ids.empty());

    std::uint32_t magic = 0;
    for (int id : {10, 2, 1})
        ASSERT_TRUE(stores.plugins.set(db(), id, Plugin{.Name = "p" + std::to_string(id)}, magic));
    ASSERT_TRUE(stores.docfilters.set(db(), 2, DocFilter{.Name = "f2"}, magic));
    stores.plugins.list(db(), ids);
    EXPECT_EQ(ids, (std::vector<int>{1, 2, 10}));

    // Same id, other type: each operation touches its own type only.
    EXPECT_TRUE(stores.docfilters.remove(db(), 2));
    Plugin p;
    ASSERT_TRUE(stores.plugins.get(db(), 2, p, magic));
    EXPECT_EQ(p.Name, "p2");
    DocFilter f;
    EXPECT_FALSE(stores.docfilters.get(db(), 2, f, magic));
}

TEST_F(CfgStorage, SingletonsAtTheirFixedIds) {
    config_stores stores(db());
    std::uint32_t magic = 0;
    RootACL browse = {{.Name = "All Users", .Access = READACCESS, .Deny = false}};
    RootACL crawl = {{.Name = "crawlers", .Access = WRITEACCESS, .Deny = true}};
    ASSERT_TRUE(stores.root_acls.set(db(), ROOTACL_BROWSING, browse, magic));
    ASSERT_TRUE(stores.root_acls.set(db(), ROOTACL_CRAWLING, crawl, magic));
    ASSERT_TRUE(stores.renderer_pipes.set(db(), ROOT_RENDERER_PIPE_ID,
                                          RendererPluginPipe{.DocFilterIDs = {3, 1}}, magic));
    LoginConfiguration login;
    ASSERT_TRUE(login.add_group("staff"));
    ASSERT_TRUE(login.add_user("ann", "secret", false, {"staff"}));
    ASSERT_TRUE(stores.logins.set(db(), LOGIN_CONFIGURATION_ID, login, magic));

    RootACL acl;
    ASSERT_TRUE(stores.root_acls.get(db(), ROOTACL_CRAWLING, acl, magic));
    EXPECT_EQ(acl, crawl);
    RendererPluginPipe pipe;
    ASSERT_TRUE(stores.renderer_pipes.get(db(), 0, pipe, magic));
    EXPECT_EQ(pipe.DocFilterIDs, (std::vector<int32_t>{3, 1}));
    LoginConfiguration back;
    ASSERT_TRUE(stores.logins.get(db(), 0, back, magic));
    EXPECT_EQ(back.users, login.users);
    EXPECT_EQ(back.groups, login.groups);
}

// The tables are ordinary SQLite tables: the sqlite3 shell reads what the store wrote.
TEST_F(CfgStorage, SqliteShellReadsTheTables) {
    if (::access("/usr/bin/sqlite3", X_OK) != 0) GTEST_SKIP() << "no sqlite3 shell";
    {
        config_stores stores(db());
        storage_transaction txn(db());
        std::uint32_t magic = 0;
        stores.sources.add(db(), source_named("shell's"), magic);
        txn.commit();
    }
    db_.reset();
    int status = -1;
    const std::string out = tn_test::command_output_with_status(
        "/usr/bin/sqlite3 trawlnest.db \"select key, id, length(cfg) > 0 from cfgstorage; "
        "select lastid from cfgcounter where key='SourceConfiguration'; pragma integrity_check;\"",
        status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "SourceConfiguration|1|1\n1\nok\n");
}

using CfgStorageDeath = CfgStorage;

void to_stderr(platform::eventlog_type, const char* text) {
    std::fputs(text, stderr);
}

TEST_F(CfgStorageDeath, AddWithoutCounterRowIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    config_stores stores(db());
    query(db(), "delete from cfgcounter");
    std::uint32_t magic = 0;
    EXPECT_DEATH(
        {
            platform::set_eventlog_sink(&to_stderr);
            stores.sources.add(db(), source_named("x"), magic);
        },
        "src/trawlnestd/cfgstorage.cc\\([0-9]+\\): assertion \\[SQLite error: \\[");
}

// Shared records are parsed once and follow every write: one of this connection, one of
// another connection, one rolled back, a removal; a trimmed shape is kept apart from the
// whole record.
TEST_F(CfgStorage, SharedRecordsFollowEveryWrite) {
    config_stores stores(db());
    std::uint32_t magic = 0;
    SourceConfiguration a = source_named("a");
    a.Seeds = {"http://one.example/", "http://two.example/"};
    const int id = cfgstorage<SourceConfiguration>::add(db(), a, magic);
    using store = cfgstorage<SourceConfiguration>;
    auto seedless = [](SourceConfiguration& s) { s.Seeds.clear(); };
    std::uint32_t stamp = 0;
    auto name_of = [&] {
        auto r = store::get_shared(db(), id, stamp);
        return r ? r->Name : std::string("<none>");
    };
    // A write of another connection, committed.
    auto set_elsewhere = [&](const char* name) {
        db_connection other(*cfg_);
        storage_transaction txn(other.get());
        a.Name = name;
        ASSERT_TRUE(store::set(other.get(), id, a, magic));
        txn.commit();
    };
    // Read inside the transaction, gone after it.
    auto write_rolled_back = [&](const char* name) {
        storage_transaction txn(db());
        a.Name = name;
        std::uint32_t m = magic;
        ASSERT_TRUE(store::set(db(), id, a, m));
        EXPECT_EQ(name_of(), name);
        txn.rollback();
    };

    auto first = store::get_shared(db(), id, stamp);
    ASSERT_TRUE(first);
    EXPECT_EQ(stamp, magic);
    EXPECT_EQ(first->Seeds.size(), 2u);
    EXPECT_EQ(store::get_shared(db(), id, stamp).get(), first.get()) << "parsed once";
    auto trimmed = store::get_shared(db(), id, stamp, "seedless", seedless);
    ASSERT_TRUE(trimmed);
    EXPECT_TRUE(trimmed->Seeds.empty());
    EXPECT_EQ(store::get_shared(db(), id, stamp)->Seeds.size(), 2u);

    // A write of this connection.
    a.Name = "b";
    ASSERT_TRUE(store::set(db(), id, a, magic));
    EXPECT_EQ(name_of(), "b");
    EXPECT_EQ(stamp, magic);

    // A write rolled back.
    write_rolled_back("c");
    EXPECT_EQ(name_of(), "b");

    set_elsewhere("d");
    EXPECT_EQ(name_of(), "d");
    EXPECT_EQ(store::get_shared(db(), id, stamp, "seedless", seedless)->Name, "d");

    // Records written by statements of their own (import, restore) say so.
    {
        storage_transaction txn(db());
        cfgstore_detail::written(db());
        ASSERT_EQ(query(db(), R"(update cfgstorage set cfg=replace(cfg, 'name="d"', 'name="e"'))"),
                  "");
        txn.commit();
    }
    EXPECT_EQ(name_of(), "e");

    ASSERT_TRUE(store::remove(db(), id));
    EXPECT_EQ(name_of(), "<none>");

    // A missing record is an answer kept as well, and followed the same way: written by
    // another connection, written and rolled back, written by this one.
    EXPECT_EQ(name_of(), "<none>");
    set_elsewhere("f");
    EXPECT_EQ(name_of(), "f");
    ASSERT_TRUE(store::remove(db(), id));
    EXPECT_EQ(name_of(), "<none>");
    write_rolled_back("g");
    EXPECT_EQ(name_of(), "<none>");
    EXPECT_EQ(get_shared_source_without_seeds(db(), id, stamp), nullptr);
    a.Name = "h";
    ASSERT_TRUE(store::set(db(), id, a, magic));
    EXPECT_EQ(name_of(), "h");
    EXPECT_EQ(get_shared_source_without_seeds(db(), id, stamp)->Name, "h");
}

// A source read a block at a time answers as get: the record, its seeds in order, the stamp,
// false for a missing row (nothing touched) and for a damaged or NULL text (stamp set). The
// seedless shared copy follows writes like the others.
TEST_F(CfgStorage, SourceReadABlockAtATimeAnswersAsGet) {
    config_stores stores(db());
    using store = cfgstorage<SourceConfiguration>;
    SourceConfiguration big = source_named("big & \"quoted\"");
    big.IncludeFilters = {"^http://intranet\\.example/"};
    big.ACL = {{"staff", READACCESS, false}};
    big.Seeds.clear();
    // Well over one block of the reader, seeds of every length across the block ends.
    for (int k = 0; k < 20000; ++k)
        big.Seeds.push_back("http://h" + std::to_string(k % 13) + ".example/" +
                            std::string(static_cast<std::size_t>(k % 37), 'x') + "&" +
                            std::to_string(k));
    std::uint32_t magic = 0;
    const int id = store::add(db(), big, magic);
    ASSERT_GT(stored_text("SourceConfiguration", id).size(), 3u * 64 * 1024);

    SourceConfiguration whole, streamed = source_named("stale");
    std::uint32_t whole_magic = 0, streamed_magic = 0;
    std::vector<std::string> seeds;
    ASSERT_TRUE(store::get(db(), id, whole, whole_magic));
    ASSERT_TRUE(get_source_streamed(db(), id, streamed, streamed_magic,
                                    [&](const std::string& url) { seeds.push_back(url); }));
    EXPECT_EQ(streamed_magic, whole_magic);
    EXPECT_EQ(seeds, big.Seeds);
    EXPECT_TRUE(streamed.Seeds.empty());
    streamed.Seeds = seeds;
    EXPECT_EQ(streamed, whole);

    struct bad_row {
        const char* what;
        const char* sql_value; // nullptr: no row at all
    };
    const bad_row bad[] = {
        {"missing", nullptr},
        {"damaged", "'<source name=\"x\"><seed url=\"http://a/\"/><seed url='"},
        {"NULL", "NULL"},
        {"empty", "''"},
    };
    int bad_id = 100;
    for (const bad_row& row : bad) {
        SCOPED_TRACE(row.what);
        ++bad_id;
        if (row.sql_value)
            query(db(), "insert into cfgstorage values('SourceConfiguration', " +
                            std::to_string(bad_id) + ", " + row.sql_value + ")");
        SourceConfiguration a = source_named("a"), b = source_named("a");
        std::uint32_t ma = 7, mb = 7;
        std::vector<std::string> handed;
        const bool ok_a = store::get(db(), bad_id, a, ma);
        const bool ok_b = get_source_streamed(
            db(), bad_id, b, mb, [&](const std::string& url) { handed.push_back(url); });
        EXPECT_FALSE(ok_a);
        EXPECT_FALSE(ok_b);
        EXPECT_EQ(mb, ma);
        if (!row.sql_value) {
            EXPECT_EQ(b, source_named("a"));
        }
        EXPECT_EQ(handed.size(), std::string(row.what) == "damaged" ? 1u : 0u);
        EXPECT_EQ(get_shared_source_without_seeds(db(), bad_id, mb), nullptr);
    }

    std::uint32_t stamp = 0;
    auto shared = get_shared_source_without_seeds(db(), id, stamp);
    ASSERT_TRUE(shared);
    EXPECT_EQ(stamp, magic);
    EXPECT_TRUE(shared->Seeds.empty());
    EXPECT_EQ(shared->IncludeFilters, big.IncludeFilters);
    EXPECT_EQ(get_shared_source_without_seeds(db(), id, stamp).get(), shared.get());
    // The whole record is a cache entry of its own.
    EXPECT_EQ(store::get_shared(db(), id, stamp)->Seeds.size(), big.Seeds.size());
    big.Name = "renamed";
    ASSERT_TRUE(store::set(db(), id, big, magic));
    EXPECT_EQ(get_shared_source_without_seeds(db(), id, stamp)->Name, "renamed");
    EXPECT_EQ(stamp, magic);
}

} // namespace
