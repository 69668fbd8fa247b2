// Heads written by independent programs: response heads of real servers on 127.0.0.1 fetched
// with curl, request heads of curl and wget received by a small listener, dates checked
// against Python's email.utils.
#include "util/httphead.h"
#include "../support/command.h"
#include "../support/http_client.h"
#include "../support/ports.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

using namespace lumbrake;

namespace {

using tn_test::port_answers;
constexpr auto& run = tn_test::command_output;
constexpr auto& free_port = tn_test::reserve_port;

constexpr auto& have = tn_test::have_program;

int listen_socket(int& port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(fd, 4) != 0)
        return -1;
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

// A server process of this test, ended by its own pid. It runs under timeout(1), so that it
// ends by itself even when the test process dies before its destructor runs.
class server {
public:
    explicit server(const std::vector<std::string>& argv) {
        std::vector<std::string> full = {"timeout", "-k", "5", "120"};
        full.insert(full.end(), argv.begin(), argv.end());
        std::vector<char*> args;
        for (const std::string& a : full)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~server() {
        if (pid_ <= 0 || reaped()) return;
        kill(pid_, SIGTERM);
        for (int i = 0; i < 100; ++i) { // up to 5 s, then it is killed
            if (reaped()) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    server(const server&) = delete;
    server& operator=(const server&) = delete;

    // Waits (10 s at most) until the port accepts connections; false when the server ended
    // first or never answered.
    bool answers(int port) {
        for (int i = 0; i < 200 && pid_ > 0; ++i) {
            if (port_answers(port)) return true;
            if (reaped()) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

private:
    bool reaped() {
        if (!done_) done_ = waitpid(pid_, nullptr, WNOHANG) == pid_;
        return done_;
    }

    pid_t pid_ = -1;
    bool done_ = false;
};

// A folder of this test process, removed at the end of its scope.
class scratch_dir {
public:
    explicit scratch_dir(const std::string& name)
        : path_(testing::TempDir() + name + "-" + std::to_string(getpid())) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~scratch_dir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

struct plain_head {
    std::string first_line;
    std::map<std::string, std::string> fields; // lower-cased name -> values joined
};

// The head split the plain way: lines at CRLF, names before the first colon, leading blanks of
// the value dropped. Stops at the empty line.
plain_head split_head(const std::string& text) {
    plain_head h;
    std::size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        std::size_t eol = text.find("\r\n", pos);
        if (eol == std::string::npos) eol = text.size();
        std::string line = text.substr(pos, eol - pos);
        pos = eol + 2;
        if (line.empty()) break;
        if (first) {
            h.first_line = line;
            first = false;
            continue;
        }
        std::size_t colon = line.find(':');
        std::string name = line.substr(0, colon);
        for (char& c : name)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        std::size_t v = line.find_first_not_of(" \t", colon + 1);
        h.fields[name] += v == std::string::npos ? "" : line.substr(v);
    }
    return h;
}

// Seconds since 1970 of an HTTP date as Python's email.utils reads it.
long long python_date(const std::string& date) {
    std::string cmd = "python3 -c 'import sys,email.utils as u; "
                      "print(int(u.parsedate_to_datetime(sys.argv[1]).timestamp()))' '" +
                      date + "'";
    return std::atoll(run(cmd).c_str());
}

// `head` scanned, and checked against its plain split (left in `plain`): valid, complete, and
// every field with its exact value.
http_request scanned_as_split(const std::string& head, plain_head& plain) {
    http_request r(head);
    plain = split_head(head);
    EXPECT_TRUE(r.valid);
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(r.fields, plain.fields);
    return r;
}

// Every field of the head is scanned with its exact value, and the dates agree with Python.
void expect_response_scanned(const std::string& head, int status) {
    SCOPED_TRACE(head);
    ASSERT_FALSE(head.empty());
    plain_head plain;
    const http_request r = scanned_as_split(head, plain);
    EXPECT_EQ(r.status_code, status);
    EXPECT_EQ(std::to_string(r.status_code), plain.first_line.substr(9, 3));
    for (const char* name : {"date", "last-modified"}) {
        std::string value;
        if (!r.get_lower(name, value)) continue;
        std::time_t t = parse_http_date(value);
        EXPECT_GT(t, 0) << value;
        std::string sent;
        r.get(name, sent);
        EXPECT_EQ(static_cast<long long>(t), python_date(sent)) << sent;
    }
}

std::string curl_head(int port, const std::string& path) {
    return run("curl -sI -m 10 --noproxy '*' http://127.0.0.1:" + std::to_string(port) + path);
}

// Accepts one connection, reads its head up to the empty line, answers 204 and closes.
std::string receive_request(int listener) {
    pollfd p{listener, POLLIN, 0};
    if (poll(&p, 1, 10000) != 1) return {};
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return {};
    std::string head;
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        pollfd q{fd, POLLIN, 0};
        if (poll(&q, 1, 10000) != 1) break;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        head.append(buf, std::size_t(n));
    }
    const char answer[] =
        "HTTP/1.1 204 No Content\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    (void)!write(fd, answer, sizeof answer - 1);
    close(fd);
    std::size_t end = head.find("\r\n\r\n");
    return end == std::string::npos ? head : head.substr(0, end + 4);
}

// Runs the client in the background, receives its request and scans it.
void expect_request_scanned(const std::string& client, const std::string& method,
                            const std::map<std::string, std::string>& must_have) {
    int port = 0;
    int listener = listen_socket(port);
    ASSERT_GE(listener, 0);
    std::string url = "http://127.0.0.1:" + std::to_string(port) + "/dir/page.html?q=a%20b&x=1";
    std::thread runner([&] { run(client + " '" + url + "' >/dev/null 2>&1"); });
    std::string head = receive_request(listener);
    runner.join();
    close(listener);
    SCOPED_TRACE(head);
    ASSERT_FALSE(head.empty());

    plain_head plain;
    const http_request r = scanned_as_split(head, plain);
    EXPECT_EQ(r.method, method);
    EXPECT_EQ(r.target, "/dir/page.html?q=a%20b&x=1");
    EXPECT_EQ(r.version, "1.1");
    for (const auto& [name, value] : must_have) {
        std::string got;
        EXPECT_TRUE(r.get(name, got)) << name;
        EXPECT_EQ(got, value) << name;
    }
}

} // namespace

TEST(Counterparts, PythonHttpServerResponseHeads) {
    if (!have("python3") || !have("curl")) GTEST_SKIP() << "python3 or curl missing";
    scratch_dir scratch("http-pyserver");
    const std::string& root = scratch.path();
    std::filesystem::create_directories(root + "/sub");
    std::ofstream(root + "/index.html") << "<html><body>hi</body></html>\n";
    std::ofstream(root + "/notes.txt") << "notes\n";
    int port = free_port();
    server py({"python3", "-m", "http.server", "--bind", "127.0.0.1", "--directory", root,
               std::to_string(port)});
    ASSERT_TRUE(py.answers(port)) << "python3 -m http.server did not start";

    expect_response_scanned(curl_head(port, "/index.html"), 200);
    expect_response_scanned(curl_head(port, "/notes.txt"), 200);
    expect_response_scanned(curl_head(port, "/sub"), 301); // a directory without its slash
    expect_response_scanned(curl_head(port, "/missing"), 404);

    http_request r(curl_head(port, "/notes.txt"));
    content_type ct(r.fields["content-type"]);
    EXPECT_EQ(ct.media_type, "text/plain");
}

TEST(Counterparts, NginxResponseHeads) {
    if (!have("nginx") || !have("curl")) GTEST_SKIP() << "nginx or curl missing";
    scratch_dir scratch("http-nginx");
    const std::string& dir = scratch.path();
    std::filesystem::create_directories(dir + "/www");
    std::filesystem::create_directories(dir + "/logs");
    std::ofstream(dir + "/www/index.html") << "<html><body>hi</body></html>\n";
    int port = free_port();
    std::ofstream(dir + "/nginx.conf")
        << "daemon off;\nmaster_process off;\npid " << dir << "/nginx.pid;\n"
        << "error_log " << dir << "/logs/error.log;\n"
        << "events {}\n"
        << "http {\n  access_log off;\n  include /etc/nginx/mime.types;\n"
        << "  server {\n    listen 127.0.0.1:" << port << ";\n    root " << dir << "/www;\n"
        << "    location = /moved { return 302 /index.html; }\n"
        << "    location = /cookies {\n      add_header Set-Cookie \"a=1; Path=/\";\n"
        << "      add_header Set-Cookie \"b=2; HttpOnly\";\n"
        << "      add_header Content-Type \"text/html; charset=\\\"UTF-8\\\"\";\n"
        << "      return 200 \"x\";\n    }\n  }\n}\n";
    server nginx({"nginx", "-p", dir, "-c", dir + "/nginx.conf", "-e", dir + "/logs/error.log"});
    if (!nginx.answers(port)) {
        std::ifstream log(dir + "/logs/error.log");
        std::stringstream text;
        text << log.rdbuf();
        FAIL() << "nginx did not start: " << text.str();
    }

    expect_response_scanned(curl_head(port, "/index.html"), 200);
    expect_response_scanned(curl_head(port, "/moved"), 302);
    expect_response_scanned(curl_head(port, "/nothing"), 404);

    std::string cookies = curl_head(port, "/cookies");
    expect_response_scanned(cookies, 200);
    http_request r(cookies);
    EXPECT_EQ(r.fields["set-cookie"], "a=1; Path=/b=2; HttpOnly");
}

TEST(Counterparts, CurlAndWgetRequestHeads) {
    if (have("curl")) {
        expect_request_scanned(
            "curl -s -m 10 --noproxy '*' -A 'tester/1.0' -b 'a=1; b=2' -H 'X-Trace:  spaced  '",
            "GET", {{"user-agent", "tester/1.0"}, {"cookie", "a=1; b=2"}, {"x-trace", "spaced  "}});
        expect_request_scanned(
            "curl -s -m 10 --noproxy '*' -d 'k=v'", "POST",
            {{"content-length", "3"}, {"content-type", "application/x-www-form-urlencoded"}});
        expect_request_scanned("curl -s -m 10 --noproxy '*' -I", "HEAD", {});
    }
    if (have("wget")) {
        expect_request_scanned("wget -q -O /dev/null -t 1 -T 10 --no-proxy --header='X-Test: 1'",
                               "GET", {{"x-test", "1"}});
    }
    if (!have("curl") && !have("wget")) GTEST_SKIP() << "neither curl nor wget";
}

TEST(Counterparts, DatesAgreeWithPythonEmailUtils) {
    if (!have("python3")) GTEST_SKIP() << "python3 missing";
    // Python writes each instant in the three forms; both readers must agree on every one.
    std::string out =
        run("python3 -c '\n"
            "import time, email.utils as u\n"
            "for t in [0, 86400, 784111777, 951782400, 951868800, 1234567890, 2147483647,\n"
            "          2147483648, 2835302400, 1700000000, 946684799, 978307200]:\n"
            "    g = time.gmtime(t)\n"
            "    for s in (u.formatdate(t, usegmt=True), time.strftime(\"%A, %d-%b-%y %H:%M:%S "
            "GMT\", g),\n"
            "              time.asctime(g)):\n"
            "        p = u.parsedate_tz(s)\n"
            "        print(t, u.mktime_tz(p) if p else \"none\", s, sep=\"|\")\n"
            "'");
    ASSERT_FALSE(out.empty());
    std::size_t pos = 0, lines = 0;
    while (pos < out.size()) {
        std::size_t eol = out.find('\n', pos);
        std::string line = out.substr(pos, eol - pos);
        pos = eol + 1;
        std::size_t a = line.find('|'), b = line.find('|', a + 1);
        long long when = std::atoll(line.substr(0, a).c_str());
        std::string python = line.substr(a + 1, b - a - 1);
        std::string text = line.substr(b + 1);
        for (char& c : text)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        // RFC 850 years: two digits above 59 are 19yy, both here and in Python.
        long long expected = python == "none" ? 0 : std::atoll(python.c_str());
        EXPECT_EQ(expected, when) << "python: " << line;
        EXPECT_EQ(static_cast<long long>(parse_http_date(text)), when) << text;
        ++lines;
    }
    EXPECT_EQ(lines, 36u);
}
