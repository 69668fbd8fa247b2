#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../support/files.h"
#include "../parsers/parser_test_util.h"
#include "util/codecs.h"
#include "fff/FFFbuilder.h"
#include "parsers/mailparser.h"

namespace lumbrake {
namespace {

test::parsed_doc parse_mail(const std::string& data) {
    return test::parse_with(data, "message/rfc822", "file:///m.eml", "");
}

using tn_test::read_file;

TEST(MailParser, Detect) {
    MAILParser p(test::empty_config());
    for (const char* name : {"a.eml", "A.EML", "x.mime", "X.MIME"}) {
        std::string mime, cs = "utf-8";
        EXPECT_FALSE(p.detect(DETECT_CONTENT, "From: a\n\nb", name, mime, cs)) << name;
        ASSERT_TRUE(p.detect(DETECT_NAME, "", name, mime, cs)) << name;
        EXPECT_EQ(mime, "message/rfc822");
        EXPECT_EQ(cs, "");
    }
    std::string mime, cs;
    for (const char* name : {"a.Eml", "eml", "a.mim"})
        EXPECT_FALSE(p.detect(DETECT_NAME, "", name, mime, cs)) << name;
    // The dispatch reaches it by name and by both mail types.
    auto d = test::parse_with("Subject: s\n\nbody\n", "", "file:///m.eml", "");
    EXPECT_EQ(d.result.mime, "message/rfc822");
    for (const char* type : {"message/rfc822", "text/x-mail"}) {
        d = test::parse_with("Subject: s\n\nbody\n", type, "file:///m", "");
        EXPECT_EQ(d.result.status, 0);
        EXPECT_EQ(d.result.mime, "message/rfc822") << type;
        EXPECT_EQ(d.text, "15:s / 10:body\n") << type;
    }
}

TEST(MailParser, HeaderBlock) {
    struct header_case {
        const char* text;
        bool has_body;
        const char* body;
        std::vector<std::pair<std::string, std::string>> fields;
    };
    const header_case cases[] = {
        {"From: a@b\nSUBJECT:  Hi\n\nbody\n", true, "body\n", {{"from", "a@b"}, {"subject", "Hi"}}},
        {"Subject: a\r\n\tb\r\n  c\r\n\r\nx", true, "x", {{"subject", "a b c"}}},
        {"Subject: a\r\rbody", true, "body", {{"subject", "a"}}},
        // A quoted mbox separator is skipped.
        {">From x Mon\nTo: t\n\n", true, "", {{"to", "t"}}},
        // An mbox separator line is skipped too.
        {"From x Mon Jan 1\nSubject: s\n\nbody", true, "body", {{"subject", "s"}}},
        // A line of another shape ends the block: the message has no body.
        {"Subject: s\nFrom x Mon Jan 1\n\nbody", false, "", {{"subject", "s"}}},
        {"Fromage x\nSubject: s\n\nbody", false, "", {}},
        {"Subject: s\nno colon here\n\nbody", false, "", {{"subject", "s"}}},
        {"Subject : s\n\nbody", false, "", {}},
        {"Subject: s\n1x: y\n\nbody", false, "", {{"subject", "s"}}},
        // No empty line: no body.
        {"Subject: s", false, "", {{"subject", "s"}}},
        {"", false, "", {}},
        // Names may hold any printable character but ":".
        {"X-Spam.Score_1: 5\n_x: y\n\nb", true, "b", {{"_x", "y"}, {"x-spam.score_1", "5"}}},
        {"\nbody", true, "body", {}},
    };
    for (const auto& c : cases) {
        header_fields h;
        std::string_view body;
        EXPECT_EQ(read_mail_header(c.text, h, body), c.has_body) << c.text;
        EXPECT_EQ(body, c.body) << c.text;
        std::vector<std::pair<std::string, std::string>> fields(h.fields.begin(), h.fields.end());
        EXPECT_EQ(fields, c.fields) << c.text;
    }
}

TEST(MailParser, SplitMultipart) {
    using parts = std::vector<std::string_view>;
    EXPECT_EQ(split_multipart("preamble\n--b\nA\n--b\r\nB\r\n--b--\nepilogue\n--b\nC\n", "b"),
              (parts{"A\n", "B\r\n"}));
    // Without its closing line the last part runs to the end.
    EXPECT_EQ(split_multipart("--b\nA\n--b\nB", "b"), (parts{"A\n", "B"}));
    // A line that only begins with the boundary still opens a part.
    EXPECT_EQ(split_multipart("--b\nA\n--bx\nB\n--b--", "b"), (parts{"A\n", "B\n"}));
    EXPECT_EQ(split_multipart("no boundary at all\n", "b"), parts{});
    EXPECT_EQ(split_multipart("--b--\n--b\nA", "b"), parts{});
    EXPECT_EQ(split_multipart("--b", "b"), (parts{""}));
}

TEST(MailParser, Decoders) {
    struct decode_case {
        std::string in;
        std::string out;
    };
    const decode_case qp[] = {
        {"Caf=C3=A9", "Caf\xC3\xA9"},
        {"a=\r\nb", "ab"},
        {"a=\nb=\rc", "abc"},
        {"=3d=3D=e9", "==\xE9"},
        {"x=zzy", "xzy"},
        {"x=4", "x"},
        {"x=", "x"},
        {"=00", std::string(1, '\0')},
    };
    for (const auto& c : qp)
        EXPECT_EQ(decode_quoted_printable(c.in), c.out) << c.in;

    const decode_case b64[] = {
        {"SGVsbG8=", "Hello"},
        {"SGVs\r\nbG8g\r\nd29y bGQ=", "Hello world"},
        {"SGk=SGk=", "Hi"},
        {"S*G(k)=", "Hi"},
        {"SGVsbG8", "Hel"},
        {"", ""},
        // Every byte of the result is kept, NUL bytes included.
        {"aGkAdGhlcmU=", std::string("hi\0there", 8)},
    };
    for (const auto& c : b64)
        EXPECT_EQ(decode_base64_body(c.in), c.out) << c.in;

    const decode_case quotes[] = {
        {"\"abc\"", "abc"}, {"'abc'", "abc"}, {"\"'abc'\"", "abc"}, {"'\"abc\"'", "\"abc\""},
        {"\"", "\""},       {"\"\"", ""},     {"abc\"", "abc\""},
    };
    for (const auto& c : quotes)
        EXPECT_EQ(unquote_parameter(c.in), c.out) << c.in;
}

TEST(MailParser, EncodedWordsInHeaderFields) {
    const std::pair<const char*, const char*> cases[] = {
        {"=?UTF-8?Q?Gr=C3=BC=C3=9Fe_aus_K=C3=B6ln?=", "Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln"},
        {"=?utf-8?b?w6l0w6k=?=", "\xC3\xA9t\xC3\xA9"},
        {"=?iso-8859-1?q?caf=E9?= au lait", "caf\xC3\xA9 au lait"},
        // Blanks between two encoded words go; other text between them stays.
        {"=?utf-8?q?a?= =?utf-8?q?b?=", "ab"},
        {"=?utf-8?q?a?=\t =?utf-8?q?b?=", "ab"},
        {"=?utf-8?q?a?= and =?utf-8?q?b?=", "a and b"},
        {"x =?utf-8?q?a?=", "x a"},
        // A language suffix; a charset only iconv knows.
        {"=?UTF-8*en?Q?hi?=", "hi"},
        {"=?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
        // What is no encoded word, or names no known charset, stays as written.
        {"=?klingon?q?x?=", "=?klingon?q?x?="},
        {"=?utf-8?x?abc?=", "=?utf-8?x?abc?="},
        {"=?utf-8?q?no end", "=?utf-8?q?no end"},
        {"price =?", "price =?"},
        {"plain Gr\xFC\xDF" "e", "plain Gr\xC3\xBC\xC3\x9F" "e"},
    };
    for (const auto& [value, want] : cases)
        EXPECT_EQ(decode_header_value(value), want) << value;
}

TEST(MailParser, MboxSeparatorLineIsSkipped) {
    auto d = parse_mail("From alice@example.org Thu Dec 10 10:00:00 2026\n"
                        "From: Alice <alice@example.org>\nSubject: =?utf-8?q?R=C3=A9sum=C3=A9?=\n\n"
                        "Body words\n");
    EXPECT_EQ(d.result.status, 0);
    EXPECT_EQ(d.text, "14:From :  Alice  < alice @ example . org > / 15:R\xC3\xA9sum\xC3\xA9 / "
                      "10:Body words\n");
}

TEST(MailParser, Messages) {
    struct mail_case {
        const char* name;
        std::string mail;
        const char* dump;
    };
    const mail_case cases[] = {
        {"plain", "From: Ann <a@x>\nTo: Bob\nSubject: Hello there\n\nBody text\n",
         "14:From :  Ann  < a @ x > / 14:To :  Bob / 15:Hello there / 10:Body text\n"},
        // Without a content type: text/plain in ISO-8859-1.
        {"latin1", "Subject: s\n\nCaf\xE9\n", "15:s / 10:Caf\xC3\xA9\n"},
        {"charset", "Content-Type: text/plain; charset='cp1251'\n\n\xCC\xE8\xF0\n",
         "10:\xD0\x9C\xD0\xB8\xD1\x80\n"},
        {"header-latin1",
         "Subject: Gr\xFC\xDF"
         "e\n\n",
         "15:Gr\xC3\xBC\xC3\x9F"
         "e\n"},
        {"multipart",
         "Content-Type: multipart/mixed; boundary=\"abc\"\n\n"
         "pre\n--abc\n\none\n--abc\nContent-Type: text/html\n\n<b>two</b>\n--abc--\npost\n",
         "10:one\n6:two\n"},
        {"alternative",
         "Content-Type: multipart/alternative; boundary=\"'abc'\"\n\n"
         "--abc\n\none\n--abc\nContent-Type: text/plain\n\ntwo\n--abc--\n",
         "10:one\n10:two\n"},
        // A multipart without a boundary parameter feeds nothing of its own.
        {"no-boundary", "Subject: s\nContent-Type: multipart/mixed\n\n--abc\n\none\n", "15:s\n"},
        {"dropped",
         "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: image/png\n\n"
         "iVBORw0KGgo\n--b\nContent-Type: application/zip\n\nzipped\n--b--\n",
         ""},
        {"octet",
         "Content-Type: application/octet-stream\nContent-Transfer-Encoding: base64\n\n"
         "e1xydGYxIGRldGVjdGVkfQ==\n",
         "10:detected\n"},
        {"qp",
         "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: quoted-printable\n\n"
         "Caf=C3=A9 jo=\r\nined\n",
         "10:Caf\xC3\xA9 joined\n"},
        // Transfer-encoding names are case-insensitive.
        {"base64-case", "Content-Transfer-Encoding: Base64 \n\nd29yZHM=\n", "10:words\n"},
        {"base64-nul", "Content-Transfer-Encoding: base64\n\naGkAdGhlcmU=\n", "10:hi there\n"},
        {"base64-invalid", "Content-Transfer-Encoding: base64\n\n!!!*** \n", ""},
        {"rfc822",
         "Subject: outer\nContent-Type: message/rfc822\n\nFrom: in\nSubject: inner\n\nbody\n",
         "15:outer\n14:From :  in / 15:inner / 10:body\n"},
    };
    for (const auto& c : cases) {
        auto d = parse_mail(c.mail);
        EXPECT_EQ(d.result.status, 0) << c.name;
        EXPECT_EQ(d.result.mime, "message/rfc822") << c.name;
        EXPECT_EQ(d.text, c.dump) << c.name;
    }
}

// Nesting costs a pass over the enclosing body per level, so it is bounded: the levels within
// the bound are read, the deeper ones are not, and the parse ends promptly.
TEST(MailParser, DeepNesting) {
    const int levels = 5000;
    std::string rfc822;
    for (int i = 0; i < levels; ++i)
        rfc822 += "Subject: s" + std::to_string(i) + "\nContent-Type: message/rfc822\n\n";
    rfc822 += "Subject: bottom\n\nbottom\n";
    auto d = parse_mail(rfc822);
    ASSERT_EQ(d.result.status, 0);
    EXPECT_NE(d.text.find("15:s0\n"), std::string::npos);
    EXPECT_NE(d.text.find("15:s" + std::to_string(MAILParser::max_nesting) + "\n"),
              std::string::npos);
    EXPECT_EQ(d.text.find("15:s" + std::to_string(MAILParser::max_nesting + 1) + "\n"),
              std::string::npos);
    EXPECT_EQ(d.text.find("bottom"), std::string::npos);

    std::string multipart;
    for (int i = 0; i < levels; ++i)
        multipart += "Subject: m" + std::to_string(i) +
                     "\nContent-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\n\n--b" +
                     std::to_string(i) + "\n";
    multipart += "Subject: bottom\n\nbottom\n";
    d = parse_mail(multipart);
    ASSERT_EQ(d.result.status, 0);
    EXPECT_NE(d.text.find("15:m" + std::to_string(MAILParser::max_nesting) + "\n"),
              std::string::npos);
    EXPECT_EQ(d.text.find("bottom"), std::string::npos);

    // A mail inside a mail part goes through the dispatch (a nested call): the same bound
    // holds, so the stack stays shallow.
    std::string xmail;
    for (int i = 0; i < levels; ++i)
        xmail += "Subject: x" + std::to_string(i) + "\nContent-Type: text/x-mail\n\n";
    xmail += "Subject: bottom\n\nbottom\n";
    d = parse_mail(xmail);
    ASSERT_EQ(d.result.status, 0);
    EXPECT_EQ(d.text.rfind("15:x0 / 15:x1 / ", 0), 0u);
    EXPECT_NE(d.text.find("15:x" + std::to_string(MAILParser::max_nesting) + "\n"),
              std::string::npos);
    EXPECT_EQ(d.text.find("15:x" + std::to_string(MAILParser::max_nesting + 1)), std::string::npos);
    EXPECT_EQ(d.text.find("bottom"), std::string::npos);

    // Many parts side by side are all read.
    std::string wide = "Content-Type: multipart/mixed; boundary=b\n\n";
    for (int i = 0; i < 2000; ++i)
        wide += "--b\n\nw" + std::to_string(i) + "\n";
    d = parse_mail(wide);
    EXPECT_NE(d.text.find("10:w1999\n"), std::string::npos);
}

// Hostile messages replayed: each parses with status 0 and leaves the slice stack as found.
TEST(MailParser, NastyCorpus) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TN_TEST_DATA "/nasty")) {
        const std::string data = read_file(entry.path());
        FFFbuilder b(1000);
        parse_result r;
        MAILParser(test::empty_config()).parse(b, nullptr, 1000, "", data, "message/rfc822", "", r);
        EXPECT_EQ(r.status, PARSE_OK) << entry.path();
        EXPECT_EQ(b.dict_stack, std::vector<int>{FFF::marginalNormDict}) << entry.path();
        ++files;
    }
    EXPECT_GT(files, 0);
}

} // namespace
} // namespace lumbrake
