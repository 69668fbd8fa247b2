// Byte source, lexical readers, arrays, dictionaries and the chunked byte buffer.
#include <gtest/gtest.h>

#include <string>

#include "pdf_core_util.h"
#include "pdfparser/pdf-bytesink.h"
#include "pdfparser/pdf-lexer.h"
#include "pdfparser/pdf-objects.h"

using namespace PdfParser;
using pdf_core_test::Doc;

TEST(PdfCoreLexer, ByteSourceWindowAndEnd) {
    // Three windows' worth of bytes whose value is their offset modulo 251.
    std::string bytes(3 * ByteSource::window_size + 17, '\0');
    for (std::size_t k = 0; k < bytes.size(); ++k)
        bytes[k] = static_cast<char>(k % 251);
    Doc doc(bytes);
    EXPECT_EQ(ByteSource::length(), bytes.size());
    // Forward, backward across a window edge, and far jumps all see the document's bytes.
    for (std::size_t k : {0ul, 10239ul, 10240ul, 10239ul, 30000ul, 5ul, bytes.size() - 1})
        EXPECT_EQ(ByteSource::byte_at(k), k % 251) << k;
    EXPECT_EQ(ByteSource::byte_at(bytes.size()), 0);
    EXPECT_EQ(ByteSource::byte_at(static_cast<Pos>(-1)), 0);
    EXPECT_EQ(ByteSource::bytes(bytes.size() - 2, bytes.size() + 100).size(), 2u);
}

TEST(PdfCoreLexer, LiteralStrings) {
    const struct {
        std::string in, out, rest;
    } cases[] = {
        {"(a(b)c)X", "a(b)c", "X"},
        {"(a\\)b)X", "a)b", "X"},
        {"(\\101)X", "A", "X"},
        {"(\\0)X", std::string(1, '\0'), "X"}, // one octal digit keeps its closing bracket
        {"(\\12a)X", "\na", "X"},
        {"(\\501)X", "A", "X"},       // 0501 modulo 256
        {"(a\\\r\nb)X", "a\nb", "X"}, // backslash + CR dropped, LF kept
        {"(\\n\\r\\t\\b\\f\\(\\\\)X", "\n\r\t\b\f(\\", "X"},
        {"(\\qz)X", "z", "X"},
        {"(C:\\\\)X", "C:\\", "X"},
        {"(open", "open", ""}, // unterminated: ends at the document end
        {"X(a)", "", "X(a)"},  // not a string: nothing read, position kept
    };
    for (const auto& c : cases) {
        Doc doc(c.in);
        Pos p = 0;
        EXPECT_EQ(read_literal_string(p), c.out) << c.in;
        EXPECT_EQ(c.in.substr(p), c.rest) << c.in;
    }
}

TEST(PdfCoreLexer, HexStrings) {
    const struct {
        std::string in, out, rest;
    } cases[] = {
        {"<48656C6C6F>X", "Hello", "X"}, {"<414>X", "\x41\x40", "X"}, {"<>X", "", "X"},
        {"<48 65\n6c>X", "Hel", "X"},    {"<4", "\x40", ""},          {"(41)", "", "(41)"},
    };
    for (const auto& c : cases) {
        Doc doc(c.in);
        Pos p = 0;
        EXPECT_EQ(read_hex_string(p), c.out) << c.in;
        EXPECT_EQ(c.in.substr(p), c.rest) << c.in;
    }
}

TEST(PdfCoreLexer, FindTagSkipsLiteralStrings) {
    {
        Doc doc("<< (see /Title) /Title (x) >>");
        Pos p = 0;
        ASSERT_TRUE(find_tag(p, doc.length(), "/Title"));
        EXPECT_EQ(p, doc.at("/Title (x)") + 6);
    }
    {
        // Inside a hex string, a name or a longer key a tag does match.
        Doc doc("<< /FontDescriptor 5 0 R >>");
        Pos p = 0;
        EXPECT_TRUE(find_tag(p, doc.length(), "/Font"));
        p = 0;
        EXPECT_FALSE(find_key(p, doc.length(), "/Font"));
    }
    {
        // An escaped backslash before ')' closes the string; the key behind it is found.
        Doc doc("(C:\\\\) /Key 1");
        Pos p = 0;
        EXPECT_TRUE(find_tag(p, doc.length(), "/Key"));
    }
    {
        // The end bounds the search; failure leaves the position at the end.
        Doc doc("abc /Key");
        Pos p = 0;
        EXPECT_FALSE(find_tag(p, 5, "/Key"));
        EXPECT_EQ(p, 5u);
    }
    {
        Doc doc("/Length1 10 /Length 20");
        Pos p = 0;
        ASSERT_TRUE(find_key(p, doc.length(), "/Length"));
        skip_blanks(p, doc.length());
        EXPECT_EQ(read_unsigned(p), 20u);
    }
}

TEST(PdfCoreLexer, Numbers) {
    Doc doc("0042x 99999999999999999999999 -5");
    Pos p = 0;
    EXPECT_EQ(read_unsigned(p), 42u);
    EXPECT_EQ(p, 4u);
    p = 6;
    EXPECT_EQ(read_unsigned(p), UINT64_MAX); // saturates
    p = doc.at("-5");
    EXPECT_EQ(read_unsigned(p), 0u);
    EXPECT_EQ(p, doc.at("-5"));
}

TEST(PdfCoreLexer, ArraysAndDictionaries) {
    {
        Doc doc("[1 [2 3] 4]");
        Array a(0, doc.length());
        EXPECT_EQ(doc.bytes().substr(a.start, a.end - a.start), "1 [2 3");
    }
    {
        Doc doc("<< /A (>>) /B <3E3E> /C << /D 1 >> >> trailing >>");
        Dictionary d(0, doc.length());
        EXPECT_EQ(doc.bytes().substr(d.start, d.end - d.start),
                  " /A (>>) /B <3E3E> /C << /D 1 >> ");
    }
    for (std::string bad : {"1 2 3", "[1 2", "<< /A 1 >", "<< /A (>>"}) {
        Doc doc(bad);
        if (bad[0] == '<')
            EXPECT_THROW(Dictionary(0, doc.length()), BadObjectException) << bad;
        else
            EXPECT_THROW(Array(0, doc.length()), BadObjectException) << bad;
    }
    Doc doc("<< /A 1 ");
    try {
        Dictionary(0, doc.length());
        FAIL();
    } catch (const PdfParserException& e) {
        EXPECT_EQ(e.message(), "Tag << or >> not found, probably Dictionary corrupted");
    }
}

TEST(PdfCoreLexer, DictionaryGetString) {
    Doc doc("<< /Title (Report) /Author <FEFF00E90041> /Subject () /Keywords 12 /Creator "
            "<FEFFD83DDE00D800> /Producer (\\376\\377\\000A) >>");
    Dictionary d(0, doc.length());
    EXPECT_EQ(d.get_string("/Title"), "Report");
    EXPECT_EQ(d.get_string("/Author"), "\xC3\xA9"
                                       "A");
    EXPECT_EQ(d.get_string("/Subject"), "");
    EXPECT_EQ(d.get_string("/Keywords"), ""); // not a string
    EXPECT_EQ(d.get_string("/Missing"), "");
    EXPECT_EQ(d.get_string("/Creator"), "\xF0\x9F\x98\x80"); // pair joined, lone surrogate dropped
    EXPECT_EQ(d.get_string("/Producer"), "A");
    EXPECT_FALSE(d.encrypted());
    EXPECT_EQ(make_object_key("KEY", 0x030201, 0x0504), std::string("KEY\x01\x02\x03\x04\x05"));
}

TEST(PdfCoreByteSink, PushReserveAppendIterate) {
    ByteSink a(4);
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(a.push_back(static_cast<std::uint8_t>('a' + k)), k + 1u);
    EXPECT_EQ(a.str(), "abcdefghij");
    ByteSink b(4, 3);
    EXPECT_EQ(b.capacity(), 3u);
    b.reserve(10);
    EXPECT_EQ(b.capacity(), 10u);
    b.write(std::string_view("KLMNOPQ"));
    a.append(b);
    EXPECT_TRUE(b.empty());
    EXPECT_EQ(a.size(), 17u);
    EXPECT_EQ(a.str(), "abcdefghijKLMNOPQ");
    a.push_back('!');
    EXPECT_EQ(a.str(), "abcdefghijKLMNOPQ!");
    b.write(std::string_view("reuse"));
    EXPECT_EQ(b.str(), "reuse");

    // Forward and backward iteration agree with the contents; seek moves by logical offsets.
    std::string fwd(a.begin(), a.end());
    EXPECT_EQ(fwd, a.str());
    std::string back;
    for (auto it = a.end(); it != a.begin();)
        back.insert(back.begin(), *--it);
    EXPECT_EQ(back, a.str());
    auto it = a.begin();
    EXPECT_EQ(*it.seek(12), 'M');
    EXPECT_EQ(*it.seek(-9), 'd');
    EXPECT_EQ(it.offset(), 3u);
    EXPECT_TRUE(it.seek(1000) == a.end());
    EXPECT_EQ(*it.seek(-1), '!');

    ByteSink c;
    c.swap(a);
    EXPECT_TRUE(a.empty());
    EXPECT_EQ(c.size(), 18u);
    ByteSink empty;
    EXPECT_TRUE(empty.begin() == empty.end());
}

TEST(PdfCoreByteSink, LongListsFreeWithoutRecursion) {
    ByteSink s(1);
    for (int k = 0; k < 300000; ++k)
        s.push_back(static_cast<std::uint8_t>(k));
    EXPECT_EQ(s.size(), 300000u);
    ByteSink t(1);
    t.push_back(1);
    t.append(s);
    EXPECT_EQ(t.size(), 300001u);
}
