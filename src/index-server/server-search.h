// The index server's search side: turns the postfix items of a QUERY into one Xapian query
// (boolean and proximity operators, field terms, slice boosts, time and score limits) and
// serves the hits of the current query one at a time.
#pragma once

#include <xapian.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "idxstorage/idx-protocol.h"
#include "index-server/vault-db.h"

namespace siftvault {

// Bounds on one query. A list beyond them is refused (the QUERY reply is not 0) instead of
// being built into a tree that Xapian would walk recursively or weigh slowly.
struct search_limits {
    // Nesting of operators after chains of one operator are flattened (a AND b AND c is one
    // level) and double negations cancelled.
    std::size_t max_depth = 256;
    // Distinct word-stream words, each of which is looked up in every boosted slice.
    std::size_t max_words = 1000;
};

// QUERY replies other than 0.
enum : std::int32_t {
    QUERY_MALFORMED = 1, // the postfix list does not describe exactly one expression
    QUERY_TOO_COMPLEX = 2,
    QUERY_FAILED = 3, // the store could not run it
};

// How close the words of a NEAR group must stand: within this many positions of each other,
// in any order, plus the group's own size (so a two-word group allows one word between them).
inline constexpr unsigned near_slack = 1;

// Builds the whole query: items, boosts, the time range and the minimum score. Answers 0 and
// sets out, or one of the codes above with a reason in error.
std::int32_t build_search(vault_view& db, const lumbrake::index_query& query, Xapian::Query& out,
                          std::string& error, const search_limits& limits = {});

// Converts a Xapian weight to the integer that HIT_SCORE answers (thousandths, clamped).
std::int32_t score_of_weight(double weight);

} // namespace siftvault
