#include "trawlnestd/dbconn.h"

#include "util/clock.h"
#include "util/config.h"
#include "util/log.h"
#include "util/md5.h"
#include "util/sqlite_stmt.h"
#include "util/sqlite_txn.h"
#include "util/sqlite_walbatch.h"

#include <cstdlib>
#include <string>

namespace lumbrake {

namespace {

// Fatal with the code alone: a connection that failed to open has no useful message.
[[noreturn]] void open_failed(int rc, const char* file, unsigned long line) {
    std::string text = "SQLite error: [" + std::to_string(rc) + "]";
    assertion_failed(text.c_str(), file, line);
}

void exec_checked(sqlite3* db, const char* sql) {
    sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (sqlite3_errcode(db) != SQLITE_OK) sqlite_fatal(db, __FILE__, __LINE__);
}

} // namespace

std::string database_damage(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        const bool missing = sqlite3_errcode(db) == SQLITE_CANTOPEN;
        std::string reason = missing ? "" : sqlite3_errmsg(db);
        sqlite3_close(db);
        return reason;
    }
    sqlite3_busy_timeout(db, 60000);
    sqlite3_stmt* stmt = nullptr;
    std::string verdict;
    int rc = sqlite3_prepare_v2(db, "pragma quick_check", -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            const unsigned char* t = sqlite3_column_text(stmt, 0);
            if (!verdict.empty()) verdict += "; ";
            verdict += t ? reinterpret_cast<const char*>(t) : "";
            if (verdict.size() > 400) break;
        }
    }
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) verdict = sqlite3_errmsg(db);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return verdict == "ok" ? std::string() : verdict;
}

int sync_level(const config& cfg) {
    std::string text;
    if (!cfg.get("SyncLevel", text) || text.empty()) return 1;
    // strtoll saturates where atoi would overflow; any value that large is out of range.
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    if ((value >= 1 || text == "0") && value < 4) return static_cast<int>(value);
    return 1;
}

sqlite3* open_db(const config& cfg) {
    sqlite3* db = nullptr;
    // The log's frames of a transaction are written together (util/sqlite_walbatch.h).
    int rc = sqlite3_open_v2("trawlnest.db", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                             wal_batching_vfs());
    if (rc != SQLITE_OK) open_failed(rc, __FILE__, __LINE__);
    // Write-ahead logging lets readers (searches, the portal, configuration reads) work beside
    // the one writer; a failure to switch (another process holds the file) keeps the rollback
    // journal, where readers wait for the writer instead. The busy timeout is that wait, and
    // covers a WAL reader's rare wait as well.
    sqlite3_busy_timeout(db, 60000);
    sqlite3_exec(db, "pragma main.journal_mode=WAL", nullptr, nullptr, nullptr);
    std::string pragma = "pragma synchronous=" + std::to_string(sync_level(cfg));
    sqlite3_exec(db, pragma.c_str(), nullptr, nullptr, nullptr);
    // The storages' per-document statements stay prepared on the connection.
    keep_statements(db);
    return db;
}

void close_db(sqlite3* db) {
    drop_kept_statements(db);
    int rc = sqlite3_close(db);
    if (rc != SQLITE_OK) open_failed(rc, __FILE__, __LINE__);
}

void init_dbconfig(sqlite3* db) {
    if (sqlite3_exec(db, "select * from dbconfig limit 1", nullptr, nullptr, nullptr) == SQLITE_OK)
        return;
    exec_checked(db, "create table dbconfig(key text, value text)");
    exec_checked(db, "create unique index dbconfig_idx1 on dbconfig(key)");
    const std::string guid = md5_hex(std::to_string(now_ms()));
    char* sql = sqlite3_mprintf("insert into dbconfig values('PlatformGUID', '%q')", guid.c_str());
    TN_ASSERT(sql != nullptr);
    sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    sqlite3_free(sql);
    if (sqlite3_errcode(db) != SQLITE_OK) sqlite_fatal(db, __FILE__, __LINE__);
    exec_checked(db, "insert into dbconfig values('SchemaVersion', 1)");
}

void read_platform_guid(sqlite3* db, std::string& guid) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "select value from dbconfig where key='PlatformGUID'", -1, &st,
                           nullptr) != SQLITE_OK)
        sqlite_fatal(db, __FILE__, __LINE__);
    if (sqlite3_step(st) != SQLITE_ROW) {
        // The error code and message are the step's; finalizing first would reset them.
        sqlite_fatal(db, __FILE__, __LINE__);
    }
    const unsigned char* text = sqlite3_column_text(st, 0);
    guid.assign(text ? reinterpret_cast<const char*>(text) : "",
                static_cast<std::size_t>(sqlite3_column_bytes(st, 0)));
    sqlite3_finalize(st);
}

} // namespace lumbrake
