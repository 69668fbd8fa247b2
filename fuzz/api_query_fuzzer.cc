// The query syntaxes over hostile texts. The first byte picks the syntax (the rest is the
// text); every syntax also runs over the whole input. Checks the promises of the parsers:
// a boolean or web-style list leaves one operand (or is empty), and the RPN text of a parsed
// RPN list reads back to the same list.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "apiops/api-query.h"

using namespace lumbrake;

namespace {

long operands(const std::vector<QueryAtom>& atoms) {
    long depth = 0;
    for (const QueryAtom& a : atoms) {
        if (a.Type == ATOM_WORD || a.Type == ATOM_META) {
            ++depth;
        } else if (a.Type != ATOM_NOT) {
            depth += 1 - std::strtol(a.Param.c_str(), nullptr, 10);
        }
        if (depth < 1 && a.Type != ATOM_WORD) std::abort(); // an operator without operands
    }
    return depth;
}

void check(std::string_view text) {
    std::vector<QueryAtom> atoms;
    if (parse_alg_query(text, atoms) && !atoms.empty() && operands(atoms) != 1) std::abort();
    parse_net_query(text, atoms);
    if (!atoms.empty() && operands(atoms) != 1) std::abort();
    if (parse_rpn_query(text, atoms) && !atoms.empty() && !atoms.back().Param.empty()) {
        std::vector<QueryAtom> back;
        if (!parse_rpn_query(query_to_rpn_text(atoms), back) || back != atoms) std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view all(reinterpret_cast<const char*>(data), size);
    check(all);
    if (size > 0) {
        std::vector<QueryAtom> atoms;
        parse_query_text(data[0] & 3, all.substr(1), atoms);
    }
    return 0;
}
