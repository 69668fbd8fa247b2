#include "worker/docmill-cmdline.h"

#include <gtest/gtest.h>

namespace lumbrake {
namespace {

std::vector<std::string> argv_of(std::initializer_list<const char*> args) {
    std::vector<std::string> out = {"docmill"};
    out.insert(out.end(), args.begin(), args.end());
    return out;
}

TEST(DocmillCmdline, UrlMode) {
    docmill_options o;
    ASSERT_TRUE(parse_docmill_args(argv_of({"1000000", "d1", "file:///srv/x"}), o));
    EXPECT_EQ(o.file_mode, 0);
    EXPECT_EQ(o.base_score, 1000000);
    EXPECT_EQ(o.docid, "d1");
    EXPECT_EQ(o.url, "file:///srv/x");
    EXPECT_FALSE(o.has_fff_file);
    EXPECT_EQ(o.configdir, "");
    EXPECT_EQ(o.source_id, 0);
    EXPECT_EQ(o.mimetype, "");
}

TEST(DocmillCmdline, FileModeWithEveryOption) {
    docmill_options o;
    ASSERT_TRUE(parse_docmill_args(
        argv_of({"--output-words", "--fff-file=out.xml", "--configdir=/exp", "--source=12",
                 "--text-exclusion-begin=<!--b-->", "--text-exclusion-end=<!--e-->", "f.html", "42",
                 "doc", "http://h/f.html", "text/html", "utf-8"}),
        o));
    EXPECT_TRUE(o.output_words);
    EXPECT_TRUE(o.has_fff_file);
    EXPECT_EQ(o.fff_file, "out.xml");
    EXPECT_EQ(o.configdir, "/exp");
    EXPECT_EQ(o.source_id, 12);
    EXPECT_EQ(o.text_exclusion_begin, "<!--b-->");
    EXPECT_EQ(o.text_exclusion_end, "<!--e-->");
    EXPECT_EQ(o.file_mode, 1);
    EXPECT_EQ(o.file_name, "f.html");
    EXPECT_EQ(o.base_score, 42);
    EXPECT_EQ(o.docid, "doc");
    EXPECT_EQ(o.url, "http://h/f.html");
    EXPECT_EQ(o.mimetype, "text/html");
    EXPECT_EQ(o.charset, "utf-8");
}

TEST(DocmillCmdline, OutputWordsChangesNothingElse) {
    docmill_options with, without;
    ASSERT_TRUE(
        parse_docmill_args(argv_of({"--output-words", "--configdir=c", "5", "d", "u"}), with));
    ASSERT_TRUE(parse_docmill_args(argv_of({"--configdir=c", "5", "d", "u"}), without));
    with.output_words = false;
    EXPECT_EQ(with.configdir, without.configdir);
    EXPECT_EQ(with.base_score, without.base_score);
    EXPECT_EQ(with.url, without.url);
    // Anywhere but first it is a positional.
    docmill_options o;
    EXPECT_FALSE(parse_docmill_args(argv_of({"5", "--output-words", "d", "u"}), o));
    EXPECT_FALSE(parse_docmill_args(argv_of({"--output-words", "d", "u"}), o));
}

TEST(DocmillCmdline, UsageCases) {
    const std::vector<std::vector<std::string>> bad = {
        argv_of({}),
        argv_of({"1", "d"}),
        argv_of({"1", "d", "u", "x"}),      // four positionals
        argv_of({"f", "1", "d", "u", "m"}), // five
        argv_of({"f", "1", "d", "u", "m", "c", "x"}),
        argv_of({"--source=3", "1", "d", "u"}),                 // source without configdir
        argv_of({"--configdir=", "--source=3", "1", "d", "u"}), // empty configdir
        // Out of order: the option becomes a positional and the count no longer fits.
        argv_of({"--configdir=c", "--fff-file=x", "1", "d", "u"}),
        {},
    };
    for (const auto& args : bad) {
        docmill_options o;
        EXPECT_FALSE(parse_docmill_args(args, o)) << ::testing::PrintToString(args);
    }
}

TEST(DocmillCmdline, OutOfOrderOptionShiftsValues) {
    // Six arguments after the options: taken as file mode, with the option as the file name.
    docmill_options o;
    ASSERT_TRUE(
        parse_docmill_args(argv_of({"--configdir=c", "--fff-file=x", "1", "d", "u", "m", "c"}), o));
    EXPECT_EQ(o.file_mode, 1);
    EXPECT_EQ(o.file_name, "--fff-file=x");
    EXPECT_FALSE(o.has_fff_file);
}

TEST(DocmillCmdline, NumbersReadAsAtoi) {
    struct {
        const char* text;
        std::int32_t value;
    } cases[] = {{"123", 123},
                 {"  -7", -7},
                 {"+8x", 8},
                 {"abc", 0},
                 {"", 0},
                 {"1e6", 1},
                 {"0x10", 0},
                 {"2147483647", INT32_MAX},
                 {"4294967295", -1},
                 {"-2147483648", INT32_MIN}};
    for (const auto& c : cases)
        EXPECT_EQ(atoi32(c.text), c.value) << c.text;

    docmill_options o;
    ASSERT_TRUE(parse_docmill_args(argv_of({"--configdir=c", "--source=x9", "abc", "d", "u"}), o));
    EXPECT_EQ(o.source_id, 0);
    EXPECT_EQ(o.base_score, 0);
}

TEST(DocmillCmdline, UsageText) {
    const std::string usage = docmill_usage_text;
    EXPECT_EQ(usage.substr(0, usage.find('\n')), "usage: worker [options] base_score docid url");
    EXPECT_EQ(std::count(usage.begin(), usage.end(), '\n'), 10);
    EXPECT_NE(usage.find("\n --source requires --configdir\n"), std::string::npos);
}

} // namespace
} // namespace lumbrake
