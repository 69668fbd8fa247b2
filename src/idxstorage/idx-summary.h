// Result summaries: the few words of a stored document around the query's words, picked
// paragraph by paragraph, and the document's categories.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "api/query-types.h"
#include "fff/FFF.h"

namespace lumbrake {

// One paragraph as a summary candidate.
struct summary_unit {
    int32_t order = 0; // place among the finished paragraphs
    double score = 0.0;
    std::vector<std::string> tokens; // words as stored; one blank token ends each sentence
    std::vector<int32_t> matches;    // token positions of query words
};

// Walks an FFF tree and turns every paragraph of counted slices into a scored candidate.
// The query-words map (folded word -> penalty) belongs to the caller and is updated.
class fffExtractor : public FFF::tXMLTree::visitor {
public:
    explicit fffExtractor(std::map<std::string, int32_t>& query_words) : words_(query_words) {}
    ~fffExtractor() override = default;
    void visit(const FFF::tXMLTree* node, int depth, bool leaving) override;

    std::vector<std::unique_ptr<summary_unit>> units; // in the order their paragraphs end
    std::string categories;

private:
    std::unique_ptr<summary_unit> current_;
    int32_t counted_runs_ = 0;
    double slice_sum_ = 0.0;
    int64_t match_score_ = 0; // wide: a long paragraph of matches must not overflow
    int32_t next_order_ = 0;
    std::map<std::string, int32_t>& words_;
};

// True for the slices whose words make up summaries.
bool is_summary_slice(int32_t slice);

// Estimated printed width of a UTF-8 text, from a fixed table of glyph widths.
double text_width(std::string_view text);

// The second half of build_contexts: with more than one distinct query word, rewards
// paragraphs whose matches stand close together; then cuts each candidate, best first, to a
// few words around its first match until their widths pass the limit, and answers the texts
// in document order. Reorders units.
void pick_contexts(std::vector<std::unique_ptr<summary_unit>>& units, std::size_t distinct_words,
                   std::vector<std::string>& contexts);

// Fills contexts (document order) and categories from a stored document and the query.
void build_contexts(const std::vector<QueryAtom>& query, const FFF::DocumentData& document,
                    std::vector<std::string>& contexts, std::string& categories);

} // namespace lumbrake
