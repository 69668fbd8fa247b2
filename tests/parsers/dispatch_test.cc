#include <gtest/gtest.h>

#include <string>

#include "parser_test_util.h"
#include "htmlparser/htmlparser.h"
#include "parsers/textparser.h"

namespace lumbrake {
namespace {

using test::parse_with;

TEST(ParserDispatch, DetectByName) {
    struct name_case {
        const char* name;
        const char* mime; // null: not detected by any parser
    };
    const name_case cases[] = {
        {"notes.txt", "text/plain"}, {"notes.TXT", "text/plain"},
        {"notes.Txt", nullptr},      {"x.log", "text/plain"},
        {"x.LOG", "text/plain"},     {"x.text", "text/plain"},
        {"x.TEXT", "text/plain"},    {"txt", nullptr},
        {"index.html", "text/html"}, {"index.HTML", "text/html"},
        {"index.htm", "text/html"},  {"index.HTM", "text/html"},
        {"index.Htm", nullptr},      {"xhtm", nullptr},
        {"a.html?x=1", nullptr},
    };
    parser p(test::empty_config());
    for (const auto& c : cases) {
        std::string mime, cs;
        EXPECT_FALSE(p.detect(DETECT_CONTENT, "<html>", c.name, mime, cs)) << c.name;
        ASSERT_TRUE(p.detect(DETECT_NAME, "", c.name, mime, cs)) << c.name;
        EXPECT_EQ(mime, c.mime ? c.mime : "application/octet-stream") << c.name;
        EXPECT_EQ(cs, c.mime ? "iso-8859-1" : "") << c.name;
    }
    // A charset that is already known stays.
    std::string mime, cs = "utf-8";
    HTMLParser(test::empty_config()).detect(DETECT_NAME, "", "a.htm", mime, cs);
    EXPECT_EQ(cs, "utf-8");
}

TEST(ParserDispatch, ChoosesByMimeTypeThenByName) {
    auto html = parse_with("<b>x</b>", "text/html", "http://h/doc");
    EXPECT_EQ(html.result.status, 0);
    EXPECT_EQ(html.result.mime, "text/html");
    EXPECT_EQ(html.text, "6:x\n");
    auto text = parse_with("<b>x</b>", "text/plain", "http://h/doc.html");
    EXPECT_EQ(text.result.mime, "text/plain");
    EXPECT_EQ(text.text, "10:< b > x </ b >\n");
    // Unknown or generic types fall back to the name.
    for (const char* mime : {"", "application/octet-stream"}) {
        auto byname = parse_with("<b>x</b>", mime, "http://h/doc.HTM", "");
        EXPECT_EQ(byname.result.status, 0) << mime;
        EXPECT_EQ(byname.result.mime, "text/html") << mime;
        EXPECT_EQ(byname.result.charset, "iso-8859-1") << mime;
    }
}

TEST(ParserDispatch, UnknownContentType) {
    struct unknown_case {
        const char* mime;
        const char* url;
        const char* error;
    };
    const unknown_case cases[] = {
        {"", "http://h/data.bin", "unknown content type ''"},
        {"application/octet-stream", "http://h/x",
         "unknown content type 'application/octet-stream'"},
        {"TEXT/HTML", "http://h/x.html", "unknown content type 'TEXT/HTML'"},
        {"image/png", "http://h/x.html", "unknown content type 'image/png'"},
    };
    for (const auto& c : cases) {
        auto d = parse_with("<html>x</html>", c.mime, c.url);
        EXPECT_EQ(d.result.status, PARSE_UNKNOWN_TYPE) << c.mime;
        EXPECT_EQ(d.result.error, c.error);
        EXPECT_FALSE(d.result.document);
        EXPECT_TRUE(d.result.outlinks.empty());
    }
}

TEST(ParserDispatch, WebSearchPseudoSchemesResolveAgainstTheEndpoint) {
    auto d = parse_with("<a href=\"/url?q=1\">r</a><a href=\"next\">n</a>", "text/html",
                        "google:some+words");
    EXPECT_EQ(d.links, (std::vector<std::string>{"http://www.google.com/url?q=1",
                                                 "http://www.google.com/next"}));
    auto m = parse_with("<a href=\"r\">r</a>", "text/html", "msn:words");
    EXPECT_EQ(m.links, std::vector<std::string>{"http://search.msn.com/r"});
}

TEST(ParserDispatch, OutlinksInLinkIdOrderWithBaseScore) {
    auto d = parse_with("<a href=b>1</a><a href=a>2</a><a href=b>3</a><frame src=c>", "text/html",
                        "http://h/");
    ASSERT_EQ(d.result.outlinks.size(), 3u);
    EXPECT_EQ(d.links, (std::vector<std::string>{"http://h/b", "http://h/a", "http://h/c"}));
    for (const auto& l : d.result.outlinks)
        EXPECT_EQ(l.second, 1000);
}

TEST(ParserDispatch, SideMetadata) {
    const std::string side =
        "<metas><meta type=\"documentwide\" sliceid=\"author\" key=\"Who\">Ann "
        "<b>Lee</b></meta><meta type=\"ranged\" dictid=\"10\" beg=\"4\" end=\"9\" "
        "key=\"k\">v</meta><meta type=\"documentwide\" dictid=\"0\" key=\"x\">dropped</meta>"
        "</metas>";
    auto d = parse_with("word", "text/plain", "http://h/x", "utf-8", side);
    ASSERT_EQ(d.result.status, 0);
    const auto* contents = dynamic_cast<const FFF::Contents*>(d.result.document->children[0]);
    ASSERT_NE(contents, nullptr);
    ASSERT_EQ(contents->metas.size(), 2u);
    EXPECT_EQ(contents->metas[0].key, "who");
    EXPECT_EQ(contents->metas[0].value, "ann lee");
    EXPECT_EQ(contents->metas[1].pos, 4u);
    // Side metadata that is not well-formed is ignored; the parse still succeeds.
    for (const char* bad : {"<metas><meta type=\"documentwide\" dictid=\"1\">x</metas>", "junk"}) {
        auto b = parse_with("word", "text/plain", "http://h/x", "utf-8", bad);
        EXPECT_EQ(b.result.status, 0);
        const auto* c = dynamic_cast<const FFF::Contents*>(b.result.document->children[0]);
        EXPECT_TRUE(c->metas.empty());
    }
}

TEST(TEXTParser, ShortLinesEndParagraphs) {
    const std::string long_line(60, 'w');
    const std::string short_line = "short line";
    struct text_case {
        std::string data;
        std::string text;
    };
    const text_case cases[] = {
        {"Title\n" + long_line + "\n" + short_line, "10:Title\n10:" + long_line + " short line\n"},
        // CR LF is one line break.
        {"Title\r\n" + long_line + "\r\n" + short_line,
         "10:Title\n10:" + long_line + " short line\n"},
        {"Title\r" + long_line + "\r" + short_line, "10:Title\n10:" + long_line + " short line\n"},
        {"one line without a break at all", "10:one line without a break at all\n"},
        {"a\n\n\nb", "10:a\n10:b\n"},
        {"", ""},
        // A byte that does not decode is dropped without ending the word.
        {"ab\xff"
         "cd\xc3",
         "10:abcd\n"},
    };
    for (const auto& c : cases) {
        auto d = parse_with(c.data, "text/plain", "http://h/t.txt", "utf-8");
        EXPECT_EQ(d.result.status, 0);
        EXPECT_EQ(d.text, c.text) << c.data;
    }
}

TEST(TEXTParser, Charsets) {
    EXPECT_EQ(parse_with("caf\xe9", "text/plain", "x", "ISO-8859-1").text, "10:caf\xc3\xa9\n");
    EXPECT_EQ(parse_with("caf\xc3\xa9", "text/plain", "x", "utf-8").text, "10:caf\xc3\xa9\n");
    EXPECT_EQ(parse_with("\x80"
                         "5",
                         "text/plain", "x", "windows-1252")
                  .text,
              "10:\xe2\x82\xac 5\n");
    // No charset named: Latin-1, every byte kept (not cut to seven bits).
    EXPECT_EQ(parse_with("caf\xe9", "text/plain", "x", "").text, "10:caf\xc3\xa9\n");
    EXPECT_EQ(parse_with("caf\xe9", "text/html", "x", "").text, "5:caf\xc3\xa9\n");
    auto d = parse_with("x", "text/plain", "x", "koi8-whatever");
    EXPECT_EQ(d.result.charset, "koi8-whatever");
    EXPECT_EQ(d.result.mime, "text/plain");
}

} // namespace
} // namespace lumbrake
