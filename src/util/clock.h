// The daemon's millisecond clock (platform identifiers, request timing).
#pragma once

#include <cstdint>
#include <sys/time.h>

namespace lumbrake {

// Milliseconds of a time-of-day value: seconds * 1000 + microseconds / 1000, rounded down.
std::int64_t ms_of_timeval(const struct timeval& tv);

// Milliseconds since 1970 from the time-of-day call.
std::int64_t now_ms();

} // namespace lumbrake
