// The HTTP front end against real clients on 127.0.0.1: the curl program, libcurl and raw
// sockets for what a well-behaved client never sends.
#include "soap/soap_server.h"
#include "httpfront/httpserver.h"
#include "httpfront/httpstate.h"
#include "httpfront/webservices.h"
#include "util/md5.h"
#include "../support/http_client.h"
#include "../support/http_front.h"
#include "../support/scratch.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace lumbrake;

namespace {

using tn_test::http_exchange;
using tn_test::http_exchange_in_pieces;
using tn_test::status_line;

// Runs the curl program; its output (head and body with -i) and the status via -w.
std::string run_curl(const std::string& args) {
    return tn_test::command_output("curl -s -S -i --max-time 20 " + args + " 2>&1");
}

TEST(ListenAddress, Forms) {
    struct Case {
        const char* text;
        bool valid;
        const char* address; // dotted, or "*" for any
        int port;
    } cases[] = {
        {"", true, "*", 2200},
        {"*", true, "*", 2200},
        {"2200", true, "*", 2200},
        {"8080", true, "*", 8080},
        {"*:9000", true, "*", 9000},
        {"10.1.2.3", true, "10.1.2.3", 2200},
        {"10.1.2.3:81", true, "10.1.2.3", 81},
        {"*:80x", false, "", 0},
        {"1.2.3:80", false, "", 0},
        {"1.2.3.4.5:80", false, "", 0},
        {"1.2.3.256:80", false, "", 0},
        {":80", false, "", 0},
        {"host:80", false, "", 0},
        {"*:70000", false, "", 0},
        {"abc", false, "", 0},
    };
    for (const Case& c : cases) {
        std::uint32_t address = 0;
        std::uint16_t port = 0;
        bool ok = parse_listen_address(c.text, address, port);
        EXPECT_EQ(ok, c.valid) << c.text;
        if (!ok || !c.valid) continue;
        EXPECT_EQ(port, c.port) << c.text;
        char dotted[32];
        inet_ntop(AF_INET, &address, dotted, sizeof dotted);
        EXPECT_EQ(std::string(c.address) == "*" ? "0.0.0.0" : c.address, std::string(dotted))
            << c.text;
    }
}

TEST(BasicCredentials, Decoding) {
    std::string name, password;
    EXPECT_TRUE(parse_basic_credentials("BASIC Ym9iOnB3OmV4dHJh", name, password));
    EXPECT_EQ(name, "bob");
    EXPECT_EQ(password, "pw:extra"); // only the first ':' splits
    EXPECT_TRUE(parse_basic_credentials("basic Ym9i\r\nOnB3", name, password)); // blanks skipped
    EXPECT_EQ(name, "bob");
    EXPECT_FALSE(parse_basic_credentials("Basic Ym9i", name, password)); // "bob": no ':'
    EXPECT_FALSE(parse_basic_credentials("Digest username=\"bob\"", name, password));
    EXPECT_FALSE(parse_basic_credentials("Basic", name, password));
    EXPECT_FALSE(
        parse_basic_credentials("Basic " + std::string(5000, 'A') + "Ojo=", name, password));
}

TEST(RequestState, ExpectsContinue) {
    httpcontext context;
    struct Case {
        const char* head;
        bool expects;
    } cases[] = {
        {"POST /soap HTTP/1.1\r\nExpect: 100-Continue\r\n\r\n", true},
        {"POST /soap HTTP/1.0\r\nExpect: 100-continue\r\n\r\n", false},
        {"POST /soap HTTP/1.1\r\nExpect: 100-continue-ish\r\n\r\n", false},
        {"POST /soap HTTP/1.1\r\n\r\n", false},
    };
    for (const Case& c : cases) {
        httpstate state(-1, c.head, context);
        state.expects_continue();
        EXPECT_EQ(state.expects_continue_flag, c.expects) << c.head;
    }
}

// A handler of the test namespace: Who answers the identity the router put in the context.
class TestHandler : public EasySoap::SOAPDispatchHandler<TestHandler> {
public:
    explicit TestHandler(httpcontext& context) : context_(context) {
        DispatchMethod("Who", "urn:test", &TestHandler::who);
        DispatchMethod("Sleep", "urn:test", &TestHandler::sleep);
        DispatchMethod("Fail", "urn:test", &TestHandler::fail);
    }
    TestHandler* GetTarget(const EasySoap::SOAPEnvelope&) override { return this; }

    static inline std::atomic<int> sleeping{0};
    static inline std::atomic<int> max_sleeping{0};
    static inline std::atomic<std::string*> last_action{nullptr};

private:
    void who(const EasySoap::SOAPMethod&, EasySoap::SOAPMethod& response) {
        std::string groups;
        for (const auto& g : context_.groups)
            groups += g + ";";
        response.AddParameter("User") << context_.user;
        response.AddParameter("Admin") << context_.admin;
        response.AddParameter("Groups") << groups;
    }
    void sleep(const EasySoap::SOAPMethod&, EasySoap::SOAPMethod& response) {
        int now = ++sleeping;
        int seen = max_sleeping.load();
        while (now > seen && !max_sleeping.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        --sleeping;
        response.AddParameter("Done") << true;
    }
    void fail(const EasySoap::SOAPMethod&, EasySoap::SOAPMethod&) {
        throw EasySoap::SOAPException("AccessViolation");
    }
    httpcontext& context_;
};

std::string envelope(const std::string& method, const std::string& ns = "urn:test") {
    return "<?xml version=\"1.0\"?><SOAP-ENV:Envelope "
           "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body><m:" +
           method + " xmlns:m=\"" + ns + "\"/></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

class HttpFront : public ::testing::Test {
protected:
    void SetUp() override { start({}); }

    void start(const std::vector<std::string>& extra, int threads = 2, int timeout = 5,
               int head_deadline = HTTP_DEFAULT_HEAD_TIMEOUT_SECONDS) {
        // A folder left by an earlier run or start would hold its files: emptied.
        dir_ = tn_test::test_scratch("httpfront").string();
        std::filesystem::create_directories(dir_ + "/bin");
        config_file_ = dir_ + "/trawlnest.conf";
        write_config(extra);
        http_hooks hooks;
        hooks.config_file = config_file_;
        tn_test::open_db_per_thread(hooks);
        hooks.load_login = [](sqlite3*, LoginConfiguration& login) {
            login.add_user("bob", "bobpw", false, {"Staff", "All Users"});
            login.add_user("admin", "storedpw", true, {}); // named like HTTP_USER
            return true;
        };
        services_.search_handler = [](httpcontext& context) {
            return std::make_unique<TestHandler>(context);
        };
        server_.reset();
        server_ = tn_test::start_http_front(threads, hooks, services_, timeout, head_deadline);
        port_ = server_->bound_port();
        ASSERT_NE(port_, 0);
    }

    void write_config(const std::vector<std::string>& extra) {
        tn_test::write_deploy_config(config_file_, dir_, extra);
    }

    std::string url(const std::string& path) {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    std::string post_soap(const std::string& body, const std::string& more = {}) {
        std::string file = dir_ + "/body.xml";
        std::ofstream(file, std::ios::binary) << body;
        return run_curl(more + " -H 'Content-Type: text/xml; charset=utf-8' -H 'SOAPAction: \"x\"'" +
                        " --data-binary @" + file + " " + url("/soap"));
    }

    std::string dir_, config_file_;
    http_services services_;
    std::unique_ptr<httpserver> server_;
    int port_ = 0;
};

const std::string kAdminHash = md5_hex("secret");

// What every SOAP request carries: its action and an XML body type.
#define SOAP_HEADERS "Content-Type: text/xml\r\nSOAPAction: x\r\n"

TEST_F(HttpFront, WithoutHttpUserEveryRequestRunsAsAdministrator) {
    std::string answer = post_soap(envelope("Who"), "-u nobody:wrong");
    EXPECT_NE(answer.find("HTTP/1.1 200 OK"), std::string::npos) << answer;
    EXPECT_NE(answer.find("<User xsi:type=\"xsd:string\"/>"), std::string::npos) << answer;
    EXPECT_NE(answer.find(">true</Admin>"), std::string::npos) << answer;
    EXPECT_NE(answer.find("Connection: close"), std::string::npos);
    EXPECT_NE(answer.find("Server: lumbrake/2.0.2"), std::string::npos);
}

TEST_F(HttpFront, BasicAuthentication) {
    write_config({"HTTP_USER=root", "HTTP_MD5PASS=" + kAdminHash}); // read anew per request
    struct Case {
        const char* credentials;
        const char* status;
        const char* user;
    } cases[] = {
        {"-u root:secret", "HTTP/1.1 200 OK", ">root</User>"},
        {"-u root:wrong", "HTTP/1.1 401 Authorization required", nullptr},
        {"-u bob:bobpw", "HTTP/1.1 200 OK", ">bob</User>"},
        {"-u bob:secret", "HTTP/1.1 401", nullptr},
        {"-u Bob:bobpw", "HTTP/1.1 401", nullptr}, // names match exactly
        {"", "HTTP/1.1 401", nullptr},
        {"-H 'Authorization: bAsIc cm9vdDpzZWNyZXQ='", "HTTP/1.1 200 OK", ">root</User>"},
        {"-H 'Authorization: Digest username=\"root\"'", "HTTP/1.1 401", nullptr},
        {"-H 'Authorization: Basic cm9vdHNlY3JldA=='", "HTTP/1.1 401", nullptr}, // no ':'
    };
    for (const Case& c : cases) {
        std::string answer = post_soap(envelope("Who"), c.credentials);
        EXPECT_EQ(answer.rfind(c.status, 0), 0u) << c.credentials << "\n" << answer;
        if (c.user) {
            EXPECT_NE(answer.find(c.user), std::string::npos) << answer;
        } else {
            EXPECT_NE(answer.find("WWW-Authenticate: Basic realm=\"trawlnest\""),
                      std::string::npos);
        }
    }
    // The login user's identity reaches the service.
    std::string bob = post_soap(envelope("Who"), "-u bob:bobpw");
    EXPECT_NE(bob.find(">false</Admin>"), std::string::npos) << bob;
    EXPECT_NE(bob.find(">Staff;All Users;</Groups>"), std::string::npos) << bob;
}

TEST_F(HttpFront, LoginUserNamedLikeAdministratorUsesItsOwnHash) {
    write_config({"HTTP_USER=admin", "HTTP_MD5PASS=" + kAdminHash});
    EXPECT_EQ(post_soap(envelope("Who"), "-u admin:secret").rfind("HTTP/1.1 401", 0), 0u);
    EXPECT_EQ(post_soap(envelope("Who"), "-u admin:storedpw").rfind("HTTP/1.1 200", 0), 0u);
}

TEST_F(HttpFront, AdministratorWithoutPasswordHashCannotLogIn) {
    write_config({"HTTP_USER=root"});
    EXPECT_EQ(post_soap(envelope("Who"), "-u root:").rfind("HTTP/1.1 401", 0), 0u);
}

TEST_F(HttpFront, ContinueAndBodyLimits) {
    write_config({"HTTP_USER=root", "HTTP_MD5PASS=" + kAdminHash});
    // curl waits for the interim answer of a large upload.
    std::string body = envelope("Who");
    body.resize(200000, ' ');
    std::string answer =
        post_soap(body, "-u root:secret -H 'Expect: 100-continue' --expect100-timeout 10");
    EXPECT_NE(answer.find("HTTP/1.1 100 continue"), std::string::npos) << answer.substr(0, 300);
    EXPECT_NE(answer.find("HTTP/1.1 200 OK"), std::string::npos);

    const std::string auth = "Authorization: Basic cm9vdDpzZWNyZXQ=\r\n";
    // One byte above the limit, expecting 100-continue: refused without reading the body.
    std::string over = "POST /soap HTTP/1.1\r\n" SOAP_HEADERS "Host: x\r\n" + auth +
                       "Content-Length: 16777217\r\nExpect: 100-continue\r\n\r\n";
    EXPECT_EQ(http_exchange(port_, over), "HTTP/1.1 417 Document too large\r\n\r\n");
    // Without the Expect header the body is read and dropped first.
    std::string big(16777217, 'x');
    std::string answer400 = http_exchange(port_, "POST /soap HTTP/1.1\r\n" SOAP_HEADERS + auth +
                                                     "Content-Length: 16777217\r\n\r\n" + big);
    EXPECT_EQ(answer400, "HTTP/1.1 400 Document too large\r\n\r\n");
    // Exactly the limit is accepted (the envelope is then malformed: a SOAP fault, 500).
    big.resize(16777216);
    std::string fits = http_exchange(port_, "POST /soap HTTP/1.1\r\n" SOAP_HEADERS + auth +
                                                "Content-Length: 16777216\r\n\r\n" + big);
    EXPECT_EQ(fits.rfind("HTTP/1.1 500 OK", 0), 0u) << fits.substr(0, 200);
    // HTTP/1.0 gets no interim answer.
    std::string env = envelope("Who");
    std::string old = http_exchange(
        port_, "POST /soap HTTP/1.0\r\n" SOAP_HEADERS + auth + "Expect: 100-continue\r\n" +
                   "Content-Length: " + std::to_string(env.size()) + "\r\n\r\n" + env);
    EXPECT_EQ(old.rfind("HTTP/1.1 200 OK", 0), 0u) << old;
    // A length that is no number is refused instead of being read as "until close".
    EXPECT_EQ(
        http_exchange(port_, "POST /soap HTTP/1.1\r\n" SOAP_HEADERS + auth + "Content-Length: -1\r\n\r\n" + env),
        "HTTP/1.1 400 Bad request\r\n\r\n");
}

TEST_F(HttpFront, SoapTransport) {
    // No Content-Length: the body runs until the client closes its side.
    std::string env = envelope("Who");
    std::string answer =
        http_exchange(port_, "POST /soap HTTP/1.1\r\nContent-Type: text/xml\r\nSOAPAction: x\r\n\r\n" + env);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK", 0), 0u) << answer;
    EXPECT_NE(answer.find("Content-Type: text/xml; charset=utf-8"), std::string::npos);

    // Deflate: a zlib-format body whose length is the compressed length.
    std::string deflated =
        http_exchange(port_, "POST /soap HTTP/1.1\r\n" SOAP_HEADERS "Accept-Encoding: gzip, deflate\r\n"
                             "Content-Length: " +
                                 std::to_string(env.size()) + "\r\n\r\n" + env);
    std::size_t head_end = deflated.find("\r\n\r\n");
    ASSERT_NE(head_end, std::string::npos);
    std::string head = deflated.substr(0, head_end);
    std::string body = deflated.substr(head_end + 4);
    EXPECT_NE(head.find("Content-Encoding: deflate"), std::string::npos);
    EXPECT_NE(head.find("Content-Length: " + std::to_string(body.size())), std::string::npos);
    std::vector<Bytef> plain(100000);
    uLongf plain_size = plain.size();
    ASSERT_EQ(uncompress(plain.data(), &plain_size, reinterpret_cast<const Bytef*>(body.data()),
                         body.size()),
              Z_OK);
    EXPECT_NE(std::string(reinterpret_cast<char*>(plain.data()), plain_size).find("WhoResponse"),
              std::string::npos);

    // libcurl decodes what it asked for.
    std::string via_curl = post_soap(env, "--compressed");
    EXPECT_NE(via_curl.find("WhoResponse"), std::string::npos) << via_curl;

    // A fault is status 500 with the reason OK; another namespace is not our method.
    EXPECT_EQ(post_soap(envelope("Fail")).rfind("HTTP/1.1 500 OK", 0), 0u);
    std::string other = post_soap(envelope("Who", "urn:other"));
    EXPECT_EQ(other.rfind("HTTP/1.1 500 OK", 0), 0u);
    EXPECT_NE(other.find("Fault"), std::string::npos);
}

// Deflated answers come from a deflate state each request thread keeps: answers in a row, of
// other sizes, on the pool's two threads, are each the very bytes compress() writes for them.
TEST_F(HttpFront, DeflatedAnswersInARow) {
    for (const char* method : {"Who", "Fail", "Who", "Fail", "Who", "Who"}) {
        std::string env = envelope(method);
        std::string answer = http_exchange(
            port_, "POST /soap HTTP/1.1\r\n" SOAP_HEADERS "Accept-Encoding: deflate\r\n"
                   "Content-Length: " + std::to_string(env.size()) + "\r\n\r\n" + env);
        std::size_t head_end = answer.find("\r\n\r\n");
        ASSERT_NE(head_end, std::string::npos) << method;
        std::string body = answer.substr(head_end + 4);
        std::vector<Bytef> plain(100000);
        uLongf plain_size = plain.size();
        ASSERT_EQ(uncompress(plain.data(), &plain_size,
                             reinterpret_cast<const Bytef*>(body.data()), body.size()),
                  Z_OK)
            << method;
        std::vector<Bytef> again(compressBound(plain_size));
        uLongf again_size = again.size();
        ASSERT_EQ(compress(again.data(), &again_size, plain.data(), plain_size), Z_OK);
        EXPECT_EQ(body, std::string(reinterpret_cast<char*>(again.data()), again_size)) << method;
    }
}

TEST_F(HttpFront, RoutingAndSeams) {
    // A query string makes /soap another path: no service takes it here.
    EXPECT_EQ(run_curl(url("/soap?x=1")).rfind("HTTP/1.1 404 File not found", 0), 0u);
    EXPECT_EQ(run_curl(url("/")).rfind("HTTP/1.1 404 File not found", 0), 0u);
    std::string research = run_curl("-H 'Content-Type: text/xml' -H 'SOAPAction: x' "
                                    "--data-binary x " +
                                    url("/research"));
    EXPECT_EQ(research.rfind("HTTP/1.1 501 Not Implemented", 0), 0u) << research;
    // Garbage is a bad request.
    EXPECT_EQ(http_exchange(port_, "HELLO\r\n\r\n").rfind("HTTP/1.1 400 Bad request", 0), 0u);
    // Keep-alive is refused: one request per connection, whatever the client asks.
    std::string env = envelope("Who");
    std::string two = http_exchange(
        port_,
        "POST /soap HTTP/1.1\r\n" SOAP_HEADERS "Connection: keep-alive\r\nContent-Length: " +
            std::to_string(env.size()) + "\r\n\r\n" + env + "GET /wsdl HTTP/1.1\r\n\r\n",
        false);
    EXPECT_NE(two.find("Connection: close"), std::string::npos);
    EXPECT_EQ(two.find("HTTP/1.1", 5), std::string::npos) << two;
}

TEST_F(HttpFront, Wsdl) {
    EXPECT_EQ(run_curl(url("/wsdl")).rfind("HTTP/1.1 404 File not found", 0), 0u);
    std::ofstream(dir_ + "/bin/lumbrakesearch.wsdl")
        << "<definitions><soap:address location=\"@@@@@@@@@@\"/></definitions>";
    struct Case {
        const char* header;
        const char* endpoint;
    } cases[] = {
        {"-H 'Host: example.org:8081'", "location=\"http://example.org:8081/soap\""},
        {"-H 'Host: Example.org'", "location=\"http://example.org:0/soap\""}, // port of HTTP_PORT
        // A Host value that is no plain host is not written into the endpoint.
        {"-H 'Host: a\"b:1'", "/soap\""},
    };
    for (const Case& c : cases) {
        std::string answer = run_curl(std::string(c.header) + " " + url("/wsdl"));
        EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK", 0), 0u) << answer;
        EXPECT_NE(answer.find(c.endpoint), std::string::npos) << answer;
        EXPECT_NE(answer.find("Content-Type: text/xml"), std::string::npos);
        EXPECT_EQ(answer.find("a&quot;b"), std::string::npos);
    }
    write_config({"HTTP_USER=root", "HTTP_MD5PASS=" + kAdminHash});
    EXPECT_EQ(run_curl(url("/wsdl")).rfind("HTTP/1.1 401", 0), 0u);
    EXPECT_EQ(run_curl("-u root:secret " + url("/wsdl")).rfind("HTTP/1.1 200 OK", 0), 0u);
}

TEST_F(HttpFront, PartialHeadIsCutOffByTheReadTimeout) {
    start({}, 1, 1); // one thread, one second
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port_));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ::send(s, "GET /wsdl HTTP/1.1\r\nHost: x", 27, MSG_NOSIGNAL); // and never more
    // The only thread is freed by the timeout: the next client is served.
    std::string answer = run_curl(url("/wsdl"));
    EXPECT_EQ(answer.rfind("HTTP/1.1 404 File not found", 0), 0u) << answer;
    ::close(s);
}

TEST_F(HttpFront, ConcurrentRequestsBeyondThePoolSize) {
    start({}, 2);
    TestHandler::max_sleeping = 0;
    std::vector<std::thread> clients;
    std::atomic<int> ok{0};
    for (int i = 0; i < 6; ++i)
        clients.emplace_back([&] {
            std::string env = envelope("Sleep");
            std::string answer = http_exchange(
                port_, "POST /soap HTTP/1.1\r\n" SOAP_HEADERS "Content-Length: " + std::to_string(env.size()) +
                           "\r\n\r\n" + env);
            if (answer.rfind("HTTP/1.1 200 OK", 0) == 0) ++ok;
        });
    for (auto& t : clients)
        t.join();
    EXPECT_EQ(ok, 6);
    EXPECT_LE(TestHandler::max_sleeping, 2); // never more requests at once than threads
}

// The head is read in blocks: whatever the client sends behind it in the same packet, or in
// pieces of any size, reaches the service whole.
TEST_F(HttpFront, BodyBytesArrivingWithTheHeadAreKept) {
    const std::string env = envelope("Who");
    const std::string head = "POST /soap HTTP/1.1\r\nHost: x\r\n" SOAP_HEADERS "Content-Length: " +
                             std::to_string(env.size()) + "\r\n";
    struct row {
        const char* name;
        std::string request;
        std::size_t piece;
    } rows[] = {
        {"one packet", head + "\r\n" + env, 100000},
        {"a byte a packet", head + "\r\n" + env, 1},
        {"seven bytes a packet", head + "\r\n" + env, 7},
        // The next request behind the body is not read as part of it.
        {"pipelined request behind the body", head + "\r\n" + env + "GET /wsdl HTTP/1.1\r\n\r\n",
         100000},
        // A client that sends its body without waiting for the interim answer.
        {"expecting 100-continue, body sent at once",
         head + "Expect: 100-continue\r\n\r\n" + env, 100000},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        std::string answer = http_exchange_in_pieces(port_, r.request, r.piece, 1);
        const bool interim = r.request.find("Expect:") != std::string::npos;
        if (interim) {
            ASSERT_EQ(answer.rfind("HTTP/1.1 100 continue\r\n\r\n", 0), 0u) << answer;
            answer.erase(0, answer.find("\r\n\r\n") + 4);
        }
        EXPECT_EQ(status_line(answer), "HTTP/1.1 200 OK") << answer;
        EXPECT_NE(answer.find("WhoResponse"), std::string::npos) << answer;
        EXPECT_EQ(answer.find("HTTP/1.1", 5), std::string::npos) << "one answer only";
    }
}

// The limit counts the request line and the header lines; a head over it is refused at once,
// without waiting for its end.
TEST_F(HttpFront, HeadSizeLimit) {
    auto head_of_size = [](std::size_t size) {
        std::string lines = "GET /wsdl HTTP/1.1\r\nHost: x\r\nX-Pad: ";
        lines.append(size - lines.size() - 2, 'p');
        return lines + "\r\n";
    };
    ASSERT_EQ(head_of_size(HTTP_MAX_HEAD).size(), HTTP_MAX_HEAD);
    EXPECT_EQ(status_line(http_exchange(port_, head_of_size(HTTP_MAX_HEAD) + "\r\n")),
              "HTTP/1.1 404 File not found"); // served: no WSDL file in this fixture
    EXPECT_EQ(status_line(http_exchange(port_, head_of_size(HTTP_MAX_HEAD + 1) + "\r\n")),
              "HTTP/1.1 400 Bad request");
    // In small pieces, and never ended: still refused once the limit is passed.
    std::string endless = head_of_size(HTTP_MAX_HEAD + 1);
    EXPECT_EQ(status_line(http_exchange_in_pieces(port_, endless, 4096, 1, false)),
              "HTTP/1.1 400 Bad request");
}

// A client that stops mid-head: cut by the head deadline and told so when it keeps the
// connection open; answered for what came when it closes its side.
TEST_F(HttpFront, ClientThatStopsMidHead) {
    start({}, 1, 30, 1);
    int s = tn_test::connect_loopback(port_);
    ASSERT_GE(s, 0);
    timeval tv{10, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    const std::string partial = "GET /wsdl HTTP/1.1\r\nHost: x";
    ASSERT_EQ(::send(s, partial.data(), partial.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(partial.size()));
    const auto began = std::chrono::steady_clock::now();
    const std::string answer = tn_test::read_to_close(s);
    EXPECT_EQ(status_line(answer), "HTTP/1.1 408 Request Timeout") << answer;
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
    // The request line came whole before the client closed: routed as far as it came.
    EXPECT_EQ(status_line(http_exchange_in_pieces(port_, partial, 3)), "HTTP/1.1 404 File not found");
}

// Heads no client should send: each gets a plain answer and the server goes on serving.
TEST_F(HttpFront, MalformedHeads) {
    struct row {
        std::string head;
        const char* status;
    } rows[] = {
        {"\r\n\r\n", "HTTP/1.1 400 Bad request"},
        {"\n", "HTTP/1.1 400 Bad request"},
        {"GET\r\n\r\n", "HTTP/1.1 400 Bad request"},
        {"GET /wsdl\r\n\r\n", "HTTP/1.1 400 Bad request"},
        {"GET * HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad request"},
        {"GET wsdl HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad request"},
        {"GET  /wsdl  HTTP/1.1\r\n\r\n", "HTTP/1.1 404 File not found"},
        {"G\xff" "T /wsdl HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad request"},
        {std::string("GET /wsdl\0 HTTP/1.1\r\n\r\n", 22), "HTTP/1.1 400 Bad request"},
        {"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", "HTTP/1.1 400 Bad request"},
        {"GET /wsdl HTTP/1.1\r\nNo colon here\r\n\r\n", "HTTP/1.1 404 File not found"},
        {"GET /wsdl HTTP/1.1\r\n folded: line\r\n\r\n", "HTTP/1.1 404 File not found"},
        {std::string("GET /wsdl HTTP/1.1\r\nHost: a\0b\r\n\r\n", 33), "HTTP/1.1 404 File not found"},
        {"GET /wsdl HTTP/9.9\r\n\r\n", "HTTP/1.1 404 File not found"},
        {"GET /wsdl HTTP/1.1\n\n", "HTTP/1.1 404 File not found"},
        {"GET /wsdl HTTP/1.1\r\n\rX\r\n", "HTTP/1.1 404 File not found"},
        {"GET /" + std::string(20000, 'a') + " HTTP/1.1\r\n\r\n", "HTTP/1.1 404 File not found"},
        {"POST /soap HTTP/1.1\r\n" SOAP_HEADERS "Content-Length: 99999999999999999999\r\n\r\n",
         "HTTP/1.1 400 Bad request"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.head.substr(0, 60));
        EXPECT_EQ(status_line(http_exchange(port_, r.head)), r.status);
    }
    EXPECT_EQ(status_line(post_soap(envelope("Who"))), "HTTP/1.1 200 OK");
}

} // namespace
