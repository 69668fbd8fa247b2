// siftvault: the index server. Started by the daemon with one argument, the port on
// 127.0.0.1 that the daemon listens on; connects back, keeps its Xapian database in the
// directory "index" of its working directory (shards written side by side, vault-db.h), and
// serves requests until QUIT or the end of the connection. OPEN_READER connects back once
// more: a search connection, served by a thread of its own over a read-only database on the
// same folder, so searches run side by side.
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
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "index-server/vault-session.h"
#include "ipc/socket_ipc.h"

namespace {

void note(const std::string& text) {
    std::fprintf(stderr, "siftvault: %s\n", text.c_str());
}

// The most search connections at once (the daemon keeps about one per core).
constexpr std::size_t max_readers = 64;

// The search connections: each a thread serving its own socket over its own reader.
class reader_set {
public:
    reader_set(int port, const std::string& path, siftvault::vault_shared& shared)
        : port_(port), path_(path), shared_(shared) {}
    ~reader_set() { stop(); }

    // OPEN_READER: the local port of the new connection, or -1.
    std::int32_t open() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (path_.empty() || readers_.size() >= max_readers) return -1;
        auto r = std::make_unique<reader>();
        try {
            r->store = std::make_unique<siftvault::vault_reader>(path_, shared_);
        } catch (const Xapian::Error& e) {
            note("search connection refused: " + e.get_description());
            return -1;
        }
        std::string error;
        r->sock = socket_ipc::connect_back(port_, error);
        if (r->sock < 0) {
            note(error);
            return -1;
        }
        sockaddr_in local{};
        socklen_t length = sizeof local;
        if (::getsockname(r->sock, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
            ::close(r->sock);
            return -1;
        }
        reader* p = r.get();
        p->thread = std::thread([p] { serve(*p); });
        readers_.push_back(std::move(r));
        return ntohs(local.sin_port);
    }

    // The writer's connection has ended: the search connections end too (the daemon quits
    // them first; after a daemon that died they see the end of their streams anyway).
    void stop() {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& r : readers_)
            ::shutdown(r->sock, SHUT_RDWR);
        for (auto& r : readers_) {
            if (r->thread.joinable()) r->thread.join();
            ::close(r->sock);
        }
        readers_.clear();
    }

private:
    struct reader {
        int sock = -1;
        std::unique_ptr<siftvault::vault_reader> store;
        std::thread thread;
    };

    static void serve(reader& r) {
        try {
            std::unique_ptr<siftvault::query_engine> engine = siftvault::make_query_engine();
            siftvault::session s(*r.store, *engine);
            lumbrake::idx_buffered_channel channel(r.sock);
            if (s.serve(channel) == siftvault::session::outcome::protocol_error)
                note("protocol error, search connection dropped: " + s.last_error());
            channel.flush();
        } catch (const std::exception& e) {
            note(std::string("search connection ended: ") + e.what());
        }
        // The socket stays open until stop(), so its number cannot be reused meanwhile.
        ::shutdown(r.sock, SHUT_RDWR);
    }

    int port_;
    std::string path_;
    siftvault::vault_shared& shared_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<reader>> readers_;
};

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
    // The daemon leaves replies unread up to a bound that these buffers hold.
    lumbrake::size_writer_socket(sock);

    try {
        siftvault::vault_shared shared;
        siftvault::vault_db db("index", settings);
        db.share(shared);
        reader_set readers(port, db.path(), shared);
        std::unique_ptr<siftvault::query_engine> engine = siftvault::make_query_engine();
        siftvault::session s(db, *engine);
        s.on_open_reader([&readers] { return readers.open(); });
        // Requests that arrive together are read together and their replies go out in one
        // send, before the server waits for more; a reply that a shard finishes while the
        // server waits goes out at once.
        siftvault::vault_channel channel(sock);
        const siftvault::session::outcome o = s.serve(channel);
        channel.flush();
        readers.stop();
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
