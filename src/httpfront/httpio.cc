#include "httpfront/httpio.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace lumbrake {

namespace {

// Bytes asked of the socket per read of the head.
constexpr std::size_t HEAD_BLOCK = 8192;
// An empty line that begins with CR but whose LF does not follow at once may run on this far;
// a longer one ends the head as too long.
constexpr std::size_t BLANK_LINE_MAX = 4096;
// A body up to this size goes out in the same send as its head.
constexpr std::size_t JOINED_BODY_MAX = 65536;

// "<name>: <strftime of now in UTC>".
std::string time_line(const char* format) {
    char buffer[128];
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    std::size_t n = std::strftime(buffer, sizeof buffer, format, &tm);
    return std::string(buffer, n);
}

} // namespace

std::size_t http_send(int sock, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    std::size_t sent = 0;
    while (sent < size) {
        ssize_t n = ::send(sock, p + sent, size - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break; // the client went away or stopped reading
        sent += static_cast<std::size_t>(n);
    }
    return sent;
}

bool http_send(int sock, std::string_view text) {
    return http_send(sock, text.data(), text.size()) == text.size();
}

// ---- reading ----

http_reader::head_status http_reader::read_head(std::string& head, std::size_t limit) {
    head.clear();
    std::string& buffer = kept_;
    buffer.erase(0, kept_pos_);
    kept_pos_ = 0;
    std::size_t line = 0; // start of the first line not yet known to be complete
    for (;;) {
        bool blank = false;
        while (line < buffer.size()) {
            const std::size_t feed = buffer.find('\n', line);
            blank = buffer[line] == '\r' || buffer[line] == '\n';
            if (blank && line > limit) break;
            if (blank && feed != std::string::npos) {
                head.assign(buffer, 0, feed + 1);
                kept_pos_ = feed + 1;
                if (kept_pos_ == buffer.size()) {
                    buffer.clear();
                    kept_pos_ = 0;
                }
                return head_status::complete;
            }
            if (feed == std::string::npos) break;
            line = feed + 1;
            blank = false;
        }
        // The lines before the empty line count against the limit; the empty line does not.
        const std::size_t before_blank = blank ? line : buffer.size();
        if (before_blank > limit || (blank && buffer.size() - line > BLANK_LINE_MAX)) {
            buffer.clear();
            return head_status::too_long;
        }
        const std::size_t had = buffer.size();
        buffer.resize(had + HEAD_BLOCK);
        ssize_t n;
        do {
            n = ::recv(sock_, buffer.data() + had, HEAD_BLOCK, 0);
        } while (n < 0 && errno == EINTR);
        buffer.resize(had + (n > 0 ? static_cast<std::size_t>(n) : 0));
        if (n <= 0) {
            head.swap(buffer);
            buffer.clear();
            return head_status::ended;
        }
    }
}

ssize_t http_reader::read(void* out, std::size_t size) {
    if (kept_pos_ < kept_.size()) {
        const std::size_t n = std::min(size, kept_.size() - kept_pos_);
        std::memcpy(out, kept_.data() + kept_pos_, n);
        kept_pos_ += n;
        if (kept_pos_ == kept_.size()) {
            kept_.clear();
            kept_pos_ = 0;
        }
        return static_cast<ssize_t>(n);
    }
    if (size == 0) return 0;
    ssize_t n;
    do {
        n = ::recv(sock_, out, size, 0);
    } while (n < 0 && errno == EINTR);
    return n;
}

void http_reader::discard(std::int64_t length) {
    char buffer[16384];
    while (length > 0) {
        const std::size_t n = length < static_cast<std::int64_t>(sizeof buffer)
                                  ? static_cast<std::size_t>(length)
                                  : sizeof buffer;
        const ssize_t got = read(buffer, n);
        if (got <= 0) return;
        length -= got;
    }
}

// ---- writing ----

std::string header_safe(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    return out;
}

http_answer::http_answer(int code, std::string_view reason)
    : lines_("HTTP/1.1 " + std::to_string(code) + " " + header_safe(reason) + "\r\n") {}

http_answer& http_answer::header(std::string_view name, std::string_view value) {
    lines_.append(name);
    lines_ += ": ";
    lines_ += header_safe(value);
    lines_ += "\r\n";
    return *this;
}

http_answer& http_answer::content_length(std::uint64_t length) {
    return header("Content-Length", std::to_string(length));
}

http_answer& http_answer::date() {
    lines_ += time_line("Date: %a, %d %b %Y %T GMT\r\n");
    return *this;
}

http_answer& http_answer::no_cache() {
    lines_ += time_line("Last-Modified: %a, %d %b %Y %T GMT\r\n");
    lines_ += "Cache-Control: no-store, no-cache, must-revalidate, post-check=0, pre-check=0\r\n"
              "Expires: Mon, 26 Jul 1997 05:00:00 GMT\r\n"
              "Pragma: no-cache\r\n";
    return *this;
}

bool http_answer::send(int sock, std::string_view body) const {
    std::string out = head();
    if (body.size() <= JOINED_BODY_MAX) {
        out.append(body);
        return http_send(sock, out);
    }
    return http_send(sock, out) && http_send(sock, body);
}

} // namespace lumbrake
