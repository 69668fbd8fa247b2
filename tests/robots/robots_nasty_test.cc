// Hostile robots.txt texts: every one must build, compile and answer, in the C locale and in
// a UTF-8 locale (the regular-expression library reads bytes differently in each).
#include "../support/files.h"
#include "robotschecker/robotstxt.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace lumbrake;
namespace fs = std::filesystem;

namespace {

using tn_test::read_file;

// Runs `body` once per locale the machine has, restoring the C locale afterwards.
template <class F> void in_each_locale(F body) {
    for (const char* loc : {"C", "C.UTF-8"}) {
        if (!std::setlocale(LC_ALL, loc)) continue;
        SCOPED_TRACE(loc);
        body();
    }
    std::setlocale(LC_ALL, "C");
}

void exercise(const std::string& text) {
    for (const char* robot : {"lumbrakebot", "*", ""}) {
        robotstxt r(text, robot);
        EXPECT_TRUE(r.compiled()) << robot;
        EXPECT_EQ(r.expression().rfind("^I'm not an URL$", 0), 0u);
        for (const char* path : {"/", "/a\\", "/\xc3\x28", "/aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", ""})
            (void)r.matches(path);
    }
}

} // namespace

TEST(RobotsNasty, ReplayCommittedTexts) {
    std::vector<fs::path> files;
    for (const char* dir : {"nasty", "real"})
        for (const auto& e : fs::directory_iterator(fs::path(TN_TEST_DATA) / dir))
            files.push_back(e.path());
    ASSERT_FALSE(files.empty());
    in_each_locale([&] {
        for (const auto& f : files) {
            SCOPED_TRACE(f.filename().string());
            exercise(read_file(f));
        }
    });
}

TEST(RobotsNasty, BackslashesNeverReachTheLibrary) {
    in_each_locale([] {
        robotstxt r(read_file(fs::path(TN_TEST_DATA) / "nasty" / "backrefs.txt"), "x");
        ASSERT_TRUE(r.compiled());
        EXPECT_TRUE(r.matches("/\\(a*\\)*\\1\\1\\1\\1\\1\\1\\1\\1\\1\\1b"));
        EXPECT_FALSE(r.matches("/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaab"));
    });
}

TEST(RobotsNasty, OnlyTheFirstPartOfAHugeTextIsRead) {
    std::string text = "User-agent: *\n";
    int n = 0;
    while (text.size() < robotstxt::max_text + 64 * 1024)
        text += "Disallow: /r" + std::to_string(n++) + "/\n";
    in_each_locale([&] {
        robotstxt r(text, "lumbrakebot");
        ASSERT_TRUE(r.compiled());
        EXPECT_TRUE(r.matches("/r0/x"));
        EXPECT_TRUE(r.matches("/r1000/x"));
        EXPECT_FALSE(r.matches("/r" + std::to_string(n - 1) + "/x"));
    });
}

TEST(RobotsNasty, ExtremeShapes) {
    std::vector<std::string> texts;
    texts.push_back("User-agent: *\nDisallow: /" + std::string(200000, '(') + "\n");
    std::string escaped_groups = "User-agent: *\nDisallow: /";
    for (int i = 0; i < 50000; ++i)
        escaped_groups += "\\(";
    texts.push_back(escaped_groups + "\n");
    texts.push_back("User-agent: *\nDisallow: /" + std::string(2 * 1024 * 1024, 'a') + "\n");
    std::string stars = "User-agent: *\nDisallow: /";
    for (int i = 0; i < 2000; ++i)
        stars += "*a";
    texts.push_back(stars + "b\n");
    texts.push_back(std::string(300000, '\n') + "User-agent: *\nDisallow: /x\n");
    texts.push_back(std::string(300000, ':'));
    in_each_locale([&] {
        for (std::size_t i = 0; i < texts.size(); ++i) {
            SCOPED_TRACE(i);
            exercise(texts[i]);
        }
    });
}
