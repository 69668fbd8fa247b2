// Index configurations: an archive and its source read and written as one record.
#include "api/indexcfg-info.h"

#include "apiops/api-schedule.h"
#include "apiops/api-source.h"
#include "fixture.h"

namespace lumbrake {
// Readable failure messages for whole configurations.
void PrintTo(const IndexConfiguration& c, std::ostream* os) {
    auto list = [os](const std::vector<std::string>& v) {
        *os << "[";
        for (const auto& s : v)
            *os << s << ";";
        *os << "] ";
    };
    *os << c.Name << " H" << c.Historicize << " " << c.AdministrativeContact << " ";
    list(c.Seeds);
    list(c.IncludeFilters);
    list(c.ExcludeFilters);
    *os << c.SchedulingFrequency << "/" << c.SchedulingAttribute << "/" << c.AccessTime << " P"
        << c.PagesLimit << " D" << c.DepthLimit << " G" << c.GarbageLimit;
}
} // namespace lumbrake

namespace apiops4 {
namespace {

IndexConfiguration sample() {
    IndexConfiguration c;
    c.Name = "Intranet";
    c.Historicize = true;
    c.AdministrativeContact = "web@example.org";
    c.Seeds = {"HTTP://WWW.Example.org:80/a/../start#top", "http://example.org",
               "http://example.org/already", "intranet.example.org/x"};
    c.IncludeFilters = {"example\\.org"};
    c.ExcludeFilters = {"\\.iso$"};
    c.SchedulingFrequency = DAILY;
    c.SchedulingAttribute = 1;
    c.AccessTime = 3;
    c.PagesLimit = 1000;
    c.DepthLimit = 4;
    c.GarbageLimit = 7;
    return c;
}

class IndexCfg : public scratch_db {
protected:
    std::int32_t add(const IndexConfiguration& c) {
        std::int32_t id = 0;
        EXPECT_TRUE(call(context(true), [&](api& a, api_result& r) { a.add_index(r, c, id); }).ok);
        return id;
    }
    api_result get(const api_context& ctx, std::int32_t id, IndexConfiguration& c,
                   std::uint32_t& magic) {
        return call(ctx,
                    [&](api& a, api_result& r) { a.get_index_configuration(r, id, c, magic); });
    }
    api_result set(const api_context& ctx, std::int32_t id, const IndexConfiguration& c,
                   std::uint32_t magic) {
        return call(ctx,
                    [&](api& a, api_result& r) { a.set_index_configuration(r, id, c, magic); });
    }
    api_result remove(const api_context& ctx, std::int32_t id) {
        return call(ctx, [&](api& a, api_result& r) { a.remove_index(r, id); });
    }
    std::vector<IndexInfo> list(const api_context& ctx, api_result* out = nullptr) {
        std::vector<IndexInfo> infos;
        api_result r =
            call(ctx, [&](api& a, api_result& res) { a.enum_index_configurations(res, infos); });
        EXPECT_TRUE(r.ok);
        if (out) *out = r;
        return infos;
    }
};

TEST_F(IndexCfg, AddStoresArchiveAndSourceAndGetReadsThemBack) {
    const std::int32_t id = add(sample());
    ASSERT_GT(id, 0);

    // The id is the archive's; the archive names a new source built from the configuration.
    ArchiveConfiguration archive;
    std::uint32_t amagic = 0, smagic = 0;
    ASSERT_TRUE(cfgstorage<ArchiveConfiguration>::get(db_, id, archive, amagic));
    SourceConfiguration source;
    ASSERT_TRUE(cfgstorage<SourceConfiguration>::get(db_, archive.Source, source, smagic));
    EXPECT_EQ(archive.Name, "Intranet");
    EXPECT_TRUE(archive.Historicize);
    EXPECT_EQ(archive.Auth, 0);
    EXPECT_EQ(archive.DocumentCache, FULLCACHE);
    EXPECT_TRUE(archive.ACL.empty());
    EXPECT_EQ(source.Name, "Intranet");
    EXPECT_TRUE(source.CheckRobotsTxt);
    EXPECT_EQ(source.Type, AUTH_NONE);
    EXPECT_EQ(source.CookieParams.Freshness, 0);
    EXPECT_TRUE(source.ACL.empty());

    IndexConfiguration got;
    std::uint32_t magic = 0;
    ASSERT_TRUE(get(context(true), id, got, magic).ok);
    IndexConfiguration want = sample();
    // The seed without a scheme is stored exactly as AddSource would store it.
    SourceConfiguration as_source;
    as_source.Seeds = {"intranet.example.org/x"};
    normalize_seeds(as_source);
    want.Seeds = {"http://www.example.org/start", "http://example.org/",
                  "http://example.org/already", as_source.Seeds[0]};
    EXPECT_EQ(got, want);
    EXPECT_EQ(magic, amagic ^ smagic);

    // Both rows are in the configuration table as the sqlite3 shell sees it.
    EXPECT_EQ(shell("select key, id from cfgstorage order by key"),
              "ArchiveConfiguration|" + std::to_string(id) + "\nSourceConfiguration|" +
                  std::to_string(archive.Source) + "\n");
}

TEST_F(IndexCfg, SetWithCurrentMagicOnlyAndNeverChangesHistoricize) {
    const std::int32_t id = add(sample());
    IndexConfiguration c;
    std::uint32_t magic = 0;
    ASSERT_TRUE(get(context(true), id, c, magic).ok);

    IndexConfiguration changed = c;
    changed.Name = "Renamed";
    changed.Historicize = !c.Historicize;
    changed.Seeds = {"http://Other.example.org"};
    changed.DepthLimit = 9;
    changed.SchedulingFrequency = WEEKLY;
    changed.GarbageLimit = 1;
    EXPECT_TRUE(set(context(true), id, changed, magic).ok);

    IndexConfiguration after;
    std::uint32_t new_magic = 0;
    ASSERT_TRUE(get(context(true), id, after, new_magic).ok);
    IndexConfiguration want = changed;
    want.Historicize = c.Historicize;
    want.Seeds = {"http://other.example.org/"};
    EXPECT_EQ(after, want);
    EXPECT_NE(new_magic, magic);

    // The old magic is stale now: refused, and nothing changes.
    IndexConfiguration again = changed;
    again.Name = "Lost update";
    EXPECT_EQ(set(context(true), id, again, magic).code, API_BAD_MAGIC);
    IndexConfiguration kept;
    std::uint32_t kept_magic = 0;
    ASSERT_TRUE(get(context(true), id, kept, kept_magic).ok);
    EXPECT_EQ(kept, want);
    EXPECT_EQ(kept_magic, new_magic);
}

TEST_F(IndexCfg, NonAdministratorsAndMissingRecordsAreRefused) {
    const std::int32_t id = add(sample());
    IndexConfiguration c;
    std::uint32_t magic = 0;
    ASSERT_TRUE(get(context(true), id, c, magic).ok);

    // Even a user whom every ACL would let in is no administrator.
    RootACL open{{"All Users", WRITEACCESS, false}, {"All Users", READACCESS, false}};
    std::uint32_t m = 0;
    ASSERT_TRUE(cfgstorage<RootACL>::set(db_, ROOTACL_CRAWLING, open, m));
    const api_context user = context(false);
    std::int32_t new_id = -1;
    EXPECT_EQ(call(user, [&](api& a, api_result& r) { a.add_index(r, sample(), new_id); }).code,
              API_ACCESS_VIOLATION);
    EXPECT_EQ(new_id, -1);
    IndexConfiguration out;
    EXPECT_EQ(get(user, id, out, m).code, API_ACCESS_VIOLATION);
    EXPECT_EQ(set(user, id, c, magic).code, API_ACCESS_VIOLATION);
    EXPECT_EQ(remove(user, id).code, API_ACCESS_VIOLATION);
    api_result r;
    EXPECT_TRUE(list(user, &r).empty());
    EXPECT_EQ(r, api_result{});

    // Unknown ids, and an archive whose source is gone, answer the same code.
    EXPECT_EQ(get(context(true), 999, out, m).code, API_ACCESS_VIOLATION);
    EXPECT_EQ(set(context(true), 999, c, magic).code, API_ACCESS_VIOLATION);
    EXPECT_EQ(remove(context(true), 999).code, API_ACCESS_VIOLATION);
    ArchiveConfiguration orphan;
    orphan.Name = "orphan";
    orphan.Source = 555;
    const int orphan_id = cfgstorage<ArchiveConfiguration>::add(db_, orphan, m);
    EXPECT_EQ(get(context(true), orphan_id, out, m).code, API_ACCESS_VIOLATION);
    EXPECT_EQ(set(context(true), orphan_id, c, magic).code, API_ACCESS_VIOLATION);

    // Nothing was written by the refused calls.
    IndexConfiguration still;
    ASSERT_TRUE(get(context(true), id, still, m).ok);
    EXPECT_EQ(still, c);
    std::vector<int> ids;
    cfgstorage<SourceConfiguration>::list(db_, ids);
    EXPECT_EQ(ids.size(), 1u);
}

TEST_F(IndexCfg, RemoveKeepsASharedSourceAndAnswersInUse) {
    const std::int32_t first = add(sample());
    ArchiveConfiguration a;
    std::uint32_t m = 0;
    ASSERT_TRUE(cfgstorage<ArchiveConfiguration>::get(db_, first, a, m));
    ArchiveConfiguration second_archive = a;
    second_archive.Name = "Second";
    const int second = cfgstorage<ArchiveConfiguration>::add(db_, second_archive, m);

    EXPECT_EQ(remove(context(true), first).code, API_IN_USE);
    ArchiveConfiguration gone;
    EXPECT_FALSE(cfgstorage<ArchiveConfiguration>::get(db_, first, gone, m));
    SourceConfiguration source;
    EXPECT_TRUE(cfgstorage<SourceConfiguration>::get(db_, a.Source, source, m));

    EXPECT_TRUE(remove(context(true), second).ok);
    EXPECT_FALSE(cfgstorage<SourceConfiguration>::get(db_, a.Source, source, m));
    EXPECT_EQ(shell("select count(*) from cfgstorage"), "0\n");
}

TEST_F(IndexCfg, RemoveOfAnArchiveInACollectionRemovesNothing) {
    const std::int32_t id = add(sample());
    CollectionConfiguration coll;
    coll.Name = "All";
    coll.Archives = {id};
    std::uint32_t m = 0;
    ASSERT_GT(cfgstorage<CollectionConfiguration>::add(db_, coll, m), 0);
    logs_->start_crawl(db_, id, clock_ - 100);

    EXPECT_EQ(remove(context(true), id).code, API_IN_USE);
    IndexConfiguration c;
    EXPECT_TRUE(get(context(true), id, c, m).ok);
    EXPECT_EQ(shell("select count(*) from crawlstats"), "1\n");
}

TEST_F(IndexCfg, ListHasOneEntryPerLoadableArchiveWithItsCrawlState) {
    IndexConfiguration hourly = sample();
    hourly.Name = "hourly";
    hourly.SchedulingFrequency = HOURLY;
    hourly.SchedulingAttribute = 6;
    hourly.AccessTime = 2;
    const std::int32_t a = add(hourly);
    IndexConfiguration off = sample();
    off.Name = "off";
    off.Historicize = false;
    off.SchedulingFrequency = DISABLED;
    const std::int32_t b = add(off);
    // An archive whose source cannot be loaded is left out, without an error.
    ArchiveConfiguration orphan;
    orphan.Source = 777;
    std::uint32_t m = 0;
    const int c = cfgstorage<ArchiveConfiguration>::add(db_, orphan, m);
    ASSERT_GT(c, b);

    logs_->start_crawl(db_, a, clock_ - 3600);
    logs_->log_document(db_, "g1", a, "http://example.org/", clock_ - 10, 0);
    logs_->start_crawl(db_, b, clock_ - 7200);
    logs_->end_crawl(db_, b, clock_ - 7000);

    const std::vector<IndexInfo> infos = list(context(true));
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[0].Index, a);
    EXPECT_EQ(infos[0].Name, "hourly");
    EXPECT_TRUE(infos[0].Historicize);
    EXPECT_TRUE(infos[0].Crawling);
    EXPECT_EQ(infos[0].Documents, 1);
    EXPECT_EQ(infos[0].LastRunStart, clock_ - 3600);
    EXPECT_EQ(infos[0].LastRunEnd, 0);
    // 22:13 UTC with runs every 6 hours from 02:00: the next is 02:00 the next day.
    EXPECT_EQ(infos[0].NextRun, next_run_at(HOURLY, 6, 2, clock_));
    EXPECT_EQ(infos[0].NextRun, 1700013600);
    EXPECT_EQ(infos[0].Configuration.Name, "hourly");

    EXPECT_EQ(infos[1].Index, b);
    EXPECT_FALSE(infos[1].Historicize);
    EXPECT_FALSE(infos[1].Crawling);
    EXPECT_EQ(infos[1].LastRunStart, clock_ - 7200);
    EXPECT_EQ(infos[1].LastRunEnd, clock_ - 7000);
    EXPECT_EQ(infos[1].NextRun, 0);

    // Each entry's magic is the one that get answers and set accepts.
    IndexConfiguration got;
    std::uint32_t magic = 0;
    ASSERT_TRUE(get(context(true), b, got, magic).ok);
    EXPECT_EQ(infos[1].Magic, magic);
    EXPECT_EQ(infos[1].Configuration, got);
    EXPECT_TRUE(set(context(true), b, got, infos[1].Magic).ok);
}

TEST_F(IndexCfg, TextsThatXmlCannotCarryAreRefusedWithoutWriting) {
    IndexConfiguration bad = sample();
    bad.Name = std::string("bad\x01name", 8);
    std::int32_t id = -1;
    const api_result r =
        call(context(true), [&](api& a, api_result& res) { a.add_index(res, bad, id); });
    EXPECT_EQ(r.code, API_INVALID_ENTITY);
    EXPECT_EQ(id, -1);
    EXPECT_EQ(shell("select count(*) from cfgstorage"), "0\n");

    // On set, neither record is written when one of them cannot be.
    const std::int32_t good = add(sample());
    IndexConfiguration c;
    std::uint32_t magic = 0;
    ASSERT_TRUE(get(context(true), good, c, magic).ok);
    IndexConfiguration half = c;
    half.Seeds = {"http://changed.example.org/"};
    half.AdministrativeContact = std::string("\x02", 1); // only the archive carries it
    EXPECT_EQ(set(context(true), good, half, magic).code, API_INVALID_ENTITY);
    IndexConfiguration after;
    std::uint32_t after_magic = 0;
    ASSERT_TRUE(get(context(true), good, after, after_magic).ok);
    EXPECT_EQ(after, c);
    EXPECT_EQ(after_magic, magic);
}

} // namespace
} // namespace apiops4
