#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/codecs.h"

using namespace lumbrake;

namespace {

struct step {
    code_point c;
    bool valid;
    std::size_t index_after;
};

struct decode_case {
    const char* name;
    std::string bytes;
    std::vector<step> steps; // until the end of the text
};

std::string B(std::initializer_list<int> v) {
    std::string s;
    for (int b : v)
        s.push_back(static_cast<char>(b));
    return s;
}

} // namespace

TEST(Utf8DecodeAt, TableOfSequences) {
    const decode_case cases[] = {
        {"two-byte", B({0xC3, 0xA9}), {{0xE9, true, 2}}},
        {"bad continuation advances one", B({0xC3, 0x41}), {{0xFFFD, false, 1}, {0x41, true, 2}}},
        {"overlong three-byte",
         B({0xE0, 0x80, 0x80}),
         {{0xFFFD, false, 1}, {0x80, true, 2}, {0x80, true, 3}}},
        {"lone lead at end", B({0xC3}), {{0xFFFD, false, 1}}},
        {"cut-off sequence jumps to end",
         B({0x41, 0xE2, 0x82}),
         {{0x41, true, 1}, {0xFFFD, false, 3}}},
        {"a bad byte inside a cut-off sequence is kept",
         B({0x63, 0xE9, 0x74}),
         {{0x63, true, 1}, {0xFFFD, false, 2}, {0x74, true, 3}}},
        {"stray continuation and C0 count as valid",
         B({0x80, 0xC0, 0xC1}),
         {{0x80, true, 1}, {0xC0, true, 2}, {0xC1, true, 3}}},
        {"FE and FF never valid", B({0xFE, 0xFF}), {{0xFFFD, false, 1}, {0xFFFD, false, 2}}},
        {"three-byte euro", B({0xE2, 0x82, 0xAC}), {{0x20AC, true, 3}}},
        {"surrogate accepted", B({0xED, 0xA0, 0x80}), {{0xD800, true, 3}}},
        {"four-byte", B({0xF0, 0x90, 0x80, 0x80}), {{0x10000, true, 4}}},
        {"four-byte overlong",
         B({0xF0, 0x80, 0x80, 0x80}),
         {{0xFFFD, false, 1}, {0x80, true, 2}, {0x80, true, 3}, {0x80, true, 4}}},
        {"above U+10FFFF still decodes", B({0xF4, 0x90, 0x80, 0x80}), {{0x110000, true, 4}}},
        {"five-byte", B({0xF8, 0x88, 0x80, 0x80, 0x80}), {{0x200000, true, 5}}},
        {"five-byte overlong",
         B({0xF8, 0x87, 0xBF, 0xBF, 0xBF}),
         {{0xFFFD, false, 1}, {0x87, true, 2}, {0xBF, true, 3}, {0xBF, true, 4}, {0xBF, true, 5}}},
        {"six-byte max", B({0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}), {{0x7FFFFFFF, true, 6}}},
        {"six-byte overlong",
         B({0xFC, 0x83, 0xBF, 0xBF, 0xBF, 0xBF}),
         {{0xFFFD, false, 1},
          {0x83, true, 2},
          {0xBF, true, 3},
          {0xBF, true, 4},
          {0xBF, true, 5},
          {0xBF, true, 6}}},
        {"NUL is a code point", B({0x00, 0x41}), {{0, true, 1}, {0x41, true, 2}}},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        std::size_t i = 0;
        for (const step& s : tc.steps) {
            bool valid = !s.valid;
            code_point c = utf8_decode_at(tc.bytes, i, valid);
            EXPECT_EQ(c, s.c);
            EXPECT_EQ(valid, s.valid);
            EXPECT_EQ(i, s.index_after);
        }
        EXPECT_EQ(i, tc.bytes.size());
    }
}

TEST(Utf8DecodeAt, AtOrPastEndIsInvalidAndClamped) {
    std::string t = "a";
    std::size_t i = 1;
    bool valid = true;
    EXPECT_EQ(utf8_decode_at(t, i, valid), 0xFFFDu);
    EXPECT_FALSE(valid);
    EXPECT_EQ(i, 1u);
    i = 99;
    utf8_decode_at(t, i, valid);
    EXPECT_EQ(i, 1u);
}

TEST(Utf8DecodeNext, SkipsAnnouncedLengthButNeverPastNul) {
    struct c {
        std::string bytes; // NUL-terminated by std::string
        std::vector<code_point> want;
    } cases[] = {
        {B({0xC3, 0x41, 0x42}), {0xFFFD, 0x42}}, {B({0xE0, 0x80, 0x80, 0x41}), {0xFFFD, 0x41}},
        {B({0xC3, 0xA9, 0x41}), {0xE9, 0x41}},   {B({0xC3}), {0xFFFD}},
        {B({0xFE, 0x41}), {0xFFFD, 0x41}},       {B({0xF0, 0x41}), {0xFFFD}},
    };
    for (const auto& tc : cases) {
        const char* p = tc.bytes.c_str();
        std::vector<code_point> got;
        bool valid;
        while (*p) {
            code_point cp = utf8_decode_next(p, valid);
            got.push_back(cp);
            ASSERT_LE(p, tc.bytes.c_str() + tc.bytes.size());
        }
        EXPECT_EQ(got, tc.want);
        // At the NUL: 0, valid, no move.
        const char* end = p;
        EXPECT_EQ(utf8_decode_next(p, valid), 0u);
        EXPECT_TRUE(valid);
        EXPECT_EQ(p, end);
    }
}

TEST(Utf8DecodeNext, StopsAtEmbeddedNulAndAtEndOfBoundedText) {
    // "F0 41 NUL 80 80": the bad sequence announces four bytes but the skip ends at the NUL.
    std::string s = B({0xF0, 0x41, 0x00, 0x80, 0x80});
    const char* p = s.data();
    bool valid = true;
    EXPECT_EQ(utf8_decode_next(p, valid), 0xFFFDu);
    EXPECT_FALSE(valid);
    EXPECT_EQ(p, s.data() + 2);

    std::size_t i = 0;
    EXPECT_EQ(utf8_decode_next(std::string_view(s), i, valid), 0xFFFDu);
    EXPECT_EQ(i, 2u);
    std::string cut = B({0x41, 0xE2, 0x82});
    i = 1;
    EXPECT_EQ(utf8_decode_next(std::string_view(cut), i, valid), 0xFFFDu);
    EXPECT_EQ(i, 3u);
    EXPECT_EQ(utf8_decode_next(std::string_view(cut), i, valid), 0u);
    EXPECT_EQ(i, 3u);
}

TEST(Utf8Append, BoundaryValues) {
    struct c {
        code_point cp;
        std::string want;
    } cases[] = {
        {0x0, B({0x00})},
        {0x7F, B({0x7F})},
        {0x80, B({0xC2, 0x80})},
        {0x7FF, B({0xDF, 0xBF})},
        {0x800, B({0xE0, 0xA0, 0x80})},
        {0xFFFF, B({0xEF, 0xBF, 0xBF})},
        {0x10000, B({0xF0, 0x90, 0x80, 0x80})},
        {0x10FFFF, B({0xF4, 0x8F, 0xBF, 0xBF})},
        {0x1FFFFF, B({0xF7, 0xBF, 0xBF, 0xBF})},
        {0x200000, B({0xF8, 0x88, 0x80, 0x80, 0x80})},
        {0x3FFFFFF, B({0xFB, 0xBF, 0xBF, 0xBF, 0xBF})},
        {0x4000000, B({0xFC, 0x84, 0x80, 0x80, 0x80, 0x80})},
        {0x7FFFFFFF, B({0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF})},
        {0x80000000, ""},
        {0xFFFFFFFF, ""},
    };
    for (const auto& tc : cases) {
        std::string out = "x";
        utf8_append(tc.cp, out);
        EXPECT_EQ(out, "x" + tc.want) << std::hex << tc.cp;
        // Everything appended decodes back to the same value.
        if (!tc.want.empty()) {
            std::size_t i = 1;
            bool valid = false;
            EXPECT_EQ(utf8_decode_at(out, i, valid), tc.cp);
            EXPECT_TRUE(valid);
            EXPECT_EQ(i, out.size());
        }
    }
}

TEST(Utf8, ArbitraryBytesNeverReadPastTheEnd) {
    // Every two- and three-byte combination of interesting bytes: the index always moves
    // forward and stays within the text, and the cursor form stops at the NUL.
    const int interesting[] = {0x00, 0x41, 0x7F, 0x80, 0xBF, 0xC0, 0xC2, 0xDF, 0xE0, 0xED,
                               0xEF, 0xF0, 0xF4, 0xF7, 0xF8, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};
    for (int a : interesting)
        for (int b : interesting)
            for (int c : interesting) {
                std::string s = B({a, b, c});
                std::size_t i = 0;
                bool valid;
                while (i < s.size()) {
                    std::size_t before = i;
                    utf8_decode_at(s, i, valid);
                    ASSERT_GT(i, before);
                    ASSERT_LE(i, s.size());
                }
                std::string folded;
                utf8_case_fold(s, folded, valid);
                const char* p = s.c_str();
                while (*p) {
                    const char* before = p;
                    utf8_decode_next(p, valid);
                    ASSERT_GT(p, before);
                    ASSERT_LE(p, s.c_str() + std::char_traits<char>::length(s.c_str()));
                }
            }
}

TEST(Utf8IsAlnum, Cases) {
    EXPECT_TRUE(utf8_is_alnum(""));
    EXPECT_TRUE(utf8_is_alnum("abc123"));
    EXPECT_TRUE(utf8_is_alnum("caf\xC3\xA9"));
    EXPECT_TRUE(utf8_is_alnum("\xD9\xA3")); // Arabic-Indic digit three
    EXPECT_FALSE(utf8_is_alnum("a b"));
    EXPECT_FALSE(utf8_is_alnum("a-b"));
    EXPECT_FALSE(utf8_is_alnum("ab\xC3"));           // cut off
    EXPECT_FALSE(utf8_is_alnum("\xF0\x90\x90\x80")); // U+10400: no class above the BMP
}

TEST(SplitJoin, Table) {
    struct c {
        const char* text;
        const char* seps;
        bool keep;
        std::vector<std::string> want;
    } cases[] = {
        {"", ",", false, {}},
        {"", ",", true, {}},
        {"a", ",", false, {"a"}},
        {"a,b;c", ",;", false, {"a", "b", "c"}},
        {"a,,b", ",", false, {"a", "b"}},
        {"a,,b", ",", true, {"a", "", "b"}},
        {",a,", ",", false, {"a"}},
        {",a,", ",", true, {"", "a", ""}},
        {"a,", ",", true, {"a", ""}},
        {",", ",", true, {"", ""}},
    };
    for (const auto& tc : cases) {
        std::vector<std::string> out{"stale"};
        split_list(out, tc.text, tc.seps, tc.keep);
        EXPECT_EQ(out, tc.want) << '"' << tc.text << "\" keep=" << tc.keep;
    }
    std::string joined = "stale";
    join_list(joined, {"a", "", "b"}, ", ");
    EXPECT_EQ(joined, "a, , b");
    join_list(joined, {}, ",");
    EXPECT_EQ(joined, "");
}
