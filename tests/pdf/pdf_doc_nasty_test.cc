// Replays the hostile documents of data/doc_corpus (written by data/make_doc_corpus.py),
// whole, cut short and with flipped bytes: every parse ends with a status, never a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "pdf_doc_util.h"

TEST(PdfNasty, CorpusParsesEndWithAStatus) {
    const std::filesystem::path dir = std::string(TN_TEST_DATA) + "/doc_corpus";
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        files.push_back(e.path());
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());
    for (const auto& f : files) {
        const std::string doc = pdf_test::read_file(f.string());
        auto r = pdf_test::parse_pdf(doc);
        EXPECT_TRUE(r.result.status == 0 || r.result.status == 2) << f;
        EXPECT_EQ(r.result.status == 2, !r.result.error.empty()) << f;
        for (int cut = 1; cut < 8; ++cut) {
            auto c = pdf_test::parse_pdf(doc.substr(0, doc.size() * cut / 8));
            EXPECT_TRUE(c.result.status == 0 || c.result.status == 2) << f << " cut " << cut;
        }
        std::string flipped = doc;
        for (std::size_t i = 7; i < flipped.size(); i += 97)
            flipped[i] = static_cast<char>(flipped[i] ^ 0x5A);
        auto x = pdf_test::parse_pdf(flipped);
        EXPECT_TRUE(x.result.status == 0 || x.result.status == 2) << f << " flipped";
    }
}

TEST(PdfNasty, ExpectedOutcomes) {
    const std::string dir = std::string(TN_TEST_DATA) + "/doc_corpus/";
    struct row {
        const char* file;
        int status;
        const char* dump;
    };
    const row rows[] = {
        {"cycle_tree.pdf", 0, "10:loop\n"},
        {"deep_tree.pdf", 0, "10:deep\n"},
        {"missing_font.pdf", 0, "11:nobody / 10:somebody\n"},
        {"unbalanced_q.pdf", 0, "10:a\n"},
        {"unbalanced_bt.pdf", 0, "10:x y z\n"},
        {"inline_image.pdf", 0, "10:after\n"},
        {"differences_loop.pdf", 0, "10:abc\n"},
        {"kids_out_of_range.pdf", 2, ""},
    };
    for (const row& r : rows) {
        auto p = pdf_test::parse_pdf(pdf_test::read_file(dir + r.file));
        EXPECT_EQ(p.result.status, r.status) << r.file << " " << p.result.error;
        if (r.status == 0) EXPECT_EQ(p.dump, r.dump) << r.file;
    }
}
