#include "cpmodel/dlga-collate.h"

#include <algorithm>
#include <cctype>

namespace lumbrake {

bool label_less(const std::string& a, const std::string& b) {
    auto ci_less = [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) <
               std::tolower(static_cast<unsigned char>(y));
    };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), ci_less)) return true;
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), ci_less)) return false;
    return a < b;
}

} // namespace lumbrake
