#include "trawlnestd/maintenance-jobs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "docstorage/docstorage.h"
#include "fetchqueue/fetchqueue.h"
#include "idxstorage/idxstorage.h"
#include "logstorage/logstorage.h"
#include "robotschecker/robotschecker.h"
#include "trawlnestd/dbconn.h"
#include "util/log.h"
#include "util/sqlite_txn.h"
#include "util/syslayer.h"

namespace lumbrake {

namespace {

// An sqlite3_mprintf text, freed on scope exit.
struct sql_text {
    char* text;
    template <class... A>
    explicit sql_text(const char* format, A... args) : text(sqlite3_mprintf(format, args...)) {
        TN_ASSERT(text != nullptr);
    }
    ~sql_text() { sqlite3_free(text); }
    sql_text(const sql_text&) = delete;
    sql_text& operator=(const sql_text&) = delete;
};

void exec_or_die(sqlite3* db, const char* sql) {
    TN_SQLITE_CHECK(db, sqlite3_exec(db, sql, nullptr, nullptr, nullptr));
}

// True when `path` names the same file as the connection's main database, so that a backup
// or restore cannot delete or overwrite the live data through a second name.
bool is_live_database(sqlite3* db, const std::string& path) {
    const char* live = sqlite3_db_filename(db, "main");
    if (live == nullptr || *live == '\0') return false;
    struct stat a {
    }, b{};
    if (::stat(live, &a) != 0 || ::stat(path.c_str(), &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void detach_backup(sqlite3* db) {
    sqlite3_exec(db, "detach backup", nullptr, nullptr, nullptr);
}

// The paged copy: rows of `from` after the last copied rowid, 100 per exclusive transaction,
// appended to `to`.
void copy_pages(sqlite3* db, const std::string& from, const std::string& to) {
    sqlite3_int64 last_copied = 0;
    for (;;) {
        storage_transaction txn(db);
        sql_text select("select rowid from %s where rowid>%lld order by rowid limit 100",
                        from.c_str(), static_cast<long long>(last_copied));
        sqlite3_stmt* stmt = nullptr;
        TN_SQLITE_CHECK(db, sqlite3_prepare_v2(db, select.text, -1, &stmt, nullptr));
        sqlite3_int64 first = 0, last = 0;
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            last = sqlite3_column_int64(stmt, 0);
            if (first == 0) first = last;
        }
        if (rc != SQLITE_DONE) sqlite_fatal(db, __FILE__, __LINE__);
        sqlite3_finalize(stmt);
        bool complete = first <= 0;
        if (!complete) {
            sql_text insert("insert into %s select * from %s where rowid between %lld and %lld",
                            to.c_str(), from.c_str(), static_cast<long long>(first),
                            static_cast<long long>(last));
            exec_or_die(db, insert.text);
            last_copied = last;
        }
        txn.commit();
        if (complete) break;
    }
}

// The column names of a table, in order; empty when the table is missing. False (with the
// SQLite message) when the database cannot be read at all.
bool table_columns(sqlite3* db, const char* schema, const std::string& table,
                   std::vector<std::string>& columns, std::string& message) {
    columns.clear();
    sql_text sql("pragma %s.table_info(\"%w\")", schema, table.c_str());
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.text, -1, &stmt, nullptr) != SQLITE_OK) {
        message = sqlite3_errmsg(db);
        sqlite3_finalize(stmt);
        return false;
    }
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        const unsigned char* name = sqlite3_column_text(stmt, 1);
        columns.emplace_back(name ? reinterpret_cast<const char*>(name) : "");
    }
    if (rc != SQLITE_DONE) message = sqlite3_errmsg(db);
    sqlite3_finalize(stmt);
    return rc == SQLITE_DONE;
}

// Checks an attached backup before anything live is touched: the file must be an intact SQLite
// database holding every backup table with the live table's columns in the same order (the
// copy is "select *", by position). Empty text when it passes, else the reason.
std::string check_backup(sqlite3* db) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "pragma backup.quick_check", -1, &stmt, nullptr) != SQLITE_OK) {
        std::string reason = sqlite3_errmsg(db);
        sqlite3_finalize(stmt);
        return reason;
    }
    std::string verdict;
    int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
        const unsigned char* t = sqlite3_column_text(stmt, 0);
        verdict = t ? reinterpret_cast<const char*>(t) : "";
        rc = sqlite3_step(stmt);
    }
    std::string reason = rc == SQLITE_DONE ? std::string() : std::string(sqlite3_errmsg(db));
    sqlite3_finalize(stmt);
    if (!reason.empty()) return reason;
    if (verdict != "ok") return "damaged database (" + verdict + ")";

    for (const std::string& table : backup_tables()) {
        std::vector<std::string> live, saved;
        std::string message;
        if (!table_columns(db, "backup", table, saved, message)) return message;
        if (saved.empty()) return "table " + table + " missing";
        if (!table_columns(db, "main", table, live, message)) return message;
        if (live != saved) return "table " + table + " has other columns";
    }
    return {};
}

// Raises each configuration id counter to the largest restored id of its type, so that the
// next add cannot hand out an id that a restored record already holds.
void raise_config_counters(sqlite3* db) {
    storage_transaction txn(db);
    exec_or_die(db, "insert into cfgcounter select key, max(id) from cfgstorage where key not in "
                    "(select key from cfgcounter) group by key");
    exec_or_die(db, "update cfgcounter set lastid=(select max(id) from cfgstorage c where "
                    "c.key=cfgcounter.key) where lastid<(select max(id) from cfgstorage c where "
                    "c.key=cfgcounter.key)");
    txn.commit();
}

} // namespace

const char* maintenance_job_error_prefix(maintenance_job job) {
    switch (job) {
    case maintenance_job::reset:
        return "Error resetting trawlnest: ";
    case maintenance_job::reindex:
        return "Error while reindexing: ";
    case maintenance_job::import_config:
        return "Error importing config to trawlnest: ";
    case maintenance_job::export_config:
        return "Error exporting config from trawlnest: ";
    case maintenance_job::backup:
        return "Error backing up trawlnest: ";
    case maintenance_job::restore:
        return "Error restoring trawlnest: ";
    case maintenance_job::none:
        break;
    }
    return "";
}

bool maintenance_job_takes_argument(maintenance_job job) {
    return job == maintenance_job::import_config || job == maintenance_job::export_config ||
           job == maintenance_job::backup || job == maintenance_job::restore;
}

int run_maintenance_job(maintenance_job job, const std::string& argument,
                        const maintenance_frame_steps& steps) {
    if (maintenance_job_takes_argument(job) && steps.store_argument) steps.store_argument(argument);
    std::string error;
    bool ok = false;
    try {
        ok = steps.prepare(error) && steps.open_storages(error) && steps.run_job(error);
    } catch (const sqlite_error& e) {
        error = e.what();
    }
    if (!ok) {
        steps.report_failure(maintenance_job_error_prefix(job) + error);
        return 1;
    }
    steps.close_storages();
    return 0;
}

const std::vector<std::string>& backup_tables() {
    static const std::vector<std::string> tables{"dbconfig",   "cfgstorage", "docstorage",
                                                 "auxstorage", "doccount",   "documentlog",
                                                 "querylog",   "crawlstats", "fetchqueue"};
    return tables;
}

bool reset(const config& cfg, const maintenance_storages& storages, std::string& error) {
    error.clear();
    db_connection db(cfg);
    storage_transaction txn(db);
    storages.docs->clear(db);
    storages.queue->clear(db);
    storages.logs->clear(db);
    storages.index->reset();
    storages.robots->clear(db);
    txn.commit();
    // Compacting only reclaims space: wait out other connections, but a vacuum that cannot
    // succeed (a full disk) must not keep the job from ending; the cleared data is committed.
    for (;;) {
        int rc = sqlite3_exec(db, "vacuum", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) break;
        if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) {
            TN_LOG(LF_LOG, LL_ERROR, "Vacuum failed: [" << rc << "] " << sqlite3_errmsg(db));
            break;
        }
        lumbrake::usleep(100000);
    }
    return true;
}

bool reindex(const config& cfg, const maintenance_storages& storages, std::string& error) {
    error.clear();
    db_connection db(cfg);
    storage_transaction txn(db);
    storages.docs->rebuild_index(db, *storages.index);
    txn.commit();
    return true;
}

int backup_table(sqlite3* db, const std::string& table) {
    storage_transaction txn(db);
    sql_text create("create table backup.%s as select * from %s limit 1", table.c_str(),
                    table.c_str());
    exec_or_die(db, create.text);
    sql_text clear("delete from backup.%s", table.c_str());
    exec_or_die(db, clear.text);
    txn.commit();
    copy_pages(db, table, "backup." + table);
    return 0;
}

int restore_table(sqlite3* db, const std::string& table) {
    storage_transaction txn(db);
    sql_text clear("delete from %s", table.c_str());
    exec_or_die(db, clear.text);
    txn.commit();
    copy_pages(db, "backup." + table, table);
    return 0;
}

bool backup(const config& cfg, const std::string& path, std::string& error) {
    error.clear();
    db_connection db(cfg);
    if (is_live_database(db, path)) {
        error = "Error while backing up: file=" + path + " is the live database";
        return false;
    }
    // The copy goes to a new file beside the old backup and replaces it only once it is
    // complete and checked: a failure (a full disk) leaves the old backup as it was.
    const std::string fresh = path + ".new";
    if (::unlink(fresh.c_str()) != 0 && errno != ENOENT) {
        error = "Error while backing up: file=" + fresh + " " + system_error_text();
        return false;
    }
    sql_text attach("attach '%q' as backup", fresh.c_str());
    int rc = sqlite3_exec(db, attach.text, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        error = "Error while backing up: file=" + path + " code=" + std::to_string(rc);
        detach_backup(db);
        ::unlink(fresh.c_str());
        return false;
    }
    std::string reason;
    try {
        for (const std::string& table : backup_tables())
            backup_table(db, table);
        reason = check_backup(db);
    } catch (const sqlite_error& e) {
        // The failed copy's transaction was rolled back on the way out.
        reason = e.what();
    }
    detach_backup(db);
    if (reason.empty() && ::rename(fresh.c_str(), path.c_str()) != 0)
        reason = system_error_text();
    if (!reason.empty()) {
        ::unlink(fresh.c_str());
        ::unlink((fresh + "-journal").c_str());
        error = "Error while backing up: file=" + path + " not written, the previous backup is "
                "kept: " + reason;
        return false;
    }
    return true;
}

bool restore(const config& cfg, const std::string& path, const maintenance_storages& storages,
             std::string& error) {
    error.clear();
    if (::access(path.c_str(), R_OK) != 0) {
        error = "Backup file " + path + " not found";
        return false;
    }
    db_connection db(cfg);
    if (is_live_database(db, path)) {
        error = "Error while restoring: file=" + path + " is the live database";
        return false;
    }
    sql_text attach("attach '%q' as backup", path.c_str());
    int rc = sqlite3_exec(db, attach.text, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        error = "Error while restoring: file=" + path + " code=" + std::to_string(rc);
        detach_backup(db);
        return false;
    }
    // Nothing live is deleted until the whole backup has been found readable and complete.
    std::string reason = check_backup(db);
    if (!reason.empty()) {
        error = "Error while restoring: file=" + path + " not a usable backup: " + reason;
        detach_backup(db);
        return false;
    }
    for (const std::string& table : backup_tables())
        restore_table(db, table);
    raise_config_counters(db);
    storage_transaction txn(db);
    storages.docs->rebuild_index(db, *storages.index);
    txn.commit();
    detach_backup(db);
    return true;
}

} // namespace lumbrake
