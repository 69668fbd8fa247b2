// The REST routes against the curl program on 127.0.0.1 (raw sockets for what curl will not
// send), and the pattern, id-list, parameter and result writers on their own.
#include "webservices/rest.h"

#include "util/config.h"
#include "util/md5.h"
#include "../support/api_fixture.h"
#include "../support/http_front.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace lumbrake;
namespace fs = std::filesystem;

namespace {

using tn_test::body_of;
using tn_test::http_exchange;
using tn_test::http_exchange_in_pieces;
using tn_test::status_line;

std::string run(const std::string& command) {
    return tn_test::command_output(command + " 2>&1");
}

// Records what a handler writes instead of sending it.
class recording_rest : public rest {
public:
    void status(int code, const char* message) override {
        out += "STATUS " + std::to_string(code) + " " + message + "\n";
    }
    void content_type(const char* media_type) override {
        out += std::string("TYPE ") + media_type + "\n";
    }
    void header(const char* name, const char* value) override {
        out += std::string(name) + ": " + value + "\n";
    }
    void end_headers() override { out += "END\n"; }
    void printf(const char* format, ...) override {
        va_list args;
        va_start(args, format);
        char* text = nullptr;
        if (vasprintf(&text, format, args) >= 0) out += text;
        std::free(text);
        va_end(args);
    }
    ssize_t write(const void* bytes, std::size_t length) override {
        out.append(static_cast<const char*>(bytes), length);
        return static_cast<ssize_t>(length);
    }
    ssize_t read(void*, std::size_t) override { return 0; }
    std::string out;
};

TEST(RestPattern, Matching) {
    struct Case {
        const char* pattern;
        const char* path;
        bool match;
        int integer;
        const char* text;
        std::vector<int> ids;
    } cases[] = {
        {"/index/%/doc/$", "/index/7/doc/abc", true, 7, "abc", {}},
        {"/index/%/doc/$", "/index/0/doc/abc", false, 0, "", {}}, // archive id below 1
        {"/index/%/doc/$", "/index/-3/doc/abc", false, 0, "", {}},
        {"/index/%/doc/$", "/index/7/doc/", true, 7, "", {}},
        {"/index/%/doc", "/index/7/doc/", false, 0, "", {}}, // path not exhausted
        {"/index/%/doc", "/index/99999999999/doc", true, 2147483647, "", {}},
        {"/index/@", "/index/3,1,3", true, 0, "", {1, 3}},
        {"/index/@", "/index/1,2,", true, 0, "", {1, 2}}, // a trailing comma adds nothing
        {"/index/@", "/index/1,,2", false, 0, "", {}},
        {"/index/@", "/index/0", false, 0, "", {}},
        {"/index/@", "/index/x", false, 0, "", {}},
        {"/index/@", "/index/", false, 0, "", {}},
        {"/platform/status", "/platform/status", true, 0, "", {}},
        {"/platform/status", "/platform/statusx", false, 0, "", {}},
        {"/platform/status", "/platform/stat", false, 0, "", {}},
        {"", "", true, 0, "", {}},
        {"", "/", false, 0, "", {}},
    };
    for (const Case& c : cases) {
        recording_rest r;
        const bool got = match_rest_pattern(c.pattern, c.path, r);
        EXPECT_EQ(got, c.match) << c.pattern << " " << c.path;
        if (!got || !c.match) continue;
        const std::string pattern = c.pattern;
        if (pattern.find('%') != std::string::npos) {
            EXPECT_EQ(r.captures[0].integer, c.integer) << c.path;
        }
        if (pattern.find('$') != std::string::npos) {
            EXPECT_EQ(r.captures[1].text, c.text) << c.path;
        }
        if (pattern.find('@') != std::string::npos) {
            EXPECT_EQ(r.captures[0].ids, c.ids) << c.path;
        }
    }
}

TEST(RestQueryParameters, Table) {
    struct Case {
        std::map<std::string, std::string> params;
        bool ok;
        const char* message;
        int first, last;
    } cases[] = {
        {{}, true, "", 0, 9},
        {{{"start", "20"}}, true, "", 20, 29},
        {{{"start", "20"}, {"num", "5"}}, true, "", 20, 25},
        {{{"num", "5"}}, true, "", 0, 5},
        {{{"start", "2x"}}, false, "'start' parameter incorrectly specified", 0, 9},
        {{{"start", "-1"}}, false, "'start' parameter incorrectly specified", 0, 9},
        {{{"start", "2147483647"}}, false, "'start' parameter incorrectly specified", 0, 9},
        {{{"start", "10"}, {"num", "2147483647"}},
         false,
         "'num' parameter incorrectly specified",
         10,
         19},
        {{{"mintime", "12a"}}, false, "'mintime' parameter incorrectly specified", 0, 9},
        {{{"maxtime", ""}}, false, "'maxtime' parameter incorrectly specified", 0, 9},
        {{{"minscore", "x"}}, false, "'minscore' parameter incorrectly specified", 0, 9},
        {{{"info", "URL"}}, false, "'info' parameter incorrectly specified", 0, 9}, // exact case
        {{{"view", "x"}}, false, "'published' parameter incorrectly specified", 0, 9},
        // Both wrong: the later parameter's message is the one reported.
        {{{"sort", "x"}, {"view", "y"}}, false, "'sort' parameter incorrectly specified", 0, 9},
        {{{"w", "1"}}, false, "Invalid slice weight", 0, 9},
        // Only "w" and a number names a weight; other names are not ours and are ignored.
        {{{"what", "x"}, {"w-", "1"}, {"w1x", "2"}}, true, "", 0, 9},
        {{{"w3", "x"}}, false, "Invalid slice weight", 0, 9},
    };
    for (const Case& c : cases) {
        QuerySpec query_spec;
        std::string message;
        EXPECT_EQ(parse_query_parameters(c.params, query_spec, message), c.ok) << c.message;
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(query_spec.FirstDoc, c.first) << c.message;
        EXPECT_EQ(query_spec.LastDoc, c.last) << c.message;
    }

    QuerySpec query_spec;
    std::string message;
    ASSERT_TRUE(parse_query_parameters({{"q", "web"},
                                        {"alg", "a & b"},
                                        {"w3", "2"},
                                        {"w5", "1"},
                                        {"mintime", "100"},
                                        {"maxtime", "200"},
                                        {"minscore", "7"},
                                        {"info", "noinfo"},
                                        {"view", "corechanged"},
                                        {"sort", "older"},
                                        {"other", "x"}},
                                       query_spec, message));
    EXPECT_EQ(query_spec.Parser, ALGPARSER); // alg comes after q
    EXPECT_EQ(query_spec.QueryString, "a & b");
    EXPECT_EQ(query_spec.Weights, (std::vector<QuerySliceWeight>{{3, 2}, {5, 1}}));
    EXPECT_EQ(query_spec.MinTime, 100);
    EXPECT_EQ(query_spec.MaxTime, 200);
    EXPECT_EQ(query_spec.MinScore, 7);
    EXPECT_EQ(query_spec.Info, INFO_NONE);
    EXPECT_EQ(query_spec.View, VIEW_CORECHANGED);
    EXPECT_EQ(query_spec.Sort, SORT_TIME_OLDER);
    QuerySpec rpn;
    ASSERT_TRUE(parse_query_parameters({{"q", "a"}, {"rpn", "WORD:b"}}, rpn, message));
    EXPECT_EQ(rpn.Parser, RPNPARSER);
}

TEST(RestResults, XmlIsEscapedAndLongFieldsAreWhole) {
    QueryResult q;
    q.ID = "d1";
    q.Url = "http://x/?a=1&b=<2>";
    q.Title = std::string(5000, 't') + "\"'";
    q.MimeType = "text/html";
    q.Contexts = {"one & two", "three"};
    q.Archives = {4};
    q.Timestamp = 11;
    q.ServerTime = 12;
    q.Score = 13;
    recording_rest r;
    write_results_xml(r, {q}, 42);
    EXPECT_EQ(r.out, "TYPE text/xml\n<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<results>\n"
                     "\t<result>\n\t\t<id>d1</id>\n"
                     "\t\t<URL>http://x/?a=1&amp;b=&lt;2&gt;</URL>\n"
                     "\t\t<title>" +
                         std::string(5000, 't') +
                         "&quot;&apos;</title>\n"
                         "\t\t<mimetype>text/html</mimetype>\n"
                         "\t\t<contextlist>\n\t\t\t<context>one &amp; two</context>\n"
                         "\t\t\t<context>three</context>\n\t\t</contextlist>\n"
                         "\t\t<archives>\n\t\t\t<archive>4</archive>\n\t\t</archives>\n"
                         "\t\t<timestamp>11</timestamp>\n\t\t<servertime>12</servertime>\n"
                         "\t\t<score>13</score>\n\t</result>\n"
                         "\t<maxresults>42</maxresults>\n</results>\n");
}

class Rest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = tn_test::test_scratch("rest");
        fs::create_directories(dir_ / "data");
        storages_ = std::make_unique<tn_test::api_storages>(dir_ / "trawlnest.db", nullptr);
        db_ = storages_->db();

        // Archive 1 is open to everyone; archive 2 only to the administrator.
        ArchiveConfiguration open;
        open.Name = "open";
        open.ACL = {{"All Users", READACCESS, false}, {"All Users", WRITEACCESS, false}};
        ArchiveConfiguration closed;
        closed.Name = "closed";
        storage_transaction txn(db_);
        std::uint32_t magic = 0;
        open_id_ = cfgstorage<ArchiveConfiguration>::add(db_, open, magic);
        closed_id_ = cfgstorage<ArchiveConfiguration>::add(db_, closed, magic);
        RootACL root = {{"All Users", READACCESS, false}};
        RootACL old;
        cfgstorage<RootACL>::get(db_, ROOTACL_BROWSING, old, magic);
        cfgstorage<RootACL>::set(db_, ROOTACL_BROWSING, root, magic);
        txn.commit();

        config_file_ = (dir_ / "trawlnest.conf").string();
        std::ofstream(config_file_) << "HTTP_USER=root\nHTTP_MD5PASS=" << md5_hex("secret")
                                    << "\nDATADIR=" << (dir_ / "data").string() << "\n";
        cfg_ = std::make_unique<config>(config_file_.c_str());

        http_hooks hooks;
        hooks.config_file = config_file_;
        // One request thread over the test's own connection.
        hooks.open_db = [this] { return db_; };
        hooks.close_db = [](sqlite3*) {};
        hooks.load_login = [](sqlite3*, LoginConfiguration& login) {
            login.add_user("bob", "bobpw", false, {"Staff"});
            return true;
        };
        services_.rest = [this](httpstate& state, const http_request_facts& facts) {
            return rest_route(state, facts, [this](httpcontext& context) {
                api_context c;
                c.services.cfg = cfg_.get();
                storages_->fill(c.services);
                c.services.clock = [] { return std::int64_t{1700000000}; };
                c.services.free_space = [](const std::string&) { return 10ULL << 30; };
                c.db = context.db;
                c.user = context.user;
                c.groups = context.groups;
                c.admin = context.admin;
                return c;
            });
        };
        services_.portal = [](httpstate& state, const http_request_facts&) {
            const std::string answer = "HTTP/1.1 299 Portal\r\n\r\n";
            ::send(state.socket, answer.data(), answer.size(), MSG_NOSIGNAL);
        };
        server_ = tn_test::start_http_front(1, hooks, services_, 5);
        port_ = server_->bound_port();
        ASSERT_NE(port_, 0);
    }
    void TearDown() override {
        server_.reset();
        storages_.reset();
        fs::remove_all(dir_);
    }

    std::string url(const std::string& path) {
        return "'http://127.0.0.1:" + std::to_string(port_) + path + "'";
    }
    std::string curl(const std::string& args) { return run("curl -s -S -i --max-time 20 " + args); }
    // POSTs the bytes of a file as the document.
    std::string post(const std::string& path, const std::string& body, const std::string& more) {
        const std::string file = (dir_ / "body.bin").string();
        std::ofstream(file, std::ios::binary) << body;
        return curl(more + " --data-binary @" + file + " " + url(path));
    }
    std::string sql(const std::string& statement) {
        return tn_test::sqlite_shell(dir_ / "trawlnest.db", statement);
    }

    fs::path dir_;
    std::string config_file_;
    std::unique_ptr<tn_test::api_storages> storages_;
    sqlite3* db_ = nullptr; // the storages' connection
    std::unique_ptr<config> cfg_;
    int open_id_ = 0, closed_id_ = 0;
    http_services services_;
    std::unique_ptr<httpserver> server_;
    int port_ = 0;
};

const char* kRoot = "-u root:secret";

TEST_F(Rest, AddThenFetchDocument) {
    const std::string doc = "Hello <REST> & world\n";
    std::string answer =
        post("/index/" + std::to_string(open_id_) + "/doc?url=http%3A%2F%2Fex.org%2Fa", doc,
             std::string(kRoot) + " -H 'Content-Type: text/plain; charset=UTF-8'");
    ASSERT_EQ(status_line(answer), "HTTP/1.1 200 OK") << answer;
    EXPECT_NE(answer.find("Content-Type: text/xml\r\n"), std::string::npos);
    EXPECT_NE(answer.find("\r\nDate: "), std::string::npos);
    const std::string prefix = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<newdocument>\n\t<id "
                               "archive=\"" +
                               std::to_string(open_id_) + "\">";
    const std::string body = body_of(answer);
    ASSERT_EQ(body.rfind(prefix, 0), 0u) << body;
    const std::string id = body.substr(prefix.size(), 32);
    EXPECT_EQ(body.substr(prefix.size() + 32), "</id>\n</newdocument>\n");
    // Stored and queued, as the sqlite3 shell reads them.
    EXPECT_EQ(sql("SELECT arcid, url FROM docstorage WHERE guid='" + id + "'"),
              std::to_string(open_id_) + "|http://ex.org/a\n");
    EXPECT_EQ(sql("SELECT url FROM fetchqueue"), "guid:" + id + "\n");

    // The bytes as fetched; any positive archive number in the path will do.
    std::string fetched = curl(std::string(kRoot) + " " + url("/index/7/doc/" + id));
    ASSERT_EQ(status_line(fetched), "HTTP/1.1 200 OK") << fetched;
    EXPECT_NE(fetched.find("Content-Type: text/plain; charset=utf-8\r\n"), std::string::npos)
        << fetched;
    EXPECT_NE(fetched.find("Content-Length: " + std::to_string(doc.size()) + "\r\n"),
              std::string::npos);
    EXPECT_EQ(body_of(fetched), doc);

    // bob may read the open archive too.
    EXPECT_EQ(status_line(curl("-u bob:bobpw " + url("/index/1/doc/" + id))), "HTTP/1.1 200 OK");
    // The Accept value picks the form: this document has not been parsed yet, so only its
    // bytes exist.
    for (const char* accept : {"text/html", "application/vnd.lumbrake-fff; q=1"}) {
        EXPECT_EQ(status_line(curl(std::string(kRoot) + " -H 'Accept: " + accept + "' " +
                                   url("/index/7/doc/" + id))),
                  "HTTP/1.1 404 No such content")
            << accept;
    }
    EXPECT_EQ(
        body_of(curl(std::string(kRoot) + " -H 'Accept: text/plain' " + url("/index/7/doc/" + id))),
        doc);
    // A document of the closed archive is refused to bob.
    answer = post("/index/" + std::to_string(closed_id_) + "/doc?url=http://ex.org/secret", "s",
                  std::string(kRoot) + " -H 'Content-Type: text/plain'");
    ASSERT_EQ(status_line(answer), "HTTP/1.1 200 OK") << answer;
    const std::string secret_body = body_of(answer);
    const std::string secret = secret_body.substr(secret_body.find("\">") + 2, 32);
    EXPECT_EQ(status_line(curl("-u bob:bobpw " + url("/index/1/doc/" + secret))),
              "HTTP/1.1 400 Access violation");
    // Unknown document: nothing stored under that id.
    EXPECT_EQ(status_line(curl(std::string(kRoot) + " " + url("/index/1/doc/nosuchdoc"))),
              "HTTP/1.1 404 No such content");
}

TEST_F(Rest, AddDocumentRefusals) {
    const std::string path = "/index/" + std::to_string(open_id_) + "/doc";
    struct Case {
        std::string path, body, more, status;
    } cases[] = {
        {path + "?url=http://x/", "", kRoot, "HTTP/1.1 400 Input document expected"},
        {path, "abc", kRoot, "HTTP/1.1 400 Required parameter 'url' not specified"},
        {path + "?url=http://x/", "abc", "", "HTTP/1.1 401 Authorization required"},
        {path + "?url=http://x/", "abc", "-u bob:wrong", "HTTP/1.1 401 Authorization required"},
        // bob may not write to the closed archive; an archive that does not exist is the same.
        {"/index/" + std::to_string(closed_id_) + "/doc?url=http://x/", "abc", "-u bob:bobpw",
         "HTTP/1.1 400 Access violation"},
        {"/index/999/doc?url=http://x/", "abc", kRoot, "HTTP/1.1 400 Access violation"},
        {path + "?url=http://x/", "abc", std::string(kRoot) + " -X PUT",
         "HTTP/1.1 405 Method Not Allowed"},
        {path + "?url=http://x/", "abc", std::string(kRoot) + " -X DELETE",
         "HTTP/1.1 405 Method Not Allowed"},
        // The method is refused only after authentication.
        {path, "abc", "-X PUT", "HTTP/1.1 401 Authorization required"},
    };
    for (const Case& c : cases) {
        std::string answer = c.body.empty() ? curl(c.more + " -X POST " + url(c.path))
                                            : post(c.path, c.body, c.more);
        EXPECT_EQ(status_line(answer), c.status) << c.path << " " << c.more << "\n" << answer;
        if (c.status.find("401") == std::string::npos) {
            EXPECT_EQ(body_of(answer), "") << c.path;
        }
    }
    EXPECT_EQ(sql("SELECT count(*) FROM docstorage"), "0\n") << "refused posts store nothing";
}

// A posted document arrives whole however its bytes travel with the head: in the head's own
// packet, behind a head sent in small pieces, or sent at once while the head asks to wait for
// 100-continue. Every byte is stored, none is taken for the head.
TEST_F(Rest, DocumentBytesSentWithTheHeadAreStoredWhole) {
    std::string doc;
    for (int i = 0; i < 5000; ++i)
        doc += static_cast<char>("\r\n\r\nPOST body "[i % 15]);
    const std::string auth = "Authorization: Basic cm9vdDpzZWNyZXQ=\r\n";
    struct row {
        const char* name;
        const char* extra; // header lines
        std::size_t piece;
    } rows[] = {
        {"one packet", "", 1 << 20},
        {"head in 5-byte pieces", "", 5},
        {"expecting 100-continue, body at once", "Expect: 100-continue\r\n", 1 << 20},
    };
    int n = 0;
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string head = "POST /index/" + std::to_string(open_id_) +
                                 "/doc?url=http://ex.org/" + std::to_string(++n) +
                                 " HTTP/1.1\r\nHost: x\r\n" + auth +
                                 "Content-Type: application/octet-stream\r\n" + r.extra +
                                 "Content-Length: " + std::to_string(doc.size()) + "\r\n\r\n";
        // In pieces of the row's size: the end of the head and the document share one.
        std::string answer = http_exchange_in_pieces(port_, head + doc, r.piece, 1);
        if (*r.extra) {
            ASSERT_EQ(answer.rfind("HTTP/1.1 100 continue\r\n\r\n", 0), 0u) << answer;
            answer.erase(0, answer.find("\r\n\r\n") + 4);
        }
        ASSERT_EQ(status_line(answer), "HTTP/1.1 200 OK") << answer;
        const std::string body = body_of(answer);
        const std::size_t at = body.find("\">");
        ASSERT_NE(at, std::string::npos) << body;
        const std::string id = body.substr(at + 2, 32);
        EXPECT_EQ(body_of(curl(std::string(kRoot) + " -H 'Accept: application/octet-stream' " +
                               url("/index/1/doc/" + id))),
                  doc);
    }
}

TEST_F(Rest, RoutesThatDoNotMatchGoToThePortal) {
    for (const char* path : {"/index/0/doc/abc", "/index/1,,2", "/index/0", "/index/x/doc", "/",
                             "/platform/status/"}) {
        std::string answer = curl(std::string(kRoot) + " --path-as-is " + url(path));
        EXPECT_EQ(status_line(answer), "HTTP/1.1 299 Portal") << path << "\n" << answer;
    }
}

TEST_F(Rest, HostileRequests) {
    const std::string auth = "Authorization: Basic cm9vdDpzZWNyZXQ=\r\n";
    // A path of 8192 characters or more is refused once, and not passed to the portal after.
    std::string answer = http_exchange(port_, "GET /" + std::string(9000, 'a') +
                                                  " HTTP/1.1\r\nHost: x\r\n" + auth + "\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.1 400 Missing or bad request method\r\n", 0), 0u) << answer;
    EXPECT_EQ(answer.find("299"), std::string::npos);
    // A body shorter than announced.
    answer = http_exchange(port_, "POST /index/" + std::to_string(open_id_) +
                                      "/doc?url=http://x/ HTTP/1.1\r\nHost: x\r\n" + auth +
                                      "Content-Length: 100\r\n\r\nshort");
    EXPECT_EQ(answer.rfind("HTTP/1.1 400 Document size error\r\n", 0), 0u) << answer;
    // A bad Content-Length.
    answer = http_exchange(port_, "POST /index/1/doc?url=http://x/ HTTP/1.1\r\nHost: x\r\n" + auth +
                                      "Content-Length: 12x\r\n\r\nabc");
    EXPECT_EQ(answer.rfind("HTTP/1.1 400 ", 0), 0u) << answer;
    // Over the body limit, expecting 100-continue: refused without reading.
    answer = http_exchange(port_, "POST /index/1/doc?url=http://x/ HTTP/1.1\r\nHost: x\r\n" + auth +
                                      "Content-Length: 16777217\r\nExpect: 100-continue\r\n\r\n");
    EXPECT_EQ(answer, "HTTP/1.1 417 Document too large\r\n\r\n");
    // A document id with encoded specials and a huge archive number: no such document.
    // Document ids with encoded specials, slashes and dot segments, and a huge archive
    // number: only ever an unknown id, never a file.
    for (const char* path : {"/index/99999999999999999999/doc/%27%3Cx%3E%00",
                             "/index/1/doc/a/../../x", "/index/1/doc/../../../etc/passwd"}) {
        answer = curl(std::string(kRoot) + " --path-as-is " + url(path));
        EXPECT_EQ(status_line(answer), "HTTP/1.1 404 No such content") << path;
    }
    // A method the router knows but no route serves.
    answer = http_exchange(port_, "HEAD /platform/status HTTP/1.1\r\nHost: x\r\n" + auth + "\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.1 405 Method Not Allowed\r\n", 0), 0u) << answer;
    // The server still serves afterwards.
    EXPECT_EQ(status_line(curl(std::string(kRoot) + " " + url("/platform/status"))),
              "HTTP/1.1 200 OK");
}

TEST_F(Rest, QueryRoute) {
    const std::string open = std::to_string(open_id_);
    // No index in this fixture: an empty answer whose total is unknown.
    std::string answer = curl("-u bob:bobpw " + url("/index/" + open + "?q=hello&start=20"));
    ASSERT_EQ(status_line(answer), "HTTP/1.1 200 OK") << answer;
    EXPECT_NE(answer.find("Content-Type: text/xml\r\n"), std::string::npos);
    EXPECT_EQ(body_of(answer), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<results>\n"
                               "\t<maxresults>-1</maxresults>\n</results>\n");
    struct Case {
        std::string args, status;
    } cases[] = {
        {"-u bob:bobpw " + url("/index/" + open + "," + std::to_string(closed_id_)),
         "HTTP/1.1 400 Access violation"},
        {std::string(kRoot) + " " + url("/index/" + open + "," + std::to_string(closed_id_)),
         "HTTP/1.1 200 OK"},
        {std::string(kRoot) + " " + url("/index/" + open + "?alg=%28a"), "HTTP/1.1 400 Bad query"},
        {std::string(kRoot) + " " + url("/index/" + open + "?sort=x&view=y"),
         "HTTP/1.1 400 'sort' parameter incorrectly specified"},
        {std::string(kRoot) + " " + url("/index/" + open + "?w=1"),
         "HTTP/1.1 400 Invalid slice weight"},
        {std::string(kRoot) + " -X POST " + url("/index/" + open),
         "HTTP/1.1 405 Method Not Allowed"},
        {url("/index/" + open), "HTTP/1.1 401 Authorization required"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(status_line(curl(c.args)), c.status) << c.args;
}

TEST_F(Rest, PlatformStatus) {
    std::string answer = curl("-u bob:bobpw " + url("/platform/status"));
    ASSERT_EQ(status_line(answer), "HTTP/1.1 200 OK") << answer;
    const std::string body = body_of(answer);
    EXPECT_EQ(body.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<statusinfo>\n"
                         "\t<status>Running</status>\n\t<extendedstatuslist>\n",
                         0),
              0u)
        << body;
    EXPECT_NE(body.find("\t\t<extendedstatus>\n\t\t\t<key>"), std::string::npos);
    EXPECT_EQ(body.substr(body.size() - 37), "\t</extendedstatuslist>\n</statusinfo>\n");
    // Without read access on the browsing root: the API's refusal.
    storage_transaction txn(db_);
    std::uint32_t magic = 0;
    RootACL old;
    cfgstorage<RootACL>::get(db_, ROOTACL_BROWSING, old, magic);
    cfgstorage<RootACL>::set(db_, ROOTACL_BROWSING, RootACL{}, magic);
    txn.commit();
    EXPECT_EQ(status_line(curl("-u bob:bobpw " + url("/platform/status"))),
              "HTTP/1.1 400 Access violation");
    EXPECT_EQ(status_line(curl(std::string(kRoot) + " -X DELETE " + url("/platform/status"))),
              "HTTP/1.1 405 Method Not Allowed");
}

} // namespace
