// Metadata records of an FFF document and their packed byte form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace FFF {

enum : std::int32_t {
    meta_documentwide = 0,
    meta_positional = 1,
    meta_ranged = 2,
};

struct meta {
    std::int32_t type = meta_documentwide;
    std::int32_t dictid = 0; // slice id
    std::string key;
    std::string value;
    std::uint32_t pos = 0; // positional: the position; ranged: the first position
    std::uint32_t end = 0; // ranged: the last position

    bool operator==(const meta&) const = default;
};

// Replaces out with the packed records of list, sorted by (type, key, value, pos, end) with
// duplicates in those fields removed (dictid takes no part in either).
void metas_to_binary(std::string& out, const std::vector<meta>& list);

// Replaces list with the records packed in in. Stops at the first incomplete record and keeps
// the complete ones before it; never reads past the input.
// Returns true when every byte belonged to a complete record.
bool metas_from_binary(std::vector<meta>& list, std::string_view in);

} // namespace FFF
