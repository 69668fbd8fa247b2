#include "fff/text_exclusion.h"

#include <limits>
#include <vector>

namespace lumbrake {

namespace {

std::string regex_message(int code, const regex_t* re, std::size_t limit) {
    std::vector<char> buf(limit, '\0');
    regerror(code, re, buf.data(), buf.size());
    return std::string(buf.data());
}

} // namespace

text_exclusion_matcher::text_exclusion_matcher(const std::string& begin_pattern,
                                               const std::string& end_pattern, std::string& error,
                                               bool& ok) {
    error.clear();
    ok = true;
    if (begin_pattern.empty() && end_pattern.empty()) return;
    struct {
        const std::string& pattern;
        regex_ptr& target;
        const char* label;
    } parts[] = {{begin_pattern, begin_, "beginning"}, {end_pattern, end_, "ending"}};
    for (auto& part : parts) {
        auto* raw = new regex_t;
        const int rc = regcomp(raw, part.pattern.c_str(), REG_EXTENDED | REG_NEWLINE);
        if (rc != 0) {
            ok = false;
            error = std::string("Error in ") + part.label +
                    " expression: " + regex_message(rc, raw, 4096);
            delete raw; // regcomp frees its own work on failure
            return;
        }
        part.target.reset(raw);
    }
}

bool text_exclusion_matcher::apply(std::string_view text, int& excluded, std::string& kept,
                                   std::string& error) const {
    kept.clear();
    error.clear();
    excluded = 0;
    if (!begin_ || !end_) {
        kept.assign(text);
        return true;
    }
    const std::size_t size = text.size();
    if (size > static_cast<std::size_t>(std::numeric_limits<regoff_t>::max())) {
        // Match offsets could not address the text; the caller keeps it whole.
        error = "Text too long for exclusion matching";
        return false;
    }
    std::size_t pos = 0;
    // Where the current search for a begin marker started: a whole begin-to-end cycle that
    // ends there again consumed nothing, and must not be repeated at the same place.
    std::size_t cycle_start = 0;
    std::size_t kept_before_cycle = 0;
    bool looking_for_end = false;
    while (pos < size) {
        const regex_t* re = looking_for_end ? end_.get() : begin_.get();
        regmatch_t m[1];
        // REG_STARTEND: the match sees the whole remaining text, embedded NUL bytes included.
        m[0].rm_so = static_cast<regoff_t>(pos);
        m[0].rm_eo = static_cast<regoff_t>(size);
        const int rc = regexec(re, text.data(), 1, m, REG_NOTBOL | REG_STARTEND);
        if (rc == REG_NOMATCH) {
            if (looking_for_end)
                ++excluded;
            else
                kept.append(text.substr(pos));
            break;
        }
        if (rc != 0) {
            error = std::string("Error in ") + (looking_for_end ? "ending" : "beginning") +
                    " expression: " + regex_message(rc, re, 4056);
            return false;
        }
        const auto so = static_cast<std::size_t>(m[0].rm_so);
        const auto eo = static_cast<std::size_t>(m[0].rm_eo);
        if (!looking_for_end) {
            cycle_start = pos;
            kept_before_cycle = kept.size();
            kept.append(text.substr(pos, so - pos));
            looking_for_end = true;
            pos = eo;
            continue;
        }
        looking_for_end = false;
        if (eo == cycle_start && kept.size() == kept_before_cycle) {
            // Empty markers matched an empty region: keep one byte and move on.
            kept.push_back(text[pos]);
            pos = eo + 1;
            continue;
        }
        ++excluded;
        pos = eo;
    }
    return true;
}

} // namespace lumbrake
