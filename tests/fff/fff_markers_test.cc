#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fff/FFF.h"
#include "fff/markers.h"

namespace {

// A paragraph whose total is t: t sentences of four long words in slice 5 (t = 0: one
// sentence of short words).
FFF::P* paragraph_with_total(int t) {
    auto* p = new FFF::P;
    for (int i = 0; i < (t > 0 ? t : 1); ++i) {
        auto* s = new FFF::S;
        auto* low = new FFF::Low(5);
        low->words = t > 0 ? std::vector<std::string>{"alpha", "beta", "gamma", "delta"}
                           : std::vector<std::string>{"a", "bc", "def"};
        s->add_child(low);
        p->add_child(s);
    }
    return p;
}

std::unique_ptr<FFF::DocumentData> doc_of(const std::vector<FFF::P*>& ps) {
    auto root = std::make_unique<FFF::DocumentData>(true);
    auto* c = new FFF::Contents(true);
    for (auto* p : ps)
        c->add_child(p);
    root->add_child(c);
    return root;
}

// Which paragraphs were moved to the central slices.
std::vector<bool> central_paragraphs(const FFF::DocumentData& root) {
    std::vector<bool> out;
    for (auto* p : dynamic_cast<const FFF::Contents&>(*root.children[0]).children) {
        auto* s = dynamic_cast<const FFF::S*>(dynamic_cast<const FFF::P&>(*p).children[0]);
        out.push_back(dynamic_cast<const FFF::Low&>(*s->children[0]).dictid >= 10);
    }
    return out;
}

TEST(FffMarkers, ParagraphTotalsChooseTheExpectedParagraphs) {
    struct totals_case {
        std::vector<int> totals;
        std::vector<bool> central;
    };
    const std::vector<totals_case> cases = {
        {{0, 0, 0}, {false, false, false}}, {{2, 0, 2}, {true, true, true}},
        {{2, 0, 0}, {true, false, false}},  {{1, 1}, {true, false}},
        {{1, 1, 1}, {true, true, false}},   {{2, 1, 1}, {true, true, true}},
        {{0, 1, 3}, {false, true, true}},   {{2, 0, 1}, {true, true, false}},
    };
    for (const auto& c : cases) {
        std::vector<FFF::P*> ps;
        for (int t : c.totals)
            ps.push_back(paragraph_with_total(t));
        auto root = doc_of(ps);
        lumbrake::mark_central_content(*root);
        EXPECT_EQ(central_paragraphs(*root), c.central) << ::testing::PrintToString(c.totals);
    }
}

TEST(FffMarkers, WordCountingBySliceAndLength) {
    struct count_case {
        std::vector<std::pair<int, std::vector<std::string>>> sentences; // one run each
        bool central;
    };
    const std::string long7[] = {"aaaa", "bbbb", "cccc", "dddd", "eeee", "ffff", "gggg"};
    const std::vector<std::string> seven(std::begin(long7), std::end(long7));
    const std::vector<count_case> cases = {
        {{{5, seven}}, false},            // 7 / 4 = 1
        {{{5, seven}, {5, seven}}, true}, // 1 + 1
        {{{5, {"abc", "abc", "abc", "abc", "abc", "abc", "abc", "abc"}}}, false},
        {{{5,
           {"\xC3\xA9\xC3\xA9", "\xC3\xA9\xC3\xA9", "\xC3\xA9\xC3\xA9", "\xC3\xA9\xC3\xA9",
            "\xC3\xA9\xC3\xA9", "\xC3\xA9\xC3\xA9", "\xC3\xA9\xC3\xA9", "\xC3\xA9\xC3\xA9"}}},
         true},                                          // 4-byte words count
        {{{6, {"emph", "emph", "emph"}}}, true},         // 9 / 4 = 2
        {{{9, {"head", "line"}}}, true},                 // 10 / 4 = 2
        {{{10, seven}, {15, seven}, {7, seven}}, false}, // other slices add nothing
    };
    for (const auto& c : cases) {
        auto* p = new FFF::P;
        for (const auto& [slice, words] : c.sentences) {
            auto* s = new FFF::S;
            auto* low = new FFF::Low(slice);
            low->words = words;
            s->add_child(low);
            p->add_child(s);
        }
        auto* probe = new FFF::S; // a slice-5 run shows whether the paragraph moved
        probe->add_child(new FFF::Low(5));
        p->children.insert(p->children.begin(), probe);
        auto root = doc_of({p});
        lumbrake::mark_central_content(*root);
        EXPECT_EQ(central_paragraphs(*root)[0], c.central) << c.sentences.size();
    }
}

TEST(FffMarkers, ChosenParagraphsMoveOnlyMarginalSlices) {
    auto* p = paragraph_with_total(2);
    auto* s = dynamic_cast<FFF::S*>(p->children[0]);
    const int slices[] = {6, 7, 8, 9, 1, 4, 10, 12, 15, 16, 31};
    for (int slice : slices) {
        auto* low = new FFF::Low(slice);
        if (FFF::is_link_slice(slice)) low->set_link(4);
        s->add_child(low);
    }
    auto root = doc_of({p});
    lumbrake::mark_central_content(*root);
    std::vector<int> after;
    for (auto* l : s->children)
        after.push_back(dynamic_cast<FFF::Low*>(l)->dictid);
    EXPECT_EQ(after, (std::vector<int>{10, 11, 12, 13, 14, 1, 4, 10, 12, 15, 16, 31}));
    EXPECT_EQ(dynamic_cast<FFF::Low*>(s->children[2])->urlid, 4);
}

} // namespace
