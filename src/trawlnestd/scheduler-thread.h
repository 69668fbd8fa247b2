// The daemon's scheduler: once a second the watchdog over the process threads; at each new
// UTC hour the crawls whose schedule is due, the expiry of old versions, an index flush and,
// at OptimizeAt, an index optimisation; in between an index flush every FlushLatency seconds.
// While the data directory's volume is short of MINFREEDISK only the watchdog runs.
#pragma once

#include "trawlnestd/crawl-step.h"
#include "trawlnestd/dbconn.h"

#include <wx/thread.h>

#include <atomic>
#include <cstdint>
#include <ctime>

namespace lumbrake {

struct ArchiveConfiguration;

// Whether an archive's schedule is due at the broken-down UTC time.
bool schedule_due(const ArchiveConfiguration& archive, const std::tm& utc);

// Versions expired per archive in one hourly pass.
inline constexpr std::int32_t expiry_batch = 100;

class scheduler_thread : public wxThread {
public:
    // Opens the thread's connection.
    explicit scheduler_thread(const crawl_services& services);
    ~scheduler_thread() override;

    void stop() { stop_ = true; }

    // One tick of the loop without its sleep: free-space test, hourly pass or flush, watchdog.
    void tick();
    // Replaces a lost index server and rebuilds its index from the document store.
    void keep_index_in_step();
    // The hourly pass at the given time (start crawls, expire, flush, optimise).
    void hourly_pass(std::int64_t now);

    sqlite3* db() const { return db_.get(); }

protected:
    ExitCode Entry() override;

private:
    std::atomic<bool> stop_{false};
    crawl_services services_;
    db_connection db_;
    // Settings, read when the thread is built.
    std::string datadir_;
    std::uint64_t min_free_disk_;
    int optimize_at_ = 2;
    int flush_latency_ = 120;
    // The last hourly pass (UTC year, day of the year, hour) and the last flush.
    int last_year_ = 0;
    int last_yday_ = 0;
    int last_hour_ = 0;
    std::int64_t last_flush_ = 0;
};

} // namespace lumbrake
