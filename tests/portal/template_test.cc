// The template engine on its own: expansion and set files.
#include "webservices/template.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace lumbrake;

namespace {

TEST(Template, Expansion) {
    const template_vars outer{{"q", "a<b"}, {"shared", "outer"}, {"only_outer", "O"}};
    const template_vars inner{{"user", "ann"}, {"shared", "inner"}, {"flag", "\x01"}};
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"plain <b>text</b> without marks", "plain <b>text</b> without marks"},
        {"{=q=}", "a<b"},                         // values go in as stored
        {"{=shared=}/{=only_outer=}", "inner/O"}, // inner first, then outer
        {"[{=missing=}]", "[]"},
        {"{=ifdef user=}Hello {=user=}{=endif=}", "Hello ann"},
        {"{=ifdef q=}x{=endif=}", ""}, // conditions test the inner map only
        {"a{=ifdef none=}b{=ifdef user=}c{=endif=}d{=endif=}e", "ae"},
        {"a{=ifdef user=}b{=ifdef flag=}c{=endif=}d{=endif=}e", "abcde"},
        {"{= endif =}x", "x"}, // a variable named " endif "
        {"{=ifdef none=}a{= endif =}b{=endif=}c", "c"},
        {"text {=user", "text {=user"}, // unclosed mark sent as it stands
        {"x{=user=}y {=q", "xanny {=q"},
        {"a{=endif=}b{=user=}", "a"},           // unmatched endif: output off for the rest
        {"a{=endif=}{=endif=}{=endif=}b", "a"}, // and further ones do no harm
        {"{=ifdef =}z{=endif=}", ""},
        {"{==}", ""},
        {"{=}", "{=}"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(expand_template(c.text, outer, inner), c.expected) << c.text;
}

class TemplateFiles : public ::testing::Test {
protected:
    void SetUp() override {
        const char* t = std::getenv("TEST_TMPDIR");
        dir_ = std::string(t ? t : "/tmp/") + "template_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
    }
    std::string dir_;
};

TEST_F(TemplateFiles, SetFile) {
    write("page.special", "template\n"
                          "head: head.html\n"
                          "foot:foot.html\n"
                          "# a comment line\n"
                          "\n"
                          "   \t\n"
                          "  mimetype:   text/plain  # trailing comment\n"
                          "name with blank : x.html\n"
                          "empty:   \n"
                          "head: head2.html\n");
    template_set set;
    ASSERT_TRUE(load_template_set(dir_ + "/page.special", set));
    EXPECT_EQ(set.size(), 4u);
    EXPECT_EQ(set["head"].text, "head2.html"); // a later line replaces an earlier one
    EXPECT_EQ(set["head"].path, dir_ + "/head2.html");
    EXPECT_EQ(set["foot"].path, dir_ + "/foot.html");
    EXPECT_EQ(set["mimetype"].text, "text/plain");
    EXPECT_EQ(set.count("name with blank "), 1u);
    EXPECT_EQ(set.count("empty"), 0u);

    write("bad.special", "template\nhead: head.html\nhead\n");
    EXPECT_FALSE(load_template_set(dir_ + "/bad.special", set));
    EXPECT_FALSE(load_template_set(dir_ + "/absent.special", set));
}

TEST_F(TemplateFiles, RenderSendsOnePieceOrNothing) {
    write("s.special", "template\nbody: body.html\nlost: lost.html\n");
    write("body.html", "<p>{=ifdef user=}Hi {=user=}{=endif=} {=q=}</p>");
    template_set set;
    ASSERT_TRUE(load_template_set(dir_ + "/s.special", set));
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    EXPECT_FALSE(render_template(set, fds[0], "absent", {}, {}));
    EXPECT_FALSE(render_template(set, fds[0], "lost", {}, {})); // file missing
    EXPECT_TRUE(render_template(set, fds[0], "body", {{"q", "x"}}, {{"user", "u"}}));
    write("ie.html", "E{=ifdef BadQuery=}:bad{=endif=}{=ifdef InternalError=}:int{=endif=}");
    set["internalerror"] = template_entry{"ie.html", dir_ + "/ie.html"};
    api_result res;
    res.set_error(API_BAD_QUERY);
    render_internal_error(fds[0], set, {}, res);
    ::shutdown(fds[0], SHUT_WR);
    std::string got;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(fds[1], buffer, sizeof buffer)) > 0)
        got.append(buffer, n);
    ::close(fds[0]);
    ::close(fds[1]);
    EXPECT_EQ(got, "<p>Hi u x</p>E:bad");
}

} // namespace
