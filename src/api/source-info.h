// The answer record of the source operations.
#pragma once

#include "api/api-types.h"

#include <cstdint>

namespace lumbrake {

// The answer of AddSource, SetSourceConfiguration and EnumSourceConfigurations.
struct SourceInfo {
    std::int32_t Source = 0;
    SourceConfiguration Configuration;
    std::uint32_t Magic = 0;
    bool ReadOnly = false;
    bool operator==(const SourceInfo&) const = default;
};

} // namespace lumbrake
