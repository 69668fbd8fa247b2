#include <gtest/gtest.h>

#include <string>

#include "parser_test_util.h"
#include "util/codecs.h"
#include "htmlparser/htmlscanner.h"
#include "htmlparser/textscanner.h"

namespace lumbrake {
namespace {

std::string scan(const std::string& page) {
    test::recorder r;
    HTMLScanner(page.data(), page.size(), &r).run();
    return r.joined();
}

struct scan_case {
    const char* page;
    const char* events;
};

TEST(HTMLScanner, TokenRules) {
    const scan_case cases[] = {
        {"x<b>y</b>z", "x|<b>|y|</b>|z|END"},
        {"<A HREF=\"q\" target=_top>", "<a href=\"q\" target=_top>|END"},
        {"<bR>a<Br\t>b<BR\n>", "<br>|a|<br>|b|<br>|END"},
        // A name followed directly by anything but a blank or ">" is no tag name.
        {"<br/>x<bx>y<b1>z<h7>w", "xyzw|END"},
        {"<br />x", "<br>|x|END"},
        {"<a href>|<a href=>|<a href= >|<a =x>", "<a href>|||<a href>|||<a href>|||<a>|END"},
        {"<a title=\"x>y\">t", "<a title=\"x>y\">|t|END"},
        {"<a title='it\"s' alt=\"a'b\">", "<a title='it\"s' alt=\"a'b\">|END"},
        // Unquoted values may hold quotes, "/" and "<"; a quoted value needs no blank after it.
        {"<a href=a'b/c<d>", "<a href=a'b/c<d>|END"},
        {"<a href=\"x\"title=\"y\">", "<a href=\"x\" title=\"y\">|END"},
        {"<a href = \"x\" id\n=\ny>", "<a href=\"x\" id=y>|END"},
        // Unknown attributes are skipped with their values, duplicates are kept in order.
        {"<a data-x=\"1>2\" href=1 href=2 onclick=go()>", "<a href=1 href=2>|END"},
        // Closing tags keep their attributes.
        {"</a href=x>", "</a href=x>|END"},
        {"a < b", "a < b|END"},
        {"a <\tb", "a <\tb|END"},
        {"<!-- <b> -->x<!---->y<!--->z-->w", "xyw|END"},
        {"<!DOCTYPE html>x<![CDATA[y]]>", "x|END"},
        {"<foo bar>x</foo>y<?php echo 1 ?>z<%= q %>w<1>v<=>u", "xyzwvu|END"},
        {"<foo <b>x", "<b>|x|END"},
        {"</b<i>x", "<i>|x|END"},
        {"<em>\xe2\x82\xac</EM>", "<em>|\xe2\x82\xac|</em>|END"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(scan(c.page), c.events) << c.page;
}

TEST(HTMLScanner, EndOfInput) {
    const scan_case cases[] = {
        {"x<!-- never closed <b>", "x|END"},
        {"x<b", "x|END"},
        {"x</", "x|END"},
        {"x<", "x|END"},
        {"x<!DOCTYPE", "x|END"},
        // A tag whose name is complete is sent with the attributes finished so far.
        {"x<a href=1 title=\"open", "x|<a href=1>|END"},
        {"x<a href=1 name", "x|<a href=1 name>|END"},
        {"x<a href=1 name=v", "x|<a href=1 name=v>|END"},
        {"x<a ", "x|<a>|END"},
        {"<script>if (a < b) x = '</script>", "<script>|if (a < b) x = '</script>|END"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(scan(c.page), c.events) << c.page;
}

TEST(HTMLScanner, ScriptAndStyleModes) {
    const scan_case cases[] = {
        {"<script>s=\"</script>\";</script>after", "<script>|s=\"</script>\";|</script>|after|END"},
        {"<script>/* </script> */</script>", "<script>|/* |</script>| */|</script>|END"},
        {"<script>// </script>\n</SCRIPT >x", "<script>|// </script>\n|</script>|x|END"},
        {"<script><!-- </script> --></script>x", "<script>|<!-- </script> -->|</script>|x|END"},
        {"<script>a='\\'</script>'</script>x", "<script>|a='\\'</script>'|</script>|x|END"},
        {"<script>a<b</scripts></script>x", "<script>|a<b</scripts>|</script>|x|END"},
        {"<style>a{content:\"</style>\"}</style>x",
         "<style>|a{content:\"</style>\"}|</style>|x|END"},
        {"<style>/* </style> */</style>x", "<style>|/* </style> */|</style>|x|END"},
        // "//" is no comment in a style sheet.
        {"<style>a{b://</style>x", "<style>|a{b://|</style>|x|END"},
        {"<script></script><b>", "<script>|</script>|<b>|END"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(scan(c.page), c.events) << c.page;
}

TEST(HTMLScanner, KeepsSixtyFourAttributes) {
    std::string page = "<a";
    for (int i = 0; i < 70; ++i)
        page += " id=" + std::to_string(i);
    page += " href=x>";
    html_tag seen;
    struct keep : HTMLPlug {
        html_tag* out;
        void tag(html_tag& r, bool) override { out->copy_from(r); }
        void text(const char*, const char*) override {}
        void end() override {}
    } k;
    k.out = &seen;
    HTMLScanner(page.data(), page.size(), &k).run();
    ASSERT_EQ(seen.attr_count, 64);
    EXPECT_EQ(attr_value(seen.attrs[63]), "63");
    EXPECT_EQ(seen.find(ATTR_HREF), nullptr);
}

// Tag and attribute names are matched whole, in any case, and nothing else matches.
TEST(HTMLScanner, NameLookups) {
    EXPECT_EQ(html_tag_lookup("BLOCKQUOTE", 10), TAG_BLOCKQUOTE);
    EXPECT_EQ(html_tag_lookup("blockquotes", 11), 0);
    EXPECT_EQ(html_tag_lookup("b\0x", 3), 0);
    EXPECT_EQ(html_attr_lookup("HTTP-Equiv", 10), ATTR_HTTP_EQUIV);
    EXPECT_EQ(html_attr_lookup("width", 5), ATTR_WIDTH);
    EXPECT_EQ(html_attr_lookup("href\0", 5), 0);
    EXPECT_EQ(html_tag_name(TAG_UL), std::string("ul"));
    EXPECT_EQ(tag_properties(303), TAG_CLASS_DROPPED);
}

std::string decode(const std::string& text, const char* cs = "utf-8") {
    set_input_charset(cs);
    test::recorder r;
    html_text_scan(text.data(), text.data() + text.size(), r);
    set_input_charset("utf-8");
    return r.joined();
}

TEST(HTMLTextScan, References) {
    const scan_case cases[] = {
        {"&lt;&gt;", "<>"},
        {"&euro;", "\xe2\x82\xac"},
        {"&#x41;&#X41;&#65;", "AAA"},
        {"&amp;amp;", "&amp;"},
        {"&nbsp;&thetasym;&zwj;", "\xc2\xa0\xcf\x91\xe2\x80\x8d"},
        // Case-sensitive, HTML 4.01 names only, ";" required.
        {"&Amp; &NBSP; &apos; &amp &lt y", "&Amp; &NBSP; &apos; &amp &lt y"},
        {"& b &; &#65x &#; &#x; &#xg;", "& b &; &#65x &#; &#x; &#xg;"},
        {"&#1114111;", "\xf4\x8f\xbf\xbf"}, // U+10FFFF, the last code point
        // Out of range, surrogates and overflowing values become U+FFFD.
        {"&#99999999999;&#1234567;", "\xef\xbf\xbd\xef\xbf\xbd"},
        {"&#x110000;&#xD800;&#xFFFFFFFFFF;", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
        {"&#0000000000000065;", "A"},
        {"a&#65", "a&#65"},
        {"x&", "x&"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decode(c.page), c.events) << c.page;
}

TEST(HTMLTextScan, Charsets) {
    EXPECT_EQ(decode("caf\xe9", "iso-8859-1"), "caf\xc3\xa9");
    EXPECT_EQ(decode("\x80", "windows-1252"), "\xe2\x82\xac");
    EXPECT_EQ(decode("caf\xe9", "no-such-charset"), "cafi"); // seven bits
    // Valid UTF-8 passes; bad sequences are skipped, a cut-off one at the end too.
    EXPECT_EQ(decode("caf\xc3\xa9 \xe2\x82\xac"), "caf\xc3\xa9 \xe2\x82\xac");
    EXPECT_EQ(decode("a\xfe"
                     "b\xc3"),
              "ab");
    EXPECT_EQ(decode("a\xc3"
                     "b"),
              "ab");
}

// Nothing beyond the range is read: a reference cut by the end stays text.
TEST(HTMLTextScan, StopsAtTheEndOfThePiece) {
    const std::string buffer = "x&#65;";
    test::recorder r;
    html_text_scan(buffer.data(), buffer.data() + 5, r);
    EXPECT_EQ(r.joined(), "x&#65");
    test::recorder r2;
    html_text_scan(buffer.data(), buffer.data() + 3, r2);
    EXPECT_EQ(r2.joined(), "x&#");
}

TEST(HTMLTextScan, PassesAsciiRunsWithoutCopying) {
    const std::string text = "plain text & more";
    struct ranges : HTMLPlug {
        std::vector<const char*> begins;
        void tag(html_tag&, bool) override {}
        void text(const char* b, const char*) override { begins.push_back(b); }
        void end() override {}
    } r;
    html_text_scan(text.data(), text.data() + text.size(), r);
    ASSERT_EQ(r.begins.size(), 1u);
    EXPECT_EQ(r.begins[0], text.data());
}

} // namespace
} // namespace lumbrake
