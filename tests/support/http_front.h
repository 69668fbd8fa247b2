// The real HTTP front end in a test: its configuration file, the hooks that give each request
// thread a database, and the server on 127.0.0.1 at a port the system chooses.
#pragma once

#include "files.h"

#include "httpfront/httpserver.h"
#include "httpfront/webservices.h"

#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

namespace tn_test {

// The configuration file naming the deploy folder, with more lines ("NAME=value") after it.
inline void write_deploy_config(const std::string& file, const std::string& deploy_dir,
                                const std::vector<std::string>& extra = {}) {
    std::string text = "DEPLOYDIR=" + deploy_dir + "\n";
    for (const auto& line : extra)
        text += line + "\n";
    write_file(file, text);
}

// Each request thread opens its own connection to the database file, waiting out a busy
// database as the daemon's threads do; with no file, an empty database in memory of its own.
inline void open_db_per_thread(lumbrake::http_hooks& hooks, const std::string& db_file = "") {
    hooks.open_db = [db_file] {
        sqlite3* db = nullptr;
        if (db_file.empty()) {
            sqlite3_open(":memory:", &db);
        } else {
            sqlite3_open(db_file.c_str(), &db);
            sqlite3_busy_timeout(db, 10000);
        }
        return db;
    };
    hooks.close_db = [](sqlite3* db) { sqlite3_close(db); };
}

// The front end, running, with one bind attempt: no waiting for an address in use. Its port is
// bound_port(), 0 when it did not bind.
inline std::unique_ptr<lumbrake::httpserver>
start_http_front(int threads, const lumbrake::http_hooks& hooks, lumbrake::http_services& services,
                 int io_timeout_seconds,
                 int head_seconds = lumbrake::HTTP_DEFAULT_HEAD_TIMEOUT_SECONDS) {
    auto server = std::make_unique<lumbrake::httpserver>(nullptr, threads, "127.0.0.1:0", hooks,
                                                         &services, io_timeout_seconds);
    server->set_bind_retries(1, 0);
    server->set_deadlines(head_seconds, lumbrake::HTTP_DEFAULT_BODY_TIMEOUT_SECONDS);
    server->run();
    return server;
}

} // namespace tn_test
