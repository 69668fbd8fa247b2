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
        begin_exclusive_transaction(db());
        std::uint32_t magic = 0;
        stores.sources.add(db(), source_named("shell's"), magic);
        commit_transaction(db());
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

} // namespace
