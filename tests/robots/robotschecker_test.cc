#include "robotschecker/robotschecker.h"
#include "robotschecker/robotstxt.h"

#include "linux-platform/eventlog.h"
#include "robots_test_util.h"
#include "util/sqlite_stmt.h"

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

using namespace lumbrake;
using robots_test::scratch_db;

namespace {

constexpr std::int64_t t0 = 1700000000;

struct checker_fixture {
    scratch_db store_db;
    std::int64_t clock = t0;
    robotschecker checker;
    explicit checker_fixture(const std::string& name, const char* robot = "lumbrakebot")
        : store_db(name), checker(store_db.db, robot, [this] { return clock; }) {}
    sqlite3* db() { return store_db.db; }
    bool allowed(const std::string& url) {
        bool compiled = false;
        bool ok = checker.allowed(db(), url, compiled);
        EXPECT_TRUE(compiled) << url;
        return ok;
    }
};

} // namespace

TEST(RobotsCache, CreatesTheTableOnceAndKeepsItsRows) {
    checker_fixture f("create");
    EXPECT_EQ(f.store_db.scalar("select count(*) from sqlite_master where sql = 'CREATE TABLE "
                                "robotscache(url text, timestamp integer, content blob, "
                                "contentlen integer)'"),
              1);
    EXPECT_EQ(f.store_db.scalar("select count(*) from sqlite_master where name = "
                                "'robotscache_idx1' and sql like 'CREATE UNIQUE INDEX%'"),
              1);
    f.checker.store(f.db(), "http://h/robots.txt", "User-agent: *\nDisallow: /x\n");
    robotschecker again(f.db(), "lumbrakebot");
    bool compiled = false;
    EXPECT_FALSE(again.allowed(f.db(), "http://h/x", compiled));
    EXPECT_EQ(f.store_db.scalar("select count(*) from robotscache"), 1);
}

TEST(RobotsCache, OneRowPerSchemeHostAndPort) {
    checker_fixture f("sites");
    struct {
        const char* url;
        const char* robots_url;
    } cases[] = {
        {"http://www.example.com/a/b.html?q=1#top", "http://www.example.com/robots.txt"},
        {"http://WWW.Example.com:80/c", "http://www.example.com/robots.txt"},
        {"http://www.example.com:8080/c", "http://www.example.com:8080/robots.txt"},
        {"https://www.example.com/", "https://www.example.com/robots.txt"},
        {"https://www.example.com:443/x", "https://www.example.com/robots.txt"},
        {"shttp://www.example.com/x", "shttp://www.example.com/robots.txt"},
    };
    for (const auto& c : cases) {
        std::string out = "untouched";
        EXPECT_TRUE(f.checker.needs_refresh(f.db(), c.url, out)) << c.url;
        EXPECT_EQ(out, c.robots_url) << c.url;
    }
    f.checker.store(f.db(), "http://www.example.com/robots.txt", "");
    std::string out;
    EXPECT_FALSE(f.checker.needs_refresh(f.db(), "http://www.example.com/other/page", out));
    EXPECT_TRUE(f.checker.needs_refresh(f.db(), "http://www.example.com:8080/", out));
    EXPECT_TRUE(f.checker.needs_refresh(f.db(), "https://www.example.com/", out));
}

TEST(RobotsCache, OtherSchemesNeverTouchTheTable) {
    checker_fixture f("schemes");
    // Without the table any query would be a fatal error.
    ASSERT_EQ(f.store_db.exec("drop table robotscache"), SQLITE_OK);
    for (const char* url :
         {"ftp://ftp.example.com/pub/x", "file:///srv/share/doc.txt", "gopher://g.example.com/1/",
          "news:comp.lang.c", "nntp://n.example.com/g/1", "mailto:a@example.com"}) {
        std::string out = "untouched";
        EXPECT_FALSE(f.checker.needs_refresh(f.db(), url, out)) << url;
        EXPECT_EQ(out, "untouched");
        bool compiled = false;
        EXPECT_TRUE(f.checker.allowed(f.db(), url, compiled)) << url;
        EXPECT_TRUE(compiled);
    }
}

TEST(RobotsCache, ATextIsUsedForOneDay) {
    checker_fixture f("age");
    f.checker.store(f.db(), "http://h/robots.txt", "User-agent: *\nDisallow: /\n");
    EXPECT_EQ(f.store_db.scalar("select timestamp from robotscache"), t0);
    std::string out;
    struct {
        std::int64_t now;
        bool refresh;
    } cases[] = {{t0, false},
                 {t0 + 86400, false},
                 {t0 + 86401, true},
                 // the clock set back behind the stamp
                 {t0 - 1, true}};
    for (const auto& c : cases) {
        f.clock = c.now;
        EXPECT_EQ(f.checker.needs_refresh(f.db(), "http://h/page", out), c.refresh) << c.now;
    }
    // An old text still decides until it is replaced.
    f.clock = t0 + 10 * 86400;
    EXPECT_FALSE(f.allowed("http://h/page"));
    f.checker.store(f.db(), "http://h/robots.txt", "User-agent: other\nDisallow: /\n");
    EXPECT_EQ(f.store_db.scalar("select count(*) from robotscache"), 1);
    EXPECT_EQ(f.store_db.scalar("select timestamp from robotscache"), t0 + 10 * 86400);
    EXPECT_FALSE(f.checker.needs_refresh(f.db(), "http://h/page", out));
    EXPECT_TRUE(f.allowed("http://h/page"));
}

TEST(RobotsCache, OnlyThePathIsTested) {
    checker_fixture f("path");
    f.checker.store(f.db(), "http://www.example.com/robots.txt",
                    "User-agent: *\nDisallow: /private\n");
    EXPECT_FALSE(f.allowed("http://www.example.com/private/x.html"));
    EXPECT_FALSE(f.allowed("http://www.example.com/private"));
    EXPECT_TRUE(f.allowed("http://www.example.com/public"));
    EXPECT_TRUE(f.allowed("http://www.example.com/x?/private"));
    EXPECT_TRUE(f.allowed("http://www.example.com/x;/private"));
    EXPECT_TRUE(f.allowed("http://www.example.com/#/private"));
    // Same host, another port: another site, nothing stored, allowed.
    EXPECT_TRUE(f.allowed("http://www.example.com:8080/private/x.html"));
}

TEST(RobotsCache, TheRobotNameSelectsTheGroup) {
    const char* text = "User-agent: *\nDisallow: /all\n\nUser-agent: OtherBot\nDisallow: /other\n";
    checker_fixture mine("name-default");
    mine.checker.store(mine.db(), "http://h/robots.txt", text);
    EXPECT_FALSE(mine.allowed("http://h/all"));
    EXPECT_TRUE(mine.allowed("http://h/other"));
    checker_fixture other("name-other", "otherbot");
    other.checker.store(other.db(), "http://h/robots.txt", text);
    EXPECT_TRUE(other.allowed("http://h/all"));
    EXPECT_FALSE(other.allowed("http://h/other/x"));
}

TEST(RobotsCache, EmptyTextIsAStreamAndAllowsEverything) {
    checker_fixture f("empty");
    f.checker.store(f.db(), "http://h/robots.txt", "");
    EXPECT_EQ(f.store_db.scalar("select contentlen from robotscache"), 0);
    EXPECT_GT(f.store_db.scalar("select length(content) from robotscache"), 0);
    EXPECT_TRUE(f.allowed("http://h/"));
    EXPECT_TRUE(f.allowed("http://h/anything"));
    EXPECT_TRUE(f.allowed("http://never-stored.example/private"));
}

TEST(RobotsCache, ClearForgetsEverySite) {
    checker_fixture f("clear");
    f.checker.store(f.db(), "http://a/robots.txt", "User-agent: *\nDisallow: /\n");
    f.checker.store(f.db(), "http://b/robots.txt", "User-agent: *\nDisallow: /\n");
    f.checker.clear(f.db());
    EXPECT_EQ(f.store_db.scalar("select count(*) from robotscache"), 0);
    EXPECT_TRUE(f.allowed("http://a/x"));
    std::string out;
    EXPECT_TRUE(f.checker.needs_refresh(f.db(), "http://a/x", out));
}

// The table read back by independent tools: the sqlite3 shell and Python's zlib.
TEST(RobotsCache, StoredRowsReadByOtherTools) {
    if (!robots_test::have_program("sqlite3") || !robots_test::have_program("python3"))
        GTEST_SKIP() << "sqlite3 shell or python3 missing";
    checker_fixture f("tools");
    std::string text = "User-agent: *\r\nDisallow: /caf\xc3\xa9/\r\n";
    for (int i = 0; i < 200; ++i)
        text += "Disallow: /d" + std::to_string(i) + "\n";
    f.checker.store(f.db(), "http://h:8080/robots.txt", text);
    f.checker.store(f.db(), "http://e/robots.txt", "");
    EXPECT_EQ(robots_test::run("sqlite3 '" + f.store_db.path +
                               "' \"select url, timestamp, contentlen, typeof(content) from "
                               "robotscache order by url\""),
              "http://e/robots.txt|1700000000|0|blob\nhttp://h:8080/robots.txt|1700000000|" +
                  std::to_string(text.size()) + "|blob\n");
    std::string script = "import sqlite3, zlib, sys\n"
                         "db = sqlite3.connect(sys.argv[1])\n"
                         "for url, blob, n in db.execute('select url, content, contentlen from "
                         "robotscache order by url'):\n"
                         "    t = zlib.decompress(blob)\n"
                         "    assert len(t) == n\n"
                         "    sys.stdout.buffer.write(t + b'|')\n";
    std::string script_path = testing::TempDir() + "read_robotscache.py";
    FILE* s = std::fopen(script_path.c_str(), "w");
    ASSERT_NE(s, nullptr);
    std::fputs(script.c_str(), s);
    std::fclose(s);
    EXPECT_EQ(robots_test::run("python3 '" + script_path + "' '" + f.store_db.path + "'"),
              "|" + text + "|");
}

TEST(RobotsCache, OnlyTheReadablePrefixOfAHugeTextIsInflated) {
    checker_fixture f("huge");
    std::string text = "User-agent: *\nDisallow: /early\n";
    text += std::string(robotstxt::max_text, '\n');
    text += "Disallow: /late\n";
    f.checker.store(f.db(), "http://h/robots.txt", text);
    EXPECT_FALSE(f.allowed("http://h/early"));
    EXPECT_TRUE(f.allowed("http://h/late"));
}

TEST(RobotsCache, DamagedRowsAreDroppedAndRefetched) {
    struct {
        const char* name;
        const char* update;
    } cases[] = {
        {"not a zlib stream", "update robotscache set content = x'00112233'"},
        {"length longer than the stream", "update robotscache set contentlen = 100"},
        {"length shorter than the stream", "update robotscache set contentlen = 3"},
        // Must fail without first allocating four gigabytes.
        {"absurd length", "update robotscache set contentlen = 4294967295"},
        {"negative length", "update robotscache set contentlen = -1"},
    };
    for (const auto& c : cases) {
        checker_fixture f(std::string("damaged-") + std::to_string(&c - cases));
        f.checker.store(f.db(), "http://h/robots.txt", "User-agent: *\nDisallow: /x\n");
        ASSERT_EQ(f.store_db.exec(c.update), SQLITE_OK) << c.name;
        // The damaged row counts as no rules and is gone: the next visit fetches it anew.
        bool compiled = false;
        EXPECT_TRUE(f.checker.allowed(f.db(), "http://h/x", compiled)) << c.name;
        std::string robots_url;
        EXPECT_TRUE(f.checker.needs_refresh(f.db(), "http://h/x", robots_url)) << c.name;
    }
}

// The compiled rules of a site are reused while its stored row stays the same; any change of
// the row is seen by the next test of a URL: a store, a row rewritten by another program with
// a text of the same length, a row gone, a row damaged. On a connection that keeps its
// statements prepared, as the daemon's do.
TEST(RobotsCache, CompiledRulesFollowTheStoredRow) {
    if (!robots_test::have_program("python3")) GTEST_SKIP() << "python3 missing";
    checker_fixture f("follow");
    keep_statements(f.db());
    const std::string script_path = testing::TempDir() + "rewrite_robotscache.py";
    {
        FILE* s = std::fopen(script_path.c_str(), "w");
        ASSERT_NE(s, nullptr);
        std::fputs("import sqlite3, zlib, sys\n"
                   "db = sqlite3.connect(sys.argv[1])\n"
                   "t = sys.argv[2].encode().replace(b'|', b'\\n')\n"
                   "db.execute('update robotscache set content=?, contentlen=?', "
                   "(zlib.compress(t), len(t)))\n"
                   "db.commit()\n",
                   s);
        std::fclose(s);
    }
    const std::string x = "User-agent: *\nDisallow: /x\n";
    const std::string y = "User-agent: *\nDisallow: /y\n";
    struct step {
        const char* what;
        std::function<void()> change;
        bool x_allowed, y_allowed;
    } steps[] = {
        {"stored /x", [&] { f.checker.store(f.db(), "http://h/robots.txt", x); }, false, true},
        {"the same row again", [] {}, false, true},
        {"stored /y", [&] { f.checker.store(f.db(), "http://h/robots.txt", y); }, true, false},
        {"rewritten by another program, same length",
         [&] {
             robots_test::run("python3 '" + script_path + "' '" + f.store_db.path +
                              "' 'User-agent: *|Disallow: /x|'");
         },
         false, true},
        {"stored /y for another robot's group",
         [&] {
             f.checker.store(f.db(), "http://h/robots.txt", "User-agent: otherbot\nDisallow: /x\n");
         },
         true, true},
        {"stored /x again", [&] { f.checker.store(f.db(), "http://h/robots.txt", x); }, false,
         true},
        {"row deleted", [&] { f.store_db.exec("delete from robotscache"); }, true, true},
        {"stored /y once more", [&] { f.checker.store(f.db(), "http://h/robots.txt", y); }, true,
         false},
        {"row damaged", [&] { f.store_db.exec("update robotscache set contentlen = 100"); }, true,
         true},
    };
    for (const auto& s : steps) {
        s.change();
        EXPECT_EQ(f.allowed("http://h/x"), s.x_allowed) << s.what;
        EXPECT_EQ(f.allowed("http://h/y/z"), s.y_allowed) << s.what;
        // Another site's rules are not this one's.
        EXPECT_TRUE(f.allowed("http://other/x")) << s.what;
    }
    EXPECT_EQ(f.store_db.scalar("select count(*) from robotscache"), 0);
    drop_kept_statements(f.db());
}
