// Grouped storage transactions: several threads on one connection hand the open transaction on
// and the last commits; each learns its own outcome, and none returns before the COMMIT.
#include "util/sqlite_txn.h"

#include "../support/scratch.h"
#include "../support/sqlite_db.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace lumbrake;

namespace {

// A VFS over the default one whose writes to main database files fail with SQLITE_FULL while
// `full` is set: a volume that fills between the statements and the COMMIT (in rollback-journal
// mode the database file is written only by the COMMIT).
std::atomic<bool> full{false};
sqlite3_vfs* base_vfs = nullptr;

struct full_file {
    sqlite3_file base;
    sqlite3_file* real;
    bool main_db;
};

sqlite3_file* real_of(sqlite3_file* f) {
    return reinterpret_cast<full_file*>(f)->real;
}

int f_close(sqlite3_file* f) {
    int rc = real_of(f)->pMethods->xClose(real_of(f));
    sqlite3_free(real_of(f));
    return rc;
}
int f_read(sqlite3_file* f, void* p, int n, sqlite3_int64 at) {
    return real_of(f)->pMethods->xRead(real_of(f), p, n, at);
}
int f_write(sqlite3_file* f, const void* p, int n, sqlite3_int64 at) {
    if (full && reinterpret_cast<full_file*>(f)->main_db) return SQLITE_FULL;
    return real_of(f)->pMethods->xWrite(real_of(f), p, n, at);
}
int f_truncate(sqlite3_file* f, sqlite3_int64 size) {
    return real_of(f)->pMethods->xTruncate(real_of(f), size);
}
int f_sync(sqlite3_file* f, int flags) {
    return real_of(f)->pMethods->xSync(real_of(f), flags);
}
int f_size(sqlite3_file* f, sqlite3_int64* size) {
    return real_of(f)->pMethods->xFileSize(real_of(f), size);
}
int f_lock(sqlite3_file* f, int level) {
    return real_of(f)->pMethods->xLock(real_of(f), level);
}
int f_unlock(sqlite3_file* f, int level) {
    return real_of(f)->pMethods->xUnlock(real_of(f), level);
}
int f_check(sqlite3_file* f, int* out) {
    return real_of(f)->pMethods->xCheckReservedLock(real_of(f), out);
}
int f_control(sqlite3_file* f, int op, void* arg) {
    return real_of(f)->pMethods->xFileControl(real_of(f), op, arg);
}
int f_sector(sqlite3_file* f) {
    return real_of(f)->pMethods->xSectorSize(real_of(f));
}
int f_caps(sqlite3_file* f) {
    return real_of(f)->pMethods->xDeviceCharacteristics(real_of(f));
}

const sqlite3_io_methods full_methods = {1,       f_close,   f_read,  f_write,   f_truncate,
                                         f_sync,  f_size,    f_lock,  f_unlock,  f_check,
                                         f_control, f_sector, f_caps, nullptr, nullptr,
                                         nullptr, nullptr,   nullptr, nullptr};

int v_open(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* out_flags) {
    auto* ff = reinterpret_cast<full_file*>(f);
    ff->base.pMethods = nullptr;
    ff->real = static_cast<sqlite3_file*>(sqlite3_malloc(base_vfs->szOsFile));
    std::memset(ff->real, 0, static_cast<std::size_t>(base_vfs->szOsFile));
    int rc = base_vfs->xOpen(base_vfs, name, ff->real, flags, out_flags);
    if (rc != SQLITE_OK) {
        sqlite3_free(ff->real);
        return rc;
    }
    ff->main_db = (flags & SQLITE_OPEN_MAIN_DB) != 0;
    ff->base.pMethods = &full_methods;
    return SQLITE_OK;
}

sqlite3_vfs* full_vfs() {
    static sqlite3_vfs vfs = [] {
        base_vfs = sqlite3_vfs_find(nullptr);
        sqlite3_vfs v = *base_vfs;
        v.iVersion = 1;
        v.szOsFile = static_cast<int>(sizeof(full_file));
        v.zName = "tn-full-volume";
        v.pNext = nullptr;
        v.xOpen = v_open;
        return v;
    }();
    static const bool registered = sqlite3_vfs_register(&vfs, 0) == SQLITE_OK;
    EXPECT_TRUE(registered);
    return &vfs;
}

struct connection {
    sqlite3* db = nullptr;
    explicit connection(const std::string& path, const char* vfs = nullptr) {
        EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                  vfs),
                  SQLITE_OK);
        sqlite3_busy_timeout(db, 5000);
    }
    ~connection() { sqlite3_close(db); }
    int exec(const std::string& sql) {
        return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    }
    long long rows(const std::string& where = "1") {
        return tn_test::sql_scalar(db, "select count(*) from t where " + where);
    }
};

int count_commit(void* commits) {
    ++*static_cast<std::atomic<int>*>(commits);
    return 0;
}

// Outcome of one member: committed, or the code of the sqlite_error it met.
constexpr int committed = -1;

// Runs `members` threads, each a grouped transaction on `shared` doing `work(i)` and then
// commit(), while another connection's transaction holds the storage lock until all of them
// wait for it, so that they form a line. Returns each member's outcome.
template <class Work>
std::vector<int> run_group(connection& shared, connection& blocker, int members, Work work) {
    std::vector<int> outcome(static_cast<std::size_t>(members), 0);
    std::vector<std::thread> threads;
    {
        storage_transaction hold(blocker.db);
        for (int i = 0; i < members; ++i)
            threads.emplace_back([&, i] {
                try {
                    storage_transaction txn(shared.db, storage_transaction::ending::grouped);
                    work(i);
                    txn.commit();
                    outcome[static_cast<std::size_t>(i)] = committed;
                } catch (const sqlite_error& e) {
                    outcome[static_cast<std::size_t>(i)] = e.code();
                }
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        hold.commit();
    }
    for (std::thread& t : threads)
        t.join();
    return outcome;
}

} // namespace

TEST(CommitGroup, MembersShareACommitAndOneThatGivesUpLosesOnlyItsOwnWork) {
    const std::string dir = tn_test::fresh_dir("group-member");
    connection shared(dir + "/g.db"), blocker(dir + "/b.db");
    ASSERT_EQ(shared.exec("pragma journal_mode=WAL"), SQLITE_OK);
    ASSERT_EQ(shared.exec("create table t(x)"), SQLITE_OK);
    connection reader(dir + "/g.db");
    std::atomic<int> commits{0};
    sqlite3_commit_hook(shared.db, count_commit, &commits);

    constexpr int members = 6, giving_up = 3;
    std::vector<std::thread> threads;
    std::vector<int> outcome(members, 0);
    {
        storage_transaction hold(blocker.db);
        for (int i = 0; i < members; ++i)
            threads.emplace_back([&, i] {
                storage_transaction txn(shared.db, storage_transaction::ending::grouped);
                shared.exec("insert into t values(" + std::to_string(i) + ")");
                if (i == giving_up)
                    txn.rollback();
                else
                    txn.commit();
                outcome[static_cast<std::size_t>(i)] = committed;
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    for (std::thread& t : threads)
        t.join();
    for (int i = 0; i < members; ++i)
        EXPECT_EQ(reader.rows("x = " + std::to_string(i)), i == giving_up ? 0 : 1) << i;
    // They formed a line: fewer COMMITs than members.
    EXPECT_GE(commits.load(), 1);
    EXPECT_LT(commits.load(), members);
}

TEST(CommitGroup, AStorageFailureThatEndsTheTransactionFailsTheMembersBeforeIt) {
    const std::string dir = tn_test::fresh_dir("group-full");
    connection shared(dir + "/g.db"), blocker(dir + "/b.db");
    ASSERT_EQ(shared.exec("pragma journal_mode=WAL"), SQLITE_OK);
    ASSERT_EQ(shared.exec("create table t(x)"), SQLITE_OK);
    connection reader(dir + "/g.db");
    // Room for the small rows, not for the failing member's large one: SQLite answers
    // SQLITE_FULL and rolls the whole transaction back, the released savepoints of the members
    // before it too.
    const long long pages = tn_test::sql_scalar(shared.db, "pragma page_count");
    ASSERT_EQ(shared.exec("pragma max_page_count=" + std::to_string(pages + 4)), SQLITE_OK);

    constexpr int members = 6, failing = 3;
    const std::vector<int> outcome = run_group(shared, blocker, members, [&](int i) {
        ASSERT_EQ(shared.exec("insert into t values(" + std::to_string(i) + ")"), SQLITE_OK);
        if (i == failing)
            TN_SQLITE_CHECK(shared.db, shared.exec("insert into t values(zeroblob(200000))"));
    });
    EXPECT_EQ(outcome[failing], SQLITE_FULL);
    int failed = 0;
    for (int i = 0; i < members; ++i) {
        SCOPED_TRACE(i);
        const int o = outcome[static_cast<std::size_t>(i)];
        // Each member's own outcome matches what is stored: committed rows are there, the rows
        // of members told of the failure (as a full volume) are not.
        EXPECT_TRUE(o == committed || o == SQLITE_FULL);
        EXPECT_EQ(reader.rows("x = " + std::to_string(i)), o == committed ? 1 : 0);
        failed += o != committed;
    }
    EXPECT_EQ(reader.rows(), members - failed);
    EXPECT_FALSE(storage_failure_pending());
    // The lock is free again.
    storage_transaction again(shared.db, storage_transaction::ending::grouped);
}

TEST(CommitGroup, NoMemberReturnsBeforeTheGroupsCommit) {
    const std::string dir = tn_test::fresh_dir("group-durable");
    connection shared(dir + "/g.db"), blocker(dir + "/b.db");
    ASSERT_EQ(shared.exec("pragma journal_mode=WAL"), SQLITE_OK);
    ASSERT_EQ(shared.exec("create table t(x)"), SQLITE_OK);
    constexpr int members = 8;
    std::vector<long long> visible(members, -1);
    std::vector<std::thread> threads;
    {
        storage_transaction hold(blocker.db);
        for (int i = 0; i < members; ++i)
            threads.emplace_back([&, i] {
                connection reader(dir + "/g.db");
                {
                    storage_transaction txn(shared.db, storage_transaction::ending::grouped);
                    shared.exec("insert into t values(" + std::to_string(i) + ")");
                    // Takes some time, so that the others line up behind it.
                    std::this_thread::sleep_for(std::chrono::microseconds(300));
                } // the destructor's commit, as the crawl's own guard ends
                visible[static_cast<std::size_t>(i)] = reader.rows("x = " + std::to_string(i));
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    for (std::thread& t : threads)
        t.join();
    for (int i = 0; i < members; ++i)
        EXPECT_EQ(visible[static_cast<std::size_t>(i)], 1) << i;
}

TEST(CommitGroup, AFailedCommitFailsEveryMemberAndFreesTheLock) {
    const std::string dir = tn_test::fresh_dir("group-commit");
    connection shared(dir + "/g.db", full_vfs()->zName), blocker(dir + "/b.db");
    ASSERT_EQ(shared.exec("create table t(x)"), SQLITE_OK);
    ASSERT_EQ(shared.exec("insert into t values(-1)"), SQLITE_OK);
    std::atomic<int> commits{0};
    sqlite3_commit_hook(shared.db, count_commit, &commits);

    constexpr int members = 5;
    const std::vector<int> outcome = run_group(shared, blocker, members, [&](int i) {
        ASSERT_EQ(shared.exec("insert into t values(" + std::to_string(i) + ")"), SQLITE_OK);
        full = true; // filled up before the COMMIT, whichever member makes it
    });
    full = false;
    for (int i = 0; i < members; ++i)
        EXPECT_EQ(outcome[static_cast<std::size_t>(i)], SQLITE_FULL) << i;
    EXPECT_LT(commits.load(), members);
    connection reader(dir + "/g.db");
    EXPECT_EQ(reader.rows(), 1); // only the row from before

    // The lock is free again, and the connection commits as before.
    {
        storage_transaction txn(shared.db, storage_transaction::ending::grouped);
        ASSERT_EQ(shared.exec("insert into t values(9)"), SQLITE_OK);
        txn.commit();
    }
    EXPECT_EQ(reader.rows(), 2);
}

TEST(CommitGroup, ASingleTransactionWaitingGetsTheLockBetweenGroups) {
    const std::string dir = tn_test::fresh_dir("group-single");
    connection shared(dir + "/g.db"), other(dir + "/o.db");
    ASSERT_EQ(shared.exec("pragma journal_mode=WAL"), SQLITE_OK);
    ASSERT_EQ(shared.exec("create table t(x)"), SQLITE_OK);
    ASSERT_EQ(other.exec("create table t(x)"), SQLITE_OK);
    // Eight threads in grouped transactions without pause; a request on its own connection
    // still gets its turn, and a reader waiting for the writers returns.
    std::atomic<bool> stop{false};
    std::vector<std::thread> crawlers;
    for (int i = 0; i < 8; ++i)
        crawlers.emplace_back([&] {
            while (!stop) {
                storage_transaction txn(shared.db, storage_transaction::ending::grouped);
                shared.exec("insert into t values(1)");
            }
        });
    for (int n = 0; n < 20; ++n) {
        {
            storage_transaction txn(other.db);
            ASSERT_EQ(other.exec("insert into t values(2)"), SQLITE_OK);
        }
        wait_for_storage_writers();
    }
    stop = true;
    for (std::thread& t : crawlers)
        t.join();
    EXPECT_EQ(other.rows(), 20);
    EXPECT_GT(shared.rows(), 0);
}
