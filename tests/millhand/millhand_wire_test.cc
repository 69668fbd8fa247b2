// The worker messages on the wire: exact byte layouts, round trips, and what a reader does
// with cut, absurd or unknown input.
#include "millhand/millhand-serialize.h"

#include "ipc/socket_ipc.h"
#include "util/log.h"
#include "../support/socket_errors.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace lumbrake::millhand_wire {
namespace {

// Little-endian pieces for the expected byte strings.
std::string le16(std::uint16_t v) {
    return {static_cast<char>(v & 0xff), static_cast<char>(v >> 8)};
}
std::string le32(std::uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i)
        s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    return s;
}
std::string str(const std::string& v) {
    return le32(static_cast<std::uint32_t>(v.size())) + v;
}

using tn_test::thrown_text;

process_request sample_process() {
    process_request r;
    r.base_score = 999999;
    r.docid = "0123abcd";
    r.url = "http://intranet.example/a b?x=1";
    r.cookies = "sid=42";
    r.collect_cookies = 1;
    r.source_xml = "<source/>";
    r.auth_xml = std::string("<auth>\0</auth>", 14);
    r.reserved = "";
    r.sidemeta = 1;
    r.docfilter_ids = {7, 3, 0xfffffffe};
    r.plugins[9].magic = 0xa1b2c3d4;
    r.plugins[9].record.Type = static_cast<PluginType>(0x12345); // only 0x2345 travels
    r.plugins[9].record.Name = "meta";
    r.plugins[9].record.Description = "adds metas";
    r.plugins[9].record.DLLName = "docmill-test-meta";
    r.plugins[9].record.DLLParameters = std::string("\0\1\2", 3);
    r.plugins[2].magic = 5;
    r.plugins[2].record.Name = "second";
    r.docfilters[3].magic = 77;
    r.docfilters[3].record.Type = ARCHIVEFFF_PLUGINTYPE;
    r.docfilters[3].record.Name = "filter";
    r.docfilters[3].record.Description = "d";
    r.docfilters[3].record.PluginID = -1;
    r.docfilters[3].record.Config = "origin=root";
    r.text_exclusion_begin = "<!--skip-->";
    r.text_exclusion_end = "<!--/skip-->";
    return r;
}

TEST(MillhandWire, ProcessRequestBytesFollowTheFieldTable) {
    request req;
    req.id = PROCESS;
    req.process = sample_process();
    req.reprocess.url = "never sent";
    wire_out out;
    write_request(out, req);

    const std::string expected =
        le16(1) + le32(999999) + str("0123abcd") + str("http://intranet.example/a b?x=1") +
        str("sid=42") + "\x01" + str("<source/>") + str(std::string("<auth>\0</auth>", 14)) +
        str("") + "\x01" +
        // docfilter ids in the given order
        le32(3) + le32(7) + le32(3) + le32(0xfffffffe) +
        // plug-ins in ascending id order, the type cut to 16 bits, no access list
        le32(2) + le32(2) + le32(5) + le16(0) + str("second") + str("") + str("") + str("") +
        le32(9) + le32(0xa1b2c3d4) + le16(0x2345) + str("meta") + str("adds metas") +
        str("docmill-test-meta") + str(std::string("\0\1\2", 3)) +
        // docfilters
        le32(1) + le32(3) + le32(77) + le16(ARCHIVEFFF_PLUGINTYPE) + str("filter") + str("d") +
        le32(0xffffffff) + str("origin=root") + str("<!--skip-->") + str("<!--/skip-->");
    EXPECT_EQ(out.bytes(), expected);

    request back;
    buffer_in in(out.bytes());
    read_request(in, back);
    EXPECT_EQ(in.remaining(), 0u);
    EXPECT_EQ(back.id, PROCESS);
    const process_request& b = back.process;
    EXPECT_EQ(b.base_score, 999999u);
    EXPECT_EQ(b.url, req.process.url);
    EXPECT_EQ(b.auth_xml, req.process.auth_xml);
    EXPECT_EQ(b.collect_cookies, 1);
    EXPECT_EQ(b.sidemeta, 1);
    EXPECT_EQ(b.docfilter_ids, req.process.docfilter_ids);
    ASSERT_EQ(b.plugins.size(), 2u);
    EXPECT_EQ(b.plugins.at(9).record.Type, 0x2345);
    EXPECT_EQ(b.plugins.at(9).record.DLLParameters, std::string("\0\1\2", 3));
    EXPECT_EQ(b.docfilters.at(3).record.PluginID, -1);
    EXPECT_EQ(b.docfilters.at(3).record.Config, "origin=root");
    EXPECT_EQ(b.text_exclusion_end, "<!--/skip-->");
}

TEST(MillhandWire, EmptyRequestsAndOtherIds) {
    // Empty strings are four zero bytes, empty lists and maps a zero count.
    request req;
    req.id = REPROCESS;
    wire_out out;
    write_request(out, req);
    const std::string zero = le32(0);
    std::string expected = le16(2) + zero; // base score
    for (int i = 0; i < 6; ++i)
        expected += zero; // guid ... sidemeta_text
    expected += zero + zero + zero + zero + zero;
    EXPECT_EQ(out.bytes(), expected);

    // QUIT and ids outside the table are the id alone.
    for (std::int32_t id : {0, 3, 0x10005}) {
        wire_out o;
        request r;
        r.id = static_cast<request_t>(id);
        r.process = sample_process();
        write_request(o, r);
        EXPECT_EQ(o.bytes(), le16(static_cast<std::uint16_t>(id))) << id;
    }
}

TEST(MillhandWire, ReprocessRequestRoundTrip) {
    request req;
    req.id = REPROCESS;
    reprocess_request& r = req.reprocess;
    r.base_score = 1000000;
    r.guid = "g";
    r.url = "file:///srv/docs/a.txt";
    r.headers = "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n";
    r.content = std::string(70000, 'x') + std::string("\0tail", 5);
    r.mime = "text/plain";
    r.sidemeta_text = "author=ann\n";
    r.docfilter_ids = {1};
    r.docfilters[1].magic = 3;
    r.docfilters[1].record.PluginID = 4;
    r.text_exclusion_begin = "[";
    wire_out out;
    write_request(out, req);
    // The field order: base score, guid, url, headers, content, mime, side metadata, ...
    EXPECT_EQ(out.bytes().substr(0, 2 + 4 + 5 + 4 + 22),
              le16(2) + le32(1000000) + str("g") + str("file:///srv/docs/a.txt"));

    request back;
    buffer_in in(out.bytes());
    read_request(in, back);
    EXPECT_EQ(in.remaining(), 0u);
    EXPECT_EQ(back.reprocess.headers, r.headers);
    EXPECT_EQ(back.reprocess.content, r.content);
    EXPECT_EQ(back.reprocess.mime, "text/plain");
    EXPECT_EQ(back.reprocess.sidemeta_text, "author=ann\n");
    EXPECT_EQ(back.reprocess.docfilters.at(1).record.PluginID, 4);
    EXPECT_EQ(back.reprocess.text_exclusion_begin, "[");
}

reply sample_processed() {
    reply rep;
    rep.id = PROCESSED;
    process_reply& p = rep.processed;
    p.status.status = STATUS_REDIRECT;
    p.status.message = "moved";
    p.status.mime = "text/html";
    p.status.charset = "utf-8";
    p.status.datetime = 0xfedcba98;
    p.status.redirect = "http://x.example/new";
    p.status.sidemeta_text = "k=v";
    p.status.fffcrc = 0x11223344;
    p.status.corecrc = 0x55667788;
    p.fff = std::string("\x64\0\0\0", 4);
    p.score = 250000;
    p.outlinks = {{"http://x.example/a", 10}, {"", 0}};
    p.headers = "HTTP/1.1 301\r\n\r\n";
    p.content = "body";
    return rep;
}

TEST(MillhandWire, ProcessedReplyBytesAndRoundTrip) {
    const reply rep = sample_processed();
    wire_out out;
    write_reply(out, rep);
    const std::string expected =
        le16(1) + le16(1) + str("moved") + str("text/html") + str("utf-8") + le32(0xfedcba98) +
        str("http://x.example/new") + str("k=v") + le32(0x11223344) + le32(0x55667788) +
        str(std::string("\x64\0\0\0", 4)) + le32(250000) + le32(2) + str("http://x.example/a") +
        le32(10) + str("") + le32(0) + str("HTTP/1.1 301\r\n\r\n") + str("body");
    EXPECT_EQ(out.bytes(), expected);

    reply back;
    buffer_in in(out.bytes());
    read_reply(in, back);
    EXPECT_EQ(in.remaining(), 0u);
    ASSERT_EQ(back.id, PROCESSED);
    const process_reply& b = back.processed;
    EXPECT_EQ(b.status.status, STATUS_REDIRECT);
    EXPECT_EQ(b.status.redirect, "http://x.example/new");
    EXPECT_EQ(b.status.datetime, 0xfedcba98u);
    EXPECT_EQ(b.status.corecrc, 0x55667788u);
    EXPECT_EQ(b.fff, rep.processed.fff);
    ASSERT_EQ(b.outlinks.size(), 2u);
    EXPECT_EQ(b.outlinks[0].url, "http://x.example/a");
    EXPECT_EQ(b.outlinks[0].score, 10u);
    EXPECT_EQ(b.content, "body");
    EXPECT_EQ(back.reprocessed.status.status, STATUS_UNKNOWN); // the other body is untouched
}

TEST(MillhandWire, SmallRepliesAndUnknownIds) {
    // A PROCESSED reply with no FFF and no outlinks is complete.
    reply empty;
    empty.id = PROCESSED;
    empty.processed.status.status = STATUS_NONE;
    wire_out out;
    write_reply(out, empty);
    reply back;
    buffer_in in(out.bytes());
    read_reply(in, back);
    EXPECT_EQ(in.remaining(), 0u);
    EXPECT_EQ(back.processed.status.status, STATUS_NONE);
    EXPECT_TRUE(back.processed.fff.empty());
    EXPECT_TRUE(back.processed.outlinks.empty());

    // REPROCESSED carries the head, the FFF and the score only.
    reply re;
    re.id = REPROCESSED;
    re.reprocessed.score = 424242;
    re.reprocessed.fff = "F";
    wire_out o2;
    write_reply(o2, re);
    EXPECT_EQ(o2.bytes().size(), 2u + 2 + 4 * 3 + 4 + 4 * 2 + 4 + 4 + 4 + 1 + 4);
    buffer_in in2(o2.bytes());
    reply back2;
    read_reply(in2, back2);
    EXPECT_EQ(back2.id, REPROCESSED);
    EXPECT_EQ(back2.reprocessed.score, 424242u);
    EXPECT_EQ(back2.reprocessed.status.status, STATUS_UNKNOWN); // 8 travels as 8

    // QUITTING has no body; an id of 3 or more is kept and nothing after it is read.
    const std::string tail = le32(12345) + "rest";
    for (std::uint16_t id : {std::uint16_t(0), std::uint16_t(3), std::uint16_t(65535)}) {
        const std::string bytes = le16(id) + tail;
        buffer_in i(bytes);
        reply r;
        read_reply(i, r);
        EXPECT_EQ(static_cast<std::int32_t>(r.id), id);
        EXPECT_EQ(i.remaining(), tail.size());
        EXPECT_EQ(r.processed.status.status, STATUS_UNKNOWN);
        EXPECT_EQ(r.reprocessed.status.status, STATUS_UNKNOWN);
    }
}

TEST(MillhandWire, EveryCutShortMessageThrowsTheFramingText) {
    request req;
    req.id = PROCESS;
    req.process = sample_process();
    wire_out rq;
    write_request(rq, req);
    wire_out rp;
    write_reply(rp, sample_processed());

    for (const std::string* whole : {&rq.bytes(), &rp.bytes()}) {
        for (std::size_t n = 0; n < whole->size(); ++n) {
            const std::string cut = whole->substr(0, n);
            const std::string text = thrown_text([&] {
                buffer_in in(cut);
                if (whole == &rq.bytes()) {
                    request r;
                    read_request(in, r);
                } else {
                    reply r;
                    read_reply(in, r);
                }
            });
            EXPECT_EQ(text.rfind("Expecting ", 0), 0u) << "cut at " << n << ": " << text;
        }
    }
}

TEST(MillhandWire, HostileCountsAndLengths) {
    // Counts that announce far more than arrives fail when the data runs out.
    const std::string nul(1, '\0');
    const std::string huge_list = le16(1) + le32(0) + str("") + str("u") + str("") + nul + str("") +
                                  str("") + str("") + nul + le32(0xffffffff) + le32(1);
    EXPECT_EQ(thrown_text([&] {
                  buffer_in in(huge_list);
                  request r;
                  read_request(in, r);
              }),
              "Expecting 4 bytes, got 0");

    // A string count read as negative is the empty string, as on the socket; one beyond the
    // framing's limit is refused before anything is allocated.
    {
        const std::string bytes = le16(2) + le32(5) + le32(0x80000000) + str("url");
        buffer_in in(bytes);
        request r;
        EXPECT_EQ(thrown_text([&] { read_request(in, r); }), "Expecting 4 bytes, got 0");
        EXPECT_EQ(r.reprocess.guid, "");
        EXPECT_EQ(r.reprocess.url, "url");
    }
    EXPECT_EQ(thrown_text([] {
                  const std::string bytes = le16(1) + le32(0) + le32(0x7fffffff);
                  buffer_in in(bytes);
                  request r;
                  read_request(in, r);
              }).rfind("Refusing a string of 2147483647 bytes", 0),
              0u);
    EXPECT_EQ(thrown_text([] {
                  const std::string bytes = le16(1) + le32(0) + le32(100) + "short";
                  buffer_in in(bytes);
                  request r;
                  read_request(in, r);
              }),
              "Expecting 100 bytes, got 5");

    // A repeated plug-in id: the later record is kept.
    const std::string twice = le16(2) + le32(0) + std::string(6 * 4, '\0') + le32(0) + le32(2) +
                              le32(4) + le32(1) + le16(0) + str("first") + str("") + str("") +
                              str("") + le32(4) + le32(2) + le16(0) + str("second") + str("") +
                              str("") + str("") + le32(0) + str("") + str("");
    buffer_in in(twice);
    request r;
    read_request(in, r);
    EXPECT_EQ(in.remaining(), 0u);
    ASSERT_EQ(r.reprocess.plugins.size(), 1u);
    EXPECT_EQ(r.reprocess.plugins.at(4).record.Name, "second");
    EXPECT_EQ(r.reprocess.plugins.at(4).magic, 2u);
}

std::string read_seed(const std::string& name) {
    std::FILE* f = std::fopen((std::string(TN_TEST_DATA) + "/corpus/" + name).c_str(), "rb");
    std::string bytes;
    if (!f) return bytes;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.append(buffer, n);
    std::fclose(f);
    return bytes;
}

TEST(MillhandWire, MessagesWrittenByAnotherEncoderReadWhole) {
    // The fuzz seeds, written by a Python encoder from the message tables.
    const std::string process = read_seed("process");
    ASSERT_FALSE(process.empty());
    buffer_in in(process);
    request req;
    read_request(in, req);
    EXPECT_EQ(in.remaining(), 0u);
    EXPECT_EQ(req.process.url, "http://intranet.example/");
    EXPECT_EQ(req.process.sidemeta, 1);
    EXPECT_EQ(req.process.docfilter_ids, (docfilter_id_list{5, 6}));
    EXPECT_EQ(req.process.plugins.at(1).record.DLLParameters, std::string("\0p", 2));
    EXPECT_EQ(req.process.docfilters.at(6).record.PluginID, -1);
    EXPECT_EQ(req.process.text_exclusion_end, "<!--/x-->");

    const std::string reprocess = read_seed("reprocess");
    buffer_in in2(reprocess);
    read_request(in2, req);
    EXPECT_EQ(in2.remaining(), 0u);
    EXPECT_EQ(req.reprocess.content, "<html><title>t</title></html>");

    const std::string processed = read_seed("processed");
    buffer_in in3(processed);
    reply rep;
    read_reply(in3, rep);
    EXPECT_EQ(in3.remaining(), 0u);
    EXPECT_EQ(rep.processed.status.sidemeta_text, "<metas/>");
    EXPECT_EQ(rep.processed.status.corecrc, 0x9abcdef0u);
    ASSERT_EQ(rep.processed.outlinks.size(), 2u);
    EXPECT_EQ(rep.processed.content, "<html></html>");

    const std::string reprocessed = read_seed("reprocessed");
    buffer_in in4(reprocessed);
    read_reply(in4, rep);
    EXPECT_EQ(in4.remaining(), 0u);
    EXPECT_EQ(rep.reprocessed.score, 1000000u);
}

// Both ends of a local stream socket.
struct socket_pair {
    int a = -1, b = -1;
    socket_pair() {
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) == 0) {
            a = sv[0];
            b = sv[1];
        }
    }
};

// Captures the log at BORING on every facility while it lives.
class log_capture {
public:
    log_capture() {
        saved_ = g_log;
        stream_ = open_memstream(&buffer_, &size_);
        g_log.stream = stream_;
        for (int& t : g_log.thresholds)
            t = LL_BORING;
    }
    ~log_capture() {
        g_log = saved_;
        std::fclose(stream_);
        std::free(buffer_);
    }
    std::string text() {
        std::fflush(stream_);
        return std::string(buffer_, size_);
    }

private:
    log_state saved_{};
    std::FILE* stream_ = nullptr;
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
};

TEST(MillhandWire, OverASocketWithTraces) {
    socket_pair p;
    ASSERT_GE(p.a, 0);
    socket_ipc::server_helper daemon_end(p.a), worker_end(p.b);
    log_capture log;

    request req;
    req.id = PROCESS;
    req.process = sample_process();
    // The whole request must reach the worker's end even when it does not fit the socket's
    // buffer at once: the worker reads while the daemon writes.
    req.process.cookies = std::string(1 << 20, 'c');
    request got;
    std::thread worker([&] { receive_request(worker_end, got); });
    send_request(daemon_end, req);
    worker.join();
    EXPECT_EQ(got.process.cookies, req.process.cookies);
    EXPECT_EQ(got.process.docfilters.at(3).record.Config, "origin=root");

    reply rep = sample_processed();
    send_reply(worker_end, rep);
    reply back;
    receive_reply(daemon_end, back);
    EXPECT_EQ(back.processed.outlinks.size(), 2u);
    EXPECT_EQ(back.processed.content, "body");

    const std::string t = log.text();
    for (const char* line :
         {"Sending millhand::request_t::PROCESS\n",
          "Sent millhand::request_t::PROCESS 'http://intranet.example/a b?x=1'\n",
          "Receiving millhand::request_t::PROCESSED\n", "Receiving status\n",
          "Received status 1 'moved'\n", "Received mime 'text/html' 'utf-8'\n",
          "Received datetime 4275878552\n", "Receiving redir http://x.example/new\n",
          "Received FFF 4\n", "Received link http://x.example/a (10)\n", "Received 2 outlinks\n",
          "Received millhand::request_t::PROCESSED\n"})
        EXPECT_NE(t.find(line), std::string::npos) << line;
    EXPECT_NE(t.find("src/millhand/millhand-serialize.cc:"), std::string::npos);

    // A peer that goes away in the middle of a reply: the socket framing's error.
    wire_out out;
    write_reply(out, sample_processed());
    ASSERT_EQ(::write(p.b, out.bytes().data(), 20), 20);
    ::shutdown(p.b, SHUT_WR);
    reply cut;
    const std::string text = thrown_text([&] { receive_reply(daemon_end, cut); });
    EXPECT_EQ(text.rfind("safe_recv error (", 0), 0u) << text;
}

// The connection's receive buffer holds what came behind a message: requests or replies that
// arrive in one block are each read whole and in turn, and the end after them is still seen.
TEST(MillhandWire, MessagesArrivingTogetherAreReadInTurn) {
    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    socket_ipc::server_helper reader(sv[0]);

    request process;
    process.id = PROCESS;
    process.process = sample_process();
    request quit;
    wire_out requests;
    write_request(requests, process);
    write_request(requests, quit);
    write_request(requests, process);
    reply processed = sample_processed();
    reply empty;
    empty.id = REPROCESSED;
    wire_out replies;
    write_reply(replies, processed);
    write_reply(replies, empty);
    const std::string both = requests.bytes() + replies.bytes();
    ASSERT_EQ(::write(sv[1], both.data(), both.size()), static_cast<ssize_t>(both.size()));
    ::close(sv[1]);

    EXPECT_FALSE(reader.peer_closed());
    request r1, r2, r3;
    receive_request(reader, r1);
    receive_request(reader, r2);
    receive_request(reader, r3);
    EXPECT_EQ(r1.id, PROCESS);
    EXPECT_EQ(r1.process.text_exclusion_end, process.process.text_exclusion_end);
    EXPECT_EQ(r2.id, QUIT);
    EXPECT_EQ(r3.process.docfilters.at(3).record.Config, "origin=root");
    reply a, b;
    receive_reply(reader, a);
    receive_reply(reader, b);
    EXPECT_EQ(a.processed.content, "body");
    EXPECT_EQ(b.id, REPROCESSED);
    EXPECT_EQ(reader.buffered(), 0u);
    EXPECT_TRUE(reader.peer_closed());
}

} // namespace
} // namespace lumbrake::millhand_wire
