#include "fetchers/fetcher.h"

#include "util/log.h"
#include "util/uri.h"
#include "fetchers/curl-fetcher.h"
#include "fetchers/fs-fetcher.h"
#include "fetchers/gopher-fetcher.h"
#include "fetchers/uwclient-fetcher.h"

namespace lumbrake {

fetcher::fetcher(const config& cfg, std::uint32_t size_limit)
    : fetcher_base(cfg, size_limit), curl_(std::make_unique<curl_fetcher>(cfg, size_limit)),
      uwclient_(std::make_unique<uwclient_fetcher>(cfg, size_limit)),
      fs_(std::make_unique<fs_fetcher>(cfg, size_limit)),
      gopher_(std::make_unique<gopher_fetcher>(cfg, size_limit)) {}

// Deleted in the reverse order of creation.
fetcher::~fetcher() {
    gopher_.reset();
    fs_.reset();
    uwclient_.reset();
    curl_.reset();
}

void fetcher::fetch(const fetch_request& request, fetch_result& result) {
    const std::string& url = request.url;
    result.reset();
    URI uri(url, "http", true);
    const std::string& scheme = uri.scheme();
    fetcher_base* chosen = nullptr;
    if (scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "google" ||
        scheme == "msn")
        chosen = curl_.get();
    else if (scheme == "nntp")
        chosen = uwclient_.get();
    else if (scheme == "file")
        chosen = fs_.get();
    else if (scheme == "gopher")
        chosen = gopher_.get();
    if (!chosen) return; // FETCH_FAILED with no error text from the reset

    chosen->fetch(request, result);
    TN_LOG(LF_WORKERFETCHERS, LL_DEBUG,
           "Fetched '" << url << "' [" << result.mime << " " << result.charset << "] "
                       << result.servertime << " " << result.status << ": " << result.error << " "
                       << result.redirect << " " << result.outlinks.size());
}

} // namespace lumbrake
