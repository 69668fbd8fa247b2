// URLs: splitting into six parts by a table of known schemes, the canonical text under which
// documents are stored and compared, relative resolution, percent-encoding.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace lumbrake {

// What the syntax of one scheme allows. Records live in the scheme table for the whole run.
struct uri_scheme {
    std::uint16_t port = 0;        // default port, 0 for none
    bool relative = false;         // references resolve against a base of this scheme
    bool netloc = false;           // has an authority introduced by "//"
    bool non_hierarchical = false; // opaque path
    bool params = false;           // ";" starts parameters
    bool query = false;            // "?" starts a query
    bool fragment = false;         // "#" starts a fragment
    bool canon = false;            // canonical form decodes and re-encodes path, params, query
    bool robots = false;           // URLs are subject to robots.txt
};

// The record of an unknown scheme: port 0, every flag false.
const uri_scheme& default_uri_scheme();
// The record of a lower-case scheme name, or null when the table does not know it.
const uri_scheme* find_uri_scheme(std::string_view lower_case_name);
// The whole table, by lower-case name.
const std::map<std::string, uri_scheme, std::less<>>& uri_scheme_table();

// The six text parts of a URL.
struct uri_parts {
    std::string scheme;
    std::string authority;
    std::string path;
    std::string params;
    std::string query;
    std::string fragment;

    bool operator==(const uri_parts&) const = default;
};

// Splits `text`; never fails. `record` is set to the scheme's record (the default record for
// an unknown scheme).
void parse_uri(uri_parts& out, const uri_scheme*& record, std::string_view text,
               std::string_view default_scheme, bool allow_fragments);
// Joins six parts again ("http://h" gets its "/").
std::string unparse_uri(const uri_parts& parts, const uri_scheme& record);
// Resolves `reference` against the base; the result is not canonical.
std::string urljoin(const uri_parts& base, const uri_scheme& base_record,
                    std::string_view reference, bool allow_fragments);
// Resolves "." and ".." segments and collapses "//" ("/a/./b/../c" -> "/a/c").
std::string normalize_path(std::string_view path);

// Percent-encodes controls, bytes from 0x7F and  <>"#{}|\^~[]`@ and blank; keeps a "%XX"
// escape (digits upper-cased), encodes any other "%" as %25.
std::string url_encode(std::string_view text);
// "%XX" becomes the byte; everything else ("+" too) is kept.
std::string url_decode(std::string_view text);
// As url_encode, but every "%" becomes %25 (file names made into URLs).
std::string url_escape(std::string_view text);

// True when the text names a scheme of its own ("localhost:8080/x" does not).
bool uri_has_scheme(std::string_view text);
// The canonical text of a URL parsed with default scheme "http", fragments allowed. The flag
// does not change the result.
std::string canonicalize_url(std::string_view text, bool flag = true);

bool is_hex_digit(char c);
// The value of a hex digit (either case); asserts on any other byte.
int hex_value(char c);
// The upper-case hex digit of 0..15; asserts on any other value.
char hex_digit(int x);
// Lower-cases A-Z in place.
void to_lower_ascii(std::string& text);

class URI {
public:
    // Six empty parts and no scheme record: only a target for parsing or resolution.
    URI() = default;
    URI(std::string_view text, std::string_view default_scheme = "http",
        bool allow_fragments = true);
    URI(const char* text, const char* default_scheme = "http", bool allow_fragments = true);
    URI(const std::string& text, const std::string& default_scheme = "http",
        bool allow_fragments = true)
        : URI(std::string_view(text), std::string_view(default_scheme), allow_fragments) {}

    void parse(std::string_view text, std::string_view default_scheme = "http",
               bool allow_fragments = true);

    const std::string& scheme() const { return parts_.scheme; }
    const std::string& authority() const { return parts_.authority; }
    // The path part exactly as parsed (may be empty).
    const std::string& raw_path() const { return parts_.path; }
    const std::string& params() const { return parts_.params; }
    const std::string& query() const { return parts_.query; }
    const std::string& fragment() const { return parts_.fragment; }
    const uri_parts& parts() const { return parts_; }
    // The scheme's record; the default record when none was set.
    const uri_scheme& record() const { return record_ ? *record_ : default_uri_scheme(); }

    // The path, or "/" when it is empty and the scheme has an authority.
    std::string path() const;
    // Host and port of the authority (user information dropped); the port is the scheme's
    // default when absent, 0 when it is not a number.
    void host_port(std::string& host, std::uint16_t& port) const;
    std::string host() const;
    std::uint16_t port() const;

    // The canonical text: scheme and host lower-cased, default port dropped, path
    // normalised, escapes made uniform (for schemes that allow it), fragment dropped.
    // The flag does not change the result.
    void canonical(std::string& out, bool flag = true) const;
    std::string canonical_string(bool flag = true) const;

    // The URL of `reference` relative to this one (parsed with default scheme "http").
    URI resolve(std::string_view reference, bool allow_fragments = true) const;
    // Resolves and returns the canonical text in `out` (also returned).
    const std::string& normalize_url(std::string& out, std::string_view reference,
                                     bool allow_fragments = true, bool flag = true) const;

    // Directory part and last part of the path (an opaque path is all file).
    void split_path(std::string& directory, std::string& file) const;

    // The joined text of the six parts, as parsed.
    std::string str() const;

private:
    uri_parts parts_;
    const uri_scheme* record_ = nullptr;
};

} // namespace lumbrake
