#include "util/sqlite_txn.h"

#include "util/log.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>

namespace lumbrake {

namespace {

// A run of grouped transactions on one connection sharing one SQLite transaction: each member's
// work is a released savepoint in it; the last member commits for all.
struct commit_group {
    sqlite3* db = nullptr;
    std::chrono::steady_clock::time_point started;
    int members = 0;
    bool joinable = true;
    bool done = false;
    bool failed = false;
    int code = 0;
    std::string text;
};

// At most this many members, and a group takes no new member once it is this old: a thread
// waiting for a transaction of its own (a request, another connection) waits that long at most.
constexpr int max_group_members = 16;
constexpr auto max_group_age = std::chrono::milliseconds(5);

// The storage lock. Not a plain mutex: a commit group's open transaction passes from thread to
// thread, and with it the lock, which the thread that took it does not give back itself.
struct storage_lock {
    std::mutex m;
    std::condition_variable cv;
    bool held = false;
    // Counts the times the lock was given back, for a reader waiting out the holder of now.
    std::uint64_t released = 0;
    // The group holding the lock (none for a single transaction), and whether one of its
    // members works in it now.
    std::shared_ptr<commit_group> group;
    bool member_active = false;
    // Grouped transactions waiting for the lock, per connection.
    std::map<sqlite3*, int> grouped_waiting;
};

storage_lock& lock_state() {
    static storage_lock l;
    return l;
}

thread_local bool holds_storage_mutex = false;
thread_local bool failure_pending = false;
// The code and text of this thread's last storage failure.
thread_local int failure_code = 0;
thread_local std::string failure_text;

void acquire_storage_lock() {
    storage_lock& l = lock_state();
    std::unique_lock<std::mutex> lk(l.m);
    l.cv.wait(lk, [&] { return !l.held; });
    l.held = true;
    holds_storage_mutex = true;
}

// Gives the lock back; with `group`, ends that group (its waiting members go on).
void give_back_storage_lock(storage_lock& l) {
    l.held = false;
    ++l.released;
    l.cv.notify_all();
}

void release_storage_mutex() {
    if (!holds_storage_mutex) return;
    holds_storage_mutex = false;
    storage_lock& l = lock_state();
    std::lock_guard<std::mutex> lk(l.m);
    give_back_storage_lock(l);
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
    const int code = db ? sqlite3_extended_errcode(db) : SQLITE_MISUSE;
    std::string text = "SQLite error: [";
    text += std::to_string(db ? sqlite3_errcode(db) : SQLITE_MISUSE);
    text += "] ";
    text += db ? sqlite3_errmsg(db) : "no database connection";
    if (storage_failure(code)) {
        TN_LOG(LF_LOG, LL_ERROR, text << " at " << file << "(" << line << ")");
        failure_pending = true;
        failure_code = code & 0xff;
        failure_text = text;
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
    acquire_storage_lock();
    failure_pending = false;
    int rc = exec_waiting(db, "begin exclusive transaction");
    if (rc != SQLITE_OK) {
        if (storage_failure(sqlite3_extended_errcode(db))) release_storage_mutex();
        sqlite_fatal(db, __FILE__, __LINE__);
    }
    return rc;
}

std::string error_text(sqlite3* db) {
    return "SQLite error: [" + std::to_string(sqlite3_errcode(db)) + "] " + sqlite3_errmsg(db);
}

int commit_transaction(sqlite3* db) {
    int rc = exec_waiting(db, "commit transaction");
    if (rc != SQLITE_OK) {
        const int code = sqlite3_extended_errcode(db);
        if (storage_failure(code)) {
            const std::string text = error_text(db);
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

// The group of this thread's grouped transaction while it is open.
thread_local std::shared_ptr<commit_group> member_of;

constexpr const char* member_savepoint = "savepoint tn_member";

// Ends `g` (whose COMMIT is done or failed) and gives the lock back; under the lock's mutex.
void close_group(storage_lock& l, const std::shared_ptr<commit_group>& g) {
    g->joinable = false;
    g->done = true;
    if (l.group == g) {
        l.group.reset();
        l.member_active = false;
        give_back_storage_lock(l);
    }
    l.cv.notify_all();
}

void end_grouped(sqlite3* db, bool keep);

// Takes the lock for a grouped transaction on `db`: joins the group open on it between two
// members, or opens a group (and the SQLite transaction) of its own; then opens the member's
// savepoint.
void begin_grouped(sqlite3* db) {
    storage_lock& l = lock_state();
    std::unique_lock<std::mutex> lk(l.m);
    bool counted = false, first = false;
    for (;;) {
        if (!l.held) {
            l.held = true;
            l.group = std::make_shared<commit_group>();
            l.group->db = db;
            l.group->started = std::chrono::steady_clock::now();
            first = true;
        } else if (!l.group || l.group->db != db || !l.group->joinable || l.member_active) {
            if (!counted) ++l.grouped_waiting[db];
            counted = true;
            l.cv.wait(lk);
            continue;
        }
        break;
    }
    if (counted && --l.grouped_waiting[db] == 0) l.grouped_waiting.erase(db);
    l.member_active = true;
    ++l.group->members;
    std::shared_ptr<commit_group> g = l.group;
    lk.unlock();
    holds_storage_mutex = true;
    failure_pending = false;
    if (first && exec_waiting(db, "begin exclusive transaction") != SQLITE_OK) {
        const bool failure = storage_failure(sqlite3_extended_errcode(db));
        if (failure) {
            holds_storage_mutex = false;
            lk.lock();
            close_group(l, g);
            lk.unlock();
        }
        sqlite_fatal(db, __FILE__, __LINE__);
    }
    member_of = g;
    if (sqlite3_exec(db, member_savepoint, nullptr, nullptr, nullptr) != SQLITE_OK) {
        const int code = sqlite3_extended_errcode(db);
        const std::string text = error_text(db);
        if (!storage_failure(code)) sqlite_fatal(db, __FILE__, __LINE__);
        // No savepoint, nothing of this member's to undo: it leaves as a member that kept
        // nothing (the group goes on or commits without it) and fails.
        TN_LOG(LF_LOG, LL_ERROR, text << " at savepoint");
        end_grouped(db, false);
        failure_pending = true;
        throw sqlite_error(text, code & 0xff);
    }
}

// Ends this thread's member of its group: releases its savepoint (keep) or rolls it back, then
// hands the open transaction to a grouped transaction waiting on the same connection, or, as the
// last of the line, commits it. A member that kept its changes returns when the group's COMMIT
// is done and throws sqlite_error when that or its own release failed; one that kept nothing
// returns at once and throws nothing.
void end_grouped(sqlite3* db, bool keep) {
    std::shared_ptr<commit_group> g = std::move(member_of);
    member_of.reset();
    if (!g) return;
    int own_code = 0;
    std::string own_text;
    const bool failed = failure_pending;
    if (keep && sqlite3_exec(db, "release tn_member", nullptr, nullptr, nullptr) != SQLITE_OK) {
        own_code = sqlite3_extended_errcode(db);
        own_text = error_text(db);
        if (!storage_failure(own_code)) sqlite_fatal(db, __FILE__, __LINE__);
        TN_LOG(LF_LOG, LL_ERROR, own_text << " at release");
        keep = false;
    }
    if (!keep) {
        // Either may fail when SQLite rolled the whole transaction back already.
        sqlite3_exec(db, "rollback to tn_member", nullptr, nullptr, nullptr);
        sqlite3_exec(db, "release tn_member", nullptr, nullptr, nullptr);
    }
    failure_pending = false;
    holds_storage_mutex = false;
    // SQLite ends the transaction itself after some failures (a full disk, an I/O error): what
    // the earlier members kept went with it, and they learn it as a failed commit.
    const bool lost = sqlite3_get_autocommit(db) != 0;

    storage_lock& l = lock_state();
    std::unique_lock<std::mutex> lk(l.m);
    l.member_active = false;
    const auto waiting = l.grouped_waiting.find(db);
    const bool hand_on = !lost && waiting != l.grouped_waiting.end() && waiting->second > 0 &&
                         g->members < max_group_members &&
                         std::chrono::steady_clock::now() - g->started < max_group_age;
    if (lost) {
        g->failed = true;
        g->code = own_code ? own_code & 0xff : failed ? failure_code : SQLITE_IOERR;
        g->text = own_code ? own_text : failed ? failure_text : "SQLite error: rolled back";
        g->text += " (the transaction was rolled back)";
        close_group(l, g);
    } else if (hand_on) {
        l.cv.notify_all();
        if (keep) l.cv.wait(lk, [&] { return g->done; });
    } else {
        g->joinable = false;
        lk.unlock();
        int rc = exec_waiting(db, "commit transaction");
        if (rc != SQLITE_OK) {
            const int code = sqlite3_extended_errcode(db);
            g->failed = true;
            g->code = code & 0xff;
            g->text = error_text(db);
            if (!storage_failure(code)) {
                // Fatal for the process; the members waiting are woken first all the same.
                lk.lock();
                close_group(l, g);
                lk.unlock();
                sqlite_fatal(db, __FILE__, __LINE__);
            }
            TN_LOG(LF_LOG, LL_ERROR, g->text << " at commit");
            if (!sqlite3_get_autocommit(db))
                sqlite3_exec(db, "rollback transaction", nullptr, nullptr, nullptr);
        }
        lk.lock();
        close_group(l, g);
    }
    lk.unlock();
    if (own_code) {
        failure_pending = true;
        throw sqlite_error(own_text, own_code & 0xff);
    }
    if (keep && g->failed) {
        failure_pending = true;
        throw sqlite_error(g->text, g->code);
    }
}

} // namespace

bool storage_failure_pending() {
    return failure_pending;
}

storage_transaction::~storage_transaction() {
    if (!open_) return;
    open_ = false;
    if (grouped_) {
        try {
            end_grouped(db_, !storage_failure_pending());
        } catch (const sqlite_error&) {
            failure_pending = false;
        }
        return;
    }
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
    if (grouped_)
        begin_grouped(db_);
    else
        begin_exclusive_transaction(db_);
    open_ = true;
}

void storage_transaction::commit() {
    open_ = false;
    if (grouped_)
        end_grouped(db_, true);
    else
        commit_transaction(db_);
}

void storage_transaction::rollback() {
    open_ = false;
    if (!grouped_) {
        abort_transaction(db_);
        return;
    }
    try {
        end_grouped(db_, false);
    } catch (const sqlite_error&) {
    }
    failure_pending = false;
}

void wait_for_storage_writers() {
    // The thread's own transaction would be waited for for ever.
    if (holds_storage_mutex) return;
    storage_lock& l = lock_state();
    std::unique_lock<std::mutex> lk(l.m);
    if (!l.held) return;
    const std::uint64_t seen = l.released;
    l.cv.wait(lk, [&] { return l.released != seen; });
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
