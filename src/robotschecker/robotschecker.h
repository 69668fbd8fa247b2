// The robots cache: the robots.txt text of every site the crawler has visited, kept in the
// table robotscache, and the test of a URL against its site's rules for this crawler's robot.
// It fetches nothing: the crawl step fetches a site's robots.txt through its worker when
// needs_refresh says so and hands the text to store.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace lumbrake {

class URI;
class robotstxt;

class robotschecker {
public:
    // Seconds since 1970 UTC; tests pass their own clock.
    using clock_fn = std::function<std::int64_t()>;

    // A stored text is used for this long before the site's robots.txt is fetched again.
    static constexpr std::int64_t refresh_age = 86400;

    // Creates the table robotscache (and its unique index on url) when it is missing. Every
    // operation takes the caller's connection and runs inside the caller's storage
    // transaction; SQLite failures are fatal.
    robotschecker(sqlite3* db, std::string robot_name, clock_fn clock = {});

    // True when the URL's site has no stored robots.txt or one older than a day; then
    // `robots_url` holds the URL to fetch. URLs of schemes not subject to robots.txt answer
    // false and leave `robots_url` untouched.
    bool needs_refresh(sqlite3* db, const std::string& url, std::string& robots_url) const;
    // Stores (or replaces) the site's text, stamped with the current time.
    void store(sqlite3* db, const std::string& robots_url, const std::string& text) const;
    // False only when the site's stored rules forbid the URL's path to this robot.
    // `compiled` is false when the rules did not compile; the URL is then allowed and the
    // caller logs the parse error.
    bool allowed(sqlite3* db, const std::string& url, bool& compiled) const;
    // Forgets every site.
    void clear(sqlite3* db) const;

    const std::string& robot_name() const { return robot_name_; }

    // The robots URL of a parsed URL: scheme, host, the port when it is not the scheme's
    // default, "/robots.txt".
    static std::string robots_url_of(const URI& uri);

private:
    std::int64_t now() const;
    // The rules of a stored row: compiled once per stored text and site, not on every test
    // of a URL. Keyed by the stored bytes themselves, so a row that changed in any way (a
    // refresh, another process's write) is compiled anew at once.
    std::shared_ptr<const robotstxt> rules_of(const std::string& robots_url, const void* packed,
                                              std::size_t packed_size, std::int64_t total,
                                              bool& damaged) const;
    // The rules of a site without a stored text.
    std::shared_ptr<const robotstxt> no_rules() const;

    std::string robot_name_;
    clock_fn clock_;

    struct compiled_rules {
        std::string packed;     // the stored zlib stream
        std::int64_t total = 0; // and its stored length
        std::shared_ptr<const robotstxt> rules;
    };
    mutable std::mutex rules_mutex_;
    mutable std::unordered_map<std::string, compiled_rules> rules_;
    mutable std::shared_ptr<const robotstxt> no_rules_;
};

} // namespace lumbrake
