// siftvault: the index server. Started by the daemon with one argument, the port on
// 127.0.0.1 that the daemon listens on; connects back, keeps its Xapian database in the
// directory "index" of its working directory, and serves requests until QUIT or the end of
// the connection.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "index-server/vault-session.h"

namespace {

void note(const std::string& text) {
    std::fprintf(stderr, "siftvault: %s\n", text.c_str());
}

int connect_back(int port) {
    int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0) return -1;
    int one = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    int r;
    do {
        r = ::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        ::close(sock);
        return -1;
    }
    return sock;
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    if (argc != 2) {
        note("usage: siftvault <port>");
        return 2;
    }
    int port = 0;
    const char* end = argv[1] + std::strlen(argv[1]);
    auto [p, ec] = std::from_chars(argv[1], end, port);
    if (ec != std::errc() || p != end || port <= 0 || port > 65535) {
        note(std::string("not a port: ") + argv[1]);
        return 2;
    }

    std::vector<std::string> notes;
    const siftvault::vault_settings settings = siftvault::vault_settings::from_environment(notes);
    for (const std::string& n : notes)
        note(n);

    const int sock = connect_back(port);
    if (sock < 0) {
        note("cannot connect to 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno));
        return 1;
    }

    try {
        siftvault::vault_db db("index", settings);
        std::unique_ptr<siftvault::query_engine> engine = siftvault::make_query_engine();
        siftvault::session s(db, *engine);
        // Requests that arrive together are read together and their replies go out in one
        // send, before the server waits for more.
        lumbrake::idx_buffered_channel channel(sock);
        const siftvault::session::outcome o = s.serve(channel);
        channel.flush();
        ::close(sock);
        if (o == siftvault::session::outcome::protocol_error) {
            note("protocol error, connection dropped: " + s.last_error());
            return 3;
        }
        return 0;
    } catch (const Xapian::Error& e) {
        note("index error: " + e.get_description());
    } catch (const std::exception& e) {
        note(std::string("error: ") + e.what());
    }
    ::close(sock);
    return 1;
}
