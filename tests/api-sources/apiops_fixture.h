// A scratch database with the configuration stores and the storages, and the callers the
// operations are run for.
#pragma once

#include "../support/api_fixture.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace apiops_test {

namespace fs = std::filesystem;
using namespace lumbrake;
using tn_test::allow;
using tn_test::deny;

inline std::string run(const std::string& command) {
    return tn_test::command_output(command + " 2>&1");
}

class api_db : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = tn_test::test_scratch("apiops1");
        storages_ = std::make_unique<tn_test::api_storages>(dir_ / "trawlnest.db",
                                                            [this] { return now_; });
        db_ = storages_->db();
        docs_ = &storages_->docs();
        queue_ = &storages_->queue();
        logs_ = &storages_->logs();
        storages_->fill(base_.services);
        base_.services.clock = [this] { return now_; };
        base_.db = db_;
    }
    void TearDown() override {
        storages_.reset();
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
        return tn_test::call_api(c, std::forward<F>(f));
    }

    // Direct writes to the configuration store, each in its own transaction.
    template <class T> int put(const T& record) {
        storage_transaction txn(db_);
        std::uint32_t magic = 0;
        return cfgstorage<T>::add(db_, record, magic);
    }
    void put_root_acl(int type, const RootACL& acl) {
        storage_transaction txn(db_);
        std::uint32_t magic = 0;
        RootACL old;
        cfgstorage<RootACL>::get(db_, type, old, magic);
        EXPECT_TRUE(cfgstorage<RootACL>::set(db_, type, acl, magic));
    }
    template <class T> void erase(int id) {
        storage_transaction txn(db_);
        cfgstorage<T>::remove(db_, id);
    }

    // What the sqlite3 shell reads from the database file.
    std::string sql(const std::string& statement) const {
        return tn_test::sqlite_shell(dir_ / "trawlnest.db", statement, "-separator ' '");
    }

    fs::path dir_;
    std::unique_ptr<tn_test::api_storages> storages_;
    sqlite3* db_ = nullptr;
    docstorage* docs_ = nullptr;
    fetchqueue* queue_ = nullptr;
    logstorage* logs_ = nullptr;
    api_context base_;
    std::int64_t now_ = 1700000000; // 2023-11-14 22:13:20 UTC
};

} // namespace apiops_test
