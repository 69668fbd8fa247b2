#include "webservices/portal.h"

#include "api/archive-info.h"
#include "api/collection-info.h"
#include "api/watch-info.h"
#include "webservices/rest.h"
#include "httpfront/httpio.h"
#include "util/codecs.h"
#include "util/config.h"
#include "util/escape.h"
#include "util/httphead.h"
#include "util/log.h"
#include "util/uri.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace lumbrake {

namespace {

const char* const HTML_TYPE = "text/html; charset=UTF-8";

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The head of every portal page: pages are built per request, so none is kept in a cache.
http_answer page_answer(int code, const char* reason, std::string_view type) {
    http_answer answer(code, reason);
    answer.content_type(type).date().no_cache();
    return answer;
}

void send_error(int sock, int code, const char* reason, const char* body) {
    page_answer(code, reason, HTML_TYPE).send(sock, body);
}

void send_not_found(int sock) {
    send_error(sock, 404, "Not found", "<html><body>Error 404 - File not found.</body></html>");
}

void send_invalid_template(int sock) {
    send_error(sock, 500, "Internal server error",
               "<html><body>Error 500 - Internal server error, invalid template.</body></html>");
}

void send_invalid_redirect(int sock) {
    send_error(sock, 500, "Internal server error",
               "<html><body>Error 500 - Internal server error, invalid redirect.</body></html>");
}

std::string base_url(bool https, const std::string& host, int port) {
    return std::string("http") + (https ? "s" : "") + "://" + host + ":" + std::to_string(port);
}

// Built as strings, so a long target cannot overrun a format buffer.
void send_redirect(int sock, bool https, const std::string& host, int port,
                   const std::string& target) {
    std::string location = header_safe(base_url(https, host, port) + target);
    page_answer(302, "Found", HTML_TYPE)
        .header("Location", location)
        .send(sock, "<html><body>Moved <a href=\"" + html_escape(location) +
                        "\">here</a></body></html>\r\n");
}

// The canonical form of an existing path, or empty.
std::string real_path(const std::string& path) {
    char buffer[PATH_MAX];
    if (!::realpath(path.c_str(), buffer)) return {};
    return buffer;
}

// True when path exists and, with every link followed, lies at or below root_real.
bool inside_root(const std::string& root_real, const std::string& path) {
    if (root_real.empty()) return false;
    std::string real = real_path(path);
    if (real.empty()) return false;
    if (real == root_real) return true;
    std::string prefix = root_real == "/" ? "/" : root_real + "/";
    return real.compare(0, prefix.size(), prefix) == 0;
}

bool exists(const std::string& path, struct stat& st) {
    return ::stat(path.c_str(), &st) == 0;
}

std::string content_type_of(const std::string& name) {
    static const struct {
        const char* end;
        const char* type;
    } types[] = {{".html", "text/html; charset=UTF-8"},
                 {".gif", "image/gif"},
                 {".jpg", "image/jpeg"},
                 {".pdf", "application/pdf"},
                 {".css", "text/css"}};
    for (const auto& t : types) {
        std::size_t n = std::strlen(t.end);
        if (name.size() >= n && name.compare(name.size() - n, n, t.end) == 0) return t.type;
    }
    return {};
}

// One API session for the caller, for reading (the portal only reads); false (and
// InternalError) when there is no API to run.
template <class F>
void with_api(api_result& res, httpcontext& context, const portal_api_maker& maker, F&& f) {
    api_context ctx;
    if (!maker || !maker(context, ctx)) {
        res.set_error(API_INTERNAL_ERROR);
        return;
    }
    api call(ctx, api_access::read);
    f(call);
}

void serve_file(int sock, const std::string& file) {
    std::string type = content_type_of(file);
    std::FILE* f = type.empty() ? nullptr : std::fopen(file.c_str(), "rb");
    if (!f) {
        send_not_found(sock);
        return;
    }
    http_answer answer = page_answer(200, "OK", type);
    struct stat st {};
    if (::fstat(fileno(f), &st) == 0) answer.content_length(static_cast<std::uint64_t>(st.st_size));
    bool sending = answer.send(sock);
    char block[16384];
    std::size_t n;
    // A client that has gone is not sent the rest of the file.
    while (sending && (n = std::fread(block, 1, sizeof block, f)) > 0)
        sending = http_send(sock, std::string_view(block, n));
    std::fclose(f);
}

int id_of(const std::map<std::string, std::string>& params, const char* name,
          const char* fallback = nullptr) {
    auto i = params.find(name);
    if (i == params.end() && fallback) i = params.find(fallback);
    return i == params.end() ? 0 : std::atoi(i->second.c_str());
}

bool serve_cached_page(httpstate& state, const template_set& set,
                       const std::map<std::string, std::string>& params,
                       const portal_api_maker& maker) {
    auto doc = params.find("doc");
    if (doc == params.end()) return false;
    int mode = params.count("html") ? 2 : 0;
    api_result res;
    std::string url, type, body;
    with_api(res, state.context, maker, [&](api& call) {
        call.get_cached_page(res, doc->second, mode, url, type, body);
        if (res.ok && (type.rfind("message/rfc822", 0) == 0 || type.rfind("text/x-mail", 0) == 0))
            call.get_cached_page(res, doc->second, 2, url, type, body);
    });
    int sock = state.socket;
    if (!res.ok) {
        page_answer(200, "OK", HTML_TYPE).send(sock);
        render_internal_error(sock, set, params, res);
        return true;
    }
    std::string prefix;
    std::size_t at = 0;
    if (!body.empty()) {
        std::string media = content_type(type).media_type;
        // The stored URL is escaped so that it cannot leave the attribute.
        if (media == "text/html") {
            prefix = "<base href=\"" + html_escape(url) + "\">\n";
            at = html_prologue_length(body);
        }
    }
    http_answer answer = page_answer(200, "OK", type);
    for (const auto& [name, value] : STORED_DOCUMENT_HEADERS)
        answer.header(name, value);
    answer.content_length(prefix.size() + body.size());
    // The base element goes in after the document's prologue.
    const std::string_view document(body);
    if (answer.send(sock, document.substr(0, at)) && http_send(sock, prefix))
        http_send(sock, document.substr(at));
    return true;
}

void serve_template_page(httpstate& state, const std::string& special, const std::string& host,
                         int port, bool https, const std::string& page_path,
                         const std::string& query, const std::map<std::string, std::string>& params,
                         const portal_api_maker& maker) {
    int sock = state.socket;
    template_set set;
    if (!load_template_set(special, set)) {
        send_invalid_template(sock);
        return;
    }
    auto mime = set.find("mimetype");
    page_answer(200, "OK", mime != set.end() ? mime->second.text : HTML_TYPE).send(sock);

    int archive = id_of(params, "a", "i");
    int collection = id_of(params, "c");
    int watch = id_of(params, "t");
    template_vars head, foot;
    std::string archive_name, collection_name, watch_name;
    api_result res;
    head["archiveselect"] = write_archive_options(res, state.context, maker, archive, archive_name);
    head["collectionselect"] =
        write_collection_options(res, state.context, maker, collection, collection_name);
    head["watchselect"] = write_watch_options(res, state.context, maker, watch, watch_name);
    std::string current;
    if (archive >= 1)
        current = archive_name;
    else if (collection >= 1)
        current = collection_name;
    else if (collection == -1)
        current = "*";
    else if (watch >= 1)
        current = watch_name;
    // The user name comes from the client's credentials; escaped, it cannot add markup.
    head["user"] = html_escape(state.user);
    foot["user"] = html_escape(state.user);
    // The query text, escaped, so that the search form can show it again.
    for (const char* name : {"q", "rpn", "alg"}) {
        auto it = params.find(name);
        if (it == params.end()) continue;
        head["query"] = html_escape(it->second);
        break;
    }
    render_template(set, sock, "head", params, head);
    state.self_url = base_url(https, host, port) + page_path + "?" + query;
    api_result results;
    render_results_page(state.context, results, sock, state, set, params, current, maker);
    render_template(set, sock, "foot", params, foot);
}

template <class Info, class Name>
std::string option_rows(std::string rows, const std::vector<Info>& list, int current_id,
                        std::string& current_name, Name name_of) {
    for (const Info& info : list) {
        auto [id, name] = name_of(info);
        rows += "<option value=\"" + std::to_string(id) + "\"";
        if (id == current_id) {
            rows += " selected";
            current_name = name;
        }
        rows += ">" + html_escape(name) + "</option>\n";
    }
    return rows;
}

const char* const EMPTY_OPTION = "<option value=\"0\"></option>\n";

} // namespace

std::size_t html_prologue_length(std::string_view body) {
    std::size_t pos = 0;
    auto skip_space = [&] {
        while (pos < body.size() && is_space(body[pos]))
            ++pos;
    };
    auto starts = [&](std::string_view word) {
        if (body.size() - pos < word.size()) return false;
        for (std::size_t i = 0; i < word.size(); ++i) {
            char c = body[pos + i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
            if (c != word[i]) return false;
        }
        return true;
    };
    if (body.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
    std::size_t end = pos;
    for (;;) {
        skip_space();
        std::size_t close = std::string_view::npos;
        if (starts("<?xml")) {
            close = body.find("?>", pos);
            if (close != std::string_view::npos) close += 2;
        } else if (starts("<!--")) {
            close = body.find("-->", pos + 4);
            if (close != std::string_view::npos) close += 3;
        } else if (starts("<!doctype")) {
            close = body.find('>', pos);
            if (close != std::string_view::npos) close += 1;
        }
        if (close == std::string_view::npos) return end;
        pos = end = close;
    }
}

std::string write_archive_options(api_result& res, httpcontext& context,
                                  const portal_api_maker& maker, int current_id,
                                  std::string& current_name) {
    std::vector<ArchiveInfo> list;
    res.set_ok();
    with_api(res, context, maker, [&](api& call) { call.enum_archive_configurations(res, list); });
    if (!res.ok) list.clear();
    return option_rows(EMPTY_OPTION, list, current_id, current_name, [](const ArchiveInfo& i) {
        return std::pair<int, std::string>(i.Archive, i.Configuration.Name);
    });
}

std::string write_collection_options(api_result& res, httpcontext& context,
                                     const portal_api_maker& maker, int current_id,
                                     std::string& current_name) {
    std::string rows = EMPTY_OPTION;
    rows += "<option value=\"-1\"";
    if (current_id == -1) {
        rows += " selected";
        current_name = "*";
    }
    rows += ">*</option>\n";
    std::vector<CollectionInfo> list;
    res.set_ok();
    with_api(res, context, maker,
             [&](api& call) { call.enum_collection_configurations(res, list); });
    if (!res.ok) list.clear();
    return option_rows(rows, list, current_id, current_name, [](const CollectionInfo& i) {
        return std::pair<int, std::string>(i.Collection, i.Configuration.Name);
    });
}

std::string write_watch_options(api_result& res, httpcontext& context,
                                const portal_api_maker& maker, int current_id,
                                std::string& current_name) {
    std::vector<WatchInfo> list;
    res.set_ok();
    with_api(res, context, maker, [&](api& call) { call.enum_watch_configurations(res, list); });
    if (!res.ok) list.clear();
    return option_rows(EMPTY_OPTION, list, current_id, current_name, [](const WatchInfo& i) {
        return std::pair<int, std::string>(i.Watch, i.Configuration.Name);
    });
}

portal_page_kind resolve_portal_page(const std::string& root, std::string path,
                                     std::string& resolved, std::string& redirect, bool no_parent) {
    if (path.empty() || path[0] != '/') path.insert(0, "/");
    if (path.back() == '/') path += "index.html";
    // A byte the file system cannot name, or a segment that climbs, never reaches the disk.
    if (path.find('\0') != std::string::npos) return PORTAL_NONE;
    if (path == "/.." || path.rfind("/../", 0) == 0 || path.find("/../") != std::string::npos ||
        (path.size() >= 3 && path.compare(path.size() - 3, 3, "/..") == 0))
        return PORTAL_NONE;
    const std::string root_real = real_path(root);
    struct stat st {};
    std::string special = root + path + ".special";
    if (exists(special, st)) {
        if (!inside_root(root_real, special) || S_ISDIR(st.st_mode)) return PORTAL_NONE;
        resolved = special;
        std::FILE* f = std::fopen(special.c_str(), "r");
        if (!f) return PORTAL_NONE;
        char line[255] = {};
        bool got = std::fgets(line, sizeof line, f) != nullptr;
        std::fclose(f);
        if (!got) return PORTAL_NONE;
        std::string first(line);
        while (!first.empty() && (first.back() == '\r' || first.back() == '\n'))
            first.pop_back();
        if (first == "template") return PORTAL_TEMPLATE;
        if (first == "cache") return PORTAL_CACHE;
        if (first == "language") return PORTAL_LANGUAGE;
        if (first.rfind("redirect ", 0) == 0) {
            redirect = first.substr(9);
            return PORTAL_REDIRECT;
        }
        return PORTAL_NONE;
    }
    std::string file = root + path;
    if (exists(file, st)) {
        if (!inside_root(root_real, file)) return PORTAL_NONE;
        resolved = file;
        if (S_ISDIR(st.st_mode)) {
            redirect = path + "/";
            return PORTAL_REDIRECT;
        }
        // Pipes and devices would block or never end.
        return S_ISREG(st.st_mode) ? PORTAL_FILE : PORTAL_NONE;
    }
    std::size_t slash = path.rfind('/');
    if (!no_parent && slash != std::string::npos) {
        std::string parent_redirect;
        if (resolve_portal_page(root, path.substr(0, slash), resolved, parent_redirect, true) ==
            PORTAL_CACHE)
            return PORTAL_CACHE;
        resolved.clear();
    }
    return PORTAL_NONE;
}

bool load_language_table(const std::string& file, language_table& table) {
    std::FILE* f = std::fopen(file.c_str(), "r");
    if (!f) return true;
    const bool ok = for_each_setting(f, 1023, [&](const std::string& line) {
        std::size_t blank = line.find(' ');
        if (blank == std::string::npos) return false;
        table[line.substr(0, blank)] = line.substr(blank + 1);
        return true;
    });
    std::fclose(f);
    return ok;
}

bool choose_language(const std::string& accept, const language_table& table, std::string& path) {
    if (accept.empty()) return false;
    double best = 0;
    const std::string* chosen = nullptr;
    std::size_t pos = 0;
    const std::size_t n = accept.size();
    auto space = [](char c) { return is_space(c); };
    while (pos < n) {
        std::size_t start = pos;
        while (pos < n && accept[pos] != ',' && accept[pos] != ';' && !space(accept[pos]))
            ++pos;
        std::size_t len = pos - start;
        if (len == 0 || len >= 15) return false;
        std::string tag = accept.substr(start, len);
        double q = 1.0;
        if (pos < n && accept[pos] == ';') {
            std::size_t pstart = ++pos;
            while (pos < n && accept[pos] != ',' && !space(accept[pos]))
                ++pos;
            std::size_t plen = pos - pstart;
            if (plen < 3 || plen > 14 || accept.compare(pstart, 2, "q=") != 0) return false;
            q = std::atof(accept.substr(pstart + 2, plen - 2).c_str());
        }
        auto entry = table.find(tag);
        if (q > best && entry != table.end()) {
            best = q;
            chosen = &entry->second;
        }
        while (pos < n && (accept[pos] == ',' || space(accept[pos])))
            ++pos;
    }
    if (!chosen) {
        if (table.empty()) return false;
        chosen = &table.begin()->second;
    }
    path = *chosen;
    return true;
}

void serve_portal(httpstate& state, const std::string& host, int port, bool https,
                  const portal_api_maker& maker) {
    const int sock = state.socket;
    const http_hooks* hooks = state.context.hooks;
    config cfg(hooks && !hooks->config_file.empty() ? hooks->config_file.c_str() : nullptr);
    std::string root;
    if (!cfg.get("PORTAL_DOCS", root)) {
        std::string deploydir;
        cfg.get("DEPLOYDIR", deploydir);
        root = deploydir + "/portal";
    }

    const std::string& target = state.request.target;
    std::size_t question = target.find('?');
    // The router lets only absolute targets through; runs of '/' are one separator to the file
    // system, so they are one here too before the private part is recognised.
    std::string page_path = normalize_path(target.substr(0, question));
    for (std::size_t dup; (dup = page_path.find("//")) != std::string::npos;)
        page_path.erase(dup, 1);
    if (page_path.empty() || page_path[0] != '/') page_path.insert(0, "/");
    std::string query = question == std::string::npos ? std::string() : target.substr(question + 1);

    if (page_path.compare(0, 9, "/private/") == 0) {
        auth_guard guard;
        if (!state.attach(guard)) return;
    }
    state.context.user = state.user;
    state.context.groups = state.groups;
    state.context.admin = state.admin;
    if (!state.check_body_size(HTTP_BODY_LIMIT)) return;

    std::map<std::string, std::string> params;
    cgi_parse_query(params, query);

    std::string resolved, redirect;
    switch (resolve_portal_page(root, page_path, resolved, redirect, false)) {
    case PORTAL_TEMPLATE:
        serve_template_page(state, resolved, host, port, https, page_path, query, params, maker);
        return;
    case PORTAL_FILE:
        serve_file(sock, resolved);
        return;
    case PORTAL_CACHE: {
        template_set set;
        if (!load_template_set(resolved, set) || !serve_cached_page(state, set, params, maker))
            send_invalid_template(sock);
        return;
    }
    case PORTAL_REDIRECT:
        send_redirect(sock, https, host, port, redirect);
        return;
    case PORTAL_LANGUAGE: {
        language_table table;
        std::string chosen;
        std::string accept;
        bool has_accept = state.request.get_lower("accept-language", accept);
        if (!load_language_table(resolved, table) || table.empty()) {
            send_invalid_redirect(sock);
            return;
        }
        if (!has_accept) {
            chosen = table.begin()->second;
        } else if (!choose_language(accept, table, chosen)) {
            send_invalid_redirect(sock);
            return;
        }
        send_redirect(sock, https, host, port, chosen);
        return;
    }
    case PORTAL_NONE:
    default:
        send_not_found(sock);
        return;
    }
}

std::function<void(httpstate&, const http_request_facts&)>
make_portal_route(portal_api_maker maker) {
    return [maker = std::move(maker)](httpstate& state, const http_request_facts& facts) {
        serve_portal(state, facts.host, facts.port, false, maker);
    };
}

void portal_route(httpstate& state, const http_request_facts& facts) {
    static const portal_api_maker maker = [](httpcontext& context, api_context& ctx) {
        if (!context.app) return false;
        ctx =
            make_api_context(*context.app, context.db, context.user, context.groups, context.admin);
        return true;
    };
    serve_portal(state, facts.host, facts.port, false, maker);
}

} // namespace lumbrake
