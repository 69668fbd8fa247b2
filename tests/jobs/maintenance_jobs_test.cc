// The maintenance jobs against the real storages, a real index server and the sqlite3 shell.
#include "../support/command.h"
#include "../support/fff_fixtures.h"
#include "../support/sqlite_db.h"
#include "trawlnestd/maintenance-jobs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "docstorage/docstorage.h"
#include "fetchqueue/fetchqueue.h"
#include "idxstorage/idx-search.h"
#include "idxstorage/idxstorage.h"
#include "logstorage/logstorage.h"
#include "robotschecker/robotschecker.h"
#include "trawlnestd/cfgstorage.h"
#include "trawlnestd/daemon-storages.h"
#include "trawlnestd/dbconn.h"
#include "util/config.h"
#include "util/sqlite_txn.h"
#include "fff/FFF.h"

#include <sys/mount.h>

#include <iterator>
#include <random>

namespace {

using namespace lumbrake;
namespace fs = std::filesystem;

// DEPLOYDIR/bin/siftvault, the configuration file, the environment store naming it, and data
// directories that become the current directory in turn (the daemon's DATADIR).
class deploy_root {
public:
    deploy_root() {
        root_ = fs::path(testing::TempDir()) / ("jobs-" + std::to_string(getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "deploy" / "bin");
        fs::create_symlink(TN_SIFTVAULT, root_ / "deploy" / "bin" / "siftvault");
        std::ofstream(root_ / "trawlnest.cfg")
            << "DEPLOYDIR=" << (root_ / "deploy").string() << "\nSyncLevel=0\n";
        std::ofstream(root_ / "environment")
            << "LUMBRAKE_CONFIG_FILE=" << (root_ / "trawlnest.cfg").string() << "\n";
        setenv("LUMBRAKE_ENV_STORE", (root_ / "environment").c_str(), 1);
        cfg_ = std::make_unique<config>((root_ / "trawlnest.cfg").c_str());
        old_cwd_ = fs::current_path();
    }
    ~deploy_root() {
        std::error_code ec;
        fs::current_path(old_cwd_, ec);
        unsetenv("LUMBRAKE_ENV_STORE");
        fs::remove_all(root_, ec);
    }
    void enter(const std::string& data) {
        fs::create_directories(root_ / data);
        fs::current_path(root_ / data);
    }
    std::string path(const std::string& name) const { return (root_ / name).string(); }
    const config& cfg() const { return *cfg_; }

private:
    fs::path root_, old_cwd_;
    std::unique_ptr<config> cfg_;
};

// What the daemon's start-up opens in the current directory, in one transaction.
struct open_storages : daemon_storages {
    explicit open_storages(const config& cfg) : db(cfg) {
        storage_transaction txn(db);
        open(db, {.throttling = 0, .user_agent = "lumbrakebot", .robots_clock = [] {
                      return std::int64_t{1000000};
                  }});
        txn.commit();
    }
    // Before the connection closes.
    ~open_storages() { close(); }
    maintenance_storages view() const { return maintenance(); }
    // The PlatformGUID as the database has it now (a restore replaces it).
    std::string guid() const {
        std::string g;
        read_platform_guid(db, g);
        return g;
    }
    // The guids the index finds in archive 1, all of them or those holding the word.
    std::set<std::string> indexed(const std::string& word = {}) {
        std::vector<QueryAtom> query;
        if (!word.empty()) query.push_back({ATOM_WORD, "", word});
        std::vector<QueryResult> results;
        index->search({.archives = {1},
                       .first = 0,
                       .last = 99,
                       .info = INFO_URL,
                       .view = VIEW_PUBLISHED,
                       .sort = SORT_RELEVANCE,
                       .query = query},
                      results, db, *docs);
        std::set<std::string> ids;
        for (const QueryResult& r : results)
            ids.insert(r.ID);
        return ids;
    }
    bool stored(const std::string& guid) {
        stored_version v;
        return docs->load(db, guid, v);
    }

    db_connection db;
};

// A stored page of archive 1 at http://h/<guid> whose FFF holds the word <guid>.
stored_version page_version(const std::string& guid, const std::string& content,
                            std::int32_t error = 0) {
    return {.guid = guid,
            .arcid = 1,
            .url = "http://h/" + guid,
            .timestamp = 7200,
            .error = error,
            .headers = "H",
            .content = content,
            .fff = fff_with_word(guid),
            .fffcrc = 1,
            .corecrc = 2,
            .score = 500000,
            .mime = "text/html",
            .charset = "utf-8",
            .servertime = 7200};
}

// Documents (two indexable, one failed fetch), queued URLs, a crawl with its log, a robots.txt
// and (unless told not to) two sources. The query log stays empty. Nothing is indexed.
void fill(open_storages& s, const std::vector<std::string>& guids, bool sources = true) {
    storage_transaction txn(s.db);
    for (const std::string& g : guids) {
        std::int32_t error = g == "failed" ? 4 : 0;
        s.docs->store(s.db, page_version(g, "content " + g, error), {{"k", "v"}}, 0);
    }
    s.queue->push(s.db, 1, "http://h/next", 5);
    s.logs->start_crawl(s.db, 1, 3600);
    s.logs->log_document(s.db, "alpha", 1, "http://h/alpha", 3600, 0);
    s.robots->store(s.db, "http://h/robots.txt", "User-agent: *\nDisallow: /private\n");
    SourceConfiguration src;
    std::uint32_t magic = 0;
    for (const char* name : {"one", "two"}) {
        if (!sources) break;
        src.Name = name;
        EXPECT_NE(cfgstorage<SourceConfiguration>::add(s.db, src, magic), 0);
    }
    txn.commit();
}

// The first line that the sqlite3 shell prints for the SQL over the file.
std::string shell(const std::string& file, const std::string& sql) {
    std::string out = tn_test::sqlite_output(file, sql);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

std::int64_t rows(sqlite3* db, const std::string& table) {
    return tn_test::sql_scalar(db, "select count(*) from " + table);
}

TEST(MaintenanceJobs, BackupReadByShellAndRestoredIntoFreshDatabase) {
    deploy_root root;
    const std::string file = root.path("backup.db");
    std::ofstream(file) << "an older file in the way";
    std::string guid;

    root.enter("data1");
    {
        open_storages live(root.cfg());
        fill(live, {"alpha", "beta", "failed"});
        guid = live.guid();
        std::string error = "stale";
        ASSERT_TRUE(backup(root.cfg(), file, error)) << error;
        EXPECT_EQ(error, "");
    }

    // The backup as the sqlite3 shell sees it: the nine tables, none of the others.
    EXPECT_EQ(shell(file, "select group_concat(name, ' ') from (select name from sqlite_master "
                          "where type='table' order by name)"),
              "auxstorage cfgstorage crawlstats dbconfig doccount docstorage documentlog "
              "fetchqueue querylog");
    EXPECT_EQ(shell(file, "select count(*) from docstorage"), "3");
    EXPECT_EQ(shell(file, "select count(*) from querylog"), "0"); // empty table, no page
    EXPECT_EQ(shell(file, "select count(*) from cfgstorage where key='SourceConfiguration'"), "2");
    EXPECT_EQ(shell(file, "select value from dbconfig where key='PlatformGUID'"), guid);
    EXPECT_EQ(shell(file, "select url from fetchqueue"), "http://h/next");
    EXPECT_EQ(shell(file, "pragma integrity_check"), "ok");

    // A fresh database with its own document, index entry and robots.txt.
    root.enter("data2");
    open_storages fresh(root.cfg());
    fill(fresh, {"zeta"}, false); // its source counter stays at 0
    storage_transaction txn(fresh.db);
    fresh.docs->rebuild_index(fresh.db, *fresh.index);
    fresh.robots->store(fresh.db, "http://r2/robots.txt", "User-agent: *\nDisallow: /\n");
    txn.commit();
    ASSERT_EQ(fresh.indexed(), std::set<std::string>{"zeta"});
    EXPECT_NE(fresh.guid(), guid);

    std::string error;
    ASSERT_TRUE(restore(root.cfg(), file, fresh.view(), error)) << error;

    EXPECT_TRUE(fresh.stored("alpha"));
    EXPECT_TRUE(fresh.stored("failed"));
    EXPECT_FALSE(fresh.stored("zeta"));
    EXPECT_EQ(fresh.guid(), guid);
    EXPECT_EQ(fresh.indexed(), (std::set<std::string>{"alpha", "beta"}));
    EXPECT_EQ(fresh.indexed("zeta"), std::set<std::string>{});
    // The robots cache keeps its live contents.
    std::string robots_url;
    EXPECT_FALSE(fresh.robots->needs_refresh(fresh.db, "http://r2/x", robots_url));
    bool compiled = false;
    EXPECT_FALSE(fresh.robots->allowed(fresh.db, "http://r2/x", compiled));
    // The restored sources keep their ids, and the next source does not take one of them.
    txn.begin();
    SourceConfiguration src;
    std::uint32_t magic = 0;
    ASSERT_TRUE(cfgstorage<SourceConfiguration>::get(fresh.db, 2, src, magic));
    EXPECT_EQ(src.Name, "two");
    src.Name = "three";
    EXPECT_EQ(cfgstorage<SourceConfiguration>::add(fresh.db, src, magic), 3);
    txn.commit();
}

// A file that is not a complete backup is refused before anything live changes.
TEST(MaintenanceJobs, RestoreRefusesUnusableFilesAndKeepsLiveData) {
    deploy_root root;
    root.enter("data");
    open_storages live(root.cfg());
    fill(live, {"alpha", "beta", "failed"});
    const std::string good = root.path("good.db");
    std::string error;
    ASSERT_TRUE(backup(root.cfg(), good, error)) << error;

    const std::string missing = root.path("missing.db");
    const std::string garbage = root.path("garbage.db");
    std::ofstream(garbage) << std::string(3000, 'x');
    const std::string foreign = root.path("foreign.db");
    shell(foreign, "create table notes(x); insert into notes values(1);");
    const std::string lacking = root.path("lacking.db");
    fs::copy_file(good, lacking);
    shell(lacking, "drop table crawlstats;");
    const std::string reshaped = root.path("reshaped.db");
    fs::copy_file(good, reshaped);
    shell(reshaped, "drop table querylog; create table querylog(a, b);");
    const std::string cut = root.path("cut.db");
    {
        std::ifstream in(good, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    }

    struct refusal {
        std::string file;
        std::string expected; // the start of the error text
    };
    const std::string prefix = "Error while restoring: file=";
    const refusal cases[] = {
        {missing, "Backup file " + missing + " not found"},
        {garbage, prefix + garbage},
        {foreign, prefix + foreign + " not a usable backup: table dbconfig missing"},
        {lacking, prefix + lacking + " not a usable backup: table crawlstats missing"},
        {reshaped, prefix + reshaped + " not a usable backup: table querylog has other columns"},
        {cut, prefix + cut},
        {(fs::current_path() / "trawlnest.db").string(), prefix},
    };
    for (const refusal& c : cases) {
        error.clear();
        EXPECT_FALSE(restore(root.cfg(), c.file, live.view(), error)) << c.file;
        EXPECT_EQ(error.substr(0, c.expected.size()), c.expected) << error;
        EXPECT_EQ(rows(live.db, "docstorage"), 3) << c.file;
        EXPECT_EQ(rows(live.db, "cfgstorage"), 2) << c.file;
        EXPECT_EQ(rows(live.db, "fetchqueue"), 1) << c.file;
    }
    EXPECT_EQ(error,
              prefix + (fs::current_path() / "trawlnest.db").string() + " is the live database");

    // And the good backup still restores over the same live database.
    ASSERT_TRUE(restore(root.cfg(), good, live.view(), error)) << error;
    EXPECT_EQ(rows(live.db, "docstorage"), 3);
}

TEST(MaintenanceJobs, BackupRefusals) {
    deploy_root root;
    root.enter("data");
    open_storages live(root.cfg());
    fill(live, {"alpha"});
    std::string error;
    const std::string nowhere = root.path("no-such-dir/backup.db");
    EXPECT_FALSE(backup(root.cfg(), nowhere, error));
    EXPECT_EQ(error, "Error while backing up: file=" + nowhere +
                         " code=" + std::to_string(SQLITE_CANTOPEN));
    // Backing up onto the live file (under another spelling) would delete it first.
    const std::string self = (fs::current_path() / "." / "trawlnest.db").string();
    EXPECT_FALSE(backup(root.cfg(), self, error));
    EXPECT_EQ(error, "Error while backing up: file=" + self + " is the live database");
    EXPECT_EQ(rows(live.db, "docstorage"), 1);
}

TEST(MaintenanceJobs, BackupOnAFullVolumeKeepsThePreviousBackup) {
    deploy_root root;
    root.enter("data");
    open_storages live(root.cfg());
    fill(live, {"alpha"});
    const fs::path volume = root.path("volume");
    fs::create_directories(volume);
    if (::mount("tmpfs", volume.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "a small tmpfs for the full volume cannot be mounted here (needs root)";
    struct unmount {
        fs::path p;
        ~unmount() { ::umount2(p.c_str(), MNT_DETACH); }
    } guard{volume};
    const std::string file = (volume / "backup.db").string();
    std::string error;
    ASSERT_TRUE(backup(root.cfg(), file, error)) << error;
    std::ifstream first(file, std::ios::binary);
    const std::string good((std::istreambuf_iterator<char>(first)), {});

    // The store outgrows the volume: incompressible content.
    std::mt19937 rng(7);
    std::string noise(400 * 1024, '\0');
    for (char& c : noise)
        c = static_cast<char>(rng());
    storage_transaction txn(live.db);
    live.docs->store(live.db, page_version("big", noise), {}, 0);
    txn.commit();
    EXPECT_FALSE(backup(root.cfg(), file, error));
    EXPECT_NE(error.find("the previous backup is kept"), std::string::npos) << error;
    std::ifstream again(file, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(again)), {}), good);
    EXPECT_FALSE(fs::exists(file + ".new"));
}

TEST(MaintenanceJobs, ResetEmptiesStoragesButKeepsConfiguration) {
    deploy_root root;
    root.enter("data");
    open_storages live(root.cfg());
    fill(live, {"alpha", "beta"});
    std::string error;
    ASSERT_TRUE(reindex(root.cfg(), live.view(), error));
    ASSERT_EQ(live.indexed(), (std::set<std::string>{"alpha", "beta"}));
    const std::string guid = live.guid();

    ASSERT_TRUE(reset(root.cfg(), live.view(), error));
    EXPECT_EQ(error, "");
    for (const char* table :
         {"docstorage", "auxstorage", "documentlog", "crawlstats", "fetchqueue", "robotscache"})
        EXPECT_EQ(rows(live.db, table), 0) << table;
    EXPECT_EQ(live.indexed(), std::set<std::string>{});
    EXPECT_EQ(rows(live.db, "cfgstorage"), 2);
    EXPECT_EQ(live.guid(), guid);
    std::uint32_t arcid;
    std::string url;
    std::uint32_t priority;
    storage_transaction txn(live.db);
    EXPECT_FALSE(live.queue->next(live.db, arcid, url, priority));
    txn.commit();
}

TEST(MaintenanceJobs, ReindexIndexesExactlyTheStoredDocuments) {
    deploy_root root;
    root.enter("data");
    open_storages live(root.cfg());
    live.index->add_document("stale", 1, "http://h/stale", "text/html", 3600, 3600, 1000, {0},
                             fff_with_word("stale"));
    live.index->flush();
    fill(live, {"alpha", "beta", "failed"});
    std::string error = "stale";
    ASSERT_TRUE(reindex(root.cfg(), live.view(), error));
    EXPECT_EQ(error, "");
    EXPECT_EQ(live.indexed(), (std::set<std::string>{"alpha", "beta"}));
    EXPECT_EQ(live.indexed("beta"), std::set<std::string>{"beta"});
}

TEST(MaintenanceJobFrame, StepsAndFailureReport) {
    struct run {
        maintenance_job job;
        int failing_step; // 0 none, 1 prepare, 2 open, 3 job
        const char* report;
    };
    const run runs[] = {
        {maintenance_job::restore, 3, "Error restoring trawlnest: step 3 failed"},
        {maintenance_job::reset, 1, "Error resetting trawlnest: step 1 failed"},
        {maintenance_job::backup, 2, "Error backing up trawlnest: step 2 failed"},
        {maintenance_job::reindex, 3, "Error while reindexing: step 3 failed"},
        {maintenance_job::import_config, 3, "Error importing config to trawlnest: step 3 failed"},
        {maintenance_job::export_config, 3, "Error exporting config from trawlnest: step 3 failed"},
        {maintenance_job::reindex, 0, ""},
        {maintenance_job::backup, 0, ""},
    };
    for (const run& r : runs) {
        std::string trace, reported, stored = "unset";
        auto step = [&](int n) {
            return [&, n](std::string& error) {
                trace += std::to_string(n);
                if (n != r.failing_step) return true;
                error = "step " + std::to_string(n) + " failed";
                return false;
            };
        };
        maintenance_frame_steps steps{[&](const std::string& a) { stored = a; },
                                      step(1),
                                      step(2),
                                      step(3),
                                      [&] { trace += "c"; },
                                      [&](const std::string& t) { reported = t; }};
        int status = run_maintenance_job(r.job, "/arg", steps);
        EXPECT_EQ(reported, r.report);
        EXPECT_EQ(status, r.failing_step ? 1 : 0);
        EXPECT_EQ(trace, r.failing_step ? std::string("123").substr(0, r.failing_step)
                                        : std::string("123c"));
        EXPECT_EQ(stored, maintenance_job_takes_argument(r.job) ? "/arg" : "unset");
    }
}

} // namespace
