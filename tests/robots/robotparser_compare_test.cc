// Our decisions against Python's urllib.robotparser on real-world-shaped robots.txt files:
// where the two sets of rules agree the answers must be equal, and each deliberate
// difference is pinned on both sides.
#include "../support/files.h"
#include "robotschecker/robotschecker.h"

#include "robots_test_util.h"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace lumbrake;
using robots_test::scratch_db;

namespace {

constexpr const char* robot = "lumbrakebot";
constexpr const char* site = "http://www.example.com";

using tn_test::read_file;

// Python's answers for the URLs, in order: true for allowed.
std::vector<bool> python_decisions(const std::string& robots_file,
                                   const std::vector<std::string>& urls) {
    std::string cmd = "python3 '" TN_SOURCE_DIR "/tests/robots/robotparser_decisions.py' '" +
                      std::string(robot) + "' '" + robots_file + "'";
    for (const auto& u : urls)
        cmd += " '" + u + "'";
    std::string out = robots_test::run(cmd);
    std::vector<bool> answers;
    for (char c : out)
        if (c == '0' || c == '1') answers.push_back(c == '1');
    EXPECT_EQ(answers.size(), urls.size()) << cmd << "\n" << out;
    answers.resize(urls.size());
    return answers;
}

std::vector<bool> our_decisions(const std::string& text, const std::vector<std::string>& urls) {
    scratch_db store("compare");
    robotschecker checker(store.db, robot);
    std::string robots_url;
    EXPECT_TRUE(checker.needs_refresh(store.db, urls.front(), robots_url));
    checker.store(store.db, robots_url, text);
    std::vector<bool> answers;
    for (const auto& u : urls) {
        bool compiled = false;
        answers.push_back(checker.allowed(store.db, u, compiled));
        EXPECT_TRUE(compiled);
    }
    return answers;
}

std::vector<std::string> on_site(const std::vector<const char*>& paths) {
    std::vector<std::string> urls;
    for (const char* p : paths)
        urls.push_back(std::string(site) + p);
    return urls;
}

struct agree_case {
    const char* file;
    std::vector<const char*> paths;
};

struct differ_case {
    const char* why;
    const char* text;
    const char* path;
    bool ours; // our answer (allowed); Python answers the opposite
};

} // namespace

class RobotsAgainstPython : public testing::Test {
protected:
    void SetUp() override {
        if (!robots_test::have_program("python3")) GTEST_SKIP() << "python3 missing";
    }
};

TEST_F(RobotsAgainstPython, SameAnswersWhereTheRulesAgree) {
    const std::vector<agree_case> cases = {
        {"wiki.txt",
         {"/wiki/Main_Page", "/w/index.php", "/api/rest_v1/", "/trap/", "/wiki/Special:Random",
          "/wiki/Special%3ARandom", "/wiki/Specials", "/wiki/Wikipedia:Articles_for_deletion/X",
          "/wiki/Wikipedia:Articles", "/wiki/Wikipedia:Copyright_problems/2020", "/", "/wx"}},
        {"news.txt",
         {"/search", "/search/results", "/searching", "/login", "/account/", "/account",
          "/archive/2001/x.html", "/print/story", "/story/1", "/cgi-bin/a.pl", "/"}},
        {"wordpress.txt",
         {"/wp-admin/", "/wp-admin/options.php", "/wp-admin/admin-ajax.php", "/wp-admin",
          "/2023/05/post/", "/wp-content/uploads/a.jpg"}},
        {"ownbot.txt",
         {"/private", "/private/x.html", "/drafts/a", "/drafts", "/tmp", "/tmp/x", "/cgi-bin/x",
          "/"}},
        {"ownfirst.txt", {"/private/x", "/tmp", "/", "/index.html"}},
        {"crlf.txt", {"/Intranet/", "/Intranet/a", "/intranet/a", "/cgi-bin/x", "/scripts", "/"}},
        {"empty.txt", {"/", "/private", "/a/b/c"}},
        {"disallow_all.txt", {"/", "/a", "/robots.txt"}},
        {"otherbots.txt", {"/", "/nogoogle/x", "/x"}},
        {"shared_group.txt", {"/shared/x", "/shared", "/logs/today", "/logsx", "/log", "/"}},
        {"cms.txt",
         {"/", "/node/1", "/node/add/page", "/admin/config", "/user/login/", "/user/1",
          "/CHANGELOG.txt", "/changelog.txt", "/themes/x/style.css", "/install.php"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::string path = std::string(TN_TEST_DATA) + "/real/" + c.file;
        std::vector<std::string> urls = on_site(c.paths);
        std::vector<bool> ours = our_decisions(read_file(path), urls);
        std::vector<bool> python = python_decisions(path, urls);
        for (std::size_t i = 0; i < urls.size(); ++i)
            EXPECT_EQ(ours[i], python[i]) << urls[i];
    }
}

TEST_F(RobotsAgainstPython, DeliberateDifferences) {
    const std::vector<differ_case> cases = {
        {"allow lines are ignored", "User-agent: *\nAllow: /private/open\nDisallow: /private\n",
         "/private/open", false},
        {"a star in a rule is a wildcard", "User-agent: *\nDisallow: /*.gif\n", "/img/a.gif",
         false},
        {"only the path is tested, not the query", "User-agent: *\nDisallow: /search?q\n",
         "/search?q=x", true},
        {"every star group counts, not only the first",
         "User-agent: *\nDisallow: /a\n\nUser-agent: *\nDisallow: /b\n", "/b", false},
        {"the last of consecutive user-agent lines decides",
         "User-agent: *\nUser-agent: OtherBot\nDisallow: /x\n", "/x", true},
        {"a blank line does not end a group", "User-agent: *\nDisallow: /a\n\nDisallow: /b\n", "/b",
         false},
        {"a blank line between user-agent and rules does not drop the group",
         "User-agent: *\n\nDisallow: /x\n", "/x", false},
        {"an indented field name does not count", "User-agent: *\n  Disallow: /x\n", "/x", true},
        {"an empty disallow does not allow what follows",
         "User-agent: *\nDisallow:\nDisallow: /x\n", "/x", false},
        {"a user-agent value starting with the robot name and a version names it",
         "User-agent: lumbrakebot/2.1\nDisallow: /x\n", "/x", false},
        {"a user-agent value that is a shorter prefix does not name the robot",
         "User-agent: lumbrake\nDisallow: /x\n", "/x", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        std::string path = testing::TempDir() + "differ.txt";
        std::ofstream(path, std::ios::binary) << c.text;
        std::vector<std::string> urls = on_site({c.path});
        EXPECT_EQ(our_decisions(c.text, urls)[0], c.ours);
        EXPECT_EQ(python_decisions(path, urls)[0], !c.ours);
    }
}
