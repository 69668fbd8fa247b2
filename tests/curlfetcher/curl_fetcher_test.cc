// The curl fetcher against real servers on 127.0.0.1: nginx (statuses, redirects, Basic auth,
// size limits, side metadata, dates), Python's http.server, pyftpdlib (files, listings, log-in)
// and a small Python server in data/ (log-in form, forward proxy, tunnel, hostile heads).
#include "../support/command.h"
#include "../support/files.h"
#include "api/api-typeutils.h"
#include "api/auth.h"
#include "util/config.h"
#include "util/httphead.h"
#include "util/uri.h"
#include "fetchers/curl-fetcher.h"
#include "fetchers/fetcher.h"
#include "../support/http_client.h"
#include "../support/ports.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace lumbrake {
namespace {

using tn_test::port_answers;
constexpr auto& run_output = tn_test::command_output;
constexpr auto& free_port = tn_test::reserve_port;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* python = "/usr/bin/python3";
constexpr std::uint32_t default_limit = 16777216;

constexpr auto& have = tn_test::have_program;

bool python_has(const char* module) {
    return std::system(
               (std::string(python) + " -c 'import " + module + "' >/dev/null 2>&1").c_str()) == 0;
}

using tn_test::write_file;

bool wait_for_port(int port) {
    for (auto end = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(20ms))
        if (port_answers(port)) return true;
    return false;
}

// A server started by the tests: terminated and reaped when it goes.
class child {
public:
    child() = default;
    child(const child&) = delete;
    child& operator=(const child&) = delete;
    ~child() { stop(); }

    // Starts argv with standard error to `log`. With read_port, the first line of its standard
    // output is its port (waited for at most ten seconds).
    bool start(const std::vector<std::string>& argv, const std::string& log, bool read_port) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        // Output not read here goes to the log: a closed pipe would end the server.
        if (read_port)
            posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        else
            posix_spawn_file_actions_adddup2(&actions, 2, 1);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        int rc = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (rc != 0) {
            pid_ = -1;
            ::close(out[0]);
            return false;
        }
        bool ok = true;
        if (read_port) {
            std::string line;
            ok = false;
            pollfd p{out[0], POLLIN, 0};
            auto end = std::chrono::steady_clock::now() + 10s;
            while (std::chrono::steady_clock::now() < end && ::poll(&p, 1, 100) >= 0) {
                if (!(p.revents & (POLLIN | POLLHUP))) continue;
                char c;
                if (::read(out[0], &c, 1) != 1) break;
                if (c == '\n') {
                    port = std::atoi(line.c_str());
                    ok = port > 0;
                    break;
                }
                line += c;
            }
        }
        ::close(out[0]);
        if (!ok) stop();
        return ok;
    }

    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 250; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(20ms);
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    int port = 0;

private:
    pid_t pid_ = -1;
};

// Everything the tests fetch from, started once for the whole program.
struct servers : ::testing::Environment {
    fs::path dir;
    child nginx, helper, ftp, pyhttp;
    std::string www_url, tls_url, helper_url, ftp_url, pyhttp_url;
    std::time_t page_mtime = 1300000000;

    void SetUp() override {
        char tmpl[] = "/tmp/tn-curlfetch-XXXXXX";
        if (!::mkdtemp(tmpl)) return;
        dir = tmpl;
        make_site();
        start_nginx();
        start_helper();
        start_ftp();
        start_pyhttp();
    }

    void TearDown() override {
        nginx.stop();
        helper.stop();
        ftp.stop();
        pyhttp.stop();
        std::error_code ec;
        if (!dir.empty()) fs::remove_all(dir, ec);
    }

    void make_site() {
        const fs::path www = dir / "www";
        fs::create_directories(www / "private");
        fs::create_directories(www / "utf8");
        fs::create_directories(www / "sub");
        write_file(www / "index.html", "<html><body>index</body></html>");
        write_file(www / "page.html", "<html><body>page</body></html>");
        ::timespec times[2] = {{page_mtime, 0}, {page_mtime, 0}};
        ::utimensat(AT_FDCWD, (www / "page.html").c_str(), times, 0);
        write_file(www / "page.html.tnm", "<metas><meta name=\"k\">v</meta></metas>");
        write_file(www / "utf8" / "u.html", "<p>\xc3\xa4</p>");
        write_file(www / "private" / "secret.txt", "the secret");
        // 64 KiB of text, 10000 bytes, 5 MB of an image type and a small image.
        std::string text;
        for (int i = 0; text.size() < 65536; ++i)
            text += "line " + std::to_string(i) + "\n";
        text.resize(65536);
        write_file(www / "big.txt", text);
        write_file(www / "exact.txt", text.substr(0, 10000));
        write_file(www / "big.png", std::string(5 * 1024 * 1024, '\x89'));
        write_file(www / "small.png", std::string(200, '\x89'));
        write_file(www / "sub" / "inner.txt", "inner");

        const fs::path root = dir / "ftproot";
        fs::create_directories(root / "pub" / "deeper");
        write_file(root / "readme.txt", "hello over ftp\n");
        write_file(root / "readme.txt.tnm", "<metas/>");
        write_file(root / "a b#c.txt", "odd name");
        write_file(root / "pub" / "deeper" / "x.txt", "x");
        fs::create_symlink("pub", root / "link");
    }

    void start_nginx() {
        if (!have("nginx") || !have("openssl")) return;
        const std::string hash = run_output("openssl passwd -apr1 'open sesame'");
        if (hash.empty()) return;
        write_file(dir / "htpasswd", "alice:" + hash);
        fs::create_directories(dir / "nginx-tmp");
        // A self-signed certificate, as intranet servers often have.
        const std::string d = dir.string();
        const bool tls =
            std::system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
                         "-nodes -days 2 -subj /CN=localhost "
                         "-addext subjectAltName=IP:127.0.0.1,DNS:localhost -keyout '" +
                         d + "/key.pem' -out '" + d + "/cert.pem' >/dev/null 2>&1")
                            .c_str()) == 0;
        for (int attempt = 0; attempt < 3 && !nginx.port; ++attempt) {
            const int port = free_port();
            const int tls_port = tls ? free_port() : 0;
            std::ostringstream conf;
            conf << "daemon off; master_process off; worker_processes 1;\n"
                 << "pid " << d << "/nginx.pid; error_log " << d << "/nginx-error.log;\n"
                 << "events { worker_connections 64; }\n"
                 << "http {\n access_log off;\n"
                 << " client_body_temp_path " << d << "/nginx-tmp/body;\n"
                 << " proxy_temp_path " << d << "/nginx-tmp/proxy;\n"
                 << " fastcgi_temp_path " << d << "/nginx-tmp/fastcgi;\n"
                 << " uwsgi_temp_path " << d << "/nginx-tmp/uwsgi;\n"
                 << " scgi_temp_path " << d << "/nginx-tmp/scgi;\n"
                 << " types { text/html html; text/plain txt; image/png png; }\n"
                 << " default_type application/octet-stream;\n"
                 << " server {\n  listen 127.0.0.1:" << port << ";\n";
            if (tls)
                conf << "  listen 127.0.0.1:" << tls_port << " ssl;\n  ssl_certificate " << d
                     << "/cert.pem;\n  ssl_certificate_key " << d << "/key.pem;\n";
            conf << "  root " << d << "/www;\n"
                 << "  location = /r301 { return 301 /moved/; }\n"
                 << "  location = /r302 { return 302 /target.html; }\n"
                 << "  location = /r303 { return 303 http://elsewhere.invalid/x; }\n"
                 << "  location = /r307 { return 307 /x; }\n";
            for (int code : {300, 304, 400, 403, 406, 500, 502, 503})
                conf << "  location = /s" << code << " { return " << code << "; }\n";
            conf << "  location /utf8/ { charset utf-8; }\n"
                 << "  location /private/ { auth_basic \"members\"; auth_basic_user_file " << d
                 << "/htpasswd; }\n"
                 << " }\n}\n";
            write_file(dir / "nginx.conf", conf.str());
            child& c = nginx;
            if (c.start({"/usr/sbin/nginx", "-p", d, "-c", d + "/nginx.conf", "-e",
                         d + "/nginx-error.log"},
                        d + "/nginx-stderr.log", false) &&
                wait_for_port(port)) {
                c.port = port;
                www_url = "http://127.0.0.1:" + std::to_string(port);
                if (tls) tls_url = "https://127.0.0.1:" + std::to_string(tls_port);
            } else {
                c.stop();
            }
        }
    }

    void start_helper() {
        if (!fs::exists(python)) return;
        if (helper.start({python, TN_TEST_DATA "/http_server.py"}, (dir / "helper.log").string(),
                         true) &&
            wait_for_port(helper.port))
            helper_url = "http://127.0.0.1:" + std::to_string(helper.port);
    }

    void start_ftp() {
        if (!fs::exists(python) || !python_has("pyftpdlib")) return;
        if (ftp.start({python, TN_TEST_DATA "/ftp_server.py", (dir / "ftproot").string(), "bob",
                       "ftp pass"},
                      (dir / "ftp.log").string(), true) &&
            wait_for_port(ftp.port))
            ftp_url = "ftp://127.0.0.1:" + std::to_string(ftp.port);
    }

    void start_pyhttp() {
        if (!fs::exists(python)) return;
        const int port = free_port();
        if (pyhttp.start({python, "-m", "http.server", "--bind", "127.0.0.1", "--directory",
                          (dir / "www").string(), std::to_string(port)},
                         (dir / "pyhttp.log").string(), false) &&
            wait_for_port(port)) {
            pyhttp.port = port;
            pyhttp_url = "http://127.0.0.1:" + std::to_string(port);
        }
    }
};

servers* env = static_cast<servers*>(::testing::AddGlobalTestEnvironment(new servers));

// A configuration file of its own folder (files beside it would be read with it).
class config_file {
public:
    explicit config_file(const std::string& text) {
        static int counter = 0;
        folder_ = env->dir / ("cfg" + std::to_string(++counter));
        fs::create_directories(folder_);
        write_file(folder_ / "trawlnest.conf", text);
        cfg_ = std::make_unique<config>((folder_ / "trawlnest.conf").c_str());
    }
    const config& get() const { return *cfg_; }

private:
    fs::path folder_;
    std::unique_ptr<config> cfg_;
};

const config& no_config() {
    static const config cfg("/nonexistent/trawlnest.conf");
    return cfg;
}

struct request {
    explicit request(std::string u) : url(std::move(u)) {}
    std::string url;
    const config* cfg = &no_config();
    std::uint32_t limit = default_limit;
    std::string cookie;
    bool cookie_login = false;
    std::string source_xml;
    std::string auth_xml;
    bool sidemeta = false;
    std::int32_t base_score = 500000;
};

fetch_result fetch(const request& r) {
    curl_fetcher f(*r.cfg, r.limit);
    fetch_result result;
    result.status = FETCH_OK; // must be reset
    result.outlinks.emplace_back("stale", 1);
    f.fetch({.base_score = r.base_score,
             .url = r.url,
             .user_agent = "Mozilla/4.0 (compatible; testbot)",
             .cookie = r.cookie,
             .cookie_login = r.cookie_login,
             .source_xml = r.source_xml,
             .auth_xml = r.auth_xml,
             .want_sidemeta = r.sidemeta},
            result);
    return result;
}

fetch_result fetch(const std::string& url) {
    return fetch(request{url});
}

// A fetch of `url` under a configuration file of `text`.
fetch_result fetch_under(const std::string& text, const std::string& url) {
    config_file cfg(text);
    request r{url};
    r.cfg = &cfg.get();
    return fetch(r);
}

#define NEED(url)                                                                                  \
    if (env->url.empty()) GTEST_SKIP() << #url " server not running"

// ---- Plain HTTP ----

TEST(CurlFetcherHttp, FetchesADocumentWithItsHeadTypeAndDate) {
    NEED(www_url);
    fetch_result r = fetch(env->www_url + "/page.html");
    EXPECT_EQ(r.status, FETCH_OK);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.content, "<html><body>page</body></html>");
    EXPECT_TRUE(r.headers.starts_with("HTTP/1.1 200 OK\r\n")) << r.headers;
    EXPECT_NE(r.headers.find("\r\n\r\n"), std::string::npos);
    EXPECT_EQ(r.mime, "text/html");
    // No charset in the head: none is made up, so the page's own declaration can apply.
    EXPECT_EQ(r.charset, "");
    EXPECT_EQ(r.servertime, env->page_mtime);
    EXPECT_TRUE(r.outlinks.empty());
    EXPECT_EQ(r.sidemeta, "");

    fetch_result u = fetch(env->www_url + "/utf8/u.html");
    EXPECT_EQ(u.status, FETCH_OK);
    EXPECT_EQ(u.charset, "utf-8");
    EXPECT_EQ(u.content, "<p>\xc3\xa4</p>");
}

TEST(CurlFetcherHttp, HttpsWithASelfSignedCertificate) {
    NEED(tls_url);
    fetch_result r = fetch(env->tls_url + "/page.html");
    EXPECT_EQ(r.status, FETCH_OK);
    EXPECT_EQ(r.content, "<html><body>page</body></html>");
    EXPECT_EQ(r.servertime, env->page_mtime);
    EXPECT_EQ(fetch(env->tls_url + "/r302").redirect, env->tls_url + "/target.html");
    EXPECT_EQ(fetch(env->tls_url + "/nothing-here").status, FETCH_NOT_FOUND);
}

// The certificate names localhost and 127.0.0.1: reached by the machine's own name it does not
// match, and the failure says why instead of an empty reason.
TEST(CurlFetcherHttp, HttpsHostMismatchSaysWhy) {
    NEED(tls_url);
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    addrinfo hints{}, *found = nullptr;
    hints.ai_family = AF_INET;
    if (name[0] == 0 || std::string(name) == "localhost" ||
        ::getaddrinfo(name, nullptr, &hints, &found) != 0)
        GTEST_SKIP() << "the machine's name does not resolve";
    const bool loopback =
        reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr == htonl(INADDR_LOOPBACK);
    ::freeaddrinfo(found);
    if (!loopback) GTEST_SKIP() << "the machine's name is not 127.0.0.1";
    std::string url = env->tls_url;
    url.replace(url.find("127.0.0.1"), 9, name);
    fetch_result r = fetch(url + "/page.html");
    EXPECT_EQ(r.status, FETCH_FAILED);
    EXPECT_NE(r.error, "");
    EXPECT_NE(r.error.find("certificate"), std::string::npos) << r.error;
}

TEST(CurlFetcherHttp, RequestCarriesUserAgentAndAccept) {
    NEED(helper_url);
    fetch_result r = fetch(env->helper_url + "/echo");
    EXPECT_EQ(r.status, FETCH_OK);
    EXPECT_NE(r.content.find("agent Mozilla/4.0 (compatible; testbot)\n"), std::string::npos);
    EXPECT_NE(r.content.find("accept */*\n"), std::string::npos);
    EXPECT_EQ(r.mime, "text/plain");
    EXPECT_EQ(r.charset, "utf-8");
    // No Last-Modified: the time of the fetch.
    EXPECT_LE(std::abs(r.servertime - static_cast<std::int32_t>(std::time(nullptr))), 60);
}

TEST(CurlFetcherHttp, ResponseCodesBecomeStatuses) {
    NEED(www_url);
    struct row {
        const char* path;
        std::int32_t status;
        const char* error;
    };
    const row rows[] = {
        {"/s300", FETCH_NOT_FOUND, "HTTP status 300: Multiple choices"},
        {"/s304", FETCH_NOT_MODIFIED, ""},
        {"/s400", FETCH_BAD_REQUEST, "HTTP status 400: Bad request"},
        {"/private/secret.txt", FETCH_AUTH_REQUIRED, ""},
        {"/s403", FETCH_FAILED, "HTTP status 403: Forbidden"},
        {"/nothing-here", FETCH_NOT_FOUND, ""},
        {"/s406", FETCH_BAD_REQUEST, "HTTP status 406: Not acceptable"},
        {"/s500", FETCH_SERVER_ERROR, "HTTP status 500: Internal server error"},
        {"/s502", FETCH_SERVER_ERROR, "HTTP status 502: Bad gateway"},
        {"/s503", FETCH_SERVER_ERROR, "HTTP status 503: Service unavailable"},
        {"/r307", FETCH_FAILED, "Unknonw HTTP protocol status 307"},
    };
    for (const row& c : rows) {
        SCOPED_TRACE(c.path);
        fetch_result r = fetch(env->www_url + c.path);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.redirect, "");
    }
}

TEST(CurlFetcherHttp, RedirectsAreReportedNotFollowed) {
    NEED(www_url);
    struct row {
        const char* path;
        const char* code;
        std::string location;
    };
    const row rows[] = {
        {"/r301", "301", env->www_url + "/moved/"},
        {"/r302", "302", env->www_url + "/target.html"},
        {"/r303", "303", "http://elsewhere.invalid/x"},
    };
    for (const row& c : rows) {
        SCOPED_TRACE(c.path);
        fetch_result r = fetch(env->www_url + c.path);
        EXPECT_EQ(r.status, FETCH_REDIRECT);
        EXPECT_EQ(r.redirect, c.location);
        EXPECT_EQ(r.error, std::string("HTTP redirect (") + c.code + ") to " + c.location);
        // The body is nginx's redirect page, not the target.
        EXPECT_EQ(r.content.find("page</body>"), std::string::npos);
    }

    // Python's http.server sends a directory asked for without its slash elsewhere.
    NEED(pyhttp_url);
    fetch_result d = fetch(env->pyhttp_url + "/sub");
    EXPECT_EQ(d.status, FETCH_REDIRECT);
    EXPECT_EQ(d.redirect, "/sub/");
    EXPECT_EQ(fetch(env->pyhttp_url + "/sub/inner.txt").content, "inner");
}

TEST(CurlFetcherHttp, NetworkFailures) {
    // Nothing listens on a port just freed.
    fetch_result refused = fetch("http://127.0.0.1:" + std::to_string(free_port()) + "/");
    EXPECT_EQ(refused.status, FETCH_NO_CONNECTION);
    EXPECT_EQ(refused.error, "");
    // Names under .invalid never resolve.
    EXPECT_EQ(fetch("http://no-such-host.invalid/").status, FETCH_UNRESOLVED);
    // Failed fetches still describe themselves with the defaults.
    EXPECT_EQ(refused.mime, "text/html");
    EXPECT_EQ(refused.charset, "");
    // Schemes the handle does not speak are refused, never fetched.
    EXPECT_EQ(fetch("file:///etc/hostname").status, FETCH_FAILED);
    EXPECT_EQ(fetch("file:///etc/hostname").content, "");
}

TEST(CurlFetcherHttp, HostileHeadIsCut) {
    NEED(helper_url);
    fetch_result r = fetch(env->helper_url + "/flood");
    EXPECT_EQ(r.status, FETCH_FAILED);
    EXPECT_EQ(r.error, "Response head longer than 262144 bytes");
    EXPECT_LE(r.headers.size(), 262144u);
}

// ---- Size limit and early stop ----

TEST(CurlFetcherLimits, DocumentsAreCutAtTheLimit) {
    NEED(www_url);
    request big{env->www_url + "/big.txt"};
    big.limit = 10000;
    fetch_result r = fetch(big);
    EXPECT_EQ(r.status, FETCH_PARTIAL);
    EXPECT_EQ(r.content.size(), 10000u);
    EXPECT_EQ(r.content.substr(0, 7), "line 0\n");
    EXPECT_EQ(r.error, "");

    // A document of exactly the limit is whole.
    request exact{env->www_url + "/exact.txt"};
    exact.limit = 10000;
    fetch_result e = fetch(exact);
    EXPECT_EQ(e.status, FETCH_OK);
    EXPECT_EQ(e.content.size(), 10000u);

    // Under the usual limit a processable type is read to its end.
    fetch_result whole = fetch(env->www_url + "/big.txt");
    EXPECT_EQ(whole.status, FETCH_OK);
    EXPECT_EQ(whole.content.size(), 65536u);
}

TEST(CurlFetcherLimits, UnprocessableTypeStopsAfterTheFirstKilobyte) {
    NEED(www_url);
    fetch_result r = fetch(env->www_url + "/big.png");
    EXPECT_EQ(r.status, FETCH_PARTIAL);
    EXPECT_EQ(r.mime, "image/png");
    EXPECT_GE(r.content.size(), 1024u);
    EXPECT_LT(r.content.size(), 256u * 1024);
    // Below a kilobyte nothing is checked.
    fetch_result small = fetch(env->www_url + "/small.png");
    EXPECT_EQ(small.status, FETCH_OK);
    EXPECT_EQ(small.content.size(), 200u);
}

// ---- Side metadata ----

TEST(CurlFetcherSideMetadata, FetchedBesideTheDocument) {
    NEED(www_url);
    request r{env->www_url + "/page.html"};
    r.sidemeta = true;
    fetch_result with = fetch(r);
    EXPECT_EQ(with.status, FETCH_OK);
    EXPECT_EQ(with.sidemeta, "<metas><meta name=\"k\">v</meta></metas>");
    // The document's own head, type and date are kept.
    EXPECT_EQ(with.content, "<html><body>page</body></html>");
    EXPECT_EQ(with.mime, "text/html");
    EXPECT_EQ(with.servertime, env->page_mtime);
    EXPECT_EQ(with.headers.find("<metas>"), std::string::npos);

    // Not asked for, or during a cookie log-in: not fetched.
    r.sidemeta = false;
    EXPECT_EQ(fetch(r).sidemeta, "");
}

TEST(CurlFetcherSideMetadata, MissingFileLeavesTheDocumentAlone) {
    for (const std::string* base : {&env->www_url, &env->pyhttp_url}) {
        if (base->empty()) continue;
        SCOPED_TRACE(*base);
        request r{*base + "/index.html"};
        r.sidemeta = true;
        fetch_result f = fetch(r);
        EXPECT_EQ(f.status, FETCH_OK);
        EXPECT_EQ(f.sidemeta, ""); // the 404 page is not side metadata
        EXPECT_EQ(f.content, "<html><body>index</body></html>");
        EXPECT_EQ(f.error, "");
    }
    // A failed document gets no side metadata.
    NEED(www_url);
    request gone{env->www_url + "/nothing-here"};
    gone.sidemeta = true;
    EXPECT_EQ(fetch(gone).sidemeta, "");
}

// ---- Authentication ----

std::string source_xml(AuthType type, const CookieAuthParams& params = {}) {
    SourceConfiguration s;
    s.Name = "src";
    s.Type = type;
    s.CookieParams = params;
    std::string xml;
    EXPECT_TRUE(source_to_xml(s, xml));
    return xml;
}

std::string auth_xml(const std::string& user, const std::string& password,
                     std::vector<ParamValue> values = {}) {
    AuthConfiguration a;
    a.Username = user;
    a.Password = password;
    a.ParamValues = std::move(values);
    std::string xml;
    EXPECT_TRUE(auth_to_xml(a, xml));
    return xml;
}

TEST(CurlFetcherAuth, BasicAuthAgainstNginx) {
    NEED(www_url);
    request r{env->www_url + "/private/secret.txt"};
    r.source_xml = source_xml(AUTH_BASIC);
    r.auth_xml = auth_xml("alice", "open sesame");
    fetch_result ok = fetch(r);
    EXPECT_EQ(ok.status, FETCH_OK);
    EXPECT_EQ(ok.content, "the secret");
    // libcurl asks first and answers the challenge; the head is the final response's.
    EXPECT_TRUE(ok.headers.starts_with("HTTP/1.1 200")) << ok.headers;
    EXPECT_EQ(ok.mime, "text/plain");

    r.auth_xml = auth_xml("alice", "wrong");
    EXPECT_EQ(fetch(r).status, FETCH_AUTH_REQUIRED);
    // Without a source record no credentials are sent.
    r.auth_xml = auth_xml("alice", "open sesame");
    r.source_xml.clear();
    EXPECT_EQ(fetch(r).status, FETCH_AUTH_REQUIRED);
    // Unreadable records count as no authentication.
    r.source_xml = source_xml(AUTH_BASIC);
    r.auth_xml = "<auth><broken";
    EXPECT_EQ(fetch(r).status, FETCH_AUTH_REQUIRED);
}

CookieAuthParams login_params(CookieActionType action, std::vector<std::string> pre_urls) {
    CookieAuthParams p;
    p.Action = action;
    p.Params = {{"user", "", COOKIE_USERNAME},
                {"pass", "", COOKIE_PASSWORD},
                {"lang", "en", COOKIE_OTHER},
                {"mode", "plain text", COOKIE_OTHER}};
    p.PreUrls = std::move(pre_urls);
    return p;
}

TEST(CurlFetcherAuth, CookieLogInByPost) {
    NEED(helper_url);
    request r{env->helper_url + "/login"};
    r.cookie_login = true;
    r.sidemeta = true;
    r.source_xml = source_xml(AUTH_COOKIE, login_params(COOKIE_POST, {env->helper_url + "/pre"}));
    // The auth record's value of "lang" wins over the source's own.
    r.auth_xml = auth_xml("alice", "s&cret =%", {{"lang", "de"}});
    fetch_result f = fetch(r);
    EXPECT_EQ(f.status, FETCH_OK) << f.content;
    EXPECT_NE(f.content.find("method POST\n"), std::string::npos) << f.content;
    EXPECT_NE(f.content.find("form user=alice&pass=s%26cret%20%3D%25&lang=de&mode=plain%20text\n"),
              std::string::npos)
        << f.content;
    // The pre-URL's cookie went along with the form, through the cookie engine.
    EXPECT_NE(f.content.find("cookie pre=1\n"), std::string::npos) << f.content;
    // The log-in's own cookie is in the head, the pre-URL's is added after it.
    EXPECT_NE(f.headers.find("Set-Cookie: session=abc123; Path=/\r\n"), std::string::npos);
    EXPECT_TRUE(f.headers.ends_with("Set-Cookie: pre=1; Path=/\r\n")) << f.headers;
    // Neither the pre-URL's body nor side metadata during a log-in.
    EXPECT_EQ(f.content.find("pre\n"), std::string::npos);
    EXPECT_EQ(f.sidemeta, "");
}

TEST(CurlFetcherAuth, CookieLogInByGet) {
    NEED(helper_url);
    request r{env->helper_url + "/login"};
    r.cookie_login = true;
    r.source_xml = source_xml(AUTH_COOKIE, login_params(COOKIE_GET, {}));
    r.auth_xml = auth_xml("alice", "s&cret =%");
    fetch_result f = fetch(r);
    EXPECT_EQ(f.status, FETCH_OK) << f.content;
    EXPECT_NE(f.content.find("method GET\npath /login?user=alice&pass=s%26cret%20%3D%25&lang=en&"
                             "mode=plain%20text\n"),
              std::string::npos)
        << f.content;
    EXPECT_NE(f.headers.find("Set-Cookie: session=abc123"), std::string::npos);
    EXPECT_NE(f.content.find("cookie None\n"), std::string::npos);

    // A log-in URL with a query of its own gets the form after an "&".
    r.url = env->helper_url + "/login?x=1";
    fetch_result q = fetch(r);
    EXPECT_NE(q.content.find("path /login?x=1&user=alice&"), std::string::npos) << q.content;
    EXPECT_EQ(q.status, FETCH_OK);

    // A wrong password: the server refuses, no session cookie.
    r.url = env->helper_url + "/login";
    r.auth_xml = auth_xml("alice", "nope");
    fetch_result bad = fetch(r);
    EXPECT_EQ(bad.status, FETCH_FAILED);
    EXPECT_EQ(bad.headers.find("session="), std::string::npos);
}

TEST(CurlFetcherAuth, CookieSentAfterLogIn) {
    NEED(helper_url);
    request r{env->helper_url + "/echo"};
    r.cookie = "session=abc123";
    r.source_xml = source_xml(AUTH_COOKIE, login_params(COOKIE_POST, {}));
    r.auth_xml = auth_xml("alice", "x");
    fetch_result f = fetch(r);
    EXPECT_EQ(f.status, FETCH_OK);
    EXPECT_NE(f.content.find("cookie session=abc123\n"), std::string::npos) << f.content;
    EXPECT_NE(f.content.find("method GET\n"), std::string::npos);
    // Without the cookie type the cookie argument is not sent.
    r.source_xml = source_xml(AUTH_NONE);
    EXPECT_NE(fetch(r).content.find("cookie None\n"), std::string::npos);
}

// ---- Proxy ----

TEST(CurlFetcherProxy, BypassDecision) {
    const std::set<std::string> bypass = {"domain", "Intra.Example", "host1"};
    struct row {
        const char* host;
        bool direct;
    };
    const row rows[] = {
        {"a.b.domain", true},     {"domain", true},
        {"b.domain", true},       {"domain.org", false},
        {"xdomain", false},       {"www.intra.example", true},
        {"INTRA.EXAMPLE", true},  {"host1", true},
        {"host1.other", false},   {"", false},
        {"elsewhere.org", false},
    };
    for (const row& c : rows)
        EXPECT_EQ(host_bypasses_proxy(c.host, bypass), c.direct) << c.host;
}

TEST(CurlFetcherProxy, RequestsGoThroughTheProxyUnlessBypassed) {
    NEED(helper_url);
    NEED(www_url);
    const std::string proxy = "HTTP_PROXY=127.0.0.1:" + std::to_string(env->helper.port) + "\n";
    // The target name needs no resolving: the proxy gets the whole URL.
    fetch_result f = fetch_under(proxy + "HTTP_NOPROXY=other.example intranet.example\n",
                                 "http://docs.outside.invalid/a/b?c=d");
    EXPECT_EQ(f.status, FETCH_OK);
    EXPECT_TRUE(f.content.starts_with("proxied http://docs.outside.invalid/a/b?c=d\n"))
        << f.content;
    EXPECT_NE(f.content.find("proxy-auth None\n"), std::string::npos);

    // 127.0.0.1 lies in "0.0.1" and in "0.1" by the label rule: direct.
    for (const char* names : {"0.0.1", "x.org 0.1"}) {
        fetch_result g =
            fetch_under(proxy + "HTTP_NOPROXY=" + names + "\n", env->www_url + "/index.html");
        EXPECT_EQ(g.status, FETCH_OK) << names;
        EXPECT_EQ(g.content, "<html><body>index</body></html>") << names;
    }
    EXPECT_TRUE(fetch_under(proxy + "HTTP_NOPROXY=127.0.0.2\n", env->www_url + "/index.html")
                    .content.starts_with("proxied " + env->www_url + "/index.html"));
}

TEST(CurlFetcherProxy, ProxyCredentials) {
    NEED(helper_url);
    const std::string proxy = "HTTP_PROXY=127.0.0.1:" + std::to_string(env->helper.port) + "\n";
    const std::string url = "http://x.invalid/needs-proxy-auth";
    fetch_result f = fetch_under(proxy + "HTTP_PROXYUSERPWD=pu:p:w\n", url);
    EXPECT_EQ(f.status, FETCH_OK) << f.headers;
    // The password holds a colon: only the first one separates the user.
    EXPECT_NE(f.content.find("proxy-auth Basic cHU6cDp3\n"), std::string::npos) << f.content;
    EXPECT_TRUE(f.headers.starts_with("HTTP/1.1 200")) << f.headers;
    EXPECT_EQ(f.headers.find("407"), std::string::npos) << f.headers;

    fetch_result g = fetch_under(proxy, url);
    EXPECT_EQ(g.status, FETCH_FAILED);
    EXPECT_EQ(g.error, "Unknonw HTTP protocol status 407");
}

TEST(CurlFetcherProxy, Tunnel) {
    NEED(helper_url);
    const std::string proxy = "HTTP_PROXY=127.0.0.1:" + std::to_string(env->helper.port) + "\n";
    const std::string url = "http://tunnel.invalid:8080/t";
    fetch_result f = fetch_under(proxy + "HTTP_PROXYTUNNEL=YES\n", url);
    EXPECT_EQ(f.status, FETCH_OK) << f.headers;
    EXPECT_EQ(f.content, "tunneled tunnel.invalid:8080 /t\n");
    // The proxy's own answer to CONNECT is not the document's head.
    EXPECT_EQ(f.headers.find("Connection established"), std::string::npos) << f.headers;
    EXPECT_EQ(f.mime, "text/plain");

    // Only the exact value "YES" asks for a tunnel.
    EXPECT_TRUE(fetch_under(proxy + "HTTP_PROXYTUNNEL=yes\n", url).content.starts_with("proxied http://tunnel.invalid:8080/t\n"));
}

TEST(CurlFetcherProxy, EnvironmentProxyIsNotUsed) {
    NEED(www_url);
    const std::string dead = "http://127.0.0.1:" + std::to_string(free_port());
    ::setenv("http_proxy", dead.c_str(), 1);
    ::setenv("HTTPS_PROXY", dead.c_str(), 1);
    ::setenv("ALL_PROXY", dead.c_str(), 1);
    fetch_result f = fetch(env->www_url + "/index.html");
    ::unsetenv("http_proxy");
    ::unsetenv("HTTPS_PROXY");
    ::unsetenv("ALL_PROXY");
    EXPECT_EQ(f.status, FETCH_OK);
    EXPECT_EQ(f.content, "<html><body>index</body></html>");
}

// ---- Web-search pseudo-schemes (never sent to the internet) ----

TEST(CurlFetcherSearch, RequestUrls) {
    EXPECT_EQ(web_search_url(no_config(), URI("google:trawl nest")),
              "http://www.google.com/search?q=trawl%20nest");
    EXPECT_EQ(web_search_url(no_config(), URI("msn:abc%41")),
              "http://search.msn.com/results.aspx?q=abc%41");
    EXPECT_EQ(web_search_url(no_config(), URI("http://h/x")), "");
    config_file bases("GOOGLE_SEARCH_BASE=http://127.0.0.1:9\nMSN_SEARCH_BASE=http://m.local\n");
    EXPECT_EQ(web_search_url(bases.get(), URI("google:x")), "http://127.0.0.1:9/search?q=x");
    EXPECT_EQ(web_search_url(bases.get(), URI("msn:y")), "http://m.local/results.aspx?q=y");
}

TEST(CurlFetcherSearch, FetchedFromTheConfiguredBase) {
    NEED(helper_url);
    config_file bases("GOOGLE_SEARCH_BASE=" + env->helper_url +
                      "\nMSN_SEARCH_BASE=" + env->helper_url + "\n");
    request g{"google:two words"};
    g.cfg = &bases.get();
    fetch_result f = fetch(g);
    EXPECT_EQ(f.status, FETCH_OK);
    EXPECT_NE(f.content.find("path /search?q=two%20words\n"), std::string::npos) << f.content;
    EXPECT_NE(f.content.find("agent Mozilla/4.0\n"), std::string::npos) << f.content;
    // No head is read for these schemes.
    EXPECT_EQ(f.headers, "");
    EXPECT_EQ(f.mime, "text/html");

    request m{"msn:word"};
    m.cfg = &bases.get();
    EXPECT_NE(fetch(m).content.find("path /results.aspx?q=word\n"), std::string::npos);
}

// ---- FTP ----

TEST(CurlFetcherFtp, FetchesAFileWithoutHead) {
    NEED(ftp_url);
    request r{env->ftp_url + "/readme.txt"};
    r.sidemeta = true;
    const std::int32_t before = static_cast<std::int32_t>(std::time(nullptr));
    fetch_result f = fetch(r);
    EXPECT_EQ(f.status, FETCH_OK) << f.error;
    EXPECT_EQ(f.content, "hello over ftp\n");
    EXPECT_EQ(f.headers, "");
    // Untyped: the parser dispatch probes the content, then the name.
    EXPECT_EQ(f.mime, "");
    EXPECT_EQ(f.charset, "");
    EXPECT_GE(f.servertime, before);
    EXPECT_EQ(f.sidemeta, "<metas/>");
    EXPECT_TRUE(f.outlinks.empty());

    // Paths are taken from the server's root, whatever the log-in folder.
    EXPECT_EQ(fetch(env->ftp_url + "/pub/deeper/x.txt").content, "x");
    EXPECT_EQ(fetch(env->ftp_url + "/missing.txt").status, FETCH_FAILED);
}

TEST(CurlFetcherFtp, DirectoryListingBecomesOutlinks) {
    NEED(ftp_url);
    request r{env->ftp_url + "/"};
    r.base_score = 999999;
    fetch_result f = fetch(r);
    ASSERT_EQ(f.status, FETCH_LISTING) << f.error;
    const std::string u = env->ftp_url + "/";
    const outlink_list want = {
        {u + "a%20b%23c.txt", 1000000},
        {u + "link/", 1000000}, // a symbolic link may be either:
                                // the directory first
        {u + "link", 1000000},
        {u + "pub/", 1000000},
        {u + "readme.txt", 1000000},
        {u + "readme.txt.tnm", 1000000},
    };
    outlink_list got = f.outlinks;
    EXPECT_EQ(got, want) << f.content;

    // The escaped links lead back to the entries.
    EXPECT_EQ(fetch(u + "a%20b%23c.txt").content, "odd name");
    fetch_result sub = fetch(u + "pub/");
    EXPECT_EQ(sub.status, FETCH_LISTING);
    ASSERT_EQ(sub.outlinks.size(), 1u);
    EXPECT_EQ(sub.outlinks[0], outlink(u + "pub/deeper/", 500001));
    // A directory without its slash is fetched as a file and fails.
    EXPECT_EQ(fetch(env->ftp_url + "/pub").status, FETCH_FAILED);
}

TEST(CurlFetcherFtp, LogInWithBasicCredentials) {
    NEED(ftp_url);
    request r{env->ftp_url + "/readme.txt"};
    r.source_xml = source_xml(AUTH_BASIC);
    r.auth_xml = auth_xml("bob", "ftp pass");
    EXPECT_EQ(fetch(r).content, "hello over ftp\n");
    r.auth_xml = auth_xml("bob", "wrong");
    fetch_result bad = fetch(r);
    EXPECT_EQ(bad.status, FETCH_FAILED);
    EXPECT_EQ(bad.content, "");
}

TEST(CurlFetcherFtp, ListingLines) {
    // What the fetcher makes of listing text: skipped lines, line ends, names that are not
    // entries, and a listing cut inside its last line.
    const std::string listing = "total 3\r\n"
                                "drwxr-xr-x 2 u g 4096 Mar 1 2019 .\r\n"
                                "drwxr-xr-x 2 u g 4096 Mar 1 2019 ..\r\n"
                                "-rw-r--r-- 1 u g 5 Mar 1 2019 50% off?.txt\r\n"
                                "garbage line\n"
                                "+/,\tfolder\n"
                                "-rw-r--r-- 1 u g 5 Mar 1 2019 \n"
                                "-rw-r--r-- 1 u g 5 Mar 1 2019 last-one-cut-he";
    outlink_list whole;
    ftp_listing_outlinks("ftp://h/d/", listing, false, 7, whole);
    const outlink_list want_whole = {{"ftp://h/d/50%25%20off%3F.txt", 8},
                                     {"ftp://h/d/folder/", 8},
                                     {"ftp://h/d/last-one-cut-he", 8}};
    EXPECT_EQ(whole, want_whole);
    outlink_list cut;
    ftp_listing_outlinks("ftp://h/d/", listing, true, 7, cut);
    EXPECT_EQ(cut, outlink_list(want_whole.begin(), want_whole.end() - 1));
}

// ---- Dispatch and pure pieces ----

TEST(CurlFetcherDispatch, HttpSchemesAndBareUrlsReachTheCurlFetcher) {
    NEED(www_url);
    fetcher f(no_config(), default_limit);
    const std::string bare = env->www_url.substr(7) + "/index.html"; // no scheme: http
    for (const std::string& url :
         {env->www_url + "/index.html", bare, "HTTP://" + env->www_url.substr(7) + "/index.html"}) {
        fetch_result r;
        f.fetch({.url = url, .user_agent = "agent"}, r);
        EXPECT_EQ(r.status, FETCH_OK) << url;
        EXPECT_EQ(r.content, "<html><body>index</body></html>") << url;
    }
}

TEST(CurlFetcherStatus, CurlCodes) {
    EXPECT_EQ(fetch_status_of_curl_code(0), FETCH_OK);
    EXPECT_EQ(fetch_status_of_curl_code(6), FETCH_UNRESOLVED);
    EXPECT_EQ(fetch_status_of_curl_code(7), FETCH_NO_CONNECTION);
    EXPECT_EQ(fetch_status_of_curl_code(18), FETCH_PARTIAL);
    EXPECT_EQ(fetch_status_of_curl_code(23), FETCH_PARTIAL);
    EXPECT_EQ(fetch_status_of_curl_code(28), FETCH_TIMEOUT);
    for (int other : {1, 3, 5, 35, 47, 56, 67, 78})
        EXPECT_EQ(fetch_status_of_curl_code(other), FETCH_FAILED) << other;
}

TEST(CurlFetcherStatus, ResponseCodeZeroAndTwoHundredKeepTheStatus) {
    http_request head("HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\n");
    for (long code : {0L, 200L}) {
        fetch_result r;
        r.status = FETCH_PARTIAL;
        apply_http_response_code(code, head, r);
        EXPECT_EQ(r.status, FETCH_PARTIAL);
        EXPECT_EQ(r.error, "");
        EXPECT_EQ(r.redirect, "");
    }
    fetch_result r;
    apply_http_response_code(302, head, r);
    EXPECT_EQ(r.redirect, "/x");
    EXPECT_EQ(r.error, "HTTP redirect (302) to /x");
}

} // namespace
} // namespace lumbrake
