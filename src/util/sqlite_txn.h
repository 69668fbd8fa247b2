// Storage transactions: every multi-statement change of the daemon's SQLite database runs
// between begin_exclusive_transaction and commit_transaction, under one process-wide mutex.
#pragma once

#include <sqlite3.h>

namespace lumbrake {

// Locks the storage mutex (held until commit_transaction on the same thread; never nest) and
// executes "begin exclusive transaction", retrying after a random wait of up to 255 ms while
// the database is busy. Any other error is fatal (sqlite_fatal). Returns SQLITE_OK.
int begin_exclusive_transaction(sqlite3* db);

// Executes "commit transaction" (waiting out a busy database the same way), then unlocks the
// storage mutex. Any other error is fatal. Returns SQLITE_OK.
int commit_transaction(sqlite3* db);

// The fatal failure of every SQLite error: the assertion "SQLite error: [<code>] <message>"
// of the connection's last error, written to the event log; the process ends.
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
