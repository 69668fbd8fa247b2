#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fff_test_util.h"
#include "fff/math-coding.h"
#include "fff/FFF.h"

namespace {

using namespace fff_test;

const std::string worked_example =
    bytes({0xE4, 0x86, 0x81, 0x85, 0x81, 0x82, 0x81, 0x83, 0x81, 0x84,
           0x8A, 0x81, 0x82, 0x68, 0x69, 0x80, 0x40, 0x04, 0xBD, 0x80});

std::unique_ptr<FFF::tXMLTree> decode(const std::string& in, int& status) {
    FFF::tXMLTree::reader r(in, FFF::get_kind_table());
    return std::unique_ptr<FFF::tXMLTree>(FFF::FromBinary(r, status));
}

std::string encode(const FFF::tXMLTree& root) {
    std::string out;
    FFF::ToBinary(root, out);
    return out;
}

// Follows first children down to the n-th level below the root.
const FFF::tXMLTree* descend(const FFF::tXMLTree* node, int levels) {
    for (int i = 0; i < levels && node; ++i) {
        auto* parent = dynamic_cast<const FFF::tXMLParentTree*>(node);
        node = parent && !parent->children.empty() ? parent->children.front() : nullptr;
    }
    return node;
}

TEST(FffVarint, ValuesBothWays) {
    const std::vector<std::pair<std::uint32_t, std::string>> cases = {
        {0, bytes({0x80})},
        {1, bytes({0x81})},
        {100, bytes({0xE4})},
        {127, bytes({0xFF})},
        {128, bytes({0x00, 0x81})},
        {300, bytes({0x2C, 0x82})},
        {1000000, bytes({0x40, 0x04, 0xBD})},
        {4294967295u, bytes({0x7F, 0x7F, 0x7F, 0x7F, 0x8F})},
    };
    for (const auto& [value, form] : cases) {
        std::string out;
        FFF::tXMLTree::writer(out).write_u32(value);
        EXPECT_EQ(hex(out), hex(form)) << value;
        EXPECT_EQ(lumbrake::math_encoded_size(value), form.size()) << value;

        std::uint32_t back = 12345;
        FFF::tXMLTree::reader r(form, FFF::get_kind_table());
        ASSERT_TRUE(r.read_u32(back)) << value;
        EXPECT_EQ(back, value);
        EXPECT_EQ(r.position(), form.size());
    }
    std::string neg;
    FFF::tXMLTree::writer(neg).write_i32(-1);
    EXPECT_EQ(hex(neg), "7F 7F 7F 7F 8F");
}

TEST(FffVarint, BadNumbersFailAndKeepThePosition) {
    struct bad {
        std::string in;
        bool sixteen;
    };
    const std::vector<bad> cases = {
        {"", false},
        {bytes({0x00, 0x7F}), false},                         // ends before the stop byte
        {bytes({0x00, 0x00, 0x00, 0x00, 0x00, 0x81}), false}, // six bytes for 32 bits
        {bytes({0x00, 0x00, 0x00, 0x81}), true},              // four bytes for 16 bits
    };
    for (const auto& c : cases) {
        FFF::tXMLTree::reader r(c.in, FFF::get_kind_table());
        std::uint32_t v32 = 7;
        std::uint16_t v16 = 7;
        EXPECT_FALSE(c.sixteen ? r.read_u16(v16) : r.read_u32(v32)) << hex(c.in);
        EXPECT_EQ(r.position(), 0u);
    }
    // Three bytes are the most a 16-bit number may take; bits beyond 16 are dropped.
    const std::string three = bytes({0x7F, 0x7F, 0x83});
    FFF::tXMLTree::reader r(three, FFF::get_kind_table());
    std::uint16_t v = 0;
    ASSERT_TRUE(r.read_u16(v));
    EXPECT_EQ(v, 0xFFFF);
}

TEST(FffBinary, WorkedExampleDecodesAndReencodesExactly) {
    int status = -1;
    auto tree = decode(worked_example, status);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(status, 2);
    auto* root = dynamic_cast<FFF::DocumentData*>(tree.get());
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(root->full);
    EXPECT_EQ(root->score, 1000000u);
    EXPECT_TRUE(root->linkscores_.empty());
    auto* contents = dynamic_cast<const FFF::Contents*>(descend(root, 1));
    ASSERT_NE(contents, nullptr);
    EXPECT_TRUE(contents->metas.empty());
    EXPECT_NE(dynamic_cast<const FFF::P*>(descend(root, 2)), nullptr);
    EXPECT_NE(dynamic_cast<const FFF::S*>(descend(root, 3)), nullptr);
    auto* low = dynamic_cast<const FFF::Low*>(descend(root, 4));
    ASSERT_NE(low, nullptr);
    EXPECT_EQ(low->dictid, 10);
    EXPECT_EQ(low->words, std::vector<std::string>{"hi"});

    EXPECT_EQ(hex(encode(*root)), hex(worked_example));
    auto built = one_sentence_doc({make_low(10, {"hi"})});
    EXPECT_EQ(hex(encode(*built)), hex(worked_example));
}

TEST(FffBinary, RichDocumentRoundTripsToTheSameBytes) {
    auto doc = one_sentence_doc({make_low(15, {"Title", ""}), make_low(12, {"link"}),
                                 make_low(31, {"x\0y", "\xE2\x82\xAC"})});
    doc->score = 123;
    doc->add_link("http://b/", 7);
    doc->add_link("http://a/", 0);
    auto* link = dynamic_cast<FFF::Low*>(
        dynamic_cast<FFF::S*>(const_cast<FFF::tXMLTree*>(descend(doc.get(), 3)))->children[1]);
    link->set_link(1);
    auto* contents = dynamic_cast<FFF::Contents*>(doc->children[0]);
    contents->metas.push_back({FFF::meta_ranged, 3, "k", "v", 4, 9});
    contents->metas.push_back({FFF::meta_documentwide, 1, "author", "me", 0, 0});
    doc->add_child(new FFF::Contents(true)); // a second, empty contents

    const std::string first = encode(*doc);
    int status = -1;
    auto back = decode(first, status);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(status, 2);
    auto* root = dynamic_cast<FFF::DocumentData*>(back.get());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->score, 123u);
    ASSERT_EQ(root->linkscores_.size(), 2u);
    EXPECT_EQ(root->linkscores_[0].url, "http://b/");
    EXPECT_EQ(root->linkscores_[1].score, 0u);
    EXPECT_EQ(root->linkids_.at("http://a/"), 1);
    auto* s = dynamic_cast<const FFF::S*>(descend(root, 3));
    ASSERT_EQ(s->children.size(), 3u);
    EXPECT_EQ(dynamic_cast<const FFF::Low*>(s->children[1])->urlid, 1);
    EXPECT_EQ(dynamic_cast<const FFF::Low*>(s->children[0])->words[1], "");
    auto* c = dynamic_cast<const FFF::Contents*>(root->children[0]);
    ASSERT_EQ(c->metas.size(), 2u);
    EXPECT_EQ(c->metas[0].key, "author"); // packed in sorted order
    EXPECT_EQ(encode(*root), first);
}

TEST(FffBinary, HeaderAndKindFailures) {
    const std::vector<std::string> cases = {
        "",
        bytes({0xE5, 0x86, 0x80, 0x80, 0x80}), // 101 instead of 100
        bytes({0x00}),                         // unterminated number
        bytes({0xE4}),                         // no root kind
        bytes({0xE4, 0x87, 0x80}),             // unknown kind 7
        bytes({0xE4, 0x7F, 0x7F, 0x7F, 0x7F, 0x8F}),
    };
    for (const auto& in : cases) {
        int status = -1;
        EXPECT_EQ(decode(in, status), nullptr) << hex(in);
        EXPECT_EQ(status, 0) << hex(in);
    }
}

TEST(FffBinary, CutAfterAChildKindGivesAnEmptyChildAndPartialParent) {
    int status = -1;
    auto tree = decode(worked_example.substr(0, 4), status); // 100, root, 1 child, kind 5
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(status, 1);
    auto* contents = dynamic_cast<const FFF::Contents*>(descend(tree.get(), 1));
    ASSERT_NE(contents, nullptr);
    EXPECT_TRUE(contents->children.empty());
}

TEST(FffBinary, CutInsideTheLastRunKeepsTheWordsReadSoFar) {
    // One run of slice 10 with the words "hi" and "yo", cut after the "y".
    const std::string in = bytes({0xE4, 0x86, 0x81, 0x85, 0x81, 0x82, 0x81, 0x83, 0x81, 0x84, 0x8A,
                                  0x82, 0x82, 0x68, 0x69, 0x82, 0x79});
    int status = -1;
    auto tree = decode(in, status);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(status, 1);
    auto* low = dynamic_cast<const FFF::Low*>(descend(tree.get(), 4));
    ASSERT_NE(low, nullptr);
    EXPECT_EQ(low->words, std::vector<std::string>{"hi"});
}

TEST(FffBinary, CutInsideAnEarlierSiblingLosesTheWholeTree) {
    // The sentence expects two runs; the first is cut inside its word "hi".
    const std::string in =
        bytes({0xE4, 0x86, 0x81, 0x85, 0x81, 0x82, 0x81, 0x83, 0x82, 0x84, 0x8A, 0x81, 0x82, 0x68});
    int status = -1;
    EXPECT_EQ(decode(in, status), nullptr);
    EXPECT_EQ(status, 1);
}

TEST(FffBinary, ReducedRootAndContents) {
    // Kind 0 root with one kind-1 contents (no metas string) and links without scores.
    const std::string in = bytes({0xE4, 0x80, 0x81, 0x81, 0x80, 0x82, 0x81, 0x61, 0x81, 0x62});
    int status = -1;
    auto tree = decode(in, status);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(status, 2);
    auto* root = dynamic_cast<FFF::DocumentData*>(tree.get());
    ASSERT_NE(root, nullptr);
    EXPECT_FALSE(root->full);
    EXPECT_EQ(root->kind_id(), 6);
    EXPECT_EQ(root->score, 1000000u);
    ASSERT_EQ(root->linkscores_.size(), 2u);
    for (const auto& link : root->linkscores_)
        EXPECT_EQ(link.score, 1000000u);
    // Written back in the full forms.
    EXPECT_EQ(hex(encode(*root)),
              hex(bytes({0xE4, 0x86, 0x81, 0x85, 0x80, 0x80, 0x40, 0x04, 0xBD, 0x82,
                         0x81, 0x61, 0x40, 0x04, 0xBD, 0x81, 0x62, 0x40, 0x04, 0xBD})));
}

TEST(FffBinary, RepeatedLinkUrlKeepsTheSecondScore) {
    const std::string in = bytes({0xE4, 0x86, 0x80, 0x40, 0x04, 0xBD, 0x83, 0x81, 0x61, 0x8A, 0x81,
                                  0x62, 0x8B, 0x81, 0x61, 0x94});
    int status = -1;
    auto tree = decode(in, status);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(status, 2);
    auto* root = dynamic_cast<FFF::DocumentData*>(tree.get());
    ASSERT_EQ(root->linkscores_.size(), 2u);
    EXPECT_EQ(root->linkscores_[0].url, "a");
    EXPECT_EQ(root->linkscores_[0].score, 20u);
    EXPECT_EQ(root->linkscores_[1].score, 11u);
}

TEST(FffBinary, PartialRootTails) {
    struct tail_case {
        std::string in;
        std::size_t links;
    };
    // Root without children, then: nothing; score only; one link cut before its score.
    const std::vector<tail_case> cases = {
        {bytes({0xE4, 0x86, 0x80}), 0},
        {bytes({0xE4, 0x86, 0x80, 0x40, 0x04, 0xBD}), 0},
        {bytes({0xE4, 0x86, 0x80, 0x40, 0x04, 0xBD, 0x82, 0x81, 0x61}), 1},
        {bytes({0xE4, 0x86, 0x80, 0x40, 0x04, 0xBD, 0x82, 0x85, 0x61}), 0},
    };
    for (const auto& c : cases) {
        int status = -1;
        auto tree = decode(c.in, status);
        ASSERT_NE(tree, nullptr) << hex(c.in);
        EXPECT_EQ(status, 1) << hex(c.in);
        EXPECT_EQ(dynamic_cast<FFF::DocumentData*>(tree.get())->linkscores_.size(), c.links);
    }
}

TEST(FffBinaryHardening, DeepNestingIsRefusedWithoutExhaustingTheStack) {
    auto nested = [](int levels) {
        std::string in = bytes({0xE4, 0x86});
        for (int i = 0; i < levels; ++i)
            in += bytes({0x81, 0x82}); // one child, a paragraph
        in += bytes({0x80});
        return in;
    };
    int status = -1;
    auto shallow = decode(nested(40), status);
    ASSERT_NE(shallow, nullptr);
    EXPECT_EQ(status, 1); // the root's own score and links are missing
    EXPECT_NE(descend(shallow.get(), 40), nullptr);

    EXPECT_EQ(decode(nested(200000), status), nullptr);
    EXPECT_EQ(status, 1);
}

TEST(FffBinaryHardening, ForgedCountsAllocateNoMoreThanTheInputHolds) {
    // A run claiming 4294967295 words with one present; a parent claiming as many children.
    const std::string words = bytes({0xE4, 0x86, 0x81, 0x85, 0x81, 0x82, 0x81, 0x83, 0x81, 0x84,
                                     0x8A, 0x7F, 0x7F, 0x7F, 0x7F, 0x8F, 0x81, 0x41});
    int status = -1;
    std::unique_ptr<FFF::tXMLTree> tree;
    EXPECT_NO_THROW(tree = decode(words, status));
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(dynamic_cast<const FFF::Low*>(descend(tree.get(), 4))->words.size(), 1u);

    // Many runs in a row, each claiming 4294967295 words, holding one and then a string
    // longer than the input: the claimed room must not stay allocated in every run.
    const int runs = 200;
    std::string many = bytes({0xE4, 0x86, 0x81, 0x85, 0x81, 0x82, 0x81, 0x83, 0x48, 0x81});
    for (int i = 0; i < runs; ++i)
        many += bytes(
            {0x84, 0x85, 0x7F, 0x7F, 0x7F, 0x7F, 0x8F, 0x81, 0x41, 0x7F, 0x7F, 0x7F, 0x7F, 0x8F});
    tree = decode(many, status);
    ASSERT_NE(tree, nullptr);
    auto* s = dynamic_cast<const FFF::S*>(descend(tree.get(), 3));
    ASSERT_EQ(s->children.size(), static_cast<std::size_t>(runs));
    std::size_t capacity = 0;
    for (const auto* child : s->children)
        capacity += dynamic_cast<const FFF::Low*>(child)->words.capacity();
    EXPECT_LE(capacity, 2u * runs);

    // The second child is missing altogether, so the root fails.
    const std::string children = bytes({0xE4, 0x86, 0x7F, 0x7F, 0x7F, 0x7F, 0x8F, 0x82, 0x80});
    EXPECT_NO_THROW(tree = decode(children, status));
    EXPECT_EQ(tree, nullptr);
    EXPECT_EQ(status, 1);
}

TEST(FffBinary, DictidBeyondSixteenBitsStaysReadable) {
    // Only the low 16 bits are stored; whether a link id follows must be decided by them.
    auto link = make_low(65536 + 12, {"a"});
    link->urlid = 3;
    auto plain = make_low(65536 + 5, {"b"});
    plain->urlid = 9;
    auto doc = one_sentence_doc({link, plain, make_low(7 - 65536, {"c"})});
    const std::string blob = encode(*doc);
    int status = -1;
    auto back = decode(blob, status);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(status, 2);
    auto* s = dynamic_cast<const FFF::S*>(descend(back.get(), 3));
    ASSERT_EQ(s->children.size(), 3u);
    auto* l0 = dynamic_cast<const FFF::Low*>(s->children[0]);
    EXPECT_EQ(l0->dictid, 12);
    EXPECT_EQ(l0->urlid, 3);
    EXPECT_EQ(dynamic_cast<const FFF::Low*>(s->children[1])->dictid, 5);
    EXPECT_EQ(dynamic_cast<const FFF::Low*>(s->children[1])->words, std::vector<std::string>{"b"});
    EXPECT_EQ(dynamic_cast<const FFF::Low*>(s->children[2])->dictid, 7);
    EXPECT_EQ(encode(*back), blob);
}

TEST(FffBinaryHardening, OverlongDictidEndsTheRun) {
    // dictid in four bytes: refused as a 16-bit number, so the run has nothing (status 0).
    const std::string in =
        bytes({0xE4, 0x86, 0x81, 0x85, 0x81, 0x82, 0x81, 0x83, 0x81, 0x84, 0x00, 0x00, 0x00, 0x81});
    int status = -1;
    auto tree = decode(in, status);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(status, 1);
}

} // namespace
