// Worker reply headers through the cookie harvest and configuration text through the
// notification formatter: no crash, no over-read, output bounded by the input.
#include "trawlnestd/crawl-step.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string cookies = lumbrake::cookies_from_headers(text);
    // Each value adds at most its own bytes and a two-byte separator.
    if (cookies.size() > 2 * text.size()) std::abort();
    const std::uint32_t arcid = size ? data[0] * 16777259u : 0;
    if (auto url = lumbrake::format_notify_url(text, arcid)) {
        if (url->size() > 4096) std::abort();
    }
    return 0;
}
