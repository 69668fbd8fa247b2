#include "robotschecker/robotschecker.h"

#include "robotschecker/robotstxt.h"
#include "util/log.h"
#include "util/sqlite_stmt.h"
#include "util/sqlite_txn.h"
#include "util/uri.h"

#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <limits>
#include <optional>
#include <memory>

namespace lumbrake {

namespace {

using statement = sqlite_statement;

[[noreturn]] void zlib_fatal(unsigned long line) {
    assertion_failed("r == Z_OK", __FILE__, line);
}

// The first `want` bytes of a stored zlib stream whose whole text is `total` bytes long;
// nothing when the stream does not inflate to exactly that (a damaged row). Reading at most
// `want` bytes keeps a damaged length from sizing the buffer.
std::optional<std::string> inflate_prefix(const void* data, std::size_t size,
                                          std::uint64_t total, std::size_t want) {
    std::string out(want, '\0');
    unsigned char spare;
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) zlib_fatal(__LINE__);
    zs.next_in = static_cast<Bytef*>(const_cast<void*>(data));
    zs.avail_in = static_cast<uInt>(size);
    zs.next_out = want ? reinterpret_cast<Bytef*>(out.data()) : &spare;
    zs.avail_out = want ? static_cast<uInt>(want) : 1u;
    int r = inflate(&zs, Z_FINISH);
    std::uint64_t got = zs.total_out;
    inflateEnd(&zs);
    bool whole = want == total;
    bool ok = whole ? (r == Z_STREAM_END && got == total)
                    : (got == want && (r == Z_OK || r == Z_BUF_ERROR));
    if (!ok) return std::nullopt;
    return out;
}

// The most sites whose compiled rules are kept; past it the set starts again empty (a crawl
// of more sites than this compiles as it did without the set, not worse).
constexpr std::size_t max_kept_rules = 1024;

} // namespace

robotschecker::robotschecker(sqlite3* db, std::string robot_name, clock_fn clock)
    : robot_name_(std::move(robot_name)), clock_(std::move(clock)) {
    if (sqlite3_exec(db, "select * from robotscache limit 1", nullptr, nullptr, nullptr) !=
        SQLITE_OK) {
        TN_SQLITE_CHECK(db, sqlite3_exec(db,
                                         "create table robotscache(url text, timestamp integer, "
                                         "content blob, contentlen integer)",
                                         nullptr, nullptr, nullptr));
        TN_SQLITE_CHECK(db, sqlite3_exec(db,
                                         "create unique index robotscache_idx1 on "
                                         "robotscache(url)",
                                         nullptr, nullptr, nullptr));
    }
}

std::int64_t robotschecker::now() const {
    return clock_ ? clock_() : static_cast<std::int64_t>(std::time(nullptr));
}

std::string robotschecker::robots_url_of(const URI& uri) {
    std::string out;
    uri.normalize_url(out, "/robots.txt", true, true);
    return out;
}

bool robotschecker::needs_refresh(sqlite3* db, const std::string& url,
                                  std::string& robots_url) const {
    URI uri(url, "http", true);
    if (!uri.record().robots) return false;
    robots_url = robots_url_of(uri);

    statement q(db, "select timestamp from robotscache where url=?", keep_prepared);
    q.bind(1, robots_url);
    std::int64_t stored = q.step() == SQLITE_ROW ? sqlite3_column_int64(q.handle(), 0) : 0;
    std::int64_t t = now();
    // A stamp from the future (the clock was set back) is refreshed rather than trusted for
    // however long the clock needs to catch up.
    return t < stored || t - stored > refresh_age;
}

void robotschecker::store(sqlite3* db, const std::string& robots_url,
                          const std::string& text) const {
    TN_ASSERT(text.size() <= std::numeric_limits<std::uint32_t>::max());
    uLongf packed_size = compressBound(static_cast<uLong>(text.size()));
    std::unique_ptr<Bytef[]> packed(new Bytef[packed_size]);
    int r = compress(packed.get(), &packed_size, reinterpret_cast<const Bytef*>(text.data()),
                     static_cast<uLong>(text.size()));
    if (r != Z_OK) zlib_fatal(__LINE__);

    // The URL is bound rather than quoted into the text, so a NUL byte cannot cut it short.
    statement ins(db, "insert or replace into robotscache values(?, ?, ?, ?)");
    ins.bind(1, robots_url);
    TN_SQLITE_CHECK(db, sqlite3_bind_int64(ins.handle(), 2, now()));
    TN_SQLITE_CHECK(db,
                    sqlite3_bind_blob64(ins.handle(), 3, packed.get(), packed_size, SQLITE_TRANSIENT));
    TN_SQLITE_CHECK(db, sqlite3_bind_int64(ins.handle(), 4, static_cast<sqlite3_int64>(text.size())));
    if (ins.step() != SQLITE_DONE) sqlite_fatal(db, __FILE__, __LINE__);
}

bool robotschecker::allowed(sqlite3* db, const std::string& url, bool& compiled) const {
    URI uri(url, "http", true);
    if (!uri.record().robots) {
        compiled = true;
        return true;
    }

    const std::string robots_url = robots_url_of(uri);
    bool damaged = false;
    std::shared_ptr<const robotstxt> rules;
    {
        statement q(db, "select content, contentlen from robotscache where url=?", keep_prepared);
        q.bind(1, robots_url);
        if (q.step() == SQLITE_ROW)
            rules = rules_of(robots_url, q.blob(0), q.bytes(0), q.integer(1), damaged);
    }
    if (damaged) {
        // Only a cached copy: dropped, the next visit of the site fetches it again.
        TN_LOG(LF_WORKERSCHEDULING, LL_ERROR,
               "Damaged robots.txt cache row for " << robots_url << " dropped");
        statement del(db, "delete from robotscache where url=?");
        del.bind(1, robots_url);
        del.step();
    }

    if (!rules) rules = no_rules();
    compiled = rules->compiled();
    if (!compiled) return true;
    return !rules->matches(uri.path());
}

std::shared_ptr<const robotstxt> robotschecker::rules_of(const std::string& robots_url,
                                                         const void* packed,
                                                         std::size_t packed_size,
                                                         std::int64_t total, bool& damaged) const {
    const std::string_view stored(static_cast<const char*>(packed), packed ? packed_size : 0);
    {
        std::lock_guard<std::mutex> lock(rules_mutex_);
        auto it = rules_.find(robots_url);
        if (it != rules_.end() && it->second.total == total && it->second.packed == stored)
            return it->second.rules;
    }
    std::optional<std::string> inflated;
    if (total >= 0 && total <= std::numeric_limits<std::uint32_t>::max()) {
        std::size_t want =
            static_cast<std::size_t>(std::min<std::int64_t>(total, robotstxt::max_text));
        inflated = inflate_prefix(packed, packed_size, static_cast<std::uint64_t>(total), want);
    }
    if (!inflated) {
        damaged = true;
        return nullptr;
    }
    auto rules = std::make_shared<const robotstxt>(*inflated, robot_name_);
    std::lock_guard<std::mutex> lock(rules_mutex_);
    if (rules_.size() >= max_kept_rules) rules_.clear();
    rules_[robots_url] = compiled_rules{std::string(stored), total, rules};
    return rules;
}

std::shared_ptr<const robotstxt> robotschecker::no_rules() const {
    std::lock_guard<std::mutex> lock(rules_mutex_);
    if (!no_rules_) no_rules_ = std::make_shared<const robotstxt>(std::string_view(), robot_name_);
    return no_rules_;
}

void robotschecker::clear(sqlite3* db) const {
    TN_SQLITE_CHECK(db, sqlite3_exec(db, "delete from robotscache", nullptr, nullptr, nullptr));
}

} // namespace lumbrake
