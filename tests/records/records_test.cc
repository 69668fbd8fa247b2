#include "api/api-typeutils.h"
#include "util/log.h"
#include "log_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace lumbrake;

namespace {


// xmllint, an independent parser, must accept every written form.
void expect_xmllint_accepts(const std::string& xml, const std::string& name) {
    std::string path = testing::TempDir() + "record-" + name + ".xml";
    std::ofstream(path, std::ios::binary) << xml;
    std::string cmd = "xmllint --noout " + path;
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

SourceConfiguration full_source() {
    SourceConfiguration s;
    s.Name = "Intranet & wiki";
    s.Description = "Line one\nline two\ttabbed\r\nend";
    s.Seeds = {"http://intranet.example/", "http://wiki.example/?a=1&b=2"};
    s.IncludeFilters = {"^http://intranet\\.example/.*"};
    s.ExcludeFilters = {"\\.pdf$"};
    s.DepthLimit = -3;
    s.CheckRobotsTxt = false;
    s.HasSideMetadata = true;
    s.Type = AUTH_COOKIE;
    s.CookieParams.Url = "http://intranet.example/login";
    s.CookieParams.Action = COOKIE_POST;
    s.CookieParams.Freshness = 3600;
    s.CookieParams.Params = {{"user", "crawler", COOKIE_USERNAME},
                             {"pass", "s<cr>'t\"", COOKIE_PASSWORD},
                             {"lang", "en", COOKIE_OTHER}};
    s.CookieParams.PreUrls = {"http://intranet.example/pre"};
    s.RendererDocFilterIDs = {3, -1};
    s.TextExclusionBeginMarker = "<!-- skip -->";
    s.TextExclusionEndMarker = "<!-- /skip -->";
    s.ACL = {{"staff", READACCESS, false}, {"guests", WRITEACCESS, true}};
    return s;
}

DocFilter golden_docfilter() {
    DocFilter f;
    f.Name = "Strip \"footer\"";
    f.Description = "first line\r\nsecond\tline <b>";
    f.PluginID = 12;
    f.Config = data_file("docfilter-config.bin");
    f.ACL = {{"admins", WRITEACCESS, false}};
    return f;
}

Plugin golden_plugin() {
    Plugin p;
    p.Name = "pdfmeta";
    p.DLLName = "libpdfmeta.so";
    p.DLLParameters = data_file("plugin-params.bin");
    return p;
}

// Writes, compares with the golden file, reads back, writes again.
template <class Record, class Write, class Read>
void check_golden(const Record& record, const char* golden, Write write, Read read) {
    std::string xml;
    ASSERT_TRUE(write(record, xml)) << golden;
    EXPECT_EQ(xml, data_file(golden)) << golden;
    expect_xmllint_accepts(xml, golden);
    Record back;
    back.Name = "stale";
    EXPECT_TRUE(read(xml, back)) << golden;
    EXPECT_EQ(back, record) << golden;
    std::string again;
    ASSERT_TRUE(write(back, again));
    EXPECT_EQ(again, xml) << golden;
}

bool read_source(const std::string& xml, SourceConfiguration& s) {
    bool old = true;
    bool ok = source_from_xml(xml.data(), xml.size(), s, old);
    EXPECT_FALSE(old);
    return ok;
}
bool read_docfilter(const std::string& xml, DocFilter& f) {
    bool old = true;
    bool ok = docfilter_from_xml(xml.data(), xml.size(), f, old);
    EXPECT_FALSE(old);
    return ok;
}
bool read_plugin(const std::string& xml, Plugin& p) {
    return plugin_from_xml(xml.data(), xml.size(), p);
}
bool write_source(const SourceConfiguration& s, std::string& x) {
    return source_to_xml(s, x);
}
bool write_docfilter(const DocFilter& f, std::string& x) {
    return docfilter_to_xml(f, x);
}
bool write_plugin(const Plugin& p, std::string& x) {
    return plugin_to_xml(p, x);
}

} // namespace

TEST(RecordForms, GoldenFilesAndRoundTrips) {
    check_golden(full_source(), "source-full.xml", write_source, read_source);
    check_golden(SourceConfiguration{}, "source-empty.xml", write_source, read_source);
    check_golden(golden_docfilter(), "docfilter.xml", write_docfilter, read_docfilter);
    check_golden(golden_plugin(), "plugin.xml", write_plugin, read_plugin);

    const std::pair<RendererPluginPipe, const char*> pipes[] = {
        {RendererPluginPipe{{5, 7}}, "renderer-pipe.xml"},
        {RendererPluginPipe{}, "renderer-pipe-empty.xml"},
    };
    for (const auto& [pipe, golden] : pipes) {
        std::string xml;
        ASSERT_TRUE(renderer_pipe_to_xml(pipe, xml));
        EXPECT_EQ(xml, data_file(golden));
        expect_xmllint_accepts(xml, golden);
        RendererPluginPipe back{{99}};
        bool old = true;
        EXPECT_TRUE(renderer_pipe_from_xml(xml.data(), xml.size(), back, old));
        EXPECT_FALSE(old);
        EXPECT_EQ(back, pipe);
    }
}

TEST(RecordForms, ByteStringsOfEveryLengthRoundTrip) {
    // Zero bytes, bytes above 127, and lengths around the 54-byte (72-character) line.
    for (std::size_t n : {0u, 1u, 2u, 3u, 53u, 54u, 55u, 108u, 300u}) {
        std::string bytes;
        for (std::size_t i = 0; i < n; ++i)
            bytes += static_cast<char>((i * 37) & 0xFF);
        DocFilter f;
        f.Config = bytes;
        Plugin p;
        p.DLLParameters = bytes;
        std::string xf, xp;
        ASSERT_TRUE(docfilter_to_xml(f, xf));
        ASSERT_TRUE(plugin_to_xml(p, xp));
        DocFilter fb;
        Plugin pb;
        bool old;
        EXPECT_TRUE(docfilter_from_xml(xf.data(), xf.size(), fb, old));
        EXPECT_TRUE(plugin_from_xml(xp.data(), xp.size(), pb));
        EXPECT_EQ(fb.Config, bytes) << n;
        EXPECT_EQ(pb.DLLParameters, bytes) << n;
    }
}

TEST(RecordForms, WriterRefusesWhatXmlCannotCarry) {
    std::string error;
    std::string xml = "stale";
    SourceConfiguration s;
    s.Seeds = {"ok", "bad\x01seed"};
    EXPECT_FALSE(source_to_xml(s, xml, &error));
    EXPECT_EQ(xml, "");
    EXPECT_EQ(error,
              "Cannot write source record: attribute url of <seed> holds control character 0x01 "
              "at byte 3");

    DocFilter f;
    f.Description = std::string("nul\0inside", 10);
    f.Config = std::string("\x01\x02\0", 3); // byte strings are base64: any bytes are fine
    EXPECT_FALSE(docfilter_to_xml(f, xml, &error));
    EXPECT_EQ(error, "Cannot write docfilter record: the text of <description> holds control "
                     "character 0x00 at byte 3");

    Plugin p;
    p.DLLName = "lib\xFF.so";
    EXPECT_FALSE(plugin_to_xml(p, xml, &error));
    EXPECT_EQ(error,
              "Cannot write plugin record: attribute name of <dll> holds invalid UTF-8 byte 0xFF "
              "at byte 3");

    p.DLLName = "libok.so";
    EXPECT_TRUE(plugin_to_xml(p, xml, &error));
    EXPECT_EQ(error, "");
}

TEST(RecordForms, OldElementNamesSetTheFlag) {
    const char* old_source = "<source><renderer-plugins-configs><plugin-config id=\"4\"/>"
                             "<plugin-config id=\"6\"/></renderer-plugins-configs></source>";
    SourceConfiguration s;
    bool old = false;
    EXPECT_TRUE(source_from_xml(old_source, strlen(old_source), s, old));
    EXPECT_TRUE(old);
    EXPECT_EQ(s.RendererDocFilterIDs, (std::vector<int32_t>{4, 6}));

    const char* new_source = "<source><docfilters><docfilter id=\"4\"/></docfilters></source>";
    EXPECT_TRUE(source_from_xml(new_source, strlen(new_source), s, old));
    EXPECT_FALSE(old);
    EXPECT_EQ(s.RendererDocFilterIDs, (std::vector<int32_t>{4}));

    const char* old_filter =
        "<plugin-config name=\"f\"><plugin id=\"7\">YWI=</plugin></plugin-config>";
    DocFilter f;
    EXPECT_TRUE(docfilter_from_xml(old_filter, strlen(old_filter), f, old));
    EXPECT_TRUE(old);
    EXPECT_EQ(f.Name, "f");
    EXPECT_EQ(f.PluginID, 7);
    EXPECT_EQ(f.Config, "ab");

    const char* old_pipe = "<renderer-pipe><plugins-configs><plugin-config id=\"2\"/>"
                           "<docfilter id=\"x\"/></plugins-configs></renderer-pipe>";
    RendererPluginPipe pipe;
    EXPECT_TRUE(renderer_pipe_from_xml(old_pipe, strlen(old_pipe), pipe, old));
    EXPECT_TRUE(old);
    EXPECT_EQ(pipe.DocFilterIDs, (std::vector<int32_t>{2, 0}));
}

TEST(RecordForms, LenientReadersLogAndGoOn) {
    const char* xml = "<?xml version=\"1.0\"?>\n"
                      "<other>\n"
                      "<seed url=\"s1\"/><seed/>\n"
                      "<filter type=\"Include\" url=\"f\"/>\n"
                      "<robots check=\"yes\"/>\n"
                      "<sidemetadata available=\"TRUE\"/>\n"
                      "<limit depth=\" 12abc\"/>\n"
                      "<auth type=\"ntlm\"/>\n"
                      "<cookieauth url=\"u\" action=\"put\" freshness=\"-7\"/>\n"
                      "<cookieparam name=\"n\" value=\"v\" type=\"secret\"/>\n"
                      "<textexclusionmarker edge=\"middle\" value=\"m\"/>\n"
                      "<acl name=\"a\" access=\"admin\" deny=\"maybe\"/>\n"
                      "<acl name=\"b\" access=\"read\"/>\n"
                      "<acl name=\"c\" access=\"write\" deny=\"true\"/>\n"
                      "<unknown foo=\"bar\"/>\n"
                      "</other>";
    log_capture log;
    SourceConfiguration s;
    bool old = true;
    EXPECT_TRUE(source_from_xml(xml, strlen(xml), s, old));
    EXPECT_FALSE(old);
    EXPECT_EQ(s.Seeds, (std::vector<std::string>{"s1", ""}));
    EXPECT_TRUE(s.IncludeFilters.empty()); // tokens are case-sensitive
    EXPECT_TRUE(s.CheckRobotsTxt);         // reset value kept
    EXPECT_FALSE(s.HasSideMetadata);
    EXPECT_EQ(s.DepthLimit, 12);
    EXPECT_EQ(s.Type, AUTH_NONE);
    EXPECT_EQ(s.CookieParams.Url, "u");
    EXPECT_EQ(s.CookieParams.Action, COOKIE_GET);
    EXPECT_EQ(s.CookieParams.Freshness, -7);
    ASSERT_EQ(s.CookieParams.Params.size(), 1u);
    EXPECT_EQ(s.CookieParams.Params[0].Value, "v");
    EXPECT_EQ(s.ACL, (std::vector<AccessSpec>{{"c", WRITEACCESS, true}}));

    std::string text = log.text();
    for (const char* line :
         {"Unknown robots check value yes\n", "Unknown sidemetadata available value TRUE\n",
          "Unknown auth type ntlm\n", "Unknown auth cookie action put\n",
          "Unknown auth cookie param type secret\n",
          "Unknown textexclusionmarker edge value middle\n", "Unknown ACL access admin\n",
          "Unknown ACL deny value \n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
    }
    EXPECT_EQ(text.find("Unknown ACL deny value maybe"), std::string::npos); // access checked first
    EXPECT_NE(text.find("ERROR [src/api/api-typeutils-source.cc:"), std::string::npos) << text;
}

TEST(RecordForms, BadTextReturnsFalseKeepingWhatWasRead) {
    std::string golden = data_file("source-full.xml");
    std::string truncated = golden.substr(0, golden.find("</source>"));
    SourceConfiguration s;
    bool old;
    EXPECT_FALSE(source_from_xml(truncated.data(), truncated.size(), s, old));
    EXPECT_EQ(s, full_source());

    EXPECT_FALSE(source_from_xml("", 0, s, old));
    EXPECT_EQ(s, SourceConfiguration{});

    std::string df = data_file("docfilter.xml");
    df = df.substr(0, df.find("\t<plugin"));
    DocFilter f;
    EXPECT_FALSE(docfilter_from_xml(df.data(), df.size(), f, old));
    EXPECT_EQ(f.Name, "Strip \"footer\"");
    EXPECT_EQ(f.Description, "first line\r\nsecond\tline <b>");
    EXPECT_EQ(f.Config, "");

    const char* hostile[] = {
        "<!DOCTYPE source [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>"
        "<source name=\"x\"><seed url=\"a\"/>&e;</source>",
        "<!DOCTYPE source [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
        "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
        "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
        "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">]>"
        "<source name=\"&f;\"/>",
    };
    for (const char* xml : hostile) {
        EXPECT_FALSE(source_from_xml(xml, strlen(xml), s, old)) << xml;
        EXPECT_LT(s.Name.size(), 100000u);
    }
}

TEST(RecordForms, NumberReading) {
    const std::pair<const char*, int32_t> atoi_cases[] = {
        {"42", 42},
        {" -5x", -5},
        {"+7", 7},
        {"x1", 0},
        {"", 0},
        {"99999999999", INT32_MAX},
        {"-99999999999", INT32_MIN},
    };
    for (const auto& [text, value] : atoi_cases)
        EXPECT_EQ(xml_atoi(text), value) << text;
    int32_t v = 9;
    EXPECT_FALSE(xml_decimal("abc", v));
    EXPECT_EQ(v, 9);
    EXPECT_TRUE(xml_decimal("-12 ", v));
    EXPECT_EQ(v, -12);

    const char* xml = "<docfilter><plugin id=\"abc\"></plugin></docfilter>";
    DocFilter f;
    bool old;
    EXPECT_TRUE(docfilter_from_xml(xml, strlen(xml), f, old));
    EXPECT_EQ(f.PluginID, 0);
}

// A source record read in pieces reads as the whole text does, its seeds handed out in order
// instead of kept, wherever the pieces split the text (inside a name, an attribute value, a
// character reference or a multi-byte character).
TEST(RecordForms, SourceReadInPiecesReadsAsTheWholeText) {
    std::string golden = data_file("source-full.xml");
    std::string many = "<source name=\"m\">";
    for (int k = 0; k < 300; ++k)
        many += "<seed url=\"http://h" + std::to_string(k % 7) + ".example/&#xe9;t&#233;&amp;" +
                std::to_string(k) + "\"/>";
    many += "<seed url=\"http://\xc3\xa9t\xc3\xa9.example/\"/><seed/></source>";
    const std::string texts[] = {
        golden,
        golden.substr(0, golden.find("</source>")), // truncated: false, seeds still handed out
        many,
        "<source><renderer-plugins-configs><plugin-config id=\"4\"/>"
        "</renderer-plugins-configs><seed url=\"a\"/></source>", // the older names
        "<other><x><seed url=\"nested\"/></x></other>",
        "<source><seed url=\"a\"/><seed url=\"b\"></source>", // mismatched end tag
        "",
    };
    for (const std::string& text : texts) {
        SourceConfiguration whole;
        bool whole_old = false;
        const bool whole_ok = source_from_xml(text.data(), text.size(), whole, whole_old);
        std::vector<std::string> expected_seeds;
        expected_seeds.swap(whole.Seeds);
        for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{4096}, text.size()}) {
            SCOPED_TRACE(text.substr(0, 60) + " in pieces of " + std::to_string(piece));
            SourceConfiguration s = full_source(); // reset by the reader
            std::vector<std::string> seeds;
            source_stream_reader reader(s, [&](const std::string& url) { seeds.push_back(url); });
            bool ok = true;
            for (std::size_t at = 0; ok && at < text.size(); at += piece)
                ok = reader.feed(text.data() + at, std::min(piece, text.size() - at), false);
            if (ok) ok = reader.feed("", 0, true);
            EXPECT_EQ(ok, whole_ok);
            EXPECT_EQ(reader.old_names(), whole_old);
            EXPECT_EQ(s, whole);
            EXPECT_EQ(seeds, expected_seeds);
        }
    }
}
