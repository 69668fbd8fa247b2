// The three query syntaxes, compared through the RPN text of the element list they give
// ("WORD:a WORD:b AND:2"), plus a replay of hostile texts.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "apiops/api-query.h"

using namespace lumbrake;

namespace {

struct parse_case {
    const char* text;
    bool ok;
    const char* want; // RPN text of the elements (checked when ok)
};

template <class Parser>
void run_cases(const char* syntax, Parser parse, const std::vector<parse_case>& cases) {
    for (const parse_case& c : cases) {
        std::vector<QueryAtom> atoms = {{ATOM_WORD, "", "stale"}};
        bool ok = parse(c.text, atoms);
        EXPECT_EQ(ok, c.ok) << syntax << " «" << c.text << "»";
        if (ok && c.ok) {
            EXPECT_EQ(query_to_rpn_text(atoms), c.want) << syntax << " «" << c.text << "»";
        }
    }
}

} // namespace

TEST(QuerySyntax, Rpn) {
    run_cases("rpn", parse_rpn_query,
              {
                  {"WORD:a WORD:b AND:2", true, "WORD:a WORD:b AND:2"},
                  {"NOT:1 OR:3 NEAR:2", true, "NOT:1 OR:3 NEAR:2"},
                  {"title:report", true, "META:title:report"},
                  {"META:title:report", true, "META:title:report"},
                  {"WORD:a:b", true, "WORD:a:b"},
                  {"word:a", true, "META:word:a"}, // prefixes are case-sensitive
                  {"   WORD:a    WORD:b  ", true, "WORD:a WORD:b"},
                  {"", true, ""},
                  {"    ", true, ""},
                  {"WORD:", false, ""},
                  {"WORD: x", false, ""},
                  {"foo", false, ""},
                  {"META:title", false, ""},
                  {"META:title:", false, ""},
                  {"title:", false, ""},
                  // A field name runs to the next colon, across blanks.
                  {"foo bar:x", true, "META:foo bar:x"},
              });
    std::vector<QueryAtom> atoms;
    ASSERT_TRUE(parse_rpn_query("WORD: WORD:b", atoms));
    ASSERT_EQ(atoms.size(), 2u);
    EXPECT_EQ(atoms[0], (QueryAtom{ATOM_WORD, "", ""}));
    ASSERT_TRUE(parse_rpn_query("dc.title:x", atoms));
    EXPECT_EQ(atoms, (std::vector<QueryAtom>{{ATOM_META, "dc.title", "x"}}));
}

TEST(QuerySyntax, Boolean) {
    run_cases("alg", parse_alg_query,
              {
                  {"a", true, "WORD:a"},
                  {"a b", true, "WORD:a WORD:b AND:2"},
                  {"a | b c", true, "WORD:a WORD:b OR:2 WORD:c AND:2"},
                  {"a & b | c", true, "WORD:a WORD:b AND:2 WORD:c OR:2"},
                  {"a|b&c", true, "WORD:a WORD:b OR:2 WORD:c AND:2"},
                  {"!a", true, "WORD:a NOT:1"},
                  {"a !b", true, "WORD:a WORD:b NOT:1 AND:2"},
                  {"!!a", true, "WORD:a NOT:1 NOT:1"},
                  {"x \"y z\"", true, "WORD:x WORD:y WORD:z NEAR:2 AND:2"},
                  {"\"y\"", true, "WORD:y NEAR:1"},
                  {"\"y z\" x", true, "WORD:y WORD:z NEAR:2 WORD:x AND:2"},
                  {"a (b | c)", true, "WORD:a WORD:b WORD:c OR:2 AND:2"},
                  {"((a))", true, "WORD:a"},
                  {"!(a | b)", true, "WORD:a WORD:b OR:2 NOT:1"},
                  {"x-ray", true, "WORD:x-ray"},
                  {"Report", true, "WORD:Report"},
                  {"", true, ""},
                  {"   ", true, ""},
                  // Terms ended directly by an operator or after a group still join with &.
                  {"(a b)", true, "WORD:a WORD:b AND:2"},
                  {"a b|c", true, "WORD:a WORD:b AND:2 WORD:c OR:2"},
                  {"(a | b) c", true, "WORD:a WORD:b OR:2 WORD:c AND:2"},
                  {"(a) \"b c\"", true, "WORD:a WORD:b WORD:c NEAR:2 AND:2"},
                  {"(a", false, ""},
                  {"a &", false, ""},
                  {"& a", false, ""},
                  {"a & & b", false, ""},
                  {"()", false, ""},
                  {")", false, ""},
                  {"a)", false, ""},
                  {"!", false, ""},
                  {"\"", false, ""},
                  {"\"\"", false, ""},
                  {"\"a b", false, ""},
                  {"a!b", false, ""},
              });
}

TEST(QuerySyntax, WebStyle) {
    run_cases(
        "net", parse_net_query,
        {
            {"alpha", true, "WORD:alpha"},
            {"alpha beta", true, "WORD:alpha WORD:beta AND:2"},
            {"-alpha beta", true, "WORD:alpha NOT:1 WORD:beta AND:2"},
            {"\"big data\" store", true, "WORD:big WORD:data NEAR:2 WORD:store AND:2"},
            {"e-mail", true, "WORD:e WORD:mail NEAR:2"},
            {"   ", true, ""},
            {"!!! ... --", true, ""},
            {"", true, ""},
            {"\"a b\" c d", true, "WORD:a WORD:b NEAR:2 WORD:c WORD:d AND:3"},
            {"x \"a b", true, "WORD:x"}, // an unclosed phrase gives nothing
            {"- a", true, "WORD:a"},
            {"-\"a b\"", true, "WORD:a WORD:b NEAR:2 NOT:1"},
            {"a\u00a0b", true, "WORD:a WORD:b AND:2"}, // no-break space separates
            {"Größe straße", true, "WORD:Größe WORD:straße AND:2"},
            // Text right after a closing quote joins the phrase's term.
            {"\"big data\"store x", true, "WORD:big WORD:data WORD:store NEAR:3 WORD:x AND:2"},
            // Invalid UTF-8 reads as U+FFFD, which splits like punctuation.
            {"ab\xff"
             "cd",
             true, "WORD:ab WORD:cd NEAR:2"},
            {"\xe2", true, ""},
        });
}

TEST(QuerySyntax, RpnTextOfEveryType) {
    std::vector<QueryAtom> atoms = {{ATOM_WORD, "", "a"},
                                    {ATOM_META, "title", "report"},
                                    {ATOM_NEAR, "", "2"},
                                    {ATOM_NOT, "", "1"},
                                    {ATOM_OR, "", "2"},
                                    {ATOM_AND, "", "2"},
                                    {static_cast<QueryAtomType>(9), "m", "raw"}};
    EXPECT_EQ(query_to_rpn_text(atoms), "WORD:a META:title:report NEAR:2 NOT:1 OR:2 AND:2 raw");
    // The RPN syntax reads its own text back.
    atoms.pop_back();
    std::vector<QueryAtom> back;
    ASSERT_TRUE(parse_rpn_query(query_to_rpn_text(atoms), back));
    EXPECT_EQ(back, atoms);
}

TEST(QuerySyntax, SyntaxByNumber) {
    std::vector<QueryAtom> atoms;
    EXPECT_TRUE(parse_query_text(RPNPARSER, "WORD:a", atoms));
    EXPECT_TRUE(parse_query_text(ALGPARSER, "a b", atoms));
    EXPECT_EQ(atoms.size(), 3u);
    EXPECT_TRUE(parse_query_text(NETPARSER, "a", atoms));
    EXPECT_FALSE(parse_query_text(NOPARSER, "a", atoms));
    EXPECT_FALSE(parse_query_text(7, "a", atoms));
    EXPECT_FALSE(parse_query_text(-1, "a", atoms));
}

// Texts a remote caller may send to exhaust the stack or the clock.
TEST(QuerySyntax, HostileTexts) {
    const std::size_t n = 200000;
    std::vector<QueryAtom> atoms;

    // Nesting beyond the bound is refused instead of recursing without limit.
    EXPECT_FALSE(parse_alg_query(std::string(n, '(') + "a" + std::string(n, ')'), atoms));
    EXPECT_FALSE(parse_alg_query(std::string(n, '!') + "a", atoms));
    EXPECT_FALSE(parse_alg_query(std::string(n, '('), atoms));
    std::string nested = "a";
    for (int i = 0; i < max_alg_nesting - 1; ++i)
        nested = "(" + nested + ")";
    EXPECT_TRUE(parse_alg_query(nested, atoms));
    EXPECT_EQ(query_to_rpn_text(atoms), "WORD:a");
    EXPECT_TRUE(parse_alg_query(std::string(max_alg_nesting - 1, '!') + "a", atoms));

    // Long flat inputs stay linear.
    std::string many;
    for (std::size_t i = 0; i < n / 4; ++i)
        many += "ab (";
    EXPECT_FALSE(parse_alg_query(many, atoms));
    std::string quotes(n, '"');
    EXPECT_FALSE(parse_alg_query(quotes, atoms));
    std::string words;
    for (std::size_t i = 0; i < n / 2; ++i)
        words += "x ";
    ASSERT_TRUE(parse_alg_query(words, atoms));
    EXPECT_EQ(atoms.size(), n / 2 + n / 2 - 1);
    std::string deep_and_long =
        std::string(max_alg_nesting, '(') + words + std::string(max_alg_nesting, ')');
    ASSERT_TRUE(parse_alg_query(deep_and_long, atoms));
    EXPECT_EQ(atoms.size(), n / 2 + n / 2 - 1);
    ASSERT_TRUE(parse_net_query(words, atoms));
    EXPECT_EQ(atoms.back(), (QueryAtom{ATOM_AND, "", std::to_string(n / 2)}));
    EXPECT_TRUE(parse_net_query(std::string(n, '\xff'), atoms));
    EXPECT_TRUE(atoms.empty());
    EXPECT_TRUE(parse_net_query(std::string(n, '"'), atoms));
    EXPECT_TRUE(parse_rpn_query(std::string(n, ' ') + std::string(n, ':') + "x", atoms));
    EXPECT_FALSE(parse_rpn_query(std::string(n, 'a'), atoms));
    std::string nul("WORD:a\0b", 8);
    ASSERT_TRUE(parse_rpn_query(nul, atoms));
    EXPECT_EQ(atoms[0].Param, std::string("a\0b", 3));
}

// The fuzz seeds (first byte: the syntax) replayed through every parser.
TEST(QuerySyntax, CorpusReplay) {
    namespace fs = std::filesystem;
    int files = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(TN_TEST_DATA) / "query_corpus")) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(text.empty()) << entry.path();
        std::vector<QueryAtom> atoms;
        EXPECT_TRUE(parse_query_text(text[0], std::string_view(text).substr(1), atoms))
            << entry.path();
        EXPECT_FALSE(atoms.empty()) << entry.path();
        parse_rpn_query(text, atoms);
        parse_alg_query(text, atoms);
        parse_net_query(text, atoms);
        ++files;
    }
    EXPECT_GT(files, 0);
}
