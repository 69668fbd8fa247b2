#include "idxstorage/idx-summary.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "util/codecs.h"

namespace lumbrake {

namespace {

// Glyph widths of the code points 32 to 126; every other code point counts 0.65.
constexpr double glyph_widths[95] = {
    0.31, 0.34, 0.45, 0.69, 0.69, 1.13, 0.87, 0.21, // 32
    0.42, 0.42, 0.55, 0.73, 0.31, 0.41, 0.31, 0.31, // 40
    0.69, 0.69, 0.69, 0.69, 0.69, 0.69, 0.69, 0.69, // 48
    0.69, 0.69, 0.31, 0.31, 0.73, 0.73, 0.73, 0.64, // 56
    1.21, 0.86, 0.82, 0.88, 0.93, 0.79, 0.72, 0.94, // 64
    0.93, 0.33, 0.58, 0.85, 0.71, 1.06, 0.92, 0.92, // 72
    0.78, 0.92, 0.88, 0.79, 0.71, 0.93, 0.85, 1.13, // 80
    0.85, 0.85, 0.72, 0.33, 0.31, 0.33, 0.62, 0.68, // 88
    0.41, 0.64, 0.68, 0.58, 0.68, 0.64, 0.34, 0.68, // 96
    0.68, 0.31, 0.31, 0.62, 0.31, 1.0,  0.68, 0.68, // 104
    0.68, 0.68, 0.41, 0.58, 0.31, 0.68, 0.62, 0.94, // 112
    0.62, 0.62, 0.58, 0.47, 0.26, 0.47, 0.69,       // 120
};
constexpr double other_glyph_width = 0.65;

// Summaries start this many tokens before the first match, hold at most this many tokens
// before a word ends them, and are picked until their widths pass the limit.
constexpr int32_t lead_tokens = 5;
constexpr std::size_t max_tokens = 12;
constexpr double width_limit = 100.0;

constexpr int32_t penalty_step = 31;

bool is_word(const std::string& token) {
    return utf8_is_alnum(token);
}

} // namespace

bool is_summary_slice(int32_t slice) {
    switch (slice) {
    case FFF::marginalNormDict:
    case FFF::marginalEmphDict:
    case FFF::marginalLinkDict:
    case FFF::marginalHeaderDict:
    case FFF::centralNormDict:
    case FFF::centralEmphDict:
    case FFF::centralLinkDict:
    case FFF::centralHeaderDict:
        return true;
    default:
        return false;
    }
}

double text_width(std::string_view text) {
    double width = 0.0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '\0') { // the decoder stops at a NUL; count it and step over it
            width += other_glyph_width;
            ++i;
            continue;
        }
        bool valid = true;
        std::size_t before = i;
        code_point c = utf8_decode_next(text, i, valid);
        if (i == before) // cannot happen short of a NUL, but never loop on the spot
            ++i;
        if (valid && c >= 32 && c <= 126)
            width += glyph_widths[c - 32];
        else
            width += other_glyph_width;
    }
    return width;
}

void fffExtractor::visit(const FFF::tXMLTree* node, int /*depth*/, bool leaving) {
    if (const auto* low = dynamic_cast<const FFF::Low*>(node)) {
        if (leaving || !current_ || !is_summary_slice(low->dictid)) return;
        const int32_t s = low->dictid;
        counted_runs_ += 1;
        slice_sum_ += s;
        std::string folded;
        for (const std::string& word : low->words) {
            bool valid = true;
            utf8_case_fold(word, folded, valid);
            if (!valid) continue;
            auto it = words_.find(folded);
            if (it != words_.end()) {
                current_->matches.push_back(static_cast<int32_t>(std::min<std::size_t>(
                    current_->tokens.size(), std::numeric_limits<int32_t>::max())));
                match_score_ += int64_t{s} * 1000 - it->second;
                if (it->second <= std::numeric_limits<int32_t>::max() - penalty_step)
                    it->second += penalty_step;
            }
            current_->tokens.push_back(word);
        }
        return;
    }
    if (dynamic_cast<const FFF::S*>(node)) {
        if (leaving && current_) current_->tokens.emplace_back(" ");
        return;
    }
    if (dynamic_cast<const FFF::P*>(node)) {
        if (!leaving) {
            if (!current_) current_ = std::make_unique<summary_unit>();
            counted_runs_ = 0;
            slice_sum_ = 0.0;
            match_score_ = 0;
            return;
        }
        // A paragraph without counted runs leaves its unit to the next paragraph. A nested
        // paragraph may already have finished the unit of this one.
        if (counted_runs_ == 0 || !current_) return;
        current_->score = slice_sum_ / counted_runs_ + static_cast<double>(match_score_);
        current_->order = next_order_++;
        units.push_back(std::move(current_));
        counted_runs_ = 0;
        return;
    }
    if (const auto* contents = dynamic_cast<const FFF::Contents*>(node)) {
        if (!leaving) return;
        for (const FFF::meta& m : contents->metas)
            if (m.key == "categories") categories = m.value;
    }
}

void build_contexts(const std::vector<QueryAtom>& query, const FFF::DocumentData& document,
                    std::vector<std::string>& contexts, std::string& categories) {
    contexts.clear();

    std::map<std::string, int32_t> words;
    for (const QueryAtom& atom : query) {
        if (atom.Type != ATOM_WORD) continue;
        bool valid = true;
        std::string folded;
        utf8_case_fold(atom.Param, folded, valid);
        // An empty word never reaches the index, so it is not a query word here either.
        if (valid && !folded.empty()) words.emplace(std::move(folded), 0);
    }

    fffExtractor extractor(words);
    document.accept_const(extractor, 0);
    categories = extractor.categories;
    pick_contexts(extractor.units, words.size(), contexts);
}

void pick_contexts(std::vector<std::unique_ptr<summary_unit>>& units, std::size_t distinct_words,
                   std::vector<std::string>& contexts) {
    contexts.clear();
    if (distinct_words > 1) {
        for (auto& unit : units) {
            if (unit->matches.size() < 2) continue;
            std::sort(unit->matches.begin(), unit->matches.end());
            int32_t span = unit->matches.back() - unit->matches.front();
            if (span > 0) unit->score += 1000.0 / span;
        }
    }

    std::stable_sort(units.begin(), units.end(),
                     [](const auto& a, const auto& b) { return a->score > b->score; });

    std::vector<std::pair<int32_t, std::string>> kept;
    double total = 0.0;
    for (const auto& unit : units) {
        const std::vector<std::string>& tokens = unit->tokens;
        std::size_t start = 0;
        if (!unit->matches.empty()) {
            int64_t k = int64_t{unit->matches.front()} - lead_tokens;
            if (k > 0) start = std::min<std::size_t>(static_cast<std::size_t>(k), tokens.size());
            while (start < tokens.size() && !is_word(tokens[start]))
                ++start;
        }
        std::string text;
        bool previous_word = false;
        std::size_t taken = 0;
        for (std::size_t i = start; i < tokens.size(); ++i) {
            bool word = is_word(tokens[i]);
            if (word && taken >= max_tokens) break;
            if (word && previous_word) text += ' ';
            text += tokens[i];
            previous_word = word;
            ++taken;
        }
        total += text_width(text);
        kept.emplace_back(unit->order, std::move(text));
        if (total > width_limit) break;
    }

    std::sort(kept.begin(), kept.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    contexts.reserve(kept.size());
    for (auto& pair : kept)
        contexts.push_back(std::move(pair.second));
}

} // namespace lumbrake
