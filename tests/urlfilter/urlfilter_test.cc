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

std::vector<filter_case> decision_cases() {
    return {
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
}

TEST(UrlFilter, Decisions) {
    for (const auto& c : decision_cases()) {
        url_filter f(source(c.include, c.exclude));
        EXPECT_EQ(f.matches(c.url), c.expected) << c.what << ": " << c.url;
    }
}

// Filters kept per thread answer as a filter compiled for the call: the decision table run
// through them twice (its cases change the patterns from one to the next) with more sources
// between than a thread keeps, the lists swapped, and a source's patterns changed in place.
TEST(UrlFilter, KeptFiltersFollowThePatterns) {
    for (int round = 0; round < 2; ++round) {
        for (const auto& c : decision_cases())
            EXPECT_EQ(url_filter::for_source(source(c.include, c.exclude))->matches(c.url),
                      c.expected)
                << c.what << ": " << c.url << " (round " << round << ")";
        // More sources than a thread keeps, each its own host only.
        for (int k = 0; k < 40; ++k) {
            auto f = url_filter::for_source(source({"^http://h" + std::to_string(k) + "/"}, {}));
            EXPECT_TRUE(f->matches("http://h" + std::to_string(k) + "/")) << k;
            EXPECT_FALSE(f->matches("http://h" + std::to_string(k + 1) + "/")) << k;
        }
    }
    EXPECT_TRUE(url_filter::for_source(source({"a"}, {"b"}))->matches("http://a/"));
    EXPECT_FALSE(url_filter::for_source(source({"b"}, {"a"}))->matches("http://a/"));
    SourceConfiguration s = source({"^http://h/"}, {});
    EXPECT_TRUE(url_filter::for_source(s)->matches("http://h/private"));
    s.ExcludeFilters.push_back("private");
    EXPECT_FALSE(url_filter::for_source(s)->matches("http://h/private"));
    s.IncludeFilters[0] = "^http://g/";
    EXPECT_FALSE(url_filter::for_source(s)->matches("http://h/public"));
    EXPECT_TRUE(url_filter::for_source(s)->matches("http://g/public"));
    s.ExcludeFilters.clear();
    EXPECT_TRUE(url_filter::for_source(s)->matches("http://g/private"));
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
