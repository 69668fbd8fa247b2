// The SOAP forms of the API enums and records: whole envelopes written and read back by our
// library, the exact member names and types on the wire, the readers' fallbacks and faults,
// encoded arrays, and an envelope written by Perl's SOAP::Lite.
#include "../support/command.h"
#include "api-wire/wire-enums.h"
#include "api-wire/wire-records.h"
#include "soap/soap_envelope.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using namespace EasySoap;
using namespace lumbrake;

namespace {

const SOAPQName kXsiType("type", XSI_NS);
const SOAPQName kArrayType("arrayType", SOAP_ENC_NS);

// Writes the value as the one argument "v" of a request envelope and reads the envelope back.
template <class T> SOAPEnvelope through_envelope(const T& value) {
    SOAPMethod method("Test", SERVICE_NS);
    method.AddParameter("v") << value;
    return ReadEnvelope(WriteEnvelope(method));
}

template <class T> T round_trip(const T& value) {
    SOAPEnvelope env = through_envelope(value);
    T out{};
    env.method.GetParameter("v") >> out;
    return out;
}

// An envelope around body text in which the prefixes SOAP-ENC, xsi, xsd and tn are bound.
SOAPEnvelope parse_body(const std::string& inner) {
    std::string xml = std::string("<?xml version=\"1.0\"?><E:Envelope xmlns:E=\"") + SOAP_ENV_NS +
                      "\" xmlns:SOAP-ENC=\"" + SOAP_ENC_NS + "\" xmlns:xsi=\"" + XSI_NS +
                      "\" xmlns:xsd=\"" + XSD_NS + "\" xmlns:tn=\"" + SERVICE_NS +
                      "\"><E:Body><tn:Test>" + inner + "</tn:Test></E:Body></E:Envelope>";
    return ReadEnvelope(xml);
}

std::vector<std::string> member_names(const SOAPParameter& p) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < p.GetNumParams(); ++i)
        names.push_back(p.GetParameterAt(i).GetName().GetName());
    return names;
}

SOAPQName type_of(const SOAPParameter& p) {
    const SOAPQName* t = p.FindAttribute(kXsiType);
    return t ? *t : SOAPQName();
}

SOAPQName tn(const char* name) {
    return SOAPQName(name, SERVICE_NS);
}
SOAPQName xsd(const char* name) {
    return SOAPQName(name, XSD_NS);
}

std::vector<AccessSpec> some_acl() {
    return {{"staff", WRITEACCESS, false}, {"guest", READACCESS, true}, {"ops", READACCESS, false}};
}

SourceConfiguration full_source() {
    SourceConfiguration s;
    s.Name = "Intranet \xC3\xA9t\xC3\xA9";
    s.Description = "a & <b>";
    s.Seeds = {"http://intra/", "http://wiki/"};
    s.IncludeFilters = {"^http://intra/"};
    s.ExcludeFilters = {"\\.iso$"};
    s.DepthLimit = 7;
    s.CheckRobotsTxt = false;
    s.HasSideMetadata = true;
    s.Type = AUTH_COOKIE;
    s.CookieParams.Url = "http://intra/login";
    s.CookieParams.Action = COOKIE_POST;
    s.CookieParams.Freshness = 3600;
    s.CookieParams.Params = {{"user", "bob", COOKIE_USERNAME},
                             {"pw", "x", COOKIE_PASSWORD},
                             {"lang", "de", COOKIE_OTHER}};
    s.CookieParams.PreUrls = {"http://intra/"};
    s.RendererDocFilterIDs = {4, 9};
    s.TextExclusionBeginMarker = "<!--nox-->";
    s.TextExclusionEndMarker = "<!--/nox-->";
    s.ACL = some_acl();
    return s;
}

ArchiveConfiguration full_archive() {
    ArchiveConfiguration a;
    a.Name = "Wiki";
    a.Historicize = true;
    a.AdministrativeContact = "root@intra";
    a.Source = 3;
    a.Auth = 2;
    a.SchedulingFrequency = MONTHLY;
    a.SchedulingAttribute = 28;
    a.AccessTime = 22;
    a.PagesLimit = 100000;
    a.GarbageLimit = 10;
    a.DocumentCache = NOCACHE;
    a.ACL = some_acl();
    return a;
}

IndexConfiguration full_index() {
    IndexConfiguration i;
    i.Name = "Old";
    i.Historicize = true;
    i.AdministrativeContact = "a@b";
    i.Seeds = {"http://x/"};
    i.IncludeFilters = {"x"};
    i.ExcludeFilters = {"y", "z"};
    i.SchedulingFrequency = HOURLY;
    i.SchedulingAttribute = 6;
    i.AccessTime = 1;
    i.PagesLimit = 50;
    i.DepthLimit = 3;
    i.GarbageLimit = -1;
    return i;
}

// --- enums ---

struct TokenCase {
    const wire::enum_table* table;
    const char* text;
    int expected; // -1: no match
};

TEST(WireEnums, ReadsWrittenAndFurtherTokensExactly) {
    const TokenCase cases[] = {
        {&wire::query_parser_enum, "SOAPARSER", 2},
        {&wire::query_parser_enum, "NETPARSER", 3},
        {&wire::plugin_type_enum, "MULTIFORMFFF_PLUGINTYPE", 1},
        {&wire::plugin_type_enum, "GLOBALFFF_PLUGINTYPE", 1},
        {&wire::query_sort_enum, "SCORE", 0},
        {&wire::query_sort_enum, "SCORE_AGED", 0},
        {&wire::query_sort_enum, "NOSORT", 0},
        {&wire::query_sort_enum, "SORT_SCORE", 2},
        {&wire::query_atom_type_enum, "NEAR_SET", 4},
        {&wire::query_atom_type_enum, "NEAR_SEQ", 4},
        {&wire::query_atom_type_enum, "META", 5},
        {&wire::query_info_enum, "NOINFO", 0},
        {&wire::query_info_enum, "CONTEXT", 3},
        {&wire::query_view_enum, "CORECHANGED", 1},
        {&wire::crawl_error_enum, "SERVER", 13},
        {&wire::document_format_enum, "HTML", 2},
        {&wire::root_acl_type_enum, "ROOTACL_CRAWLING", 1},
        // No trimming, no case folding, no prefixes, no empty text.
        {&wire::auth_type_enum, "auth_basic", -1},
        {&wire::auth_type_enum, "AUTH_BASIC ", -1},
        {&wire::auth_type_enum, " AUTH_BASIC", -1},
        {&wire::auth_type_enum, "AUTH_BASI", -1},
        {&wire::auth_type_enum, "", -1},
        {&wire::frequency_enum, "disabled", -1},
        {&wire::cookie_action_type_enum, "PUT", -1},
        {&wire::status_enum, "CRAWLSTOPPED", 1},
    };
    for (const TokenCase& c : cases) {
        int value = 77;
        bool found = wire::token_to_value(*c.table, c.text, value);
        EXPECT_EQ(found, c.expected >= 0) << c.table->type_name << " '" << c.text << "'";
        EXPECT_EQ(value, c.expected >= 0 ? c.expected : 77) << c.text;
    }
}

TEST(WireEnums, WritesTokenWithServiceType) {
    SOAPEnvelope env = through_envelope(ALGPARSER);
    const SOAPParameter& v = env.method.GetParameter("v");
    EXPECT_EQ(v.GetString(), "ALGPARSER");
    EXPECT_EQ(type_of(v), tn("QueryParser"));

    EXPECT_EQ(round_trip(SORT_TIME_OLDER), SORT_TIME_OLDER);
    EXPECT_EQ(round_trip(ATOM_META), ATOM_META);
    EXPECT_EQ(round_trip(ROOTACL_CRAWLING), ROOTACL_CRAWLING);
    EXPECT_EQ(round_trip(LOWDISKSPACE), LOWDISKSPACE);
    EXPECT_EQ(through_envelope(ARCHIVEFFF_PLUGINTYPE).method.GetParameter("v").GetString(),
              "ARCHIVEFFF_PLUGINTYPE");
}

TEST(WireEnums, CrawlErrorOutOfRangeIsEmptyTypedElement) {
    CrawlLogData row;
    row.Time = 5;
    row.ID = "guid";
    row.Url = "http://x/";
    row.Error = 13;
    SOAPEnvelope env = through_envelope(row);
    EXPECT_EQ(env.method.GetParameter("v").GetParameter("Error").GetString(), "SERVER");
    EXPECT_EQ(round_trip(row), row);

    row.Error = 14;
    env = through_envelope(row);
    const SOAPParameter& error = env.method.GetParameter("v").GetParameter("Error");
    EXPECT_EQ(error.GetString(), "");
    EXPECT_EQ(error.GetNumParams(), 0u);
    EXPECT_EQ(type_of(error), tn("CrawlError"));
}

TEST(WireEnums, UnknownTextKeepsPreviousValueAndTypeIsIgnored) {
    SOAPEnvelope env = parse_body("<a xsi:type=\"tn:AuthType\">AUTH_BASIC </a>"
                                  "<b>AUTH_COOKIE</b>"
                                  "<c xsi:type=\"xsd:int\">AUTH_BASIC</c>"
                                  "<d xsi:nil=\"true\"/><e/>");
    AuthType t = AUTH_BASIC;
    env.method.GetParameter("a") >> t;
    EXPECT_EQ(t, AUTH_BASIC);
    env.method.GetParameter("b") >> t;
    EXPECT_EQ(t, AUTH_COOKIE);
    env.method.GetParameter("c") >> t;
    EXPECT_EQ(t, AUTH_BASIC);
    env.method.GetParameter("d") >> t;
    env.method.GetParameter("e") >> t;
    EXPECT_EQ(t, AUTH_BASIC);
}

TEST(WireEnums, PluginTypeListsAreBareTokens) {
    std::vector<PluginType> types{ARCHIVEFFF_PLUGINTYPE, UNKNOWN_PLUGINTYPE};
    SOAPEnvelope env = through_envelope(types);
    const SOAPParameter& v = env.method.GetParameter("v");
    EXPECT_EQ(*v.FindAttribute(kArrayType), tn("PluginType[2]"));
    EXPECT_EQ(v.GetParameterAt(0).GetString(), "ARCHIVEFFF_PLUGINTYPE");
    EXPECT_EQ(v.GetParameterAt(0).FindAttribute(kXsiType), nullptr);
    EXPECT_EQ(round_trip(types), types);
}

// --- configuration records ---

TEST(WireRecords, ConfigurationRecordsRoundTrip) {
    EXPECT_EQ(round_trip(full_source()), full_source());
    EXPECT_EQ(round_trip(full_archive()), full_archive());
    EXPECT_EQ(round_trip(full_index()), full_index());

    CollectionConfiguration c{"Docs", "all docs", {1, 2, 2}, some_acl()};
    EXPECT_EQ(round_trip(c), c);
    WatchConfiguration w{"W", "watch", "a AND b", NETPARSER, 86400, 4, some_acl()};
    EXPECT_EQ(round_trip(w), w);
    AuthConfiguration auth{"bob", "s3cret", {{"user", "bob"}, {"lang", ""}}, some_acl()};
    EXPECT_EQ(round_trip(auth), auth);
    Plugin p{ARCHIVEFFF_PLUGINTYPE, "pdf", "PDF reader", "libpdf.so", "x=1", some_acl()};
    EXPECT_EQ(round_trip(p), p);
    DocFilter d{ARCHIVEFFF_PLUGINTYPE, "f", "filter", 3, "<cfg/>", {}};
    EXPECT_EQ(round_trip(d), d);
    RendererPluginPipe pipe{{5, 1}};
    EXPECT_EQ(round_trip(pipe), pipe);
    EXPECT_EQ(round_trip(RendererPluginPipe{}), RendererPluginPipe{});
}

TEST(WireRecords, SourceMembersInOrderWithTypes) {
    SOAPEnvelope env = through_envelope(full_source());
    const SOAPParameter& v = env.method.GetParameter("v");
    EXPECT_EQ(type_of(v), tn("SourceConfiguration"));
    EXPECT_EQ(member_names(v), (std::vector<std::string>{
                                   "Name", "Description", "Seeds", "IncludeFilters",
                                   "ExcludeFilters", "CheckRobotsTxt", "HasSideMetadata",
                                   "DepthLimit", "Type", "CookieParams", "RendererDocFilterIDs",
                                   "TextExclusionBeginMarker", "TextExclusionEndMarker", "ACL"}));
    EXPECT_EQ(type_of(v.GetParameter("Name")), xsd("string"));
    EXPECT_EQ(type_of(v.GetParameter("CheckRobotsTxt")), xsd("boolean"));
    EXPECT_EQ(type_of(v.GetParameter("DepthLimit")), xsd("int"));
    EXPECT_EQ(type_of(v.GetParameter("Type")), tn("AuthType"));
    EXPECT_EQ(v.GetParameter("Type").GetString(), "AUTH_COOKIE");
    EXPECT_EQ(type_of(v.GetParameter("CookieParams")), tn("CookieAuthParams"));
    EXPECT_EQ(type_of(v.GetParameter("Seeds")), SOAPQName("Array", SOAP_ENC_NS));
    EXPECT_EQ(*v.GetParameter("Seeds").FindAttribute(kArrayType), xsd("string[2]"));
    EXPECT_EQ(*v.GetParameter("RendererDocFilterIDs").FindAttribute(kArrayType), xsd("int[2]"));
    EXPECT_EQ(*v.GetParameter("ACL").FindAttribute(kArrayType), tn("AccessSpec[3]"));
    const SOAPParameter& entry = v.GetParameter("ACL").GetParameterAt(0);
    EXPECT_EQ(entry.GetName().GetName(), "item");
    EXPECT_EQ(entry.FindAttribute(kXsiType), nullptr);
    EXPECT_EQ(member_names(entry), (std::vector<std::string>{"Name", "Access", "Deny"}));
    EXPECT_EQ(entry.GetParameter("Access").GetString(), "WRITEACCESS");
    const SOAPParameter& cookie = v.GetParameter("CookieParams");
    EXPECT_EQ(member_names(cookie),
              (std::vector<std::string>{"Url", "Action", "Freshness", "Params", "PreUrls"}));
    EXPECT_EQ(cookie.GetParameter("Action").GetString(), "POST");
    EXPECT_EQ(*cookie.GetParameter("Params").FindAttribute(kArrayType), tn("CookieParam[3]"));
    EXPECT_EQ(cookie.GetParameter("Params").GetParameterAt(2).GetParameter("Type").GetString(),
              "OTHER");
}

TEST(WireRecords, EmptyListsLeftOutOrWrittenEmpty) {
    // Lists written only when non-empty; the renderer ids and the markers always.
    SOAPEnvelope env = through_envelope(SourceConfiguration{});
    const SOAPParameter& v = env.method.GetParameter("v");
    EXPECT_EQ(member_names(v), (std::vector<std::string>{
                                   "Name", "Description", "CheckRobotsTxt", "HasSideMetadata",
                                   "DepthLimit", "Type", "CookieParams", "RendererDocFilterIDs",
                                   "TextExclusionBeginMarker", "TextExclusionEndMarker"}));
    const SOAPParameter& ids = v.GetParameter("RendererDocFilterIDs");
    EXPECT_EQ(*ids.FindAttribute(kArrayType), xsd("int[0]"));
    EXPECT_EQ(ids.GetNumParams(), 0u);
    EXPECT_EQ(member_names(v.GetParameter("CookieParams")),
              (std::vector<std::string>{"Url", "Action", "Freshness"}));
    EXPECT_EQ(round_trip(SourceConfiguration{}), SourceConfiguration{});

    // Plug-ins and filters always write their ACL.
    env = through_envelope(Plugin{});
    const SOAPParameter& acl = env.method.GetParameter("v").GetParameter("ACL");
    EXPECT_EQ(*acl.FindAttribute(kArrayType), tn("AccessSpec[0]"));
    EXPECT_EQ(acl.GetNumParams(), 0u);
    env = through_envelope(DocFilter{});
    EXPECT_NE(env.method.GetParameter("v").FindParameter("ACL"), nullptr);

    env = through_envelope(ArchiveConfiguration{});
    EXPECT_EQ(env.method.GetParameter("v").FindParameter("ACL"), nullptr);
    EXPECT_EQ(type_of(env.method.GetParameter("v").GetParameter("SchedulingFrequency")),
              tn("Frequency"));
    EXPECT_EQ(type_of(env.method.GetParameter("v").GetParameter("DocumentCache")), tn("Cache"));
}

// The members of a written record, with some left out or replaced, as body text.
template <class T>
std::string record_xml(const T& record, std::initializer_list<const char*> drop,
                       const std::string& extra = {}) {
    SOAPMethod method("Test", SERVICE_NS);
    method.AddParameter("v") << record;
    SOAPParameter& v = method.GetParameter("v");
    SOAPParameter copy(v.GetName());
    for (std::size_t i = 0; i < v.GetNumParams(); ++i) {
        bool skip = false;
        for (const char* d : drop)
            skip |= v.GetParameterAt(i).GetName().GetName() == d;
        if (!skip) copy.AddParameter() = v.GetParameterAt(i);
    }
    copy.SetIsStruct();
    method.GetParameter("v") = copy;
    std::string xml = WriteEnvelope(method);
    if (!extra.empty()) {
        std::size_t end = xml.rfind("</v>");
        xml.insert(end, extra);
    }
    return xml;
}

template <class T> T read_xml(const std::string& xml, T out = T{}) {
    ReadEnvelope(xml).method.GetParameter("v") >> out;
    return out;
}

TEST(WireRecords, RequiredAndOptionalMembers) {
    // Missing optional members take their fallbacks; the record passed in is overwritten.
    SourceConfiguration prior = full_source();
    SourceConfiguration s = read_xml(
        record_xml(full_source(), {"Seeds", "TextExclusionBeginMarker", "RendererDocFilterIDs"}),
        prior);
    EXPECT_EQ(s.TextExclusionBeginMarker, "");
    EXPECT_TRUE(s.RendererDocFilterIDs.empty());
    EXPECT_EQ(s.Seeds, prior.Seeds); // not emptied first: a fresh record has none
    EXPECT_TRUE(read_xml<SourceConfiguration>(record_xml(full_source(), {"Seeds"})).Seeds.empty());

    ArchiveConfiguration a = read_xml<ArchiveConfiguration>(
        record_xml(full_archive(), {"DocumentCache"}), full_archive());
    EXPECT_EQ(a.DocumentCache, FULLCACHE);
    IndexConfiguration i =
        read_xml<IndexConfiguration>(record_xml(full_index(), {"Historicize"}), full_index());
    EXPECT_FALSE(i.Historicize);

    // A broken optional array is skipped.
    CollectionConfiguration c = read_xml<CollectionConfiguration>(record_xml(
        CollectionConfiguration{"n", "d", {}, {}}, {},
        "<Archives xmlns:E=\"" + std::string(SOAP_ENC_NS) + "\" E:arrayType=\"xsd:int[2,2]\"/>"));
    EXPECT_TRUE(c.Archives.empty());

    // A missing required member fails the whole read, naming the member.
    struct Missing {
        std::string xml;
        const char* member;
        std::function<void(const SOAPParameter&)> read;
    };
    auto reader = [](auto record) {
        return [record](const SOAPParameter& p) mutable { p >> record; };
    };
    const Missing missing[] = {
        {record_xml(full_archive(), {"Historicize"}), "Historicize",
         reader(ArchiveConfiguration{})},
        {record_xml(full_source(), {"DepthLimit"}), "DepthLimit", reader(SourceConfiguration{})},
        {record_xml(full_source(), {"CookieParams"}), "CookieParams",
         reader(SourceConfiguration{})},
        {record_xml(Plugin{}, {"ACL"}), "ACL", reader(Plugin{})},
        {record_xml(DocFilter{}, {"Config"}), "Config", reader(DocFilter{})},
        {record_xml(WatchConfiguration{}, {"Parser"}), "Parser", reader(WatchConfiguration{})},
        {record_xml(full_index(), {"GarbageLimit"}), "GarbageLimit", reader(IndexConfiguration{})},
    };
    for (const Missing& m : missing) {
        SOAPEnvelope env = ReadEnvelope(m.xml);
        try {
            m.read(env.method.GetParameter("v"));
            ADD_FAILURE() << "read without " << m.member;
        } catch (const SOAPException& e) {
            EXPECT_EQ(std::string(e.what()),
                      std::string("Could not find element by name: ") + m.member);
        }
    }
}

TEST(WireRecords, UnconvertibleRequiredValueFails) {
    SOAPEnvelope env = parse_body("<v><Name>x</Name><Access>READACCESS</Access>"
                                  "<Deny>maybe</Deny></v>");
    AccessSpec a;
    EXPECT_THROW(env.method.GetParameter("v") >> a, SOAPException);
}

TEST(WireRecords, UnknownEnumTokensKeepPriorValues) {
    SOAPEnvelope env = parse_body(
        "<cookie><Url>u</Url><Action>PUT</Action><Freshness>1</Freshness></cookie>"
        "<watch><Name/><Description xsi:nil=\"true\"/><Query>q</Query><Parser>SOAPARSER</Parser>"
        "<Freshness>0</Freshness><Collection>1</Collection></watch>"
        "<archive><Name>n</Name><Historicize>1</Historicize><AdministrativeContact/>"
        "<Source>1</Source><Auth>0</Auth><SchedulingFrequency>FORTNIGHTLY</SchedulingFrequency>"
        "<SchedulingAttribute>0</SchedulingAttribute><AccessTime>0</AccessTime>"
        "<PagesLimit>0</PagesLimit><GarbageLimit>0</GarbageLimit></archive>");
    CookieAuthParams cookie;
    cookie.Action = COOKIE_POST;
    env.method.GetParameter("cookie") >> cookie;
    EXPECT_EQ(cookie.Action, COOKIE_POST);
    WatchConfiguration w;
    w.Parser = NOPARSER;
    w.Description = "old";
    env.method.GetParameter("watch") >> w;
    EXPECT_EQ(w.Parser, ALGPARSER);
    EXPECT_EQ(w.Description, ""); // nil reads as the empty string
    ArchiveConfiguration a;
    a.SchedulingFrequency = WEEKLY;
    env.method.GetParameter("archive") >> a;
    EXPECT_EQ(a.SchedulingFrequency, WEEKLY);
    EXPECT_TRUE(a.Historicize);
}

// --- info, log and query records ---

TEST(WireInfo, InfoRecordsRoundTripInOrder) {
    SourceInfo si{12, full_source(), 0xFEDCBA98u, true};
    EXPECT_EQ(round_trip(si), si);
    ArchiveInfo ai{3, full_archive(), 77, false, true, 1000, 4, 1700000000, 1700003600, 0};
    EXPECT_EQ(round_trip(ai), ai);
    SOAPEnvelope env = through_envelope(std::vector<ArchiveInfo>{ai});
    const SOAPParameter& list = env.method.GetParameter("v");
    EXPECT_EQ(*list.FindAttribute(kArrayType), tn("ArchiveInfo[1]"));
    EXPECT_EQ(
        member_names(list.GetParameterAt(0)),
        (std::vector<std::string>{"Archive", "Configuration", "Magic", "ReadOnly", "Crawling",
                                  "Documents", "Errors", "LastRunStart", "LastRunEnd", "NextRun"}));
    EXPECT_EQ(type_of(list.GetParameterAt(0).GetParameter("Configuration")),
              tn("ArchiveConfiguration"));

    IndexInfo ii{"Old", 3, true, true, 5, 1, 10, 20, 30, full_index(), 0x80000000u};
    EXPECT_EQ(round_trip(ii), ii);
    env = through_envelope(ii);
    EXPECT_EQ(member_names(env.method.GetParameter("v")),
              (std::vector<std::string>{"Name", "Index", "Crawling", "Historicize", "Documents",
                                        "Errors", "LastRunStart", "LastRunEnd", "NextRun",
                                        "Configuration", "Magic"}));
    EXPECT_EQ(env.method.GetParameter("v").GetParameter("Magic").GetString(), "-2147483648");

    CollectionInfo ci{5, {"c", "d", {1}, {}}, 9, true};
    EXPECT_EQ(round_trip(ci), ci);
    WatchInfo wi{6, {"w", "d", "q", RPNPARSER, 1, 5, {}}, 10, false};
    EXPECT_EQ(round_trip(wi), wi);

    PluginInfo pi{8,
                  ARCHIVEFFF_PLUGINTYPE,
                  {ARCHIVEFFF_PLUGINTYPE, "p", "d", "lib.so", "", some_acl()},
                  3,
                  true};
    EXPECT_EQ(round_trip(pi), pi);
    env = through_envelope(pi);
    EXPECT_EQ(
        member_names(env.method.GetParameter("v")),
        (std::vector<std::string>{"PluginID", "Type", "PluginConfiguration", "Magic", "ReadOnly"}));
    EXPECT_EQ(type_of(env.method.GetParameter("v").GetParameter("PluginConfiguration")),
              tn("Plugin"));
    DocFilterInfo di{
        9, ARCHIVEFFF_PLUGINTYPE, {ARCHIVEFFF_PLUGINTYPE, "f", "d", 8, "c", {}}, 4, false};
    EXPECT_EQ(round_trip(di), di);
    EXPECT_EQ(type_of(through_envelope(di).method.GetParameter("v").GetParameter(
                  "DocFilterConfiguration")),
              tn("DocFilter"));
}

TEST(WireInfo, LogStatusAndHitRows) {
    std::vector<CrawlLog> crawls{{100, "c1"}, {200, ""}};
    EXPECT_EQ(round_trip(crawls), crawls);
    std::vector<QueryLogData> queries{{5, "a AND b"}};
    EXPECT_EQ(round_trip(queries), queries);
    std::vector<ExtendedStatus> status{{"Documents", "12"}, {"Version", "2"}};
    EXPECT_EQ(round_trip(status), status);
    SOAPEnvelope env = through_envelope(status);
    EXPECT_EQ(*env.method.GetParameter("v").FindAttribute(kArrayType), tn("ExtendedStatus[2]"));

    PluginDLLInfo dll;
    dll.Type = ARCHIVEFFF_PLUGINTYPE;
    dll.Name = "libx.so";
    dll.Description = "X";
    PluginDLLInfo back = round_trip(dll);
    EXPECT_EQ(back.Type, dll.Type);
    EXPECT_EQ(back.Name, dll.Name);
    EXPECT_EQ(back.Description, dll.Description);

    QueryResult hit;
    hit.ID = "0011";
    hit.Url = "http://x/";
    hit.Title = "T";
    hit.MimeType = "text/html";
    hit.Timestamp = 1;
    hit.ServerTime = 2;
    hit.Score = 3;
    env = through_envelope(hit);
    EXPECT_EQ(member_names(env.method.GetParameter("v")),
              (std::vector<std::string>{"ID", "Url", "Title", "MimeType", "Timestamp", "ServerTime",
                                        "Score", "Categories"}));
    EXPECT_EQ(round_trip(hit), hit);
    hit.Contexts = {"one", "two"};
    hit.Archives = {4};
    hit.Categories = "a;b";
    EXPECT_EQ(round_trip(hit), hit);
    EXPECT_EQ(member_names(through_envelope(hit).method.GetParameter("v")),
              (std::vector<std::string>{"ID", "Url", "Title", "MimeType", "Contexts", "Timestamp",
                                        "ServerTime", "Score", "Archives", "Categories"}));
}

TEST(WireQuery, ClientFormRoundTrips) {
    QuerySpec q;
    q.Archives = {1, 2};
    q.Collection = -1;
    q.FirstDoc = 10;
    q.LastDoc = 19;
    q.MinScore = 5;
    q.Info = INFO_URL;
    q.View = VIEW_CORECHANGED;
    q.Sort = SORT_TIME_NEWER;
    q.Parser = RPNPARSER;
    q.Query = {{ATOM_WORD, "", "a"}, {ATOM_META, "title", "b"}, {ATOM_AND, "", "2"}};
    q.QueryString = "a b AND";
    q.Weights = {{1, 50}, {2, 0}};
    EXPECT_EQ(round_trip(q), q);
    SOAPEnvelope env = through_envelope(q);
    EXPECT_EQ(type_of(env.method.GetParameter("v")), tn("QuerySpec"));
    EXPECT_EQ(member_names(env.method.GetParameter("v")),
              (std::vector<std::string>{"Archives", "Collection", "Watch", "FirstDoc", "LastDoc",
                                        "MinTime", "MaxTime", "MinScore", "Info", "View", "Sort",
                                        "Parser", "Query", "QueryString", "Weights"}));
    EXPECT_EQ(member_names(env.method.GetParameter("v").GetParameter("Query").GetParameterAt(1)),
              (std::vector<std::string>{"Type", "Param", "Meta"}));
}

TEST(WireQuery, DaemonReadingRules) {
    const std::string docs = "<FirstDoc>0</FirstDoc><LastDoc>9</LastDoc><MinTime>0</MinTime>"
                             "<MaxTime>100</MaxTime>";
    const std::string enums =
        "<Info>INFO_TITLE</Info><View>PUBLISHED</View><Sort>SCORE_AGED</Sort>";
    auto ints = [](const char* name, const char* items, int n) {
        return std::string("<") + name + " SOAP-ENC:arrayType=\"xsd:int[" + std::to_string(n) +
               "]\">" + items + "</" + name + ">";
    };
    struct Case {
        std::string members;
        std::vector<int32_t> archives; // expected
        bool fails;
    };
    const Case cases[] = {
        {"<Archive>7</Archive>" + docs + enums, {7}, false},
        {ints("Archives", "<item>3</item><item>4</item>", 2) + "<Archive>7</Archive>" + docs +
             enums,
         {3, 4, 7},
         false},
        {docs + enums, {}, true},
        {ints("Indexes", "<item>2</item>", 1) + docs + enums, {2}, false},
        {"<Collection>5</Collection>" + ints("Indexes", "<item>2</item>", 1) + docs + enums,
         {},
         false},
        {"<Archive>1</Archive><LastDoc>9</LastDoc><MinTime>0</MinTime><MaxTime>1</MaxTime>" + enums,
         {},
         true},
        {"<Archive>1</Archive>" + docs + "<Info>INFO_URL</Info><Sort>SORT_SCORE</Sort>", {}, true},
        // A broken query list is skipped: the record reads.
        {"<Archive>1</Archive>" + docs + enums +
             "<Query SOAP-ENC:arrayType=\"tn:QueryAtom[1]\"><item><Type>ATOM_WORD</Type>"
             "<Param>a</Param></item><item/></Query>",
         {1},
         false},
    };
    for (const Case& c : cases) {
        SOAPEnvelope env = parse_body("<query>" + c.members + "</query>");
        QuerySpec q;
        if (c.fails) {
            EXPECT_THROW(env.method.GetParameter("query") >> q, SOAPException) << c.members;
            continue;
        }
        ASSERT_NO_THROW(env.method.GetParameter("query") >> q) << c.members;
        EXPECT_EQ(q.Archives, c.archives) << c.members;
        EXPECT_EQ(q.MinScore, 0);
        EXPECT_EQ(q.Parser, NOPARSER);
        EXPECT_EQ(q.Info, INFO_TITLE);
        EXPECT_EQ(q.Sort, SORT_STANDARD);
        EXPECT_EQ(q.MaxTime, 100);
    }

    // A query atom without Meta reads with an empty meta; without Param it fails.
    SOAPEnvelope env = parse_body("<a><Type>NEAR_SET</Type><Param>3</Param></a>"
                                  "<b><Type>WORD</Type></b>"
                                  "<w><Slice>1</Slice></w>");
    QueryAtom atom;
    env.method.GetParameter("a") >> atom;
    EXPECT_EQ(atom, (QueryAtom{ATOM_NEAR, "", "3"}));
    EXPECT_THROW(env.method.GetParameter("b") >> atom, SOAPException);
    QuerySliceWeight weight;
    EXPECT_THROW(env.method.GetParameter("w") >> weight, SOAPException);
}

// --- arrays ---

TEST(WireArrays, SizesOffsetsPositionsAndNil) {
    struct Case {
        std::string xml; // the element "v"
        std::vector<int> expected;
        const char* error; // nullptr: reads
    };
    const Case cases[] = {
        {"<v SOAP-ENC:arrayType=\"xsd:int[3]\"><item>1</item><item>2</item></v>",
         {1, 2, 0},
         nullptr},
        {"<v SOAP-ENC:arrayType=\"xsd:int[]\"><item>1</item><item>2</item></v>", {1, 2}, nullptr},
        {"<v SOAP-ENC:arrayType=\"xsd:int[1]\"><item>1</item><item>2</item></v>",
         {},
         "Error de-serializing array.  Too many values in array.  Array specified 1, found 2."},
        {"<v SOAP-ENC:arrayType=\"xsd:int[3]\"><item>1</item>"
         "<item SOAP-ENC:position=\"[2]\">3</item></v>",
         {1, 0, 3},
         nullptr},
        {"<v SOAP-ENC:arrayType=\"xsd:int[2]\"><item SOAP-ENC:position=\"[1]\">1</item>"
         "<item SOAP-ENC:position=\"[0]\">2</item></v>",
         {},
         "Error decoding array, position attribute cannot point to a previous element. Current "
         "position: [2], next position: [0]"},
        {"<v SOAP-ENC:arrayType=\"xsd:int[3]\" SOAP-ENC:offset=\"[2]\"><item>1</item>"
         "<item>2</item></v>",
         {},
         "Error decoding array, position out of range. Current size: [3], requested position: [3]"},
        {"<v SOAP-ENC:arrayType=\"xsd:int[2,2]\"><item>1</item></v>",
         {},
         "Invalid value for array encoding tag 'arrayType': int[2,2]"},
        {"<v xsi:nil=\"true\" SOAP-ENC:arrayType=\"xsd:int[2]\"/>", {}, nullptr},
        {"<v xsi:nil=\"true\"><item>1</item></v>",
         {},
         "Got xsi:nil attribute on array but parameter has values.."},
        {"<v SOAP-ENC:arrayType=\"xsd:int[0]\"/>", {}, nullptr},
    };
    for (const Case& c : cases) {
        SOAPEnvelope env = parse_body(c.xml);
        std::vector<int> list{9, 9, 9, 9};
        if (c.error) {
            try {
                env.method.GetParameter("v") >> list;
                ADD_FAILURE() << "no failure for " << c.xml;
            } catch (const SOAPException& e) {
                EXPECT_EQ(std::string(e.what()), c.error);
            }
        } else {
            env.method.GetParameter("v") >> list;
            EXPECT_EQ(list, c.expected) << c.xml;
        }
    }
}

TEST(WireArrays, RecordItemsReadWhateverTheirNameAndEmptyListsRoundTrip) {
    SOAPEnvelope env = parse_body("<acl SOAP-ENC:arrayType=\"tn:AccessSpec[2]\">"
                                  "<x><Name>a</Name><Access>WRITEACCESS</Access><Deny>0</Deny></x>"
                                  "<y><Deny>true</Deny><Name>b</Name><Access>NOPE</Access></y>"
                                  "</acl>");
    std::vector<AccessSpec> acl;
    env.method.GetParameter("acl") >> acl;
    EXPECT_EQ(acl, (std::vector<AccessSpec>{{"a", WRITEACCESS, false}, {"b", READACCESS, true}}));

    for (const auto& empty : {std::vector<SourceInfo>{}}) {
        SOAPEnvelope e = through_envelope(empty);
        EXPECT_EQ(*e.method.GetParameter("v").FindAttribute(kArrayType), tn("SourceInfo[0]"));
        EXPECT_EQ(e.method.GetParameter("v").GetNumParams(), 0u);
        EXPECT_TRUE(round_trip(empty).empty());
    }
    EXPECT_TRUE(round_trip(std::vector<std::string>{}).empty());
}

// --- an independent writer ---

TEST(WireSoapLite, ReadsRecordsWrittenBySoapLite) {
    if (std::system("perl -MSOAP::Lite -e1 2>/dev/null") != 0)
        GTEST_SKIP() << "libsoap-lite-perl is not installed";
    std::string command =
        std::string("perl ") + TN_TEST_DATA + "/soaplite_records.pl " + SERVICE_NS;
    int status = -1;
    const std::string xml = tn_test::command_output_with_status(command, status);
    ASSERT_EQ(status, 0);

    SOAPEnvelope env = ReadEnvelope(xml);
    SourceConfiguration s;
    env.method.GetParameter("cfg") >> s;
    EXPECT_EQ(s.Name, "Intranet \xC3\xA9t\xC3\xA9");
    EXPECT_EQ(s.Description, "a & <b>");
    EXPECT_EQ(s.Seeds, (std::vector<std::string>{"http://intra/", "http://wiki/"}));
    EXPECT_TRUE(s.CheckRobotsTxt);
    EXPECT_EQ(s.DepthLimit, 5);
    EXPECT_EQ(s.Type, AUTH_COOKIE);
    EXPECT_EQ(s.CookieParams.Action, COOKIE_POST);
    EXPECT_EQ(s.CookieParams.Freshness, 3600);
    EXPECT_EQ(s.CookieParams.Params, (std::vector<CookieParam>{{"user", "bob", COOKIE_USERNAME}}));
    EXPECT_EQ(s.RendererDocFilterIDs, (std::vector<int32_t>{4, 9}));
    EXPECT_EQ(s.TextExclusionBeginMarker, "");
    EXPECT_EQ(s.ACL, (std::vector<AccessSpec>{{"staff", WRITEACCESS, false},
                                              {"guest", READACCESS, true}}));

    ArchiveConfiguration a;
    env.method.GetParameter("archive") >> a;
    EXPECT_EQ(a.Name, "Wiki");
    EXPECT_TRUE(a.Historicize);
    EXPECT_EQ(a.Source, 3);
    EXPECT_EQ(a.SchedulingFrequency, WEEKLY);
    EXPECT_EQ(a.PagesLimit, 1000);
    EXPECT_EQ(a.DocumentCache, FULLCACHE);

    QuerySpec q;
    env.method.GetParameter("query") >> q;
    EXPECT_EQ(q.Archives, (std::vector<int32_t>{3, 4, 7}));
    EXPECT_EQ(q.FirstDoc, 10);
    EXPECT_EQ(q.LastDoc, 19);
    EXPECT_EQ(q.Info, INFO_TITLE);
    EXPECT_EQ(q.View, VIEW_CORECHANGED);
    EXPECT_EQ(q.Sort, SORT_STANDARD);
    EXPECT_EQ(q.Parser, ALGPARSER);
    EXPECT_EQ(q.Query, (std::vector<QueryAtom>{{ATOM_WORD, "", "lumbrake"}, {ATOM_NEAR, "", "2"}}));
    EXPECT_EQ(q.QueryString, "wiki AND intra");
    EXPECT_EQ(q.Weights, (std::vector<QuerySliceWeight>{{1, 50}}));

    std::vector<PluginType> types;
    env.method.GetParameter("types") >> types;
    EXPECT_EQ(types, (std::vector<PluginType>{ARCHIVEFFF_PLUGINTYPE, UNKNOWN_PLUGINTYPE}));
}

} // namespace
