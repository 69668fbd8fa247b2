#include <gtest/gtest.h>

#include <string>

#include "parser_test_util.h"
#include "htmlparser/htmlscanner.h"
#include "htmlparser/tagcleaner.h"

namespace lumbrake {
namespace {

// What the cleaner hands on, for a page scanned by the real scanner.
std::string clean(const std::string& page) {
    test::recorder r;
    HTMLTagCleaner cleaner(&r);
    HTMLScanner(page.data(), page.size(), &cleaner).run();
    return r.joined();
}

struct clean_case {
    const char* page;
    const char* events;
};

TEST(HTMLTagCleaner, RepairsNesting) {
    const clean_case cases[] = {
        // Inline close and reopen around a misnested closing tag.
        {"<b>x<i>y</b>z</i>", "<b>|x|<i>|y|</i>|</b>|<i>|z|</i>|END"},
        {"<b><i></b></i>", "<b>|<i>|</i>|</b>|<i>|</i>|END"},
        // Stray closing tags and closing tags of untracked ones are dropped.
        {"x</b>y</br>z", "xyz|END"},
        // A second anchor closes the first; b stays open.
        {"<a>1<b>2<a>3", "<a>|1|<b>|2|</a>|<a>|3|</a>|</b>|END"},
        {"<td><b>x</td>", "<td>|<b>|x|</b>|</td>|END"},
        // Framesets may nest.
        {"<frameset><frameset></frameset></frameset>x</frameset>",
         "<frameset>|<frameset>|</frameset>|</frameset>|x|END"},
        // Implicit paragraph ends.
        {"<p>one<p>two", "<p>|one|</p>|<p>|two|</p>|END"},
        {"<li>a<p>b<li>c", "<li>|a|<p>|b|</p>|</li>|<li>|c|</li>|END"},
        // Dropped tags vanish, their text stays.
        {"<dl><dt>t<dd>d</dl><font>f</font><th>h", "tdfh|END"},
        // An inner inline element of a higher class is closed, not reopened.
        {"<b><abbr>x</b>y", "<b>|<abbr>|x|</abbr>|</b>|y|END"},
        // A block closing tag closes what is open inside it.
        {"<div><span><em>x</div>y", "<div>|<span>|<em>|x|</em>|</span>|</div>|y|END"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(clean(c.page), c.events) << c.page;
}

// The same tag open twice (the inner one behind a frameset): its first closing tag closes the
// inner one and clears the tag's open bit, so a second one is dropped and the outer element
// lasts until a block or the end closes it. A tag that may nest stays open while it has entries.
TEST(HTMLTagCleaner, SameTagOpenTwice) {
    EXPECT_EQ(clean("<b>1<frameset><b>2</b>3</b>4"),
              "<b>|1|<frameset>|<b>|2|</b>|34|</frameset>|</b>|END");
    EXPECT_EQ(clean("<b>1<frameset><b>2</b>3<p>4</b>5"),
              "<b>|1|<frameset>|<b>|2|</b>|3|<p>|45|</p>|</frameset>|</b>|END");
    EXPECT_EQ(clean("<frameset><b><frameset>x</frameset>y</frameset>z"),
              "<frameset>|<b>|<frameset>|x|</frameset>|y|</b>|</frameset>|z|END");
    // A new opening after the bit was cleared closes the older entry of its kind.
    EXPECT_EQ(clean("<a>1<frameset><a>2</a>3</frameset><a>4"),
              "<a>|1|<frameset>|<a>|2|</a>|3|</frameset>|</a>|<a>|4|</a>|END");
}

TEST(HTMLTagCleaner, TagsBeyondTheStackAreEmptyElements) {
    std::string page;
    for (int i = 0; i < HTMLTagCleaner::max_depth; ++i)
        page += "<frameset>";
    page += "<b>x</b>y";
    test::recorder r;
    HTMLTagCleaner cleaner(&r);
    HTMLScanner(page.data(), page.size(), &cleaner).run();
    const auto& e = r.events;
    ASSERT_GE(e.size(), 5u);
    auto it = std::find(e.begin(), e.end(), "<b>");
    ASSERT_NE(it, e.end());
    EXPECT_EQ(*(it + 1), "</b>");
    EXPECT_EQ(*(it + 2), "xy"); // the stray </b> is dropped
    EXPECT_EQ(cleaner.depth(), 0);
}

} // namespace
} // namespace lumbrake
