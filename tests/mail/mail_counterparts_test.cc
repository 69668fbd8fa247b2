// Messages written by Python's email package (folded headers, quoted boundaries, nested
// multiparts, attached messages, base64 and quoted-printable bodies, single-byte charsets,
// a PDF made by ghostscript) read by the mail parser.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "../support/files.h"
#include "../parsers/parser_test_util.h"

namespace lumbrake {
namespace {

std::string tmp_dir() {
    const char* dir = std::getenv("TEST_TMPDIR");
    return dir ? dir : "/tmp/";
}

using tn_test::read_file;

class MailCounterparts : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = tmp_dir() + "mails/";
        std::system(("rm -rf '" + dir_ + "' && mkdir -p '" + dir_ + "'").c_str());
        // A one-page PDF whose compressed streams hold NUL bytes.
        const std::string ps = dir_ + "doc.ps";
        std::ofstream(ps) << "%!PS\n/Helvetica findfont 14 scalefont setfont 72 720 moveto "
                             "(Portable document words) show showpage\n";
        pdf_ = std::system(("ps2pdf '" + ps + "' '" + dir_ + "doc.pdf' 2>/dev/null").c_str()) == 0;
        made_ = std::system(("python3 '" TN_TEST_DATA "/make_mails.py' '" + dir_ + "' " +
                             (pdf_ ? "'" + dir_ + "doc.pdf'" : std::string()))
                                .c_str()) == 0;
    }

    test::parsed_doc parse(const char* name) {
        EXPECT_TRUE(made_);
        const std::string data = read_file(dir_ + name);
        EXPECT_FALSE(data.empty()) << name;
        auto d = test::parse_with(data, "message/rfc822", "file:///" + std::string(name), "");
        EXPECT_EQ(d.result.status, 0) << name;
        return d;
    }

    static std::string dir_;
    static bool made_;
    static bool pdf_;
};

std::string MailCounterparts::dir_;
bool MailCounterparts::made_ = false;
bool MailCounterparts::pdf_ = false;

TEST_F(MailCounterparts, PlainWithFoldedSubject) {
    EXPECT_EQ(parse("plain.eml").text,
              "14:From :  Alice Example  < alice @ example . org > / "
              "14:To :  Bob Builder  < bob @ example . net > / "
              "15:Quarterly numbers for the northern region are finally available for review "
              "today / 10:Hello Bob ,\n"
              "10:the quarterly numbers are attached .\n");
}

TEST_F(MailCounterparts, AlternativeFeedsBothParts) {
    const std::string text = parse("alternative.eml").text;
    EXPECT_NE(text.find("15:Alternative bodies\n"), std::string::npos) << text;
    // Quoted-printable UTF-8 text, base64 HTML: both decoded, both fed.
    EXPECT_NE(text.find("10:Plain variant with Gr\xC3\xBC\xC3\x9F"
                        "e aus K\xC3\xB6ln\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Html variant with | 6:Stra\xC3\x9F"
                        "e"),
              std::string::npos)
        << text;
}

TEST_F(MailCounterparts, AttachedMessage) {
    const std::string text = parse("nested.eml").text;
    for (const char* part : {"15:Outer subject words", "10:Outer body words",
                             "14:From :  Carol  < carol @ example . com >",
                             "15:Inner subject words", "10:Inner body words"})
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    EXPECT_LT(text.find("Outer body"), text.find("Inner subject"));
}

TEST_F(MailCounterparts, Attachments) {
    const std::string text = parse("attachments.eml").text;
    EXPECT_NE(text.find("10:Main body words"), std::string::npos) << text;
    // The octet-stream part is recognised as RTF by its content.
    EXPECT_NE(text.find("10:Octet body words"), std::string::npos) << text;
    EXPECT_NE(text.find("15:Octet title"), std::string::npos) << text;
    EXPECT_NE(text.find("10:Rtf attachment words"), std::string::npos) << text;
    // The image's base64 text is not indexed.
    EXPECT_EQ(text.find("AAECAwQF"), std::string::npos) << text;
}

TEST_F(MailCounterparts, Charsets) {
    const std::string text = parse("charsets.eml").text;
    EXPECT_NE(text.find("10:Caf\xC3\xA9 Stra\xC3\x9F"
                        "e na\xC3\xAFve"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("10:Prix 5 \xE2\x82\xAC  d\xC3\xA9j\xC3\xA0"), std::string::npos) << text;
}

TEST_F(MailCounterparts, MboxWithEncodedHeaderWords) {
    const std::string data = read_file(dir_ + "box.mbox");
    ASSERT_EQ(data.substr(0, 5), "From ");
    ASSERT_NE(data.find("=?utf-8?"), std::string::npos) << data; // what Python wrote
    auto d = test::parse_with(data, "application/mbox", "file:///box.mbox", "");
    EXPECT_EQ(d.result.status, 0);
    EXPECT_NE(d.text.find("14:From :  J\xC3\xBCrgen Gro\xC3\x9F"), std::string::npos) << d.text;
    EXPECT_NE(d.text.find("15:R\xC3\xA9sum\xC3\xA9 of the Z\xC3\xBCrich meeting"),
              std::string::npos)
        << d.text;
    EXPECT_NE(d.text.find("10:Mbox body words"), std::string::npos) << d.text;
}

TEST_F(MailCounterparts, JapaneseBodyAndSubject) {
    const std::string text = parse("japanese.eml").text;
    const std::string subject = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE"
                                "\xE4\xBB\xB6\xE5\x90\x8D";
    EXPECT_NE(text.find("15:" + subject), std::string::npos) << text;
    EXPECT_NE(text.find("\xE6\x9C\xAC\xE6\x96\x87 mail"), std::string::npos) << text;
}

TEST_F(MailCounterparts, RelatedInsideAlternative) {
    const std::string text = parse("related.eml").text;
    EXPECT_NE(text.find("10:Related plain words"), std::string::npos) << text;
    EXPECT_NE(text.find("Related html words"), std::string::npos) << text;
}

TEST_F(MailCounterparts, PdfAttachment) {
    if (!pdf_) GTEST_SKIP() << "ps2pdf not available";
    const std::string text = parse("pdf.eml").text;
    EXPECT_NE(text.find("10:See the attached document"), std::string::npos) << text;
    EXPECT_NE(text.find("Portable document words"), std::string::npos) << text;
}

} // namespace
} // namespace lumbrake
