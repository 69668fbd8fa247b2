// The request path over hostile bytes from a socket: the head read in blocks (no byte may be
// lost between the head and what is kept behind it, and a refused head is empty), then the
// request state over that head: Expect, Content-Length, the body-size check (the announced
// body read through the same reader) and Basic credentials.
#include "httpfront/httpstate.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// A socket whose peer has sent the bytes and closed: reads end instead of blocking.
int socket_with(std::string_view bytes) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return -1;
    if (!bytes.empty()) (void)::send(fds[1], bytes.data(), bytes.size(), MSG_NOSIGNAL);
    ::close(fds[1]);
    return fds[0];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A small limit, so that refused heads are reached too; inputs stay within what a socket
    // pair holds unread.
    constexpr std::size_t limit = 1024;
    if (size > 100000) return 0;
    std::string_view input(reinterpret_cast<const char*>(data), size);

    int sock = socket_with(input);
    if (sock < 0) return 0;
    {
        lumbrake::http_reader reader(sock);
        std::string head;
        const auto status = reader.read_head(head, limit);
        std::string rest;
        char buffer[777];
        for (ssize_t n; (n = reader.read(buffer, sizeof buffer)) > 0;)
            rest.append(buffer, static_cast<std::size_t>(n));
        using status_t = lumbrake::http_reader::head_status;
        if (status == status_t::too_long) {
            if (!head.empty()) std::abort();
        } else if (head + rest != input) {
            std::abort(); // a byte lost, doubled or moved between the head and the body
        } else if (status == status_t::complete && head.back() != '\n') {
            std::abort();
        }
    }
    ::close(sock);

    sock = socket_with(input);
    if (sock < 0) return 0;
    lumbrake::http_reader reader(sock);
    std::string head;
    reader.read_head(head, limit);
    lumbrake::httpcontext context;
    lumbrake::httpstate state(std::move(reader), head, context);
    state.expects_continue();
    std::int64_t length = 0;
    bool bad = false;
    (void)state.content_length(length, bad);
    (void)state.check_body_size(64);
    std::string authorization, name, password;
    if (state.request.get("authorization", authorization))
        (void)lumbrake::parse_basic_credentials(authorization, name, password);
    ::close(sock);
    return 0;
}
