// URL parsing, canonical form, resolution and percent-encoding.
#include "util/uri.h"

#include <vector>

#include "util/log.h"

namespace lumbrake {

// ---- scheme table ----

namespace {

using scheme_map = std::map<std::string, uri_scheme, std::less<>>;

uri_scheme row(std::uint16_t port, bool relative, bool netloc, bool non_hierarchical, bool params,
               bool query, bool fragment, bool canon, bool robots = false) {
    uri_scheme s;
    s.port = port;
    s.relative = relative;
    s.netloc = netloc;
    s.non_hierarchical = non_hierarchical;
    s.params = params;
    s.query = query;
    s.fragment = fragment;
    s.canon = canon;
    s.robots = robots;
    return s;
}

scheme_map build_schemes() {
    scheme_map m;
    //                     port rel net nonh par qry frag canon robots
    m["file"] = row(0, 1, 1, 0, 0, 0, 1, 1);
    m["ftp"] = row(21, 1, 1, 0, 1, 0, 1, 1);
    m["gopher"] = row(70, 1, 1, 1, 0, 1, 1, 1);
    m["htl"] = row(0, 0, 0, 1, 1, 0, 1, 1);
    m["http"] = row(80, 1, 1, 0, 1, 1, 1, 1, true);
    m["https"] = row(443, 1, 1, 0, 1, 1, 1, 1, true);
    m["mailto"] = row(0, 0, 0, 1, 0, 0, 0, 1);
    m["news"] = row(119, 0, 0, 1, 0, 0, 1, 1);
    m["nntp"] = row(119, 1, 1, 0, 0, 0, 1, 1);
    m["prospero"] = row(191, 1, 1, 0, 1, 0, 1, 1);
    m["rtsp"] = row(554, 1, 1, 1, 1, 1, 0, 1);
    m["rtspu"] = row(554, 1, 1, 1, 1, 1, 0, 1);
    m["shttp"] = row(443, 1, 1, 0, 1, 1, 1, 1, true);
    m["sip"] = row(5060, 0, 0, 1, 1, 1, 0, 1);
    m["snews"] = row(563, 0, 1, 1, 0, 0, 1, 1);
    m["telnet"] = row(23, 0, 1, 1, 0, 0, 0, 1);
    m["wais"] = row(210, 1, 1, 1, 0, 1, 1, 1);
    m["javascript"] = row(0, 0, 0, 1, 0, 0, 0, 0);
    m["guid"] = row(0, 0, 0, 1, 0, 0, 0, 0);
    m["google"] = row(0, 0, 0, 1, 0, 0, 0, 0);
    m["msn"] = row(0, 0, 0, 1, 0, 0, 0, 0);
    return m;
}

const uri_scheme default_record{};

// Filled during static initialisation, before any thread starts; read-only afterwards.
const scheme_map& schemes() {
    static const scheme_map m = build_schemes();
    return m;
}
[[maybe_unused]] const scheme_map& schemes_at_start = schemes();

inline bool is_scheme_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '+' || c == '-' || c == '.';
}

inline char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

const uri_scheme& default_uri_scheme() {
    return default_record;
}

const uri_scheme* find_uri_scheme(std::string_view name) {
    auto it = schemes().find(name);
    return it == schemes().end() ? nullptr : &it->second;
}

const std::map<std::string, uri_scheme, std::less<>>& uri_scheme_table() {
    return schemes();
}

// ---- small utilities ----

bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int hex_value(char c) {
    c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    TN_ASSERT((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
    return c <= '9' ? c - '0' : c - 'A' + 10;
}

char hex_digit(int x) {
    TN_ASSERT(x >= 0 && x < 16);
    return "0123456789ABCDEF"[x];
}

void to_lower_ascii(std::string& text) {
    for (char& c : text)
        c = lower(c);
}

// ---- parsing ----

void parse_uri(uri_parts& out, const uri_scheme*& record, std::string_view text,
               std::string_view default_scheme, bool allow_fragments) {
    out = uri_parts{};
    record = &default_record;
    if (text.empty()) return;

    std::size_t rest = 0;
    bool look_for_authority = true;
    std::string scheme(default_scheme);
    std::size_t colon = text.find(':');
    if (colon == 0) {
        look_for_authority = false;
    } else if (colon != std::string_view::npos) {
        std::string_view candidate = text.substr(0, colon);
        bool ok = true;
        for (char c : candidate)
            if (!is_scheme_char(c)) {
                ok = false;
                break;
            }
        if (ok) {
            std::string name(candidate);
            to_lower_ascii(name);
            if (name.size() < 5 || find_uri_scheme(name)) {
                scheme = std::move(name);
                rest = colon + 1;
            }
        }
    }
    if (const uri_scheme* r = find_uri_scheme(scheme)) record = r;
    const uri_scheme& rec = *record;
    out.scheme = std::move(scheme);

    std::string_view r = text.substr(rest);
    if (look_for_authority && rec.netloc && r.size() >= 2 && r[0] == '/' && r[1] == '/') {
        // The authority ends at the path, and also at a query or fragment mark where the
        // scheme has them: "http://h?x" names host h.
        std::string stops = "/";
        if (rec.query) stops += '?';
        if (rec.fragment && allow_fragments) stops += '#';
        std::size_t end = r.find_first_of(stops, 2);
        if (end == std::string_view::npos) end = r.size();
        out.authority.assign(r.substr(2, end - 2));
        to_lower_ascii(out.authority);
        r = r.substr(end);
    }
    if (allow_fragments && rec.fragment) {
        std::size_t hash = r.rfind('#');
        if (hash != std::string_view::npos) {
            out.fragment.assign(r.substr(hash + 1));
            r = r.substr(0, hash);
        }
    }
    if (rec.query) {
        std::size_t q = r.find('?');
        if (q != std::string_view::npos) {
            out.query.assign(r.substr(q + 1));
            r = r.substr(0, q);
        }
    }
    if (rec.params) {
        std::size_t semi = r.find(';');
        if (semi != std::string_view::npos) {
            out.params.assign(r.substr(semi + 1));
            r = r.substr(0, semi);
        }
    }
    out.path.assign(r);
}

std::string unparse_uri(const uri_parts& p, const uri_scheme& record) {
    std::string out;
    if (p.scheme.empty() && p.authority.empty() && p.path.empty() && p.params.empty() &&
        p.query.empty() && p.fragment.empty())
        return out;
    out.reserve(p.scheme.size() + p.authority.size() + p.path.size() + p.params.size() +
                p.query.size() + p.fragment.size() + 8);
    if (!p.scheme.empty()) {
        out += p.scheme;
        out += ':';
    }
    if (!p.authority.empty() || record.netloc) {
        out += "//";
        out += p.authority;
        if ((!p.path.empty() && p.path[0] != '/') || (p.path.empty() && record.netloc)) out += '/';
    }
    out += p.path;
    if (!p.params.empty()) {
        out += ';';
        out += p.params;
    }
    if (!p.query.empty()) {
        out += '?';
        out += p.query;
    }
    if (!p.fragment.empty()) {
        out += '#';
        out += p.fragment;
    }
    return out;
}

// ---- paths ----

namespace {

// Splits at every "/", keeping empty pieces; an empty text gives no piece.
void split_segments(std::vector<std::string_view>& out, std::string_view path) {
    if (path.empty()) return;
    std::size_t start = 0;
    for (;;) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string_view::npos) {
            out.push_back(path.substr(start));
            return;
        }
        out.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
}

// Removes "." pieces, collapses inner empty pieces and resolves "..", then joins. Linear:
// each ".." only looks at the pieces kept so far.
std::string resolve_segments(std::vector<std::string_view>& segs) {
    std::vector<std::string_view> kept;
    kept.reserve(segs.size());
    for (std::string_view s : segs)
        if (s != ".") kept.push_back(s);
    const std::size_t n = kept.size();
    std::vector<std::string_view> stack;
    stack.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        std::string_view s = kept[i];
        if (n > 1 && s.empty() && i != 0 && i != n - 1) continue;
        if (s == "..") {
            if (stack.empty())
                stack.push_back(std::string_view()); // a leading ".." becomes the root
            else if (stack.size() > 1)
                stack.pop_back();
            continue;
        }
        stack.push_back(s);
    }
    std::string out;
    std::size_t total = 0;
    for (std::string_view s : stack)
        total += s.size() + 1;
    out.reserve(total);
    for (std::size_t i = 0; i < stack.size(); ++i) {
        if (i) out += '/';
        out += stack[i];
    }
    return out;
}

} // namespace

std::string normalize_path(std::string_view path) {
    std::vector<std::string_view> segs;
    split_segments(segs, path);
    return resolve_segments(segs);
}

// ---- resolution ----

std::string urljoin(const uri_parts& base, const uri_scheme& base_record,
                    std::string_view reference, bool allow_fragments) {
    if (reference.empty() && base_record.relative) {
        uri_parts b = base;
        b.fragment.clear();
        return unparse_uri(b, base_record);
    }
    uri_parts ref;
    const uri_scheme* ref_record = nullptr;
    parse_uri(ref, ref_record, reference, base.scheme, allow_fragments);

    const bool as_absolute = ref.scheme != base.scheme || !ref_record->relative ||
                             (ref_record->netloc && !ref.authority.empty());
    if (as_absolute) {
        ref.path = normalize_path(ref.path);
        return unparse_uri(ref, *ref_record);
    }
    if (ref_record->netloc) ref.authority = base.authority;
    if (ref.path.empty()) {
        ref.path = base.path;
        // A reference of only a query or a fragment keeps the base's parameters.
        if (ref.params.empty()) ref.params = base.params;
        if (ref.query.empty()) ref.query = base.query;
    } else if (ref.path[0] == '/') {
        ref.path = normalize_path(ref.path);
    } else {
        std::vector<std::string_view> segs;
        split_segments(segs, base.path);
        if (!segs.empty()) segs.pop_back();
        split_segments(segs, ref.path);
        ref.path = resolve_segments(segs);
    }
    return unparse_uri(ref, *ref_record);
}

// ---- percent-encoding ----

namespace {

inline bool must_encode(unsigned char c) {
    if (c < 0x20 || c >= 0x7F) return true;
    switch (c) {
    case ' ':
    case '<':
    case '>':
    case '"':
    case '#':
    case '{':
    case '}':
    case '|':
    case '\\':
    case '^':
    case '~':
    case '[':
    case ']':
    case '`':
    case '@':
        return true;
    default:
        return false;
    }
}

std::string encode(std::string_view text, bool keep_escapes) {
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            if (keep_escapes && i + 2 < text.size() && is_hex_digit(text[i + 1]) &&
                is_hex_digit(text[i + 2])) {
                out += '%';
                out += hex_digit(hex_value(text[i + 1]));
                out += hex_digit(hex_value(text[i + 2]));
                i += 2;
            } else {
                out += "%25";
            }
        } else if (must_encode(c)) {
            out += '%';
            out += hex_digit(c >> 4);
            out += hex_digit(c & 15);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// Makes the escapes of a path, parameter or query text uniform in one pass: an escaped byte
// is decoded, then every byte that needs it is escaped again with upper-case digits, and a
// "%" that starts no escape becomes %25. Escapes of the bytes that split a URL or a query
// stay escaped: decoding "%2F", "%3F", "%3B", "%26", "%3D" or "%2B" would name another
// resource or other query values, and decoding "%25" would turn "%2541" into a new escape.
// The result is stable under a second pass.
std::string canonical_escapes(std::string_view text) {
    static constexpr std::string_view delimiters = "/?#;&=+%";
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    auto put_escaped = [&out](unsigned char c) {
        out += '%';
        out += hex_digit(c >> 4);
        out += hex_digit(c & 15);
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '%' && i + 2 < text.size() && is_hex_digit(text[i + 1]) &&
            is_hex_digit(text[i + 2])) {
            c = static_cast<unsigned char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
            i += 2;
            if (delimiters.find(static_cast<char>(c)) != std::string_view::npos || must_encode(c))
                put_escaped(c);
            else
                out += static_cast<char>(c);
        } else if (c == '%' || must_encode(c)) {
            put_escaped(c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace

std::string url_encode(std::string_view text) {
    return encode(text, true);
}

std::string url_escape(std::string_view text) {
    return encode(text, false);
}

std::string url_decode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%' && i + 2 < text.size() && is_hex_digit(text[i + 1]) &&
            is_hex_digit(text[i + 2])) {
            out += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

bool uri_has_scheme(std::string_view text) {
    // An empty text names nothing (parsing it leaves every part empty, the scheme too).
    if (text.empty()) return false;
    uri_parts p;
    const uri_scheme* rec = nullptr;
    parse_uri(p, rec, text, "___", false);
    return p.scheme != "___";
}

std::string canonicalize_url(std::string_view text, bool flag) {
    return URI(text, "http", true).canonical_string(flag);
}

// ---- URI ----

URI::URI(std::string_view text, std::string_view default_scheme, bool allow_fragments) {
    parse(text, default_scheme, allow_fragments);
}

URI::URI(const char* text, const char* default_scheme, bool allow_fragments) {
    parse(text ? std::string_view(text) : std::string_view(),
          default_scheme ? std::string_view(default_scheme) : std::string_view(), allow_fragments);
}

void URI::parse(std::string_view text, std::string_view default_scheme, bool allow_fragments) {
    parse_uri(parts_, record_, text, default_scheme, allow_fragments);
}

std::string URI::path() const {
    if (parts_.path.empty() && record().netloc) return "/";
    return parts_.path;
}

namespace {

// The authority without user information ("user:pw@host:81" -> "host:81"), and the
// user information with its "@" (empty when there is none).
void split_userinfo(std::string_view authority, std::string_view& userinfo,
                    std::string_view& hostport) {
    std::size_t at = authority.rfind('@');
    if (at == std::string_view::npos) {
        userinfo = std::string_view();
        hostport = authority;
    } else {
        userinfo = authority.substr(0, at + 1);
        hostport = authority.substr(at + 1);
    }
}

// A port of one to five decimal digits up to 65535; anything else reads as 0.
std::uint16_t read_port(std::string_view text) {
    if (text.empty() || text.size() > 5) return 0;
    unsigned v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    return v > 65535 ? 0 : static_cast<std::uint16_t>(v);
}

} // namespace

void URI::host_port(std::string& host, std::uint16_t& port) const {
    std::string_view userinfo, hp;
    split_userinfo(parts_.authority, userinfo, hp);
    std::size_t colon = hp.rfind(':');
    port = record().port;
    if (colon == std::string_view::npos) {
        host.assign(hp);
        return;
    }
    host.assign(hp.substr(0, colon));
    if (colon + 1 < hp.size()) port = read_port(hp.substr(colon + 1));
}

std::string URI::host() const {
    std::string h;
    std::uint16_t p;
    host_port(h, p);
    return h;
}

std::uint16_t URI::port() const {
    std::string h;
    std::uint16_t p;
    host_port(h, p);
    return p;
}

void URI::canonical(std::string& out, bool) const {
    const uri_scheme& rec = record();
    std::string host;
    std::uint16_t port;
    host_port(host, port);

    uri_parts c;
    c.scheme = parts_.scheme;
    c.path = rec.canon ? canonical_escapes(parts_.path) : parts_.path;
    c.path = normalize_path(c.path);
    if (rec.canon) {
        c.params = canonical_escapes(parts_.params);
        c.query = canonical_escapes(parts_.query);
    } else {
        c.params = parts_.params;
        c.query = parts_.query;
    }
    std::string_view userinfo, hp;
    split_userinfo(parts_.authority, userinfo, hp);
    c.authority.assign(userinfo);
    c.authority += host;
    if (port != rec.port) {
        c.authority += ':';
        c.authority += std::to_string(port);
    }
    out = unparse_uri(c, rec);
}

std::string URI::canonical_string(bool flag) const {
    std::string out;
    canonical(out, flag);
    return out;
}

URI URI::resolve(std::string_view reference, bool allow_fragments) const {
    return URI(urljoin(parts_, record(), reference, allow_fragments), "http", true);
}

const std::string& URI::normalize_url(std::string& out, std::string_view reference,
                                      bool allow_fragments, bool flag) const {
    resolve(reference, allow_fragments).canonical(out, flag);
    return out;
}

void URI::split_path(std::string& directory, std::string& file) const {
    const std::string& p = parts_.path;
    if (record().non_hierarchical) {
        directory.clear();
        file = p;
        return;
    }
    std::size_t slash = p.rfind('/');
    std::string_view last =
        slash == std::string::npos ? std::string_view(p) : std::string_view(p).substr(slash + 1);
    if (last == "." || last == ".." || last.starts_with("./") || last.starts_with("../")) {
        directory = p;
        file.clear();
        return;
    }
    if (slash == std::string::npos) {
        directory.clear();
        file = p;
    } else {
        directory = p.substr(0, slash);
        file.assign(last);
    }
}

std::string URI::str() const {
    return unparse_uri(parts_, record());
}

} // namespace lumbrake
