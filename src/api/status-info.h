// The status codes, the extended status row and the version texts that GetStatus, GetVersion
// and GetMinClientVersion answer (methods of `api`, apiops/api-common.h).
#pragma once

#include <cstdint>
#include <string>

namespace lumbrake {

// The daemon's running state as GetStatus answers it.
enum api_status_code : std::int32_t {
    RUNNING = 0,      // crawling may take place
    CRAWLSTOPPED = 1, // the current UTC hour lies outside CRAWLSTART..CRAWLSTOP
    LOWDISKSPACE = 2, // DATADIR's volume has less free space than MINFREEDISK
};

// One key/value row of GetStatus.
struct ExtendedStatus {
    std::string Key;
    std::string Value;
    bool operator==(const ExtendedStatus&) const = default;
};

// What GetVersion and GetMinClientVersion answer.
inline constexpr const char* SERVER_VERSION = "2.0.2.1010";
inline constexpr const char* MIN_CLIENT_VERSION = "2.0.0";

} // namespace lumbrake
