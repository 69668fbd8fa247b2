#include "pdfparser/pdf-encodings.h"

#include <algorithm>
#include <cstring>

namespace PdfParser {

namespace {

// ---- glyph list ----

const data::glyph_code* find_glyph(std::string_view name) {
    const data::glyph_code* begin = data::glyph_list;
    const data::glyph_code* end = data::glyph_list + data::glyph_list_size;
    const data::glyph_code* it =
        std::lower_bound(begin, end, name, [](const data::glyph_code& g, std::string_view n) {
            return std::string_view(g.name) < n;
        });
    if (it != end && std::string_view(it->name) == name) return it;
    return nullptr;
}

// ---- Latin widths: open addressing over 512 slots ----

constexpr std::uint32_t width_slots = 512;

std::uint32_t glyph_hash(std::string_view name) {
    std::uint32_t h = 0;
    for (char ch : name) {
        const std::int32_t c = static_cast<signed char>(ch);
        const std::int32_t mixed = (c << 4) | (c >> 4); // arithmetic shift keeps the sign
        h = h * 131u + static_cast<std::uint32_t>(mixed);
    }
    return h;
}

struct width_hash {
    const data::glyph_widths* slots[width_slots] = {};

    width_hash() {
        for (std::size_t i = 0; i < data::latin_widths_size; ++i) {
            std::uint32_t s = glyph_hash(data::latin_widths[i].name) & (width_slots - 1);
            while (slots[s])
                s = (s + 1) & (width_slots - 1);
            slots[s] = &data::latin_widths[i];
        }
    }

    const data::glyph_widths* find(std::string_view name) const {
        std::uint32_t s = glyph_hash(name) & (width_slots - 1);
        for (std::uint32_t probes = 0; probes < width_slots && slots[s]; ++probes) {
            if (name == slots[s]->name) return slots[s];
            s = (s + 1) & (width_slots - 1);
        }
        return nullptr;
    }
};

const width_hash& widths_hash() {
    static const width_hash table;
    return table;
}

// ---- built-in tables ----

using encoding_ptr = std::shared_ptr<const Encoding::table_type>;
using widths_ptr = std::shared_ptr<const Widths::table_type>;

const encoding_ptr& builtin_encoding(int kind) {
    static const std::array<encoding_ptr, encoding_kinds> tables = [] {
        std::array<encoding_ptr, encoding_kinds> t;
        for (int k = 0; k < encoding_kinds; ++k) {
            auto table = std::make_shared<Encoding::table_type>();
            for (int c = 0; c < 256; ++c) {
                const char* g = data::encoding_glyphs[k][c];
                (*table)[c] = g ? glyph_unicode(g) : 0;
            }
            t[k] = std::move(table);
        }
        return t;
    }();
    return tables[(kind >= 0 && kind < encoding_kinds) ? kind : StandardEncoding];
}

// The codes that carry no width under StandardEncoding in every standard font's table.
constexpr unsigned char standard_zero_codes[] = {0x60, 0xB1, 0xB6, 0xBA, 0xBB, 0xBF,
                                                 0xC1, 0xCA, 0xCD, 0xE3, 0xF1, 0xF5};

constexpr int font_ids[] = {CourierFont, 0, 1, 2, 3, 4, 5, 6, 7};

int font_index(int font_id) {
    return font_id < 0 ? 0 : font_id + 1;
}

const widths_ptr& builtin_widths(int font_id, int kind) {
    static const auto tables = [] {
        std::array<std::array<widths_ptr, encoding_kinds>, 9> t;
        for (int f : font_ids) {
            for (int k = 0; k < encoding_kinds; ++k) {
                const int layout = k == MacExpertEncoding ? StandardEncoding : k;
                auto table = std::make_shared<Widths::table_type>();
                for (int c = 0; c < 256; ++c) {
                    const char* g = data::encoding_glyphs[layout][c];
                    (*table)[c] = g ? standard_glyph_width(g, f) : 0;
                }
                if (layout == StandardEncoding) {
                    for (unsigned char c : standard_zero_codes)
                        (*table)[c] = 0;
                    if (f == HelveticaFont) (*table)[0x27] = 333;
                }
                t[font_index(f)][k] = std::move(table);
            }
        }
        return t;
    }();
    if (font_id != CourierFont && (font_id < 0 || font_id > TimesItalicFont)) font_id = CourierFont;
    if (kind < 0 || kind >= encoding_kinds) kind = StandardEncoding;
    return tables[font_index(font_id)][kind];
}

} // namespace

std::uint16_t glyph_unicode(std::string_view name) {
    const data::glyph_code* g = find_glyph(name);
    return g ? g->code : 0;
}

int standard_glyph_width(std::string_view name, int font_id) {
    if (font_id < 0) return 600;
    if (font_id > TimesItalicFont) return 0;
    const data::glyph_widths* g = widths_hash().find(name);
    return g ? g->widths[font_id] : 0;
}

// ---- Encoding ----

Encoding::Encoding(int kind)
    : table_(builtin_encoding(kind)),
      kind_((kind >= 0 && kind < encoding_kinds) ? kind : StandardEncoding) {}

void Encoding::set_glyph(unsigned code, std::string_view glyph) {
    if (glyph == ".notdef") return;
    // The built-in tables are always held by their registry too, so a count of one means
    // this record owns its copy.
    if (table_.use_count() != 1) table_ = std::make_shared<table_type>(*table_);
    const_cast<table_type&>(*table_)[code & 0xFF] = glyph_unicode(glyph);
}

// ---- Widths ----

Widths::Widths(int font_id, int kind) : table_(builtin_widths(font_id, kind)), font_id_(font_id) {
    if (font_id_ < 0 || font_id_ > TimesItalicFont) font_id_ = CourierFont;
}

Widths::table_type& Widths::writable() {
    if (table_.use_count() != 1) table_ = std::make_shared<table_type>(*table_);
    return const_cast<table_type&>(*table_);
}

void Widths::set_width(unsigned code, std::int32_t width) {
    writable()[code & 0xFF] = width;
}

void Widths::set_glyph_width(unsigned code, std::string_view glyph) {
    writable()[code & 0xFF] = standard_glyph_width(glyph, font_id_);
}

} // namespace PdfParser
