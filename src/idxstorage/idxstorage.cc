#include "idxstorage/idxstorage.h"

#include <unistd.h>

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
    if (socket() >= 0) send_command(IDX_QUIT);
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
    broken_ = false;
    return start(error);
}

idx_socket_channel index_connection::channel() {
    return idx_socket_channel(socket());
}

bool index_connection::send_int(std::int32_t value) {
    if (broken_ || socket() < 0) return broken_ = true, false;
    auto ch = channel();
    if (!ch.write_int(value)) broken_ = true;
    return !broken_;
}

bool index_connection::send_string(const std::string& value) {
    if (broken_ || socket() < 0) return broken_ = true, false;
    auto ch = channel();
    if (!ch.write_string(value)) broken_ = true;
    return !broken_;
}

bool index_connection::send_items(const std::vector<index_term>& items) {
    if (broken_ || socket() < 0) return broken_ = true, false;
    auto ch = channel();
    if (!write_items(ch, items)) broken_ = true;
    return !broken_;
}

bool index_connection::send_query(const index_query& query) {
    if (broken_ || socket() < 0) return broken_ = true, false;
    auto ch = channel();
    if (!write_query(ch, query)) broken_ = true;
    return !broken_;
}

std::int32_t index_connection::recv_int() {
    std::int32_t value = -1;
    if (broken_ || socket() < 0) return -1;
    auto ch = channel();
    if (!ch.read_int(value)) {
        broken_ = true;
        return -1;
    }
    return value;
}

bool index_connection::recv_string(std::string& value) {
    if (broken_ || socket() < 0) return false;
    auto ch = channel();
    std::string text;
    if (!ch.read_string(text, socket_ipc::max_string_length)) {
        broken_ = true;
        return false;
    }
    value = std::move(text);
    return true;
}

std::int32_t index_connection::request(std::int32_t command) {
    if (!send_int(command)) return -1;
    return recv_int();
}

void index_connection::send_command(std::int32_t command) {
    send_int(command);
}

std::int32_t index_connection::text_field(const std::string& name, const std::string& value,
                                          bool stored, bool indexed, bool tokenized) {
    if (!send_int(IDX_TEXT_FIELD) || !send_string(name) || !send_string(value) ||
        !send_int(stored ? 1 : 0) || !send_int(indexed ? 1 : 0) || !send_int(tokenized ? 1 : 0))
        return -1;
    return recv_int();
}

std::int32_t index_connection::time_field(const std::string& name, std::int32_t value, bool stored,
                                          bool indexed, bool tokenized) {
    if (!send_int(IDX_TIME_FIELD) || !send_string(name) || !send_int(value) ||
        !send_int(stored ? 1 : 0) || !send_int(indexed ? 1 : 0) || !send_int(tokenized ? 1 : 0))
        return -1;
    return recv_int();
}

std::int32_t index_connection::delete_term(const std::string& value, const std::string& field) {
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
            if (connection_) {
                connection_->text_field("title", title_, true, false, false);
                connection_->text_field("", words_, false, true, true);
            }
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
    // The connection's destructor sends QUIT, closes and waits for the server to end.
    connection_.reset();
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
    if (connection_) connection_->request(IDX_FLUSH);
    restart_if_lost();
}

void idxstorage::optimize() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (connection_) connection_->request(IDX_OPTIMIZE);
    restart_if_lost();
}

void idxstorage::reset() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    stop();
    remove_directory_files("index");
    start();
    needs_rebuild_ = false;
}

void idxstorage::count_add() {
    if (++add_counter_ >= flush_every) {
        flush();
        add_counter_ = 0;
        delete_counter_ = 0;
    }
}

void idxstorage::count_delete() {
    if (++delete_counter_ >= flush_every) {
        flush();
        add_counter_ = 0;
        delete_counter_ = 0;
    }
}

void idxstorage::add_document(const std::string& guid, std::uint32_t arcid, const std::string& url,
                              const std::string& mime, std::int32_t time, std::int32_t servertime,
                              std::uint32_t score, const std::vector<std::int32_t>& views,
                              const std::string& fff) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!connection_) return;
    index_connection& c = *connection_;
    c.delete_term(guid, "guid");
    c.request(IDX_BEGIN_DOC);
    char text[32];
    c.text_field("guid", guid, true, true, false);
    std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(arcid));
    c.text_field("arcid", text, true, true, false);
    c.text_field("url", url, true, false, false);
    c.text_field("mime", mime, true, false, false);
    std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(score));
    c.text_field("score", text, true, true, false);
    c.time_field("time", round_to_hour(time), true, true, false);
    c.time_field("servertime", round_to_hour(servertime), true, false, false);
    for (std::int32_t view : views) {
        std::snprintf(text, sizeof text, "%d", view);
        c.text_field("view", text, true, true, false);
    }

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
        words_extractor extractor(&c);
        root->accept_const(extractor, 0);
    }
    root.reset();

    c.request(IDX_END_DOC);
    if (restart_if_lost()) return;
    count_add();
}

void idxstorage::remove_document(const std::string& guid) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!connection_) return;
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
    connection_->delete_term(text, "arcid");
    if (restart_if_lost()) return;
    flush();
    add_counter_ = 0;
    delete_counter_ = 0;
}

} // namespace lumbrake
