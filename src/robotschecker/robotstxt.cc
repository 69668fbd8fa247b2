#include "robotschecker/robotstxt.h"

#include "util/log.h"
#include "util/ascii.h"

#include <algorithm>
#include <unordered_set>

namespace lumbrake {

namespace {

constexpr const char* never_matches = "^I'm not an URL$";
// Alternatives per compiled expression: small enough that compiling stays linear overall.
constexpr std::size_t group_size = 32;

// White space as the C locale knows it, whatever locale the process runs in.
bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool istarts_with(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && ascii_iequals(text.substr(0, prefix.size()), prefix);
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// The next ':'-separated piece of `rest` (strsep over one delimiter): null `rest` gives no
// piece; the last piece leaves `rest` null.
bool next_piece(std::string_view& piece, const char*& rest, const char* end) {
    if (!rest) return false;
    const char* colon = std::find(rest, end, ':');
    piece = std::string_view(rest, static_cast<std::size_t>(colon - rest));
    rest = colon == end ? nullptr : colon + 1;
    return true;
}

// A disallow value as a regular expression: the path literally, "*" standing for any run of
// characters. Every character the extended syntax treats specially is escaped, the backslash
// included: left bare, it would let a site's text reach groups, back-references (which the
// library matches by backtracking) and intervals.
std::string escape_rule(std::string_view value) {
    if (!value.empty() && value.back() == '*') value.remove_suffix(1);
    std::string out;
    out.reserve(value.size() * 2);
    for (char c : value) {
        if (c == '*') {
            out += ".*";
            continue;
        }
        if (std::string_view(".[]|()+?^${}\\").find(c) != std::string_view::npos) out += '\\';
        out += c;
    }
    return out;
}

} // namespace

robotstxt::robotstxt(std::string_view text, std::string_view robot_name)
    : expression_(never_matches) {
    std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    if (text.size() > max_text) text = text.substr(0, max_text);

    std::vector<std::string> rules;
    std::unordered_set<std::string> seen;
    bool in_group = false, own_group = false;
    std::size_t pos = 0;
    while (pos <= text.size() && !text.empty()) {
        std::size_t eol = text.find_first_of("\r\n", pos);
        std::string_view line =
            text.substr(pos, eol == std::string_view::npos ? std::string_view::npos : eol - pos);
        pos = eol == std::string_view::npos ? text.size() + 1 : eol + 1;

        std::size_t hash = line.find('#');
        if (hash != std::string_view::npos) line = line.substr(0, hash);
        if (line.empty()) continue;

        const char* end = line.data() + line.size();
        const char* rest = line.data();
        std::string_view field;
        next_piece(field, rest, end);
        // An indented field name is not one: the pieces after it are tried in its place.
        bool skip = false;
        while (!field.empty() && is_blank(field.front())) {
            if (!next_piece(field, rest, end)) {
                skip = true;
                break;
            }
        }
        if (skip) continue;
        std::string_view value = rest ? trim(std::string_view(rest, end - rest)) : "";

        if (ascii_iequals(field, "user-agent")) {
            if (!value.empty() && value.front() == '*' && !own_group) {
                in_group = true;
            } else if (istarts_with(value, robot_name) && !own_group) {
                // The robot's own group replaces everything the "*" groups said.
                own_group = in_group = true;
                expression_ = never_matches;
                rules.clear();
                seen.clear();
            } else {
                in_group = false;
            }
        } else if (ascii_iequals(field, "disallow") && in_group && !value.empty()) {
            std::string rule = escape_rule(value);
            expression_ += "|^";
            expression_ += rule;
            if (seen.insert(rule).second) rules.push_back(std::move(rule));
        }
    }
    compile(rules);
}

void robotstxt::compile(const std::vector<std::string>& rules) {
    groups_.reserve(rules.size() / group_size + 1);
    compiled_ = true;
    std::size_t i = 0;
    do {
        std::string group = never_matches;
        for (std::size_t n = 0; n < group_size && i < rules.size(); ++n, ++i) {
            group += "|^";
            group += rules[i];
        }
        regex_t re;
        if (regcomp(&re, group.c_str(), REG_EXTENDED | REG_NOSUB) != 0) {
            compiled_ = false;
            return;
        }
        groups_.push_back(re);
    } while (i < rules.size());
}

robotstxt::~robotstxt() {
    for (regex_t& re : groups_)
        regfree(&re);
}

bool robotstxt::matches(std::string_view path) const {
    if (!compiled_) return false;
    std::string p(path);
    for (const regex_t& re : groups_)
        if (regexec(&re, p.c_str(), 0, nullptr, 0) == 0) return true;
    return false;
}

} // namespace lumbrake
