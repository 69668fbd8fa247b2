// Entity tables of the markup escapers.
#pragma once

#include <map>
#include <string_view>

namespace lumbrake {

// Character (a one-byte key) to XML entity name: & amp, < lt, > gt, " quot, ' apos.
// Ordered by plain byte comparison; built once, read by any thread.
const std::map<std::string_view, std::string_view>& xml_entity_names();

} // namespace lumbrake
