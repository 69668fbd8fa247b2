#include "index-server/vault-db.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "idxstorage/idx-protocol.h"
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

std::string encode_stored(const std::vector<stored_field>& fields) {
    std::string out;
    for (const stored_field& f : fields) {
        out += f.is_time ? 'I' : 'T';
        out += std::to_string(f.name.size());
        out += ':';
        out += f.name;
        out += std::to_string(f.value.size());
        out += ':';
        out += f.value;
        out += '\n';
    }
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

vault_db::vault_db(const std::string& path, const vault_settings& settings)
    : path_(path), settings_(settings) {
    open();
}

vault_db::~vault_db() {
    try {
        db_.commit();
        db_.close();
    } catch (const Xapian::Error&) {
        // Nothing left to save it to; the last explicit flush holds.
    }
}

void vault_db::open() {
    if (path_.empty()) {
        db_ = Xapian::WritableDatabase(std::string(), Xapian::DB_BACKEND_INMEMORY);
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
        db_ = Xapian::WritableDatabase(path_, Xapian::DB_CREATE_OR_OPEN);
    }
    read_slots(db_, slots_);
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
    db_.set_metadata(slot_key_prefix + field, std::to_string(slot));
    slots_.emplace(field, slot);
    return slot;
}

void vault_db::begin_document() {
    pending_ = true;
    doc_ = Xapian::Document();
    stored_.clear();
    valued_.clear();
    skipped_ = 0;
}

void vault_db::add_term(const std::string& term, Xapian::termcount wdf) {
    if (term.size() > max_term_length) {
        ++skipped_;
        return;
    }
    doc_.add_term(term, wdf);
}

void vault_db::add_word_stream(const std::string& value) {
    // Tokens are separated by 0x01; each ends with its slice marker (0x40 + slice id).
    Xapian::termpos position = 0;
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t end = value.find(lumbrake::idx::word_separator, start);
        if (end == std::string::npos) end = value.size();
        if (end - start >= 2) {
            if (settings_.max_field_length > 0 && position >= settings_.max_field_length) break;
            // Words arrive case-folded but metas ("author:Smith") as stored, while queries
            // fold both: fold here too (a no-op on words) so that metas can be found.
            std::string word;
            bool folded_ok = true;
            lumbrake::utf8_case_fold(std::string_view(value).substr(start, end - start - 1), word,
                                     folded_ok);
            if (!folded_ok) word.assign(value, start, end - start - 1);
            const auto marker = static_cast<unsigned char>(value[end - 1]);
            const std::int32_t slice =
                static_cast<std::uint8_t>(marker - lumbrake::idx::slice_marker_base);
            const std::string term = word_term(word);
            ++position;
            if (term.size() > max_term_length) {
                ++skipped_;
            } else {
                doc_.add_posting(term, position);
                add_term(slice_term(slice, word), 1);
            }
        }
        start = end + 1;
    }
}

bool vault_db::add_text_field(const std::string& name, const std::string& value, bool stored,
                              bool indexed, bool tokenized) {
    if (!pending_) return false;
    if (indexed) {
        if (name.empty()) {
            if (tokenized)
                add_word_stream(value);
            else if (!value.empty())
                add_term(word_term(value), 1);
        } else if (tokenized) {
            // Named tokenized fields split at blanks and control bytes.
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
                    add_term(field_term(name, value.substr(i, j - i)), 1);
                }
                i = j;
            }
        } else {
            add_term(field_term(name, value), 1);
        }
    }
    if (stored) {
        stored_.push_back({false, name, value});
        if (std::find(valued_.begin(), valued_.end(), name) == valued_.end()) {
            valued_.push_back(name);
            doc_.add_value(slot_for(name), value);
        }
    }
    return true;
}

bool vault_db::add_time_field(const std::string& name, std::int32_t value, bool stored,
                              bool indexed, bool tokenized) {
    (void)tokenized; // a number is one token either way
    if (!pending_) return false;
    const std::string text = std::to_string(value);
    if (indexed) add_term(field_term(name, text), 1);
    if (stored) stored_.push_back({true, name, text});
    if ((stored || indexed) && std::find(valued_.begin(), valued_.end(), name) == valued_.end()) {
        valued_.push_back(name);
        doc_.add_value(slot_for(name), time_value(value));
    }
    return true;
}

bool vault_db::end_document() {
    if (!pending_) return false;
    pending_ = false;
    doc_.set_data(encode_stored(stored_));
    db_.add_document(doc_);
    doc_ = Xapian::Document();
    stored_.clear();
    return true;
}

std::uint32_t vault_db::delete_term(const std::string& field, const std::string& value) {
    const std::string term = field.empty() ? word_term(value) : field_term(field, value);
    if (term.empty() || term.size() > max_term_length) return 0;
    const Xapian::doccount n = db_.get_termfreq(term);
    if (n > 0) db_.delete_document(term);
    return n;
}

void vault_db::flush() {
    db_.commit();
    if (shared_) ++shared_->commits;
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
    db_.compact(fresh);
    db_.close();
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
