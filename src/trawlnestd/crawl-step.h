// What the crawling threads share and the pure rules of the crawl step: the services of the
// application that a process thread and the scheduler work with, the settings of the crawl
// loop, the crawl window, the scores and document ids, the cookie harvest and the crawl-end
// notification. The loop itself is process_thread::crawl_pass (process-thread.h).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace lumbrake {

class config;
class cookie_cache;
class docstorage;
class fetchqueue;
class logstorage;
class idxstorage;
class robotschecker;

// The application's parts that the process threads and the scheduler use. The application
// (or a test) owns everything pointed to, for longer than the threads live. The configuration
// stores need no object: their operations are static and take the thread's connection.
struct crawl_services {
    const config* cfg = nullptr; // the application's configuration map
    std::string platform_id;     // PlatformGUID of the database
    cookie_cache* cookies = nullptr;
    docstorage* docs = nullptr;
    fetchqueue* queue = nullptr;
    logstorage* logs = nullptr;
    idxstorage* index = nullptr;
    robotschecker* robots = nullptr;
    // Seconds since 1970 UTC; empty: the system clock.
    std::function<std::int64_t()> clock;
    // Bytes available to the caller on the volume of a path; empty: disk_free_space.
    std::function<std::uint64_t(const std::string&)> free_space;
    // The application's watchdog pass over every process thread (run by the scheduler).
    std::function<void()> check_workers;

    std::int64_t now() const;
    std::uint64_t free_bytes(const std::string& path) const;
};

// Free space required when MINFREEDISK is absent (500 MB).
inline constexpr std::uint64_t default_min_free_disk = 524288000ULL;

// MINFREEDISK: a count of megabytes (decimal, unsigned 64-bit) times 1048576; absent gives the
// default. A value whose product does not fit is taken as the largest count.
std::uint64_t min_free_disk_from(bool present, const std::string& value);

// The settings of the crawl loop, read once when the loop starts.
struct crawl_settings {
    std::string datadir;
    std::string notify_url;
    std::uint64_t min_free_disk = default_min_free_disk;
    int crawl_start = 0;
    int crawl_stop = 23;
    int notify_timeout = 30; // NOTIFYTIMEOUT: seconds for connecting and for the whole GET

    static crawl_settings read(const config& cfg);
};

// The UTC hour of a time: (seconds / 3600) mod 24.
int utc_hour(std::int64_t seconds);
// True when the hour lies in the crawl window start..stop; the window wraps past midnight
// when start >= stop (equal values: the whole day).
bool in_crawl_window(int hour, int start, int stop);

// The base score of a queue priority: 1000000 - priority, 0 from 1000000 on.
std::uint32_t base_score_of(std::uint32_t priority);

// md5_hex of platform id "|" archive id "|" URL, with "|" fetch time when historicizing.
std::string document_id(const std::string& platform_id, std::uint32_t arcid, const std::string& url,
                        bool historicize, std::int64_t fetch_time);

// The cookie text of a log-in reply's headers: the value (up to the first ';', blanks after
// the colon skipped, empty values left out) of every line whose header name is Set-Cookie in
// any case, carriage returns removed, joined with "; ".
std::string cookies_from_headers(const std::string& headers);

// The crawl-end notification URL: the printf-style format with the archive id as its one
// argument. Only "%%" and one integer conversion (flags, width and precision of at most two
// digits, any length modifier, then d, i, u, o, x or X) are taken; any other conversion, a
// second conversion, or a result above 4096 bytes gives nothing.
std::optional<std::string> format_notify_url(const std::string& format, std::uint32_t arcid);

// One GET of the URL with libcurl (no redirects followed, the body discarded, the connection
// closed afterwards), bounded by `timeout_seconds` for connecting and for the whole transfer.
// False with curl's reason when the transfer failed; the answer's status is not looked at.
bool send_notification(const std::string& url, int timeout_seconds, std::string& error);

} // namespace lumbrake
