// The filter dialog's check: a URL filter is accepted only when the daemon's URL filter can
// compile it.
#pragma once

#include <string_view>

namespace lumbrake {

// True when the expression compiles as the crawler compiles filters: POSIX extended syntax,
// case-insensitive. A NUL byte is refused (the crawler would see only the text before it).
bool filter_expression_compiles(std::string_view expression);

} // namespace lumbrake
