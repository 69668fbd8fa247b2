// One index-server session: reads requests from the daemon's connection in order and answers
// them. Document commands go to the store (vault-db.h); the search commands go to the query
// engine, which the search side supplies through make_query_engine (server-search.cc).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "idxstorage/idx-protocol.h"
#include "index-server/vault-db.h"
#include "index-server/vault-replies.h"

namespace siftvault {

// The search side of the server: QUERY, HIT_COUNT, SELECT_HIT, HIT_SCORE, HIT_TEXT, HIT_TIME,
// HIT_WINDOW and END_QUERY. The session decodes every request (the engine never touches the stream)
// and sends each reply. Calls come strictly in stream order; no call outlives the store, and the
// store may be reopened (OPTIMIZE) between END_QUERY and the next QUERY, so an engine keeps no
// Xapian object of the store across end_query.
class query_engine {
public:
    virtual ~query_engine() = default;
    // The QUERY reply: 0 on success. A new query replaces any unfinished one.
    virtual std::int32_t query(vault_view& db, const lumbrake::index_query& query) = 0;
    virtual std::int32_t hit_count() = 0;
    virtual std::int32_t select_hit(std::int32_t index) = 0;
    virtual std::int32_t hit_score() = 0;
    // The stored text of the current hit's field (empty when absent or no current hit); the
    // integer sent before it is the result (0, or -1 when there is no current hit).
    virtual std::int32_t hit_text(const std::string& field, std::string& text) = 0;
    virtual std::int32_t hit_time(const std::string& field) = 0;
    virtual void end_query() = 0;
    // HIT_WINDOW: the answers that HIT_COUNT and, per hit, SELECT_HIT, HIT_TEXT, HIT_TIME and
    // HIT_SCORE would give, for the hits first..last bounded as the protocol says. This one
    // asks the calls above hit by hit; an engine may gather the window at once instead.
    virtual void hit_window(const lumbrake::index_window_request& request, std::size_t max_hits,
                            lumbrake::index_window& window);
};

// The last hit of a HIT_WINDOW from `first` (already at least 0): `last`, but no hit beyond the
// total and no more than max_hits from the first. Below first when the window is empty.
std::int64_t window_last(std::int64_t first, std::int32_t last, std::int32_t total,
                         std::size_t max_hits);

// Defined by the search side (server-search.cc).
std::unique_ptr<query_engine> make_query_engine();

class session {
public:
    enum class outcome {
        next,           // served; read the next request
        quit,           // QUIT: end the process
        end,            // the stream ended between requests
        protocol_error, // short request, unknown command, or a count or length out of bounds
    };

    // The writer's session: every command. An added document and a removal are answered when
    // their shard has written them, a FLUSH when every shard committed, in request order, while
    // the session reads on; the channel must take those writes from a shard's thread while the
    // session reads (vault_channel, or a memory channel).
    session(vault_db& db, query_engine& engine, const lumbrake::idx_limits& limits = {});
    // A search connection's session: searches over the reader; the commands that change the
    // store answer -1 (their fields are read, so the stream stays in step).
    session(vault_reader& reader, query_engine& engine, const lumbrake::idx_limits& limits = {});

    // OPEN_READER's answer (the writer's session only; without it the answer is -1).
    void on_open_reader(std::function<std::int32_t()> open) { open_reader_ = std::move(open); }

    // Waits for the replies still outstanding.
    ~session();

    // Reads and answers one request (a deferred answer may follow later).
    outcome serve_one(lumbrake::idx_channel& channel);
    // Serves until QUIT, the end of the stream or a protocol error; every reply written and
    // the store committed before it returns.
    outcome serve(lumbrake::idx_channel& channel);

    // Text of the last failure (protocol error or store error), for the server's log.
    std::string last_error() const;

private:
    outcome fail(std::string why);
    void note_error(const std::string& why);
    bool reply(lumbrake::idx_channel& channel, std::int32_t value);
    bool reply_bytes(lumbrake::idx_channel& channel, const std::string& bytes);
    reply_queue& replies_for(lumbrake::idx_channel& channel);
    // Work on the store's shards that the next reply depends on.
    void settle() {
        if (db_) db_->sync();
    }
    vault_db::done_fn deferred_reply(lumbrake::idx_channel& channel);
    std::int32_t run_query(const lumbrake::index_query& query);
    void run_window(const lumbrake::index_window_request& request, lumbrake::index_window& window);
    void end_query();

    vault_db* db_;         // null on a search connection
    vault_reader* reader_; // null on the writer's connection
    vault_view& view_;
    std::function<std::int32_t()> open_reader_;
    lumbrake::index_query last_query_; // a reader's current query, run again after a reopen
    query_engine& engine_;
    lumbrake::idx_limits limits_;
    mutable std::mutex error_mutex_; // shard threads report failures too
    std::string last_error_;
    lumbrake::idx_channel* bound_ = nullptr;
    std::unique_ptr<reply_queue> replies_;
};

} // namespace siftvault
