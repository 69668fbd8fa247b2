// A scratch daemon for the collection, watch, user and status operation tests: a folder with
// the configuration file and the environment store naming it, a database with the
// configuration stores and the document store, a fixed clock and free-space answer, and an
// api_context per caller.
#pragma once

#include "../support/api_fixture.h"
#include "util/config.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace apiops2 {

namespace fs = std::filesystem;

inline constexpr auto& run_command = tn_test::command_output;

class apiops2_test : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = tn_test::test_scratch("apiops2");
        fs::create_directories(root_ / "data");
        write_config("");
        {
            std::ofstream env(root_ / "environment");
            env << "LUMBRAKE_CONFIG_FILE=" << (root_ / "trawlnest.cfg").string() << "\n";
        }
        ::setenv("LUMBRAKE_ENV_STORE", (root_ / "environment").c_str(), 1);
        storages_ = std::make_unique<tn_test::api_storages>(root_ / "trawlnest.db",
                                                            [this] { return now_; });
        db_ = storages_->db();
        docs_ = &storages_->docs();
    }
    void TearDown() override {
        storages_.reset();
        ::unsetenv("LUMBRAKE_ENV_STORE");
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    // The configuration file: DATADIR and the lines given.
    void write_config(const std::string& lines) {
        std::ofstream cfg(root_ / "trawlnest.cfg");
        cfg << "DATADIR=" << (root_ / "data").string() << "\n" << lines;
        cfg.close();
        cfg_ = std::make_unique<lumbrake::config>((root_ / "trawlnest.cfg").c_str());
    }

    lumbrake::api_context ctx(std::string user = "bob", std::vector<std::string> groups = {},
                              bool admin = false) {
        lumbrake::api_context c;
        c.services.cfg = cfg_.get();
        c.services.docs = docs_;
        c.services.clock = [this] { return now_; };
        c.services.free_space = [this](const std::string& path) {
            last_free_path_ = path;
            return free_;
        };
        c.db = db_;
        c.user = std::move(user);
        c.groups = std::move(groups);
        c.admin = admin;
        return c;
    }
    lumbrake::api_context admin() { return ctx("root", {}, true); }

    // Runs one operation in its own call object (its own transaction).
    template <class F> lumbrake::api_result call(const lumbrake::api_context& c, F&& op) {
        lumbrake::api a(c);
        lumbrake::api_result res;
        res.set_error(lumbrake::API_INTERNAL_ERROR); // operations must set their own outcome
        op(a, res);
        return res;
    }

    void set_root_acl(int type, std::vector<lumbrake::AccessSpec> acl) {
        auto c = admin();
        std::uint32_t magic = 0;
        std::vector<lumbrake::AccessSpec> old;
        ASSERT_TRUE(call(c, [&](auto& a, auto& r) { a.get_root_acl(r, type, old, magic); }).ok);
        ASSERT_TRUE(call(c, [&](auto& a, auto& r) { a.set_root_acl(r, type, acl, magic); }).ok);
    }

    // What the sqlite3 shell reads from the database.
    std::string sql(const std::string& statement) {
        return tn_test::sqlite_shell(root_ / "trawlnest.db", statement);
    }

    fs::path root_;
    sqlite3* db_ = nullptr;
    std::unique_ptr<lumbrake::config> cfg_;
    std::unique_ptr<tn_test::api_storages> storages_;
    lumbrake::docstorage* docs_ = nullptr;
    std::int64_t now_ = 1700000000;
    std::uint64_t free_ = 10ULL << 30;
    std::string last_free_path_;
};

using tn_test::allow;
using tn_test::deny;

} // namespace apiops2
