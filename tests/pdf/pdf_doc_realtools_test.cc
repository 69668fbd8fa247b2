// PDFs made at test time by independent tools (groff, ghostscript, qpdf), read by our parser
// and compared with what poppler's pdftotext and pdfinfo make of the same files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "pdf_doc_util.h"

namespace {

std::string tmpdir() {
    const char* t = std::getenv("TEST_TMPDIR");
    return t ? t : "/tmp/";
}

bool have(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

bool run(const std::string& cmd) {
    return std::system(cmd.c_str()) == 0;
}

void write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Lower-cased ASCII letter-and-digit words of a text.
std::set<std::string> ascii_words(const std::string& text) {
    std::set<std::string> out;
    std::string w;
    for (char c : text + " ") {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            w += c;
        } else if (c >= 'A' && c <= 'Z') {
            w += static_cast<char>(c - 'A' + 'a');
        } else {
            if (w.size() > 1) out.insert(w);
            w.clear();
        }
    }
    return out;
}

std::set<std::string> our_words(const pdf_test::parsed& p) {
    std::set<std::string> out;
    for (const auto& w : pdf_test::words(*p.result.document))
        for (const auto& a : ascii_words(w))
            out.insert(a);
    return out;
}

double overlap(const std::set<std::string>& reference, const std::set<std::string>& ours) {
    if (reference.empty()) return 0;
    std::size_t hit = 0;
    for (const auto& w : reference)
        hit += ours.count(w);
    return static_cast<double>(hit) / reference.size();
}

const char* const ms_source = R"(.TL
Crawling Notes for Testing
.AU
Jane Tester
.NH
Introduction
.PP
The quick brown fox jumps over the lazy dog while the crawler indexes documents.
Hyphenation and justification make interesting spacing across the whole paragraph,
which should still produce recognisable words for the extraction comparison.
.PP
\fBBold words\fP and \fIitalic words\fP appear inside ordinary sentences here.
.bp
.PP
A second page follows with a few more sentences about archives, collections and watches,
scheduled crawls and the index server that answers every query of the portal.
)";

} // namespace

TEST(PdfRealTools, GroffDocumentMatchesPdftotext) {
    if (!have("groff") || !have("pdftotext")) GTEST_SKIP() << "groff or pdftotext missing";
    const std::string dir = tmpdir();
    write(dir + "doc.ms", ms_source);
    ASSERT_TRUE(run("groff -ms -Tpdf '" + dir + "doc.ms' > '" + dir + "groff.pdf' 2>/dev/null"));
    ASSERT_TRUE(run("pdftotext '" + dir + "groff.pdf' '" + dir + "groff.txt'"));
    auto p = pdf_test::parse_pdf(pdf_test::read_file(dir + "groff.pdf"));
    ASSERT_EQ(p.result.status, 0) << p.result.error;
    const auto reference = ascii_words(pdf_test::read_file(dir + "groff.txt"));
    EXPECT_GE(overlap(reference, our_words(p)), 0.95) << p.dump;
    // The title is set larger than the body text, the bold and italic runs in other faces.
    EXPECT_NE(p.dump.find("14:Crawling Notes for Testing"), std::string::npos) << p.dump;
    EXPECT_NE(p.dump.find("11:Bold words"), std::string::npos) << p.dump;
    EXPECT_NE(p.dump.find("10:The quick brown fox"), std::string::npos) << p.dump;
}

TEST(PdfRealTools, GhostscriptDocumentWithInformation) {
    if (!have("ps2pdf") || !have("pdfinfo") || !have("pdftotext"))
        GTEST_SKIP() << "ghostscript or poppler-utils missing";
    const std::string dir = tmpdir();
    write(dir + "a.ps", R"(%!PS
[ /Title (Quarterly Figures) /Author (Ann Author) /Subject (Numbers) /Keywords (alpha beta)
  /DOCINFO pdfmark
/Helvetica findfont 12 scalefont setfont
72 700 moveto (Sales went up in every region this quarter.) show
72 684 moveto (The western region led with a strong finish.) show
/Times-Bold findfont 20 scalefont setfont
72 650 moveto (Outlook) show
/Times-Roman findfont 12 scalefont setfont
72 630 moveto (Next quarter looks similar, with new products planned.) show
showpage
)");
    ASSERT_TRUE(run("ps2pdf '" + dir + "a.ps' '" + dir + "gs.pdf' >/dev/null 2>&1"));
    ASSERT_TRUE(run("pdftotext '" + dir + "gs.pdf' '" + dir + "gs.txt'"));
    ASSERT_TRUE(run("pdfinfo '" + dir + "gs.pdf' > '" + dir + "gs.info'"));
    auto p = pdf_test::parse_pdf(pdf_test::read_file(dir + "gs.pdf"));
    ASSERT_EQ(p.result.status, 0) << p.result.error;
    EXPECT_NE(pdf_test::read_file(dir + "gs.info").find("Quarterly Figures"), std::string::npos);
    EXPECT_EQ(p.dump.rfind("15:Quarterly Figures\n1:Ann Author\n3:Numbers\n2:alpha beta\n", 0), 0u)
        << p.dump;
    EXPECT_GE(overlap(ascii_words(pdf_test::read_file(dir + "gs.txt")), our_words(p)), 0.95)
        << p.dump;
    EXPECT_NE(p.dump.find("14:Outlook"), std::string::npos) << p.dump;
}

TEST(PdfRealTools, QpdfTransformationsReadAlike) {
    if (!have("groff") || !have("qpdf")) GTEST_SKIP() << "groff or qpdf missing";
    const std::string dir = tmpdir();
    write(dir + "q.ms", ms_source);
    ASSERT_TRUE(run("groff -ms -Tpdf '" + dir + "q.ms' > '" + dir + "q.pdf' 2>/dev/null"));
    const auto original = pdf_test::parse_pdf(pdf_test::read_file(dir + "q.pdf"));
    ASSERT_EQ(original.result.status, 0);
    const char* const variants[] = {
        "--stream-data=uncompress --object-streams=disable",
        "--linearize",
        "--allow-weak-crypto --encrypt '' owner 40 --",
        "--allow-weak-crypto --encrypt '' owner 128 --use-aes=n --",
        "--qdf --object-streams=disable",
    };
    for (const char* v : variants) {
        const std::string out = dir + "variant.pdf";
        ASSERT_TRUE(run(std::string("qpdf ") + v + " '" + dir + "q.pdf' '" + out + "'")) << v;
        auto p = pdf_test::parse_pdf(pdf_test::read_file(out));
        EXPECT_EQ(p.result.status, 0) << v << ": " << p.result.error;
        EXPECT_EQ(p.dump, original.dump) << v;
    }
    ASSERT_TRUE(run("qpdf --allow-weak-crypto --encrypt secret owner 40 -- '" + dir + "q.pdf' '" +
                    dir + "locked.pdf'"));
    auto locked = pdf_test::parse_pdf(pdf_test::read_file(dir + "locked.pdf"));
    EXPECT_EQ(locked.result.status, 2);
    EXPECT_EQ(locked.result.error, "PDF parser error: This pdf requires user password");
}
