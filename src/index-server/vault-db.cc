#include "index-server/vault-db.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <condition_variable>
#include <deque>
#include <exception>
#include <fstream>
#include <future>
#include <system_error>
#include <thread>

#include "idxstorage/idx-protocol.h"
#include "idxstorage/idxstorage.h"
#include "util/codecs.h"

namespace siftvault {

namespace {

bool parse_count(const char* text, std::uint32_t& out) {
    if (!text || !*text) return false;
    const char* end = text + std::char_traits<char>::length(text);
    std::uint32_t value = 0;
    auto [p, ec] = std::from_chars(text, end, value);
    if (ec != std::errc() || p != end) return false;
    out = value;
    return true;
}

const std::string slot_key_prefix = "slot:";

} // namespace

vault_settings vault_settings::from_environment(std::vector<std::string>& notes) {
    vault_settings s;
    if (const char* v = std::getenv("LUCENE_MAXFIELDLENGTH")) {
        if (*v && !parse_count(v, s.max_field_length))
            notes.push_back(std::string("LUCENE_MAXFIELDLENGTH is not a count: ") + v);
    }
    if (const char* v = std::getenv("LUCENE_MINMERGEDOCS")) {
        if (*v && !parse_count(v, s.flush_threshold))
            notes.push_back(std::string("LUCENE_MINMERGEDOCS is not a count: ") + v);
    }
    if (const char* v = std::getenv("LUCENE_MERGEFACTOR")) {
        s.merge_factor = v;
        notes.push_back("LUCENE_MERGEFACTOR has no equivalent here and is ignored");
    }
    if (const char* v = std::getenv("LUCENE_MAXMERGEDOCS")) {
        s.max_merge_docs = v;
        notes.push_back("LUCENE_MAXMERGEDOCS has no equivalent here and is ignored");
    }
    return s;
}

std::string word_term(const std::string& word) {
    if (!word.empty() && word[0] >= 'A' && word[0] <= 'Z') return "W" + word;
    return word;
}

std::string slice_term(std::int32_t slice, const std::string& word) {
    return "S" + std::to_string(slice) + ":" + word;
}

std::string field_term(const std::string& field, const std::string& value) {
    return "X" + field + ":" + value;
}

std::string time_value(std::int32_t seconds) {
    return Xapian::sortable_serialise(static_cast<double>(seconds));
}

namespace {
void append_decimal(std::string& out, std::size_t n) {
    char digits[24];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, n);
    out.append(digits, end);
}

void append_stored(std::string& out, bool is_time, const std::string& name,
                   const std::string& value) {
    out += is_time ? 'I' : 'T';
    append_decimal(out, name.size());
    out += ':';
    out += name;
    append_decimal(out, value.size());
    out += ':';
    out += value;
    out += '\n';
}
} // namespace

std::string encode_stored(const std::vector<stored_field>& fields) {
    std::string out;
    for (const stored_field& f : fields)
        append_stored(out, f.is_time, f.name, f.value);
    return out;
}

namespace {
// A decimal length followed by ':' and that many bytes.
bool read_counted(const std::string& data, std::size_t& pos, std::string& out) {
    std::size_t colon = data.find(':', pos);
    if (colon == std::string::npos || colon == pos || colon - pos > 10) return false;
    std::uint64_t n = 0;
    for (std::size_t i = pos; i < colon; ++i) {
        if (data[i] < '0' || data[i] > '9') return false;
        n = n * 10 + static_cast<unsigned>(data[i] - '0');
    }
    if (n > data.size() - colon - 1) return false;
    out.assign(data, colon + 1, static_cast<std::size_t>(n));
    pos = colon + 1 + static_cast<std::size_t>(n);
    return true;
}
} // namespace

bool decode_stored(const std::string& data, std::vector<stored_field>& fields) {
    fields.clear();
    std::size_t pos = 0;
    while (pos < data.size()) {
        stored_field f;
        if (data[pos] != 'T' && data[pos] != 'I') return false;
        f.is_time = data[pos] == 'I';
        ++pos;
        if (!read_counted(data, pos, f.name) || !read_counted(data, pos, f.value)) return false;
        if (pos >= data.size() || data[pos] != '\n') return false;
        ++pos;
        fields.push_back(std::move(f));
    }
    return true;
}

// ---- the shards ----

struct vault_db::shard {
    std::string path; // empty: in memory
    Xapian::WritableDatabase db;
    std::mutex mutex;
    std::condition_variable work_ready, done;
    std::deque<task> queue;
    bool busy = false;
    bool stopping = false;
    std::thread thread;

    void run() {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            work_ready.wait(lock, [this] { return stopping || !queue.empty(); });
            if (queue.empty()) return; // stopping, and nothing left
            task work = std::move(queue.front());
            queue.pop_front();
            busy = true;
            lock.unlock();
            work(db); // every task catches its own failures
            lock.lock();
            busy = false;
            if (queue.empty()) done.notify_all();
        }
    }
    void wait_idle() {
        std::unique_lock<std::mutex> lock(mutex);
        done.wait(lock, [this] { return queue.empty() && !busy; });
    }
};

namespace {

const char* const stub_name = lumbrake::index_stub_name;

std::string shard_name(std::size_t i) {
    return "shard" + std::to_string(i);
}

// A folder that Xapian opens as one database of its own.
bool holds_one_database(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (const char* marker : {"iamglass", "iamchert", "iamhoney"})
        if (fs::exists(fs::path(path) / marker, ec)) return true;
    return false;
}

// Writes the stub naming count shards, replacing any earlier one whole.
void write_stub(const std::string& folder, std::size_t count) {
    const std::string file = folder + "/" + stub_name, temporary = file + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        for (std::size_t i = 0; i < count; ++i)
            out << "auto " << shard_name(i) << "\n";
        out.flush();
        if (!out) throw Xapian::DatabaseCreateError("cannot write " + temporary);
    }
    if (std::rename(temporary.c_str(), file.c_str()) != 0)
        throw Xapian::DatabaseCreateError("cannot write " + file);
}

} // namespace

vault_db::vault_db(const std::string& path, const vault_settings& settings)
    : path_(path), settings_(settings) {
    // In memory (tests, fuzzing: a store per input) one shard unless asked for more, so a
    // store costs no threads beyond its one writer.
    if (settings_.shards == 0) settings_.shards = path.empty() ? 1 : default_shards;
    open();
}

vault_db::~vault_db() {
    try {
        sync();
        for (auto& s : shards_) {
            s->db.commit();
            s->db.close();
        }
    } catch (const Xapian::Error&) {
        // Nothing left to save it to; the last explicit flush holds.
    }
    for (auto& s : shards_) {
        {
            std::lock_guard<std::mutex> lock(s->mutex);
            s->stopping = true;
        }
        s->work_ready.notify_all();
        if (s->thread.joinable()) s->thread.join();
    }
}

void vault_db::open() {
    std::vector<std::string> paths;
    legacy_ = false;
    if (path_.empty()) {
        paths.assign(settings_.shards, std::string());
    } else {
        // A compaction that was cut short leaves its work beside the index: finish the switch
        // when the index itself is gone, else drop the leftovers.
        namespace fs = std::filesystem;
        std::error_code ec;
        const fs::path index(path_), fresh(path_ + ".compact"), old(path_ + ".old");
        if (!fs::exists(index, ec) && fs::exists(fresh, ec)) fs::rename(fresh, index, ec);
        fs::remove_all(fresh, ec);
        fs::remove_all(old, ec);
        if (settings_.flush_threshold > 0)
            ::setenv("XAPIAN_FLUSH_THRESHOLD", std::to_string(settings_.flush_threshold).c_str(),
                     1);
        if (holds_one_database(path_)) {
            legacy_ = true;
            paths.push_back(path_);
        } else {
            std::vector<std::string> names = lumbrake::index_shard_names(path_);
            if (names.empty()) {
                // A new index: the stub first, so the folder never looks like one database.
                fs::create_directories(index, ec);
                if (ec) throw Xapian::DatabaseCreateError("cannot create " + path_);
                write_stub(path_, settings_.shards);
                names = lumbrake::index_shard_names(path_);
            }
            for (const std::string& n : names)
                paths.push_back(path_ + "/" + n);
        }
    }
    open_shards(paths);
}

void vault_db::open_shards(const std::vector<std::string>& paths) {
    // The threads outlive a reopen (OPTIMIZE); the shard count stays what the folder says.
    const bool fresh = shards_.empty();
    if (fresh) {
        for (std::size_t i = 0; i < paths.size(); ++i)
            shards_.push_back(std::make_unique<shard>());
    }
    combined_ = Xapian::Database();
    for (std::size_t i = 0; i < shards_.size(); ++i) {
        shard& s = *shards_[i];
        s.path = i < paths.size() ? paths[i] : std::string();
        s.db = s.path.empty() ? Xapian::WritableDatabase(std::string(), Xapian::DB_BACKEND_INMEMORY)
                              : Xapian::WritableDatabase(s.path, Xapian::DB_CREATE_OR_OPEN);
        combined_.add_database(s.db);
    }
    if (fresh) {
        for (auto& s : shards_) {
            shard* p = s.get();
            p->thread = std::thread([p] { p->run(); });
        }
    }
    // Numbering goes on after the highest document any shard holds.
    last_docid_ = combined_.get_lastdocid();
    read_slots(combined_, slots_);
}

void vault_db::close_shards() {
    for (auto& s : shards_)
        s->db.close();
    combined_ = Xapian::Database();
}

void vault_db::post(std::size_t i, task work) {
    shard& s = *shards_[i];
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.queue.push_back(std::move(work));
    }
    s.work_ready.notify_one();
}

void vault_db::sync() {
    for (auto& s : shards_)
        s->wait_idle();
}

void vault_db::run_everywhere(
    const std::function<void(Xapian::WritableDatabase&, std::size_t)>& work) {
    std::vector<std::exception_ptr> failures(shards_.size());
    for (std::size_t i = 0; i < shards_.size(); ++i) {
        post(i, [&work, &failures, i](Xapian::WritableDatabase& db) {
            try {
                work(db, i);
            } catch (...) {
                failures[i] = std::current_exception();
            }
        });
    }
    sync();
    for (const std::exception_ptr& f : failures)
        if (f) std::rethrow_exception(f);
}

void read_slots(const Xapian::Database& db, std::map<std::string, Xapian::valueno>& slots) {
    slots.clear();
    for (auto it = db.metadata_keys_begin(slot_key_prefix);
         it != db.metadata_keys_end(slot_key_prefix); ++it) {
        const std::string key = *it;
        std::uint32_t slot = 0;
        const std::string text = db.get_metadata(key);
        if (parse_count(text.c_str(), slot)) slots[key.substr(slot_key_prefix.size())] = slot;
    }
}

Xapian::valueno vault_db::slot_of(const std::string& field) const {
    auto it = slots_.find(field);
    return it == slots_.end() ? Xapian::BAD_VALUENO : it->second;
}

Xapian::valueno vault_db::slot_for(const std::string& field) {
    auto it = slots_.find(field);
    if (it != slots_.end()) return it->second;
    const Xapian::valueno slot = static_cast<Xapian::valueno>(slots_.size());
    // Every shard keeps the whole map (the combined database reads the first shard's), so
    // each shard folder describes itself.
    const std::string key = slot_key_prefix + field, text = std::to_string(slot);
    for (std::size_t i = 0; i < shards_.size(); ++i) {
        post(i, [key, text](Xapian::WritableDatabase& db) {
            try {
                db.set_metadata(key, text);
            } catch (const Xapian::Error&) {
                // The slot stays in this session's map; the next flush reports a broken shard.
            }
        });
    }
    slots_.emplace(field, slot);
    changed_ = true;
    return slot;
}

void vault_db::begin_document() {
    pending_ = true;
    fields_.clear();
    valued_.clear();
}

bool vault_db::add_text_field(const std::string& name, std::string value, bool stored,
                              bool indexed, bool tokenized) {
    if (!pending_) return false;
    raw_field f;
    f.stored = stored;
    f.indexed = indexed;
    f.tokenized = tokenized;
    f.name = name;
    f.value = std::move(value);
    if (stored && std::find(valued_.begin(), valued_.end(), name) == valued_.end()) {
        valued_.push_back(name);
        f.slot = slot_for(name);
    }
    fields_.push_back(std::move(f));
    return true;
}

bool vault_db::add_time_field(const std::string& name, std::int32_t value, bool stored,
                              bool indexed, bool tokenized) {
    if (!pending_) return false;
    raw_field f;
    f.is_time = true;
    f.stored = stored;
    f.indexed = indexed;
    f.tokenized = tokenized; // a number is one token either way
    f.name = name;
    f.value = std::to_string(value);
    f.time = value;
    if ((stored || indexed) && std::find(valued_.begin(), valued_.end(), name) == valued_.end()) {
        valued_.push_back(name);
        f.slot = slot_for(name);
    }
    fields_.push_back(std::move(f));
    return true;
}

namespace {

// Makes the Xapian document of a document's fields (on its shard's thread).
class document_builder {
public:
    explicit document_builder(const vault_settings& settings) : settings_(settings) {}

    Xapian::Document build(const std::vector<vault_db::raw_field>& fields) {
        std::string data; // encode_stored's form, written as the fields go by
        for (const vault_db::raw_field& f : fields) {
            if (f.is_time) {
                if (f.indexed) add_term(field_term(f.name, f.value), 1);
                if (f.stored) append_stored(data, true, f.name, f.value);
                if (f.slot != Xapian::BAD_VALUENO) doc_.add_value(f.slot, time_value(f.time));
            } else {
                if (f.indexed) index_text(f);
                if (f.stored) append_stored(data, false, f.name, f.value);
                if (f.slot != Xapian::BAD_VALUENO) doc_.add_value(f.slot, f.value);
            }
        }
        doc_.set_data(data);
        return doc_;
    }
    std::uint32_t skipped() const { return skipped_; }

private:
    void add_term(const std::string& term, Xapian::termcount wdf) {
        if (term.size() > max_term_length) {
            ++skipped_;
            return;
        }
        doc_.add_term(term, wdf);
    }

    void index_text(const vault_db::raw_field& f) {
        const std::string& name = f.name;
        const std::string& value = f.value;
        if (name.empty()) {
            if (f.tokenized)
                add_word_stream(value);
            else if (!value.empty())
                add_term(word_term(value), 1);
        } else if (f.tokenized) {
            // Named tokenized fields split at blanks and control bytes.
            std::string& term = term_;
            term.assign(1, 'X');
            term += name;
            term += ':';
            const std::size_t prefix = term.size();
            std::uint32_t count = 0;
            std::size_t i = 0;
            while (i < value.size()) {
                while (i < value.size() && static_cast<unsigned char>(value[i]) <= 0x20)
                    ++i;
                std::size_t j = i;
                while (j < value.size() && static_cast<unsigned char>(value[j]) > 0x20)
                    ++j;
                if (j > i) {
                    if (settings_.max_field_length > 0 && count >= settings_.max_field_length)
                        break;
                    ++count;
                    term.resize(prefix);
                    term.append(value, i, j - i);
                    add_term(term, 1);
                }
                i = j;
            }
        } else {
            add_term(field_term(name, value), 1);
        }
    }

    void add_word_stream(const std::string& value) {
        // Tokens are separated by 0x01; each ends with its slice marker (0x40 + slice id).
        // A page has hundreds of tokens: the word and both terms are made in buffers kept
        // across tokens, the slice term's "S<slice>:" made again only when the slice changes.
        Xapian::termpos position = 0;
        std::size_t start = 0;
        std::string& word = word_;
        std::string& term = term_;
        while (start <= value.size()) {
            std::size_t end = value.find(lumbrake::idx::word_separator, start);
            if (end == std::string::npos) end = value.size();
            if (end - start >= 2) {
                if (settings_.max_field_length > 0 && position >= settings_.max_field_length)
                    break;
                // Words arrive case-folded but metas ("author:Smith") as stored, while queries
                // fold both: fold here too (a no-op on words) so that metas can be found.
                const std::string_view raw =
                    std::string_view(value).substr(start, end - start - 1);
                bool folded_ok = true;
                lumbrake::utf8_case_fold(raw, word, folded_ok);
                if (!folded_ok) word.assign(raw);
                const auto marker = static_cast<unsigned char>(value[end - 1]);
                const std::int32_t slice =
                    static_cast<std::uint8_t>(marker - lumbrake::idx::slice_marker_base);
                // word_term(word), without a copy when the word is its own term.
                const bool capital = !word.empty() && word[0] >= 'A' && word[0] <= 'Z';
                ++position;
                if (word.size() + (capital ? 1 : 0) > max_term_length) {
                    ++skipped_;
                } else {
                    if (capital) {
                        term.assign(1, 'W');
                        term += word;
                        doc_.add_posting(term, position);
                    } else {
                        doc_.add_posting(word, position);
                    }
                    if (slice != slice_) {
                        slice_ = slice;
                        slice_prefix_.assign(1, 'S');
                        append_decimal(slice_prefix_, static_cast<std::size_t>(slice));
                        slice_prefix_ += ':';
                    }
                    term.assign(slice_prefix_);
                    term += word;
                    add_term(term, 1);
                }
            }
            start = end + 1;
        }
    }

    const vault_settings& settings_;
    Xapian::Document doc_;
    std::uint32_t skipped_ = 0;
    std::string word_, term_, slice_prefix_; // reused from token to token
    std::int32_t slice_ = -1;                // the slice that slice_prefix_ names
};

} // namespace

bool vault_db::submit_document(done_fn done) {
    if (!pending_) return false;
    pending_ = false;
    const Xapian::docid n = ++last_docid_;
    changed_ = true;
    const std::size_t count = shards_.size();
    const std::size_t target = (n - 1) % count;
    const Xapian::docid local = static_cast<Xapian::docid>((n - 1) / count + 1);
    auto fields = std::make_shared<std::vector<raw_field>>(std::move(fields_));
    fields_.clear();
    post(target, [this, fields, local, done = std::move(done)](Xapian::WritableDatabase& db) {
        bool ok = false;
        std::string error;
        try {
            document_builder builder(settings_);
            Xapian::Document doc = builder.build(*fields);
            skipped_ = builder.skipped();
            // At the local number that the combined database shows as n; above the shard's
            // last document, so Xapian adds it.
            db.replace_document(local, doc);
            ok = true;
        } catch (const Xapian::Error& e) {
            error = e.get_description();
        } catch (const std::exception& e) {
            error = e.what();
        }
        if (done) done(ok, error);
    });
    return true;
}

bool vault_db::end_document() {
    std::promise<bool> written;
    std::future<bool> result = written.get_future();
    if (!submit_document([&written](bool ok, const std::string&) { written.set_value(ok); }))
        return false;
    return result.get();
}

void vault_db::submit_delete(const std::string& field, const std::string& value, done_fn done) {
    const std::string term = field.empty() ? word_term(value) : field_term(field, value);
    if (term.empty() || term.size() > max_term_length) {
        if (done) done(true, std::string());
        return;
    }
    struct progress {
        std::atomic<std::size_t> left;
        std::mutex mutex;
        bool ok = true;
        std::string error;
        done_fn done;
    };
    changed_ = true;
    auto state = std::make_shared<progress>();
    state->left = shards_.size();
    state->done = std::move(done);
    for (std::size_t i = 0; i < shards_.size(); ++i) {
        post(i, [state, term](Xapian::WritableDatabase& db) {
            try {
                if (db.get_termfreq(term) > 0) db.delete_document(term);
            } catch (const Xapian::Error& e) {
                std::lock_guard<std::mutex> lock(state->mutex);
                state->ok = false;
                state->error = e.get_description();
            }
            if (--state->left == 0 && state->done) {
                std::lock_guard<std::mutex> lock(state->mutex);
                state->done(state->ok, state->error);
            }
        });
    }
}

std::uint32_t vault_db::delete_term(const std::string& field, const std::string& value) {
    const std::string term = field.empty() ? word_term(value) : field_term(field, value);
    if (term.empty() || term.size() > max_term_length) return 0;
    changed_ = true;
    std::atomic<std::uint32_t> removed{0};
    run_everywhere([&](Xapian::WritableDatabase& db, std::size_t) {
        const Xapian::doccount n = db.get_termfreq(term);
        if (n > 0) db.delete_document(term);
        removed += n;
    });
    return removed.load();
}

Xapian::Database& vault_db::database() {
    sync();
    return combined_;
}

namespace {

std::string failure_text(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const Xapian::Error& e) {
        return e.get_description();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown failure";
    }
}

} // namespace

// One commit of every shard. Each shard's thread runs `meet` when it reaches the commit in its
// queue; the last one to arrive leads the round.
struct vault_db::commit_round {
    std::size_t shards = 0;
    bool exclusive = false; // shut the readers out while the shards commit
    vault_shared* shared = nullptr;
    std::atomic<bool>* changed = nullptr;
    std::function<void(std::exception_ptr)> finished;

    std::mutex mutex;
    std::condition_variable moved;
    std::size_t arrived = 0, committed = 0;
    bool go = false, over = false;
    std::exception_ptr failure;

    void commit(Xapian::WritableDatabase& db) {
        try {
            db.commit();
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex);
            if (!failure) failure = std::current_exception();
        }
    }

    void meet(Xapian::WritableDatabase& db) {
        std::unique_lock<std::mutex> lock(mutex);
        if (++arrived < shards) {
            moved.wait(lock, [this] { return go; });
            lock.unlock();
            commit(db);
            lock.lock();
            ++committed;
            moved.notify_all();
            // The round is over before this shard takes its next work, so whoever waits for
            // the shards to be idle finds the commit done, counted and answered.
            moved.wait(lock, [this] { return over; });
            return;
        }
        // Every shard is through the work handed to it before the commit. A shared mutex is
        // unlocked by the thread that locked it: this one, once all have committed.
        lock.unlock();
        std::unique_lock<std::shared_mutex> readers_out;
        if (exclusive) readers_out = std::unique_lock<std::shared_mutex>(shared->switching);
        lock.lock();
        go = true;
        moved.notify_all();
        lock.unlock();
        commit(db);
        lock.lock();
        ++committed;
        moved.wait(lock, [this] { return committed == shards; });
        const std::exception_ptr failed = failure;
        lock.unlock();
        if (failed) {
            // Some shards may have committed: the next commit shuts the readers out again.
            changed->store(true);
        } else if (shared) {
            ++shared->commits;
        }
        if (readers_out.owns_lock()) readers_out.unlock();
        try {
            if (finished) finished(failed);
        } catch (...) {
            // Nothing to tell it to; the other shards must not wait for ever.
        }
        lock.lock();
        over = true;
        moved.notify_all();
    }
};

void vault_db::submit_commit(std::function<void(std::exception_ptr failure)> finished) {
    auto round = std::make_shared<commit_round>();
    round->shards = shards_.size();
    round->shared = shared_;
    round->changed = &changed_;
    // A reader opens the shards at its query's start: none may open them between one shard's
    // commit and another's. Only when there is something to commit: a FLUSH of an unchanged
    // index must not wait behind a steady stream of searches (the lock prefers its readers).
    const bool changed = changed_.exchange(false);
    round->exclusive = shared_ && shards_.size() > 1 && changed;
    round->finished = std::move(finished);
    for (std::size_t i = 0; i < shards_.size(); ++i)
        post(i, [round](Xapian::WritableDatabase& db) { round->meet(db); });
}

void vault_db::submit_flush(done_fn done) {
    submit_commit([done = std::move(done)](std::exception_ptr failure) {
        if (!done) return;
        if (failure)
            done(false, failure_text(failure));
        else
            done(true, std::string());
    });
}

void vault_db::flush() {
    std::promise<std::exception_ptr> result;
    std::future<std::exception_ptr> failure = result.get_future();
    submit_commit([&result](std::exception_ptr f) { result.set_value(f); });
    const std::exception_ptr f = failure.get();
    sync();
    if (f) std::rethrow_exception(f);
}

void vault_db::optimize() {
    flush();
    if (path_.empty()) return;
    namespace fs = std::filesystem;
    std::error_code ec;
    // Readers wait at their next query while the folder is switched, then open the new one.
    std::unique_lock<std::shared_mutex> switching;
    if (shared_) switching = std::unique_lock<std::shared_mutex>(shared_->switching);
    struct counted {
        vault_shared* shared;
        ~counted() {
            if (shared) ++shared->folders;
        }
    } switched{shared_};
    const std::string fresh = path_ + ".compact", old = path_ + ".old";
    fs::remove_all(fresh, ec);
    if (legacy_) {
        shards_[0]->db.compact(fresh);
    } else {
        fs::create_directories(fresh, ec);
        // Document numbers stay as they are: they say which shard holds what.
        run_everywhere([&fresh](Xapian::WritableDatabase& db, std::size_t i) {
            db.compact(fresh + "/" + shard_name(i), Xapian::DBCOMPACT_NO_RENUMBER);
        });
        write_stub(fresh, shards_.size());
    }
    close_shards();
    // The switch: the old copy steps aside, the compacted one takes its name. open() finishes
    // a switch that a crash interrupted.
    fs::remove_all(old, ec);
    fs::rename(path_, old, ec);
    if (ec) {
        fs::remove_all(fresh, ec);
        open();
        return;
    }
    fs::rename(fresh, path_, ec);
    if (ec) fs::rename(old, path_, ec);
    fs::remove_all(old, ec);
    open();
}

vault_reader::vault_reader(const std::string& path, vault_shared& shared)
    : path_(path), shared_(shared) {
    std::shared_lock<std::shared_mutex> lock(shared_.switching);
    open();
}

vault_reader::~vault_reader() = default;

void vault_reader::open() {
    // The counters first: a commit after them makes the next query reopen, never the reverse.
    folders_ = shared_.folders.load();
    commits_ = shared_.commits.load();
    db_ = Xapian::Database(path_);
    read_slots(db_, slots_);
}

Xapian::valueno vault_reader::slot_of(const std::string& field) const {
    auto it = slots_.find(field);
    return it == slots_.end() ? Xapian::BAD_VALUENO : it->second;
}

void vault_reader::begin_read() {
    if (!reading_.owns_lock()) reading_ = std::shared_lock<std::shared_mutex>(shared_.switching);
    if (shared_.folders.load() != folders_) {
        open();
    } else if (shared_.commits.load() != commits_) {
        commits_ = shared_.commits.load();
        db_.reopen();
        read_slots(db_, slots_);
    }
}

void vault_reader::end_read() {
    if (reading_.owns_lock()) reading_.unlock();
}

void vault_reader::refresh() {
    commits_ = shared_.commits.load();
    db_.reopen();
    read_slots(db_, slots_);
}

bool vault_db::stored_text(const Xapian::Document& doc, const std::string& field,
                           std::string& text) {
    std::vector<stored_field> fields;
    decode_stored(doc.get_data(), fields);
    for (const stored_field& f : fields) {
        if (f.name == field) {
            text = f.value;
            return true;
        }
    }
    text.clear();
    return false;
}

bool vault_db::stored_time(const Xapian::Document& doc, const std::string& field,
                           std::int32_t& seconds) {
    std::string text;
    if (!stored_text(doc, field, text)) return false;
    std::int32_t value = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || p != text.data() + text.size()) return false;
    seconds = value;
    return true;
}

} // namespace siftvault
