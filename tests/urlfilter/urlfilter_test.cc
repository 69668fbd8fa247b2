#include "trawlnestd/urlfilter.h"

#include <gtest/gtest.h>

#include "api/api-types.h"

namespace {

using lumbrake::SourceConfiguration;
using lumbrake::url_filter;

SourceConfiguration source(std::vector<std::string> inc, std::vector<std::string> exc) {
    SourceConfiguration s;
    s.IncludeFilters = std::move(inc);
    s.ExcludeFilters = std::move(exc);
    return s;
}

struct filter_case {
    const char* what;
    std::vector<std::string> include;
    std::vector<std::string> exclude;
    std::string url;
    bool expected;
};

TEST(UrlFilter, Decisions) {
    const filter_case cases[] = {
        {"no include patterns accept nothing, not even a seed", {}, {}, "http://a.example/", false},
        {"no include, exclude does not matter", {}, {"zzz"}, "http://a.example/", false},
        {"include matches", {"^http://a\\.example/"}, {}, "http://a.example/x.html", true},
        {"include misses", {"^http://a\\.example/"}, {}, "http://b.example/", false},
        {"unanchored search inside the text", {"docs"}, {}, "http://h/x/docs/y", true},
        {"second include matches", {"nomatch", "h/x"}, {}, "http://h/x", true},
        {"exclude beats include", {"example"}, {"\\.pdf$"}, "http://a.example/f.pdf", false},
        {"exclude that misses", {"example"}, {"\\.pdf$"}, "http://a.example/f.html", true},
        {"lower-case include meets upper-case URL", {"/docs/"}, {}, "HTTP://H/DOCS/A", true},
        {"upper-case exclude meets lower-case URL", {"."}, {"SECRET"}, "http://h/secret", false},
        {"malformed include is the only one: reject",
         {"(unbalanced"},
         {},
         "http://h/(unbalanced",
         false},
        {"malformed exclude excludes nothing",
         {"h"},
         {"(unbalanced"},
         "http://h/(unbalanced",
         true},
        {"malformed pattern dropped, others stay",
         {"[z-a]", "good"},
         {"(", "bad"},
         "http://good/",
         true},
        {"others stay: exclude still works",
         {"[z-a]", "good"},
         {"(", "bad"},
         "http://good/bad",
         false},
        {"no canonicalisation: default port text kept", {":80/"}, {}, "http://h:80/", true},
        {"extended syntax: alternation and +",
         {"^https?://(a|b)+\\.ex/"},
         {},
         "https://abba.ex/",
         true},
    };
    for (const auto& c : cases) {
        url_filter f(source(c.include, c.exclude));
        EXPECT_EQ(f.matches(c.url), c.expected) << c.what << ": " << c.url;
    }
}

// A URL with an embedded NUL is searched to its end, so the part after the NUL cannot hide
// from an exclude pattern.
TEST(UrlFilter, EmbeddedNulDoesNotHideExcludedText) {
    url_filter f(source({"^http://h/"}, {"private"}));
    std::string url("http://h/public\0/private", 24);
    EXPECT_FALSE(f.matches(url));
    EXPECT_TRUE(f.matches(std::string("http://h/public\0/ok", 19)));
}

} // namespace
