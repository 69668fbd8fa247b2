// The batching VFS against SQLite's own: the same transactions leave the same database, also
// when the writer is killed right after its last COMMIT; readers on plain connections never
// see a commit whose frames are not in the log; a full volume fails the COMMIT.
#include "util/sqlite_walbatch.h"

#include "../support/small_volume.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path scratch(const std::string& name) {
    const char* tmp = std::getenv("TEST_TMPDIR");
    fs::path dir = fs::path(tmp ? tmp : "/tmp") / ("walbatch-" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

sqlite3* open(const fs::path& file, const char* vfs) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, vfs),
              SQLITE_OK);
    sqlite3_busy_timeout(db, 10000);
    return db;
}

int exec(sqlite3* db, const std::string& sql) {
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
}

void must(sqlite3* db, const std::string& sql) {
    ASSERT_EQ(exec(db, sql), SQLITE_OK) << sql << ": " << sqlite3_errmsg(db);
}

// Through the batching VFS, in WAL mode, syncing at no COMMIT as the daemon's connections.
sqlite3* open_batched(const fs::path& file) {
    sqlite3* db = open(file, lumbrake::wal_batching_vfs());
    must(db, "pragma journal_mode=WAL");
    must(db, "pragma synchronous=NORMAL");
    return db;
}

std::string text_of(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    std::string out;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
        return std::string("prepare: ") + sqlite3_errmsg(db);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        for (int c = 0; c < sqlite3_column_count(st); ++c) {
            const auto* t = sqlite3_column_text(st, c);
            out += t ? reinterpret_cast<const char*>(t) : "NULL";
            out += '|';
        }
        out += '\n';
    }
    if (rc != SQLITE_DONE) out += std::string("step: ") + sqlite3_errmsg(db);
    sqlite3_finalize(st);
    return out;
}

// `size` bytes that differ from row to row and from one write of a row to the next.
std::string filler(const std::string& id, int size) {
    return "printf('%0*d', " + std::to_string(size) + ", " + id + " * 7919 + " +
           std::to_string(size) + ")";
}

// The integrity check, the row count and a hash of every row's id and bytes.
std::string contents(sqlite3* db) {
    std::string out = text_of(db, "pragma integrity_check");
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "select id, v from t order by id", -1, &st, nullptr) != SQLITE_OK)
        return out + "prepare: " + sqlite3_errmsg(db);
    std::uint64_t hash = 1469598103934665603ull, count = 0;
    auto mix = [&hash](const void* p, int n) {
        for (int i = 0; i < n; ++i)
            hash = (hash ^ static_cast<const unsigned char*>(p)[i]) * 1099511628211ull;
    };
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        const sqlite3_int64 id = sqlite3_column_int64(st, 0);
        mix(&id, sizeof id);
        mix(sqlite3_column_blob(st, 1), sqlite3_column_bytes(st, 1));
        ++count;
    }
    if (rc != SQLITE_DONE) out += std::string("step: ") + sqlite3_errmsg(db);
    sqlite3_finalize(st);
    return out + std::to_string(count) + " rows, hash " + std::to_string(hash);
}

// One way of writing: statements run in order on a connection; "checkpoint" runs a PASSIVE
// checkpoint on a second connection, so that the next writer starts the log again.
struct shape {
    const char* name;
    const char* setup; // pragmas of the writing connection
    std::vector<std::string> steps;
};

// Rows [from, from + count) of `size` bytes made from their id: both runs write the same bytes.
std::string rows(int from, int count, int size) {
    return "with recursive s(n) as (select " + std::to_string(from) +
           " union all select n + 1 from s where n < " + std::to_string(from + count - 1) +
           ") insert into t select n, " + filler("n", size) + " from s";
}

const shape shapes[] = {
    {"small commits", "", {"begin", rows(1, 5, 200), "commit", "begin", rows(6, 1, 10), "commit"}},
    {"a transaction larger than the gathering",
     "",
     {"begin", rows(1, 900, 4000), "commit", "begin", "update t set v = " + filler("id", 3000),
      "commit"}},
    {"a transaction that spills its cache and writes pages twice",
     "pragma cache_size=8",
     {"begin", rows(1, 400, 900), "update t set v = " + filler("id", 700) + " where id % 3 = 0",
      "update t set v = " + filler("id", 500) + " where id % 5 = 0", "commit", "begin",
      rows(401, 3, 50), "commit"}},
    {"rollbacks between commits",
     "",
     {"begin", rows(1, 50, 300), "commit", "begin", rows(51, 80, 300), "rollback", "begin",
      rows(51, 20, 100), "commit", "begin", "delete from t where id < 10", "rollback"}},
    {"the log started again after a checkpoint",
     "",
     {"begin", rows(1, 60, 2000), "commit", "checkpoint", "begin", rows(61, 5, 100), "commit",
      "checkpoint", "begin", "update t set v = " + filler("id", 50) + " where id > 30", "commit"}},
    {"synchronous full",
     "pragma synchronous=FULL",
     {"begin", rows(1, 30, 1000), "commit", "begin", rows(31, 2, 10), "commit"}},
};

void run(sqlite3* db, const fs::path& file, const shape& s) {
    must(db, "pragma journal_mode=WAL");
    // As the daemon's connections: a COMMIT syncs nothing, so nothing but the commit frame
    // itself writes what was gathered.
    must(db, "pragma synchronous=NORMAL");
    must(db, "create table if not exists t(id integer primary key, v blob)");
    if (*s.setup) must(db, s.setup);
    for (const std::string& step : s.steps) {
        if (step == "checkpoint") {
            sqlite3* other = open(file, nullptr);
            must(other, "pragma wal_checkpoint(PASSIVE)");
            sqlite3_close(other);
            continue;
        }
        must(db, step);
    }
}

TEST(WalBatch, LeavesWhatTheDefaultVfsLeavesAlsoAfterAKill) {
    for (const shape& s : shapes) {
        SCOPED_TRACE(s.name);
        const fs::path dir = scratch("shapes");
        const fs::path reference = dir / "reference.db", batched = dir / "batched.db";
        {
            sqlite3* db = open(reference, nullptr);
            run(db, reference, s);
            sqlite3_close(db);
        }
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            sqlite3* db = open(batched, lumbrake::wal_batching_vfs());
            run(db, batched, s);
            // Dead at once: nothing closes the connection or writes what it may still hold.
            ::kill(::getpid(), SIGKILL);
            _exit(3);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

        sqlite3* want = open(reference, nullptr);
        sqlite3* got = open(batched, nullptr);
        const std::string expected = contents(want);
        EXPECT_NE(expected.find("ok|"), std::string::npos) << expected;
        EXPECT_EQ(contents(got), expected);
        sqlite3_close(want);
        sqlite3_close(got);
    }
}

TEST(WalBatch, ReadersOnPlainConnectionsSeeOnlyWholeCommits) {
    const fs::path dir = scratch("readers");
    const fs::path file = dir / "t.db";
    sqlite3* writer = open_batched(file);
    must(writer, "create table t(id integer primary key, x integer, v blob)");
    must(writer, "with recursive s(n) as (select 1 union all select n + 1 from s where n < 200) "
                 "insert into t select n, 100, randomblob(1500) from s");

    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::atomic<bool> failed{false};
    std::vector<std::string> faults(4);
    std::vector<std::thread> readers;
    for (int r = 0; r < 4; ++r) {
        readers.emplace_back([&, r] {
            sqlite3* db = open(file, nullptr);
            long long last_count = 0;
            while (!done) {
                // One of them copies the log now and then, so the writer starts it again.
                if (r == 0 && reads % 20 == 0) exec(db, "pragma wal_checkpoint(PASSIVE)");
                const std::string got =
                    text_of(db, "select sum(x), count(*), sum(length(v)) = 1500 * count(*) from t");
                const long long count = std::atoll(got.substr(got.find('|') + 1).c_str());
                if (got.rfind("20000|", 0) != 0 || got.find("|1|") == std::string::npos ||
                    count < last_count) {
                    faults[r] = got;
                    failed = true;
                    break;
                }
                last_count = count;
                ++reads;
            }
            sqlite3_close(db);
        });
    }
    // Each commit moves value between two rows and adds a row: the sum never changes. The
    // writer goes on until the readers have read beside it often enough, however busy the
    // machine.
    for (int n = 0; n < 500 || (reads < 200 && n < 50000 && !failed); ++n) {
        const int a = 1 + n % 200, b = 1 + (n * 7 + 3) % 200;
        must(writer, "begin");
        must(writer,
             "update t set x = x - 1, v = randomblob(1500) where id = " + std::to_string(a));
        must(writer, "update t set x = x + 1 where id = " + std::to_string(b));
        must(writer, "insert into t values(" + std::to_string(1000 + n) + ", 0, randomblob(1500))");
        must(writer, "commit");
    }
    done = true;
    for (std::thread& t : readers)
        t.join();
    sqlite3_close(writer);
    for (const std::string& f : faults)
        EXPECT_EQ(f, "");
    EXPECT_GE(reads.load(), 200);
}

// A transaction that spilled frames into the log and was rolled back: another writer (a plain
// connection here, as another process would be) appends its commit where those frames were, so
// nothing of the rolled-back transaction may reach the file after the log is given up.
TEST(WalBatch, ARolledBackSpillIsWrittenBeforeAnotherWriterTakesTheLog) {
    const fs::path dir = scratch("rollback");
    const fs::path file = dir / "t.db";
    sqlite3* batched = open_batched(file);
    must(batched, "create table t(id integer primary key, v blob)");
    must(batched, rows(1, 200, 900));
    sqlite3* other = open(file, nullptr);
    // The pages in the database file, so that the update reads none of them from the log
    // (a read of the log writes what is gathered).
    must(other, "pragma wal_checkpoint(TRUNCATE)");
    must(batched, "pragma cache_size=8");
    must(batched, "begin");
    must(batched, "update t set v = " + filler("id", 800));
    must(batched, "rollback");

    must(other, rows(1000, 20, 500));
    const std::string want = contents(other);
    EXPECT_NE(want.find("220 rows"), std::string::npos) << want;
    // The batching connection reads again: whatever it still held would go to the log now.
    EXPECT_EQ(contents(batched), want);
    sqlite3_close(other);
    sqlite3_close(batched);

    sqlite3* after = open(file, nullptr);
    EXPECT_EQ(contents(after), want);
    sqlite3_close(after);
}

TEST(WalBatch, AFullVolumeFailsTheCommitAndKeepsWhatWasCommitted) {
    const fs::path dir = scratch("full") / "volume";
    tn_test::small_volume volume(dir, "size=4m");
    if (!volume.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    const fs::path file = dir / "t.db";
    sqlite3* db = open_batched(file);
    must(db, "create table t(id integer primary key, v blob)");
    must(db, rows(1, 20, 1000));
    const std::string before = contents(db);

    volume.fill();
    ASSERT_EQ(exec(db, "begin"), SQLITE_OK);
    // Less than is gathered before a write: only the commit frame writes it.
    ASSERT_EQ(exec(db, rows(21, 200, 3000)), SQLITE_OK) << sqlite3_errmsg(db);
    const int rc = exec(db, "commit");
    EXPECT_EQ(rc & 0xff, SQLITE_FULL) << sqlite3_errmsg(db);
    exec(db, "rollback");
    volume.make_room();

    EXPECT_EQ(contents(db), before);
    must(db, rows(21, 5, 100));
    sqlite3_close(db);
    sqlite3* plain = open(file, nullptr);
    EXPECT_NE(contents(plain), before);
    EXPECT_NE(contents(plain).find("ok|"), std::string::npos);
    EXPECT_NE(contents(plain).find("25 rows"), std::string::npos);
    sqlite3_close(plain);
}

} // namespace
