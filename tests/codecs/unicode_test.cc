#include <gtest/gtest.h>

#include <string>

#include "util/codecs.h"

using namespace lumbrake;

TEST(UnicodeClasses, KnownCodePoints) {
    struct c {
        code_point cp;
        std::uint8_t cls;
    } cases[] = {
        {'A', 0x10},
        {'a', 0x11},
        {0x01C5, 0x12},
        {0x02B0, 0x13},
        {0x05D0, 0x14},
        {0x0301, 0x20},
        {0x0903, 0x21},
        {0x20DD, 0x22},
        {'0', 0x30},
        {0x2160, 0x31},
        {0x00B2, 0x32},
        {'_', 0x40},
        {'-', 0x41},
        {'(', 0x42},
        {')', 0x43},
        {0x00AB, 0x44},
        {0x00BB, 0x45},
        {'!', 0x46},
        {'+', 0x50},
        {'$', 0x51},
        {0x20AC, 0x51},
        {'^', 0x52},
        {0x00A9, 0x53},
        {' ', 0x60},
        {0x00A0, 0x60},
        {0x2028, 0x61},
        {0x2029, 0x62},
        {'\t', 0x70},
        {0x200E, 0x71},
        {0xD800, 0x72},
        {0xE000, 0x73},
        {0x4E00, 0x14},
        {0xAC00, 0x14},
        {0x03F4, 0x10},
        // The soft hyphen counts as dash punctuation.
        {0x00AD, 0x41},
        // Unassigned then: never assigned, non-characters, and later additions.
        {0x0378, 0x00},
        {0xFFFF, 0x00},
        {0x0221, 0x00},
        {0x20B9, 0x00},
        {0x1E9E, 0x00},
    };
    for (const auto& tc : cases)
        EXPECT_EQ(unicode_class(tc.cp), tc.cls) << std::hex << tc.cp;
    EXPECT_EQ(unicode_class_table()[0x41], 0x10);
}

TEST(UnicodeClasses, PredicatesAndAboveBmp) {
    EXPECT_TRUE(is_unicode_alnum('z'));
    EXPECT_TRUE(is_unicode_alnum('7'));
    EXPECT_FALSE(is_unicode_alnum('_'));
    EXPECT_TRUE(is_unicode_mark(0x0301));
    EXPECT_TRUE(is_unicode_punctuation(0x00AD));
    EXPECT_TRUE(is_unicode_symbol('+'));
    EXPECT_TRUE(is_unicode_separator(0x3000));
    EXPECT_TRUE(is_unicode_other('\n'));
    EXPECT_FALSE(is_unicode_other(0x0378)); // unassigned is no class at all
    for (code_point cp : {0x10000u, 0x10400u, 0x1D400u, 0x10FFFFu, 0xFFFFFFFFu}) {
        EXPECT_EQ(unicode_class(cp), 0) << std::hex << cp;
        EXPECT_FALSE(is_unicode_alnum(cp) || is_unicode_mark(cp) || is_unicode_punctuation(cp) ||
                     is_unicode_symbol(cp) || is_unicode_separator(cp) || is_unicode_other(cp));
    }
}

TEST(CaseFolding, TableShape) {
    std::size_t n = 0;
    const case_fold_entry* t = case_fold_table(n);
    ASSERT_EQ(n, 825u);
    std::size_t by_count[4] = {};
    for (std::size_t i = 0; i < n; ++i) {
        ASSERT_LE(t[i].count, 3);
        ++by_count[t[i].count];
        if (i) {
            ASSERT_LT(t[i - 1].source, t[i].source);
        }
        EXPECT_EQ(case_fold_lookup(t[i].source), &t[i]);
    }
    EXPECT_EQ(by_count[1], 723u);
    EXPECT_EQ(by_count[2], 86u);
    EXPECT_EQ(by_count[3], 16u);
    EXPECT_EQ(t[0].source, 0x41u);
    EXPECT_EQ(t[n - 1].source, 0x10425u);
    EXPECT_EQ(case_fold_lookup(0x1E9E), nullptr);
    EXPECT_EQ(case_fold_lookup('a'), nullptr);
    EXPECT_EQ(case_fold_lookup(0x10426), nullptr);
}

TEST(CaseFolding, Words) {
    struct c {
        const char* in;
        const char* want;
    } cases[] = {
        {"Stra\xC3\x9F"
         "e",
         "strasse"},
        {"\xC4\xB0stanbul", "istanbul"},                          // U+0130
        {"\xC4\xB1", "i"},                                        // U+0131
        {"\xCE\xA3\xCE\x91\xCE\xA3", "\xCF\x83\xCE\xB1\xCF\x83"}, // ΣΑΣ
        {"\xEF\xAC\x83", "ffi"},                                  // U+FB03, three targets
        {"\xC5\x89", "\xCA\xBCn"},                                // U+0149 -> U+02BC n
        {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8"},                 // U+10400 -> U+10428
        {"\xE2\x84\xAA", "k"},                                    // KELVIN SIGN
        {"\xC2\xB5", "\xCE\xBC"},                                 // MICRO SIGN
        {"ABC xyz 123", "abc xyz 123"},
        {"", ""},
    };
    for (const auto& tc : cases) {
        std::string out = "stale";
        bool valid = false;
        utf8_case_fold(tc.in, out, valid);
        EXPECT_EQ(out, tc.want) << tc.in;
        EXPECT_TRUE(valid);
    }
}

TEST(CaseFolding, BadBytesFoldAsReplacementAndClearValid) {
    std::string out;
    bool valid = true;
    utf8_case_fold("A\xC3"
                   "B",
                   out, valid);
    EXPECT_FALSE(valid);
    EXPECT_EQ(out, "a\xEF\xBF\xBD"
                   "b");
}

TEST(CaseFolding, EveryAsciiByteFoldsAsTheTableSays) {
    // ASCII takes a short path; it must agree with the table, alone and between other text.
    for (unsigned c = 0; c < 0x80; ++c) {
        std::string want(1, static_cast<char>(c));
        if (const case_fold_entry* e = case_fold_lookup(c)) {
            want.clear();
            for (unsigned k = 0; k < e->count; ++k)
                utf8_append(e->targets[k], want);
        }
        std::string out;
        bool valid = false;
        utf8_case_fold(std::string(1, static_cast<char>(c)), out, valid);
        EXPECT_EQ(out, want) << c;
        EXPECT_TRUE(valid);
        utf8_case_fold("\xC3\x84" + std::string(1, static_cast<char>(c)) + "\xC3\x84", out, valid);
        EXPECT_EQ(out, "\xC3\xA4" + want + "\xC3\xA4") << c;
    }
}
