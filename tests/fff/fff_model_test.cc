#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "fff_test_util.h"
#include "fff/FFF.h"

namespace {

using namespace fff_test;

struct recorder : FFF::tXMLTree::visitor {
    std::vector<std::tuple<const FFF::tXMLTree*, int, bool>> calls;
    void visit(const FFF::tXMLTree* node, int depth, bool leaving) override {
        calls.emplace_back(node, depth, leaving);
    }
};

TEST(FffModel, WalkEntersAndLeavesEveryNodeInPreOrder) {
    FFF::DocumentData root(true);
    auto* contents = new FFF::Contents(true);
    auto* p = new FFF::P;
    contents->add_child(p);
    root.add_child(contents);

    using call = std::tuple<const FFF::tXMLTree*, int, bool>;
    const std::vector<call> expected = {{&root, 0, false}, {contents, 1, false}, {p, 2, false},
                                        {p, 2, true},      {contents, 1, true},  {&root, 0, true}};
    recorder a, b;
    root.accept(a, 0);
    static_cast<const FFF::DocumentData&>(root).accept_const(b, 0);
    EXPECT_EQ(a.calls, expected);
    EXPECT_EQ(b.calls, expected);
}

TEST(FffModel, LeafIsVisitedTwiceInARowAtChildDepth) {
    auto root = one_sentence_doc({make_low(10, {"a"}), make_low(5, {"b"})});
    recorder r;
    root->accept(r, 3);
    ASSERT_EQ(r.calls.size(), 12u);
    // root, contents, p, s enter; low enter/leave twice; then leaving in reverse.
    EXPECT_EQ(std::get<1>(r.calls[4]), 7);
    EXPECT_EQ(std::get<0>(r.calls[4]), std::get<0>(r.calls[5]));
    EXPECT_FALSE(std::get<2>(r.calls[4]));
    EXPECT_TRUE(std::get<2>(r.calls[5]));
}

TEST(FffModel, AddLinkKeepsIdsDenseAndReplacesScore) {
    FFF::DocumentData doc(true);
    EXPECT_EQ(doc.add_link("http://a/", 10), 0);
    EXPECT_EQ(doc.add_link("http://b/", 20), 1);
    EXPECT_EQ(doc.add_link("http://a/", 5), 0); // replaced, not max or sum
    ASSERT_EQ(doc.linkscores_.size(), 2u);
    EXPECT_EQ(doc.linkids_.size(), 2u);
    EXPECT_EQ(doc.linkscores_[0].url, "http://a/");
    EXPECT_EQ(doc.linkscores_[0].score, 5u);
    EXPECT_EQ(doc.linkscores_[1].score, 20u);
    EXPECT_EQ(doc.score, 1000000u);
}

TEST(FffModel, SliceNames) {
    const std::vector<std::pair<int, std::string>> cases = {
        {0, "?"},
        {-1, "?"},
        {32, "?"},
        {1, "author"},
        {4, "invisible"},
        {5, "marginalNorm"},
        {8, "marginalRemoteLink"},
        {9, "marginaHeader"},
        {12, "centralLink"},
        {13, "centralRemote"},
        {14, "centralHeader"},
        {15, "title"},
        {16, "custom0"},
        {25, "custom9"},
        {26, "customA"},
        {31, "customF"},
    };
    for (const auto& [id, name] : cases)
        EXPECT_EQ(FFF::slice_name(id), name) << id;
}

TEST(FffModel, KindTableFactoriesAndReducedModes) {
    FFF::kindTable& table = FFF::get_kind_table();
    EXPECT_EQ(table.number, 100);
    ASSERT_EQ(table.map.size(), 7u);
    // Kinds 0 and 1 make the derived classes in their reduced mode.
    const std::vector<std::tuple<int, int, std::string>> kinds = {
        {0, 6, "documentdata"}, {1, 5, "contents"}, {2, 2, "p"},           {3, 3, "s"},
        {4, 4, "low"},          {5, 5, "contents"}, {6, 6, "documentdata"}};
    for (const auto& [kind, reported, tag] : kinds) {
        std::unique_ptr<FFF::tXMLTree> node(table.map.at(kind)());
        EXPECT_EQ(node->tag_name(), tag) << kind;
        EXPECT_EQ(node->kind_id(), reported) << kind;
    }
    std::unique_ptr<FFF::tXMLTree> reduced(table.map.at(0)());
    auto* root = dynamic_cast<FFF::DocumentData*>(reduced.get());
    ASSERT_NE(root, nullptr);
    EXPECT_FALSE(root->full);
    std::unique_ptr<FFF::tXMLTree> contents(table.map.at(1)());
    ASSERT_NE(dynamic_cast<FFF::Contents*>(contents.get()), nullptr);
    EXPECT_FALSE(dynamic_cast<FFF::Contents*>(contents.get())->full);
    // A second registration with the same factory is allowed.
    FFF::register_kind(table, 4, table.map.at(4));
    EXPECT_EQ(&FFF::get_kind_table(), &table);
}

TEST(FffModel, DeathOnBrokenInvariants) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            FFF::kindTable t;
            FFF::register_kind(t, 4, [] { return static_cast<FFF::tXMLTree*>(new FFF::P); });
            FFF::register_kind(t, 4, [] { return static_cast<FFF::tXMLTree*>(new FFF::S); });
        },
        "");
    EXPECT_DEATH(
        {
            FFF::Low low(10);
            low.set_link(1);
        },
        "");
    FFF::Low link(12);
    link.set_link(3);
    EXPECT_EQ(link.urlid, 3);
}

} // namespace
