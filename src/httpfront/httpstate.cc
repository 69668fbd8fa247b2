#include "httpfront/httpstate.h"

#include "util/base64.h"
#include "util/config.h"
#include "util/log.h"
#include "util/md5.h"
#include "util/sqlite_txn.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>

namespace lumbrake {

httpstate::httpstate(http_reader reader, std::string_view head, httpcontext& ctx)
    : socket(reader.socket()), input(std::move(reader)), request(head), context(ctx) {}

httpstate::httpstate(int sock, std::string_view head, httpcontext& ctx)
    : httpstate(http_reader(sock), head, ctx) {}

void httpstate::expects_continue() {
    std::string expect;
    expects_continue_flag =
        request.version == "1.1" && request.get_lower("expect", expect) && expect == "100-continue";
}

bool httpstate::content_length(std::int64_t& value, bool& bad) const {
    value = 0;
    bad = false;
    std::string text;
    if (!request.get("content-length", text)) return false;
    // Surrounding blanks are tolerated; a sign, other characters or a number too large to
    // hold are not: such a length would make the body run on or be read wrong.
    std::size_t b = text.find_first_not_of(" \t");
    std::size_t e = text.find_last_not_of(" \t");
    if (b == std::string::npos || e - b + 1 > 18) {
        bad = true;
        return true;
    }
    for (std::size_t i = b; i <= e; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            bad = true;
            value = 0;
            return true;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

bool httpstate::check_body_size(std::int64_t limit) {
    std::int64_t length = 0;
    bool bad = false;
    if (!content_length(length, bad)) return true;
    if (bad) {
        http_answer(400, "Bad request").send(socket);
        return false;
    }
    if (length > limit) {
        if (expects_continue_flag) {
            http_answer(417, "Document too large").send(socket);
        } else {
            input.discard(length);
            http_answer(400, "Document too large").send(socket);
        }
        return false;
    }
    if (expects_continue_flag) http_answer(100, "continue").send(socket);
    return true;
}

std::string peer_address(int sock) {
    sockaddr_storage sa{};
    socklen_t len = sizeof sa;
    char text[INET6_ADDRSTRLEN] = "?";
    if (::getpeername(sock, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
        if (sa.ss_family == AF_INET)
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&sa)->sin_addr, text, sizeof text);
        else if (sa.ss_family == AF_INET6)
            inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&sa)->sin6_addr, text,
                      sizeof text);
    }
    return text;
}

namespace {
// A client's text as one log line can show it: control bytes and quotes as escapes.
std::string loggable(const std::string& text) {
    std::string out;
    for (unsigned char c : text.substr(0, 256)) {
        if (c < 0x20 || c == 0x7f || c == '\'' || c == '\\') {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}
} // namespace

bool httpstate::attach(auth_guard& guard) {
    TN_ASSERT(guard.state_ == nullptr);
    if (authenticate()) {
        guard.state_ = this;
        return true;
    }
    std::int64_t length = 0;
    bool bad = false;
    if (content_length(length, bad) && !bad && length != 0 && !expects_continue_flag)
        input.discard(length);
    if (config_unreadable) {
        // Without the file nobody can be told apart from the administrator: refuse everyone.
        TN_LOG(LF_HTTPSERVER, LL_ERROR,
               "configuration file cannot be read: request from " << peer_address(socket)
                                                                  << " refused");
        http_answer(503, "Service Unavailable").content_type("text/html").send(socket);
        return false;
    }
    // A request without credentials is a browser's first try, not a failed login. The
    // password is never logged.
    std::string authorization;
    if (request.get("authorization", authorization))
        TN_LOG(LF_HTTPSERVER, LL_WARNING,
               "Failed login for user '" << loggable(given_name) << "' from "
                                         << peer_address(socket));
    http_answer(401, "Authorization required")
        .header("WWW-Authenticate", "Basic realm=\"trawlnest\"")
        .send(socket);
    return false;
}

bool parse_basic_credentials(const std::string& authorization, std::string& name,
                             std::string& password) {
    name.clear();
    password.clear();
    if (authorization.size() < 6 || strncasecmp(authorization.c_str(), "basic ", 6) != 0)
        return false;
    char buffer[4096];
    std::size_t n = authorization.size() - 6;
    if (n > sizeof buffer - 1) return false; // larger than any credentials we accept
    std::memcpy(buffer, authorization.data() + 6, n);
    buffer[n] = '\0';
    base64_decode(buffer);
    const char* colon = std::strchr(buffer, ':');
    if (!colon) return false;
    name.assign(buffer, static_cast<std::size_t>(colon - buffer));
    password.assign(colon + 1);
    return true;
}

bool httpstate::authenticate() {
    const http_hooks* hooks = context.hooks;
    config cfg(hooks && !hooks->config_file.empty() ? hooks->config_file.c_str() : nullptr);
    config_unreadable = false;
    given_name.clear();
    if (!cfg.loaded()) {
        // An unreadable file is not an empty HTTP_USER (which lets everyone in): fail closed.
        config_unreadable = true;
        user = "Anonymous";
        passhash.clear();
        groups = {"All Users"};
        admin = false;
        return false;
    }
    admin = true;
    cfg.get("HTTP_USER", user);
    cfg.get("HTTP_MD5PASS", passhash);

    LoginConfiguration login;
    // The daemon keeps the stored record in memory, so a login does not wait for the storage
    // transaction of another request; without that copy it is read in a transaction.
    if (context.db && hooks && hooks->cached_login && hooks->cached_login(context.db, login)) {
    } else if (context.db && hooks && hooks->load_login) {
        // A writer's transaction: the read fills the shared copy, which must not overtake a
        // write of the record.
        storage_transaction txn(context.db);
        if (!hooks->load_login(context.db, login)) login = LoginConfiguration();
    }

    if (user.empty()) {
        groups = {"All Users"};
        return true;
    }

    std::string authorization;
    if (!request.get("authorization", authorization)) return false;
    std::string name, password;
    if (!parse_basic_credentials(authorization, name, password)) return false;
    given_name = name;
    std::string digest = md5_hex(password);

    LoginUser login_user;
    if (login.get_user(name, login_user)) {
        user = login_user.name;
        passhash = login_user.password_hash;
        groups = login_user.groups;
        admin = login_user.admin;
    }
    return !user.empty() && name == user && !passhash.empty() && digest == passhash;
}

} // namespace lumbrake
