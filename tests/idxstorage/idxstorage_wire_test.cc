// The index protocol's framing and request decoding, and the server's session and store over
// an in-memory Xapian database, fed hand-written byte streams.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "idxstorage/idx-protocol.h"
#include "index-server/vault-db.h"
#include "index-server/vault-session.h"

using namespace lumbrake;
using namespace siftvault;

namespace {

// Little-endian request bytes, written by hand rather than by the encoder under test.
struct bytes {
    std::string b;
    bytes& i(std::int32_t v) {
        const auto u = static_cast<std::uint32_t>(v);
        for (int k = 0; k < 4; ++k)
            b += static_cast<char>((u >> (8 * k)) & 0xff);
        return *this;
    }
    bytes& s(const std::string& v) {
        i(static_cast<std::int32_t>(v.size()));
        b += v;
        return *this;
    }
    bytes& raw(const std::string& v) {
        b += v;
        return *this;
    }
};

// Replies read back from a session's output.
struct replies {
    idx_memory_channel in;
    explicit replies(const std::string& out) : in(out.data(), out.size()) {}
    std::int32_t next() {
        std::int32_t v = -99;
        EXPECT_TRUE(in.read_int(v));
        return v;
    }
    std::string text() {
        std::string s;
        EXPECT_TRUE(in.read_string(s, 1 << 20));
        return s;
    }
};

class recording_engine : public query_engine {
public:
    std::int32_t query(vault_view&, const index_query& q) override {
        last = q;
        ++queries;
        return 0;
    }
    std::int32_t hit_count() override { return 7; }
    std::int32_t select_hit(std::int32_t index) override { return selected = index, 0; }
    std::int32_t hit_score() override { return 1234; }
    std::int32_t hit_text(const std::string& field, std::string& text) override {
        text = "text of " + field;
        return 0;
    }
    std::int32_t hit_time(const std::string&) override { return 3600; }
    void end_query() override { ++ends; }

    index_query last;
    int queries = 0, ends = 0;
    std::int32_t selected = -1;
};

struct served {
    session::outcome outcome;
    std::string output;
};

served serve(vault_db& db, query_engine& engine, const std::string& input) {
    idx_memory_channel ch(input.data(), input.size());
    session s(db, engine);
    served r;
    r.outcome = s.serve(ch);
    r.output = ch.output();
    return r;
}

vault_db memory_db(const vault_settings& settings = {}) {
    return vault_db("", settings);
}

std::vector<std::string> terms_of(vault_db& db, Xapian::docid id) {
    std::vector<std::string> out;
    Xapian::Document doc = db.database().get_document(id);
    for (auto t = doc.termlist_begin(); t != doc.termlist_end(); ++t)
        out.push_back(*t);
    return out;
}

} // namespace

// ---- framing ----

TEST(IdxFraming, IntegersAndStringsAsOnTheWire) {
    const std::string in = bytes().i(-2).s("").s(std::string("a\0b", 3)).i(-5).i(3).raw("xy").b;
    idx_memory_channel ch(in.data(), in.size());
    std::int32_t v = 0;
    ASSERT_TRUE(ch.read_int(v));
    EXPECT_EQ(v, -2);
    std::string s = "stale";
    ASSERT_TRUE(ch.read_string(s, 100));
    EXPECT_EQ(s, "");
    ASSERT_TRUE(ch.read_string(s, 100));
    EXPECT_EQ(s, std::string("a\0b", 3));
    ASSERT_TRUE(ch.read_string(s, 100)); // a negative count is the empty string
    EXPECT_EQ(s, "");
    EXPECT_FALSE(ch.read_string(s, 100)); // 3 bytes announced, 2 there
    s = "kept";
    EXPECT_FALSE(ch.read_string(s, 100)); // no count at all: target unchanged
    EXPECT_EQ(s, "kept");

    idx_memory_channel out(nullptr, 0);
    out.write_int(-2);
    out.write_string("");
    out.write_string(std::string("a\0b", 3));
    EXPECT_EQ(out.output(), bytes().i(-2).s("").s(std::string("a\0b", 3)).b);
}

// A served session over a real socket pair: requests that arrive together are answered in
// one send, and nothing is held back once the server waits for more.
TEST(IdxFraming, RepliesToRequestsThatCameTogetherLeaveTogether) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    idx_buffered_channel server(fds[1]);
    const std::string requests = bytes().i(11).i(22).i(33).b;
    ASSERT_EQ(::send(fds[0], requests.data(), requests.size(), 0),
              static_cast<ssize_t>(requests.size()));
    char peek[64];
    std::int32_t v = 0;
    for (std::int32_t expected : {11, 22}) {
        ASSERT_TRUE(server.read_int(v));
        EXPECT_EQ(v, expected);
        ASSERT_TRUE(server.write_int(v + 1));
        // The third request is already received: no reply leaves yet.
        EXPECT_EQ(::recv(fds[0], peek, sizeof peek, MSG_DONTWAIT), -1);
        EXPECT_EQ(errno, EAGAIN);
    }
    ASSERT_TRUE(server.read_int(v));
    EXPECT_EQ(v, 33);
    ASSERT_TRUE(server.write_int(34));
    // Waiting for a request it has not received sends the three replies first, in one piece;
    // the peer's end of the stream then ends the read.
    ::shutdown(fds[0], SHUT_WR);
    EXPECT_FALSE(server.read_int(v));
    EXPECT_EQ(::recv(fds[0], peek, sizeof peek, 0), 12);
    EXPECT_EQ(std::string(peek, 12), bytes().i(12).i(23).i(34).b);
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(IdxFraming, OversizedStringIsRefusedWithoutReadingIt) {
    const std::string in = bytes().i(1000).raw(std::string(1000, 'x')).b;
    idx_memory_channel ch(in.data(), in.size());
    std::string s;
    EXPECT_FALSE(ch.read_string(s, 999));
    EXPECT_EQ(ch.remaining(), 1000u);
}

TEST(IdxFraming, QueryRequestLayout) {
    index_query q;
    q.items = {{IDX_OP_TERM, "3", "arcid"}, {IDX_OP_TERM, "0", "view"}, {IDX_OP_AND, "2", ""}};
    q.boosts = {{5, 1}, {15, 12}};
    q.time_field = "time";
    q.min_time = 7200;
    q.max_time = -1;
    q.sort_field = "score";
    q.reverse = 1;
    q.score_field = "score";
    q.min_score = "0007a120";
    const std::string wire = bytes()
                                 .i(3)
                                 .i(0)
                                 .s("3")
                                 .s("arcid")
                                 .i(0)
                                 .s("0")
                                 .s("view")
                                 .i(2)
                                 .s("2")
                                 .s("")
                                 .i(2)
                                 .i(5)
                                 .i(1)
                                 .i(15)
                                 .i(12)
                                 .s("time")
                                 .i(7200)
                                 .i(-1)
                                 .s("score")
                                 .i(1)
                                 .s("score")
                                 .s("0007a120")
                                 .b;
    idx_memory_channel out(nullptr, 0);
    ASSERT_TRUE(write_query(out, q));
    EXPECT_EQ(out.output(), wire);

    idx_memory_channel in(wire.data(), wire.size());
    index_query back;
    ASSERT_TRUE(read_query(in, back, {}));
    EXPECT_EQ(back, q);
    EXPECT_EQ(in.remaining(), 0u);
}

TEST(IdxFraming, QueryCountsOutsideTheLimitsAreRefused) {
    idx_limits small;
    small.max_items = 2;
    small.max_boosts = 1;
    const std::string cases[] = {
        bytes().i(-1).b,                                               // negative item count
        bytes().i(3).b,                                                // more items than allowed
        bytes().i(0).i(-1).b,                                          // negative boost count
        bytes().i(0).i(2).b,                                           // more boosts than allowed
        bytes().i(1).i(0).s("w").b,                                    // item cut after its value
        bytes().i(0).i(0).s("time").i(0).i(0).s("").i(0).s("score").b, // no minimum score
    };
    for (const std::string& c : cases) {
        idx_memory_channel in(c.data(), c.size());
        index_query q;
        EXPECT_FALSE(read_query(in, q, small)) << testing::PrintToString(c);
    }
}

// ---- the session ----

TEST(VaultSession, DocumentCommandsAndReplies) {
    vault_db db = memory_db();
    recording_engine engine;
    const std::string in = bytes()
                               .i(IDX_TEXT_FIELD)
                               .s("guid")
                               .s("early")
                               .i(1)
                               .i(1)
                               .i(0) // outside a document
                               .i(IDX_END_DOC)
                               .i(IDX_BEGIN_DOC)
                               .i(IDX_TEXT_FIELD)
                               .s("guid")
                               .s("g1")
                               .i(1)
                               .i(1)
                               .i(0)
                               .i(IDX_TEXT_FIELD)
                               .s("arcid")
                               .s("3")
                               .i(1)
                               .i(1)
                               .i(0)
                               .i(IDX_TIME_FIELD)
                               .s("time")
                               .i(3600)
                               .i(1)
                               .i(1)
                               .i(0)
                               .i(IDX_TEXT_FIELD)
                               .s("")
                               .s("hello\x4a\x01world\x4a")
                               .i(0)
                               .i(1)
                               .i(1)
                               .i(IDX_END_DOC)
                               .i(IDX_FLUSH)
                               .i(IDX_OPTIMIZE)
                               .i(IDX_QUIT)
                               .i(IDX_FLUSH) // after QUIT: never read
                               .b;
    served r = serve(db, engine, in);
    EXPECT_EQ(r.outcome, session::outcome::quit);
    replies rep(r.output);
    for (std::int32_t expected : {-1, -1, 0, 0, 0, 0, 0, 0, 0, 0})
        EXPECT_EQ(rep.next(), expected);
    EXPECT_EQ(rep.in.remaining(), 0u); // QUIT has no reply
    ASSERT_EQ(db.database().get_doccount(), 1u);
    EXPECT_EQ(db.database().get_termfreq("Xguid:early"), 0u);
    EXPECT_EQ(db.database().get_termfreq("Xarcid:3"), 1u);
    EXPECT_EQ(db.database().get_termfreq("S10:world"), 1u);
}

TEST(VaultSession, DeleteTakesExactlyOneTerm) {
    vault_db db = memory_db();
    recording_engine engine;
    for (const char* g : {"a", "b"}) {
        db.begin_document();
        db.add_text_field("guid", g, true, true, false);
        db.add_text_field("arcid", "1", true, true, false);
        db.end_document();
    }
    const std::string in = bytes()
                               .i(IDX_DELETE)
                               .i(2)
                               .i(0)
                               .s("a")
                               .s("guid")
                               .i(0)
                               .s("b")
                               .s("guid")
                               .i(IDX_DELETE)
                               .i(1)
                               .i(IDX_OP_NOT)
                               .s("")
                               .s("")
                               .i(IDX_DELETE)
                               .i(0)
                               .i(IDX_DELETE)
                               .i(1)
                               .i(0)
                               .s("a")
                               .s("guid")
                               .i(IDX_DELETE)
                               .i(1)
                               .i(0)
                               .s("absent")
                               .s("guid")
                               .b;
    served r = serve(db, engine, in);
    EXPECT_EQ(r.outcome, session::outcome::end);
    replies rep(r.output);
    for (std::int32_t expected : {-1, -1, -1, 0, 0})
        EXPECT_EQ(rep.next(), expected);
    EXPECT_EQ(db.database().get_doccount(), 1u);
    EXPECT_EQ(db.database().get_termfreq("Xguid:b"), 1u);
}

TEST(VaultSession, SearchRequestsReachTheEngineDecoded) {
    vault_db db = memory_db();
    recording_engine engine;
    const std::string in = bytes()
                               .i(IDX_QUERY)
                               .i(1)
                               .i(0)
                               .s("w")
                               .s("")
                               .i(1)
                               .i(15)
                               .i(12)
                               .s("")
                               .i(0)
                               .i(0)
                               .s("")
                               .i(0)
                               .s("score")
                               .s("")
                               .i(IDX_HIT_COUNT)
                               .i(IDX_SELECT_HIT)
                               .i(-3)
                               .i(IDX_HIT_TEXT)
                               .s("url")
                               .i(IDX_HIT_TIME)
                               .s("time")
                               .i(IDX_HIT_SCORE)
                               .i(IDX_END_QUERY)
                               .b;
    served r = serve(db, engine, in);
    EXPECT_EQ(r.outcome, session::outcome::end);
    EXPECT_EQ(engine.queries, 1);
    EXPECT_EQ(engine.last.items, (std::vector<index_term>{{IDX_OP_TERM, "w", ""}}));
    EXPECT_EQ(engine.last.boosts, (std::vector<index_boost>{{15, 12}}));
    EXPECT_EQ(engine.last.score_field, "score");
    EXPECT_EQ(engine.selected, -3);
    replies rep(r.output);
    EXPECT_EQ(rep.next(), 0); // QUERY
    EXPECT_EQ(rep.next(), 7); // HIT_COUNT
    EXPECT_EQ(rep.next(), 0); // SELECT_HIT
    EXPECT_EQ(rep.next(), 0); // HIT_TEXT: the integer, then the text
    EXPECT_EQ(rep.text(), "text of url");
    EXPECT_EQ(rep.next(), 3600);
    EXPECT_EQ(rep.next(), 1234);
    EXPECT_EQ(rep.in.remaining(), 0u); // END_QUERY has no reply
}

// HIT_WINDOW decoded by hand and answered from the engine, bounded by the hit count (7) and
// with a hit's fields in the order asked for; the reply read back by the decoder too.
TEST(VaultSession, HitWindowAnswersEveryHitInOneReply) {
    vault_db db = memory_db();
    recording_engine engine;
    const std::string in = bytes()
                               .i(IDX_HIT_WINDOW)
                               .i(-2)
                               .i(100)
                               .i(2)
                               .s("guid")
                               .s("url")
                               .i(1)
                               .s("time")
                               .i(IDX_HIT_WINDOW)
                               .i(5)
                               .i(4)
                               .i(0)
                               .i(0)
                               .b;
    served r = serve(db, engine, in);
    EXPECT_EQ(r.outcome, session::outcome::end);
    EXPECT_EQ(engine.selected, 6);
    replies rep(r.output);
    EXPECT_EQ(rep.next(), 7); // total
    ASSERT_EQ(rep.next(), 7); // hits 0..6
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(rep.next(), 0);
        EXPECT_EQ(rep.text(), "text of guid");
        EXPECT_EQ(rep.text(), "text of url");
        EXPECT_EQ(rep.next(), 3600);
        EXPECT_EQ(rep.next(), 1234);
    }
    EXPECT_EQ(rep.next(), 7); // an empty window still has its total
    EXPECT_EQ(rep.next(), 0);
    EXPECT_EQ(rep.in.remaining(), 0u);

    idx_memory_channel again(r.output.data(), r.output.size());
    index_window window;
    const index_window_request asked{-2, 100, {"guid", "url"}, {"time"}};
    ASSERT_TRUE(read_window(again, asked, window, {}));
    EXPECT_EQ(window.total, 7);
    ASSERT_EQ(window.hits.size(), 7u);
    EXPECT_EQ(window.hits[6], (index_window_hit{0, {"text of guid", "text of url"}, {3600}, 1234}));
    idx_limits small;
    small.max_window = 6;
    idx_memory_channel bounded(r.output.data(), r.output.size());
    EXPECT_FALSE(read_window(bounded, asked, window, small)) << "more hits than the reader takes";

    idx_memory_channel out(nullptr, 0);
    ASSERT_TRUE(write_window_request(out, asked));
    EXPECT_EQ(out.output(), std::string(in.begin() + 4, in.begin() + 4 + out.output().size()));

    const std::vector<std::pair<std::string, std::string>> bad = {
        {"no fields", bytes().i(IDX_HIT_WINDOW).i(0).i(9).b},
        {"negative count", bytes().i(IDX_HIT_WINDOW).i(0).i(9).i(-1).i(0).b},
        {"too many fields", bytes().i(IDX_HIT_WINDOW).i(0).i(9).i(65).b},
        {"field cut short", bytes().i(IDX_HIT_WINDOW).i(0).i(9).i(1).i(10).raw("abc").b},
    };
    for (const auto& [name, stream] : bad)
        EXPECT_EQ(serve(db, engine, stream).outcome, session::outcome::protocol_error) << name;
}

TEST(VaultSession, BrokenStreamsEndTheSessionAndKeepCommittedDocuments) {
    struct stream_case {
        std::string name;
        std::string bytes;
        session::outcome outcome;
    };
    const std::string doc = bytes()
                                .i(IDX_BEGIN_DOC)
                                .i(IDX_TEXT_FIELD)
                                .s("guid")
                                .s("kept")
                                .i(1)
                                .i(1)
                                .i(0)
                                .i(IDX_END_DOC)
                                .i(IDX_FLUSH)
                                .b;
    const std::vector<stream_case> cases = {
        {"empty", "", session::outcome::end},
        {"partial command", "\x01\x00", session::outcome::end},
        {"code 9", bytes().i(9).b, session::outcome::protocol_error},
        {"negative code", bytes().i(-1).b, session::outcome::protocol_error},
        {"code 16", bytes().i(16).b, session::outcome::protocol_error},
        {"field cut in its flags", bytes().i(IDX_BEGIN_DOC).i(IDX_TEXT_FIELD).s("a").s("b").i(1).b,
         session::outcome::protocol_error},
        {"time field without value", bytes().i(IDX_TIME_FIELD).s("t").b,
         session::outcome::protocol_error},
        {"huge name", bytes().i(IDX_TEXT_FIELD).i(1 << 30).b, session::outcome::protocol_error},
        {"huge delete", bytes().i(IDX_DELETE).i(0x7fffffff).b, session::outcome::protocol_error},
        {"hit text without field", bytes().i(IDX_HIT_TEXT).b, session::outcome::protocol_error},
        {"select without index", bytes().i(IDX_SELECT_HIT).raw("\x01").b,
         session::outcome::protocol_error},
    };
    for (const stream_case& c : cases) {
        vault_db db = memory_db();
        recording_engine engine;
        served r = serve(db, engine, doc + c.bytes);
        EXPECT_EQ(r.outcome, c.outcome) << c.name;
        EXPECT_EQ(db.database().get_termfreq("Xguid:kept"), 1u) << c.name;
    }
}

// ---- the store ----

TEST(VaultDb, WordStreamTokensBecomeWordsSliceTermsAndPositions) {
    vault_db db = memory_db();
    db.begin_document();
    const std::string stream = std::string("Big\x4e") + "\x01\x01" + "x" + "\x01" + "\x4a" +
                               "\x01" + "caf\xC3\xA9\x4a" + "\x01" + "deep" +
                               static_cast<char>(0x40 + 200) + "\x01" + std::string(300, 'z') +
                               "\x4a" + "\x01" + "tail\x4a";
    ASSERT_TRUE(db.add_text_field("", stream, false, true, true));
    ASSERT_TRUE(db.end_document());
    const auto terms = terms_of(db, 1);
    // Empty tokens and lone markers are skipped; "x" alone is its own marker and no word.
    EXPECT_EQ(terms, (std::vector<std::string>{"S10:caf\xC3\xA9", "S10:tail", "S14:big",
                                               "S200:deep", "big", "caf\xC3\xA9", "deep", "tail"}));
    EXPECT_EQ(db.skipped_terms(), 1u); // the 300-byte word
    // Positions count every token that carried a word, the skipped one included.
    auto pos = db.database().positionlist_begin(1, "tail");
    ASSERT_NE(pos, db.database().positionlist_end(1, "tail"));
    EXPECT_EQ(*pos, 5u);
}

TEST(VaultDb, FieldLengthLimitAndCapitalisedTerms) {
    vault_settings s;
    s.max_field_length = 2;
    vault_db db = memory_db(s);
    db.begin_document();
    db.add_text_field("",
                      "a\x4a\x01"
                      "b\x4a\x01"
                      "c\x4a",
                      false, true, false); // one term, untokenized
    db.add_text_field("", "one\x4a\x01two\x4a\x01three\x4a", false, true, true);
    db.add_text_field("tags", "x y z", false, true, true);
    db.end_document();
    const auto terms = terms_of(db, 1);
    EXPECT_EQ(std::count(terms.begin(), terms.end(), "three"), 0);
    EXPECT_EQ(std::count(terms.begin(), terms.end(), "two"), 1);
    EXPECT_EQ(std::count(terms.begin(), terms.end(), "Xtags:y"), 1);
    EXPECT_EQ(std::count(terms.begin(), terms.end(), "Xtags:z"), 0);
    EXPECT_EQ(word_term("Xguid:a"), "WXguid:a"); // a capital-led word never poses as a field term
    EXPECT_EQ(word_term("report"), "report");
}

TEST(VaultDb, StoredFieldsAndValueSlots) {
    vault_db db = memory_db();
    db.begin_document();
    db.add_text_field("url", std::string("http://h/\n1:\0x", 14), true, false, false);
    db.add_text_field("view", "0", true, true, false);
    db.add_text_field("view", "1", true, true, false);
    db.add_time_field("time", -3600, true, true, false);
    db.add_text_field("secret", "s", false, true, false);
    db.end_document();
    Xapian::Document doc = db.database().get_document(1);
    std::string text;
    EXPECT_TRUE(vault_db::stored_text(doc, "url", text));
    EXPECT_EQ(text, std::string("http://h/\n1:\0x", 14));
    EXPECT_TRUE(vault_db::stored_text(doc, "view", text));
    EXPECT_EQ(text, "0");
    EXPECT_FALSE(vault_db::stored_text(doc, "secret", text));
    std::int32_t t = 0;
    EXPECT_TRUE(vault_db::stored_time(doc, "time", t));
    EXPECT_EQ(t, -3600);
    EXPECT_EQ(doc.get_value(db.slot_of("time")), time_value(-3600));
    EXPECT_EQ(doc.get_value(db.slot_of("view")), "0");
    EXPECT_EQ(db.slot_of("secret"), Xapian::BAD_VALUENO);

    std::vector<stored_field> fields;
    for (const std::string bad : {"T3:url", "X1:a1:b\n", "T1:a1:b", "T99999999999:a", "T1:a5:b\n"})
        EXPECT_FALSE(decode_stored(bad, fields)) << bad;
}
