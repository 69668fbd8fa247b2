// Small RAII helpers over the SQLite C interface for the document store: formatted statement
// texts, prepared statements that finalise themselves, and the fatal check of every call.
#pragma once

#include "util/sqlite_txn.h"

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace lumbrake::docstorage_sql {

// Where a statement was run, for the fatal report (the caller's file and line by default).
struct call_site {
    const char* file;
    unsigned long line;
};

[[noreturn]] inline void fatal(sqlite3* db, const call_site& where) {
    sqlite_fatal(db, where.file, where.line);
}

// A statement text built with sqlite3_mprintf (%q quoting) and freed with it.
class text {
public:
    template <class... Args> text(sqlite3* db, const char* format, Args... args) {
        sql_ = sqlite3_mprintf(format, args...);
        if (!sql_) fatal(db, {__FILE__, __LINE__});
    }
    ~text() { sqlite3_free(sql_); }
    text(const text&) = delete;
    text& operator=(const text&) = delete;
    const char* c_str() const { return sql_; }

private:
    char* sql_ = nullptr;
};

// Executes a statement without rows; any error is fatal.
inline void exec(sqlite3* db, const char* sql,
                 call_site where = {__builtin_FILE(), __builtin_LINE()}) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) fatal(db, where);
}

// A prepared statement, finalised when it goes out of scope.
class statement {
public:
    statement(sqlite3* db, const char* sql, call_site where = {__builtin_FILE(), __builtin_LINE()})
        : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) fatal(db, where);
    }
    ~statement() { sqlite3_finalize(stmt_); }
    statement(const statement&) = delete;
    statement& operator=(const statement&) = delete;

    // Binds a copy of the bytes (an empty value is a zero-length blob, never NULL).
    void bind_blob(int index, const std::string& bytes,
                   call_site where = {__builtin_FILE(), __builtin_LINE()}) {
        if (sqlite3_bind_blob64(stmt_, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT) !=
            SQLITE_OK)
            fatal(db_, where);
    }
    // True on a row, false at the end; anything else is fatal.
    bool row(call_site where = {__builtin_FILE(), __builtin_LINE()}) {
        int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        fatal(db_, where);
    }
    // A statement that writes: its one step must end with SQLITE_DONE.
    void done(call_site where = {__builtin_FILE(), __builtin_LINE()}) {
        if (sqlite3_step(stmt_) != SQLITE_DONE) fatal(db_, where);
    }

    std::int64_t int64(int column) const { return sqlite3_column_int64(stmt_, column); }
    std::uint32_t u32(int column) const { return static_cast<std::uint32_t>(int64(column)); }
    std::int32_t i32(int column) const { return static_cast<std::int32_t>(int64(column)); }
    std::string str(int column) const {
        const auto* p = sqlite3_column_text(stmt_, column);
        int n = sqlite3_column_bytes(stmt_, column);
        return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n))
                 : std::string();
    }
    const void* blob(int column) const { return sqlite3_column_blob(stmt_, column); }
    std::size_t bytes(int column) const {
        return static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column));
    }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// The counters of one doccount row (0 and 0 when the row is missing), and their rewrite.
void read_counter(sqlite3* db, std::uint32_t arcid, std::int32_t& ndocs, std::int64_t& nbytes);
void write_counter(sqlite3* db, std::uint32_t arcid, std::int32_t ndocs, std::int64_t nbytes);

} // namespace lumbrake::docstorage_sql
