// The index server's store in shards, on disk: numbering and routing, hits against one database
// fed the same documents, replies in request order, removals, an old one-database folder,
// OPTIMIZE and readers, and commits that run while the session reads on. Folders are read back
// with Xapian itself.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xapian.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "idxstorage/idx-protocol.h"
#include "index-server/vault-db.h"
#include "index-server/vault-replies.h"
#include "index-server/vault-session.h"

using namespace lumbrake;
using namespace siftvault;
namespace fs = std::filesystem;

namespace {

fs::path scratch(const std::string& name) {
    const char* tmp = std::getenv("TEST_TMPDIR");
    const fs::path dir = fs::path(tmp ? tmp : "/tmp") / ("vault-shards-" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

vault_settings with_shards(std::uint32_t n) {
    vault_settings s;
    s.shards = n;
    return s;
}

struct doc_spec {
    std::string guid;
    std::string arcid = "1";
    std::int32_t time = 0;
    std::vector<std::string> words;
};

// DELETE of the guid, then the document, as the daemon sends a crawled page: 8 replies.
void write_document(idx_memory_channel& out, const doc_spec& d) {
    out.write_int(IDX_DELETE);
    write_items(out, {{IDX_OP_TERM, d.guid, "guid"}});
    out.write_int(IDX_BEGIN_DOC);
    auto text = [&out](const std::string& name, const std::string& value, int stored, int indexed,
                       int tokenized) {
        out.write_int(IDX_TEXT_FIELD);
        out.write_string(name);
        out.write_string(value);
        out.write_int(stored);
        out.write_int(indexed);
        out.write_int(tokenized);
    };
    text("guid", d.guid, 1, 1, 0);
    text("arcid", d.arcid, 1, 1, 0);
    text("view", "0", 1, 1, 0);
    out.write_int(IDX_TIME_FIELD);
    out.write_string("time");
    out.write_int(d.time);
    out.write_int(1);
    out.write_int(1);
    out.write_int(0);
    std::string stream;
    for (const std::string& w : d.words) {
        if (!stream.empty()) stream += idx::word_separator;
        stream += w;
        stream += static_cast<char>(idx::slice_marker_base + 10);
    }
    text("", stream, 0, 1, 1);
    out.write_int(IDX_END_DOC);
}
constexpr int replies_per_document = 8;

void write_delete(idx_memory_channel& out, const std::string& field, const std::string& value) {
    out.write_int(IDX_DELETE);
    write_items(out, {{IDX_OP_TERM, value, field}});
}

index_query query_of(std::vector<index_term> user, const std::string& sort_field = "",
                     std::int32_t reverse = 0) {
    index_query q;
    q.items = {{IDX_OP_TERM, "1", "arcid"}, {IDX_OP_TERM, "0", "view"}};
    q.items.insert(q.items.end(), user.begin(), user.end());
    q.items.push_back({IDX_OP_AND, user.empty() ? "2" : "3", ""});
    q.sort_field = sort_field;
    q.reverse = reverse;
    return q;
}

index_window_request all_hits() {
    index_window_request w;
    w.first = 0;
    w.last = 999;
    w.texts = {"guid"};
    w.times = {"time"};
    return w;
}

// QUERY, HIT_WINDOW, END_QUERY: 1 integer reply and a window.
void write_search(idx_memory_channel& out, const index_query& q) {
    out.write_int(IDX_QUERY);
    write_query(out, q);
    out.write_int(IDX_HIT_WINDOW);
    write_window_request(out, all_hits());
    out.write_int(IDX_END_QUERY);
}

// Serves the requests on the writer's session; the replies.
std::string serve(vault_db& db, const std::string& input) {
    auto engine = make_query_engine();
    session s(db, *engine);
    idx_memory_channel in(input.data(), input.size());
    EXPECT_EQ(s.serve(in), session::outcome::end) << s.last_error();
    return in.output();
}

struct reply_reader {
    idx_memory_channel in;
    explicit reply_reader(const std::string& out) : in(out.data(), out.size()) {}
    std::int32_t next() {
        std::int32_t v = -99;
        EXPECT_TRUE(in.read_int(v));
        return v;
    }
    index_window window() {
        EXPECT_EQ(next(), 0) << "QUERY";
        index_window w;
        EXPECT_TRUE(read_window(in, all_hits(), w, idx_limits{}));
        return w;
    }
    std::vector<std::string> guids() {
        std::vector<std::string> out;
        for (const index_window_hit& h : window().hits)
            out.push_back(h.texts.at(0));
        return out;
    }
};

std::string guid_of(const Xapian::Document& doc) {
    std::string text;
    vault_db::stored_text(doc, "guid", text);
    return text;
}

// A set of documents with words drawn from a small vocabulary (so scores tie often) and times
// that repeat (so sorted hits tie too).
std::vector<doc_spec> sample_documents(int count) {
    std::mt19937 rnd(19);
    const std::vector<std::string> vocabulary = {"apple", "pear",  "plum", "fig",
                                                 "quince", "grape", "lime", "kiwi"};
    std::vector<doc_spec> docs;
    for (int i = 1; i <= count; ++i) {
        doc_spec d;
        d.guid = "g" + std::to_string(i);
        d.arcid = i % 5 == 0 ? "2" : "1";
        d.time = static_cast<std::int32_t>((rnd() % 6) * 3600);
        const int n = 1 + static_cast<int>(rnd() % 5);
        for (int k = 0; k < n; ++k)
            d.words.push_back(vocabulary[rnd() % vocabulary.size()]);
        docs.push_back(d);
    }
    return docs;
}

} // namespace

// Document n goes to shard (n-1) % N as its local document (n-1) / N + 1: the combined
// database (what Xapian opens for the folder) shows it as n, and a reopened store numbers on.
TEST(ShardedStore, NumbersDocumentsInArrivalOrderAndRoutesThemInTurn) {
    const fs::path dir = scratch("routing");
    const std::string path = (dir / "index").string();
    {
        vault_db db(path, with_shards(3));
        EXPECT_EQ(db.shard_count(), 3u);
        idx_memory_channel in(nullptr, 0);
        for (int i = 1; i <= 10; ++i)
            write_document(in, {"g" + std::to_string(i), "1", 0, {"word"}});
        const std::string out = serve(db, in.output());
        reply_reader r(out);
        for (int i = 0; i < 10 * replies_per_document; ++i)
            ASSERT_EQ(r.next(), 0) << i;
        EXPECT_EQ(r.in.remaining(), 0u);
    }
    ASSERT_TRUE(fs::exists(dir / "index" / "XAPIANDB"));
    Xapian::Database combined(path);
    EXPECT_EQ(combined.get_doccount(), 10u);
    EXPECT_EQ(combined.get_lastdocid(), 10u);
    for (Xapian::docid n = 1; n <= 10; ++n)
        EXPECT_EQ(guid_of(combined.get_document(n)), "g" + std::to_string(n)) << n;
    for (int k = 0; k < 3; ++k) {
        Xapian::Database shard((dir / "index" / ("shard" + std::to_string(k))).string());
        std::vector<std::string> held;
        for (auto it = shard.postlist_begin(""); it != shard.postlist_end(""); ++it)
            held.push_back(std::to_string(*it) + "=" + guid_of(shard.get_document(*it)));
        std::vector<std::string> expected;
        for (int n = k + 1; n <= 10; n += 3)
            expected.push_back(std::to_string((n - 1) / 3 + 1) + "=g" + std::to_string(n));
        EXPECT_EQ(held, expected) << "shard" << k;
        // Every shard carries the value slots' map.
        EXPECT_EQ(shard.get_metadata("slot:guid"), "0");
        EXPECT_EQ(shard.get_metadata("slot:time"), "3");
    }

    // The folder keeps its shard count, whatever a new index would get.
    vault_db again(path, with_shards(5));
    EXPECT_EQ(again.shard_count(), 3u);
    again.begin_document();
    again.add_text_field("guid", "g11", true, true, false);
    ASSERT_TRUE(again.end_document());
    EXPECT_EQ(guid_of(again.database().get_document(11)), "g11");
    EXPECT_EQ(again.slot_of("time"), 3u);
}

// Whatever the shard count, a search on the writer's connection, before any commit, finds the
// same hits in the same order with the same scores as one database fed the same stream:
// relevance with ties, sorted by time both ways, after removals and replacements.
TEST(ShardedStore, SameHitsInTheSameOrderAsOneDatabase) {
    const std::vector<doc_spec> docs = sample_documents(60);
    idx_memory_channel in(nullptr, 0);
    for (const doc_spec& d : docs)
        write_document(in, d);
    write_delete(in, "guid", "g7");   // a removal
    write_document(in, docs.at(2));   // a replacement: g3 again, now the newest
    write_delete(in, "arcid", "2");   // removes every fifth document
    const std::vector<index_query> queries = {
        query_of({{IDX_OP_TERM, "apple", ""}}),
        query_of({{IDX_OP_TERM, "pear", ""}, {IDX_OP_TERM, "fig", ""}, {IDX_OP_OR, "2", ""}}),
        query_of({{IDX_OP_TERM, "plum", ""}}, "time", 0),
        query_of({{IDX_OP_TERM, "plum", ""}}, "time", 1),
        query_of({{IDX_OP_TERM, "kiwi", ""}, {IDX_OP_NOT, "", ""}}),
    };
    for (const index_query& q : queries)
        write_search(in, q);
    const std::string requests = in.output();
    const int changes = 61 * replies_per_document + 2;

    auto run = [&](const std::string& name, std::uint32_t shards, bool one_database) {
        const fs::path dir = scratch("same-" + name);
        const std::string path = (dir / "index").string();
        if (one_database) Xapian::WritableDatabase(path, Xapian::DB_CREATE_OR_OPEN).close();
        vault_db db(path, with_shards(shards));
        EXPECT_EQ(db.shard_count(), one_database ? 1u : shards);
        const std::string out = serve(db, requests);
        reply_reader r(out);
        for (int i = 0; i < changes; ++i)
            EXPECT_EQ(r.next(), 0) << name << " reply " << i;
        std::vector<index_window> windows;
        for (std::size_t k = 0; k < queries.size(); ++k)
            windows.push_back(r.window());
        return windows;
    };
    const std::vector<index_window> reference = run("one", 1, true);
    ASSERT_EQ(reference.size(), queries.size());
    EXPECT_GT(reference[0].total, 5);
    for (const index_window& w : reference)
        for (const index_window_hit& h : w.hits)
            EXPECT_TRUE(h.texts[0] != "g7" && h.texts[0] != "g5" && h.texts[0] != "g10");
    for (std::uint32_t shards : {2u, 4u, 7u}) {
        const std::vector<index_window> got = run(std::to_string(shards), shards, false);
        for (std::size_t k = 0; k < queries.size(); ++k)
            EXPECT_EQ(got.at(k), reference[k]) << shards << " shards, query " << k;
    }
}

// Removals reach every shard, after the documents sent before them, without a commit; a
// replaced document takes the next number.
TEST(ShardedStore, RemovalsReachEveryShard) {
    const fs::path dir = scratch("removals");
    const std::string path = (dir / "index").string();
    vault_db db(path, with_shards(4));
    const std::vector<doc_spec> docs = sample_documents(20);
    idx_memory_channel in(nullptr, 0);
    for (const doc_spec& d : docs)
        write_document(in, d);
    write_delete(in, "arcid", "1");
    write_document(in, docs.at(4)); // g5, arcid 2, sent again
    write_search(in, query_of({}));
    const std::string out = serve(db, in.output());
    reply_reader r(out);
    for (int i = 0; i < 21 * replies_per_document + 1; ++i)
        ASSERT_EQ(r.next(), 0) << i;
    EXPECT_EQ(r.window().total, 0); // arcid 1 is gone from every shard
    Xapian::Database& all = db.database();
    EXPECT_EQ(all.get_termfreq("Xarcid:1"), 0u);
    EXPECT_EQ(all.get_termfreq("Xarcid:2"), 4u);
    EXPECT_EQ(all.get_termfreq("Xguid:g5"), 1u);
    EXPECT_EQ(guid_of(all.get_document(21)), "g5");
    EXPECT_EQ(db.delete_term("arcid", "2"), 4u);
    EXPECT_EQ(db.database().get_doccount(), 0u);
}

// Replies leave in request order whatever order their work finishes in; a failure is
// reported in its own place, and nothing after an outstanding reply goes out before it.
TEST(ReplyQueue, RepliesInRequestOrder) {
    idx_memory_channel out(nullptr, 0);
    auto int_bytes = [](std::int32_t v) {
        idx_memory_channel c(nullptr, 0);
        c.write_int(v);
        return c.output();
    };
    {
        reply_queue q(out);
        q.put(int_bytes(1));
        const reply_queue::ticket first = q.defer();
        q.put(int_bytes(2));
        q.put(int_bytes(3));
        const reply_queue::ticket second = q.defer();
        q.put(int_bytes(4));
        EXPECT_EQ(out.output(), int_bytes(1));
        std::thread([&] { q.complete(second, 0); }).join();
        EXPECT_EQ(out.output(), int_bytes(1)) << "the second waits for the first";
        std::thread([&] { q.complete(first, -1); }).join();
        q.finish();
        q.put(int_bytes(5)); // nothing outstanding: written at once
    }
    reply_reader r(out.output());
    for (std::int32_t expected : {1, -1, 2, 3, 0, 4, 5})
        EXPECT_EQ(r.next(), expected);
    EXPECT_EQ(r.in.remaining(), 0u);
}

// A shard that cannot write answers -1 for its documents; the others' documents still answer 0,
// each reply in its place.
TEST(ShardedStore, AFailedAddIsReportedAsAFailure) {
    const fs::path dir = scratch("failure");
    const std::string path = (dir / "index").string();
    vault_settings s = with_shards(2);
    s.flush_threshold = 1; // every document is written out at once
    vault_db db(path, s);
    ::unsetenv("XAPIAN_FLUSH_THRESHOLD");
    // Shard 1's folder goes away under it: writing its next document out fails.
    fs::remove_all(dir / "index" / "shard1");
    idx_memory_channel in(nullptr, 0);
    for (int i = 1; i <= 4; ++i)
        write_document(in, {"g" + std::to_string(i), "1", 0, {"word"}});
    auto engine = make_query_engine();
    session sess(db, *engine);
    idx_memory_channel stream(in.output().data(), in.output().size());
    EXPECT_EQ(sess.serve(stream), session::outcome::end);
    reply_reader r(stream.output());
    std::vector<std::int32_t> got;
    for (int i = 0; i < 4 * replies_per_document; ++i)
        got.push_back(r.next());
    EXPECT_EQ(r.in.remaining(), 0u);
    // Everything up to document 2's END_DOC succeeds; then documents 2 and 4 (shard 1) fail
    // and 1 and 3 (shard 0) do not.
    for (int i = 0; i < 2 * replies_per_document - 1; ++i)
        EXPECT_EQ(got[i], 0) << i;
    for (int doc = 1; doc <= 4; ++doc)
        EXPECT_EQ(got[doc * replies_per_document - 1], doc % 2 == 0 ? -1 : 0)
            << "END_DOC of document " << doc;
    EXPECT_FALSE(sess.last_error().empty());
}

// A folder that holds one Xapian database (as written before shards) stays an index of one
// shard: read, extended, numbered on, optimized, and still one database.
TEST(ShardedStore, AnOldOneDatabaseFolderKeepsWorking) {
    const fs::path dir = scratch("old");
    const std::string path = (dir / "index").string();
    {
        Xapian::WritableDatabase old(path, Xapian::DB_CREATE_OR_OPEN);
        for (const char* g : {"old1", "old2"}) {
            Xapian::Document doc;
            doc.add_term(std::string("Xguid:") + g);
            doc.add_term("Xarcid:1");
            doc.add_term("Xview:0");
            doc.add_posting("word", 1);
            doc.add_value(0, g);
            doc.set_data(encode_stored({{false, "guid", g}}));
            old.add_document(doc);
        }
        old.set_metadata("slot:guid", "0");
        old.commit();
    }
    {
        vault_db db(path, with_shards(4));
        EXPECT_EQ(db.shard_count(), 1u);
        EXPECT_EQ(db.slot_of("guid"), 0u);
        idx_memory_channel in(nullptr, 0);
        write_document(in, {"new3", "1", 0, {"word"}});
        write_document(in, {"new4", "1", 0, {"word"}});
        write_search(in, query_of({{IDX_OP_TERM, "word", ""}}));
        const std::string out = serve(db, in.output());
        reply_reader r(out);
        for (int i = 0; i < 2 * replies_per_document; ++i)
            ASSERT_EQ(r.next(), 0) << i;
        EXPECT_EQ(r.guids(), (std::vector<std::string>{"old1", "old2", "new3", "new4"}));
        db.optimize();
        EXPECT_EQ(db.database().get_doccount(), 4u);
    }
    EXPECT_TRUE(fs::exists(dir / "index" / "iamglass"));
    EXPECT_FALSE(fs::exists(dir / "index" / "XAPIANDB"));
    Xapian::Database again(path);
    EXPECT_EQ(guid_of(again.get_document(3)), "new3");
    EXPECT_EQ(guid_of(again.get_document(4)), "new4");
}

// OPTIMIZE compacts every shard and keeps the numbers (they say which shard holds what), even
// when a shard's first documents are gone; a reader follows the commits and the new folder.
TEST(ShardedStore, OptimizeKeepsNumbersAndReadersFollow) {
    const fs::path dir = scratch("optimize");
    const std::string path = (dir / "index").string();
    vault_shared shared;
    vault_db db(path, with_shards(4));
    db.share(shared);
    auto add = [&db](int n) {
        db.begin_document();
        db.add_text_field("guid", "g" + std::to_string(n), true, true, false);
        db.add_text_field("", std::string("word") + static_cast<char>(idx::slice_marker_base),
                          false, true, true);
        ASSERT_TRUE(db.end_document());
    };
    for (int n = 1; n <= 9; ++n)
        add(n);
    db.flush();
    vault_reader reader(path, shared);
    reader.begin_read();
    EXPECT_EQ(reader.database().get_doccount(), 9u);
    reader.end_read();

    EXPECT_EQ(db.delete_term("guid", "g1"), 1u); // shard 0's first document
    EXPECT_EQ(db.delete_term("guid", "g6"), 1u); // shard 1's second
    add(10);
    reader.begin_read();
    EXPECT_EQ(reader.database().get_doccount(), 9u) << "uncommitted changes stay unseen";
    reader.end_read();

    db.optimize();
    EXPECT_FALSE(fs::exists(path + ".compact"));
    EXPECT_FALSE(fs::exists(path + ".old"));
    EXPECT_TRUE(fs::exists(dir / "index" / "XAPIANDB"));
    Xapian::Database folder(path);
    EXPECT_EQ(folder.get_doccount(), 8u);
    for (int n : {2, 3, 4, 5, 7, 8, 9, 10})
        EXPECT_EQ(guid_of(folder.get_document(static_cast<Xapian::docid>(n))),
                  "g" + std::to_string(n));

    add(11);
    EXPECT_EQ(guid_of(db.database().get_document(11)), "g11");
    db.flush();
    reader.begin_read();
    EXPECT_EQ(reader.database().get_doccount(), 9u);
    EXPECT_EQ(guid_of(reader.database().get_document(11)), "g11");
    EXPECT_EQ(reader.slot_of("guid"), 0u);
    reader.end_read();
}

// ---- commits handed to the shards ----

namespace {

// A writer's session on one end of a socket pair, served on a thread of its own through the
// server's own channel, as siftvault serves the daemon.
class served_session {
public:
    explicit served_session(vault_db& db) {
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets_), 0);
        thread_ = std::thread([this, &db] {
            auto engine = make_query_engine();
            session s(db, *engine);
            vault_channel channel(sockets_[1]);
            s.serve(channel);
            channel.flush();
            ::shutdown(sockets_[1], SHUT_WR);
        });
    }
    ~served_session() {
        ::shutdown(sockets_[0], SHUT_WR);
        if (thread_.joinable()) thread_.join();
        ::close(sockets_[0]);
        ::close(sockets_[1]);
    }
    int client() const { return sockets_[0]; }

    // Sends on a thread; the future is ready once every byte was taken.
    std::future<bool> send_async(std::string bytes) {
        return std::async(std::launch::async, [this, bytes = std::move(bytes)] {
            return send_all(sockets_[0], bytes.data(), bytes.size()) ==
                   static_cast<long>(bytes.size());
        });
    }
    // The next reply, or -99 when none comes within 20 s.
    std::int32_t read_reply() {
        std::int32_t v = -99;
        if (!reply_waiting(std::chrono::seconds(20))) {
            ADD_FAILURE() << "no reply";
            return v;
        }
        idx_socket_channel in(sockets_[0]);
        EXPECT_TRUE(in.read_int(v));
        return v;
    }
    // True when a reply byte arrives within the time.
    bool reply_waiting(std::chrono::milliseconds within) {
        pollfd p{sockets_[0], POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(within.count())) > 0;
    }

private:
    int sockets_[2] = {-1, -1};
    std::thread thread_;
};

// A document whose word stream carries `size` bytes.
doc_spec bulky_document(int n, std::size_t size) {
    doc_spec d{"b" + std::to_string(n), "1", 0, {}};
    while (d.words.size() * 8 < size)
        d.words.push_back("w" + std::to_string(d.words.size() % 500));
    return d;
}

std::size_t doccount_now(vault_reader& reader) {
    reader.begin_read();
    const std::size_t n = reader.database().get_doccount();
    reader.end_read();
    return n;
}

} // namespace

// While the shards commit (here held back by a reader in the middle of a query), the session
// reads on: megabytes of documents sent after the FLUSH are taken, no reply goes out past the
// FLUSH's place, and once the commit is through its 0 comes first and the later documents'
// replies behind it; readers then see exactly the documents before the FLUSH.
TEST(ShardCommit, FlushIsAnsweredInItsPlaceWhileTheSessionReadsOn) {
    const fs::path dir = scratch("flush-order");
    const std::string path = (dir / "index").string();
    vault_shared shared;
    vault_db db(path, with_shards(4));
    db.share(shared);
    vault_reader reader(path, shared);
    served_session server(db);

    idx_memory_channel before(nullptr, 0);
    for (int i = 1; i <= 8; ++i)
        write_document(before, {"g" + std::to_string(i), "1", 0, {"early"}});
    before.write_int(IDX_FLUSH);
    idx_memory_channel after(nullptr, 0);
    constexpr int later = 300;
    for (int i = 0; i < later; ++i)
        write_document(after, bulky_document(i, 12 * 1024)); // 3.6 MB, far above the buffers

    reader.begin_read(); // a query runs: the commit waits for its end
    struct query_end {
        vault_reader& reader;
        ~query_end() { reader.end_read(); } // also when an assertion leaves early
    } ends{reader};
    ASSERT_TRUE(server.send_async(before.output()).get());
    for (int i = 0; i < 8 * replies_per_document; ++i)
        ASSERT_EQ(server.read_reply(), 0) << i;
    std::future<bool> sent = server.send_async(after.output());
    const bool taken = sent.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    EXPECT_TRUE(taken) << "the session stopped reading while the shards waited to commit";
    EXPECT_FALSE(server.reply_waiting(std::chrono::milliseconds(200)))
        << "a reply went out before the FLUSH's";
    reader.end_read();
    ASSERT_TRUE(sent.get());

    EXPECT_EQ(server.read_reply(), 0) << "FLUSH";
    for (int i = 0; i < later * replies_per_document; ++i)
        ASSERT_EQ(server.read_reply(), 0) << i;
    EXPECT_EQ(doccount_now(reader), 8u);
    EXPECT_EQ(vault_reader(path, shared).database().get_doccount(), 8u);
}

// Readers opened or reopened while commits run see each commit whole: rounds of 7 documents
// (spread unevenly over the 4 shards) are committed without waiting while readers count.
TEST(ShardCommit, ReadersSeeAllOfACommitOrNoneOfIt) {
    const fs::path dir = scratch("whole-commits");
    const std::string path = (dir / "index").string();
    vault_shared shared;
    vault_db db(path, with_shards(4));
    db.share(shared);
    db.flush(); // the shards exist on disk for the readers

    constexpr int per_round = 7, rounds = 80;
    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, counted{0};
    auto check = [&](std::size_t n) {
        ++counted;
        if (n % per_round != 0) ++torn;
    };
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&, t] {
            std::optional<vault_reader> kept;
            while (!done) {
                try {
                    if (t % 2 == 0) { // a fresh reader each time
                        vault_reader r(path, shared);
                        check(r.database().get_doccount());
                    } else { // one reader, reopened at each commit
                        if (!kept) kept.emplace(path, shared);
                        check(doccount_now(*kept));
                    }
                } catch (const Xapian::DatabaseModifiedError&) {
                    kept.reset();
                }
            }
        });
    }
    for (int r = 0; r < rounds; ++r) {
        for (int i = 0; i < per_round; ++i) {
            db.begin_document();
            db.add_text_field("guid", "r" + std::to_string(r) + "-" + std::to_string(i), true,
                              true, false);
            ASSERT_TRUE(db.submit_document(nullptr));
        }
        db.submit_flush(nullptr);
    }
    db.flush();
    done = true;
    for (std::thread& t : readers)
        t.join();
    EXPECT_EQ(torn.load(), 0) << "of " << counted.load() << " counts";
    EXPECT_GT(counted.load(), rounds);
    EXPECT_EQ(vault_reader(path, shared).database().get_doccount(),
              static_cast<Xapian::doccount>(per_round * rounds));
}

// A commit that fails on one shard answers -1 in the FLUSH's place; the replies around it keep
// theirs, and the session goes on.
TEST(ShardCommit, AFailedCommitAnswersMinusOneInItsPlace) {
    const fs::path dir = scratch("commit-failure");
    const std::string path = (dir / "index").string();
    vault_db db(path, with_shards(2));
    for (const char* guid : {"g1", "g2"}) {
        db.begin_document();
        db.add_text_field("guid", guid, true, true, false);
        ASSERT_TRUE(db.end_document());
    }
    // Shard 1's folder goes away under it: its document cannot be committed.
    fs::remove_all(dir / "index" / "shard1");
    idx_memory_channel in(nullptr, 0);
    in.write_int(IDX_BEGIN_DOC);
    in.write_int(IDX_FLUSH);
    in.write_int(IDX_BEGIN_DOC); // document 3 goes to shard 0
    in.write_int(IDX_TEXT_FIELD);
    in.write_string("guid");
    in.write_string("g3");
    in.write_int(1), in.write_int(1), in.write_int(0);
    in.write_int(IDX_END_DOC);
    auto engine = make_query_engine();
    session sess(db, *engine);
    idx_memory_channel stream(in.output().data(), in.output().size());
    EXPECT_EQ(sess.serve(stream), session::outcome::end);
    reply_reader r(stream.output());
    EXPECT_EQ(r.next(), 0) << "BEGIN_DOC";
    EXPECT_EQ(r.next(), -1) << "FLUSH";
    for (const char* what : {"BEGIN_DOC", "TEXT_FIELD", "END_DOC"})
        EXPECT_EQ(r.next(), 0) << what;
    EXPECT_EQ(r.in.remaining(), 0u);
    EXPECT_FALSE(sess.last_error().empty());
}
