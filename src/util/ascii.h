// Letter case of the words in protocols and markup (robots.txt fields, charset labels, tag
// attributes): ASCII only, whatever the locale; bytes above 127 stay as they are.
#pragma once

#include <cstddef>
#include <string_view>

namespace lumbrake {

inline char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool ascii_iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

} // namespace lumbrake
