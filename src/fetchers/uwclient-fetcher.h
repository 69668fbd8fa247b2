// The fetcher of "nntp" URLs, through the c-client library: nntp://host[:port]/group/ lists
// the group's articles as outlinks, nntp://host[:port]/group/<number> fetches one article
// (header and body) as a "message/rfc822" document.
#pragma once

#include "fetchers/fetcher-base.h"

#include <string>

namespace lumbrake {

class uwclient_fetcher : public fetcher_base {
public:
    // Links the library's drivers and authenticators (once per process).
    uwclient_fetcher(const config& cfg, std::uint32_t size_limit);

    // Reads the base score and the url. Every failure gives FETCH_FAILED without error text;
    // an article longer than the size limit is cut there (FETCH_PARTIAL).
    void fetch(const fetch_request& request, fetch_result& result) override;

    // Seconds that connecting, or waiting for the server's next answer, may take.
    void set_timeout(int seconds) { timeout_seconds_ = seconds; }

private:
    int timeout_seconds_ = 60;
};

// The document time of an article's header block: its "Date" field read as an HTTP date, also
// in the mail form with a numeric zone ("Tue, 3 Jun 2008 11:05:30 +0200 (CEST)"); 0 when the
// header has none or it does not read.
std::int32_t news_header_date(const std::string& header);

} // namespace lumbrake
