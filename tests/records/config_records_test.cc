#include "api/archive.h"
#include "api/auth.h"
#include "api/collection.h"
#include "api/indexcfg.h"
#include "api/watch.h"
#include "log_capture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace lumbrake;


namespace {

ArchiveConfiguration golden_archive() {
    ArchiveConfiguration a;
    a.Name = "Intranet & \"wiki\"";
    a.Historicize = true;
    a.AdministrativeContact = "root@example.org";
    a.Source = 12;
    a.Auth = -3;
    a.SchedulingFrequency = WEEKLY;
    a.SchedulingAttribute = 1;
    a.AccessTime = 4;
    a.PagesLimit = 5000;
    a.GarbageLimit = 30;
    a.DocumentCache = CONTEXTCACHE;
    a.ACL = {{"staff", READACCESS, false}, {"bob", WRITEACCESS, true}};
    return a;
}

// Writes the record, compares with the golden file, and reads the golden file back.
template <typename Record, typename Writer, typename Reader>
void expect_golden(const Record& record, const char* file, Writer write, Reader read) {
    std::string xml;
    EXPECT_TRUE(write(record, xml, nullptr)) << file;
    EXPECT_EQ(xml, data_file(file)) << file;
    Record back;
    std::string golden = data_file(file);
    EXPECT_TRUE(read(golden.data(), golden.size(), back)) << file;
    EXPECT_EQ(back, record) << file;
}

} // namespace

TEST(ArchiveRecord, GoldenFormsAndRoundTrip) {
    expect_golden(golden_archive(), "archive.xml", archive_to_xml, archive_from_xml);
    expect_golden(ArchiveConfiguration{}, "archive-empty.xml", archive_to_xml, archive_from_xml);

    // Every frequency and cache mode travels through its token.
    for (int f = DISABLED; f <= MONTHLY; ++f) {
        for (int c = FULLCACHE; c <= NOCACHE; ++c) {
            ArchiveConfiguration a = golden_archive();
            a.SchedulingFrequency = Frequency(f);
            a.DocumentCache = Cache(c);
            a.Name = "tab\there, line\nbreak & <x>";
            std::string xml;
            ASSERT_TRUE(archive_to_xml(a, xml));
            ArchiveConfiguration back;
            ASSERT_TRUE(archive_from_xml(xml.data(), xml.size(), back));
            EXPECT_EQ(back, a) << xml;
        }
    }
}

TEST(ArchiveRecord, LenientReadings) {
    log_capture log;
    const std::string text = "<archive name='n' historicize='TRUE'>"
                             "<contact type='owner' email='boss@x'/>"
                             "<scheduling frequency='Weekly' attribute='5' accesstime='6'/>"
                             "<cache document='partial'/>"
                             "<source sourceid='  42abc' authid='x'/>"
                             "<unknown pages='9'/>"
                             "<acl name='a' access='admin' deny='true'/>"
                             "<acl name='b' access='read'/>"
                             "<acl name='c' access='read' deny='false'/>"
                             "</archive>";
    ArchiveConfiguration a;
    a.SchedulingFrequency = DAILY; // the reader resets first
    ASSERT_TRUE(archive_from_xml(text.data(), text.size(), a));
    EXPECT_FALSE(a.Historicize);
    EXPECT_EQ(a.AdministrativeContact, "");
    EXPECT_EQ(a.SchedulingFrequency, DISABLED);
    EXPECT_EQ(a.SchedulingAttribute, 5);
    EXPECT_EQ(a.AccessTime, 6);
    EXPECT_EQ(a.DocumentCache, FULLCACHE);
    EXPECT_EQ(a.Source, 42);
    EXPECT_EQ(a.Auth, 0);
    EXPECT_EQ(a.PagesLimit, 0);
    ASSERT_EQ(a.ACL.size(), 1u);
    EXPECT_EQ(a.ACL[0].Name, "c");
    std::string lines = log.text();
    EXPECT_NE(lines.find("Unknown scheduling frequency Weekly\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("Unknown cache type partial\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("Unknown ACL access admin\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("Unknown ACL deny value \n"), std::string::npos) << lines;

    // A known value after an unknown one still sets it, and "1" is no boolean.
    const std::string second = "<archive historicize='1'><cache document='none'/>"
                               "<cache document='x'/></archive>";
    ASSERT_TRUE(archive_from_xml(second.data(), second.size(), a));
    EXPECT_FALSE(a.Historicize);
    EXPECT_EQ(a.DocumentCache, FULLCACHE);
}

TEST(ArchiveRecord, MalformedTextKeepsWhatWasRead) {
    std::string xml;
    ASSERT_TRUE(archive_to_xml(golden_archive(), xml));
    std::string cut = xml.substr(0, xml.find("\t<garbage"));
    ArchiveConfiguration a;
    EXPECT_FALSE(archive_from_xml(cut.data(), cut.size(), a));
    EXPECT_EQ(a.PagesLimit, 5000);
    EXPECT_EQ(a.GarbageLimit, 0);
    EXPECT_FALSE(archive_from_xml("", 0, a));
    EXPECT_EQ(a, ArchiveConfiguration{});
}

TEST(ArchiveRecord, OutOfRangeValuesAreRefused) {
    ArchiveConfiguration a = golden_archive();
    a.SchedulingFrequency = Frequency(5);
    std::string xml = "stale", error;
    EXPECT_FALSE(archive_to_xml(a, xml, &error));
    EXPECT_EQ(xml, "");
    EXPECT_NE(error.find("scheduling frequency 5"), std::string::npos) << error;

    a = golden_archive();
    a.DocumentCache = Cache(-1);
    EXPECT_FALSE(archive_to_xml(a, xml, &error));
    EXPECT_NE(error.find("cache mode -1"), std::string::npos) << error;

    a = golden_archive();
    a.AdministrativeContact = std::string("a\x01", 2); // no XML character
    EXPECT_FALSE(archive_to_xml(a, xml, &error));
    EXPECT_EQ(xml, "");
}

TEST(CollectionRecord, GoldenFormAndRoundTrip) {
    CollectionConfiguration c;
    c.Name = "All <docs>";
    c.Description = "it's everything";
    c.Archives = {7, 3, 7};
    c.ACL = {{"All Users", READACCESS, false}};
    expect_golden(c, "collection.xml", collection_to_xml, collection_from_xml);

    const std::string nested = "<x><archive id='-2'/><collection name='n'/><archive id='z'/></x>";
    CollectionConfiguration back;
    ASSERT_TRUE(collection_from_xml(nested.data(), nested.size(), back));
    EXPECT_EQ(back.Name, "n");
    EXPECT_EQ(back.Archives, (std::vector<int32_t>{-2, 0}));
}

TEST(WatchRecord, GoldenFormParsersAndOldName) {
    WatchConfiguration w;
    w.Name = "Reports";
    w.Description = "weekly reports";
    w.Query = "report & (2024 | 2025)";
    w.Parser = NETPARSER;
    w.Freshness = 7;
    w.Collection = 2;
    w.ACL = {{"alice", WRITEACCESS, false}};
    expect_golden(w, "watch.xml", watch_to_xml, watch_from_xml);

    struct row {
        const char* query;
        QueryParser parser;
        const char* written; // the token written back
    };
    const row rows[] = {
        {"<query parser='none'/>", NOPARSER, "none"},
        {"<query parser='rpn'/>", RPNPARSER, "rpn"},
        {"<query parser='alg'/>", ALGPARSER, "alg"},
        {"<query parser='soa'/>", ALGPARSER, "alg"}, // the old name of the syntax
        {"<query parser='net'/>", NETPARSER, "net"},
        {"<query/>", ALGPARSER, "alg"},                                   // reset value
        {"<query parser='rpn'/><query parser='RPN'/>", RPNPARSER, "rpn"}, // unknown: kept
    };
    for (const row& r : rows) {
        log_capture log;
        std::string text = std::string("<watch>") + r.query + "</watch>";
        WatchConfiguration back;
        ASSERT_TRUE(watch_from_xml(text.data(), text.size(), back)) << text;
        EXPECT_EQ(back.Parser, r.parser) << text;
        EXPECT_EQ(log.text(), "") << text;
        std::string xml;
        ASSERT_TRUE(watch_to_xml(back, xml));
        EXPECT_NE(xml.find(std::string("parser=\"") + r.written + "\""), std::string::npos);
    }

    w.Parser = QueryParser(4);
    std::string xml, error;
    EXPECT_FALSE(watch_to_xml(w, xml, &error));
    EXPECT_NE(error.find("query parser 4"), std::string::npos) << error;
}

TEST(AuthRecord, GoldenFormAndRoundTrip) {
    AuthConfiguration a;
    a.Username = "crawler";
    a.Password = "p&ss<\"";
    a.ParamValues = {{"domain", "CORP"}, {"token", ""}};
    a.ACL = {{"admins", READACCESS, false}};
    expect_golden(a, "auth.xml", auth_to_xml, auth_from_xml);

    // Bytes above 127 (UTF-8) and whitespace pass unchanged.
    a.Password = "gr\xc3\xbc\xc3\x9f Gott\t \n&amp;";
    std::string xml;
    ASSERT_TRUE(auth_to_xml(a, xml));
    AuthConfiguration back;
    ASSERT_TRUE(auth_from_xml(xml.data(), xml.size(), back));
    EXPECT_EQ(back, a);
}

TEST(IndexImport, ReadsTheOlderForm) {
    log_capture log;
    std::string text = data_file("index.xml");
    IndexConfiguration i;
    ASSERT_TRUE(index_from_xml(text.data(), text.size(), i));
    EXPECT_EQ(i.Name, "Old intranet");
    EXPECT_TRUE(i.Historicize);
    EXPECT_EQ(i.AdministrativeContact, "web@example.org");
    EXPECT_EQ(i.Seeds, (std::vector<std::string>{"http://intranet.example/",
                                                 "http://intranet.example/news/"}));
    EXPECT_EQ(i.IncludeFilters, (std::vector<std::string>{"^http://intranet\\.example/"}));
    EXPECT_EQ(i.ExcludeFilters, (std::vector<std::string>{"\\.zip$"}));
    EXPECT_EQ(i.SchedulingFrequency, DAILY);
    EXPECT_EQ(i.SchedulingAttribute, 2);
    EXPECT_EQ(i.AccessTime, 3);
    EXPECT_EQ(i.PagesLimit, 500);
    EXPECT_EQ(i.DepthLimit, 3);
    EXPECT_EQ(i.GarbageLimit, 90);
    EXPECT_EQ(log.text(), ""); // the acl and robots elements are ignored without a message
}

TEST(IndexImport, ArchiveTextLimitsAndUnknownFrequency) {
    // An archive text gives everything but the name, which only an index element carries.
    std::string archive = data_file("archive.xml");
    IndexConfiguration i;
    ASSERT_TRUE(index_from_xml(archive.data(), archive.size(), i));
    EXPECT_EQ(i.Name, "");
    EXPECT_FALSE(i.Historicize);
    EXPECT_EQ(i.AdministrativeContact, "root@example.org");
    EXPECT_EQ(i.SchedulingFrequency, WEEKLY);
    EXPECT_EQ(i.SchedulingAttribute, 1);
    EXPECT_EQ(i.AccessTime, 4);
    EXPECT_EQ(i.PagesLimit, 5000);
    EXPECT_EQ(i.DepthLimit, 0);
    EXPECT_EQ(i.GarbageLimit, 30);

    log_capture log;
    const std::string text = "<index><limit pages='500'/><scheduling frequency='yearly' "
                             "attribute='2'/><acl name='x' access='read' deny='false'/></index>";
    ASSERT_TRUE(index_from_xml(text.data(), text.size(), i));
    EXPECT_EQ(i.PagesLimit, 500);
    EXPECT_EQ(i.DepthLimit, 0);
    EXPECT_EQ(i.SchedulingFrequency, DISABLED);
    EXPECT_EQ(i.SchedulingAttribute, 2);
    EXPECT_NE(log.text().find("Unknown scheduling frequency yearly\n"), std::string::npos);

    EXPECT_FALSE(index_from_xml("<index name='x'>", 16, i));
    EXPECT_EQ(i.Name, "x");
}
