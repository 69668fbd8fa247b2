// The portal through the real HTTP front end on 127.0.0.1: curl for what browsers send, raw
// sockets for the hostile paths no client library sends as written.
#include "api/archive-info.h"
#include "api/collection-info.h"
#include "webservices/portal.h"
#include "util/md5.h"
#include "../support/api_fixture.h"
#include "../support/http_front.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

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
using tn_test::status_line;

std::string run_curl(const std::string& args) {
    return tn_test::command_output("curl -s -S -i --path-as-is --max-time 20 " + args + " 2>&1");
}

const char* const kSecret = "TOP-SECRET-OUTSIDE-THE-ROOT";

class Portal : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = tn_test::test_scratch("portal").string();
        root_ = dir_ + "/portal";
        fs::create_directories(root_);
        config_file_ = dir_ + "/trawlnest.conf";
        write_config({});

        storages_ = std::make_unique<tn_test::api_storages>(dir_ + "/trawlnest.db", nullptr);
        db_ = storages_->db();
        storages_->fill(base_.services);
        base_.services.clock = [] { return std::int64_t{1700000000}; };
        base_.db = db_;

        http_hooks hooks;
        hooks.config_file = config_file_;
        tn_test::open_db_per_thread(hooks);
        hooks.load_login = [](sqlite3*, LoginConfiguration& login) {
            login.add_user("<i>eve</i>", "evepw", false, {});
            return true;
        };
        services_.portal = make_portal_route([this](httpcontext& context, api_context& ctx) {
            if (!api_available_) return false;
            ctx = base_;
            ctx.user = context.user;
            ctx.groups = context.groups;
            ctx.admin = context.admin;
            return true;
        });
        server_ = tn_test::start_http_front(2, hooks, services_, 5);
        port_ = server_->bound_port();
        ASSERT_NE(port_, 0);
    }
    void TearDown() override {
        server_.reset();
        storages_.reset();
        fs::remove_all(dir_);
    }

    void write_config(const std::vector<std::string>& extra) {
        tn_test::write_deploy_config(config_file_, dir_, extra);
    }
    void write(const std::string& path, const std::string& text) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }
    void page(const std::string& name, const std::string& text) { write(root_ + "/" + name, text); }

    std::string url(const std::string& path) {
        return "'http://127.0.0.1:" + std::to_string(port_) + path + "'";
    }
    std::string get(const std::string& path, const std::string& more = {}) {
        return run_curl(more + " " + url(path));
    }
    std::string raw(const std::string& target, const std::string& headers = {}) {
        return http_exchange(port_, "GET " + target + " HTTP/1.1\r\nHost: h.test:81\r\n" + headers +
                                        "\r\n");
    }
    std::string prefix() { return "http://127.0.0.1:" + std::to_string(port_); }

    std::string dir_, root_, config_file_;
    std::unique_ptr<tn_test::api_storages> storages_;
    sqlite3* db_ = nullptr; // the storages' connection
    api_context base_;
    bool api_available_ = true;
    http_services services_;
    std::unique_ptr<httpserver> server_;
    int port_ = 0;
};

TEST_F(Portal, PlainFilesWithTheirTypes) {
    page("index.html", "<html>home</html>");
    page("style.css", "body{}");
    std::string binary("GIF89a\0\1\2\xff", 10);
    page("img/a.gif", binary);
    page("p.jpg", "jpg");
    page("d.pdf", "%PDF-1.4");
    page("logo.png", "png");
    page("logo.GIF", "gif");
    page("noext", "x");
    struct Case {
        const char* path;
        const char* status;
        const char* type;
    } cases[] = {
        {"/", "HTTP/1.1 200 OK", "Content-Type: text/html; charset=UTF-8\r\n"},
        {"/style.css", "HTTP/1.1 200 OK", "Content-Type: text/css\r\n"},
        {"/img/a.gif", "HTTP/1.1 200 OK", "Content-Type: image/gif\r\n"},
        {"/p.jpg?x=1", "HTTP/1.1 200 OK", "Content-Type: image/jpeg\r\n"},
        {"/d.pdf", "HTTP/1.1 200 OK", "Content-Type: application/pdf\r\n"},
        {"/logo.png", "HTTP/1.1 404 Not found", nullptr},
        {"/logo.GIF", "HTTP/1.1 404 Not found", nullptr}, // ends compared case-sensitively
        {"/noext", "HTTP/1.1 404 Not found", nullptr},
        {"/missing.html", "HTTP/1.1 404 Not found", nullptr},
    };
    for (const Case& c : cases) {
        std::string answer = get(c.path);
        EXPECT_EQ(status_line(answer), c.status) << c.path << "\n" << answer;
        if (c.type) {
            EXPECT_NE(answer.find(c.type), std::string::npos) << c.path;
        } else {
            EXPECT_EQ(body_of(answer), "<html><body>Error 404 - File not found.</body></html>");
        }
    }
    // The header block's order, and the bytes as stored.
    std::string answer = raw("/img/a.gif");
    std::size_t type = answer.find("Content-Type: image/gif\r\n");
    std::size_t date = answer.find("\r\nDate: ");
    std::size_t modified = answer.find("\r\nLast-Modified: ");
    std::size_t expires = answer.find("\r\nExpires: Mon, 26 Jul 1997 05:00:00 GMT\r\n");
    std::size_t pragma = answer.find("\r\nPragma: no-cache\r\n");
    std::size_t length = answer.find("\r\nContent-Length: 10\r\n");
    ASSERT_NE(length, std::string::npos) << answer;
    EXPECT_TRUE(type < date && date < modified && modified < expires && expires < pragma &&
                pragma < length)
        << answer;
    EXPECT_EQ(body_of(answer), binary);
}

TEST_F(Portal, DirectoriesRedirectToTheirIndex) {
    page("docs/index.html", "docs index");
    std::string answer = raw("/docs");
    EXPECT_EQ(status_line(answer), "HTTP/1.1 302 Found");
    EXPECT_NE(answer.find("\r\nLocation: http://h.test:81/docs/\r\n"), std::string::npos) << answer;
    EXPECT_EQ(body_of(answer),
              "<html><body>Moved <a href=\"http://h.test:81/docs/\">here</a></body></html>\r\n");
    EXPECT_EQ(body_of(get("/docs/")), "docs index");
    // The Host header is the client's: it cannot add markup to the body.
    answer = http_exchange(port_, "GET /docs HTTP/1.1\r\nHost: \"><script>x</script>:81\r\n\r\n");
    EXPECT_EQ(body_of(answer).find("<script>"), std::string::npos) << answer;
}

TEST_F(Portal, NothingOutsideTheRootIsServed) {
    write(dir_ + "/secret.html", kSecret);
    write(dir_ + "/outside/index.html", kSecret);
    write(dir_ + "/outside.special", std::string("template\nhead: secret.html\n"));
    write(dir_ + "/trawlnest.conf.html", kSecret);
    page("index.html", "home");
    page("docs/index.html", "docs");
    fs::create_symlink(dir_ + "/secret.html", root_ + "/link.html");
    fs::create_symlink(dir_ + "/outside", root_ + "/linkdir");
    fs::create_symlink(dir_ + "/outside.special", root_ + "/page.special");
    fs::create_symlink(root_ + "/index.html", root_ + "/inner.html"); // stays inside: served
    ASSERT_EQ(::mkfifo((root_ + "/pipe.html").c_str(), 0600), 0);

    const char* hostile[] = {
        "/../secret.html",
        "/docs/../../secret.html",
        "/../../../../../../etc/passwd",
        "/%2e%2e/secret.html",
        "/docs/%2e%2e/%2e%2e/secret.html",
        "/..%2fsecret.html",
        "/%2e%2e%2fsecret.html",
        "/..\\secret.html",
        "/link.html",
        "/linkdir/index.html",
        "/linkdir/",
        "/page",
        "/pipe.html",
        "/index.html%00.png",
        "/docs/..%00/../secret.html",
        "/../portal/../secret.html",
        "//../secret.html",
        "/./../secret.html",
        "/..",
        "..",
        "../secret.html",
        "/../trawlnest.conf.html",
    };
    for (const char* path : hostile) {
        std::string answer = raw(path);
        EXPECT_EQ(answer.find(kSecret), std::string::npos) << path << "\n" << answer;
        EXPECT_EQ(answer.find("root:"), std::string::npos) << path;
        EXPECT_EQ(answer.rfind("HTTP/1.1 ", 0), 0u) << path << "\n" << answer;
    }
    // A NUL byte written raw into the request line.
    std::string nul = http_exchange(
        port_, std::string("GET /index.html\0/../../secret.html HTTP/1.1\r\n\r\n", 47));
    EXPECT_EQ(nul.find(kSecret), std::string::npos) << nul;
    EXPECT_EQ(body_of(raw("/inner.html")), "home");
    // Climbing inside the root is resolved, not refused.
    EXPECT_EQ(body_of(raw("/docs/../index.html")), "home");
}

TEST_F(Portal, PrivatePathsNeedAuthentication) {
    write_config({"HTTP_USER=root", "HTTP_MD5PASS=" + md5_hex("secret")});
    page("private/index.html", "private page");
    page("index.html", "public");
    EXPECT_EQ(status_line(get("/")), "HTTP/1.1 200 OK");
    for (const char* path :
         {"/private/", "/private/index.html", "/docs/../private/index.html", "//private/index.html",
          "/./private/index.html", "/private/missing.html"}) {
        std::string answer = raw(path);
        EXPECT_EQ(answer.rfind("HTTP/1.1 401", 0), 0u) << path << "\n" << answer;
        EXPECT_EQ(answer.find("private page"), std::string::npos);
    }
    EXPECT_EQ(body_of(get("/private/", "-u root:secret")), "private page");
    EXPECT_EQ(status_line(get("/private/", "-u root:wrong")).rfind("HTTP/1.1 401", 0), 0u);
}

TEST_F(Portal, SpecialPages) {
    page("index.html", "plain index");
    page("t.special", "template \nhead: head.html\n"); // the blank makes it no template page
    page("r.special", "redirect /x/\r\n");
    page("bad.special", "template\nhead: head.html\nfoot\n");
    page("other.special", "something\n");
    page("mime.special", "template\nmimetype: text/plain; charset=UTF-8\nhead: head.html\n");
    page("head.html", "HEAD {=user=}");
    page("docs/index.html.special", "redirect /elsewhere");
    struct Case {
        const char* path;
        const char* status;
        const char* needle;
    } cases[] = {
        {"/t", "HTTP/1.1 404 Not found", nullptr},
        {"/r", "HTTP/1.1 302 Found", "\r\nLocation: http://h.test:81/x/\r\n"},
        {"/bad", "HTTP/1.1 500 Internal server error",
         "<html><body>Error 500 - Internal server error, invalid template.</body></html>"},
        {"/other", "HTTP/1.1 404 Not found", nullptr},
        {"/mime", "HTTP/1.1 200 OK", "Content-Type: text/plain; charset=UTF-8\r\n"},
        {"/docs/", "HTTP/1.1 302 Found", "Location: http://h.test:81/elsewhere\r\n"},
    };
    for (const Case& c : cases) {
        std::string answer = raw(c.path);
        EXPECT_EQ(status_line(answer), c.status) << c.path << "\n" << answer;
        if (c.needle) {
            EXPECT_NE(answer.find(c.needle), std::string::npos) << c.path << answer;
        }
    }
    EXPECT_EQ(body_of(raw("/mime")), "HEAD Anonymous");
}

TEST_F(Portal, LanguagePages) {
    page("lang.special", "language\n# table\nde /de/\nen /en/   # comment\n\n");
    page("broken.special", "language\nde /de/\nnoblank\n");
    page("empty.special", "language\n");
    struct Case {
        const char* header;
        const char* location; // null: 500 invalid redirect
    } cases[] = {
        {"Accept-Language: fr, en;q=0.8, de;q=0.9\r\n", "/de/"},
        {"Accept-Language: en;q=0.5, de;q=0.5\r\n", "/en/"},
        {"Accept-Language: EN\r\n", "/en/"}, // header values are read lower-cased
        {"", "/de/"},
        {"Accept-Language: fr, it\r\n", "/de/"},
        {"Accept-Language: en;q=0\r\n", "/de/"},
        {"Accept-Language: en; q=0.5\r\n", nullptr},
        {"Accept-Language: \r\n", nullptr},
        {"Accept-Language: abcdefghijklmno\r\n", nullptr},
        {"Accept-Language: en;x=1\r\n", nullptr},
        {"Accept-Language: en;q\r\n", nullptr},
        {"Accept-Language: ,en\r\n", nullptr},
    };
    for (const Case& c : cases) {
        std::string answer = raw("/lang", c.header);
        if (c.location) {
            EXPECT_EQ(status_line(answer), "HTTP/1.1 302 Found") << c.header << answer;
            EXPECT_NE(answer.find(std::string("Location: http://h.test:81") + c.location + "\r\n"),
                      std::string::npos)
                << c.header << answer;
        } else {
            EXPECT_EQ(status_line(answer), "HTTP/1.1 500 Internal server error") << c.header;
            EXPECT_EQ(body_of(answer), "<html><body>Error 500 - Internal server error, invalid "
                                       "redirect.</body></html>");
        }
    }
    EXPECT_EQ(status_line(raw("/broken")), "HTTP/1.1 500 Internal server error");
    EXPECT_EQ(status_line(raw("/empty")), "HTTP/1.1 500 Internal server error");
}

TEST_F(Portal, TemplatePageEscapesWhatItInserts) {
    ArchiveConfiguration arc;
    arc.Name = "<b>R&D \"docs\"</b>";
    arc.ACL = {AccessSpec{"All Users", READACCESS, false}};
    CollectionConfiguration col;
    col.Name = "Col<1>";
    col.ACL = arc.ACL;
    storage_transaction txn(db_);
    std::uint32_t magic = 0;
    int arcid = cfgstorage<ArchiveConfiguration>::add(db_, arc, magic);
    int colid = cfgstorage<CollectionConfiguration>::add(db_, col, magic);
    txn.commit();
    page("index.html.special", "template\nhead: head.html\nfoot: foot.html\n");
    page("head.html", "[{=user=}]{=archiveselect=}|{=collectionselect=}|{=watchselect=}");
    page("foot.html", "<foot {=user=}>");

    std::string answer = get("/?a=" + std::to_string(arcid));
    EXPECT_EQ(status_line(answer), "HTTP/1.1 200 OK") << answer;
    std::string a = std::to_string(arcid), c = std::to_string(colid);
    EXPECT_EQ(body_of(answer),
              "[Anonymous]<option value=\"0\"></option>\n<option value=\"" + a +
                  "\" selected>&lt;b&gt;R&amp;D &quot;docs&quot;&lt;/b&gt;</option>\n"
                  "|<option value=\"0\"></option>\n<option value=\"-1\">*</option>\n"
                  "<option value=\"" +
                  c +
                  "\">Col&lt;1&gt;</option>\n"
                  "|<option value=\"0\"></option>\n<foot Anonymous>");
    answer = get("/?c=-1");
    EXPECT_NE(answer.find("<option value=\"-1\" selected>*</option>"), std::string::npos);

    // Without the API the lists keep their fixed rows only.
    api_available_ = false;
    EXPECT_EQ(body_of(get("/")), "[Anonymous]<option value=\"0\"></option>\n|<option "
                                 "value=\"0\"></option>\n<option value=\"-1\">*</option>\n|"
                                 "<option value=\"0\"></option>\n<foot Anonymous>");

    // A user name from the login store is escaped too.
    write_config({"HTTP_USER=root", "HTTP_MD5PASS=" + md5_hex("secret")});
    page("private/index.html.special", "template\nhead: ../foot.html\n");
    answer = get("/private/", "-u '<i>eve</i>:evepw'");
    EXPECT_EQ(body_of(answer), "<foot &lt;i&gt;eve&lt;/i&gt;>") << answer;
}

TEST_F(Portal, SearchPages) {
    page("search.special", "template\nhead: h.html\nfoot: f.html\ninternalerror: ie.html\n"
                           "no_result: none.html\n");
    page("h.html", "<");
    page("f.html", ">");
    page("ie.html", "IE[{=ifdef BadQuery=}BadQuery{=endif=}{=ifdef InternalError=}Internal"
                    "{=endif=}{=ifdef AccessViolation=}AccessViolation{=endif=}]");
    page("none.html", "none for {=currname=} at {=self_url=}");
    ArchiveConfiguration arc;
    arc.Name = "<A>";
    arc.ACL = {AccessSpec{"All Users", READACCESS, false}};
    storage_transaction txn(db_);
    std::uint32_t magic = 0;
    std::string a = std::to_string(cfgstorage<ArchiveConfiguration>::add(db_, arc, magic));
    txn.commit();
    struct Case {
        std::string query;
        std::string body;
    } cases[] = {
        {"", "<IE[]>"},
        {"?q=x", "<IE[]>"},                           // nowhere to search
        {"?a=" + a, "<IE[]>"},                        // nothing to search for
        {"?q=x&a=" + a + "&sort=sideways", "<IE[]>"}, // refused parameter
        {"?alg=(x&a=" + a, "<IE[BadQuery]>"},
        {"?q=x&a=" + a, "<none for &lt;A&gt; at " + prefix() + "/search?q=x&amp;a=" + a + ">"},
        {"?q=%3Cs%3E&i=" + a,
         "<none for &lt;A&gt; at " + prefix() + "/search?q=%3Cs%3E&amp;i=" + a + ">"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(body_of(get("/search" + c.query)), c.body) << c.query;
    api_available_ = false;
    EXPECT_EQ(body_of(get("/search?t=3")), "<IE[Internal]>"); // a watch alone runs the search
}

TEST_F(Portal, ShippedPortalFolder) {
    const std::string shipped = std::string(TN_SOURCE_DIR) + "/portal";
    write_config({"PORTAL_DOCS=" + shipped});
    template_set set;
    ASSERT_TRUE(load_template_set(shipped + "/index.html.special", set));
    for (const auto& [name, entry] : set)
        EXPECT_TRUE(fs::is_regular_file(entry.path)) << name;
    std::string answer = get("/?q=%3Cscript%3E&a=0");
    EXPECT_EQ(status_line(answer), "HTTP/1.1 200 OK");
    EXPECT_NE(answer.find("<form method=\"get\""), std::string::npos);
    EXPECT_EQ(answer.find("<script>"), std::string::npos);
    EXPECT_NE(get("/style.css").find("Content-Type: text/css"), std::string::npos);
    EXPECT_EQ(status_line(get("/index.html.special")), "HTTP/1.1 404 Not found");
    EXPECT_EQ(status_line(get("/cache/abc")), "HTTP/1.1 500 Internal server error");
}

TEST_F(Portal, CachePages) {
    page("cache.special", "cache\ninternalerror: ie.html\n");
    page("ie.html", "failed{=ifdef InternalError=}: internal{=endif=}");
    page("a/b", "a plain file");
    ArchiveConfiguration arc;
    arc.Name = "A";
    arc.ACL = {AccessSpec{"All Users", READACCESS, false}};
    storage_transaction txn(db_);
    std::uint32_t magic = 0;
    int arcid = cfgstorage<ArchiveConfiguration>::add(db_, arc, magic);
    txn.commit();
    std::string docid;
    {
        api_context ctx = base_;
        ctx.admin = true;
        api call(ctx);
        api_result res;
        call.add_document(res, arcid, "http://site.test/p?x=\"><script>",
                          "text/html; charset=UTF-8", "<p>stored</p>", docid);
        ASSERT_TRUE(res.ok) << res.message;
    }
    // A request below /cache is served by the cache page, one level up only.
    std::string answer = get("/cache/" + docid + ".html?doc=" + docid);
    EXPECT_EQ(status_line(answer), "HTTP/1.1 200 OK") << answer;
    EXPECT_NE(answer.find("Content-Type: text/html; charset=utf-8\r\n"), std::string::npos)
        << answer; // as stored, with its charset
    std::string body = body_of(answer);
    EXPECT_EQ(body.rfind("<base href=\"", 0), 0u) << body;
    EXPECT_EQ(body.find("<script>"), std::string::npos) << body;
    EXPECT_EQ(body.substr(body.size() - 16), "\">\n<p>stored</p>");
    EXPECT_NE(answer.find("Content-Length: " + std::to_string(body.size()) + "\r\n"),
              std::string::npos);

    EXPECT_EQ(status_line(get("/cache/x")), "HTTP/1.1 500 Internal server error"); // no doc
    EXPECT_EQ(status_line(get("/cache/x/y?doc=1")), "HTTP/1.1 404 Not found");
    EXPECT_EQ(status_line(get("/a/b/c")), "HTTP/1.1 404 Not found");
    api_available_ = false;
    answer = get("/cache?doc=" + docid);
    EXPECT_EQ(status_line(answer), "HTTP/1.1 200 OK");
    EXPECT_EQ(body_of(answer), "failed: internal");
}

} // namespace
