// The watch record: a saved query over a collection, and its XML text form.
#pragma once

#include "api/api-types.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumbrake {

enum QueryParser : int { NOPARSER = 0, RPNPARSER = 1, ALGPARSER = 2, NETPARSER = 3 };

struct WatchConfiguration {
    std::string Name;
    std::string Description;
    std::string Query;
    QueryParser Parser = ALGPARSER;
    int32_t Freshness = 0;  // how far back the watch looks
    int32_t Collection = 0; // id of the CollectionConfiguration searched
    std::vector<AccessSpec> ACL;
    bool operator==(const WatchConfiguration&) const = default;
};

// False, with `xml` empty and the reason in `error` (when given), when a text member cannot be
// carried by XML or the parser is out of range.
bool watch_to_xml(const WatchConfiguration& watch, std::string& xml, std::string* error = nullptr);
// Resets the record and reads it; true when the text is well-formed XML. The older parser name
// "soa" reads as ALGPARSER.
bool watch_from_xml(const char* text, std::size_t length, WatchConfiguration& watch);

} // namespace lumbrake
