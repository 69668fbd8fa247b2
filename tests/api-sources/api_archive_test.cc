// Archive operations: references, the fixed Historicize flag, the crawl state, and removal
// through every storage (the index is the real server, read back with xapian-delve).
#include "api/archive-info.h"
#include "apiops/api-source.h"
#include "apiops_fixture.h"

#include "../idxstorage/idx_test_env.h"
#include "../support/fff_fixtures.h"
#include "idxstorage/idxstorage.h"
#include "fff/FFFbuilder.h"

using namespace apiops_test;

namespace {

ArchiveConfiguration archive(int source = 0, int auth = 0, std::vector<AccessSpec> acl = {}) {
    ArchiveConfiguration cfg;
    cfg.Name = "docs";
    cfg.Source = source;
    cfg.Auth = auth;
    cfg.ACL = std::move(acl);
    return cfg;
}

class archives : public api_db {
protected:
    api_result info_of(const api_context& c, int id, ArchiveInfo& info) {
        return call(c, [&](api& a, api_result& r) { a.get_archive_info(r, id, info); });
    }
    api_result add(const api_context& c, const ArchiveConfiguration& cfg, ArchiveInfo& info) {
        return call(c, [&](api& a, api_result& r) { a.add_archive(r, cfg, info); });
    }
};

} // namespace

TEST_F(archives, AddTestsTheRootListAndReadAccessOnTheNamedRecords) {
    const api_context ann = user("ann", {"staff"});
    ArchiveInfo info;
    EXPECT_EQ(add(ann, archive(), info).code, API_ACCESS_VIOLATION);
    EXPECT_EQ(add(admin(), archive(7, 8), info).code, 0); // missing records: admin passes
    EXPECT_EQ(info.Archive, 1);

    put_root_acl(ROOTACL_CRAWLING, {allow("staff", WRITEACCESS)});
    SourceConfiguration src;
    src.ACL = {allow("ann", READACCESS)};
    const int source = put(src);
    AuthConfiguration secret;
    secret.ACL = {allow("bob", READACCESS)};
    const int auth = put(secret);

    // Source 0 and Auth 0: only the root list is tested.
    api_result res = add(ann, archive(0, 0, {allow("ann", READACCESS)}), info);
    ASSERT_TRUE(res.ok);
    EXPECT_EQ(info.Archive, 2);
    EXPECT_TRUE(info.ReadOnly);
    EXPECT_EQ(add(ann, archive(source, auth), info).code, API_ACCESS_VIOLATION);
    EXPECT_EQ(add(ann, archive(source + 100), info).code, API_ACCESS_VIOLATION);
    EXPECT_EQ(sql("select count(*) from cfgstorage where key='ArchiveConfiguration'"), "2\n");
    res = add(ann, archive(source, 0, {allow("ann", WRITEACCESS)}), info);
    ASSERT_TRUE(res.ok);
    EXPECT_EQ(info.Archive, 3);
    EXPECT_FALSE(info.ReadOnly);

    ArchiveConfiguration cfg;
    std::uint32_t magic = 0;
    res = call(ann, [&](api& a, api_result& r) { a.get_archive_configuration(r, 3, cfg, magic); });
    EXPECT_EQ(res.code, API_ACCESS_VIOLATION); // write without read
    res = call(admin(),
               [&](api& a, api_result& r) { a.get_archive_configuration(r, 3, cfg, magic); });
    ASSERT_TRUE(res.ok);
    EXPECT_EQ(cfg, info.Configuration);
    EXPECT_EQ(magic, info.Magic);
}

TEST_F(archives, SetKeepsHistoricizeAndGuardsTheStamp) {
    ArchiveConfiguration cfg = archive();
    cfg.Historicize = true;
    ArchiveInfo info;
    ASSERT_TRUE(add(admin(), cfg, info).ok);
    const std::uint32_t first = info.Magic;

    cfg.Historicize = false;
    cfg.Name = "renamed";
    api_result res = call(admin(), [&](api& a, api_result& r) {
        a.set_archive_configuration(r, info.Archive, cfg, first, info);
    });
    ASSERT_TRUE(res.ok);
    EXPECT_TRUE(info.Configuration.Historicize);
    EXPECT_EQ(info.Configuration.Name, "renamed");
    EXPECT_NE(info.Magic, first);

    cfg.Name = "lost";
    res = call(admin(),
               [&](api& a, api_result& r) { a.set_archive_configuration(r, 1, cfg, first, info); });
    EXPECT_EQ(res.code, API_BAD_MAGIC);
    ASSERT_TRUE(info_of(admin(), 1, info).ok);
    EXPECT_EQ(info.Configuration.Name, "renamed");
    EXPECT_TRUE(info.Configuration.Historicize);

    // The new record's references are tested too.
    SourceConfiguration src;
    const int source = put(src);
    cfg = info.Configuration;
    cfg.Source = source;
    const std::uint32_t stamp = info.Magic;
    res = call(user("ann"),
               [&](api& a, api_result& r) { a.set_archive_configuration(r, 1, cfg, stamp, info); });
    EXPECT_EQ(res.code, API_ACCESS_VIOLATION);
}

TEST_F(archives, CrawlStateComesFromTheNewestCrawlRecordAndTheSchedule) {
    ArchiveConfiguration cfg = archive();
    ArchiveInfo info;
    ASSERT_TRUE(add(admin(), cfg, info).ok);
    EXPECT_FALSE(info.Crawling);
    EXPECT_EQ(info.Documents, 0);
    EXPECT_EQ(info.Errors, 0);
    EXPECT_EQ(info.LastRunStart, 0);
    EXPECT_EQ(info.LastRunEnd, 0);
    EXPECT_EQ(info.NextRun, 0); // disabled schedule

    storage_transaction txn(db_);
    logs_->start_crawl(db_, 1, now_ - 100);
    logs_->log_document(db_, "g1", 1, "http://a/", now_ - 90, 0);
    logs_->log_document(db_, "g2", 1, "http://b/", now_ - 80, 3);
    txn.commit();
    ASSERT_TRUE(info_of(admin(), 1, info).ok);
    EXPECT_TRUE(info.Crawling);
    EXPECT_EQ(info.LastRunStart, now_ - 100);
    EXPECT_EQ(info.LastRunEnd, 0);
    EXPECT_EQ(info.Documents, 1);
    EXPECT_EQ(info.Errors, 1);

    txn.begin();
    logs_->end_crawl(db_, 1, now_ - 10);
    txn.commit();
    std::uint32_t magic = info.Magic;
    cfg.SchedulingFrequency = HOURLY;
    cfg.SchedulingAttribute = 1;
    api_result res = call(admin(), [&](api& a, api_result& r) {
        a.set_archive_configuration(r, 1, cfg, magic, info);
    });
    ASSERT_TRUE(res.ok);
    EXPECT_FALSE(info.Crawling);
    EXPECT_EQ(info.LastRunEnd, now_ - 10);
    EXPECT_GT(info.NextRun, now_);
    EXPECT_EQ(info.NextRun % 3600, 0);

    // The listing carries the same state, readable archives only.
    put(archive(0, 0, {allow("bob", READACCESS)}));
    std::vector<ArchiveInfo> infos;
    res =
        call(user("ann"), [&](api& a, api_result& r) { a.enum_archive_configurations(r, infos); });
    EXPECT_TRUE(res.ok);
    EXPECT_TRUE(infos.empty());
    res = call(admin(), [&](api& a, api_result& r) { a.enum_archive_configurations(r, infos); });
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[0], info);
    EXPECT_EQ(infos[1].Archive, 2);
}

namespace {

std::string fff_of(const std::u32string& body) {
    return fff_built(nullptr, body);
}

} // namespace

TEST_F(archives, RemoveClearsEveryStorageUnlessACollectionListsTheArchive) {
    idx_test::scratch_deploy deploy(TN_SIFTVAULT);
    auto index = std::make_unique<idxstorage>();
    base_.services.index = index.get();

    ArchiveInfo gone, kept;
    ASSERT_TRUE(add(admin(), archive(0, 0, {allow("ann", WRITEACCESS)}), gone).ok);
    ASSERT_TRUE(add(admin(), archive(), kept).ok);
    const int a1 = gone.Archive, a2 = kept.Archive;

    storage_transaction txn(db_);
    const std::string fff = fff_of(U"quarterly report");
    for (int arc : {a1, a2}) {
        for (int n = 0; n < 2; ++n) {
            const std::string guid = "g" + std::to_string(arc) + std::to_string(n);
            const std::string url = "http://h/" + std::to_string(arc) + "/" + std::to_string(n);
            docs_->store(db_,
                         {.guid = guid,
                          .arcid = static_cast<std::uint32_t>(arc),
                          .url = url,
                          .timestamp = 100,
                          .headers = "H",
                          .content = "content",
                          .fff = fff,
                          .fffcrc = 1,
                          .corecrc = 2,
                          .score = 5,
                          .mime = "text/html",
                          .charset = "utf-8",
                          .servertime = 100},
                         {{"SideMeta", "x"}}, FULLCACHE);
            index->add_document(guid, arc, url, "text/html", 100, 100, 5, {0}, fff);
            logs_->log_document(db_, guid, arc, url, 100, 0);
        }
        logs_->start_crawl(db_, arc, 50);
        logs_->log_query(db_, arc, "report", 60);
        queue_->push(db_, arc, "http://h/" + std::to_string(arc) + "/next", 1);
    }
    index->flush();
    txn.commit();
    auto counts = [&] {
        return sql("select (select count(*) from docstorage where arcid=" + std::to_string(a1) +
                   "), (select count(*) from auxstorage), (select count(*) from documentlog "
                   "where arcid=" +
                   std::to_string(a1) +
                   "), (select count(*) from querylog where arcid=" + std::to_string(a1) +
                   "), (select count(*) from crawlstats where arcid=" + std::to_string(a1) +
                   "), (select count(*) from fetchqueue where arcid=" + std::to_string(a1) + ")");
    };
    auto indexed = [&](int arc) {
        const std::string out =
            run("xapian-delve -1 -t 'Xarcid:" + std::to_string(arc) + "' index");
        return std::count(out.begin(), out.end(), '\n') - 1; // after the heading line
    };
    const std::string before = counts();
    ASSERT_EQ(before, "2 4 2 1 1 1\n");
    ASSERT_EQ(indexed(a1), 2);

    CollectionConfiguration col;
    col.Archives = {a2, a1};
    const int colid = put(col);
    api_result res = call(user("ann"), [&](api& a, api_result& r) { a.remove_archive(r, a1); });
    EXPECT_EQ(res.code, API_IN_USE);
    EXPECT_EQ(counts(), before);
    EXPECT_EQ(indexed(a1), 2);
    res = call(user("bob"), [&](api& a, api_result& r) { a.remove_archive(r, a1); });
    EXPECT_EQ(res.code, API_ACCESS_VIOLATION);

    erase<CollectionConfiguration>(colid);
    txn.begin();
    const std::int32_t total = docs_->document_count(db_, 0);
    txn.commit();
    res = call(user("ann"), [&](api& a, api_result& r) { a.remove_archive(r, a1); });
    ASSERT_TRUE(res.ok);
    EXPECT_EQ(counts(), "0 2 0 0 0 0\n");
    txn.begin();
    EXPECT_EQ(docs_->document_count(db_, 0), total - 2);
    index->flush();
    txn.commit();
    EXPECT_EQ(indexed(a1), 0);
    EXPECT_EQ(indexed(a2), 2);
    EXPECT_EQ(sql("select count(*) from docstorage where arcid=" + std::to_string(a2)), "2\n");

    ArchiveInfo info;
    EXPECT_EQ(info_of(admin(), a1, info).code, API_ACCESS_VIOLATION);
    EXPECT_TRUE(info_of(admin(), a2, info).ok);
    base_.services.index = nullptr;
}
