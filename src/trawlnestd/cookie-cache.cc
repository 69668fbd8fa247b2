#include "trawlnestd/cookie-cache.h"

#include <ctime>
#include <utility>

namespace lumbrake {

cookie_cache::cookie_cache(clock_fn clock) : clock_(std::move(clock)) {}

std::int64_t cookie_cache::now() const {
    return clock_ ? clock_() : static_cast<std::int64_t>(std::time(nullptr));
}

bool cookie_cache::get(std::int32_t arcid, std::int64_t max_age, std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(arcid);
    if (it == entries_.end()) return false;
    if (max_age != 0 && now() - it->second.stored > max_age) return false;
    text = it->second.text;
    return true;
}

void cookie_cache::set(std::int32_t arcid, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_[arcid] = entry{now(), text};
}

} // namespace lumbrake
