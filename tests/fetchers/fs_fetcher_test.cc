#include "../support/files.h"
#include "../support/empty_config.h"
#include "util/config.h"
#include "fetchers/fs-fetcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace lumbrake {
namespace {

namespace fs = std::filesystem;

using tn_test::empty_config;

using tn_test::write_file;

class FsFetcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir_template[] = "/tmp/tn-fsfetch-XXXXXX";
        ASSERT_NE(::mkdtemp(dir_template), nullptr);
        dir_ = dir_template;
        write_file(dir_ / "page.html", "<html><body>x</body></html>");
        write_file(dir_ / "a b.txt", "blank in name");
        write_file(dir_ / "pct%41.txt", "percent in name");
        write_file(dir_ / "a.doc", "doc");
        write_file(dir_ / "a.doc.TNM", "<meta/>");
        write_file(dir_ / "page.html.tnm", "<metas><meta name=\"k\">v</meta></metas>");
        fs::create_directory(dir_ / "sub dir");
        write_file(dir_ / "sub dir" / "inner.txt", "inner");
    }
    void TearDown() override { fs::remove_all(dir_); }

    fetch_result fetch(const std::string& url, bool sidemeta = false,
                       std::int32_t base_score = 500000, std::uint32_t limit = 16777216) {
        fs_fetcher f(empty_config(), limit);
        fetch_result r;
        f.fetch({.base_score = base_score,
                 .url = url,
                 .user_agent = "agent",
                 .cookie = "cookie",
                 .want_sidemeta = sidemeta},
                r);
        return r;
    }
    std::string url(const std::string& rest = "") const { return "file://" + dir_.string() + rest; }

    fs::path dir_;
};

TEST_F(FsFetcherTest, ReadsARegularFileByAbsolutePath) {
    struct timeval times[2] = {{1100000000, 0}, {1100000000, 0}};
    ASSERT_EQ(::utimes((dir_ / "page.html").c_str(), times), 0);
    fetch_result r = fetch(url("/page.html"));
    EXPECT_EQ(r.status, FETCH_OK);
    EXPECT_EQ(r.content, "<html><body>x</body></html>");
    EXPECT_EQ(r.servertime, 1100000000);
    // The parser dispatch sniffs the type; the fetcher does not guess it.
    EXPECT_EQ(r.mime, "");
    EXPECT_EQ(r.charset, "");
    EXPECT_EQ(r.headers, "");
    EXPECT_EQ(r.sidemeta, "");
    EXPECT_TRUE(r.outlinks.empty());
}

TEST_F(FsFetcherTest, PathsArePercentDecoded) {
    EXPECT_EQ(fetch(url("/a%20b.txt")).content, "blank in name");
    EXPECT_EQ(fetch(url("/pct%2541.txt")).content, "percent in name");
    EXPECT_EQ(fetch(url("/sub%20dir/inner.txt")).content, "inner");
    // A listing's own links (with the doubled slash) read back.
    EXPECT_EQ(fetch(url("/sub%20dir//inner.txt")).content, "inner");
}

TEST_F(FsFetcherTest, NotFoundCases) {
    struct {
        std::string url;
        std::string error;
    } cases[] = {
        {url("/missing.html"), ""},
        {url("/page.html/"), ""},       // a file named as a directory
        {url("/page.html%00.png"), ""}, // an embedded NUL must not cut the path
        {url("/missing%00/"), ""},
        {"file://somehost" + dir_.string() + "/page.html", "Host is not allowed in file:// urls"},
        {"file://localhost/etc/hostname", "Host is not allowed in file:// urls"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        fetch_result r = fetch(c.url);
        EXPECT_EQ(r.status, FETCH_NOT_FOUND);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.content, "");
    }
}

TEST_F(FsFetcherTest, SpecialFilesAreNotReadAndDoNotHang) {
    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    for (const std::string& u : {url("/fifo"), std::string("file:///dev/zero"),
                                 std::string("file:///dev/null"), std::string("file:///dev/tty")}) {
        SCOPED_TRACE(u);
        fetch_result r = fetch(u);
        EXPECT_EQ(r.status, FETCH_NOT_FOUND);
        EXPECT_EQ(r.content, "");
    }
}

TEST_F(FsFetcherTest, UnreadableFileIsNotFound) {
    // Opens as a regular file, but every read at its start fails, even for root.
    fetch_result r = fetch("file:///proc/self/mem");
    EXPECT_EQ(r.status, FETCH_NOT_FOUND);
    EXPECT_EQ(r.content, "");
    if (::geteuid() == 0) return; // root reads any file despite its mode
    ::chmod((dir_ / "a.doc").c_str(), 0);
    EXPECT_EQ(fetch(url("/a.doc")).status, FETCH_NOT_FOUND);
}

TEST_F(FsFetcherTest, DirectoryWithoutSlashRedirects) {
    fetch_result r = fetch(url("/sub%20dir"));
    EXPECT_EQ(r.status, FETCH_REDIRECT);
    EXPECT_EQ(r.redirect, url("/sub%20dir/"));
    // The slash goes before a fragment, not after it.
    r = fetch(url("/sub%20dir#top"));
    EXPECT_EQ(r.status, FETCH_REDIRECT);
    EXPECT_EQ(r.redirect, url("/sub%20dir/#top"));
    // The root directory itself.
    EXPECT_EQ(fetch("file://").status, FETCH_LISTING);
}

TEST_F(FsFetcherTest, ListsADirectory) {
    fetch_result r = fetch(url("/"), false, 500000);
    EXPECT_EQ(r.status, FETCH_LISTING);
    EXPECT_EQ(r.content, "");
    const std::string base = url("/") + "/";
    std::vector<outlink> expected = {
        {base + "a%20b.txt", 500001},     {base + "a.doc", 500001},
        {base + "a.doc.TNM", 500001},     {base + "page.html", 500001},
        {base + "page.html.tnm", 500001}, {base + "pct%2541.txt", 500001},
        {base + "sub%20dir/", 500001},
    };
    EXPECT_EQ(r.outlinks, expected);
}

TEST_F(FsFetcherTest, ListingScoresAreCappedAndWrapLikeIntegers) {
    for (auto [base, entry] : std::array<std::pair<std::int32_t, std::int32_t>, 3>{
             {{1000000, 1000000}, {999999, 1000000}, {-5, -4}}}) {
        fetch_result r = fetch(url("/sub%20dir/"), false, base);
        ASSERT_EQ(r.outlinks.size(), 1u);
        EXPECT_EQ(r.outlinks[0].second, entry);
    }
}

TEST_F(FsFetcherTest, SideMetadataFilesAreHiddenOnlyWhenAsked) {
    auto names = [](const fetch_result& r) {
        std::set<std::string> out;
        for (const outlink& l : r.outlinks)
            out.insert(l.first.substr(l.first.rfind('/') + 1));
        return out;
    };
    std::set<std::string> with = names(fetch(url("/"), true));
    EXPECT_TRUE(with.count("a.doc"));
    EXPECT_FALSE(with.count("a.doc.TNM"));
    EXPECT_FALSE(with.count("page.html.tnm"));
    std::set<std::string> without = names(fetch(url("/"), false));
    EXPECT_TRUE(without.count("a.doc.TNM"));
    EXPECT_TRUE(without.count("page.html.tnm"));
}

TEST_F(FsFetcherTest, ReadsTheSideMetadataFileWhenAsked) {
    EXPECT_EQ(fetch(url("/page.html"), true).sidemeta, "<metas><meta name=\"k\">v</meta></metas>");
    EXPECT_EQ(fetch(url("/page.html"), false).sidemeta, "");
    // The side file's name is the exact lower-case suffix; a missing one leaves it empty.
    fetch_result r = fetch(url("/a.doc"), true);
    EXPECT_EQ(r.status, FETCH_OK);
    EXPECT_EQ(r.sidemeta, "");
}

TEST_F(FsFetcherTest, SideMetadataIsCappedAtTheSizeLimit) {
    write_file(dir_ / "small.txt", "tiny");
    write_file(dir_ / "small.txt.tnm", std::string(64, 'm'));
    ASSERT_EQ(::mkfifo((dir_ / "other.txt.tnm").c_str(), 0600), 0);
    write_file(dir_ / "other.txt", "x");

    fetch_result r = fetch(url("/small.txt"), true, 0, 16);
    EXPECT_EQ(r.status, FETCH_OK);
    EXPECT_EQ(r.content, "tiny");
    EXPECT_EQ(r.sidemeta, ""); // a cut XML text would not read
    r = fetch(url("/small.txt"), true, 0, 64);
    EXPECT_EQ(r.sidemeta, std::string(64, 'm'));
    // A FIFO beside the document does not block the fetch.
    r = fetch(url("/other.txt"), true);
    EXPECT_EQ(r.status, FETCH_OK);
    EXPECT_EQ(r.sidemeta, "");
}

TEST_F(FsFetcherTest, LargeFileIsCutAtTheLimit) {
    const fs::path big = dir_ / "big.html";
    {
        std::ofstream out(big, std::ios::binary);
        out << "<html><body>";
    }
    fs::resize_file(big, 20 * 1000 * 1000);
    fetch_result r = fetch(url("/big.html"));
    EXPECT_EQ(r.status, FETCH_PARTIAL);
    ASSERT_EQ(r.content.size(), 16777216u);
    EXPECT_EQ(r.content.substr(0, 12), "<html><body>");

    // Exactly at the limit is whole.
    fs::resize_file(big, 16777216);
    EXPECT_EQ(fetch(url("/big.html")).status, FETCH_OK);
}

TEST_F(FsFetcherTest, ListingMatchesFind) {
    // The same entries as the find tool lists, whatever their order.
    fs::path listed = dir_ / "sub dir";
    for (const char* name : {"x y", "z.txt", ".hidden", "caf\xc3\xa9", "q?#&"})
        write_file(listed / name, "1");
    fs::create_directory(listed / "nested");
    std::string cmd = "find '" + listed.string() + "' -mindepth 1 -maxdepth 1 -printf '%f\\n'";
    FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::set<std::string> found;
    char line[4096];
    while (std::fgets(line, sizeof line, p)) {
        std::string s(line);
        s.pop_back();
        found.insert(s);
    }
    ::pclose(p);

    fetch_result r = fetch(url("/sub%20dir/"));
    std::set<std::string> ours;
    for (const outlink& l : r.outlinks) {
        std::string name = l.first.substr(url("/sub%20dir/").size() + 1);
        if (!name.empty() && name.back() == '/') name.pop_back();
        // Links carry escaped names: decoding them gives the names back.
        std::string decoded;
        for (std::size_t i = 0; i < name.size(); ++i) {
            if (name[i] == '%' && i + 2 < name.size()) {
                decoded += static_cast<char>(std::stoi(name.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                decoded += name[i];
            }
        }
        ours.insert(decoded);
    }
    EXPECT_EQ(ours, found);
    EXPECT_EQ(found.size(), 7u);
}

} // namespace
} // namespace lumbrake
