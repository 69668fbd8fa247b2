#include "apiops/api-query.h"

#include "util/codecs.h"

#include <charconv>
#include <cstdint>

namespace lumbrake {

namespace {

QueryAtom make_atom(QueryAtomType type, std::string param, std::string meta = {}) {
    QueryAtom atom;
    atom.Type = type;
    atom.Meta = std::move(meta);
    atom.Param = std::move(param);
    return atom;
}

bool starts_with_at(std::string_view text, std::size_t pos, std::string_view prefix) {
    return text.substr(pos, prefix.size()) == prefix;
}

// The decimal value of an operator's arity; anything unreadable counts as 0.
std::int64_t arity_of(const std::string& param) {
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(param.data(), param.data() + param.size(), value);
    if (ec != std::errc() || end != param.data() + param.size()) return 0;
    return value;
}

// Operands left on the evaluation stack by the list (operators' arities taken at face value).
std::int64_t stack_depth(const std::vector<QueryAtom>& atoms) {
    std::int64_t depth = 0;
    for (const QueryAtom& atom : atoms) {
        switch (atom.Type) {
        case ATOM_WORD:
        case ATOM_META:
            depth += 1;
            break;
        case ATOM_AND:
        case ATOM_OR:
        case ATOM_NEAR:
            depth += 1 - arity_of(atom.Param);
            break;
        default:
            break;
        }
    }
    return depth;
}

bool is_operator_token(const std::string& token) {
    return token == "&" || token == "|" || token == ")";
}

} // namespace

bool parse_rpn_query(std::string_view text, std::vector<QueryAtom>& atoms) {
    atoms.clear();
    static constexpr struct {
        std::string_view prefix;
        QueryAtomType type;
    } prefixes[] = {{"NOT:", ATOM_NOT},
                    {"AND:", ATOM_AND},
                    {"OR:", ATOM_OR},
                    {"WORD:", ATOM_WORD},
                    {"NEAR:", ATOM_NEAR}};
    std::size_t pos = 0;
    for (;;) {
        while (pos < text.size() && text[pos] == ' ')
            ++pos;
        if (pos >= text.size()) return true;

        QueryAtomType type = ATOM_META;
        std::string meta;
        std::size_t value_begin = std::string_view::npos;
        for (const auto& p : prefixes) {
            if (starts_with_at(text, pos, p.prefix)) {
                type = p.type;
                value_begin = pos + p.prefix.size();
                break;
            }
        }
        if (value_begin == std::string_view::npos) {
            std::size_t name_begin = starts_with_at(text, pos, "META:") ? pos + 5 : pos;
            std::size_t colon = text.find(':', name_begin);
            if (colon == std::string_view::npos) return false;
            meta.assign(text.substr(name_begin, colon - name_begin));
            value_begin = colon + 1;
        }
        if (value_begin >= text.size()) return false;

        std::size_t value_end = text.find(' ', value_begin);
        if (value_end == std::string_view::npos) value_end = text.size();
        atoms.push_back(make_atom(
            type, std::string(text.substr(value_begin, value_end - value_begin)), std::move(meta)));
        pos = value_end;
    }
}

void tokenize_alg_query(std::string_view text, std::vector<std::string>& tokens) {
    std::string term;
    bool pending = false; // a finished term may need an implicit & before the next one
    bool phrase = false;
    auto join = [&] {
        if (pending && !phrase) tokens.emplace_back("&");
    };
    auto flush_term = [&] {
        if (!term.empty()) {
            tokens.push_back(std::move(term));
            term.clear();
        }
    };
    for (char c : text) {
        switch (c) {
        case ' ':
            if (!term.empty()) {
                join();
                flush_term();
                pending = true;
            }
            break;
        case '!':
        case '(':
            join();
            flush_term();
            tokens.emplace_back(1, c);
            pending = false;
            break;
        case '"':
            join();
            flush_term();
            tokens.emplace_back(1, c);
            phrase = !phrase;
            pending = true;
            break;
        case '&':
        case '|':
        case ')':
            // A term ended directly by the operator still joins a pending one: "a b|c" reads
            // as "a & b | c". A closed group may be followed by a term: "(a|b) c".
            if (!term.empty()) {
                join();
                flush_term();
            }
            tokens.emplace_back(1, c);
            pending = c == ')';
            break;
        default:
            term.push_back(c);
            break;
        }
    }
    if (!term.empty()) {
        join();
        flush_term();
    }
}

bool make_phrase_atoms(const std::vector<std::string>& words, std::vector<QueryAtom>& atoms) {
    if (words.empty()) return false;
    for (const std::string& word : words)
        atoms.push_back(make_atom(ATOM_WORD, word));
    atoms.push_back(make_atom(ATOM_NEAR, std::to_string(words.size())));
    return true;
}

namespace {

// The recursive descent behind parse_alg_operand and parse_alg_expression. Elements are
// appended straight to `out` (no copy per nesting level), and each part reports the operands it
// leaves on the evaluation stack, so that an expression's depth test does not walk its nested
// groups again.
bool operand_into(alg_token_iterator end, alg_token_iterator& pos, std::vector<QueryAtom>& out,
                  int nesting, std::int64_t& depth);

bool expression_into(alg_token_iterator begin, alg_token_iterator end, std::vector<QueryAtom>& out,
                     int nesting, std::int64_t& depth) {
    if (begin >= end) return false;
    if (nesting > max_alg_nesting) return false;
    depth = 0;
    alg_token_iterator pos = begin;
    bool first = true;
    while (pos != end) {
        QueryAtomType op = ATOM_AND;
        bool has_op = false;
        if (!first) {
            if (*pos == "&") {
                op = ATOM_AND;
            } else if (*pos == "|") {
                op = ATOM_OR;
            } else {
                return false;
            }
            has_op = true;
            ++pos;
        }
        first = false;
        std::int64_t operand_depth = 0;
        if (!operand_into(end, pos, out, nesting, operand_depth)) return false;
        if (pos == end) return false;
        ++pos;
        depth += operand_depth;
        if (has_op) {
            out.push_back(make_atom(op, "2"));
            depth += 1 - 2;
        }
    }
    return depth == 1;
}

bool operand_into(alg_token_iterator end, alg_token_iterator& pos, std::vector<QueryAtom>& out,
                  int nesting, std::int64_t& depth) {
    depth = 0;
    if (pos >= end) return false;
    if (nesting > max_alg_nesting) return false;
    const std::string& token = *pos;
    if (token == "!") {
        ++pos;
        if (!operand_into(end, pos, out, nesting + 1, depth)) return false;
        out.push_back(make_atom(ATOM_NOT, "1"));
        return true;
    }
    if (token == "(") {
        if (pos + 1 == end) return false;
        int open = 1;
        alg_token_iterator close = pos + 1;
        for (; close != end; ++close) {
            if (*close == "(") {
                ++open;
            } else if (*close == ")" && --open == 0) {
                break;
            }
        }
        if (close == end) {
            pos = end; // unclosed: the expression rejects it
            return true;
        }
        if (!expression_into(pos + 1, close, out, nesting + 1, depth)) return false;
        pos = close;
        return true;
    }
    if (token == "\"") {
        if (pos + 1 == end) return false;
        alg_token_iterator close = pos + 1;
        while (close != end && *close != "\"")
            ++close;
        if (close == end) {
            pos = end;
            return true;
        }
        std::vector<std::string> words(pos + 1, close);
        std::size_t before = out.size();
        if (!make_phrase_atoms(words, out)) return false;
        depth = stack_depth(std::vector<QueryAtom>(out.begin() + before, out.end()));
        pos = close;
        return true;
    }
    if (is_operator_token(token)) return false;
    out.push_back(make_atom(ATOM_WORD, token));
    depth = 1;
    return true;
}

} // namespace

bool parse_alg_operand(alg_token_iterator begin, alg_token_iterator end, alg_token_iterator& pos,
                       std::vector<QueryAtom>& atoms, int nesting) {
    (void)begin;
    atoms.clear();
    std::int64_t depth = 0;
    return operand_into(end, pos, atoms, nesting, depth);
}

bool parse_alg_expression(alg_token_iterator begin, alg_token_iterator end,
                          std::vector<QueryAtom>& atoms, int nesting) {
    std::size_t before = atoms.size();
    std::int64_t depth = 0;
    if (expression_into(begin, end, atoms, nesting, depth)) return true;
    atoms.resize(before);
    return false;
}

bool parse_alg_query(std::string_view text, std::vector<QueryAtom>& atoms) {
    std::vector<std::string> tokens;
    tokenize_alg_query(text, tokens);
    atoms.clear();
    if (tokens.empty()) return true;
    // Too deep a group is refused before any group is matched: each level scans its range.
    int depth = 0;
    for (const std::string& token : tokens) {
        if (token == "(" && ++depth > max_alg_nesting) return false;
        if (token == ")" && depth > 0) --depth;
    }
    if (parse_alg_expression(tokens.cbegin(), tokens.cend(), atoms)) return true;
    atoms.clear();
    return false;
}

bool parse_net_query(std::string_view query, std::vector<QueryAtom>& atoms) {
    atoms.clear();
    std::string text(query);
    text.push_back(' ');

    std::string word;
    std::vector<std::string> phrase_words;
    bool negate = false;
    bool phrase = false;
    std::int64_t terms = 0;
    int state = 0; // 0 between terms, 1 inside a term, 2 right after a closing quote

    auto move_word = [&] {
        if (!word.empty()) {
            phrase_words.push_back(std::move(word));
            word.clear();
        }
    };
    auto end_term = [&] {
        std::size_t n = 0;
        for (std::string& w : phrase_words) {
            atoms.push_back(make_atom(ATOM_WORD, std::move(w)));
            ++n;
        }
        phrase_words.clear();
        if (!word.empty()) {
            atoms.push_back(make_atom(ATOM_WORD, std::move(word)));
            word.clear();
            ++n;
        }
        if (n > 1) atoms.push_back(make_atom(ATOM_NEAR, std::to_string(n)));
        ++terms;
        if (negate) atoms.push_back(make_atom(ATOM_NOT, "1"));
        negate = false;
        phrase = false;
    };

    std::size_t pos = 0;
    while (pos < text.size()) {
        bool valid = true;
        code_point c = utf8_decode_at(text, pos, valid);
        if (!valid) c = 0xFFFD;
        bool separator = c < 0x10000 && is_unicode_separator(c);
        bool word_char = c < 0x10000 && is_unicode_alnum(c);
        switch (state) {
        case 0:
            if (c == '-') {
                negate = true;
                state = 1;
            } else if (c == '"') {
                phrase = true;
                state = 1;
            } else if (word_char) {
                utf8_append(c, word);
                state = 1;
            }
            break;
        case 1:
            if (separator) {
                if (phrase) {
                    move_word();
                } else if (word.empty() && phrase_words.empty()) {
                    negate = false;
                    phrase = false;
                    state = 0;
                } else {
                    end_term();
                    state = 0;
                }
            } else if (word_char) {
                utf8_append(c, word);
            } else if (c == '"' && phrase) {
                move_word();
                state = 2;
            } else if (c == '"' && negate && word.empty() && phrase_words.empty()) {
                // -"a b": the minus negates the whole phrase.
                phrase = true;
            } else {
                move_word();
            }
            break;
        default:
            if (separator) {
                if (!phrase_words.empty()) end_term();
                negate = false;
                phrase = false;
                state = 0;
            } else {
                // The phrase is closed: what follows directly joins its term, so the phrase
                // words are not left waiting for a closing quote that never comes.
                phrase = false;
                if (word_char) utf8_append(c, word);
                state = 1;
            }
            break;
        }
    }
    if (terms >= 2) atoms.push_back(make_atom(ATOM_AND, std::to_string(terms)));
    return true;
}

bool parse_query_text(std::int32_t parser, std::string_view text, std::vector<QueryAtom>& atoms) {
    switch (parser) {
    case RPNPARSER:
        return parse_rpn_query(text, atoms);
    case ALGPARSER:
        return parse_alg_query(text, atoms);
    case NETPARSER:
        return parse_net_query(text, atoms);
    default:
        return false;
    }
}

std::string query_to_rpn_text(const std::vector<QueryAtom>& atoms) {
    std::string text;
    bool first = true;
    for (const QueryAtom& atom : atoms) {
        if (!first) text.push_back(' ');
        first = false;
        switch (atom.Type) {
        case ATOM_WORD:
            text += "WORD:";
            break;
        case ATOM_NOT:
            text += "NOT:";
            break;
        case ATOM_AND:
            text += "AND:";
            break;
        case ATOM_OR:
            text += "OR:";
            break;
        case ATOM_NEAR:
            text += "NEAR:";
            break;
        case ATOM_META:
            text += "META:";
            text += atom.Meta;
            text += ':';
            break;
        default:
            break;
        }
        text += atom.Param;
    }
    return text;
}

} // namespace lumbrake
