// The messages between the daemon and its worker processes, and their wire form.
//
// One request, one reply, strictly in turn. The u16 message id alone selects the body; there is
// no length prefix and no version. Values use the socket framing: integers raw little-endian,
// strings as a u32 byte count and the bytes, lists and maps as a u32 count and the elements.
#pragma once

#include "api/api-types.h"
#include "fff/FFF.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace socket_ipc {
class server_helper;
// A link record over the socket framing: the URL as a string, then the score as a 32-bit
// integer.
server_helper& operator>>(server_helper& in, FFF::linkscore_t& link);
} // namespace socket_ipc

namespace lumbrake::millhand_wire {

enum request_t : std::int32_t { QUIT = 0, PROCESS = 1, REPROCESS = 2 };
enum reply_t : std::int32_t { QUITTING = 0, PROCESSED = 1, REPROCESSED = 2 };

// Processing status codes of a reply (the crawl log uses the same numbers).
enum crawl_status : std::int32_t {
    STATUS_NONE = 0,
    STATUS_REDIRECT = 1,
    STATUS_INDEX = 2,
    STATUS_NOTFOUND = 3,
    STATUS_UNPARSABLE = 4,
    STATUS_BADREDIR = 5,
    STATUS_BLOCKED = 6,
    STATUS_NETWORK = 7,
    STATUS_UNKNOWN = 8,
    STATUS_UNCHANGED = 9,
    STATUS_AUTHREQ = 11,
    STATUS_INTERNAL = 12,
    STATUS_SERVER = 13,
};

// A plug-in or docfilter record as a worker is sent it: the CRC of its stored XML and the
// record without its access list.
struct plugin_message {
    std::uint32_t magic = 0;
    Plugin record;
};
struct docfilter_message {
    std::uint32_t magic = 0;
    DocFilter record;
};
// Keyed by record id; written in ascending key order.
using plugin_map = std::map<std::uint32_t, plugin_message>;
using docfilter_map = std::map<std::uint32_t, docfilter_message>;
using docfilter_id_list = std::vector<std::uint32_t>;
using link_list = std::vector<FFF::linkscore_t>;

struct process_request {
    std::uint32_t base_score = 0;
    std::string docid;
    std::string url;
    std::string cookies;
    std::uint8_t collect_cookies = 0;
    std::string source_xml;
    std::string auth_xml;
    std::string reserved;
    std::uint8_t sidemeta = 0;
    docfilter_id_list docfilter_ids;
    plugin_map plugins;
    docfilter_map docfilters;
    std::string text_exclusion_begin;
    std::string text_exclusion_end;
};

struct reprocess_request {
    std::uint32_t base_score = 0;
    std::string guid;
    std::string url;
    std::string headers;
    std::string content;
    std::string mime;
    std::string sidemeta_text;
    docfilter_id_list docfilter_ids;
    plugin_map plugins;
    docfilter_map docfilters;
    std::string text_exclusion_begin;
    std::string text_exclusion_end;
};

// Only the body that the id selects travels.
struct request {
    request_t id = QUIT;
    process_request process;
    reprocess_request reprocess;
};

// The head of both processing replies.
struct document_status {
    std::int32_t status = STATUS_UNKNOWN; // sent in 16 bits
    std::string message;
    std::string mime;
    std::string charset;
    std::uint32_t datetime = 0;
    std::string redirect;
    std::string sidemeta_text;
    std::uint32_t fffcrc = 0;
    std::uint32_t corecrc = 0;
};

struct process_reply {
    document_status status;
    std::string fff;
    std::uint32_t score = 0;
    link_list outlinks;
    std::string headers;
    std::string content;
};

struct reprocess_reply {
    document_status status;
    std::string fff;
    std::uint32_t score = 0;
};

// The id as received (an unknown one included); only the selected body is filled.
struct reply {
    reply_t id = QUITTING;
    process_reply processed;
    reprocess_reply reprocessed;
};

// ---- Value channels ----

// Where values go: a byte buffer, sent in one piece once the message is complete.
class wire_out {
public:
    void u8(std::uint8_t value);
    void u16(std::uint16_t value);
    void u32(std::uint32_t value);
    // Throws when the text is too long for a u32 count.
    void string(const std::string& value);

    const std::string& bytes() const { return bytes_; }
    std::string& bytes() { return bytes_; }

private:
    std::string bytes_;
};

// Where values come from. Failures throw a std::string, as the socket framing does.
class wire_in {
public:
    virtual ~wire_in() = default;
    virtual std::uint8_t u8() = 0;
    virtual std::uint16_t u16() = 0;
    virtual std::uint32_t u32() = 0;
    virtual void string(std::string& value) = 0;
    // One link record: the URL, then the score.
    virtual void link(FFF::linkscore_t& value);
};

// Reads the connected socket of a server_helper (the daemon's proxy, or the worker's end).
class socket_in : public wire_in {
public:
    explicit socket_in(socket_ipc::server_helper& helper) : helper_(helper) {}
    std::uint8_t u8() override;
    std::uint16_t u16() override;
    std::uint32_t u32() override;
    void string(std::string& value) override;
    void link(FFF::linkscore_t& value) override;

private:
    socket_ipc::server_helper& helper_;
};

// Reads bytes at hand with the socket framing's rules: a short read throws "Expecting <n>
// bytes, got <m>", a string count read as negative gives the empty string, one beyond the
// framing's limit is refused.
class buffer_in : public wire_in {
public:
    // The bytes must outlive the reader.
    explicit buffer_in(std::string_view bytes) : data_(bytes) {}
    explicit buffer_in(std::string&&) = delete;
    std::uint8_t u8() override;
    std::uint16_t u16() override;
    std::uint32_t u32() override;
    void string(std::string& value) override;

    std::size_t remaining() const { return data_.size() - pos_; }

private:
    void take(void* out, std::size_t n);

    std::string_view data_;
    std::size_t pos_ = 0;
};

// ---- Messages ----

// The u16 id, then the selected body; an id outside 0-2 is written alone.
void write_request(wire_out& out, const request& req);
// The u16 id, then the body it selects. An unknown id is stored and nothing more is read: the
// caller must treat the stream as lost.
void read_request(wire_in& in, request& req);
void write_reply(wire_out& out, const reply& rep);
// An unknown id is stored and nothing more is read; the bodies stay at their defaults.
void read_reply(wire_in& in, reply& rep);

// The daemon's side: the request goes out in one send; the reply is read from the socket.
void send_request(socket_ipc::server_helper& helper, const request& req);
void receive_reply(socket_ipc::server_helper& helper, reply& rep);
// The worker's side.
void receive_request(socket_ipc::server_helper& helper, request& req);
void send_reply(socket_ipc::server_helper& helper, const reply& rep);

// "QUIT", "PROCESS", ... for traces; "unknown" outside the table.
const char* request_name(std::int32_t id);
const char* reply_name(std::int32_t id);

} // namespace lumbrake::millhand_wire
