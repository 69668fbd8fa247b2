#include "millhand/millhand-serialize.h"

#include "ipc/socket_ipc.h"
#include "util/log.h"

#include <algorithm>
#include <cstring>

namespace lumbrake::millhand_wire {

namespace {

// A count comes from the peer: room is made for at most this many elements ahead, the rest
// grows as elements actually arrive, so a false count costs no memory.
constexpr std::uint32_t max_reserve = 1024;

// A message cut short: sent or received ("got") fewer bytes than it needs.
socket_ipc::socket_error short_transfer(std::size_t expected, std::size_t actual,
                                        bool sending) {
    return socket_ipc::socket_error(sending ? "send" : "recv", 0,
                                    "Expecting " + std::to_string(expected) + " bytes, " +
                                        (sending ? "sent " : "got ") + std::to_string(actual));
}

// ---- bodies ----

void write_ids(wire_out& out, const docfilter_id_list& ids) {
    out.u32(static_cast<std::uint32_t>(ids.size()));
    for (std::uint32_t id : ids)
        out.u32(id);
}

void read_ids(wire_in& in, docfilter_id_list& ids) {
    ids.clear();
    const std::uint32_t count = in.u32();
    ids.reserve(std::min(count, max_reserve));
    for (std::uint32_t i = 0; i < count; ++i)
        ids.push_back(in.u32());
}

// Types are held in 32 bits and travel in 16: the high bits are cut.
std::uint16_t type_on_wire(PluginType type) {
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(type) & 0xffffu);
}

void write_plugins(wire_out& out, const plugin_map& plugins) {
    out.u32(static_cast<std::uint32_t>(plugins.size()));
    for (const auto& [id, p] : plugins) {
        out.u32(id);
        out.u32(p.magic);
        out.u16(type_on_wire(p.record.Type));
        out.string(p.record.Name);
        out.string(p.record.Description);
        out.string(p.record.DLLName);
        out.string(p.record.DLLParameters);
    }
}

void read_plugins(wire_in& in, plugin_map& plugins) {
    plugins.clear();
    const std::uint32_t count = in.u32();
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t id = in.u32();
        plugin_message p;
        p.magic = in.u32();
        p.record.Type = static_cast<PluginType>(in.u16());
        in.string(p.record.Name);
        in.string(p.record.Description);
        in.string(p.record.DLLName);
        in.string(p.record.DLLParameters);
        plugins[id] = std::move(p); // a repeated id: the later record wins
    }
}

void write_docfilters(wire_out& out, const docfilter_map& docfilters) {
    out.u32(static_cast<std::uint32_t>(docfilters.size()));
    for (const auto& [id, d] : docfilters) {
        out.u32(id);
        out.u32(d.magic);
        out.u16(type_on_wire(d.record.Type));
        out.string(d.record.Name);
        out.string(d.record.Description);
        out.u32(static_cast<std::uint32_t>(d.record.PluginID));
        out.string(d.record.Config);
    }
}

void read_docfilters(wire_in& in, docfilter_map& docfilters) {
    docfilters.clear();
    const std::uint32_t count = in.u32();
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t id = in.u32();
        docfilter_message d;
        d.magic = in.u32();
        d.record.Type = static_cast<PluginType>(in.u16());
        in.string(d.record.Name);
        in.string(d.record.Description);
        d.record.PluginID = static_cast<std::int32_t>(in.u32());
        in.string(d.record.Config);
        docfilters[id] = std::move(d);
    }
}

void write_process(wire_out& out, const process_request& r) {
    out.u32(r.base_score);
    out.string(r.docid);
    out.string(r.url);
    out.string(r.cookies);
    out.u8(r.collect_cookies);
    out.string(r.source_xml);
    out.string(r.auth_xml);
    out.string(r.reserved);
    out.u8(r.sidemeta);
    write_ids(out, r.docfilter_ids);
    write_plugins(out, r.plugins);
    write_docfilters(out, r.docfilters);
    out.string(r.text_exclusion_begin);
    out.string(r.text_exclusion_end);
}

void read_process(wire_in& in, process_request& r) {
    r.base_score = in.u32();
    in.string(r.docid);
    in.string(r.url);
    in.string(r.cookies);
    r.collect_cookies = in.u8();
    in.string(r.source_xml);
    in.string(r.auth_xml);
    in.string(r.reserved);
    r.sidemeta = in.u8();
    read_ids(in, r.docfilter_ids);
    read_plugins(in, r.plugins);
    read_docfilters(in, r.docfilters);
    in.string(r.text_exclusion_begin);
    in.string(r.text_exclusion_end);
}

void write_reprocess(wire_out& out, const reprocess_request& r) {
    out.u32(r.base_score);
    out.string(r.guid);
    out.string(r.url);
    out.string(r.headers);
    out.string(r.content);
    out.string(r.mime);
    out.string(r.sidemeta_text);
    write_ids(out, r.docfilter_ids);
    write_plugins(out, r.plugins);
    write_docfilters(out, r.docfilters);
    out.string(r.text_exclusion_begin);
    out.string(r.text_exclusion_end);
}

void read_reprocess(wire_in& in, reprocess_request& r) {
    r.base_score = in.u32();
    in.string(r.guid);
    in.string(r.url);
    in.string(r.headers);
    in.string(r.content);
    in.string(r.mime);
    in.string(r.sidemeta_text);
    read_ids(in, r.docfilter_ids);
    read_plugins(in, r.plugins);
    read_docfilters(in, r.docfilters);
    in.string(r.text_exclusion_begin);
    in.string(r.text_exclusion_end);
}

void write_status(wire_out& out, const document_status& s) {
    out.u16(static_cast<std::uint16_t>(static_cast<std::uint32_t>(s.status) & 0xffffu));
    out.string(s.message);
    out.string(s.mime);
    out.string(s.charset);
    out.u32(s.datetime);
    out.string(s.redirect);
    out.string(s.sidemeta_text);
    out.u32(s.fffcrc);
    out.u32(s.corecrc);
}

void read_status(wire_in& in, document_status& s) {
    TN_LOG(LF_IPCMARSHAL, LL_BORING, "Receiving status");
    s.status = in.u16();
    in.string(s.message);
    TN_LOG(LF_IPCMARSHAL, LL_BORING, "Received status " << s.status << " '" << s.message << "'");
    in.string(s.mime);
    in.string(s.charset);
    TN_LOG(LF_IPCMARSHAL, LL_BORING, "Received mime '" << s.mime << "' '" << s.charset << "'");
    s.datetime = in.u32();
    TN_LOG(LF_IPCMARSHAL, LL_BORING, "Received datetime " << s.datetime);
    in.string(s.redirect);
    TN_LOG(LF_IPCMARSHAL, LL_BORING, "Receiving redir " << s.redirect);
    in.string(s.sidemeta_text);
    s.fffcrc = in.u32();
    s.corecrc = in.u32();
}

void read_processed(wire_in& in, process_reply& r) {
    read_status(in, r.status);
    in.string(r.fff);
    TN_LOG(LF_IPCMARSHAL, LL_BORING, "Received FFF " << r.fff.size());
    r.score = in.u32();
    r.outlinks.clear();
    const std::uint32_t count = in.u32();
    r.outlinks.reserve(std::min(count, max_reserve));
    for (std::uint32_t i = 0; i < count; ++i) {
        FFF::linkscore_t link;
        in.link(link);
        r.outlinks.push_back(std::move(link));
    }
    TN_LOG(LF_IPCMARSHAL, LL_BORING, "Received " << r.outlinks.size() << " outlinks");
    in.string(r.headers);
    in.string(r.content);
}

void read_reprocessed(wire_in& in, reprocess_reply& r) {
    read_status(in, r.status);
    in.string(r.fff);
    TN_LOG(LF_IPCMARSHAL, LL_BORING, "Received FFF " << r.fff.size());
    r.score = in.u32();
}

void send_all(socket_ipc::server_helper& helper, const std::string& bytes) {
    const std::size_t sent = socket_ipc::safe_send(helper.socket(), bytes.data(), bytes.size());
    if (sent != bytes.size()) throw short_transfer(bytes.size(), sent, true);
}

} // namespace

// ---- channels ----

void wire_out::u8(std::uint8_t value) {
    bytes_.push_back(static_cast<char>(value));
}

void wire_out::u16(std::uint16_t value) {
    bytes_.push_back(static_cast<char>(value & 0xff));
    bytes_.push_back(static_cast<char>(value >> 8));
}

void wire_out::u32(std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes_.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

void wire_out::string(const std::string& value) {
    // A count read back as negative would mean "empty" to the peer.
    if (value.size() > 0x7fffffffu)
        throw socket_ipc::socket_error("send", 0,
                                       "String of " + std::to_string(value.size()) +
                                           " bytes is too long to send");
    u32(static_cast<std::uint32_t>(value.size()));
    bytes_.append(value);
}

void wire_in::link(FFF::linkscore_t& value) {
    string(value.url);
    value.score = u32();
    TN_LOG(LF_IPCMARSHAL, LL_BORING, "Received link " << value.url << " (" << value.score << ")");
}

std::uint8_t socket_in::u8() {
    std::uint8_t b = 0;
    helper_ >> b;
    return b;
}

std::uint16_t socket_in::u16() {
    std::uint16_t v = 0;
    helper_ >> v;
    return v;
}

std::uint32_t socket_in::u32() {
    std::uint32_t v = 0;
    helper_ >> v;
    return v;
}

void socket_in::string(std::string& value) {
    helper_ >> value;
}

void socket_in::link(FFF::linkscore_t& value) {
    socket_ipc::operator>>(helper_, value);
}

void buffer_in::take(void* out, std::size_t n) {
    if (n > remaining()) {
        const std::size_t got = remaining();
        pos_ = data_.size();
        throw short_transfer(n, got, false);
    }
    std::memcpy(out, data_.data() + pos_, n);
    pos_ += n;
}

std::uint8_t buffer_in::u8() {
    unsigned char b[1];
    take(b, 1);
    return b[0];
}

std::uint16_t buffer_in::u16() {
    unsigned char b[2];
    take(b, 2);
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint32_t buffer_in::u32() {
    unsigned char b[4];
    take(b, 4);
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

void buffer_in::string(std::string& value) {
    value.clear();
    const auto length = static_cast<std::int32_t>(u32());
    if (length <= 0) return;
    const auto n = static_cast<std::uint32_t>(length);
    if (n > socket_ipc::max_string_length)
        throw socket_ipc::socket_error("recv", 0,
                                       "Refusing a string of " + std::to_string(n) +
                                           " bytes (at most " +
                                           std::to_string(socket_ipc::max_string_length) + ")");
    if (n > remaining()) {
        const std::size_t got = remaining();
        pos_ = data_.size();
        throw short_transfer(n, got, false);
    }
    value.assign(data_.data() + pos_, n);
    pos_ += n;
}

// ---- messages ----

const char* request_name(std::int32_t id) {
    switch (id) {
    case QUIT:
        return "QUIT";
    case PROCESS:
        return "PROCESS";
    case REPROCESS:
        return "REPROCESS";
    default:
        return "unknown";
    }
}

const char* reply_name(std::int32_t id) {
    switch (id) {
    case QUITTING:
        return "QUITTING";
    case PROCESSED:
        return "PROCESSED";
    case REPROCESSED:
        return "REPROCESSED";
    default:
        return "unknown";
    }
}

void write_request(wire_out& out, const request& req) {
    out.u16(static_cast<std::uint16_t>(static_cast<std::uint32_t>(req.id) & 0xffffu));
    if (req.id == PROCESS)
        write_process(out, req.process);
    else if (req.id == REPROCESS)
        write_reprocess(out, req.reprocess);
}

void read_request(wire_in& in, request& req) {
    req.id = static_cast<request_t>(in.u16());
    if (req.id == PROCESS)
        read_process(in, req.process);
    else if (req.id == REPROCESS)
        read_reprocess(in, req.reprocess);
}

void write_reply(wire_out& out, const reply& rep) {
    out.u16(static_cast<std::uint16_t>(static_cast<std::uint32_t>(rep.id) & 0xffffu));
    if (rep.id == PROCESSED) {
        const process_reply& r = rep.processed;
        write_status(out, r.status);
        out.string(r.fff);
        out.u32(r.score);
        out.u32(static_cast<std::uint32_t>(r.outlinks.size()));
        for (const FFF::linkscore_t& link : r.outlinks) {
            out.string(link.url);
            out.u32(link.score);
        }
        out.string(r.headers);
        out.string(r.content);
    } else if (rep.id == REPROCESSED) {
        const reprocess_reply& r = rep.reprocessed;
        write_status(out, r.status);
        out.string(r.fff);
        out.u32(r.score);
    }
}

void read_reply(wire_in& in, reply& rep) {
    rep.id = static_cast<reply_t>(in.u16());
    switch (rep.id) {
    case QUITTING:
        TN_LOG(LF_IPCMARSHAL, LL_BORING, "Receiving millhand::request_t::QUITTING");
        TN_LOG(LF_IPCMARSHAL, LL_BORING, "Received millhand::request_t::QUITTING");
        break;
    case PROCESSED:
        TN_LOG(LF_IPCMARSHAL, LL_BORING, "Receiving millhand::request_t::PROCESSED");
        read_processed(in, rep.processed);
        TN_LOG(LF_IPCMARSHAL, LL_BORING, "Received millhand::request_t::PROCESSED");
        break;
    case REPROCESSED:
        TN_LOG(LF_IPCMARSHAL, LL_BORING, "Receiving millhand::request_t::REPROCESSED");
        read_reprocessed(in, rep.reprocessed);
        TN_LOG(LF_IPCMARSHAL, LL_BORING, "Received millhand::request_t::REPROCESSED");
        break;
    default:
        break; // the caller's check of the id fails
    }
}

void send_request(socket_ipc::server_helper& helper, const request& req) {
    TN_LOG(LF_IPCMARSHAL, LL_BORING, "Sending millhand::request_t::" << request_name(req.id));
    wire_out out;
    write_request(out, req);
    send_all(helper, out.bytes());
    if (req.id == PROCESS)
        TN_LOG(LF_IPCMARSHAL, LL_BORING,
               "Sent millhand::request_t::PROCESS '" << req.process.url << "'");
    else if (req.id == REPROCESS)
        TN_LOG(LF_IPCMARSHAL, LL_BORING,
               "Sent millhand::request_t::REPROCESS '" << req.reprocess.url << "'");
}

void receive_reply(socket_ipc::server_helper& helper, reply& rep) {
    socket_in in(helper);
    read_reply(in, rep);
}

void receive_request(socket_ipc::server_helper& helper, request& req) {
    socket_in in(helper);
    read_request(in, req);
    TN_LOG(LF_IPCMARSHAL, LL_BORING, "Received millhand::request_t::" << request_name(req.id));
}

void send_reply(socket_ipc::server_helper& helper, const reply& rep) {
    wire_out out;
    write_reply(out, rep);
    send_all(helper, out.bytes());
    TN_LOG(LF_IPCMARSHAL, LL_BORING, "Sent millhand::reply_t::" << reply_name(rep.id));
}

} // namespace lumbrake::millhand_wire

namespace socket_ipc {

server_helper& operator>>(server_helper& in, FFF::linkscore_t& link) {
    in >> link.url >> link.score;
    TN_LOG(lumbrake::LF_IPCMARSHAL, lumbrake::LL_BORING,
           "Received link " << link.url << " (" << link.score << ")");
    return in;
}

} // namespace socket_ipc
