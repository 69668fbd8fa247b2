#include "util/sqlite_txn.h"

#include "util/log.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <random>
#include <string>
#include <thread>

namespace lumbrake {

namespace {

std::mutex& storage_mutex() {
    static std::mutex m;
    return m;
}

// Executes `sql`, sleeping a random 0..2^min(n,8)-1 ms before retry n while the database is
// busy; there is no limit on the number of retries.
int exec_waiting(sqlite3* db, const char* sql) {
    thread_local std::minstd_rand rng{std::random_device{}()};
    int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    for (unsigned n = 0; rc == SQLITE_BUSY; ++n) {
        unsigned span = 1u << std::min(n, 8u);
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % span));
        rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    }
    return rc;
}

} // namespace

void sqlite_fatal(sqlite3* db, const char* file, unsigned long line) {
    std::string text = "SQLite error: [";
    text += std::to_string(db ? sqlite3_errcode(db) : SQLITE_MISUSE);
    text += "] ";
    text += db ? sqlite3_errmsg(db) : "no database connection";
    assertion_failed(text.c_str(), file, line);
}

int begin_exclusive_transaction(sqlite3* db) {
    storage_mutex().lock();
    int rc = exec_waiting(db, "begin exclusive transaction");
    if (rc != SQLITE_OK) sqlite_fatal(db, __FILE__, __LINE__);
    return rc;
}

int commit_transaction(sqlite3* db) {
    int rc = exec_waiting(db, "commit transaction");
    if (rc != SQLITE_OK) sqlite_fatal(db, __FILE__, __LINE__);
    storage_mutex().unlock();
    return rc;
}

} // namespace lumbrake
