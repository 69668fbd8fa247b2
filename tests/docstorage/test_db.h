// A fresh SQLite database per test in the test program's temporary folder, and a way to ask
// the sqlite3 shell about it.
#pragma once

#include "../support/command.h"
#include "util/sqlite_stmt.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace docstorage_test {

class test_db {
public:
    test_db() {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        path_ = testing::TempDir() + "docstorage-" + info->test_suite_name() + "-" + info->name() +
                "-" + std::to_string(getpid()) + ".db";
        std::remove(path_.c_str());
        if (sqlite3_open(path_.c_str(), &db_) != SQLITE_OK)
            ADD_FAILURE() << "cannot open " << path_;
        // Durability is not under test; a synced commit per statement only makes tests slow.
        sqlite3_exec(db_, "pragma synchronous=off", nullptr, nullptr, nullptr);
        // As the daemon's connections do.
        lumbrake::keep_statements(db_);
    }
    ~test_db() {
        lumbrake::drop_kept_statements(db_);
        sqlite3_close(db_);
        std::remove(path_.c_str());
    }
    test_db(const test_db&) = delete;
    test_db& operator=(const test_db&) = delete;

    sqlite3* db() const { return db_; }
    const std::string& path() const { return path_; }

    // Runs SQL on our connection; fails the test on an error.
    void exec(const std::string& sql) const {
        char* error = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            ADD_FAILURE() << sql << ": " << (error ? error : "?");
            sqlite3_free(error);
        }
    }
    // The rows of a query on our connection, columns separated by '|', rows ended by '\n'.
    std::string query(const std::string& sql) const {
        std::string out;
        char* error = nullptr;
        auto collect = [](void* target, int n, char** values, char**) {
            auto& text = *static_cast<std::string*>(target);
            for (int i = 0; i < n; ++i) {
                if (i) text += '|';
                text += values[i] ? values[i] : "NULL";
            }
            text += '\n';
            return 0;
        };
        if (sqlite3_exec(db_, sql.c_str(), collect, &out, &error) != SQLITE_OK) {
            ADD_FAILURE() << sql << ": " << (error ? error : "?");
            sqlite3_free(error);
        }
        return out;
    }
    // The same through the sqlite3 shell, a separate program reading the file.
    std::string shell(const std::string& sql) const {
        return tn_test::sqlite_output(path_, sql, "-batch");
    }

private:
    std::string path_;
    sqlite3* db_ = nullptr;
};

} // namespace docstorage_test
