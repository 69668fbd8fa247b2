// FTP listing lines under libFuzzer: the whole input and each of its lines are parsed from a
// buffer of exactly their size; a name or id outside the line is a fault.
#include "fetchers/ftp-listing.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void check(const char* line, std::size_t length) {
    lumbrake::ftp_entry e;
    // A fixed "now" keeps runs reproducible.
    if (lumbrake::parse_ftp_line(e, line, length, 1704412800) != 1) return;
    auto inside = [&](std::string_view v) {
        return v.empty() || (v.data() >= line && v.data() + v.size() <= line + length);
    };
    if (!inside(e.name) || !inside(e.id)) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<char> whole(data, data + size);
    check(whole.data(), whole.size());
    std::size_t start = 0;
    while (start < size) {
        const void* nl = std::memchr(data + start, '\n', size - start);
        std::size_t end = nl ? static_cast<const std::uint8_t*>(nl) - data : size;
        std::vector<char> line(data + start, data + end);
        check(line.data(), line.size());
        start = end + 1;
    }
    return 0;
}
