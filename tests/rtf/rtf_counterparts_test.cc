// RTF written by a real tool (pandoc) read against independent readers: unrtf's text output,
// and pandoc's own plain-text rendering of the same source.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../support/files.h"
#include "../support/command.h"
#include "../parsers/parser_test_util.h"
#include "util/codecs.h"
#include "parsers/rtfparser.h"

namespace lumbrake {
namespace {

std::string run(const std::string& command) {
    return tn_test::command_output(command);
}

constexpr auto& have = tn_test::have_program;

std::string tmp_path(const std::string& name) {
    const char* dir = std::getenv("TEST_TMPDIR");
    return std::string(dir ? dir : "/tmp/") + name;
}

using tn_test::write_file;

using tn_test::read_file;

// Maximal runs of letters and numbers, case-folded, in order.
std::vector<std::string> words_of_text(const std::string& text) {
    std::vector<std::string> out;
    std::string word;
    auto flush = [&] {
        if (word.empty()) return;
        std::string folded;
        bool valid = false;
        utf8_case_fold(word, folded, valid);
        out.push_back(folded);
        word.clear();
    };
    std::size_t i = 0;
    while (i < text.size()) {
        bool valid = false;
        code_point c = utf8_decode_at(text, i, valid);
        // Letters of the supplementary planes are not in the class table: count them too.
        if (valid && (is_unicode_alnum(c) || c >= 0x10000))
            utf8_append(c, word);
        else
            flush();
    }
    flush();
    return out;
}

struct fff_words {
    std::string all;        // every word, blank-separated
    std::string emphasised; // the words of slice 11
};

fff_words words_of_fff(const FFF::DocumentData& doc) {
    fff_words out;
    for (const FFF::tXMLTree* c : doc.children)
        if (const auto* contents = dynamic_cast<const FFF::Contents*>(c))
            for (const FFF::tXMLTree* p : contents->children)
                for (const FFF::tXMLTree* s : dynamic_cast<const FFF::P*>(p)->children)
                    for (const FFF::tXMLTree* l : dynamic_cast<const FFF::S*>(s)->children) {
                        const auto* low = dynamic_cast<const FFF::Low*>(l);
                        for (const std::string& w : low->words) {
                            out.all += w + " ";
                            if (low->dictid == FFF::centralEmphDict) out.emphasised += w + " ";
                        }
                    }
    return out;
}

fff_words parse_rtf_file(const std::string& path) {
    RTFParser p(test::empty_config());
    parse_result r;
    p.parse_document(nullptr, 1000, "file://" + path, read_file(path), "text/rtf", "", "", r);
    EXPECT_EQ(r.status, 0) << path;
    if (!r.document) return {};
    return words_of_fff(*r.document);
}

// unrtf's text output without its banner lines.
std::string unrtf_text(const std::string& path) {
    std::string out;
    std::istringstream in(run("unrtf --text '" + path + "' 2>/dev/null"));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("###", 0) != 0 && line != "-----------------") out += line + "\n";
    return out;
}

TEST(RTFCounterparts, LicenseTextAgainstUnrtf) {
    if (!have("pandoc") || !have("unrtf")) GTEST_SKIP() << "pandoc or unrtf not installed";
    for (const char* license : {"GPL-3", "Apache-2.0"}) {
        const std::string source = std::string("/usr/share/common-licenses/") + license;
        const std::string rtf = tmp_path(std::string(license) + ".rtf");
        ASSERT_EQ(
            std::system(("pandoc -f markdown -t rtf -s '" + source + "' -o '" + rtf + "'").c_str()),
            0);
        const auto ours = words_of_text(parse_rtf_file(rtf).all);
        const auto theirs = words_of_text(unrtf_text(rtf));
        ASSERT_GT(theirs.size(), 1000u) << license;
        EXPECT_EQ(ours, theirs) << license;
    }
}

TEST(RTFCounterparts, InternationalTextAgainstPandocPlain) {
    if (!have("pandoc")) GTEST_SKIP() << "pandoc not installed";
    const std::string md =
        "# Überschrift und Titel\n\n"
        "Grüße aus Köln: Straße, Maß und Fuß. **Fettgedruckt** und *kursiv* im Satz.\n\n"
        "Ça coûte 12 € — déjà vu, naïve façade; l’œuvre « entière ».\n\n"
        "Съешь же ещё этих мягких французских булок, да выпей чаю.\n\n"
        "Ξεσκεπάζω την ψυχοφθόρα βδελυγμία. Árvíztűrő tükörfúrógép.\n\n"
        "日本語のテキストと中文文本。 Emoji 😀 and 𝒳 beyond the BMP.\n\n"
        "- first item\n- second item with `code`\n\n"
        "| Col A | Col B |\n|-------|-------|\n| cell1 | cell2 |\n";
    const std::string src = tmp_path("intl.md");
    const std::string rtf = tmp_path("intl.rtf");
    write_file(src, md);
    ASSERT_EQ(std::system(("pandoc -f markdown -t rtf -s '" + src + "' -o '" + rtf + "'").c_str()),
              0);
    const auto theirs = words_of_text(run("pandoc -f markdown -t plain '" + src + "'"));
    const fff_words ours = parse_rtf_file(rtf);
    ASSERT_GT(theirs.size(), 60u);
    EXPECT_EQ(words_of_text(ours.all), theirs);
    // The heading is bold from the start of its paragraph: it is emphasised text.
    const auto emph = words_of_text(ours.emphasised);
    EXPECT_EQ(std::vector<std::string>(emph.begin(), emph.begin() + 3),
              (std::vector<std::string>{"überschrift", "und", "titel"}));
}

// A document in the shape of a word processor's output, written by hand from the RTF grammar:
// font table with embedded groups, colour table, style sheet, list table, information group,
// a Cyrillic code page, Unicode with ANSI stand-ins, fields and a hex picture.
TEST(RTFCounterparts, WordProcessorShape) {
    auto d = test::parse_with(read_file(TN_TEST_DATA "/wordprocessor.rtf"), "text/rtf",
                              "file:///w.rtf", "");
    ASSERT_EQ(d.result.status, 0);
    EXPECT_EQ(d.text,
              "15:Quarterly report\n"
              "1:Anna Petrova\n"
              "2:finance quarterly\n"
              "3:Summary of the quarter\n"
              "11:Results \xD0\x98\xD1\x82\xD0\xBE\xD0\xB3\xD0\xB8\n"
              "10:Revenue rose by 12 %  \xE2\x80\x94  see www . example . org for details .\n"
              "10:Caf\xC3\xA9  \xE2\x80\x9C quoted \xE2\x80\x9D  text\n"
              "10:A1\n"
              "10:B1\n"
              "10:end\n");
}

} // namespace
} // namespace lumbrake
