// The index server's store over Xapian: how protocol documents become Xapian documents (terms,
// values, stored data) and how they are read back.
//
// Term layout (also what xapian-delve shows); word-stream tokens are case-folded here, which
// leaves words unchanged and makes metas ("author:Smith") match the folded query terms:
//   word-stream word w        w, or "W" + w when w begins with an ASCII capital (keeps every
//                             capital-led term free for prefixes); positional, one position
//                             per token in stream order, starting at 1
//   word w in slice s         "S" + s (decimal) + ":" + w, wdf = occurrences in that slice
//   field f holding value v   "X" + f + ":" + v (indexed untokenized fields, time fields in
//                             decimal; tokenized named fields one such term per token)
// Values: every stored field (and every indexed time field) has a slot of its own, numbered in
// the order in which field names first appear and kept in the database metadata under
// "slot:" + name; text fields keep their text (so the 8-hex-digit score sorts numerically),
// time fields Xapian::sortable_serialise of the seconds. The first value of a field wins the slot.
// Document data: the stored fields in arrival order, each as
//   kind ('T' text, 'I' time), name length, ':', name, value length, ':', value, '\n'
// with lengths in decimal and time values as decimal text.
#pragma once

#include <xapian.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

namespace siftvault {

// What the LUCENE_* environment settings mean here.
struct vault_settings {
    // LUCENE_MAXFIELDLENGTH: at most this many tokens of one field are indexed (0: no limit).
    std::uint32_t max_field_length = 0;
    // LUCENE_MINMERGEDOCS: documents buffered before Xapian commits on its own
    // (XAPIAN_FLUSH_THRESHOLD; 0: Xapian's default).
    std::uint32_t flush_threshold = 0;
    // Shards of an index created now (an existing index keeps the number it has).
    std::uint32_t shards = 0; // 0: default_shards on disk, one in memory
    // LUCENE_MERGEFACTOR and LUCENE_MAXMERGEDOCS tune Lucene's segment merging, which Xapian's
    // B-tree tables do not have: read, reported, and otherwise without effect.
    std::string merge_factor;
    std::string max_merge_docs;

    // Reads the four LUCENE_* variables of the process environment; invalid numbers are
    // reported in notes and leave the default.
    static vault_settings from_environment(std::vector<std::string>& notes);
};

// Xapian refuses longer terms; such terms are left out.
inline constexpr std::size_t max_term_length = 245;

std::string word_term(const std::string& word);
std::string slice_term(std::int32_t slice, const std::string& word);
std::string field_term(const std::string& field, const std::string& value);
std::string time_value(std::int32_t seconds);

struct stored_field {
    bool is_time = false;
    std::string name;
    std::string value; // time fields: decimal seconds
};
std::string encode_stored(const std::vector<stored_field>& fields);
// False when the data is not well formed (the fields read so far are kept).
bool decode_stored(const std::string& data, std::vector<stored_field>& fields);

// What a search needs of a store: the database to match against and the fields' value slots.
// The writer's store and a search connection's reader both provide it.
class vault_view {
public:
    virtual ~vault_view() = default;
    virtual Xapian::Database& database() = 0;
    // The value slot of a field, or Xapian::BAD_VALUENO when no document stored it.
    virtual Xapian::valueno slot_of(const std::string& field) const = 0;
};

// Reads the "slot:" metadata of a database into slots (cleared first).
void read_slots(const Xapian::Database& db, std::map<std::string, Xapian::valueno>& slots);

// What the writer tells the search connections of the same process: how many commits it made
// (a reader whose database is older reopens it) and how many times it switched folders
// (OPTIMIZE: a reader opens the new folder afresh). The switch holds `switching` exclusively;
// a reader holds it shared from a query's start to its end, so no query reads a folder that is
// being renamed.
struct vault_shared {
    std::atomic<std::uint64_t> commits{0};
    std::atomic<std::uint64_t> folders{0};
    std::shared_mutex switching;
};

// How many shards a new index gets. Measured on the loopback crawl (DESIGN.md, "Crawl speed").
inline constexpr std::uint32_t default_shards = 4;

// The writer's store: one or more Xapian databases (shards), each written by a thread of its
// own, seen together as one database. Documents are numbered in arrival order; document n goes
// to shard (n-1) % N as its local document (n-1) / N + 1, which is where a Xapian::Database
// over the N shards puts document n: the combined database numbers (and so orders ties)
// exactly as one database fed the same documents would. A new index folder holds the shards
// shard0 .. shardN-1 and a stub file XAPIANDB naming them (what Xapian opens for the folder); a
// folder that holds one Xapian database is an index of one shard and stays so.
//
// Only the thread that owns the store (the writer's session) calls it. Work handed to a shard
// runs in the order handed; sync() waits until every shard has done its work (a commit handed
// to them included), and everything that reads the store as a whole (database(), flush,
// optimize, delete_term) does that first.
class vault_db : public vault_view {
public:
    // The on-disk index at path (created when missing, with settings.shards shards, or
    // default_shards). An empty path opens settings.shards in-memory shards, or one (tests,
    // fuzzing). Throws Xapian::Error when it cannot be opened.
    vault_db(const std::string& path, const vault_settings& settings);
    ~vault_db() override;
    vault_db(const vault_db&) = delete;
    vault_db& operator=(const vault_db&) = delete;

    // Commits and folder switches are counted there from now on.
    void share(vault_shared& shared) { shared_ = &shared; }
    const std::string& path() const { return path_; }
    std::size_t shard_count() const { return shards_.size(); }

    // Document assembly between BEGIN_DOC and END_DOC. Fields outside a document, and END_DOC
    // without BEGIN_DOC, fail. BEGIN_DOC inside a document drops the unfinished one.
    void begin_document();
    bool in_document() const { return pending_; }
    // The value is kept until the shard makes terms of it: pass it moved where it can be.
    bool add_text_field(const std::string& name, std::string value, bool stored,
                        bool indexed, bool tokenized);
    bool add_time_field(const std::string& name, std::int32_t value, bool stored, bool indexed,
                        bool tokenized);
    // Runs on a shard's thread when its work is written (ok) or failed (error: why).
    using done_fn = std::function<void(bool ok, const std::string& error)>;
    // END_DOC: hands the document to its shard and returns at once; false (and done is never
    // called) without a document begun.
    bool submit_document(done_fn done);
    // END_DOC and the wait for it: false when there was no document or Xapian failed.
    bool end_document();

    // Removes every document that holds the field's value as a term, in every shard, after
    // the work handed to them before; done runs once all shards are through.
    void submit_delete(const std::string& field, const std::string& value, done_fn done);
    // The same, waited for: the number removed.
    std::uint32_t delete_term(const std::string& field, const std::string& value);
    // Waits until every shard has done the work handed to it.
    void sync();
    // Commits every shard after the work handed to it before, and returns at once; work handed
    // in later waits behind the commit. The shards meet first: once all are through their
    // earlier work, the last to arrive shuts the readers out (vault_shared::switching), all
    // commit side by side, and it lets the readers in again, so readers see all of it or none
    // of it. done runs on that shard's thread once every shard committed (ok) or one failed.
    void submit_flush(done_fn done);
    // The same, waited for; throws the first shard's failure.
    void flush();
    // Commits, then compacts the shards into a fresh folder and switches to it.
    void optimize();

    // The shards as one database, every document handed in so far included.
    Xapian::Database& database() override;
    Xapian::valueno slot_of(const std::string& field) const override;
    // The first stored value of a field in a document's data.
    static bool stored_text(const Xapian::Document& doc, const std::string& field,
                            std::string& text);
    static bool stored_time(const Xapian::Document& doc, const std::string& field,
                            std::int32_t& seconds);

    const vault_settings& settings() const { return settings_; }
    // Terms left out of the last document written for their length (tests).
    std::uint32_t skipped_terms() const { return skipped_.load(); }

    // One field as sent, kept until the shard's thread makes terms of it.
    struct raw_field {
        bool is_time = false;
        bool stored = false, indexed = false, tokenized = false;
        std::string name;
        std::string value; // time fields: decimal seconds
        std::int32_t time = 0;
        Xapian::valueno slot = Xapian::BAD_VALUENO; // the value this field sets, if any
    };

private:
    struct shard;
    struct commit_round;
    using task = std::function<void(Xapian::WritableDatabase&)>;

    void open();
    void open_shards(const std::vector<std::string>& paths);
    void close_shards();
    void post(std::size_t shard, task work);
    // Runs work on every shard's thread after what is queued there, side by side, and waits;
    // rethrows the first failure.
    void run_everywhere(const std::function<void(Xapian::WritableDatabase&, std::size_t)>& work);
    Xapian::valueno slot_for(const std::string& field);
    // Hands a commit to every shard; finished runs once all committed or one failed (null).
    void submit_commit(std::function<void(std::exception_ptr failure)> finished);

    std::string path_;
    vault_settings settings_;
    bool legacy_ = false; // the folder is one Xapian database
    std::vector<std::unique_ptr<shard>> shards_;
    Xapian::Database combined_;
    Xapian::docid last_docid_ = 0;
    // Work handed to the shards since their last commit was handed (set again when a commit
    // fails, so the next one shuts the readers out again).
    std::atomic<bool> changed_{false};
    std::map<std::string, Xapian::valueno> slots_;
    bool pending_ = false;
    std::vector<raw_field> fields_;
    std::vector<std::string> valued_; // fields that already set their slot in this document
    std::atomic<std::uint32_t> skipped_{0};
    vault_shared* shared_ = nullptr;
};

// A search connection's view of the on-disk store: a read-only database on the writer's
// folder, brought up to the writer's last commit when a query begins.
class vault_reader : public vault_view {
public:
    // Opens the folder as the writer last committed it; throws Xapian::Error when it cannot.
    vault_reader(const std::string& path, vault_shared& shared);
    ~vault_reader() override;

    Xapian::Database& database() override { return db_; }
    Xapian::valueno slot_of(const std::string& field) const override;

    // A query begins: holds the folder against a switch until end_read, and reopens the
    // database when the writer committed or switched folders since it was last read.
    void begin_read();
    void end_read();
    // After Xapian::DatabaseModifiedError (the writer moved on twice during one read): the
    // latest revision, at once.
    void refresh();

private:
    void open();

    std::string path_;
    vault_shared& shared_;
    Xapian::Database db_;
    std::map<std::string, Xapian::valueno> slots_;
    std::uint64_t commits_ = 0;
    std::uint64_t folders_ = 0;
    std::shared_lock<std::shared_mutex> reading_;
};

} // namespace siftvault
