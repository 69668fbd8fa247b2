// Built-in encodings, glyph list and standard-font widths.
#include <gtest/gtest.h>

#include "pdfparser/pdf-encodings.h"

using namespace PdfParser;

TEST(PdfEncodings, NamedTablesMapCodesThroughGlyphNames) {
    struct row {
        int kind;
        unsigned code;
        std::uint16_t expected;
    };
    const row rows[] = {
        {StandardEncoding, 0x41, 'A'},     {StandardEncoding, 0x27, 0x2019},
        {StandardEncoding, 0x60, 0x2018},  {StandardEncoding, 0xE1, 0x00C6},
        {StandardEncoding, 0x80, 0},       {WinAnsiEncoding, 0x27, 0x27},
        {WinAnsiEncoding, 0x80, 0x20AC},   {WinAnsiEncoding, 0x92, 0x2019},
        {WinAnsiEncoding, 0xE9, 0x00E9},   {WinAnsiEncoding, 0xA0, 0},
        {WinAnsiEncoding, 0xAD, 0},        {WinAnsiEncoding, 0x81, 0},
        {MacRomanEncoding, 0x8E, 0x00E9},  {MacRomanEncoding, 0xCA, 0x20},
        {MacExpertEncoding, 0x56, 0xFB00}, {PDFDocEncoding, 0xA0, 0x20AC},
        {PDFDocEncoding, 0x18, 0x02D8},    {PDFDocEncoding, 0x84, 0x2014},
        {PDFDocEncoding, 0xE9, 0x00E9},    {PDFDocEncoding, 0x7F, 0},
    };
    for (const row& r : rows) {
        Encoding e(r.kind);
        EXPECT_EQ(e.code_point(r.code), r.expected) << "kind " << r.kind << " code " << r.code;
    }
    EXPECT_EQ(Encoding(StandardEncoding).code_point(0x141), 'A'); // modulo 256
}

TEST(PdfEncodings, SetGlyphCopiesOnWriteAndIgnoresNotdef) {
    Encoding a(StandardEncoding);
    Encoding b = a;
    b.set_glyph(39, "quotesingle");
    b.set_glyph(40, "grave");
    b.set_glyph(41, ".notdef");
    b.set_glyph(42, "no-such-glyph");
    EXPECT_EQ(b.code_point(39), 0x27);
    EXPECT_EQ(b.code_point(40), 0x60);
    EXPECT_EQ(b.code_point(41), ')');
    EXPECT_EQ(b.code_point(42), 0);
    // Neither the copied record nor the built-in table changed.
    EXPECT_EQ(a.code_point(39), 0x2019);
    EXPECT_EQ(Encoding(StandardEncoding).code_point(40), '(');
}

TEST(PdfEncodings, GlyphList) {
    EXPECT_EQ(glyph_unicode("space"), 32);
    EXPECT_EQ(glyph_unicode("afii57700"), 64331);
    EXPECT_EQ(glyph_unicode("Euro"), 0x20AC);
    EXPECT_EQ(glyph_unicode("eacute"), 0xE9);
    EXPECT_EQ(glyph_unicode(""), 0);
    EXPECT_EQ(glyph_unicode("Spaces"), 0);
}

TEST(PdfEncodings, GlyphWidthsOfTheStandardFaces) {
    const int a[] = {667, 722, 722, 667, 722, 722, 667, 611};
    const int space[] = {278, 278, 278, 278, 250, 250, 250, 250};
    for (int id = 0; id < 8; ++id) {
        EXPECT_EQ(standard_glyph_width("A", id), a[id]) << id;
        EXPECT_EQ(standard_glyph_width("space", id), space[id]) << id;
    }
    EXPECT_EQ(standard_glyph_width("A", CourierFont), 600);
    EXPECT_EQ(standard_glyph_width("whatever", CourierFont), 600);
    EXPECT_EQ(standard_glyph_width("afii57700", HelveticaFont), 0);
}

TEST(PdfEncodings, BuiltInWidthTables) {
    EXPECT_EQ(Widths(HelveticaFont, StandardEncoding).width(0x20), 278);
    EXPECT_EQ(Widths(HelveticaFont, StandardEncoding).width(0x41), 667);
    EXPECT_EQ(Widths(HelveticaFont, StandardEncoding).width(0x61), 556);
    EXPECT_EQ(Widths(HelveticaFont, StandardEncoding).width(0x27), 333);
    EXPECT_EQ(Widths(HelveticaFont, StandardEncoding).width(0xA8), 556);
    EXPECT_EQ(Widths(HelveticaFont, WinAnsiEncoding).width(0x92), 222);
    EXPECT_EQ(Widths(HelveticaFont, WinAnsiEncoding).width(0xE9), 556);
    EXPECT_EQ(Widths(TimesRomanFont, StandardEncoding).width(0x41), 722);
    EXPECT_EQ(Widths(HelveticaFont, MacExpertEncoding).width(0x41), 667);

    const unsigned zero[] = {0x60, 0xB1, 0xB6, 0xBA, 0xBB, 0xBF,
                             0xC1, 0xCA, 0xCD, 0xE3, 0xF1, 0xF5};
    Widths courier(CourierFont, StandardEncoding);
    for (unsigned c = 0; c < 256; ++c) {
        const bool placed = Encoding(StandardEncoding).code_point(c) != 0;
        const bool zeroed = std::find(std::begin(zero), std::end(zero), c) != std::end(zero);
        EXPECT_EQ(courier.width(c), placed && !zeroed ? 600 : 0) << c;
    }
    for (unsigned c : zero)
        EXPECT_EQ(Widths(TimesBoldFont, StandardEncoding).width(c), 0) << c;
    EXPECT_EQ(Widths(CourierFont, WinAnsiEncoding).width(0x60), 600);
}

TEST(PdfEncodings, WidthChangesAreCopyOnWrite) {
    Widths w(HelveticaFont, StandardEncoding);
    Widths copy = w;
    copy.set_width(0x41, 1000);
    copy.set_glyph_width(0x42, "A");
    EXPECT_EQ(copy.width(0x41), 1000);
    EXPECT_EQ(copy.width(0x42), 667);
    EXPECT_EQ(w.width(0x41), 667);
    EXPECT_EQ(Widths(HelveticaFont, StandardEncoding).width(0x41), 667);
}
