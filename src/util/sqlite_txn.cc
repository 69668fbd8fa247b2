#include "util/sqlite_txn.h"

#include "util/log.h"
#include "util/sqlite_stmt.h"

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

thread_local bool holds_storage_mutex = false;
thread_local bool failure_pending = false;

void release_storage_mutex() {
    if (!holds_storage_mutex) return;
    holds_storage_mutex = false;
    storage_mutex().unlock();
}

bool storage_failure(int code) {
    switch (code & 0xff) {
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return true;
    default:
        return false;
    }
}

// Executes `sql`, sleeping a random 0..2^min(n,8)-1 ms before retry n while the database is
// busy; there is no limit on the number of retries. On a connection that keeps statements the
// statement stays prepared there (every crawled page begins and commits at least once, and
// parsing the text again each time cost more than running it); the result, the connection's
// error code and message are those sqlite3_exec leaves.
int exec_waiting(sqlite3* db, const char* sql) {
    thread_local std::minstd_rand rng{std::random_device{}()};
    // Not fatal here: a text that fails to prepare fails in sqlite3_exec, on the paths below.
    sqlite_stmt_detail::kept_slot* slot = sqlite_stmt_detail::borrow(db, sql, nullptr, 0);
    auto run = [db, sql, slot] {
        if (!slot) return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
        sqlite3_step(slot->st);
        // The step's result, an error with its message moved onto the connection, as
        // sqlite3_exec's finalize does; the statement is ready to run again.
        return sqlite3_reset(slot->st);
    };
    int rc = run();
    for (unsigned n = 0; rc == SQLITE_BUSY; ++n) {
        unsigned span = 1u << std::min(n, 8u);
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % span));
        rc = run();
    }
    if (slot) slot->busy.store(false, std::memory_order_release);
    return rc;
}

} // namespace

void sqlite_fatal(sqlite3* db, const char* file, unsigned long line) {
    const int code = db ? sqlite3_extended_errcode(db) : SQLITE_MISUSE;
    std::string text = "SQLite error: [";
    text += std::to_string(db ? sqlite3_errcode(db) : SQLITE_MISUSE);
    text += "] ";
    text += db ? sqlite3_errmsg(db) : "no database connection";
    if (storage_failure(code)) {
        TN_LOG(LF_LOG, LL_ERROR, text << " at " << file << "(" << line << ")");
        failure_pending = true;
        throw sqlite_error(text, code & 0xff);
    }
    assertion_failed(text.c_str(), file, line);
}

namespace {

void abort_transaction(sqlite3* db) {
    if (db && !sqlite3_get_autocommit(db))
        sqlite3_exec(db, "rollback transaction", nullptr, nullptr, nullptr);
    failure_pending = false;
    release_storage_mutex();
}

int begin_exclusive_transaction(sqlite3* db) {
    storage_mutex().lock();
    holds_storage_mutex = true;
    failure_pending = false;
    int rc = exec_waiting(db, "begin exclusive transaction");
    if (rc != SQLITE_OK) {
        if (storage_failure(sqlite3_extended_errcode(db))) release_storage_mutex();
        sqlite_fatal(db, __FILE__, __LINE__);
    }
    return rc;
}

int commit_transaction(sqlite3* db) {
    int rc = exec_waiting(db, "commit transaction");
    if (rc != SQLITE_OK) {
        const int code = sqlite3_extended_errcode(db);
        if (storage_failure(code)) {
            const std::string text = "SQLite error: [" + std::to_string(sqlite3_errcode(db)) +
                                     "] " + sqlite3_errmsg(db);
            TN_LOG(LF_LOG, LL_ERROR, text << " at commit");
            if (!sqlite3_get_autocommit(db))
                sqlite3_exec(db, "rollback transaction", nullptr, nullptr, nullptr);
            release_storage_mutex();
            failure_pending = true;
            throw sqlite_error(text, code & 0xff);
        }
        sqlite_fatal(db, __FILE__, __LINE__);
    }
    release_storage_mutex();
    return rc;
}

} // namespace

bool storage_failure_pending() {
    return failure_pending;
}

storage_transaction::~storage_transaction() {
    if (!open_) return;
    open_ = false;
    if (storage_failure_pending()) {
        abort_transaction(db_);
        return;
    }
    try {
        commit_transaction(db_);
    } catch (const sqlite_error&) {
        abort_transaction(db_);
    }
}

void storage_transaction::begin() {
    begin_exclusive_transaction(db_);
    open_ = true;
}

void storage_transaction::commit() {
    open_ = false;
    commit_transaction(db_);
}

void storage_transaction::rollback() {
    open_ = false;
    abort_transaction(db_);
}

void wait_for_storage_writers() {
    // The thread's own transaction would be waited for for ever.
    if (holds_storage_mutex) return;
    std::lock_guard<std::mutex> passed(storage_mutex());
}

storage_quiet::storage_quiet() {
    storage_mutex().lock();
    holds_storage_mutex = true;
}

storage_quiet::~storage_quiet() {
    release_storage_mutex();
}

storage_snapshot::storage_snapshot(sqlite3* db) : db_(db) {
    if (!sqlite3_get_autocommit(db_)) return;
    if (exec_waiting(db_, "begin deferred transaction") != SQLITE_OK)
        sqlite_fatal(db_, __FILE__, __LINE__);
    open_ = true;
}

void storage_snapshot::end() {
    if (!open_) return;
    open_ = false;
    if (!sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "rollback transaction", nullptr, nullptr, nullptr);
}

} // namespace lumbrake
