#include "util/httphead.h"

#include <gtest/gtest.h>

#include <string>

using namespace lumbrake;

namespace {

std::string field(const header_fields& h, const char* name) {
    std::string v = "<absent>";
    h.get(name, v);
    return v;
}

} // namespace

TEST(HttpRequest, RequestLineFoldedFieldAndMethodCase) {
    http_request r("get /index.html http/1.0\nX-A: 1\n 2\nHost: a\n\n");
    EXPECT_TRUE(r.valid);
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.target, "/index.html");
    EXPECT_EQ(r.version, "1.0");
    EXPECT_EQ(r.status_code, -1);
    EXPECT_EQ(field(r, "x-a"), "1 2");
    EXPECT_EQ(field(r, "host"), "a");
    EXPECT_EQ(r.fields.size(), 2u);
    EXPECT_TRUE(r.complete);
}

TEST(HttpRequest, FirstLines) {
    struct row {
        const char* head;
        bool valid;
        int status;
        const char* method;
        const char* target;
        const char* version;
    };
    const row rows[] = {
        {"HTTP/1.1 404 Not Found\r\n\r\n", true, 404, "", "", ""},
        {"http/1.0 200 OK\r\n", true, 200, "", "", ""},
        {"HTTP/1.1 200\r\n", true, 200, "", "", ""},
        {"HTTP/1.1 200 OK", true, 200, "", "", ""}, // the end of the text ends the line
        {"HTTP/1.1 204No_Content\n", true, 204, "", "", ""},
        {"HTTP/1.1 20 Short\n", true, 20, "", "", ""},
        // More than three digits is no status code, however long.
        {"HTTP/1.1 2000 OK\r\n", false, -1, "", "", ""},
        {"HTTP/1.1 99999999999999999999 OK\r\n", false, -1, "", "", ""},
        {"HTTP/1.1 200-x\r\n", false, -1, "", "", ""},
        {"HTTP/1.1 OK\r\n", false, -1, "", "", ""},
        {"HTTP 200 OK\r\n", false, -1, "", "", ""},
        {"DeLeTe /a?b=c HTTP/1.1\r\n", true, -1, "DELETE", "/a?b=c", "1.1"},
        {"PUT\t/x\tHTTP/2 \r\n", true, -1, "PUT", "/x", "2"},
        {"HEAD/x HTTP/1.0\n", true, -1, "HEAD", "/x", "1.0"}, // blanks after the method optional
        {"GET /x\r\nHost: a\r\n\r\n", false, -1, "", "", ""}, // no "HTTP/" and version
        {"GET / HTTP/1.1", false, -1, "", "", ""},            // no line break
        {"GET / HTTP/ \r\n", false, -1, "", "", ""},          // empty version
        {"GET / HTTP/1.1 x\r\n", false, -1, "", "", ""},
        {"OPTIONS / HTTP/1.1\r\n", false, -1, "", "", ""},
        {"Host: a\r\n", false, -1, "", "", ""},
        {"", false, -1, "", "", ""},
    };
    for (const row& c : rows) {
        http_request r(c.head);
        EXPECT_EQ(r.valid, c.valid) << c.head;
        EXPECT_EQ(r.status_code, c.status) << c.head;
        EXPECT_EQ(r.method, c.method) << c.head;
        EXPECT_EQ(r.target, c.target) << c.head;
        EXPECT_EQ(r.version, c.version) << c.head;
        if (!c.valid) {
            EXPECT_TRUE(r.fields.empty()) << c.head;
            EXPECT_FALSE(r.complete) << c.head;
        }
    }
}

TEST(HttpRequest, ReasonPhraseWithHyphenEndsTheScan) {
    http_request r("HTTP/1.1 302 Moved-Temporarily\r\nLocation: /x\r\n\r\n");
    EXPECT_TRUE(r.valid);
    EXPECT_EQ(r.status_code, 302);
    EXPECT_TRUE(r.fields.empty());
    EXPECT_FALSE(r.complete);
}

TEST(HttpRequest, LineThatFitsNoRuleEndsTheScan) {
    const char* heads[] = {
        "HTTP/1.0 200 OK\r\nServer: s\r\nAccept : x\r\nHost: h\r\n\r\n",
        "HTTP/1.0 200 OK\r\nServer: s\r\n1abc: x\r\nHost: h\r\n\r\n",
        "HTTP/1.0 200 OK\r\nServer: s\r\n-a: x\r\nHost: h\r\n\r\n",
        "HTTP/1.0 200 OK\r\nServer: s\r\nGET /x\r\nHost: h\r\n\r\n",
    };
    for (const char* head : heads) {
        http_request r(head);
        EXPECT_TRUE(r.valid) << head;
        EXPECT_EQ(field(r, "server"), "s") << head;
        EXPECT_EQ(r.fields.size(), 1u) << head;
        EXPECT_FALSE(r.complete) << head;
    }
}

TEST(HttpRequest, FieldsRepeatedFoldedAndLookedUp) {
    http_request r("POST /f HTTP/1.1\r\n"
                   "Cookie: a=1\r\n"
                   "Host: Example.ORG\r\n"
                   "\r\n\n"
                   "Cookie: b=2\r\n"
                   "X-Empty:\r\n"
                   "X-Fold:\tfirst \r\n"
                   " \t second\r\n"
                   "HTTP-Version: 9\r\n"
                   "Getter: g\r\n"
                   "X_y-Z1:v\r\n"
                   "\r\n");
    ASSERT_TRUE(r.valid);
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(field(r, "cookie"), "a=1b=2");
    EXPECT_EQ(field(r, "x-empty"), "");
    EXPECT_EQ(field(r, "x-fold"), "first  second");
    EXPECT_EQ(field(r, "http-version"), "9");
    EXPECT_EQ(field(r, "getter"), "g");
    EXPECT_EQ(field(r, "x_y-z1"), "v");
    EXPECT_TRUE(r.complete);

    std::string v;
    EXPECT_TRUE(r.get_lower("HOST", v));
    EXPECT_EQ(v, "example.org");
    EXPECT_TRUE(r.get("Host", v));
    EXPECT_EQ(v, "Example.ORG");
    v = "kept";
    EXPECT_FALSE(r.get_lower("missing", v));
    EXPECT_FALSE(r.get("missing", v));
    EXPECT_EQ(v, "kept");
}

TEST(HttpRequest, LaterFirstLinesOverwrite) {
    // The heads of a followed redirect arrive one after the other.
    http_request r("HTTP/1.1 301 Moved Permanently\r\nLocation: /b\r\n\r\n"
                   "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n");
    EXPECT_EQ(r.status_code, 200);
    EXPECT_EQ(field(r, "location"), "/b");
    EXPECT_EQ(field(r, "content-type"), "text/html");

    http_request q("GET /a HTTP/1.0\r\nX: 1\r\nhead /b HTTP/1.1\r\nY: 2\r\n");
    EXPECT_EQ(q.method, "HEAD");
    EXPECT_EQ(q.target, "/b");
    EXPECT_EQ(q.version, "1.1");
    EXPECT_EQ(field(q, "y"), "2");
}

TEST(HttpRequest, ContinuationBeforeAnyFieldGoesToTheEmptyName) {
    http_request r("HTTP/1.1 200 OK\r\n  lost\r\nA: b\r\n");
    EXPECT_EQ(field(r, ""), " lost");
    EXPECT_EQ(field(r, "a"), "b");
}

TEST(HttpRequestBadInput, NulBytesStopTheScan) {
    http_request first(std::string("GET /a\0b HTTP/1.1\r\nHost: h\r\n\r\n", 29));
    EXPECT_FALSE(first.valid);
    EXPECT_TRUE(first.fields.empty());

    std::string head("HTTP/1.1 200 OK\r\nA: 1\r\nB: x\0y\r\nC: 3\r\n\r\n", 39);
    http_request later(head);
    EXPECT_TRUE(later.valid);
    EXPECT_EQ(field(later, "a"), "1");
    EXPECT_EQ(later.fields.count("b"), 0u);
    EXPECT_EQ(later.fields.count("c"), 0u);
    EXPECT_FALSE(later.complete);

    http_request at_line_start(std::string("HTTP/1.1 200 OK\r\nA: 1\r\n\0C: 3\r\n", 30));
    EXPECT_EQ(field(at_line_start, "a"), "1");
    EXPECT_FALSE(at_line_start.complete);
}

TEST(HttpRequestBadInput, HeadWithoutEndKeepsNoCutLine) {
    // The last line may have been cut in transfer: it is not taken, and the head is incomplete.
    http_request r("HTTP/1.1 200 OK\r\nContent-Length: 12\r\nContent-Type: text/ht");
    EXPECT_TRUE(r.valid);
    EXPECT_EQ(field(r, "content-length"), "12");
    EXPECT_EQ(r.fields.count("content-type"), 0u);
    EXPECT_FALSE(r.complete);

    http_request folded("HTTP/1.1 200 OK\r\nA: 1\r\n more");
    EXPECT_EQ(field(folded, "a"), "1");
    EXPECT_FALSE(folded.complete);
}

TEST(HttpRequestBadInput, MegabyteLines) {
    const std::string mb(1 << 20, 'a');

    http_request value("HTTP/1.1 200 OK\r\nX-Big: " + mb + "\r\nHost: h\r\n\r\n");
    EXPECT_EQ(field(value, "x-big"), mb);
    EXPECT_EQ(field(value, "host"), "h");
    EXPECT_TRUE(value.complete);

    http_request name("HTTP/1.1 200 OK\r\nHost: h\r\n" + mb + "\r\nX: y\r\n\r\n");
    EXPECT_EQ(name.fields.size(), 1u);
    EXPECT_FALSE(name.complete);

    http_request target("GET /" + mb); // a target that never ends
    EXPECT_FALSE(target.valid);

    http_request status("HTTP/" + mb);
    EXPECT_FALSE(status.valid);

    // Many lines that each begin a rule and fail would be quadratic in a backtracking scanner.
    std::string many = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 50000; ++i)
        many += "GET /\r\n";
    http_request repeated(many);
    EXPECT_TRUE(repeated.valid);
    EXPECT_TRUE(repeated.fields.empty());
}

TEST(ContentType, Examples) {
    struct row {
        const char* text;
        const char* media;
        const char* name;
        const char* value; // "<absent>" when the parameter has no entry
    };
    const row rows[] = {
        {"text/html;charset=iso-8859-1", "text/html", "charset", "iso-8859-1"},
        {"text/plain", "text/plain", "charset", "<absent>"},
        {"multipart/mixed; boundary=\"a b;c\"", "multipart/mixed", "boundary", "a b;c"},
        {"a/b; n='x y'", "a/b", "n", "x y"},
        {"a/b; n=\"v\"w", "a/b", "n", "\"v\"w"},
        {"a/b; n=\"v w\"x", "a/b", "n", "\"v"},
        {"a/b; n=\"open", "a/b", "n", "\"open"},
        {"a/b; n=\"\"", "a/b", "n", ""},
        {"a/b, c/d", "a/b,", "c", "<absent>"},
        {"a/b; n=;m=1", "a/b", "n", "<absent>"},
        {"a/b; n=;m=1", "a/b", "m", "1"},
        {"a/b;\r\n n = v", "a/b", "n", "v"},
        {"a/b; c=1; C=2", "a/b", "c", "12"},
        {"a/b; n; m=1", "a/b", "m", "<absent>"},
        {"a/b; 1n=2", "a/b", "1n", "<absent>"},
        {" text/html; charset=x", "", "charset", "<absent>"},
        {";charset=x", "", "charset", "<absent>"},
        {"", "", "charset", "<absent>"},
    };
    for (const row& c : rows) {
        content_type ct(c.text);
        EXPECT_EQ(ct.media_type, c.media) << c.text;
        EXPECT_EQ(field(ct, c.name), c.value) << c.text;
    }
}

TEST(ContentType, CharsetLowerCased) {
    content_type ct("Text/HTML; Charset=\"UTF-8\"");
    EXPECT_EQ(ct.media_type, "text/html");
    std::string v;
    EXPECT_TRUE(ct.get("charset", v));
    EXPECT_EQ(v, "UTF-8");
    EXPECT_TRUE(ct.get_charset(v));
    EXPECT_EQ(v, "utf-8");
    EXPECT_TRUE(ct.complete);

    v = "iso-8859-1";
    EXPECT_FALSE(content_type("text/plain").get_charset(v));
    EXPECT_EQ(v, "iso-8859-1");
}

TEST(ContentTypeBadInput, NulUnclosedQuotesAndLongValues) {
    content_type nul(std::string("a/b; c=d\0; e=f", 14));
    EXPECT_EQ(field(nul, "c"), "d");
    EXPECT_EQ(nul.fields.count("e"), 0u);
    EXPECT_FALSE(nul.complete);

    // Each opening quote without its closing one must not search the rest of the text again.
    std::string text = "a/b";
    for (int i = 0; i < 100000; ++i)
        text += "; n=\"x";
    content_type quotes(text);
    EXPECT_EQ(quotes.fields["n"].size(), 2u * 100000);

    const std::string mb(1 << 20, ';');
    content_type big("a/b; n=\"" + mb + " \"; m=1");
    EXPECT_EQ(big.fields["n"], mb + " ");
    EXPECT_EQ(big.fields["m"], "1");
    EXPECT_TRUE(big.complete);
}

TEST(HttpDate, ThreeFormsAndRejections) {
    struct row {
        const char* text;
        long long seconds;
    };
    const row rows[] = {
        {"sun, 06 nov 1994 08:49:37 gmt", 784111777},
        {"sunday, 06-nov-94 08:49:37 gmt", 784111777},
        {"sun nov  6 08:49:37 1994", 784111777},
        {"sun nov 06 08:49:37 1994", 784111777},
        {"tue, 29 feb 2000 00:00:00 gmt", 951782400},
        {"thursday, 06-nov-59 00:00:00 gmt", 2835302400}, // 59 and below: 20yy
        {"tue, 19 jan 2038 00:00:00 gmt", 2147472000},
        {"mon, 06 nov 1994 08:49:37 gmt", 0},  // wrong weekday
        {"Sun, 06 Nov 1994 08:49:37 GMT", 0},  // upper case
        {"sun, 06 nov 1994 08:49:37 gmt ", 0}, // trailing text
        {"sun, 06 nov 1994 08:49:37 gmtx", 0},
        {"sun, 6 nov 1994 08:49:37 gmt", 0}, // one-digit day
        {"sun, 06 nov 94 08:49:37 gmt", 0},
        {"sun, 06 nov 1994 08:49 gmt", 0},
        {"sun, 06 nov 1994 8:49:37 gmt", 0},
        {"sun, 06 nov 1994 24:00:00 gmt", 0}, // hour 24
        {"wed, 30 feb 2000 00:00:00 gmt", 0}, // 30 February
        {"mon, 29 feb 2100 00:00:00 gmt", 0}, // 2100 is no leap year
        {"sun, 06 xyz 1994 08:49:37 gmt", 0},
        {"sunday, 06-nov-1994 08:49:37 gmt", 0},
        {"sun, 06-nov-94 08:49:37 gmt", 0}, // short weekday in RFC 850 form
        {"sun nov  6 08:49:37 1994 gmt", 0},
        {"thursday, 01-jan-70 00:00:00 gmt", 0}, // 1970 itself
        {"fri, 31 dec 1965 23:59:59 gmt", 0},    // before 1970
        {"sun, 31 apr 1994 08:49:37 gmt", 0},    // 31 April
        {"sun, 06 nov 1994 08:60:37 gmt", 0},
        {"", 0},
    };
    for (const row& c : rows)
        EXPECT_EQ(static_cast<long long>(parse_http_date(c.text)), c.seconds) << c.text;
}
