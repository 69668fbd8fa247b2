// Result summaries and categories computed from FFF trees built in memory.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "idxstorage/idx-summary.h"
#include "fff/FFF.h"

using namespace lumbrake;

namespace {

// A small tree builder: doc.para({sentence, sentence}) where a sentence is a list of runs.
struct run {
    int slice;
    std::vector<std::string> words;
};
using sentence = std::vector<run>;

struct doc_builder {
    std::unique_ptr<FFF::DocumentData> root = std::make_unique<FFF::DocumentData>(true);
    FFF::Contents* contents = nullptr;

    doc_builder() {
        contents = new FFF::Contents(true);
        root->add_child(contents);
    }
    FFF::P* para(const std::vector<sentence>& sentences) {
        auto* p = new FFF::P;
        for (const sentence& s : sentences) {
            auto* sn = new FFF::S;
            for (const run& r : s) {
                auto* low = new FFF::Low(r.slice);
                low->words = r.words;
                sn->add_child(low);
            }
            p->add_child(sn);
        }
        contents->add_child(p);
        return p;
    }
    void meta(const std::string& key, const std::string& value) {
        FFF::meta m;
        m.key = key;
        m.value = value;
        contents->metas.push_back(m);
    }
};

std::vector<QueryAtom> words(std::initializer_list<const char*> list) {
    std::vector<QueryAtom> q;
    for (const char* w : list)
        q.push_back({ATOM_WORD, "", w});
    return q;
}

std::vector<std::unique_ptr<summary_unit>> extract(const doc_builder& d,
                                                   std::map<std::string, int32_t>& map) {
    fffExtractor ex(map);
    d.root->accept_const(ex, 0);
    return std::move(ex.units);
}

} // namespace

TEST(IdxSearchSummary, ParagraphScoresBySliceAndMatches) {
    std::map<std::string, int32_t> map{{"report", 0}};
    doc_builder d;
    d.para({{{10, {"nothing", "here"}}}});
    d.para({{{10, {"the", "Report"}}}});
    // Third match of one word in a centralEmph run: 11000 - 62 on top of the first two.
    d.para({{{11, {"report", "report", "report"}}}});
    // Mixed slices: (5 + 14) / 2; the title and remote runs add no tokens and do not count.
    d.para({{{5, {"a"}}, {15, {"Title"}}, {13, {"remote"}}, {14, {"b"}}}});
    auto units = extract(d, map);
    ASSERT_EQ(units.size(), 4u);
    EXPECT_DOUBLE_EQ(units[0]->score, 10.0);
    EXPECT_DOUBLE_EQ(units[1]->score, 10.0 + 10000.0);
    EXPECT_EQ(units[1]->matches, std::vector<int32_t>({1}));
    // Penalties run over the whole walk: this is the 2nd, 3rd and 4th match of "report".
    EXPECT_DOUBLE_EQ(units[2]->score, 11.0 + (11000 - 31) + (11000 - 62) + (11000 - 93));
    EXPECT_DOUBLE_EQ(units[3]->score, 9.5);
    EXPECT_EQ(units[3]->tokens, std::vector<std::string>({"a", "b", " "}));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(units[i]->order, i);
    EXPECT_EQ(map["report"], 4 * 31);
}

TEST(IdxSearchSummary, ParagraphWithoutCountedRunsHandsItsTokensOn) {
    std::map<std::string, int32_t> map;
    doc_builder d;
    d.para({{{15, {"Only", "title"}}}, {{8, {"remote"}}}}); // sentence ends still add blanks
    d.para({{{10, {"body"}}}});
    auto units = extract(d, map);
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0]->tokens, std::vector<std::string>({" ", " ", "body", " "}));
    EXPECT_EQ(units[0]->order, 0);

    // A document of title and remote-link runs only gives no summary.
    doc_builder t;
    t.para({{{15, {"Annual", "report"}}, {8, {"link"}}}});
    std::vector<std::string> contexts{"stale"};
    std::string categories = "stale";
    build_contexts(words({"annual"}), *t.root, contexts, categories);
    EXPECT_TRUE(contexts.empty());
    EXPECT_EQ(categories, "");
}

TEST(IdxSearchSummary, CutsFiveTokensBeforeFirstMatchAtAWord) {
    struct tcase {
        std::vector<std::string> tokens;
        std::string want;
    };
    std::vector<tcase> cases = {
        // First match at position 9: tokens 0 to 3 go, the text starts at token 4.
        {{"w0", "w1", "w2", "w3", "w4", "w5", "w6", "w7", "w8", "report", "end"},
         "w4 w5 w6 w7 w8 report end"},
        // Token 4 is punctuation: the start moves on to the next word.
        {{"w0", "w1", "w2", "w3", ",", "(", "w6", "w7", "w8", "report"}, "w6 w7 w8 report"},
        // A match near the start drops nothing but the leading punctuation.
        {{"(", "w1", "report", "w3"}, "w1 report w3"},
    };
    for (const tcase& c : cases) {
        std::map<std::string, int32_t> map{{"report", 0}};
        doc_builder d;
        d.para({{{10, c.tokens}}});
        auto units = extract(d, map);
        std::vector<std::string> contexts;
        pick_contexts(units, 1, contexts);
        ASSERT_EQ(contexts.size(), 1u);
        // The sentence's closing blank token follows the last word.
        EXPECT_EQ(contexts[0], c.want + " ");
    }
}

TEST(IdxSearchSummary, TwelveTokensThenStopsBeforeAWord) {
    std::map<std::string, int32_t> map;
    doc_builder d;
    // Punctuation and blank tokens count toward the twelve; punctuation after the twelfth
    // token is still taken, the next word is not.
    d.para({{{10, {"a", ",", "b"}}}, {{10, {"c", "d", "e", "f", "g", "h", "i", "!", "?", "j"}}}});
    auto units = extract(d, map);
    std::vector<std::string> contexts;
    pick_contexts(units, 0, contexts);
    ASSERT_EQ(contexts.size(), 1u);
    // Tokens: a , b " " c d e f g h i ! ? j " " -> 12 taken at "!", then "?" then stop at j.
    EXPECT_EQ(contexts[0], "a,b c d e f g h i!?");
}

TEST(IdxSearchSummary, PicksBestFirstUntilWidthPassesLimitAndAnswersInDocumentOrder) {
    std::map<std::string, int32_t> map{{"hit", 0}};
    doc_builder d;
    // Four paragraphs of twelve four-letter words (width about 30 each with blanks).
    auto mk = [](const std::string& w) { return std::vector<std::string>(12, w); };
    d.para({{{5, mk("aaaa")}}});  // score 5
    d.para({{{14, mk("bbbb")}}}); // score 14
    d.para({{{10, mk("cccc")}}}); // score 10
    d.para({{{12, mk("dddd")}}}); // score 12
    d.para({{{6, mk("eeee")}}});  // score 6
    std::vector<std::string> contexts;
    std::string categories;
    build_contexts({}, *d.root, contexts, categories);
    // Width of one summary: 48 letters and 11 blanks.
    double one = text_width(contexts.empty() ? "" : contexts[0]);
    ASSERT_GT(one, 30.0);
    ASSERT_LT(one, 50.0);
    // b, d, c are picked (the third passes 100 and still stays), then printed in page order.
    ASSERT_EQ(contexts.size(), 3u);
    EXPECT_EQ(contexts[0].substr(0, 4), "bbbb");
    EXPECT_EQ(contexts[1].substr(0, 4), "cccc");
    EXPECT_EQ(contexts[2].substr(0, 4), "dddd");
}

TEST(IdxSearchSummary, ProximityBonusOnlyWithTwoDistinctWords) {
    auto build = [] {
        doc_builder d;
        // report and annual at token positions 3 and 7: 10 + 10000 + 10000 + 1000 / 4.
        d.para({{{10, {"x", "x", "x", "report", "x", "x", "x", "annual"}}}});
        // Second matches of both words, nine tokens apart: 10 + 2 * 9969 + 1000 / 9.
        d.para({{{10, {"annual", "y", "y", "y", "y", "y", "y", "y", "y", "report"}}}});
        return d;
    };
    doc_builder d = build();
    std::map<std::string, int32_t> map{{"report", 0}, {"annual", 0}};
    auto units = extract(d, map);
    std::vector<std::string> contexts;
    pick_contexts(units, 2, contexts);
    ASSERT_EQ(units.size(), 2u);
    EXPECT_DOUBLE_EQ(units[0]->score, 20260.0);
    EXPECT_DOUBLE_EQ(units[1]->score, 10.0 + 2 * 9969.0 + 1000.0 / 9);

    // One distinct query word: no paragraph gains anything.
    doc_builder one = build();
    std::map<std::string, int32_t> single{{"report", 0}};
    units = extract(one, single);
    pick_contexts(units, 1, contexts);
    EXPECT_DOUBLE_EQ(units[0]->score, 10010.0);
    EXPECT_DOUBLE_EQ(units[1]->score, 10.0 + 9969.0);
}

TEST(IdxSearchSummary, TextWidthTable) {
    struct tcase {
        std::string text;
        double width;
    };
    std::vector<tcase> cases = {
        {"", 0.0},
        {"m", 1.0},
        {" ", 0.31},
        {"~", 0.69},
        {"\x7f", 0.65},
        {"\xc3\xa9", 0.65},     // e acute: one code point
        {"\xe2\x82\xac", 0.65}, // euro sign
        {"\xff", 0.65},         // invalid byte
        {"\xe2\x82", 0.65},     // cut-short sequence
        {std::string("a\0b", 3), 0.64 + 0.65 + 0.68},
        {"W@", 1.13 + 1.21},
    };
    for (const tcase& c : cases)
        EXPECT_NEAR(text_width(c.text), c.width, 1e-9) << "text of " << c.text.size() << " bytes";
}

TEST(IdxSearchSummary, CategoriesFromLastContentsVisited) {
    doc_builder d;
    d.meta("categories", "first");
    d.meta("author", "x");
    auto* second = new FFF::Contents(true);
    FFF::meta m;
    m.key = "categories";
    m.value = "news/local";
    second->metas.push_back(m);
    d.root->add_child(second);
    std::vector<std::string> contexts;
    std::string categories;
    build_contexts({}, *d.root, contexts, categories);
    EXPECT_EQ(categories, "news/local");
}

TEST(IdxSearchSummary, HostileTreesAndWords) {
    // Invalid UTF-8 words are dropped; nested paragraphs and runs outside any paragraph do
    // no harm; a query word that folds badly is not a query word.
    std::map<std::string, int32_t> map{{"ok", 0}};
    doc_builder d;
    auto* outer = d.para({{{10, {"ok", "\xff\xfe", "fine"}}}});
    auto* inner = new FFF::P;
    auto* s = new FFF::S;
    auto* low = new FFF::Low(10);
    low->words = {"inner"};
    s->add_child(low);
    inner->add_child(s);
    outer->add_child(inner);
    auto* stray = new FFF::Low(10);
    stray->words = {"stray"};
    d.contents->add_child(stray);
    auto units = extract(d, map);
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0]->tokens, std::vector<std::string>({"ok", "fine", " ", "inner", " "}));

    std::vector<std::string> contexts;
    std::string categories;
    std::vector<QueryAtom> q = {{ATOM_WORD, "", "\xff"},
                                {ATOM_WORD, "", ""},
                                {ATOM_META, "title", "ok"},
                                {ATOM_NOT, "", "ok"}};
    build_contexts(q, *d.root, contexts, categories);
    ASSERT_EQ(contexts.size(), 1u);

    // A long paragraph of matches stays well defined.
    doc_builder big;
    big.para({{{14, std::vector<std::string>(200000, "Ok")}}});
    build_contexts(words({"ok"}), *big.root, contexts, categories);
    ASSERT_EQ(contexts.size(), 1u);
    EXPECT_EQ(contexts[0].substr(0, 6), "Ok Ok ");
}
