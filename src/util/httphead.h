// Scanners of HTTP heads (request or status line and header lines) and of content-type values,
// and the parser of the three HTTP date forms. Shared by the fetchers, the mail parser and the
// daemon's HTTP server.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <string_view>

namespace lumbrake {

// Header fields (or content-type parameters) under their lower-cased names.
class header_fields {
public:
    // Lower-cased name -> value as sent. A name sent twice holds both values joined without a
    // separator.
    std::map<std::string, std::string> fields;
    // Lower-cased name of the field being read.
    std::string current_name;
    // The scan read the whole text and the text ended with a line break (a head) or at its end
    // (a content-type value). False when the scan stopped early: a line that fits no rule, a NUL
    // byte, or a last line without its line break (possibly cut off, so it is not stored).
    bool complete = false;

    // The name is lower-cased for the lookup; false leaves the value as it was.
    bool get(std::string_view name, std::string& value) const;
    // As get(), the value lower-cased up to its first NUL byte.
    bool get_lower(std::string_view name, std::string& value) const;
    // get_lower("charset"); callers use "iso-8859-1" when it is absent.
    bool get_charset(std::string& value) const { return get_lower("charset", value); }

    // Scanner actions.
    void set_name(const char* begin, const char* end);
    void append_value(const char* begin, const char* end);
};

// A request or response head: the first line and the header lines after it.
class http_request : public header_fields {
public:
    explicit http_request(std::string_view text);

    std::string target;
    std::string version;           // after "HTTP/" on a request line
    std::int32_t status_code = -1; // of a status line; -1 when there is none
    std::string method;            // "GET", "HEAD", "POST", "PUT", "DELETE" or empty
    bool valid = false;            // a complete first line was read
};

// A content-type value: "type/subtype; name=value; ...". Parameters go into fields.
class content_type : public header_fields {
public:
    explicit content_type(std::string_view text);

    std::string media_type; // lower-cased
};

// Seconds since 1970-01-01 00:00 UTC of a lower-case date in RFC 1123, RFC 850 or asctime form;
// 0 when the text is no such date (wrong weekday, impossible date, any trailing text).
std::time_t parse_http_date(std::string_view text);

} // namespace lumbrake
