#include <gtest/gtest.h>

#include <string>

#include "util/uri.h"

using namespace lumbrake;

TEST(UriParse, SixParts) {
    struct c {
        const char* text;
        uri_parts want;
    } cases[] = {
        {"HTTP://Host:8080/a/b;p?q=1#f", {"http", "host:8080", "/a/b", "p", "q=1", "f"}},
        {"localhost:8080/x", {"http", "", "localhost:8080/x", "", "", ""}},
        {"abc:xyz", {"abc", "", "xyz", "", "", ""}},
        {"abc:xyz#f?q", {"abc", "", "xyz#f?q", "", "", ""}},
        {"Mailto:X", {"mailto", "", "X", "", "", ""}},
        {"javascript:void(0)", {"javascript", "", "void(0)", "", "", ""}},
        {"//host/p", {"http", "host", "/p", "", "", ""}},
        {":foo//x", {"http", "", ":foo//x", "", "", ""}},
        {"a1:b", {"http", "", "a1:b", "", "", ""}}, // digits disqualify a scheme
        {"www.example.com:80/x", {"http", "", "www.example.com:80/x", "", "", ""}},
        {"file:///srv/x", {"file", "", "/srv/x", "", "", ""}},
        {"ftp://h/a;type=a?x#f", {"ftp", "h", "/a", "type=a?x", "", "f"}}, // ftp: no query
        {"http://h/a#b#c", {"http", "h", "/a#b", "", "", "c"}},            // last "#"
        {"http://h/a?b?c;d", {"http", "h", "/a", "", "b?c;d", ""}},
        {"rtsp://h/a#b", {"rtsp", "h", "/a#b", "", "", ""}}, // no fragment flag: "#" stays
        {"http://User:PW@Host/", {"http", "user:pw@host", "/", "", "", ""}},
        {"http://h?x=1", {"http", "h", "", "", "x=1", ""}},
        {"http://h#top", {"http", "h", "", "", "", "top"}},
        {"", {"", "", "", "", "", ""}},
    };
    for (const auto& tc : cases) {
        URI u(tc.text);
        EXPECT_EQ(u.parts(), tc.want) << tc.text;
    }
    URI nofrag("http://h/a#b", "http", false);
    EXPECT_EQ(nofrag.raw_path(), "/a#b");
    URI other_default("x/y", "ftp");
    EXPECT_EQ(other_default.scheme(), "ftp");
    EXPECT_EQ(other_default.record().port, 21);
}

TEST(UriParse, DefaultConstructedIsEmpty) {
    URI u;
    EXPECT_EQ(u.parts(), uri_parts{});
    EXPECT_EQ(u.record().port, 0);
    EXPECT_EQ(u.str(), "");
    URI n(static_cast<const char*>(nullptr));
    EXPECT_EQ(n.str(), "");
}

TEST(UriSchemes, TableWithDefaultPorts) {
    struct c {
        const char* name;
        std::uint16_t port;
        bool relative, netloc, non_hierarchical, params, query, fragment, canon, robots;
    } rows[] = {
        {"file", 0, 1, 1, 0, 0, 0, 1, 1, 0},    {"ftp", 21, 1, 1, 0, 1, 0, 1, 1, 0},
        {"gopher", 70, 1, 1, 1, 0, 1, 1, 1, 0}, {"htl", 0, 0, 0, 1, 1, 0, 1, 1, 0},
        {"http", 80, 1, 1, 0, 1, 1, 1, 1, 1},   {"https", 443, 1, 1, 0, 1, 1, 1, 1, 1},
        {"mailto", 0, 0, 0, 1, 0, 0, 0, 1, 0},  {"news", 119, 0, 0, 1, 0, 0, 1, 1, 0},
        {"nntp", 119, 1, 1, 0, 0, 0, 1, 1, 0},  {"prospero", 191, 1, 1, 0, 1, 0, 1, 1, 0},
        {"rtsp", 554, 1, 1, 1, 1, 1, 0, 1, 0},  {"rtspu", 554, 1, 1, 1, 1, 1, 0, 1, 0},
        {"shttp", 443, 1, 1, 0, 1, 1, 1, 1, 1}, {"sip", 5060, 0, 0, 1, 1, 1, 0, 1, 0},
        {"snews", 563, 0, 1, 1, 0, 0, 1, 1, 0}, {"telnet", 23, 0, 1, 1, 0, 0, 0, 1, 0},
        {"wais", 210, 1, 1, 1, 0, 1, 1, 1, 0},  {"javascript", 0, 0, 0, 1, 0, 0, 0, 0, 0},
        {"guid", 0, 0, 0, 1, 0, 0, 0, 0, 0},    {"google", 0, 0, 0, 1, 0, 0, 0, 0, 0},
        {"msn", 0, 0, 0, 1, 0, 0, 0, 0, 0},
    };
    EXPECT_EQ(uri_scheme_table().size(), std::size(rows));
    for (const auto& r : rows) {
        const uri_scheme* s = find_uri_scheme(r.name);
        ASSERT_NE(s, nullptr) << r.name;
        EXPECT_EQ(s->port, r.port) << r.name;
        EXPECT_EQ(s->relative, r.relative) << r.name;
        EXPECT_EQ(s->netloc, r.netloc) << r.name;
        EXPECT_EQ(s->non_hierarchical, r.non_hierarchical) << r.name;
        EXPECT_EQ(s->params, r.params) << r.name;
        EXPECT_EQ(s->query, r.query) << r.name;
        EXPECT_EQ(s->fragment, r.fragment) << r.name;
        EXPECT_EQ(s->canon, r.canon) << r.name;
        EXPECT_EQ(s->robots, r.robots) << r.name;
        EXPECT_EQ(URI(std::string(r.name) + "://h/").port(), r.port) << r.name;
    }
    EXPECT_EQ(find_uri_scheme("HTTP"), nullptr); // the table is keyed by lower-case names
    const uri_scheme& d = default_uri_scheme();
    EXPECT_EQ(d.port, 0);
    EXPECT_FALSE(d.relative || d.netloc || d.non_hierarchical || d.params || d.query ||
                 d.fragment || d.canon || d.robots);
}

TEST(UriHostPort, Cases) {
    struct c {
        const char* text;
        const char* host;
        std::uint16_t port;
    } cases[] = {
        {"http://h/", "h", 80},     {"http://h:8080/", "h", 8080},    {"http://h:/", "h", 80},
        {"http://h:abc/", "h", 0},  {"http://h:99999/", "h", 0},      {"http://h:12ab/", "h", 0},
        {"https://h", "h", 443},    {"gopher://g:7070/1", "g", 7070}, {"http://u:p@h:81/", "h", 81},
        {"http://u:p@h/", "h", 80}, {"file:///c:/x", "", 0},          {"localhost:8080/x", "", 80},
        {"abc://h:5/", "", 0}, // unknown scheme: no authority
    };
    for (const auto& tc : cases) {
        URI u(tc.text);
        std::string host = "stale";
        std::uint16_t port = 1;
        u.host_port(host, port);
        EXPECT_EQ(host, tc.host) << tc.text;
        EXPECT_EQ(port, tc.port) << tc.text;
        EXPECT_EQ(u.host(), tc.host);
    }
}

TEST(UriPath, EmptyPathWithNetlocIsSlash) {
    EXPECT_EQ(URI("http://h").path(), "/");
    EXPECT_EQ(URI("http://h?x").path(), "/");
    EXPECT_EQ(URI("mailto:").path(), "");
    EXPECT_EQ(URI("http://h/a%20b").path(), "/a%20b");
    EXPECT_EQ(URI("google:foo bar").path(), "foo bar");
}

TEST(UriCanonical, Table) {
    struct c {
        const char* text;
        const char* want;
    } cases[] = {
        {"HTTP://HOST:80/a/./b/../%7euser?x=%41#top", "http://host/a/%7Euser?x=A"},
        {"http://Host:8080", "http://host:8080/"},
        {"http://host:80/", "http://host/"},
        {"telnet://h:23", "telnet://h/"},
        {"http://h:abc/x", "http://h:0/x"},
        {"https://h:443/", "https://h/"},
        {"https://h:80/", "https://h:80/"},
        {"javascript:void(0)", "javascript:void(0)"},
        {"javascript:a%41 b", "javascript:a%41 b"}, // no canon flag
        {"Mailto:X", "mailto:X"},
        {"mailto:a b@h", "mailto:a%20b%40h"},
        {"localhost:8080/x", "http:///localhost:8080/x"},
        {"www.example.com/a b", "http:///www.example.com/a%20b"},
        {"//www.example.com/a b", "http://www.example.com/a%20b"},
        {"http://h/%zz", "http://h/%25zz"},
        {"http://h/a%2fb?x=%2F", "http://h/a%2Fb?x=%2F"},
        {"http://h/p?q=tom%26jerry&r=1%2B1", "http://h/p?q=tom%26jerry&r=1%2B1"},
        {"http://h/%2541", "http://h/%2541"},
        // Other escapes are decoded; those of the bytes that split a URL or a query stay.
        {"http://h/%21%24%27%28%29%2a%2C%3A?q=%21%3a", "http://h/!$'()*,:?q=!:"},
        {"http://h/a%3fb%3Bc%3d%26?q=a%3Db%3f", "http://h/a%3Fb%3Bc%3D%26?q=a%3Db%3F"},
        {"http://h/a/%2E%2E/b", "http://h/b"},
        {"http://h/\xC3\xA9", "http://h/%C3%A9"},
        {"http://h/a//b/./c/", "http://h/a/b/c/"},
        {"http://h/;p%7e?q", "http://h/;p%7E?q"},
        {"http://u:p@H:80/", "http://u:p@h/"},
        {"http://h?x=1", "http://h/?x=1"},
        {"http://h#frag", "http://h/"},
        {"rtsp://h/a#b", "rtsp://h/a%23b"},
        {"file:///srv/x", "file:///srv/x"},
        {"file:///c:/docs/a%20b.txt", "file:///c:/docs/a%20b.txt"},
        {"ftp://h/pub;type=d", "ftp://h/pub;type=d"},
        {"", ""},
    };
    for (const auto& tc : cases) {
        EXPECT_EQ(URI(tc.text).canonical_string(), tc.want) << tc.text;
        EXPECT_EQ(canonicalize_url(tc.text), tc.want) << tc.text;
        // The canonical text is its own canonical form.
        EXPECT_EQ(canonicalize_url(tc.want), tc.want) << tc.text;
    }
}

TEST(UriNormalizePath, Examples) {
    struct c {
        const char* in;
        const char* want;
    } cases[] = {
        {"/a/./b/../c", "/a/c"},
        {"a//b", "a/b"},
        {"/a/b/", "/a/b/"},
        {"/../x", "/x"},
        {"../a", "/a"},
        {"a/..", "a"},
        {"/a/..", ""},
        {"", ""},
        {"/", "/"},
        {"//", "/"},
        {".", ""},
        {"./", ""},
        {"../../a", "/a"},
        {"/a/b/../../..", ""},
        {"/a/./", "/a/"},
        {"a/b/../c/.", "a/c"},
    };
    for (const auto& tc : cases)
        EXPECT_EQ(normalize_path(tc.in), tc.want) << tc.in;
}

TEST(UriJoin, ExamplesAgainstOneBase) {
    URI base("http://h/a/b/c?q");
    struct c {
        const char* ref;
        const char* want;
    } cases[] = {
        {"d", "http://h/a/b/d"},
        {"../d", "http://h/a/d"},
        {"?x", "http://h/a/b/c?x"},
        {"#f", "http://h/a/b/c?q#f"},
        {"//g/x", "http://g/x"},
        {"ftp://g/x", "ftp://g/x"},
        {"", "http://h/a/b/c?q"},
        {"/x/../y", "http://h/y"},
        {"../../../../d", "http://h/d"},
        {"mailto:x", "mailto:x"},
        {"javascript:void(0)", "javascript:void(0)"},
    };
    for (const auto& tc : cases) {
        EXPECT_EQ(urljoin(base.parts(), base.record(), tc.ref, true), tc.want) << tc.ref;
        EXPECT_EQ(base.resolve(tc.ref).str(), tc.want) << tc.ref;
    }
    // An empty reference drops the base's fragment; "#" references keep the base's params.
    URI withfrag("http://h/a;p?q#old");
    EXPECT_EQ(withfrag.resolve("").str(), "http://h/a;p?q");
    EXPECT_EQ(withfrag.resolve("#new").str(), "http://h/a;p?q#new");
    // Without fragments the "#" stays in the reference.
    EXPECT_EQ(base.resolve("d#x", false).str(), "http://h/a/b/d#x");
    // A base of a non-relative scheme: the reference stands alone.
    URI mail("mailto:a@b");
    EXPECT_EQ(mail.resolve("c").str(), "mailto:c");
    EXPECT_EQ(mail.resolve("").str(), "");
}

TEST(UriNormalizeUrl, RobotsAndRoot) {
    std::string out;
    EXPECT_EQ(URI("HTTP://Example.com:80/a/b?c#d").normalize_url(out, "/robots.txt", true, true),
              "http://example.com/robots.txt");
    EXPECT_EQ(out, "http://example.com/robots.txt");
    EXPECT_EQ(URI("https://h:8443/x").normalize_url(out, "/"), "https://h:8443/");
    EXPECT_EQ(URI("http://h/a/").normalize_url(out, "b#c"), "http://h/a/b");
}

TEST(UriEncoding, EncodeDecodeEscape) {
    struct c {
        const char* in;
        const char* encoded;
        const char* escaped;
        const char* decoded;
    } cases[] = {
        {"%zz", "%25zz", "%25zz", "%zz"},
        {"%7e", "%7E", "%257e", "~"},
        {"a b+c", "a%20b+c", "a%20b+c", "a b+c"},
        {"<>\"#{}|\\^~[]`@", "%3C%3E%22%23%7B%7D%7C%5C%5E%7E%5B%5D%60%40",
         "%3C%3E%22%23%7B%7D%7C%5C%5E%7E%5B%5D%60%40", "<>\"#{}|\\^~[]`@"},
        {"\x01\x1F\x7F\x80\xFF", "%01%1F%7F%80%FF", "%01%1F%7F%80%FF", "\x01\x1F\x7F\x80\xFF"},
        {"/a;b?c=d&e:f$!*'(),", "/a;b?c=d&e:f$!*'(),", "/a;b?c=d&e:f$!*'(),",
         "/a;b?c=d&e:f$!*'(),"},
        {"%", "%25", "%25", "%"},
        {"%4", "%254", "%254", "%4"},
        {"%41%4a", "%41%4A", "%2541%254a", "AJ"},
    };
    for (const auto& tc : cases) {
        EXPECT_EQ(url_encode(tc.in), tc.encoded) << tc.in;
        EXPECT_EQ(url_escape(tc.in), tc.escaped) << tc.in;
        EXPECT_EQ(url_decode(tc.in), tc.decoded) << tc.in;
    }
    EXPECT_EQ(url_decode(std::string("%00", 3)), std::string(1, '\0'));
}

TEST(UriHelpers, HexAndCase) {
    EXPECT_TRUE(is_hex_digit('a') && is_hex_digit('F') && is_hex_digit('9'));
    EXPECT_FALSE(is_hex_digit('g') || is_hex_digit('G') || is_hex_digit('/'));
    EXPECT_EQ(hex_value('b'), 11);
    EXPECT_EQ(hex_value('B'), 11);
    EXPECT_EQ(hex_digit(12), 'C');
    std::string s = "AbC-\xC3\x89";
    to_lower_ascii(s);
    EXPECT_EQ(s, "abc-\xC3\x89");
}

TEST(UriHelpersDeathTest, HexAssertions) {
    EXPECT_DEATH(hex_value('g'), "");
    EXPECT_DEATH(hex_digit(16), "");
}

TEST(UriHasScheme, Cases) {
    EXPECT_TRUE(uri_has_scheme("http://x"));
    EXPECT_TRUE(uri_has_scheme("mailto:a"));
    EXPECT_TRUE(uri_has_scheme("abc:d"));
    EXPECT_FALSE(uri_has_scheme("localhost:8080/x"));
    EXPECT_FALSE(uri_has_scheme("/a/b"));
    EXPECT_FALSE(uri_has_scheme("a/b:c"));
    EXPECT_FALSE(uri_has_scheme(""));
    EXPECT_FALSE(uri_has_scheme(":x"));
}

TEST(UriSplitPath, Cases) {
    struct c {
        const char* text;
        const char* dir;
        const char* file;
    } cases[] = {
        {"nntp://h/group/123", "/group", "123"},
        {"nntp://h/group/", "/group", ""},
        {"http://h/a/b/..", "/a/b/..", ""},
        {"http://h/a/.", "/a/.", ""},
        {"http://h/file", "", "file"}, // dir before the only "/" is empty
        {"abc:..", "..", ""},
        {"abc:../x", "..", "x"},
        {"abc:name", "", "name"},
        {"mailto:a/b", "", "a/b"}, // opaque path
        {"gopher://h/1/x/y", "", "/1/x/y"},
    };
    for (const auto& tc : cases) {
        std::string dir = "stale", file = "stale";
        URI(tc.text).split_path(dir, file);
        EXPECT_EQ(dir, tc.dir) << tc.text;
        EXPECT_EQ(file, tc.file) << tc.text;
    }
}

// A megabyte-long URL goes through every operation; quadratic work would take minutes here.
TEST(UriLarge, MegabyteUrl) {
    std::string big = "http://h/";
    for (int i = 0; i < 200000; ++i)
        big += (i % 3 == 0) ? "../" : (i % 3 == 1) ? "./x/" : "%7e//";
    big += "?";
    big.append(200000, 'q');
    ASSERT_GT(big.size(), 1000000u);
    URI u(big);
    std::string canon = u.canonical_string();
    EXPECT_EQ(canon.compare(0, 9, "http://h/"), 0);
    EXPECT_TRUE(canonicalize_url(canon) == canon);
    std::string joined = u.resolve(big.substr(8)).str();
    EXPECT_FALSE(joined.empty());
    std::string encoded = url_encode(big);
    EXPECT_TRUE(url_encode(encoded) == encoded);
    EXPECT_TRUE(url_decode(url_escape(big)) == big);
    EXPECT_FALSE(normalize_path(std::string(1000000, '/')).empty());
    std::string dots;
    for (int i = 0; i < 300000; ++i)
        dots += "../";
    EXPECT_EQ(normalize_path("/a" + dots + "b"), "/b");
}
