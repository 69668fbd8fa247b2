#include "pdfparser/pdf-fonts.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "pdfparser/pdf-lexer.h"
#include "pdfparser/pdf-pages.h"
#include "pdfparser/pdf-xref.h"

namespace PdfParser {

namespace {

// Three-way comparison that orders NaN after every number and equal to itself, so that
// records with broken values still sort consistently.
int compare_real(double a, double b) {
    const bool na = std::isnan(a), nb = std::isnan(b);
    if (na || nb) return na == nb ? 0 : (na ? 1 : -1);
    return a < b ? -1 : (b < a ? 1 : 0);
}

bool same_real(double a, double b) {
    return compare_real(a, b) == 0;
}

Pos document_end() {
    return ByteSource::length();
}

std::int32_t clamp_int(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

unsigned clamp_unsigned(std::uint64_t v) {
    return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<unsigned>(v);
}

// The position of a referenced object, or nullopt-like false when the reference names a free
// or never-listed entry (which would otherwise send the reader to the start of the file).
bool object_position(const ObjectRef& ref, Pos& out) {
    const XrefEntry& e = XrefTable::instance().entry(ref.number);
    if (e.free || e.generation < 0) return false;
    out = e.position;
    return true;
}

// A key after a '/' at pos: up to white space or one of the stop bytes.
std::string read_key(Pos& pos, Pos end, std::string_view stops) {
    return read_token(pos, end, stops);
}

} // namespace

double parse_real(std::string_view token) {
    std::size_t i = 0;
    if (i < token.size() && token[i] == '+') ++i;
    double value = 0;
    const char* first = token.data() + i;
    const char* last = token.data() + token.size();
    auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::fixed);
    if (ec != std::errc() || ptr == first || !std::isfinite(value)) return 0;
    return value;
}

std::string read_token(Pos& pos, Pos end, std::string_view stops) {
    std::string out;
    end = std::min(end, ByteSource::length());
    while (pos < end) {
        const std::uint8_t c = ByteSource::byte_at(pos);
        if (is_blank(c) || stops.find(static_cast<char>(c)) != std::string_view::npos) break;
        out.push_back(static_cast<char>(c));
        ++pos;
    }
    return out;
}

// ---- font records ----

bool FontRecord::operator==(const FontRecord& o) const {
    return name == o.name && style == o.style && same_real(size, o.size) && flags == o.flags &&
           subtype == o.subtype && same_real(rise, o.rise) && render_mode == o.render_mode &&
           same_real(avg_width, o.avg_width) && same_real(max_width, o.max_width) &&
           same_real(italic_angle, o.italic_angle);
}

bool FontRecord::operator<(const FontRecord& o) const {
    if (int c = name.compare(o.name)) return c < 0;
    if (int c = compare_real(size, o.size)) return c < 0;
    if (subtype != o.subtype) return subtype < o.subtype;
    if (style != o.style) return style < o.style;
    if (int c = compare_real(rise, o.rise)) return c < 0;
    if (int c = compare_real(avg_width, o.avg_width)) return c < 0;
    if (render_mode != o.render_mode) return render_mode < o.render_mode;
    if (flags != o.flags) return flags < o.flags;
    if (int c = compare_real(max_width, o.max_width)) return c < 0;
    return compare_real(italic_angle, o.italic_angle) < 0;
}

// ---- names ----

std::string normalise_family(std::string_view family) {
    if (family == "Times" || family == "TimesNewRomanPSMT" || family == "TimesNewRoman" ||
        family == "TimesNewRomanPS")
        return "Times";
    if (family == "Helvetica" || family == "Arial" || family == "ArialMT") return "Helvetica";
    if (family == "Courier" || family == "CourierNew" || family == "CourierNewPSMT")
        return "Courier";
    return std::string(family);
}

int style_id(std::string_view style) {
    if (style.empty() || style == "Regular") return StyleNone;
    if (style.size() > 2 && style.substr(style.size() - 2) == "MT") style.remove_suffix(2);
    if (style == "Bold") return StyleBold;
    if (style == "Italic") return StyleItalic;
    if (style == "Oblique") return StyleOblique;
    if (style == "BoldOblique") return StyleBoldOblique;
    if (style == "Heavy") return StyleHeavy;
    if (style == "Semibold") return StyleSemibold;
    if (style == "BoldItalic") return StyleBoldItalic;
    return StyleOther;
}

std::pair<std::string, int> read_font_name(Pos pos, Pos end) {
    end = std::min(end, ByteSource::length());
    Pos p = pos;
    if (!find_tag(p, std::min(end, pos + 50), "/")) return {"Unknown", StyleNone};
    std::string family;
    while (p < end) {
        const std::uint8_t c = ByteSource::byte_at(p);
        if (is_blank(c) || c == '-' || c == '/' || c == ',' || c == '>') break;
        if (c == '+')
            family.clear(); // a subset prefix such as ABCDEF+
        else
            family.push_back(static_cast<char>(c));
        ++p;
    }
    std::string style;
    if (p < end && (ByteSource::byte_at(p) == '-' || ByteSource::byte_at(p) == ',')) {
        ++p;
        style = read_token(p, end, "/>");
    }
    if (style == "Roman") {
        family += "-Roman";
        style.clear();
    }
    return {normalise_family(family), style_id(style)};
}

Widths standard_widths(std::string_view family, int style, int kind) {
    int id = 1000; // no match
    if (family == "Courier") {
        id = CourierFont;
    } else if (family == "Helvetica") {
        if (style == StyleNone || style == StyleOther)
            id = HelveticaFont;
        else if (style == StyleBold)
            id = HelveticaBoldFont;
        else if (style == StyleOblique)
            id = HelveticaObliqueFont;
        else if (style == StyleBoldOblique)
            id = HelveticaBoldObliqueFont;
    } else if (family == "Times-Roman") {
        id = TimesRomanFont;
    } else if (family == "Times") {
        if (style == StyleNone)
            id = TimesRomanFont;
        else if (style == StyleBold)
            id = TimesBoldFont;
        else if (style == StyleItalic)
            id = TimesItalicFont;
        else if (style == StyleBoldItalic)
            id = TimesBoldItalicFont;
    }
    if (id == 1000) return Widths(CourierFont, StandardEncoding);
    return Widths(id, kind);
}

// ---- descriptor ----

FontDescriptor::FontDescriptor(Pos start, Pos end) : span{start, end} {
    Pos p = start;
    while (find_tag(p, end, "/")) {
        const std::string key = read_key(p, end, "/>");
        skip_blanks(p, end);
        if (key == "FontBBox") {
            rectangle(p, end, bbox);
        } else if (key == "AvgWidth") {
            avg_width = parse_real(read_token(p, end, "/>"));
        } else if (key == "ItalicAngle") {
            italic_angle = parse_real(read_token(p, end, "/>"));
        } else if (key == "MaxWidth") {
            max_width = parse_real(read_token(p, end, "/>"));
        } else if (key == "Flags") {
            flags = clamp_unsigned(read_unsigned(p));
        } else if (key == "MissingWidth") {
            missing_width = clamp_int(parse_real(read_token(p, end, "/>")));
        }
    }
}

// ---- font ----

void Font::set_encoding_kind(std::string_view name) {
    static constexpr std::string_view names[] = {"StandardEncoding", "WinAnsiEncoding",
                                                 "MacRomanEncoding", "MacExpertEncoding",
                                                 "PDFDocEncoding"};
    for (int k = 0; k < encoding_kinds; ++k) {
        if (name == names[k]) {
            record_.encoding = Encoding(k);
            record_.widths = standard_widths(record_.name, record_.style, k);
            return;
        }
    }
}

Font::Font(Pos start, Pos end) {
    const Pos doc_end = document_end();
    Dictionary dict(start, end);
    span_ = dict;
    const Pos s = span_.start, e = span_.end;

    Pos p = s;
    if (!find_tag(p, e, "/Font")) throw BadObjectException("Wrong Font Object");

    // First pass: subtype and base font name, which choose the widths tables.
    p = s;
    while (find_tag(p, e, "/")) {
        const std::string key = read_key(p, e, "/>");
        if (key == "Subtype") {
            Pos q = p;
            skip_blanks(q, e);
            if (q < e && ByteSource::byte_at(q) == '/') {
                ++q;
                const std::string sub = read_token(q, e, "/>[<(");
                if (sub == "Type1" || sub == "MMType1")
                    record_.subtype = SubtypeType1;
                else if (sub == "TrueType")
                    record_.subtype = SubtypeTrueType;
                else if (sub == "Type3")
                    record_.subtype = SubtypeType3;
                else
                    record_.subtype = SubtypeOther;
            }
        } else if (key == "BaseFont") {
            Pos q = p;
            skip_blanks(q, e);
            const std::uint8_t c = ByteSource::byte_at(q);
            if (q < e && c == '/') {
                auto [family, style] = read_font_name(q, e);
                record_.name = family;
                record_.style = style;
            } else if (q < e && is_digit(c)) {
                ObjectRef ref;
                Pos at;
                if (read_reference(q, e, ref) && object_position(ref, at)) {
                    auto [family, style] = read_font_name(at, doc_end);
                    record_.name = family;
                    record_.style = style;
                }
            }
        }
    }
    record_.widths = standard_widths(record_.name, record_.style, StandardEncoding);

    // Second pass: descriptor, encoding, code range.
    p = s;
    while (find_tag(p, e, "/")) {
        const std::string key = read_key(p, e, "/>[");
        if (key == "FontDescriptor") {
            Pos q = p;
            ObjectRef ref;
            if (!read_reference(q, e, ref)) throw BadObjectException("Bad Reference (no R)");
            Pos at;
            if (object_position(ref, at)) {
                Dictionary d(at, doc_end);
                FontDescriptor fd(d.start, d.end);
                record_.flags = fd.flags;
                record_.avg_width = fd.avg_width;
                record_.max_width = fd.max_width;
                record_.italic_angle = fd.italic_angle;
                std::copy(std::begin(fd.bbox), std::end(fd.bbox), record_.bbox);
                missing_width_ = fd.missing_width;
            }
        } else if (key == "Encoding") {
            Pos q = p;
            skip_blanks(q, e);
            const std::uint8_t c = ByteSource::byte_at(q);
            if (q >= e) continue;
            if (c == '<') {
                read_encoding_dictionary(q);
            } else if (c == '/') {
                ++q;
                set_encoding_kind(read_token(q, e, "/>[<("));
            } else if (is_digit(c)) {
                ObjectRef ref;
                Pos at;
                if (read_reference(q, e, ref) && object_position(ref, at))
                    read_encoding_dictionary(at);
            }
        } else if (key == "FirstChar") {
            skip_blanks(p, e);
            first_char_ = clamp_unsigned(read_unsigned(p));
        } else if (key == "LastChar") {
            skip_blanks(p, e);
            last_char_ = clamp_unsigned(read_unsigned(p));
        }
    }

    // Explicit widths.
    p = s;
    if (find_tag(p, e, "/Widths")) {
        skip_blanks(p, e);
        const std::uint8_t c = ByteSource::byte_at(p);
        if (p < e && c == '[') {
            Array a(p, e);
            read_widths_array(a.start, a.end);
        } else if (p < e && is_digit(c)) {
            ObjectRef ref;
            Pos at;
            if (read_reference(p, e, ref) && object_position(ref, at)) {
                Array a(at, doc_end);
                read_widths_array(a.start, a.end);
            }
        }
    }

    for (unsigned code = 0; code < std::min(first_char_, 256u); ++code)
        record_.widths.set_width(code, missing_width_);
    if (last_char_ < 255)
        for (unsigned code = last_char_ + 1; code < 256; ++code)
            record_.widths.set_width(code, missing_width_);
}

void Font::read_widths_array(Pos pos, Pos end) {
    unsigned code = first_char_;
    Pos p = pos;
    for (;;) {
        skip_blanks(p, end);
        if (p >= end) break;
        const std::string token = read_token(p, end, "]");
        if (token.empty()) {
            ++p; // a stray ']' cannot stand here (the array ends at the first one); be safe
            continue;
        }
        record_.widths.set_width(code & 0xFF, clamp_int(std::ceil(parse_real(token))));
        code = (code + 1) & 0xFF;
    }
}

void Font::read_encoding_dictionary(Pos pos) {
    const Pos doc_end = document_end();
    Dictionary d(pos, doc_end);
    record_.encoding = Encoding(StandardEncoding);
    record_.widths = standard_widths(record_.name, record_.style, StandardEncoding);
    Pos p = d.start;
    while (find_tag(p, d.end, "/")) {
        const std::string key = read_key(p, d.end, "/>[");
        if (key == "BaseEncoding") {
            skip_blanks(p, d.end);
            if (p < d.end && ByteSource::byte_at(p) == '/') {
                ++p;
                set_encoding_kind(read_token(p, d.end, "/>[<("));
            }
        } else if (key == "Differences") {
            skip_blanks(p, d.end);
            const std::uint8_t c = ByteSource::byte_at(p);
            if (p < d.end && c == '[') {
                Array a(p, d.end);
                read_differences(a.start, a.end);
                p = a.end; // glyph names are no keys of the dictionary
            } else if (p < d.end && is_digit(c)) {
                ObjectRef ref;
                Pos at;
                if (read_reference(p, d.end, ref) && object_position(ref, at)) {
                    Array a(at, doc_end);
                    read_differences(a.start, a.end);
                }
            }
        }
    }
}

void Font::read_differences(Pos pos, Pos end) {
    Pos p = pos;
    skip_blanks(p, end);
    unsigned code = 0;
    while (p < end) {
        const Pos before = p;
        if (is_digit(ByteSource::byte_at(p))) code = clamp_unsigned(read_unsigned(p));
        skip_blanks(p, end);
        while (p < end && ByteSource::byte_at(p) == '/') {
            ++p;
            const std::string glyph = read_token(p, end, "/]");
            record_.encoding.set_glyph(code, glyph);
            record_.widths.set_glyph_width(code, glyph);
            ++code;
            skip_blanks(p, end);
        }
        if (p == before) ++p; // a byte that is neither code nor name: step over it
    }
}

// ---- font table ----

FontTable::FontTable() : scopes_(1) {}

void FontTable::set_depth(std::size_t depth) {
    scopes_.resize(depth + 1);
}

void FontTable::add(const std::string& name, Pos offset) {
    const FontRecord* record = nullptr;
    if (auto it = by_offset_.find(offset); it != by_offset_.end()) {
        record = it->second;
    } else {
        Font font(offset, document_end());
        auto owned = std::make_unique<FontRecord>(font.record());
        owned->id = counter_++;
        record = owned.get();
        loaded_.emplace_back(offset, std::move(owned));
        by_offset_.emplace(offset, record);
    }
    scopes_.back()[name] = record;
}

FontRecord FontTable::find(std::string_view name) const {
    for (auto s = scopes_.rbegin(); s != scopes_.rend(); ++s)
        if (auto it = s->find(name); it != s->end()) return *it->second;
    return FontRecord();
}

} // namespace PdfParser
