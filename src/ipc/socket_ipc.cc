#include "ipc/socket_ipc.h"

#include "util/config.h"
#include "util/log.h"
#include "util/syslayer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace socket_ipc {

namespace {

socket_error transfer_error(const char* what, int error_number, int sock, ssize_t last,
                            std::size_t done, std::size_t n) {
    std::ostringstream os;
    os << what << " error (" << error_number << " " << sock << " " << last << "/" << done << "/"
       << n << "): " << lumbrake::system_error_text(error_number);
    return socket_error(what, error_number, os.str());
}

void check_count(std::size_t expected, std::size_t actual, const char* operation,
                 const char* verb) {
    if (actual != expected)
        throw socket_error(operation, 0,
                           "Expecting " + std::to_string(expected) + " bytes, " + verb + " " +
                               std::to_string(actual));
}

void send_exact(int sock, const void* buffer, std::size_t n) {
    check_count(n, safe_send(sock, buffer, n), "send", "sent");
}

void recv_exact(int sock, void* buffer, std::size_t n) {
    check_count(n, safe_recv(sock, buffer, n), "recv", "got");
}

// The wire is little-endian whatever the machine.
template <typename T> void put_le(unsigned char* out, T value) {
    for (std::size_t i = 0; i < sizeof(T); ++i)
        out[i] = static_cast<unsigned char>(value >> (8 * i));
}

template <typename T> T get_le(const unsigned char* in) {
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        value = static_cast<T>(value | (static_cast<T>(in[i]) << (8 * i)));
    return value;
}

// Long strings are received in pieces of this size.
constexpr std::size_t string_chunk = 1u << 20;

// Reads a string of n bytes in pieces of `piece`, grown as the bytes arrive, so a peer that
// announces much and sends little costs little; `recv` reads one piece whole or throws.
template <typename Recv>
void recv_in_pieces(std::string& value, std::size_t n, std::size_t piece, Recv recv) {
    value.reserve(std::min(n, piece));
    std::size_t got = 0;
    while (got < n) {
        const std::size_t part = std::min(n - got, piece);
        value.resize(got + part);
        recv(value.data() + got, part);
        got += part;
    }
}

void check_string_length(std::uint32_t n) {
    if (n > max_string_length)
        throw socket_error("recv", 0,
                           "Refusing a string of " + std::to_string(n) + " bytes (at most " +
                               std::to_string(max_string_length) + ")");
}

} // namespace

std::size_t safe_send(int sock, const void* buffer, std::size_t n) {
    if (n == 0) return 0;
    const char* p = static_cast<const char*>(buffer);
    std::size_t sent = 0;
    while (sent < n) {
        errno = 0;
        ssize_t r = ::send(sock, p + sent, n - sent, MSG_NOSIGNAL);
        if (r > 0) {
            sent += static_cast<std::size_t>(r);
            continue;
        }
        int e = errno;
        if (r < 0 && e == EINTR) continue;
        throw transfer_error("safe_send", e, sock, r, sent, n);
    }
    TN_LOG(lumbrake::LF_IPCSOCK, lumbrake::LL_BORING, "Sent " << sent << "/" << n << " bytes");
    return sent;
}

std::size_t safe_recv(int sock, void* buffer, std::size_t n) {
    if (n == 0) return 0;
    char* p = static_cast<char*>(buffer);
    std::size_t received = 0;
    while (received < n) {
        errno = 0;
        ssize_t r = ::recv(sock, p + received, n - received, 0);
        if (r > 0) {
            received += static_cast<std::size_t>(r);
            continue;
        }
        int e = errno;
        if (r < 0 && e == EINTR) continue;
        throw transfer_error("safe_recv", e, sock, r, received, n);
    }
    TN_LOG(lumbrake::LF_IPCSOCK, lumbrake::LL_BORING,
           "Received " << received << "/" << n << " bytes");
    return received;
}

void send_u8(int sock, std::uint8_t value) {
    send_exact(sock, &value, 1);
}

void send_u16(int sock, std::uint16_t value) {
    unsigned char b[2];
    put_le(b, value);
    send_exact(sock, b, sizeof b);
}

void send_u32(int sock, std::uint32_t value) {
    unsigned char b[4];
    put_le(b, value);
    send_exact(sock, b, sizeof b);
}

void send_string(int sock, const std::string& value) {
    if (value.size() > 0x7fffffffu)
        throw socket_error(
            "send", 0, "String of " + std::to_string(value.size()) + " bytes is too long to send");
    send_u32(sock, static_cast<std::uint32_t>(value.size()));
    if (!value.empty()) send_exact(sock, value.data(), value.size());
}

std::uint16_t recv_u16(int sock) {
    unsigned char b[2];
    recv_exact(sock, b, sizeof b);
    return get_le<std::uint16_t>(b);
}

std::uint32_t recv_u32(int sock) {
    unsigned char b[4];
    recv_exact(sock, b, sizeof b);
    return get_le<std::uint32_t>(b);
}

void recv_string(int sock, std::string& value) {
    value.clear();
    const auto length = static_cast<std::int32_t>(recv_u32(sock));
    if (length <= 0) return;
    const auto n = static_cast<std::uint32_t>(length);
    check_string_length(n);
    if (n <= 4096) {
        char local[4096];
        recv_exact(sock, local, n);
        value.assign(local, n);
        return;
    }
    recv_in_pieces(value, n, string_chunk,
                   [sock](char* to, std::size_t part) { recv_exact(sock, to, part); });
}

// ---- receive_buffer ----

ssize_t receive_buffer::fill(int sock) {
    if (!data_) data_ = std::make_unique_for_overwrite<char[]>(block);
    pos_ = end_ = 0;
    ssize_t r;
    do {
        errno = 0;
        r = ::recv(sock, data_.get(), block, 0);
    } while (r < 0 && errno == EINTR);
    if (r > 0) end_ = static_cast<std::size_t>(r);
    return r;
}

std::size_t receive_buffer::take(void* data, std::size_t count) {
    const std::size_t n = std::min(count, end_ - pos_);
    if (n > 0) std::memcpy(data, data_.get() + pos_, n);
    pos_ += n;
    return n;
}

void receive_buffer::clear() {
    pos_ = end_ = 0;
}

// ---- server_helper ----

server_helper::~server_helper() {
    close_connection();
}

void server_helper::close_connection() {
    in_.clear();
    if (sock_ >= 0) {
        ::close(sock_);
        sock_ = -1;
    }
}

void server_helper::set_socket(int connected) {
    in_.clear();
    sock_ = connected;
}

void server_helper::recv_exact(void* buffer, std::size_t n) {
    if (n == 0) return;
    char* p = static_cast<char*>(buffer);
    std::size_t received = in_.take(p, n);
    while (received < n) {
        ssize_t r;
        if (n - received >= receive_buffer::block) {
            // A large piece goes straight to its place, not through the buffer.
            do {
                errno = 0;
                r = ::recv(sock_, p + received, n - received, 0);
            } while (r < 0 && errno == EINTR);
            if (r > 0) {
                received += static_cast<std::size_t>(r);
                continue;
            }
        } else {
            r = in_.fill(sock_);
            if (r > 0) {
                received += in_.take(p + received, n - received);
                continue;
            }
        }
        const int e = errno;
        in_.clear();
        throw transfer_error("safe_recv", e, sock_, r, received, n);
    }
    TN_LOG(lumbrake::LF_IPCSOCK, lumbrake::LL_BORING,
           "Received " << received << "/" << n << " bytes");
}

bool server_helper::peer_closed() {
    if (!in_.empty()) return false;
    return in_.fill(sock_) == 0;
}

server_helper& server_helper::operator<<(std::uint8_t value) {
    send_u8(sock_, value);
    return *this;
}
server_helper& server_helper::operator<<(std::uint16_t value) {
    send_u16(sock_, value);
    return *this;
}
server_helper& server_helper::operator<<(std::uint32_t value) {
    send_u32(sock_, value);
    return *this;
}
server_helper& server_helper::operator<<(const std::string& value) {
    send_string(sock_, value);
    return *this;
}
server_helper& server_helper::operator>>(std::uint8_t& value) {
    unsigned char b[1];
    recv_exact(b, sizeof b);
    value = b[0];
    return *this;
}
server_helper& server_helper::operator>>(std::uint16_t& value) {
    unsigned char b[2];
    recv_exact(b, sizeof b);
    value = get_le<std::uint16_t>(b);
    return *this;
}
server_helper& server_helper::operator>>(std::uint32_t& value) {
    unsigned char b[4];
    recv_exact(b, sizeof b);
    value = get_le<std::uint32_t>(b);
    return *this;
}
server_helper& server_helper::operator>>(std::string& value) {
    value.clear();
    std::uint32_t count = 0;
    *this >> count;
    const auto length = static_cast<std::int32_t>(count);
    if (length <= 0) return *this;
    const auto n = static_cast<std::uint32_t>(length);
    check_string_length(n);
    // In the pieces recv_string reads (its error counts too); a string that is here already is
    // one piece.
    recv_in_pieces(value, n, n <= 4096 ? n : string_chunk,
                   [this](char* to, std::size_t part) { recv_exact(to, part); });
    return *this;
}

// ---- server_proxy ----

server_proxy::server_proxy(const lumbrake::config& cfg, const std::string& program)
    : cfg_(cfg), program_(program) {}

server_proxy::~server_proxy() {
    if (listen_sock_ >= 0) {
        ::close(listen_sock_);
        listen_sock_ = -1;
    }
    // The connection goes first: a child blocked reading its next request then sees the end
    // instead of keeping this wait (and its owner) hanging.
    close_connection();
    pid_t pid = child_.exchange(0);
    if (pid > 0) lumbrake::wait_process(pid);
}

bool server_proxy::start(std::string& error) {
    error.clear();
    listen_sock_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_sock_ < 0) {
        error = "Could not create socket: " + lumbrake::system_error_text();
        return false;
    }
    int one = 1;
    // Only a matter of latency: the child is still usable without it.
    if (::setsockopt(listen_sock_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0)
        TN_LOG(lumbrake::LF_IPCSOCK, lumbrake::LL_ERROR,
               "Could not disable nagle: " << lumbrake::system_error_text());
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(listen_sock_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = "Could not bind to socket: " + lumbrake::system_error_text();
        return false;
    }
    if (::listen(listen_sock_, 1) != 0) {
        error = "Could not listen to socket";
        return false;
    }
    socklen_t length = sizeof address;
    if (::getsockname(listen_sock_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = "Could not listen to socket: " + lumbrake::system_error_text();
        return false;
    }
    const int port = ntohs(address.sin_port);

    std::string path, why;
    if (!lumbrake::deploy_path(cfg_, "bin/" + program_, path, why)) {
        error = "Could not spawn " + program_ + ": " + why;
        return false;
    }
    TN_LOG(lumbrake::LF_IPCSOCK, lumbrake::LL_DEBUG, "server_proxy will talk on port " << port);

    char port_text[16];
    std::snprintf(port_text, sizeof port_text, "%d", port);
    std::map<std::string, std::string> environment;
    lumbrake::get_environment(environment);
    child_environment(environment);
    pid_t pid = lumbrake::spawn_process(why, path, {port_text}, environment);
    if (pid <= 0) {
        error = "Could not spawn " + path + ": " + why;
        return false;
    }
    child_ = pid;

    // Waits as long as the child lives; a child that ends (or is killed) without connecting
    // ends the wait, which would otherwise last for ever.
    bool child_gone = false;
    for (;;) {
        pollfd p{listen_sock_, POLLIN, 0};
        int ready = ::poll(&p, 1, child_gone ? 0 : 200);
        if (ready > 0) {
            int s = ::accept4(listen_sock_, nullptr, nullptr, SOCK_CLOEXEC);
            if (s >= 0) {
                set_socket(s);
                return true;
            }
            if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN) continue;
            error = "Could not accept connection: " + lumbrake::system_error_text();
            return false;
        }
        if (ready < 0 && errno != EINTR) {
            error = "Could not accept connection: " + lumbrake::system_error_text();
            return false;
        }
        if (child_gone) break;
        pid_t current = child_.load();
        if (current <= 0) {
            child_gone = true; // taken by another thread: look once more, then give up
            continue;
        }
        int status = 0;
        pid_t r = ::waitpid(current, &status, WNOHANG);
        if (r == current || (r < 0 && errno == ECHILD)) {
            child_.compare_exchange_strong(current, 0);
            child_gone = true; // one last look: it may have connected before it ended
        }
    }
    error = "Could not accept connection: " + path + " ended without connecting";
    return false;
}

int connect_back(int port, std::string& error) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = "Could not create socket: " + lumbrake::system_error_text();
        return -1;
    }
    int one = 1;
    if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0) {
        error = "Could not disable nagle: " + lumbrake::system_error_text();
        ::close(fd);
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    int r;
    do {
        r = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        error = "Could not connect to port " + std::to_string(port) + ": " +
                lumbrake::system_error_text();
        ::close(fd);
        return -1;
    }
    return fd;
}

bool server_proxy::child_alive() {
    pid_t pid = child_.load();
    if (pid <= 0) return false;
    int status = 0;
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno == ECHILD)) {
        child_.compare_exchange_strong(pid, 0);
        return false;
    }
    return true;
}

void server_proxy::kill_worker() {
    pid_t pid = child_.load();
    if (pid > 0) {
        TN_LOG(lumbrake::LF_IPCSOCK, lumbrake::LL_DEBUG, "Killing hanged worker " << pid);
        lumbrake::kill(pid, 9);
    }
}

} // namespace socket_ipc
