// Statements kept prepared per connection (util/sqlite_stmt.h), on real database files.
#include "util/sqlite_stmt.h"

#include "../support/scratch.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using namespace lumbrake;

namespace {

sqlite3* open_file(const std::string& path) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    return db;
}

void exec(sqlite3* db, const char* sql) {
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
}

// A connection that keeps statements, as the daemon opens them, over a table t(k, v) with rows
// (1, 'one'), (2, 'two'), (3, 'three').
struct kept_db {
    std::string path;
    sqlite3* db;
    explicit kept_db(const std::string& name)
        : path(tn_test::fresh_dir("stmt-" + name).string() + "/t.db"), db(open_file(path)) {
        exec(db, "pragma journal_mode=WAL");
        exec(db, "create table t(k integer, v text)");
        exec(db, "insert into t values(1, 'one'), (2, 'two'), (3, 'three')");
        keep_statements(db);
    }
    ~kept_db() {
        drop_kept_statements(db);
        EXPECT_EQ(sqlite3_close(db), SQLITE_OK) << "a statement was left open";
    }
};

constexpr const char* by_key = "select v from t where k=?";

std::string value_of(sqlite3* db, std::int64_t k) {
    sqlite_statement st(db, by_key, keep_prepared);
    st.bind(1, k);
    return st.next() ? st.text(0) : "(none)";
}

} // namespace

TEST(KeptStatement, OnePreparedStatementServesEveryUseWithItsOwnValues) {
    kept_db t("reuse");
    sqlite3_stmt* first = nullptr;
    {
        sqlite_statement st(t.db, by_key, keep_prepared);
        first = st.handle();
        st.bind(1, 2);
        ASSERT_TRUE(st.next());
        EXPECT_EQ(st.text(0), "two");
    }
    EXPECT_EQ(value_of(t.db, 3), "three");
    {
        // The values of the last use are cleared: a parameter left unbound is NULL, matching
        // nothing, not the 3 bound before.
        sqlite_statement st(t.db, by_key, keep_prepared);
        EXPECT_EQ(st.handle(), first);
        EXPECT_FALSE(st.next());
    }
    EXPECT_EQ(kept_statement_count(t.db), 1u);
}

TEST(KeptStatement, TheSameTextUsedInsideItsOwnLoopIsAStatementOfItsOwn) {
    kept_db t("nested");
    std::vector<std::string> seen;
    sqlite_statement outer(t.db, "select k from t order by k", keep_prepared);
    // (bounded: an outer loop reset by the inner use would start over for ever)
    for (int rows = 0; rows < 10 && outer.next(); ++rows) {
        // A nested use of the outer text must not reset the outer loop.
        sqlite_statement inner(t.db, "select k from t order by k", keep_prepared);
        EXPECT_NE(inner.handle(), outer.handle());
        ASSERT_TRUE(inner.next());
        seen.push_back(std::to_string(outer.integer(0)) + ":" + value_of(t.db, outer.integer(0)));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"1:one", "2:two", "3:three"}));
}

TEST(KeptStatement, AStatementLeftMidResultHoldsNoSnapshotAfterItsScope) {
    kept_db t("snapshot");
    sqlite3* writer = open_file(t.path);
    {
        sqlite_statement st(t.db, "select v from t order by k", keep_prepared);
        ASSERT_TRUE(st.next()); // rows left unread: the read transaction stays open until reset
    }
    exec(writer, "insert into t values(4, 'four')");
    // A statement not reset would keep the old snapshot, and this read would miss the row.
    EXPECT_EQ(value_of(t.db, 4), "four");
    // And a checkpoint of the whole log would wait for the reader.
    int log = -1, done = -1;
    EXPECT_EQ(sqlite3_wal_checkpoint_v2(writer, nullptr, SQLITE_CHECKPOINT_TRUNCATE, &log, &done),
              SQLITE_OK);
    EXPECT_EQ(sqlite3_close(writer), SQLITE_OK);
}

TEST(KeptStatement, ConnectionsThatKeepNoneCloseAtOnce) {
    const std::string path = tn_test::fresh_dir("stmt-plain").string() + "/t.db";
    sqlite3* db = open_file(path);
    exec(db, "create table t(k integer, v text)");
    {
        sqlite_statement st(db, "insert into t values(?, ?)", keep_prepared);
        st.bind(1, 1).bind(2, "one").run();
    }
    EXPECT_EQ(kept_statement_count(db), 0u);
    // Nothing is left prepared: the plain close succeeds, as the tests' raw connections need.
    EXPECT_EQ(sqlite3_close(db), SQLITE_OK);
}

TEST(KeptStatement, ThreadsOpenUseAndCloseTheirOwnConnectionsSideBySide) {
    const std::string dir = tn_test::fresh_dir("stmt-threads").string();
    {
        sqlite3* db = open_file(dir + "/t.db");
        exec(db, "pragma journal_mode=WAL");
        exec(db, "create table t(k integer, v text)");
        exec(db, "insert into t values(1, 'one')");
        ASSERT_EQ(sqlite3_close(db), SQLITE_OK);
    }
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int n = 0; n < 4; ++n)
        threads.emplace_back([&, n] {
            for (int round = 0; round < 50; ++round) {
                sqlite3* db = open_file(dir + "/t.db");
                sqlite3_busy_timeout(db, 10000);
                keep_statements(db);
                for (int i = 0; i < 20; ++i)
                    if (value_of(db, 1) != "one") ++failures[n];
                drop_kept_statements(db);
                if (sqlite3_close(db) != SQLITE_OK) ++failures[n];
            }
        });
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}
