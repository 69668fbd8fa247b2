// Small clients for tests that talk to a real server on 127.0.0.1: a raw HTTP exchange over a
// socket, a connect probe, and the output of a command line (curl, SOAP::Lite scripts).
#pragma once

#include "command.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace tn_test {

// A connected socket to 127.0.0.1:port, or -1.
inline int connect_loopback(int port) {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

// True when something accepts connections on 127.0.0.1:port.
inline bool port_answers(int port) {
    int s = connect_loopback(port);
    if (s < 0) return false;
    ::close(s);
    return true;
}

// Raw exchange: sends the bytes, half-closes unless told not to, and reads the answer until
// the server closes the connection. "connect failed" when nothing listens.
inline std::string http_exchange(int port, const std::string& request, bool half_close = true) {
    int s = connect_loopback(port);
    if (s < 0) return "connect failed";
    std::size_t sent = 0;
    while (sent < request.size()) {
        ssize_t n = ::send(s, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    if (half_close) ::shutdown(s, SHUT_WR);
    std::string answer;
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(s, buffer, sizeof buffer, 0)) > 0)
        answer.append(buffer, static_cast<std::size_t>(n));
    ::close(s);
    return answer;
}

// The status line of an answer, and its body after the blank line.
inline std::string status_line(const std::string& answer) {
    return answer.substr(0, answer.find("\r\n"));
}
inline std::string body_of(const std::string& answer) {
    std::size_t end = answer.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

} // namespace tn_test
