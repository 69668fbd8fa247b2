#include "index-server/server-search.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <utility>
#include <vector>

#include "index-server/vault-session.h"

namespace siftvault {

using lumbrake::index_query;
using lumbrake::index_term;

namespace {

// One node of the parsed postfix list.
struct qnode {
    enum kind_t { WORD, FIELD, NOTHING, AND, OR, NEAR, NOT } kind = NOTHING;
    std::string word; // WORD: the word as sent (for its slice terms)
    std::string term; // WORD, FIELD: the Xapian term
    std::vector<std::unique_ptr<qnode>> kids;
    std::set<std::pair<int, std::string>> leaves; // AND, OR: the leaf kids, for deduplication
    std::size_t depth = 1;
};
using node_ptr = std::unique_ptr<qnode>;

// A count of operands: decimal digits only, at least 1.
bool parse_count(const std::string& text, std::size_t& count) {
    if (text.empty() || text.size() > 9) return false;
    unsigned value = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || p != text.data() + text.size() || value == 0) return false;
    count = value;
    return true;
}

class builder {
public:
    builder(vault_view& db, const index_query& query, const search_limits& limits)
        : db_(db), query_(query), limits_(limits) {}

    std::int32_t run(Xapian::Query& out, std::string& error);

private:
    std::int32_t parse(node_ptr& root, std::string& error);
    node_ptr leaf(const index_term& item);
    node_ptr combine(qnode::kind_t kind, std::vector<node_ptr> operands);
    void collect_boosts();
    Xapian::Query to_query(const qnode& node);
    Xapian::Query word_query(const qnode& node);
    Xapian::Query boost_part(const std::string& word);

    vault_view& db_;
    const index_query& query_;
    const search_limits& limits_;
    std::vector<std::pair<std::int32_t, double>> boosts_; // slices that occur in the store
    std::set<std::string> words_;
    std::map<std::string, Xapian::Query> extra_; // boost parts by word
};

node_ptr builder::leaf(const index_term& item) {
    auto n = std::make_unique<qnode>();
    const std::string term =
        item.field.empty() ? word_term(item.value) : field_term(item.field, item.value);
    // An empty word would be Xapian's match-everything term, and an over-long one was never
    // indexed: neither matches a document. Nor does a term that no document holds, and
    // leaving it out keeps Xapian from opening a postlist for each of thousands of them.
    if (item.value.empty() || term.size() > max_term_length || !db_.database().term_exists(term)) {
        n->kind = qnode::NOTHING;
        return n;
    }
    n->term = term;
    if (item.field.empty()) {
        n->kind = qnode::WORD;
        n->word = item.value;
    } else {
        n->kind = qnode::FIELD;
    }
    return n;
}

node_ptr builder::combine(qnode::kind_t kind, std::vector<node_ptr> operands) {
    if (kind == qnode::NOT) {
        node_ptr& only = operands.front();
        if (only->kind == qnode::NOT) // not not x is x
            return std::move(only->kids.front());
        auto n = std::make_unique<qnode>();
        n->kind = qnode::NOT;
        n->depth = only->depth + 1;
        n->kids.push_back(std::move(only));
        return n;
    }
    if (operands.size() == 1) // one operand: the group is that operand (a one-word phrase too)
        return std::move(operands.front());
    // Chains of one operator become one level: a AND b AND c, built two at a time, must not
    // nest as deep as it is long. The largest operand of the same operator is extended in
    // place, so that a long chain costs no more than its length.
    node_ptr n;
    if (kind != qnode::NEAR) {
        std::size_t best = operands.size();
        for (std::size_t i = 0; i < operands.size(); ++i)
            if (operands[i]->kind == kind &&
                (best == operands.size() || operands[i]->kids.size() > operands[best]->kids.size()))
                best = i;
        if (best < operands.size()) {
            n = std::move(operands[best]);
            operands.erase(operands.begin() + static_cast<std::ptrdiff_t>(best));
        }
    }
    if (!n) {
        n = std::make_unique<qnode>();
        n->kind = kind;
    }
    // A term repeated under AND or OR asks nothing more of a document, but Xapian would weigh
    // every copy: a flood of one word must not cost a postlist per copy.
    auto add = [&](node_ptr k) {
        const bool leaf =
            k->kind == qnode::WORD || k->kind == qnode::FIELD || k->kind == qnode::NOTHING;
        if (leaf && kind != qnode::NEAR && !n->leaves.emplace(k->kind, k->term).second) return;
        n->depth = std::max(n->depth, k->depth + 1);
        n->kids.push_back(std::move(k));
    };
    for (node_ptr& op : operands) {
        if (op->kind == kind && kind != qnode::NEAR) {
            for (node_ptr& k : op->kids)
                add(std::move(k));
        } else {
            add(std::move(op));
        }
    }
    if (n->kids.size() == 1) return std::move(n->kids.front());
    return n;
}

std::int32_t builder::parse(node_ptr& root, std::string& error) {
    std::vector<node_ptr> stack;
    for (const index_term& item : query_.items) {
        switch (item.op) {
        case lumbrake::IDX_OP_TERM:
            stack.push_back(leaf(item));
            if (stack.back()->kind == qnode::WORD) {
                words_.insert(stack.back()->word);
                if (words_.size() > limits_.max_words) {
                    error = "too many distinct words";
                    return QUERY_TOO_COMPLEX;
                }
            }
            break;
        case lumbrake::IDX_OP_NOT:
            if (stack.empty()) {
                error = "NOT without an operand";
                return QUERY_MALFORMED;
            }
            {
                std::vector<node_ptr> one;
                one.push_back(std::move(stack.back()));
                stack.pop_back();
                stack.push_back(combine(qnode::NOT, std::move(one)));
            }
            break;
        case lumbrake::IDX_OP_AND:
        case lumbrake::IDX_OP_OR:
        case lumbrake::IDX_OP_NEAR: {
            std::size_t count = 0;
            if (!parse_count(item.value, count)) {
                error = "bad operand count \"" + item.value.substr(0, 32) + "\"";
                return QUERY_MALFORMED;
            }
            if (count > stack.size()) {
                error = "operator with " + std::to_string(count) + " operands, " +
                        std::to_string(stack.size()) + " available";
                return QUERY_MALFORMED;
            }
            std::vector<node_ptr> operands;
            operands.reserve(count);
            for (std::size_t i = stack.size() - count; i < stack.size(); ++i)
                operands.push_back(std::move(stack[i]));
            stack.resize(stack.size() - count);
            const qnode::kind_t kind = item.op == lumbrake::IDX_OP_AND  ? qnode::AND
                                       : item.op == lumbrake::IDX_OP_OR ? qnode::OR
                                                                        : qnode::NEAR;
            stack.push_back(combine(kind, std::move(operands)));
            break;
        }
        default:
            error = "unknown item op " + std::to_string(item.op);
            return QUERY_MALFORMED;
        }
        if (stack.back()->depth > limits_.max_depth) {
            error = "query nested too deeply";
            return QUERY_TOO_COMPLEX;
        }
    }
    if (stack.size() != 1) {
        error = stack.empty() ? "empty query"
                              : std::to_string(stack.size()) + " expressions left unjoined";
        return QUERY_MALFORMED;
    }
    root = std::move(stack.front());
    return 0;
}

void builder::collect_boosts() {
    // The word stream's slice markers are one byte, so only slices 0 to 255 exist; of those,
    // only the ones that some document uses are worth a term per word.
    std::map<std::int32_t, double> table;
    for (const lumbrake::index_boost& b : query_.boosts)
        if (b.slice >= 0 && b.slice <= 255) {
            if (b.boost > 0)
                table[b.slice] = b.boost;
            else
                table.erase(b.slice); // a later entry for the slice wins
        }
    Xapian::Database& db = db_.database();
    for (const auto& [slice, boost] : table) {
        const std::string prefix = slice_term(slice, "");
        if (db.allterms_begin(prefix) != db.allterms_end(prefix))
            boosts_.emplace_back(slice, boost);
    }
}

// The extra weight of a word: its weight in each boosted slice, times the slice's boost.
Xapian::Query builder::boost_part(const std::string& word) {
    auto known = extra_.find(word);
    if (known != extra_.end()) return known->second;
    std::vector<Xapian::Query> parts;
    Xapian::Database& db = db_.database();
    for (const auto& [slice, boost] : boosts_) {
        std::string term = slice_term(slice, word);
        if (term.size() <= max_term_length && db.term_exists(term))
            parts.emplace_back(Xapian::Query::OP_SCALE_WEIGHT, Xapian::Query(term), boost);
    }
    Xapian::Query extra;
    if (!parts.empty()) extra = Xapian::Query(Xapian::Query::OP_OR, parts.begin(), parts.end());
    extra_.emplace(word, extra);
    return extra;
}

Xapian::Query builder::word_query(const qnode& node) {
    Xapian::Query base(node.term);
    Xapian::Query extra = boost_part(node.word);
    if (extra.empty()) return base;
    return Xapian::Query(Xapian::Query::OP_AND_MAYBE, base, extra);
}

// Filters and the match-everything side of a negation carry no weight.
Xapian::Query unweighted(const Xapian::Query& q) {
    return Xapian::Query(Xapian::Query::OP_SCALE_WEIGHT, q, 0.0);
}

Xapian::Query builder::to_query(const qnode& node) {
    switch (node.kind) {
    case qnode::NOTHING:
        return Xapian::Query::MatchNothing;
    case qnode::WORD:
        return word_query(node);
    case qnode::FIELD:
        return unweighted(Xapian::Query(node.term));
    case qnode::NOT:
        return Xapian::Query(Xapian::Query::OP_AND_NOT, unweighted(Xapian::Query::MatchAll),
                             to_query(*node.kids.front()));
    case qnode::OR: {
        std::vector<Xapian::Query> parts;
        for (const node_ptr& k : node.kids)
            parts.push_back(to_query(*k));
        return Xapian::Query(Xapian::Query::OP_OR, parts.begin(), parts.end());
    }
    case qnode::AND: {
        std::vector<Xapian::Query> positive, negative;
        for (const node_ptr& k : node.kids) {
            if (k->kind == qnode::NOT)
                negative.push_back(to_query(*k->kids.front()));
            else
                positive.push_back(to_query(*k));
        }
        Xapian::Query base = positive.empty() ? unweighted(Xapian::Query::MatchAll)
                                              : Xapian::Query(Xapian::Query::OP_AND,
                                                              positive.begin(), positive.end());
        if (negative.empty()) return base;
        return Xapian::Query(Xapian::Query::OP_AND_NOT, base,
                             Xapian::Query(Xapian::Query::OP_OR, negative.begin(), negative.end()));
    }
    case qnode::NEAR: {
        const bool all_words =
            std::all_of(node.kids.begin(), node.kids.end(),
                        [](const node_ptr& k) { return k->kind == qnode::WORD; });
        if (!all_words) {
            // Proximity is defined for words of the text only; a group of anything else asks
            // for all of its parts.
            std::vector<Xapian::Query> parts;
            for (const node_ptr& k : node.kids)
                parts.push_back(to_query(*k));
            return Xapian::Query(Xapian::Query::OP_AND, parts.begin(), parts.end());
        }
        std::vector<Xapian::Query> terms, extras;
        for (const node_ptr& k : node.kids) {
            terms.emplace_back(k->term);
            Xapian::Query extra = boost_part(k->word);
            if (!extra.empty()) extras.push_back(extra);
        }
        const auto window = static_cast<Xapian::termcount>(terms.size() + near_slack);
        Xapian::Query near(Xapian::Query::OP_NEAR, terms.begin(), terms.end(), window);
        if (extras.empty()) return near;
        return Xapian::Query(Xapian::Query::OP_AND_MAYBE, near,
                             Xapian::Query(Xapian::Query::OP_OR, extras.begin(), extras.end()));
    }
    }
    return Xapian::Query::MatchNothing;
}

std::int32_t builder::run(Xapian::Query& out, std::string& error) {
    node_ptr root;
    if (std::int32_t r = parse(root, error); r != 0) return r;
    collect_boosts();
    Xapian::Query q = to_query(*root);

    if (!query_.time_field.empty()) {
        const Xapian::valueno slot = db_.slot_of(query_.time_field);
        if (slot == Xapian::BAD_VALUENO) {
            q = Xapian::Query::MatchNothing; // no document has that time
        } else {
            const std::string low = time_value(query_.min_time);
            // A maximum of 0 bounds nothing: a minimum alone means "since".
            Xapian::Query range = query_.max_time == 0
                                      ? Xapian::Query(Xapian::Query::OP_VALUE_GE, slot, low)
                                      : Xapian::Query(Xapian::Query::OP_VALUE_RANGE, slot, low,
                                                      time_value(query_.max_time));
            q = Xapian::Query(Xapian::Query::OP_FILTER, q, range);
        }
    }
    if (!query_.min_score.empty()) {
        const Xapian::valueno slot = db_.slot_of(query_.score_field);
        if (slot == Xapian::BAD_VALUENO)
            q = Xapian::Query::MatchNothing;
        else
            q = Xapian::Query(Xapian::Query::OP_FILTER, q,
                              Xapian::Query(Xapian::Query::OP_VALUE_GE, slot, query_.min_score));
    }
    out = q;
    return 0;
}

// Hits are read in windows of this many, so that paging through a result list does not run
// the match once per hit.
constexpr Xapian::doccount select_window = 64;

class xapian_query_engine : public query_engine {
public:
    std::int32_t query(vault_view& db, const index_query& request) override {
        end_query();
        try {
            Xapian::Query q;
            std::string why;
            std::int32_t r = build_search(db, request, q, why);
            if (r != 0) {
                last_error = why;
                return r;
            }
            auto enquire = std::make_unique<Xapian::Enquire>(db.database());
            enquire->set_query(q);
            enquire->set_weighting_scheme(Xapian::BM25Weight());
            if (!request.sort_field.empty()) {
                const Xapian::valueno slot = db.slot_of(request.sort_field);
                // A field that no document stores sorts nothing: relevance order stays.
                if (slot != Xapian::BAD_VALUENO)
                    enquire->set_sort_by_value_then_relevance(slot, request.reverse != 0);
            }
            // Documents are never more than the store holds, so asking for at least that many
            // makes the count exact. The match runs when the count or a hit is first asked
            // for: a window asked for first gives the count from the same run.
            doccount_ = db.database().get_doccount();
            enquire_ = std::move(enquire);
            counted_ = false;
            return 0;
        } catch (const Xapian::Error& e) {
            last_error = e.get_description();
        } catch (const std::bad_alloc&) {
            last_error = "out of memory building the query";
        }
        end_query();
        return QUERY_FAILED;
    }

    std::int32_t hit_count() override {
        if (!enquire_) return -1;
        count_matches();
        return count_;
    }

    std::int32_t select_hit(std::int32_t index) override {
        has_hit_ = false;
        if (!enquire_) return -1;
        count_matches();
        if (index < 0 || index >= count_) return -1;
        const auto i = static_cast<Xapian::doccount>(index);
        if (!window_valid_ || i < window_first_ || i >= window_first_ + window_.size()) {
            window_valid_ = false;
            window_ = enquire_->get_mset(i, select_window, doccount_);
            window_first_ = i;
            window_valid_ = true;
        }
        if (i - window_first_ >= window_.size()) return -1; // the store changed under the query
        Xapian::MSetIterator it = window_[i - window_first_];
        hit_doc_ = it.get_document();
        hit_weight_ = it.get_weight();
        has_hit_ = true;
        return 0;
    }

    std::int32_t hit_score() override { return has_hit_ ? score_of_weight(hit_weight_) : -1; }

    std::int32_t hit_text(const std::string& field, std::string& text) override {
        text.clear();
        if (!has_hit_) return -1;
        vault_db::stored_text(hit_doc_, field, text);
        return 0;
    }

    std::int32_t hit_time(const std::string& field) override {
        if (!has_hit_) return -1;
        std::int32_t seconds = 0;
        if (!vault_db::stored_time(hit_doc_, field, seconds)) return 0; // a hit without that time
        return seconds;
    }

    void hit_window(const lumbrake::index_window_request& request, std::size_t max_hits,
                    lumbrake::index_window& window) override {
        window = lumbrake::index_window{};
        if (!enquire_) return;
        const std::int64_t first = std::max<std::int32_t>(request.first, 0);
        // The most the window can hold, before the count is known.
        const std::int64_t bound =
            window_last(first, request.last, std::numeric_limits<std::int32_t>::max(), max_hits);
        const auto start = static_cast<Xapian::doccount>(first);
        if (bound >= first) {
            window_valid_ = false;
            window_ = enquire_->get_mset(start, static_cast<Xapian::doccount>(bound - first + 1),
                                         doccount_);
            window_first_ = start;
            window_valid_ = true;
            if (!counted_) set_count(window_.get_matches_estimated());
        }
        count_matches();
        window.total = count_;
        const std::int64_t last = window_last(first, request.last, count_, max_hits);
        std::vector<stored_field> fields;
        for (std::int64_t i = first; i <= last; ++i) {
            lumbrake::index_window_hit hit;
            hit.texts.resize(request.texts.size());
            const auto offset = static_cast<Xapian::doccount>(i) - window_first_;
            if (!window_valid_ || offset >= window_.size()) {
                // The store changed under the query: no hit there, as SELECT_HIT answers.
                hit.times.assign(request.times.size(), -1);
                window.hits.push_back(std::move(hit));
                continue;
            }
            Xapian::MSetIterator it = window_[offset];
            // The stored fields are decoded once for all the fields asked for.
            fields.clear();
            decode_stored(it.get_document().get_data(), fields);
            auto find = [&fields](const std::string& name) -> const std::string* {
                for (const stored_field& f : fields)
                    if (f.name == name) return &f.value;
                return nullptr;
            };
            hit.selected = 0;
            for (std::size_t t = 0; t < request.texts.size(); ++t)
                if (const std::string* v = find(request.texts[t])) hit.texts[t] = *v;
            for (const std::string& name : request.times) {
                std::int32_t seconds = 0; // a hit without that time
                if (const std::string* v = find(name)) {
                    std::int32_t parsed = 0;
                    auto [p, ec] = std::from_chars(v->data(), v->data() + v->size(), parsed);
                    if (ec == std::errc() && p == v->data() + v->size()) seconds = parsed;
                }
                hit.times.push_back(seconds);
            }
            hit.score = score_of_weight(it.get_weight());
            window.hits.push_back(std::move(hit));
        }
        has_hit_ = false;
    }

    void end_query() override {
        counted_ = false;
        enquire_.reset();
        window_ = Xapian::MSet();
        window_valid_ = false;
        hit_doc_ = Xapian::Document();
        has_hit_ = false;
        count_ = 0;
    }

    std::string last_error;

private:
    void set_count(Xapian::doccount total) {
        count_ = static_cast<std::int32_t>(
            std::min<Xapian::doccount>(total, std::numeric_limits<std::int32_t>::max()));
        counted_ = true;
    }
    // The exact count of the current query's matches, once.
    void count_matches() {
        if (counted_ || !enquire_) return;
        set_count(enquire_->get_mset(0, 0, doccount_).get_matches_estimated());
    }

    std::unique_ptr<Xapian::Enquire> enquire_;
    Xapian::doccount doccount_ = 0;
    std::int32_t count_ = 0;
    bool counted_ = false;
    Xapian::MSet window_;
    Xapian::doccount window_first_ = 0;
    bool window_valid_ = false;
    Xapian::Document hit_doc_;
    double hit_weight_ = 0.0;
    bool has_hit_ = false;
};

} // namespace

std::int32_t score_of_weight(double weight) {
    if (!(weight > 0.0)) // also NaN
        return 0;
    const double scaled = std::round(weight * 1000.0);
    if (scaled >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(scaled);
}

std::int32_t build_search(vault_view& db, const index_query& query, Xapian::Query& out,
                          std::string& error, const search_limits& limits) {
    try {
        builder b(db, query, limits);
        return b.run(out, error);
    } catch (const std::bad_alloc&) {
        error = "out of memory building the query";
        return QUERY_TOO_COMPLEX;
    }
}

std::unique_ptr<query_engine> make_query_engine() {
    return std::make_unique<xapian_query_engine>();
}

} // namespace siftvault
