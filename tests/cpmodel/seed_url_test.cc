// The seed URL dialog's model: URLs built from each kind's fields, split back into the same
// fields, and the check of the required fields.
#include "cpmodel/seed-url.h"

#include <gtest/gtest.h>

namespace {

using lumbrake::seed_fields;
using lumbrake::seed_kind;

seed_fields web(std::string address, bool secure = false) {
    seed_fields f;
    f.kind = seed_kind::web;
    f.web_address = std::move(address);
    f.secure = secure;
    return f;
}
seed_fields ftp(std::string address) {
    seed_fields f;
    f.kind = seed_kind::ftp;
    f.ftp_address = std::move(address);
    return f;
}
seed_fields gopher(std::string address) {
    seed_fields f;
    f.kind = seed_kind::gopher;
    f.gopher_address = std::move(address);
    return f;
}
seed_fields news(std::string server, std::string group) {
    seed_fields f;
    f.kind = seed_kind::news;
    f.news_server = std::move(server);
    f.newsgroup = std::move(group);
    return f;
}
seed_fields file(std::string path) {
    seed_fields f;
    f.kind = seed_kind::filesystem;
    f.path = std::move(path);
    return f;
}
seed_fields search(std::string text, int engine) {
    seed_fields f;
    f.kind = seed_kind::search_engine;
    f.search_text = std::move(text);
    f.engine = engine;
    return f;
}

// Fields as typed, the URL built, and the fields that URL splits into.
struct round_trip {
    seed_fields typed;
    const char* url;
    seed_fields shown;
};

TEST(seed_url, BuildsAndSplitsEveryKind) {
    const round_trip cases[] = {
        {web("www.example.org/a"), "http://www.example.org/a", web("www.example.org/a")},
        {web("www.example.org"), "http://www.example.org/", web("www.example.org/")},
        {web("www.example.org/a", true), "https://www.example.org/a",
         web("www.example.org/a", true)},
        // A typed web scheme wins over the check box, both ways.
        {web("http://h/x", true), "http://h/x", web("h/x")},
        {web("https://h/x"), "https://h/x", web("h/x", true)},
        {web("h/a b"), "http://h/a%20b", web("h/a%20b")},
        {ftp("files.example.org/pub"), "ftp://files.example.org/pub", ftp("files.example.org/pub")},
        {gopher("gopher.example.org/1/x"), "gopher://gopher.example.org/1/x",
         gopher("gopher.example.org/1/x")},
        // The kind's own scheme typed again is not doubled, in any case.
        {ftp("ftp://files.example.org/pub"), "ftp://files.example.org/pub",
         ftp("files.example.org/pub")},
        {ftp("FTP://files.example.org/"), "ftp://files.example.org/", ftp("files.example.org/")},
        {gopher("gopher://g.example.org/"), "gopher://g.example.org/", gopher("g.example.org/")},
        {news("news.example.org", "comp.lang.c"), "nntp://news.example.org/comp.lang.c/",
         news("news.example.org", "comp.lang.c")},
        // A POSIX path: file:// + the path, shown again with its leading slash.
        {file("/srv/docs"), "file:///srv/docs", file("/srv/docs")},
        {file("/srv/docs/"), "file:///srv/docs/", file("/srv/docs/")},
        {file("srv/docs"), "file:///srv/docs", file("/srv/docs")},
        {file("/srv/my docs/100% done"), "file:///srv/my%20docs/100%25%20done",
         file("/srv/my docs/100% done")},
        {file("/srv/a\\b"), "file:///srv/a%5Cb", file("/srv/a\\b")},
        {file("/srv/%41"), "file:///srv/%2541", file("/srv/%41")},
        {file("/srv/caf\xc3\xa9"), "file:///srv/caf%C3%A9", file("/srv/caf\xc3\xa9")},
        {search("trawl nest", lumbrake::SEED_ENGINE_GOOGLE), "google:trawl%20nest",
         search("trawl nest", lumbrake::SEED_ENGINE_GOOGLE)},
        {search("50% off", lumbrake::SEED_ENGINE_MSN), "msn:50%25%20off",
         search("50% off", lumbrake::SEED_ENGINE_MSN)},
    };
    for (const round_trip& c : cases) {
        const std::string url = lumbrake::build_seed_url(c.typed);
        EXPECT_EQ(url, c.url);
        EXPECT_EQ(lumbrake::split_seed_url(url), c.shown) << url;
        // Editing without a change gives back the same URL.
        EXPECT_EQ(lumbrake::build_seed_url(lumbrake::split_seed_url(url)), url);
    }
}

TEST(seed_url, SplitsWhatTheDialogDidNotBuild) {
    // A host in a file URL is left out.
    EXPECT_EQ(lumbrake::split_seed_url("file://server/srv/x"), file("/srv/x"));
    // A newsgroup ends at its first slash.
    EXPECT_EQ(lumbrake::split_seed_url("nntp://n.example/comp.lang/123"),
              news("n.example", "comp.lang"));
    // Unknown or differently cased schemes, and nothing at all, open as an empty web entry.
    for (const char* url : {"", "HTTP://h/", "mailto:a@b", "nothing-here"})
        EXPECT_EQ(lumbrake::split_seed_url(url), web("")) << url;
}

TEST(seed_url, RequiresTheChosenKindsFields) {
    EXPECT_FALSE(lumbrake::seed_fields_complete(seed_fields{}));
    EXPECT_FALSE(lumbrake::seed_fields_complete(web("")));
    EXPECT_TRUE(lumbrake::seed_fields_complete(web("h")));
    EXPECT_FALSE(lumbrake::seed_fields_complete(ftp("")));
    EXPECT_FALSE(lumbrake::seed_fields_complete(gopher("")));
    EXPECT_FALSE(lumbrake::seed_fields_complete(news("n", "")));
    EXPECT_FALSE(lumbrake::seed_fields_complete(news("", "g")));
    EXPECT_TRUE(lumbrake::seed_fields_complete(news("n", "g")));
    EXPECT_FALSE(lumbrake::seed_fields_complete(file("")));
    EXPECT_TRUE(lumbrake::seed_fields_complete(file("/")));
    EXPECT_FALSE(lumbrake::seed_fields_complete(search("", 0)));
    EXPECT_FALSE(lumbrake::seed_fields_complete(search("x", -1)));
    EXPECT_TRUE(lumbrake::seed_fields_complete(search("x", 1)));
    // Another kind's fields do not count.
    seed_fields f = file("");
    f.web_address = "h";
    EXPECT_FALSE(lumbrake::seed_fields_complete(f));
}

TEST(seed_url, SchemeLabelFollowsSecure) {
    EXPECT_STREQ(lumbrake::seed_web_scheme_label(false), "http://");
    EXPECT_STREQ(lumbrake::seed_web_scheme_label(true), "https://");
}

} // namespace
