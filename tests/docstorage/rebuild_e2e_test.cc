// The index rebuild against a real index client and index server: what the index holds
// afterwards is searched through the client.
#include "../support/fff_fixtures.h"
#include "docstorage/docstorage.h"
#include "idxstorage/idx-search.h"
#include "idxstorage/idxstorage.h"
#include "test_db.h"
#include "fff/FFF.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

using namespace lumbrake;
using docstorage_test::test_db;
namespace fs = std::filesystem;

namespace {

// DEPLOYDIR/bin/siftvault, a configuration file naming DEPLOYDIR, the environment store that
// names the file, and a working directory (the daemon's DATADIR) for the index.
class scratch_deploy {
public:
    scratch_deploy() {
        root_ = fs::path(testing::TempDir()) / ("rebuild-" + std::to_string(getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "deploy" / "bin");
        fs::create_directories(root_ / "data");
        fs::create_symlink(TN_SIFTVAULT, root_ / "deploy" / "bin" / "siftvault");
        std::ofstream(root_ / "trawlnest.cfg")
            << "DEPLOYDIR=" << (root_ / "deploy").string() << "\n";
        std::ofstream(root_ / "environment")
            << "LUMBRAKE_CONFIG_FILE=" << (root_ / "trawlnest.cfg").string() << "\n";
        setenv("LUMBRAKE_ENV_STORE", (root_ / "environment").c_str(), 1);
        old_cwd_ = fs::current_path();
        fs::current_path(root_ / "data");
    }
    ~scratch_deploy() {
        std::error_code ec;
        fs::current_path(old_cwd_, ec);
        unsetenv("LUMBRAKE_ENV_STORE");
        fs::remove_all(root_, ec);
    }

private:
    fs::path root_, old_cwd_;
};

} // namespace

TEST(DocstorageRebuildE2E, IndexHoldsExactlyTheProcessedVersions) {
    scratch_deploy deploy;
    test_db t;
    docstorage ds(t.db());
    auto index = std::make_unique<idxstorage>();

    // Something indexed before that the store no longer has: the rebuild starts from nothing.
    index->add_document("stale", 1, "http://h/stale", "text/html", 3600, 3600, 1000, {0},
                        fff_with_word("stale"));
    index->flush();

    struct doc {
        const char* guid;
        std::int32_t error;
        int cache;
        bool corechanged;
    };
    const doc docs[] = {
        {"alpha", 0, 0, false}, {"beta", 0, 1, true},     {"gamma", 9, 0, false},
        {"delta", 4, 0, false}, {"epsilon", 0, 2, false},
    };
    for (const doc& d : docs)
        ds.store(t.db(),
                 {.guid = d.guid,
                  .arcid = 1,
                  .url = std::string("http://h/") + d.guid,
                  .timestamp = 7200,
                  .error = d.error,
                  .content = "content",
                  .fff = fff_with_word(d.guid),
                  .corechanged = d.corechanged,
                  .score = 500000,
                  .mime = "text/html",
                  .charset = "utf-8",
                  .servertime = 7200},
                 {}, d.cache);

    ds.rebuild_index(t.db(), *index);

    auto found = [&](std::vector<QueryAtom> query, std::int32_t view) {
        std::vector<QueryResult> results;
        std::int32_t n = index->search({.archives = {1},
                                        .first = 0,
                                        .last = 99,
                                        .info = INFO_URL,
                                        .view = view,
                                        .sort = SORT_RELEVANCE,
                                        .query = query},
                                       results, t.db(), ds);
        std::set<std::string> ids;
        for (const QueryResult& r : results)
            ids.insert(r.ID + " " + r.Url);
        EXPECT_EQ(n, static_cast<std::int32_t>(ids.size()));
        return ids;
    };
    using ids = std::set<std::string>;
    EXPECT_EQ(found({}, VIEW_PUBLISHED),
              ids({"alpha http://h/alpha", "beta http://h/beta", "epsilon http://h/epsilon"}));
    EXPECT_EQ(found({{ATOM_WORD, "", "common"}}, VIEW_PUBLISHED),
              ids({"alpha http://h/alpha", "beta http://h/beta"}));
    EXPECT_EQ(found({{ATOM_WORD, "", "beta"}}, VIEW_PUBLISHED), ids({"beta http://h/beta"}));
    EXPECT_EQ(found({}, VIEW_CORECHANGED), ids({"beta http://h/beta"}));
    for (const char* absent : {"stale", "gamma", "delta", "epsilon"})
        EXPECT_EQ(found({{ATOM_WORD, "", absent}}, VIEW_PUBLISHED), ids()) << absent;

    index.reset(); // QUIT and wait for the server while the scratch folder still exists
}
