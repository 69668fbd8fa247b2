// The records of one index search: the query elements in postfix order, per-slice weights,
// and the hit record that the search fills.
#pragma once

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

} // namespace lumbrake
