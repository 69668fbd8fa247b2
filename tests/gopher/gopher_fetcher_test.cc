#include "../support/empty_config.h"
#include "util/config.h"
#include "fetchers/gopher-fetcher.h"

#include "../support/ports.h"
#include "../support/script_server.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace lumbrake {
namespace {

namespace fs = std::filesystem;

using tn_test::empty_config;

const std::string g_script = std::string(TN_TEST_DATA) + "/gopher_server.py";

fetch_result fetch(const std::string& url, std::uint32_t limit = 16777216, int timeout = 60) {
    gopher_fetcher f(empty_config(), limit);
    f.set_timeout(timeout);
    fetch_result r;
    r.reset();
    f.fetch({.base_score = 500000, .url = url, .user_agent = "agent"}, r);
    return r;
}

TEST(GopherMenuLine, Table) {
    struct {
        const char* line;
        const char* html;
    } cases[] = {
        {"iJust some text\tfake\t(NULL)\t0", "Just some text<br />\n"},
        {"3Error text\terror.host\t1", "Error text<br />\n"},
        {"0Gone\tx\terror.host\t1", "Gone<br />\n"},
        {"0Gone\tx\terrorhost\t1", "Gone<br />\n"},
        {"1Docs\t/docs\thost.example\t70",
         "<a href=\"gopher://host.example:70/1/docs\">Docs</a><br />\n"},
        {"1Docs\t/docs\thost.example\t0",
         "<a href=\"gopher://host.example/1/docs\">Docs</a><br />\n"},
        {"0File\t/a b@c%d\th\t70", "<a href=\"gopher://h:70/0/a%20b%40c%25d\">File</a><br />\n"},
        {"1Root\t\th\t7070", "<a href=\"gopher://h:7070/1\">Root</a><br />\n"},
        {"8BBS\tguest\tbbs\t23", "<a href=\"telnet://guest@bbs:23/\">BBS</a><br />\n"},
        {"8BBS\t\tbbs\t0", "<a href=\"telnet://bbs/\">BBS</a><br />\n"},
        {"TMainframe\tuser\tibm\t23", "<a href=\"tn3270://user@ibm:23/\">Mainframe</a><br />\n"},
        {"wWeb\thttp://example.org/x y", "<a href=\"http://example.org/x%20y\">Web</a><br />\n"},
        // Gopher+ fields after the port are not part of it.
        {"1Plus\t/p\th\t70\t+", "<a href=\"gopher://h:70/1/p\">Plus</a><br />\n"},
        // Too few fields: neither text nor link.
        {"1No port\t/x\th", "<br />\n"},
        {"1", "<br />\n"},
        {"", "<br />\n"},
        // Menu texts are shown as written, never taken as markup.
        {"i<b>bold</b> & co\t\t\t0", "&lt;b&gt;bold&lt;/b&gt; &amp; co<br />\n"},
        {"1\"><a href=x>\t/s\th\"q\t70",
         "<a href=\"gopher://h&quot;q:70/1/s\">&quot;&gt;&lt;a href=x&gt;</a><br />\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(gopher_menu_line_to_html(c.line), c.html) << c.line;
}

TEST(GopherMenu, WrapsLinesAndStripsLineEnds) {
    EXPECT_EQ(gopher_menu_to_html({"iHello\t\t\t0\r\n", "1A\t/a\th\t70\n\r\n"}),
              "<html><body>\nHello<br />\n<a href=\"gopher://h:70/1/a\">A</a><br />\n"
              "</body></html>\n");
    EXPECT_EQ(gopher_menu_to_html({}), "<html><body>\n</body></html>\n");
}

class GopherScripted : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = new script_server({"python3", g_script, "scripted"});
        ASSERT_GT(server_->port(), 0);
        base_ = "gopher://127.0.0.1:" + std::to_string(server_->port());
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    static script_server* server_;
    static std::string base_;
};
script_server* GopherScripted::server_ = nullptr;
std::string GopherScripted::base_;

TEST_F(GopherScripted, RootMenuBecomesHtmlAndEndsAtTheDotLine) {
    for (const std::string& url : {base_ + "/", base_}) {
        fetch_result r = fetch(url);
        EXPECT_EQ(r.status, FETCH_OK);
        EXPECT_EQ(r.mime, "text/html");
        EXPECT_EQ(r.charset, "");
        EXPECT_EQ(r.content,
                  "<html><body>\n"
                  "Welcome &lt;to&gt; the test &amp; server<br />\n"
                  "<a href=\"gopher://127.0.0.1:70/1/sub%20dir\">Sub menu</a><br />\n"
                  "<a href=\"gopher://127.0.0.1/0/readme.txt\">Read me</a><br />\n"
                  "<a href=\"gopher://example.org:7070/9/bin\">Binary</a><br />\n"
                  "<a href=\"telnet://guest@bbs.example.org:23/\">Telnet</a><br />\n"
                  "<a href=\"gopher://example.org:70/hURL:http://example.org/\">Web</a><br />\n"
                  "Oops<br />\n"
                  "</body></html>\n")
            << url;
        EXPECT_TRUE(r.outlinks.empty());
    }
}

TEST_F(GopherScripted, TextAndBinaryItems) {
    fetch_result r = fetch(base_ + "/0/readme.txt");
    EXPECT_EQ(r.status, FETCH_OK);
    EXPECT_EQ(r.mime, "text/plain");
    EXPECT_EQ(r.content, "first line\r\nsecond line\r\n");

    // Binary: every byte to the end of the connection, the "." line included.
    const std::string one("\x00\x01line\n.\n\r\nmore\x00\xff", 17);
    r = fetch(base_ + "/9/bin");
    EXPECT_EQ(r.status, FETCH_OK);
    EXPECT_EQ(r.mime, "");
    EXPECT_EQ(r.content, one + one + one);

    // A server that closes early simply ends the answer.
    r = fetch(base_ + "/0/early");
    EXPECT_EQ(r.status, FETCH_OK);
    EXPECT_EQ(r.content, "cut off in the mid");

    // Lines longer than 1023 bytes are read in pieces and kept whole.
    r = fetch(base_ + "/0/longline");
    EXPECT_EQ(r.content, std::string(3000, 'y') + "\n");
}

TEST_F(GopherScripted, SelectorIsSentDecoded) {
    struct {
        std::string path;
        std::string sent;
    } cases[] = {
        {"/0/echo", "/echo"},
        {"/0/echo%20with%20blanks%25", "/echo with blanks%"},
        {"/0/echo?q=1", "/echo?q=1"},
        {"/7/echo%09search words", "/echo\tsearch words"},
    };
    for (const auto& c : cases) {
        fetch_result r = fetch(base_ + c.path);
        EXPECT_EQ(r.content, "selector=[" + c.sent + "]\r\n") << c.path;
    }
    // An encoded line break would end the request early: refused, nothing sent.
    fetch_result r = fetch(base_ + "/0/echo%0D%0Aother");
    EXPECT_EQ(r.status, FETCH_FAILED);
    EXPECT_EQ(r.content, "");
}

TEST_F(GopherScripted, AnswersAreCutAtTheSizeLimit) {
    for (const char* type : {"/0/big", "/9/big", "/1/big"}) {
        fetch_result r = fetch(base_ + type, 1000);
        EXPECT_EQ(r.status, FETCH_PARTIAL) << type;
        if (type[1] == '1')
            EXPECT_LT(r.content.size(), 2000u) << type;
        else
            EXPECT_EQ(r.content.size(), 1000u) << type;
    }
    fetch_result r = fetch(base_ + "/9/big");
    EXPECT_EQ(r.status, FETCH_OK);
    EXPECT_EQ(r.content.size(), 2000u * 67);
}

TEST_F(GopherScripted, SilentServerTimesOut) {
    fetch_result r = fetch(base_ + "/0/slow", 16777216, 1);
    EXPECT_EQ(r.status, FETCH_TIMEOUT);
    EXPECT_EQ(r.content, "");
}

TEST(GopherConnection, FailuresGiveNoConnection) {
    // A port on which nothing listens.
    const int closed_port = tn_test::reserve_port();
    for (const std::string& url :
         {"gopher://127.0.0.1:" + std::to_string(closed_port) + "/",
          std::string("gopher://no-such-host.invalid/"), std::string("gopher:///0/x")}) {
        fetch_result r = fetch(url);
        EXPECT_EQ(r.status, FETCH_NO_CONNECTION) << url;
        EXPECT_EQ(r.error, "") << url;
        EXPECT_EQ(r.content, "") << url;
    }
}

// The real server: its menus are fetched, converted and followed.
TEST(GopherReal, GophernicusMenusAndFiles) {
    const char* tmp = std::getenv("TEST_TMPDIR");
    fs::path root = fs::path(tmp ? tmp : "/tmp") / ("gopherroot-" + std::to_string(getpid()));
    fs::create_directories(root / "sub dir");
    std::ofstream(root / "readme.txt") << "hello from a real gopher server\n";
    std::ofstream(root / "sub dir" / "inner.txt") << "inner text\n";

    script_server server({"python3", g_script, "gophernicus", root.string()});
    ASSERT_GT(server.port(), 0);
    const std::string hp = "127.0.0.1:" + std::to_string(server.port());

    fetch_result menu = fetch("gopher://" + hp + "/");
    EXPECT_EQ(menu.status, FETCH_OK);
    EXPECT_EQ(menu.mime, "text/html");
    const std::string text_link = "<a href=\"gopher://" + hp + "/0/readme.txt\">readme.txt</a>";
    EXPECT_NE(menu.content.find(text_link), std::string::npos) << menu.content;

    fetch_result file = fetch("gopher://" + hp + "/0/readme.txt");
    EXPECT_EQ(file.status, FETCH_OK);
    EXPECT_EQ(file.mime, "text/plain");
    EXPECT_NE(file.content.find("hello from a real gopher server"), std::string::npos);

    // Follow the menu's own links into a folder whose name holds a blank (the server writes
    // it in a selector form of its own, which must reach it unchanged).
    auto link_of = [](const std::string& html, const std::string& text) {
        std::size_t end = html.find("\">" + text + "</a>");
        if (end == std::string::npos) return std::string();
        std::size_t begin = html.rfind("href=\"", end);
        return html.substr(begin + 6, end - begin - 6);
    };
    const std::string sub_url = link_of(menu.content, "sub dir");
    ASSERT_EQ(sub_url.rfind("gopher://" + hp + "/1/sub", 0), 0u) << menu.content;
    fetch_result sub = fetch(sub_url);
    EXPECT_EQ(sub.status, FETCH_OK);
    const std::string inner_url = link_of(sub.content, "inner.txt");
    ASSERT_EQ(inner_url.rfind("gopher://" + hp + "/0/sub", 0), 0u) << sub.content;
    fetch_result inner = fetch(inner_url);
    EXPECT_EQ(inner.status, FETCH_OK);
    EXPECT_NE(inner.content.find("inner text"), std::string::npos) << inner.content;

    fs::remove_all(root);
}

} // namespace
} // namespace lumbrake
