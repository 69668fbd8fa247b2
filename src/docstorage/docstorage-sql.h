// Helpers shared by the document store's operations, over util's prepared statements.
#pragma once

#include "util/sqlite_stmt.h"

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace lumbrake::docstorage_sql {

// Runs one statement without rows or bound values; any error is fatal.
inline void exec(sqlite3* db, const char* sql,
                 call_site where = {}) {
    sqlite_statement(db, sql, where).run(where);
}

// Inflates one blob column beside its length column. A damaged stored blob is logged and
// read as an empty value: one bad row must not end the daemon on every read of it.
std::string inflate_column(const sqlite_statement& st, int blob_column, int length_column,
                           const std::string& guid, const char* what);

// The counters of one doccount row (0 and 0 when the row is missing), and their rewrite.
void read_counter(sqlite3* db, std::uint32_t arcid, std::int32_t& ndocs, std::int64_t& nbytes);
void write_counter(sqlite3* db, std::uint32_t arcid, std::int32_t ndocs, std::int64_t nbytes);

} // namespace lumbrake::docstorage_sql
