#include "../support/empty_config.h"
#include "util/config.h"
#include "fetchers/fetcher.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace lumbrake {
namespace {

using tn_test::empty_config;

fetch_result run(fetcher& f, const std::string& url, std::int32_t base_score = 500000) {
    fetch_result r;
    r.status = FETCH_OK; // must be reset by the fetch
    r.error = "stale";
    r.outlinks.emplace_back("stale", 1);
    f.fetch({.base_score = base_score, .url = url, .user_agent = "agent"}, r);
    return r;
}

TEST(Fetcher, SchemesWithoutFetcherFailWithoutText) {
    fetcher f(empty_config(), 16777216);
    // Unknown schemes and schemes whose fetchers this program does not have. (http, https,
    // ftp and the web-search schemes go to the curl fetcher: tests/curlfetcher.)
    for (const char* url : {"foo://x/y", "mailto:someone@example.org", "nntp://h/group"}) {
        SCOPED_TRACE(url);
        fetch_result r = run(f, url);
        EXPECT_EQ(r.status, FETCH_FAILED);
        EXPECT_EQ(r.error, "");
        EXPECT_TRUE(r.outlinks.empty());
        EXPECT_EQ(r.servertime, 0);
    }
}

TEST(Fetcher, FileUrlsGoToTheFileFetcher) {
    char dir_template[] = "/tmp/tn-fetcher-XXXXXX";
    ASSERT_NE(::mkdtemp(dir_template), nullptr);
    const std::string dir = dir_template;
    std::ofstream(dir + "/doc.txt") << "hello";

    fetcher f(empty_config(), 16777216);
    fetch_result r = run(f, "file://" + dir + "/doc.txt");
    EXPECT_EQ(r.status, FETCH_OK);
    EXPECT_EQ(r.content, "hello");
    // The scheme is compared after lower-casing by the URL parser.
    EXPECT_EQ(run(f, "FILE://" + dir + "/doc.txt").content, "hello");
    EXPECT_EQ(run(f, "file://" + dir + "/none").status, FETCH_NOT_FOUND);

    std::remove((dir + "/doc.txt").c_str());
    ::rmdir(dir.c_str());
}

TEST(Fetcher, ProcessableTypes) {
    for (const char* mime :
         {"text/html", "application/xhtml+xml", "application/rss+xml", "text/rdf",
          "application/rdf+xml", "text/plain", "text/rtf", "application/pdf", "application/x-pdf",
          "application/msword", "text/x-mail", "message/rfc822", "application/octet-stream",
          "application/rtf", "application/mbox"})
        EXPECT_TRUE(fetcher_base::is_processable(mime)) << mime;
    for (const char* mime : {"image/png", "", "Text/HTML", "text/html; charset=utf-8", "text/"})
        EXPECT_FALSE(fetcher_base::is_processable(mime)) << mime;
}

TEST(Fetcher, ListingEntryScore) {
    EXPECT_EQ(listing_entry_score(0), 1);
    EXPECT_EQ(listing_entry_score(500000), 500001);
    EXPECT_EQ(listing_entry_score(999999), 1000000);
    EXPECT_EQ(listing_entry_score(1000000), 1000000);
    EXPECT_EQ(listing_entry_score(INT32_MAX), 1000000);
    EXPECT_EQ(listing_entry_score(-5), -4);
}

} // namespace
} // namespace lumbrake
