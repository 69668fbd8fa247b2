// The interface of every fetcher and the record that describes one fetched document.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace lumbrake {

class config;

// A link found in a document or a listing: the URL and its score in millionths.
using outlink = std::pair<std::string, std::int32_t>;
using outlink_list = std::vector<outlink>;

// Fetch statuses; the worker turns each into a crawl-error code.
enum fetch_status : std::int32_t {
    FETCH_OK = 0,
    FETCH_PARTIAL = 1,    // cut at the size limit or stopped early
    FETCH_LISTING = 2,    // a directory: the outlinks hold the entries
    FETCH_UNRESOLVED = 3, // host name not resolved
    FETCH_NO_CONNECTION = 4,
    FETCH_TIMEOUT = 5,
    FETCH_FAILED = 6,       // any other failure, or a scheme without a fetcher
    FETCH_BAD_REQUEST = 7,  // HTTP 400, 406
    FETCH_SERVER_ERROR = 8, // HTTP 500, 502, 503
    FETCH_REDIRECT = 9,
    FETCH_BAD_REDIRECT = 10,
    FETCH_NOT_MODIFIED = 11,
    FETCH_AUTH_REQUIRED = 12,
    FETCH_NOT_FOUND = 13,
};

// Scores are millionths; 1000000 is the highest.
constexpr std::int32_t max_score = 1000000;

// The score of an entry of a listing whose own score is base_score.
std::int32_t listing_entry_score(std::int32_t base_score);

// What to fetch and how. Written with designated initialisers: fields left out keep these
// defaults.
struct fetch_request {
    // The document's score, from which listing entries take theirs.
    std::int32_t base_score = 0;
    std::string url;
    std::string user_agent;
    // Cookies to send; with cookie_login the log-in cookies are fetched instead.
    std::string cookie;
    bool cookie_login = false;
    // The document's source and authentication records (either may be empty).
    std::string source_xml;
    std::string auth_xml;
    // Read by no fetcher.
    std::string spare;
    // Also fetch the ".tnm" file beside the document.
    bool want_sidemeta = false;
};

struct fetch_result {
    std::int32_t status = FETCH_FAILED;
    std::string error;
    std::string content;
    std::string headers; // the response header block as received (HTTP only)
    std::string mime;    // without parameters
    std::string charset;
    std::string redirect;
    std::string sidemeta; // the ".tnm" file beside the document
    outlink_list outlinks;
    std::int32_t servertime = 0; // seconds since 1970

    void reset();
};

class fetcher_base {
public:
    fetcher_base(const config& cfg, std::uint32_t size_limit)
        : cfg_(&cfg), size_limit_(size_limit) {}
    virtual ~fetcher_base() = default;
    fetcher_base(const fetcher_base&) = delete;
    fetcher_base& operator=(const fetcher_base&) = delete;

    // Fetches one document into `result` (what every fetcher reads of the request is said
    // beside its fetch).
    virtual void fetch(const fetch_request& request, fetch_result& result) = 0;

    // True when the worker can parse documents of this MIME type (exact comparison).
    static bool is_processable(const std::string& mime);

    const config& cfg() const { return *cfg_; }
    std::uint32_t size_limit() const { return size_limit_; }

private:
    const config* cfg_;
    std::uint32_t size_limit_;
};

} // namespace lumbrake
