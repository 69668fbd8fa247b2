#include "trawlnestd/scheduler-thread.h"

#include "docstorage/docstorage.h"
#include "fetchqueue/fetchqueue.h"
#include "idxstorage/idxstorage.h"
#include "logstorage/logstorage.h"
#include "trawlnestd/cfgstorage.h"
#include "trawlnestd/seed-queue.h"
#include "util/config.h"
#include "util/log.h"
#include "util/sqlite_txn.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace lumbrake {

bool schedule_due(const ArchiveConfiguration& archive, const std::tm& utc) {
    const int hour = utc.tm_hour;
    const int attr = archive.SchedulingAttribute;
    const int at = archive.AccessTime;
    switch (archive.SchedulingFrequency) {
    case HOURLY:
        // Truncating remainder: hour 0 with AccessTime 1 and attr 3 gives -1, not due.
        return attr > 0 && (static_cast<long long>(hour) - at) % attr == 0;
    case DAILY:
        return attr > 0 && hour == at && utc.tm_yday % attr == 0;
    case WEEKLY:
        return hour == at && utc.tm_wday == attr;
    case MONTHLY:
        return hour == at && utc.tm_mday == attr;
    default:
        return false;
    }
}

scheduler_thread::scheduler_thread(const crawl_services& services)
    : wxThread(wxTHREAD_JOINABLE), services_(services), db_(*services.cfg) {
    std::string value;
    const config& cfg = *services.cfg;
    cfg.get("DATADIR", datadir_);
    bool present = cfg.get("MINFREEDISK", value);
    min_free_disk_ = min_free_disk_from(present, value);
    if (cfg.get("OptimizeAt", value)) optimize_at_ = std::atoi(value.c_str());
    if (cfg.get("FlushLatency", value)) flush_latency_ = std::atoi(value.c_str());
    last_flush_ = services_.now();
}

scheduler_thread::~scheduler_thread() = default;

void scheduler_thread::hourly_pass(std::int64_t now) {
    std::time_t t = static_cast<std::time_t>(now);
    std::tm utc{};
    gmtime_r(&t, &utc);
    last_year_ = utc.tm_year;
    last_yday_ = utc.tm_yday;
    last_hour_ = utc.tm_hour;

    sqlite3* db = db_.get();
    storage_transaction txn(db);
    std::vector<int> ids;
    cfgstorage<ArchiveConfiguration>::list(db, ids);
    for (int id : ids) {
        ArchiveConfiguration archive;
        std::uint32_t magic = 0;
        if (!cfgstorage<ArchiveConfiguration>::get(db, id, archive, magic)) continue;
        if (schedule_due(archive, utc)) {
            std::int64_t start = 0, end = 0, docs = 0, errors = 0;
            if (services_.logs->last_crawl(db, id, start, end, docs, errors) && end > 0) {
                const std::int64_t seeds = start_crawl_from_seeds(
                    db, *services_.logs, *services_.queue, id, archive.Source, now);
                // Nothing queued means no pass will ever end this crawl: it ends at once.
                if (seeds == 0) services_.logs->end_crawl(db, id, now);
            }
        }
        if (archive.GarbageLimit > 0) {
            std::vector<std::string> guids;
            services_.docs->oldest_documents(db, static_cast<std::uint32_t>(id),
                                             now - archive.GarbageLimit, expiry_batch, guids);
            for (const std::string& guid : guids) {
                services_.index->remove_document(guid);
                services_.docs->remove(db, guid);
            }
            // Every search adds a row: the query log ages out with the archive's versions.
            services_.logs->expire_queries(db, id, now - archive.GarbageLimit);
        }
    }
    last_flush_ = now;
    services_.index->flush();
    if (utc.tm_hour == optimize_at_) services_.index->optimize();
    txn.commit();
}

void scheduler_thread::keep_index_in_step() {
    // The check takes the index lock alone: holding the storage lock while crawl threads hold
    // the index lock would stop every crawl thread once a second.
    services_.index->restart_if_lost();
    if (!services_.index->needs_rebuild()) return;
    sqlite3* db = db_.get();
    storage_transaction txn(db);
    if (services_.index->needs_rebuild()) {
        // Searches wait for the whole rebuild rather than see a part of the index.
        auto hold = services_.index->hold();
        services_.docs->rebuild_index(db, *services_.index);
        TN_LOG(LF_LOG, LL_ERROR, "Index rebuilt from the document store");
    }
    txn.commit();
}

void scheduler_thread::tick() {
    keep_index_in_step();
    const std::int64_t now = services_.now();
    if (services_.free_bytes(datadir_) >= min_free_disk_) {
        std::time_t t = static_cast<std::time_t>(now);
        std::tm utc{};
        gmtime_r(&t, &utc);
        if (utc.tm_year > last_year_ || utc.tm_yday > last_yday_ || utc.tm_hour > last_hour_) {
            hourly_pass(now);
        } else if (now - last_flush_ >= flush_latency_) {
            // Pages reach the index after their storing transaction, so the commit needs the
            // index lock only, and only to send it: the crawl threads go on storing and adding
            // while the index server commits.
            services_.index->flush_without_waiting();
            last_flush_ = now;
        }
    }
    if (services_.check_workers) services_.check_workers();
}

wxThread::ExitCode scheduler_thread::Entry() {
    for (;;) {
        try {
            tick();
        } catch (const sqlite_error& e) {
            // The pass's transaction was rolled back on the way out.
            TN_LOG(LF_WORKERSCHEDULING, LL_ERROR, "Scheduler pass failed: " << e.what());
        }
        if (stop_) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    }
}

} // namespace lumbrake
