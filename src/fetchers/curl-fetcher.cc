#include "fetchers/curl-fetcher.h"

#include "api/api-types.h"
#include "api/api-typeutils.h"
#include "api/auth.h"
#include "util/config.h"
#include "util/httphead.h"
#include "util/log.h"
#include "util/uri.h"
#include "fetchers/ftp-listing.h"

#include <curl/curl.h>

#include <cstddef>
#include <cstring>
#include <ctime>
#include <memory>
#include <sstream>
#include <string_view>
#include <vector>

namespace lumbrake {

namespace {

// A hostile server could send header lines without end; no real head comes near this (and
// libcurl itself refuses heads a little larger).
constexpr std::size_t max_head_bytes = 256 * 1024;
// Bytes of a document after which its type is checked.
constexpr std::uint64_t probe_after = 1024;
constexpr long transfer_seconds = 180;

struct slist_deleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct curl_string_deleter {
    void operator()(char* s) const { curl_free(s); }
};
using slist_ptr = std::unique_ptr<curl_slist, slist_deleter>;

using probe_function = bool (*)(const fetcher_base* fetcher, const std::string& headers);

// Where a transfer's body goes.
struct write_target {
    std::string* target = nullptr;
    std::uint64_t received = 0;
    std::uint32_t limit = 0;
    const std::string* headers = nullptr; // what the probe reads
    const fetcher_base* obj = nullptr;
    probe_function callback = nullptr;
    bool probed = false;
};

// Where the response head goes.
struct head_target {
    std::string* text = nullptr;
    bool overflow = false;
};

// Answers whether a document whose head is `headers` can be processed; a head without a type
// counts as HTML.
bool probe(const fetcher_base* fetcher, const std::string& headers) {
    http_request head(headers);
    std::string value;
    head.get("content-type", value);
    content_type type(value);
    const std::string mime = type.media_type.empty() ? "text/html" : type.media_type;
    return fetcher->is_processable(mime);
}

std::size_t write_body(char* data, std::size_t size, std::size_t count, void* user) {
    auto* wd = static_cast<write_target*>(user);
    TN_ASSERT(wd->obj != NULL);
    TN_ASSERT(wd->callback != NULL);
    const std::size_t length = size * count;
    if (wd->received + length <= wd->limit) {
        wd->target->append(data, length);
        wd->received += length;
        if (!wd->probed && wd->received >= probe_after) {
            wd->probed = true;
            if (!wd->callback(wd->obj, *wd->headers)) return 0; // stops the transfer
        }
        return length;
    }
    // Keep what fits and stop: a count short of the block ends the transfer.
    const std::size_t room =
        wd->received < wd->limit ? static_cast<std::size_t>(wd->limit - wd->received) : 0;
    wd->target->append(data, room);
    wd->received += room;
    return room;
}

std::size_t write_head(char* data, std::size_t size, std::size_t count, void* user) {
    auto* head = static_cast<head_target*>(user);
    const std::size_t length = size * count;
    // A status line starts a new response (after a 100 Continue, an authentication round or a
    // proxy's CONNECT answer): only the last response describes the document.
    if (length >= 5 && std::memcmp(data, "HTTP/", 5) == 0) head->text->clear();
    if (head->text->size() + length > max_head_bytes) {
        head->overflow = true;
        return 0;
    }
    head->text->append(data, length);
    return length;
}

std::string lower_ascii(std::string s) {
    to_lower_ascii(s);
    return s;
}

std::string escape_form_value(CURL* handle, const std::string& text) {
    std::unique_ptr<char, curl_string_deleter> escaped(
        curl_easy_escape(handle, text.data(), static_cast<int>(text.size())));
    return escaped ? std::string(escaped.get()) : std::string();
}

// Keeps the Set-Cookie lines of a head, carriage returns removed.
void collect_cookie_lines(const std::string& headers, std::vector<std::string>& cookies) {
    std::size_t start = 0;
    while (start < headers.size()) {
        std::size_t end = headers.find('\n', start);
        if (end == std::string::npos) end = headers.size();
        std::string line = headers.substr(start, end - start);
        std::erase(line, '\r');
        if (line.starts_with("Set-Cookie: ") || line.starts_with("set-cookie: "))
            cookies.push_back(std::move(line));
        start = end + 1;
    }
}

// Names are bytes of the server's file system: "#", "?", ";", "%" or blanks in them must not
// change what the link means (";" would start libcurl's FTP type suffix).
std::string escape_entry_name(std::string_view name) {
    std::string escaped;
    for (char c : url_escape(name)) {
        if (c == '?')
            escaped += "%3F";
        else if (c == ';')
            escaped += "%3B";
        else
            escaped += c;
    }
    return escaped;
}

void global_init() {
    static const CURLcode code = curl_global_init(CURL_GLOBAL_ALL);
    (void)code;
}

} // namespace

curl_fetcher::curl_fetcher(const config& cfg, std::uint32_t size_limit)
    : fetcher_base(cfg, size_limit) {
    // Once per process, before any handle exists: curl_easy_init would otherwise do it
    // without the guarantee of running only once.
    global_init();
}

curl_fetcher::~curl_fetcher() {
    if (handle_) curl_easy_cleanup(handle_);
}

CURL* curl_fetcher::reusable_handle() {
    if (!handle_) {
        handle_ = curl_easy_init();
        return handle_;
    }
    // The options go back to their defaults; the open connections and the DNS cache stay, so
    // the next page of a host reuses its connection. Cookies would stay too: a log-in's
    // cookies must not ride along with the next archive's pages.
    curl_easy_reset(handle_);
    curl_easy_setopt(handle_, CURLOPT_COOKIELIST, "ALL");
    return handle_;
}

std::int32_t fetch_status_of_curl_code(int code) {
    switch (code) {
    case CURLE_OK:
        return FETCH_OK;
    case CURLE_COULDNT_RESOLVE_HOST:
        return FETCH_UNRESOLVED;
    case CURLE_COULDNT_CONNECT:
        return FETCH_NO_CONNECTION;
    case CURLE_PARTIAL_FILE:
    case CURLE_WRITE_ERROR:
        return FETCH_PARTIAL;
    case CURLE_OPERATION_TIMEDOUT:
        return FETCH_TIMEOUT;
    default:
        return FETCH_FAILED;
    }
}

void apply_http_response_code(long code, const header_fields& fields, fetch_result& result) {
    auto set = [&](std::int32_t status, const char* text) {
        result.status = status;
        result.error = text;
    };
    switch (code) {
    case 0:
    case 200:
        break;
    case 300:
        set(FETCH_NOT_FOUND, "HTTP status 300: Multiple choices");
        break;
    case 301:
    case 302:
    case 303: {
        std::string location;
        fields.get("location", location);
        result.status = FETCH_REDIRECT;
        result.redirect = location;
        result.error = "HTTP redirect (" + std::to_string(code) + ") to " + location;
        break;
    }
    case 304:
        set(FETCH_NOT_MODIFIED, "");
        break;
    case 400:
        set(FETCH_BAD_REQUEST, "HTTP status 400: Bad request");
        break;
    case 401:
        set(FETCH_AUTH_REQUIRED, "");
        break;
    case 403:
        set(FETCH_FAILED, "HTTP status 403: Forbidden");
        break;
    case 404:
        set(FETCH_NOT_FOUND, "");
        break;
    case 406:
        set(FETCH_BAD_REQUEST, "HTTP status 406: Not acceptable");
        break;
    case 500:
        set(FETCH_SERVER_ERROR, "HTTP status 500: Internal server error");
        break;
    case 502:
        set(FETCH_SERVER_ERROR, "HTTP status 502: Bad gateway");
        break;
    case 503:
        set(FETCH_SERVER_ERROR, "HTTP status 503: Service unavailable");
        break;
    default:
        result.status = FETCH_FAILED;
        result.error = "Unknonw HTTP protocol status " + std::to_string(code);
        TN_LOG(LF_WORKERFETCHERS, LL_ERROR, result.error);
        break;
    }
}

bool host_bypasses_proxy(const std::string& host, const std::set<std::string>& bypass) {
    std::set<std::string> names;
    for (const std::string& name : bypass)
        names.insert(lower_ascii(name));
    std::string candidate = lower_ascii(host);
    for (;;) {
        if (names.count(candidate)) return true;
        std::size_t dot = candidate.find('.');
        if (dot == std::string::npos) return false;
        candidate.erase(0, dot + 1);
    }
}

std::string web_search_url(const config& cfg, const URI& uri) {
    const char* key;
    const char* fallback;
    const char* path;
    if (uri.scheme() == "google") {
        key = "GOOGLE_SEARCH_BASE";
        fallback = "http://www.google.com";
        path = "/search?q=";
    } else if (uri.scheme() == "msn") {
        key = "MSN_SEARCH_BASE";
        fallback = "http://search.msn.com";
        path = "/results.aspx?q=";
    } else {
        return std::string();
    }
    std::string base;
    if (!cfg.get(key, base) || base.empty()) base = fallback;
    // Blanks and other bytes that cannot stand in a URL are escaped; escapes already written
    // in the pseudo-URL are kept.
    return base + path + url_encode(uri.path());
}

void ftp_listing_outlinks(const std::string& url, const std::string& listing, bool cut,
                          std::int32_t base_score, outlink_list& outlinks) {
    const std::int32_t score = listing_entry_score(base_score);
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos) {
            // The last line of a listing cut at the size limit may have lost its end.
            if (cut) break;
            end = listing.size();
        }
        std::size_t length = end - start;
        if (length > 0 && listing[start + length - 1] == '\r') --length;
        ftp_entry entry;
        if (parse_ftp_line(entry, listing.data() + start, length) == 1 && !entry.name.empty() &&
            entry.name != "." && entry.name != "..") {
            const std::string name = escape_entry_name(entry.name);
            if (entry.may_be_directory) outlinks.emplace_back(url + name + "/", score);
            if (entry.may_be_file) outlinks.emplace_back(url + name, score);
        }
        start = end + 1;
    }
}

void curl_fetcher::fetch(const fetch_request& request, fetch_result& result) {
    const std::string& url = request.url;
    const std::string& cookie = request.cookie;
    const bool cookie_login = request.cookie_login;
    const std::string& source_xml = request.source_xml;
    const std::string& auth_xml = request.auth_xml;
    result.reset();
    URI uri(url, "http", true);
    const std::string& scheme = uri.scheme();
    const bool http = scheme == "http" || scheme == "https";
    const bool search = scheme == "google" || scheme == "msn";

    CURL* h = reusable_handle();
    if (!h) {
        result.error = "Cannot create a transfer handle";
        TN_LOG(LF_WORKERFETCHERS, LL_ERROR, result.error);
        return;
    }
    // The handle outlives this call: nothing it points to (error buffer, lists, targets on
    // this stack) may be left set in it.
    struct options_cleared {
        CURL* h;
        ~options_cleared() { curl_easy_reset(h); }
    } clear_at_end{h};
    slist_ptr header_list(curl_slist_append(nullptr, "Accept: */*"));
    slist_ptr quote_list(curl_slist_append(nullptr, "CWD /"));

    curl_easy_setopt(h, CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 1L);
    // A failed transfer says why (a certificate that does not match, a reset...).
    char curl_error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, curl_error);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 1L);
    // Whatever a URL or a server says, this handle speaks nothing but these.
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https,ftp");

    std::string proxy, proxy_userpwd, tunnel_value, noproxy;
    const bool have_proxy = cfg().get("HTTP_PROXY", proxy);
    const bool have_proxy_userpwd = cfg().get("HTTP_PROXYUSERPWD", proxy_userpwd);
    const bool tunnel = cfg().get("HTTP_PROXYTUNNEL", tunnel_value) && tunnel_value == "YES";
    std::set<std::string> bypass;
    if (cfg().get("HTTP_NOPROXY", noproxy)) {
        std::istringstream names(noproxy);
        std::string name;
        while (std::getline(names, name, ' '))
            if (!name.empty()) bypass.insert(name);
    }

    head_target head{&result.headers};
    write_target wd;
    wd.target = &result.content;
    wd.limit = size_limit();
    wd.headers = &result.headers;
    wd.obj = this;
    wd.callback = probe;

    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, transfer_seconds);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, transfer_seconds);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, header_list.get());
    curl_easy_setopt(h, CURLOPT_QUOTE, quote_list.get());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, write_body);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &wd);
    curl_easy_setopt(h, CURLOPT_USERAGENT, search ? "Mozilla/4.0" : request.user_agent.c_str());
    if (http) {
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, write_head);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, &head);
    }

    if (have_proxy) {
        if (host_bypasses_proxy(uri.host(), bypass)) {
            curl_easy_setopt(h, CURLOPT_PROXY, "");
            curl_easy_setopt(h, CURLOPT_PROXYUSERPWD, static_cast<char*>(nullptr));
        } else {
            curl_easy_setopt(h, CURLOPT_PROXY, proxy.c_str());
            if (have_proxy_userpwd) {
                curl_easy_setopt(h, CURLOPT_PROXYUSERPWD, proxy_userpwd.c_str());
                curl_easy_setopt(h, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_ANY));
            }
        }
        curl_easy_setopt(h, CURLOPT_HTTPPROXYTUNNEL, tunnel ? 1L : 0L);
    } else {
        // No proxy configured means none: not one taken from the process environment.
        curl_easy_setopt(h, CURLOPT_PROXY, "");
    }

    std::string request_url = search ? web_search_url(cfg(), uri) : url;

    std::vector<std::string> cookie_lines;
    std::string form;
    if (!source_xml.empty() && !auth_xml.empty()) {
        SourceConfiguration source;
        AuthConfiguration auth;
        bool old_names = false;
        const bool source_read =
            source_from_xml(source_xml.data(), source_xml.size(), source, old_names);
        const bool auth_read = auth_from_xml(auth_xml.data(), auth_xml.size(), auth);
        if (!source_read || !auth_read) {
            // Half-read records could send the wrong credentials: fetch without any.
            TN_LOG(LF_WORKERFETCHERS, LL_WARNING,
                   "Unreadable " << (source_read ? "auth" : "source")
                                 << " record: fetching without authentication");
        } else if (source.Type == AUTH_BASIC) {
            TN_LOG(LF_WORKERFETCHERS, LL_DEBUG, "Using BASIC auth");
            // Separate options keep a colon in the user name from splitting it.
            curl_easy_setopt(h, CURLOPT_USERNAME, auth.Username.c_str());
            curl_easy_setopt(h, CURLOPT_PASSWORD, auth.Password.c_str());
            curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_ANY));
        } else if (source.Type == AUTH_COOKIE && !cookie_login) {
            TN_LOG(LF_WORKERFETCHERS, LL_DEBUG, "Using COOKIE auth");
            curl_easy_setopt(h, CURLOPT_COOKIE, cookie.c_str());
        } else if (source.Type == AUTH_COOKIE) {
            TN_LOG(LF_WORKERFETCHERS, LL_DEBUG, "Getting cookie for COOKIE auth");
            const CookieAuthParams& params = source.CookieParams;
            if (!params.PreUrls.empty()) {
                curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");
                for (const std::string& pre_url : params.PreUrls) {
                    curl_easy_setopt(h, CURLOPT_URL, pre_url.c_str());
                    curl_easy_perform(h);
                    collect_cookie_lines(result.headers, cookie_lines);
                    result.headers.clear();
                    result.content.clear();
                    head.overflow = false;
                    wd.received = 0;
                    wd.probed = false;
                }
            }
            std::string logged; // the form with the password hidden
            for (const CookieParam& param : params.Params) {
                std::string value;
                switch (param.Type) {
                case COOKIE_USERNAME:
                    value = auth.Username;
                    break;
                case COOKIE_PASSWORD:
                    value = auth.Password;
                    break;
                case COOKIE_OTHER: {
                    value = param.Value;
                    for (const ParamValue& pv : auth.ParamValues)
                        if (pv.Name == param.Name) {
                            value = pv.Value;
                            break;
                        }
                    break;
                }
                }
                const std::string name = escape_form_value(h, param.Name);
                const std::string escaped = escape_form_value(h, value);
                if (!form.empty()) {
                    form += '&';
                    logged += '&';
                }
                form += name + "=" + escaped;
                logged += name + "=" + (param.Type == COOKIE_PASSWORD ? "***" : escaped);
            }
            TN_LOG(LF_WORKERFETCHERS, LL_DEBUG, "POST data is " << logged);
            if (params.Action == COOKIE_GET) {
                // A log-in URL may carry a query of its own.
                request_url += request_url.find('?') == std::string::npos ? '?' : '&';
                request_url += form;
            } else {
                curl_easy_setopt(h, CURLOPT_COPYPOSTFIELDS, form.c_str());
            }
        }
    }

    curl_easy_setopt(h, CURLOPT_URL, request_url.c_str());
    const CURLcode code = curl_easy_perform(h);
    for (const std::string& line : cookie_lines)
        result.headers += line + "\r\n";
    result.status = fetch_status_of_curl_code(code);
    if (result.status == FETCH_FAILED && result.error.empty())
        result.error = curl_error[0] ? curl_error : curl_easy_strerror(code);
    if (head.overflow) {
        result.status = FETCH_FAILED;
        result.error = "Response head longer than " + std::to_string(max_head_bytes) + " bytes";
    }

    const http_request fields(result.headers);

    if ((result.status == FETCH_OK || result.status == FETCH_PARTIAL) && http) {
        long response = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response);
        apply_http_response_code(response, fields, result);
    }

    if (!cookie_login && request.want_sidemeta &&
        (result.status == FETCH_OK || result.status == FETCH_PARTIAL)) {
        std::string no_head;
        write_target meta;
        meta.target = &result.sidemeta;
        meta.limit = size_limit();
        meta.headers = &no_head;
        meta.obj = this;
        meta.callback = probe;
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &meta);
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, static_cast<curl_write_callback>(nullptr));
        curl_easy_setopt(h, CURLOPT_HEADERDATA, static_cast<void*>(nullptr));
        const std::string meta_url = url + ".tnm";
        curl_easy_setopt(h, CURLOPT_URL, meta_url.c_str());
        // A cut or failed transfer leaves no usable text.
        if (curl_easy_perform(h) != CURLE_OK) {
            result.sidemeta.clear();
        } else if (http) {
            long response = 0;
            curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response);
            if (response != 200) result.sidemeta.clear();
        }
    }

    if (scheme == "ftp" && (result.status == FETCH_OK || result.status == FETCH_PARTIAL) &&
        !url.empty() && url.back() == '/') {
        ftp_listing_outlinks(url, result.content, result.status == FETCH_PARTIAL,
                             request.base_score, result.outlinks);
        result.status = FETCH_LISTING;
    }


    std::string type_text;
    fields.get("content-type", type_text);
    const content_type type(type_text);
    if (scheme == "ftp" && result.status != FETCH_LISTING) {
        // An FTP download has no type: the parser dispatch probes its content, then its name.
        result.mime.clear();
        result.charset.clear();
    } else {
        result.mime = type.media_type.empty() ? "text/html" : type.media_type;
        // No charset named: left empty, so that an HTML page's own declaration can apply; the
        // parsers read such text as ISO-8859-1.
        if (!type.get_charset(result.charset)) result.charset.clear();
    }
    std::string modified;
    std::time_t when = 0;
    if (fields.get_lower("last-modified", modified)) when = parse_http_date(modified);
    if (when == 0) when = std::time(nullptr);
    result.servertime = static_cast<std::int32_t>(when);
}

} // namespace lumbrake
