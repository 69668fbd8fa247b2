// Storage transactions: every change of the daemon's SQLite database runs in a
// `storage_transaction` (an exclusive transaction under one process-wide mutex, so writers run
// one at a time and in-memory state kept beside the tables changes with them); reads that
// change nothing may run in a `storage_snapshot` instead, beside the writers and each other.
#pragma once

#include <sqlite3.h>

#include <stdexcept>
#include <string>

namespace lumbrake {

// A failure of the storage itself rather than of the program: the volume is full, a read or
// write failed, or the file is damaged. It ends the request or crawl step that met it (the
// storage_transaction guard rolls back), not the process.
class sqlite_error : public std::runtime_error {
public:
    sqlite_error(const std::string& text, int code) : std::runtime_error(text), code_(code) {}
    // The primary result code (SQLITE_FULL, SQLITE_IOERR, SQLITE_CORRUPT, SQLITE_NOTADB).
    int code() const { return code_; }

private:
    int code_;
};

// True on this thread between an sqlite_error being raised and the next transaction begun or
// aborted: a transaction that met it must not be committed.
bool storage_failure_pending();

// One storage transaction of the calling thread, the only way the daemon writes: begun by the
// constructor, ended by commit() or, at the latest, by the destructor. The destructor commits,
// or rolls back when a storage failure is pending on this thread or the commit itself fails; it
// commits also while another exception propagates, because the fetch queue's in-memory state
// changes with its table under the same mutex and must not drift from it. Either way the
// process-wide storage mutex is released: an exception leaving the scope never leaves every
// other thread waiting for it.
class storage_transaction {
public:
    explicit storage_transaction(sqlite3* db) : db_(db) { begin(); }
    ~storage_transaction();
    storage_transaction(const storage_transaction&) = delete;
    storage_transaction& operator=(const storage_transaction&) = delete;

    // Locks the storage mutex (held until the transaction ends; never nest two on one thread)
    // and executes "begin exclusive transaction", retrying after a random wait of up to 255 ms
    // while the database is busy; any other error is fatal (sqlite_fatal). Called by the
    // constructor, and again after commit() (work outside the transaction in between, such as
    // a call to a worker). Never while it is open.
    void begin();
    // Commits now (waiting out a busy database the same way) and unlocks the mutex; any other
    // error is fatal, a storage failure rolls back, unlocks and throws sqlite_error. The
    // destructor then has nothing left to do.
    void commit();
    // Rolls back (errors ignored: SQLite may have rolled it back already) and unlocks the
    // mutex, for a caller that gives up and keeps nothing.
    void rollback();
    bool open() const { return open_; }

private:
    sqlite3* db_;
    bool open_ = false;
};

// Waits until no storage transaction of another thread is open, without keeping the mutex. A
// reader that saw a writer's change outside the database (in the index) calls it before it
// takes its snapshot, so that the snapshot holds that change too: writers change the index
// only inside their storage transaction.
void wait_for_storage_writers();

// Holds the storage mutex without a transaction, for work on the database file as a whole that
// must not run beside a writer (the end of a checkpoint, after which the write-ahead log can
// start again from its beginning). Never on a thread inside a storage transaction.
class storage_quiet {
public:
    storage_quiet();
    ~storage_quiet();
    storage_quiet(const storage_quiet&) = delete;
    storage_quiet& operator=(const storage_quiet&) = delete;
};

// A consistent read of the calling thread's connection without the storage mutex: a deferred
// transaction whose snapshot is taken by its first read (with the database in WAL mode, writers
// go on meanwhile and readers run side by side). Only reads may run in it. Ended (rolled back:
// it changed nothing) by end() or the destructor; errors of the end are ignored. On a
// connection already inside a transaction it does nothing: the reads belong to that one.
class storage_snapshot {
public:
    explicit storage_snapshot(sqlite3* db);
    ~storage_snapshot() { end(); }
    storage_snapshot(const storage_snapshot&) = delete;
    storage_snapshot& operator=(const storage_snapshot&) = delete;

    void end();
    bool open() const { return open_; }

private:
    sqlite3* db_;
    bool open_ = false;
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
