// The SOAP client proxy against a stand-in daemon on 127.0.0.1: request wire forms, optional
// and required results, faults; and the string conversions.
#include "client/soap-client-proxy.h"
#include "client/string-conv.h"
#include "fake_daemon.h"

#include <gtest/gtest.h>

using namespace lumbrake;
using EasySoap::SOAPException;
using EasySoap::SOAPMethod;

namespace {

std::vector<std::string> child_names(const EasySoap::SOAPParameter& p) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < p.GetNumParams(); ++i)
        out.push_back(p.GetParameterAt(i).GetName().GetName());
    return out;
}

TEST(SoapClientProxy, OptionalListsMissingGiveEmptyListsWithoutError) {
    FakeDaemon d;
    d.on("EnumSourceConfigurations", [](const SOAPMethod&, SOAPMethod&) {});
    d.on("GetStatus",
         [](const SOAPMethod&, SOAPMethod& r) { r.AddParameter("status") << CRAWLSTOPPED; });
    SoapClientProxy proxy(d.url());
    std::vector<SourceInfo> infos(2);
    proxy.EnumSourceConfigurations(infos);
    EXPECT_TRUE(infos.empty());
    api_status_code status = RUNNING;
    std::vector<ExtendedStatus> ext{{"k", "v"}};
    proxy.GetStatus(status, ext);
    EXPECT_EQ(status, CRAWLSTOPPED);
    EXPECT_TRUE(ext.empty());
}

TEST(SoapClientProxy, UnknownStatusTokenKeepsCallersValue) {
    FakeDaemon d;
    d.raw("GetStatus",
          response_envelope("GetStatus", "<status>SLEEPING</status>"
                                         "<extendedstatus enc:arrayType=\"m:ExtendedStatus[1]\">"
                                         "<item><Key>a</Key><Value>b</Value></item>"
                                         "</extendedstatus>"));
    SoapClientProxy proxy(d.url());
    api_status_code status = LOWDISKSPACE;
    std::vector<ExtendedStatus> ext;
    proxy.GetStatus(status, ext);
    EXPECT_EQ(status, LOWDISKSPACE);
    ASSERT_EQ(ext.size(), 1u);
    EXPECT_EQ(ext[0].Key, "a");
}

TEST(SoapClientProxy, RootRendererPipeIsOptionalButMagicIsRequired) {
    FakeDaemon d;
    SoapClientProxy proxy(d.url());
    d.raw("GetRootRendererPipe", response_envelope("GetRootRendererPipe", "<magic>-7</magic>"));
    RendererPluginPipe pipe;
    uint32_t magic = 0;
    proxy.GetRootRendererPipe(pipe, magic);
    EXPECT_TRUE(pipe.DocFilterIDs.empty());
    EXPECT_EQ(magic, static_cast<uint32_t>(-7));

    d.raw("GetRootRendererPipe",
          response_envelope("GetRootRendererPipe",
                            "<pipe><DocFilterIDs enc:arrayType=\"xsd:int[2]\"><item>4</item>"
                            "<item>2</item></DocFilterIDs></pipe>"));
    EXPECT_THROW(proxy.GetRootRendererPipe(pipe, magic), SOAPException);
}

TEST(SoapClientProxy, SetOperationsSendMagicUnchangedAndEmptyPipe) {
    FakeDaemon d;
    d.on("SetRootRendererPipe", [](const SOAPMethod&, SOAPMethod&) {});
    d.on("SetPlugin", [](const SOAPMethod&, SOAPMethod&) {});
    SoapClientProxy proxy(d.url());
    proxy.SetRootRendererPipe({}, 0xFFFFFFFEu);
    Plugin p;
    p.Name = "n";
    proxy.SetPlugin(3, p, 12345);
    auto calls = d.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].request.GetParameter("magic").GetInt(), -2);
    EXPECT_EQ(child_names(calls[0].request), (std::vector<std::string>{"pipe", "magic"}));
    EXPECT_NE(calls[0].body.find("SOAP-ENC:arrayType=\"xsd:int[0]\""), std::string::npos)
        << calls[0].body;
    EXPECT_EQ(child_names(calls[1].request), (std::vector<std::string>{"id", "plugin", "magic"}));
    EXPECT_EQ(calls[1].request.GetParameter("magic").GetInt(), 12345);
}

TEST(SoapClientProxy, EmptyGroupListIsStillSent) {
    FakeDaemon d;
    d.on("AddUser", [](const SOAPMethod&, SOAPMethod&) {});
    SoapClientProxy proxy(d.url());
    proxy.AddUser("u", "p", true, {});
    auto calls = d.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(child_names(calls[0].request),
              (std::vector<std::string>{"username", "password", "admin", "groups"}));
    EXPECT_EQ(calls[0].request.GetParameter("groups").GetNumParams(), 0u);
    EXPECT_NE(calls[0].body.find("SOAP-ENC:arrayType=\"xsd:string[0]\""), std::string::npos);
}

TEST(SoapClientProxy, PluginTypeListsAndDefaultQuerySpecWireForm) {
    FakeDaemon d;
    d.on("EnumDocFilters", [](const SOAPMethod&, SOAPMethod&) {});
    d.on("Query", [](const SOAPMethod&, SOAPMethod& r) { r.AddParameter("maxresults") << 0; });
    SoapClientProxy proxy(d.url());
    std::vector<DocFilterInfo> infos;
    proxy.EnumDocFilters({UNKNOWN_PLUGINTYPE, ARCHIVEFFF_PLUGINTYPE}, true, infos);
    std::vector<QueryResult> results;
    int max = -1;
    proxy.Query(QuerySpec{}, results, max);
    EXPECT_EQ(max, 0);
    auto calls = d.calls();
    ASSERT_EQ(calls.size(), 2u);
    const auto& types = calls[0].request.GetParameter("types");
    ASSERT_EQ(types.GetNumParams(), 2u);
    EXPECT_EQ(types.GetParameterAt(0).GetString(), "UNKNOWN_PLUGINTYPE");
    EXPECT_EQ(types.GetParameterAt(1).GetString(), "ARCHIVEFFF_PLUGINTYPE");
    EXPECT_TRUE(calls[0].request.GetParameter("full").GetBoolean());
    QuerySpec full;
    full.Archives = {4, 5};
    full.Query = {QueryAtom{ATOM_WORD, "w", ""}};
    full.Weights = {QuerySliceWeight{15, 3}};
    full.Sort = SORT_TIME_OLDER;
    proxy.Query(full, results, max);
    calls = d.calls();
    ASSERT_EQ(calls.size(), 3u);
    const std::string& body = calls[2].body;
    for (const char* text : {"arrayType=\"xsd:int[2]\"", "QueryAtom[1]\"", "QuerySliceWeight[1]\"",
                             ">SORT_TIME_OLDER<", ">ATOM_WORD<"})
        EXPECT_NE(body.find(text), std::string::npos) << text;
    EXPECT_EQ(child_names(calls[1].request.GetParameter("query")),
              (std::vector<std::string>{"Collection", "Watch", "FirstDoc", "LastDoc", "MinTime",
                                        "MaxTime", "MinScore", "Info", "View", "Sort", "Parser",
                                        "QueryString"}));
}

TEST(SoapClientProxy, FaultsReachTheCallerAndLeaveListsAsTheyWere) {
    FakeDaemon d;
    d.on("GetAvailableCrawlLogs",
         [](const SOAPMethod&, SOAPMethod&) { throw FakeFault{"AccessViolation"}; });
    d.on("EnumPlugins", [](const SOAPMethod&, SOAPMethod&) { throw FakeFault{"BadMagic"}; });
    SoapClientProxy proxy(d.url());
    std::vector<CrawlLog> logs{{5, "x"}};
    try {
        proxy.GetAvailableCrawlLogs(1, logs);
        ADD_FAILURE();
    } catch (const SOAPException& e) {
        EXPECT_STREQ(e.what(), "SOAP Fault: AccessViolation");
    }
    EXPECT_EQ(logs.size(), 1u);
    // These three clear their list before sending.
    std::vector<PluginInfo> plugins(3);
    EXPECT_THROW(proxy.EnumPlugins({}, false, plugins), SOAPException);
    EXPECT_TRUE(plugins.empty());
}

TEST(SoapClientProxy, CrawlLogCursorIsSentAndOverwritten) {
    FakeDaemon d;
    d.on("GetCrawlLog", [](const SOAPMethod& req, SOAPMethod& r) {
        EXPECT_EQ(req.GetParameter("nmax").GetInt(), 50);
        EXPECT_EQ(req.GetParameter("log").GetParameter("Cookie").GetString(), "10");
        r.AddParameter("log") << CrawlLog{77, "-1"};
        r.AddParameter("data") << std::vector<CrawlLogData>{{9, "g", "http://x/", 3}};
    });
    SoapClientProxy proxy(d.url());
    CrawlLog cursor{77, "10"};
    std::vector<CrawlLogData> data;
    proxy.GetCrawlLog(2, 50, cursor, data);
    EXPECT_EQ(cursor.Cookie, "-1");
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(data[0].Url, "http://x/");
    EXPECT_EQ(data[0].Error, 3);
}

TEST(SoapClientProxy, DocumentBytesTravelAsBase64Unchanged) {
    FakeDaemon d;
    std::string got;
    d.on("AddDocument", [&](const SOAPMethod& req, SOAPMethod& r) {
        EasySoap::SOAPBase64 b;
        req.GetParameter("content") >> b;
        got = b.bytes;
        r.AddParameter("docid") << std::string("doc-1");
    });
    SoapClientProxy proxy(d.url());
    const std::string bytes("\0\xff<&>\x01 ]]>", 10);
    std::string id;
    proxy.AddDocument(4, "http://h/a", "text/plain", bytes, id);
    EXPECT_EQ(id, "doc-1");
    EXPECT_EQ(got, bytes);
    EXPECT_NE(d.calls()[0].body.find("xsi:type=\"xsd:base64Binary\""), std::string::npos);
}

TEST(SoapClientProxy, CallsHaveSaneTimeLimits) {
    EasySoap::SOAPProxy plain("http://127.0.0.1:1/");
    EXPECT_EQ(plain.GetConnectTimeout(), 30);
    EXPECT_EQ(plain.GetTimeout(), 300);
    // A text XML cannot carry is refused, not sent as U+FFFD.
    SoapClientProxy proxy("http://127.0.0.1:1/soap");
    try {
        proxy.RemoveDocument("id\xff");
        FAIL() << "sent";
    } catch (const SOAPException& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot send docid: XML cannot carry"),
                  std::string::npos)
            << e.what();
    }
}

TEST(SoapClientProxy, RequiredResultMissingThrows) {
    FakeDaemon d;
    d.on("AddPlugin", [](const SOAPMethod&, SOAPMethod&) {});
    SoapClientProxy proxy(d.url());
    int id = 0;
    EXPECT_THROW(proxy.AddPlugin(Plugin{}, id), SOAPException);
}

TEST(SoapClientProxy, TransportFailureThrows) {
    std::string url;
    {
        FakeDaemon d;
        url = d.url();
    }
    SoapClientProxy proxy(url);
    EXPECT_THROW(proxy.RemoveDocument("x"), SOAPException);
}

TEST(StringConversions, UrlEncodeAll) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"a b%", "a%20b%25"},
        {"@", "%40"},
        {"\xe9", "%E9"},
        {"\t", "%09"},
        {"%41", "%2541"},
        {"a<>\"#{}|\\^~[]`z", "a%3C%3E%22%23%7B%7D%7C%5C%5E%7E%5B%5D%60z"},
        {"/:?&=+$,;", "/:?&=+$,;"},
        {std::string("\0\x7f", 2), "%00%7F"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(url_encode_all(in), out) << in;
}

TEST(StringConversions, Utf8RoundTripsAndInvalidGivesEmpty) {
    EXPECT_TRUE(utf8_to_wx(std::string()).empty());
    EXPECT_EQ(wx_to_utf8(wxString()), "");
    const std::string text = "caf\xc3\xa9 \xe2\x82\xac";
    EXPECT_EQ(wx_to_utf8(utf8_to_wx(text)), text);
    EXPECT_EQ(utf8_to_wx(text).length(), 6u);
    EXPECT_TRUE(utf8_to_wx("bad \xff\xfe").empty());
    EXPECT_TRUE(utf8_to_wx(static_cast<const char*>(nullptr)).empty());
    const std::vector<std::string> list{"a", text, ""};
    EXPECT_EQ(wx_vector_to_utf8(utf8_vector_to_wx(list)), list);
}

} // namespace
