// Files made by real tools: Ghostscript's ps2pdf writes the documents, qpdf rewrites them
// (uncompressed, compressed, linearized, encrypted with RC4 at 40 and 128 bits, with and
// without a user password, with AES) and says what each stream decodes to.
#include <gtest/gtest.h>

#include <string>

#include "pdf_core_util.h"
#include "pdfparser/pdf-security.h"
#include "pdfparser/pdf-xref.h"

using namespace PdfParser;
using pdf_core_test::Doc;
using pdf_core_test::read_file;
using pdf_core_test::run;

namespace {

const char* const source_ps = "%!PS\n"
                              "[ /Title (Quarterly Report) /Author (J. Doe) /Subject () /Keywords "
                              "(alpha beta) /DOCINFO pdfmark\n"
                              "/Helvetica findfont 12 scalefont setfont\n"
                              "72 700 moveto (Secret text on page one \\(with brackets\\)) show\n"
                              "showpage\n"
                              "/Times-Roman findfont 14 scalefont setfont\n"
                              "72 700 moveto (Second page) show\n"
                              "0 0 1 setrgbcolor 72 600 moveto 300 600 lineto stroke\n"
                              "showpage\n";

class PdfCoreTools : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!pdf_core_test::have_tool("qpdf") || !pdf_core_test::have_tool("ps2pdf")) return;
        dir_ = pdf_core_test::tmp_dir();
        pdf_core_test::write_file(dir_ + "src.ps", source_ps);
        const std::string src = dir_ + "src.pdf";
        const std::string rc4 = "qpdf --allow-weak-crypto --encrypt ";
        run("ps2pdf " + dir_ + "src.ps " + src);
        run("qpdf --qdf " + src + " " + dir_ + "qdf.pdf");
        run("qpdf --compress-streams=y --recompress-flate " + src + " " + dir_ + "z.pdf");
        run("qpdf --linearize " + src + " " + dir_ + "lin.pdf");
        run(rc4 + "'' owner 40 -- " + src + " " + dir_ + "r2.pdf");
        run(rc4 + "'' owner 40 --modify=n --annotate=n -- " + src + " " + dir_ + "p44.pdf");
        run(rc4 + "'' owner 128 --use-aes=n -- " + src + " " + dir_ + "r3.pdf");
        run(rc4 + "user owner 40 -- " + src + " " + dir_ + "user40.pdf");
        run(rc4 + "user owner 128 --use-aes=n -- " + src + " " + dir_ + "user128.pdf");
        run("qpdf --encrypt '' owner 128 --use-aes=y -- " + src + " " + dir_ + "aes.pdf");
        ready_ = true;
    }
    void SetUp() override {
        if (!ready_) GTEST_SKIP() << "qpdf and ps2pdf are needed";
    }

    // Opens the file, then checks every stream that the filters support against qpdf's
    // decoding of the same object; returns the number of streams compared.
    static int compare_streams(const std::string& name) {
        const std::string path = dir_ + name;
        Doc doc(read_file(path));
        FileStructure fs(0, doc.length());
        int compared = 0;
        for (std::uint32_t n = 1; n < XrefTable::instance().size(); ++n) {
            const XrefEntry& e = fs.entry(n);
            if (e.free) continue;
            const Span body = object(e.position, doc.length());
            std::string text;
            for (Pos p = body.start; p < body.end && p < body.start + 2000; ++p)
                text += static_cast<char>(ByteSource::byte_at(p));
            // Only stream objects; predictors (/DecodeParms) are not applied by these filters.
            if (text.find("stream") == std::string::npos ||
                text.find("/DecodeParms") != std::string::npos)
                continue;
            std::string ours;
            try {
                StreamObject s(e.position, n, e.generation);
                ByteSink out;
                s.decode(out);
                ours = out.str();
            } catch (const PdfStreamFilter::MultipleFilterError&) {
                continue; // an image filter the parser does not read
            }
            int status = 0;
            const std::string theirs = run("qpdf --show-object=" + std::to_string(n) +
                                               " --filtered-stream-data " + path + " 2>/dev/null",
                                           &status);
            EXPECT_EQ(status, 0) << name << " object " << n;
            EXPECT_EQ(ours, theirs) << name << " object " << n;
            ++compared;
        }
        return compared;
    }

    static std::string info_string(const std::string& name, const char* key) {
        Doc doc(read_file(dir_ + name));
        FileStructure fs(0, doc.length());
        const ObjectRef info = fs.info();
        const Span body = object(fs.entry(info.number).position, doc.length());
        return Dictionary(body.start, doc.length(), info.number, info.generation).get_string(key);
    }

    static std::string open_error(const std::string& name) {
        Doc doc(read_file(dir_ + name));
        try {
            FileStructure fs(0, doc.length());
        } catch (const PdfParserException& e) {
            return e.message();
        }
        return "";
    }

    static inline std::string dir_;
    static inline bool ready_ = false;
};

} // namespace

TEST_F(PdfCoreTools, StreamsDecodeAsQpdfDecodesThem) {
    for (const char* name :
         {"src.pdf", "qdf.pdf", "z.pdf", "lin.pdf", "r2.pdf", "p44.pdf", "r3.pdf"})
        EXPECT_GE(compare_streams(name), 2) << name; // two page contents at least
}

TEST_F(PdfCoreTools, InformationStringsDecrypt) {
    for (const char* name : {"src.pdf", "r2.pdf", "p44.pdf", "r3.pdf"}) {
        EXPECT_EQ(info_string(name, "/Title"), "Quarterly Report") << name;
        EXPECT_EQ(info_string(name, "/Author"), "J. Doe") << name;
        EXPECT_EQ(info_string(name, "/Subject"), "") << name;
    }
}

TEST_F(PdfCoreTools, EncryptionDictionaries) {
    {
        Doc doc(read_file(dir_ + "p44.pdf"));
        FileStructure fs(0, doc.length());
        const XrefTable& t = XrefTable::instance();
        EXPECT_TRUE(t.encrypted);
        EXPECT_EQ(t.key_length, 40);
        EXPECT_EQ(t.file_key.size(), 16u);
        // /P -44 enters the key as its two's-complement bytes: the same handler with /P -4
        // (the r2 file shares /O and /ID) gives another key.
        const Pos dict = doc.at("/Filter /Standard") - 3;
        SecurityHandler h;
        h.read(dict, doc.length(), [] { return std::string("id"); });
        EXPECT_EQ(h.permissions(), -44);
        EXPECT_EQ(h.revision(), 2);
        EXPECT_EQ(h.version(), 1);
    }
    EXPECT_EQ(open_error("user40.pdf"), "This pdf requires user password");
    EXPECT_EQ(open_error("user128.pdf"), "This pdf requires user password");
    EXPECT_EQ(open_error("aes.pdf"), "Unsupported encrypt");

    // Without /Length the key is 40 bits; a wrong length gives a key that fails the check.
    std::string r2 = read_file(dir_ + "r2.pdf");
    const auto at = r2.find("/Length 40", r2.find("/Filter /Standard"));
    ASSERT_NE(at, std::string::npos);
    std::string no_length = r2, wrong_length = r2;
    no_length.replace(at, 10, std::string(10, ' '));
    wrong_length.replace(at, 10, "/Length 48");
    pdf_core_test::write_file(dir_ + "nolength.pdf", no_length);
    pdf_core_test::write_file(dir_ + "wronglength.pdf", wrong_length);
    EXPECT_EQ(open_error("nolength.pdf"), "");
    EXPECT_EQ(info_string("nolength.pdf", "/Title"), "Quarterly Report");
    EXPECT_EQ(open_error("wronglength.pdf"), "This pdf requires user password");
}

TEST_F(PdfCoreTools, EncryptionDictionaryErrors) {
    std::string r2 = read_file(dir_ + "r2.pdf");
    const auto dict = r2.find("/Filter /Standard");
    const auto edit = [&](const std::string& from, const std::string& to) {
        std::string out = r2;
        const auto at = out.find(from, dict - 3);
        if (at == std::string::npos || to.size() != from.size()) return std::string();
        out.replace(at, from.size(), to);
        return out;
    };
    const std::string id_at = "/ID";
    const struct {
        std::string from, to, message;
    } cases[] = {
        {"/Filter /Standard", "/Filter /Stundard", "Unsupported encrypt"},
        {"/Filter /Standard", "/Fxlter /Standard", "Bad Encrypt"},
        {"/R 2", "/Q 2", "Bad encrypt revision"},
        {"/V 1", "/W 1", "Bad encrypt version"},
        {"/V 1", "/V 4", "Unsupported encrypt"},
        {"/P -4", "/Q -4", "Bad encrypt privileges"},
        {"/U <", "/X <", "Bad encrypt user key"},
        {"/O <", "/X <", "Bad encrypt owner key"},
    };
    for (const auto& c : cases) {
        const std::string bytes = edit(c.from, c.to);
        ASSERT_FALSE(bytes.empty()) << c.from;
        pdf_core_test::write_file(dir_ + "edit.pdf", bytes);
        EXPECT_EQ(open_error("edit.pdf"), c.message) << c.from;
    }
    std::string no_id = r2;
    no_id.replace(no_id.rfind("/ID"), 3, "/XD");
    pdf_core_test::write_file(dir_ + "edit.pdf", no_id);
    EXPECT_EQ(open_error("edit.pdf"), "Trailer ID not found");
}
