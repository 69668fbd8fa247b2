#include "ipc/socket_ipc.h"
#include "util/config.h"
#include "fff/FFF.h"
#include "millhand/millhand-serialize.h"
#include "../support/ports.h"
#include "../support/socket_errors.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace socket_ipc;
namespace fs = std::filesystem;

namespace {

// Both ends of a local stream socket, for the framing alone.
struct socket_pair {
    int a = -1, b = -1;
    socket_pair() {
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) == 0) {
            a = sv[0];
            b = sv[1];
        }
    }
    ~socket_pair() {
        if (a >= 0) ::close(a);
        if (b >= 0) ::close(b);
    }
    void close_b() {
        ::close(b);
        b = -1;
    }
    void write_b(const std::string& bytes) const {
        ASSERT_EQ(::write(b, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    std::string read_b(std::size_t n) const {
        std::string out(n, '\0');
        EXPECT_EQ(safe_recv(b, out.data(), n), n);
        return out;
    }
};

using tn_test::thrown_text;

TEST(SocketFraming, IntegersAndStringsAreLittleEndianAndLengthPrefixed) {
    socket_pair p;
    send_u8(p.a, 0xfe);
    send_u16(p.a, 0x0201);
    send_u32(p.a, 0x04030201);
    send_string(p.a, "");
    send_string(p.a, std::string("a\0b", 3));
    EXPECT_EQ(p.read_b(1 + 2 + 4 + 4 + 7), std::string("\xfe\x01\x02\x01\x02\x03\x04"
                                                       "\0\0\0\0"
                                                       "\x03\0\0\0a\0b",
                                                       18));

    p.write_b(std::string("\x01\x02\x01\x02\x03\x04\0\0\0\0\x03\0\0\0a\0b", 17));
    EXPECT_EQ(recv_u16(p.a), 0x0201);
    EXPECT_EQ(recv_u32(p.a), 0x04030201u);
    std::string s = "stale";
    recv_string(p.a, s);
    EXPECT_EQ(s, "");
    recv_string(p.a, s);
    EXPECT_EQ(s, std::string("a\0b", 3));
}

TEST(SocketFraming, NegativeLengthIsEmptyAndAbsurdLengthIsRefused) {
    socket_pair p;
    p.write_b("\xff\xff\xff\xffZ");
    std::string s = "stale";
    recv_string(p.a, s);
    EXPECT_EQ(s, "");
    char z;
    ASSERT_EQ(safe_recv(p.a, &z, 1), 1u); // the negative length took nothing after it
    EXPECT_EQ(z, 'Z');

    // 2147483647 announced: refused before anything is allocated or read.
    p.write_b("\xff\xff\xff\x7f");
    EXPECT_EQ(thrown_text([&] { recv_string(p.a, s); }).rfind("Refusing a string of 2147483647", 0),
              0u);
    // Just above the bound, too.
    const std::uint32_t over = max_string_length + 1;
    send_u32(p.b, over);
    EXPECT_NE(thrown_text([&] { recv_string(p.a, s); }).find("Refusing"), std::string::npos);
}

TEST(SocketFraming, LongStringArrivingInPiecesIsReadWhole) {
    socket_pair p;
    std::string body(70000, '\0');
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7);
    std::thread writer([&] {
        unsigned char len[4] = {0x70, 0x11, 0x01, 0x00}; // 70000
        ::write(p.b, len, 3);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::write(p.b, len + 3, 1);
        for (std::size_t off = 0; off < body.size(); off += 9999) {
            ::write(p.b, body.data() + off, std::min<std::size_t>(9999, body.size() - off));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::string got;
    recv_string(p.a, got);
    writer.join();
    EXPECT_EQ(got, body);
}

TEST(SocketFraming, PeerClosingMidIntegerThrowsWithCounts) {
    socket_pair p;
    p.write_b("\x01\x02");
    p.close_b();
    std::string text = thrown_text([&] { recv_u32(p.a); });
    // errno 0, the socket, last return 0, 2 of 4 bytes.
    EXPECT_EQ(text.rfind("safe_recv error (0 " + std::to_string(p.a) + " 0/2/4): ", 0), 0u) << text;
    EXPECT_EQ(safe_recv(p.a, nullptr, 0), 0u);
}

// The error names the failed call and carries its errno for callers that act on it.
TEST(SocketFraming, ErrorsCarryTheOperationAndErrno) {
    struct row {
        const char* name;
        std::function<void(socket_pair&)> call;
        const char* operation;
        int error_number;
    } rows[] = {
        {"peer closed mid-read",
         [](socket_pair& p) {
             p.close_b();
             (void)recv_u16(p.a);
         },
         "safe_recv", 0},
        {"peer gone before a send",
         [](socket_pair& p) {
             p.close_b();
             send_string(p.a, std::string(100000, 'x'));
         },
         "safe_send", EPIPE},
        {"string beyond the limit",
         [](socket_pair& p) {
             p.write_b(std::string("\xff\xff\xff\x7f", 4));
             std::string s;
             recv_string(p.a, s);
         },
         "recv", 0},
        {"not a socket",
         [](socket_pair&) {
             char c;
             (void)safe_recv(-1, &c, 1);
         },
         "safe_recv", EBADF},
        {"not a socket, read buffered",
         [](socket_pair&) {
             server_helper none;
             std::uint32_t u;
             none >> u;
         },
         "safe_recv", EBADF},
        {"peer closed mid-read, read buffered",
         [](socket_pair& p) {
             server_helper in(::dup(p.a));
             p.close_b();
             std::uint16_t h;
             in >> h;
         },
         "safe_recv", 0},
    };
    for (row& r : rows) {
        socket_pair p;
        try {
            r.call(p);
            ADD_FAILURE() << r.name << ": nothing thrown";
        } catch (const socket_error& e) {
            EXPECT_EQ(e.operation(), r.operation) << r.name;
            EXPECT_EQ(e.error_number(), r.error_number) << r.name;
        }
    }
}

// ---- A connection's buffered reads ----

// The reading end of a socketpair held by a server_helper (which reads through its receive
// buffer); the other end written by a peer thread as a case says.
struct buffered_pair {
    int peer = -1;
    std::unique_ptr<server_helper> reader;
    buffered_pair() {
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) == 0) {
            reader = std::make_unique<server_helper>(sv[0]);
            peer = sv[1];
        }
    }
    ~buffered_pair() { close_peer(); }
    void close_peer() {
        if (peer >= 0) ::close(peer);
        peer = -1;
    }
    void send(const std::string& bytes) const {
        ASSERT_EQ(::write(peer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
};

std::string le32(std::uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
            static_cast<char>(v >> 24)};
}
std::string str(const std::string& v) {
    return le32(static_cast<std::uint32_t>(v.size())) + v;
}

// Every kind of value, a string longer than the receive block among them.
struct sample_message {
    std::string big;
    std::string bytes;
    sample_message() : big(70000, '\0') {
        for (std::size_t i = 0; i < big.size(); ++i)
            big[i] = static_cast<char>(i * 7);
        bytes = std::string("\xfe\x01\x02", 3) + le32(0x04030201) + str("") + str("abc") +
                str(big) + le32(0xffffffffu) /* negative count: empty */ + le32(77);
    }
    void read_and_check(server_helper& in) const {
        std::uint8_t b = 0;
        std::uint16_t h = 0;
        std::uint32_t u = 0, tail = 0;
        std::string empty = "stale", abc, got_big, negative = "stale";
        in >> b >> h >> u >> empty >> abc >> got_big >> negative >> tail;
        EXPECT_EQ(b, 0xfe);
        EXPECT_EQ(h, 0x0201);
        EXPECT_EQ(u, 0x04030201u);
        EXPECT_EQ(empty, "");
        EXPECT_EQ(abc, "abc");
        EXPECT_TRUE(got_big == big) << got_big.size();
        EXPECT_EQ(negative, "");
        EXPECT_EQ(tail, 77u);
    }
};

// Reads served from blocks received whole must give what one recv per value gave: the same
// values however the bytes are cut, nothing lost behind a message, and the same error, with
// the counts of the value being read, when the peer ends inside one.
TEST(BufferedReads, SplitJoinedCutAndStalledStreams) {
    const sample_message m;
    auto read_string = [](server_helper& in) {
        std::string s;
        in >> s;
    };
    struct row {
        const char* name;
        std::function<void(buffered_pair&)> peer; // runs on its own thread
        std::function<void(server_helper&)> read; // on the test's thread
        std::string error_counts;                 // " last/got/n): " or "" for success
    } rows[] = {
        {"a byte per send",
         [&](buffered_pair& p) {
             for (char c : m.bytes)
                 p.send(std::string(1, c));
         },
         [&](server_helper& in) { m.read_and_check(in); }, ""},
        {"two messages in one send, then the end",
         [&](buffered_pair& p) {
             p.send(m.bytes + m.bytes);
             p.close_peer();
         },
         [&](server_helper& in) {
             EXPECT_FALSE(in.peer_closed());
             m.read_and_check(in);
             EXPECT_FALSE(in.peer_closed()); // the second message is here, not lost
             m.read_and_check(in);
             EXPECT_EQ(in.buffered(), 0u);
             EXPECT_TRUE(in.peer_closed());
         },
         ""},
        {"closed inside an integer, after values of the same block",
         [&](buffered_pair& p) {
             p.send(le32(5) + str("abc") + "\x01\x02");
             p.close_peer();
         },
         [&](server_helper& in) {
             std::uint32_t u = 0;
             std::string s;
             in >> u >> s;
             EXPECT_EQ(s, "abc");
             EXPECT_FALSE(in.peer_closed());
             in >> u;
         },
         " 0/2/4): "},
        {"closed inside a short string",
         [&](buffered_pair& p) {
             p.send(le32(5000) + std::string(1000, 'x'));
             p.close_peer();
         },
         read_string, " 0/1000/5000): "},
        {"closed inside a long string: counted in its 1 MiB piece",
         [&](buffered_pair& p) {
             p.send(le32(3u << 20));
             const std::string part(64 * 1024, 'y');
             for (int i = 0; i < 24; ++i) // 1.5 MiB
                 p.send(part);
             p.close_peer();
         },
         read_string, " 0/524288/1048576): "},
        {"stalls inside a value, then the rest comes",
         [&](buffered_pair& p) {
             p.send("\x09");
             std::this_thread::sleep_for(std::chrono::milliseconds(100));
             p.send(std::string("\0\0\0", 3) + "123456789");
         },
         [&](server_helper& in) {
             std::string s;
             in >> s;
             EXPECT_EQ(s, "123456789");
         },
         ""},
        {"stalls inside a value until the watchdog ends it",
         [&](buffered_pair& p) {
             p.send(std::string("\x01\x02\x03", 3));
             std::this_thread::sleep_for(std::chrono::milliseconds(100));
             ::shutdown(p.peer, SHUT_RDWR); // what killing the peer does to the stream
         },
         [&](server_helper& in) {
             std::uint16_t h = 0;
             std::uint32_t u = 0;
             in >> h >> u;
         },
         " 0/1/4): "},
    };
    for (row& r : rows) {
        buffered_pair p;
        ASSERT_TRUE(p.reader) << r.name;
        // The peer ends after its part, so a reader that lost bytes fails instead of waiting.
        std::thread peer([&] {
            r.peer(p);
            p.close_peer();
        });
        const std::string text = thrown_text([&] { r.read(*p.reader); });
        peer.join();
        if (r.error_counts.empty()) {
            EXPECT_EQ(text, "(nothing thrown)") << r.name;
        } else {
            const std::string head = "safe_recv error (0 " + std::to_string(p.reader->socket());
            EXPECT_EQ(text.rfind(head + r.error_counts, 0), 0u) << r.name << ": " << text;
        }
    }
}

TEST(ConnectBack, RefusedPortSaysWhichStepFailedAndWhy) {
    // The reserved port has no listener: the connect step fails, and the socket is not kept.
    const int port = tn_test::reserve_port();
    std::string error;
    EXPECT_EQ(connect_back(port, error), -1);
    EXPECT_EQ(error, "Could not connect to port " + std::to_string(port) + ": " +
                         std::strerror(ECONNREFUSED))
        << error;
}

TEST(SocketFraming, SendingToAClosedPeerThrowsInsteadOfKilling) {
    socket_pair p;
    p.close_b();
    std::string text = thrown_text([&] { send_string(p.a, std::string(100000, 'x')); });
    EXPECT_EQ(text.rfind("safe_send error (" + std::to_string(EPIPE) + " ", 0), 0u) << text;
}

// ---- The proxy with a real child program ----

class ProxyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const char* tmp = std::getenv("TEST_TMPDIR");
        root_ = fs::path(tmp ? tmp : testing::TempDir()) / ("ipc-" + std::to_string(getpid()));
        fs::create_directories(root_ / "bin");
        for (const char* name : {"echo", "die", "hang"})
            fs::create_symlink(TN_IPC_CHILD, root_ / "bin" / name);
        std::ofstream(root_ / "with.conf") << "DEPLOYDIR=" << root_.string() << "/\n";
        std::ofstream(root_ / "without.conf") << "OTHER=1\n";
        with_ = std::make_unique<lumbrake::config>((root_ / "with.conf").c_str());
        without_ = std::make_unique<lumbrake::config>((root_ / "without.conf").c_str());
    }
    static void TearDownTestSuite() {
        with_.reset();
        without_.reset();
        fs::remove_all(root_);
    }
    static fs::path root_;
    static std::unique_ptr<lumbrake::config> with_, without_;
};
fs::path ProxyTest::root_;
std::unique_ptr<lumbrake::config> ProxyTest::with_, ProxyTest::without_;

TEST_F(ProxyTest, ChildConnectsBackAndEchoes) {
    server_proxy proxy(*with_, "echo");
    EXPECT_EQ(proxy.socket(), -1);
    EXPECT_EQ(proxy.child(), 0);
    std::string error;
    ASSERT_TRUE(proxy.start(error)) << error;
    EXPECT_EQ(error, "");
    EXPECT_GT(proxy.child(), 0);
    EXPECT_GE(proxy.socket(), 0);
    EXPECT_GE(proxy.listen_socket(), 0);

    std::string big(5000, 'q'), got;
    std::uint32_t u = 0;
    std::uint16_t h = 0;
    proxy << std::uint8_t('S') << big >> got;
    EXPECT_EQ(got, big);
    proxy << std::uint8_t('S') << std::string() >> got;
    EXPECT_EQ(got, "");
    proxy << std::uint8_t('U') << std::uint32_t(0xdeadbeef) >> u;
    EXPECT_EQ(u, 0xdeadbeefu);
    proxy << std::uint8_t('H') << std::uint16_t(0xbeef) >> h;
    EXPECT_EQ(h, 0xbeef);

    FFF::linkscore_t link;
    proxy << std::uint8_t('L');
    proxy >> link;
    EXPECT_EQ(link.url, "http://example.org/a");
    EXPECT_EQ(link.score, 750000u);

    // Sent by the child in pieces with pauses between them.
    proxy << std::uint8_t('P') >> got;
    ASSERT_EQ(got.size(), 5000u);
    EXPECT_EQ(got.substr(0, 3), "abc");
    EXPECT_EQ(got[4999], static_cast<char>('a' + 4999 % 26));

    // The child closes after half an integer.
    proxy << std::uint8_t('C');
    EXPECT_NE(thrown_text([&] { proxy >> u; }).find(" 0/2/4): "), std::string::npos);
}

TEST_F(ProxyTest, DestroyingTheProxyLetsAWaitingChildEnd) {
    // The child is blocked reading its next command; the destructor must not wait for ever.
    auto proxy = std::make_unique<server_proxy>(*with_, "echo");
    std::string error;
    ASSERT_TRUE(proxy->start(error)) << error;
    proxy.reset();
    SUCCEED();
}

TEST_F(ProxyTest, KillWorkerEndsAConnectedChild) {
    server_proxy proxy(*with_, "echo");
    std::string error;
    ASSERT_TRUE(proxy.start(error)) << error;
    proxy.kill_worker();
    std::uint32_t u;
    EXPECT_NE(thrown_text([&] { proxy >> u; }).find("safe_recv error"), std::string::npos);
}

TEST_F(ProxyTest, SetUpFailuresSpawnNothingAndReturnFalse) {
    struct {
        bool with_deploydir;
        const char* program;
        const char* error_start;
    } cases[] = {
        {false, "echo", "Could not spawn echo: DEPLOYDIR not defined in config file"},
        {true, "absent", "Could not spawn "},
        // A child that ends before it connects must not leave start() waiting for ever.
        {true, "die", "Could not accept connection: "},
    };
    for (const auto& c : cases) {
        server_proxy proxy(c.with_deploydir ? *with_ : *without_, c.program);
        std::string error;
        EXPECT_FALSE(proxy.start(error)) << c.program;
        EXPECT_EQ(error.rfind(c.error_start, 0), 0u) << error;
        EXPECT_EQ(proxy.child(), 0) << c.program;
        EXPECT_EQ(proxy.socket(), -1) << c.program;
    }
}

TEST_F(ProxyTest, KillingAChildThatNeverConnectsEndsTheAccept) {
    server_proxy proxy(*with_, "hang");
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        while (!done && proxy.child() <= 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        proxy.kill_worker();
    });
    std::string error;
    bool ok = proxy.start(error);
    done = true;
    watchdog.join();
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find("ended without connecting"), std::string::npos) << error;
}

} // namespace
