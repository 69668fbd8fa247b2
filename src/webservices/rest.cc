#include "webservices/rest.h"

#include "api/status-info.h"
#include "util/codecs.h"
#include "util/escape.h"
#include "util/httphead.h"
#include "util/log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace lumbrake {

namespace {

constexpr std::size_t REST_MAX_PATH = 8192;

std::string escaped(std::string text) {
    xml_escape_inplace(text);
    return text;
}

// Unsigned decimal, digits only, within an int32.
bool parse_unsigned(const std::string& text, std::int32_t& value) {
    if (text.empty()) return false;
    std::int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
        if (v > 2147483647) return false;
    }
    value = static_cast<std::int32_t>(v);
    return true;
}

// Signed decimal within an int32, nothing after the digits.
bool parse_signed(const std::string& text, std::int32_t& value) {
    if (!text.empty() && text[0] == '-') {
        std::int32_t v = 0;
        if (!parse_unsigned(text.substr(1), v)) return false;
        value = -v;
        return true;
    }
    return parse_unsigned(text, value);
}

// atoi without its overflow: leading blanks and sign, then digits; clamped to the int range.
int to_int(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        v = std::min<std::int64_t>(v * 10 + (text[i] - '0'), 2147483648LL);
    if (negative) v = -v;
    return static_cast<int>(std::clamp<std::int64_t>(v, -2147483647 - 1, 2147483647));
}

void rest_add_document(rest& r) {
    const api_context ctx = r.make_context(*r.context);
    api session(ctx);
    if (!r.body) {
        rest_bad_request(r, "Input document expected");
        return;
    }
    auto url = r.params.find("url");
    if (url == r.params.end()) {
        rest_bad_request(r, "Required parameter 'url' not specified");
        return;
    }
    // Without a Content-Type the bytes are of no declared type.
    const std::string mime = r.content_type_value.value_or("application/octet-stream");
    api_result res;
    std::string docid;
    const int arcid = r.captures[0].integer;
    session.add_document(res, arcid, url->second, mime, *r.body, docid);
    if (!res.ok) {
        rest_api_error(r, res);
        return;
    }
    // Stored before it is announced: a commit that fails fails the request.
    session.finish();
    r.content_type("text/xml");
    r.printf("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    r.printf("<newdocument>\n");
    r.printf("\t<id archive=\"%d\">%s</id>\n", arcid, escaped(docid).c_str());
    r.printf("</newdocument>\n");
}

void rest_get_document(rest& r) {
    std::int32_t form = 0;
    if (r.accept) {
        const std::string media = content_type(*r.accept).media_type;
        if (media == "application/vnd.lumbrake-fff")
            form = 1;
        else if (media == "text/html")
            form = 2;
    }
    const api_context ctx = r.make_context(*r.context);
    api session(ctx, api_access::read);
    api_result res;
    std::string url, type, content;
    session.get_cached_page(res, r.captures[1].text, form, url, type, content);
    if (!res.ok) {
        rest_api_error(r, res);
        return;
    }
    if (content.empty()) {
        r.status(404, "No such content");
        r.end_headers();
        return;
    }
    r.content_type(type.c_str());
    for (const auto& [name, value] : STORED_DOCUMENT_HEADERS)
        r.header(name, value);
    const std::string length = std::to_string(content.size());
    r.header("Content-Length", length.c_str());
    std::size_t sent = 0;
    while (sent < content.size()) {
        ssize_t n = r.write(content.data() + sent, content.size() - sent);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
}

void rest_query(rest& r) {
    QuerySpec query_spec;
    query_spec.Archives.assign(r.captures[0].ids.begin(), r.captures[0].ids.end());
    std::string message;
    if (!parse_query_parameters(r.params, query_spec, message)) {
        rest_bad_request(r, message.empty() ? nullptr : message.c_str());
        return;
    }
    const api_context ctx = r.make_context(*r.context);
    api session(ctx, api_access::read);
    api_result res;
    std::vector<QueryResult> results;
    std::int32_t total = -1;
    session.query(res, query_spec, results, total, false);
    if (!res.ok) {
        rest_api_error(r, res);
        return;
    }
    write_results_xml(r, results, total);
}

void rest_platform_status(rest& r) {
    const api_context ctx = r.make_context(*r.context);
    api session(ctx, api_access::read);
    api_result res;
    std::int32_t status = 0;
    std::vector<ExtendedStatus> rows;
    session.get_status(res, status, rows);
    if (!res.ok) {
        rest_api_error(r, res);
        return;
    }
    r.content_type("text/xml");
    r.printf("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    r.printf("<statusinfo>\n");
    if (status == 0)
        r.printf("\t<status>Running</status>\n");
    else if (status == 1)
        r.printf("\t<status>Crawl stopped</status>\n");
    else if (status == 2)
        r.printf("\t<status>Low disk space</status>\n");
    if (!rows.empty()) {
        r.printf("\t<extendedstatuslist>\n");
        for (const ExtendedStatus& row : rows) {
            r.printf("\t\t<extendedstatus>\n");
            r.printf("\t\t\t<key>%s</key>\n", escaped(row.Key).c_str());
            r.printf("\t\t\t<value>%s</value>\n", escaped(row.Value).c_str());
            r.printf("\t\t</extendedstatus>\n");
        }
        r.printf("\t</extendedstatuslist>\n");
    }
    r.printf("</statusinfo>\n");
}

using rest_handler = void (*)(rest&);

struct rest_row {
    const char* pattern;
    rest_handler get, put, post, del;
};

const rest_row rest_routes[] = {
    {"/index/%/doc", nullptr, nullptr, rest_add_document, nullptr},
    {"/index/%/doc/$", rest_get_document, nullptr, nullptr, nullptr},
    {"/index/@", rest_query, nullptr, nullptr, nullptr},
    {"/platform/status", rest_platform_status, nullptr, nullptr, nullptr},
};

} // namespace

// ---- restembed --------------------------------------------------------------------------

restembed::~restembed() {
    end_headers();
}

void restembed::status(int code, const char* message) {
    status_sent_ = true;
    head_.emplace(code, message);
}

void restembed::content_type(const char* media_type) {
    if (!status_sent_) status(200, "OK");
    head_->content_type(media_type).date();
    content_type_sent_ = true;
}

void restembed::header(const char* name, const char* value) {
    if (!status_sent_) status(200, "OK");
    head_->header(name, value);
}

void restembed::end_headers() {
    if (!content_type_sent_) content_type("text/html");
    if (!head_ended_) {
        head_ended_ = true;
        head_->send(input_.socket());
    }
}

// Formatted whole: a long title or URL must not be cut off mid-element.
void restembed::printf(const char* format, ...) {
    if (!head_ended_) end_headers();
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    char buffer[4096];
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) {
        va_end(again);
        return;
    }
    if (static_cast<std::size_t>(n) < sizeof buffer) {
        va_end(again);
        http_send(input_.socket(), buffer, static_cast<std::size_t>(n));
        return;
    }
    std::string text(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    http_send(input_.socket(), text.data(), static_cast<std::size_t>(n));
}

ssize_t restembed::write(const void* bytes, std::size_t length) {
    if (!head_ended_) end_headers();
    // The count sent, or -1 when the client took nothing.
    const std::size_t sent = http_send(input_.socket(), bytes, length);
    return sent == 0 && length > 0 ? -1 : static_cast<ssize_t>(sent);
}

ssize_t restembed::read(void* buffer, std::size_t length) {
    return input_.read(buffer, length);
}

// ---- error answers ----------------------------------------------------------------------

void rest_bad_request(rest& r, const char* message) {
    r.status(400, message ? message : "Bad Request");
    r.end_headers();
}

void rest_internal_error(rest& r, const char* message) {
    r.status(500, message ? message : "Internal Server Error");
    r.end_headers();
}

void rest_method_not_allowed(rest& r) {
    r.status(405, "Method Not Allowed");
    r.end_headers();
}

void rest_api_error(rest& r, const api_result& res) {
    r.status(res.http_status, res.message.c_str());
    r.end_headers();
}

// ---- routing ----------------------------------------------------------------------------

bool parse_id_list(const std::string& text, std::vector<int>& ids) {
    ids.clear();
    if (text.empty()) return false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        if (comma == start) return false;
        const int id = to_int(text.substr(start, comma - start));
        if (id == 0) return false;
        ids.push_back(id);
        start = comma + 1;
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return true;
}

bool match_rest_pattern(const char* pattern, const std::string& path, rest& r) {
    std::size_t p = 0;
    int param = 0;
    for (; *pattern; ++pattern) {
        const char c = *pattern;
        if (c != '%' && c != '$' && c != '@') {
            if (p >= path.size() || path[p] != c) return false;
            ++p;
            continue;
        }
        TN_ASSERT(param < 2);
        const char stop = pattern[1];
        std::size_t end = stop ? path.find(stop, p) : path.size();
        if (end == std::string::npos) end = path.size();
        std::string text = path.substr(p, end - p);
        p = end;
        rest::capture& cap = r.captures[param++];
        if (c == '%') {
            cap.integer = to_int(text);
            if (cap.integer < 1) return false;
        } else if (c == '$') {
            cap.text = std::move(text);
        } else if (!parse_id_list(text, cap.ids)) {
            return false;
        }
    }
    return p == path.size();
}

bool parse_query_parameters(const std::map<std::string, std::string>& params, QuerySpec& query_spec,
                            std::string& message) {
    bool ok = true;
    auto bad = [&](const char* text) {
        ok = false;
        message = text;
    };
    auto find = [&](const char* name) -> const std::string* {
        auto it = params.find(name);
        return it == params.end() ? nullptr : &it->second;
    };
    if (const std::string* v = find("q")) {
        query_spec.Parser = NETPARSER;
        query_spec.QueryString = *v;
    }
    if (const std::string* v = find("rpn")) {
        query_spec.Parser = RPNPARSER;
        query_spec.QueryString = *v;
    }
    if (const std::string* v = find("alg")) {
        query_spec.Parser = ALGPARSER;
        query_spec.QueryString = *v;
    }
    if (const std::string* v = find("mintime"))
        if (!parse_unsigned(*v, query_spec.MinTime)) bad("'mintime' parameter incorrectly specified");
    if (const std::string* v = find("maxtime"))
        if (!parse_unsigned(*v, query_spec.MaxTime)) bad("'maxtime' parameter incorrectly specified");
    if (const std::string* v = find("minscore"))
        if (!parse_unsigned(*v, query_spec.MinScore)) bad("'minscore' parameter incorrectly specified");
    if (const std::string* v = find("start")) {
        std::int32_t start = 0;
        // The window's end must stay within the int range.
        if (!parse_unsigned(*v, start) || start > 2147483647 - 9) {
            bad("'start' parameter incorrectly specified");
        } else {
            query_spec.FirstDoc = start;
            query_spec.LastDoc = start + 9;
        }
    }
    if (const std::string* v = find("num")) {
        std::int32_t num = 0;
        if (!parse_unsigned(*v, num) || num > 2147483647 - query_spec.FirstDoc)
            bad("'num' parameter incorrectly specified");
        else
            query_spec.LastDoc = query_spec.FirstDoc + num;
    }
    if (const std::string* v = find("info")) {
        if (*v == "none" || *v == "noinfo")
            query_spec.Info = INFO_NONE;
        else if (*v == "url")
            query_spec.Info = INFO_URL;
        else if (*v == "title")
            query_spec.Info = INFO_TITLE;
        else if (*v == "context")
            query_spec.Info = INFO_CONTEXT;
        else
            bad("'info' parameter incorrectly specified");
    }
    if (const std::string* v = find("view")) {
        if (*v == "published")
            query_spec.View = VIEW_PUBLISHED;
        else if (*v == "corechanged")
            query_spec.View = VIEW_CORECHANGED;
        else
            bad("'published' parameter incorrectly specified");
    }
    if (const std::string* v = find("sort")) {
        static const std::pair<const char*, QuerySort> sorts[] = {
            {"standard", SORT_STANDARD}, {"relevance", SORT_RELEVANCE}, {"docscore", SORT_SCORE},
            {"newer", SORT_TIME_NEWER},  {"older", SORT_TIME_OLDER},
        };
        bool found = false;
        for (const auto& [name, sort] : sorts)
            if (*v == name) {
                query_spec.Sort = sort;
                found = true;
            }
        if (!found) bad("'sort' parameter incorrectly specified");
    }
    for (auto it = params.lower_bound("w"); it != params.end() && it->first[0] == 'w'; ++it) {
        if (it->first.size() == 1) {
            bad("Invalid slice weight");
            return false;
        }
        // Only "w" and a slice number names a weight; other names beginning with "w" ("what")
        // are parameters this interface does not know, and those are ignored.
        const std::string slice = it->first.substr(1);
        const std::size_t digits = slice[0] == '-' ? 1 : 0;
        if (slice.size() == digits ||
            slice.find_first_not_of("0123456789", digits) != std::string::npos)
            continue;
        QuerySliceWeight w;
        if (!parse_signed(slice, w.Slice) || !parse_signed(it->second, w.Weight)) {
            bad("Invalid slice weight");
            continue;
        }
        query_spec.Weights.push_back(w);
    }
    return ok;
}

void write_results_xml(rest& r, const std::vector<QueryResult>& results, int max_results) {
    r.content_type("text/xml");
    r.printf("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    r.printf("<results>\n");
    for (const QueryResult& q : results) {
        r.printf("\t<result>\n");
        r.printf("\t\t<id>%s</id>\n", escaped(q.ID).c_str());
        r.printf("\t\t<URL>%s</URL>\n", escaped(q.Url).c_str());
        r.printf("\t\t<title>%s</title>\n", escaped(q.Title).c_str());
        r.printf("\t\t<mimetype>%s</mimetype>\n", escaped(q.MimeType).c_str());
        r.printf("\t\t<contextlist>\n");
        for (const std::string& c : q.Contexts)
            r.printf("\t\t\t<context>%s</context>\n", escaped(c).c_str());
        r.printf("\t\t</contextlist>\n");
        r.printf("\t\t<archives>\n");
        for (std::int32_t a : q.Archives)
            r.printf("\t\t\t<archive>%d</archive>\n", a);
        r.printf("\t\t</archives>\n");
        r.printf("\t\t<timestamp>%d</timestamp>\n", q.Timestamp);
        r.printf("\t\t<servertime>%d</servertime>\n", q.ServerTime);
        r.printf("\t\t<score>%d</score>\n", q.Score);
        r.printf("\t</result>\n");
    }
    r.printf("\t<maxresults>%d</maxresults>\n", max_results);
    r.printf("</results>\n");
}

bool dispatch_rest_request(rest& r) {
    if (r.path.empty()) r.path = "/";
    if (r.method.empty() || r.path.size() >= REST_MAX_PATH) {
        rest_bad_request(r, "Missing or bad request method");
        return false;
    }
    const rest_row* row = nullptr;
    for (const rest_row& candidate : rest_routes) {
        r.captures[0] = r.captures[1] = rest::capture{};
        if (match_rest_pattern(candidate.pattern, r.path, r)) {
            row = &candidate;
            break;
        }
    }
    if (!row) return false;

    auth_guard guard;
    if (!r.state->attach(guard)) {
        r.answered_by_state = true;
        return true;
    }
    r.context->user = r.state->user;
    r.context->groups = r.state->groups;
    r.context->admin = r.state->admin;

    rest_handler handler = nullptr;
    if (r.method == "GET")
        handler = row->get;
    else if (r.method == "PUT")
        handler = row->put;
    else if (r.method == "POST")
        handler = row->post;
    else if (r.method == "DELETE")
        handler = row->del;
    else {
        rest_method_not_allowed(r);
        return true;
    }

    if (r.method != "GET") {
        std::int64_t length = 0;
        bool bad = false;
        if (r.state->content_length(length, bad) && (bad || length != 0)) {
            if (!r.state->check_body_size(HTTP_BODY_LIMIT)) {
                r.answered_by_state = true;
                return true;
            }
            std::string body(static_cast<std::size_t>(length), '\0');
            std::size_t got = 0;
            while (got < body.size()) {
                ssize_t n = r.read(body.data() + got, body.size() - got);
                if (n < 1) break;
                got += static_cast<std::size_t>(n);
            }
            if (got < body.size()) {
                rest_bad_request(r, "Document size error");
                return true;
            }
            r.body = std::move(body);
        }
    }
    if (!r.query.empty()) cgi_parse_query(r.params, r.query);
    if (!handler) {
        rest_method_not_allowed(r);
        return true;
    }
    handler(r);
    return true;
}

bool rest_route(httpstate& state, const http_request_facts& facts,
                const rest_context_maker& make_context) {
    restembed r(state.input);
    r.context = &state.context;
    r.state = &state;
    r.make_context = make_context;
    r.method = facts.method;
    r.path = facts.path;
    r.query = facts.query;
    r.content_length = facts.content_length;
    r.content_type_value = facts.content_type;
    r.accept = facts.accept;
    const bool routed = dispatch_rest_request(r);
    // An early refusal has answered the client: the request must not go on to the portal.
    const bool answered = routed || r.answered();
    if (!answered || r.answered_by_state) r.silence();
    return answered;
}

bool rest_route(httpstate& state, const http_request_facts& facts) {
    return rest_route(state, facts, [](httpcontext& context) {
        TN_ASSERT(context.app != nullptr);
        return make_api_context(*context.app, context.db, context.user, context.groups,
                                context.admin);
    });
}

} // namespace lumbrake
