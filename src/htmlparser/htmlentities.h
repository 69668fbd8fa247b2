// The character entity names that HTML text may use ("&nbsp;" to "&euro;"), case-sensitive.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumbrake {

inline constexpr std::size_t html_entity_max_name = 8; // "thetasym"

// The code point of the entity name, or 0 when it is not one.
std::uint32_t html_entity_lookup(const char* name, std::size_t length);
std::size_t html_entity_count();

} // namespace lumbrake
