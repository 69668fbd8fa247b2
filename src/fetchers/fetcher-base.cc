#include "fetchers/fetcher-base.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace lumbrake {

namespace {

constexpr std::array<std::string_view, 15> processable_types = {
    "text/html",
    "application/xhtml+xml",
    "application/rss+xml",
    "text/rdf",
    "application/rdf+xml",
    "text/plain",
    "text/rtf",
    "application/rtf",
    "application/pdf",
    "application/x-pdf",
    "application/msword",
    "text/x-mail",
    "message/rfc822",
    "application/mbox",
    "application/octet-stream",
};

} // namespace

std::int32_t listing_entry_score(std::int32_t base_score) {
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(base_score) + 1, max_score));
}

void fetch_result::reset() {
    status = FETCH_FAILED;
    error.clear();
    content.clear();
    headers.clear();
    mime.clear();
    charset.clear();
    redirect.clear();
    sidemeta.clear();
    outlinks.clear();
    servertime = 0;
}

bool fetcher_base::is_processable(const std::string& mime) {
    return std::find(processable_types.begin(), processable_types.end(), mime) !=
           processable_types.end();
}

} // namespace lumbrake
