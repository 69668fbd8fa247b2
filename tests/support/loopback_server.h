// Stand-in servers of tests: a listener on 127.0.0.1 at a port the system chooses, whose
// connections one thread takes in turn, and a send that writes all of its bytes.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace tn_test {

// The whole text sent (never raising SIGPIPE); false when the peer is gone.
inline bool send_all(int fd, const std::string& s) {
    std::size_t off = 0;
    while (off < s.size()) {
        ssize_t n = ::send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return false;
        off += static_cast<std::size_t>(n);
    }
    return true;
}

// A socket listening on 127.0.0.1 at a port the system chooses, and that port; -1 when the
// system refuses.
inline int listen_loopback(int& port, int backlog = 16) {
    port = 0;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

// Listens from construction on; each connection goes to `serve` on the server's one thread,
// one after the other, and is closed when serve returns. The destructor stops listening and
// waits for the connection being served.
class loopback_server {
public:
    explicit loopback_server(std::function<void(int fd)> serve) : serve_(std::move(serve)) {
        fd_ = listen_loopback(port_);
        EXPECT_GE(fd_, 0);
        thread_ = std::thread([this] {
            for (;;) {
                int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (c < 0) return;
                serve_(c);
                ::close(c);
            }
        });
    }
    ~loopback_server() {
        ::shutdown(fd_, SHUT_RDWR);
        thread_.join();
        ::close(fd_);
    }
    loopback_server(const loopback_server&) = delete;
    loopback_server& operator=(const loopback_server&) = delete;

    int port() const { return port_; }

private:
    std::function<void(int fd)> serve_;
    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
};

} // namespace tn_test
