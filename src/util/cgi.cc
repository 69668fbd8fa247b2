// Query strings of HTTP requests.
#include <cstring>

#include "util/codecs.h"
#include "util/log.h"

namespace lumbrake {

namespace {

int hex_nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string decode_value(std::string_view v) {
    std::string out;
    out.reserve(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) {
        char c = v[i];
        if (c == '+') {
            out.push_back(' ');
        } else if (c == '%' && i + 2 < v.size() && hex_nibble(v[i + 1]) >= 0 &&
                   hex_nibble(v[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex_nibble(v[i + 1]) * 16 + hex_nibble(v[i + 2])));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

} // namespace

void cgi_parse_query(std::map<std::string, std::string>& out, const std::string& qs) {
    std::string_view text(qs);
    std::size_t start = 0;
    for (;;) {
        std::size_t amp = text.find('&', start);
        std::string_view item = text.substr(
            start, amp == std::string_view::npos ? std::string_view::npos : amp - start);
        std::size_t eq = item.find('=');
        if (eq == std::string_view::npos)
            out[std::string(item)].clear();
        else
            out[std::string(item.substr(0, eq))] = decode_value(item.substr(eq + 1));
        if (amp == std::string_view::npos) break;
        start = amp + 1;
    }
}

void cgi_parse_query(std::map<std::string, std::string>& out, const char* qs) {
    TN_ASSERT(qs != 0);
    cgi_parse_query(out, std::string(qs));
}

} // namespace lumbrake
