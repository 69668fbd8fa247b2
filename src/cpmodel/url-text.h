// The URL dialog's rule for one typed URL: complete what the user left out, canonicalise, and
// judge whether the result names something.
#pragma once

#include <string>
#include <string_view>

namespace lumbrake {

struct typed_url {
    std::string url;       // canonical text, shown in the field whatever the verdict
    bool accepted = false; // false: OK does nothing
};

// A POSIX path ("/srv/docs") becomes a file URL ("file:///srv/docs"); text that names no scheme
// of its own gets "http://"; the result is canonical. Web URLs (http, https) without a host are
// refused; other schemes are accepted as they are.
typed_url complete_typed_url(std::string_view typed);

} // namespace lumbrake
