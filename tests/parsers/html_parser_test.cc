#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "../support/command.h"
#include "../support/files.h"
#include "parser_test_util.h"
#include "util/codecs.h"
#include "fff/FFFbuilder.h"
#include "fff/text_exclusion.h"
#include "htmlparser/html2fff.h"
#include "htmlparser/htmlscanner.h"
#include "htmlparser/strip.h"
#include "htmlparser/tagcleaner.h"
#include "htmlparser/textscanner.h"

namespace lumbrake {
namespace {

using test::parse_html;

// The chain without the central-content markers: slices as the tags chose them.
struct chain_result {
    std::string text;
    std::vector<std::string> links;
    std::vector<int> dict_stack;
};
chain_result run_chain(const std::string& page, const std::string& url = "http://h/a/b.html",
                       const char* cs = "utf-8") {
    FFFbuilder builder(1000);
    HTMLtoFFF to_fff(builder, url);
    HTMLTextScanner ts(&to_fff);
    HTMLTagCleaner cleaner(&ts);
    StripStyle ss(&cleaner);
    StripJS js(&ss);
    set_input_charset(cs);
    HTMLScanner(page.data(), page.size(), &js).run();
    chain_result r;
    r.text = test::dump(*builder.document);
    for (const auto& l : builder.document->linkscores_)
        r.links.push_back(l.url);
    r.dict_stack = builder.dict_stack;
    set_input_charset("utf-8");
    return r;
}

struct page_case {
    const char* page;
    const char* text;
};

TEST(HTMLtoFFF, SlicesByTag) {
    const page_case cases[] = {
        {"<h2>big</h2><h5>med</h5>x<b>y</b>z", "9:big\n6:med\n5:x | 6:y | 5:z\n"},
        {"a<em>b</em><i>c</i><strong>d</strong>", "5:a | 6:b | 6:c | 6:d\n"},
        {"<h1>a</h1><h3>b</h3><h4>c</h4><h6>d</h6>", "9:a\n9:b\n6:c\n6:d\n"},
        {"<a href=\"x.html\">go</a> on <a name=n>here</a>", "7@0:go | 5:on | 5:here\n"},
        {"<a href=x><b>in</b></a>", "7@0:in\n"},
        {"<p>one<p>two", "5:one\n5:two\n"},
        {"a<br>b<hr>c<li>d<td>e", "5:a\n5:b\n5:c\n5:d\n5:e\n"},
        // Inline close and reopen keeps emphasis on both sides and balances the slices.
        {"<b>x<i>y</b>z</i>w", "6:x | 6:y | 6:z | 5:w\n"},
        {"<title>the one</title><title>two</title>x", "15:the one\n4:two\n5:x\n"},
        {"<meta name=\"description\" content=\"all of it\"><meta NAME=Keywords content=k1,k2>",
         "3:\" all of it \"\n2:k1 , k2\n"},
        {"<meta name=other content=zz><meta name=keywords>x", "5:x\n"},
        {"a<script>var s = 1;</script>b<style>p{}</style>c", "5:abc\n"},
        {"<dl><dt>t</dt><dd>d</dd></dl><font>f</font><th>h", "5:tdfh\n"},
        {"x&lt;y&gt;&amp;z&euro;", "5:x < y >& z \xe2\x82\xac\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(run_chain(c.page).text, c.text) << c.page;
}

// hr, input and select end the paragraph without leaving a slice pushed behind.
TEST(HTMLtoFFF, EmptyElementsLeaveNoSliceBehind) {
    const page_case cases[] = {
        {"<h2>Find <input></h2>rest", "9:Find\n5:rest\n"},
        {"<h2>a<hr>b</h2>c", "9:a\n9:b\n5:c\n"},
        {"<b>a<select><option>o</option></select>b</b>c", "6:a\n5:o\n6:b | 5:c\n"},
    };
    for (const auto& c : cases) {
        chain_result r = run_chain(c.page);
        EXPECT_EQ(r.text, c.text) << c.page;
        EXPECT_EQ(r.dict_stack, std::vector<int>{5}) << c.page;
    }
}

TEST(HTMLtoFFF, Links) {
    EXPECT_EQ(run_chain("<a href=\"../x.html#top\">x</a>").links,
              std::vector<std::string>{"http://h/x.html"});
    EXPECT_EQ(run_chain("<base href=\"http://g/d/\"><a href=\"../x.html#top\">x</a>").links,
              std::vector<std::string>{"http://g/x.html"});
    // A base without a scheme of its own is ignored.
    EXPECT_EQ(run_chain("<base href=\"/d/e/\"><a href=\"y.html\">x</a>").links,
              std::vector<std::string>{"http://h/a/y.html"});
    // Values are decoded, unquoted, trimmed and cleared of line breaks; repeats share an id.
    EXPECT_EQ(run_chain("<a href=' \n/p?a=1&amp;b=2\n '>1</a><a href=\"/p?a=1&b=2\">2</a>").text,
              "7@0:1 | 7@0:2\n");
    EXPECT_EQ(run_chain("<a href=' \n/p?a=1&amp;b=2\n '>1</a>").links,
              std::vector<std::string>{"http://h/p?a=1&b=2"});
    EXPECT_EQ(run_chain("<a href=\"/a\nb\">1</a>").links, std::vector<std::string>{"http://h/ab"});
    // area, frame and iframe add links without text.
    EXPECT_EQ(
        run_chain("<area href=m.html><frame src=\"f.html\"><iframe src=i.html></iframe>").links,
        (std::vector<std::string>{"http://h/a/m.html", "http://h/a/f.html", "http://h/a/i.html"}));
    EXPECT_EQ(run_chain("<a href=\"mailto:Someone@Example.org\">m</a>").links,
              std::vector<std::string>{"mailto:Someone%40Example.org"});
}

TEST(HTMLtoFFF, MetaCharsetSwitchesDecoding) {
    const std::string head = "<meta http-equiv=\"Content-Type\" content=\"";
    // The page is read as Latin-1 until the meta element names UTF-8.
    EXPECT_EQ(run_chain("\xc3\xa9" + head + "text/html; charset=UTF-8\">caf\xc3\xa9", "http://h/",
                        "iso-8859-1")
                  .text,
              "5:\xc3\x83 \xc2\xa9 caf\xc3\xa9\n");
    EXPECT_EQ(run_chain(head + "text/html\">caf\xc3\xa9", "http://h/", "utf-8").text,
              "5:caf\xc3\x83 \xc2\xa9\n");
    EXPECT_EQ(run_chain("<META HTTP-EQUIV=content-type CONTENT='text/html;charset=windows-1252'>"
                        "\x80",
                        "http://h/", "utf-8")
                  .text,
              "5:\xe2\x82\xac\n");
    // The parse result keeps the charset that was given.
    auto d = parse_html(head + "text/html; charset=iso-8859-2\">x", "http://h/", "utf-8");
    EXPECT_EQ(d.result.charset, "utf-8");
}

// The text in another charset, as the iconv program writes it.
std::string iconv_to(const std::string& utf8, const std::string& cs) {
    const std::string in = std::string(std::getenv("TEST_TMPDIR") ? std::getenv("TEST_TMPDIR")
                                                                  : "/tmp/") +
                           "iconv-in.txt";
    std::ofstream(in, std::ios::binary) << utf8;
    return tn_test::command_output("iconv -f UTF-8 -t " + cs + " '" + in + "'");
}

TEST(HTMLParser, PrescanFindsTheDeclarationNearTheStart) {
    const std::pair<std::string, const char*> cases[] = {
        {"<meta charset=\"UTF-8\">", "utf-8"},
        {"<html><head><META CHARSET=Shift_JIS>", "shift_jis"},
        {"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=EUC-JP\">", "euc-jp"},
        {"<meta content='text/html;charset=gbk' http-equiv='content-type'/>", "gbk"},
        {"<meta name=viewport content=\"width=device-width\"><meta charset=' big5 '>", "big5"},
        {"<!-- <meta charset=koi8-r> --><meta charset=utf-8>", "utf-8"},
        {"<meta http-equiv=refresh content=\"0; charset=x\">", ""},
        {"<metadata charset=utf-8>", ""},
        {"<p>no declaration</p>", ""},
        {std::string(1030, ' ') + "<meta charset=utf-8>", ""}, // past the first 1024 bytes
        {std::string(1010, ' ') + "<meta charset=utf-8>", ""}, // cut off by them
        {"<meta charset=\"utf-8", ""},
    };
    for (const auto& [page, want] : cases)
        EXPECT_EQ(prescan_charset(page), want) << page.substr(0, 80);
}

TEST(HTMLParser, DeclarationNearTheStartAppliesToTheWholePage) {
    const std::string cafe = "caf\xc3\xa9";
    // HTML5's form, and a title before the declaration (as DocBook writes pages).
    auto html5 = parse_html("<title>" + cafe + "</title><meta charset=\"utf-8\"><p>" + cafe,
                            "http://h/", "");
    EXPECT_EQ(html5.text, "15:" + cafe + "\n5:" + cafe + "\n");
    EXPECT_EQ(html5.result.charset, "utf-8");
    auto docbook = parse_html("<html><head><title>" + cafe +
                                  "</title><meta http-equiv=\"Content-Type\" "
                                  "content=\"text/html; charset=UTF-8\"></head><body>" +
                                  cafe,
                              "http://h/", "");
    EXPECT_EQ(docbook.text, "15:" + cafe + "\n5:" + cafe + "\n");
    // The HTTP header's charset still wins.
    auto header = parse_html("<meta charset=\"utf-8\">" + cafe, "http://h/", "iso-8859-1");
    EXPECT_EQ(header.text, "5:caf\xc3\x83 \xc2\xa9\n");
    EXPECT_EQ(header.result.charset, "iso-8859-1");
    // Nothing declared: ISO-8859-1 with windows-1252's characters in 0x80-0x9F.
    auto none = parse_html("\x93quoted\x94 \x80 5", "http://h/", "");
    EXPECT_EQ(none.text, "5:\xe2\x80\x9c quoted \xe2\x80\x9d  \xe2\x82\xac  5\n");
    EXPECT_EQ(none.result.charset, "iso-8859-1");
}

TEST(HTMLParser, EastAsianPagesDecodeThroughIconv) {
    const std::string title = "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x81\xae"
                              "\xe6\x96\x87\xe6\x9b\xb8"; // a Japanese title
    const std::string chinese = "\xe4\xb8\xad\xe6\x96\x87\xe7\xbd\x91\xe9\xa1\xb5";
    struct page_case {
        const char* charset;
        std::string text;
        bool in_header;
    } cases[] = {
        {"EUC-JP", title, false},   {"Shift_JIS", title, false},   {"GBK", chinese, false},
        {"ISO-2022-JP", title, false}, {"EUC-JP", title, true},   {"BIG5", "\xe4\xb8\xad\xe6\x96\x87", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.charset);
        const std::string page =
            (c.in_header ? std::string() : "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=" + std::string(c.charset) + "\">") +
            "<title>" + iconv_to(c.text, c.charset) + "</title><p>" + iconv_to(c.text, c.charset) +
            " mail</p>";
        auto d = parse_html(page, "http://h/", c.in_header ? c.charset : "");
        EXPECT_EQ(d.result.status, PARSE_OK);
        EXPECT_EQ(d.text.substr(0, 4 + c.text.size()), "15:" + c.text + "\n") << d.text;
        EXPECT_NE(d.text.find(c.text + " mail"), std::string::npos) << d.text;
    }
}

TEST(HTMLtoFFF, NoframesTextIsKeptAndSoIsWhatFollows) {
    EXPECT_EQ(run_chain("<frameset><frame src=a.html><noframes>old browsers</noframes>"
                        "</frameset> after")
                  .text,
              "5:old browsers after\n");
    // A noframes element inside a body does not cut off the rest of the page.
    EXPECT_EQ(run_chain("<body>top <noframes>alt</noframes><p>rest of the page</p></body>").text,
              "5:top alt\n5:rest of the page\n");
}

TEST(HTMLParser, ParsesToAFinishedDocument) {
    auto d = parse_html("<html><head><title>Report</title></head><body>"
                        "<p>Many sentences with several longer words make central content here."
                        " Another sentence carries plenty more words along.</p>"
                        "<p><a href=\"/next\">next</a></p></body></html>");
    EXPECT_EQ(d.result.status, 0);
    EXPECT_EQ(d.result.mime, "text/html");
    // The long paragraph moved to the central slices; the title stays 15.
    EXPECT_NE(d.text.find("15:Report"), std::string::npos) << d.text;
    EXPECT_NE(d.text.find("10:Many sentences"), std::string::npos) << d.text;
    EXPECT_EQ(d.links, std::vector<std::string>{"http://h/next"});
    ASSERT_EQ(d.result.outlinks.size(), 1u);
    EXPECT_EQ(d.result.outlinks[0].second, 1000);
}

TEST(HTMLParser, TextExclusionRemovesRegionsBeforeScanning) {
    std::string error;
    bool ok = false;
    text_exclusion_matcher m("<!-- skip -->", "<!-- /skip -->", error, ok);
    ASSERT_TRUE(ok) << error;
    parser p(test::empty_config());
    parse_result r;
    p.parse_document(&m, 1000, "http://h/",
                     "<p>kept<!-- skip --><a href=gone>menu</a><!-- /skip -->x", "text/html",
                     "utf-8", "", r);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(test::dump(*r.document), "5:keptx\n");
    EXPECT_TRUE(r.outlinks.empty());
}

using tn_test::read_file;

// Hostile pages: never a crash, always status 0, the slice stack balanced.
TEST(HTMLParser, HostileInput) {
    std::vector<std::pair<std::string, std::string>> pages;
    for (const auto& e : std::filesystem::directory_iterator(TN_TEST_DATA "/nasty"))
        pages.emplace_back(e.path().filename().string(), read_file(e.path()));
    const int n = 100000;
    std::string s;
    for (const char* t : {"div", "b", "frameset", "table", "a href=x", "h2", "li", "span"}) {
        s.clear();
        for (int i = 0; i < n; ++i)
            s += std::string("<") + t + ">";
        s += "deep";
        pages.emplace_back(std::string("nested ") + t, s);
    }
    s.clear();
    for (int i = 0; i < n; ++i)
        s += "<frameset><b><i><a href=y><em><span>";
    pages.emplace_back("nested mixed", s);
    pages.emplace_back("nul bytes", std::string("a\0<b\0>\0</b>&#0;<a href=\"\0\">\0</a>", 30));
    pages.emplace_back("all bytes", [] {
        std::string a;
        for (int i = 0; i < 256 * 4; ++i)
            a += char(i * 7);
        return a;
    }());
    for (const auto& [name, page] : pages) {
        for (const char* cs : {"utf-8", "iso-8859-1", "unknown"}) {
            chain_result r = run_chain(page, "http://h/a/b.html", cs);
            EXPECT_EQ(r.dict_stack, std::vector<int>{5}) << name;
            auto d = parse_html(page, "http://h/a/b.html", cs);
            EXPECT_EQ(d.result.status, 0) << name;
            EXPECT_TRUE(d.result.document) << name;
        }
    }
}

// The deep text survives; the 100k-deep frameset page keeps b's emphasis balanced.
TEST(HTMLParser, DeepNestingKeepsText) {
    std::string s;
    for (int i = 0; i < 100000; ++i)
        s += "<frameset>";
    s += "<b>x</b>y<p>z";
    EXPECT_EQ(run_chain(s).text, "5:xy\n5:z\n");
    s.clear();
    for (int i = 0; i < 100000; ++i)
        s += "<div>";
    s += "deep";
    EXPECT_EQ(run_chain(s).text, "5:deep\n");
}

} // namespace
} // namespace lumbrake
