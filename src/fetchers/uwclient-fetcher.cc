// The only file that sees c-client: its headers define macros (and, or, not, NIL, T, LOCAL,
// ...) that break other code, so they come last and this file is compiled with
// -fno-operator-names.
#include "fetchers/uwclient-fetcher.h"

#include "util/httphead.h"
#include "util/log.h"
#include "util/syslayer.h"
#include "util/uri.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <sstream>
#include <vector>

#include <c-client/c-client.h>

namespace lumbrake {

namespace {

constexpr long open_options = OP_READONLY | OP_ANONYMOUS | OP_SHORTCACHE; // 14
constexpr long header_options = FT_UID | FT_PEEK | FT_PREFETCHTEXT;       // 35
constexpr long text_options = FT_UID | FT_PEEK;                           // 3
constexpr long max_group_articles = 100000;

// A stalled server gives up instead of holding the worker for ever.
long give_up_on_timeout(long /*elapsed*/, long /*sincelast*/, char* /*host*/) {
    return 0;
}

void link_library() {
    static std::once_flag once;
    std::call_once(once, [] {
        mail_link(&imapdriver);
        mail_link(&nntpdriver);
        mail_link(&pop3driver);
        auth_link(&auth_md5);
        auth_link(&auth_pla);
        auth_link(&auth_log);
        ssl_onceonlyinit();
        // Never reach for rsh or ssh to open a mailbox.
        mail_parameters(NIL, SET_RSHTIMEOUT, reinterpret_cast<void*>(0));
        mail_parameters(NIL, SET_SSHTIMEOUT, reinterpret_cast<void*>(0));
        mail_parameters(NIL, SET_TIMEOUT, reinterpret_cast<void*>(&give_up_on_timeout));
        // Only the newest articles of a group: a server that claims thousands of millions
        // would otherwise make the library allocate until the process dies.
        mail_parameters(NIL, SET_NNTPRANGE, reinterpret_cast<void*>(max_group_articles));
    });
}

// Group names are plain tokens; anything else could end the NNTP command or reshape the
// mailbox name.
bool is_safe_group(const std::string& group) {
    for (unsigned char c : group)
        if (c <= ' ' || c == 0x7f || c == '{' || c == '}') return false;
    return true;
}

class stream_guard {
public:
    explicit stream_guard(MAILSTREAM* s) : stream_(s) {}
    ~stream_guard() {
        if (stream_) mail_close_full(stream_, 0);
    }
    stream_guard(const stream_guard&) = delete;
    stream_guard& operator=(const stream_guard&) = delete;
    MAILSTREAM* get() const { return stream_; }

private:
    MAILSTREAM* stream_;
};

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "[wday,] d mon yyyy hh:mm[:ss] zone [(comment)]" with a numeric or named zone.
std::time_t mail_date(const std::string& value) {
    static const char* const days[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
    static const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov", "dec"};
    std::string text = value;
    if (std::size_t paren = text.find('('); paren != std::string::npos) text.erase(paren);
    std::replace(text.begin(), text.end(), ',', ' ');
    std::istringstream in(text);
    std::vector<std::string> tokens;
    for (std::string t; in >> t;)
        tokens.push_back(t);
    int weekday = -1;
    std::size_t i = 0;
    if (!tokens.empty())
        for (int d = 0; d < 7; ++d)
            if (tokens[0] == days[d]) {
                weekday = d;
                i = 1;
            }
    if (tokens.size() < i + 4 || tokens.size() > i + 5) return 0;
    auto number = [](const std::string& s, int& out) {
        if (s.empty() || s.size() > 4 || !std::all_of(s.begin(), s.end(), ::isdigit)) return false;
        out = std::atoi(s.c_str());
        return true;
    };
    int day, year, hour, minute, second = 0, month = -1;
    if (!number(tokens[i], day) || !number(tokens[i + 2], year)) return 0;
    for (int m = 0; m < 12; ++m)
        if (tokens[i + 1] == months[m]) month = m;
    if (month < 0) return 0;
    if (tokens[i + 2].size() == 2) year += year < 50 ? 2000 : 1900;
    const std::string& clock = tokens[i + 3];
    if (std::sscanf(clock.c_str(), "%2d:%2d:%2d", &hour, &minute, &second) < 2) return 0;
    long offset = 0;
    if (tokens.size() == i + 5) {
        const std::string& zone = tokens[i + 4];
        if ((zone[0] == '+' || zone[0] == '-') && zone.size() == 5 &&
            std::all_of(zone.begin() + 1, zone.end(), ::isdigit)) {
            int hhmm = std::atoi(zone.c_str() + 1);
            offset = (hhmm / 100 * 3600L + hhmm % 100 * 60L) * (zone[0] == '-' ? -1 : 1);
        } else if (zone != "gmt" && zone != "ut" && zone != "utc" && zone != "z") {
            return 0; // named zones other than UTC are too ambiguous to trust
        }
    }
    std::time_t t = utc_mktime(second, minute, hour, day, month, year, weekday);
    return t == 0 ? 0 : t - offset;
}

} // namespace

std::int32_t news_header_date(const std::string& header) {
    // The field and its continuation lines.
    std::string value;
    bool found = false;
    std::size_t pos = 0;
    while (pos < header.size()) {
        std::size_t end = header.find('\n', pos);
        if (end == std::string::npos) end = header.size();
        std::string line = header.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pos = end + 1;
        if (line.empty()) break; // the end of the header
        if (found) {
            if (line[0] != ' ' && line[0] != '\t') break;
            value += " " + line;
        } else if (line.size() >= 5 && lower(line.substr(0, 5)) == "date:") {
            value = line.substr(5);
            found = true;
        }
    }
    if (!found) return 0;
    std::size_t first = value.find_first_not_of(" \t");
    std::size_t last = value.find_last_not_of(" \t");
    if (first == std::string::npos) return 0;
    value = lower(value.substr(first, last - first + 1));
    std::time_t t = parse_http_date(value);
    if (t == 0) t = mail_date(value);
    if (t <= 0 || t > 0x7fffffff) return 0;
    return static_cast<std::int32_t>(t);
}

uwclient_fetcher::uwclient_fetcher(const config& cfg, std::uint32_t size_limit)
    : fetcher_base(cfg, size_limit) {
    link_library();
}

void uwclient_fetcher::fetch(const fetch_request& request, fetch_result& result) {
    const std::string& url = request.url;
    result.status = FETCH_FAILED;
    URI uri(url, "http", true);
    std::string host, directory, article;
    std::uint16_t port = 0;
    uri.host_port(host, port);
    uri.split_path(directory, article);
    const std::string group = directory.starts_with("/") ? directory.substr(1) : directory;
    if (host.empty() || group.empty()) return;
    if (!is_safe_group(group) || !is_safe_group(host)) return;

    mail_parameters(NIL, SET_OPENTIMEOUT, reinterpret_cast<void*>(long{timeout_seconds_}));
    mail_parameters(NIL, SET_READTIMEOUT, reinterpret_cast<void*>(long{timeout_seconds_}));
    std::string mailbox = "{" + host + ":" + std::to_string(port) + "/nntp}" + group;
    stream_guard stream(mail_open(NIL, mailbox.data(), open_options));
    if (!stream.get()) return;
    MAILSTREAM* s = stream.get();

    if (article.empty()) {
        const std::int32_t score = listing_entry_score(request.base_score);
        result.outlinks.reserve(s->nmsgs);
        for (unsigned long i = 1; i <= s->nmsgs; ++i)
            result.outlinks.emplace_back(url + std::to_string(mail_uid(s, i)), score);
        result.status = FETCH_LISTING;
        return;
    }

    // An article the group does not hold is a failure, not an empty document.
    const unsigned long uid = static_cast<unsigned long>(std::atoi(article.c_str()));
    if (uid == 0 || mail_msgno(s, uid) == 0) return;
    unsigned long header_length = 0, text_length = 0;
    char* header = mail_fetchheader_full(s, uid, NIL, &header_length, header_options);
    if (!header) return;
    std::string content(header, header_length);
    char* text = mail_fetchtext_full(s, uid, &text_length, text_options);
    if (!text) return;
    content.append(text, text_length);

    result.status = FETCH_OK;
    if (content.size() > size_limit()) {
        content.resize(size_limit());
        result.status = FETCH_PARTIAL;
    }
    std::int32_t date = news_header_date(std::string(header, header_length));
    result.servertime = date != 0 ? date : static_cast<std::int32_t>(std::time(nullptr));
    result.content = std::move(content);
    result.mime = "message/rfc822";
    result.charset = "iso-8859-1";
}

} // namespace lumbrake

// The library's callbacks. Its own problems are only logged.
extern "C" {
void mm_searched(MAILSTREAM*, unsigned long) {}
void mm_exists(MAILSTREAM*, unsigned long) {}
void mm_expunged(MAILSTREAM*, unsigned long) {}
void mm_flags(MAILSTREAM*, unsigned long) {}
void mm_notify(MAILSTREAM*, char*, long) {}
void mm_list(MAILSTREAM*, int, char*, long) {}
void mm_lsub(MAILSTREAM*, int, char*, long) {}
void mm_status(MAILSTREAM*, char*, MAILSTATUS*) {}
void mm_log(char* text, long level) {
    TN_LOG(lumbrake::LF_WORKERFETCHERS, lumbrake::LL_DEBUG,
           "news library (" << level << "): " << (text ? text : ""));
}
void mm_dlog(char*) {}
void mm_login(NETMBX*, char* user, char* password, long) {
    // Anonymous only: no user, no password.
    user[0] = '\0';
    password[0] = '\0';
}
void mm_critical(MAILSTREAM*) {}
void mm_nocritical(MAILSTREAM*) {}
long mm_diskerror(MAILSTREAM*, long, long) {
    return 1; // abort the operation
}
void mm_fatal(char* text) {
    TN_LOG(lumbrake::LF_WORKERFETCHERS, lumbrake::LL_ERROR,
           "news library fatal error: " << (text ? text : ""));
}
}
