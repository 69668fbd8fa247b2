#include "httpfront/httpstate.h"

#include "ipc/socket_ipc.h"
#include "util/base64.h"
#include "util/config.h"
#include "util/log.h"
#include "util/md5.h"
#include "util/sqlite_txn.h"

#include <strings.h>

#include <cstring>

namespace lumbrake {

using socket_ipc::sock_printf;
using socket_ipc::sock_read_line;
using socket_ipc::sock_send_string;

httpstate::httpstate(int sock, std::string_view head, httpcontext& ctx)
    : socket(sock), request(head), context(ctx) {}

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
        sock_send_string(socket, "HTTP/1.1 400 Bad request\r\n\r\n");
        return false;
    }
    if (length > limit) {
        if (expects_continue_flag) {
            sock_send_string(socket, "HTTP/1.1 417 Document too large\r\n\r\n");
        } else {
            discard_body(socket, length);
            sock_send_string(socket, "HTTP/1.1 400 Document too large\r\n\r\n");
        }
        return false;
    }
    if (expects_continue_flag) sock_send_string(socket, "HTTP/1.1 100 continue\r\n\r\n");
    return true;
}

bool httpstate::attach(auth_guard& guard) {
    TN_ASSERT(guard.state_ == nullptr);
    if (authenticate()) {
        guard.state_ = this;
        return true;
    }
    std::int64_t length = 0;
    bool bad = false;
    if (content_length(length, bad) && !bad && length != 0 && !expects_continue_flag)
        discard_body(socket, length);
    sock_send_string(socket, "HTTP/1.1 401 Authorization required\r\n"
                             "WWW-Authenticate: Basic realm=\"trawlnest\"\r\n\r\n");
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
    admin = true;
    cfg.get("HTTP_USER", user);
    cfg.get("HTTP_MD5PASS", passhash);
    if (!cfg.loaded()) {
        user.clear();
        passhash.clear();
    }

    LoginConfiguration login;
    if (context.db && hooks && hooks->load_login) {
        begin_exclusive_transaction(context.db);
        if (!hooks->load_login(context.db, login)) login = LoginConfiguration();
        commit_transaction(context.db);
    }

    if (user.empty()) {
        groups = {"All Users"};
        return true;
    }

    std::string authorization;
    if (!request.get("authorization", authorization)) return false;
    std::string name, password;
    if (!parse_basic_credentials(authorization, name, password)) return false;
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
