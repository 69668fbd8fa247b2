// The filter dialog's check agrees with how the daemon's URL filter compiles expressions.
#include "cpmodel/filter-expression.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(filter_expression, AcceptsWhatTheCrawlerCompiles) {
    struct {
        std::string expression;
        bool ok;
    } cases[] = {
        {"^http://www\\.example\\.org/", true},
        {"(docs|papers)/", true}, // extended syntax: grouping and alternation without backslashes
        {"a{2,3}b+", true},
        {"[[:alpha:]]+\\.pdf$", true},
        {"", true}, // the library's own verdict; glibc compiles an empty expression
        {"(docs", false},
        {"docs)", true}, // a lone ")" is an ordinary character in extended syntax
        {"[abc", false},
        {"a{3,2}", false},
        {"*x", false}, // nothing to repeat
        {std::string("ab\0(", 4), false}, // the crawler would see only "ab"
    };
    for (const auto& c : cases)
        EXPECT_EQ(lumbrake::filter_expression_compiles(c.expression), c.ok) << c.expression;
}

} // namespace
