// The results part of a search page rendered from a finished search.
#include "webservices/portal.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace lumbrake;

namespace {

class Results : public ::testing::Test {
protected:
    void SetUp() override {
        const char* t = std::getenv("TEST_TMPDIR");
        dir_ = std::string(t ? t : "/tmp/") + "results_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        const char* templates[][2] = {
            {"result_head", "H[{=from=}-{=to=} of {=maxresults=} {=currname=} {=self_url=}]"},
            {"result_row", "R[{=truncated_title=}|{=cache=}|{=url_or_cached=}|"
                           "{=ifdef real_url=}real{=endif=}|{=ifdef cache_internal=}"
                           "int{=endif=}|{=ctx=}|{=ifdef pdf=}pdf{=endif=}|{=crawl_date_dmy_time=}"
                           "{=ifdef server_date_dmy=}|srv{=endif=}]"},
            {"result_foot", "F"},
            {"result_nonav", "N"},
            {"result_nav_prev", "<prev {=prev=}>"},
            {"result_nav_noprev", "<noprev>"},
            {"result_nav_currpage", "({=page=}@{=page_start=})"},
            {"result_nav_otherpage", " {=page=}@{=page_start=} "},
            {"result_nav_next", "<next {=next=} {=currpage=}/{=maxpages=}{=allvars=}>"},
            {"result_nav_nonext", "<nonext>"},
            {"no_result", "none {=currname=}"},
        };
        for (const auto& t : templates) {
            std::ofstream(dir_ + "/" + t[0] + ".html", std::ios::binary) << t[1];
            set_[t[0]] = template_entry{std::string(t[0]) + ".html", dir_ + "/" + t[0] + ".html"};
        }
    }

    std::string render(const portal_search& search, const template_vars& params = {},
                       const std::string& currname = "Arc") {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        render_search_results(fds[0], set_, params, currname, search);
        ::shutdown(fds[0], SHUT_WR);
        std::string got;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fds[1], buffer, sizeof buffer)) > 0)
            got.append(buffer, n);
        ::close(fds[0]);
        ::close(fds[1]);
        return got;
    }

    static portal_search window(int first, int last, int total, int rows = 0) {
        portal_search s;
        s.query_spec.FirstDoc = first;
        s.query_spec.LastDoc = last;
        s.total = total;
        s.results.resize(static_cast<std::size_t>(rows));
        return s;
    }

    std::string dir_;
    template_set set_;
};

TEST_F(Results, Navigation) {
    struct Case {
        int first, last, total;
        const char* expected;
    } cases[] = {
        {0, 9, 25, "H[1-10 of 25 Arc ]F<noprev>(1@0) 2@10  3@20 <next 10 0/3&q=x>"},
        {20, 29, 25, "H[21-25 of 25 Arc ]F<prev 10> 1@0  2@10 (3@20)<nonext>"},
        {10, 24, 25, "H[11-25 of 25 Arc ]F<prev 0>(1@0) 2@15 <nonext>"}, // page 10 / 15 = 0
        {0, 9, 10, "H[1-10 of 10 Arc ]FN"},
        {0, 9, 3, "H[1-3 of 3 Arc ]FN"},
        {0, 9, 0, "none Arc"},
        {0, 9, -1, "none Arc"},
        {5, 2, 8,
         "H[6-3 of 8 Arc ]F<prev 4> 1@0  2@1  3@2  4@3  5@4 (6@5) 7@6  8@7 <next 3 2/8&q=x>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(render(window(c.first, c.last, c.total), {{"q", "x"}, {"start", "10"}}),
                  c.expected)
            << c.first << " " << c.last << " " << c.total;
}

TEST_F(Results, RowsAndEscaping) {
    portal_search s = window(0, 9, 4);
    s.self_url = "http://h:1/?q=<x>";
    s.results.resize(4);
    s.results[0] = {
        "g1", "http://a.test/<p>", std::string(71, 't'), "text/html", {"a<b", "c"}, 0, 0, 0, {},
        ""};
    s.results[1] = {"g2", "file:///srv/x.pdf", "", "application/pdf", {}, 86400, 5, 0, {}, ""};
    s.results[2] = {"g3", "https://b.test", "<script>", "text/html; charset=UTF-8", {}, 0, 0, 0, {},
                    ""};
    s.results[3] = {"g4\"", "ftp://x", std::string(70, 'u'), "text/plain", {}, 0, 0, 0, {}, ""};
    std::string got = render(s, {}, "<C&>");
    EXPECT_EQ(
        got,
        "H[1-4 of 4 &lt;C&amp;&gt; http://h:1/?q=&lt;x&gt;]"
        "R[" +
            std::string(70, 't') +
            "...|cache/g1.html?doc=g1|http://a.test/&lt;p&gt;|"
            "real|int|... a&lt;b ... c ...||01/01/1970 00:00:00]"
            "R[file:///srv/x.pdf|cache/g2.pdf?doc=g2|cache/g2.pdf?doc=g2||int|...|pdf|"
            "02/01/1970 00:00:00|srv]"
            "R[&lt;script&gt;|cache/g3?doc=g3|https://b.test|real|int|...||01/01/1970 00:00:00]"
            "R[" +
            std::string(70, 'u') +
            "|cache/g4&quot;.txt?doc=g4&quot;|"
            "cache/g4&quot;.txt?doc=g4&quot;||int|...||01/01/1970 00:00:00]"
            "FN");
    s.document_cache = false; // DOCUMENT_CACHE=NO hides the link to the HTML rendering
    EXPECT_EQ(render(s).find("|int|"), std::string::npos);
}

TEST_F(Results, TimeSortedRowsFallBackToTheRowTemplate) {
    portal_search s = window(0, 9, 1, 1);
    s.results[0].Title = "T";
    s.query_spec.Sort = SORT_TIME_NEWER;
    EXPECT_NE(render(s).find("R[T|"), std::string::npos);
    std::ofstream(dir_ + "/trow.html") << "TR[{=title=}]";
    set_["result_trow"] = template_entry{"trow.html", dir_ + "/trow.html"};
    EXPECT_NE(render(s).find("TR[T]"), std::string::npos);
    s.query_spec.Sort = SORT_STANDARD;
    EXPECT_NE(render(s).find("R[T|"), std::string::npos);
}

TEST(WrapLongUrl, BreaksAfterSeparators) {
    struct Case {
        const char* url;
        const char* expected;
    } cases[] = {
        {"", ""},
        {"http://a/b", "http://a/b"},
        {"http://www.example.com/a/very/long/path/name/here.html",
         "http://www.example.com/ a/very/long/path/ name/here.html"},
        {"abcdefghijklmnopqrstuvwxyz?x=1&yyyyyyyyyyyyyyyyyyyy=2&z",
         "abcdefghijklmnopqrstuvwxyz? x=1&yyyyyyyyyyyyyyyyyyyy=2& z"},
        {"abcdefghijklmnopqrstuvwxyz&x", "abcdefghijklmnopqrstuvwxyz& x"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(wrap_long_url(c.url), c.expected) << c.url;
}

} // namespace
