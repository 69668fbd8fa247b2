// Fetches http, https and ftp URLs and the "google" and "msn" web-search pseudo-URLs through
// libcurl: proxy settings, Basic and cookie log-in, size limit with an early stop for types
// the worker cannot parse, side metadata, FTP directory listings as outlinks.
#pragma once

#include "fetchers/fetcher-base.h"

#include <curl/curl.h>

#include <set>
#include <string>

namespace lumbrake {

class header_fields;
class URI;

class curl_fetcher : public fetcher_base {
public:
    curl_fetcher(const config& cfg, std::uint32_t size_limit);
    ~curl_fetcher() override;
    curl_fetcher(const curl_fetcher&) = delete;
    curl_fetcher& operator=(const curl_fetcher&) = delete;

    // Reads every field of the request but spare. Redirects are reported, never followed.
    void fetch(const fetch_request& request, fetch_result& result) override;

private:
    // One transfer handle for the fetcher's life, so that its connections are reused.
    CURL* reusable_handle();

    CURL* handle_ = nullptr;
};

// The pieces of a fetch that do not need a transfer.

// Fetch status of a libcurl result code.
std::int32_t fetch_status_of_curl_code(int code);

// Applies an HTTP response code to a result whose transfer succeeded: status, error text and,
// for 301 to 303, the redirect target from the "location" field.
void apply_http_response_code(long code, const header_fields& fields, fetch_result& result);

// True when the host, or a domain it lies in (its name without some leading labels), is one of
// the names that bypass the proxy. Compared without regard to case.
bool host_bypasses_proxy(const std::string& host, const std::set<std::string>& bypass);

// The URL that a "google" or "msn" pseudo-URL requests; empty for any other scheme. The
// endpoints' bases come from GOOGLE_SEARCH_BASE and MSN_SEARCH_BASE when set.
std::string web_search_url(const config& cfg, const URI& uri);

// Outlinks of an FTP directory listing at `url` (which ends in "/"): one per recognised line,
// a possible directory as url + name + "/" before a possible file as url + name.
void ftp_listing_outlinks(const std::string& url, const std::string& listing, bool cut,
                          std::int32_t base_score, outlink_list& outlinks);

} // namespace lumbrake
