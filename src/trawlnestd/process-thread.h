// One crawling thread of the daemon: it owns a worker process (through a millhand proxy) and the
// record of which plug-in and docfilter configurations that worker already holds; its body is
// the crawl loop. The crawling threads share one SQLite connection, used only inside storage
// transactions (whose mutex hands it from one thread to the next): a connection's page cache
// is dropped whenever another connection wrote, so with one connection per thread every
// transaction of the crawl began by reading its pages again. The scheduler's watchdog reads
// the job clock and kills a worker whose request has run for the timeout.
#pragma once

#include "trawlnestd/crawl-step.h"
#include "trawlnestd/dbconn.h"
#include "millhand/millhand.h"

#include <wx/thread.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace lumbrake {

class process_thread : public wxThread {
public:
    // Opens the crawling threads' connection (the first thread of a set) and starts the worker (a
    // worker that cannot start is fatal). `timeout` is WORKER_TIMEOUT in seconds.
    process_thread(const crawl_services& services, std::int32_t timeout);
    ~process_thread() override;

    // Replaces the worker by a freshly started one; the stamps are forgotten with the old one.
    void wproc_init();
    // The start time of the running request (0: idle), written under the mutex.
    void set_job_start(std::int32_t time);
    // The watchdog: with force kills the worker at once; without, only when a request has
    // run for the timeout or longer.
    void check_timeout(bool force);
    // Asks the loop to end; the caller then kills the worker with check_timeout(true).
    void stop() { stop_ = true; }
    bool stopping() const { return stop_; }

    // The records of the pipeline that this worker has not yet been sent in their current
    // form. Runs in the caller's transaction; nothing counts as sent until plugins_sent.
    void update_plugin_cache(std::int32_t source_id,
                             const std::vector<std::uint32_t>& docfilter_ids,
                             millhand::plugin_map& plugins, millhand::docfilter_map& docfilters);
    // Records the stamps of records that went out to the current worker in a request.
    void plugins_sent(const millhand::plugin_map& plugins,
                      const millhand::docfilter_map& docfilters);
    // The process id of the current worker (0: none).
    pid_t worker_pid() const;

    enum class pass_result {
        handled, // a URL was handled: the loop goes on at once
        idle,    // nothing to do (outside the window, no room, empty queue): the loop sleeps
        stopped  // a request failed while stopping: the loop ends
    };
    // One pass of the crawl loop (crawl-step.cc). A pass takes the URL that the last one
    // picked at the end of its storing transaction, or picks one in a transaction of its own.
    pass_result crawl_pass();

    std::int32_t job_start() const;
    std::int32_t timeout() const { return timeout_; }
    sqlite3* db() const { return db_->get(); }
    const crawl_settings& settings() const { return settings_; }

protected:
    ExitCode Entry() override;

private:
    struct queued;
    struct worker_reply;
    // Owns a queued URL; queued is complete only in crawl-step.cc.
    struct queued_deleter {
        void operator()(queued* q) const;
    };
    using picked = std::unique_ptr<queued, queued_deleter>;

    // The checks made before every pick: not stopping, inside the crawl window, room on the
    // data volume.
    bool may_pick() const;
    // Inside the caller's storage transaction: hands out the next URL of the fetch queue and
    // reads what its pass needs under the lock (records, plug-ins to send, the site's stored
    // robots rules, a stored document to process again). Null when no URL may be fetched now.
    picked pick(sqlite3* db);
    // At the end of a storing transaction, before its COMMIT: when `allowed` (may_pick() just
    // before the transaction began), picks the thread's next URL there, so that the next pass
    // takes no storage transaction to pick it.
    void carry_next_pick(sqlite3* db, bool allowed);
    // After the storing transaction committed: its carried pick needs no further checks.
    void carried_pick_committed();
    // A request to the worker, bracketed by the job clock. A worker found dead is replaced
    // first; a worker that dies during the request (not one the watchdog ended) is replaced
    // and the request made once more. The records a request carries (`carried`, may be null)
    // are refreshed for a new worker and marked sent once the request went out. False when
    // it failed (text in `error`).
    bool call_worker(const std::function<void(millhand&)>& request, std::string& error,
                     queued* carried = nullptr);
    bool worker_timed_out() const;
    // Replaces the worker and refreshes the records a request carries for the new one.
    void replace_worker(queued* carried);
    // After a failed request: kill and restart the worker.
    void restart_worker();
    // Ends the archive's running crawl when nothing is queued for it; true when it ended.
    // `running`, when the caller read the crawl's row in this transaction: whether it runs.
    bool finish_archive_if_empty(std::uint32_t arcid, std::optional<bool> running = {});
    void notify_crawl_end(std::uint32_t arcid);
    void store_result(const queued& q, worker_reply& r);
    pass_result reprocess_road(queued& q);
    pass_result websearch_road(const queued& q, const std::string& scheme);

    mutable std::mutex mutex_;
    std::unique_ptr<millhand> worker_;
    std::int32_t job_start_ = 0;
    bool timed_out_ = false; // the watchdog ended the current request
    std::int32_t timeout_;
    std::atomic<bool> stop_{false};
    crawl_services services_;
    std::shared_ptr<db_connection> db_; // shared by the crawling threads, see above
    std::map<std::uint32_t, std::uint32_t> plugin_stamps_;
    std::map<std::uint32_t, std::uint32_t> docfilter_stamps_;
    crawl_settings settings_;
    // The URL picked at the end of the last storing transaction, for the next pass.
    picked carried_pick_;
};

// Copies the crawl's write-ahead log into the database once it holds enough pages, on a
// connection of its own and outside the storage lock (the crawl connection does not checkpoint
// at its commits, which would hold the lock for the copy and its disk flushes). Called by the
// crawl threads between passes; one runs it at a time, the others go on.
void checkpoint_crawl_log();

} // namespace lumbrake
