// The connection's reader and the answer writer over a local socket pair: the head read in
// blocks with every byte behind it kept for the body, the size limit, a client that ends
// early, and the exact bytes of an answer.
#include "httpfront/httpio.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

using namespace lumbrake;

namespace {

// Both ends of a stream socket; the client side writes pieces from a thread of its own.
struct connection_pair {
    int server = -1, client = -1;
    std::thread writer;
    connection_pair() {
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) == 0) {
            server = sv[0];
            client = sv[1];
        }
    }
    ~connection_pair() {
        if (writer.joinable()) writer.join();
        if (server >= 0) ::close(server);
        if (client >= 0) ::close(client);
    }
    // Sends each piece apart (a short pause between them, so each arrives on its own), then
    // closes the client's side when asked to.
    void send_pieces(std::vector<std::string> pieces, bool close_after) {
        writer = std::thread([this, pieces = std::move(pieces), close_after] {
            for (std::size_t i = 0; i < pieces.size(); ++i) {
                if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
                ::send(client, pieces[i].data(), pieces[i].size(), MSG_NOSIGNAL);
            }
            if (close_after) ::shutdown(client, SHUT_WR);
        });
    }
};

// Everything the reader still hands out, in reads of `step` bytes.
std::string read_rest(http_reader& reader, std::size_t step) {
    std::string out;
    std::vector<char> buffer(step);
    for (;;) {
        ssize_t n = reader.read(buffer.data(), buffer.size());
        if (n <= 0) break;
        out.append(buffer.data(), static_cast<std::size_t>(n));
    }
    return out;
}

std::vector<std::string> bytewise(const std::string& text) {
    std::vector<std::string> out;
    for (char c : text)
        out.emplace_back(1, c);
    return out;
}

using status = http_reader::head_status;

TEST(HttpReader, HeadAndTheBytesBehindIt) {
    const std::string head = "POST /soap HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\n";
    const std::string big_body(100000, 'b');
    struct row {
        const char* name;
        std::vector<std::string> pieces;
        bool close_after;
        std::size_t limit;
        status expected;
        std::string head, rest;
    } rows[] = {
        {"body in the head's packet", {head + "hello"}, true, HTTP_MAX_HEAD, status::complete,
         head, "hello"},
        {"head a byte at a time, then the body", bytewise(head + "hello"), true, HTTP_MAX_HEAD,
         status::complete, head, "hello"},
        {"end of the head split between CR and LF", {head.substr(0, head.size() - 1), "\nhello"},
         true, HTTP_MAX_HEAD, status::complete, head, "hello"},
        {"a body much larger than a block", {head + big_body}, true, HTTP_MAX_HEAD,
         status::complete, head, big_body},
        {"a second request behind the first",
         {"GET /a HTTP/1.1\r\n\r\nGET /b HTTP/1.1\r\n\r\n"}, true, HTTP_MAX_HEAD,
         status::complete, "GET /a HTTP/1.1\r\n\r\n", "GET /b HTTP/1.1\r\n\r\n"},
        {"bare line feeds", {"GET / HTTP/1.0\nHost: x\n\nrest"}, true, HTTP_MAX_HEAD,
         status::complete, "GET / HTTP/1.0\nHost: x\n\n", "rest"},
        {"an empty first line ends the head", {"\r\nGET / HTTP/1.1\r\n\r\n"}, true,
         HTTP_MAX_HEAD, status::complete, "\r\n", "GET / HTTP/1.1\r\n\r\n"},
        {"client stops mid-line", {"GET / HTTP/1.1\r\nHost: x"}, true, HTTP_MAX_HEAD,
         status::ended, "GET / HTTP/1.1\r\nHost: x", ""},
        {"client stops before the empty line", bytewise("GET / HTTP/1.1\r\nHost: x\r\n"), true,
         HTTP_MAX_HEAD, status::ended, "GET / HTTP/1.1\r\nHost: x\r\n", ""},
        {"client sends nothing", {}, true, HTTP_MAX_HEAD, status::ended, "", ""},
        // 38 bytes of lines before the empty line.
        {"lines exactly at the limit", {"GET / HTTP/1.1\r\nX: 12345678901234567\r\n\r\nb"}, true,
         38, status::complete, "GET / HTTP/1.1\r\nX: 12345678901234567\r\n\r\n", "b"},
        {"one byte over the limit", {"GET / HTTP/1.1\r\nX: 123456789012345678\r\n\r\nb"}, true,
         38, status::too_long, "", ""},
        {"over the limit without an end, still open", {"GET / HTTP/1.1\r\n" + std::string(100, 'x')},
         false, 40, status::too_long, "", ""},
        {"over the limit in small pieces", bytewise("GET / HTTP/1.1\r\n" + std::string(60, 'x')),
         false, 40, status::too_long, "", ""},
        {"an empty line of CR and text that runs on",
         {"GET / HTTP/1.1\r\n\r" + std::string(5000, 'x')}, false, HTTP_MAX_HEAD,
         status::too_long, "", ""},
    };
    for (row& r : rows) {
        SCOPED_TRACE(r.name);
        connection_pair c;
        ASSERT_GE(c.server, 0);
        c.send_pieces(r.pieces, r.close_after);
        http_reader reader(c.server);
        std::string got_head = "stale";
        EXPECT_EQ(reader.read_head(got_head, r.limit), r.expected);
        EXPECT_EQ(got_head, r.head);
        if (r.expected == status::too_long) continue; // the answer is a refusal, nothing more
        c.writer.join();
        ::shutdown(c.client, SHUT_WR);
        // Small reads too: the kept bytes come first and in order.
        EXPECT_EQ(read_rest(reader, 3), r.rest);
    }
}

TEST(HttpReader, KeptBytesComeBeforeTheSocketsAndDiscardTakesBoth) {
    connection_pair c;
    c.send_pieces({"POST / HTTP/1.1\r\n\r\n0123456789", "abcdefghij", "KLMNOPQRST"}, true);
    http_reader reader(c.server);
    std::string head;
    ASSERT_EQ(reader.read_head(head), status::complete);
    EXPECT_LE(reader.buffered(), 30u);
    char four[4];
    ASSERT_EQ(reader.read(four, sizeof four), 4);
    EXPECT_EQ(std::string(four, 4), "0123");
    c.writer.join();
    reader.discard(16); // "456789" kept or not, then "abcdefghij"
    EXPECT_EQ(read_rest(reader, 64), "KLMNOPQRST");
    EXPECT_EQ(reader.buffered(), 0u);
}

// The connection is cut under a reader that waits for the rest of the head (the deadline's
// watchdog shuts the receiving side down): the read ends at once with what came.
TEST(HttpReader, CutConnectionEndsTheHead) {
    connection_pair c;
    c.send_pieces({"GET / HTTP/1.1\r\nX-Slow: "}, false);
    c.writer.join();
    std::thread cutter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::shutdown(c.server, SHUT_RD);
    });
    http_reader reader(c.server);
    std::string head;
    EXPECT_EQ(reader.read_head(head), status::ended);
    EXPECT_EQ(head, "GET / HTTP/1.1\r\nX-Slow: ");
    cutter.join();
}

TEST(HttpAnswer, HeadBytes) {
    http_answer plain(400, "Bad request");
    EXPECT_EQ(plain.head(), "HTTP/1.1 400 Bad request\r\n\r\n");

    http_answer full(200, "OK");
    full.content_type("text/xml").header("X-One", "1").content_length(12).header("X-Two", "2");
    EXPECT_EQ(full.head(), "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nX-One: 1\r\n"
                           "Content-Length: 12\r\nX-Two: 2\r\n\r\n");

    // No value or reason can end its line early or add a line of its own.
    http_answer hostile(302, "Found\r\nSet-Cookie: a=b");
    hostile.header("Location", std::string("http://x/\r\nSet-Cookie: c=d\0e", 28));
    EXPECT_EQ(hostile.head(), "HTTP/1.1 302 Found  Set-Cookie: a=b\r\n"
                              "Location: http://x/  Set-Cookie: c=d e\r\n\r\n");

    http_answer dated(404, "Not found");
    dated.date().no_cache();
    const std::regex form("HTTP/1\\.1 404 Not found\r\n"
                          "Date: [A-Z][a-z]{2}, \\d\\d [A-Z][a-z]{2} \\d{4} \\d\\d:\\d\\d:\\d\\d GMT\r\n"
                          "Last-Modified: [A-Z][a-z]{2}, \\d\\d [A-Z][a-z]{2} \\d{4} "
                          "\\d\\d:\\d\\d:\\d\\d GMT\r\n"
                          "Cache-Control: no-store, no-cache, must-revalidate, post-check=0, "
                          "pre-check=0\r\n"
                          "Expires: Mon, 26 Jul 1997 05:00:00 GMT\r\n"
                          "Pragma: no-cache\r\n\r\n");
    EXPECT_TRUE(std::regex_match(dated.head(), form)) << dated.head();
}

// Small and large bodies arrive whole behind their head; a client that has gone is reported.
TEST(HttpAnswer, SendsHeadAndBodyWhole) {
    for (std::size_t size : {std::size_t{0}, std::size_t{10}, std::size_t{300000}}) {
        SCOPED_TRACE(size);
        connection_pair c;
        std::string body(size, 'z');
        for (std::size_t i = 0; i < size; ++i)
            body[i] = static_cast<char>('a' + i % 26);
        http_answer answer(200, "OK");
        answer.content_length(body.size());
        std::string received;
        std::thread reader([&] {
            char buffer[65536];
            ssize_t n;
            while ((n = ::recv(c.client, buffer, sizeof buffer, 0)) > 0)
                received.append(buffer, static_cast<std::size_t>(n));
        });
        EXPECT_TRUE(answer.send(c.server, body));
        ::shutdown(c.server, SHUT_WR);
        reader.join();
        EXPECT_EQ(received, answer.head() + body);
    }
    connection_pair gone;
    ::close(gone.client);
    gone.client = -1;
    EXPECT_FALSE(http_answer(200, "OK").send(gone.server, "body"));
    EXPECT_EQ(http_send(gone.server, "abc", 3), 0u);
}

} // namespace
