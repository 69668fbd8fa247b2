#include "fff/fff2xml.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>

using namespace lumbrake;

namespace {

FFF::Low* run(FFF::S* s, int dict, std::vector<std::string> words) {
    auto* low = new FFF::Low(dict);
    low->words = std::move(words);
    s->add_child(low);
    return low;
}

// root > contents > p > s, returning the sentence.
FFF::S* sentence(FFF::DocumentData& root, FFF::Contents** contents_out = nullptr) {
    auto* contents = new FFF::Contents;
    auto* p = new FFF::P;
    auto* s = new FFF::S;
    root.add_child(contents);
    contents->add_child(p);
    p->add_child(s);
    if (contents_out) *contents_out = contents;
    return s;
}

void expect_xmllint_accepts(const std::string& xml, const char* name) {
    std::string path = testing::TempDir() + "fffform-" + name + ".xml";
    std::ofstream(path, std::ios::binary) << xml;
    std::string cmd = "xmllint --noout " + path;
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

} // namespace

TEST(FFFXml, ExampleDocumentByteExact) {
    FFF::DocumentData root;
    root.score = 500000;
    root.add_link("/b", 1000000);
    run(sentence(root), FFF::centralNormDict, {"Hello", ",", "world"});
    std::string xml;
    ASSERT_TRUE(fff_to_xml(xml, "g1", "/a?x=1&y=2", 1100000000, &root));
    EXPECT_EQ(xml, "<?xml version=\"1.0\"?>\n"
                   "<document id=\"g1\" url=\"/a?x=1&amp;y=2\" timestamp=\"1100000000\" score= "
                   "\"0.5\" >\n"
                   " <fff>\n"
                   "  <link urlid=\"0\" url=\"/b\" score=\"1\"/>\n"
                   "  <contents>\n"
                   "   <p><s><low dictid=\"10\" sliceid=\"centralNorm\">Hello,world</low></s></p>\n"
                   "  </contents>\n"
                   " </fff>\n"
                   "</document>\n");
    expect_xmllint_accepts(xml, "example");
}

TEST(FFFXml, ScoreTexts) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0, "0"},        {999999, "0.999999"}, {1000000, "1"}, {4000000000u, "1"},
        {500000, "0.5"}, {123456, "0.123456"}, {1, "1e-06"},
    };
    for (const auto& [score, text] : cases)
        EXPECT_EQ(score_text(score), text) << score;
}

TEST(FFFXml, RunsLinksMetasAndEscaping) {
    FFF::DocumentData root;
    root.score = 0;
    for (const char* url : {"/l0", "/l1", "/l2", "/q?a=\"1\"&b=<2>"})
        root.add_link(url, 250000);
    FFF::Contents* contents = nullptr;
    FFF::S* s = sentence(root, &contents);
    run(s, FFF::marginalNormDict, {"a", "b", "\xC3\xA9t\xC3\xA9", "-", "x", "<&>"});
    run(s, FFF::centralLinkDict, {"four"})->set_link(3);
    run(s, 40, {"odd"});
    contents->metas = {
        {FFF::meta_documentwide, 1, "k<1>", "v&1", 0, 0},
        {FFF::meta_positional, 2, "k2", "v2", 7, 0},
        {FFF::meta_ranged, 31, "k3", "line\nbreak", 4, 9},
    };
    std::string xml;
    ASSERT_TRUE(render_fff(xml, "HTML", "id&1", "/u", -5, &root)); // not exactly "html"
    EXPECT_EQ(
        xml,
        "<?xml version=\"1.0\"?>\n"
        "<document id=\"id&1\" url=\"/u\" timestamp=\"-5\" score= \"0\" >\n"
        " <fff>\n"
        "  <link urlid=\"0\" url=\"/l0\" score=\"0.25\"/>\n"
        "  <link urlid=\"1\" url=\"/l1\" score=\"0.25\"/>\n"
        "  <link urlid=\"2\" url=\"/l2\" score=\"0.25\"/>\n"
        "  <link urlid=\"3\" url=\"/q?a=&quot;1&quot;&amp;b=&lt;2&gt;\" score=\"0.25\"/>\n"
        "  <contents>\n"
        "   <p><s><low dictid=\"5\" sliceid=\"marginalNorm\">a b \xC3\xA9t\xC3\xA9-x&lt;&amp;&gt;"
        "</low><low dictid=\"12\" sliceid=\"centralLink\" urlid=\"3\">four</low>"
        "<low dictid=\"40\" sliceid=\"?\">odd</low></s></p>\n"
        "  </contents>\n"
        "  <meta type=\"documentwide\" dictid=\"1\" sliceid=\"author\" key=\"k&lt;1&gt;\">"
        "v&amp;1</meta>\n"
        "  <meta type=\"positional\" pos=\"7\" dictid=\"2\" sliceid=\"keyword\" key=\"k2\">"
        "v2</meta>\n"
        "  <meta type=\"ranged\" beg=\"4\" end=\"9\" dictid=\"31\" sliceid=\"customF\" "
        "key=\"k3\">line&#10;break</meta>\n"
        " </fff>\n"
        "</document>\n");
    std::string again;
    render_fff(again, "html ", "id1", "/u", -5, &root);
    EXPECT_EQ(again.rfind("<?xml", 0), 0u);
    render_fff(again, "xml", "id1", "/u", -5, &root);
    expect_xmllint_accepts(again, "full");
}

TEST(FFFHtml, PreviewWithTitle) {
    FFF::DocumentData root;
    root.score = 123456;
    root.add_link("/x", 1);
    root.add_link("/next?a=1&b=\"2\"<script>", 1);
    FFF::S* s = sentence(root);
    run(s, FFF::titleDict, {"My", "Title", "&"});
    run(s, FFF::centralNormDict, {"Body", "text", "<b>"});
    run(s, FFF::centralLinkDict, {"go"})->set_link(1);
    run(s, FFF::marginalLinkDict, {"lost"})->set_link(7); // no such link
    run(s, FFF::titleDict, {"Second"});
    std::string html;
    ASSERT_TRUE(fff_to_html(html, "g", "/u", 1, &root));
    EXPECT_EQ(html,
              "<html>\n"
              "<head><title>My Title&amp;</title><meta name=\"trawlnest-score\" "
              "content=\"0.123456\" /></head>\n"
              "<body>\n"
              "<b>My Title&amp;</b><br />\n"
              "<p> Body text&lt;b&gt; <a href=\"/next?a=1&amp;b=&quot;2&quot;&lt;script&gt;\">"
              "go</a> lost Second </p>\n"
              " </body>\n"
              "</html>\n");
}

TEST(FFFHtml, PreviewWithoutTitle) {
    FFF::DocumentData root;
    run(sentence(root), FFF::centralNormDict, {"only"});
    std::string html;
    ASSERT_TRUE(fff_to_html(html, "g", "/u", 1, &root));
    EXPECT_EQ(html, "<html>\n"
                    "<head><title></title><meta name=\"trawlnest-score\" content=\"1\" /></head>\n"
                    "<body>\n"
                    "<b></b><br />\n"
                    "<p>only </p>\n"
                    " </body>\n"
                    "</html>\n");
}
