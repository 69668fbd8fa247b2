#include "trawlnestd/daemon-storages.h"

#include "docstorage/docstorage.h"
#include "fetchqueue/fetchqueue.h"
#include "idxstorage/idxstorage.h"
#include "logstorage/logstorage.h"
#include "robotschecker/robotschecker.h"
#include "trawlnestd/cfgstorage.h"
#include "trawlnestd/cookie-cache.h"
#include "trawlnestd/dbconn.h"
#include "trawlnestd/maintenance-jobs.h"

namespace lumbrake {

daemon_storages::daemon_storages() = default;

daemon_storages::~daemon_storages() {
    close();
}

void daemon_storages::open(sqlite3* db, const options& opts) {
    cookies = std::make_unique<cookie_cache>();
    docs = std::make_unique<docstorage>(db);
    queue = std::make_unique<fetchqueue>(db, opts.throttling);
    logs = std::make_unique<logstorage>(db);
    index = std::make_unique<idxstorage>();
    robots = std::make_unique<robotschecker>(db, opts.user_agent, opts.robots_clock);
    stores = std::make_unique<config_stores>(db);
    init_dbconfig(db);
    read_platform_guid(db, platform_guid);
}

void daemon_storages::close() {
    stores.reset();
    robots.reset();
    index.reset();
    logs.reset();
    queue.reset();
    docs.reset();
    cookies.reset();
}

void daemon_storages::fill(crawl_services& services) const {
    services.platform_id = platform_guid;
    services.cookies = cookies.get();
    services.docs = docs.get();
    services.queue = queue.get();
    services.logs = logs.get();
    services.index = index.get();
    services.robots = robots.get();
}

maintenance_storages daemon_storages::maintenance() const {
    return {docs.get(), queue.get(), logs.get(), index.get(), robots.get()};
}

} // namespace lumbrake
