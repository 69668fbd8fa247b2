#include "util/xmlreader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace lumbrake;

namespace {

// Records the events as "<name a=v>" "text" "</name>".
class recorder : public ExpatParser {
public:
    std::string events;

protected:
    void start_element(const char* name, const char** attributes) override {
        events += "<";
        events += name;
        for (int i = 0; attributes[i]; i += 2) {
            events += " ";
            events += attributes[i];
            events += "=";
            events += attributes[i + 1];
        }
        events += ">";
    }
    void end_element(const char* name) override { events += std::string("</") + name + ">"; }
    void character_data(const char* bytes, int length) override { events.append(bytes, length); }
};

// The file that iconv makes of `utf8` in `encoding`.
std::string iconv_file(const std::string& utf8, const std::string& encoding) {
    std::string in = testing::TempDir() + "xmlreader-in.xml";
    std::string out = testing::TempDir() + "xmlreader-" + encoding + ".xml";
    std::ofstream(in, std::ios::binary) << utf8;
    std::string cmd = "iconv -f UTF-8 -t " + encoding + " " + in + " > " + out;
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream f(out, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

} // namespace

TEST(ExpatParser, Windows1252ThroughOurTables) {
    std::string doc =
        iconv_file("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n"
                   "<t a=\"\xE2\x82\xAC\">\xE2\x82\xAC \xC3\xBF \xE2\x80\x9Cq\xE2\x80\x9D</t>",
                   "WINDOWS-1252");
    ASSERT_NE(doc.find('\x80'), std::string::npos); // iconv wrote the single byte 0x80
    ASSERT_NE(doc.find('\xFF'), std::string::npos);
    recorder r;
    ASSERT_TRUE(r.parse(doc));
    EXPECT_EQ(r.events, "<t a=\xE2\x82\xAC>\xE2\x82\xAC \xC3\xBF \xE2\x80\x9Cq\xE2\x80\x9D</t>");
}

TEST(ExpatParser, Iso88592ThroughOurTables) {
    std::string doc = iconv_file("<?xml version=\"1.0\" encoding=\"iso-8859-2\"?>"
                                 "<t>\xC5\x81\xC3\xB3"
                                 "d\xC5\xBA \xC5\xBB\xC3\xB3\xC5\x82"
                                 "w</t>",
                                 "ISO-8859-2");
    EXPECT_EQ(doc.find("\xC5"), std::string::npos); // single bytes now
    recorder r;
    ASSERT_TRUE(r.parse(doc));
    EXPECT_EQ(r.events, "<t>\xC5\x81\xC3\xB3"
                        "d\xC5\xBA \xC5\xBB\xC3\xB3\xC5\x82"
                        "w</t>");
}

TEST(ExpatParser, UndefinedByteOfATableIsAnErrorNotAWrongCharacter) {
    // 0x81 has no character in windows-1252.
    recorder r;
    EXPECT_FALSE(r.parse("<?xml version=\"1.0\" encoding=\"windows-1252\"?><t>\x81</t>"));
}

TEST(ExpatParser, EncodingNeitherKnowsFails) {
    recorder r;
    EXPECT_FALSE(r.parse("<?xml version=\"1.0\" encoding=\"x-no-such-charset\"?><t>a</t>"));
    // The object can parse again after a failure.
    EXPECT_TRUE(r.parse("<t>b</t>"));
    EXPECT_EQ(r.events, "<t>b</t>");
}

TEST(ExpatParser, EncodingOverrideAndNamespaces) {
    recorder r;
    ASSERT_TRUE(r.parse("<t xmlns=\"urn:x\" xmlns:p=\"urn:p\" p:a=\"1\"><p:u/>\xE9</t>",
                        "ISO-8859-1", '|'));
    EXPECT_EQ(r.events, "<urn:x|t urn:p|a=1><urn:p|u></urn:p|u>\xC3\xA9</urn:x|t>");
}

TEST(ExpatParser, MalformedAndHostileInputs) {
    const char* cases[] = {
        "",
        "<t><u></t>",
        "<t>",
        // An external entity is refused instead of being skipped silently.
        "<!DOCTYPE t [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><t>&e;</t>",
        // Exponential entity expansion is stopped by expat's amplification limit.
        "<!DOCTYPE t [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
        "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
        "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
        "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">"
        "<!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">]><t>&g;</t>",
    };
    for (const char* doc : cases) {
        recorder r;
        EXPECT_FALSE(r.parse(doc)) << doc;
        // Expanded, the last one would be some 900 MB; expat stops it within its 8 MiB threshold.
        EXPECT_LT(r.events.size(), 10u << 20) << doc;
    }
    recorder r;
    EXPECT_TRUE(r.parse("<!DOCTYPE t [<!ENTITY e \"inner\">]><t>&e;</t>"));
    EXPECT_EQ(r.events, "<t>inner</t>");
}

TEST(SplitQname, Cases) {
    struct c {
        const char* qname;
        const char* ns;
        const char* local;
    };
    const c cases[] = {
        {"urn:x|item", "urn:x", "item"},
        {"|item", "", "item"},
        {"item", "", "item"},
        {"a|b|c", "a", "b|c"},
    };
    for (const c& k : cases) {
        std::string ns = "junk", local = "junk";
        split_qname('|', k.qname, ns, local);
        EXPECT_EQ(ns, k.ns) << k.qname;
        EXPECT_EQ(local, k.local) << k.qname;
    }
}

TEST(SplitQnameDeathTest, NulSeparatorIsABrokenInvariant) {
    std::string ns, local;
    EXPECT_DEATH(split_qname('\0', "a", ns, local), "");
}
