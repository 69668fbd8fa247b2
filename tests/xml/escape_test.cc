#include "util/entities.h"
#include "util/escape.h"

#include <gtest/gtest.h>

using namespace lumbrake;

TEST(Escape, HtmlEscapeLeavesSingleQuoteAndNeverReinterprets) {
    const std::pair<std::string, std::string> cases[] = {
        {"a<b & \"c\" 'd'", "a&lt;b &amp; &quot;c&quot; 'd'"},
        {"&amp;", "&amp;amp;"},
        {"x>y", "x&gt;y"},
        {"", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(html_escape(in), out) << in;
}

TEST(Escape, XmlEscapeInplaceUsesTheEntityTable) {
    const std::pair<std::string, std::string> cases[] = {
        {"'<&>'", "&apos;&lt;&amp;&gt;&apos;"}, {"\"", "&quot;"}, {"&&", "&amp;&amp;"},
        {"plain \xC3\xA9", "plain \xC3\xA9"},   {"", ""},
    };
    for (const auto& [in, out] : cases) {
        std::string s = in;
        xml_escape_inplace(s);
        EXPECT_EQ(s, out) << in;
    }
    EXPECT_EQ(xml_entity_names().size(), 5u);
    EXPECT_EQ(xml_entity_names().begin()->first, "\""); // byte order: " & ' < >
}

TEST(Escape, XmlEscapeWritesLineBreaksAndTabsAsReferences) {
    const std::pair<std::string, std::string> cases[] = {
        {"a<b&\"c'", "a&lt;b&amp;&quot;c&apos;"},
        {"x>y", "x&gt;y"},
        {"one\ttwo\r\nthree", "one&#9;two&#13;&#10;three"},
        {std::string("\x80\xFF\x01", 3), std::string("\x80\xFF\x01", 3)},
        {"", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(xml_escape(in), out) << in;
}

TEST(Escape, XmlTextWritable) {
    struct c {
        std::string text;
        bool ok;
        const char* why;
    };
    const c cases[] = {
        {"plain text\t\r\n", true, ""},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true, ""},
        {std::string("a\0b", 3), false, "control character 0x00 at byte 1"},
        {"ab\x1B", false, "control character 0x1B at byte 2"},
        {"\xC3", false, "truncated UTF-8 sequence starting with byte 0xC3 at byte 0"},
        {"x\xC0\xAF", false, "invalid UTF-8 byte 0xC0 at byte 1"},
        {"\xED\xA0\x80", false, "invalid UTF-8 sequence starting with byte 0xED at byte 0"},
        {"\xEF\xBF\xBF", false, "non-character U+FFFF at byte 0"},
        {"\xE0\x80\xAF", false, "invalid UTF-8 sequence starting with byte 0xE0 at byte 0"},
    };
    for (const c& k : cases) {
        std::string why;
        EXPECT_EQ(xml_text_writable(k.text, why), k.ok) << k.why;
        EXPECT_EQ(why, k.why);
    }
}
