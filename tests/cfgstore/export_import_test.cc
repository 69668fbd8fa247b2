#include "trawlnestd/export-job.h"
#include "trawlnestd/import-job.h"

#include "api/indexcfg.h"
#include "cfgstore_fixture.h"
#include "trawlnestd/cfgstorage.h"
#include "trawlnestd/dbconn.h"
#include "util/sqlite_txn.h"

#include <sys/stat.h>

#include <algorithm>

using namespace lumbrake;
using namespace lumbrake::cfgjobs;
using namespace cfgstore_test;

namespace {

class ConfigJobs : public DataDir {
protected:
    void SetUp() override {
        DataDir::SetUp();
        db_ = std::make_unique<db_connection>(*cfg_);
        stores_ = std::make_unique<config_stores>(db());
    }
    void TearDown() override {
        db_.reset();
        DataDir::TearDown();
    }
    sqlite3* db() { return db_->get(); }

    // Runs the export job and answers its standard output.
    std::string run_export(const std::string& target, bool expect_ok = true) {
        std::string error = "stale";
        testing::internal::CaptureStdout();
        bool ok = export_config(*cfg_, target, error);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(ok, expect_ok) << error;
        last_error_ = error;
        return out;
    }

    std::string run_import(const std::string& source, bool expect_ok = true) {
        std::string error = "stale";
        resets_ = 0;
        testing::internal::CaptureStdout();
        bool ok = import_config(
            *cfg_, source,
            [this](std::string& e) {
                ++resets_;
                e.clear();
                return true;
            },
            error);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(ok, expect_ok) << error;
        last_error_ = error;
        return out;
    }

    std::vector<std::string> names_in(const fs::path& dir) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::unique_ptr<db_connection> db_;
    std::unique_ptr<config_stores> stores_;
    std::string last_error_;
    int resets_ = 0;
};

TEST_F(ConfigJobs, ExportRefusesExistingOrUnmakableDirectory) {
    fs::create_directory(dir_ / "there");
    write_file(dir_ / "there" / "keep.txt", "x");
    const std::string there = (dir_ / "there").string();
    EXPECT_EQ(run_export(there, false), "");
    EXPECT_EQ(last_error_, "Export directory " + there + " already exists");
    EXPECT_EQ(names_in(dir_ / "there"), std::vector<std::string>{"keep.txt"});

    const std::string orphan = (dir_ / "missing" / "out").string();
    EXPECT_EQ(run_export(orphan, false), "");
    EXPECT_EQ(last_error_, "Can't create directory " + orphan);
    EXPECT_FALSE(fs::exists(dir_ / "missing"));

    // A path that exists as a regular file is no directory to write into either.
    write_file(dir_ / "plain", "x");
    const std::string plain = (dir_ / "plain").string();
    run_export(plain, false);
    EXPECT_EQ(last_error_, "Export directory " + plain + " already exists");
    EXPECT_EQ(read_file(dir_ / "plain"), "x");
}

TEST_F(ConfigJobs, ExportWritesOnlyExistingRecordsInTypeAndIdOrder) {
    std::uint32_t magic = 0;
    // Ids 2 and 10, stored in the other order: the files come in numeric order.
    ASSERT_TRUE(stores_->sources.set(db(), 10, SourceConfiguration{.Name = "ten"}, magic));
    ASSERT_TRUE(stores_->sources.set(db(), 2, SourceConfiguration{.Name = "two"}, magic));
    ASSERT_TRUE(stores_->root_acls.set(db(), ROOTACL_BROWSING, RootACL{}, magic));
    ASSERT_TRUE(stores_->root_acls.set(db(), ROOTACL_CRAWLING, RootACL{}, magic));
    LoginConfiguration login;
    ASSERT_TRUE(stores_->logins.set(db(), 0, login, magic));
    ASSERT_TRUE(
        stores_->docfilters.set(db(), 3, DocFilter{.Config = std::string("a\0b", 3)}, magic));
    // A damaged record: neither file nor line.
    query(db(), "insert into cfgstorage values('WatchConfiguration', 1, '<watch')");

    const fs::path out = dir_ / "export";
    EXPECT_EQ(run_export(out.string()), "E Source 2\nE Source 10\nE RootACL 0\nE RootACL 1\n"
                                        "E Login 0\nE DocFilter 3\n");
    EXPECT_EQ(last_error_, "");
    EXPECT_EQ(names_in(out),
              (std::vector<std::string>{
                  "DocFilter-0000000003.xml", "LoginConfiguration-0000000000.xml",
                  "RootACL-0000000000.xml", "RootACL-0000000001.xml",
                  "SourceConfiguration-0000000002.xml", "SourceConfiguration-0000000010.xml"}));
    // Each file holds the writer's text of the stored record, byte for byte.
    std::string text;
    ASSERT_TRUE(source_to_xml(SourceConfiguration{.Name = "ten"}, text));
    EXPECT_EQ(read_file(out / "SourceConfiguration-0000000010.xml"), text);
}

// Every record type with a non-trivial record, so the round trip covers each reader and writer.
void fill_store(sqlite3* db, config_stores& s) {
    std::uint32_t m = 0;
    SourceConfiguration src{.Name = "intranet", .Description = "it's ours"};
    src.Seeds = {"http://intranet.example/"};
    src.ExcludeFilters = {"*.iso"};
    src.DepthLimit = 4;
    src.RendererDocFilterIDs = {2};
    src.ACL = {{.Name = "staff", .Access = WRITEACCESS}};
    ASSERT_EQ(s.sources.add(db, src, m), 1);
    ASSERT_EQ(s.sources.add(db, SourceConfiguration{.Name = "second"}, m), 2);
    ASSERT_TRUE(s.sources.remove(db, 2));
    ASSERT_EQ(s.sources.add(db, SourceConfiguration{.Name = "third"}, m), 3);
    ArchiveConfiguration arc{.Name = "web", .Historicize = true, .Source = 1};
    arc.SchedulingFrequency = WEEKLY;
    arc.SchedulingAttribute = 2;
    arc.DocumentCache = CONTEXTCACHE;
    ASSERT_EQ(s.archives.add(db, arc, m), 1);
    ASSERT_EQ(s.collections.add(db, CollectionConfiguration{.Name = "all", .Archives = {1}}, m), 1);
    ASSERT_EQ(s.watches.add(db, WatchConfiguration{.Name = "news", .Query = "a AND b"}, m), 1);
    AuthConfiguration auth;
    auth.ACL = {{.Name = "ann"}};
    ASSERT_EQ(s.auths.add(db, auth, m), 1);
    ASSERT_EQ(s.plugins.add(db, Plugin{.Name = "meta", .DLLName = "libmeta"}, m), 1);
    ASSERT_EQ(s.docfilters.add(db, DocFilter{.Name = "f", .PluginID = 1, .Config = "k=v"}, m), 1);
    ASSERT_EQ(s.docfilters.add(db, DocFilter{.Name = "g", .PluginID = 1}, m), 2);
    ASSERT_TRUE(s.renderer_pipes.set(db, 0, RendererPluginPipe{.DocFilterIDs = {1}}, m));
    ASSERT_TRUE(s.root_acls.set(db, ROOTACL_BROWSING, RootACL{{.Name = "All Users"}}, m));
    LoginConfiguration login;
    ASSERT_TRUE(login.add_user("ann", "pw", true, {}));
    ASSERT_TRUE(s.logins.set(db, 0, login, m));
}

TEST_F(ConfigJobs, ExportThenImportRestoresRecordsIdsAndCounters) {
    fill_store(db(), *stores_);
    const std::string rows_before =
        query(db(), "select key, id, cfg from cfgstorage order by key, id");
    const fs::path out = dir_ / "export";
    run_export(out.string());

    // Change everything, then import the export back.
    query(db(), "delete from cfgstorage");
    std::uint32_t m = 0;
    ASSERT_EQ(stores_->collections.add(db(), CollectionConfiguration{.Name = "stray"}, m), 2);

    std::string lines = run_import(out.string());
    EXPECT_EQ(resets_, 1);
    EXPECT_EQ(lines, "I Archive 1\nI Auth 1\nI Collection 1\nI DocFilter 1\nI DocFilter 2\n"
                     "I Login 0\nI Plugin 1\nI RendererPluginPipe 0\nI RootACL 0\n"
                     "I Source 1\nI Source 3\nI Watch 1\n");
    EXPECT_EQ(query(db(), "select key, id, cfg from cfgstorage order by key, id"), rows_before);
    EXPECT_EQ(query(db(), "select key, lastid from cfgcounter order by key"),
              "ArchiveConfiguration|1\nAuthConfiguration|1\nCollectionConfiguration|1\n"
              "DocFilter|2\nLoginConfiguration|0\nPlugin|1\nRendererPluginPipe|0\nRootACL|0\n"
              "SourceConfiguration|3\nWatchConfiguration|1\n");
    EXPECT_EQ(stores_->sources.add(db(), SourceConfiguration{.Name = "next"}, m), 4);
}

TEST_F(ConfigJobs, ImportFailures) {
    std::uint32_t m = 0;
    ASSERT_EQ(stores_->plugins.add(db(), Plugin{.Name = "kept"}, m), 1);

    // A directory that does not exist, or one without an export: refused before the reset.
    const std::string missing = (dir_ / "nowhere").string();
    EXPECT_EQ(run_import(missing, false), "");
    EXPECT_EQ(resets_, 0);
    EXPECT_EQ(last_error_, "Path not found: " + missing + "\n");
    fs::create_directory(dir_ / "empty");
    write_file(dir_ / "empty" / "notes.txt", "no export here");
    EXPECT_EQ(run_import((dir_ / "empty").string(), false), "");
    EXPECT_EQ(resets_, 0);
    EXPECT_EQ(last_error_, "No exported configuration in " + (dir_ / "empty").string() + "\n");
    EXPECT_EQ(query(db(), "select key, id from cfgstorage"), "Plugin|1\n");

    // A failed reset stops the job before anything else.
    fs::create_directory(dir_ / "one");
    std::string xml;
    ASSERT_TRUE(plugin_to_xml(Plugin{.Name = "one"}, xml));
    write_file(dir_ / "one" / "Plugin-0000000001.xml", xml);
    std::string error;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(import_config(
        *cfg_, (dir_ / "one").string(),
        [](std::string& e) {
            e = "reset broke";
            return false;
        },
        error));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(error, "reset broke");
    EXPECT_EQ(query(db(), "select key, id from cfgstorage"), "Plugin|1\n");
}

TEST_F(ConfigJobs, ImportNamesOldFormsAndDamagedFiles) {
    const fs::path in = dir_ / "in";
    fs::create_directory(in);
    std::string xml;
    // Passed over without a line.
    write_file(in / "readme.txt", "hello");
    write_file(in / "Other-0000000001.xml", "<x/>");
    write_file(in / "sourceconfiguration-0000000001.xml", "<x/>");
    // Ids: leading digits of at most ten characters after the hyphen.
    ASSERT_TRUE(plugin_to_xml(Plugin{.Name = "twelve"}, xml));
    write_file(in / "Plugin-12.xml", xml);
    write_file(in / "Plugin-0000000013.xml.bak", xml);
    write_file(in / "Plugin-00000000149.xml", xml); // eleventh digit not read: id 14
    // A sign or an id past 31 bits would be stored as another id: refused.
    write_file(in / "Plugin--5.xml", xml);
    write_file(in / "Plugin-9999999999.xml", xml);
    // The older document filter form.
    write_file(in / "PluginConfig-0000000004.xml",
               "<?xml version=\"1.0\"?>\n<plugin-config name=\"old\">\n"
               "\t<plugin id=\"1\">YT1i</plugin>\n</plugin-config>\n");
    write_file(in / "RendererPluginPipe-0000000000.xml", "<broken");
    write_file(in / "WatchConfiguration-0000000003.xml", "<watch name=\"w\"");
    fs::create_directory(in / "ArchiveConfiguration-0000000009.xml");
    // An index of the older format becomes a source and an archive.
    write_file(in / "IndexConfiguration-0000000002.xml",
               "<?xml version=\"1.0\"?>\n<index name=\"legacy\" historicize=\"true\">\n"
               "\t<contact type=\"admin\" email=\"a@b\"/>\n\t<seed url=\"http://old/\"/>\n"
               "\t<filter type=\"exclude\" url=\"*.zip\"/>\n"
               "\t<scheduling frequency=\"daily\" attribute=\"2\" accesstime=\"5\"/>\n"
               "\t<limit pages=\"100\" depth=\"3\"/>\n\t<garbage limit=\"7\"/>\n</index>\n");
    write_file(in / "IndexConfiguration-0000000005.xml", "<index name=\"cut");
    // A source for id 2 that comes after the index in the listing: refused.
    ASSERT_TRUE(source_to_xml(SourceConfiguration{.Name = "late"}, xml));
    write_file(in / "SourceConfiguration-0000000002.xml", xml);

    std::string lines = run_import(in.string());
    // The unreadable entry's line carries the system's text; damaged and refused files an
    // empty one.
    const std::string first = lines.substr(0, lines.find('\n'));
    EXPECT_TRUE(first.starts_with("X Archive 9: ") && first.size() > 13) << first;
    EXPECT_EQ(lines.substr(first.size() + 1),
              "I Source [from Index] 2\nI Archive [from Index] 2\n"
              "X Source [from Index] 5: \nX Archive [from Index] 5: \n"
              "X Plugin Plugin--5.xml: not an id from 0 to 2147483647\n"
              "I Plugin 13\nI Plugin 14\nI Plugin 12\n"
              "X Plugin Plugin-9999999999.xml: not an id from 0 to 2147483647\n"
              "I DocFilter 4\n"
              "X RendererPluginPipe 0: \nX Source 2: \nX Watch 3: \n");

    DocFilter f;
    std::uint32_t m = 0;
    ASSERT_TRUE(stores_->docfilters.get(db(), 4, f, m));
    EXPECT_EQ(f.Name, "old");
    EXPECT_EQ(f.PluginID, 1);
    EXPECT_EQ(f.Config, "a=b");

    SourceConfiguration s;
    ASSERT_TRUE(stores_->sources.get(db(), 2, s, m));
    EXPECT_EQ(s.Name, "legacy");
    EXPECT_EQ(s.Seeds, std::vector<std::string>{"http://old/"});
    EXPECT_EQ(s.ExcludeFilters, std::vector<std::string>{"*.zip"});
    EXPECT_EQ(s.DepthLimit, 3);
    EXPECT_TRUE(s.CheckRobotsTxt);
    EXPECT_EQ(s.Type, AUTH_NONE);
    ArchiveConfiguration a;
    ASSERT_TRUE(stores_->archives.get(db(), 2, a, m));
    EXPECT_EQ(a, (ArchiveConfiguration{.Name = "legacy",
                                       .Historicize = true,
                                       .AdministrativeContact = "a@b",
                                       .Source = 2,
                                       .Auth = 0,
                                       .SchedulingFrequency = DAILY,
                                       .SchedulingAttribute = 2,
                                       .AccessTime = 5,
                                       .PagesLimit = 100,
                                       .GarbageLimit = 7,
                                       .DocumentCache = FULLCACHE}));
    EXPECT_EQ(query(db(), "select key, lastid from cfgcounter order by key"),
              "ArchiveConfiguration|2\nDocFilter|4\nPlugin|14\nSourceConfiguration|2\n");
}

} // namespace
