#include "httpfront/webservices.h"

#include "httpfront/httpstate.h"
#include "httpfront/soapembed.h"
#include "util/config.h"
#include "util/escape.h"
#include "util/log.h"
#include "util/syslayer.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace lumbrake {

namespace {

// A status without a body: the router's refusals and the missing services.
void send_simple_answer(int sock, int code, const char* reason) {
    http_answer(code, reason).content_type("text/html").date().send(sock);
}

int decimal_prefix(const std::string& text) {
    long value = std::strtol(text.c_str(), nullptr, 10);
    return value < 0 || value > 65535 ? 0 : static_cast<int>(value);
}

// The port of the listen address (2200 when it names none).
int listen_port(const std::string& listen_address) {
    std::uint32_t address = 0;
    std::uint16_t port = 2200;
    if (!parse_listen_address(listen_address, address, port)) {
        std::size_t colon = listen_address.find(':');
        return colon == std::string::npos ? 2200 : decimal_prefix(listen_address.substr(colon + 1));
    }
    return port;
}

// A host name, a dotted address or a bracketed IPv6 literal: nothing that could change the
// meaning of a URL or of the markup it is written into.
bool plain_host(const std::string& host) {
    if (host.empty()) return false;
    if (host.front() == '[')
        return host.size() > 2 && host.back() == ']' &&
               host.find_first_not_of("0123456789abcdef:.", 1) == host.size() - 1;
    return host.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-.") == std::string::npos;
}

// The host and port under which the client reached us: its Host header, else our listen
// address and this machine's name. A Host value that is no plain host and port is not used:
// it ends up in Location headers and in pages.
void find_host_and_port(const httpstate& state, const std::string& listen_address,
                        std::string& host, int& port) {
    port = 0;
    host.clear();
    if (state.request.get_lower("host", host)) {
        while (!host.empty() && std::strchr(" \t\r\n", host.back()))
            host.pop_back();
        // The last ':' so that a bracketed IPv6 literal keeps its colons.
        std::size_t colon = host.rfind(':');
        if (colon != std::string::npos && host.find(']', colon) == std::string::npos) {
            const std::string digits = host.substr(colon + 1);
            port = digits.empty() || digits.size() > 5 ||
                           digits.find_first_not_of("0123456789") != std::string::npos
                       ? -1
                       : decimal_prefix(digits);
            host.resize(colon);
        } else {
            port = listen_port(listen_address);
        }
        if (port < 0 || !plain_host(host)) host.clear();
    }
    if (host.empty()) {
        std::size_t colon = listen_address.find(':');
        std::string listen_host =
            colon == std::string::npos ? listen_address : listen_address.substr(0, colon);
        port = listen_port(listen_address);
        in_addr probe{};
        bool dotted = inet_pton(AF_INET, listen_host.c_str(), &probe) == 1;
        host = local_host_name(dotted ? listen_host : std::string());
    }
    while (!host.empty() && std::strchr(" \t\r\n", host.back()))
        host.pop_back();
}

// A SOAP path whose service was left empty in `http_services` (a router that serves only some
// paths, as in the tests): a plain error status, after the body the client was allowed to send
// has been read.
void soap_service_missing(httpstate& state, const char* path) {
    std::int64_t length = 0;
    bool bad = false;
    if (state.content_length(length, bad) && !bad) state.input.discard(length);
    TN_LOG(LF_HTTPSERVER, LL_ERROR, "no service for " << path);
    send_simple_answer(state.socket, 501, "Not Implemented");
}

void portal_missing(httpstate& state) {
    send_simple_answer(state.socket, 404, "File not found");
}

void serve_wsdl(httpstate& state, const http_request_facts& facts) {
    const http_hooks* hooks = state.context.hooks;
    config cfg(hooks && !hooks->config_file.empty() ? hooks->config_file.c_str() : nullptr);
    std::string deploydir, content;
    cfg.get("DEPLOYDIR", deploydir);
    if (!deploydir.empty()) {
        std::string path = deploydir + WSDL_RELATIVE_PATH;
        if (FILE* f = std::fopen(path.c_str(), "rb")) {
            std::fseek(f, 0, SEEK_END);
            long size = std::ftell(f);
            std::fseek(f, 0, SEEK_SET);
            if (size > 0 && size <= HTTP_BODY_LIMIT) {
                content.resize(static_cast<std::size_t>(size));
                if (std::fread(content.data(), 1, content.size(), f) != content.size())
                    content.clear();
            }
            std::fclose(f);
        } else {
            TN_LOG(LF_HTTPSERVER, LL_ERROR, "Cannot open " << path);
        }
    }
    content.resize(std::strlen(content.c_str()));
    if (content.empty()) {
        send_simple_answer(state.socket, 404, "File not found");
        return;
    }
    std::size_t token = content.find(WSDL_ENDPOINT_TOKEN);
    if (token != std::string::npos) {
        // The host comes from the client's Host header: escaped, it cannot break the XML.
        std::string endpoint = std::string("\"http") + (facts.secure ? "s" : "") + "://" +
                               xml_escape(facts.host) + ":" + std::to_string(facts.port) +
                               "/soap\"";
        content.replace(token, std::strlen(WSDL_ENDPOINT_TOKEN), endpoint);
    }
    http_answer(200, "OK")
        .content_type("text/xml")
        .date()
        .content_length(content.size())
        .send(state.socket, content);
}

void run_soap_service(httpstate& state, const http_request_facts& facts,
                      http_services::handler_ptr handler) {
    std::int64_t length = -1;
    bool bad = false;
    if (!state.content_length(length, bad)) length = -1;
    soap_request request(state.input, facts.media_type, facts.charset, facts.soap_action, length,
                         facts.deflate);
    request.dispatch.DispatchTo(handler.get());
    run_soap_dispatch(request);
}

// The request target as an absolute path: a path is taken as it is, an absolute http(s) URL
// gives its path (and query); anything else (a relative path, "*") is no target of ours.
bool absolute_target(std::string& target) {
    if (!target.empty() && target[0] == '/') return true;
    std::size_t start = 0;
    if (strncasecmp(target.c_str(), "http://", 7) == 0)
        start = 7;
    else if (strncasecmp(target.c_str(), "https://", 8) == 0)
        start = 8;
    else
        return false;
    std::size_t end = target.find_first_of("/?#", start);
    if (end == std::string::npos) {
        target = "/";
    } else if (target[end] == '/') {
        target.erase(0, end);
    } else if (target[end] == '?') {
        target = "/" + target.substr(end);
    } else {
        target = "/";
    }
    return true;
}

// A SOAP request must name its action and carry XML. A browser sends neither to another site
// without first asking it (a preflight that this server never grants), so a page elsewhere
// cannot make an administrator's browser call the service. A body with a transfer coding is
// not read: its length is required. Answered before the body is read.
bool acceptable_soap_request(httpstate& state, const http_request_facts& facts) {
    std::string coding;
    if (state.request.get_lower("transfer-encoding", coding) && coding != "identity") {
        send_simple_answer(state.socket, 411, "Length Required");
        return false;
    }
    if (!facts.soap_action) {
        send_simple_answer(state.socket, 400, "SOAPAction header required");
        return false;
    }
    const std::string media = facts.media_type.value_or("");
    const bool xml = media == "text/xml" || media == "application/xml" ||
                     (media.size() > 4 && media.compare(media.size() - 4, 4, "+xml") == 0 &&
                      media.find('/') != std::string::npos);
    if (!xml) {
        send_simple_answer(state.socket, 415, "Unsupported Media Type");
        return false;
    }
    return true;
}

} // namespace

void dispatch_http_request(int sock, const std::string& listen_address, bool secure,
                           httpcontext& context) {
    // A head too long to be a request of ours is left empty: answered as unparsable. One that
    // ended early is parsed as far as it came.
    http_reader reader(sock);
    std::string head;
    reader.read_head(head, HTTP_MAX_HEAD);

    if (context.connection && !context.connection->in_time()) {
        send_simple_answer(sock, 408, "Request Timeout");
        return;
    }

    httpstate state(std::move(reader), head, context);
    if (!state.request.valid || !absolute_target(state.request.target)) {
        send_simple_answer(sock, 400, "Bad request");
        return;
    }

    http_request_facts facts;
    facts.method = state.request.method;
    const std::string& target = state.request.target;
    std::size_t question = target.find('?');
    facts.path = target.substr(0, question);
    if (question != std::string::npos) facts.query = target.substr(question + 1);
    std::string value;
    if (state.request.get_lower("content-length", value)) facts.content_length = value;
    if (state.request.get_lower("content-type", value)) {
        facts.content_type = value;
        content_type parsed(value);
        facts.media_type = parsed.media_type;
        if (parsed.get_lower("charset", value)) facts.charset = value;
    }
    if (state.request.get_lower("accept", value)) facts.accept = value;
    if (state.request.get_lower("accept-encoding", value))
        facts.deflate = value.find("deflate") != std::string::npos;
    if (state.request.get_lower("soapaction", value)) {
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        facts.soap_action = value;
    }
    state.expects_continue();
    find_host_and_port(state, listen_address, facts.host, facts.port);
    facts.secure = secure;
    {
        std::int64_t length = 0;
        bool bad = false;
        const bool counted = state.content_length(length, bad);
        context.length_known = counted && !bad;
        if (context.connection)
            context.connection->body_started((counted && (bad || length > 0)) ||
                                             state.request.get("transfer-encoding", value));
    }

    http_services* services = context.services;
    const bool soap = target == "/soap";
    const bool research = target == "/research";
    const bool wsdl = target == "/wsdl";
    if (soap || research || wsdl) {
        if (!wsdl && !acceptable_soap_request(state, facts)) return;
        auth_guard guard;
        if (!state.attach(guard)) return;
        if (!state.check_body_size(HTTP_BODY_LIMIT)) return;
        if (wsdl) {
            serve_wsdl(state, facts);
            return;
        }
        context.user = state.user;
        context.groups = state.groups;
        context.admin = state.admin;
        http_services::handler_ptr handler;
        if (soap && services && services->search_handler)
            handler = services->search_handler(context);
        else if (research && services && services->research_handler)
            handler = services->research_handler(context, facts.host, facts.port, secure);
        if (!handler) {
            soap_service_missing(state, soap ? "/soap" : "/research");
            return;
        }
        run_soap_service(state, facts, std::move(handler));
        return;
    }

    if (services && services->rest && services->rest(state, facts)) return;
    if (services && services->portal)
        services->portal(state, facts);
    else
        portal_missing(state);
}

} // namespace lumbrake
