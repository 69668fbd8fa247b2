// The daemon's side of its child programs: a loopback listener that starts a child with the
// port as its only argument and accepts the one connection the child opens back, the binary
// framing spoken over it.
//
// Wire format: integers raw in little-endian order (1, 2 or 4 bytes), strings as a 32-bit
// length and the bytes. Transfer failures throw socket_error; the connection is then unusable.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/types.h>

namespace lumbrake {
class config;
}

namespace socket_ipc {

// A transfer over a connection of this layer failed: a system call failed, the peer closed, or
// the bytes broke the framing (a short transfer, a string beyond the limit). what() is the
// whole message.
class socket_error : public std::runtime_error {
public:
    socket_error(std::string operation, int error_number, const std::string& message)
        : std::runtime_error(message), operation_(std::move(operation)),
          error_number_(error_number) {}
    // The operation that failed: "safe_send", "safe_recv", "send" or "recv".
    const std::string& operation() const noexcept { return operation_; }
    // errno of the failed call; 0 when the peer closed or the framing was broken.
    int error_number() const noexcept { return error_number_; }

private:
    std::string operation_;
    int error_number_;
};

// Received strings longer than this are refused (socket_error, and nothing is
// allocated for them): the largest thing carried is a document of the worker's 16 MiB limit
// with its FFF form, far below it.
constexpr std::uint32_t max_string_length = 256u * 1024 * 1024;

// Loops until n bytes are transferred. A signal (EINTR) is retried; the peer closing or any
// other error throws socket_error "safe_recv error (errno sock ret/got/n): <system text>" (or
// safe_send).
// Sending never raises SIGPIPE. Returns n.
std::size_t safe_send(int sock, const void* buffer, std::size_t n);
std::size_t safe_recv(int sock, void* buffer, std::size_t n);

void send_u8(int sock, std::uint8_t value);
void send_u16(int sock, std::uint16_t value);
void send_u32(int sock, std::uint32_t value);
void send_string(int sock, const std::string& value);
std::uint16_t recv_u16(int sock);
std::uint32_t recv_u32(int sock);
// Clears the target first; a length of 0 or below (read as signed) gives the empty string.
void recv_string(int sock, std::string& value);

// What a connection has delivered and its reader has not yet taken. Received a block at a time
// (one recv for many small fields); it belongs to the connection, so bytes that arrive behind
// the message being read wait here for the next one.
class receive_buffer {
public:
    static constexpr std::size_t block = 64 * 1024;

    bool empty() const { return pos_ == end_; }
    std::size_t size() const { return end_ - pos_; }
    // One recv of up to a block into an empty buffer (waits for bytes; EINTR retried): the
    // count received, 0 when the peer closed, -1 on failure (errno kept). Only a count above 0
    // leaves anything here.
    ssize_t fill(int sock);
    // Copies up to count bytes of what is here; the number copied.
    std::size_t take(void* data, std::size_t count);
    void clear();

private:
    // Allocated at the first fill and kept, never cleared byte by byte.
    std::unique_ptr<char[]> data_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
};

// One connected socket (-1 for none), closed on destruction. Reads are served from the
// connection's receive_buffer with safe_recv's rules and messages: each value is read whole or
// throws, and a wait lasts until bytes come or the peer ends.
class server_helper {
public:
    server_helper() = default;
    explicit server_helper(int connected) : sock_(connected) {}
    virtual ~server_helper();
    server_helper(const server_helper&) = delete;
    server_helper& operator=(const server_helper&) = delete;

    int socket() const { return sock_; }

    server_helper& operator<<(std::uint8_t value);
    server_helper& operator<<(std::uint16_t value);
    server_helper& operator<<(std::uint32_t value);
    server_helper& operator<<(const std::string& value);
    server_helper& operator>>(std::uint8_t& value);
    server_helper& operator>>(std::uint16_t& value);
    server_helper& operator>>(std::uint32_t& value);
    server_helper& operator>>(std::string& value);

    // Waits for the next message's first bytes: true when the peer closed the connection
    // cleanly before sending any, false when bytes are here or the wait failed (the next read
    // then reports it).
    bool peer_closed();
    // Bytes received and not yet read.
    std::size_t buffered() const { return in_.size(); }

protected:
    void close_connection();
    // A new connection starts with nothing received.
    void set_socket(int connected);

    int sock_ = -1;

private:
    // n bytes, whole, as safe_recv would read them (its error text, counting this value's
    // bytes).
    void recv_exact(void* buffer, std::size_t n);

    receive_buffer in_;
};

// The child's side: connects to the daemon's listener at 127.0.0.1:port, with Nagle off (every
// request waits for its reply, so nothing would follow a small write). The socket, or -1 with
// the step that failed and the system's reason in error.
int connect_back(int port, std::string& error);

// Starts DEPLOYDIR/bin/<program> and holds the connection it opens back.
class server_proxy : public server_helper {
public:
    // Starts nothing.
    server_proxy(const lumbrake::config& cfg, const std::string& program);
    // Closes the sockets, then waits (without a time limit) for the child to end. The child
    // sees its connection close first, so a child that waits for a request can end.
    ~server_proxy() override;

    // Listens on 127.0.0.1 at a port the system chooses, starts the child with the port as its
    // only argument and accepts its connection. Accepting waits without a time limit while the
    // child lives, and fails once it has ended without connecting. False with the reason.
    bool start(std::string& error);
    // False once the child has ended (it is reaped then, and forgotten).
    bool child_alive();
    // Ends a hung child; its exit status becomes 9 * 256. Callable from another thread.
    void kill_worker();

    pid_t child() const { return child_.load(); }
    int listen_socket() const { return listen_sock_; }
    const std::string& program() const { return program_; }

protected:
    // The child's environment: the daemon's own, which a derived proxy may amend.
    virtual void child_environment(std::map<std::string, std::string>& environment) const {
        (void)environment;
    }

private:
    const lumbrake::config& cfg_;
    std::string program_;
    int listen_sock_ = -1;
    std::atomic<pid_t> child_{0};
};

} // namespace socket_ipc
