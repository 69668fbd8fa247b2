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
#include "ipc/socket_ipc.h"

namespace {

void note(const std::string& text) {
    std::fprintf(stderr, "siftvault: %s\n", text.c_str());
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

    std::string error;
    const int sock = socket_ipc::connect_back(port, error);
    if (sock < 0) {
        note(error);
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
