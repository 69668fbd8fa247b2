#include "parsers/mailparser.h"

#include <deque>

#include "util/base64.h"
#include "util/codecs.h"
#include "fff/FFFbuilder.h"
#include "fetchers/fetcher-base.h"
#include "parsers/parser.h"

namespace lumbrake {

namespace {

bool is_alpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool is_blank(char c) {
    return c == ' ' || c == '\t';
}
// Field names run over the printable characters other than ":".
bool is_name_byte(char c) {
    return c > ' ' && c < 127 && c != ':';
}
int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::size_t line_end(std::string_view text, std::size_t from) {
    while (from < text.size() && text[from] != '\r' && text[from] != '\n')
        ++from;
    return from;
}
// Past one line break: CR LF, CR or LF.
std::size_t after_break(std::string_view text, std::size_t at) {
    if (at < text.size() && text[at] == '\r') {
        ++at;
        if (at < text.size() && text[at] == '\n') ++at;
    } else if (at < text.size() && text[at] == '\n') {
        ++at;
    }
    return at;
}

std::string trimmed(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && is_blank(s[b]))
        ++b;
    while (e > b && is_blank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

// The nesting depth of the message that a nested dispatch is reading, so that a mail inside a
// mail part (text/x-mail) goes on counting where its container left off.
thread_local int current_nesting = 0;

struct nesting_scope {
    explicit nesting_scope(int depth) : saved(current_nesting) { current_nesting = depth; }
    ~nesting_scope() { current_nesting = saved; }
    nesting_scope(const nesting_scope&) = delete;
    nesting_scope& operator=(const nesting_scope&) = delete;
    int saved;
};

// One message text still to read: a piece of the document (or of a decoded body that outlives
// the work list) and how deep it is nested.
struct mail_item {
    std::string_view text;
    int depth;
};

} // namespace

bool read_mail_header(std::string_view text, header_fields& header, std::string_view& body) {
    body = {};
    std::size_t p = 0;
    // An mbox separator ("From ...") and a quoted one (">From ...") are no header lines.
    if ((!text.empty() && text[0] == '>') || text.substr(0, 5) == "From ")
        p = after_break(text, line_end(text, 0));
    while (p < text.size()) {
        std::size_t e = line_end(text, p);
        char c = text[p];
        if (e == p) {
            body = text.substr(after_break(text, e));
            return true;
        }
        const char* line = text.data();
        if (is_blank(c)) {
            std::size_t v = p;
            while (v < e && is_blank(text[v]))
                ++v;
            static const char blank = ' ';
            header.append_value(&blank, &blank + 1);
            header.append_value(line + v, line + e);
        } else if (is_alpha(c) || c == '_') {
            std::size_t q = p + 1;
            while (q < e && is_name_byte(text[q]))
                ++q;
            if (q >= e || text[q] != ':') return false;
            std::size_t v = q + 1;
            while (v < e && is_blank(text[v]))
                ++v;
            header.set_name(line + p, line + q);
            header.append_value(line + v, line + e);
        } else {
            return false;
        }
        p = after_break(text, e);
    }
    return false;
}

std::vector<std::string_view> split_multipart(std::string_view body, std::string_view boundary) {
    std::vector<std::string_view> parts;
    std::string delimiter = "--";
    delimiter.append(boundary);
    bool in_part = false;
    std::size_t part_start = 0;
    std::size_t p = 0;
    while (p < body.size()) {
        std::size_t e = line_end(body, p);
        std::size_t next = after_break(body, e);
        std::string_view line = body.substr(p, e - p);
        if (line.substr(0, delimiter.size()) == delimiter) {
            if (in_part) parts.push_back(body.substr(part_start, p - part_start));
            if (line.substr(delimiter.size(), 2) == "--") return parts; // the epilogue is dropped
            in_part = true;
            part_start = next;
        }
        p = next;
    }
    // A last part without its closing line runs to the end of the body.
    if (in_part) parts.push_back(body.substr(part_start));
    return parts;
}

std::string decode_quoted_printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c != '=') {
            out.push_back(c);
            ++i;
            continue;
        }
        if (i + 2 < text.size() && hex_value(text[i + 1]) >= 0 && hex_value(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2])));
            i += 3;
        } else if (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n')) {
            i = after_break(text, i + 1); // a soft line break
        } else {
            i += i + 1 < text.size() ? 2 : 1;
        }
    }
    return out;
}

std::string decode_base64_body(std::string_view text) {
    return base64_decode(text);
}

std::string unquote_parameter(std::string value) {
    for (char q : {'"', '\''})
        if (value.size() >= 2 && value.front() == q && value.back() == q)
            value = value.substr(1, value.size() - 2);
    return value;
}

namespace {

// Appends the text decoded with the charset as UTF-8 (what does not decode is skipped).
void append_decoded(const charset& cs, std::string_view bytes, std::string& out) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        bool valid = false;
        const code_point c = cs.next_code_point_at(bytes, i, valid);
        if (valid) utf8_append(c, out);
    }
}

// One encoded word at `at` ("=?charset?enc?text?="): its decoded bytes and charset, and the
// position after it; false when there is none there.
bool encoded_word(std::string_view v, std::size_t at, std::string& label, std::string& bytes,
                  std::size_t& end) {
    if (v.compare(at, 2, "=?") != 0) return false;
    const std::size_t q1 = v.find('?', at + 2);
    if (q1 == std::string_view::npos || q1 + 2 >= v.size() || v[q1 + 2] != '?') return false;
    const char enc = v[q1 + 1];
    const std::size_t close = v.find("?=", q1 + 3);
    if (close == std::string_view::npos) return false;
    const std::string_view text = v.substr(q1 + 3, close - q1 - 3);
    if (text.find_first_of(" \t") != std::string_view::npos) return false;
    label.assign(v.substr(at + 2, q1 - at - 2));
    // A language suffix ("utf-8*en") is no part of the charset.
    if (std::size_t star = label.find('*'); star != std::string::npos) label.resize(star);
    if (enc == 'B' || enc == 'b') {
        bytes = decode_base64_body(text);
    } else if (enc == 'Q' || enc == 'q') {
        bytes.clear();
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '_') {
                bytes.push_back(' ');
            } else if (text[i] == '=' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
                       hex_value(text[i + 2]) >= 0) {
                bytes.push_back(static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2])));
                i += 2;
            } else {
                bytes.push_back(text[i]);
            }
        }
    } else {
        return false;
    }
    end = close + 2;
    return true;
}

} // namespace

std::string decode_header_value(std::string_view value) {
    static const charset latin1("iso-8859-1");
    std::string out;
    std::size_t p = 0, plain = 0;
    bool after_word = false;
    while (p < value.size()) {
        std::string label, bytes;
        std::size_t end = 0;
        charset cs;
        if (value[p] == '=' && encoded_word(value, p, label, bytes, end) && cs.set(label)) {
            const std::string_view between = value.substr(plain, p - plain);
            // Blanks between two encoded words are dropped; other text is kept.
            if (!after_word || between.find_first_not_of(" \t") != std::string_view::npos)
                append_decoded(latin1, between, out);
            append_decoded(cs, bytes, out);
            p = plain = end;
            after_word = true;
            continue;
        }
        ++p;
    }
    append_decoded(latin1, value.substr(plain), out);
    return out;
}

bool MAILParser::detect(int mode, const std::string&, const std::string& name, std::string& mime,
                        std::string& charset) {
    if (mode != DETECT_NAME) return false;
    if (!has_suffix(name, {".eml", ".EML", ".mime", ".MIME"})) return false;
    mime = "message/rfc822";
    charset.clear();
    return true;
}

void MAILParser::add_header_text(const std::string& text, FFFbuilder& builder, int slice) {
    // The text is UTF-8: encoded words decoded, the rest read as ISO-8859-1.
    set_input_charset("utf-8");
    builder.push_dict(slice);
    std::size_t i = 0;
    while (i < text.size()) {
        bool valid = false;
        code_point c = next_code_point_at(text, i, valid);
        if (valid) builder.add_char(c);
    }
    builder.pop_dict();
    builder.end_sentence();
}

void MAILParser::parse(FFFbuilder& builder, const text_exclusion_matcher* matcher,
                       std::int32_t base_score, const std::string&, const std::string& data,
                       const std::string&, const std::string&, parse_result& result) {
    result.status = PARSE_NOT_PARSED;
    result.document.reset();

    // A mail in a mail part comes back through the dispatch; past the bound it is not read.
    if (current_nesting > max_nesting) {
        result.status = PARSE_OK;
        result.mime = "message/rfc822";
        return;
    }

    // Multipart bodies and attached messages are pieces of the document itself, so the work
    // list holds views and nesting costs no copies.
    std::deque<mail_item> work;
    work.push_back({data, current_nesting});
    while (!work.empty()) {
        const mail_item item = work.front();
        work.pop_front();

        header_fields header;
        std::string_view body;
        const bool has_body = read_mail_header(item.text, header, body);

        std::string value;
        if (header.get("from", value))
            add_header_text("From: " + decode_header_value(value), builder,
                            FFF::centralHeaderDict);
        if (header.get("to", value))
            add_header_text("To: " + decode_header_value(value), builder, FFF::centralHeaderDict);
        if (header.get("subject", value))
            add_header_text(decode_header_value(value), builder, FFF::titleDict);

        std::string type_text;
        header.get("content-type", type_text);
        const content_type type(type_text);
        const std::string media = type.media_type.empty() ? "text/plain" : type.media_type;
        const bool may_nest = item.depth < max_nesting;

        if (media.compare(0, 10, "multipart/") == 0) {
            // Every multipart kind is split (related and signed bodies hold the text too).
            std::string boundary;
            if (has_body && may_nest && type.get("boundary", boundary))
                for (std::string_view part : split_multipart(body, unquote_parameter(boundary)))
                    work.push_back({part, item.depth + 1});
        } else if (media == "message/rfc822") {
            if (has_body && may_nest) work.push_back({body, item.depth + 1});
        } else if (fetcher_base::is_processable(media) && !body.empty()) {
            std::string charset;
            charset = type.get("charset", charset) ? unquote_parameter(charset) : "iso-8859-1";
            std::string encoding;
            header.get_lower("content-transfer-encoding", encoding);
            // Transfer-encoding names are case-insensitive.
            encoding = trimmed(encoding);
            std::string decoded;
            if (encoding == "base64")
                decoded = decode_base64_body(body);
            else if (encoding == "quoted-printable")
                decoded = decode_quoted_printable(body);
            else
                decoded.assign(body);

            nesting_scope scope(item.depth + 1);
            parser nested(cfg());
            parse_result ignored;
            nested.parse(builder, matcher, base_score, "", decoded, media, charset, ignored);
        }
        builder.end_paragraph();
    }

    result.status = PARSE_OK;
    result.mime = "message/rfc822";
}

} // namespace lumbrake
