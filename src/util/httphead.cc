#include "util/httphead.h"

#include "util/syslayer.h"

#include <cstring>

namespace lumbrake {

namespace {

// The scanners stop at the first NUL byte as at the end of the text. Every rule moves forward
// only, and a rule that fails ends the scan, so each scan is linear in the text.
class cursor {
public:
    explicit cursor(std::string_view text) : begin_(text.data()), end_(text.data() + text.size()) {
        const void* nul = std::memchr(begin_, 0, text.size());
        stop_ = nul ? static_cast<const char*>(nul) : end_;
    }
    // The byte at p, or 0 at the end of the text or at a NUL byte.
    char at(const char* p) const { return p < stop_ ? *p : 0; }
    const char* begin() const { return begin_; }
    const char* stop() const { return stop_; }
    const char* end() const { return end_; }

private:
    const char* begin_;
    const char* end_;
    const char* stop_; // first NUL or end
};

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\b';
}
bool is_break(char c) {
    return c == '\n' || c == '\r';
}
bool is_alpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_name_start(char c) {
    return is_alpha(c) || c == '_';
}
bool is_name_byte(char c) {
    return is_alpha(c) || is_digit(c) || c == '-' || c == '_';
}
char to_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}
char to_upper(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

std::string lowered(const char* begin, const char* end) {
    std::string s(begin, end);
    for (char& c : s)
        c = to_lower(c);
    return s;
}

// Case-insensitive match of an upper-case word at p.
bool match_word(const cursor& cur, const char* p, const char* word) {
    for (; *word; ++word, ++p)
        if (to_upper(cur.at(p)) != *word) return false;
    return true;
}

const char* skip(const cursor& cur, const char* p, bool (*cls)(char)) {
    while (cur.at(p) && cls(cur.at(p)))
        ++p;
    return p;
}

const char* method_at(const cursor& cur, const char* p) {
    static const char* const methods[] = {"GET", "HEAD", "POST", "PUT", "DELETE"};
    for (const char* m : methods)
        if (match_word(cur, p, m)) return m;
    return nullptr;
}

struct request_line {
    const char* method;
    const char *target_begin, *target_end;
    const char *version_begin, *version_end;
    const char* next;
};

// method, optional blanks, target, blanks, "HTTP/", version, optional blanks, line breaks.
bool scan_request_line(const cursor& cur, const char* p, bool blank_after_method,
                       request_line& out) {
    const char* method = method_at(cur, p);
    if (!method) return false;
    p += std::strlen(method);
    if (blank_after_method && !is_blank(cur.at(p))) return false;
    p = skip(cur, p, is_blank);
    const char* target = p;
    while (cur.at(p) && !is_blank(cur.at(p))) // line breaks do not end the target
        ++p;
    if (p == target) return false;
    const char* target_end = p;
    p = skip(cur, p, is_blank);
    if (p == target_end || !match_word(cur, p, "HTTP/")) return false;
    p += 5;
    const char* version = p;
    while (cur.at(p) && !is_blank(cur.at(p)) && !is_break(cur.at(p)))
        ++p;
    if (p == version) return false;
    const char* version_end = p;
    p = skip(cur, p, is_blank);
    if (!is_break(cur.at(p))) return false;
    out = {method, target, target_end, version, version_end, skip(cur, p, is_break)};
    return true;
}

// "HTTP", a run of non-blank bytes, blanks, one to three digits, the reason phrase.
bool scan_status_line(const cursor& cur, const char* p, std::int32_t& code, const char*& next) {
    if (!match_word(cur, p, "HTTP")) return false;
    p += 4;
    const char* run = p;
    while (cur.at(p) && !is_blank(cur.at(p)))
        ++p;
    if (p == run) return false;
    const char* blanks = p;
    p = skip(cur, p, is_blank);
    if (p == blanks) return false;
    const char* digits = p;
    std::int32_t value = 0;
    // More than three digits is no status code; the bound also keeps the value in range.
    while (is_digit(cur.at(p)) && p - digits < 4) {
        value = value * 10 + (cur.at(p) - '0');
        ++p;
    }
    char after = cur.at(p);
    if (p == digits || p - digits > 3) return false;
    if (!(after == 0 || is_blank(after) || is_alpha(after) || after == '_' || is_break(after)))
        return false;
    while (cur.at(p) && (is_blank(cur.at(p)) || is_alpha(cur.at(p)) || cur.at(p) == '_'))
        ++p;
    code = value;
    next = skip(cur, p, is_break);
    return true;
}

} // namespace

bool header_fields::get(std::string_view name, std::string& value) const {
    auto it = fields.find(lowered(name.data(), name.data() + name.size()));
    if (it == fields.end()) return false;
    value = it->second;
    return true;
}

bool header_fields::get_lower(std::string_view name, std::string& value) const {
    auto it = fields.find(lowered(name.data(), name.data() + name.size()));
    if (it == fields.end()) return false;
    const std::string& v = it->second;
    value = lowered(v.data(), v.data() + std::strlen(v.c_str()));
    return true;
}

void header_fields::set_name(const char* begin, const char* end) {
    current_name = lowered(begin, end);
}

void header_fields::append_value(const char* begin, const char* end) {
    fields[current_name].append(begin, end);
}

http_request::http_request(std::string_view text) {
    cursor cur(text);
    const char* p = cur.begin();

    request_line rl;
    if (scan_request_line(cur, p, false, rl)) {
        method = rl.method;
        target.assign(rl.target_begin, rl.target_end);
        version.assign(rl.version_begin, rl.version_end);
        p = rl.next;
    } else if (!scan_status_line(cur, p, status_code, p)) {
        return;
    }
    valid = true;

    for (;;) {
        char c = cur.at(p);
        if (c == 0) break;
        if (is_blank(c)) {
            // A continuation line: one blank joins it to the current field.
            const char* rest = skip(cur, p, is_blank);
            const char* rest_end = rest;
            while (cur.at(rest_end) && !is_break(cur.at(rest_end)))
                ++rest_end;
            if (!is_break(cur.at(rest_end))) break;
            static const char blank = ' ';
            append_value(&blank, &blank + 1);
            append_value(rest, rest_end);
            p = skip(cur, rest_end, is_break);
            continue;
        }
        const char* m = method_at(cur, p);
        if (m && is_blank(cur.at(p + std::strlen(m)))) {
            // Another request line overwrites the first.
            if (!scan_request_line(cur, p, true, rl)) break;
            method = rl.method;
            target.assign(rl.target_begin, rl.target_end);
            version.assign(rl.version_begin, rl.version_end);
            p = rl.next;
            continue;
        }
        if (match_word(cur, p, "HTTP") && !is_name_byte(cur.at(p + 4))) {
            // Another status line, as in the heads of a followed redirect.
            std::int32_t code;
            const char* next;
            if (scan_status_line(cur, p, code, next)) {
                status_code = code;
                p = next;
                continue;
            }
        }
        if (!is_name_start(c)) break;
        {
            const char* name = p;
            const char* name_end = skip(cur, p, is_name_byte);
            if (cur.at(name_end) != ':') break;
            const char* value = skip(cur, name_end + 1, is_blank);
            const char* value_end = value;
            while (cur.at(value_end) && !is_break(cur.at(value_end)))
                ++value_end;
            // A last line without its line break may be cut off: it is not taken.
            if (!is_break(cur.at(value_end))) break;
            set_name(name, name_end);
            append_value(value, value_end);
            p = skip(cur, value_end, is_break);
        }
    }
    complete = p == cur.end() && p != cur.begin() && is_break(p[-1]);
}

content_type::content_type(std::string_view text) {
    cursor cur(text);
    const char* p = cur.begin();
    auto ends_token = [](char c) { return c == 0 || is_blank(c) || is_break(c) || c == ';'; };

    if (ends_token(cur.at(p))) {
        complete = p == cur.end();
        return;
    }
    while (!ends_token(cur.at(p)))
        ++p;
    media_type = lowered(cur.begin(), p);

    for (;;) {
        while (cur.at(p) == ';' || is_blank(cur.at(p)) || is_break(cur.at(p)))
            ++p;
        if (!is_name_start(cur.at(p))) break;
        const char* name = p;
        p = skip(cur, p, is_name_byte);
        set_name(name, p);
        p = skip(cur, p, is_blank);
        if (cur.at(p) != '=') break;
        p = skip(cur, p + 1, is_blank);
        char c = cur.at(p);
        if (c == 0 || is_break(c) || c == ';') continue; // no value: the name gets no entry
        if (c == '"' || c == '\'') {
            // The search stops at the next quote of its kind, and an opening quote seen later
            // lies at or after it, so quotes never make the scan read a byte twice over.
            const char* close = p + 1;
            while (cur.at(close) && cur.at(close) != c)
                ++close;
            if (cur.at(close) == c && ends_token(cur.at(close + 1))) {
                append_value(p + 1, close);
                p = close + 1;
                continue;
            }
        }
        const char* token = p;
        while (!ends_token(cur.at(p)))
            ++p;
        append_value(token, p);
    }
    complete = p == cur.end();
}

namespace {

// The calendar conversion checks every field and the weekday (0 when they do not survive it).
// Times before 1970 give 0 too: callers take 0 as "no date" and never expect a negative time.
std::time_t checked_utc_time(int sec, int min, int hour, int mday, int mon, int year, int wday) {
    std::time_t t = utc_mktime(sec, min, hour, mday, mon, year, wday);
    return t < 0 ? 0 : t;
}

struct date_reader {
    std::string_view s;
    std::size_t i = 0;

    bool lit(const char* text) {
        std::size_t n = std::strlen(text);
        if (s.substr(i, n) != text) return false;
        i += n;
        return true;
    }
    bool blank() {
        if (i >= s.size() || !is_blank(s[i])) return false;
        ++i;
        return true;
    }
    // A fixed-width number; the first byte may be a blank where lead_blank is set.
    bool number(std::size_t width, int& value, bool lead_blank = false) {
        if (i + width > s.size()) return false;
        value = 0;
        for (std::size_t k = 0; k < width; ++k) {
            char c = s[i + k];
            if (k == 0 && lead_blank && is_blank(c)) continue;
            if (!is_digit(c)) return false;
            value = value * 10 + (c - '0');
        }
        i += width;
        return true;
    }
    // One of the names; its index.
    template <std::size_t N> bool name(const char* const (&names)[N], int& index) {
        for (std::size_t k = 0; k < N; ++k)
            if (s.substr(i, std::strlen(names[k])) == names[k]) {
                i += std::strlen(names[k]);
                index = int(k);
                return true;
            }
        return false;
    }
    bool time(int& h, int& m, int& sec) {
        return number(2, h) && lit(":") && number(2, m) && lit(":") && number(2, sec);
    }
    bool done() const { return i == s.size(); }
};

const char* const short_days[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
const char* const long_days[] = {"sunday",   "monday", "tuesday", "wednesday",
                                 "thursday", "friday", "saturday"};
const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                              "jul", "aug", "sep", "oct", "nov", "dec"};

} // namespace

std::time_t parse_http_date(std::string_view text) {
    int wday, mday, mon, year, h, m, s;
    {
        // rfc 1123: "sun, 06 nov 1994 08:49:37 gmt"
        date_reader r{text};
        if (r.name(short_days, wday) && r.lit(",") && r.blank() && r.number(2, mday) && r.blank() &&
            r.name(months, mon) && r.blank() && r.number(4, year) && r.blank() && r.time(h, m, s) &&
            r.blank() && r.lit("gmt") && r.done())
            return checked_utc_time(s, m, h, mday, mon, year, wday);
    }
    {
        // rfc 850: "sunday, 06-nov-94 08:49:37 gmt"
        date_reader r{text};
        if (r.name(long_days, wday) && r.lit(",") && r.blank() && r.number(2, mday) && r.lit("-") &&
            r.name(months, mon) && r.lit("-") && r.number(2, year) && r.blank() &&
            r.time(h, m, s) && r.blank() && r.lit("gmt") && r.done())
            return checked_utc_time(s, m, h, mday, mon, year > 59 ? 1900 + year : 2000 + year,
                                    wday);
    }
    {
        // asctime: "sun nov  6 08:49:37 1994"
        date_reader r{text};
        if (r.name(short_days, wday) && r.blank() && r.name(months, mon) && r.blank() &&
            r.number(2, mday, true) && r.blank() && r.time(h, m, s) && r.blank() &&
            r.number(4, year) && r.done())
            return checked_utc_time(s, m, h, mday, mon, year, wday);
    }
    return 0;
}

} // namespace lumbrake
