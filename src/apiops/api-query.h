// The three query syntaxes and their translation into the postfix element list that the index
// search runs on:
//   RPN      the list written out: "WORD:a WORD:b AND:2", "title:report", "META:title:report";
//   boolean  words with & | ! ( ) and "phrases", & and | of equal precedence, left to right,
//            adjacent terms joined by an implicit &;
//   web      words, "phrases" and a leading - for negation; every term must match.
// Query texts come from remote callers: every parser is linear in the text (the boolean one in
// the text times a fixed nesting bound) and refuses nesting deeper than that bound.
#pragma once

#include "api/query-types.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumbrake {

// Parses `text` in syntax `parser` (RPNPARSER, ALGPARSER or NETPARSER); false for any other
// syntax or a text the syntax rejects.
bool parse_query_text(std::int32_t parser, std::string_view text, std::vector<QueryAtom>& atoms);

// Longest query text the search parses. Longer texts give more elements than the index server
// takes in one query, and parsing them would only cost memory (about 100 bytes per element).
inline constexpr std::size_t max_query_text = 256 * 1024;

// Deepest nesting of groups and negations that the boolean syntax accepts.
inline constexpr int max_alg_nesting = 64;

// The list is emptied first. False at a malformed token (a prefix or field name with nothing
// behind it at the end of the text, or a token with no ':' at or after it).
bool parse_rpn_query(std::string_view text, std::vector<QueryAtom>& atoms);

// False unless the text is one well-formed boolean expression; a text with no token gives true
// and no elements.
bool parse_alg_query(std::string_view text, std::vector<QueryAtom>& atoms);

// Always true; a text without a word gives no elements.
bool parse_net_query(std::string_view text, std::vector<QueryAtom>& atoms);

// The boolean syntax in its steps.
void tokenize_alg_query(std::string_view text, std::vector<std::string>& tokens);
using alg_token_iterator = std::vector<std::string>::const_iterator;
// Appends the elements of the range [begin, end) when it is one well-formed expression.
bool parse_alg_expression(alg_token_iterator begin, alg_token_iterator end,
                          std::vector<QueryAtom>& atoms, int nesting = 0);
// One operand at `pos`; on success `pos` points at its last token (the end of the range for an
// unclosed group or phrase, which the caller rejects). `atoms` is emptied first.
bool parse_alg_operand(alg_token_iterator begin, alg_token_iterator end, alg_token_iterator& pos,
                       std::vector<QueryAtom>& atoms, int nesting = 0);
// One WORD per word, then NEAR with the word count; false for no words.
bool make_phrase_atoms(const std::vector<std::string>& words, std::vector<QueryAtom>& atoms);

// The RPN text of an element list, one blank between elements (the form the query log keeps).
std::string query_to_rpn_text(const std::vector<QueryAtom>& atoms);

} // namespace lumbrake
