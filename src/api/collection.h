// The collection record: a searchable set of archives, and its XML text form.
#pragma once

#include "api/api-types.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumbrake {

struct CollectionConfiguration {
    std::string Name;
    std::string Description;
    std::vector<int32_t> Archives; // archive ids, in order, repeats kept
    std::vector<AccessSpec> ACL;
    bool operator==(const CollectionConfiguration&) const = default;
};

// False, with `xml` empty and the reason in `error` (when given), when a text member cannot be
// carried by XML.
bool collection_to_xml(const CollectionConfiguration& collection, std::string& xml,
                       std::string* error = nullptr);
// Resets the record and reads it; true when the text is well-formed XML.
bool collection_from_xml(const char* text, std::size_t length, CollectionConfiguration& collection);

} // namespace lumbrake
