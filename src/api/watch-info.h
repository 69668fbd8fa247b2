// The answer record of the watch operations (methods of `api`, apiops/api-common.h).
#pragma once

#include "api/watch.h"

#include <cstdint>

namespace lumbrake {

// The answer of AddWatch, SetWatchConfiguration and EnumWatchConfigurations.
struct WatchInfo {
    std::int32_t Watch = 0;
    WatchConfiguration Configuration;
    std::uint32_t Magic = 0;
    bool ReadOnly = false;
    bool operator==(const WatchInfo&) const = default;
};

} // namespace lumbrake
