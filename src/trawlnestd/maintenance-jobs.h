// Maintenance jobs: instead of a normal start the service runs one job (/reset, /reindex,
// /import <dir>, /export <dir>, /backup <file>, /restore <file>) over freshly opened storages
// and then stops. This file holds the common frame and the reset, reindex, backup and restore
// jobs; import and export live in import-job.h and export-job.h.
#pragma once

#include <sqlite3.h>

#include <functional>
#include <string>
#include <vector>

namespace lumbrake {

class config;
class docstorage;
class fetchqueue;
class logstorage;
class idxstorage;
class robotschecker;

enum class maintenance_job { none, reset, reindex, import_config, export_config, backup, restore };

// "Error resetting trawlnest: " and the other prefixes of the failure event.
const char* maintenance_job_error_prefix(maintenance_job job);

// True for the jobs that take a directory or file argument.
bool maintenance_job_takes_argument(maintenance_job job);

// What the frame needs of the application object.
struct maintenance_frame_steps {
    std::function<void(const std::string& argument)> store_argument;
    std::function<bool(std::string& error)> prepare;
    std::function<bool(std::string& error)> open_storages;
    std::function<bool(std::string& error)> run_job;
    std::function<void()> close_storages;
    // Writes the failure event (event 1000) with its full text.
    std::function<void(const std::string& text)> report_failure;
};

// Stores the argument (jobs with one), prepares, opens the storages, runs the job and closes
// the storages. A step that fails reports the job's prefix and the error text and the frame
// answers the exit status 1 without closing the storages; success answers 0.
int run_maintenance_job(maintenance_job job, const std::string& argument,
                        const maintenance_frame_steps& steps);

// The storages that open_storages made, used by the jobs on their own connection.
struct maintenance_storages {
    docstorage* docs = nullptr;
    fetchqueue* queue = nullptr;
    logstorage* logs = nullptr;
    idxstorage* index = nullptr;
    robotschecker* robots = nullptr;
};

// Empties the document store, fetch queue, log store, index and robots cache in one
// transaction, then compacts the database. Configuration tables are not touched.
bool reset(const config& cfg, const maintenance_storages& storages, std::string& error);

// Rebuilds the index from every stored document.
bool reindex(const config& cfg, const maintenance_storages& storages, std::string& error);

// The tables a backup holds, in copy order.
const std::vector<std::string>& backup_tables();

// Writes a fresh SQLite backup file holding a copy of every backup table: into "<path>.new",
// checked, then renamed over an existing file. False with the text (the old file kept) when
// the copy cannot be made or checked, or when the path names the live database itself.
bool backup(const config& cfg, const std::string& path, std::string& error);

// Replaces the backup tables of the live database with the file's copies, raises the
// configuration id counters above the restored ids and rebuilds the index. A file that is
// missing, not an SQLite database, damaged, or lacks a table or a column is refused before
// anything changes.
bool restore(const config& cfg, const std::string& path, const maintenance_storages& storages,
             std::string& error);

// The paged copies of one table between the live database and the attached "backup"
// database, 100 rows per exclusive transaction. SQLite errors are fatal.
int backup_table(sqlite3* db, const std::string& table);
int restore_table(sqlite3* db, const std::string& table);

} // namespace lumbrake
