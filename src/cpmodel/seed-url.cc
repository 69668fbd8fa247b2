#include "cpmodel/seed-url.h"

#include "util/uri.h"

#include <strings.h>

namespace lumbrake {

namespace {

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The address without a leading copy of its kind's own scheme (any case).
std::string without_scheme(std::string_view address, std::string_view scheme_prefix) {
    if (address.size() >= scheme_prefix.size() &&
        ::strncasecmp(address.data(), scheme_prefix.data(), scheme_prefix.size()) == 0)
        address.remove_prefix(scheme_prefix.size());
    return std::string(address);
}

// The text after the first "/", empty when there is none.
std::string_view after_slash(std::string_view text) {
    const auto at = text.find('/');
    return at == std::string_view::npos ? std::string_view() : text.substr(at + 1);
}

} // namespace

const char* seed_web_scheme_label(bool secure) { return secure ? "https://" : "http://"; }

bool seed_fields_complete(const seed_fields& f) {
    switch (f.kind) {
    case seed_kind::web: return !f.web_address.empty();
    case seed_kind::ftp: return !f.ftp_address.empty();
    case seed_kind::gopher: return !f.gopher_address.empty();
    case seed_kind::news: return !f.news_server.empty() && !f.newsgroup.empty();
    case seed_kind::filesystem: return !f.path.empty();
    case seed_kind::search_engine:
        return (f.engine == SEED_ENGINE_GOOGLE || f.engine == SEED_ENGINE_MSN) &&
               !f.search_text.empty();
    case seed_kind::none: break;
    }
    return false;
}

std::string build_seed_url(const seed_fields& f) {
    std::string url;
    switch (f.kind) {
    case seed_kind::web:
        if (starts_with(f.web_address, "http://") || starts_with(f.web_address, "https://"))
            url = f.web_address;
        else
            url = seed_web_scheme_label(f.secure) + f.web_address;
        break;
    case seed_kind::ftp: url = "ftp://" + without_scheme(f.ftp_address, "ftp://"); break;
    case seed_kind::gopher:
        url = "gopher://" + without_scheme(f.gopher_address, "gopher://");
        break;
    case seed_kind::news: url = "nntp://" + f.news_server + "/" + f.newsgroup + "/"; break;
    case seed_kind::filesystem:
        // file:// + the absolute path, as the file fetcher reads it back.
        url = "file://" + std::string(starts_with(f.path, "/") ? "" : "/") + url_escape(f.path);
        break;
    case seed_kind::search_engine:
        url = (f.engine == SEED_ENGINE_MSN ? "msn:" : "google:") + url_escape(f.search_text);
        break;
    case seed_kind::none: break;
    }
    return canonicalize_url(url);
}

seed_fields split_seed_url(std::string_view url) {
    seed_fields f;
    const auto colon = url.find(':');
    const std::string_view scheme = url.substr(0, colon);
    const std::string_view rest =
        colon == std::string_view::npos ? std::string_view() : url.substr(colon + 1);
    const std::string_view tail = after_slash(after_slash(rest));
    const auto slash = tail.find('/');
    const std::string host(tail.substr(0, slash));
    const std::string path(after_slash(tail));

    if (scheme == "http" || scheme == "https") {
        f.kind = seed_kind::web;
        f.secure = scheme == "https";
        f.web_address = host + "/" + path;
    } else if (scheme == "ftp") {
        f.kind = seed_kind::ftp;
        f.ftp_address = host + "/" + path;
    } else if (scheme == "gopher") {
        f.kind = seed_kind::gopher;
        f.gopher_address = host + "/" + path;
    } else if (scheme == "nntp") {
        f.kind = seed_kind::news;
        f.news_server = host;
        f.newsgroup = path.substr(0, path.find('/'));
    } else if (scheme == "file") {
        f.kind = seed_kind::filesystem;
        // A host between "//" and the path is left out; the path keeps its leading "/".
        f.path = "/" + url_decode(path);
    } else if (scheme == "google" || scheme == "msn") {
        f.kind = seed_kind::search_engine;
        f.engine = scheme == "msn" ? SEED_ENGINE_MSN : SEED_ENGINE_GOOGLE;
        f.search_text = url_decode(rest);
    } else {
        f.kind = seed_kind::web;
    }
    return f;
}

} // namespace lumbrake
