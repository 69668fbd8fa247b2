// PDFs made at test time by independent tools (groff, ghostscript, qpdf), read by our parser
// and compared with what poppler's pdftotext and pdfinfo make of the same files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "../support/command.h"
#include "pdf_doc_util.h"

namespace {

std::string tmpdir() {
    const char* t = std::getenv("TEST_TMPDIR");
    return t ? t : "/tmp/";
}

constexpr auto& have = tn_test::have_program;

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

// Our words of a parsed document, split again as split does for the reference text.
std::set<std::string> our_words(const pdf_test::parsed& p,
                                std::set<std::string> (*split)(const std::string&) = ascii_words) {
    std::set<std::string> out;
    for (const auto& w : pdf_test::words(*p.result.document))
        for (const auto& a : split(w))
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

namespace {

// Words of a UTF-8 text: runs of ASCII letters and digits and of non-ASCII letters (general
// punctuation, quotes and symbols separate words), ASCII lower-cased; single characters are
// left out.
std::set<std::string> utf8_words(const std::string& text) {
    std::set<std::string> out;
    std::string w;
    const std::string t = text + " ";
    for (std::size_t i = 0; i < t.size();) {
        const auto c = static_cast<unsigned char>(t[i]);
        std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        n = std::min(n, t.size() - i);
        std::uint32_t cp = n == 1 ? c : c & (0x3F >> (n - 1));
        for (std::size_t k = 1; k < n; ++k)
            cp = cp << 6 | (static_cast<unsigned char>(t[i + k]) & 0x3F);
        const bool letter = (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z') ||
                            (cp >= '0' && cp <= '9') ||
                            (cp >= 0xC0 && cp != 0xD7 && cp != 0xF7 &&
                             !(cp >= 0x2000 && cp <= 0x2BFF) && !(cp >= 0x3000 && cp <= 0x303F) &&
                             !(cp >= 0xFE30 && cp <= 0xFE6F) && !(cp >= 0xFF00 && cp <= 0xFF20));
        if (letter) {
            for (std::size_t k = 0; k < n; ++k)
                w += (cp >= 'A' && cp <= 'Z') ? static_cast<char>(cp - 'A' + 'a') : t[i + k];
        } else {
            if (w.size() > 1) out.insert(w);
            w.clear();
        }
        i += n;
    }
    return out;
}

// The share of pdftotext's words of a file that our parser finds as well.
double word_recall(const std::string& pdf, const pdf_test::parsed& p, std::string& missing) {
    const std::string txt = pdf + ".txt";
    if (!run("pdftotext -enc UTF-8 '" + pdf + "' '" + txt + "'")) return -1;
    const auto reference = utf8_words(pdf_test::read_file(txt));
    const auto ours = our_words(p, utf8_words);
    if (reference.empty()) return 0;
    std::size_t hit = 0;
    for (const auto& w : reference) {
        if (ours.count(w))
            ++hit;
        else if (missing.size() < 300)
            missing += w + " ";
    }
    return static_cast<double>(hit) / reference.size();
}

const char* const justified_ms = R"(.PP
When the new mail gateway and the relay are configured together, every message passes through
the scanner first and then reaches the final mailbox of its recipient after a short delay that
nobody notices at all in practice, because the scanner keeps pace with the incoming mail.
.PP
\f(CWcode words\fP in a monospace font, then \fBbold\fP and \fIitalic\fP text again for a fair
comparison of spacing across a justified paragraph with several lines of ordinary prose.
.bp
.NH
Second page heading
.PP
The efficient office staff finished the difficult workflow configuration before the fiscal
deadline, and the archive of the gateway keeps every message for a year.
)";

} // namespace

// Files of today's tools (cross-reference and object streams, linearized and encrypted object
// streams, letter-spaced justified text, subset TrueType and CID fonts that only a ToUnicode
// map can read): each must parse, and find nearly every word that pdftotext finds.
TEST(PdfRealTools, WordRecallAgainstPdftotext) {
    if (!have("groff") || !have("ps2pdf") || !have("qpdf") || !have("pdftotext") ||
        !have("pdftocairo"))
        GTEST_SKIP() << "groff, ghostscript, qpdf or poppler-utils missing";
    const std::string dir = tmpdir();
    const std::string data = std::string(TN_TEST_DATA) + "/tools/";
    write(dir + "j.ms", justified_ms);
    ASSERT_TRUE(run("groff -ms -Tpdf '" + dir + "j.ms' > '" + dir + "groff.pdf' 2>/dev/null"));
    // grops sets justified lines with awidthshow: ghostscript writes Tc and Tw between the
    // pieces of one line.
    ASSERT_TRUE(run("groff -ms -Tps '" + dir + "j.ms' > '" + dir + "j.ps' 2>/dev/null"));
    const struct {
        const char* name;
        std::string make; // shell command writing the file "<dir><name>.pdf", or "" for data
        std::string file;
    } cases[] = {
        {"groff", "cp '" + dir + "groff.pdf' '" + dir + "groff-copy.pdf'", dir + "groff-copy.pdf"},
        {"gs-1.4", "ps2pdf -dCompatibilityLevel=1.4 '" + dir + "j.ps' '" + dir + "gs14.pdf'",
         dir + "gs14.pdf"},
        {"gs-1.7", "ps2pdf -dCompatibilityLevel=1.7 '" + dir + "j.ps' '" + dir + "gs17.pdf'",
         dir + "gs17.pdf"},
        {"qpdf object streams",
         "qpdf --object-streams=generate --compress-streams=y '" + dir + "gs17.pdf' '" + dir +
             "objstm.pdf'",
         dir + "objstm.pdf"},
        {"qpdf object streams, linearized",
         "qpdf --object-streams=generate --linearize '" + dir + "groff.pdf' '" + dir +
             "objstm-lin.pdf'",
         dir + "objstm-lin.pdf"},
        {"qpdf object streams, RC4 128",
         "qpdf --object-streams=generate --allow-weak-crypto --encrypt '' owner 128 "
         "--use-aes=n -- '" +
             dir + "gs14.pdf' '" + dir + "objstm-rc4.pdf'",
         dir + "objstm-rc4.pdf"},
        {"cairo CID fonts", "pdftocairo -pdf '" + dir + "groff.pdf' '" + dir + "cairo.pdf'",
         dir + "cairo.pdf"},
        {"LibreOffice subset TrueType", "", data + "lo_writer.pdf"},
        {"LibreOffice through cairo",
         "pdftocairo -pdf '" + data + "lo_writer.pdf' '" + dir + "lo-cairo.pdf'",
         dir + "lo-cairo.pdf"},
    };
    for (const auto& c : cases) {
        if (!c.make.empty()) ASSERT_TRUE(run(c.make)) << c.name;
        const std::string bytes = pdf_test::read_file(c.file);
        auto p = pdf_test::parse_pdf(bytes);
        ASSERT_EQ(p.result.status, 0) << c.name << ": " << p.result.error;
        std::string missing;
        const double recall = word_recall(c.file, p, missing);
        std::printf("word recall %-32s %.3f\n", c.name, recall);
        EXPECT_GE(recall, 0.95) << c.name << " misses: " << missing << "\n" << p.dump;
    }
}

// The justified groff text through ghostscript: the words around the letter-spaced pieces
// stay whole.
TEST(PdfRealTools, LetterSpacedLinesKeepTheirWords) {
    if (!have("groff") || !have("ps2pdf")) GTEST_SKIP() << "groff or ghostscript missing";
    const std::string dir = tmpdir();
    write(dir + "ls.ms", justified_ms);
    ASSERT_TRUE(
        run("groff -ms -Tps '" + dir + "ls.ms' 2>/dev/null | ps2pdf - '" + dir + "ls.pdf'"));
    const std::string pdf = pdf_test::read_file(dir + "ls.pdf");
    auto p = pdf_test::parse_pdf(pdf);
    ASSERT_EQ(p.result.status, 0) << p.result.error;
    const auto words = pdf_test::words(*p.result.document);
    for (const char* w : {"new", "mail", "gateway", "and", "every", "message", "the"})
        EXPECT_EQ(words.count(w), 1u) << w << "\n" << p.dump;
    for (const char* w : {"newm", "ail", "gatewaya", "nd"})
        EXPECT_EQ(words.count(w), 0u) << w << "\n" << p.dump;
}

// Real manuals installed on the machine: xdvipdfmx output with cross-reference and object
// streams and CID TrueType fonts with ToUnicode maps (the Debian Reference comes with the
// tests' packages), pdfTeX output with object streams (when installed).
TEST(PdfRealTools, InstalledManuals) {
    if (!have("pdftotext")) GTEST_SKIP() << "pdftotext missing";
    const char* const manuals[] = {
        "/usr/share/debian-reference/debian-reference.en.pdf",
        "/usr/share/doc/libtasn1-doc/libtasn1.pdf",
        "/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf",
    };
    int read = 0;
    for (const char* file : manuals) {
        if (!std::ifstream(file)) continue;
        ++read;
        auto p = pdf_test::parse_pdf(pdf_test::read_file(file));
        ASSERT_EQ(p.result.status, 0) << file << ": " << p.result.error;
        std::string missing;
        const std::string copy = tmpdir() + "manual.pdf";
        ASSERT_TRUE(run(std::string("cp '") + file + "' '" + copy + "'"));
        const double recall = word_recall(copy, p, missing);
        std::printf("word recall %-60s %.3f\n", file, recall);
        EXPECT_GE(recall, 0.95) << file << " misses: " << missing;
    }
    if (read == 0) GTEST_SKIP() << "no manual installed";
}
