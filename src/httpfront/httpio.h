// Reading and writing on one HTTP connection: the request head read in blocks, with the bytes
// that arrived behind it kept for the body; the one writer of answer heads; the one send loop.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lumbrake {

// The longest request head read (request line and header lines together).
inline constexpr std::size_t HTTP_MAX_HEAD = 65536;

// Sends every byte, retrying after a signal and never raising SIGPIPE. Returns the count sent,
// less than size once the client has gone or stopped reading (the connection's send time-out).
std::size_t http_send(int sock, const void* data, std::size_t size);
// True when the whole text was sent.
bool http_send(int sock, std::string_view text);

// The request side of a connection. The head is read in blocks; what a block holds past the
// head (a body sent with the head, or anything the client sent early) is kept and handed out
// first by read(), so no body byte is lost to the head's reads.
class http_reader {
public:
    explicit http_reader(int sock) : sock_(sock) {}

    int socket() const { return sock_; }

    enum class head_status {
        complete, // up to and including the empty line
        too_long, // more than the limit before the empty line; the head is left empty
        ended,    // the client closed, a read failed or timed out, or the connection was cut
                  // before the empty line; the head holds what came
    };
    // Reads the request head: the lines up to and including the first line that begins with CR
    // or LF (the empty line).
    head_status read_head(std::string& head, std::size_t limit = HTTP_MAX_HEAD);

    // The body: the kept bytes first, then the socket. recv's results: a count, 0 at the end of
    // the connection, -1 on an error; a signal is retried.
    ssize_t read(void* buffer, std::size_t size);
    // Reads and drops up to length bytes; stops at the end of the connection or a failed read.
    void discard(std::int64_t length);
    // Bytes kept from the head's reads and not handed out yet.
    std::size_t buffered() const { return kept_.size() - kept_pos_; }

private:
    int sock_;
    std::string kept_;
    std::size_t kept_pos_ = 0;
};

// CR, LF and NUL become spaces: a value from a file, a stored document or a client can then
// neither end a header line early nor add lines of its own.
std::string header_safe(std::string_view text);

// One answer's head: the status line and the header lines in the order given, sent in one
// piece with its empty line.
class http_answer {
public:
    // "HTTP/1.1 <code> <reason>".
    http_answer(int code, std::string_view reason);

    // A header line; its value made header_safe.
    http_answer& header(std::string_view name, std::string_view value);
    http_answer& content_type(std::string_view type) { return header("Content-Type", type); }
    http_answer& content_length(std::uint64_t length);
    // "Date:" of now, in UTC.
    http_answer& date();
    // Last-Modified (now), Cache-Control, Expires and Pragma, for pages built per request.
    http_answer& no_cache();

    // The head with its empty line.
    std::string head() const { return lines_ + "\r\n"; }
    // Sends the head, then the body; false once the client has gone.
    bool send(int sock, std::string_view body = {}) const;

private:
    std::string lines_;
};

} // namespace lumbrake
