#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/codecs.h"
#include "fff/FFFbuilder.h"

namespace {

using lumbrake::FFFbuilder;

void feed(FFFbuilder& b, const std::u32string& text) {
    for (char32_t c : text)
        b.add_char(static_cast<std::uint32_t>(c));
}

// Paragraphs of sentences of words; runs within a sentence are flattened.
using sentence = std::vector<std::string>;
using paragraph = std::vector<sentence>;

std::vector<paragraph> shape(const FFF::Contents& contents) {
    std::vector<paragraph> out;
    for (auto* pn : contents.children) {
        paragraph p;
        for (auto* sn : dynamic_cast<const FFF::P&>(*pn).children) {
            sentence s;
            for (auto* ln : dynamic_cast<const FFF::S&>(*sn).children)
                for (const auto& w : dynamic_cast<const FFF::Low&>(*ln).words)
                    s.push_back(w);
            p.push_back(s);
        }
        out.push_back(p);
    }
    return out;
}

std::string show(const std::vector<paragraph>& ps) {
    std::string out;
    for (const auto& p : ps) {
        out += "[";
        for (const auto& s : p) {
            out += "(";
            for (const auto& w : s)
                out += "\xC2\xAB" + w + "\xC2\xBB";
            out += ")";
        }
        out += "]";
    }
    return out;
}

// Splits the text, closes the paragraph, and shows what the document holds.
std::string split(const std::u32string& text) {
    FFFbuilder b(1000000);
    feed(b, text);
    b.end_paragraph();
    return show(shape(*b.contents));
}

TEST(FffBuilder, SplitterTable) {
    struct split_case {
        std::u32string text;
        std::string expected;
    };
    const std::vector<split_case> cases = {
        {U"Hello, world. Next", "[(«Hello»«, »«world»«.»)(«Next»)]"},
        {U"a , b", "[(«a»« , »«b»)]"},
        {U"a ,b", "[(«a»« ,»«b»)]"},
        {U"$5", "[(«$»«5»)]"},
        {U"end. x", "[(«end»«.»)(«x»)]"},
        {U"end.. x", "[(«end»«.. »«x»)]"},
        {U"end!? x", "[(«end»«!? »«x»)]"},
        {U"e.g. x", "[(«e»«.»«g»«.»)(«x»)]"},
        {U"a; b! c? d", "[(«a»«;»)(«b»«!»)(«c»«?»)(«d»)]"},
        {U"x:  y", "[(«x»«: »«y»)]"},           // a colon never ends a sentence
        {U"2 + 2", "[(«2»« + »«2»)]"},          // a symbol token takes its blanks
        {U"caf\u0065\u0301s", "[(«cafe»«s»)]"}, // a combining mark splits the word
        {U"a\u00A0b", "[(«a»«b»)]"},            // no-break space is a blank
        {U"a\tb\nc\rd", "[(«a»«b»«c»«d»)]"},    // controls act as blanks
        {U"x\U0001F600y \U00010400", "[(«x\xF0\x9F\x98\x80y»«\xF0\x90\x90\x80»)]"},
        {U"\u4E2D\u6587", "[(«\xE4\xB8\xAD\xE6\x96\x87»)]"},
        {U"...", "[(«...»)]"}, // punctuation at the very start opens the structure
        {U"   \t  ", ""},
        {U"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(split(c.text), c.expected);
}

TEST(FffBuilder, CodePointsUtf8CannotCarryBecomeReplacementCharacters) {
    FFFbuilder b(1000000);
    for (std::uint32_t c : {0x61u, 0x110000u, 0xFFFFFFFFu, 0xFFFFu, 0xFFFEu, 0x10FFFFu, 0x62u})
        b.add_char(c);
    b.end_paragraph();
    EXPECT_EQ(show(shape(*b.contents)), "[(«a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
                                        "\xF4\x8F\xBF\xBF"
                                        "b»)]");
}

TEST(FffBuilder, SentenceEndsStayInTheOpenParagraph) {
    FFFbuilder b(1000000);
    feed(b, U"Hello, world. Next");
    EXPECT_TRUE(b.contents->children.empty()); // the paragraph is still open
    ASSERT_NE(b.current_p, nullptr);
    ASSERT_EQ(b.current_p->children.size(), 1u);
    ASSERT_NE(b.current_low, nullptr);
    EXPECT_EQ(b.word, "Next");
    b.end_paragraph();
    EXPECT_EQ(b.current_p, nullptr);
    EXPECT_EQ(b.contents->children.size(), 1u);
}

TEST(FffBuilder, BlankOnlyParagraphsLeaveNothing) {
    FFFbuilder b(1000000);
    feed(b, U"one");
    b.end_paragraph();
    feed(b, U"  \n ");
    b.end_paragraph();
    b.end_paragraph();
    feed(b, U"two");
    b.end_paragraph();
    EXPECT_EQ(show(shape(*b.contents)), "[(«one»)][(«two»)]");
}

TEST(FffBuilder, SlicesFollowTheStackAtEachNewRun) {
    FFFbuilder b(1000000);
    b.pop_dict();
    EXPECT_EQ(b.dict_stack, std::vector<int>{5});
    feed(b, U"marginal ");
    b.close_low();
    b.push_dict(15);
    feed(b, U"Title");
    b.close_low();
    b.pop_dict();
    b.push_dict(10);
    feed(b, U"body");
    b.push_dict(11); // no close_low: the open run keeps slice 10
    feed(b, U" more");
    b.end_paragraph();
    feed(b, U"after");
    b.end_paragraph();

    std::vector<std::pair<int, std::vector<std::string>>> runs;
    for (auto* p : b.contents->children)
        for (auto* s : dynamic_cast<FFF::P*>(p)->children)
            for (auto* l : dynamic_cast<FFF::S*>(s)->children) {
                auto* low = dynamic_cast<FFF::Low*>(l);
                runs.emplace_back(low->dictid, low->words);
            }
    const std::vector<std::pair<int, std::vector<std::string>>> expected = {
        {5, {"marginal"}}, {15, {"Title"}}, {10, {"body", "more"}}, {11, {"after"}}};
    EXPECT_EQ(runs, expected);
}

TEST(FffBuilder, LinkRunsTakeSliceSevenAndTheLinkId) {
    FFFbuilder b(500000);
    feed(b, U"see ");
    b.close_low();
    b.link_id = b.document->add_link("http://x/", b.base_score);
    b.link_id = b.document->add_link("http://y/", b.base_score);
    b.in_link = true;
    b.push_dict(15); // ignored inside a link
    feed(b, U"the page");
    b.in_link = false;
    b.close_low();
    b.pop_dict();
    feed(b, U" now");
    b.end_paragraph();

    auto* s =
        dynamic_cast<FFF::S*>(dynamic_cast<FFF::P*>(b.contents->children.at(0))->children.at(0));
    ASSERT_EQ(s->children.size(), 3u);
    auto* link = dynamic_cast<FFF::Low*>(s->children[1]);
    EXPECT_EQ(link->dictid, FFF::marginalLinkDict);
    EXPECT_EQ(link->urlid, 1);
    EXPECT_EQ(link->words, (std::vector<std::string>{"the", "page"}));
    EXPECT_EQ(dynamic_cast<FFF::Low*>(s->children[2])->dictid, 5);
    EXPECT_EQ(b.document->linkscores_.at(1).score, 500000u);
}

TEST(FffBuilder, DocumentCanBeTakenAndOutlivesTheBuilder) {
    std::unique_ptr<FFF::DocumentData> doc;
    {
        FFFbuilder b(1000000);
        feed(b, U"kept");
        b.end_paragraph();
        feed(b, U"open at the end");
        doc = std::move(b.document);
    }
    ASSERT_EQ(doc->children.size(), 1u);
    EXPECT_EQ(dynamic_cast<FFF::Contents*>(doc->children[0])->children.size(), 1u);
}

} // namespace
