// The portal's search results: one template before the rows, one per row, one after them and
// a navigation block over the result pages.
#include "webservices/portal.h"
#include "webservices/rest.h"

#include "util/config.h"
#include "util/escape.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace lumbrake {

namespace {

std::string utc(std::int64_t seconds, const char* format) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!::gmtime_r(&t, &tm)) return {};
    char buffer[256];
    std::size_t n = std::strftime(buffer, sizeof buffer, format, &tm);
    return std::string(buffer, n);
}

void put_dates(template_vars& vars, const char* prefix, std::int64_t seconds, bool rfc822) {
    static const struct {
        const char* suffix;
        const char* format;
    } formats[] = {{"dmy", "%d/%m/%Y"},
                   {"mdy", "%m/%d/%Y"},
                   {"dmy_time", "%d/%m/%Y %T"},
                   {"mdy_time", "%m/%d/%Y %T"},
                   {"rfc822", "%a, %d %b %Y %T GMT"}};
    for (const auto& f : formats) {
        if (!rfc822 && std::string(f.suffix) == "rfc822") continue;
        vars[std::string(prefix) + f.suffix] = html_escape(utc(seconds, f.format));
    }
}

const char* const FLAG = "\x01";

std::string cache_link(const QueryResult& r) {
    static const std::pair<const char*, const char*> extensions[] = {
        {"text/plain", ".txt"},         {"text/html", ".html"},      {"text/rtf", ".rtf"},
        {"application/msword", ".doc"}, {"application/pdf", ".pdf"},
    };
    std::string extension;
    for (const auto& [type, ext] : extensions)
        if (r.MimeType == type) extension = ext;
    return "cache/" + r.ID + extension + "?doc=" + r.ID;
}

// A query-string name or value as it must be written to come back unchanged: everything but
// the unreserved characters percent-encoded ("&", "+", "%", "#" and "=" included).
std::string query_component(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool web_url(const std::string& url) {
    return url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
}

} // namespace

std::string wrap_long_url(const std::string& url) {
    std::string out = url;
    std::size_t last = 0, search = 0;
    for (;;) {
        std::size_t candidate = out.find('/', search);
        if (candidate == std::string::npos) candidate = out.find('?', search);
        if (candidate == std::string::npos) candidate = out.find('&', search);
        if (candidate == std::string::npos) break;
        if (candidate - last > 16) {
            out.insert(candidate + 1, 1, ' ');
            last = candidate;
        }
        search = candidate + 1;
    }
    return out;
}

void render_search_results(int sock, const template_set& set, const template_vars& params,
                           const std::string& current_name, const portal_search& search) {
    const QuerySpec& query_spec = search.query_spec;
    const std::int64_t first = query_spec.FirstDoc, last = query_spec.LastDoc, total = search.total;
    if (total <= 0) {
        template_vars vars{{"user", html_escape(search.user)},
                           {"currname", html_escape(current_name)},
                           {"self_url", html_escape(search.self_url)}};
        put_dates(vars, "now_", search.now, true);
        render_template(set, sock, "no_result", params, vars);
        return;
    }
    // A window that ends before it starts has no pages; it counts as one result per page.
    const std::int64_t size = last - first + 1 > 0 ? last - first + 1 : 1;
    const std::string user = html_escape(search.user), currname = html_escape(current_name),
                      maxresults = std::to_string(total);

    template_vars head{{"user", user},
                       {"currname", currname},
                       {"from", std::to_string(first + 1)},
                       {"to", std::to_string(std::min(last + 1, total))},
                       {"maxresults", maxresults},
                       {"self_url", html_escape(search.self_url)}};
    char seconds[64];
    std::snprintf(seconds, sizeof seconds, "%5.3f", search.seconds);
    head["time"] = seconds;
    put_dates(head, "now_", search.now, true);
    render_template(set, sock, "result_head", params, head);

    const bool by_time = query_spec.Sort == SORT_TIME_NEWER || query_spec.Sort == SORT_TIME_OLDER;
    const std::string row_template =
        by_time && set.count("result_trow") ? "result_trow" : "result_row";
    for (const QueryResult& r : search.results) {
        template_vars row{{"user", user}, {"currname", currname}, {"maxresults", maxresults}};
        row["url"] = html_escape(r.Url);
        row["printable_url"] = html_escape(wrap_long_url(r.Url));
        row["title"] = html_escape(r.Title);
        std::string shown = r.Title.empty() ? r.Url : r.Title;
        if (shown.size() > 70) shown = shown.substr(0, 70) + "...";
        row["truncated_title"] = html_escape(shown);
        row["score"] = std::to_string(r.Score);
        put_dates(row, "crawl_date_", r.Timestamp, true);
        if (r.ServerTime != 0) put_dates(row, "server_date_", r.ServerTime, false);
        if (r.MimeType == "text/rtf") row["rtf"] = FLAG;
        if (r.MimeType == "application/msword") row["doc"] = FLAG;
        if (r.MimeType == "application/pdf") row["pdf"] = FLAG;
        const std::string cache = cache_link(r);
        row["cache"] = html_escape(cache);
        if (search.document_cache) row["cache_internal"] = html_escape(cache + "&html");
        row["url_or_cached"] = html_escape(web_url(r.Url) ? r.Url : cache);
        if (web_url(r.Url)) row["real_url"] = html_escape(r.Url);
        std::string ctx = "...";
        for (const std::string& snippet : r.Contexts)
            ctx += " " + snippet + " ...";
        row["ctx"] = html_escape(ctx);
        render_template(set, sock, row_template, params, row);
    }
    render_template(set, sock, "result_foot", params,
                    {{"user", user}, {"currname", currname}, {"maxresults", maxresults}});

    if (first <= 0 && last + 1 >= total) {
        render_template(set, sock, "result_nonav", params, {});
        return;
    }
    std::string allvars;
    for (const auto& [name, value] : params)
        if (name != "start")
            allvars += "&" + query_component(name) + "=" + query_component(value);
    template_vars nav{{"user", user},
                      {"currname", currname},
                      {"from", std::to_string(first)},
                      {"to", std::to_string(std::min(last + 1, total))},
                      {"prev", std::to_string(std::max<std::int64_t>(first - size, 0))},
                      {"next", std::to_string(std::min(last + 1, total))},
                      {"maxresults", maxresults},
                      {"currpage", std::to_string(last / size)},
                      {"maxpages", std::to_string((total + size - 1) / size)},
                      {"allvars", allvars}};
    render_template(set, sock, first > 0 ? "result_nav_prev" : "result_nav_noprev", params, nav);
    std::int64_t range = 5;
    auto r = set.find("result_nav_range");
    if (r != set.end()) range = std::atoi(r->second.text.c_str());
    // Bounded so a huge range in a set file cannot spin for ever.
    range = std::clamp<std::int64_t>(range, 0, 1000);
    const std::int64_t p0 = first / size;
    for (std::int64_t i = p0 - range; i <= p0 + 2 * range - 1; ++i) {
        if (i < 0 || i * size >= total) continue;
        nav["page_start"] = std::to_string(i * size);
        nav["page"] = std::to_string(i + 1);
        render_template(set, sock, i == p0 ? "result_nav_currpage" : "result_nav_otherpage", params,
                        nav);
    }
    nav.erase("page_start");
    nav.erase("page");
    render_template(set, sock, last + 1 < total ? "result_nav_next" : "result_nav_nonext", params,
                    nav);
}

void render_results_page(httpcontext& context, api_result& res, int sock, httpstate& state,
                         const template_set& set, const template_vars& params,
                         const std::string& current_name, const portal_api_maker& maker) {
    auto has = [&](const char* name) { return params.count(name) != 0; };
    const bool text = has("q") || has("rpn") || has("alg") || has("t");
    const bool where = has("a") || has("i") || has("c") || has("t");
    portal_search search;
    QuerySpec& query_spec = search.query_spec;
    std::string message;
    if (!text || !where || !parse_query_parameters(params, query_spec, message)) {
        render_template(set, sock, "internalerror", params, {});
        return;
    }
    auto id = [&](const char* name, const char* fallback = nullptr) {
        auto i = params.find(name);
        if (i == params.end() && fallback) i = params.find(fallback);
        return i == params.end() ? 0 : std::atoi(i->second.c_str());
    };
    const int archive = id("a", "i");
    query_spec.Archives.clear();
    if (archive != 0) query_spec.Archives.push_back(archive);
    query_spec.Collection = id("c");
    query_spec.Watch = id("t");

    auto started = std::chrono::steady_clock::now();
    res.set_ok();
    api_context ctx;
    if (!maker || !maker(context, ctx)) {
        res.set_error(API_INTERNAL_ERROR);
    } else {
        api call(ctx, api_access::read);
        call.query(res, query_spec, search.results, search.total, true);
        search.now = call.now();
    }
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    if (!res.ok) {
        render_internal_error(sock, set, params, res);
        return;
    }
    search.seconds = static_cast<double>(elapsed.count()) * 0.001;
    search.user = state.user;
    search.self_url = state.self_url;
    const http_hooks* hooks = context.hooks;
    config cfg(hooks && !hooks->config_file.empty() ? hooks->config_file.c_str() : nullptr);
    std::string cache;
    search.document_cache = !cfg.get("DOCUMENT_CACHE", cache) || cache != "NO";
    render_search_results(sock, set, params, current_name, search);
}

} // namespace lumbrake
