#include "idxstorage/idx-search.h"

#include <cerrno>
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

std::int32_t idxstorage::search(const std::vector<std::int32_t>& archives, std::int32_t first,
                                std::int32_t last, std::int32_t min_time, std::int32_t max_time,
                                std::uint32_t min_score, std::int32_t info, std::int32_t view,
                                std::int32_t sort, const std::vector<QueryAtom>& query,
                                const std::vector<QuerySliceWeight>& weights,
                                std::vector<QueryResult>& results, sqlite3* db, docstorage& docs) {
    results.clear();
    if (archives.empty()) return -1;
    std::int32_t n = search_hits(archives, first, last, min_time, max_time, min_score, info, view,
                                 sort, query, weights, results);
    if (info == INFO_CONTEXT && db && !results.empty()) {
        // The index may show a document whose writer has not committed it yet (writers change
        // the index inside their storage transaction): once they are through, a fresh snapshot
        // holds every document that the hits name.
        wait_for_storage_writers();
        storage_snapshot snapshot(db);
        for (QueryResult& hit : results) {
            if (hit.ID.empty()) continue;
            stored_version doc;
            if (docs.load(db, hit.ID, doc)) summarise(doc.fff, query, hit);
        }
    }
    return n;
}

std::int32_t idxstorage::search_hits(const std::vector<std::int32_t>& archives,
                                     std::int32_t first, std::int32_t last, std::int32_t min_time,
                                     std::int32_t max_time, std::uint32_t min_score,
                                     std::int32_t info, std::int32_t view, std::int32_t sort,
                                     const std::vector<QueryAtom>& query,
                                     const std::vector<QuerySliceWeight>& weights,
                                     std::vector<QueryResult>& results) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    restart_if_lost();
    index_connection* c = connection_.get();
    if (!c) return -1;

    index_query q = build_search_query(archives, min_time, max_time, min_score, view, sort, query,
                                       weights, now());
    if (!query_fits(q)) {
        TN_LOG(LF_API, LL_ERROR,
               "Query too large for the index server: " << q.items.size() << " items, "
                                                        << q.boosts.size() << " boosts");
        return -1;
    }
    std::int32_t reply = -1;
    if (c->send_int(IDX_QUERY) && c->send_query(q)) reply = c->recv_int();
    if (reply != 0) {
        c->send_command(IDX_END_QUERY);
        restart_if_lost();
        return -1;
    }

    std::int32_t n = c->request(IDX_HIT_COUNT);
    if (n > 0 && first < n) {
        // Every hit of the window is fetched under the index lock: one request cannot ask for
        // all of them.
        std::int32_t end = static_cast<std::int32_t>(std::min<std::int64_t>(
            {last, n - 1, std::max<std::int64_t>(first, 0) + max_result_window - 1}));
        auto text = [c](const char* field) {
            std::string value;
            if (c->send_int(IDX_HIT_TEXT) && c->send_string(field)) {
                c->recv_int(); // ignored
                c->recv_string(value);
            }
            return value;
        };
        auto time_of = [c](const char* field) -> std::int32_t {
            if (c->send_int(IDX_HIT_TIME) && c->send_string(field)) return c->recv_int();
            return -1;
        };
        // Hits are numbered from 0: a negative first would only ask for hits that do not
        // exist, and one near the lowest integer for billions of them. The index is 64-bit so
        // that a window ending at the largest index cannot wrap.
        for (std::int64_t i = std::max<std::int32_t>(first, 0); i <= end; ++i) {
            if (c->send_int(IDX_SELECT_HIT) && c->send_int(static_cast<std::int32_t>(i)))
                c->recv_int(); // ignored
            QueryResult hit;
            hit.ID = text(idx_field::guid);
            if (info >= INFO_URL && info <= INFO_CONTEXT) hit.Url = text(idx_field::url);
            if (info == INFO_TITLE || info == INFO_CONTEXT) {
                hit.Title = text(idx_field::title);
                hit.MimeType = text(idx_field::mime);
            }
            hit.Timestamp = time_of(idx_field::time);
            hit.ServerTime = time_of(idx_field::servertime);
            hit.Score = c->request(IDX_HIT_SCORE);
            hit.Archives.push_back(parse_arcid(text(idx_field::arcid)));
            // Once the connection has failed every later field reads as empty or -1: such a
            // hit is no hit, and neither is any after it.
            if (c->broken()) break;
            results.push_back(std::move(hit));
        }
    }
    c->send_command(IDX_END_QUERY);
    return n;
}

} // namespace lumbrake
