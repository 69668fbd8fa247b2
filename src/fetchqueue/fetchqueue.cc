#include "fetchqueue/fetchqueue.h"

#include "util/log.h"
#include "util/sqlite_stmt.h"
#include "util/sqlite_txn.h"
#include "util/uri.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <limits>

namespace lumbrake {

namespace {

using statement = sqlite_statement;

void exec(sqlite3* db, const char* sql) {
    TN_SQLITE_CHECK(db, sqlite3_exec(db, sql, nullptr, nullptr, nullptr));
}

// The canonical text under which the queue stores a URL, and the host it is fetched from.
void canonical_and_host(const std::string& url, std::string& canonical, std::string& host) {
    URI uri(url, "http", true);
    canonical = uri.canonical_string(true);
    host = uri.host();
}

// Hosts on this machine are fetched without a pause.
bool is_local(const std::string& host) {
    return host.empty() || host == "localhost" || host == "127.0.0.1";
}

} // namespace

std::int32_t fetchqueue::delay_from_setting(bool present, const std::string& value) {
    if (!present || value.empty()) return default_delay;
    if (value == "0") return 0;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(value.c_str(), &end, 10);
    if (end == value.c_str() || v <= 0) return default_delay;
    if (errno == ERANGE || v > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(v);
}

fetchqueue::fetchqueue(sqlite3* db, std::int32_t delay, clock_fn clock)
    : archive_cursor_(archives_.end()), delay_(delay < 0 ? 0 : delay), clock_(std::move(clock)) {
    if (sqlite3_exec(db, "select * from fetchqueue limit 1", nullptr, nullptr, nullptr) !=
        SQLITE_OK) {
        exec(db, "create table fetchqueue(arcid integer, url text, host text, priority integer)");
        exec(db, "create unique index fetchqueue_idx1 on fetchqueue(arcid, url)");
        exec(db, "create index fetchqueue_idx2 on fetchqueue(arcid, host, priority)");
    }
    statement q(db, "select distinct arcid, host from fetchqueue");
    while (q.step() == SQLITE_ROW)
        archive(q.u32(0)).hosts.try_emplace(q.text(1));
    for (auto& [id, entry] : archives_)
        entry.host_cursor = entry.hosts.begin();
    archive_cursor_ = archives_.begin();
}

std::int64_t fetchqueue::now() const {
    return clock_ ? clock_() : static_cast<std::int64_t>(std::time(nullptr));
}

fetchqueue::archive_entry& fetchqueue::archive(std::uint32_t arcid) {
    auto [it, added] = archives_.try_emplace(arcid);
    if (added) it->second.host_cursor = it->second.hosts.end();
    return it->second;
}

void fetchqueue::add_host(archive_entry& entry, const std::string& host) {
    auto [it, added] = entry.hosts.try_emplace(host);
    if (added && entry.hosts.size() == 1) entry.host_cursor = it;
}

fetchqueue::key fetchqueue::key_of(const std::string& url) {
    key k;
    canonical_and_host(url, k.canonical, k.host);
    return k;
}

fetchqueue::batch::batch(fetchqueue& queue, sqlite3* db, std::uint32_t arcid)
    : queue_(queue), db_(db), arcid_(arcid),
      insert_(db, "insert into fetchqueue values(?, ?, ?, ?)", keep_prepared) {}

void fetchqueue::batch::push(const key& url, std::uint32_t priority) {
    insert_.reset();
    insert_.bind(1, arcid_);
    insert_.bind(2, url.canonical);
    insert_.bind(3, url.host);
    insert_.bind(4, priority);
    int rc = insert_.step_result();
    // Already queued for this archive: the first priority stays.
    if (rc != SQLITE_DONE && (rc & 0xff) != SQLITE_CONSTRAINT)
        sqlite_fatal(db_, __FILE__, __LINE__);
    queue_.add_host(queue_.archive(arcid_), url.host);
    if (queue_.archives_.size() == 1) queue_.archive_cursor_ = queue_.archives_.begin();
    if (rc == SQLITE_DONE) queue_.note_queued();
}

void fetchqueue::note_queued() {
    {
        std::lock_guard<std::mutex> lock(queued_mutex_);
        ++queued_;
    }
    queued_cv_.notify_one();
}

std::uint64_t fetchqueue::queued_count() const {
    std::lock_guard<std::mutex> lock(queued_mutex_);
    return queued_;
}

bool fetchqueue::wait_queued(std::uint64_t seen, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(queued_mutex_);
    return queued_cv_.wait_for(lock, timeout, [&] { return queued_ > seen; });
}

void fetchqueue::push(sqlite3* db, std::uint32_t arcid, const std::string& url,
                      std::uint32_t priority) {
    batch(*this, db, arcid).push(key_of(url), priority);
}

bool fetchqueue::may_fetch(host_entry& host, const std::string& name, std::int64_t t) const {
    if (host.busy) return false;
    if (is_local(name) || delay_ == 0) return true;
    // A clock set back behind the last fetch restarts the pause from now instead of holding
    // the host until the clock catches up.
    if (t < host.last_fetch) host.last_fetch = static_cast<std::uint32_t>(t < 0 ? 0 : t);
    return t >= static_cast<std::int64_t>(host.last_fetch) + delay_;
}

bool fetchqueue::next(sqlite3* db, std::uint32_t& arcid, std::string& url,
                      std::uint32_t& priority) {
    std::int64_t t = now();
    for (std::size_t a = 0, archive_count = archives_.size(); a < archive_count; ++a) {
        if (archive_cursor_ == archives_.end()) archive_cursor_ = archives_.begin();
        auto current = archive_cursor_++;
        arcid = current->first;
        archive_entry& entry = current->second;

        for (std::size_t h = 0, host_count = entry.hosts.size(); h < host_count; ++h) {
            if (entry.hosts.empty()) break;
            if (entry.host_cursor == entry.hosts.end()) entry.host_cursor = entry.hosts.begin();
            auto host = entry.host_cursor++;
            if (host->first.empty()) {
                // Host-less URLs run side by side: the first queued one not yet handed out.
                host_entry& he = host->second;
                statement q(db,
                            "select url, priority from fetchqueue where arcid=? and host=? "
                            "order by priority limit ?",
                            keep_prepared);
                q.bind(1, arcid);
                q.bind(2, host->first);
                q.bind(3, static_cast<std::uint32_t>(he.in_flight.size() + 1));
                while (q.step() == SQLITE_ROW) {
                    std::string candidate = q.text(0);
                    if (he.in_flight.count(candidate)) continue;
                    url = std::move(candidate);
                    priority = q.u32(1);
                    he.in_flight.insert(url);
                    if (entry.host_cursor == entry.hosts.end())
                        entry.host_cursor = entry.hosts.begin();
                    if (archive_cursor_ == archives_.end()) archive_cursor_ = archives_.begin();
                    return true;
                }
                // Forgotten only when nothing is out either: a URL still out must not be
                // handed out again once the host comes back.
                if (he.in_flight.empty()) entry.hosts.erase(host);
            } else if (may_fetch(host->second, host->first, t)) {
                statement q(db,
                            "select url, priority from fetchqueue where arcid=? and host=? "
                            "order by priority limit 1",
                            keep_prepared);
                q.bind(1, arcid);
                q.bind(2, host->first);
                if (q.step() == SQLITE_ROW) {
                    url = q.text(0);
                    priority = q.u32(1);
                    host->second.last_fetch = static_cast<std::uint32_t>(
                        t < 0 ? 0 : std::min<std::int64_t>(t, 0xffffffffLL));
                    host->second.busy = true;
                    if (entry.host_cursor == entry.hosts.end())
                        entry.host_cursor = entry.hosts.begin();
                    if (archive_cursor_ == archives_.end()) archive_cursor_ = archives_.begin();
                    return true;
                }
                // Nothing left for this host: the cursor already stands past it.
                entry.hosts.erase(host);
            }
            if (entry.host_cursor == entry.hosts.end()) entry.host_cursor = entry.hosts.begin();
        }
        if (archive_cursor_ == archives_.end()) archive_cursor_ = archives_.begin();
    }
    return false;
}

void fetchqueue::remove(sqlite3* db, std::uint32_t arcid, const std::string& url) {
    std::string canonical, host;
    canonical_and_host(url, canonical, host);
    statement del(db, "delete from fetchqueue where arcid=? and url=?", keep_prepared);
    del.bind(1, arcid);
    del.bind(2, canonical);
    del.step();
    auto a = archives_.find(arcid);
    if (a == archives_.end()) return;
    auto h = a->second.hosts.find(host);
    if (h == a->second.hosts.end()) return;
    h->second.busy = false;
    h->second.in_flight.erase(canonical);
}

bool fetchqueue::empty(sqlite3* db, std::uint32_t arcid) const {
    statement q(db, "select * from fetchqueue where arcid=? limit 1", keep_prepared);
    q.bind(1, arcid);
    return q.step() != SQLITE_ROW;
}

void fetchqueue::clear_archive(sqlite3* db, std::uint32_t arcid) {
    statement del(db, "delete from fetchqueue where arcid=?", keep_prepared);
    del.bind(1, arcid);
    del.step();
}

void fetchqueue::clear(sqlite3* db) {
    exec(db, "delete from fetchqueue");
    archives_.clear();
    archive_cursor_ = archives_.end();
}

} // namespace lumbrake
