// The REST router's readers over hostile request targets: the route patterns with their
// integer, text and id-list captures, and the query parameters of a search.
#include "webservices/rest.h"
#include "util/codecs.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

class null_rest : public lumbrake::rest {
public:
    void status(int, const char*) override {}
    void content_type(const char*) override {}
    void header(const char*, const char*) override {}
    void end_headers() override {}
    void printf(const char*, ...) override {}
    ssize_t write(const void*, std::size_t length) override { return static_cast<ssize_t>(length); }
    ssize_t read(void*, std::size_t) override { return 0; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string target(reinterpret_cast<const char*>(data), size);
    const std::size_t question = target.find('?');
    const std::string path = target.substr(0, question);
    for (const char* pattern : {"/index/%/doc", "/index/%/doc/$", "/index/@", "/platform/status"}) {
        null_rest r;
        (void)lumbrake::match_rest_pattern(pattern, path, r);
    }
    if (question != std::string::npos) {
        null_rest r;
        lumbrake::cgi_parse_query(r.params, target.substr(question + 1));
        lumbrake::QuerySpec query_spec;
        std::string message;
        (void)lumbrake::parse_query_parameters(r.params, query_spec, message);
    }
    return 0;
}
