// The collection GUIDs and the reader of search packets, without a server.
#include "webservices/research.h"

#include <gtest/gtest.h>

#include <string>

using namespace lumbrake;

namespace {

TEST(ResearchGuid, FormatAndScan) {
    EXPECT_EQ(research_collection_guid(7), "{00000007-FFC8-46E6-8124-4D53B625F130}");
    EXPECT_EQ(research_collection_guid(0x1ABCDEF), "{01ABCDEF-FFC8-46E6-8124-4D53B625F130}");
    EXPECT_EQ(research_collection_guid(-1), "{FFFFFFFF-FFC8-46E6-8124-4D53B625F130}");

    struct Case {
        const char* text;
        bool ok;
        std::int32_t id;
    } cases[] = {
        {"{00000007-FFC8-46E6-8124-4D53B625F130}", true, 7},
        {"{FFFFFFFF-FFC8-46E6-8124-4D53B625F130}", true, -1},
        {"{1a}", true, 0x1a},           // what follows the number does not matter
        {"{0x10-anything", true, 16},   // as sscanf's %X reads it
        {"{ 2-FFC8}", true, 2},         // blanks before the number
        {"{100000000-FFC8}", false, 0}, // beyond 32 bits
        {"{FFFFFFFFFFFFFFFFFFFFFFFF}", false, 0},
        {"{-FFC8}", true, -0xFFC8},
        {"{-}", false, 0},
        {"{G}", false, 0},
        {"00000007-FFC8}", false, 0}, // no brace
        {"", false, 0},
        {"{", false, 0},
    };
    for (const Case& c : cases) {
        std::int32_t id = 12345;
        EXPECT_EQ(parse_research_collection_guid(c.text, id), c.ok) << c.text;
        if (c.ok) EXPECT_EQ(id, c.id) << c.text;
    }
}

std::string packet(const std::string& queries) {
    return "<?xml version=\"1.0\"?><QueryPacket xmlns=\"urn:Microsoft.Search.Query\">" + queries +
           "</QueryPacket>";
}

std::string query(const std::string& guid, const std::string& children) {
    return "<Query domain=\"" + guid + "\">" + children + "</Query>";
}

const std::string G7 = "{00000007-FFC8-46E6-8124-4D53B625F130}";
const std::string G9 = "{00000009-FFC8-46E6-8124-4D53B625F130}";

std::vector<QuerySpec> read(const std::string& xml, bool* well_formed = nullptr) {
    QueryXMLParser parser;
    bool ok = parser.parse(xml, nullptr, RESEARCH_NS_SEPARATOR);
    if (well_formed) *well_formed = ok;
    return parser.queries;
}

TEST(QueryXMLParser, DefaultsAndWindows) {
    struct Case {
        const char* children;
        std::int32_t first, last;
    } cases[] = {
        {"<QueryText>alpha</QueryText>", 0, 4},
        {"<QueryText>alpha</QueryText><StartAt>11</StartAt><Count>10</Count>", 10, 19},
        // Count before StartAt is computed with FirstDoc 0.
        {"<QueryText>alpha</QueryText><Count>10</Count><StartAt>11</StartAt>", 10, 9},
        {"<StartAt> +3x</StartAt><Count>2</Count>", 2, 3}, // read as atoi does
        {"<StartAt>junk</StartAt>", -1, 4},
        // Numbers beyond 32 bits are held at the bounds rather than overflowing.
        {"<StartAt>99999999999999999999</StartAt><Count>99999999999</Count>", 2147483647,
         2147483647},
        {"<StartAt>-99999999999</StartAt>", INT32_MIN, 4},
    };
    for (const Case& c : cases) {
        auto q = read(packet(query(G7, c.children)));
        ASSERT_EQ(q.size(), 1u) << c.children;
        EXPECT_EQ(q[0].FirstDoc, c.first) << c.children;
        EXPECT_EQ(q[0].LastDoc, c.last) << c.children;
        EXPECT_EQ(q[0].Collection, 7);
    }
    auto q = read(packet(query(G7, "<QueryText>alpha &amp; beta</QueryText>")));
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].MinTime, 0);
    EXPECT_EQ(q[0].MaxTime, 2000000000);
    EXPECT_EQ(q[0].Info, INFO_CONTEXT);
    EXPECT_EQ(q[0].View, VIEW_PUBLISHED);
    EXPECT_EQ(q[0].Sort, SORT_STANDARD);
    EXPECT_EQ(q[0].Parser, NOPARSER);
    EXPECT_TRUE(q[0].Archives.empty());
    std::vector<QueryAtom> expected;
    ASSERT_TRUE(parse_alg_query("alpha & beta", expected));
    EXPECT_EQ(q[0].Query, expected);
}

TEST(QueryXMLParser, WhichQueriesAreKept) {
    // Two collections, in document order; the second does not inherit the first's window.
    auto q = read(packet(query(G9, "<QueryText>a</QueryText><StartAt>3</StartAt>") +
                         query(G7, "<QueryText>b</QueryText>")));
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(q[0].Collection, 9);
    EXPECT_EQ(q[0].FirstDoc, 2);
    EXPECT_EQ(q[1].Collection, 7);
    EXPECT_EQ(q[1].FirstDoc, 0);

    struct Case {
        std::string xml;
        std::size_t kept;
    } cases[] = {
        {packet(query("{zz}", "<QueryText>a</QueryText>")), 0},
        {packet("<Query><QueryText>a</QueryText></Query>"), 0},     // no domain
        {packet(query(G7, "<QueryText>a &amp; (</QueryText>")), 0}, // does not parse
        // A later QueryText replaces the first rather than leaving two operands unjoined.
        {packet(query(G7, "<QueryText>a</QueryText><QueryText>b</QueryText>")), 1},
        // Another namespace is ignored, also for the Query element itself.
        {"<p xmlns=\"urn:other\">" + query(G7, "<QueryText>a</QueryText>") + "</p>", 0},
        {"<x:QueryPacket xmlns:x=\"urn:Microsoft.Search.Query\"><x:Query domain=\"" + G7 +
             "\"><x:QueryText>a</x:QueryText></x:Query></x:QueryPacket>",
         1},
        // Queries completed before an XML error are kept.
        {"<QueryPacket xmlns=\"urn:Microsoft.Search.Query\">" + query(G7, "") + "<Query <", 1},
        {"", 0},
        {"<!DOCTYPE a [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><QueryPacket "
         "xmlns=\"urn:Microsoft.Search.Query\">" +
             query(G7, "<QueryText>&e;</QueryText>") + "</QueryPacket>",
         0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(read(c.xml).size(), c.kept) << c.xml;

    auto last = read(packet(query(G7, "<QueryText>a</QueryText><QueryText>b</QueryText>")));
    ASSERT_EQ(last.size(), 1u);
    std::vector<QueryAtom> b;
    ASSERT_TRUE(parse_alg_query("b", b));
    EXPECT_EQ(last[0].Query, b);
}

TEST(QueryXMLParser, OverlongTextIsRefusedNotCut) {
    // A query text past the bound would be searched truncated if it were cut: it is dropped.
    std::string text(RESEARCH_MAX_TEXT + 10, 'a');
    EXPECT_TRUE(read(packet(query(G7, "<QueryText>" + text + "</QueryText>"))).empty());
    text.resize(1000);
    EXPECT_EQ(read(packet(query(G7, "<QueryText>" + text + "</QueryText>"))).size(), 1u);
}

} // namespace
