#include "trawlnestd/seed-queue.h"

#include "fetchqueue/fetchqueue.h"
#include "logstorage/logstorage.h"
#include "trawlnestd/cfgstorage.h"
#include "util/sqlite_txn.h"

namespace lumbrake {

std::int64_t start_crawl_from_seeds(sqlite3* db, logstorage& logs, fetchqueue& queue,
                                    std::int32_t arcid, std::int32_t source_id,
                                    std::int64_t start) {
    // Whether the record reads whole is known only at its end: what was queued before a fault
    // goes back to the savepoint. The fetch queue may then remember a host without URLs,
    // which it forgets when it next looks there. The crawl record is opened only after, in the
    // same transaction, so the log store's state is never rolled back under it.
    TN_SQLITE_CHECK(db, sqlite3_exec(db, "savepoint seeds", nullptr, nullptr, nullptr));
    std::int64_t seeds = 0;
    bool read = false;
    {
        fetchqueue::batch batch(queue, db, static_cast<std::uint32_t>(arcid));
        SourceConfiguration source;
        std::uint32_t magic = 0;
        read = get_source_streamed(db, source_id, source, magic, [&](const std::string& url) {
            batch.push(fetchqueue::key_of(url), 0);
            ++seeds;
        });
    }
    const char* end = read ? "release seeds" : "rollback to seeds; release seeds";
    TN_SQLITE_CHECK(db, sqlite3_exec(db, end, nullptr, nullptr, nullptr));
    if (!read) return -1;
    logs.start_crawl(db, arcid, start);
    return seeds;
}

} // namespace lumbrake
