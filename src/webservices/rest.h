// The REST interface beside SOAP: adding a document to an archive, fetching a stored document,
// running a query and reading the platform status. Answers are small XML documents, or the
// stored document itself.
#pragma once

#include "apiops/api-common.h"
#include "apiops/api-query.h"
#include "httpfront/httpstate.h"
#include "httpfront/webservices.h"

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lumbrake {

// Builds the API context of one request from the thread's context (tests supply their own).
using rest_context_maker = std::function<api_context(httpcontext&)>;

// The answer writer and the request as REST sees it.
class rest {
public:
    virtual ~rest() = default;
    virtual void status(int code, const char* message) = 0;
    virtual void content_type(const char* media_type) = 0;
    virtual void header(const char* name, const char* value) = 0;
    virtual void end_headers() = 0;
    virtual void printf(const char* format, ...) __attribute__((format(printf, 2, 3))) = 0;
    virtual ssize_t write(const void* bytes, std::size_t length) = 0;
    virtual ssize_t read(void* buffer, std::size_t length) = 0;

    struct capture {
        int integer = 0;
        std::string text;
        std::vector<int> ids;
    };

    httpcontext* context = nullptr;
    httpstate* state = nullptr;
    rest_context_maker make_context;
    std::string method;
    std::string path;
    std::string query;
    std::optional<std::string> content_length;
    std::optional<std::string> content_type_value; // whole, lower-cased
    std::optional<std::string> accept;
    std::optional<std::string> body; // absent for GET and without a Content-Length
    capture captures[2];
    std::map<std::string, std::string> params;
    // Set when the request state answered the client itself (401, 417, a bad or too large
    // body): the writer must then add nothing.
    bool answered_by_state = false;
};

// Over the request's connection: the body from its reader, the answer to its socket. The head
// is sent in one piece once it is complete.
class restembed : public rest {
public:
    explicit restembed(http_reader& input) : input_(input) {}
    ~restembed() override;
    void status(int code, const char* message) override;
    void content_type(const char* media_type) override;
    void header(const char* name, const char* value) override;
    void end_headers() override;
    void printf(const char* format, ...) override __attribute__((format(printf, 2, 3)));
    ssize_t write(const void* bytes, std::size_t length) override;
    ssize_t read(void* buffer, std::size_t length) override;

    // Whether anything was sent; the router then must not pass the request on.
    bool answered() const { return status_sent_ || content_type_sent_ || head_ended_; }
    // Marks the head complete so that the destructor sends nothing.
    void silence() { content_type_sent_ = head_ended_ = true; }

private:
    bool status_sent_ = false;
    bool content_type_sent_ = false;
    bool head_ended_ = false;
    std::optional<http_answer> head_;
    http_reader& input_;
};

bool match_rest_pattern(const char* pattern, const std::string& path, rest& r);
bool parse_id_list(const std::string& text, std::vector<int>& ids);
bool parse_query_parameters(const std::map<std::string, std::string>& params, QuerySpec& query_spec,
                            std::string& message);
void write_results_xml(rest& r, const std::vector<QueryResult>& results, int max_results);
// True when a route matched (the answer has been written).
bool dispatch_rest_request(rest& r);

void rest_bad_request(rest& r, const char* message = nullptr);
void rest_internal_error(rest& r, const char* message = nullptr);
void rest_method_not_allowed(rest& r);
void rest_api_error(rest& r, const api_result& res);

// The router's seam: true when the request was a REST route (or was refused before routing)
// and has been answered. The first form builds the API context from the daemon's application.
bool rest_route(httpstate& state, const http_request_facts& facts);
bool rest_route(httpstate& state, const http_request_facts& facts,
                const rest_context_maker& make_context);

// Every answer that carries a stored document (crawled or posted content, served from the
// daemon's own origin) sends these headers: the document runs in a sandbox, without script and
// without access to this origin, and browsers take its type as given.
inline constexpr const char* STORED_DOCUMENT_HEADERS[][2] = {
    {"Content-Security-Policy", "sandbox"},
    {"X-Content-Type-Options", "nosniff"},
};

} // namespace lumbrake
