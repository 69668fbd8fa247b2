// Code-to-Unicode and code-to-width tables of simple PDF fonts: the five named encodings, the
// glyph list, and the metrics of the standard fonts laid out per encoding.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace PdfParser {

enum EncodingKind : int {
    StandardEncoding = 0,
    WinAnsiEncoding = 1,
    MacRomanEncoding = 2,
    MacExpertEncoding = 3,
    PDFDocEncoding = 4,
};
inline constexpr int encoding_kinds = 5;

// Standard-font ids: they select a built-in widths table.
enum StandardFontId : int {
    CourierFont = -4, // all four faces
    HelveticaFont = 0,
    HelveticaBoldFont = 1,
    HelveticaBoldObliqueFont = 2,
    HelveticaObliqueFont = 3,
    TimesRomanFont = 4,
    TimesBoldFont = 5,
    TimesBoldItalicFont = 6,
    TimesItalicFont = 7,
};

// The glyph list: the code of a glyph name, 0 for a name it lacks.
std::uint16_t glyph_unicode(std::string_view name);

// Width (thousandths of the text size) of a Latin glyph in a standard face; 600 for Courier
// (id below 0); 0 for a name the metrics lack or an id above 7.
int standard_glyph_width(std::string_view name, int font_id);

// 256 code points indexed by character code; the built-in tables are shared and never
// changed: a font that alters an entry works on its own copy.
class Encoding {
public:
    using table_type = std::array<std::uint16_t, 256>;

    explicit Encoding(int kind = StandardEncoding);

    std::uint16_t code_point(unsigned code) const { return (*table_)[code & 0xFF]; }
    // ".notdef" changes nothing; an unknown glyph name sets the entry to 0.
    void set_glyph(unsigned code, std::string_view glyph);

    int kind() const { return kind_; }

private:
    std::shared_ptr<const table_type> table_;
    int kind_;
};

// 256 widths indexed by character code, built for one standard font; shared like Encoding.
class Widths {
public:
    using table_type = std::array<std::int32_t, 256>;

    // The built-in table of that font and encoding (MacExpert uses the Standard layout).
    Widths(int font_id = CourierFont, int kind = StandardEncoding);

    std::int32_t width(unsigned code) const { return (*table_)[code & 0xFF]; }
    void set_width(unsigned code, std::int32_t width);
    void set_glyph_width(unsigned code, std::string_view glyph);

    int font_id() const { return font_id_; }

private:
    table_type& writable();

    std::shared_ptr<const table_type> table_;
    int font_id_;
};

namespace data {

struct glyph_code {
    const char* name;
    std::uint16_t code;
};
struct glyph_widths {
    const char* name;
    std::int16_t widths[8]; // standard-font ids 0..7
};

extern const char* const encoding_glyphs[encoding_kinds][256];
extern const glyph_code glyph_list[];
extern const std::size_t glyph_list_size;
extern const glyph_widths latin_widths[];
extern const std::size_t latin_widths_size;

} // namespace data

} // namespace PdfParser
