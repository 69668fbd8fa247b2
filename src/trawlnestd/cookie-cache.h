// Cookies collected by the log-in request of cookie-authenticated sources, kept per archive so
// that the process threads reuse them for the source's Freshness instead of logging in again
// for every URL. Shared by every process thread: it locks its own mutex.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace lumbrake {

class cookie_cache {
public:
    // Seconds since 1970 UTC; tests pass their own clock.
    using clock_fn = std::function<std::int64_t()>;

    explicit cookie_cache(clock_fn clock = {});

    // True, with the text copied, when the archive has an entry and either max_age is 0 or the
    // entry is at most max_age seconds old; otherwise false and `text` untouched.
    bool get(std::int32_t arcid, std::int64_t max_age, std::string& text) const;
    // Stores the text with the current time, replacing any entry of the archive.
    void set(std::int32_t arcid, const std::string& text);

private:
    struct entry {
        std::int64_t stored = 0;
        std::string text;
    };

    std::int64_t now() const;

    mutable std::mutex mutex_;
    std::map<std::int32_t, entry> entries_;
    clock_fn clock_;
};

} // namespace lumbrake
