// The daemon's database connections: every thread and job opens its own connection to
// trawlnest.db in the data directory. The dbconfig table records the database's identity
// (PlatformGUID, made once when the table is created) and its schema version.
#pragma once

#include <sqlite3.h>

#include <string>

namespace lumbrake {

class config;

// The synchronous level from SyncLevel: its value when the text is "0" or a number from 1 to 3
// (digits may be followed by other text, as the C library reads numbers); otherwise 1.
int sync_level(const config& cfg);

// Empty when the database file is intact by SQLite's quick_check (or missing: it is made on
// open); else what the check (or the attempt to open it) found.
std::string database_damage(const std::string& path);

// Opens "trawlnest.db" in the current directory (the data directory) in WAL mode (readers beside
// the writer), with a busy timeout, and applies the synchronous level; the connection keeps the
// storages' statements prepared (util/sqlite_stmt.h). Failing to open is fatal.
sqlite3* open_db(const config& cfg);

// Finalises the kept statements and closes a connection; a failure (statements still open) is
// fatal.
void close_db(sqlite3* db);

// Creates the dbconfig table with its PlatformGUID and SchemaVersion rows when it is missing.
// Runs inside the caller's exclusive transaction.
void init_dbconfig(sqlite3* db);

// The PlatformGUID row; a database without it is fatal.
void read_platform_guid(sqlite3* db, std::string& guid);

// One thread's connection, closed by its owner.
class db_connection {
public:
    explicit db_connection(const config& cfg) : db_(open_db(cfg)) {}
    ~db_connection() { close_db(db_); }
    db_connection(const db_connection&) = delete;
    db_connection& operator=(const db_connection&) = delete;

    sqlite3* get() const { return db_; }
    operator sqlite3*() const { return db_; }

private:
    sqlite3* db_;
};

} // namespace lumbrake
