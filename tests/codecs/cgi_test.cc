#include <gtest/gtest.h>

#include <map>
#include <string>

#include "util/codecs.h"

using namespace lumbrake;

using query_map = std::map<std::string, std::string>;

TEST(CgiParseQuery, Table) {
    struct c {
        const char* qs;
        query_map want;
    } cases[] = {
        {"a=1&b=x+y%21&c&a=2&d=%zz", {{"a", "2"}, {"b", "x y!"}, {"c", ""}, {"d", "%zz"}}},
        {"q=%41%42c", {{"q", "ABc"}}},
        {"q=%4", {{"q", "%4"}}},
        {"q=%%41", {{"q", "%A"}}},
        {"q=a%2bb", {{"q", "a+b"}}},
        {"n%41me=v", {{"n%41me", "v"}}}, // names are literal
        {"a=b=c", {{"a", "b=c"}}},
        {"a&&b", {{"a", ""}, {"", ""}, {"b", ""}}},
        {"=v", {{"", "v"}}},
        {"q=%00x", {{"q", std::string("\0x", 2)}}},
    };
    for (const auto& tc : cases) {
        query_map m;
        cgi_parse_query(m, tc.qs);
        EXPECT_EQ(m, tc.want) << tc.qs;
    }
}

TEST(CgiParseQuery, AddsToExistingEntries) {
    query_map m{{"keep", "1"}, {"a", "old"}};
    cgi_parse_query(m, std::string("a=new"));
    EXPECT_EQ(m, (query_map{{"keep", "1"}, {"a", "new"}}));
}

TEST(CgiParseQueryDeathTest, NullTextAsserts) {
    query_map m;
    EXPECT_DEATH(cgi_parse_query(m, static_cast<const char*>(nullptr)), "");
}
