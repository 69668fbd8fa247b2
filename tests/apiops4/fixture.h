// A scratch trawlnest.db with the storages the operations touch, a settable clock, and a
// context per caller. The index client stays absent: these operations never search.
#pragma once

#include "apiops/api-common.h"
#include "docstorage/docstorage.h"
#include "fetchqueue/fetchqueue.h"
#include "logstorage/logstorage.h"
#include "trawlnestd/cfgstorage.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace apiops4 {

namespace fs = std::filesystem;
using namespace lumbrake;

class scratch_db : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("apiops4-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = dir_ / "trawlnest.db";
        ASSERT_EQ(sqlite3_open(path_.c_str(), &db_), SQLITE_OK);
        // The scratch file needs no durability; this keeps each test quick.
        sqlite3_exec(db_, "pragma synchronous=off", nullptr, nullptr, nullptr);
        stores_ = std::make_unique<config_stores>(db_);
        docs_ = std::make_unique<docstorage>(db_);
        queue_ = std::make_unique<fetchqueue>(db_, 0, [this] { return clock_; });
        logs_ = std::make_unique<logstorage>(db_);
    }
    void TearDown() override {
        logs_.reset();
        queue_.reset();
        docs_.reset();
        stores_.reset();
        sqlite3_close(db_);
        fs::remove_all(dir_);
    }

    api_context context(bool admin, std::string user = "alice",
                        std::vector<std::string> groups = {}) {
        api_context ctx;
        ctx.services.docs = docs_.get();
        ctx.services.queue = queue_.get();
        ctx.services.logs = logs_.get();
        ctx.services.clock = [this] { return clock_; };
        ctx.db = db_;
        ctx.user = std::move(user);
        ctx.groups = std::move(groups);
        ctx.admin = admin;
        return ctx;
    }

    // Runs one operation in its own call object, as the front end does.
    template <class F> api_result call(const api_context& ctx, F&& op) {
        api_result res;
        api a(ctx);
        op(a, res);
        return res;
    }

    // The sqlite3 shell's answer to a query on the database file (after our commits).
    std::string shell(const std::string& sql) const {
        std::string cmd = "sqlite3 '" + path_.string() + "' \"" + sql + "\" 2>&1";
        std::string out;
        if (FILE* p = ::popen(cmd.c_str(), "r")) {
            char buf[4096];
            while (std::size_t n = std::fread(buf, 1, sizeof buf, p))
                out.append(buf, n);
            ::pclose(p);
        }
        return out;
    }

    fs::path dir_;
    fs::path path_;
    sqlite3* db_ = nullptr;
    std::unique_ptr<config_stores> stores_;
    std::unique_ptr<docstorage> docs_;
    std::unique_ptr<fetchqueue> queue_;
    std::unique_ptr<logstorage> logs_;
    std::int64_t clock_ = 1700000000; // 2023-11-14 22:13:20 UTC, a Tuesday
};

} // namespace apiops4
