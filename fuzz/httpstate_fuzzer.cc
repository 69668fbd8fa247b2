// The request-state reader over hostile request heads: head scan, Expect, Content-Length,
// body-size check (with the announced body read from a socket) and Basic credentials.
#include "httpfront/httpstate.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t end = input.find("\r\n\r\n");
    std::string_view head = input.substr(0, end == std::string_view::npos ? size : end + 4);
    std::string_view body =
        end == std::string_view::npos ? std::string_view() : input.substr(end + 4);

    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
    if (!body.empty()) (void)::send(fds[1], body.data(), body.size(), MSG_NOSIGNAL);
    ::close(fds[1]); // the client is done: reads end instead of blocking

    lumbrake::httpcontext context;
    lumbrake::httpstate state(fds[0], head, context);
    state.expects_continue();
    std::int64_t length = 0;
    bool bad = false;
    (void)state.content_length(length, bad);
    (void)state.check_body_size(64);
    std::string authorization, name, password;
    if (state.request.get("authorization", authorization))
        (void)lumbrake::parse_basic_credentials(authorization, name, password);
    ::close(fds[0]);
    return 0;
}
