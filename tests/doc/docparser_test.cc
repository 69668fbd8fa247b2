// The Word parser on documents written by a real word processor (make_fixtures.sh), compared
// with catdoc where it is installed, and on damaged and foreign data.
#include "../support/files.h"
#include "parsers/docparser.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <sstream>

#include "../parsers/parser_test_util.h"
#include "util/codecs.h"
#include "util/config.h"
#include "fff/FFFbuilder.h"
#include "parsers/parser.h"

namespace lumbrake {
namespace {

using tn_test::read_file;

std::string fixture(const std::string& name) {
    return read_file(std::string(TN_TEST_DATA) + "/" + name);
}

struct doc_run {
    parse_result result;
    std::string dump; // one line per paragraph: "slice:words"
};

// Through the dispatching parser, as the worker calls it (an empty MIME type: detected).
doc_run parse_with_dispatch(const std::string& data, const std::string& url = "file:///x.doc",
                            const std::string& mime = "") {
    config cfg("/dev/null");
    parser p(cfg);
    doc_run run;
    p.parse_document(nullptr, 1000000, url, data, mime, "", "", run.result);
    if (run.result.document) run.dump = test::dump(*run.result.document);
    return run;
}

// Lower-cased words of a text: runs of letters and digits.
std::set<std::string> words_of(const std::string& utf8) {
    std::set<std::string> out;
    std::string word;
    std::size_t i = 0;
    const auto finish = [&] {
        if (word.empty()) return;
        std::string folded;
        bool valid = true;
        utf8_case_fold(word, folded, valid);
        out.insert(folded);
        word.clear();
    };
    while (i < utf8.size()) {
        const std::size_t start = i;
        bool valid = true;
        const code_point c = utf8_decode_at(utf8, i, valid);
        if (valid && is_unicode_alnum(c))
            word.append(utf8, start, i - start);
        else
            finish();
    }
    finish();
    return out;
}

std::set<std::string> words_of_document(const FFF::DocumentData& doc) {
    std::set<std::string> out;
    std::istringstream lines(test::dump(doc));
    std::string line;
    while (std::getline(lines, line)) {
        // Drop the "slice:" prefixes of the runs.
        std::string text;
        std::istringstream runs(line);
        std::string token;
        while (runs >> token) {
            const auto colon = token.find(':');
            if (colon != std::string::npos && colon < 3) token = token.substr(colon + 1);
            text += token + " ";
        }
        for (const auto& w : words_of(text))
            out.insert(w);
    }
    return out;
}

TEST(DocParser, TitleFromSummaryInformationComesFirstInTitleSlice) {
    const doc_run run = parse_with_dispatch(fixture("text.doc"));
    ASSERT_EQ(run.result.status, PARSE_OK);
    EXPECT_EQ(run.result.mime, "application/msword");
    EXPECT_EQ(run.result.charset, "");
    EXPECT_EQ(run.dump, "15:Quarterly Harvest Report\n"
                        "10:Orchard summary\n"
                        "10:The apple harvest grew by twelve percent this season .\n"
                        "10:Café owners in Münster paid 5 €  per crate ,  a naïve price .\n"
                        "10:Pears stayed level .\n");
}

TEST(DocParser, NonLatinTextAndTitleKeepCharactersBeyondTheBasicPlane) {
    const doc_run run = parse_with_dispatch(fixture("cyrillic.doc"));
    ASSERT_EQ(run.result.status, PARSE_OK);
    std::istringstream lines(run.dump);
    std::string title, p1, p2, p3;
    std::getline(lines, title);
    std::getline(lines, p1);
    std::getline(lines, p2);
    std::getline(lines, p3);
    EXPECT_EQ(title, "15:Отчёт");
    EXPECT_EQ(p1, "10:Привет мир и здравствуйте");
    EXPECT_EQ(p2, "10:Καλημέρα κόσμε");
    // U+20000 and U+20001 are letters: fed as one code point each, they make one word.
    EXPECT_NE(p3.find("𠀀𠀁"), std::string::npos) << p3;
    EXPECT_NE(p3.find("music"), std::string::npos) << p3;
}

TEST(DocParser, TableCellsAreParagraphsOfTheirOwn) {
    const doc_run run = parse_with_dispatch(fixture("tables.doc"));
    ASSERT_EQ(run.result.status, PARSE_OK);
    EXPECT_EQ(run.dump, "10:Before the table .\n10:alpha\n10:beta\n10:gamma\n10:delta\n"
                        "10:epsilon\n10:zeta\n10:After the table .\n");
}

TEST(DocParser, NotesHeadersAndFieldResultsAreTextButFieldInstructionsAreNot) {
    const doc_run run = parse_with_dispatch(fixture("notes.doc"));
    ASSERT_EQ(run.result.status, PARSE_OK);
    EXPECT_EQ(run.dump, "10:Main text with a note in the middle .\n"
                        "10:See the harvest site now .\n"
                        "10:Footnote remark here .\n"
                        "10:Running header words\n"
                        "10:Footer line words page 1\n");
}

TEST(DocParser, EmptyDocumentsGiveNoParagraph) {
    for (const char* name : {"empty.doc", "emptyparas.doc"}) {
        const doc_run run = parse_with_dispatch(fixture(name));
        EXPECT_EQ(run.result.status, PARSE_OK) << name;
        ASSERT_TRUE(run.result.document) << name;
        EXPECT_EQ(run.dump, "") << name;
    }
}

// catdoc is an independent reader of the same files: every word it finds is ours too, except
// the field instructions, which it prints and we leave out.
TEST(DocParser, WordSetMatchesCatdoc) {
    if (std::system("command -v catdoc >/dev/null 2>&1") != 0) GTEST_SKIP() << "no catdoc";
    const struct {
        const char* name;
        std::set<std::string> instructions;
    } cases[] = {
        {"text.doc", {}},
        {"tables.doc", {}},
        {"cyrillic.doc", {}},
        {"notes.doc", {"hyperlink", "http", "example", "org"}},
    };
    for (const auto& c : cases) {
        const std::string path = std::string(TN_TEST_DATA) + "/" + c.name;
        const std::string out = std::string(TN_BINARY_DIR) + "/catdoc-" + c.name + ".txt";
        ASSERT_EQ(std::system(("catdoc -d utf-8 '" + path + "' > '" + out + "'").c_str()), 0);
        std::set<std::string> theirs = words_of(read_file(out));
        const doc_run run = parse_with_dispatch(read_file(path));
        ASSERT_TRUE(run.result.document) << c.name;
        std::set<std::string> ours = words_of_document(*run.result.document);
        // The title is not body text for catdoc.
        if (std::string(c.name) == "text.doc")
            for (const char* w : {"quarterly", "report"})
                ours.erase(w);
        if (std::string(c.name) == "cyrillic.doc") ours.erase("отчёт");
        std::set<std::string> missing, extra;
        std::set_difference(theirs.begin(), theirs.end(), ours.begin(), ours.end(),
                            std::inserter(missing, missing.end()));
        std::set_difference(ours.begin(), ours.end(), theirs.begin(), theirs.end(),
                            std::inserter(extra, extra.end()));
        // catdoc prints what it cannot convert as "?" runs: the characters beyond the plane.
        for (const char* w : {"𠀀𠀁"})
            extra.erase(w);
        EXPECT_EQ(missing, c.instructions) << c.name;
        EXPECT_TRUE(extra.empty()) << c.name << ": " << *extra.begin();
    }
}

TEST(DocParser, DetectByContentAndName) {
    config cfg("/dev/null");
    DOCParser p(cfg);
    const std::string ole("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    const struct {
        int mode;
        std::string data, name;
        bool found;
    } cases[] = {
        {DETECT_CONTENT, ole, "", true},
        {DETECT_CONTENT, ole.substr(0, 7), "", false}, // shorter than 8 bytes
        {DETECT_CONTENT, std::string("\x31\xBE\x00\x00\x00\xAB\x00\x00", 8), "", true},
        {DETECT_CONTENT, std::string("\xDB\xA5\x2D\x00\x00\x00\x00\x00", 8), "", true},
        {DETECT_CONTENT, std::string("\xFE\x37\x00\x23\x00\x00\x00\x00", 8), "", true},
        {DETECT_CONTENT, std::string("\xDB\xA5\x2D\x00", 4), "", false},
        {DETECT_CONTENT, "%PDF-1.4 and more", "", false},
        {DETECT_NAME, "", "report.doc", true},
        {DETECT_NAME, "", "REPORT.DOC", true},
        {DETECT_NAME, "", "report.Doc", false},
        {DETECT_NAME, "", "report.docx", false},
        {DETECT_NAME, "", "doc", false},
    };
    for (const auto& c : cases) {
        std::string mime = "x", charset = "utf-8";
        EXPECT_EQ(p.detect(c.mode, c.data, c.name, mime, charset), c.found) << c.name;
        if (c.found) {
            EXPECT_EQ(mime, "application/msword");
            EXPECT_EQ(charset, "");
        }
    }
}

TEST(DocParser, ForeignAndDamagedDataIsAParseError) {
    const std::string doc = fixture("notes.doc");
    std::string garbage_ole("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    garbage_ole += std::string(4096, 'z');
    const struct {
        const char* what;
        std::string data;
    } cases[] = {
        {"compound signature then garbage", garbage_ole},
        {"cut inside the header", doc.substr(0, 300)},
        {"cut after the header", doc.substr(0, 1024)},
        {"cut in half", doc.substr(0, doc.size() / 2)},
        {"legacy Word signature then garbage",
         std::string("\xDB\xA5\x2D\x00", 4) + std::string(600, '\x7f')},
    };
    for (const auto& c : cases) {
        const doc_run run = parse_with_dispatch(c.data);
        EXPECT_EQ(run.result.status, PARSE_ERROR) << c.what;
        EXPECT_EQ(run.result.error, "MSWord document could not be parsed") << c.what;
        EXPECT_FALSE(run.result.document) << c.what;
    }
    // Text that is no Word document but named like one goes to the Word parser by its name.
    const doc_run named = parse_with_dispatch("just some words\n", "file:///notes.doc");
    EXPECT_EQ(named.result.status, PARSE_ERROR);
    EXPECT_EQ(named.result.error, "MSWord document could not be parsed");
}

// Files on which libwv itself crashes when run in-process: read in a child, they are errors.
// (Two more such files, on which the library first spins for seconds, are in the reader's test.)
// Between sound documents, which read the same before and after them.
TEST(DocParser, DocumentsThatCrashTheLibraryAreParseErrors) {
    const doc_run sound = parse_with_dispatch(fixture("notes.doc"));
    ASSERT_EQ(sound.result.status, PARSE_OK);
    for (const char* name : {"libwv-segv-2.doc", "libwv-segv-3.doc"}) {
        const doc_run run = parse_with_dispatch(fixture(std::string("nasty/") + name));
        EXPECT_EQ(run.result.status, PARSE_ERROR) << name;
        EXPECT_EQ(run.result.error, "MSWord document could not be parsed") << name;
        const doc_run after = parse_with_dispatch(fixture("notes.doc"));
        EXPECT_EQ(after.result.status, PARSE_OK) << name;
        EXPECT_EQ(after.dump, sound.dump) << name;
    }
}

// Seeded bit flips and cuts of every fixture: each is either read or a parse error, and the
// process that parses them lives on.
TEST(DocParser, BitFlipsAndCutsNeverEscapeTheParser) {
    std::mt19937 rng(20240611);
    int errors = 0, read = 0;
    for (const char* name : {"text.doc", "tables.doc", "notes.doc", "cyrillic.doc"}) {
        const std::string doc = fixture(name);
        for (int round = 0; round < 12; ++round) {
            std::string bad = doc;
            const int flips = 1 << (round % 6);
            for (int f = 0; f < flips; ++f) {
                const std::size_t at = 512 + rng() % (bad.size() - 512);
                bad[at] = static_cast<char>(bad[at] ^ (1 << (rng() % 8)));
            }
            if (round % 4 == 3) bad.resize(512 + rng() % (bad.size() - 512));
            const doc_run run = parse_with_dispatch(bad);
            ASSERT_TRUE(run.result.status == PARSE_OK || run.result.status == PARSE_ERROR)
                << name << " round " << round;
            (run.result.status == PARSE_OK ? read : errors)++;
        }
    }
    EXPECT_GT(read + errors, 0);
}

// Descriptors 1 and 2 point elsewhere during the parse and come back afterwards: what the
// library prints is lost, what the worker prints after the parse is kept.
TEST(DocParser, LibraryOutputIsSilencedAndOutputContinuesAfterTheParse) {
    const std::string path =
        std::string(getenv("TEST_TMPDIR") ? getenv("TEST_TMPDIR") : "/tmp/") + "doc-output.txt";
    std::fflush(stdout);
    std::fflush(stderr);
    const int saved_out = dup(1), saved_err = dup(2);
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    dup2(file, 1);
    dup2(file, 2);
    close(file);

    for (const char* name : {"nasty/libwv-segv-2.doc", "nasty/libwv-segv-3.doc", "notes.doc"})
        parse_with_dispatch(fixture(name));
    std::printf("after-printf\n");
    std::fflush(stdout);
    std::cout << "after-cout" << std::endl;
    std::fprintf(stderr, "after-stderr\n");

    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);
    EXPECT_EQ(read_file(path), "after-printf\nafter-cout\nafter-stderr\n");
}

} // namespace
} // namespace lumbrake
