// The index client against a recording stand-in server: the commands and fields it sends for
// documents, removals and flushes, the word stream it builds, the server's environment, and
// its behaviour when the server goes away.
#include "idxstorage/idxstorage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "idx_test_env.h"
#include "util/log.h"
#include "fff/FFF.h"
#include "../support/fff_fixtures.h"

using namespace lumbrake;
using idx_test::read_file;
using idx_test::read_lines;
using idx_test::scratch_deploy;

namespace {

// A document: metas, then one paragraph with one sentence per run.
struct run {
    int slice;
    std::vector<std::string> words;
};

std::unique_ptr<FFF::DocumentData> make_doc(const std::vector<FFF::meta>& metas,
                                            const std::vector<run>& runs) {
    auto doc = std::make_unique<FFF::DocumentData>();
    auto* contents = new FFF::Contents();
    contents->metas = metas;
    doc->add_child(contents);
    auto* p = new FFF::P();
    for (const run& r : runs) {
        auto* s = new FFF::S();
        auto* low = new FFF::Low(r.slice);
        low->words = r.words;
        s->add_child(low);
        p->add_child(s);
    }
    contents->add_child(p);
    return doc;
}

std::string binary_of(const FFF::tXMLTree& root) {
    std::string out;
    FFF::ToBinary(root, out);
    return out;
}

std::string token(const std::string& word, int slice) {
    return word + static_cast<char>(0x40 + slice);
}

std::string extract_words(const FFF::DocumentData& doc, std::string* title = nullptr) {
    words_extractor x(nullptr);
    doc.accept_const(x, 0);
    if (title) *title = x.title();
    return x.words();
}

int count(const std::vector<std::string>& lines, const std::string& what) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), what));
}

} // namespace

// ---- the word stream and the title ----

TEST(WordsExtractor, WordsAreFoldedPunctuationDroppedAndSlicesMarked) {
    auto doc = make_doc({}, {{10, {"Hello", ",", "World"}}});
    EXPECT_EQ(extract_words(*doc), token("hello", 10) + "\x01" + token("world", 10));
}

TEST(WordsExtractor, TitleKeepsPunctuationTightAndBlanksBetweenWords) {
    std::string title;
    auto doc = make_doc({}, {{15, {"Annual", "report", ":", "2005"}}, {15, {"Next"}}});
    const std::string words = extract_words(*doc, &title);
    // Nothing separates the words of two title runs.
    EXPECT_EQ(title, "Annual report:2005Next");
    EXPECT_EQ(words, token("annual", 15) + "\x01" + token("report", 15) + "\x01" +
                         token("2005", 15) + "\x01" + token("next", 15));
}

TEST(WordsExtractor, MetasComeFirstAsStoredWithTheirSliceMarker) {
    auto doc = make_doc({fff_meta(1, "author", "Smith"), fff_meta(2, "Key Word", "A b!")},
                        {{10, {"x"}}});
    EXPECT_EQ(extract_words(*doc), token("author:Smith", 1) + "\x01" + token("Key Word:A b!", 2) +
                                       "\x01" + token("x", 10));
}

TEST(WordsExtractor, WordLengthLimitAndInvalidText) {
    const std::string w64(64, 'a'), w65(65, 'b');
    // The limit applies to the folded form: 33 U+00DF fold to 66 bytes of "ss" and are dropped.
    std::string sharp;
    for (int i = 0; i < 33; ++i)
        sharp += "\xC3\x9F";
    auto doc = make_doc({}, {{10, {w64, w65, "ok\xFF", sharp, "\xC3\x89t\xC3\xA9"}}});
    EXPECT_EQ(extract_words(*doc), token(w64, 10) + "\x01" + token("\xC3\xA9t\xC3\xA9", 10));
}

TEST(WordsExtractor, EmptyDocumentGivesEmptyTitleAndStream) {
    std::string title = "x";
    FFF::DocumentData doc;
    EXPECT_EQ(extract_words(doc, &title), "");
    EXPECT_EQ(title, "");
}

TEST(IndexHelpers, TimesRoundDownToWholeHoursTowardZero) {
    const std::pair<std::int32_t, std::int32_t> cases[] = {{7199, 3600},
                                                           {3600, 3600},
                                                           {0, 0},
                                                           {3599, 0},
                                                           {-1, 0},
                                                           {-7199, -3600},
                                                           {1700000000, 1699999200}};
    for (auto [in, out] : cases)
        EXPECT_EQ(round_to_hour(in), out) << in;
}

TEST(IndexHelpers, ServerEnvironmentTakesOnlyTheKeysTheFileHolds) {
    scratch_deploy d("/bin/true", {"MAXFIELDLENGTH=", "MERGEFACTOR=7"});
    config cfg;
    std::map<std::string, std::string> env = {{"LUCENE_MINMERGEDOCS", "inherited"}, {"PATH", "/x"}};
    index_server_environment(cfg, env);
    EXPECT_EQ(env, (std::map<std::string, std::string>{{"LUCENE_MAXFIELDLENGTH", ""},
                                                       {"LUCENE_MERGEFACTOR", "7"},
                                                       {"LUCENE_MINMERGEDOCS", "inherited"},
                                                       {"PATH", "/x"}}));
}

TEST(IndexHelpers, RemoveDirectoryFilesLeavesSubdirectories) {
    namespace fs = std::filesystem;
    const fs::path base =
        fs::path(std::getenv("TEST_TMPDIR") ? std::getenv("TEST_TMPDIR") : "/tmp/") / "rmdir";
    fs::remove_all(base);
    fs::create_directories(base / "flat");
    std::ofstream(base / "flat" / "a") << "x";
    std::ofstream(base / "flat" / "b") << "y";
    remove_directory_files((base / "flat").string());
    EXPECT_FALSE(fs::exists(base / "flat"));

    fs::create_directories(base / "nested" / "sub");
    std::ofstream(base / "nested" / "a") << "x";
    remove_directory_files((base / "nested").string());
    EXPECT_TRUE(fs::exists(base / "nested" / "sub"));
    EXPECT_FALSE(fs::exists(base / "nested" / "a"));

    remove_directory_files((base / "absent").string()); // nothing to do
    std::ofstream(base / "file") << "x";
    remove_directory_files((base / "file").string());
    EXPECT_TRUE(fs::exists(base / "file"));
}

// ---- the client against the recorder ----

class RecordedClient : public ::testing::Test {
protected:
    std::vector<std::string> log() { return read_lines("recorder.log"); }
};

TEST_F(RecordedClient, AddDocumentSendsIdentityFieldsViewsTitleAndWords) {
    scratch_deploy d(TN_IDX_RECORDER);
    {
        idxstorage index;
        auto doc =
            make_doc({fff_meta(1, "author", "Smith")}, {{15, {"Annual", "report"}}, {10, {"Hi"}}});
        index.add_document("g1", 4000000000u, "http://h/x", "text/html", 7199, -1, 1000000, {0, 1},
                           binary_of(*doc));
        index.add_document("g2", 7, "u", "m", 3600, 3600, 0, {}, binary_of(*doc));
    }
    // The slice markers 0x41, 0x4F and 0x4A are the letters A, O and J.
    const std::string stream = "author:SmithA\\x01annualO\\x01reportO\\x01hiJ";
    const std::vector<std::string> expected = {
        "DELETE 0:g1:guid",
        "BEGIN_DOC",
        "TEXT guid=g1 110",
        "TEXT arcid=4000000000 110",
        "TEXT url=http://h/x 100",
        "TEXT mime=text/html 100",
        "TEXT score=000f4240 110",
        "TIME time=3600 110",
        "TIME servertime=0 100",
        "TEXT view=0 110",
        "TEXT view=1 110",
        "TEXT title=Annual report 100",
        "TEXT =" + stream + " 011",
        "END_DOC",
        "DELETE 0:g2:guid",
        "BEGIN_DOC",
        "TEXT guid=g2 110",
        "TEXT arcid=7 110",
        "TEXT url=u 100",
        "TEXT mime=m 100",
        "TEXT score=00000000 110",
        "TIME time=3600 110",
        "TIME servertime=3600 100",
        "TEXT title=Annual report 100",
        "TEXT =" + stream + " 011",
        "END_DOC",
        "QUIT",
    };
    EXPECT_EQ(log(), expected);
}

TEST_F(RecordedClient, UndecodableFffStillAddsTheIdentityFields) {
    scratch_deploy d(TN_IDX_RECORDER);
    std::FILE* logged = std::tmpfile();
    g_log.stream = logged;
    g_log.thresholds[LF_FFF] = LL_ERROR;

    // A paragraph where the root belongs (the kind table reads a basic root as a reduced
    // DocumentData, so only another node kind can stand in the wrong place).
    FFF::P paragraph;
    auto full = make_doc({}, {{10, {"a"}}});
    std::string cut = binary_of(*full);
    cut.resize(cut.size() - 3);
    {
        idxstorage index;
        index.add_document("basic", 1, "u", "m", 0, 0, 5, {0}, binary_of(paragraph));
        index.add_document("empty", 1, "u", "m", 0, 0, 5, {0}, "");
        index.add_document("cut", 1, "u", "m", 0, 0, 5, {0}, cut);
    }
    g_log.stream = nullptr;
    std::rewind(logged);
    std::string text;
    for (int c; (c = std::fgetc(logged)) != EOF;)
        text += static_cast<char>(c);
    std::fclose(logged);
    EXPECT_NE(text.find("BLOB object mismatch?"), std::string::npos) << text;
    EXPECT_NE(text.find("Failed FFF FromBinary"), std::string::npos) << text;
    EXPECT_TRUE(text.find("Incomplete FFF") != std::string::npos ||
                text.find("Failed FFF FromBinary", text.find("Failed FFF FromBinary") + 1) !=
                    std::string::npos)
        << text;

    const auto lines = log();
    EXPECT_EQ(count(lines, "BEGIN_DOC"), 3);
    EXPECT_EQ(count(lines, "END_DOC"), 3);
    EXPECT_EQ(count(lines, "TEXT view=0 110"), 3);
    for (const std::string& l : lines) {
        EXPECT_EQ(l.rfind("TEXT title=", 0), std::string::npos) << l;
        EXPECT_EQ(l.rfind("TEXT =", 0), std::string::npos) << l;
    }
}

TEST_F(RecordedClient, FlushCountersAndArchiveRemoval) {
    scratch_deploy d(TN_IDX_RECORDER);
    const std::string fff = binary_of(*make_doc({}, {}));
    idxstorage index;
    const int last = flush_every - 1;
    for (int i = 0; i < last; ++i)
        index.add_document("a" + std::to_string(i), 1, "u", "m", 0, 0, 0, {0}, fff);
    index.remove_document("r0");
    index.flush(); // explicit: counters unchanged
    EXPECT_EQ(index.add_counter(), last);
    EXPECT_EQ(index.delete_counter(), 1);
    const std::string final_guid = "a" + std::to_string(last);
    index.add_document(final_guid, 1, "u", "m", 0, 0, 0, {0}, fff); // the flush_every-th addition
    EXPECT_EQ(index.add_counter(), 0);
    EXPECT_EQ(index.delete_counter(), 0);
    for (int i = 1; i <= flush_every; ++i)
        index.remove_document("r" + std::to_string(i));
    index.add_document("b", 1, "u", "m", 0, 0, 0, {0}, fff);
    index.remove_archive(-2);
    EXPECT_EQ(index.add_counter(), 0);
    index.optimize();

    // Reduce the log to the commands that matter here.
    std::vector<std::string> seen;
    for (const std::string& l : log())
        if (l == "FLUSH" || l == "OPTIMIZE" || l.rfind("DELETE 0:r", 0) == 0 ||
            l.find(":arcid") != std::string::npos || l == "TEXT guid=" + final_guid + " 110" ||
            l == "TEXT guid=b 110")
            seen.push_back(l);
    std::vector<std::string> expected = {"DELETE 0:r0:guid", "FLUSH",
                                         "TEXT guid=" + final_guid + " 110", "FLUSH"};
    for (int i = 1; i <= flush_every; ++i)
        expected.push_back("DELETE 0:r" + std::to_string(i) + ":guid");
    expected.insert(expected.end(), {"FLUSH", "TEXT guid=b 110", "FLUSH",
                                     "DELETE 0:4294967294:arcid", "FLUSH", "OPTIMIZE"});
    EXPECT_EQ(seen, expected);
}

TEST_F(RecordedClient, ServerEnvironmentCarriesTheLuceneSettings) {
    {
        scratch_deploy d(TN_IDX_RECORDER);
        { idxstorage index; }
        EXPECT_EQ(read_file("recorder-env.txt"), "");
    }
    {
        scratch_deploy d(TN_IDX_RECORDER, {"MAXFIELDLENGTH=", "MERGEFACTOR=10", "MINMERGEDOCS=50",
                                           "MAXMERGEDOCS=9999"});
        { idxstorage index; }
        auto lines = read_lines("recorder-env.txt");
        std::sort(lines.begin(), lines.end());
        EXPECT_EQ(lines,
                  (std::vector<std::string>{"LUCENE_MAXFIELDLENGTH=", "LUCENE_MAXMERGEDOCS=9999",
                                            "LUCENE_MERGEFACTOR=10", "LUCENE_MINMERGEDOCS=50"}));
    }
}

TEST_F(RecordedClient, RepliesThatNeverComeCountAsMinusOne) {
    ::setenv("IDX_RECORDER_CLOSE_AFTER", "1", 1);
    scratch_deploy d(TN_IDX_RECORDER);
    idxstorage index;
    ::unsetenv("IDX_RECORDER_CLOSE_AFTER");
    index_connection& c = *index.connection();
    EXPECT_EQ(c.request(IDX_FLUSH), -1);
    EXPECT_TRUE(c.broken());
    // Later commands are skipped rather than sent into a dead stream.
    EXPECT_EQ(c.request(IDX_BEGIN_DOC), -1);
    std::string text = "kept";
    EXPECT_FALSE(c.recv_string(text));
    EXPECT_EQ(text, "kept");
    index.add_document("g", 1, "u", "m", 0, 0, 0, {0}, ""); // no crash, no hang
    index.reset(); // a fresh server brings a working connection
    EXPECT_FALSE(index.connection()->broken());
    EXPECT_EQ(index.connection()->request(IDX_FLUSH), 0);
}

TEST_F(RecordedClient, ResetRemovesTheIndexDirectoryBeforeTheNewServerStarts) {
    scratch_deploy d(TN_IDX_RECORDER);
    namespace fs = std::filesystem;
    idxstorage index;
    fs::create_directory("index");
    std::ofstream("index/postlist.glass") << "x";
    std::ofstream("index/iamglass") << "y";
    index.reset();
    EXPECT_FALSE(fs::exists("index"));
    // The old server got QUIT; the new one answers.
    EXPECT_EQ(count(log(), "QUIT"), 1);
    EXPECT_EQ(index.connection()->request(IDX_FLUSH), 0);

    fs::create_directories("index/sub");
    std::ofstream("index/file") << "x";
    index.reset();
    EXPECT_TRUE(fs::exists("index/sub"));
    EXPECT_FALSE(fs::exists("index/file"));
}

TEST(IndexStart, MissingServerProgramEndsTheProcess) {
    EXPECT_EXIT(
        {
            scratch_deploy d("/nonexistent/siftvault");
            idxstorage index;
        },
        ::testing::ExitedWithCode(1), "");
}
