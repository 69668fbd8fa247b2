// The disallow rules of one site's robots.txt for one robot, compiled into POSIX extended
// regular expressions that match every URL path the site forbids to that robot.
#pragma once

#include <regex.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lumbrake {

class robotstxt {
public:
    // Only this much of a robots.txt text is read; the rest is ignored as if the text ended
    // there (a hostile site must not make every URL test cost unbounded time and memory).
    static constexpr std::size_t max_text = 512 * 1024;

    // Builds the rules from `text` (read up to its first NUL byte) for `robot_name` and
    // compiles them. Only user-agent and disallow lines count.
    robotstxt(std::string_view text, std::string_view robot_name);
    ~robotstxt();
    robotstxt(const robotstxt&) = delete;
    robotstxt& operator=(const robotstxt&) = delete;

    // True when every part of the expression compiled.
    bool compiled() const { return compiled_; }
    // True when the rules forbid the path ("^I'm not an URL$" alone matches nothing). Always
    // false when the rules did not compile.
    bool matches(std::string_view path) const;
    // The whole expression: "^I'm not an URL$" and one "|^" alternative per disallow rule.
    const std::string& expression() const { return expression_; }

private:
    // Compiles the distinct escaped rules in small groups: the regex library's compile cost
    // grows with the square of one expression's size, and every alternative is
    // self-contained, so matching any group equals matching the joined expression.
    void compile(const std::vector<std::string>& rules);

    std::string expression_;
    std::vector<regex_t> groups_;
    bool compiled_ = false;
};

} // namespace lumbrake
