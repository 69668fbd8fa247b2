// Index configurations: one archive and the source it names, shown and edited as one record
// so that an administrator can set up a site for indexing in one step. Nothing is stored for
// an index configuration itself; its id is the archive's id and its magic combines the magics
// of the two records. The operations are methods of `api` (apiops/api-common.h).
#pragma once

#include "api/indexcfg.h"

#include <cstdint>
#include <string>

namespace lumbrake {

// One entry of EnumIndexConfigurations.
struct IndexInfo {
    std::string Name;
    std::int32_t Index = 0; // the archive id
    bool Crawling = false;
    bool Historicize = false;
    std::int32_t Documents = 0;
    std::int32_t Errors = 0;
    std::int32_t LastRunStart = 0;
    std::int32_t LastRunEnd = 0;
    std::int32_t NextRun = 0;
    IndexConfiguration Configuration;
    std::uint32_t Magic = 0;
    bool operator==(const IndexInfo&) const = default;
};

// The magic of an index configuration: archive magic XOR source magic.
inline std::uint32_t index_magic(std::uint32_t archive_magic, std::uint32_t source_magic) {
    return archive_magic ^ source_magic;
}

} // namespace lumbrake
