// What the API operation tests share: a scratch folder per test, the storages an operation
// reaches over one scratch database, one call per call object, the sqlite3 shell's view of the
// database file, and access entries.
#pragma once

#include "http_client.h"
#include "scratch.h"

#include "apiops/api-common.h"
#include "docstorage/docstorage.h"
#include "fetchqueue/fetchqueue.h"
#include "logstorage/logstorage.h"
#include "trawlnestd/cfgstorage.h"
#include "util/sqlite_txn.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace tn_test {

// The configuration stores, document store, fetch queue (on the given clock) and log store over
// one database file, created in one transaction. The file is scratch data: no waiting for the
// disk.
class api_storages {
public:
    api_storages(const std::filesystem::path& file, std::function<std::int64_t()> clock) {
        EXPECT_EQ(sqlite3_open(file.c_str(), &db_), SQLITE_OK);
        sqlite3_exec(db_, "pragma synchronous=off", nullptr, nullptr, nullptr);
        lumbrake::storage_transaction txn(db_);
        stores_ = std::make_unique<lumbrake::config_stores>(db_);
        docs_ = std::make_unique<lumbrake::docstorage>(db_);
        queue_ = std::make_unique<lumbrake::fetchqueue>(db_, 0, std::move(clock));
        logs_ = std::make_unique<lumbrake::logstorage>(db_);
    }
    ~api_storages() {
        logs_.reset();
        queue_.reset();
        docs_.reset();
        stores_.reset();
        sqlite3_close(db_);
    }
    api_storages(const api_storages&) = delete;
    api_storages& operator=(const api_storages&) = delete;

    // The storages into the services an operation reads.
    void fill(lumbrake::crawl_services& services) const {
        services.docs = docs_.get();
        services.queue = queue_.get();
        services.logs = logs_.get();
    }

    sqlite3* db() const { return db_; }
    lumbrake::docstorage& docs() const { return *docs_; }
    lumbrake::fetchqueue& queue() const { return *queue_; }
    lumbrake::logstorage& logs() const { return *logs_; }

private:
    sqlite3* db_ = nullptr;
    std::unique_ptr<lumbrake::config_stores> stores_;
    std::unique_ptr<lumbrake::docstorage> docs_;
    std::unique_ptr<lumbrake::fetchqueue> queue_;
    std::unique_ptr<lumbrake::logstorage> logs_;
};

// One operation in its own call object (its own transaction), as the front end runs them.
template <class F> lumbrake::api_result call_api(const lumbrake::api_context& c, F&& op) {
    lumbrake::api a(c);
    lumbrake::api_result res;
    op(a, res);
    return res;
}

// What the sqlite3 shell (with its options) prints for a statement on the database file.
inline std::string sqlite_shell(const std::filesystem::path& file, const std::string& statement,
                                const std::string& options = "") {
    return sqlite_output(file.string(), statement, options);
}

inline lumbrake::AccessSpec allow(const std::string& name, lumbrake::AccessType access) {
    return lumbrake::AccessSpec{name, access, false};
}
inline lumbrake::AccessSpec deny(const std::string& name, lumbrake::AccessType access) {
    return lumbrake::AccessSpec{name, access, true};
}

} // namespace tn_test
