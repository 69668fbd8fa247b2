// The state of one HTTP request: the connection, the parsed head and the identity it runs
// under, with HTTP Basic authentication and the body-size check.
#pragma once

#include "httpfront/httpio.h"
#include "httpfront/httpserver.h"
#include "util/httphead.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumbrake {

// The largest body that a service reads (16 MiB).
inline constexpr std::int64_t HTTP_BODY_LIMIT = 16777216;

class httpstate;

// Holds the state once authentication has succeeded.
class auth_guard {
public:
    httpstate* state() const { return state_; }

private:
    friend class httpstate;
    httpstate* state_ = nullptr;
};

class httpstate {
public:
    // The request whose head is given; its body comes from `input` (the head's reader, which
    // holds the body bytes that arrived with the head), or from sock alone.
    httpstate(http_reader input, std::string_view head, httpcontext& context);
    httpstate(int sock, std::string_view head, httpcontext& context);

    int socket;
    http_reader input;
    http_request request;
    std::string user = "Anonymous";
    std::string passhash;
    std::vector<std::string> groups{"All Users"};
    bool expects_continue_flag = false;
    bool admin = false;
    httpcontext& context;
    std::string self_url;

    void expects_continue();
    // The Content-Length value: false when absent; bad is set when it is present but not a
    // non-negative decimal number.
    bool content_length(std::int64_t& value, bool& bad) const;
    // True when the body may be read; otherwise the client has been answered.
    bool check_body_size(std::int64_t limit);
    // Authenticates; on failure the client has been answered with 401, or with 503 when the
    // configuration file that names the administrator cannot be read.
    bool attach(auth_guard& guard);
    bool authenticate();
    // Set by authenticate when the configuration file could not be read: nobody is let in.
    bool config_unreadable = false;
    // The name the client gave (empty when it gave none), for the log of failed logins.
    std::string given_name;
};

// The peer's address as text ("?" when unknown).
std::string peer_address(int sock);

// "Basic <base64 of name:password>" (scheme word in any case) split into name and password.
// False for another scheme, credentials of more than 4095 characters, or no ':' after decoding.
bool parse_basic_credentials(const std::string& authorization, std::string& name,
                             std::string& password);

} // namespace lumbrake
