#include "idxstorage/idx-search.h"

#include <cerrno>
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>

#include "docstorage/docstorage.h"
#include "idxstorage/idx-summary.h"
#include "idxstorage/idxstorage.h"
#include "util/codecs.h"
#include "util/log.h"
#include "util/sqlite_txn.h"
#include "fff/FFF.h"

namespace lumbrake {

namespace {

std::string decimal(std::int64_t v) {
    return std::to_string(v);
}

// A stored archive id as a number: optional blanks and sign, then digits; anything that is
// not a number, or lies outside 32 bits, gives 0.
std::int32_t parse_arcid(const std::string& text) {
    if (text.empty()) return 0;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str() || errno == ERANGE) return 0;
    if (v > std::numeric_limits<std::uint32_t>::max() ||
        v < std::numeric_limits<std::int32_t>::min())
        return 0;
    // Archive ids are indexed as unsigned decimals.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
}

// Decodes a stored FFF and, when it is a whole document, summarises it.
void summarise(const std::string& fff, const std::vector<QueryAtom>& query, QueryResult& hit) {
    FFF::tXMLTree::reader r(fff, FFF::get_kind_table());
    int status = 0;
    std::unique_ptr<FFF::tXMLTree> root(FFF::FromBinary(r, status));
    if (!root) {
        TN_LOG(LF_FFF, LL_ERROR, "Failed FFF FromBinary");
        return;
    }
    if (status != 2) {
        TN_LOG(LF_FFF, LL_ERROR, "Incomplete FFF");
        return;
    }
    const auto* doc = dynamic_cast<const FFF::DocumentData*>(root.get());
    if (!doc) {
        TN_LOG(LF_FFF, LL_ERROR, "BLOB object mismatch?");
        return;
    }
    build_contexts(query, *doc, hit.Contexts, hit.Categories);
}

} // namespace

const std::map<std::int32_t, std::int32_t>& default_slice_boosts() {
    static const std::map<std::int32_t, std::int32_t> table = {
        {1, 0}, {2, 0},  {3, 0},  {4, 0},  {5, 1},  {6, 2},  {7, 1},   {8, 3},
        {9, 3}, {10, 2}, {11, 4}, {12, 2}, {13, 6}, {14, 6}, {15, 12},
    };
    return table;
}

std::vector<index_boost> slice_boosts(const std::vector<QuerySliceWeight>& weights) {
    std::map<std::int32_t, std::int32_t> table = default_slice_boosts();
    for (const QuerySliceWeight& w : weights)
        if (w.Slice > 0) table[w.Slice] = w.Weight;
    std::vector<index_boost> boosts;
    for (const auto& [slice, boost] : table)
        if (boost > 0) boosts.push_back({slice, boost});
    return boosts;
}

void append_atom_items(const QueryAtom& atom, std::vector<index_term>& items) {
    switch (atom.Type) {
    case ATOM_WORD: {
        if (atom.Param.empty()) return;
        bool valid = true;
        std::string folded;
        utf8_case_fold(atom.Param, folded, valid);
        if (valid) items.push_back({IDX_OP_TERM, std::move(folded), ""});
        return;
    }
    case ATOM_NOT:
        items.push_back({IDX_OP_NOT, "", ""});
        return;
    case ATOM_AND:
        items.push_back({IDX_OP_AND, atom.Param, ""});
        return;
    case ATOM_OR:
        items.push_back({IDX_OP_OR, atom.Param, ""});
        return;
    case ATOM_NEAR:
        items.push_back({IDX_OP_NEAR, atom.Param, ""});
        return;
    case ATOM_META: {
        if (atom.Meta.empty() || atom.Param.empty()) return;
        bool valid = true;
        std::string folded;
        utf8_case_fold(atom.Meta + ":" + atom.Param, folded, valid);
        if (valid) items.push_back({IDX_OP_TERM, std::move(folded), ""});
        return;
    }
    }
}

void sort_order(std::int32_t sort, std::string& field, std::int32_t& reverse) {
    switch (sort) {
    case SORT_SCORE:
        field = idx_field::score;
        reverse = 1;
        break;
    case SORT_TIME_NEWER:
        field = idx_field::time;
        reverse = 1;
        break;
    case SORT_TIME_OLDER:
        field = idx_field::time;
        reverse = 0;
        break;
    default:
        field.clear();
        reverse = 0;
        break;
    }
}

index_query build_search_query(const std::vector<std::int32_t>& archives, std::int32_t min_time,
                               std::int32_t max_time, std::uint32_t min_score, std::int32_t view,
                               std::int32_t sort, const std::vector<QueryAtom>& query,
                               const std::vector<QuerySliceWeight>& weights, std::time_t now) {
    index_query q;
    q.boosts = slice_boosts(weights);

    for (std::int32_t arcid : archives)
        q.items.push_back(
            {IDX_OP_TERM, decimal(static_cast<std::uint32_t>(arcid)), idx_field::arcid});
    if (archives.size() > 1)
        q.items.push_back({IDX_OP_OR, decimal(static_cast<std::int64_t>(archives.size())), ""});
    q.items.push_back({IDX_OP_TERM, decimal(view), idx_field::view});
    for (const QueryAtom& atom : query)
        append_atom_items(atom, q.items);
    q.items.push_back({IDX_OP_AND, query.empty() ? "2" : "3", ""});

    sort_order(sort, q.sort_field, q.reverse);

    if (min_score != 0) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%08" PRIx32, min_score);
        q.min_score = buf;
    }
    q.score_field = idx_field::score;

    if (min_time == 0 && (max_time == 0 || static_cast<std::time_t>(max_time) >= now)) {
        q.time_field.clear();
        q.min_time = 0;
        q.max_time = 0;
    } else {
        q.time_field = idx_field::time;
        q.min_time = min_time;
        q.max_time = max_time;
    }
    return q;
}

bool query_fits(const index_query& query, const idx_limits& limits) {
    if (query.items.size() > limits.max_items || query.boosts.size() > limits.max_boosts)
        return false;
    for (const index_term& item : query.items)
        if (item.value.size() > limits.max_string || item.field.size() > limits.max_name)
            return false;
    return query.time_field.size() <= limits.max_name &&
           query.sort_field.size() <= limits.max_name &&
           query.score_field.size() <= limits.max_name && query.min_score.size() <= limits.max_name;
}

index_query build_search_query(const search_request& request, std::time_t now) {
    return build_search_query(request.archives, request.min_time, request.max_time,
                              request.min_score, request.view, request.sort, request.query,
                              request.weights, now);
}

namespace {

// Which stored fields a hit of each information level carries.
bool wants_url(std::int32_t info) {
    return info >= INFO_URL && info <= INFO_CONTEXT;
}
bool wants_title(std::int32_t info) {
    return info == INFO_TITLE || info == INFO_CONTEXT;
}

} // namespace

index_window_request window_request(const search_request& request) {
    index_window_request w;
    w.first = request.first;
    // No more than max_result_window hits from the first one (64-bit: no wrap near the ends).
    w.last = static_cast<std::int32_t>(std::min<std::int64_t>(
        request.last, std::max<std::int64_t>(request.first, 0) + max_result_window - 1));
    w.texts.push_back(idx_field::guid);
    if (wants_url(request.info)) w.texts.push_back(idx_field::url);
    if (wants_title(request.info)) {
        w.texts.push_back(idx_field::title);
        w.texts.push_back(idx_field::mime);
    }
    w.texts.push_back(idx_field::arcid);
    w.times = {idx_field::time, idx_field::servertime};
    return w;
}

QueryResult hit_of(const search_request& request, const index_window_hit& entry) {
    QueryResult hit;
    std::size_t t = 0;
    auto next_text = [&]() -> std::string {
        return t < entry.texts.size() ? entry.texts[t++] : std::string();
    };
    hit.ID = next_text();
    if (wants_url(request.info)) hit.Url = next_text();
    if (wants_title(request.info)) {
        hit.Title = next_text();
        hit.MimeType = next_text();
    }
    const std::string arcid = next_text();
    hit.Timestamp = entry.times.size() > 0 ? entry.times[0] : -1;
    hit.ServerTime = entry.times.size() > 1 ? entry.times[1] : -1;
    hit.Score = entry.score;
    hit.Archives.push_back(parse_arcid(arcid));
    return hit;
}

bool index_link::send_window_request(const index_window_request& request) {
    idx_buffered_channel* ch = channel();
    if (ch && !write_window_request(*ch, request)) broken_ = true;
    return !broken_;
}

bool index_link::recv_window(const index_window_request& request, index_window& window) {
    window = index_window{};
    if (!drain_replies()) return false;
    idx_buffered_channel* ch = channel();
    if (!ch) return false;
    idx_limits limits;
    limits.max_string = socket_ipc::max_string_length;
    if (!read_window(*ch, request, window, limits)) {
        broken_ = true;
        return false;
    }
    return true;
}

// The server bounds a window by its own limit; a search never asks for more.
static_assert(max_result_window <= static_cast<std::int32_t>(idx_limits{}.max_window));

std::int32_t idxstorage::search(const search_request& request, std::vector<QueryResult>& results,
                                sqlite3* db, docstorage& docs) {
    results.clear();
    if (request.archives.empty()) return -1;
    std::int32_t n = search_hits(request, results);
    if (request.info == INFO_CONTEXT && db && !results.empty()) {
        // The index may show a document whose writer has not committed it yet (writers change
        // the index inside their storage transaction): once they are through, a fresh snapshot
        // holds every document that the hits name.
        wait_for_storage_writers();
        storage_snapshot snapshot(db);
        std::string fff;
        for (QueryResult& hit : results) {
            if (hit.ID.empty()) continue;
            // Only the FFF: headers and content are not inflated for a summary.
            if (docs.load_fff(db, hit.ID, fff)) summarise(fff, request.query, hit);
        }
    }
    return n;
}

namespace {

// The query, its window and its end leave in one send and their replies come back in one
// piece: one round trip for the whole window, whatever its size. The window's reply is read
// even after a refused query, so that the stream stays in step. False when the query failed;
// once the connection has failed, the hits read whole before it are kept and the rest is
// missing, as the server's reply would have had them.
bool run_search(index_link& c, const search_request& request, const index_query& q,
                std::vector<QueryResult>& results, std::int32_t& total) {
    const index_window_request wanted = window_request(request);
    std::int32_t reply = -1;
    index_window window;
    if (c.send_int(IDX_QUERY) && c.send_query(q) && c.send_int(IDX_HIT_WINDOW) &&
        c.send_window_request(wanted) && c.send_int(IDX_END_QUERY)) {
        reply = c.recv_int();
        c.recv_window(wanted, window);
    }
    if (reply != 0) return false;
    results.reserve(window.hits.size());
    for (const index_window_hit& entry : window.hits)
        results.push_back(hit_of(request, entry));
    total = window.total;
    return true;
}

} // namespace

std::unique_ptr<search_connection> idxstorage::borrow_reader() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    restart_if_lost();
    if (!connection_) return nullptr;
    {
        std::lock_guard<std::mutex> pool(pool_mutex_);
        if (pool_refused_) return nullptr;
    }
    note_flush_reply();
    if (uncommitted_ && flush_behind_reply_) {
        // A FLUSH is on its way with nothing sent after it: a search on the writer's connection
        // would wait for its reply anyway; read it, and on success take a search connection.
        if (!connection_->drain_replies()) return nullptr; // the search restarts the server
        note_flush_reply();
    }
    if (uncommitted_) {
        // A reader would miss what was sent since the last commit. Once the changes have
        // stopped for a while (a bulk load or crawl that ended), commit them, so that the
        // searches after this one run side by side until the next change.
        const auto now = std::chrono::steady_clock::now();
        if (now - last_change_ < quiet_commit_after) return nullptr;
        if (last_quiet_commit_ && now - *last_quiet_commit_ < quiet_commit_interval) return nullptr;
        last_quiet_commit_ = now;
        flush();
        if (uncommitted_ || !connection_) return nullptr;
    }
    // Requests still on their way over the writer's connection (sent by another path than
    // the changes counted above) are seen only there.
    if (!connection_->settled()) return nullptr;
    {
        std::lock_guard<std::mutex> pool(pool_mutex_);
        if (!idle_.empty()) {
            std::unique_ptr<search_connection> reader = std::move(idle_.back());
            idle_.pop_back();
            ++pool_lent_;
            return reader;
        }
        // All lent: this search takes the writer's connection rather than wait.
        if (pool_open_ >= pool_limit_) return nullptr;
    }
    std::unique_ptr<search_connection> reader = search_connection::open(*connection_);
    std::lock_guard<std::mutex> pool(pool_mutex_);
    if (!reader) {
        pool_refused_ = true;
        return nullptr;
    }
    ++pool_open_;
    ++pool_lent_;
    return reader;
}

void idxstorage::give_back(std::unique_ptr<search_connection> reader) {
    {
        std::lock_guard<std::mutex> pool(pool_mutex_);
        if (reader && !reader->broken()) {
            idle_.push_back(std::move(reader));
        } else {
            --pool_open_;
        }
        --pool_lent_;
    }
    pool_returned_.notify_all();
    reader.reset(); // a broken one closes outside the pool's lock
}

std::int32_t idxstorage::search_hits(const search_request& request,
                                     std::vector<QueryResult>& results) {
    index_query q = build_search_query(request, now());
    if (!query_fits(q)) {
        TN_LOG(LF_API, LL_ERROR,
               "Query too large for the index server: " << q.items.size() << " items, "
                                                        << q.boosts.size() << " boosts");
        return -1;
    }
    std::int32_t total = -1;
    if (std::unique_ptr<search_connection> reader = borrow_reader()) {
        const bool ok = run_search(*reader, request, q, results, total);
        const bool broken = reader->broken();
        give_back(std::move(reader));
        if (ok) return total;
        // A refused query is refused on either connection; a lost reader (a server that was
        // killed) leaves the search to the writer's connection, which restarts the server.
        if (!broken) return -1;
        results.clear();
    }

    std::lock_guard<std::recursive_mutex> lock(mutex_);
    restart_if_lost();
    index_connection* c = connection_.get();
    if (!c) return -1;
    if (!run_search(*c, request, q, results, total)) {
        restart_if_lost();
        return -1;
    }
    return total;
}

} // namespace lumbrake
