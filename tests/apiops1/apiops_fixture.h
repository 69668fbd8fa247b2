// A scratch database with the configuration stores and the storages, and the callers the
// operations are run for.
#pragma once

#include "apiops/api-common.h"
#include "docstorage/docstorage.h"
#include "fetchqueue/fetchqueue.h"
#include "logstorage/logstorage.h"
#include "trawlnestd/cfgstorage.h"
#include "util/sqlite_txn.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace apiops_test {

namespace fs = std::filesystem;
using namespace lumbrake;

inline std::string run(const std::string& command) {
    std::string out;
    if (std::FILE* p = ::popen((command + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
            out.append(buffer, n);
        ::pclose(p);
    }
    return out;
}

inline AccessSpec allow(const std::string& name, AccessType access) {
    return AccessSpec{name, access, false};
}
inline AccessSpec deny(const std::string& name, AccessType access) {
    return AccessSpec{name, access, true};
}

class api_db : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const char* tmp = std::getenv("TEST_TMPDIR");
        dir_ = fs::path(tmp ? tmp : "/tmp/") /
               (std::string("apiops1.") + info->test_suite_name() + "." + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        ASSERT_EQ(sqlite3_open((dir_ / "trawlnest.db").c_str(), &db_), SQLITE_OK);
        begin_exclusive_transaction(db_);
        stores_ = std::make_unique<config_stores>(db_);
        docs_ = std::make_unique<docstorage>(db_);
        queue_ = std::make_unique<fetchqueue>(db_, 0);
        logs_ = std::make_unique<logstorage>(db_);
        commit_transaction(db_);
        base_.services.docs = docs_.get();
        base_.services.queue = queue_.get();
        base_.services.logs = logs_.get();
        base_.services.clock = [this] { return now_; };
        base_.db = db_;
    }
    void TearDown() override {
        queue_.reset();
        sqlite3_close(db_);
        fs::remove_all(dir_);
    }

    api_context admin() const {
        api_context c = base_;
        c.user = "root";
        c.admin = true;
        return c;
    }
    api_context user(const std::string& name, std::vector<std::string> groups = {}) const {
        api_context c = base_;
        c.user = name;
        c.groups = std::move(groups);
        return c;
    }

    // One call: a call object of its own, as the front end makes one per request.
    template <class F> api_result call(const api_context& c, F&& f) {
        api a(c);
        api_result res;
        f(a, res);
        return res;
    }

    // Direct writes to the configuration store, each in its own transaction.
    template <class T> int put(const T& record) {
        begin_exclusive_transaction(db_);
        std::uint32_t magic = 0;
        int id = cfgstorage<T>::add(db_, record, magic);
        commit_transaction(db_);
        return id;
    }
    void put_root_acl(int type, const RootACL& acl) {
        begin_exclusive_transaction(db_);
        std::uint32_t magic = 0;
        RootACL old;
        cfgstorage<RootACL>::get(db_, type, old, magic);
        EXPECT_TRUE(cfgstorage<RootACL>::set(db_, type, acl, magic));
        commit_transaction(db_);
    }
    template <class T> void erase(int id) {
        begin_exclusive_transaction(db_);
        cfgstorage<T>::remove(db_, id);
        commit_transaction(db_);
    }

    // What the sqlite3 shell reads from the database file.
    std::string sql(const std::string& statement) const {
        return run("sqlite3 -separator ' ' '" + (dir_ / "trawlnest.db").string() + "' \"" +
                   statement + "\"");
    }

    fs::path dir_;
    sqlite3* db_ = nullptr;
    std::unique_ptr<config_stores> stores_;
    std::unique_ptr<docstorage> docs_;
    std::unique_ptr<fetchqueue> queue_;
    std::unique_ptr<logstorage> logs_;
    api_context base_;
    std::int64_t now_ = 1700000000; // 2023-11-14 22:13:20 UTC
};

} // namespace apiops_test
