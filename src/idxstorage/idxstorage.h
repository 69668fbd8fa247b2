// The daemon's client of the index server siftvault: starts it as a child over a loopback
// connection, feeds it documents (identity fields, views, title and word stream) and removes
// them, flushes, optimises, resets and searches.
//
// The writer's connection has a lock of its own (the index lock), held for each command, so
// commands of different threads never interleave: writers call it inside their storage
// transaction (storage lock first, then the index lock), searches without the storage lock, so
// they do not wait for a crawl step's whole transaction; the crawl sends a stored page after its
// storing transaction. Nothing waits for the storage lock while it holds the index lock.
// While every change sent is committed, a search takes the index lock only to borrow one of a
// few search connections and runs beside the others; while changes are pending it runs over
// the writer's connection under the index lock, so that it sees them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "idxstorage/idx-protocol.h"
#include "idxstorage/idx-search.h"
#include "api/query-types.h"
#include "ipc/socket_ipc.h"
#include "util/config.h"
#include "fff/tXMLTree.h"

struct sqlite3;

namespace lumbrake {

class docstorage;

namespace idx_detail {
// Holds the configuration that the proxy base refers to, so that it outlives the proxy.
struct config_holder {
    config cfg;
};
} // namespace idx_detail

// One connection to the index server and the protocol spoken over it. Sends and replies never
// throw: after the first failed transfer the connection is broken and every later command is
// skipped, its reply -1 (the stream could not be resynchronised anyway, and a half-sent
// request must not leave the daemon waiting for a reply that cannot come).
class index_link {
public:
    index_link() = default;
    virtual ~index_link() = default;
    index_link(const index_link&) = delete;
    index_link& operator=(const index_link&) = delete;

    bool broken() const { return broken_; }

    // Raw fields, collected until the next reply is read (or flush_sends), then sent in one
    // piece; false (and broken from then on) when the transfer fails.
    bool send_int(std::int32_t value);
    bool send_string(const std::string& value);
    bool send_items(const std::vector<index_term>& items);
    bool send_query(const index_query& query);
    // Bytes already in the protocol's form (prepared requests).
    bool send_raw(const std::string& bytes);
    bool flush_sends();
    // The reply integer, or -1 when it cannot be read.
    std::int32_t recv_int();
    // The reply text; false (target unchanged) when it cannot be read.
    bool recv_string(std::string& value);

    // HIT_WINDOW's request and its reply (idx-search.cc); the reply false (and broken) when
    // it cannot be read whole.
    bool send_window_request(const index_window_request& request);
    bool recv_window(const index_window_request& request, index_window& window);

    // Replies that the next read skips first: requests whose answers nobody waits for. The
    // number of the first of them among all replies ever skipped on this connection.
    std::uint64_t leave_replies(std::int32_t count);
    // Keeps the value of the skipped reply of that number when it is read (one at a time: a
    // later call replaces an earlier one).
    void keep_reply(std::uint64_t number);
    // The kept reply's value once it has been read; empty before, or for another number.
    std::optional<std::int32_t> kept_reply(std::uint64_t number) const;
    // Reads the skipped replies now, all of them or until at most `keep` are left unread;
    // false (and broken) when they cannot be read.
    bool drain_replies(std::int32_t keep = 0);
    std::int32_t unread_replies() const { return unread_replies_; }
    // Nothing collected to send and no reply left unread: the server has answered everything
    // this connection asked.
    bool settled() const { return unread_replies_ == 0 && channel_.pending() == 0; }

    // A command without fields and its integer reply (-1 when it fails).
    std::int32_t request(std::int32_t command);
    // A command without fields and without reply (QUIT, END_QUERY).
    void send_command(std::int32_t command);
    std::int32_t text_field(const std::string& name, const std::string& value, bool stored,
                            bool indexed, bool tokenized);
    std::int32_t time_field(const std::string& name, std::int32_t value, bool stored, bool indexed,
                            bool tokenized);
    // DELETE with one TERM item.
    std::int32_t delete_term(const std::string& value, const std::string& field);

protected:
    // The connected socket, or -1.
    virtual int link_socket() const = 0;
    // Clears the broken state for a fresh socket.
    void relink();
    // Null (and broken) without a usable connection.
    idx_buffered_channel* channel();

private:
    bool broken_ = false;
    std::int32_t unread_replies_ = 0;
    std::uint64_t skipped_read_ = 0; // skipped replies read since the connection began
    std::optional<std::uint64_t> kept_number_;
    std::optional<std::int32_t> kept_value_;
    idx_buffered_channel channel_{-1};
};

// The connection to one running index server that the server was started with: the writer's
// connection, which every change and, while changes are uncommitted, every search takes.
class index_connection : private idx_detail::config_holder,
                         public socket_ipc::server_proxy,
                         public index_link {
public:
    // Reads the configuration file afresh (LUMBRAKE_CONFIG_FILE); starts nothing.
    index_connection();
    // Sends QUIT when connected, then closes the sockets and waits for the server to end.
    ~index_connection() override;

    // Listens, starts DEPLOYDIR/bin/siftvault <port> with the LUCENE_* settings of the
    // configuration file in its environment, and accepts its connection. False with the text.
    bool start_index_server(std::string& error);

protected:
    void child_environment(std::map<std::string, std::string>& environment) const override;
    int link_socket() const override { return socket(); }
};

// A search connection of the same server (OPEN_READER): searches over the index as last
// committed, side by side with the writer's connection and with one another.
class search_connection : public index_link {
public:
    explicit search_connection(int sock);
    // Sends QUIT, closes the socket.
    ~search_connection() override;

    // OPEN_READER over the writer's connection, then the server's connection back on the
    // writer's listening socket (told from any other caller by the port the server answered).
    // Null when the server refuses or the connection does not come.
    static std::unique_ptr<search_connection> open(index_connection& writer);

protected:
    int link_socket() const override { return sock_; }

private:
    int sock_;
};

// The child's environment: the daemon's own with LUCENE_MERGEFACTOR, LUCENE_MINMERGEDOCS,
// LUCENE_MAXMERGEDOCS and LUCENE_MAXFIELDLENGTH set from the configuration keys MERGEFACTOR,
// MINMERGEDOCS, MAXMERGEDOCS and MAXFIELDLENGTH that the file holds (empty values too).
void index_server_environment(const config& cfg, std::map<std::string, std::string>& environment);

// Builds a document's title and word stream from its FFF tree and hands both to the sink
// (the last two fields of the document) when it leaves the root.
class words_extractor : public FFF::tXMLTree::visitor {
public:
    using sink_fn = std::function<void(const std::string& title, const std::string& words)>;
    explicit words_extractor(sink_fn sink) : sink_(std::move(sink)) {}
    ~words_extractor() override = default;
    void visit(const FFF::tXMLTree* node, int depth, bool leaving) override;

    const std::string& title() const { return title_; }
    const std::string& words() const { return words_; }

private:
    void append_token(const std::string& word, std::int32_t slice);

    sink_fn sink_;
    std::string title_;
    std::string words_;
};

// A document in the protocol's form but for its views: the DELETE of its guid, BEGIN_DOC and
// its identity fields (head); title and word stream from its FFF, and END_DOC (tail). Made
// without the connection, so the caller need not hold the index while the FFF is read.
struct index_document {
    std::string head, tail;
    std::int32_t requests = 0; // replies to head and tail
};
index_document prepare_document(const std::string& guid, std::uint32_t arcid,
                                const std::string& url, const std::string& mime, std::int32_t time,
                                std::int32_t servertime, std::uint32_t score,
                                const std::string& fff);

// Words longer than this after case folding are left out of the word stream.
inline constexpr std::size_t max_indexed_word = 64;
// The most hits one search fetches, from its first one on.
inline constexpr std::int32_t max_result_window = 1000;
// The add and delete counters flush (commit) the index when they reach this. A commit costs
// the index server far more than a document, so it comes seldom: between commits the
// scheduler's FlushLatency flush bounds the time, and what a killed server or daemon had not
// committed is rebuilt from the document store (restart_if_lost, the index.open marker). The
// counters' FLUSH is not waited for: its reply is read in turn with the adds' replies.
inline constexpr std::int32_t flush_every = 1000;
// The most replies of added documents (and of a FLUSH among them) left unread, about 13 per
// document: the index server works on the next documents while the crawl goes on, and goes on
// taking them while its shards commit (25-170 ms at 1,000-1,500 documents/s: up to about 250
// documents, 3,300 replies); then the crawl waits here. The replies are 4 bytes each: 32 KiB
// left unread at most, well inside the writer's connection's buffers (idx_writer_socket_buffer
// each way), so the server's replies never block it while the daemon is sending.
inline constexpr std::int32_t max_unread_add_replies = 8192;
static_assert(std::int64_t{max_unread_add_replies} * 4 * 4 <= idx_writer_socket_buffer,
              "unread replies must fit the writer's socket buffers with room to spare");
// A search finding changes uncommitted for this long with none sent since commits them, so
// that it and the searches after it can take the search connections; at most once per
// quiet_commit_interval, so that a slow crawl (a page now and then, searches between) does
// not pay a commit per page.
inline constexpr std::chrono::milliseconds quiet_commit_after{1000};
inline constexpr std::chrono::seconds quiet_commit_interval{10};

class idxstorage {
public:
    // Seconds since 1970 UTC, for the search's time window; tests pass their own clock.
    using clock_fn = std::function<std::int64_t()>;

    // Starts the index server; a failure is logged and ends the process with exit status 1.
    explicit idxstorage(clock_fn clock = {});
    // QUIT, then waits for the server to end (it is never killed).
    ~idxstorage();
    idxstorage(const idxstorage&) = delete;
    idxstorage& operator=(const idxstorage&) = delete;

    void flush();
    void optimize();
    // Stops the server, deletes the files of the directory "index" (relative to the working
    // directory) and of its shard folders, the folders themselves, and starts the server again.
    void reset();

    void add_document(const std::string& guid, std::uint32_t arcid, const std::string& url,
                      const std::string& mime, std::int32_t time, std::int32_t servertime,
                      std::uint32_t score, const std::vector<std::int32_t>& views,
                      const std::string& fff);
    // add_document in two steps: the document prepared beforehand, then sent with its views
    // in one piece.
    void add_prepared(const index_document& document, const std::vector<std::int32_t>& views);
    void remove_document(const std::string& guid);
    void remove_archive(std::int32_t arcid);

    // Runs one query and fills the hits of the window first..last (idx-search.cc). The total
    // number of hits, or -1. The summaries (info level 3) are read from db after the index lock
    // is released, in a snapshot that holds every document the index showed.
    std::int32_t search(const search_request& request, std::vector<QueryResult>& results,
                        sqlite3* db, docstorage& docs);

    // When the server has died or its connection broke: logs it and starts a new server,
    // whose index then needs a rebuild from the document store. True when it did.
    bool restart_if_lost();
    // Set when a lost server was replaced; cleared by reset (the rebuild's first step).
    bool needs_rebuild() const { return needs_rebuild_; }
    // Holds the index lock until the returned lock ends, so that no search sees the index
    // between the steps of a longer change (a rebuild).
    std::unique_lock<std::recursive_mutex> hold() {
        return std::unique_lock<std::recursive_mutex>(mutex_);
    }

    // The running connection (null only between a failed allocation and the next start).
    index_connection* connection() { return connection_.get(); }
    // A commit asked for without waiting for it (the scheduler's FlushLatency flush): the
    // crawl threads, which add under the same lock, do not stall behind it. Sends nothing when
    // every change is committed or a FLUSH sent after the last change is still unanswered.
    void flush_without_waiting();
    // True while every change sent to the server is committed: searches may then take a
    // search connection, which sees the index as last committed. A FLUSH sent without waiting
    // counts once its reply 0 has been read, and only when nothing changed after it.
    bool committed();
    // Search connections open now, and the most that are kept (about one per core).
    std::size_t search_connections() const;
    std::size_t max_search_connections() const { return pool_limit_; }
    std::int32_t add_counter() const { return add_counter_; }
    std::int32_t delete_counter() const { return delete_counter_; }

private:
    // The index part of search: the query and the window's hits in one round trip, over a
    // search connection when the index is committed, else over the writer's under the index
    // lock.
    std::int32_t search_hits(const search_request& request, std::vector<QueryResult>& results);
    // A search connection for one search (null: take the writer's), and its return.
    std::unique_ptr<search_connection> borrow_reader();
    void give_back(std::unique_ptr<search_connection> reader);
    // A change goes out on the writer's connection; a commit that succeeded.
    void changed();
    void commit_reply(std::int32_t reply);
    // FLUSH without waiting: the crawl goes on while the server commits.
    void flush_behind();
    // The reply of that FLUSH, once read: with nothing changed since, all is committed.
    void note_flush_reply();
    void start();
    void stop();
    void count_add();
    void count_delete();
    std::int64_t now() const;

    clock_fn clock_;
    // Recursive: commands call one another (a full counter flushes, a failure restarts).
    std::recursive_mutex mutex_;
    std::unique_ptr<index_connection> connection_;
    std::int32_t add_counter_ = 0;
    std::int32_t delete_counter_ = 0;
    std::atomic<bool> needs_rebuild_ = false;
    // Under the index lock: changes sent since the last commit, and when the last one went.
    bool uncommitted_ = false;
    // The skipped reply of a FLUSH sent without waiting, while nothing changed after it.
    std::optional<std::uint64_t> flush_behind_reply_;
    std::chrono::steady_clock::time_point last_change_{};
    std::optional<std::chrono::steady_clock::time_point> last_quiet_commit_;

    // The search connections. The index lock opens them and closes them (stop waits until
    // none is lent); pool_mutex_ guards the idle list and the counts, and is never held while
    // waiting for the server.
    mutable std::mutex pool_mutex_;
    std::condition_variable pool_returned_;
    std::vector<std::unique_ptr<search_connection>> idle_;
    std::size_t pool_open_ = 0;
    std::size_t pool_lent_ = 0;
    std::size_t pool_limit_ = 0;
    bool pool_refused_ = false; // this server opens none (an older or in-memory one)
};

// Unlinks every entry of the directory (not descending; entries that cannot be unlinked stay),
// then removes the directory when it is empty. Nothing happens when it is not a directory.
void remove_directory_files(const std::string& path);

// The stub file of a sharded index folder: what Xapian opens for the folder, one line
// "auto NAME" per shard folder.
inline constexpr const char* index_stub_name = "XAPIANDB";
// The shard folders the stub of an index folder names, in order, as written (empty when there
// is no stub or it cannot be read).
std::vector<std::string> index_shard_names(const std::string& folder);

// The index server's folder: the files of each shard folder that its stub file XAPIANDB names,
// then remove_directory_files of the folder itself.
void remove_index_folder(const std::string& path);

// Whole hours: value - value % 3600, the remainder truncating toward zero.
std::int32_t round_to_hour(std::int32_t seconds);

} // namespace lumbrake
