// Font dictionaries, names, descriptors, encodings and the font table, read from small PDFs.
#include <gtest/gtest.h>

#include <cmath>

#include "pdf_doc_util.h"
#include "pdfparser/pdf-fonts.h"
#include "pdfparser/pdf-lexer.h"
#include "pdfparser/pdf-xref.h"

using namespace PdfParser;

namespace {

// Opens a document of the given objects (object 1 is a dummy catalog) for the readers.
class FontDoc : public ::testing::Test {
protected:
    void open(std::vector<std::string> objects) {
        objects.insert(objects.begin(), "<< /Type /Catalog >>");
        doc_ = pdf_test::make_pdf(objects, "");
        ByteSource::open(doc_);
        fs_ = std::make_unique<FileStructure>(0, doc_.size());
    }
    void TearDown() override {
        fs_.reset();
        XrefTable::release();
        ByteSource::close();
    }
    Pos at(int number) { return XrefTable::instance().position(number); }
    FontRecord font(int number) { return Font(at(number), doc_.size()).record(); }

    std::string doc_;
    std::unique_ptr<FileStructure> fs_;
};

} // namespace

TEST_F(FontDoc, BaseFontNamesNormaliseAndChooseWidths) {
    struct row {
        const char* base;
        const char* family;
        int style;
        int width_A; // under StandardEncoding
    };
    const row rows[] = {
        {"/ABCDEF+Arial,Bold", "Helvetica", StyleBold, 722},
        {"/Helvetica-Bold", "Helvetica", StyleBold, 722},
        {"/TimesNewRomanPSMT", "Times", StyleNone, 722},
        {"/Times-Roman", "Times-Roman", StyleNone, 722},
        {"/Times-Italic", "Times", StyleItalic, 611},
        {"/Courier-Oblique", "Courier", StyleOblique, 600},
        {"/Helvetica-Italic", "Helvetica", StyleItalic, 600}, // no Helvetica table: Courier
        {"/Arial-BoldMT", "Helvetica", StyleBold, 722},
        {"/Foo-Condensed", "Foo", StyleOther, 600},
    };
    std::vector<std::string> objects;
    for (const row& r : rows)
        objects.push_back(std::string("<< /Type /Font /Subtype /Type1 /BaseFont ") + r.base +
                          " >>");
    open(objects);
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const FontRecord f = font(static_cast<int>(i) + 2);
        EXPECT_EQ(f.name, rows[i].family) << rows[i].base;
        EXPECT_EQ(f.style, rows[i].style) << rows[i].base;
        EXPECT_EQ(f.subtype, SubtypeType1) << rows[i].base;
        EXPECT_EQ(f.widths.width('A'), rows[i].width_A) << rows[i].base;
    }
    // Courier: 600 wherever the encoding places a glyph, apart from the zero-width codes.
    const FontRecord courier = font(7);
    EXPECT_EQ(courier.widths.width(' '), 600);
    EXPECT_EQ(courier.widths.width(0x60), 0);
    EXPECT_EQ(courier.widths.width(0x80), 0);
}

TEST_F(FontDoc, DescriptorEncodingDifferencesAndWidths) {
    open({
        // 2: a TrueType font with a descriptor, an encoding dictionary and explicit widths
        "<< /Type /Font /Subtype /TrueType /BaseFont 3 0 R /FontDescriptor 4 0 R "
        "/Encoding << /Type /Encoding /BaseEncoding /WinAnsiEncoding "
        "/Differences [39 /quotesingle /grave 65 /.notdef /Bee] >> "
        "/FirstChar 32 /LastChar 33 /Widths [250.4 300] >>",
        "/Helvetica",
        "<< /Type /FontDescriptor /Flags 34 /FontBBox [100 200 0 0] /ItalicAngle -12.5 "
        "/AvgWidth 441 /MaxWidth 1000 /MissingWidth 500 >>",
        // 5: encoding by reference, widths by reference, named encoding after
        "<< /Type /Font /Subtype /Type3 /Encoding 6 0 R /Widths 7 0 R /FirstChar 65 >>",
        "<< /Differences 8 0 R >>",
        "[ 700 800 ]",
        "[ 66 /eacute ]",
        // 9: compact spelling with a named encoding
        "<</Type/Font/Subtype/Type1/BaseFont/Helvetica/Encoding/WinAnsiEncoding>>",
    });
    const FontRecord f = font(2);
    EXPECT_EQ(f.name, "Helvetica");
    EXPECT_EQ(f.subtype, SubtypeTrueType);
    EXPECT_EQ(f.flags, 34u);
    EXPECT_DOUBLE_EQ(f.italic_angle, -12.5);
    EXPECT_DOUBLE_EQ(f.avg_width, 441);
    EXPECT_DOUBLE_EQ(f.max_width, 1000);
    EXPECT_EQ(std::vector<double>(f.bbox, f.bbox + 4), (std::vector<double>{0, 0, 100, 200}));
    EXPECT_EQ(f.encoding.code_point(39), 0x27);
    EXPECT_EQ(f.encoding.code_point(40), 0x60);
    EXPECT_EQ(f.encoding.code_point(65), 'A'); // .notdef leaves the entry
    EXPECT_EQ(f.encoding.code_point(66), 0);   // unknown glyph name
    EXPECT_EQ(f.encoding.code_point(0x80), 0x20AC);
    EXPECT_EQ(f.widths.width(32), 251);
    EXPECT_EQ(f.widths.width(33), 300);
    EXPECT_EQ(f.widths.width(0), 500);
    EXPECT_EQ(f.widths.width(200), 500);

    const FontRecord g = font(5);
    EXPECT_EQ(g.subtype, SubtypeType3);
    EXPECT_EQ(g.encoding.code_point(66), 0xE9);
    EXPECT_EQ(g.widths.width(65), 700);
    EXPECT_EQ(g.widths.width(66), 800);

    const FontRecord h = font(9);
    EXPECT_EQ(h.name, "Helvetica");
    EXPECT_EQ(h.encoding.code_point(0x92), 0x2019);
    EXPECT_EQ(h.widths.width(0x92), 222);
}

TEST_F(FontDoc, BrokenFontsThrow) {
    open({"<< /Type /XObject /Subtype /Image >>",
          "<< /Type /Font /Subtype /Type1 /FontDescriptor 3 0 >>",
          "<< /Type /Font /Encoding << /Differences [1 /a 2 xx /b >> >>"});
    try {
        font(2);
        FAIL();
    } catch (const BadObjectException& e) {
        EXPECT_EQ(e.message(), "Wrong Font Object");
    }
    try {
        font(3);
        FAIL();
    } catch (const BadObjectException& e) {
        EXPECT_EQ(e.message(), "Bad Reference (no R)");
    }
    // A /Differences array that is never closed: no hang, a clear error.
    EXPECT_THROW(font(4), BadObjectException);
}

TEST_F(FontDoc, FontTableScopesShareLoadedFonts) {
    open({"<< /Type /Font /BaseFont /Helvetica >>", "<< /Type /Font /BaseFont /Times-Bold >>"});
    FontTable t;
    t.set_depth(0);
    t.add("/F1", at(2));
    t.add("/F2", at(2));
    EXPECT_EQ(t.loaded(), 1u);
    EXPECT_EQ(t.find("/F1").id, t.find("/F2").id);
    t.set_depth(1);
    t.add("/F1", at(3));
    EXPECT_EQ(t.find("/F1").name, "Times");
    EXPECT_EQ(t.find("/F2").name, "Helvetica"); // from the outer scope
    t.set_depth(0);                             // the deeper scope is gone
    EXPECT_EQ(t.find("/F1").name, "Helvetica");
    EXPECT_EQ(t.find("/F9").name, "Unknown");
    EXPECT_EQ(t.loaded(), 2u);
}

TEST(FontRecordOrder, EqualityAndOrderingIgnoreIdAndTables) {
    FontRecord a, b;
    a.name = b.name = "Times";
    a.size = b.size = 12;
    b.id = 7;
    b.encoding = Encoding(WinAnsiEncoding);
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a < b || b < a);
    b.rise = 3;
    EXPECT_FALSE(a == b);
    EXPECT_TRUE(a < b);
    FontRecord n = a;
    n.size = std::nan("");
    EXPECT_TRUE(n == n);
    EXPECT_TRUE(a < n); // NaN sorts last and consistently
    EXPECT_FALSE(n < a);
}
