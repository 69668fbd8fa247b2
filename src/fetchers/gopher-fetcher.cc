#include "fetchers/gopher-fetcher.h"

#include "util/escape.h"
#include "util/log.h"
#include "util/uri.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace lumbrake {

namespace {

// A line ends after its line feed or after this many bytes.
constexpr std::size_t max_line = 1023;

class socket_guard {
public:
    socket_guard() = default;
    ~socket_guard() { reset(); }
    socket_guard(const socket_guard&) = delete;
    socket_guard& operator=(const socket_guard&) = delete;
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::shutdown(fd_, SHUT_RDWR);
            ::close(fd_);
        }
        fd_ = fd;
    }
    int get() const { return fd_; }

private:
    int fd_ = -1;
};

// Connects to one address within the time-out; the socket is left blocking, with send and
// receive time-outs set.
int connect_within(const addrinfo* ai, int timeout_seconds) {
    int fd =
        ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
    if (fd < 0) return -1;
    bool ok = ::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0;
    if (!ok && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int r;
        do
            r = ::poll(&p, 1, timeout_seconds * 1000);
        while (r < 0 && errno == EINTR);
        int so_error = 0;
        socklen_t len = sizeof so_error;
        ok = r > 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &so_error, &len) == 0 && so_error == 0;
    }
    if (ok) {
        int flags = ::fcntl(fd, F_GETFL);
        ok = flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
        timeval tv{timeout_seconds, 0};
        ok = ok && ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 &&
             ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
    }
    if (!ok) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Host by name or as a numeric address, every address tried in turn.
int open_connection(const std::string& host, std::uint16_t port, int timeout_seconds) {
    if (host.empty()) return -1;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0 || !list)
        return -1;
    int fd = -1;
    for (const addrinfo* ai = list; ai && fd < 0; ai = ai->ai_next)
        fd = connect_within(ai, timeout_seconds);
    ::freeaddrinfo(list);
    return fd;
}

bool send_all(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t r = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (r > 0)
            sent += static_cast<std::size_t>(r);
        else if (!(r < 0 && errno == EINTR))
            return false;
    }
    return true;
}

enum class read_state { more, end, timeout };

class answer_reader {
public:
    explicit answer_reader(int fd) : fd_(fd) {}

    // Appends the next bytes that arrive; end when the server closed (or the connection broke).
    read_state fill() {
        for (;;) {
            ssize_t r = ::recv(fd_, buffer_, sizeof buffer_, 0);
            if (r > 0) {
                pos_ = 0;
                len_ = static_cast<std::size_t>(r);
                return read_state::more;
            }
            if (r < 0 && errno == EINTR) continue;
            if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return read_state::timeout;
            return read_state::end;
        }
    }

    // The next line, with its line feed when it has one.
    read_state line(std::string& out) {
        out.clear();
        while (out.size() < max_line) {
            if (pos_ == len_) {
                read_state s = fill();
                if (s == read_state::timeout) return s;
                if (s == read_state::end) return out.empty() ? read_state::end : read_state::more;
            }
            char c = buffer_[pos_++];
            out += c;
            if (c == '\n') break;
        }
        return read_state::more;
    }

    // Whatever is buffered, then everything up to the end or the limit.
    read_state rest(std::string& content, std::size_t limit, bool& cut) {
        for (;;) {
            if (pos_ < len_) {
                std::size_t take = std::min(len_ - pos_, limit - std::min(limit, content.size()));
                content.append(buffer_ + pos_, take);
                pos_ += take;
                if (pos_ < len_) {
                    cut = true;
                    return read_state::end;
                }
            }
            read_state s = fill();
            if (s != read_state::more) return s;
        }
    }

private:
    int fd_;
    char buffer_[16384];
    std::size_t pos_ = 0, len_ = 0;
};

bool is_dot_line(const std::string& line) {
    std::size_t n = line.size();
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r'))
        --n;
    return n == 1 && line[0] == '.';
}

} // namespace

std::string gopher_menu_line_to_html(const std::string& line) {
    std::string html;
    if (!line.empty()) {
        const char type = line[0];
        const std::string rest = line.substr(1);
        if (type == 'i' || type == '3' || rest.find("error.host") != std::string::npos ||
            rest.find("errorhost") != std::string::npos) {
            html = html_escape(rest.substr(0, rest.find('\t')));
        } else {
            std::vector<std::string> fields;
            std::size_t start = 0;
            for (;;) {
                std::size_t tab = rest.find('\t', start);
                fields.push_back(rest.substr(start, tab - start));
                if (tab == std::string::npos || fields.size() == 4) break;
                start = tab + 1;
            }
            std::string target;
            bool link = false;
            if (type == 'w' && fields.size() >= 2) {
                target = url_escape(fields[1]);
                link = true;
            } else if (type != 'w' && fields.size() >= 4) {
                const std::string& selector = fields[1];
                std::string host_port = fields[2];
                if (fields[3] != "0") host_port += ":" + fields[3];
                const std::string escaped = selector.empty() ? "" : url_escape(selector);
                if (type == '8' || type == 'T') {
                    target = type == '8' ? "telnet://" : "tn3270://";
                    if (!escaped.empty()) target += escaped + "@";
                    target += host_port + "/";
                } else {
                    target = "gopher://" + host_port + "/" + type + escaped;
                }
                link = true;
            }
            if (link)
                html = "<a href=\"" + html_escape(target) + "\">" + html_escape(fields[0]) + "</a>";
        }
    }
    html += "<br />\n";
    return html;
}

std::string gopher_menu_to_html(const std::vector<std::string>& lines) {
    std::string html = "<html><body>\n";
    for (const std::string& line : lines) {
        std::size_t n = line.size();
        while (n > 0 && (line[n - 1] == '\r' || line[n - 1] == '\n'))
            --n;
        html += gopher_menu_line_to_html(line.substr(0, n));
    }
    html += "</body></html>\n";
    return html;
}

void gopher_fetcher::fetch(const fetch_request& request, fetch_result& result) {
    const std::string& url = request.url;
    URI uri(url, "http", true);
    std::string host;
    std::uint16_t port = 0;
    uri.host_port(host, port);

    // The selector is written percent-encoded in URLs (as the menu links write it); the server
    // wants the bytes. A "?" in it would otherwise be lost to the query part.
    char type = '1';
    std::string selector;
    const std::string path = uri.path();
    if (path.size() >= 2) {
        type = path[1];
        selector = path.substr(2);
    }
    if (!uri.query().empty()) selector += "?" + uri.query();
    selector = url_decode(selector);
    if (selector.find_first_of("\r\n") != std::string::npos) {
        result.status = FETCH_FAILED;
        result.error = "Gopher selector holds a line break";
        return;
    }

    socket_guard sock;
    sock.reset(open_connection(host, port, timeout_seconds_));
    if (sock.get() < 0 || !send_all(sock.get(), selector + "\r\n")) {
        result.status = FETCH_NO_CONNECTION;
        return;
    }

    const std::size_t limit = size_limit();
    answer_reader reader(sock.get());
    read_state state = read_state::more;
    bool cut = false;
    std::vector<std::string> menu;
    std::size_t menu_bytes = 0;
    if (type == '5' || type == '9') {
        state = reader.rest(result.content, limit, cut);
    } else {
        std::string line;
        while ((state = reader.line(line)) == read_state::more) {
            if (is_dot_line(line)) break;
            if (type == '1') {
                // Counted with each line's own cost, so many short lines stay bounded too.
                if (menu_bytes + line.size() + sizeof(std::string) > limit) {
                    cut = true;
                    break;
                }
                menu_bytes += line.size() + sizeof(std::string);
                menu.push_back(line);
            } else {
                if (result.content.size() + line.size() > limit) {
                    result.content.append(line, 0, limit - result.content.size());
                    cut = true;
                    break;
                }
                result.content += line;
            }
        }
    }
    if (state == read_state::timeout) {
        result.status = FETCH_TIMEOUT;
        result.error = "Time-out waiting for the gopher server";
        result.content.clear();
        return;
    }

    result.status = cut ? FETCH_PARTIAL : FETCH_OK;
    if (type == '0') {
        result.mime = "text/plain";
    } else if (type == '1') {
        result.mime = "text/html";
        result.content = gopher_menu_to_html(menu);
    } else if (type == 'h') {
        result.mime = "text/html";
    }
    TN_LOG(LF_WORKERFETCHERS, LL_DEBUG,
           "gopher " << host << ":" << port << " type " << type << ": " << result.content.size()
                     << " bytes" << (cut ? " (cut at the size limit)" : ""));
}

} // namespace lumbrake
