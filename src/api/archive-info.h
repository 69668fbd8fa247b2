// The answer record of the archive operations (methods of `api`, apiops/api-common.h).
#pragma once

#include "api/archive.h"

#include <cstdint>

namespace lumbrake {

// The answer of AddArchive, SetArchiveConfiguration, GetArchiveInfo and
// EnumArchiveConfigurations: the record with its stamp and the archive's crawl state.
struct ArchiveInfo {
    std::int32_t Archive = 0;
    ArchiveConfiguration Configuration;
    std::uint32_t Magic = 0;
    bool ReadOnly = false;
    bool Crawling = false;         // a crawl is running
    std::int32_t Documents = 0;    // counted by the newest crawl record
    std::int32_t Errors = 0;       // counted by the newest crawl record
    std::int32_t LastRunStart = 0; // seconds since 1970 UTC; 0 if none
    std::int32_t LastRunEnd = 0;   // 0 while it runs or if none
    std::int32_t NextRun = 0;      // next scheduled run; 0 for none
    bool operator==(const ArchiveInfo&) const = default;
};

} // namespace lumbrake
