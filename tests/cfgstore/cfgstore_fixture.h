// A fresh data directory per test: the daemon's connection opens trawlnest.db in the current
// directory, so each test works in a folder of its own.
#pragma once

#include "../support/command.h"
#include "../support/files.h"
#include "util/config.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace cfgstore_test {

namespace fs = std::filesystem;

using tn_test::read_file;

using tn_test::write_file;

class DataDir : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("TEST_TMPDIR");
        std::string tmpl = std::string(base ? base : "/tmp/") + "cfgstore-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        old_cwd_ = fs::current_path();
        fs::current_path(dir_);
        write_file(dir_ / "trawlnest.conf", "SyncLevel=0\n");
        cfg_ = std::make_unique<lumbrake::config>((dir_ / "trawlnest.conf").c_str());
    }
    void TearDown() override {
        fs::current_path(old_cwd_);
        fs::remove_all(dir_);
    }

    // Runs a statement on the database and answers its rows, "|"-separated, one per line.
    std::string query(sqlite3* db, const std::string& sql) {
        std::string out;
        char* err = nullptr;
        auto cb = [](void* user, int n, char** values, char**) {
            auto* o = static_cast<std::string*>(user);
            for (int i = 0; i < n; ++i) {
                if (i) *o += "|";
                *o += values[i] ? values[i] : "NULL";
            }
            *o += "\n";
            return 0;
        };
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), cb, &out, &err), SQLITE_OK) << (err ? err : "");
        sqlite3_free(err);
        return out;
    }

    fs::path dir_;
    fs::path old_cwd_;
    std::unique_ptr<lumbrake::config> cfg_;
};

} // namespace cfgstore_test
