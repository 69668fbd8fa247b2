#include "trawlnestd/cfgstorage.h"

#include "util/sqlite_stmt.h"
#include "util/sqlite_txn.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <utility>

namespace lumbrake {

std::uint32_t cfg_magic(std::string_view text) {
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes lengths as uInt: feed very long texts in pieces.
    const auto* p = reinterpret_cast<const Bytef*>(text.data());
    std::size_t left = text.size();
    while (left > 0) {
        uInt n = left > 0x40000000u ? 0x40000000u : static_cast<uInt>(left);
        crc = crc32(crc, p, n);
        p += n;
        left -= n;
    }
    return static_cast<std::uint32_t>(crc);
}

namespace cfgstore_detail {

namespace {

struct sql_text_deleter {
    void operator()(char* p) const { sqlite3_free(p); }
};
using sql_text = std::unique_ptr<char, sql_text_deleter>;

struct stmt_deleter {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using stmt_ptr = std::unique_ptr<sqlite3_stmt, stmt_deleter>;

sql_text build(sqlite3* db, const char* format, auto... args) {
    sql_text sql(sqlite3_mprintf(format, args...));
    if (!sql) sqlite_fatal(db, __FILE__, __LINE__); // out of memory
    return sql;
}

int exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

void exec_or_die(sqlite3* db, const char* sql, const char* file, unsigned long line) {
    if (exec(db, sql) != SQLITE_OK) sqlite_fatal(db, file, line);
}

stmt_ptr prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) {
        sqlite3_finalize(s);
        sqlite_fatal(db, __FILE__, __LINE__);
    }
    return stmt_ptr(s);
}

// A table that answers a probe query exists; only a missing one is created.
void ensure_table(sqlite3* db, const char* probe, const char* create, const char* index) {
    if (exec(db, probe) == SQLITE_OK) return;
    exec_or_die(db, create, __FILE__, __LINE__);
    exec_or_die(db, index, __FILE__, __LINE__);
}

struct record_cache {
    std::mutex mutex;
    std::uint64_t generation = 1;
    std::set<sqlite3*> writing; // connections whose open transaction wrote records
    std::map<std::pair<std::string, int>, std::pair<std::shared_ptr<const void>, std::uint32_t>>
        records;

    void next_generation() {
        ++generation;
        records.clear();
    }
};

record_cache& cache() {
    static record_cache c;
    return c;
}

// The end of a transaction that wrote records: what was read in it, committed or not, is
// stale for the others. A reader on another connection cannot read between the write and
// the end of the transaction (the writer holds SQLite's exclusive lock), so nothing older
// comes in afterwards.
void transaction_ended(void* connection) {
    record_cache& c = cache();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (c.writing.erase(static_cast<sqlite3*>(connection)) > 0) c.next_generation();
}

int on_commit(void* connection) {
    transaction_ended(connection);
    return 0; // the commit goes ahead
}

void on_rollback(void* connection) {
    transaction_ended(connection);
}

} // namespace

void written(sqlite3* db) {
    record_cache& c = cache();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.next_generation();
    c.writing.insert(db);
    // Set on every write: a connection closed in mid-transaction may leave its address in
    // the set, and a new connection at that address has no hooks yet.
    sqlite3_commit_hook(db, on_commit, db);
    sqlite3_rollback_hook(db, on_rollback, db);
}

std::uint64_t generation() {
    record_cache& c = cache();
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.generation;
}

void cache_put(const std::string& key, int id, std::uint64_t generation,
               std::shared_ptr<const void> record, std::uint32_t magic) {
    record_cache& c = cache();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (generation != c.generation) return;
    c.records[{key, id}] = {std::move(record), magic};
}

bool cache_find(const std::string& key, int id, std::shared_ptr<const void>& record,
                std::uint32_t& magic) {
    record_cache& c = cache();
    std::lock_guard<std::mutex> lock(c.mutex);
    auto it = c.records.find({key, id});
    if (it == c.records.end()) return false;
    record = it->second.first;
    if (record) magic = it->second.second;
    return true;
}

void ensure(sqlite3* db, const char* key) {
    ensure_table(db, "select * from cfgstorage limit 1",
                 "create table cfgstorage(key text, id integer, cfg text)",
                 "create unique index cfgstorage_idx1 on cfgstorage(key, id)");
    ensure_table(db, "select * from cfgcounter limit 1",
                 "create table cfgcounter(key text, lastid integer)",
                 "create unique index cfgcounter_idx1 on cfgcounter(key)");
    written(db);
    sql_text sql = build(db, "insert into cfgcounter values('%q', 0)", key);
    int rc = exec(db, sql.get());
    // A constraint violation: the row is already there and keeps its count.
    if (rc != SQLITE_OK && (rc & 0xff) != SQLITE_CONSTRAINT) sqlite_fatal(db, __FILE__, __LINE__);
}

bool fetch(sqlite3* db, const char* key, int id, std::string& text) {
    // Every crawled page's pick reads records: the statement stays prepared, the key and id
    // bound (the same text and number comparison the quoted form made).
    sqlite_statement s(db, "select cfg from cfgstorage where key=? and id=?", keep_prepared);
    s.bind(1, std::string_view(key)).bind(2, std::int64_t{id});
    if (!s.next()) return false;
    const auto* bytes = static_cast<const char*>(s.blob(0));
    text.assign(bytes ? bytes : "", bytes ? s.bytes(0) : 0);
    return true;
}

bool fetch_pieces(sqlite3* db, const char* key, int id,
                  const std::function<void(std::string_view)>& piece, std::uint32_t& magic) {
    sqlite3_int64 rowid = 0;
    {
        sqlite_statement s(db, "select rowid from cfgstorage where key=? and id=?", keep_prepared);
        s.bind(1, std::string_view(key)).bind(2, std::int64_t{id});
        if (!s.next()) return false;
        rowid = s.integer(0);
    }
    sqlite3_blob* blob = nullptr;
    if (sqlite3_blob_open(db, "main", "cfgstorage", "cfg", rowid, 0, &blob) != SQLITE_OK) {
        // Not a text (a NULL written by hand): read as fetch reads it.
        sqlite3_blob_close(blob);
        std::string text;
        if (!fetch(db, key, id, text)) return false;
        magic = cfg_magic(text);
        piece(text);
        return true;
    }
    std::unique_ptr<sqlite3_blob, int (*)(sqlite3_blob*)> open_blob(blob, &sqlite3_blob_close);
    const int size = sqlite3_blob_bytes(blob);
    // Reads follow the row's overflow pages in order, so the whole costs one pass.
    constexpr int block = 64 * 1024;
    std::string buffer(static_cast<std::size_t>(std::min(size, block)), '\0');
    uLong crc = crc32(0L, Z_NULL, 0);
    for (int at = 0; at < size;) {
        const int n = std::min(block, size - at);
        if (sqlite3_blob_read(blob, buffer.data(), n, at) != SQLITE_OK)
            sqlite_fatal(db, __FILE__, __LINE__);
        crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), static_cast<uInt>(n));
        piece(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
        at += n;
    }
    magic = static_cast<std::uint32_t>(crc);
    return true;
}

void list(sqlite3* db, const char* key, std::vector<int>& ids) {
    ids.clear();
    sql_text sql = build(db, "select id from cfgstorage where key='%q' order by id", key);
    stmt_ptr s = prepare(db, sql.get());
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
        ids.push_back(sqlite3_column_int(s.get(), 0));
    if (rc != SQLITE_DONE) sqlite_fatal(db, __FILE__, __LINE__);
}

bool store(sqlite3* db, const char* key, int id, const std::string& text) {
    written(db);
    sql_text sql = build(db, "insert or replace into cfgstorage values('%q', %d, '%q')", key, id,
                         text.c_str());
    exec_or_die(db, sql.get(), __FILE__, __LINE__);
    return sqlite3_changes(db) == 1;
}

int insert_new(sqlite3* db, const char* key, const std::string& text) {
    written(db);
    sqlite3_int64 lastid;
    {
        sql_text sql = build(db, "select lastid from cfgcounter where key='%q'", key);
        stmt_ptr s = prepare(db, sql.get());
        // A type without its counter row cannot add records.
        if (sqlite3_step(s.get()) != SQLITE_ROW) sqlite_fatal(db, __FILE__, __LINE__);
        lastid = sqlite3_column_int64(s.get(), 0);
    }
    // Ids are 32-bit: once the counter reaches the top (an imported record with the highest id)
    // there is no new id, and wrapping round would hand out ids that exist.
    if (lastid >= INT_MAX) return 0;
    int id = static_cast<int>(lastid + 1);
    sql_text update = build(db, "update cfgcounter set lastid=%d where key='%q'", id, key);
    exec_or_die(db, update.get(), __FILE__, __LINE__);
    sql_text insert =
        build(db, "insert into cfgstorage values('%q', %d, '%q')", key, id, text.c_str());
    exec_or_die(db, insert.get(), __FILE__, __LINE__);
    return id;
}

bool erase(sqlite3* db, const char* key, int id) {
    written(db);
    sql_text sql = build(db, "delete from cfgstorage where key='%q' and id=%d", key, id);
    exec_or_die(db, sql.get(), __FILE__, __LINE__);
    return sqlite3_changes(db) == 1;
}

} // namespace cfgstore_detail

bool get_source_streamed(sqlite3* db, int id, SourceConfiguration& source, std::uint32_t& magic,
                         const source_stream_reader::seed_sink& on_seed) {
    // A missing row leaves the caller's record untouched, as get does.
    SourceConfiguration read;
    source_stream_reader reader(read, on_seed);
    bool well_formed = true;
    std::uint32_t stamp = 0;
    // Once the text is known to be malformed the rest is still read, for its stamp.
    auto piece = [&](std::string_view bytes) {
        if (well_formed) well_formed = reader.feed(bytes.data(), bytes.size(), false);
    };
    if (!cfgstore_detail::fetch_pieces(db, cfg_record_traits<SourceConfiguration>::key, id, piece,
                                       stamp))
        return false;
    if (well_formed) well_formed = reader.feed("", 0, true);
    source = std::move(read);
    magic = stamp;
    return well_formed;
}

std::shared_ptr<const SourceConfiguration> get_shared_source_without_seeds(sqlite3* db, int id,
                                                                           std::uint32_t& magic) {
    return cfgstore_detail::shared_record<SourceConfiguration>(
        std::string(cfg_record_traits<SourceConfiguration>::key) + "/without seeds", id, magic,
        [db, id](SourceConfiguration& record, std::uint32_t& stamp) {
            return get_source_streamed(db, id, record, stamp, [](const std::string&) {});
        });
}

} // namespace lumbrake
