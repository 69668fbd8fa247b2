// The search and administration service behind the real HTTP front end on 127.0.0.1: called
// with our SOAP client, and with Perl's SOAP::Lite as an independent one.
#include "api-wire/wire-records.h"
#include "api/info-records.h"
#include "apiops/api-source.h"
#include "soap/soap_proxy.h"
#include "webservices/soap-search-service.h"
#include "util/config.h"
#include "util/md5.h"
#include "../support/api_fixture.h"
#include "../support/http_front.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace lumbrake;
using EasySoap::SOAPFaultException;
using EasySoap::SOAPMethod;
using EasySoap::SOAPParameter;
namespace fs = std::filesystem;

namespace {

std::string run(const std::string& command) {
    return tn_test::command_output(command + " 2>&1");
}

class SearchService : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = tn_test::test_scratch("soapservice");
        fs::create_directories(dir_ / "bin");
        db_path_ = (dir_ / "trawlnest.db").string();
        storages_ = std::make_unique<tn_test::api_storages>(db_path_, nullptr);
        std::ofstream(dir_ / "trawlnest.conf")
            << "DEPLOYDIR=" << dir_.string()
            << "\nHTTP_USER=root\nHTTP_MD5PASS=" << md5_hex("secret") << "\n";
        cfg_ = std::make_unique<config>((dir_ / "trawlnest.conf").c_str());
        base_.services.cfg = cfg_.get();
        storages_->fill(base_.services);
        base_.services.platform_id = "test-platform";
        base_.services.clock = [] { return std::int64_t{1700000000}; };
        base_.services.free_space = [](const std::string&) { return ~std::uint64_t{0}; };

        // A non-administrator who logs in through the login store.
        api_context admin = base_;
        admin.db = storages_->db();
        admin.admin = true;
        {
            api a(admin);
            api_result res;
            a.add_user(res, "bob", "bobpw", false, {"Staff"});
            ASSERT_TRUE(res.ok) << res.message;
        }

        http_hooks hooks;
        hooks.config_file = (dir_ / "trawlnest.conf").string();
        tn_test::open_db_per_thread(hooks, db_path_);
        hooks.load_login = [](sqlite3* db, LoginConfiguration& login) {
            std::uint32_t magic = 0;
            return cfgstorage<LoginConfiguration>::get(db, 0, login, magic);
        };
        services_.search_handler = [this](httpcontext& context) {
            return make_search_handler(context, base_);
        };
        server_ = tn_test::start_http_front(2, hooks, services_, 10);
        port_ = server_->bound_port();
        ASSERT_NE(port_, 0);
    }
    void TearDown() override {
        server_.reset();
        storages_.reset();
        fs::remove_all(dir_);
    }

    std::string endpoint(const std::string& credentials = "root:secret") const {
        return "http://" + credentials + "@127.0.0.1:" + std::to_string(port_) + "/soap";
    }

    // One call; the answer's method element is copied out of the proxy.
    SOAPMethod call(const SOAPMethod& method, const std::string& credentials = "root:secret") {
        EasySoap::SOAPProxy proxy(endpoint(credentials).c_str());
        proxy.SetTimeout(20);
        return proxy.Execute(method);
    }
    // The fault string of a call that must fail ("" when it succeeded).
    std::string fault_of(const SOAPMethod& method, const std::string& credentials = "root:secret") {
        try {
            call(method, credentials);
        } catch (const SOAPFaultException& e) {
            return e.GetFaultString();
        }
        return "";
    }

    static SOAPMethod method(const char* name) { return SOAPMethod(name, SERVICE_NS); }
    // An archive of that name, added by the administrator over SOAP; its id.
    int add_archive(const char* name) {
        SOAPMethod add = method("AddArchive");
        ArchiveConfiguration cfg;
        cfg.Name = name;
        add.AddParameter("cfg") << cfg;
        return read<ArchiveInfo>(call(add), "info").Archive;
    }
    template <class T> static T read(const SOAPParameter& p, const char* name) {
        T value{};
        p.GetParameter(name) >> value;
        return value;
    }

    std::string sql(const std::string& statement) const {
        return tn_test::sqlite_shell(db_path_, statement);
    }

    fs::path dir_;
    std::string db_path_;
    std::unique_ptr<tn_test::api_storages> storages_;
    std::unique_ptr<config> cfg_;
    api_context base_;
    http_services services_;
    std::unique_ptr<httpserver> server_;
    int port_ = 0;
};

SourceConfiguration source(const std::string& name) {
    SourceConfiguration cfg;
    cfg.Name = name;
    cfg.Seeds = {"http://www.example.com/"};
    return cfg;
}

TEST_F(SearchService, SourceLifecycleWithMagicOnTheWire) {
    SOAPMethod add = method("AddSource");
    add.AddParameter("cfg") << source("intranet");
    const SourceInfo added = read<SourceInfo>(call(add), "info");
    ASSERT_GT(added.Source, 0);
    EXPECT_EQ(added.Configuration.Name, "intranet");

    SOAPMethod get = method("GetSourceConfiguration");
    get.AddParameter("id") << added.Source;
    SOAPMethod got = call(get);
    EXPECT_EQ(read<SourceConfiguration>(got, "cfg"), added.Configuration);
    const int magic = read<int>(got, "magic"); // the bit pattern, possibly negative
    EXPECT_EQ(static_cast<std::uint32_t>(magic), added.Magic);

    SOAPMethod set = method("SetSourceConfiguration");
    set.AddParameter("id") << added.Source;
    set.AddParameter("cfg") << source("renamed");
    set.AddParameter("magic") << magic;
    const SourceInfo renamed = read<SourceInfo>(call(set), "info");
    EXPECT_EQ(renamed.Configuration.Name, "renamed");
    EXPECT_NE(renamed.Magic, added.Magic);

    // The old magic is stale now: refused, and nothing changes.
    set.GetParameter("cfg") << source("lost");
    EXPECT_EQ(fault_of(set), "BadMagic");
    EXPECT_EQ(read<SourceConfiguration>(call(get), "cfg").Name, "renamed");

    // A reader without rights sees nothing: an empty answer, no infos element at all.
    EXPECT_EQ(call(method("EnumSourceConfigurations"), "bob:bobpw").GetNumParams(), 0u);
    EXPECT_EQ(fault_of(get, "bob:bobpw"), "AccessViolation");
    SOAPMethod listed = call(method("EnumSourceConfigurations"));
    EXPECT_EQ(read<std::vector<SourceInfo>>(listed, "infos").size(), 1u);

    SOAPMethod remove = method("RemoveSource");
    remove.AddParameter("id") << added.Source;
    EXPECT_EQ(call(remove).GetNumParams(), 0u);
    EXPECT_EQ(fault_of(get), "AccessViolation");
    EXPECT_EQ(sql("select count(*) from cfgstorage where key='SourceConfiguration'"), "0\n");
}

TEST_F(SearchService, StaleMagicOnEverySetMethodIsBadMagic) {
    // Each record is added, then set with a magic it never had.
    struct Case {
        const char* add;
        const char* set;
        const char* member;
        std::function<void(SOAPParameter&)> record;
        const char* id_of_answer; // "id", or "info" with the id inside
    };
    ArchiveConfiguration archive;
    archive.Name = "a";
    CollectionConfiguration collection;
    collection.Name = "c";
    AuthConfiguration auth;
    auth.Username = "u";
    Plugin plugin;
    plugin.Name = "p";
    DocFilter filter;
    filter.Name = "f";
    const Case cases[] = {
        {"AddAuth", "SetAuthConfiguration", "cfg", [&](SOAPParameter& p) { p << auth; }, "id"},
        {"AddCollection", "SetCollectionConfiguration", "cfg",
         [&](SOAPParameter& p) { p << collection; }, "info"},
        {"AddPlugin", "SetPlugin", "plugin", [&](SOAPParameter& p) { p << plugin; }, "id"},
        {"AddDocFilter", "SetDocFilter", "docfilter", [&](SOAPParameter& p) { p << filter; }, "id"},
    };
    for (const Case& c : cases) {
        SOAPMethod add = method(c.add);
        c.record(add.AddParameter(c.member));
        SOAPMethod added = call(add);
        int id = 0;
        if (std::string(c.id_of_answer) == "id")
            id = read<int>(added, "id");
        else
            id = read<CollectionInfo>(added, "info").Collection;
        const std::string before =
            sql("select cfg from cfgstorage where id=" + std::to_string(id) + " order by key");
        SOAPMethod set = method(c.set);
        set.AddParameter("id") << id;
        c.record(set.AddParameter(c.member));
        set.AddParameter("magic") << 12345;
        EXPECT_EQ(fault_of(set), "BadMagic") << c.set;
        EXPECT_EQ(
            sql("select cfg from cfgstorage where id=" + std::to_string(id) + " order by key"),
            before)
            << c.set;
    }
}

TEST_F(SearchService, StatusVersionsCapabilitiesAndUrls) {
    SOAPMethod status = call(method("GetStatus"));
    EXPECT_EQ(status.GetParameter("status").GetString(), "RUNNING");
    EXPECT_EQ(read<std::string>(call(method("GetVersion")), "version"), "2.0.2.1010");
    EXPECT_EQ(read<std::string>(call(method("GetMinClientVersion")), "version"), "2.0.0");

    SOAPMethod caps = call(method("GetCapabilities"));
    EXPECT_TRUE(read<bool>(caps, "admin"));
    EXPECT_TRUE(read<bool>(caps, "crawlingwrite"));
    SOAPMethod bob = call(method("GetCapabilities"), "bob:bobpw");
    EXPECT_FALSE(read<bool>(bob, "admin"));
    EXPECT_FALSE(read<bool>(bob, "browsingwrite"));
    // A caller without browsing read access gets no status.
    EXPECT_EQ(fault_of(method("GetStatus"), "bob:bobpw"), "AccessViolation");

    SOAPMethod normalize = method("NormalizeURL");
    normalize.AddParameter("url") << std::string("//WWW.Example.com:80/a/../b");
    EXPECT_EQ(read<std::string>(call(normalize), "url"), "http://www.example.com/b");
}

TEST_F(SearchService, RootAclTokensAndEmptyList) {
    SOAPMethod get = method("GetRootACL");
    get.AddParameter("type") << std::string("ROOTACL_CRAWLING");
    SOAPMethod empty = call(get);
    ASSERT_NE(empty.FindParameter("acl"), nullptr); // written also when empty
    EXPECT_TRUE(read<std::vector<AccessSpec>>(empty, "acl").empty());
    const int magic = read<int>(empty, "magic");

    SOAPMethod set = method("SetRootACL");
    set.AddParameter("type") << std::string("ROOTACL_CRAWLING");
    set.AddParameter("acl") << std::vector<AccessSpec>{{"Staff", WRITEACCESS, false}};
    set.AddParameter("magic") << magic;
    call(set);
    EXPECT_EQ(read<std::vector<AccessSpec>>(call(get), "acl").size(), 1u);
    // Bob is in Staff: now he may add sources, but still not read the root ACL.
    EXPECT_TRUE(read<bool>(call(method("GetCapabilities"), "bob:bobpw"), "crawlingwrite"));
    EXPECT_EQ(fault_of(get, "bob:bobpw"), "AccessViolation");

    // Tokens are compared exactly; anything else is refused before the operation runs.
    for (const char* token : {"rootacl_crawling", "ROOTACL_CRAWLING ", "1", ""}) {
        SOAPMethod bad = method("GetRootACL");
        bad.AddParameter("type") << std::string(token);
        EXPECT_FALSE(fault_of(bad).empty()) << token;
    }
}

TEST_F(SearchService, MissingOrUnreadableParametersFailBeforeTheOperation) {
    EXPECT_NE(fault_of(method("GetSourceConfiguration")).find("id"), std::string::npos);
    SOAPMethod text_id = method("RemoveSource");
    text_id.AddParameter("id") << std::string("seven");
    EXPECT_FALSE(fault_of(text_id).empty());
    SOAPMethod no_cfg = method("AddSource");
    EXPECT_FALSE(fault_of(no_cfg).empty());
    EXPECT_EQ(sql("select count(*) from cfgstorage where key='SourceConfiguration'"), "0\n");
    // Unknown methods and a foreign namespace are faults too, and the next call still works.
    EXPECT_FALSE(fault_of(method("NoSuchMethod")).empty());
    EXPECT_FALSE(fault_of(SOAPMethod("GetVersion", "urn:other")).empty());
    EXPECT_EQ(read<std::string>(call(method("GetVersion")), "version"), "2.0.2.1010");
}

TEST_F(SearchService, UsersWithAndWithoutGroups) {
    SOAPMethod add = method("AddUser");
    add.AddParameter("username") << std::string("ann");
    add.AddParameter("password") << std::string("pw");
    add.AddParameter("admin") << false;
    call(add);
    SOAPMethod get = method("GetUserData");
    get.AddParameter("username") << std::string("ann");
    SOAPMethod ann = call(get);
    EXPECT_FALSE(read<bool>(ann, "admin"));
    EXPECT_EQ(ann.FindParameter("groups"), nullptr);

    SOAPMethod set = method("SetUserData");
    set.AddParameter("username") << std::string("ann");
    set.AddParameter("admin") << true;
    set.AddParameter("groups") << std::vector<std::string>{"Staff", "Sales"};
    call(set);
    ann = call(get);
    EXPECT_TRUE(read<bool>(ann, "admin"));
    EXPECT_EQ(read<std::vector<std::string>>(ann, "groups"),
              (std::vector<std::string>{"Staff", "Sales"}));
    // The new user logs in with the password sent (stored as its MD5 form).
    EXPECT_EQ(read<std::string>(call(method("GetVersion"), "ann:pw"), "version"), "2.0.2.1010");
    EXPECT_EQ(fault_of(add, "bob:bobpw"), "AccessViolation");
}

TEST_F(SearchService, DocumentsByEitherParameterName) {
    const int arcid = add_archive("docs");
    ASSERT_GT(arcid, 0);

    const std::string bytes("plain \0 text\xff", 13);
    SOAPMethod add = method("AddDocument");
    add.AddParameter("idxid") << arcid; // no arcid: idxid names the archive
    add.AddParameter("url") << std::string("http://docs.example.com/a.txt");
    add.AddParameter("type") << std::string("text/plain");
    add.AddParameter("content") << EasySoap::SOAPBase64{bytes};
    const std::string docid = read<std::string>(call(add), "docid");
    ASSERT_FALSE(docid.empty());

    // arcid wins over idxid.
    SOAPMethod both = method("AddDocument");
    both.AddParameter("arcid") << 999;
    both.AddParameter("idxid") << arcid;
    both.AddParameter("url") << std::string("http://docs.example.com/b.txt");
    both.AddParameter("mimetype") << std::string("text/plain");
    both.AddParameter("content") << EasySoap::SOAPBase64{std::string("b")};
    EXPECT_EQ(fault_of(both), "AccessViolation");

    for (const char* name : {"GetDocument", "GetCachedPage"}) {
        SOAPMethod get = method(name);
        get.AddParameter("ID") << docid;
        get.AddParameter("format") << std::string("ORIGINAL");
        SOAPMethod doc = call(get);
        EXPECT_EQ(read<std::string>(doc, "url"), "http://docs.example.com/a.txt") << name;
        EXPECT_EQ(read<std::string>(doc, "type").rfind("text/plain", 0), 0u) << name;
        EXPECT_EQ(read<EasySoap::SOAPBase64>(doc, "content").bytes, bytes) << name;
        get.GetParameter("format") << std::string("original");
        EXPECT_FALSE(fault_of(get).empty()) << name;
    }
    SOAPMethod url = method("GetDocumentURL");
    url.AddParameter("docid") << docid;
    EXPECT_EQ(read<std::string>(call(url), "url"), "http://docs.example.com/a.txt");
    EXPECT_EQ(fault_of(url, "bob:bobpw"), "AccessViolation");
}

TEST_F(SearchService, QueryAndQueryIndexAreStrict) {
    const int arcid = add_archive("private");
    for (const char* name : {"Query", "QueryIndex"}) {
        QuerySpec query_spec;
        query_spec.Archives = {arcid};
        query_spec.QueryString = "anything";
        SOAPMethod query = method(name);
        query.AddParameter("query") << query_spec;
        EXPECT_EQ(fault_of(query, "bob:bobpw"), "AccessViolation") << name;
        // This daemon has no index: nothing matches, the count is still answered.
        SOAPMethod answer = call(query);
        EXPECT_EQ(answer.FindParameter("results"), nullptr) << name;
        ASSERT_NE(answer.FindParameter("maxresults"), nullptr) << name;
    }
}

TEST_F(SearchService, PerlSoapLiteClient) {
    if (run("perl -MSOAP::Lite -e 1") != "") GTEST_SKIP() << "SOAP::Lite is not installed";
    const std::string out =
        run("perl " TN_TEST_DATA "/soaplite_search.pl '" + endpoint() + "' '" + SERVICE_NS + "'");
    EXPECT_NE(out.find("version 2.0.2.1010\n"), std::string::npos) << out;
    EXPECT_NE(out.find("normalize http://www.example.com/b\n"), std::string::npos) << out;
    EXPECT_NE(out.find("missing FAULT AccessViolation\n"), std::string::npos) << out;
    EXPECT_NE(out.find("userdata 0 [Staff;Sales]\n"), std::string::npos) << out;
}

TEST_F(SearchService, PerlSoapLiteThroughTheServedWsdl) {
    if (run("perl -MSOAP::Lite -e 1") != "") GTEST_SKIP() << "SOAP::Lite is not installed";
    fs::copy_file(TN_SOURCE_DIR "/packaging/lumbrakesearch.wsdl", dir_ / "bin/lumbrakesearch.wsdl");
    const std::string out =
        run("perl " TN_TEST_DATA "/soaplite_wsdl.pl 'http://127.0.0.1:" + std::to_string(port_) +
            "/wsdl' '" + (dir_ / "served.wsdl").string() + "'");
    EXPECT_NE(out.find("version 2.0.2.1010\n"), std::string::npos) << out;
    EXPECT_NE(out.find("normalize http://host.example/x/y\n"), std::string::npos) << out;
    EXPECT_NE(out.find("min 2.0.0\n"), std::string::npos) << out;
}

TEST_F(SearchService, RendererPipeAndPluginTypeLists) {
    // The pipe's id list is written also when empty, inside its structure.
    SOAPMethod pipe = call(method("GetRootRendererPipe"));
    const SOAPParameter* ids = pipe.GetParameter("pipe").FindParameter("DocFilterIDs");
    ASSERT_NE(ids, nullptr);
    EXPECT_EQ(ids->GetNumParams(), 0u);

    DocFilter filter;
    filter.Name = "f";
    filter.ACL = {{"All Users", READACCESS, false}};
    SOAPMethod add = method("AddDocFilter");
    add.AddParameter("docfilter") << filter;
    const int id = read<int>(call(add), "id");
    SOAPMethod set = method("SetRootRendererPipe");
    set.AddParameter("pipe").AddParameter("DocFilterIDs") << std::vector<int>{id};
    set.AddParameter("magic") << read<int>(pipe, "magic");
    call(set);
    EXPECT_EQ(read<RendererPluginPipe>(call(method("GetRootRendererPipe")), "pipe").DocFilterIDs,
              std::vector<std::int32_t>{id});
    // The magic sent is stale now: refused (the operation names it a failed write), unchanged.
    set.GetParameter("pipe").GetParameter("DocFilterIDs") << std::vector<int>{};
    EXPECT_EQ(fault_of(set), "ErrorWritingEntity");
    EXPECT_EQ(read<RendererPluginPipe>(call(method("GetRootRendererPipe")), "pipe").DocFilterIDs,
              std::vector<std::int32_t>{id});

    // "types" is optional: absent means no types, so nothing is listed.
    SOAPMethod none = method("EnumDocFilters");
    none.AddParameter("full") << true;
    EXPECT_EQ(call(none).FindParameter("infos"), nullptr);
    // An unreadable list is no fault either: the call goes on with what was read.
    SOAPMethod junk = method("EnumPlugins");
    junk.AddParameter("types").AddParameter("item").AddParameter("nested") << 1;
    junk.AddParameter("full") << false;
    EXPECT_EQ(call(junk).FindParameter("infos"), nullptr);
}

} // namespace
