// The index-server protocol, shared by the daemon's client (idxstorage) and the index server
// (siftvault): command codes, query items, the framing and the QUERY request layout.
//
// Framing, both directions: an integer is 4 bytes, two's complement, least significant byte
// first; a string is an integer byte count and the bytes (no terminator). A request is its
// command integer followed by the fields listed at the command; there are no lengths or ids
// beyond that, so one unread or extra field desynchronises the stream for good.
#pragma once

#include "ipc/socket_ipc.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumbrake {

// Command codes (the first integer of every request). Replies:
//   QUIT        -                                                   no reply
//   FLUSH       -                                                   int
//   BEGIN_DOC   -                                                   int
//   TEXT_FIELD  string name, string value, int stored, indexed, tokenized   int
//   TIME_FIELD  string name, int value, int stored, indexed, tokenized      int
//   END_DOC     -                                                   int
//   DELETE      int N, N items {int op, string value, string field}         int
//   QUERY       index_query (see write_query)                       int (0 success)
//   HIT_COUNT   -                                                   int
//   SELECT_HIT  int index                                           int
//   HIT_SCORE   -                                                   int
//   HIT_TEXT    string field                                        int, string
//   HIT_TIME    string field                                        int
//   END_QUERY   -                                                   no reply
//   OPTIMIZE    -                                                   int
//   OPEN_READER -                                                   int
//   HIT_WINDOW  int first, int last, int T, T strings (text fields), int M, M strings (time
//               fields)                                             see below
//
// HIT_WINDOW answers the current query's hits first..last (first below 0 counts as 0; last
// is bounded by the hit count and by idx_limits::max_window hits from the first) in one reply:
// int total (HIT_COUNT's answer), int K (the hits that follow), and per hit int selected
// (SELECT_HIT's answer), T strings (HIT_TEXT's text), M ints (HIT_TIME), int score (HIT_SCORE).
// Without a query: total -1, K 0. A window costs one round trip where the single-hit commands
// cost one per field of every hit.
//
// OPEN_READER (writer connection only) asks for a search connection: the server connects back
// to the port it was started with once more and answers the local port of that connection
// (so the daemon can tell it from any other caller), or -1 when it cannot (an in-memory store,
// too many readers). A search connection serves QUERY, the hit commands, HIT_WINDOW,
// END_QUERY and QUIT over the store as last committed; every document command, FLUSH,
// OPTIMIZE and OPEN_READER answer -1 there.
enum idx_command : std::int32_t {
    IDX_QUIT = 0,
    IDX_FLUSH = 1,
    IDX_BEGIN_DOC = 2,
    IDX_TEXT_FIELD = 3,
    IDX_TIME_FIELD = 4,
    IDX_END_DOC = 5,
    IDX_DELETE = 6,
    IDX_QUERY = 7,
    IDX_HIT_COUNT = 8,
    // 9 is never sent
    IDX_SELECT_HIT = 10,
    IDX_HIT_SCORE = 11,
    IDX_HIT_TEXT = 12,
    IDX_HIT_TIME = 13,
    IDX_END_QUERY = 14,
    IDX_OPTIMIZE = 15,
    IDX_HIT_WINDOW = 16,
    IDX_OPEN_READER = 17,
};
constexpr std::int32_t idx_command_count = 18;

// SO_RCVBUF and SO_SNDBUF of the writer's connection, on both sides: the daemon leaves the
// replies of added documents unread up to a bound (idxstorage.h), which must fit in them.
inline constexpr int idx_writer_socket_buffer = 256 * 1024;
// Sizes both buffers of a writer's connection so; a failure leaves the system's default,
// which holds the unread replies too, with less room.
void size_writer_socket(int sock);

// Ops of a query item. AND, OR and NEAR combine the preceding `value` (decimal) items; NOT
// applies to the one item before it and carries an empty value.
enum idx_term_op : std::int32_t {
    IDX_OP_TERM = 0,
    IDX_OP_NEAR = 1,
    IDX_OP_AND = 2,
    IDX_OP_OR = 3,
    IDX_OP_NOT = 4,
};

// One query item: on the wire op, value, field. An empty field names the word stream.
struct index_term {
    std::int32_t op = IDX_OP_TERM;
    std::string value;
    std::string field;
    bool operator==(const index_term&) const = default;
};

struct index_boost {
    std::int32_t slice = 0;
    std::int32_t boost = 0;
    bool operator==(const index_boost&) const = default;
};

// The fields of a QUERY request after its command code, in wire order.
struct index_query {
    std::vector<index_term> items; // postfix order
    std::vector<index_boost> boosts;
    std::string time_field; // empty: no time restriction
    std::int32_t min_time = 0;
    std::int32_t max_time = 0;
    std::string sort_field; // empty: relevance order
    std::int32_t reverse = 0;
    std::string score_field;
    std::string min_score; // empty: no score limit; else 8 lower-case hex digits
    bool operator==(const index_query&) const = default;
};

// Field names and the word stream's token layout.
namespace idx {
inline constexpr char word_separator = '\x01';
// The last byte of each word-stream token: slice_marker_base + slice id (low 8 bits).
inline constexpr unsigned char slice_marker_base = 0x40;
} // namespace idx

// Exact transfers on a socket. A count of 0 gives 0 at once; partial transfers are continued,
// EINTR is retried; a transfer that returns 0 or fails otherwise gives -1. Success: the count.
// Sending never raises SIGPIPE.
long send_all(int sock, const void* buffer, std::size_t count);
long recv_all(int sock, void* buffer, std::size_t count);

// A byte stream carrying the protocol: a socket on both sides, or memory (tests, fuzzing).
// Every operation returns false once the stream has failed; later reads keep failing.
class idx_channel {
public:
    virtual ~idx_channel() = default;

    bool write_int(std::int32_t value);
    // The count and, when not empty, the bytes.
    bool write_string(const std::string& value);
    bool read_int(std::int32_t& value);
    // The target is left unchanged when the count cannot be read; otherwise it is emptied,
    // a count below 1 gives the empty string, a count above max_length fails (nothing is
    // allocated for it) and the bytes are read in pieces of at most 1024 bytes.
    bool read_string(std::string& value, std::size_t max_length);

    virtual bool write_bytes(const void* data, std::size_t count) = 0;
    virtual bool read_bytes(void* data, std::size_t count) = 0;
};

// Over a connected socket it does not own.
class idx_socket_channel : public idx_channel {
public:
    explicit idx_socket_channel(int sock) : sock_(sock) {}
    bool write_bytes(const void* data, std::size_t count) override;
    bool read_bytes(void* data, std::size_t count) override;
    int socket() const { return sock_; }

private:
    int sock_;
};

// Over a connected socket it does not own, with a buffer each way: what is written is
// collected and goes out in one send when the channel is about to wait for bytes it has not
// received (a request and its fields leave together, a server's replies to requests that
// arrived together likewise) or on flush(); reads are served from blocks received as they
// come.
class idx_buffered_channel : public idx_channel {
public:
    explicit idx_buffered_channel(int sock) : sock_(sock) {}
    bool write_bytes(const void* data, std::size_t count) override;
    bool read_bytes(void* data, std::size_t count) override;
    // Sends what is collected; false (and failed from then on) when the send fails.
    bool flush();
    // Forgets what is collected and received: a new connection starts afresh.
    void reset(int sock);
    int socket() const { return sock_; }
    std::size_t pending() const { return out_.size(); }

private:
    int sock_;
    bool failed_ = false;
    std::string out_;
    socket_ipc::receive_buffer in_;
};

// Reads from a byte range it does not own; collects what is written.
class idx_memory_channel : public idx_channel {
public:
    idx_memory_channel(const void* data, std::size_t size)
        : data_(static_cast<const unsigned char*>(data)), size_(size) {}
    bool write_bytes(const void* data, std::size_t count) override;
    bool read_bytes(void* data, std::size_t count) override;
    std::string& output() { return output_; }
    std::size_t remaining() const { return size_ - pos_; }

private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    std::string output_;
};

// Bounds the server puts on one request: counts and strings above them are protocol errors.
struct idx_limits {
    std::size_t max_items = 100000;
    std::size_t max_boosts = 4096;
    std::size_t max_string = 256u * 1024 * 1024;
    std::size_t max_name = 4096;     // field names, sort and score fields, score text
    std::size_t max_window = 1000;   // hits of one HIT_WINDOW reply
    std::size_t max_hit_fields = 64; // text fields, and time fields, of one HIT_WINDOW
};

// A HIT_WINDOW request after its command code.
struct index_window_request {
    std::int32_t first = 0;
    std::int32_t last = -1;
    std::vector<std::string> texts; // stored text fields, in reply order
    std::vector<std::string> times; // stored time fields, in reply order
    bool operator==(const index_window_request&) const = default;
};

// One hit of a HIT_WINDOW reply.
struct index_window_hit {
    std::int32_t selected = -1;
    std::vector<std::string> texts;
    std::vector<std::int32_t> times;
    std::int32_t score = -1;
    bool operator==(const index_window_hit&) const = default;
};

// The HIT_WINDOW reply.
struct index_window {
    std::int32_t total = -1;
    std::vector<index_window_hit> hits;
    bool operator==(const index_window&) const = default;
};

bool write_window_request(idx_channel& out, const index_window_request& request);
// False on a short stream or a field count outside the limits.
bool read_window_request(idx_channel& in, index_window_request& request, const idx_limits& limits);
// Every hit must carry as many texts and times as the request named.
bool write_window(idx_channel& out, const index_window& window);
// Reads a reply to `request`: false on a short stream or more hits than limits.max_window
// (the hits read before the failure are kept).
bool read_window(idx_channel& in, const index_window_request& request, index_window& window,
                 const idx_limits& limits);

// Item lists: the count, then op, value, field per item.
bool write_items(idx_channel& out, const std::vector<index_term>& items);
bool read_items(idx_channel& in, std::vector<index_term>& items, const idx_limits& limits);

// The QUERY request after its command code: items; int M, M pairs {slice, boost}; time field;
// minimum time; maximum time; sort field; reverse; score field; minimum score.
bool write_query(idx_channel& out, const index_query& query);
// False on a short stream or a count or string outside the limits (negative counts too).
bool read_query(idx_channel& in, index_query& query, const idx_limits& limits);

} // namespace lumbrake
