// The URL dialog's completion and verdict of typed URLs.
#include "cpmodel/url-text.h"

#include <gtest/gtest.h>

namespace {

struct url_case {
    const char* typed;
    const char* url;
    bool accepted;
};

TEST(url_text, CompletesCanonicalisesAndJudges) {
    const url_case cases[] = {
        // POSIX paths are file URLs, as the file fetcher reads them.
        {"/srv/docs", "file:///srv/docs", true},
        {"/srv/my docs/", "file:///srv/my%20docs/", true},
        // No scheme: the web.
        {"www.example.org/a/b.html", "http://www.example.org/a/b.html", true},
        {"Example.ORG", "http://example.org/", true},
        // A host and port is no scheme of its own.
        {"localhost:8080", "http://localhost:8080/", true},
        {"localhost:8080/login", "http://localhost:8080/login", true},
        // A scheme typed by the user is kept, canonical.
        {"HTTPS://Example.org:443/x#frag", "https://example.org/x", true},
        {"ftp://files.example.org", "ftp://files.example.org/", true},
        {"file:///srv/docs", "file:///srv/docs", true},
        // Web URLs need a host; other schemes do not.
        {"", "http:///", false},
        {"http://", "http:///", false},
        {"https:///path", "https:///path", false},
        {"file:///", "file:///", true},
    };
    for (const url_case& c : cases) {
        const lumbrake::typed_url r = lumbrake::complete_typed_url(c.typed);
        EXPECT_EQ(r.url, c.url) << c.typed;
        EXPECT_EQ(r.accepted, c.accepted) << c.typed;
    }
}

TEST(url_text, CompletingTwiceChangesNothing) {
    for (const char* typed : {"/srv/docs", "example.org/x", "localhost:8080", "https://h/a?b=c"}) {
        const std::string once = lumbrake::complete_typed_url(typed).url;
        EXPECT_EQ(lumbrake::complete_typed_url(once).url, once) << typed;
    }
}

} // namespace
