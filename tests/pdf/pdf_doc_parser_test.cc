// The PDF front end: detection, the information dictionary, the page walk, the grouping of
// shown strings into words, lines and paragraphs, slice choice and failure handling.
#include <gtest/gtest.h>

#include <zlib.h>

#include "pdf_doc_util.h"

using pdf_test::make_pdf;
using pdf_test::parse_pdf;
using pdf_test::stream_object;

namespace {

// A document whose pages show the given content streams, with fonts /F1 Courier,
// /F2 Helvetica-Bold and /F3 Times-Italic in the root's resources. Extra objects follow the
// pages and are numbered from 6 + 2 * pages.
std::string pages_doc(const std::vector<std::string>& contents, const std::string& trailer = "",
                      const std::vector<std::string>& extra = {}) {
    std::vector<std::string> objects;
    std::string kids;
    for (std::size_t i = 0; i < contents.size(); ++i)
        kids += std::to_string(6 + 2 * i) + " 0 R ";
    objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " +
                      std::to_string(contents.size()) +
                      " /Resources << /Font << /F1 3 0 R /F2 4 0 R /F3 5 0 R >> >> >>");
    objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>");
    objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold >>");
    objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Times-Italic >>");
    for (std::size_t i = 0; i < contents.size(); ++i) {
        objects.push_back("<< /Type /Page /Parent 2 0 R /Contents " + std::to_string(7 + 2 * i) +
                          " 0 R >>");
        objects.push_back(contents[i].rfind("<<", 0) == 0 ? contents[i]
                                                          : stream_object(contents[i]));
    }
    for (const auto& o : extra)
        objects.push_back(o);
    return make_pdf(objects, trailer);
}

std::string deflate(const std::string& data) {
    uLongf n = compressBound(data.size());
    std::string out(n, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(data.data()),
             data.size());
    out.resize(n);
    return out;
}

} // namespace

TEST(PdfDetect, ByNameAndByContent) {
    lumbrake::config cfg("/dev/null");
    lumbrake::PDFParser p(cfg);
    struct row {
        int mode;
        std::string data;
        const char* name;
        bool expected;
    };
    const row rows[] = {
        {lumbrake::DETECT_NAME, "", "report.PDF", true},
        {lumbrake::DETECT_NAME, "", "http://x/a.pdf", true},
        {lumbrake::DETECT_NAME, "", "report.Pdf", false},
        {lumbrake::DETECT_NAME, "", "pdf", false},
        {lumbrake::DETECT_CONTENT, "junk junk %PDF-1.3", "", true},
        // A text that mentions the header further on is no PDF file.
        {lumbrake::DETECT_CONTENT, std::string(1019, 'x') + "%PDF-1.3", "", true},
        {lumbrake::DETECT_CONTENT, std::string(1020, 'x') + "%PDF-1.3", "", false},
        {lumbrake::DETECT_CONTENT, "%PDF", "", false},
        {2, "%PDF-1.3", "a.pdf", false},
    };
    for (const row& r : rows) {
        std::string mime = "unchanged", charset = "x";
        EXPECT_EQ(p.detect(r.mode, r.data, r.name, mime, charset), r.expected) << r.name << r.data;
        EXPECT_EQ(mime, r.expected ? "application/pdf" : "unchanged");
        EXPECT_EQ(charset, r.expected ? "" : "x");
    }
}

TEST(PdfDocument, InformationDictionaryComesFirst) {
    const std::string info = "<< /Title (Annual Report) /Author <FEFF00E90041> /Subject () "
                             "/Keywords (caf\xe9 plain) /Producer (nobody) >>";
    auto r = parse_pdf(pages_doc({"BT /F1 10 Tf 72 700 Td (Body) Tj ET"}, "/Info 8 0 R", {info}));
    EXPECT_EQ(r.result.status, 0);
    EXPECT_EQ(r.result.mime, "application/pdf");
    EXPECT_EQ(r.dump, "15:Annual Report\n1:\xc3\xa9"
                      "A\n2:caf plain\n10:Body\n");

    // No /Info: only the pages; a broken one: ignored.
    r = parse_pdf(pages_doc({"BT /F1 10 Tf (Body) Tj ET"}));
    EXPECT_EQ(r.result.status, 0);
    EXPECT_EQ(r.dump, "10:Body\n");
    r = parse_pdf(pages_doc({"BT /F1 10 Tf (Body) Tj ET"}, "/Info 8 0 R", {"<< /Title (x"}));
    EXPECT_EQ(r.result.status, 0);
    EXPECT_EQ(r.dump, "10:Body\n");
    r = parse_pdf(pages_doc({"BT /F1 10 Tf (Body) Tj ET"}, "/Info 900 0 R"));
    EXPECT_EQ(r.result.status, 0);
    EXPECT_EQ(r.dump, "10:Body\n");
}

TEST(PdfDocument, StringsJoinIntoWordsLinesAndParagraphs) {
    struct row {
        const char* content;
        const char* expected;
    };
    // Courier at size 10: every glyph advances 6.
    const row rows[] = {
        // 0.05 of the size after the end of "Hel": one word; 0.2: two.
        {"BT /F1 10 Tf 72 700 Td (Hel) Tj 18.5 0 Td (lo) Tj ET", "10:Hello\n"},
        {"BT /F1 10 Tf 72 700 Td (Hel) Tj 20 0 Td (lo) Tj ET", "10:Hel lo\n"},
        // Strings shown one after the other continue where the previous one ended.
        {"BT /F1 10 Tf 72 700 Td (Hel) Tj (lo) Tj ET", "10:Hello\n"},
        // A hyphen at the end of a line joins the word; a full stop ends the paragraph.
        {"BT /F1 10 Tf 72 700 Td (infor-) Tj 0 -12 Td (mation here) Tj ET",
         "10:information here\n"},
        {"BT /F1 10 Tf 72 700 Td (the end.) Tj 0 -12 Td (Next one) Tj ET",
         "10:the end\n10:Next one\n"},
        {"BT /F1 10 Tf 72 700 Td (no stop) Tj 0 -12 Td (next line) Tj ET",
         "10:no stop next line\n"},
        // Only blanks: nothing.
        {"BT /F1 10 Tf 72 700 Td ( ) Tj (   ) Tj () Tj ET", ""},
        // Character spacing as wide as a word gap inside a string separates words there;
        // the next piece starts where the glyphs end, not after the spacing behind them.
        {"BT /F1 10 Tf 72 700 Td (ne) Tj 3 Tc 12 0 Td (wm) Tj 0 Tc 15 0 Td (ail) Tj ET",
         "10:new mail\n"},
        // In TJ arrays: an adjustment of 150 or more, or wide spacing with a smaller one.
        {"BT /F1 10 Tf 72 700 Td [(new) -100 (mail)] TJ ET", "10:newmail\n"},
        {"BT /F1 10 Tf 72 700 Td [(new) -200 (mail)] TJ ET", "10:new mail\n"},
        {"BT /F1 10 Tf 72 700 Td 0.6 Tc [(new) -100 (mail)] TJ ET", "10:new mail\n"},
        // Word spacing widens the space only.
        {"BT /F1 10 Tf 72 700 Td 5 Tw (a b) Tj 0 Tw 23 0 Td (c) Tj ET", "10:a bc\n"},
    };
    for (const row& r : rows) {
        auto p = parse_pdf(pages_doc({r.content}));
        EXPECT_EQ(p.result.status, 0) << r.content;
        EXPECT_EQ(p.dump, r.expected) << r.content;
    }
}

TEST(PdfDocument, SlicesFollowTheDominantFont) {
    // Courier 10 is the page's main font; larger text is a header, another face emphasis.
    auto p = parse_pdf(pages_doc({"BT /F1 20 Tf 72 750 Td (Heading) Tj ET "
                                  "BT /F1 10 Tf 72 700 Td (plain words here and more) Tj "
                                  "/F3 10 Tf ( italic) Tj /F1 10 Tf ( again plain) Tj ET"}));
    EXPECT_EQ(p.result.status, 0);
    EXPECT_EQ(p.dump, "14:Heading / 10:plain words here and more / 11:italic / 10:again plain\n");
}

TEST(PdfDocument, BrokenPagesAreDroppedAlone) {
    const std::string good1 = "BT /F1 10 Tf 72 700 Td (first) Tj ET";
    const std::string good3 = "BT /F1 10 Tf 72 700 Td (third) Tj ET";
    const std::string corrupt =
        stream_object("x\x9c garbage that inflates to nothing", "/Filter /FlateDecode");
    auto p = parse_pdf(pages_doc({good1, corrupt, good3}));
    EXPECT_EQ(p.result.status, 0);
    EXPECT_EQ(p.dump, "10:first\n10:third\n");

    // Compressed content decodes; a page whose content breaks midway keeps what it showed.
    const std::string packed =
        stream_object(deflate("BT /F1 10 Tf 72 700 Td (packed) Tj ET"), "/Filter /FlateDecode");
    p = parse_pdf(pages_doc({packed, "BT /F1 10 Tf 72 700 Td (kept) Tj 0 -12 Td (lost) Tj Tx ET"}));
    EXPECT_EQ(p.result.status, 0);
    EXPECT_EQ(p.dump, "10:packed\n10:kept\n");
}

TEST(PdfDocument, DocumentErrorsAreReported) {
    struct row {
        std::string doc;
        const char* error;
    };
    const std::string font_nowhere =
        make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                  "<< /Type /Page /Resources << /Font << /F1 4 0 R >> >> /Contents 5 0 R >>",
                  "<< /Type /Encoding /Differences [1 /a] >>", stream_object("BT (x) Tj ET")},
                 "");
    const row rows[] = {
        {font_nowhere, "PDF parser error: Wrong Font Object"},
        {"not a pdf at all", "PDF parser error: Header %PDF- not found"},
        {make_pdf({"<< /Type /Pages >>"}, ""), "PDF parser error: Wrong Catalog"},
        {make_pdf({"<< /Type /Catalog >>"}, ""), "PDF parser error: Pages not found"},
    };
    for (const row& r : rows) {
        auto p = parse_pdf(r.doc);
        EXPECT_EQ(p.result.status, 2) << r.error;
        EXPECT_EQ(p.result.error, r.error);
    }
}

TEST(PdfDocument, PageTreeOrderScopesAndCycles) {
    // Root -> [inner Pages -> [page A, page B], page C]; inner redefines /F1 as Helvetica-Bold
    // (a larger-looking font is still the same size: only the face differs), C sees Courier.
    // The inner node also lists the root and itself as kids: visited nodes are skipped.
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R 6 0 R] /Count 3 /Resources << /Font << /F1 7 0 R >> >> >>",
        "<< /Type /Pages /Kids [4 0 R 5 0 R 2 0 R 3 0 R] /Count 2 "
        "/Resources << /Font << /F1 8 0 R >> >> >>",
        "<< /Type /Page /Parent 3 0 R /Contents 9 0 R >>",
        "<< /Type /Page /Parent 3 0 R /Contents [10 0 R 11 0 R] >>",
        "<< /Type /Page /Parent 2 0 R /Contents 12 0 R >>",
        "<< /Type /Font /BaseFont /Courier >>",
        "<< /Type /Font /BaseFont /Helvetica-Bold >>",
        stream_object("BT /F1 10 Tf (alpha) Tj ET"),
        stream_object("BT /F1 10 Tf (beta"),
        stream_object(") Tj ET"),
        stream_object("BT /F1 10 Tf (gamma) Tj ET"),
    };
    auto p = parse_pdf(make_pdf(objects, ""));
    EXPECT_EQ(p.result.status, 0) << p.result.error;
    EXPECT_EQ(p.dump, "10:alpha\n10:beta\n10:gamma\n");

    // /Count 0 hides the kids.
    auto q = parse_pdf(
        make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 0 >>",
                  "<< /Type /Page /Contents 4 0 R >>", stream_object("BT (hidden) Tj ET")},
                 ""));
    EXPECT_EQ(q.result.status, 0);
    EXPECT_EQ(q.dump, "");
}

namespace {

// A page in three fonts: F1 a composite font (Identity-H) read through its ToUnicode map
// (bfchar, bfrange with a start code and with an array) with /W widths; F2 a subset TrueType
// font whose map overrides its encoding; F3 a composite font with a UTF-16 CMap.
std::string mapped_fonts_doc(const std::string& content, bool with_maps) {
    const std::string cid_map = R"(/CIDInit /ProcSet findresource begin 12 dict begin begincmap
1 begincodespacerange <0000> <FFFF> endcodespacerange
2 beginbfchar <0001> <0048> <0002> <0069> endbfchar
2 beginbfrange <000A> <000C> <0061> <0014> <0015> [<00660069> <03B1>] endbfrange
endcmap CMapName currentdict /CMap defineresource pop end end)";
    const std::string byte_map = "1 begincodespacerange <00> <FF> endcodespacerange\n"
                                 "1 beginbfrange <41> <42> <0436> endbfrange";
    const std::string maps = with_maps ? " /ToUnicode 7 0 R" : "";
    return make_pdf(
        {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         "<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 4 0 R /F2 8 0 R /F3 10 0 R >> "
         ">> /Contents 5 0 R >>",
         "<< /Type /Font /Subtype /Type0 /BaseFont /ABCDEF+Sans /Encoding /Identity-H "
         "/DescendantFonts [6 0 R]" +
             maps + " >>",
         stream_object(content),
         "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /ABCDEF+Sans /DW 1000 "
         "/W [1 [500 600] 10 12 250] >>",
         stream_object(cid_map),
         "<< /Type /Font /Subtype /TrueType /BaseFont /XYZ+Serif /FirstChar 65 /LastChar 66 "
         "/Widths [500 500] /Encoding /WinAnsiEncoding" +
             (with_maps ? std::string(" /ToUnicode 9 0 R") : "") + " >>",
         stream_object(byte_map),
         "<< /Type /Font /Subtype /Type0 /BaseFont /Song /Encoding /UniGB-UCS2-H "
         "/DescendantFonts [11 0 R] >>",
         "<< /Type /Font /Subtype /CIDFontType0 /BaseFont /Song >>"},
        "");
}

} // namespace

TEST(PdfDocument, FontsReadThroughTheirUnicodeMaps) {
    // "H" is 5 wide by /W: "i" placed there joins it into one word.
    const std::string content = "BT /F1 10 Tf 72 700 Td <0001> Tj 5 0 Td <0002> Tj "
                                "-5 -20 Td <000A000B000C0014> Tj /F2 10 Tf 0 -20 Td (AB) Tj "
                                "/F3 10 Tf 0 -20 Td <4E2D6587> Tj /F1 10 Tf 0 -20 Td <0015> Tj ET";
    auto p = parse_pdf(mapped_fonts_doc(content, true));
    ASSERT_EQ(p.result.status, 0) << p.result.error;
    EXPECT_EQ(p.dump, "10:Hi abcfi / 11:\xd0\xb6\xd0\xb7 \xe4\xb8\xad\xe6\x96\x87 / "
                      "10:\xce\xb1\n");

    // Without the maps the composite font's codes are no text: a page of nothing but such
    // text is reported, not stored empty; a little of it beside readable text is dropped.
    p = parse_pdf(mapped_fonts_doc("BT /F1 10 Tf 72 700 Td <000100020014> Tj ET", false));
    EXPECT_EQ(p.result.status, 2);
    EXPECT_EQ(p.result.error, "PDF parser error: No readable text: the fonts map their character "
                              "codes to no characters");
    p = parse_pdf(mapped_fonts_doc("BT /F3 10 Tf 72 700 Td <0052006500610064> Tj "
                                   "/F1 10 Tf 0 -20 Td <0001> Tj ET",
                                   false));
    EXPECT_EQ(p.result.status, 0) << p.result.error;
    EXPECT_EQ(p.dump, "10:Read\n");
}
