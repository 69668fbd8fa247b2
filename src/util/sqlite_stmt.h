// One prepared SQLite statement of the calling thread's connection, finalised on every path.
// Values are bound, never quoted into the text, so a value holding a NUL byte is stored and
// compared whole. Every failure is reported through sqlite_fatal with the caller's file and
// line: a storage failure throws sqlite_error, anything else is a fatal assertion.
//
// Statements run once per document (the crawl's store, log and queue) may stay prepared on
// their connection instead: constructed with `keep_prepared`, a statement is taken from the
// connection's kept set (prepared on first use) and given back reset, its values cleared, at
// the end of its scope. Only connections that keep_statements was called for keep any (the
// daemon's, from open_db; drop_kept_statements finalises them before the connection closes);
// on any other connection, or while the same text is in use further up the stack, it is an
// ordinary statement of its own.
#pragma once

#include "util/sqlite_txn.h"

#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace lumbrake {

// The caller's file and line, filled where a default argument is evaluated, that is at the
// call. std::source_location would do, but the clang of the fuzz build lacks it.
struct call_site {
    const char* file;
    int line;
    constexpr call_site(const char* f = __builtin_FILE(), int l = __builtin_LINE())
        : file(f), line(l) {}
};

// Statements of `db` may be kept prepared from now on. The connection must not close before
// drop_kept_statements.
void keep_statements(sqlite3* db);
// Finalises the connection's kept statements and forgets it; a no-op for a connection that
// keeps none. Called before the connection closes, when none of its statements is in use.
void drop_kept_statements(sqlite3* db);
// The number of statements kept for the connection (0 for one that keeps none).
std::size_t kept_statement_count(sqlite3* db);

struct keep_prepared_t {
    explicit constexpr keep_prepared_t() = default;
};
inline constexpr keep_prepared_t keep_prepared{};

namespace sqlite_stmt_detail {
struct kept_slot {
    sqlite3_stmt* st = nullptr;
    std::atomic<bool> busy{false};
};
// The connection's kept statement for `sql`, prepared on first use and marked busy; null when
// the connection keeps none, the statement is busy or the connection keeps its most already.
// A text that fails to prepare is fatal (sqlite_fatal with `file` and `line`), or with a null
// `file` only not kept: the caller then runs it its own way and meets the failure there.
kept_slot* borrow(sqlite3* db, std::string_view sql, const char* file, int line);
} // namespace sqlite_stmt_detail

class sqlite_statement {
public:
    sqlite_statement(sqlite3* db, const char* sql, call_site where = {}) : db_(db) {
        check(sqlite3_prepare_v2(db_, sql, -1, &st_, nullptr), where);
    }
    // Kept prepared on the connection when it keeps statements (see above).
    sqlite_statement(sqlite3* db, const char* sql, keep_prepared_t, call_site where = {})
        : db_(db), slot_(sqlite_stmt_detail::borrow(db, sql, where.file, where.line)) {
        if (slot_)
            st_ = slot_->st;
        else
            check(sqlite3_prepare_v2(db_, sql, -1, &st_, nullptr), where);
    }
    ~sqlite_statement() {
        if (!slot_) {
            sqlite3_finalize(st_);
            return;
        }
        // Reset, so that it holds no read snapshot open; cleared, so that it keeps no copy of
        // a page's blobs until its next use.
        sqlite3_reset(st_);
        sqlite3_clear_bindings(st_);
        slot_->busy.store(false, std::memory_order_release);
    }
    sqlite_statement(const sqlite_statement&) = delete;
    sqlite_statement& operator=(const sqlite_statement&) = delete;

    sqlite_statement& bind(int index, std::int64_t value, call_site where = {}) {
        check(sqlite3_bind_int64(st_, index, value), where);
        return *this;
    }
    // A copy of every byte, zero bytes included.
    sqlite_statement& bind(int index, std::string_view text, call_site where = {}) {
        check(sqlite3_bind_text64(st_, index, text.data(), text.size(), SQLITE_TRANSIENT,
                                  SQLITE_UTF8),
              where);
        return *this;
    }
    // A copy of the bytes; an empty value is a zero-length blob, never NULL.
    sqlite_statement& bind_blob(int index, const void* data, std::size_t size,
                                call_site where = {}) {
        static const char empty = 0;
        check(sqlite3_bind_blob64(st_, index, size ? data : &empty, size, SQLITE_TRANSIENT), where);
        return *this;
    }

    // SQLITE_ROW or SQLITE_DONE; anything else is a failure.
    int step(call_site where = {}) {
        int rc = sqlite3_step(st_);
        check(rc, where);
        return rc;
    }
    // True while rows come; false at the end.
    bool next(call_site where = {}) { return step(where) == SQLITE_ROW; }
    // A statement without rows (or whose rows are not wanted).
    void run(call_site where = {}) {
        while (next(where)) {
        }
    }
    // Makes the statement ready to run again; bound values stay until bound anew. (The result
    // sqlite3_reset repeats is that of the last step, already checked there.)
    sqlite_statement& reset() {
        sqlite3_reset(st_);
        return *this;
    }
    // The raw result, for callers that handle a constraint or a busy database themselves.
    int step_result() { return sqlite3_step(st_); }

    std::int64_t integer(int column) const { return sqlite3_column_int64(st_, column); }
    // A stored number as 32 unsigned bits, clamped (the storages write nothing else there).
    std::uint32_t u32(int column) const {
        std::int64_t v = integer(column);
        if (v < 0) return 0;
        if (v > std::numeric_limits<std::uint32_t>::max())
            return std::numeric_limits<std::uint32_t>::max();
        return static_cast<std::uint32_t>(v);
    }
    // The low 32 bits of a stored number as a signed value: a 32-bit value stored through a
    // signed bind (a CRC) reads back whole as static_cast<std::uint32_t>(i32(column)).
    std::int32_t i32(int column) const { return static_cast<std::int32_t>(integer(column)); }
    std::string text(int column) const {
        const unsigned char* p = sqlite3_column_text(st_, column);
        return p ? std::string(reinterpret_cast<const char*>(p),
                               static_cast<std::size_t>(sqlite3_column_bytes(st_, column)))
                 : std::string();
    }
    const void* blob(int column) const { return sqlite3_column_blob(st_, column); }
    std::size_t bytes(int column) const {
        return static_cast<std::size_t>(sqlite3_column_bytes(st_, column));
    }

    sqlite3_stmt* handle() const { return st_; }

private:
    void check(int rc, const call_site& where) const {
        if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE)
            sqlite_fatal(db_, where.file, where.line);
    }

    sqlite3* db_;
    sqlite3_stmt* st_ = nullptr;
    sqlite_stmt_detail::kept_slot* slot_ = nullptr;
};

} // namespace lumbrake
