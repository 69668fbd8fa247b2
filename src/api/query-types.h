// The records of one index search: the query elements in postfix order, per-slice weights,
// the hit record that the search fills and the query record of the API.
#pragma once

#include "api/watch.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lumbrake {

// One query element. Operators count their operands in Param (decimal); NOT takes one.
enum QueryAtomType : int {
    ATOM_WORD = 0,
    ATOM_NOT = 1,
    ATOM_AND = 2,
    ATOM_OR = 3,
    ATOM_NEAR = 4,
    ATOM_META = 5,
};

struct QueryAtom {
    QueryAtomType Type = ATOM_WORD;
    std::string Meta;
    std::string Param;
    bool operator==(const QueryAtom&) const = default;
};

// A caller's weight for one slice; it replaces the slice's default boost.
struct QuerySliceWeight {
    int32_t Slice = 0;
    int32_t Weight = 0;
    bool operator==(const QuerySliceWeight&) const = default;
};

// How much of each hit the search fills in.
enum QueryInfo : int {
    INFO_NONE = 0,
    INFO_URL = 1,
    INFO_TITLE = 2,
    INFO_CONTEXT = 3,
};

enum QueryView : int {
    VIEW_PUBLISHED = 0,
    VIEW_CORECHANGED = 1,
};

enum QuerySort : int {
    SORT_STANDARD = 0,
    SORT_RELEVANCE = 1,
    SORT_SCORE = 2,
    SORT_TIME_NEWER = 3,
    SORT_TIME_OLDER = 4,
};

// One search hit.
struct QueryResult {
    std::string ID;
    std::string Url;
    std::string Title;
    std::string MimeType;
    std::vector<std::string> Contexts; // summaries in document order
    int32_t Timestamp = 0;
    int32_t ServerTime = 0;
    int32_t Score = 0;
    std::vector<int32_t> Archives; // the document's one archive
    std::string Categories;
    bool operator==(const QueryResult&) const = default;
};

// The query record of one search (api::query, apiops/api-search.cc).
struct QuerySpec {
    std::vector<std::int32_t> Archives; // searched when neither collection nor watch names any
    std::int32_t Collection = 0;        // > 0 a collection, -1 every archive, else none
    std::int32_t Watch = 0;             // > 0 a watch: its saved query, collection, freshness
    std::int32_t FirstDoc = 0;          // window of results wanted, inclusive
    std::int32_t LastDoc = 9;
    std::int32_t MinTime = 0; // oldest document time; 0 for no bound
    std::int32_t MaxTime = 2147483647;
    std::int32_t MinScore = 0;
    std::int32_t Info = INFO_CONTEXT; // QueryInfo
    QueryView View = VIEW_PUBLISHED;
    QuerySort Sort = SORT_STANDARD;
    QueryParser Parser = NOPARSER;
    std::vector<QueryAtom> Query; // postfix; replaced or extended by the search
    std::string QueryString;      // read when Parser is RPNPARSER, ALGPARSER or NETPARSER
    std::vector<QuerySliceWeight> Weights;
    bool operator==(const QuerySpec&) const = default;
};

} // namespace lumbrake
