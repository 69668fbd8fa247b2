// Real pages from a Debian documentation package against independent tools: the word set
// against lynx's text dump, the outlinks against xmllint's attribute values resolved by Python.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "../support/files.h"
#include "../support/command.h"
#include "parser_test_util.h"
#include "util/codecs.h"
#include "util/uri.h"

namespace lumbrake {
namespace {

const char* const doc_dir = "/usr/share/debian-reference";
const char* const pages[] = {"pr01.en.html", "ch04.en.html", "ch08.en.html", "apa.en.html"};

std::string run(const std::string& command) {
    return tn_test::command_output(command);
}

using tn_test::read_file;

std::string fold(const std::string& w) {
    std::string out;
    bool valid = false;
    utf8_case_fold(w, out, valid);
    return out;
}

// Maximal runs of letters and numbers, case-folded.
std::set<std::string> words_of_text(const std::string& text) {
    std::set<std::string> out;
    std::string word;
    std::size_t i = 0;
    while (i < text.size()) {
        bool valid = false;
        code_point c = utf8_decode_at(text, i, valid);
        if (valid && is_unicode_alnum(c)) {
            utf8_append(c, word);
        } else if (!word.empty()) {
            out.insert(fold(word));
            word.clear();
        }
    }
    if (!word.empty()) out.insert(fold(word));
    return out;
}

void collect_words(const FFF::tXMLTree* node, std::set<std::string>& out) {
    if (const auto* low = dynamic_cast<const FFF::Low*>(node)) {
        for (const auto& w : low->words)
            if (utf8_is_alnum(w)) out.insert(fold(w));
        return;
    }
    if (const auto* parent = dynamic_cast<const FFF::tXMLParentTree*>(node))
        for (const auto* c : parent->children)
            collect_words(c, out);
}

double share_in(const std::set<std::string>& a, const std::set<std::string>& b) {
    if (a.empty()) return 1.0;
    std::size_t common = 0;
    for (const auto& w : a)
        common += b.count(w);
    return double(common) / double(a.size());
}

class RealPages : public ::testing::TestWithParam<const char*> {};

TEST_P(RealPages, WordsAndOutlinksAgreeWithIndependentTools) {
    const std::string path = std::string(doc_dir) + "/" + GetParam();
    ASSERT_TRUE(std::filesystem::exists(path))
        << path << " is missing: scripts/install-deps.sh installs debian-reference-en";
    const std::string url = std::string("http://docs.example/ref/") + GetParam();
    // Read as a file would be (Latin-1 by name) until the page's meta element names UTF-8.
    auto d = test::parse_html(read_file(path), url, "iso-8859-1");
    ASSERT_EQ(d.result.status, 0);
    ASSERT_TRUE(d.result.document);

    std::set<std::string> ours;
    collect_words(d.result.document.get(), ours);
    const std::string dump = run("lynx -dump -nolist -width=1000 -assume_charset=utf-8 "
                                 "-display_charset=utf-8 '" +
                                 path + "' 2>/dev/null");
    ASSERT_FALSE(dump.empty()) << "lynx produced nothing";
    std::set<std::string> theirs = words_of_text(dump);
    EXPECT_GT(ours.size(), 50u);
    EXPECT_GE(share_in(ours, theirs), 0.97) << "of our words in lynx's";
    EXPECT_GE(share_in(theirs, ours), 0.97) << "of lynx's words in ours";

    const std::string resolved =
        run("xmllint --html --xpath '//a/@href|//area/@href|//frame/@src|//iframe/@src' '" + path +
            "' 2>/dev/null | python3 '" TN_TEST_DATA "/resolve_links.py' '" + url + "'");
    std::set<std::string> expected;
    std::istringstream lines(resolved);
    for (std::string line; std::getline(lines, line);)
        expected.insert(canonicalize_url(line));
    ASSERT_FALSE(expected.empty()) << "xmllint found no links";
    std::set<std::string> got(d.links.begin(), d.links.end());
    EXPECT_EQ(got, expected);
}

INSTANTIATE_TEST_SUITE_P(DebianReference, RealPages, ::testing::ValuesIn(pages));

} // namespace
} // namespace lumbrake
