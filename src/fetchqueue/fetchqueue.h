// The crawl frontier: URLs waiting to be fetched, per archive, with a priority, kept in the
// table fetchqueue; beside it, in memory, the politeness state that picks the next URL
// (archives in turn, an archive's hosts in turn, one fetch per host at a time, a pause
// between two fetches from one host). URLs without a network host (stored documents to
// process again, local files) burden no server: any number of them are handed out at once.
//
// The queue has no lock of its own: every call runs inside the caller's storage_transaction,
// whose process-wide mutex also guards the in-memory state (never call it from a snapshot).
#pragma once

#include "util/sqlite_stmt.h"

#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

namespace lumbrake {

class fetchqueue {
public:
    // Seconds since 1970 UTC; tests pass their own clock.
    using clock_fn = std::function<std::int64_t()>;

    static constexpr std::int32_t default_delay = 20;

    // Creates the table and its indexes when missing, then rebuilds the host map from the
    // queued rows (nothing fetched, nothing busy). `delay` is the pause in seconds between
    // two fetches from one host (0: none).
    fetchqueue(sqlite3* db, std::int32_t delay, clock_fn clock = {});

    // A URL as the queue keeps it: its canonical form and the host it is fetched from. Worked
    // out from the URL alone, so a caller does it before taking the storage lock.
    struct key {
        std::string canonical, host;
    };
    static key key_of(const std::string& url);

    // Queues many URLs of one archive through one prepared statement (a page's links); inside
    // the caller's transaction, for the lifetime of that transaction only.
    class batch {
    public:
        batch(fetchqueue& queue, sqlite3* db, std::uint32_t arcid);
        // As push, for a URL whose key is already known.
        void push(const key& url, std::uint32_t priority);

    private:
        fetchqueue& queue_;
        sqlite3* db_;
        std::uint32_t arcid_;
        sqlite_statement insert_;
    };

    // Queues the URL (stored in canonical form) for the archive; a URL already queued for the
    // archive keeps its first priority.
    void push(sqlite3* db, std::uint32_t arcid, const std::string& url, std::uint32_t priority);
    // Hands out the next URL that may be fetched now, lowest priority value first within a
    // host; false when none may. On false `arcid` is the last archive examined.
    bool next(sqlite3* db, std::uint32_t& arcid, std::string& url, std::uint32_t& priority);
    // Deletes a handled URL and frees its host for the next fetch.
    void remove(sqlite3* db, std::uint32_t arcid, const std::string& url);
    // True when the archive has no queued URL.
    bool empty(sqlite3* db, std::uint32_t arcid) const;
    // Deletes the archive's URLs; its hosts are forgotten one by one as next meets them.
    void clear_archive(sqlite3* db, std::uint32_t arcid);
    // Deletes every URL and forgets every host.
    void clear(sqlite3* db);

    std::int32_t delay() const { return delay_; }

    // Crawl threads with nothing to do wait here for a URL to be queued (the seeds of a crawl
    // that starts, a page's links, documents to process again) instead of sleeping out their
    // pause. The number of URLs queued so far: read before a pick that may find nothing.
    std::uint64_t queued_count() const;
    // Waits until more than `seen` URLs were queued or the time is out; true when they were.
    // Each URL queued wakes one waiting thread (it picks once the queueing transaction ended).
    bool wait_queued(std::uint64_t seen, std::chrono::milliseconds timeout);

    // The delay of the setting Throttling: its value when it is not empty and either starts
    // with a decimal number above 0 or is exactly "0"; 20 otherwise.
    static std::int32_t delay_from_setting(bool present, const std::string& value);

private:
    struct host_entry {
        std::uint32_t last_fetch = 0;
        bool busy = false;
        // The URLs handed out and not yet removed, for the host-less entry only.
        std::set<std::string> in_flight;
    };
    using host_map = std::map<std::string, host_entry>;
    struct archive_entry {
        host_map hosts;
        host_map::iterator host_cursor;
    };
    using archive_map = std::map<std::uint32_t, archive_entry>;

    archive_entry& archive(std::uint32_t arcid);
    void add_host(archive_entry& entry, const std::string& host);
    bool may_fetch(host_entry& host, const std::string& name, std::int64_t now) const;
    std::int64_t now() const;

    void note_queued();

    archive_map archives_;
    archive_map::iterator archive_cursor_;
    // The waiting threads' own lock: they wait outside the storage mutex.
    mutable std::mutex queued_mutex_;
    std::condition_variable queued_cv_;
    std::uint64_t queued_ = 0;
    std::int32_t delay_;
    clock_fn clock_;
};

} // namespace lumbrake
