// Source and authentication operations (methods of `api`, api-common.h) and their answer
// record.
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

// Replaces every seed by the canonical text of its URL parsed with the default scheme "http".
void normalize_seeds(SourceConfiguration& cfg);

} // namespace lumbrake
