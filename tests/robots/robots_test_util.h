// A fresh SQLite database per test in the program's scratch folder, and small helpers for
// reading back what the storages wrote.
#pragma once

#include "../support/command.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace robots_test {

struct scratch_db {
    std::string path;
    sqlite3* db = nullptr;
    explicit scratch_db(const std::string& name) {
        path = testing::TempDir() + name + ".db";
        std::filesystem::remove(path);
        EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    }
    ~scratch_db() { sqlite3_close(db); }
    long long scalar(const std::string& sql) const {
        sqlite3_stmt* st = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
        long long v = -1;
        if (sqlite3_step(st) == SQLITE_ROW) v = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
        return v;
    }
    int exec(const std::string& sql) const {
        return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    }
};

// Standard output of a shell command (the tests pass only fixed, quoted arguments).
inline std::string run(const std::string& command) {
    return tn_test::command_output(command);
}

inline bool have_program(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

} // namespace robots_test
