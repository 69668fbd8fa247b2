// Storage transactions: every multi-statement change of the daemon's SQLite database runs
// between begin_exclusive_transaction and commit_transaction, under one process-wide mutex.
#pragma once

#include <sqlite3.h>

#include <stdexcept>
#include <string>

namespace lumbrake {

// A failure of the storage itself rather than of the program: the volume is full, a read or
// write failed, or the file is damaged. It ends the request or crawl step that met it (the
// caller rolls back with abort_transaction), not the process.
class sqlite_error : public std::runtime_error {
public:
    sqlite_error(const std::string& text, int code) : std::runtime_error(text), code_(code) {}
    // The primary result code (SQLITE_FULL, SQLITE_IOERR, SQLITE_CORRUPT, SQLITE_NOTADB).
    int code() const { return code_; }

private:
    int code_;
};

// Locks the storage mutex (held until commit_transaction on the same thread; never nest) and
// executes "begin exclusive transaction", retrying after a random wait of up to 255 ms while
// the database is busy. Any other error is fatal (sqlite_fatal). Returns SQLITE_OK.
int begin_exclusive_transaction(sqlite3* db);

// Executes "commit transaction" (waiting out a busy database the same way), then unlocks the
// storage mutex. Any other error is fatal; a storage failure rolls back, releases the mutex and
// throws sqlite_error. Returns SQLITE_OK.
int commit_transaction(sqlite3* db);

// Rolls back the open transaction (errors ignored: SQLite may have rolled it back already)
// and releases the storage mutex when this thread holds it. For callers that caught an
// sqlite_error.
void abort_transaction(sqlite3* db);

// True on this thread between an sqlite_error being raised and the next transaction begun or
// aborted: a transaction that met it must not be committed.
bool storage_failure_pending();

// One storage transaction of the calling thread: begun by the constructor, ended by the
// destructor, which commits it, or rolls it back when a storage failure is pending on this
// thread or the commit itself fails. An exception leaving the scope therefore never leaves the
// process-wide storage mutex held.
class storage_transaction {
public:
    explicit storage_transaction(sqlite3* db) : db_(db) { begin_exclusive_transaction(db_); }
    ~storage_transaction() {
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
    storage_transaction(const storage_transaction&) = delete;
    storage_transaction& operator=(const storage_transaction&) = delete;

private:
    sqlite3* db_;
};

// The failure of an SQLite error, with the text "SQLite error: [<code>] <message>" of the
// connection's last error: a storage failure (full, I/O error, damaged file) throws
// sqlite_error; every other error is a fatal assertion written to the event log.
[[noreturn]] void sqlite_fatal(sqlite3* db, const char* file, unsigned long line);

} // namespace lumbrake

// TN_SQLITE_CHECK(db, rc): fatal unless rc is SQLITE_OK, SQLITE_ROW or SQLITE_DONE.
#define TN_SQLITE_CHECK(db, rc)                                                                    \
    do {                                                                                           \
        int tn_sqlite_rc_ = (rc);                                                                  \
        if (tn_sqlite_rc_ != SQLITE_OK && tn_sqlite_rc_ != SQLITE_ROW &&                           \
            tn_sqlite_rc_ != SQLITE_DONE)                                                          \
            ::lumbrake::sqlite_fatal((db), __FILE__, __LINE__);                                    \
    } while (0)
