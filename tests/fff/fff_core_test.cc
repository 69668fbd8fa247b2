#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "fff_test_util.h"
#include "fff/core_extractor.h"
#include "fff/text_exclusion.h"

namespace {

using namespace fff_test;

// CRC-32 of the file's bytes as Python's zlib computes it.
std::uint32_t python_crc32(const std::string& data) {
    const std::string path = std::string(TN_BINARY_DIR) + "/fff_core_test_input.bin";
    std::ofstream(path, std::ios::binary)
        .write(data.data(), static_cast<std::streamsize>(data.size()));
    const std::string cmd = "python3 -c 'import sys, zlib; print(zlib.crc32(open(sys.argv[1], "
                            "\"rb\").read()))' " +
                            path;
    FILE* pipe = popen(cmd.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    if (!pipe) return 0;
    unsigned long value = 0;
    EXPECT_EQ(std::fscanf(pipe, "%lu", &value), 1);
    EXPECT_EQ(pclose(pipe), 0);
    std::remove(path.c_str());
    return static_cast<std::uint32_t>(value);
}

TEST(FffCore, CoreTextCoversCentralTitleAndCustomRuns) {
    auto doc = one_sentence_doc({make_low(15, {"Annual", "report"}), make_low(5, {"nav"}),
                                 make_low(10, {"Sales", "rose"})});
    EXPECT_EQ(lumbrake::core_text(*doc), "<15>Annual report <10>Sales rose ");

    auto rich = one_sentence_doc({make_low(9, {"menu"}), make_low(12, {"x"}),
                                  make_low(31, {std::string("nul\0byte", 8), "\xE2\x82\xAC"}),
                                  make_low(1, {"author"})});
    const std::string text = lumbrake::core_text(*rich);
    EXPECT_EQ(text, std::string("<12>x <31>nul\0byte \xE2\x82\xAC ", 23));
    EXPECT_EQ(lumbrake::core_checksum(*rich), python_crc32(text));
    EXPECT_EQ(lumbrake::core_checksum(*doc), python_crc32("<15>Annual report <10>Sales rose "));
}

TEST(FffCore, MarginalRunsNeverChangeTheChecksum) {
    auto empty = one_sentence_doc({make_low(5, {"a"}), make_low(9, {"b"}), make_low(1, {"c"})});
    EXPECT_EQ(lumbrake::core_text(*empty), "");
    EXPECT_EQ(lumbrake::core_checksum(*empty), 0u);

    auto a = one_sentence_doc({make_low(7, {"home"}), make_low(10, {"body"})});
    auto b = one_sentence_doc({make_low(10, {"body"}), make_low(6, {"other", "nav"})});
    EXPECT_EQ(lumbrake::core_checksum(*a), lumbrake::core_checksum(*b));
    auto c = one_sentence_doc({make_low(10, {"Body"})});
    EXPECT_NE(lumbrake::core_checksum(*a), lumbrake::core_checksum(*c));
}

struct exclusion_case {
    std::string begin, end, text, kept;
    int excluded;
};

TEST(FffTextExclusion, KeepsTheTextOutsideTheMarkers) {
    const std::vector<exclusion_case> cases = {
        {"", "", "a<!--x-->b<!--y-->c", "a<!--x-->b<!--y-->c", 0},
        {"<!--x-->", "<!--y-->", "a<!--x-->b<!--y-->c", "ac", 1},
        {"<!--x-->", "<!--y-->", "1<!--x-->2<!--y-->3<!--x-->4<!--y-->5", "135", 2},
        {"<!--x-->", "<!--y-->", "a<!--x-->b and the rest", "a", 1},
        {"<!--x-->", "<!--y-->", "a<!--y-->b", "a<!--y-->b", 0},
        {"<!--x-->", "<!--y-->", "", "", 0},
        {"B[0-9]+", "E", "xB12yyEzB3w", "xz", 2},
        {"^a", "z", "abc", "abc", 0}, // "^" never matches at the scan position
        // Embedded NUL bytes do not hide the rest of the text.
        {"<!--x-->", "<!--y-->", std::string("a\0<!--x-->b<!--y-->c", 20), std::string("a\0c", 3),
         1},
        // Empty matches must still make progress.
        {"x*", "y", "abyc", "", 2}, // every position begins a region
        {"x*", "z*", "abc", "abc", 0},
        {"b", "z*", "abc", "ac", 1},
    };
    for (const auto& c : cases) {
        std::string error;
        bool ok = false;
        lumbrake::text_exclusion_matcher m(c.begin, c.end, error, ok);
        ASSERT_TRUE(ok) << error;
        std::string kept = "junk";
        int excluded = -1;
        EXPECT_TRUE(m.apply(c.text, excluded, kept, error));
        EXPECT_EQ(kept, c.kept) << c.begin << " " << c.end << " " << c.text;
        EXPECT_EQ(excluded, c.excluded) << c.begin << " " << c.end << " " << c.text;
        EXPECT_EQ(error, "");
    }
}

TEST(FffTextExclusion, BadPatternsAreReported) {
    std::string error = "old";
    bool ok = true;
    lumbrake::text_exclusion_matcher bad_begin("(", "end", error, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error.rfind("Error in beginning expression: ", 0), 0u) << error;
    EXPECT_GT(error.size(), std::string("Error in beginning expression: ").size());

    lumbrake::text_exclusion_matcher bad_end("begin", "a{2,1}", error, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error.rfind("Error in ending expression: ", 0), 0u) << error;

    // An unusable matcher keeps the text.
    int excluded = -1;
    std::string kept;
    EXPECT_TRUE(bad_end.apply("a begin b", excluded, kept, error));
    EXPECT_EQ(kept, "a begin b");
    EXPECT_EQ(excluded, 0);
}

} // namespace
