// Gopher menus and news header dates come straight from remote servers.
#include "fetchers/gopher-fetcher.h"
#include "fetchers/uwclient-fetcher.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size() - 1;
        lines.push_back(text.substr(pos, end - pos + 1));
        pos = end + 1;
    }
    std::string html = lumbrake::gopher_menu_to_html(lines);
    if (html.size() < 28) __builtin_trap(); // the frame is always there
    (void)lumbrake::news_header_date(text);
    return 0;
}
