// A scratch SQLite database and reading single values back from one.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>

namespace tn_test {

// The first column of the statement's first row as an integer; -1 when it gives no row.
inline long long sql_scalar(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
    long long v = -1;
    if (sqlite3_step(st) == SQLITE_ROW) v = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    return v;
}

// A fresh database file testing::TempDir() + name + ".db", closed with the object.
struct scratch_db {
    std::string path;
    sqlite3* db = nullptr;
    explicit scratch_db(const std::string& name) {
        path = testing::TempDir() + name + ".db";
        std::filesystem::remove(path);
        EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    }
    ~scratch_db() { sqlite3_close(db); }
    scratch_db(const scratch_db&) = delete;
    scratch_db& operator=(const scratch_db&) = delete;

    long long scalar(const std::string& sql) const { return sql_scalar(db, sql); }
    int exec(const std::string& sql) const {
        return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    }
};

} // namespace tn_test
