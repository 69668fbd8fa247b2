// The daemon's storages and configuration stores over trawlnest.db, opened and closed in one
// place: the start job and the stop sequence use them, and so do the jobs and the tests that
// need the storages exactly as a running daemon has them.
#pragma once

#include "trawlnestd/crawl-step.h"

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace lumbrake {

struct config_stores;
struct maintenance_storages;

struct daemon_storages {
    // What the storages take besides the database.
    struct options {
        std::int32_t throttling = 0;                // the fetch queue's delay per host (seconds)
        std::string user_agent = "lumbrakebot";     // the robot name robots.txt is read for
        std::function<std::int64_t()> robots_clock; // empty: the system clock
    };

    daemon_storages();
    ~daemon_storages(); // closes
    daemon_storages(const daemon_storages&) = delete;
    daemon_storages& operator=(const daemon_storages&) = delete;

    // Opens every storage and store over `db` inside the caller's transaction, creates the
    // dbconfig table when it is missing and reads the PlatformGUID. The connection serves only
    // the opening: each call later names its own. Opening the index starts the index server.
    void open(sqlite3* db, const options& opts);
    // Frees them in the reverse order of opening; freeing the index tells the index server to
    // quit and waits for it (a flush before it is the caller's). Closed ones are left alone.
    void close();

    // The storages and the PlatformGUID into the services the crawling threads use.
    void fill(crawl_services& services) const;
    // The storages the maintenance jobs empty, rebuild and restore.
    maintenance_storages maintenance() const;

    std::string platform_guid;
    std::unique_ptr<cookie_cache> cookies;
    std::unique_ptr<docstorage> docs;
    std::unique_ptr<fetchqueue> queue;
    std::unique_ptr<logstorage> logs;
    std::unique_ptr<idxstorage> index;
    std::unique_ptr<robotschecker> robots;
    std::unique_ptr<config_stores> stores;
};

} // namespace lumbrake
