// A scratch daemon for the operation tests: a folder with the configuration file, a plug-in
// folder, the environment store, the database with its storages, and an api_context per
// caller. The index server is started only by tests that ask for it.
#pragma once

#include "../support/api_fixture.h"
#include "../support/log_capture.h"
#include "apiops/api-common.h"
#include "docstorage/docstorage.h"
#include "fetchqueue/fetchqueue.h"
#include "idxstorage/idxstorage.h"
#include "logstorage/logstorage.h"
#include "trawlnestd/cfgstorage.h"
#include "util/config.h"
#include "util/log.h"
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

namespace apiops3 {

namespace fs = std::filesystem;

using tn_test::log_capture;

class daemon_env {
public:
    // plugins: paths of the shared objects to install into DEPLOYDIR/plugins.
    explicit daemon_env(const std::vector<std::string>& plugins = {}) {
        root_ = tn_test::test_scratch("apiops3");
        fs::create_directories(root_ / "deploy" / "plugins");
        fs::create_directories(root_ / "deploy" / "bin");
        fs::create_directories(root_ / "data");
        for (const std::string& p : plugins)
            fs::copy_file(p, root_ / "deploy" / "plugins" / fs::path(p).filename());
        {
            std::ofstream cfg(root_ / "trawlnest.cfg");
            cfg << "DEPLOYDIR=" << (root_ / "deploy").string() << "\n";
        }
        {
            std::ofstream env(root_ / "environment");
            env << "LUMBRAKE_CONFIG_FILE=" << (root_ / "trawlnest.cfg").string() << "\n";
        }
        ::setenv("LUMBRAKE_ENV_STORE", (root_ / "environment").c_str(), 1);
        cfg_ = std::make_unique<lumbrake::config>((root_ / "trawlnest.cfg").c_str());

        storages_ = std::make_unique<tn_test::api_storages>(root_ / "data" / "trawlnest.db",
                                                            [this] { return now; });
        db_ = storages_->db();

        services_.cfg = cfg_.get();
        services_.platform_id = "0123456789abcdef0123456789abcdef";
        storages_->fill(services_);
        services_.clock = [this] { return now; };
    }
    ~daemon_env() {
        index_.reset();
        if (cwd_changed_) {
            std::error_code ec;
            fs::current_path(old_cwd_, ec);
        }
        storages_.reset();
        ::unsetenv("LUMBRAKE_ENV_STORE");
    }

    // Starts the real index server (working inside the data folder, where it keeps "index").
    void start_index() {
        fs::create_symlink(TN_SIFTVAULT, root_ / "deploy" / "bin" / "siftvault");
        old_cwd_ = fs::current_path();
        fs::current_path(root_ / "data");
        cwd_changed_ = true;
        index_ = std::make_unique<lumbrake::idxstorage>();
        services_.index = index_.get();
    }

    lumbrake::api_context context(const std::string& user = "admin", bool admin = true,
                                  std::vector<std::string> groups = {}) const {
        lumbrake::api_context ctx;
        ctx.services = services_;
        ctx.db = db_;
        ctx.user = user;
        ctx.groups = std::move(groups);
        ctx.admin = admin;
        return ctx;
    }

    // Runs a statement outside any call (a test's own look at the tables).
    std::vector<std::string> column(const std::string& sql) const {
        std::vector<std::string> out;
        sqlite3_stmt* st = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
        while (sqlite3_step(st) == SQLITE_ROW) {
            const unsigned char* t = sqlite3_column_text(st, 0);
            out.emplace_back(t ? reinterpret_cast<const char*>(t) : "");
        }
        sqlite3_finalize(st);
        return out;
    }

    sqlite3* db() const { return db_; }
    lumbrake::docstorage& docs() { return storages_->docs(); }
    lumbrake::logstorage& logs() { return storages_->logs(); }
    lumbrake::fetchqueue& queue() { return storages_->queue(); }
    lumbrake::idxstorage& index() { return *index_; }
    fs::path root() const { return root_; }

    std::int64_t now = 1773138300; // 2026-03-10 10:25 UTC

private:
    fs::path root_;
    fs::path old_cwd_;
    bool cwd_changed_ = false;
    std::unique_ptr<lumbrake::config> cfg_;
    std::unique_ptr<tn_test::api_storages> storages_;
    sqlite3* db_ = nullptr;
    std::unique_ptr<lumbrake::idxstorage> index_;
    lumbrake::crawl_services services_;
};

using tn_test::allow;

} // namespace apiops3
