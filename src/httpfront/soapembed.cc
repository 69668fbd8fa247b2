#include "httpfront/soapembed.h"

#include "util/zblob.h"
#include "httpfront/httpstate.h"
#include "util/log.h"

#include <zlib.h>

#include <vector>

namespace lumbrake {

HTTPTransport::HTTPTransport(http_reader& input, std::optional<std::string> media_type,
                             std::string charset, std::optional<std::string> soap_action,
                             std::int64_t content_length, bool deflate)
    : input_(input), media_type_(std::move(media_type)), charset_(std::move(charset)),
      soap_action_(std::move(soap_action)), remaining_(content_length), deflate_(deflate) {}

long HTTPTransport::Read(char* buffer, std::size_t size) {
    if (remaining_ >= 1) {
        std::size_t n = static_cast<std::uint64_t>(remaining_) < size
                            ? static_cast<std::size_t>(remaining_)
                            : size;
        ssize_t got = input_.read(buffer, n);
        if (got > 0) remaining_ -= got;
        return static_cast<long>(got);
    }
    if (remaining_ == -1) return static_cast<long>(input_.read(buffer, size));
    return 0;
}

std::size_t HTTPTransport::Write(const char*, const char* payload, std::size_t size) {
    http_answer answer(fault_ ? 500 : 200, "OK");
    answer.content_type("text/xml; charset=utf-8")
        .date()
        .header("SOAPServer", "lumbrake/2.0.2")
        .header("Server", "lumbrake/2.0.2")
        .header("Connection", "close");
    if (deflate_ && size > 0) {
        // The same stream as zlib's compress(), from this thread's deflate state: setting one
        // up and freeing it per answer cost more than the compression, and with many request
        // threads the heap returned its buffers at once (madvise and TLB shoot-downs).
        const std::string out = compress_blob(std::string(payload, size));
        answer.content_length(out.size()).header("Content-Encoding", "deflate");
        answer.send(input_.socket(), out);
    } else if (deflate_) {
        // An empty answer: compress() writes a stream even for nothing.
        uLongf out_size = compressBound(0);
        std::vector<Bytef> out(out_size);
        int ret = compress(out.data(), &out_size, reinterpret_cast<const Bytef*>(payload), 0);
        TN_ASSERT(ret == Z_OK);
        answer.content_length(out_size).header("Content-Encoding", "deflate");
        answer.send(input_.socket(),
                    std::string_view(reinterpret_cast<const char*>(out.data()), out_size));
    } else {
        answer.content_length(size).send(input_.socket(), std::string_view(payload, size));
    }
    return size;
}

soap_request::soap_request(http_reader& input_, std::optional<std::string> media_type_,
                           std::string charset_, std::optional<std::string> soap_action_,
                           std::int64_t content_length_, bool deflate_)
    : input(input_), media_type(std::move(media_type_)), charset(std::move(charset_)),
      soap_action(std::move(soap_action_)), content_length(content_length_), deflate(deflate_) {
    // A body without Content-Length is bounded like one that announces its size.
    dispatch.SetMaxRequestSize(static_cast<std::size_t>(HTTP_BODY_LIMIT));
}

int run_soap_dispatch(soap_request& request) {
    HTTPTransport transport(request.input, request.media_type, request.charset,
                            request.soap_action, request.content_length, request.deflate);
    return request.dispatch.Handle(transport);
}

} // namespace lumbrake
