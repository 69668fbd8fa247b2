#include "parsers/rtfparser.h"

#include <array>
#include <map>
#include <string_view>
#include <unordered_map>

#include "util/codecs.h"
#include "fff/FFFbuilder.h"

namespace lumbrake {

namespace {

// What a known control word does.
enum class action {
    charset_ansi,
    charset_ansicpg,
    charset_mac,
    charset_pc,
    charset_pca,
    font_table,
    font,
    destination, // opens an information-group field in the word's slice
    style,       // a character-formatting bit
    paragraph,
    line,
    emit,
    unicode,
    unicode_skip,
    binary,
    skip_group,
};

struct word_info {
    action act;
    std::uint32_t value; // slice, style bit or code point
};

const std::unordered_map<std::string_view, word_info>& control_words() {
    static const std::unordered_map<std::string_view, word_info> words = {
        {"ansi", {action::charset_ansi, 0}},
        {"ansicpg", {action::charset_ansicpg, 0}},
        {"mac", {action::charset_mac, 0}},
        {"pc", {action::charset_pc, 0}},
        {"pca", {action::charset_pca, 0}},
        {"fonttbl", {action::font_table, 0}},
        {"f", {action::font, 0}},
        {"author", {action::destination, FFF::authorDict}},
        {"keywords", {action::destination, FFF::keywordDict}},
        {"category", {action::destination, FFF::keywordDict}},
        {"subject", {action::destination, FFF::abstractDict}},
        {"comment", {action::destination, FFF::abstractDict}},
        {"doccomm", {action::destination, FFF::abstractDict}},
        {"title", {action::destination, FFF::titleDict}},
        {"b", {action::style, 1u << 0}},
        {"i", {action::style, 1u << 1}},
        {"ul", {action::style, 1u << 2}},
        {"outl", {action::style, 1u << 3}},
        {"shad", {action::style, 1u << 4}},
        {"strike", {action::style, 1u << 5}},
        {"striked", {action::style, 1u << 6}},
        {"par", {action::paragraph, 0}},
        {"page", {action::paragraph, 0}},
        {"sect", {action::paragraph, 0}},
        {"cell", {action::paragraph, 0}},
        {"row", {action::paragraph, 0}},
        {"trowd", {action::paragraph, 0}},
        {"nestcell", {action::paragraph, 0}},
        {"nestrow", {action::paragraph, 0}},
        {"column", {action::paragraph, 0}},
        {"line", {action::line, 0}},
        {"tab", {action::emit, 0x09}},
        {"bullet", {action::emit, 0x2022}},
        {"endash", {action::emit, 0x2013}},
        {"emdash", {action::emit, 0x2014}},
        {"enspace", {action::emit, 0x2002}},
        {"emspace", {action::emit, 0x2003}},
        {"qmspace", {action::emit, 0x2005}},
        {"lquote", {action::emit, 0x2018}},
        {"rquote", {action::emit, 0x2019}},
        {"ldblquote", {action::emit, 0x201C}},
        {"rdblquote", {action::emit, 0x201D}},
        {"u", {action::unicode, 0}},
        {"uc", {action::unicode_skip, 0}},
        {"bin", {action::binary, 0}},
        {"colortbl", {action::skip_group, 0}},
        {"stylesheet", {action::skip_group, 0}},
        {"pict", {action::skip_group, 0}},
        {"operator", {action::skip_group, 0}},
        {"company", {action::skip_group, 0}},
        {"manager", {action::skip_group, 0}},
        {"hlinkbase", {action::skip_group, 0}},
        {"version", {action::skip_group, 0}},
    };
    return words;
}

bool is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\b' || c == '\v' || c == '\f';
}
bool is_break(char c) {
    return c == '\n' || c == '\r';
}
int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Font charsets that the font table can name; 0 is "the document's charset".
enum font_charset : std::uint8_t { FONT_DOCUMENT = 0, FONT_MACROMAN = 1, FONT_CP437 = 2 };
const char* font_charset_label(std::uint8_t cs) {
    return cs == FONT_MACROMAN ? "macroman" : "cp437";
}

// A control word as read: its letters and its optional signed number.
struct control_word {
    std::string_view name;
    bool has_number = false;
    std::int64_t number = 0;
};

class rtf_reader {
public:
    rtf_reader(FFFbuilder& builder, std::string_view text)
        : b_(builder), p_(text.data()), end_(text.data() + text.size()) {}

    // False when the groups nest deeper than the stack.
    bool run();

private:
    struct group {
        std::int64_t unicode_skip = 1;
        std::uint32_t style = 0;
        std::uint8_t font_cs = FONT_DOCUMENT;
    };

    void control();
    void do_word(const control_word& w, const word_info& info);
    control_word read_word();
    void skip_group();
    void skip_fallback(std::int64_t count);
    void skip_bytes(std::int64_t n);
    void read_font_table();
    template <class F> void walk_group(F&& on_word);

    void emit(code_point c) {
        flush_pending();
        put(c);
    }
    // Decodes the pending \'hh bytes through the current charset.
    void flush_pending();
    // Pending bytes and a held high surrogate go out before any structural change.
    void flush() {
        flush_pending();
        if (high_surrogate_) {
            high_surrogate_ = 0;
            b_.add_char(REPLACEMENT_CHARACTER);
        }
    }
    // Feeds a code point, joining UTF-16 surrogate pairs (as \u writes characters above
    // U+FFFF); a lone surrogate cannot be stored and becomes U+FFFD.
    void put(code_point c);
    void set_slice(int slice) {
        flush();
        b_.pop_dict();
        b_.push_dict(slice);
    }
    void body_slice() {
        set_slice(stack_[depth_].style ? FFF::centralEmphDict : FFF::centralNormDict);
    }
    void select_charset();

    FFFbuilder& b_;
    const char* p_;
    const char* end_;

    // The byte k places ahead, 0 past the end: the text ends at its first NUL byte, which
    // only the raw data of \binN may hold.
    char at(std::ptrdiff_t k = 0) const { return k < end_ - p_ ? p_[k] : 0; }
    bool more() const { return at() != 0; }
    std::array<group, RTFParser::max_depth> stack_{};
    int depth_ = 0;
    std::map<std::int64_t, std::uint8_t> fonts_;
    std::string pending_;
    code_point high_surrogate_ = 0;
    bool destination_ = false;
    std::string document_cs_ = "cp1252";
    std::string selected_cs_;
};

void rtf_reader::flush_pending() {
    if (pending_.empty()) return;
    std::string_view bytes = pending_;
    std::size_t i = 0;
    while (i < bytes.size()) {
        bool valid = false;
        code_point c = next_code_point_at(bytes, i, valid);
        if (valid) put(c);
    }
    pending_.clear();
}

void rtf_reader::put(code_point c) {
    if (high_surrogate_) {
        code_point high = high_surrogate_;
        high_surrogate_ = 0;
        if (c >= 0xDC00 && c <= 0xDFFF) {
            b_.add_char(0x10000 + ((high - 0xD800) << 10) + (c - 0xDC00));
            return;
        }
        b_.add_char(REPLACEMENT_CHARACTER);
    }
    if (c >= 0xD800 && c <= 0xDBFF) {
        high_surrogate_ = c;
        return;
    }
    if (c >= 0xDC00 && c <= 0xDFFF) c = REPLACEMENT_CHARACTER;
    b_.add_char(c);
}

// The charset in force is the group's font charset, else the document's.
void rtf_reader::select_charset() {
    std::uint8_t fc = stack_[depth_].font_cs;
    std::string want = fc == FONT_DOCUMENT ? document_cs_ : font_charset_label(fc);
    if (want == selected_cs_) return;
    flush();
    set_input_charset(want);
    selected_cs_ = std::move(want);
}

bool rtf_reader::run() {
    select_charset();
    while (more()) {
        char c = at();
        if (is_blank(c)) {
            while (is_blank(at()))
                ++p_;
            emit(0x20);
        } else if (is_break(c)) {
            // Writers wrap lines anywhere, even between the escapes of one character.
            while (is_break(at()))
                ++p_;
        } else if (c == '{') {
            ++p_;
            flush();
            if (depth_ + 1 >= RTFParser::max_depth) return false;
            stack_[depth_ + 1] = stack_[depth_];
            ++depth_;
        } else if (c == '}') {
            ++p_;
            flush();
            if (depth_ == 0) continue;
            --depth_;
            body_slice();
            if (destination_) {
                b_.end_paragraph();
                destination_ = false;
            }
            select_charset();
        } else if (c == '\\') {
            control();
        } else {
            // Plain bytes are taken as their own code points.
            emit(static_cast<unsigned char>(c));
            ++p_;
        }
    }
    flush();
    return true;
}

control_word rtf_reader::read_word() {
    control_word w;
    const char* start = p_;
    while (is_letter(at()))
        ++p_;
    w.name = std::string_view(start, static_cast<std::size_t>(p_ - start));
    bool negative = false;
    if (at() == '-' && is_digit(at(1))) {
        negative = true;
        ++p_;
    }
    if (is_digit(at())) {
        w.has_number = true;
        // Absurdly long numbers are read to their end but saturate.
        while (is_digit(at())) {
            if (w.number < 100000000000LL) w.number = w.number * 10 + (at() - '0');
            ++p_;
        }
        if (negative) w.number = -w.number;
    }
    return w;
}

void rtf_reader::control() {
    char n = at(1);
    if (n == 0) {
        p_ = end_;
        return;
    }
    if (is_letter(n)) {
        ++p_;
        control_word w = read_word();
        auto it = control_words().find(w.name);
        if (it != control_words().end()) {
            if (at() == ' ') ++p_;
            if (it->second.act == action::binary) {
                skip_bytes(w.has_number ? w.number : 0);
                skip_group();
                return;
            }
            do_word(w, it->second);
            return;
        }
        // Unknown words are ignored with everything that looks like part of them.
        while (is_letter(at()) || is_digit(at()) || at() == '-' || at() == '_')
            ++p_;
        if (is_blank(at())) ++p_;
        return;
    }
    p_ += 2;
    switch (n) {
    case '\n':
    case '\r':
        flush();
        b_.end_paragraph();
        break;
    case '\'': {
        int hi = hex_value(at());
        int lo = hex_value(at(1));
        if (hi >= 0 && lo >= 0) {
            pending_.push_back(static_cast<char>(hi * 16 + lo));
            p_ += 2;
        }
        break;
    }
    case '\\':
    case '{':
    case '}':
        emit(static_cast<unsigned char>(n));
        break;
    case '~':
        emit(0xA0);
        break;
    case '_':
        emit(0x2011);
        break;
    case '*':
        flush();
        skip_group();
        break;
    default:
        // "\-" (optional hyphen) and other control symbols carry no text.
        break;
    }
}

void rtf_reader::do_word(const control_word& w, const word_info& info) {
    group& g = stack_[depth_];
    switch (info.act) {
    case action::charset_ansi:
        document_cs_ = "cp1252";
        select_charset();
        break;
    case action::charset_ansicpg:
        if (w.has_number) {
            document_cs_ = "cp" + std::to_string(w.number);
            select_charset();
        }
        break;
    case action::charset_mac:
        document_cs_ = "macroman";
        select_charset();
        break;
    case action::charset_pc:
        document_cs_ = "cp437";
        select_charset();
        break;
    case action::charset_pca:
        document_cs_ = "cp850";
        select_charset();
        break;
    case action::font_table:
        flush();
        read_font_table();
        break;
    case action::font:
        if (w.has_number) {
            auto it = fonts_.find(w.number);
            g.font_cs = it == fonts_.end() ? std::uint8_t{FONT_DOCUMENT} : it->second;
            select_charset();
        }
        break;
    case action::destination:
        set_slice(static_cast<int>(info.value));
        destination_ = true;
        break;
    case action::style: {
        std::uint32_t before = g.style;
        if (w.has_number && w.number == 0)
            g.style &= ~info.value;
        else
            g.style |= info.value;
        if ((before == 0) != (g.style == 0)) body_slice();
        break;
    }
    case action::paragraph:
        flush();
        b_.end_paragraph();
        break;
    case action::line:
        flush();
        b_.end_sentence();
        break;
    case action::emit:
        emit(info.value);
        break;
    case action::unicode: {
        // Writers give characters above U+7FFF as negative 16-bit numbers.
        std::int64_t n = w.number;
        if (n < 0) n = n < -32768 ? -1 : n + 65536;
        emit(n < 0 || n > 0x10FFFF ? REPLACEMENT_CHARACTER : static_cast<code_point>(n));
        skip_fallback(g.unicode_skip);
        break;
    }
    case action::unicode_skip:
        g.unicode_skip = w.has_number && w.number > 0 ? w.number : 0;
        break;
    case action::binary:
        break; // handled by the caller
    case action::skip_group:
        flush();
        skip_group();
        break;
    }
}

void rtf_reader::skip_bytes(std::int64_t n) {
    if (n <= 0) return;
    std::int64_t left = end_ - p_;
    p_ += n < left ? n : left;
}

// Walks to the brace that closes the current group (which is left for the main loop), over
// nested groups, escapes and \bin data, and hands every other control word to `on_word`.
template <class F> void rtf_reader::walk_group(F&& on_word) {
    std::int64_t level = 0;
    while (more()) {
        char c = at();
        if (c == '{') {
            ++level;
            ++p_;
        } else if (c == '}') {
            if (level == 0) return;
            --level;
            ++p_;
        } else if (c == '\\') {
            if (is_letter(at(1))) {
                ++p_;
                control_word w = read_word();
                if (at() == ' ') ++p_;
                if (w.name == "bin")
                    skip_bytes(w.has_number ? w.number : 0);
                else
                    on_word(w);
            } else {
                p_ += at(1) ? 2 : 1;
            }
        } else {
            ++p_;
        }
    }
}

void rtf_reader::skip_group() {
    walk_group([](const control_word&) {});
}

// Skips the stand-in characters after \uN; an escape or a control word counts as one, and a
// group boundary ends the skip.
void rtf_reader::skip_fallback(std::int64_t count) {
    while (count > 0 && more()) {
        char c = at();
        if (c == '{' || c == '}') return;
        if (is_break(c)) {
            ++p_;
            continue;
        }
        if (c == '\\' && at(1)) {
            char n = at(1);
            if (is_letter(n)) {
                ++p_;
                control_word w = read_word();
                if (at() == ' ') ++p_;
                if (w.name == "bin") skip_bytes(w.has_number ? w.number : 0);
            } else if (n == '\'') {
                p_ += 2;
                for (int i = 0; i < 2 && hex_value(at()) >= 0; ++i)
                    ++p_;
            } else {
                p_ += 2;
            }
        } else {
            ++p_;
        }
        --count;
    }
}

// The font table: the font numbers and the charsets that \fcharset names for them. Its
// closing brace is left for the main loop.
void rtf_reader::read_font_table() {
    std::int64_t font = -1;
    walk_group([&](const control_word& w) {
        if (!w.has_number) return;
        if (w.name == "f") {
            font = w.number;
        } else if (w.name == "fcharset" && font >= 0) {
            if (w.number == 77)
                fonts_[font] = FONT_MACROMAN;
            else if (w.number == 437)
                fonts_[font] = FONT_CP437;
        }
    });
}

} // namespace

bool RTFParser::detect(int mode, const std::string& data, const std::string& name,
                       std::string& mime, std::string& charset) {
    if (mode == DETECT_CONTENT) {
        if (data.compare(0, 6, "{\\rtf1") != 0) return false;
    } else if (!has_suffix(name, {".rtf", ".RTF"})) {
        return false;
    }
    mime = "text/rtf";
    charset.clear();
    return true;
}

void RTFParser::parse(FFFbuilder& builder, const text_exclusion_matcher*, std::int32_t,
                      const std::string&, const std::string& data, const std::string&,
                      const std::string&, parse_result& result) {
    result.status = PARSE_NOT_PARSED;
    result.document.reset();

    builder.push_dict(FFF::centralNormDict);
    bool ok = rtf_reader(builder, data).run();
    // The slice goes back even on failure: a mail part shares the builder.
    builder.pop_dict();
    builder.end_paragraph();
    if (!ok) {
        result.status = PARSE_ERROR;
        result.error = parse_error;
        return;
    }
    result.status = PARSE_OK;
    result.mime = "text/rtf";
    result.charset.clear();
}

} // namespace lumbrake
