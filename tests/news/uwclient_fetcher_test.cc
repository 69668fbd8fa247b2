#include "../support/empty_config.h"
#include "util/config.h"
#include "fetchers/fetcher.h"
#include "fetchers/uwclient-fetcher.h"

#include "../support/ports.h"
#include "../support/script_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ctime>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>

namespace lumbrake {
namespace {

using tn_test::empty_config;

class NewsFetcher : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const char* tmp = std::getenv("TEST_TMPDIR");
        log_ = std::string(tmp ? tmp : "/tmp/") + "nntp-" + std::to_string(getpid()) + ".log";
        server_ =
            new script_server({"python3", std::string(TN_TEST_DATA) + "/nntp_server.py", log_});
        ASSERT_GT(server_->port(), 0);
        base_ = "nntp://127.0.0.1:" + std::to_string(server_->port());
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
        std::remove(log_.c_str());
    }
    static fetch_result fetch(const std::string& url, std::int32_t base_score = 500000,
                              std::uint32_t limit = 16777216, int timeout = 60) {
        uwclient_fetcher f(empty_config(), limit);
        f.set_timeout(timeout);
        fetch_result r;
        r.reset();
        f.fetch({.base_score = base_score, .url = url, .user_agent = "agent"}, r);
        return r;
    }
    static std::string commands() {
        std::ifstream in(log_);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static script_server* server_;
    static std::string base_, log_;
};
script_server* NewsFetcher::server_ = nullptr;
std::string NewsFetcher::base_, NewsFetcher::log_;

TEST_F(NewsFetcher, GroupIsListedByArticleNumber) {
    const std::string group = base_ + "/comp.lang.x/";
    fetch_result r = fetch(group, 500000);
    EXPECT_EQ(r.status, FETCH_LISTING);
    EXPECT_EQ(r.content, "");
    EXPECT_EQ(
        r.outlinks,
        (outlink_list{{group + "3", 500001}, {group + "7", 500001}, {group + "123", 500001}}));
    // Scores never pass the top.
    r = fetch(group, 1000000);
    ASSERT_EQ(r.outlinks.size(), 3u);
    EXPECT_EQ(r.outlinks[0].second, 1000000);

    r = fetch(base_ + "/empty.group/");
    EXPECT_EQ(r.status, FETCH_LISTING);
    EXPECT_TRUE(r.outlinks.empty());
}

TEST_F(NewsFetcher, ArticleIsHeaderThenBody) {
    fetch_result r = fetch(base_ + "/comp.lang.x/123");
    EXPECT_EQ(r.status, FETCH_OK);
    EXPECT_EQ(r.mime, "message/rfc822");
    EXPECT_EQ(r.charset, "iso-8859-1");
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.content, "From: Caf\xe9 <cafe@example.org>\r\n"
                         "Newsgroups: comp.lang.x\r\n"
                         "Subject: Numbers\r\n"
                         "Date: Tue, 3 Jun 2008 11:05:30 +0200 (CEST)\r\n"
                         "Message-ID: <123@example.org>\r\n"
                         "\r\n"
                         "Line one.\r\n.A line that starts with a dot\r\n..two dots\r\n\r\n"
                         "Last line.\r\n");
    // 2008-06-03 09:05:30 UTC.
    EXPECT_EQ(r.servertime, 1212483930);

    r = fetch(base_ + "/comp.lang.x/3");
    EXPECT_EQ(r.status, FETCH_OK);
    EXPECT_EQ(r.servertime, 784111777); // Sun, 06 Nov 1994 08:49:37 GMT

    // Without a date the document time is the time of the fetch.
    const std::time_t before = std::time(nullptr);
    r = fetch(base_ + "/comp.lang.x/7");
    EXPECT_EQ(r.status, FETCH_OK);
    EXPECT_GE(r.servertime, before);
    EXPECT_LE(r.servertime, std::time(nullptr));

    r = fetch(base_ + "/comp.lang.x/123", 500000, 50);
    EXPECT_EQ(r.status, FETCH_PARTIAL);
    EXPECT_EQ(r.content.size(), 50u);
}

TEST_F(NewsFetcher, FailuresGiveStatus6WithoutText) {
    // A port on which nothing listens.
    const std::string closed = "nntp://127.0.0.1:" + std::to_string(tn_test::reserve_port());

    for (const std::string& url : {
             base_ + "/",                         // no group
             base_,                               // no path at all
             std::string("nntp:///comp.lang.x/"), // no host
             base_ + "/no.such.group/",
             base_ + "/comp.lang.x/5", // not in the group: no empty document
             base_ + "/comp.lang.x/abc",
             closed + "/comp.lang.x/",
             base_ + "/bad group/", // a blank would split the command
             base_ + "/comp.lang.x\r\nHELP/",
         }) {
        fetch_result r = fetch(url);
        EXPECT_EQ(r.status, FETCH_FAILED) << url;
        EXPECT_EQ(r.error, "") << url;
        EXPECT_EQ(r.content, "") << url;
        EXPECT_TRUE(r.outlinks.empty()) << url;
    }
    EXPECT_EQ(commands().find("HELP"), std::string::npos);
    EXPECT_EQ(commands().find("GROUP bad"), std::string::npos);
}

TEST_F(NewsFetcher, GroupClaimingThousandsOfMillionsStaysBounded) {
    fetch_result r = fetch(base_ + "/huge.group/");
    EXPECT_EQ(r.status, FETCH_LISTING);
    ASSERT_EQ(r.outlinks.size(), 100000u);
    EXPECT_EQ(r.outlinks.back().first, base_ + "/huge.group/2000000000");
}

TEST_F(NewsFetcher, SilentServerTimesOut) {
    fetch_result r = fetch(base_ + "/silent.group/", 500000, 16777216, 1);
    EXPECT_EQ(r.status, FETCH_FAILED);
}

TEST_F(NewsFetcher, DispatchSendsNntpHere) {
    fetcher f(empty_config(), 16777216);
    fetch_result r;
    f.fetch({.base_score = 500000, .url = base_ + "/comp.lang.x/", .user_agent = "agent"}, r);
    EXPECT_EQ(r.status, FETCH_LISTING);
    EXPECT_EQ(r.outlinks.size(), 3u);
}

TEST(NewsHeaderDate, Forms) {
    struct {
        const char* header;
        std::int32_t time;
    } cases[] = {
        {"Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n", 784111777},
        {"Subject: x\r\ndate:   sun, 06 nov 1994 08:49:37 gmt  \r\n\r\n", 784111777},
        {"Date: Sunday, 06-Nov-94 08:49:37 GMT\n", 784111777},
        {"Date: Sun Nov  6 08:49:37 1994\n", 784111777},
        {"Date: Sun, 6 Nov 1994 09:49:37 +0100\n", 784111777},
        {"Date: 6 Nov 1994 03:49:37 -0500 (EST)\n", 784111777},
        {"Date: Sun, 06 Nov 1994\n 08:49:37 GMT\n", 784111777}, // folded
        {"Date: Mon, 06 Nov 1994 08:49:37 GMT\n", 0},           // wrong weekday
        {"Date: Sun, 31 Apr 1994 08:49:37 +0000\n", 0},
        {"Date: yesterday\n", 0},
        {"Date: Sun, 06 Nov 1994 08:49:37 EST\n", 0},
        {"Subject: no date\r\n\r\nDate: in the body\r\n", 0},
        {"", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(news_header_date(c.header), c.time) << c.header;
}

} // namespace
} // namespace lumbrake
