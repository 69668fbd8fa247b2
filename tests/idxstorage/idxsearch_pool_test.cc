// Searches side by side over the index server's search connections: a real siftvault started
// by the client, fed documents while other threads search. What must hold: a search sees every
// document whose add was sent before it (committed or not), never one whose removal was sent,
// and the search connections follow the index through commits, OPTIMIZE, reset and a server
// that was killed. The server's read-only session is also driven directly over its store.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "docstorage/docstorage.h"
#include "idx_test_env.h"
#include "idxstorage/idx-protocol.h"
#include "idxstorage/idx-search.h"
#include "idxstorage/idxstorage.h"
#include "index-server/vault-session.h"
#include "fff/FFF.h"
#include "../support/fff_fixtures.h"

using namespace lumbrake;

namespace {

const char* const siftvault_program = TN_BINARY_DIR "/src/index-server/siftvault";

class SearchPool : public ::testing::Test {
protected:
    void SetUp() override {
        deploy_ = std::make_unique<idx_test::scratch_deploy>(siftvault_program);
        ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
        docs_ = std::make_unique<docstorage>(db_);
        index_ = std::make_unique<idxstorage>();
    }
    void TearDown() override {
        index_.reset();
        docs_.reset();
        sqlite3_close(db_);
        deploy_.reset();
    }

    void add(const std::string& guid, const std::vector<std::string>& words) {
        index_->add_document(guid, 1, "http://pool.invalid/" + guid, "text/html", 7200, 7200, 1,
                             {0}, fff_document(words));
    }

    // The total of a one-word search, with the ids of its first hits.
    std::int32_t search(const std::string& word, std::vector<std::string>* ids = nullptr) {
        std::vector<QueryResult> hits;
        search_request r;
        r.archives = {1};
        r.last = 99;
        r.query = {QueryAtom{ATOM_WORD, "", word}};
        const std::int32_t n = index_->search(r, hits, db_, *docs_);
        if (ids) {
            ids->clear();
            for (const QueryResult& h : hits)
                ids->push_back(h.ID);
        }
        return n;
    }

    std::unique_ptr<idx_test::scratch_deploy> deploy_;
    sqlite3* db_ = nullptr;
    std::unique_ptr<docstorage> docs_;
    std::unique_ptr<idxstorage> index_;
};

} // namespace

TEST_F(SearchPool, CommittedIndexIsSearchedSideBySideWithTheSameAnswers) {
    for (int i = 0; i < 40; ++i)
        add("d" + std::to_string(i), {"common", i % 2 ? "odd" : "even", "n" + std::to_string(i)});
    // Uncommitted: the writer's connection answers, and no search connection is opened.
    EXPECT_EQ(search("odd"), 20);
    EXPECT_FALSE(index_->committed());
    EXPECT_EQ(index_->search_connections(), 0u);
    index_->flush();
    ASSERT_TRUE(index_->committed());

    std::vector<std::string> before;
    ASSERT_EQ(search("common", &before), 40);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 12; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 30; ++i) {
                const int k = (t * 30 + i) % 40;
                std::vector<std::string> ids;
                if (search("n" + std::to_string(k), &ids) != 1 || ids.size() != 1 ||
                    ids[0] != "d" + std::to_string(k))
                    ++wrong;
                if (search(k % 2 ? "odd" : "even") != 20) ++wrong;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
    // Several connections were in use at once, never more than the bound.
    EXPECT_GE(index_->search_connections(), 1u);
    EXPECT_LE(index_->search_connections(), index_->max_search_connections());
    std::vector<std::string> after;
    EXPECT_EQ(search("common", &after), 40);
    EXPECT_EQ(after, before); // same hits in the same order over either connection
}

TEST_F(SearchPool, SearchesDuringACrawlSeeEveryAddAndNoRemoval) {
    add("seed", {"seed"});
    index_->flush();
    ASSERT_EQ(search("seed"), 1); // opens a search connection
    ASSERT_GE(index_->search_connections(), 1u);

    // One thread adds documents (and removes every fifth one again), committing now and then
    // as the counters and the scheduler do; searchers look each one up as soon as its add
    // (or removal) has returned.
    constexpr int docs = 300;
    std::atomic<int> added{-1}, removed{-1};
    std::atomic<int> missing{0}, ghosts{0};
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < docs; ++i) {
            add("c" + std::to_string(i), {"crawl", "w" + std::to_string(i)});
            added = i;
            if (i % 5 == 0) {
                index_->remove_document("c" + std::to_string(i));
                removed = i;
            }
            if (i % 37 == 36) index_->flush();
        }
        done = true;
    });
    std::vector<std::thread> searchers;
    for (int t = 0; t < 6; ++t) {
        searchers.emplace_back([&] {
            while (!done) {
                const int k = added.load();
                if (k < 0) continue;
                const int gone = removed.load();
                const int n = search("w" + std::to_string(k));
                if (k % 5 != 0 && n != 1) ++missing;
                if (gone >= 0 && search("w" + std::to_string(gone)) != 0) ++ghosts;
            }
        });
    }
    writer.join();
    for (std::thread& t : searchers)
        t.join();
    EXPECT_EQ(missing.load(), 0);
    EXPECT_EQ(ghosts.load(), 0);
    EXPECT_EQ(search("crawl"), docs - docs / 5);
}

TEST_F(SearchPool, QuietChangesAreCommittedForTheSearchConnections) {
    add("a", {"alpha"});
    index_->flush();
    ASSERT_EQ(search("alpha"), 1);
    add("b", {"alpha"});
    // Pending: the next search needs the writer's connection to see "b".
    EXPECT_EQ(search("alpha"), 2);
    EXPECT_FALSE(index_->committed());
    std::this_thread::sleep_for(quiet_commit_after + std::chrono::milliseconds(200));
    // Quiet since: the search commits and is answered by a search connection, which sees "b".
    EXPECT_EQ(search("alpha"), 2);
    EXPECT_TRUE(index_->committed());
    // Quiet again soon after: no second commit yet (a slow crawl must not pay one per page),
    // and the writer's connection still shows the pending add.
    add("c", {"alpha"});
    std::this_thread::sleep_for(quiet_commit_after + std::chrono::milliseconds(200));
    EXPECT_EQ(search("alpha"), 3);
    EXPECT_FALSE(index_->committed());
}

// The counters' FLUSH is not waited for: its reply is read in turn with the adds' replies, and
// the index counts as committed only once that reply is read and nothing changed after it.
TEST_F(SearchPool, CountersCommitWithoutWaitingAndCountOnlyTheirReply) {
    for (int i = 0; i < flush_every; ++i)
        add("f" + std::to_string(i), {"first", "f" + std::to_string(i)});
    EXPECT_EQ(index_->add_counter(), 0);
    EXPECT_GE(index_->connection()->unread_replies(), 1) << "the FLUSH was waited for";
    EXPECT_FALSE(index_->committed()) << "before its reply was read";
    // A search reads it (it would wait for it on the writer's connection anyway) and then runs
    // on a search connection.
    EXPECT_EQ(search("f17"), 1);
    EXPECT_TRUE(index_->committed());
    EXPECT_GE(index_->search_connections(), 1u);

    // Again, with one more document sent behind the FLUSH: that FLUSH's reply 0 is read, yet
    // the document is not committed.
    add("s0", {"second"});
    EXPECT_FALSE(index_->committed());
    for (int i = 1; i < flush_every; ++i)
        add("s" + std::to_string(i), {"second"});
    add("late", {"late"});
    ASSERT_TRUE(index_->connection()->drain_replies());
    EXPECT_FALSE(index_->committed());
    EXPECT_EQ(search("late"), 1); // over the writer's connection
    EXPECT_FALSE(index_->committed());
    index_->flush();
    EXPECT_TRUE(index_->committed());
    EXPECT_EQ(search("second"), flush_every);
}

// The scheduler's periodic commit is sent without waiting; asked again before its reply was
// read and with nothing changed, it sends no second FLUSH; with every change committed, none.
TEST_F(SearchPool, PeriodicCommitIsSentWithoutWaiting) {
    index_->flush_without_waiting();
    EXPECT_EQ(index_->connection()->unread_replies(), 0) << "nothing to commit";
    add("p", {"periodic"});
    ASSERT_TRUE(index_->connection()->drain_replies());
    index_->flush_without_waiting();
    EXPECT_EQ(index_->connection()->unread_replies(), 1);
    index_->flush_without_waiting();
    EXPECT_EQ(index_->connection()->unread_replies(), 1) << "a second FLUSH for the same change";
    EXPECT_FALSE(index_->committed()) << "before its reply was read";
    ASSERT_TRUE(index_->connection()->drain_replies());
    EXPECT_TRUE(index_->committed());
    EXPECT_EQ(search("periodic"), 1);
    index_->flush_without_waiting();
    EXPECT_EQ(index_->connection()->unread_replies(), 0);
}

TEST_F(SearchPool, OptimizeAndResetAreFollowedByTheSearchConnections) {
    for (int i = 0; i < 20; ++i)
        add("o" + std::to_string(i), {"before"});
    index_->flush();
    ASSERT_EQ(search("before"), 20);
    const std::size_t open = index_->search_connections();
    ASSERT_GE(open, 1u);

    // OPTIMIZE switches folders under the open search connections.
    for (int i = 0; i < 10; ++i)
        add("p" + std::to_string(i), {"after"});
    index_->optimize();
    EXPECT_TRUE(index_->committed());
    EXPECT_EQ(search("after"), 10);
    EXPECT_EQ(search("before"), 20);
    EXPECT_EQ(index_->search_connections(), open); // the same connections, reopened
    EXPECT_FALSE(std::filesystem::exists("index.old"));
    EXPECT_FALSE(std::filesystem::exists("index.compact"));

    // Twice more, with searches from other threads running through the switches.
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> searchers;
    for (int t = 0; t < 4; ++t)
        searchers.emplace_back([&] {
            while (!stop)
                if (search("before") != 20) ++wrong;
        });
    for (int round = 0; round < 2; ++round) {
        add("q" + std::to_string(round), {"later"});
        index_->optimize();
    }
    stop = true;
    for (std::thread& t : searchers)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(search("later"), 2);

    // A reset starts an empty index on a new server; the old connections are gone with it.
    index_->reset();
    EXPECT_EQ(index_->search_connections(), 0u);
    EXPECT_EQ(search("before"), 0);
    add("r", {"before"});
    index_->flush();
    EXPECT_EQ(search("before"), 1);
    EXPECT_GE(index_->search_connections(), 1u);
}

TEST_F(SearchPool, KilledServerIsReplacedAndTheSearchConnectionsReopen) {
    for (int i = 0; i < 5; ++i)
        add("k" + std::to_string(i), {"kept"});
    index_->flush();
    ASSERT_EQ(search("kept"), 5);
    ASSERT_GE(index_->search_connections(), 1u);
    const pid_t old = index_->connection()->child();
    ASSERT_GT(old, 0);
    ASSERT_EQ(::kill(old, SIGKILL), 0);
    // Wait until the kill has landed: the search must not race the signal.
    for (int i = 0; i < 200 && index_->connection()->child_alive(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    // The search connection fails; the search goes on over a new server (whose index waits for
    // its rebuild), and no error escapes.
    search("kept");
    EXPECT_TRUE(index_->needs_rebuild());
    EXPECT_NE(index_->connection()->child(), old);
    EXPECT_TRUE(index_->connection()->child_alive());

    // The rebuild's steps, as the scheduler takes them: a reset, the documents, a commit.
    {
        auto hold = index_->hold();
        index_->reset();
        for (int i = 0; i < 5; ++i)
            add("k" + std::to_string(i), {"kept"});
        index_->flush();
    }
    EXPECT_FALSE(index_->needs_rebuild());
    EXPECT_EQ(search("kept"), 5);
    EXPECT_GE(index_->search_connections(), 1u);
}

// The server's side of a search connection, over a store on disk: searches see the last
// commit; every command that would change the store answers -1 and leaves the stream in step.
TEST(SearchConnectionSession, ReadsTheLastCommitAndRefusesChanges) {
    namespace fs = std::filesystem;
    const char* tmp = std::getenv("TEST_TMPDIR");
    const fs::path dir = fs::path(tmp ? tmp : "/tmp") / "search-connection-session";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string path = (dir / "index").string();

    siftvault::vault_shared shared;
    siftvault::vault_db db(path, {});
    db.share(shared);
    auto add = [&db](const std::string& guid) {
        db.begin_document();
        db.add_text_field("guid", guid, true, true, false);
        db.add_text_field("arcid", "1", true, true, false);
        db.add_text_field("view", "0", true, true, false);
        db.add_text_field("", std::string("word") + static_cast<char>(idx::slice_marker_base),
                          false, true, true);
        db.end_document();
    };
    add("one");
    db.flush();
    siftvault::vault_reader reader(path, shared);
    add("two"); // not committed: the reader must not see it

    index_query q;
    q.items = {{IDX_OP_TERM, "1", "arcid"},
               {IDX_OP_TERM, "0", "view"},
               {IDX_OP_TERM, "word", ""},
               {IDX_OP_AND, "3", ""}};
    index_window_request w;
    w.first = 0;
    w.last = 9;
    w.texts = {"guid"};
    auto search_bytes = [&] {
        idx_memory_channel out{nullptr, 0};
        out.write_int(IDX_QUERY);
        write_query(out, q);
        out.write_int(IDX_HIT_WINDOW);
        write_window_request(out, w);
        out.write_int(IDX_END_QUERY);
        return out.output();
    };
    auto serve = [&](const std::string& input) {
        std::unique_ptr<siftvault::query_engine> engine = siftvault::make_query_engine();
        siftvault::session s(reader, *engine);
        idx_memory_channel in(input.data(), input.size());
        EXPECT_EQ(s.serve(in), siftvault::session::outcome::end) << s.last_error();
        return in.output();
    };
    auto window_of = [&](const std::string& replies, std::size_t at) {
        idx_memory_channel r(replies.data() + at, replies.size() - at);
        std::int32_t query_reply = -1;
        EXPECT_TRUE(r.read_int(query_reply));
        EXPECT_EQ(query_reply, 0);
        index_window win;
        EXPECT_TRUE(read_window(r, w, win, idx_limits{}));
        return win;
    };

    index_window win = window_of(serve(search_bytes()), 0);
    EXPECT_EQ(win.total, 1);
    ASSERT_EQ(win.hits.size(), 1u);
    EXPECT_EQ(win.hits[0].texts[0], "one");

    // Changes and commits refused, with every field read; the search after them still works.
    idx_memory_channel changes{nullptr, 0};
    changes.write_int(IDX_FLUSH);
    changes.write_int(IDX_OPTIMIZE);
    changes.write_int(IDX_BEGIN_DOC);
    changes.write_int(IDX_TEXT_FIELD);
    changes.write_string("guid");
    changes.write_string("three");
    changes.write_int(1), changes.write_int(1), changes.write_int(0);
    changes.write_int(IDX_END_DOC);
    changes.write_int(IDX_DELETE);
    write_items(changes, {{IDX_OP_TERM, "one", "guid"}});
    changes.write_int(IDX_OPEN_READER);
    const std::string refused = serve(changes.output() + search_bytes());
    idx_memory_channel r(refused.data(), refused.size());
    for (int i = 0; i < 7; ++i) {
        std::int32_t v = 0;
        ASSERT_TRUE(r.read_int(v));
        EXPECT_EQ(v, -1) << "reply " << i;
    }
    win = window_of(refused, 7 * 4);
    EXPECT_EQ(win.total, 1);

    // The writer's commit shows at the reader's next query.
    db.flush();
    win = window_of(serve(search_bytes()), 0);
    EXPECT_EQ(win.total, 2);
    // And an OPTIMIZE's new folder too.
    add("three");
    db.optimize();
    win = window_of(serve(search_bytes()), 0);
    EXPECT_EQ(win.total, 3);
}
