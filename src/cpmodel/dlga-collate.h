// The order of the dialogs' sorted lists and trees: case-insensitive for ASCII letters, ties
// broken by bytes, so the order is total and stable whatever the locale.
#pragma once

#include <string>

namespace lumbrake {

bool label_less(const std::string& a, const std::string& b);

} // namespace lumbrake
