// The content-stream interpreter over decoded streams (fonts unknown: StandardEncoding and
// the Courier widths of the default record).
#include <gtest/gtest.h>

#include <vector>

#include "pdfparser/pdf-content.h"

using namespace PdfParser;

namespace {

std::vector<TextSnapshot> run(const std::string& stream) {
    FontTable fonts;
    ContentInterpreter ci(stream, fonts);
    std::vector<TextSnapshot> out;
    for (;;) {
        TextSnapshot s = ci.step();
        const bool more = ci.found();
        out.push_back(std::move(s));
        if (!more) break;
    }
    return out;
}

std::string error_of(const std::string& stream) {
    try {
        run(stream);
    } catch (const BadObjectException& e) {
        return e.message();
    }
    return "";
}

} // namespace

TEST(PdfContent, TJInsertsASpaceForLargeGapsOnly) {
    auto s = run("BT /F1 10 Tf [(Hello) -200 (World)] TJ ET");
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].text, "Hello World");
    // 10 glyphs of 600 at size 10, and the 200/1000 em gap.
    EXPECT_DOUBLE_EQ(s[0].width, 10 * 6.0 + 2.0);
    EXPECT_DOUBLE_EQ(s[0].font.size, 10);
    EXPECT_EQ(run("BT /F1 10 Tf [(Hello) -100 (World)] TJ ET")[0].text, "HelloWorld");
}

TEST(PdfContent, PositionsFollowTheTextOperators) {
    // BT after cm starts at the translation; Td moves relative to the line start.
    auto s = run("1 0 0 1 72 700 cm BT /F1 10 Tf (a) Tj 0 -20 Td (b) Tj ET");
    ASSERT_EQ(s.size(), 2u);
    EXPECT_DOUBLE_EQ(s[0].x, 72);
    EXPECT_DOUBLE_EQ(s[0].y, 700);
    EXPECT_DOUBLE_EQ(s[1].x, 72);
    EXPECT_DOUBLE_EQ(s[1].y, 680);

    // T* moves down by the leading (TL positive), TD sets it from its own move.
    s = run("BT 12 TL 0 100 Td (a) Tj T* (b) Tj ET");
    EXPECT_DOUBLE_EQ(s[1].y - s[0].y, -12);
    s = run("BT 0 100 Td (a) Tj 0 -14 TD (b) Tj T* (c) Tj (d) ' ET");
    EXPECT_DOUBLE_EQ(s[1].y, 86);
    EXPECT_DOUBLE_EQ(s[2].y, 72);
    EXPECT_DOUBLE_EQ(s[3].y, 58);

    // Tm sets the matrix; a string that follows another on the line starts where it ended.
    s = run("BT /F1 10 Tf 1 0 0 1 50 60 Tm (ab) Tj (cd) Tj ET");
    EXPECT_DOUBLE_EQ(s[0].x, 50);
    EXPECT_DOUBLE_EQ(s[1].x, 62);
    EXPECT_DOUBLE_EQ(s[1].y, 60);

    // The " operator sets word and character spacing; word spacing counts for spaces only.
    s = run("BT /F1 10 Tf 10 TL 5 1 (a b) \" ET");
    EXPECT_DOUBLE_EQ(s[0].width, 3 * 6.0 + 3 * 1 + 5);
    EXPECT_DOUBLE_EQ(s[0].Tw, 5);
    EXPECT_DOUBLE_EQ(s[0].Tc, 1);
}

TEST(PdfContent, StringsNamesAndSkippedSections) {
    auto s = run("BT (a\\(b\\)c \\101\\53x \\0) Tj <48656C6C6F> Tj <4 1 4> Tj ET");
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].text, "a(b)c A+x "); // \0 shows nothing
    EXPECT_EQ(s[1].text, "Hello");
    EXPECT_EQ(s[2].text, "A@");
    // Inline images, property dictionaries, comments and unknown fonts pass quietly.
    s = run("q BI /W 2 /H 2 ID \x01\x02\xff EI Q /P <</MCID 0 /T (>>)>> BDC % note (x) Tj\n"
            "BT /Nope 9 Tf .5 g -.5 0 Td (ok) Tj ET EMC");
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].text, "ok");
    EXPECT_EQ(s[0].font.name, "Unknown");
    // Nothing shown at all: one empty snapshot.
    s = run("0 0 m 10 10 l S");
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].text, "");
    // An image without EI or a dictionary without >> consumes the rest.
    EXPECT_EQ(run("BI /W 1 ID xx (a) Tj").back().text, "");
    EXPECT_EQ(run("<< /A (b) Tj").back().text, "");
}

TEST(PdfContent, MalformedOperatorsThrow) {
    struct row {
        const char* stream;
        const char* message;
    };
    const row rows[] = {
        {"BT 1 2 Tc (a) Tj ET", "Unexpected token : Tj"},
        {"BT Tc", "Unexpected token : Tc"},
        {"BT /F1 Tc", "Unexpected param : /F1"},
        {"BT 1 /F1 Tf", "Unexpected param : /F1"},
        {"BT /F1 /F2 Tf", "Unexpected param : /F2"},
        {"BT 3 4 Tf", "Unexpected param : 3"},
        {"BT 1 (x) Td", "Unexpected param : Td"},
        {"BT 1 (x) TD", "Unexpected token : TD"},
        {"BT 1 2 3 4 5 Tm", "Unexpected token : Tm"},
        {"BT 1 0 0 1 /x 7 Tm", "Unexpected param : 7 /x"},
        {"1 0 0 /d 5 6 cm", "Unexpected param : 6 5"},
        {"BT 1 T*", "Unexpected token : T*"},
        {"BT /a 1 (x) \"", "Unexpected param : \""},
        {"BT [(a) /N] TJ", "Unexpected param : /N"},
        {"BT (a) TJ", "Unexpected token : TJ"},
        {"BT Ex", "Wrong TextObject, probably TextObject corrupted E?"},
        {"BT Tx", "Wrong TextObject, probably TextObject corrupted T?"},
        {"rx", "Wrong TextObject, probably TextObject corrupted r?"},
        {"BT } ET", "Wrong TextObject, probably TextObject corrupted"},
    };
    for (const row& r : rows)
        EXPECT_EQ(error_of(r.stream), r.message) << r.stream;
}

TEST(PdfContent, HostileStreamsStayBounded) {
    // Unbalanced Q, many q, a huge operand stack and a huge TJ array.
    std::string s = "Q Q Q ";
    for (int i = 0; i < 10000; ++i)
        s += "q ";
    for (int i = 0; i < 100000; ++i)
        s += "1 ";
    s += "n BT [";
    for (int i = 0; i < 100000; ++i)
        s += "(a) -300 ";
    s += "] TJ ET";
    auto out = run(s);
    ASSERT_EQ(out.size(), 1u);
    // The operand stack keeps its newest entries only.
    EXPECT_GT(out[0].text.size(), 1000u);
    EXPECT_LE(out[0].text.size(), ContentInterpreter::max_operands);
    // An unterminated string ends with the stream.
    EXPECT_EQ(run("BT (abc").back().text, "");
}
