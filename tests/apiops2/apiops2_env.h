// A scratch daemon for the collection, watch, user and status operation tests: a folder with
// the configuration file and the environment store naming it, a database with the
// configuration stores and the document store, a fixed clock and free-space answer, and an
// api_context per caller.
#pragma once

#include "apiops/api-common.h"
#include "docstorage/docstorage.h"
#include "trawlnestd/cfgstorage.h"
#include "util/config.h"
#include "util/sqlite_txn.h"

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

inline std::string run_command(const std::string& cmd) {
    std::string out;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        while (std::size_t n = std::fread(buf, 1, sizeof buf, p))
            out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

class apiops2_test : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const char* tmp = std::getenv("TEST_TMPDIR");
        root_ = fs::path(tmp ? tmp : "/tmp/") /
                (std::string("apiops2.") + info->test_suite_name() + "." + info->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "data");
        write_config("");
        {
            std::ofstream env(root_ / "environment");
            env << "LUMBRAKE_CONFIG_FILE=" << (root_ / "trawlnest.cfg").string() << "\n";
        }
        ::setenv("LUMBRAKE_ENV_STORE", (root_ / "environment").c_str(), 1);
        ASSERT_EQ(sqlite3_open((root_ / "trawlnest.db").c_str(), &db_), SQLITE_OK);
        lumbrake::begin_exclusive_transaction(db_);
        stores_ = std::make_unique<lumbrake::config_stores>(db_);
        docs_ = std::make_unique<lumbrake::docstorage>(db_);
        lumbrake::commit_transaction(db_);
    }
    void TearDown() override {
        docs_.reset();
        stores_.reset();
        sqlite3_close(db_);
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
        c.services.docs = docs_.get();
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
        return run_command("sqlite3 '" + (root_ / "trawlnest.db").string() + "' \"" + statement +
                           "\" 2>&1");
    }

    fs::path root_;
    sqlite3* db_ = nullptr;
    std::unique_ptr<lumbrake::config> cfg_;
    std::unique_ptr<lumbrake::config_stores> stores_;
    std::unique_ptr<lumbrake::docstorage> docs_;
    std::int64_t now_ = 1700000000;
    std::uint64_t free_ = 10ULL << 30;
    std::string last_free_path_;
};

inline lumbrake::AccessSpec allow(std::string name, lumbrake::AccessType access) {
    return {std::move(name), access, false};
}
inline lumbrake::AccessSpec deny(std::string name, lumbrake::AccessType access) {
    return {std::move(name), access, true};
}

} // namespace apiops2
