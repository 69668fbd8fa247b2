#include "robotschecker/robotstxt.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

using namespace lumbrake;
using namespace std::string_literals;

namespace {

constexpr const char* bot = "lumbrakebot";

struct path_case {
    const char* path;
    bool forbidden;
};

struct rules_case {
    const char* name;
    std::string text;
    const char* robot;
    std::vector<path_case> paths;
};

} // namespace

TEST(RobotsRules, EmptyTextMatchesNoPath) {
    robotstxt r("", bot);
    EXPECT_TRUE(r.compiled());
    EXPECT_EQ(r.expression(), "^I'm not an URL$");
    for (const char* p : {"/", "/x", ""})
        EXPECT_FALSE(r.matches(p)) << p;
}

TEST(RobotsRules, RulesBecomeAnchoredAlternatives) {
    robotstxt r("User-agent: *\nDisallow: /*.gif\nDisallow: /tmp*\nDisallow: /a.b(c)\n", bot);
    EXPECT_TRUE(r.compiled());
    EXPECT_EQ(r.expression(), "^I'm not an URL$|^/.*\\.gif|^/tmp|^/a\\.b\\(c\\)");
}

TEST(RobotsRules, DecisionsFollowGroupsAndPatterns) {
    const std::vector<rules_case> cases = {
        {"star group then own group: only the own rules count",
         "User-agent: *\nDisallow: /tmp\n\nUser-agent: lumbrakebot\nDisallow: /private\n",
         bot,
         {{"/private/x", true}, {"/tmp", false}, {"/tmp/x", false}}},
        {"own group then star group",
         "User-agent: lumbrakebot\nDisallow: /private\n\nUser-agent: *\nDisallow: /tmp\n",
         bot,
         {{"/private", true}, {"/tmp", false}}},
        {"only the first own group counts",
         "User-agent: lumbrakebot\nDisallow: /a\n\nUser-agent: lumbrakebot\nDisallow: /b\n",
         bot,
         {{"/a", true}, {"/b", false}}},
        {"star groups are joined, other robots' groups skipped",
         "User-agent: *\nDisallow: /a\nUser-agent: other\nDisallow: /o\nUser-agent: *\n"
         "Disallow: /b\n",
         bot,
         {{"/a", true}, {"/b", true}, {"/o", false}}},
        {"the last of consecutive user-agent lines decides (other last)",
         "User-agent: *\nUser-agent: other\nDisallow: /x\n",
         bot,
         {{"/x", false}}},
        {"the last of consecutive user-agent lines decides (star last)",
         "User-agent: other\nUser-agent: *\nDisallow: /x\n",
         bot,
         {{"/x", true}}},
        {"rules before any user-agent line are ignored",
         "Disallow: /x\nUser-agent: *\n",
         bot,
         {{"/x", false}}},
        {"prefix rules",
         "User-agent: *\nDisallow: /cgi-bin/\n",
         bot,
         {{"/cgi-bin/x", true}, {"/cgi-bin/", true}, {"/cgi", false}, {"/x/cgi-bin/", false}}},
        {"wildcards",
         "User-agent: *\nDisallow: /*.gif\nDisallow: /tmp*\n",
         bot,
         {{"/img/a.gif", true},
          {"/a.gif.html", true},
          {"/img/a.png", false},
          {"/img/agif", false},
          {"/tmp", true},
          {"/tmpfile", true},
          {"/tm", false}}},
        {"a lone star forbids everything",
         "User-agent: *\nDisallow: *\n",
         bot,
         {{"/", true}, {"/anything", true}}},
        {"an empty disallow adds nothing and lifts nothing",
         "User-agent: *\nDisallow: /x\nDisallow:\nDisallow:   \n",
         bot,
         {{"/x", true}, {"/y", false}}},
        {"field names in any case",
         "USER-AGENT: *\nDISALLOW: /a\nUser-Agent: *\nDisAllow: /b\n",
         bot,
         {{"/a", true}, {"/b", true}}},
        {"an indented field name does not count",
         "User-agent: *\n  Disallow: /x\n\tDisallow: /y\n",
         bot,
         {{"/x", false}, {"/y", false}}},
        {"an indented line's next piece stands in for its field name",
         "User-agent: *\n x:Disallow:/a\n",
         bot,
         {{"/a", true}}},
        {"a blank before the colon spoils a user-agent line",
         "User-agent : *\nDisallow: /x\n",
         bot,
         {{"/x", false}}},
        {"a line without colon has no value", "User-agent: *\nDisallow /x\n", bot, {{"/x", false}}},
        {"the value keeps later colons",
         "User-agent: *\nDisallow: /wiki/Special:\n",
         bot,
         {{"/wiki/Special:Search", true}, {"/wiki/Special", false}}},
        {"comments are cut",
         "User-agent: * # all\nDisallow: /x # not /y\nDisallow: /a#b\n",
         bot,
         {{"/x", true}, {"/y", false}, {"/abc", true}}},
        {"user-agent values starting with a star count as star",
         "User-agent: *bot\nDisallow: /x\n",
         bot,
         {{"/x", true}}},
        {"a shorter prefix of the robot name does not name it",
         "User-agent: lumbrake\nDisallow: /x\n",
         bot,
         {{"/x", false}}},
        {"a value with a version after the name names it",
         "User-agent: LumbrakeBot/2.1\nDisallow: /x\n",
         bot,
         {{"/x", true}}},
        {"a configured name with a suffix needs the whole name",
         "User-agent: lumbrakebot\nDisallow: /x\n",
         "lumbrakebot/2.0",
         {{"/x", false}}},
        {"paths compare case-sensitively",
         "User-agent: *\nDisallow: /Private\n",
         bot,
         {{"/private", false}, {"/Private", true}}},
        {"CR, LF and CR LF all end lines",
         "User-agent: *\rDisallow: /a\r\nDisallow: /b\nDisallow: /c",
         bot,
         {{"/a", true}, {"/b", true}, {"/c", true}}},
        {"a NUL byte ends the text",
         "User-agent: *\nDisallow: /a\n\0Disallow: /b\n"s,
         bot,
         {{"/a", true}, {"/b", false}}},
        {"regular-expression characters are literal",
         "User-agent: *\nDisallow: /a.b\nDisallow: /p+q\nDisallow: /(x)|y\nDisallow: /[c]\n"
         "Disallow: /d$\nDisallow: /^e\nDisallow: /f?{2}\n",
         bot,
         {{"/a.b", true},
          {"/axb", false},
          {"/p+q", true},
          {"/ppq", false},
          {"/(x)|y", true},
          {"/x", false},
          {"y", false},
          {"/[c]", true},
          {"/c", false},
          {"/d$", true},
          {"/d", false},
          {"/^e", true},
          {"/f?{2}", true},
          {"/ff", false}}},
        // A bare backslash would reach the library's groups, back-references and escapes.
        {"backslashes are literal",
         "User-agent: *\nDisallow: /a\\\nDisallow: /\\(b\\)\\1\nDisallow: /\\w\n",
         bot,
         {{"/a\\", true},
          {"/a", false},
          {"/\\(b\\)\\1", true},
          {"/bb", false},
          {"/\\w", true},
          {"/w", false}}},
    };
    for (const auto& c : cases) {
        robotstxt r(c.text, c.robot);
        EXPECT_TRUE(r.compiled()) << c.name;
        for (const auto& p : c.paths)
            EXPECT_EQ(r.matches(p.path), p.forbidden) << c.name << ": " << p.path;
    }
}

TEST(RobotsRules, RepeatedRulesKeepTheExpressionAndMatchOnce) {
    std::string text = "User-agent: *\n";
    for (int i = 0; i < 100; ++i)
        text += "Disallow: /same\n";
    robotstxt r(text, bot);
    EXPECT_TRUE(r.matches("/same/x"));
    EXPECT_FALSE(r.matches("/other"));
    EXPECT_EQ(r.expression().size(), std::string("^I'm not an URL$").size() + 100 * 7);
}

TEST(RobotsRules, ManyRulesAllCount) {
    // More rules than one compiled group holds: the first, a middle and the last all match.
    std::string text = "User-agent: *\n";
    for (int i = 0; i < 1000; ++i)
        text += "Disallow: /d" + std::to_string(i) + "/\n";
    robotstxt r(text, bot);
    ASSERT_TRUE(r.compiled());
    for (int i : {0, 31, 32, 33, 500, 999})
        EXPECT_TRUE(r.matches("/d" + std::to_string(i) + "/x")) << i;
    EXPECT_FALSE(r.matches("/d1000/x"));
    EXPECT_FALSE(r.matches("/d5"));
}
