// File structure: header, linearization, trailers, cross-reference sections and updates,
// indirect objects and stream objects.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>

#include <zlib.h>

#include "pdf_core_util.h"
#include "pdfparser/pdf-xref.h"

using namespace PdfParser;
using pdf_core_test::build_pdf;
using pdf_core_test::Doc;

namespace {

const std::vector<std::string> three = {"<< /Type /Catalog /Pages 2 0 R >>",
                                        "<< /Type /Pages /Kids [] /Count 0 >>",
                                        "<< /Title (Three) >>"};

// The message of the PdfParserException that f throws ("" when none).
template <class F> std::string error_of(F f) {
    try {
        f();
    } catch (const PdfParserException& e) {
        return e.message();
    }
    return "";
}

std::string parse_error(const std::string& bytes) {
    Doc doc(bytes);
    return error_of([&] { FileStructure fs(0, doc.length()); });
}

std::uint64_t last_startxref(const std::string& bytes) {
    const auto at = bytes.rfind("startxref");
    return std::stoull(bytes.substr(at + 9));
}

// An incremental update: the objects given (number -> body, or "free" for a free entry with
// generation 1), one section, a trailer with /Prev pointing to the file's last section.
std::string append_update(const std::string& bytes, const std::map<int, std::string>& objects,
                          const std::string& trailer_extra, int size) {
    std::string out = bytes;
    std::string section = "xref\n0 1\n0000000000 65535 f \n";
    for (const auto& [n, body] : objects) {
        char line[40];
        if (body == "free") {
            std::snprintf(line, sizeof line, "%d 1\n0000000000 00001 f \n", n);
        } else {
            std::snprintf(line, sizeof line, "%d 1\n%010zu 00000 n \n", n, out.size());
            out += std::to_string(n) + " 0 obj\n" + body + "\nendobj\n";
        }
        section += line;
    }
    const std::size_t xref = out.size();
    out += section + "trailer\n<< /Size " + std::to_string(size) + " /Root 1 0 R /Prev " +
           std::to_string(last_startxref(bytes)) + " " + trailer_extra + " >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return out;
}

std::string body_text(Span s) {
    std::string out;
    for (Pos p = s.start; p < s.end; ++p)
        out += static_cast<char>(ByteSource::byte_at(p));
    return out;
}

std::string deflate_bytes(const std::string& in) {
    uLongf n = compressBound(in.size());
    std::string out(n, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(in.data()),
             in.size());
    out.resize(n);
    return out;
}

} // namespace

TEST(PdfCoreXref, ReadsTableTrailerAndObjects) {
    Doc doc(build_pdf(three, "/Info 3 0 R"));
    FileStructure fs(0, doc.length());
    EXPECT_EQ(fs.version(), "1.4");
    EXPECT_EQ(fs.root().number, 1u);
    EXPECT_EQ(fs.info().number, 3u);
    EXPECT_EQ(XrefTable::instance().size(), 4u);
    EXPECT_TRUE(fs.entry(0).free);
    EXPECT_FALSE(fs.entry(2).free);
    EXPECT_EQ(fs.entry(2).position, doc.at("2 0 obj"));
    EXPECT_EQ(body_text(resolve(3)), "\n<< /Title (Three) >>\n");
    try {
        fs.entry(4);
        FAIL();
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "vector");
    }
}

TEST(PdfCoreXref, JunkBeforeHeaderAndNoInfo) {
    Doc doc(build_pdf(three, "", std::string(20, 'J')));
    FileStructure fs(0, doc.length());
    EXPECT_EQ(fs.data_start(), 20u);
    EXPECT_EQ(fs.info().number, 0u);
    EXPECT_EQ(fs.info().generation, 0);
    EXPECT_EQ(fs.entry(3).position, doc.at("3 0 obj"));
    EXPECT_EQ(body_text(resolve(1)), "\n<< /Type /Catalog /Pages 2 0 R >>\n");
}

TEST(PdfCoreXref, FrameErrors) {
    const std::string good = build_pdf(three);
    std::string flag_x = good;
    flag_x.replace(flag_x.find(" n \n", flag_x.find("xref")), 4, " x \n");
    std::string off_by_two = good.substr(0, good.rfind("startxref")) + "startxref\n" +
                             std::to_string(last_startxref(good) - 2) + "\n%%EOF\n";
    std::string no_root = good;
    no_root.replace(no_root.find("/Root 1 0 R"), 11, "");
    std::string no_size = good;
    no_size.replace(no_size.find("/Size"), 5, "/Sise");
    std::string no_startxref = good;
    no_startxref.replace(no_startxref.find("startxref"), 9, "startxrex");
    std::string no_trailer = good;
    no_trailer.replace(no_trailer.find("trailer"), 7, "trailor");
    const struct {
        std::string bytes, message;
    } cases[] = {
        {std::string(200, ' ') + good, "Header %PDF- not found"},
        {flag_x, "XRef table corrupted (flag ?)"},
        {off_by_two, "Xref not found"},
        {no_root, "Document root not found"},
        {no_size, "Xref size not found"},
        {no_startxref, "Startxref not found"},
        {no_trailer, "Trailer not found"},
        {"%PDF-1.4\n", "Trailer not found"},
        {"", "Header %PDF- not found"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parse_error(c.bytes), c.message) << c.message;
}

TEST(PdfCoreXref, IncrementalUpdates) {
    const std::string original = build_pdf(three, "/Info 3 0 R");
    // The newer section frees object 3 with generation 1 and redefines object 2.
    const std::string updated = append_update(
        original, {{2, "<< /Type /Pages /Count 0 /Updated true >>"}, {3, "free"}}, "", 4);
    Doc doc(updated);
    FileStructure fs(0, doc.length());
    EXPECT_TRUE(fs.entry(3).free);
    EXPECT_EQ(fs.entry(3).generation, 1);
    EXPECT_EQ(fs.entry(2).position, doc.bytes().rfind("2 0 obj"));
    EXPECT_EQ(fs.entry(1).position, doc.at("1 0 obj")); // from the older section
}

TEST(PdfCoreXref, PrevChainsThatLoopEnd) {
    const std::string original = build_pdf(three);
    // A second section whose /Prev names itself.
    std::string looped = original;
    const std::size_t xref = looped.size();
    looped += "xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Size 4 /Root 1 0 R /Prev " +
              std::to_string(xref) + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    Doc doc(looped);
    FileStructure fs(0, doc.length());
    EXPECT_TRUE(fs.entry(1).free); // the older section is never reached
}

TEST(PdfCoreXref, HugeSizeStaysSmall) {
    std::string bytes = build_pdf(three);
    bytes.replace(bytes.find("/Size 4"), 7, "/Size 4000000000");
    Doc doc(bytes);
    FileStructure fs(0, doc.length());
    EXPECT_EQ(XrefTable::instance().size(), 4000000000u);
    EXPECT_TRUE(fs.entry(3999999999u).free);
    EXPECT_EQ(fs.entry(2).position, doc.at("2 0 obj"));
}

TEST(PdfCoreXref, LinearizedFiles) {
    if (!pdf_core_test::have_tool("qpdf") || !pdf_core_test::have_tool("ps2pdf")) GTEST_SKIP();
    const std::string dir = pdf_core_test::tmp_dir();
    pdf_core_test::write_file(dir + "lin.ps", "%!PS\n/Helvetica findfont 12 scalefont setfont\n"
                                              "72 700 moveto (linear) show showpage\n");
    pdf_core_test::run("ps2pdf " + dir + "lin.ps " + dir + "lin0.pdf && qpdf --linearize " + dir +
                       "lin0.pdf " + dir + "lin.pdf");
    const std::string lin = pdf_core_test::read_file(dir + "lin.pdf");
    ASSERT_NE(lin.find("/Linearized"), std::string::npos);
    int root = 0;
    {
        Doc doc(lin);
        FileStructure fs(0, doc.length());
        EXPECT_TRUE(fs.linearized());
        root = static_cast<int>(fs.root().number);
        EXPECT_NE(body_text(resolve(root)).find("/Catalog"), std::string::npos);
    }
    // An update that makes the file longer than 1.25 times /L: read from its startxref.
    std::string padded = lin + "%" + std::string(lin.size() / 3, 'x') + "\n";
    const std::string updated = append_update(
        padded, {{root, "<< /Type /Catalog /Pages 99 0 R /Replaced true >>"}}, "", 200);
    Doc doc(updated);
    FileStructure fs(0, doc.length());
    EXPECT_FALSE(fs.linearized());
    EXPECT_NE(body_text(resolve(root)).find("/Replaced"), std::string::npos);
}

TEST(PdfCoreXref, ObjectBodies) {
    const std::string binary = std::string("((((x)") + '\0' + "\xff(endobj";
    Doc doc(build_pdf(
        {"<< /T (a string with endobj and \\) inside) >>",
         "<< /Length " + std::to_string(binary.size()) + " >>\nstream\n" + binary + "\nendstream",
         "42", "<< /Not /An /Integer >>", "% comment endobj\n7"}));
    FileStructure fs(0, doc.length());
    EXPECT_EQ(body_text(resolve(1)), "\n<< /T (a string with endobj and \\) inside) >>\n");
    EXPECT_EQ(resolve(2).end, doc.at("endobj", doc.at("endstream")));
    EXPECT_EQ(integer_object(fs.entry(3).position, doc.length()), 42u);
    EXPECT_EQ(error_of([&] { integer_object(fs.entry(4).position, doc.length()); }),
              "Wrong object type");
    EXPECT_EQ(integer_object(fs.entry(5).position, doc.length()), 7u);
    EXPECT_EQ(error_of([&] { object(doc.length() - 3, doc.length()); }),
              "Tag obj or endobj not found, probably Object corrupted");
}

TEST(PdfCoreXref, StreamObjects) {
    const std::string text = "BT /F1 12 Tf (Hi) Tj ET";
    const std::string z = deflate_bytes(text);
    const std::vector<std::string> objects = {
        "<< /Length 23 >>\nstream\n" + text + "\nendstream",
        "<< /Length 6 0 R /Filter /FlateDecode >>\nstream\r\n" + z + "\nendstream",
        "<< /Length 23 /Filter [ /Dumb ] >>\nstream\r" + text + "\nendstream",
        "<< /Length1 999 /Length 23 >>\nstream\n" + text + "  \n  endstream",
        "<< /Length 20 >>\nstream\n" + text + "\nendstream",
        std::to_string(z.size()),
        "<< /Length 23 /Filter /DCTDecode >>\nstream\n" + text + "\nendstream",
        "<< /Length 13 0 R >>\nstream\n" + text + "\nendstream",
        "<< /Length 5 0 >>\nstream\n" + text + "\nendstream",
        "<< /Filter /FlateDecode >>\nstream\n" + text + "\nendstream",
        "<< /Length 23 >>",
        "<< /Length 99999999999999999999 >>\nstream\n" + text + "\nendstream",
        "23",
    };
    std::string bytes = build_pdf(objects);
    // Object 13's entry points past the end of the data.
    const std::size_t table =
        bytes.find("\n", bytes.find("\n", bytes.rfind("\nxref\n") + 1) + 1) + 1;
    bytes.replace(table + 20 * 13, 10, "9999999999");
    Doc doc(bytes);
    FileStructure fs(0, doc.length());
    auto decoded = [&](std::uint32_t n) {
        StreamObject s(fs.entry(n).position, n, 0);
        ByteSink out;
        s.decode(out);
        return out.str();
    };
    for (std::uint32_t n : {1u, 2u, 3u, 4u})
        EXPECT_EQ(decoded(n), text) << n;
    EXPECT_EQ(error_of([&] { decoded(5); }), "Stream corrupted");
    try {
        decoded(7);
        FAIL();
    } catch (const PdfStreamFilter::MultipleFilterError& e) {
        EXPECT_EQ(e.message(), "Unsupported Filter : DCTDecode");
    }
    EXPECT_EQ(error_of([&] { decoded(8); }), "Out of bounds reference");
    EXPECT_EQ(error_of([&] { decoded(9); }), "Bad Reference (no R)");
    EXPECT_EQ(error_of([&] { decoded(10); }), "Tag Length not found, probably stream corrupted");
    EXPECT_EQ(error_of([&] { decoded(11); }), "Tag Stream not found, probably stream corrupted");
    EXPECT_EQ(error_of([&] { decoded(12); }), "Stream corrupted");
}

TEST(PdfCoreXref, CrossReferenceStreamsFailCleanly) {
    if (!pdf_core_test::have_tool("qpdf") || !pdf_core_test::have_tool("ps2pdf")) GTEST_SKIP();
    const std::string dir = pdf_core_test::tmp_dir();
    pdf_core_test::write_file(dir + "xs.ps", "%!PS\n/Helvetica findfont 12 scalefont setfont\n"
                                             "72 700 moveto (objstm) show showpage\n");
    pdf_core_test::run("ps2pdf " + dir + "xs.ps " + dir +
                       "xs0.pdf && qpdf --object-streams=generate " + dir + "xs0.pdf " + dir +
                       "xs.pdf");
    const std::string bytes = pdf_core_test::read_file(dir + "xs.pdf");
    ASSERT_NE(bytes.find("/XRef"), std::string::npos);
    Doc doc(bytes);
    try {
        FileStructure fs(0, doc.length());
        FAIL();
    } catch (const BadFormatException& e) {
        EXPECT_TRUE(e.message() == "Trailer not found" || e.message() == "Xref not found")
            << e.message();
    }
}
