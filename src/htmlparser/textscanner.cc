#include "htmlparser/textscanner.h"

#include <cstring>

#include "util/ascii.h"
#include "util/codecs.h"
#include "util/log.h"
#include "htmlparser/htmlentities.h"

namespace lumbrake {

namespace {

inline bool is_digit(unsigned char c) {
    return c >= '0' && c <= '9';
}
inline bool is_hex(unsigned char c) {
    return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
inline bool is_alnum(unsigned char c) {
    return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// UTF-8 form of c (1 to 6 bytes as the codecs write it); the length, 0 for values too large.
inline int encode_utf8(std::uint32_t c, char* out) {
    if (c < 0x80) {
        out[0] = char(c);
        return 1;
    }
    int len;
    unsigned char first;
    if (c < 0x800) {
        len = 2;
        first = 0xC0;
    } else if (c < 0x10000) {
        len = 3;
        first = 0xE0;
    } else if (c < 0x200000) {
        len = 4;
        first = 0xF0;
    } else if (c < 0x4000000) {
        len = 5;
        first = 0xF8;
    } else if (c <= 0x7FFFFFFF) {
        len = 6;
        first = 0xFC;
    } else {
        return 0;
    }
    for (int i = len - 1; i > 0; --i) {
        out[i] = char(0x80 | (c & 0x3F));
        c >>= 6;
    }
    out[0] = char(first | c);
    return len;
}

inline void send_code_point(std::uint32_t c, HTMLPlug& out) {
    char buf[8];
    int len = encode_utf8(c, buf);
    if (len > 0) out.text(buf, buf + len);
}

// At "&": the end of a reference and its code point, or null when the "&" is plain text.
const char* match_reference(const char* p, const char* end, std::uint32_t& value) {
    const char* q = p + 1;
    if (q >= end) return nullptr;
    if (*q == '#') {
        ++q;
        bool hex = false;
        if (q < end && (*q == 'x' || *q == 'X')) {
            hex = true;
            ++q;
        }
        const char* digits = q;
        while (q < end && (hex ? is_hex(static_cast<unsigned char>(*q))
                               : is_digit(static_cast<unsigned char>(*q))))
            ++q;
        // "&#;" and "&#x;" have no value: they stay text.
        if (q == digits || q >= end || *q != ';') return nullptr;
        value = html_numeric_reference_value(digits, q, hex);
        return q + 1;
    }
    const char* name = q;
    while (q < end && q - name <= std::ptrdiff_t(html_entity_max_name) &&
           is_alnum(static_cast<unsigned char>(*q)))
        ++q;
    if (q >= end || *q != ';') return nullptr;
    std::uint32_t c = html_entity_lookup(name, std::size_t(q - name));
    if (c == 0) return nullptr;
    value = c;
    return q + 1;
}

} // namespace

std::uint32_t html_numeric_reference_value(const char* digits, const char* end, bool hex) {
    const std::uint32_t limit = 0x110000;
    std::uint32_t v = 0;
    for (const char* p = digits; p < end; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        std::uint32_t d = is_digit(c) ? c - '0' : (c | 0x20) - 'a' + 10;
        v = v * (hex ? 16 : 10) + d;
        if (v >= limit) {
            v = limit; // saturated: no later digit can bring it back into range
            break;
        }
    }
    if (v >= limit || (v >= 0xD800 && v <= 0xDFFF)) return 0xFFFD;
    return v;
}

void html_text_scan(const char* begin, const char* end, HTMLPlug& out) {
    const std::string_view all(begin, std::size_t(end - begin));
    const bool utf8 = input_charset().kind() == charset::UTF8;
    const char* run = begin;
    const char* p = begin;
    while (p < end) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x80 && c != '&') {
            ++p;
            continue;
        }
        if (c == '&') {
            std::uint32_t value = 0;
            const char* after = match_reference(p, end, value);
            if (!after) {
                ++p; // a plain "&" stays in the run
                continue;
            }
            if (p > run) out.text(run, p);
            send_code_point(value, out);
            p = run = after;
            continue;
        }
        std::size_t index = std::size_t(p - begin);
        bool valid = false;
        std::uint32_t cp = next_code_point_at(all, index, valid);
        const char* next = begin + index;
        if (utf8 && valid) {
            // A valid UTF-8 sequence re-encodes to the same bytes: it stays in the run.
            p = next;
            continue;
        }
        if (p > run) out.text(run, p);
        if (valid) send_code_point(cp, out);
        p = run = next;
    }
    if (p > run) out.text(run, p);
}

std::string_view html_unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

void tagplug::tag(html_tag&, bool) {
    TN_ASSERT(0);
}

void tagplug::text(const char* from, const char* to) {
    TN_ASSERT(to > from);
    store_->append(from, std::size_t(to - from));
}

void tagplug::end() {
    TN_ASSERT(0);
}

namespace {

// The charset that a Content-Type meta value names, or false when the value is not valid.
bool meta_charset(std::string_view content, std::string& label) {
    std::string folded;
    bool valid = false;
    utf8_case_fold(html_unquote(content), folded, valid);
    if (!valid) return false;
    std::size_t at = folded.find("charset=");
    if (at == std::string::npos) {
        label = "iso-8859-1";
        return true;
    }
    std::size_t b = at + 8, e = b;
    while (e < folded.size() && std::strchr("abcdefghijklmnopqrstuvwxyz0123456789-_", folded[e]) &&
           folded[e] != 0)
        ++e;
    label = folded.substr(b, e - b);
    return true;
}

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '/';
}

std::string lower_ascii(std::string_view v) {
    std::string out(v);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// The label after "charset=" in a Content-Type value (quotes around it allowed).
std::string charset_of_content(std::string_view content) {
    const std::string folded = lower_ascii(content);
    std::size_t at = folded.find("charset");
    while (at != std::string::npos) {
        std::size_t p = at + 7;
        while (p < folded.size() && (folded[p] == ' ' || folded[p] == '\t'))
            ++p;
        if (p < folded.size() && folded[p] == '=') {
            ++p;
            while (p < folded.size() && (folded[p] == ' ' || folded[p] == '\t'))
                ++p;
            if (p < folded.size() && (folded[p] == '"' || folded[p] == '\'')) ++p;
            std::size_t e = p;
            while (e < folded.size() && std::strchr("abcdefghijklmnopqrstuvwxyz0123456789-_.:",
                                                    folded[e]) && folded[e] != 0)
                ++e;
            return folded.substr(p, e - p);
        }
        at = folded.find("charset", at + 7);
    }
    return {};
}

} // namespace

std::string prescan_charset(std::string_view page) {
    const std::string_view head = page.substr(0, 1024);
    std::size_t p = 0;
    while (p < head.size()) {
        if (head.compare(p, 4, "<!--") == 0) {
            std::size_t e = head.find("-->", p + 4);
            if (e == std::string_view::npos) return {};
            p = e + 3;
            continue;
        }
        if (head[p] != '<' || p + 5 >= head.size() || lower_ascii(head.substr(p + 1, 4)) != "meta" ||
            !is_space(head[p + 5])) {
            ++p;
            continue;
        }
        // The attributes of one meta tag.
        p += 5;
        std::string charset, equiv, content;
        while (p < head.size() && head[p] != '>') {
            while (p < head.size() && is_space(head[p]))
                ++p;
            std::size_t n = p;
            while (p < head.size() && !is_space(head[p]) && head[p] != '=' && head[p] != '>')
                ++p;
            const std::string name = lower_ascii(head.substr(n, p - n));
            std::string value;
            while (p < head.size() && (head[p] == ' ' || head[p] == '\t' || head[p] == '\n' ||
                                       head[p] == '\r'))
                ++p;
            if (p < head.size() && head[p] == '=') {
                ++p;
                while (p < head.size() && (head[p] == ' ' || head[p] == '\t' || head[p] == '\n' ||
                                           head[p] == '\r'))
                    ++p;
                if (p < head.size() && (head[p] == '"' || head[p] == '\'')) {
                    const char q = head[p++];
                    std::size_t e = head.find(q, p);
                    if (e == std::string_view::npos) return {}; // cut off by the 1024 bytes
                    value = head.substr(p, e - p);
                    p = e + 1;
                } else {
                    std::size_t v = p;
                    while (p < head.size() && !is_space(head[p]) && head[p] != '>')
                        ++p;
                    value = head.substr(v, p - v);
                }
            }
            if (name == "charset" && charset.empty()) charset = lower_ascii(value);
            else if (name == "http-equiv") equiv = lower_ascii(value);
            else if (name == "content") content = value;
            if (name.empty() && p < head.size() && head[p] != '>') ++p; // a stray character
        }
        if (p >= head.size()) return {}; // a tag cut off by the 1024 bytes
        // Surrounding blanks are no part of a label.
        while (!charset.empty() && (charset.back() == ' ' || charset.back() == '\t'))
            charset.pop_back();
        while (!charset.empty() && (charset.front() == ' ' || charset.front() == '\t'))
            charset.erase(0, 1);
        if (!charset.empty()) return charset;
        if (equiv == "content-type") {
            std::string label = charset_of_content(content);
            if (!label.empty()) return label;
        }
    }
    return {};
}

void HTMLTextScanner::tag(html_tag& record, bool open) {
    if (record.tag_id == TAG_META) {
        const html_attr* equiv = record.find(ATTR_HTTP_EQUIV);
        const html_attr* content = record.find(ATTR_CONTENT);
        if (attr_has_value(equiv) && attr_has_value(content) &&
            ascii_iequals(html_unquote(attr_value(*equiv)), "content-type")) {
            std::string label;
            if (!charset_fixed_ && meta_charset(attr_value(*content), label))
                set_input_charset(label);
        }
    }
    // Work on a copy: the record may be a stored one that the cleaner sends again later.
    copy_.copy_from(record);
    store_.clear();
    replaced_.clear();
    for (int i = 0; i < copy_.attr_count; ++i) {
        const html_attr& a = copy_.attrs[i];
        if (!a.value_begin || a.value_end <= a.value_begin) continue;
        std::size_t start = store_.size();
        html_text_scan(a.value_begin, a.value_end, collector_);
        if (std::string_view(store_.data() + start, store_.size() - start) == attr_value(a))
            store_.resize(start);
        else
            replaced_.push_back({i, start, store_.size() - start});
    }
    // The store no longer grows: point the replaced values into it.
    for (const auto& r : replaced_) {
        copy_.attrs[r.index].value_begin = store_.data() + r.start;
        copy_.attrs[r.index].value_end = store_.data() + r.start + r.length;
    }
    next_->tag(copy_, open);
}

void HTMLTextScanner::text(const char* begin, const char* end) {
    html_text_scan(begin, end, *next_);
}

void HTMLTextScanner::end() {
    next_->end();
}

} // namespace lumbrake
