#include "trawlnestd/process-thread.h"

#include "fetchqueue/fetchqueue.h"
#include "trawlnestd/cfgstorage.h"
#include "util/log.h"
#include "util/sqlite_txn.h"

#include <chrono>
#include <thread>

namespace lumbrake {

namespace {

// What SQLite's automatic checkpoint would wait for: WAL pages since the last checkpoint.
constexpr int checkpoint_pages = 1000;
// A log this long has not started again since the last checkpoints: the next one goes on to
// its end (below).
constexpr int restart_pages = checkpoint_pages + checkpoint_pages / 2;
// What is left for the last copy, made with the writers held.
constexpr int tail_pages = 64;

// The connection of the crawling threads alive now, opened by the first of them and closed
// with the last, and the one their checkpoints run on.
struct crawl_db {
    explicit crawl_db(const config& cfg) : main(cfg), checkpoints(cfg) {
        // Replaces the automatic checkpoint of the commits: SQLite calls it after each commit
        // with the log's size.
        sqlite3_wal_hook(main.get(), &crawl_db::committed, this);
    }
    static int committed(void* self, sqlite3*, const char*, int pages) {
        static_cast<crawl_db*>(self)->log_pages = pages;
        return SQLITE_OK;
    }
    db_connection main;
    db_connection checkpoints;
    std::mutex checkpointing;
    std::atomic<int> log_pages{0};
};

std::mutex crawl_db_mutex;
std::weak_ptr<crawl_db> current_crawl_db;

std::shared_ptr<db_connection> crawl_connection(const config& cfg) {
    std::lock_guard<std::mutex> lock(crawl_db_mutex);
    std::shared_ptr<crawl_db> shared = current_crawl_db.lock();
    if (!shared) {
        shared = std::make_shared<crawl_db>(cfg);
        current_crawl_db = shared;
    }
    return std::shared_ptr<db_connection>(shared, &shared->main);
}

} // namespace

void checkpoint_crawl_log() {
    std::shared_ptr<crawl_db> shared;
    {
        std::lock_guard<std::mutex> lock(crawl_db_mutex);
        shared = current_crawl_db.lock();
    }
    if (!shared || shared->log_pages < checkpoint_pages) return;
    std::unique_lock<std::mutex> mine(shared->checkpointing, std::try_to_lock);
    if (!mine || shared->log_pages < checkpoint_pages) return;
    const int log_pages = shared->log_pages;
    // Asked again by the next commit's size: a log the checkpoint emptied starts again small.
    shared->log_pages = 0;
    sqlite3* db = shared->checkpoints.get();
    // PASSIVE: copies what no reader still needs, beside the writers, without waiting.
    int in_log = 0, copied = 0;
    int rc = sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, &in_log, &copied);
    // The log starts again from its beginning only when a writer begins while every frame is
    // copied. Crawl threads that never pause commit while each checkpoint runs, so a log that
    // kept growing is copied again (what came during the copy before) until little is left,
    // and that little with the writers held.
    if (rc == SQLITE_OK && log_pages >= restart_pages) {
        for (int pass = 0; rc == SQLITE_OK && pass < 4 && shared->log_pages - copied > tail_pages;
             ++pass)
            rc = sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, &in_log,
                                           &copied);
        // The commits since the first copy set the log's size again (none: nothing is left).
        if (rc == SQLITE_OK && shared->log_pages > copied) {
            storage_quiet writers_held;
            rc = sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr,
                                           nullptr);
        }
    }
    if (rc != SQLITE_OK && rc != SQLITE_BUSY)
        TN_LOG(LF_WORKERSCHEDULING, LL_ERROR,
               "Checkpoint of the write-ahead log failed: " << sqlite3_errmsg(db));
}

process_thread::process_thread(const crawl_services& services, std::int32_t timeout)
    : wxThread(wxTHREAD_JOINABLE), timeout_(timeout), services_(services),
      db_(crawl_connection(*services.cfg)), settings_(crawl_settings::read(*services.cfg)) {
    wproc_init();
}

process_thread::~process_thread() {
    std::lock_guard<std::mutex> lock(mutex_);
    worker_.reset();
}

void process_thread::wproc_init() {
    std::lock_guard<std::mutex> lock(mutex_);
    worker_.reset();
    worker_ = std::make_unique<millhand>(*services_.cfg);
    job_start_ = 0;
    timed_out_ = false;
    plugin_stamps_.clear();
    docfilter_stamps_.clear();
    std::string error;
    if (!worker_->start(error)) {
        TN_LOG(LF_WORKERSCHEDULING, LL_ERROR, "wproc_init(): " << error);
        TN_ASSERT(false);
    }
}

void process_thread::set_job_start(std::int32_t time) {
    std::lock_guard<std::mutex> lock(mutex_);
    job_start_ = time;
}

std::int32_t process_thread::job_start() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return job_start_;
}

void process_thread::check_timeout(bool force) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!worker_) return;
    if (force) {
        worker_->kill_worker();
        return;
    }
    if (job_start_ < 1) return;
    if (services_.now() - job_start_ >= timeout_) {
        worker_->kill_worker();
        timed_out_ = true;
        TN_LOG(LF_WORKERSCHEDULING, LL_INFO, "Worker timed out");
    }
}

void process_thread::update_plugin_cache(std::int32_t source_id,
                                         const std::vector<std::uint32_t>& docfilter_ids,
                                         millhand::plugin_map& plugins,
                                         millhand::docfilter_map& docfilters) {
    sqlite3* db = db_->get();
    TN_LOG(LF_PLUGINSYSTEM, LL_DEBUG, "Updating plugin cache...");
    for (std::uint32_t id : docfilter_ids) {
        TN_LOG(LF_PLUGINSYSTEM, LL_BORING, "Considering docfilter " << id);
        // Parsed once per change of the records (the shared record cache), not once per URL.
        std::uint32_t magic = 0;
        auto filter = cfgstorage<DocFilter>::get_shared(db, static_cast<int>(id), magic);
        if (!filter) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
                   "Cannot find docfilter " << id << " for source " << source_id);
            continue;
        }
        auto stamp = docfilter_stamps_.find(id);
        if (stamp == docfilter_stamps_.end() || stamp->second != magic) {
            TN_LOG(LF_PLUGINSYSTEM, LL_BORING, "Docfilter " << id << " is dirty");
            docfilters[id] = millhand_wire::docfilter_message{magic, *filter};
        }
        TN_LOG(LF_PLUGINSYSTEM, LL_BORING,
               "Docfilter " << id << " uses plugin " << filter->PluginID);
        std::uint32_t plugin_magic = 0;
        const std::uint32_t plugin_id = static_cast<std::uint32_t>(filter->PluginID);
        auto plugin = cfgstorage<Plugin>::get_shared(db, filter->PluginID, plugin_magic);
        if (!plugin) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
                   "Cannot find plugin " << filter->PluginID << " for docfilter " << id
                                         << " for source " << source_id);
            continue;
        }
        auto pstamp = plugin_stamps_.find(plugin_id);
        if (pstamp == plugin_stamps_.end() || pstamp->second != plugin_magic) {
            TN_LOG(LF_PLUGINSYSTEM, LL_BORING, "Plugin " << plugin_id << " is dirty");
            plugins[plugin_id] = millhand_wire::plugin_message{plugin_magic, *plugin};
        }
    }
}

void process_thread::plugins_sent(const millhand::plugin_map& plugins,
                                  const millhand::docfilter_map& docfilters) {
    for (const auto& [id, message] : plugins)
        plugin_stamps_[id] = message.magic;
    for (const auto& [id, message] : docfilters)
        docfilter_stamps_[id] = message.magic;
}

pid_t process_thread::worker_pid() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return worker_ ? worker_->child() : 0;
}

wxThread::ExitCode process_thread::Entry() {
    // Free space when a write failed for lack of it: crawling waits until there is more.
    std::uint64_t full_at = 0;
    bool full = false;
    while (!stop_) {
        if (full) {
            if (services_.free_bytes(settings_.datadir) <= full_at) {
                for (int i = 0; i < 10 && !stop_; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                continue;
            }
            full = false;
            TN_LOG(LF_WORKERSCHEDULING, LL_ERROR, "Disk space is back; crawling resumes");
        }
        pass_result r = pass_result::idle;
        // URLs queued from here on end the idle pause below.
        const std::uint64_t queued = services_.queue->queued_count();
        try {
            r = crawl_pass();
        } catch (const sqlite_error& e) {
            // The step was rolled back on the way out: its URL stays queued for a later pass.
            TN_LOG(LF_WORKERSCHEDULING, LL_ERROR, "Crawl step failed: " << e.what());
            if (e.code() == SQLITE_FULL) {
                full = true;
                full_at = services_.free_bytes(settings_.datadir);
                TN_LOG(LF_WORKERSCHEDULING, LL_ERROR,
                       "The data volume is full; crawling stops until there is room");
            }
        }
        if (r == pass_result::stopped) break;
        checkpoint_crawl_log();
        if (r == pass_result::idle) {
            // Waits a second, in steps so that a stop is seen soon, or until a URL is queued.
            for (int i = 0; i < 10 && !stop_; ++i)
                if (services_.queue->wait_queued(queued, std::chrono::milliseconds(100))) break;
        }
    }
    check_timeout(true);
    return 0;
}

} // namespace lumbrake
