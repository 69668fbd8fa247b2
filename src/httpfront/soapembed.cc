#include "httpfront/soapembed.h"

#include "ipc/socket_ipc.h"
#include "httpfront/httpserver.h"
#include "httpfront/httpstate.h"
#include "util/log.h"

#include <sys/socket.h>
#include <zlib.h>

#include <vector>

namespace lumbrake {

using socket_ipc::sock_printf;
using socket_ipc::sock_read_line;
using socket_ipc::sock_send_string;

namespace {
// The body goes out whole: one send may take only part of a large answer.
void send_all(int sock, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::send(sock, data, size, MSG_NOSIGNAL);
        if (n <= 0) return; // the client went away or stopped reading
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}
} // namespace

HTTPTransport::HTTPTransport(int sock, std::optional<std::string> media_type, std::string charset,
                             std::optional<std::string> soap_action, std::int64_t content_length,
                             bool deflate)
    : socket_(sock), media_type_(std::move(media_type)), charset_(std::move(charset)),
      soap_action_(std::move(soap_action)), remaining_(content_length), deflate_(deflate) {}

long HTTPTransport::Read(char* buffer, std::size_t size) {
    if (remaining_ >= 1) {
        std::size_t n = static_cast<std::uint64_t>(remaining_) < size
                            ? static_cast<std::size_t>(remaining_)
                            : size;
        ssize_t got = ::recv(socket_, buffer, n, 0);
        if (got > 0) remaining_ -= got;
        return static_cast<long>(got);
    }
    if (remaining_ == -1) return static_cast<long>(::recv(socket_, buffer, size, 0));
    return 0;
}

std::size_t HTTPTransport::Write(const char*, const char* payload, std::size_t size) {
    sock_printf(socket_, "HTTP/1.1 %d OK\r\n", fault_ ? 500 : 200);
    sock_printf(socket_, "Content-Type: text/xml; charset=utf-8\r\n");
    sock_send_string(socket_, send_date_header());
    sock_printf(socket_, "SOAPServer: lumbrake/2.0.2\r\n");
    sock_printf(socket_, "Server: lumbrake/2.0.2\r\n");
    sock_printf(socket_, "Connection: close\r\n");
    if (deflate_) {
        uLongf out_size = compressBound(static_cast<uLong>(size));
        std::vector<Bytef> out(out_size);
        int ret = compress(out.data(), &out_size, reinterpret_cast<const Bytef*>(payload),
                           static_cast<uLong>(size));
        TN_ASSERT(ret == Z_OK);
        sock_printf(socket_, "Content-Length: %lu\r\n", static_cast<unsigned long>(out_size));
        sock_printf(socket_, "Content-Encoding: deflate\r\n");
        sock_printf(socket_, "\r\n");
        send_all(socket_, reinterpret_cast<const char*>(out.data()), out_size);
    } else {
        sock_printf(socket_, "Content-Length: %zu\r\n", size);
        sock_printf(socket_, "\r\n");
        send_all(socket_, payload, size);
    }
    return size;
}

soap_request::soap_request(int sock, std::optional<std::string> media_type_, std::string charset_,
                           std::optional<std::string> soap_action_, std::int64_t content_length_,
                           bool deflate_)
    : socket(sock), media_type(std::move(media_type_)), charset(std::move(charset_)),
      soap_action(std::move(soap_action_)), content_length(content_length_), deflate(deflate_) {
    // A body without Content-Length is bounded like one that announces its size.
    dispatch.SetMaxRequestSize(static_cast<std::size_t>(HTTP_BODY_LIMIT));
}

int run_soap_dispatch(soap_request& request) {
    HTTPTransport transport(request.socket, request.media_type, request.charset,
                            request.soap_action, request.content_length, request.deflate);
    return request.dispatch.Handle(transport);
}

} // namespace lumbrake
