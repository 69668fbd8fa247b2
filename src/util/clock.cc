#include "util/clock.h"

#include "util/syslayer.h"

namespace lumbrake {

std::int64_t ms_of_timeval(const struct timeval& tv) {
    return static_cast<std::int64_t>(tv.tv_sec) * 1000 +
           static_cast<std::int64_t>(tv.tv_usec) / 1000;
}

std::int64_t now_ms() {
    struct timeval tv;
    lumbrake::gettimeofday(&tv);
    return ms_of_timeval(tv);
}

} // namespace lumbrake
