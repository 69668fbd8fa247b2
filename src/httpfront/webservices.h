// The request router: reads the head of one connection, builds its request state and sends
// the request by its path to the SOAP services, the WSDL file, the REST interface or the
// portal.
#pragma once

#include "soap/soap_server.h"
#include "httpfront/httpio.h"
#include "httpfront/httpserver.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace lumbrake {

// The request facts that the services need (header values lower-cased).
struct http_request_facts {
    std::string method;
    std::string path;  // the request target before its first '?'
    std::string query; // after it; empty without '?'
    std::optional<std::string> content_length;
    std::optional<std::string> content_type; // the whole value
    std::optional<std::string> media_type;
    std::string charset = "US-ASCII";
    std::optional<std::string> accept;
    bool deflate = false;
    std::optional<std::string> soap_action;
    std::string host;
    int port = 0;
    bool secure = false;
};

// The services behind the router, plugged in by the trawlnestd program. An empty member (a test
// plugs in only what it tests) answers /soap and /research with 501 and the rest with 404.
struct http_services {
    using handler_ptr = std::unique_ptr<EasySoap::SOAPDispatchHandlerInterface>;
    // /soap: the search and administration service's handler over the thread's context.
    std::function<handler_ptr(httpcontext&)> search_handler;
    // /research: the research-pane service's handler.
    std::function<handler_ptr(httpcontext&, const std::string& host, int port, bool secure)>
        research_handler;
    // REST routes: true when the request was one of them and has been answered.
    std::function<bool(httpstate&, const http_request_facts&)> rest;
    // Every remaining request.
    std::function<void(httpstate&, const http_request_facts&)> portal;
};

// The WSDL file under DEPLOYDIR and its endpoint token.
inline constexpr const char* WSDL_RELATIVE_PATH = "/bin/lumbrakesearch.wsdl";
inline constexpr const char* WSDL_ENDPOINT_TOKEN = "\"@@@@@@@@@@\"";

// Handles one connection's request; answers it, or leaves it to a service that does.
void dispatch_http_request(int sock, const std::string& listen_address, bool secure,
                           httpcontext& context);

} // namespace lumbrake
