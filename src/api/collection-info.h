// The answer record of the collection operations (methods of `api`, apiops/api-common.h).
#pragma once

#include "api/collection.h"

#include <cstdint>

namespace lumbrake {

// The answer of AddCollection, SetCollectionConfiguration and EnumCollectionConfigurations.
struct CollectionInfo {
    std::int32_t Collection = 0;
    CollectionConfiguration Configuration;
    std::uint32_t Magic = 0;
    bool ReadOnly = false;
    bool operator==(const CollectionInfo&) const = default;
};

} // namespace lumbrake
