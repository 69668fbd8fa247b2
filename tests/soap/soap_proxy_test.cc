// The client proxy and the server dispatch over real HTTP on 127.0.0.1: against each other
// (Basic authentication, deflate answers, faults, unexpected statuses) and against Perl's
// SOAP::Lite, an independently written SOAP 1.1 peer, as server and as client.
#include "soap/soap.h"
#include "soap/soap_proxy.h"
#include "soap/soap_server.h"
#include "../support/loopback_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

using namespace EasySoap;

namespace {

const char* kNs = "http://lumbrake.test/search/";

using tn_test::send_all;

// One parsed request head; the body stays in the socket (or partly in `rest`).
struct Request {
    std::string line;
    std::map<std::string, std::string> headers; // lower-cased names
    std::string rest;
};

bool read_head(int fd, Request& req) {
    std::string buf;
    char c[4096];
    std::size_t end;
    while ((end = buf.find("\r\n\r\n")) == std::string::npos) {
        ssize_t n = ::recv(fd, c, sizeof c, 0);
        if (n <= 0) return false;
        buf.append(c, static_cast<std::size_t>(n));
    }
    req.rest = buf.substr(end + 4);
    std::size_t pos = buf.find("\r\n");
    req.line = buf.substr(0, pos);
    while (pos < end) {
        std::size_t next = buf.find("\r\n", pos + 2);
        std::string h = buf.substr(pos + 2, next - pos - 2);
        std::size_t colon = h.find(':');
        if (colon != std::string::npos) {
            std::string name = h.substr(0, colon);
            for (char& ch : name)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            std::string value = h.substr(colon + 1);
            value.erase(0, value.find_first_not_of(' '));
            req.headers[name] = value;
        }
        pos = next;
    }
    return true;
}

// The transport a server writes over its connection: the body by Content-Length, the answer
// with status 200 or 500 and, when the client accepts it, a deflate body.
class SocketTransport : public SOAPServerTransport {
public:
    SocketTransport(int fd, const Request& req) : fd_(fd), pending_(req.rest) {
        auto it = req.headers.find("content-length");
        remaining_ = it == req.headers.end() ? -1 : std::stol(it->second);
        auto ae = req.headers.find("accept-encoding");
        deflate_ = ae != req.headers.end() && ae->second.find("deflate") != std::string::npos;
    }
    const char* GetCharset() const override { return nullptr; }
    const char* GetContentType() const override { return "text/xml"; }
    const char* GetSoapAction() const override { return nullptr; }
    void SetError() override { error_ = true; }
    long Read(char* buffer, std::size_t size) override {
        if (remaining_ == 0) return 0;
        std::size_t want = remaining_ > 0 ? std::min<std::size_t>(size, remaining_) : size;
        long n;
        if (!pending_.empty()) {
            n = static_cast<long>(std::min(want, pending_.size()));
            std::memcpy(buffer, pending_.data(), n);
            pending_.erase(0, n);
        } else {
            n = ::recv(fd_, buffer, want, 0);
        }
        if (n > 0 && remaining_ > 0) remaining_ -= n;
        return n;
    }
    std::size_t Write(const char*, const char* payload, std::size_t size) override {
        std::string body(payload, size);
        std::string head = std::string("HTTP/1.1 ") + (error_ ? "500" : "200") +
                           " OK\r\nContent-Type: text/xml; charset=utf-8\r\nConnection: close\r\n";
        if (deflate_) {
            uLongf len = compressBound(size);
            std::string packed(len, '\0');
            EXPECT_EQ(compress(reinterpret_cast<Bytef*>(packed.data()), &len,
                               reinterpret_cast<const Bytef*>(payload), size),
                      Z_OK);
            packed.resize(len);
            body = packed;
            head += "Content-Encoding: deflate\r\n";
        }
        head += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
        send_all(fd_, head + body);
        return size;
    }

private:
    int fd_;
    std::string pending_;
    long remaining_;
    bool deflate_ = false;
    bool error_ = false;
};

// A small HTTP server on 127.0.0.1 that hands each request to `serve`.
class TestServer {
public:
    using Serve = std::function<void(int fd, const Request&)>;
    explicit TestServer(Serve serve) : serve_(std::move(serve)) {
        server_ = std::make_unique<tn_test::loopback_server>([this](int c) {
            Request req;
            if (read_head(c, req)) {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(req);
            }
            serve_(c, req);
        });
    }
    std::string url(const std::string& userinfo = "") const {
        return "http://" + userinfo + "127.0.0.1:" + std::to_string(server_->port()) + "/soap";
    }
    Request last() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_.empty() ? Request{} : requests_.back();
    }

private:
    Serve serve_;
    std::mutex mutex_;
    std::vector<Request> requests_;
    std::unique_ptr<tn_test::loopback_server> server_; // last: stopped before the rest goes
};

class Service : public SOAPDispatchHandler<Service> {
public:
    Service() {
        DispatchMethod("Add", kNs, &Service::Add);
        DispatchMethod("Sum", kNs, &Service::Sum);
        DispatchMethod("Words", kNs, &Service::Words);
        DispatchMethod("Fail", kNs, &Service::Fail);
    }
    Service* GetTarget(const SOAPEnvelope&) override { return this; }
    void Add(const SOAPMethod& req, SOAPMethod& resp) {
        resp.AddParameter("result")
            << req.GetParameter("a").GetInt() + req.GetParameter("b").GetInt();
    }
    void Sum(const SOAPMethod& req, SOAPMethod& resp) {
        std::vector<int> list;
        req.GetParameter("list") >> list;
        int total = 0;
        for (int v : list)
            total += v;
        resp.AddParameter("total") << total;
    }
    void Words(const SOAPMethod& req, SOAPMethod& resp) {
        std::string text;
        req.GetParameter("text") >> text;
        std::vector<std::string> words;
        std::size_t start = 0, space;
        while ((space = text.find(' ', start)) != std::string::npos) {
            words.push_back(text.substr(start, space - start));
            start = space + 1;
        }
        words.push_back(text.substr(start));
        resp.AddParameter("words") << words;
    }
    void Fail(const SOAPMethod&, SOAPMethod&) { throw SOAPException("BadMagic"); }
};

TestServer::Serve dispatching(Service& service) {
    return [&service](int fd, const Request& req) {
        SocketTransport t(fd, req);
        SOAPServerDispatch dispatch;
        dispatch.DispatchTo(&service);
        dispatch.Handle(t);
    };
}

std::string exception_text(const std::function<void()>& f) {
    try {
        f();
    } catch (const SOAPException& e) {
        return e.what();
    }
    return "(no exception)";
}

// Runs a program with its standard output on a pipe; returns its pid and the read end.
pid_t spawn(const std::vector<std::string>& args, int& out) {
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, p[1], 1);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(p[1]);
    out = p[0];
    return pid;
}

std::string read_line(int fd) {
    std::string line;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

bool have_soaplite() {
    return std::system("perl -MSOAP::Lite -e1 2>/dev/null") == 0;
}

} // namespace

TEST(SoapProxy, CallsOurServerWithBasicAuthAndDeflate) {
    Service service;
    TestServer server(dispatching(service));
    SOAPProxy proxy(server.url("us%20er:p%40ss@").c_str());
    SOAPMethod m("Add", kNs);
    m.AddParameter("a") << 2;
    m.AddParameter("b") << 40;
    const SOAPMethod& r = proxy.Execute(m);
    EXPECT_EQ(r.GetName(), SOAPQName("AddResponse", kNs));
    EXPECT_EQ(r.GetParameter("result").GetInt(), 42);

    Request req = server.last();
    EXPECT_EQ(req.line, "POST /soap HTTP/1.1");
    EXPECT_EQ(req.headers["authorization"], "Basic dXMgZXI6cEBzcw=="); // "us er:p@ss"
    EXPECT_EQ(req.headers["soapaction"], std::string("\"") + kNs + "#Add\"");
    EXPECT_NE(req.headers["accept-encoding"].find("deflate"), std::string::npos);
    EXPECT_NE(req.headers["content-type"].find("text/xml"), std::string::npos);

    SOAPMethod words("Words", kNs);
    words.AddParameter("text") << std::string("a & <b> \xC3\xA9");
    std::vector<std::string> got;
    proxy.Execute(words).GetParameter("words") >> got;
    EXPECT_EQ(got, (std::vector<std::string>{"a", "&", "<b>", "\xC3\xA9"}));
}

TEST(SoapProxy, FaultsStatusesAndTransportFailures) {
    Service service;
    TestServer server(dispatching(service));
    SOAPProxy proxy(server.url().c_str());
    try {
        proxy.Execute(SOAPMethod("Fail", kNs));
        ADD_FAILURE() << "no fault";
    } catch (const SOAPFaultException& e) {
        EXPECT_STREQ(e.what(), "SOAP Fault: BadMagic");
        EXPECT_EQ(e.GetFaultCode(), "SOAP-ENV:Server");
    }

    TestServer refusing([](int fd, const Request&) {
        send_all(fd, "HTTP/1.1 401 Unauthorized\r\nContent-Type: text/html\r\nContent-Length: 9\r\n"
                     "Connection: close\r\n\r\n<h1>no</h1>");
    });
    EXPECT_EQ(
        exception_text([&] { SOAPProxy(refusing.url().c_str()).Execute(SOAPMethod("Add", kNs)); }),
        "Unexpected server response code: 401");

    TestServer garbage([](int fd, const Request&) {
        send_all(fd, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello");
    });
    std::string text =
        exception_text([&] { SOAPProxy(garbage.url().c_str()).Execute(SOAPMethod("Add", kNs)); });
    EXPECT_EQ(text.rfind("Malformed XML", 0), 0u) << text;

    // A port nobody listens on: the listening socket of a server that is gone.
    std::string dead_url;
    {
        TestServer gone([](int, const Request&) {});
        dead_url = gone.url();
    }
    text = exception_text([&] { SOAPProxy(dead_url.c_str()).Execute(SOAPMethod("Add", kNs)); });
    EXPECT_NE(text, "(no exception)");
    EXPECT_EQ(text.find("SOAP Fault"), std::string::npos);

    SOAPProxy limited(server.url().c_str());
    limited.SetMaxResponseSize(64);
    SOAPMethod add("Add", kNs);
    add.AddParameter("a") << 1;
    add.AddParameter("b") << 1;
    EXPECT_EQ(exception_text([&] { limited.Execute(add); }), "SOAP answer is too large");
}

TEST(SoapInterop, OurProxyAgainstSoapLiteServer) {
    if (!have_soaplite()) GTEST_SKIP() << "libsoap-lite-perl is not installed";
    int out = -1;
    pid_t pid = spawn({"perl", TN_TEST_DATA "/soaplite_server.pl"}, out);
    ASSERT_GT(pid, 0);
    // The server runs until killed, also when an assertion ends the test early.
    struct reaper {
        pid_t pid;
        int fd;
        ~reaper() {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
            ::close(fd);
        }
    } reap{pid, out};
    std::string url = read_line(out);
    ASSERT_EQ(url.rfind("http://", 0), 0u) << url;
    SOAPProxy proxy(url.c_str());

    SOAPMethod add("Add", kNs);
    add.AddParameter("a") << 20;
    add.AddParameter("b") << 22;
    EXPECT_EQ(proxy.Execute(add).GetParameter("result").GetInt(), 42);

    SOAPMethod rev("Reverse", kNs);
    rev.AddParameter("list") << std::vector<std::string>{"x", "y & z", "\xC3\xBC"};
    const SOAPMethod& r = proxy.Execute(rev);
    EXPECT_EQ(r.GetParameter("joined").GetString(), "x|y & z|\xC3\xBC");
    std::vector<std::string> reversed;
    r.GetParameter("reversed") >> reversed;
    EXPECT_EQ(reversed, (std::vector<std::string>{"\xC3\xBC", "y & z", "x"}));

    SOAPMethod echo("Echo64", kNs);
    echo.AddParameter("bytes") << SOAPBase64{std::string("\0\x01\xfe", 3)};
    SOAPBase64 copy;
    proxy.Execute(echo).GetParameter("copy") >> copy;
    EXPECT_EQ(copy.bytes, std::string("\0\x01\xfe!", 4));

    EXPECT_EQ(exception_text([&] { proxy.Execute(SOAPMethod("Fail", kNs)); }),
              "SOAP Fault: BadMagic");
}

TEST(SoapInterop, SoapLiteClientAgainstOurServer) {
    if (!have_soaplite()) GTEST_SKIP() << "libsoap-lite-perl is not installed";
    Service service;
    TestServer server(dispatching(service));
    int out = -1;
    pid_t pid = spawn({"perl", TN_TEST_DATA "/soaplite_client.pl", server.url()}, out);
    ASSERT_GT(pid, 0);
    std::vector<std::string> lines;
    for (std::string line; !(line = read_line(out)).empty();)
        lines.push_back(line);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(out);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "add 42",
                         "sum 18",
                         "words [gr\xC3\xBCn;&;<blau>]",
                         "fail FAULT SOAP-ENV:Server BadMagic",
                         "unknown FAULT SOAP-ENV:Client No handler found for method 'Nope' in "
                         "namespace 'http://lumbrake.test/search/'",
                     }));
}
