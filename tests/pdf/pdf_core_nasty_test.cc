// Replays the nasty inputs of the fuzz target (truncated files, loops of /Prev, huge lengths
// and sizes, deep nesting, decompression bombs, broken encryption dictionaries) through the
// same walk: open, resolve every object, decode every stream, run every filter.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "pdf_core_entry.h"
#include "pdf_core_util.h"
#include "pdfparser/pdf-xref.h"

using namespace PdfParser;
using pdf_core_test::Doc;

namespace {

std::string nasty(const std::string& name) {
    return pdf_core_test::read_file(std::string(TN_TEST_DATA) + "/core_nasty/" + name);
}

pdf_core_fuzz_stats walk(const std::string& bytes) {
    pdf_core_fuzz_stats stats;
    pdf_core_fuzz_one(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), &stats);
    return stats;
}

} // namespace

TEST(PdfCoreNasty, EveryCorpusFileEndsCleanly) {
    int files = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(TN_TEST_DATA) + "/core_nasty")) {
        SCOPED_TRACE(entry.path().filename().string());
        walk(pdf_core_test::read_file(entry.path().string()));
        ++files;
    }
    EXPECT_GT(files, 0);
    const auto good = walk(nasty("good.pdf"));
    EXPECT_TRUE(good.opened);
    EXPECT_EQ(good.streams, 1u);
    // A /Prev that names its own section still reads the one section.
    EXPECT_TRUE(walk(nasty("prev_self.pdf")).opened);
}

TEST(PdfCoreNasty, BombsStopAtTheLimit) {
    for (const char* name : {"bomb_flate_twice.pdf", "bomb_lzw.pdf"}) {
        Doc doc(nasty(name));
        FileStructure fs(0, doc.length());
        StreamObject s(fs.entry(2).position, 2, 0);
        ByteSink out;
        try {
            s.decode(out);
            if (std::string(name) == "bomb_lzw.pdf") continue; // fits under the limit
            ADD_FAILURE() << name;
        } catch (const PdfStreamFilter::OutputLimitError&) {
        }
        EXPECT_LE(out.size(), PdfStreamFilter::max_decoded_size);
    }
}

TEST(PdfCoreNasty, LookupsThatRescanTheFileRunOutOfBudget) {
    // Fifty thousand entries that all point into one large region without any "obj": each
    // lookup would scan to the end of the file. The work budget ends them.
    std::string bytes = "%PDF-1.4\n" + std::string(1 << 20, 'x') + "\n";
    const std::size_t xref = bytes.size();
    const int n = 50000;
    bytes += "xref\n0 " + std::to_string(n) + "\n";
    for (int k = 0; k < n; ++k) {
        char line[32];
        std::snprintf(line, sizeof line, "%010d 00000 n \n", 9 + k * 20);
        bytes += line;
    }
    bytes += "trailer\n<< /Size " + std::to_string(n) + " /Root 1 0 R >>\nstartxref\n" +
             std::to_string(xref) + "\n%%EOF\n";
    const auto stats = walk(bytes);
    EXPECT_TRUE(stats.opened);
    EXPECT_EQ(stats.objects, 0u);
}
