#include "fff/fff2xml.h"
#include "fff/sidemeta.h"

#include <gtest/gtest.h>

using namespace lumbrake;

TEST(SideMetadata, RecordsOfAFile) {
    const char* file = R"(<?xml version="1.0" encoding="UTF-8"?>
<metas>
  <meta type="documentwide" dictid="0" key="dropped">zero slice</meta>
  <meta type="documentwide" sliceid="nosuch" key="dropped">unknown slice</meta>
  <meta type="documentwide" sliceid="author" key="Writer">Ann LEE</meta>
  <meta type="positional" dictid="3" sliceid="author" pos="12" key="k">dictid wins</meta>
  <meta type="ranged" sliceid="centralRemoteLink" beg="4" end="9" pos="77" key="r">range</meta>
  <meta type="ranged" sliceid="marginalHeader" key="r">no bounds</meta>
  <meta type="other" dictid="2" key="t">bad type</meta>
  <meta dictid="2" key="t">no type</meta>
  <group><meta type="documentwide" dictid="2" key="dup">same</meta></group>
  <meta type="documentwide" dictid="2" key="dup">same</meta>
  <meta type="documentwide" dictid="15" key="nested">one <b>two</b> three</meta>
</metas>)";
    sidemeta_parser parser;
    ASSERT_TRUE(parser.parse(file));
    using M = FFF::meta;
    const std::vector<M> expected = {
        {FFF::meta_documentwide, 1, "writer", "ann lee", 0, 0},
        {FFF::meta_positional, 3, "k", "dictid wins", 12, 0},
        {FFF::meta_ranged, 13, "r", "range", 4, 9},
        {FFF::meta_ranged, 9, "r", "no bounds", 0, 0},
        {FFF::meta_documentwide, 2, "dup", "same", 0, 0},
        {FFF::meta_documentwide, 2, "dup", "same", 0, 0},
        {FFF::meta_documentwide, 15, "nested", "one two three", 0, 0},
    };
    EXPECT_EQ(parser.records, expected);
}

TEST(SideMetadata, SliceNames) {
    const std::pair<const char*, int> cases[] = {
        {"author", 1},   {"marginalHeader", 9}, {"centralRemoteLink", 13}, {"title", 15},
        {"customF", 31}, {"Title", 0},          {"marginaHeader", 0},      {"", 0},
    };
    for (const auto& [name, id] : cases)
        EXPECT_EQ(sidemeta_slice_id(name), id) << name;
}

TEST(SideMetadata, MergedIntoTheDocumentMetas) {
    sidemeta_parser parser;
    ASSERT_TRUE(
        parser.parse("<m><meta type=\"documentwide\" sliceid=\"keyword\" key=\"a\">B</meta>"
                     "<meta type=\"positional\" dictid=\"1\" pos=\"2\" key=\"c\">d</meta></m>"));
    FFF::DocumentData root;
    auto* contents = new FFF::Contents;
    root.add_child(contents);
    contents->metas.push_back({FFF::meta_documentwide, 15, "own", "first", 0, 0});
    metas_merger merger(parser.records);
    root.accept(merger, 0);
    ASSERT_EQ(contents->metas.size(), 3u);
    EXPECT_EQ(contents->metas[0].key, "own");
    EXPECT_EQ(contents->metas[1], (FFF::meta{FFF::meta_documentwide, 2, "a", "b", 0, 0}));
    EXPECT_EQ(contents->metas[2], (FFF::meta{FFF::meta_positional, 1, "c", "d", 2, 0}));

    std::string xml;
    fff_to_xml(xml, "g", "/u", 0, &root);
    EXPECT_NE(xml.find("  <meta type=\"documentwide\" dictid=\"2\" sliceid=\"keyword\" "
                       "key=\"a\">b</meta>\n"),
              std::string::npos)
        << xml;
}

TEST(SideMetadata, MalformedFileFails) {
    sidemeta_parser parser;
    EXPECT_FALSE(parser.parse("<m><meta type=\"documentwide\" dictid=\"1\" key=\"a\">v</m>"));
    EXPECT_FALSE(parser.parse(""));
}
