#include "idxstorage/idxstorage.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>

#include "util/codecs.h"
#include "util/log.h"
#include "util/syslayer.h"
#include "fff/FFF.h"

namespace lumbrake {

// ---- connection ----

index_connection::index_connection() : socket_ipc::server_proxy(cfg, "siftvault") {}

index_connection::~index_connection() {
    if (socket() >= 0) {
        // Closing with replies unread would reset the connection, and the server would lose
        // the requests it had not yet read.
        drain_replies();
        send_command(IDX_QUIT);
    }
    // The base closes the sockets and waits for the server to end.
}

void index_server_environment(const config& cfg, std::map<std::string, std::string>& environment) {
    static const char* const keys[][2] = {
        {"MERGEFACTOR", "LUCENE_MERGEFACTOR"},
        {"MINMERGEDOCS", "LUCENE_MINMERGEDOCS"},
        {"MAXMERGEDOCS", "LUCENE_MAXMERGEDOCS"},
        {"MAXFIELDLENGTH", "LUCENE_MAXFIELDLENGTH"},
    };
    for (const auto& k : keys) {
        std::string value;
        if (cfg.get(k[0], value)) environment[k[1]] = value;
    }
}

void index_connection::child_environment(std::map<std::string, std::string>& environment) const {
    index_server_environment(cfg, environment);
}

bool index_connection::start_index_server(std::string& error) {
    const bool ok = start(error);
    // Replies left unread must fit (max_unread_add_replies).
    if (ok && socket() >= 0) size_writer_socket(socket());
    relink();
    return ok;
}

void index_link::relink() {
    broken_ = false;
    unread_replies_ = 0;
    skipped_read_ = 0;
    kept_number_.reset();
    kept_value_.reset();
    channel_.reset(link_socket());
}

idx_buffered_channel* index_link::channel() {
    const int sock = link_socket();
    if (broken_ || sock < 0) {
        broken_ = true;
        return nullptr;
    }
    if (channel_.socket() != sock) channel_.reset(sock);
    return &channel_;
}

search_connection::search_connection(int sock) : sock_(sock) {
    relink();
}

search_connection::~search_connection() {
    if (sock_ >= 0) {
        if (!broken()) send_command(IDX_QUIT);
        ::close(sock_);
    }
}

std::unique_ptr<search_connection> search_connection::open(index_connection& writer) {
    const std::int32_t port = writer.request(IDX_OPEN_READER);
    if (port <= 0 || writer.listen_socket() < 0) return nullptr;
    // The server connected before it answered, so its connection waits in the backlog;
    // anything else found there is closed.
    for (int tries = 0; tries < 4; ++tries) {
        pollfd p{writer.listen_socket(), POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) break;
        const int s = ::accept4(writer.listen_socket(), nullptr, nullptr, SOCK_CLOEXEC);
        if (s < 0) continue;
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        if (::getpeername(s, reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
            ntohs(peer.sin_port) == port) {
            int one = 1;
            ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return std::make_unique<search_connection>(s);
        }
        ::close(s);
    }
    TN_LOG(LF_IPCSOCK, LL_ERROR, "Index server's search connection did not arrive");
    return nullptr;
}

bool index_link::send_int(std::int32_t value) {
    idx_buffered_channel* ch = channel();
    if (ch && !ch->write_int(value)) broken_ = true;
    return !broken_;
}

bool index_link::send_string(const std::string& value) {
    idx_buffered_channel* ch = channel();
    if (ch && !ch->write_string(value)) broken_ = true;
    return !broken_;
}

bool index_link::send_items(const std::vector<index_term>& items) {
    idx_buffered_channel* ch = channel();
    if (ch && !write_items(*ch, items)) broken_ = true;
    return !broken_;
}

bool index_link::send_query(const index_query& query) {
    idx_buffered_channel* ch = channel();
    if (ch && !write_query(*ch, query)) broken_ = true;
    return !broken_;
}

bool index_link::send_raw(const std::string& bytes) {
    idx_buffered_channel* ch = channel();
    if (ch && !ch->write_bytes(bytes.data(), bytes.size())) broken_ = true;
    return !broken_;
}

bool index_link::flush_sends() {
    idx_buffered_channel* ch = channel();
    if (ch && !ch->flush()) broken_ = true;
    return !broken_;
}

bool index_link::drain_replies(std::int32_t keep) {
    idx_buffered_channel* ch = channel();
    if (!ch) return false;
    std::int32_t value = 0;
    for (; unread_replies_ > keep; --unread_replies_) {
        if (!ch->read_int(value)) {
            unread_replies_ = 0;
            broken_ = true;
            return false;
        }
        if (kept_number_ && *kept_number_ == skipped_read_) kept_value_ = value;
        ++skipped_read_;
    }
    return true;
}

std::uint64_t index_link::leave_replies(std::int32_t count) {
    const std::uint64_t first = skipped_read_ + static_cast<std::uint64_t>(unread_replies_);
    unread_replies_ += count;
    return first;
}

void index_link::keep_reply(std::uint64_t number) {
    kept_number_ = number;
    kept_value_.reset();
}

std::optional<std::int32_t> index_link::kept_reply(std::uint64_t number) const {
    if (!kept_number_ || *kept_number_ != number) return std::nullopt;
    return kept_value_;
}

std::int32_t index_link::recv_int() {
    std::int32_t value = -1;
    if (!drain_replies()) return -1;
    idx_buffered_channel* ch = channel();
    if (!ch) return -1;
    if (!ch->read_int(value)) {
        broken_ = true;
        return -1;
    }
    return value;
}

bool index_link::recv_string(std::string& value) {
    if (!drain_replies()) return false;
    idx_buffered_channel* ch = channel();
    if (!ch) return false;
    std::string text;
    if (!ch->read_string(text, socket_ipc::max_string_length)) {
        broken_ = true;
        return false;
    }
    value = std::move(text);
    return true;
}

std::int32_t index_link::request(std::int32_t command) {
    if (!send_int(command)) return -1;
    return recv_int();
}

void index_link::send_command(std::int32_t command) {
    // Nothing answers it, so nothing would push it out.
    if (send_int(command)) flush_sends();
}

std::int32_t index_link::text_field(const std::string& name, const std::string& value, bool stored,
                                    bool indexed, bool tokenized) {
    if (!send_int(IDX_TEXT_FIELD) || !send_string(name) || !send_string(value) ||
        !send_int(stored ? 1 : 0) || !send_int(indexed ? 1 : 0) || !send_int(tokenized ? 1 : 0))
        return -1;
    return recv_int();
}

std::int32_t index_link::time_field(const std::string& name, std::int32_t value, bool stored,
                                    bool indexed, bool tokenized) {
    if (!send_int(IDX_TIME_FIELD) || !send_string(name) || !send_int(value) ||
        !send_int(stored ? 1 : 0) || !send_int(indexed ? 1 : 0) || !send_int(tokenized ? 1 : 0))
        return -1;
    return recv_int();
}

std::int32_t index_link::delete_term(const std::string& value, const std::string& field) {
    if (!send_int(IDX_DELETE) || !send_items({index_term{IDX_OP_TERM, value, field}})) return -1;
    return recv_int();
}

// ---- words extractor ----

void words_extractor::append_token(const std::string& word, std::int32_t slice) {
    if (!words_.empty()) words_ += idx::word_separator;
    words_ += word;
    words_ += static_cast<char>(static_cast<unsigned char>(idx::slice_marker_base + slice));
}

void words_extractor::visit(const FFF::tXMLTree* node, int depth, bool leaving) {
    (void)depth;
    if (leaving) {
        if (dynamic_cast<const FFF::DocumentData*>(node)) {
            if (sink_) sink_(title_, words_);
        }
        return;
    }
    if (const auto* contents = dynamic_cast<const FFF::Contents*>(node)) {
        for (const FFF::meta& m : contents->metas)
            append_token(m.key + ":" + m.value, m.dictid);
        return;
    }
    if (const auto* low = dynamic_cast<const FFF::Low*>(node)) {
        if (low->dictid == FFF::titleDict) {
            bool previous_word = false;
            for (const std::string& w : low->words) {
                const bool a = utf8_is_alnum(w);
                if (a && previous_word) title_ += ' ';
                title_ += w;
                previous_word = a;
            }
        }
        std::string folded;
        for (const std::string& w : low->words) {
            bool valid = true;
            utf8_case_fold(w, folded, valid);
            if (!valid) continue;
            if (folded.size() <= max_indexed_word && utf8_is_alnum(folded))
                append_token(folded, low->dictid);
        }
    }
}

// ---- storage ----

std::int32_t round_to_hour(std::int32_t seconds) {
    return seconds - seconds % 3600;
}

std::vector<std::string> index_shard_names(const std::string& folder) {
    std::vector<std::string> names;
    std::ifstream in(folder + "/" + index_stub_name);
    std::string line;
    const std::string prefix = "auto ";
    while (std::getline(in, line))
        if (line.compare(0, prefix.size(), prefix) == 0) names.push_back(line.substr(prefix.size()));
    return names;
}

void remove_index_folder(const std::string& path) {
    // The server keeps its shards one level down, each a flat folder of files; other folders
    // in it are not the index's, and a name that leaves the folder is not followed.
    for (const std::string& name : index_shard_names(path)) {
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
            continue;
        remove_directory_files(path + "/" + name);
    }
    remove_directory_files(path);
}

void remove_directory_files(const std::string& path) {
    dir_handle* dir = lumbrake::opendir(path);
    if (!dir) return;
    while (const dir_entry* e = lumbrake::readdir(dir)) {
        if (e->name == "." || e->name == "..") continue;
        ::unlink((path + "/" + e->name).c_str());
    }
    lumbrake::closedir(dir);
    ::rmdir(path.c_str());
}

idxstorage::idxstorage(clock_fn clock) : clock_(std::move(clock)) {
    // About one per request thread: HTTP_THREADS defaults to the core count.
    pool_limit_ = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 4, 32);
    start();
}

std::int64_t idxstorage::now() const {
    return clock_ ? clock_() : static_cast<std::int64_t>(std::time(nullptr));
}

idxstorage::~idxstorage() {
    stop();
}

void idxstorage::start() {
    add_counter_ = 0;
    delete_counter_ = 0;
    uncommitted_ = false;
    flush_behind_reply_.reset();
    {
        std::lock_guard<std::mutex> pool(pool_mutex_);
        pool_refused_ = false;
    }
    connection_.reset(new (std::nothrow) index_connection());
    if (!connection_) return;
    std::string error;
    if (!connection_->start_index_server(error)) {
        TN_LOG(LF_IPCSOCK, LL_ERROR, error);
        std::fflush(nullptr);
        std::exit(1);
    }
}

void idxstorage::stop() {
    // The search connections first: those lent out come back after their one round trip
    // (nothing waits for the index lock while it holds one); each says QUIT as it closes.
    std::vector<std::unique_ptr<search_connection>> readers;
    {
        std::unique_lock<std::mutex> pool(pool_mutex_);
        pool_returned_.wait(pool, [this] { return pool_lent_ == 0; });
        readers.swap(idle_);
        pool_open_ = 0;
    }
    readers.clear();
    // The connection's destructor sends QUIT, closes and waits for the server to end.
    connection_.reset();
}

std::size_t idxstorage::search_connections() const {
    std::lock_guard<std::mutex> pool(pool_mutex_);
    return pool_open_;
}

void idxstorage::changed() {
    uncommitted_ = true;
    // A FLUSH still unanswered no longer covers everything sent.
    flush_behind_reply_.reset();
    last_change_ = std::chrono::steady_clock::now();
}

void idxstorage::commit_reply(std::int32_t reply) {
    // Only a commit that the server confirmed makes the index what a reader sees.
    if (reply == 0) {
        uncommitted_ = false;
        flush_behind_reply_.reset();
    }
}

void idxstorage::flush_behind() {
    if (!connection_) return;
    index_connection& c = *connection_;
    if (c.send_int(IDX_FLUSH) && c.flush_sends()) {
        const std::uint64_t number = c.leave_replies(1);
        c.keep_reply(number);
        flush_behind_reply_ = number;
    }
    restart_if_lost();
}

void idxstorage::flush_without_waiting() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    note_flush_reply();
    if (!connection_ || !uncommitted_ || flush_behind_reply_) return;
    // Its reply joins the unread ones within their bound, as an added document's do.
    if (!connection_->drain_replies(max_unread_add_replies - 1)) {
        restart_if_lost();
        return;
    }
    flush_behind();
}

void idxstorage::note_flush_reply() {
    if (!flush_behind_reply_ || !connection_) return;
    const std::optional<std::int32_t> reply = connection_->kept_reply(*flush_behind_reply_);
    if (!reply) return;
    flush_behind_reply_.reset();
    if (*reply == 0) uncommitted_ = false;
}

bool idxstorage::committed() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    note_flush_reply();
    return !uncommitted_;
}

bool idxstorage::restart_if_lost() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (connection_ && !connection_->broken() && connection_->child_alive()) return false;
    TN_LOG(LF_IPCSOCK, LL_ERROR,
           "Index server lost; starting a new one and rebuilding the index from the store");
    stop();
    start();
    needs_rebuild_ = true;
    return true;
}

void idxstorage::flush() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (connection_) commit_reply(connection_->request(IDX_FLUSH));
    restart_if_lost();
}

void idxstorage::optimize() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    // The server's readers open the compacted folder at their next query.
    if (connection_) commit_reply(connection_->request(IDX_OPTIMIZE));
    restart_if_lost();
}

void idxstorage::reset() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    stop();
    remove_index_folder("index");
    start();
    needs_rebuild_ = false;
}

void idxstorage::count_add() {
    if (++add_counter_ >= flush_every) {
        flush_behind();
        add_counter_ = 0;
        delete_counter_ = 0;
    }
}

void idxstorage::count_delete() {
    if (++delete_counter_ >= flush_every) {
        flush_behind();
        add_counter_ = 0;
        delete_counter_ = 0;
    }
}

namespace {

// Requests written in the protocol's form; counts them, since each has one reply to read.
struct request_writer {
    idx_memory_channel out{nullptr, 0};
    std::int32_t requests = 0;

    void field(std::int32_t command, const std::string& name, bool stored, bool indexed,
               bool tokenized, const std::function<void()>& value) {
        out.write_int(command);
        out.write_string(name);
        value();
        out.write_int(stored ? 1 : 0);
        out.write_int(indexed ? 1 : 0);
        out.write_int(tokenized ? 1 : 0);
        ++requests;
    }
    void text(const std::string& name, const std::string& value, bool stored, bool indexed,
              bool tokenized) {
        field(IDX_TEXT_FIELD, name, stored, indexed, tokenized, [&] { out.write_string(value); });
    }
    void time(const std::string& name, std::int32_t value, bool stored, bool indexed,
              bool tokenized) {
        field(IDX_TIME_FIELD, name, stored, indexed, tokenized, [&] { out.write_int(value); });
    }
    void command(std::int32_t code) {
        out.write_int(code);
        ++requests;
    }
};

} // namespace

index_document prepare_document(const std::string& guid, std::uint32_t arcid,
                                const std::string& url, const std::string& mime, std::int32_t time,
                                std::int32_t servertime, std::uint32_t score,
                                const std::string& fff) {
    request_writer w;
    w.out.write_int(IDX_DELETE);
    write_items(w.out, {index_term{IDX_OP_TERM, guid, "guid"}});
    ++w.requests;
    w.command(IDX_BEGIN_DOC);
    char text[32];
    w.text("guid", guid, true, true, false);
    std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(arcid));
    w.text("arcid", text, true, true, false);
    w.text("url", url, true, false, false);
    w.text("mime", mime, true, false, false);
    std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(score));
    w.text("score", text, true, true, false);
    w.time("time", round_to_hour(time), true, true, false);
    w.time("servertime", round_to_hour(servertime), true, false, false);
    index_document document;
    document.head = std::move(w.out.output());
    w.out.output().clear();

    FFF::tXMLTree::reader reader(fff, FFF::get_kind_table());
    int status = 0;
    std::unique_ptr<FFF::tXMLTree> root(FFF::FromBinary(reader, status));
    if (!root) {
        TN_LOG(LF_FFF, LL_ERROR, "Failed FFF FromBinary");
    } else if (status != 2) {
        TN_LOG(LF_FFF, LL_ERROR, "Incomplete FFF");
    } else if (!dynamic_cast<const FFF::DocumentData*>(root.get())) {
        TN_LOG(LF_FFF, LL_ERROR, "BLOB object mismatch?");
    } else {
        words_extractor extractor([&w](const std::string& title, const std::string& words) {
            w.text("title", title, true, false, false);
            w.text("", words, false, true, true);
        });
        root->accept_const(extractor, 0);
    }
    root.reset();

    w.command(IDX_END_DOC);
    document.tail = std::move(w.out.output());
    document.requests = w.requests;
    return document;
}

void idxstorage::add_document(const std::string& guid, std::uint32_t arcid, const std::string& url,
                              const std::string& mime, std::int32_t time, std::int32_t servertime,
                              std::uint32_t score, const std::vector<std::int32_t>& views,
                              const std::string& fff) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!connection_) return;
    add_prepared(prepare_document(guid, arcid, url, mime, time, servertime, score, fff), views);
}

void idxstorage::add_prepared(const index_document& document,
                              const std::vector<std::int32_t>& views) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!connection_) return;
    index_connection& c = *connection_;
    // Earlier documents' replies first, as far as needed: a bounded number stay unread, so
    // the server's replies never fill the socket while the daemon is sending, and the server
    // always has the next documents at hand instead of waiting for a crawl thread to wake.
    const std::int32_t replies = document.requests + static_cast<std::int32_t>(views.size());
    c.drain_replies(std::max<std::int32_t>(0, max_unread_add_replies - replies));
    changed();
    // Every request of the document leaves in one send. Its replies (which nothing checks)
    // are read later: the caller goes on while the server indexes.
    c.send_raw(document.head);
    for (std::int32_t view : views) {
        c.send_int(IDX_TEXT_FIELD);
        c.send_string("view");
        c.send_string(std::to_string(view));
        c.send_int(1);
        c.send_int(1);
        c.send_int(0);
    }
    c.send_raw(document.tail);
    if (c.flush_sends()) c.leave_replies(replies);
    if (restart_if_lost()) return;
    count_add();
}

void idxstorage::remove_document(const std::string& guid) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!connection_) return;
    changed();
    connection_->delete_term(guid, "guid");
    if (restart_if_lost()) return;
    count_delete();
}

void idxstorage::remove_archive(std::int32_t arcid) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!connection_) return;
    flush();
    char text[32];
    // The id goes out as the unsigned decimal of its bits, like the arcid field it matches.
    std::snprintf(text, sizeof text, "%lu",
                  static_cast<unsigned long>(static_cast<std::uint32_t>(arcid)));
    changed();
    connection_->delete_term(text, "arcid");
    if (restart_if_lost()) return;
    flush();
    add_counter_ = 0;
    delete_counter_ = 0;
}

} // namespace lumbrake
