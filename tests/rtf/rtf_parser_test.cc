#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "../support/files.h"
#include "../parsers/parser_test_util.h"
#include "util/codecs.h"
#include "fff/FFFbuilder.h"
#include "parsers/rtfparser.h"

namespace lumbrake {
namespace {

test::parsed_doc parse_rtf(const std::string& data) {
    test::parsed_doc out;
    RTFParser p(test::empty_config());
    p.parse_document(nullptr, 1000, "file:///d.rtf", data, "text/rtf", "", "", out.result);
    if (out.result.document) out.text = test::dump(*out.result.document);
    return out;
}

using tn_test::read_file;

TEST(RTFParser, Detect) {
    struct detect_case {
        int mode;
        const char* data;
        const char* name;
        bool detected;
    };
    const detect_case cases[] = {
        {DETECT_CONTENT, "{\\rtf1\\ansi x}", "a.txt", true},
        {DETECT_CONTENT, "{\\rtf", "a.rtf", false},
        {DETECT_CONTENT, " {\\rtf1", "", false},
        {DETECT_NAME, "", "letter.rtf", true},
        {DETECT_NAME, "", "LETTER.RTF", true},
        {DETECT_NAME, "", "letter.Rtf", false},
        {DETECT_NAME, "{\\rtf1", "rtf", false},
    };
    RTFParser p(test::empty_config());
    for (const auto& c : cases) {
        std::string mime = "x", cs = "utf-8";
        EXPECT_EQ(p.detect(c.mode, c.data, c.name, mime, cs), c.detected) << c.data << c.name;
        if (c.detected) {
            EXPECT_EQ(mime, "text/rtf");
            EXPECT_EQ(cs, "");
        }
    }
    // The dispatch finds RTF by content under the generic type and keeps the given type.
    parser dispatch(test::empty_config());
    std::string mime, cs;
    ASSERT_TRUE(dispatch.detect(DETECT_CONTENT, "{\\rtf1 x}", "", mime, cs));
    EXPECT_EQ(mime, "text/rtf");
    auto d = test::parse_with("{\\rtf1 Hello}", "application/octet-stream", "http://h/x");
    EXPECT_EQ(d.result.status, 0);
    EXPECT_EQ(d.result.mime, "text/rtf");
    EXPECT_EQ(d.text, "10:Hello\n");
}

TEST(RTFParser, TextAndSlices) {
    struct text_case {
        const char* rtf;
        const char* dump;
    };
    const text_case cases[] = {
        {"{\\rtf1\\ansi Hello}", "10:Hello\n"},
        // The run opened before the mask changed keeps its slice...
        {"{\\rtf1 x {\\b bold}}", "10:x bold\n"},
        // ...and one opened while emphasised keeps 11 after the group ends.
        {"{\\rtf1 {\\b bold} plain}", "11:bold plain\n"},
        {"{\\rtf1 \\b bold\\b0\\par plain}", "11:bold\n10:plain\n"},
        // Leaving an inner group restores the emphasis of the outer one.
        {"{\\rtf1 {\\b a {\\i b} c\\par d}}", "11:a b c\n11:d\n"},
        {"{\\rtf1 {\\info{\\title Report}}Body}", "15:Report\n10:Body\n"},
        {"{\\rtf1{\\info{\\author Ann Lee}{\\keywords k1 k2}{\\category cat}{\\subject Sub}"
         "{\\doccomm note}{\\operator op}{\\company co}{\\*\\manager m}}x}",
         "1:Ann Lee\n2:k1 k2\n2:cat\n3:Sub\n3:note\n10:x\n"},
        {"{\\rtf1 one\\par two\\page three\\sect four\\cell five\\row six}",
         "10:one\n10:two\n10:three\n10:four\n10:five\n10:six\n"},
        {"{\\rtf1 one\\line two}", "10:one / 10:two\n"},
        {"{\\rtf1 one\\\r\ntwo\\\ntree}", "10:one\n10:two\n10:tree\n"},
        {"{\\rtf1 {\\*\\generator x}}", ""},
        {"{\\rtf1 {\\*\\generator {x} y}z}", "10:z\n"},
        {"{\\rtf1{\\colortbl;\\red255\\green0;}{\\stylesheet{\\s0 Normal;}}{\\pict 0102}Text}",
         "10:Text\n"},
        // Line breaks are no text; blanks, tabs and form feeds make one blank.
        {"{\\rtf1 ab\r\ncd e \t\f f}", "10:abcd e f\n"},
        {"{\\rtf1 a\\tab b\\~c}", "10:a b c\n"},
        {"{\\rtf1 \\{x\\} a\\\\b}", "10:{ x }  a \\ b\n"},
        {"{\\rtf1 a\\-b c\\|d}", "10:ab cd\n"},
        // Unknown words go with their digits, "-", "_" and one blank.
        {"{\\rtf1 \\foo-bar_1\tx \\expndtw-20 y}", "10:x y\n"},
        // Known words take one blank only.
        {"{\\rtf1 \\b  x}", "11:x\n"},
        {"{\\rtf1 \\ldblquote q\\rdblquote \\endash \\bullet}",
         "10:\xE2\x80\x9C q \xE2\x80\x9D\xE2\x80\x93\xE2\x80\xA2\n"},
        // The text ends at a NUL byte; an unterminated group ends with it.
        {"{\\rtf1 {{{ open", "10:open\n"},
        {"}}} x {\\rtf1 y}}}}", "10:x y\n"},
    };
    for (const auto& c : cases) {
        auto d = parse_rtf(c.rtf);
        EXPECT_EQ(d.result.status, 0) << c.rtf;
        EXPECT_EQ(d.text, c.dump) << c.rtf;
    }
}

TEST(RTFParser, CharsetsAndUnicode) {
    struct charset_case {
        const char* rtf;
        const char* dump;
    };
    const charset_case cases[] = {
        {"{\\rtf1\\ansi\\ansicpg1252 caf\\'e9 \\'80}", "10:caf\xC3\xA9  \xE2\x82\xAC\n"},
        {"{\\rtf1\\ansi\\ansicpg1251 \\'cc\\'e8\\'f0}", "10:\xD0\x9C\xD0\xB8\xD1\x80\n"},
        {"{\\rtf1\\mac \\'e9\\'8e}", "10:\xC3\x88\xC3\xA9\n"},
        {"{\\rtf1\\pc \\'82}", "10:\xC3\xA9\n"},
        {"{\\rtf1\\pca \\'d5}", "10:\xC4\xB1\n"},
        // Plain bytes are their own code points whatever the charset.
        {"{\\rtf1\\ansicpg1251 \xE9}", "10:\xC3\xA9\n"},
        // Fonts: \fcharset77 is Mac Roman; a font's charset lasts to the end of its group.
        {"{\\rtf1\\ansi{\\fonttbl{\\f0\\fcharset0 Times;}{\\f1\\fcharset77 Geneva;}}"
         "\\f1 \\'8e\\f0 \\'8e {\\f1 \\'8e}\\'8e}",
         "10:\xC3\xA9\xC5\xBD \xC3\xA9\xC5\xBD\n"},
        {"{\\rtf1{\\fonttbl\\f3\\fcharset437 Term;}\\f3\\'82}", "10:\xC3\xA9\n"},
        // Pending escapes are decoded before a paragraph ends.
        {"{\\rtf1\\ansi caf\\'e9\\par next}", "10:caf\xC3\xA9\n10:next\n"},
        {"{\\rtf1\\ansi x\\'e9}", "10:x\xC3\xA9\n"},
        // A bad escape is dropped.
        {"{\\rtf1 a\\'zzb\\'4}", "10:azzb4\n"},
        // \u with its stand-in skipped; the skip count is per group.
        {"{\\rtf1 \\u8364?uro}", "10:\xE2\x82\xAC uro\n"},
        {"{\\rtf1 caf\\u233\\'e9s}", "10:caf\xC3\xA9s\n"},
        {"{\\rtf1 \\uc2 a\\u233\\'e9\\'e9b {\\uc0 c\\u233 d}e\\u233 xyz}", "10:a\xC3\xA9"
                                                                           "b c\xC3\xA9"
                                                                           "de\xC3\xA9z\n"},
        {"{\\rtf1 \\uc5 a\\u233{b}}", "10:a\xC3\xA9"
                                      "b\n"},
        // Characters above U+FFFF come as surrogate pairs, positive or negative.
        {"{\\rtf1 \\u55357?\\u56832? \\u-10179?\\u-8704?}",
         "10:\xF0\x9F\x98\x80 \xF0\x9F\x98\x80\n"},
        {"{\\rtf1 a\\u55357?b\\u56832?c}", "10:a \xEF\xBF\xBD b \xEF\xBF\xBD c\n"},
        {"{\\rtf1 x\\u-40000?y\\u99999999999999999999?z\\u1114112?w}",
         "10:x \xEF\xBF\xBD y \xEF\xBF\xBD z \xEF\xBF\xBD w\n"},
    };
    for (const auto& c : cases) {
        auto d = parse_rtf(c.rtf);
        EXPECT_EQ(d.result.status, 0) << c.rtf;
        EXPECT_EQ(d.text, c.dump) << c.rtf;
    }
}

TEST(RTFParser, EndOfText) {
    // The text ends at its first NUL byte.
    EXPECT_EQ(parse_rtf(std::string("{\\rtf1 ab\0cd}", 13)).text, "10:ab\n");
    EXPECT_EQ(parse_rtf("{\\rtf1 x\\").text, "10:x\n");
    EXPECT_EQ(parse_rtf("{\\rtf1 x\\'e").text, "10:xe\n");
    EXPECT_EQ(parse_rtf("").text, "");
}

// A document that names no charset is read as ANSI whatever an earlier parse selected.
TEST(RTFParser, DefaultCharsetIsAnsi) {
    for (const char* before : {"utf-8", "macroman", "x-unknown"}) {
        set_input_charset(before);
        EXPECT_EQ(parse_rtf("{\\rtf1 caf\\'e9 \\'80}").text, "10:caf\xC3\xA9  \xE2\x82\xAC\n")
            << before;
    }
}

TEST(RTFParser, Binary) {
    // \binN skips N raw bytes (braces among them) and the rest of the group.
    EXPECT_EQ(parse_rtf("{\\rtf1 A {\\bin3 }}}tail} B}").text, "10:A B\n");
    EXPECT_EQ(parse_rtf("{\\rtf1 A {\\*\\x{\\bin2 }}x}} B}").text, "10:A B\n");
    EXPECT_EQ(parse_rtf("{\\rtf1 A {\\bin99999999999999 x} B}").text, "10:A\n");
    EXPECT_EQ(parse_rtf("{\\rtf1 A {\\bin-5 x} B}").text, "10:A B\n");
    EXPECT_EQ(parse_rtf(std::string("{\\rtf1 A {\\bin2 \0\0} B}", 22)).text, "10:A B\n");
}

TEST(RTFParser, NestingLimit) {
    std::string ok(RTFParser::max_depth - 1, '{');
    ok += "deep";
    auto d = parse_rtf(ok);
    EXPECT_EQ(d.result.status, 0);
    EXPECT_EQ(d.text, "10:deep\n");

    std::string deep(RTFParser::max_depth, '{');
    deep += "deep";
    d = parse_rtf(deep);
    EXPECT_EQ(d.result.status, PARSE_ERROR);
    EXPECT_EQ(d.result.error, "RTF document could not be parsed");
    EXPECT_FALSE(d.result.document);

    // Depth is what counts, not the number of groups.
    std::string many;
    for (int i = 0; i < 5000; ++i)
        many += "{x}";
    EXPECT_EQ(parse_rtf(many).result.status, 0);
}

TEST(RTFParser, ResultFields) {
    parse_result r;
    r.document = std::make_unique<FFF::DocumentData>(true);
    FFFbuilder b(1000);
    RTFParser p(test::empty_config());
    p.parse(b, nullptr, 1000, "", "{\\rtf1 x}", "application/octet-stream", "utf-8", r);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.mime, "text/rtf");
    EXPECT_EQ(r.charset, "");
    EXPECT_FALSE(r.document);
    EXPECT_EQ(b.dict_stack, std::vector<int>{FFF::marginalNormDict});
}

// Hostile inputs: each parses or fails cleanly, and the slice stack is left as it was found
// (a mail part shares the builder with the rest of the message).
TEST(RTFParser, NastyCorpus) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TN_TEST_DATA "/nasty")) {
        const std::string data = read_file(entry.path());
        for (const char* cs : {"utf-8", "cp1252", "x-unknown"}) {
            set_input_charset(cs);
            FFFbuilder b(1000);
            parse_result r;
            RTFParser(test::empty_config()).parse(b, nullptr, 1000, "", data, "text/rtf", "", r);
            EXPECT_TRUE(r.status == PARSE_OK || r.status == PARSE_ERROR) << entry.path();
            EXPECT_EQ(b.dict_stack, std::vector<int>{FFF::marginalNormDict}) << entry.path();
        }
        ++files;
    }
    EXPECT_GT(files, 0);
}

} // namespace
} // namespace lumbrake
