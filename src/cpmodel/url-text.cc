#include "cpmodel/url-text.h"

#include "util/uri.h"

namespace lumbrake {

typed_url complete_typed_url(std::string_view typed) {
    std::string text(typed);
    const auto colon = text.find(':');
    const auto slash = text.find('/');
    if (!text.empty() && text[0] == '/') {
        // The file fetcher reads file:// + the path.
        text = "file://" + text;
    } else if (colon == std::string::npos || (slash != std::string::npos && slash < colon) ||
               !uri_has_scheme(text)) {
        // "host:8080/x" names no scheme either: the URI module would read it as a path.
        text = "http://" + text;
    }
    typed_url out;
    out.url = canonicalize_url(text);
    const URI uri(out.url, "http", true);
    out.accepted = (uri.scheme() != "http" && uri.scheme() != "https") || !uri.host().empty();
    return out;
}

} // namespace lumbrake
