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

class vault_db : public vault_view {
public:
    // The on-disk database at path (created when missing). An empty path opens an in-memory
    // database (tests, fuzzing). Throws Xapian::Error when it cannot be opened.
    vault_db(const std::string& path, const vault_settings& settings);
    ~vault_db() override;

    // Commits and folder switches are counted there from now on.
    void share(vault_shared& shared) { shared_ = &shared; }
    const std::string& path() const { return path_; }

    // Document assembly between BEGIN_DOC and END_DOC. Fields outside a document, and END_DOC
    // without BEGIN_DOC, fail. BEGIN_DOC inside a document drops the unfinished one.
    void begin_document();
    bool in_document() const { return pending_; }
    bool add_text_field(const std::string& name, const std::string& value, bool stored,
                        bool indexed, bool tokenized);
    bool add_time_field(const std::string& name, std::int32_t value, bool stored, bool indexed,
                        bool tokenized);
    bool end_document();

    // Removes every document that holds the field's value as a term; the number removed.
    std::uint32_t delete_term(const std::string& field, const std::string& value);
    void flush();
    // Commits, then compacts the database into a fresh copy and switches to it.
    void optimize();

    Xapian::WritableDatabase& database() override { return db_; }
    Xapian::valueno slot_of(const std::string& field) const override;
    // The first stored value of a field in a document's data.
    static bool stored_text(const Xapian::Document& doc, const std::string& field,
                            std::string& text);
    static bool stored_time(const Xapian::Document& doc, const std::string& field,
                            std::int32_t& seconds);

    const vault_settings& settings() const { return settings_; }
    // Terms left out of the last document for their length (tests).
    std::uint32_t skipped_terms() const { return skipped_; }

private:
    void open();
    Xapian::valueno slot_for(const std::string& field);
    void add_term(const std::string& term, Xapian::termcount wdf);
    void add_word_stream(const std::string& value);

    std::string path_;
    vault_settings settings_;
    Xapian::WritableDatabase db_;
    std::map<std::string, Xapian::valueno> slots_;
    bool pending_ = false;
    Xapian::Document doc_;
    std::vector<stored_field> stored_;
    std::vector<std::string> valued_; // fields that already set their slot in this document
    std::uint32_t skipped_ = 0;
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
