#include "htmlparser/htmlscanner.h"

#include <cstring>

namespace lumbrake {

namespace {

// Space, tab, line feed, carriage return, vertical tab, form feed, backspace.
inline bool is_blank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '\b';
}
inline bool is_name_char(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}
// Bytes that end an attribute name inside a tag.
inline bool ends_attr_name(unsigned char c) {
    return is_blank(c) || c == '=' || c == '>' || c == '"' || c == '\'' || c == '/';
}
inline unsigned char lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

} // namespace

HTMLScanner::HTMLScanner(const char* text, std::size_t length, HTMLPlug* first)
    : s_(text), n_(length), first_(first) {}

void HTMLScanner::send_text(std::size_t from, std::size_t to) {
    if (to > from) first_->text(s_ + from, s_ + to);
}

void HTMLScanner::send_tag() {
    int id = tag_.tag_id;
    bool open = tag_open_;
    first_->tag(tag_, open);
    if (open && id == TAG_SCRIPT) mode_ = SCRIPT;
    if (open && id == TAG_STYLE) mode_ = STYLE;
}

void HTMLScanner::add_attr(int id, const char* vb, const char* ve) {
    if (id == 0 || tag_.attr_count >= HTML_MAX_ATTRS) return;
    html_attr& a = tag_.attrs[tag_.attr_count++];
    a.attr_id = id;
    a.value_begin = vb;
    a.value_end = ve;
}

void HTMLScanner::run() {
    std::size_t text_start = 0;
    pos_ = 0;
    while (pos_ < n_) {
        if (mode_ != NORMAL) {
            std::size_t e = find_raw_end(pos_, mode_ == SCRIPT);
            send_text(pos_, e);
            pos_ = text_start = e;
            mode_ = NORMAL; // the end tag at e is scanned as usual
            continue;
        }
        const void* lt = std::memchr(s_ + pos_, '<', n_ - pos_);
        if (!lt) break;
        std::size_t p = std::size_t(static_cast<const char*>(lt) - s_);
        if (p + 1 < n_ && is_blank(static_cast<unsigned char>(s_[p + 1]))) {
            pos_ = p + 1; // "a < b" stays text
            continue;
        }
        send_text(text_start, p);
        pos_ = text_start = scan_markup(p);
    }
    send_text(text_start, n_);
    first_->end();
}

std::size_t HTMLScanner::scan_markup(std::size_t p) {
    std::size_t q = p + 1;
    if (q >= n_) return n_;
    if (s_[q] == '!') {
        if (q + 2 < n_ && s_[q + 1] == '-' && s_[q + 2] == '-') {
            // Comment: the search for "-->" starts after "<!--", so "<!---->" is empty.
            std::size_t from = q + 3;
            while (from + 3 <= n_) {
                const void* d = std::memchr(s_ + from, '-', n_ - from);
                if (!d) return n_;
                std::size_t k = std::size_t(static_cast<const char*>(d) - s_);
                if (k + 3 <= n_ && s_[k + 1] == '-' && s_[k + 2] == '>') return k + 3;
                from = k + 1;
            }
            return n_;
        }
        const void* gt = std::memchr(s_ + q, '>', n_ - q);
        return gt ? std::size_t(static_cast<const char*>(gt) - s_) + 1 : n_;
    }
    bool closing = false;
    if (s_[q] == '/') {
        closing = true;
        ++q;
    }
    std::size_t r = q;
    while (r < n_ && is_name_char(static_cast<unsigned char>(s_[r])))
        ++r;
    if (r >= n_) return n_; // incomplete tag name at the end: dropped
    unsigned char after = static_cast<unsigned char>(s_[r]);
    if (r > q && (is_blank(after) || after == '>')) {
        if (int id = html_tag_lookup(s_ + q, r - q)) {
            tag_.tag_id = id;
            tag_.attr_count = 0;
            tag_open_ = !closing;
            return scan_tag_body(r);
        }
    }
    // Unknown markup: dropped up to the next ">"; a "<" inside starts new markup.
    for (std::size_t k = r; k < n_; ++k) {
        if (s_[k] == '>') return k + 1;
        if (s_[k] == '<') return k;
    }
    return n_;
}

std::size_t HTMLScanner::scan_tag_body(std::size_t i) {
    for (;;) {
        while (i < n_ && is_blank(static_cast<unsigned char>(s_[i])))
            ++i;
        if (i >= n_) break;
        unsigned char c = static_cast<unsigned char>(s_[i]);
        if (c == '>') {
            send_tag();
            return i + 1;
        }
        int id = 0;
        if (!ends_attr_name(c)) {
            std::size_t j = i;
            while (j < n_ && !ends_attr_name(static_cast<unsigned char>(s_[j])))
                ++j;
            id = html_attr_lookup(s_ + i, j - i);
            i = j;
            while (i < n_ && is_blank(static_cast<unsigned char>(s_[i])))
                ++i;
            if (i >= n_ || s_[i] != '=') {
                add_attr(id, nullptr, nullptr); // a name alone
                continue;
            }
        } else if (c != '=') {
            ++i; // a stray quote or "/" is skipped
            continue;
        }
        // At "=" (after a name, or alone: then the value is skipped with no attribute).
        ++i;
        while (i < n_ && is_blank(static_cast<unsigned char>(s_[i])))
            ++i;
        if (i >= n_ || s_[i] == '>') {
            add_attr(id, nullptr, nullptr);
            continue;
        }
        unsigned char v = static_cast<unsigned char>(s_[i]);
        if (v == '"' || v == '\'') {
            const void* close = std::memchr(s_ + i + 1, v, n_ - i - 1);
            if (!close) break; // an open quoted value is lost; the tag ends with the input
            std::size_t e = std::size_t(static_cast<const char*>(close) - s_) + 1;
            add_attr(id, s_ + i, s_ + e);
            i = e;
        } else {
            std::size_t e = i;
            while (e < n_ && s_[e] != '>' && !is_blank(static_cast<unsigned char>(s_[e])))
                ++e;
            add_attr(id, s_ + i, s_ + e);
            i = e;
        }
    }
    // End of input inside a tag whose name is complete: sent with what it has.
    send_tag();
    return n_;
}

std::size_t HTMLScanner::find_raw_end(std::size_t p, bool script) const {
    const char* name = script ? "script" : "style";
    const std::size_t len = script ? 6 : 5;
    std::size_t i = p;
    auto skip_string = [&](unsigned char quote) {
        std::size_t j = i + 1;
        while (j < n_) {
            if (s_[j] == '\\') {
                j += 2;
                continue;
            }
            if (static_cast<unsigned char>(s_[j]) == quote) break;
            ++j;
        }
        i = j < n_ ? j + 1 : n_;
    };
    while (i < n_) {
        unsigned char c = static_cast<unsigned char>(s_[i]);
        if (c == '"' || c == '\'') {
            skip_string(c);
        } else if (c == '/' && i + 1 < n_ && s_[i + 1] == '/' && script) {
            const void* nl = std::memchr(s_ + i, '\n', n_ - i);
            i = nl ? std::size_t(static_cast<const char*>(nl) - s_) : n_;
        } else if (c == '/' && i + 1 < n_ && s_[i + 1] == '*' && !script) {
            std::size_t j = i + 2;
            while (j + 1 < n_ && !(s_[j] == '*' && s_[j + 1] == '/'))
                ++j;
            i = j + 1 < n_ ? j + 2 : n_;
        } else if (c == '<') {
            if (script && i + 3 < n_ && s_[i + 1] == '!' && s_[i + 2] == '-' && s_[i + 3] == '-') {
                std::size_t j = i + 4;
                while (j + 2 < n_ && !(s_[j] == '-' && s_[j + 1] == '-' && s_[j + 2] == '>'))
                    ++j;
                i = j + 2 < n_ ? j + 3 : n_;
                continue;
            }
            if (i + 2 + len < n_ && s_[i + 1] == '/') {
                bool match = true;
                for (std::size_t k = 0; k < len && match; ++k)
                    match = lower(static_cast<unsigned char>(s_[i + 2 + k])) == name[k];
                unsigned char after = static_cast<unsigned char>(s_[i + 2 + len]);
                if (match && (is_blank(after) || after == '>')) return i;
            }
            ++i;
        } else {
            ++i;
        }
    }
    return n_;
}

} // namespace lumbrake
