// The research-pane service end to end: collections and archives in a scratch database,
// documents in the document store and in a real siftvault, requests through the real HTTP
// front end from the curl program and from our SOAP client.
#include "../idxstorage/idx_test_env.h"
#include "apiops/api-common.h"
#include "docstorage/docstorage.h"
#include "idxstorage/idxstorage.h"
#include "logstorage/logstorage.h"
#include "soap/soap_proxy.h"
#include "trawlnestd/cfgstorage.h"
#include "webservices/research.h"
#include "util/md5.h"
#include "fff/FFF.h"
#include "../support/http_client.h"
#include "../support/http_front.h"
#include "../support/fff_fixtures.h"
#include "../support/stored_page.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace lumbrake;

namespace {

std::string run_curl(const std::string& args) {
    return tn_test::command_output("curl -s -S --max-time 20 " + args + " 2>&1");
}

const char* const siftvault_program = TN_BINARY_DIR "/src/index-server/siftvault";


std::string fff_of(const std::vector<std::string>& title, const std::vector<std::string>& words) {
    return fff_document(words, 10, &title);
}

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

const std::string G1 = "{00000001-FFC8-46E6-8124-4D53B625F130}";
const std::string G2 = "{00000002-FFC8-46E6-8124-4D53B625F130}";
const std::string GALL = "{FFFFFFFF-FFC8-46E6-8124-4D53B625F130}";

class Research : public ::testing::Test {
protected:
    void SetUp() override {
        deploy_ = std::make_unique<idx_test::scratch_deploy>(siftvault_program);
        db_path_ = (deploy_->data() / "trawlnest.db").string();
        ASSERT_EQ(sqlite3_open(db_path_.c_str(), &db_), SQLITE_OK);
        stores_ = std::make_unique<config_stores>(db_);
        docs_ = std::make_unique<docstorage>(db_);
        logs_ = std::make_unique<logstorage>(db_);
        index_ = std::make_unique<idxstorage>();
        now_ = std::time(nullptr);

        // Archive 1 is open to everyone and holds 25 "alpha" documents; archive 2 only the
        // administrator reads.
        std::uint32_t magic = 0;
        ArchiveConfiguration open_archive;
        open_archive.Name = "open";
        open_archive.ACL = {{"All Users", READACCESS, false}};
        ASSERT_EQ(cfgstorage<ArchiveConfiguration>::add(db_, open_archive, magic), 1);
        ArchiveConfiguration closed = open_archive;
        closed.Name = "closed";
        closed.ACL = {};
        ASSERT_EQ(cfgstorage<ArchiveConfiguration>::add(db_, closed, magic), 2);

        add("g-amp", 1, {"R", "&", "D", "<", "plan", ">"}, {"alpha", "special"},
            "http://intra/a?x=1&y=\"2\"");
        for (int i = 0; i < 24; ++i)
            add("g-" + std::to_string(i), 1, {"Doc", std::to_string(i)}, {"alpha"},
                "http://intra/" + std::to_string(i));
        add("g-secret", 2, {"Secret"}, {"alpha", "secret"}, "http://intra/secret");
        index_->flush();

        // Collection 1 ("Open & <shared>") everyone reads; collection 2 only the administrator.
        CollectionConfiguration c1;
        c1.Name = "Open & <shared>";
        c1.Archives = {1, 2};
        c1.ACL = {{"All Users", READACCESS, false}};
        ASSERT_EQ(cfgstorage<CollectionConfiguration>::add(db_, c1, magic), 1);
        CollectionConfiguration c2;
        c2.Name = "Closed";
        c2.Archives = {2};
        ASSERT_EQ(cfgstorage<CollectionConfiguration>::add(db_, c2, magic), 2);

        services_.docs = docs_.get();
        services_.logs = logs_.get();
        services_.index = index_.get();
        services_.clock = [this] { return now_; };

        config_file_ = (deploy_->data() / "http.conf").string();
        std::ofstream(config_file_) << "HTTP_USER=root\nHTTP_MD5PASS=" << md5_hex("secret") << "\n";
        start_server();
    }
    void TearDown() override {
        server_.reset();
        index_.reset();
        logs_.reset();
        docs_.reset();
        stores_.reset();
        sqlite3_close(db_);
        deploy_.reset();
    }

    void add(const std::string& guid, std::uint32_t arcid, const std::vector<std::string>& title,
             const std::vector<std::string>& words, const std::string& url) {
        const std::string fff = fff_of(title, words);
        auto t = static_cast<std::uint32_t>(now_ - 600);
        tn_test::store_and_index_page(db_, *docs_, *index_, guid, arcid, url, t, fff);
    }

    LumbrakeResearchHandler::context_maker maker() {
        return [this](httpcontext& context) {
            api_context ctx;
            ctx.services = services_;
            ctx.db = context.db;
            ctx.user = context.user;
            ctx.groups = context.groups;
            ctx.admin = context.admin;
            return ctx;
        };
    }

    void start_server() {
        http_hooks hooks;
        hooks.config_file = config_file_;
        tn_test::open_db_per_thread(hooks, db_path_);
        hooks.load_login = [](sqlite3*, LoginConfiguration& login) {
            login.add_user("bob", "bobpw", false, {});
            return true;
        };
        http_services_.research_handler = research_handler_factory(maker());
        server_ = tn_test::start_http_front(2, hooks, http_services_, 5);
        port_ = server_->bound_port();
        ASSERT_NE(port_, 0);
    }

    // Posts a hand-written envelope to /research; returns the body.
    std::string post(const std::string& method, const std::string& params,
                     const std::string& credentials = "-u root:secret") {
        std::string body = "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope "
                           "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body><" +
                           method + " xmlns=\"urn:Microsoft.Search\">" + params + "</" + method +
                           "></soap:Body></soap:Envelope>";
        std::string file = (deploy_->data() / "body.xml").string();
        std::ofstream(file, std::ios::binary) << body;
        return run_curl(credentials +
                        " -H 'Content-Type: text/xml; charset=utf-8' -H "
                        "'SOAPAction: \"urn:Microsoft.Search/" +
                        method + "\"' --data-binary @" + file +
                        " http://127.0.0.1:" + std::to_string(port_) + "/research");
    }

    // The research answer string through our SOAP client.
    std::string call(const std::string& method, const char* param, const std::string& xml,
                     const std::string& user = "root:secret") {
        EasySoap::SOAPProxy proxy(
            ("http://" + user + "@127.0.0.1:" + std::to_string(port_) + "/research").c_str());
        proxy.SetTimeout(20);
        EasySoap::SOAPMethod m(method, RESEARCH_NS);
        if (param) m.AddParameter(param) << xml;
        std::string text;
        proxy.Execute(m).GetParameter("return") >> text;
        return text;
    }

    static std::string packet(const std::string& queries) {
        return "<QueryPacket xmlns=\"urn:Microsoft.Search.Query\" revision=\"1.0\">" + queries +
               "</QueryPacket>";
    }
    static std::string query(const std::string& guid, const std::string& children) {
        return "<Query domain=\"" + guid + "\">" + children + "</Query>";
    }

    std::unique_ptr<idx_test::scratch_deploy> deploy_;
    std::string db_path_, config_file_;
    sqlite3* db_ = nullptr;
    std::unique_ptr<config_stores> stores_;
    std::unique_ptr<docstorage> docs_;
    std::unique_ptr<logstorage> logs_;
    std::unique_ptr<idxstorage> index_;
    std::int64_t now_ = 0;
    crawl_services services_;
    http_services http_services_;
    std::unique_ptr<httpserver> server_;
    int port_ = 0;
};

TEST_F(Research, RegistrationOffersTheReadableCollections) {
    const std::string port = std::to_string(port_);
    std::string admin = call("Registration", "registrationXml", "<ignored/>");
    EXPECT_EQ(admin,
              "<?xml version=\"1.0\" encoding=\"utf-8\"?><ProviderUpdate "
              "xmlns=\"urn:Microsoft.Search.Registration.Response\"><Status>SUCCESS</Status>"
              "<Providers><Provider><Message>lumbrake trawlnest research library</Message>"
              "<Id>{435DAFCC-828A-4274-A193-3ED3C0A5404A}</Id><Name>lumbrake trawlnest</Name>"
              "<QueryPath>http://127.0.0.1:" +
                  port + "/research</QueryPath><RegistrationPath>http://127.0.0.1:" + port +
                  "/research</RegistrationPath><AboutPath></AboutPath><Type>SOAP</Type>"
                  "<Services><Service><Id>" +
                  G1 +
                  "</Id><Name>lumbrake trawlnest: Open &amp; &lt;shared&gt;</Name>"
                  "<Description>lumbrake trawlnest collection</Description><Copyright>"
                  "Documents of this organisation; all rights reserved by their owners."
                  "</Copyright><Display>On</Display><Category>RESEARCH_GENERAL</Category>"
                  "</Service><Service><Id>" +
                  G2 + "</Id><Name>lumbrake trawlnest: Closed</Name>" +
                  admin.substr(admin.find("<Description>", admin.find(G2))));

    // bob sees only the collection he may read; a missing registrationXml changes nothing.
    std::string bob = call("Registration", nullptr, "", "bob:bobpw");
    EXPECT_EQ(count_of(bob, "<Service>"), 1u) << bob;
    EXPECT_NE(bob.find(G1), std::string::npos);
    EXPECT_EQ(bob.find(G2), std::string::npos);

    // The answer is one xsd:string whose text is the escaped document.
    std::string raw = post("Registration", "");
    EXPECT_NE(raw.find("xsi:type=\"xsd:string\">&lt;?xml version"), std::string::npos) << raw;
}

TEST_F(Research, RegistrationPathsCarryThePortUnless80) {
    httpcontext context;
    context.db = db_;
    context.admin = true;
    struct Case {
        int port;
        bool secure;
        const char* query_path;
        const char* registration_path;
    } cases[] = {
        {80, false, "http://intra/research", "http://intra/research"},
        {2200, false, "http://intra:2200/research", "http://intra:2200/research"},
        {443, true, "https://intra:443/research", "http://intra:443/research"},
    };
    for (const Case& c : cases) {
        LumbrakeResearchHandler handler(context, "intra", c.port, c.secure, maker());
        std::string xml = handler.registration_xml();
        EXPECT_NE(xml.find(std::string("<QueryPath>") + c.query_path + "</QueryPath>"),
                  std::string::npos)
            << xml;
        EXPECT_NE(xml.find(std::string("<RegistrationPath>") + c.registration_path +
                           "</RegistrationPath>"),
                  std::string::npos)
            << xml;
    }
    // A hostile Host value cannot break the document.
    LumbrakeResearchHandler handler(context, "x\"><evil>", 80, false, maker());
    EXPECT_NE(handler.registration_xml().find("<QueryPath>http://x&quot;&gt;&lt;evil&gt;/research"),
              std::string::npos);
}

TEST_F(Research, QueryAnswersEachCollectionInOrder) {
    // Collection 2 first (refused to bob, answered to root), then collection 1.
    const std::string xml = packet(
        query(G2, "<QueryText>secret</QueryText>") + query(G1, "<QueryText>special</QueryText>") +
        query(G1, "<QueryText>alpha</QueryText><StartAt>11</StartAt><Count>10</Count>") +
        query(G1, "<QueryText>alpha</QueryText><Count>10</Count><StartAt>11</StartAt>") +
        query(GALL, "<QueryText>alpha</QueryText>"));

    std::string root = call("Query", "queryXml", xml);
    ASSERT_EQ(root.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?><ResponsePacket revision=\"1\" "
                         "xmlns=\"urn:Microsoft.Search.Response\"><Response domain=\"" +
                             G2 + "\">",
                         0),
              0u)
        << root;
    EXPECT_EQ(count_of(root, "<Response "), 5u);
    EXPECT_NE(root.find("<Text>Secret</Text>"), std::string::npos);

    std::string bob = call("Query", "queryXml", xml, "bob:bobpw");
    EXPECT_EQ(count_of(bob, "<Response "), 4u) << bob; // no answer for collection 2
    EXPECT_EQ(bob.find("Secret"), std::string::npos);

    // Split bob's answer into its responses.
    std::vector<std::string> responses;
    for (std::size_t at = bob.find("<Response "); at != std::string::npos;) {
        std::size_t end = bob.find("</Response>", at);
        responses.push_back(bob.substr(at, end - at));
        at = bob.find("<Response ", end);
    }
    ASSERT_EQ(responses.size(), 4u);

    // One hit whose title and URL need escaping, in the text and in the attribute.
    EXPECT_EQ(responses[0],
              "<Response domain=\"" + G1 +
                  "\"><Range><StartAt>1</StartAt><Count>5</Count><TotalAvailable>1"
                  "</TotalAvailable><Results><Content "
                  "xmlns=\"urn:Microsoft.Search.Response.Content\"><Heading collapsible=\"true\">"
                  "<Text>R&amp;D&lt;plan&gt;</Text><Hyperlink "
                  "url=\"http://intra/a?x=1&amp;y=&quot;2&quot;\"><Text>"
                  "http://intra/a?x=1&amp;y=&quot;2&quot;</Text></Hyperlink></Heading>"
                  "<HorizontalRule/></Content></Results></Range><Status>SUCCESS</Status>");
    // StartAt 11, Count 10: results 11 to 20 of the 25 that bob may read.
    EXPECT_NE(responses[1].find("<StartAt>11</StartAt><Count>10</Count><TotalAvailable>25<"),
              std::string::npos)
        << responses[1];
    EXPECT_EQ(count_of(responses[1], "<Heading "), 10u);
    EXPECT_EQ(count_of(responses[1], "<HorizontalRule/>"), 10u);
    // Count before StartAt: FirstDoc 10, LastDoc 9 asks for nothing.
    EXPECT_NE(responses[2].find("<StartAt>11</StartAt><Count>0</Count><TotalAvailable>25<"),
              std::string::npos)
        << responses[2];
    EXPECT_EQ(count_of(responses[2], "<Heading "), 0u);
    // FFFFFFFF: every archive bob may read, at most five results, the same domain text back.
    EXPECT_EQ(responses[3].rfind("<Response domain=\"" + GALL +
                                     "\"><Range><StartAt>1</StartAt>"
                                     "<Count>5</Count><TotalAvailable>25<",
                                 0),
              0u)
        << responses[3];
    EXPECT_EQ(count_of(responses[3], "<Heading "), 5u);
}

TEST_F(Research, PacketsWithoutUsableQueries) {
    const std::string empty = "<?xml version=\"1.0\" encoding=\"utf-8\"?><ResponsePacket "
                              "revision=\"1\" xmlns=\"urn:Microsoft.Search.Response\">"
                              "</ResponsePacket>";
    EXPECT_EQ(call("Query", nullptr, ""), empty);           // no queryXml
    EXPECT_EQ(call("Query", "queryXml", "not xml"), empty); // malformed
    EXPECT_EQ(call("Query", "queryXml",
                   packet(query("{nohex}", "<QueryText>alpha</QueryText>") +
                          query(G1, "<QueryText>alpha &amp;</QueryText>"))),
              empty);
    // A query completed before an XML error is still answered.
    std::string cut = call("Query", "queryXml",
                           "<QueryPacket xmlns=\"urn:Microsoft.Search.Query\">" +
                               query(G1, "<QueryText>special</QueryText>") + "<Query domain=");
    EXPECT_EQ(count_of(cut, "<Response "), 1u) << cut;

    // A hand-written envelope through curl; an unreadable queryXml (a struct) counts as empty.
    std::string raw = post("Query", "<queryXml><a>1</a></queryXml>");
    EXPECT_NE(raw.find("&lt;/ResponsePacket&gt;"), std::string::npos) << raw;
    EXPECT_EQ(raw.find("Response domain"), std::string::npos);
    // Unknown methods of the namespace are SOAP faults; the service needs a login.
    EXPECT_NE(post("Status", "").find("Fault"), std::string::npos);
    EXPECT_EQ(post("Query", "", "-u bob:wrong -o /dev/null -w '%{http_code}'"), "401");
}

} // namespace
