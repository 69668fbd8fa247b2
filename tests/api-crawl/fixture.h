// A scratch trawlnest.db with the storages the operations touch, a settable clock, and a
// context per caller. The index client stays absent: these operations never search.
#pragma once

#include "../support/api_fixture.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>

namespace apiops4 {

namespace fs = std::filesystem;
using namespace lumbrake;

class scratch_db : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = tn_test::test_scratch("apiops4");
        path_ = dir_ / "trawlnest.db";
        storages_ = std::make_unique<tn_test::api_storages>(path_, [this] { return clock_; });
        db_ = storages_->db();
        docs_ = &storages_->docs();
        queue_ = &storages_->queue();
        logs_ = &storages_->logs();
    }
    void TearDown() override {
        storages_.reset();
        fs::remove_all(dir_);
    }

    api_context context(bool admin, std::string user = "alice",
                        std::vector<std::string> groups = {}) {
        api_context ctx;
        storages_->fill(ctx.services);
        ctx.services.clock = [this] { return clock_; };
        ctx.db = db_;
        ctx.user = std::move(user);
        ctx.groups = std::move(groups);
        ctx.admin = admin;
        return ctx;
    }

    // Runs one operation in its own call object, as the front end does.
    template <class F> api_result call(const api_context& ctx, F&& op) {
        return tn_test::call_api(ctx, std::forward<F>(op));
    }

    // The sqlite3 shell's answer to a query on the database file (after our commits).
    std::string shell(const std::string& sql) const { return tn_test::sqlite_shell(path_, sql); }

    fs::path dir_;
    fs::path path_;
    std::unique_ptr<tn_test::api_storages> storages_;
    sqlite3* db_ = nullptr;
    docstorage* docs_ = nullptr;
    fetchqueue* queue_ = nullptr;
    logstorage* logs_ = nullptr;
    std::int64_t clock_ = 1700000000; // 2023-11-14 22:13:20 UTC, a Tuesday
};

} // namespace apiops4
