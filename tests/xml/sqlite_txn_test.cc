#include "util/sqlite_txn.h"

#include "linux-platform/eventlog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace lumbrake;
namespace fs = std::filesystem;

namespace {

struct db_handle {
    sqlite3* db = nullptr;
    explicit db_handle(const std::string& path) {
        EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    }
    ~db_handle() { sqlite3_close(db); }
    int exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }
    long long count(const char* table) {
        sqlite3_stmt* st = nullptr;
        std::string sql = std::string("select count(*) from ") + table;
        EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK);
        EXPECT_EQ(sqlite3_step(st), SQLITE_ROW);
        long long n = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
        return n;
    }
};

std::string fresh_dir(const char* name) {
    fs::path dir = fs::path(testing::TempDir()) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

void to_stderr(platform::eventlog_type, const char* text) {
    std::fputs(text, stderr);
}

} // namespace

TEST(StorageTransaction, ThreadsRunOneAfterTheOtherEvenOnSeparateDatabases) {
    std::string dir = fresh_dir("txn-threads");
    // Two files: SQLite itself would let these run together; only the storage mutex orders them.
    db_handle a(dir + "/a.db"), b(dir + "/b.db");
    std::atomic<bool> a_inside{false}, a_committed{false}, b_saw_a_committed{false};
    std::thread ta([&] {
        EXPECT_EQ(begin_exclusive_transaction(a.db), SQLITE_OK);
        a_inside = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(a.exec("create table t(x)"), SQLITE_OK);
        a_committed = true;
        EXPECT_EQ(commit_transaction(a.db), SQLITE_OK);
    });
    while (!a_inside)
        std::this_thread::yield();
    std::thread tb([&] {
        EXPECT_EQ(begin_exclusive_transaction(b.db), SQLITE_OK);
        b_saw_a_committed = a_committed.load();
        EXPECT_EQ(commit_transaction(b.db), SQLITE_OK);
    });
    ta.join();
    tb.join();
    EXPECT_TRUE(b_saw_a_committed);
}

TEST(StorageTransaction, WaitsOutALockHeldByTheSqliteShell) {
    std::string dir = fresh_dir("txn-shell");
    std::string db_path = dir + "/shared.db";
    {
        db_handle setup(db_path);
        ASSERT_EQ(setup.exec("create table t(x)"), SQLITE_OK);
    }
    // The shell takes the write lock, inserts a row, and commits only when told to.
    std::ofstream(dir + "/script.sql")
        << "begin exclusive transaction;\n"
        << "insert into t values (1);\n"
        << ".shell touch " << dir << "/locked\n"
        << ".shell while [ ! -e " << dir << "/release ]; do sleep 0.01; done\n"
        << "commit;\n";
    std::thread shell([&] {
        std::string cmd = "sqlite3 " + db_path + " < " + dir + "/script.sql";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    });
    while (!fs::exists(dir + "/locked"))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    db_handle mine(db_path);
    ASSERT_EQ(mine.exec("begin exclusive transaction"), SQLITE_BUSY); // the shell holds it
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::ofstream(dir + "/release") << "go";
    });
    EXPECT_EQ(begin_exclusive_transaction(mine.db), SQLITE_OK);
    EXPECT_EQ(mine.count("t"), 1); // the shell's transaction committed before ours began
    EXPECT_EQ(mine.exec("insert into t values (2)"), SQLITE_OK);
    EXPECT_EQ(commit_transaction(mine.db), SQLITE_OK);
    release.join();
    shell.join();
    EXPECT_EQ(mine.count("t"), 2);
}

TEST(StorageTransactionDeathTest, EverySqliteErrorIsFatalWithCodeAndMessage) {
    std::string dir = fresh_dir("txn-death");
    EXPECT_DEATH(
        {
            platform::set_eventlog_sink(&to_stderr);
            db_handle db(dir + "/d.db");
            begin_exclusive_transaction(db.db);
            db.exec("commit"); // the transaction ends behind the helper's back
            commit_transaction(db.db);
        },
        "assertion \\[SQLite error: \\[1\\] cannot commit - no transaction is active\\] failed");
    EXPECT_DEATH(
        {
            platform::set_eventlog_sink(&to_stderr);
            db_handle db(dir + "/d.db");
            TN_SQLITE_CHECK(db.db, db.exec("select * from nosuch"));
        },
        "SQLite error: \\[1\\] no such table: nosuch");
}
