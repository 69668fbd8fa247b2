#include "util/sqlite_txn.h"

#include "util/sqlite_stmt.h"

#include "linux-platform/eventlog.h"
#include "../support/scratch.h"
#include "../support/sqlite_db.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

using namespace lumbrake;
namespace fs = std::filesystem;

namespace {

// `keep`: the connection keeps its statements prepared, as the daemon's do; the transactions'
// own statements then stay prepared as well, and must behave as when they are not.
struct db_handle {
    sqlite3* db = nullptr;
    explicit db_handle(const std::string& path, bool keep = false) {
        EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        if (keep) keep_statements(db);
    }
    ~db_handle() {
        drop_kept_statements(db);
        EXPECT_EQ(sqlite3_close(db), SQLITE_OK);
    }
    int exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }
    long long count(const char* table) {
        return tn_test::sql_scalar(db, std::string("select count(*) from ") + table);
    }
};

using tn_test::fresh_dir;

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
        storage_transaction txn(a.db);
        a_inside = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(a.exec("create table t(x)"), SQLITE_OK);
        a_committed = true;
        txn.commit();
    });
    while (!a_inside)
        std::this_thread::yield();
    std::thread tb([&] {
        storage_transaction txn(b.db);
        b_saw_a_committed = a_committed.load();
    });
    ta.join();
    tb.join();
    EXPECT_TRUE(b_saw_a_committed);
}

TEST(StorageTransaction, WaitsOutALockHeldByTheSqliteShell) {
    for (bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "statements kept" : "statements not kept");
        std::string dir = fresh_dir(keep ? "txn-shell-kept" : "txn-shell");
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

        db_handle mine(db_path, keep);
        ASSERT_EQ(mine.exec("begin exclusive transaction"), SQLITE_BUSY); // the shell holds it
        std::thread release([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::ofstream(dir + "/release") << "go";
        });
        storage_transaction txn(mine.db);
        EXPECT_EQ(mine.count("t"), 1); // the shell's transaction committed before ours began
        EXPECT_EQ(mine.exec("insert into t values (2)"), SQLITE_OK);
        txn.commit();
        release.join();
        shell.join();
        EXPECT_EQ(mine.count("t"), 2);
    }
}

TEST(StorageTransactionDeathTest, EverySqliteErrorIsFatalWithCodeAndMessage) {
    std::string dir = fresh_dir("txn-death");
    for (bool keep : {false, true}) {
        EXPECT_DEATH(
            {
                platform::set_eventlog_sink(&to_stderr);
                db_handle db(dir + "/d.db", keep);
                storage_transaction txn(db.db);
                db.exec("commit"); // the transaction ends behind the guard's back
                txn.commit();
            },
            "assertion \\[SQLite error: \\[1\\] cannot commit - no transaction is "
            "active\\] failed")
            << keep;
        // A transaction begun behind the guard's back: its begin fails the same way.
        EXPECT_DEATH(
            {
                platform::set_eventlog_sink(&to_stderr);
                db_handle db(dir + "/d.db", keep);
                db.exec("begin");
                storage_transaction txn(db.db);
            },
            "assertion \\[SQLite error: \\[1\\] cannot start a transaction within a "
            "transaction\\] failed")
            << keep;
    }
    EXPECT_DEATH(
        {
            platform::set_eventlog_sink(&to_stderr);
            db_handle db(dir + "/d.db");
            TN_SQLITE_CHECK(db.db, db.exec("select * from nosuch"));
        },
        "SQLite error: \\[1\\] no such table: nosuch");
}

namespace {

// Runs `f` on another thread; false when it has not finished within five seconds (a deadlock:
// the thread is left behind, the test fails instead of hanging).
template <class F> bool finishes(F f) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> ended = done->get_future();
    std::thread([f, done]() mutable {
        f();
        done->set_value();
    }).detach();
    return ended.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
}

void make_wal_table(db_handle& h) {
    ASSERT_EQ(h.exec("pragma journal_mode=WAL"), SQLITE_OK);
    ASSERT_EQ(h.exec("create table t(x)"), SQLITE_OK);
}

} // namespace

TEST(StorageTransaction, GuardEndsTheTransactionOnEveryWayOut) {
    for (bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "statements kept" : "statements not kept");
        std::string dir = fresh_dir(keep ? "txn-guard-kept" : "txn-guard");
        db_handle a(dir + "/a.db", keep);
        ASSERT_EQ(a.exec("create table t(x)"), SQLITE_OK);

        // An exception that is not a storage failure: the changes are committed and the storage
        // mutex is free again, for another thread's transaction as for this thread's next one.
        EXPECT_THROW(
            {
                storage_transaction txn(a.db);
                a.exec("insert into t values(1)");
                throw std::runtime_error("peer gone");
            },
            std::runtime_error);
        EXPECT_EQ(a.count("t"), 1);
        db_handle other(dir + "/a.db");
        EXPECT_TRUE(finishes([&] {
            storage_transaction txn(other.db);
            other.exec("insert into t values(2)");
        }));
        EXPECT_EQ(a.count("t"), 2);

        // commit(), another thread's transaction, begin() again on the same guard.
        {
            storage_transaction txn(a.db);
            a.exec("insert into t values(3)");
            txn.commit();
            EXPECT_FALSE(txn.open());
            EXPECT_TRUE(finishes([&] { storage_transaction inner(other.db); }));
            txn.begin();
            EXPECT_TRUE(txn.open());
            a.exec("insert into t values(4)");
        }
        EXPECT_EQ(a.count("t"), 4);

        // rollback(): nothing of it is kept.
        {
            storage_transaction txn(a.db);
            a.exec("insert into t values(5)");
            txn.rollback();
        }
        EXPECT_EQ(a.count("t"), 4);
        EXPECT_TRUE(finishes([&] { storage_transaction again(other.db); }));
    }
}

TEST(StorageTransaction, StorageFailureRollsBackAndFreesTheLock) {
    for (bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "statements kept" : "statements not kept");
        std::string dir = fresh_dir(keep ? "txn-full-kept" : "txn-full");
        db_handle a(dir + "/a.db", keep);
        ASSERT_EQ(a.exec("create table t(x)"), SQLITE_OK);
        ASSERT_EQ(a.exec("insert into t values(0)"), SQLITE_OK);
        // A volume that is full: the page limit makes a large row fail with SQLITE_FULL.
        ASSERT_EQ(a.exec("pragma max_page_count=8"), SQLITE_OK);
        try {
            storage_transaction txn(a.db);
            ASSERT_EQ(a.exec("insert into t values(1)"), SQLITE_OK);
            TN_SQLITE_CHECK(a.db, a.exec("insert into t values(zeroblob(100000))"));
            ADD_FAILURE() << "the insert did not fail";
        } catch (const sqlite_error& e) {
            EXPECT_EQ(e.code(), SQLITE_FULL);
        }
        EXPECT_FALSE(storage_failure_pending());
        EXPECT_EQ(a.count("t"), 1); // the row before the failure went with it
        db_handle other(dir + "/a.db");
        EXPECT_TRUE(finishes([&] {
            storage_transaction txn(other.db);
            other.exec("insert into t values(2)");
        }));
        EXPECT_EQ(a.count("t"), 2);
    }
}

TEST(StorageSnapshot, ReadsBesideAnOpenWriterAndKeepsItsView) {
    std::string dir = fresh_dir("txn-snapshot");
    db_handle writer(dir + "/w.db");
    make_wal_table(writer);
    ASSERT_EQ(writer.exec("insert into t values(1)"), SQLITE_OK);
    db_handle reader(dir + "/w.db");

    storage_transaction txn(writer.db);
    ASSERT_EQ(writer.exec("insert into t values(2)"), SQLITE_OK);
    // The writer holds the storage lock; a snapshot on another thread neither waits for it nor
    // sees its uncommitted row, and keeps its view after the writer commits.
    long long before = -1, during = -1;
    std::atomic<bool> first_read{false}, committed{false};
    std::thread t([&] {
        storage_snapshot snap(reader.db);
        before = reader.count("t");
        first_read = true;
        while (!committed)
            std::this_thread::yield();
        during = reader.count("t");
    });
    while (!first_read)
        std::this_thread::yield();
    txn.commit();
    committed = true;
    t.join();
    EXPECT_EQ(before, 1);
    EXPECT_EQ(during, 1);
    EXPECT_EQ(reader.count("t"), 2); // a new read outside the snapshot sees the commit
}

TEST(StorageSnapshot, JoinsTheConnectionsOpenTransaction) {
    std::string dir = fresh_dir("txn-snapshot-nested");
    db_handle a(dir + "/a.db");
    make_wal_table(a);
    storage_transaction txn(a.db);
    ASSERT_EQ(a.exec("insert into t values(1)"), SQLITE_OK);
    {
        storage_snapshot snap(a.db); // no second begin: the reads belong to the writer's
        EXPECT_FALSE(snap.open());
        EXPECT_EQ(a.count("t"), 1);
    }
    txn.commit();
    EXPECT_EQ(a.count("t"), 1);
}

TEST(StorageSnapshot, WaitForWritersReturnsOnlyOnceTheOpenTransactionEnded) {
    std::string dir = fresh_dir("txn-barrier");
    db_handle a(dir + "/a.db");
    make_wal_table(a);
    auto txn = std::make_unique<storage_transaction>(a.db);
    ASSERT_EQ(a.exec("insert into t values(1)"), SQLITE_OK);
    std::atomic<bool> passed{false};
    std::thread t([&] {
        wait_for_storage_writers();
        passed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(passed);
    txn.reset();
    t.join();
    EXPECT_TRUE(passed);
    // The thread that holds the lock itself does not wait for its own transaction.
    storage_transaction mine(a.db);
    wait_for_storage_writers();
}
