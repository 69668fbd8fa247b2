// Building the index query of one search: the archive and view restriction around the user's
// query elements, the slice boosts, the time and score limits and the sort order.
// idxstorage::search (idxstorage.h) sends it and collects the hits.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "idxstorage/idx-protocol.h"
#include "api/query-types.h"

namespace lumbrake {

// Index field names of a document (stored, matched, sorted on).
namespace idx_field {
inline constexpr const char* guid = "guid";
inline constexpr const char* arcid = "arcid";
inline constexpr const char* url = "url";
inline constexpr const char* mime = "mime";
inline constexpr const char* score = "score";
inline constexpr const char* time = "time";
inline constexpr const char* servertime = "servertime";
inline constexpr const char* view = "view";
inline constexpr const char* title = "title";
} // namespace idx_field

// One search as idxstorage::search runs it.
struct search_request {
    std::vector<std::int32_t> archives; // at least one, else the search fails
    std::int32_t first = 0;             // window of hits wanted, inclusive, numbered from 0
    std::int32_t last = 9;
    std::int32_t min_time = 0; // 0: no lower bound
    std::int32_t max_time = 0; // 0, or one not before now: no upper bound
    std::uint32_t min_score = 0;
    std::int32_t info = INFO_NONE; // QueryInfo: which fields of each hit are filled
    std::int32_t view = VIEW_PUBLISHED;
    std::int32_t sort = SORT_STANDARD;
    std::vector<QueryAtom> query; // postfix
    std::vector<QuerySliceWeight> weights;
};

// The default boost of every slice 1 to 15 (0 for the slices that weigh nothing extra).
const std::map<std::int32_t, std::int32_t>& default_slice_boosts();

// The boosts after the caller's weights: a weight for a slice above 0 replaces its boost
// (later weights win, new slices are added); only boosts above 0 are listed, by slice.
std::vector<index_boost> slice_boosts(const std::vector<QuerySliceWeight>& weights);

// The index items of one query element (none for an element that maps to nothing).
void append_atom_items(const QueryAtom& atom, std::vector<index_term>& items);

// Sort field and reverse flag of a sort mode.
void sort_order(std::int32_t sort, std::string& field, std::int32_t& reverse);

// The whole QUERY request: (archive 1 OR ... OR archive n) AND view AND (the query).
// `now` decides whether a maximum time restricts anything. The archive list must not be empty.
index_query build_search_query(const std::vector<std::int32_t>& archives, std::int32_t min_time,
                               std::int32_t max_time, std::uint32_t min_score, std::int32_t view,
                               std::int32_t sort, const std::vector<QueryAtom>& query,
                               const std::vector<QuerySliceWeight>& weights, std::time_t now);

index_query build_search_query(const search_request& request, std::time_t now);

// The HIT_WINDOW request of a search's window (the fields its information level needs), and
// the hit that a reply entry to it describes.
index_window_request window_request(const search_request& request);
QueryResult hit_of(const search_request& request, const index_window_hit& entry);

// True when the index server accepts the request: more items or boosts, or longer texts, than
// it reads make it drop the connection, and with it the index for every later caller.
bool query_fits(const index_query& query, const idx_limits& limits = {});

} // namespace lumbrake
