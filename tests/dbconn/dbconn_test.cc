#include "trawlnestd/dbconn.h"

#include "../support/command.h"
#include "../support/scratch.h"

#include "linux-platform/eventlog.h"
#include "util/clock.h"
#include "util/config.h"
#include "util/md5.h"
#include "util/sqlite_txn.h"
#include "util/syslayer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

using namespace lumbrake;
namespace fs = std::filesystem;

namespace {

fs::path fresh_dir(const std::string& name) {
    return tn_test::fresh_dir("dbconn-" + name);
}

// Runs the body with the data directory as the current directory, as the daemon does.
struct in_directory {
    fs::path saved = fs::current_path();
    explicit in_directory(const fs::path& dir) { fs::current_path(dir); }
    ~in_directory() { fs::current_path(saved); }
};

// A configuration file of its own folder (so that no sibling file is merged into it).
config config_with(const std::string& name, const std::optional<std::string>& sync_level) {
    fs::path dir = fresh_dir("cfg-" + name);
    fs::path file = dir / "trawlnest.conf";
    std::ofstream out(file);
    out << "DATADIR=" << dir.string() << "\n";
    if (sync_level) out << "SyncLevel=" << *sync_level << "\n";
    out.close();
    return config(file.c_str());
}

std::string shell(const fs::path& db, const std::string& sql) {
    return tn_test::sqlite_output(db.string(), sql);
}

int pragma_synchronous(sqlite3* db) {
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, "pragma synchronous", -1, &st, nullptr), SQLITE_OK);
    EXPECT_EQ(sqlite3_step(st), SQLITE_ROW);
    int level = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    return level;
}

void to_stderr(platform::eventlog_type, const char* text) {
    std::fputs(text, stderr);
}

} // namespace

TEST(DatabaseConnection, SyncLevelFromTheConfiguration) {
    struct {
        const char* name;
        std::optional<std::string> value;
        int level;
    } cases[] = {
        {"absent", std::nullopt, 1},
        {"empty", "", 1},
        {"four", "4", 1},
        {"minus", "-1", 1},
        {"word", "full", 1},
        {"zero", "0", 0},
        {"one", "1", 1},
        {"two", "2", 2},
        {"three", "3", 3},
        {"zerozero", "00", 1},
        {"trailing", "2x", 2},
        {"huge", "99999999999999999999", 1},
        {"wraps", "4294967298", 1}, // would be 2 if cut to 32 bits
    };
    fs::path data = fresh_dir("sync");
    in_directory cd(data);
    for (const auto& c : cases) {
        config cfg = config_with(c.name, c.value);
        EXPECT_EQ(sync_level(cfg), c.level) << c.name;
        db_connection db(cfg);
        EXPECT_EQ(pragma_synchronous(db), c.level) << c.name;
    }
    // No configuration file at all.
    config none((data / "missing.conf").c_str());
    EXPECT_EQ(sync_level(none), 1);
}

TEST(DatabaseConnection, DbconfigIsMadeOnceAndTheShellReadsIt) {
    fs::path data = fresh_dir("dbconfig");
    in_directory cd(data);
    config cfg = config_with("dbconfig", std::nullopt);

    std::int64_t before = now_ms();
    {
        db_connection db(cfg);
        storage_transaction txn(db);
        init_dbconfig(db);
        txn.commit();
    }
    std::int64_t after = now_ms();
    ASSERT_TRUE(fs::exists(data / "trawlnest.db")); // in the current directory

    std::string guid;
    {
        db_connection db(cfg);
        read_platform_guid(db, guid);
    }
    ASSERT_EQ(guid.size(), 32u);
    EXPECT_EQ(guid.find_first_not_of("0123456789abcdef"), std::string::npos);
    // The identifier is the MD5 of the creation time in milliseconds.
    bool matched = false;
    for (std::int64_t ms = before; ms <= after && !matched; ++ms)
        matched = md5_hex(std::to_string(ms)) == guid;
    EXPECT_TRUE(matched) << guid;

    const fs::path file = data / "trawlnest.db";
    EXPECT_EQ(shell(file, "select sql from sqlite_master order by name"),
              "CREATE TABLE dbconfig(key text, value text)\n"
              "CREATE UNIQUE INDEX dbconfig_idx1 on dbconfig(key)\n");
    std::string rows = "PlatformGUID|" + guid + "\nSchemaVersion|1\n";
    EXPECT_EQ(shell(file, "select key, value from dbconfig order by key"), rows);

    // A second start finds the table and changes nothing.
    {
        db_connection db(cfg);
        init_dbconfig(db);
        std::string again;
        read_platform_guid(db, again);
        EXPECT_EQ(again, guid);
    }
    EXPECT_EQ(shell(file, "select key, value from dbconfig order by key"), rows);
}

TEST(DatabaseConnection, MillisecondsOfATimeOfDay) {
    struct {
        time_t sec;
        suseconds_t usec;
        std::int64_t ms;
    } cases[] = {
        {0, 0, 0},
        {0, 999, 0},
        {0, 1000, 1},
        {0, 999999, 999}, // rounds down, never to the next second
        {1, 999999, 1999},
        {1700000000, 123456, 1700000000123},
        {4102444800, 500000, 4102444800500}, // past 2038
    };
    for (const auto& c : cases) {
        struct timeval tv {};
        tv.tv_sec = c.sec;
        tv.tv_usec = c.usec;
        EXPECT_EQ(ms_of_timeval(tv), c.ms) << c.sec << "." << c.usec;
    }
    struct timeval a, b;
    lumbrake::gettimeofday(&a);
    std::int64_t now = now_ms();
    lumbrake::gettimeofday(&b);
    EXPECT_LE(ms_of_timeval(a), now);
    EXPECT_LE(now, ms_of_timeval(b));
}

TEST(DatabaseConnectionDeathTest, FailuresAreFatal) {
    fs::path data = fresh_dir("death");
    config cfg = config_with("death", std::nullopt);

    // The database path is taken by a folder: the open fails, with its code only.
    fs::create_directories(data / "blocked" / "trawlnest.db");
    EXPECT_DEATH(
        {
            platform::set_eventlog_sink(&to_stderr);
            fs::current_path(data / "blocked");
            open_db(cfg);
        },
        "src/trawlnestd/dbconn.cc\\([0-9]+\\): assertion \\[SQLite error: \\[14\\]\\] failed");

    // Closing with a statement still open.
    EXPECT_DEATH(
        {
            platform::set_eventlog_sink(&to_stderr);
            fs::current_path(data);
            sqlite3* db = open_db(cfg);
            sqlite3_stmt* st = nullptr;
            sqlite3_prepare_v2(db, "select 1", -1, &st, nullptr);
            close_db(db);
        },
        "assertion \\[SQLite error: \\[5\\]\\] failed");

    // A dbconfig table without the identifier row cannot be opened.
    {
        in_directory cd(data);
        db_connection db(cfg);
        ASSERT_EQ(sqlite3_exec(db, "create table dbconfig(key text, value text)", nullptr, nullptr,
                               nullptr),
                  SQLITE_OK);
        init_dbconfig(db); // the table exists: nothing is added
    }
    EXPECT_DEATH(
        {
            platform::set_eventlog_sink(&to_stderr);
            fs::current_path(data);
            sqlite3* db = open_db(cfg);
            std::string guid;
            read_platform_guid(db, guid);
        },
        "assertion \\[SQLite error: \\[101\\] no more rows available\\] failed");

    // Without the table, reading the identifier fails when preparing.
    fs::create_directories(data / "empty");
    EXPECT_DEATH(
        {
            platform::set_eventlog_sink(&to_stderr);
            fs::current_path(data / "empty");
            sqlite3* db = open_db(cfg);
            std::string guid;
            read_platform_guid(db, guid);
        },
        "SQLite error: \\[1\\] no such table: dbconfig");

    // A read-only database cannot get its table: creating it is fatal.
    std::ofstream(data / "ro.db").close();
    EXPECT_DEATH(
        {
            platform::set_eventlog_sink(&to_stderr);
            sqlite3* db = nullptr;
            sqlite3_open_v2((data / "ro.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
            init_dbconfig(db);
        },
        "SQLite error: \\[8\\] attempt to write a readonly database");
}
