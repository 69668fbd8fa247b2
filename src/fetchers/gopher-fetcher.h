// The fetcher of "gopher" URLs: sends the selector over its own TCP connection and turns a
// menu into a small HTML page whose links the HTML parser collects.
#pragma once

#include "fetchers/fetcher-base.h"

#include <string>
#include <vector>

namespace lumbrake {

class gopher_fetcher : public fetcher_base {
public:
    using fetcher_base::fetcher_base;

    // Reads only the url. Connection failures give FETCH_NO_CONNECTION; an answer longer than
    // the size limit is cut there (FETCH_PARTIAL); a server that stays silent longer than the
    // time-out gives FETCH_TIMEOUT.
    void fetch(const fetch_request& request, fetch_result& result) override;

    // Seconds that connecting, or waiting for the next bytes of the answer, may take.
    void set_timeout(int seconds) { timeout_seconds_ = seconds; }

private:
    int timeout_seconds_ = 60;
};

// "<html><body>\n", one line of HTML per menu line, "</body></html>\n".
std::string gopher_menu_to_html(const std::vector<std::string>& lines);
// One menu line (type byte, then display text, selector, host and port separated by TABs)
// as HTML, ending in "<br />\n". Texts are HTML-escaped.
std::string gopher_menu_line_to_html(const std::string& line);

} // namespace lumbrake
