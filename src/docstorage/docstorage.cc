#include "docstorage/docstorage.h"

#include "docstorage/docstorage-sql.h"
#include "util/log.h"
#include "util/uri.h"

namespace lumbrake {

using docstorage_sql::exec;
using docstorage_sql::inflate_column;
using docstorage_sql::read_counter;
using docstorage_sql::write_counter;

namespace {

constexpr int FULLCACHE_MODE = 0;
constexpr int CONTEXTCACHE_MODE = 1;

struct table_schema {
    const char* probe;
    const char* create;
    const char* indexes[3];
};

const table_schema schemas[] = {
    {"select * from docstorage limit 1",
     "create table docstorage(guid text, arcid integer, url text, timestamp integer, error "
     "integer, headers blob, headerslen integer, content blob, contentlen integer, fff blob, "
     "ffflen integer, fffcrc integer, corecrc integer, corechanged integer, score integer, mime "
     "text, charset text, servertime integer)",
     {"create unique index docstorage_idx1 on docstorage(guid)",
      "create index docstorage_idx2 on docstorage(arcid, url)",
      "create index docstorage_idx3 on docstorage(arcid, timestamp)"}},
    {"select * from auxstorage limit 1",
     "create table auxstorage(guid text, key text, value blob, valuelen integer)",
     {"create index auxstorage_idx1 on auxstorage(guid)", nullptr, nullptr}},
    {"select * from doccount limit 1",
     "create table doccount(arcid integer, ndocs integer, nbytes integer)",
     {"create unique index doccount_idx1 on doccount(arcid)", nullptr, nullptr}},
};

std::string canonical_url(const std::string& url) {
    return URI(url, "http", true).canonical_string(true);
}

} // namespace

// --- shared with the maintenance operations ---

std::string docstorage_sql::inflate_column(const sqlite_statement& st, int blob_column,
                                           int length_column, const std::string& guid,
                                           const char* what) {
    std::string value;
    if (!inflate_blob(st.blob(blob_column), st.bytes(blob_column), st.integer(length_column),
                      value))
        TN_LOG(LF_LOG, LL_ERROR,
               "Damaged stored " << what << " of document " << guid << " read as empty");
    return value;
}

void docstorage_sql::read_counter(sqlite3* db, std::uint32_t arcid, std::int32_t& ndocs,
                                  std::int64_t& nbytes) {
    sqlite_statement st(db, "select ndocs, nbytes from doccount where arcid=?", keep_prepared);
    st.bind(1, arcid);
    ndocs = 0;
    nbytes = 0;
    if (st.next()) {
        ndocs = st.i32(0);
        nbytes = st.integer(1);
    }
}

void docstorage_sql::write_counter(sqlite3* db, std::uint32_t arcid, std::int32_t ndocs,
                                   std::int64_t nbytes) {
    sqlite_statement(db, "insert or replace into doccount values(?, ?, ?)", keep_prepared)
        .bind(1, arcid)
        .bind(2, ndocs)
        .bind(3, nbytes)
        .run();
}

docstorage::docstorage(sqlite3* db) {
    for (const table_schema& t : schemas) {
        if (sqlite3_exec(db, t.probe, nullptr, nullptr, nullptr) == SQLITE_OK) continue;
        exec(db, t.create);
        for (const char* index : t.indexes)
            if (index) exec(db, index);
    }
}

namespace {
struct kept_blobs {
    bool full, keeps_fff;
};
kept_blobs blobs_kept(std::int32_t error, int cache_mode) {
    const bool keeps = error == docstorage::STATUS_NONE || error == docstorage::STATUS_UNCHANGED;
    const bool full = keeps && cache_mode == FULLCACHE_MODE;
    return {full, full || (keeps && cache_mode == CONTEXTCACHE_MODE)};
}
} // namespace

version_blobs compress_version(std::int32_t error, int cache_mode, const std::string& headers,
                               const std::string& content, const std::string& fff) {
    const kept_blobs k = blobs_kept(error, cache_mode);
    version_blobs b;
    if (k.full) b.headers = compress_blob(headers);
    if (k.full) b.content = compress_blob(content);
    if (k.keeps_fff) b.fff = compress_blob(fff);
    return b;
}

void docstorage::store(sqlite3* db, const stored_version& v, const aux_values& aux, int cache_mode,
                       const version_blobs* compressed) {
    const std::string& guid = v.guid;
    const std::uint32_t arcid = v.arcid;
    const std::int32_t error = v.error;
    const kept_blobs k = blobs_kept(error, cache_mode);
    const bool full = k.full;

    // 1. the blobs the status and the cache mode admit
    const version_blobs blobs =
        compressed ? *compressed : compress_version(error, cache_mode, v.headers, v.content, v.fff);
    const std::string& headers_blob = blobs.headers;
    const std::string& content_blob = blobs.content;
    const std::string& fff_blob = blobs.fff;

    // 2. the counters of the totals and of the archive
    std::int32_t total_docs, arc_docs;
    std::int64_t total_bytes, arc_bytes;
    read_counter(db, 0, total_docs, total_bytes);
    read_counter(db, arcid, arc_docs, arc_bytes);

    // 3. a version replaced in place stops counting, in the archive it was counted in
    bool other_archive = false;
    std::uint32_t old_arcid = 0;
    std::int32_t old_docs = 0;
    std::int64_t old_bytes = 0;
    {
        sqlite_statement st(db, "select error, contentlen, arcid from docstorage where guid=?",
                            keep_prepared);
        st.bind(1, guid);
        if (st.next() && st.i32(0) == STATUS_NONE) {
            std::int64_t len = st.integer(1);
            old_arcid = st.u32(2);
            --total_docs;
            total_bytes -= len;
            if (old_arcid == arcid) {
                --arc_docs;
                arc_bytes -= len;
            } else if (old_arcid != 0) { // (a version of archive 0 counted in row 0 only)
                other_archive = true;
                read_counter(db, old_arcid, old_docs, old_bytes);
                --old_docs;
                old_bytes -= len;
            }
        }
    }

    // 4. the new version counts when it was processed without error
    if (error == STATUS_NONE) {
        ++total_docs;
        ++arc_docs;
        total_bytes += static_cast<std::int64_t>(v.content.size());
        arc_bytes += static_cast<std::int64_t>(v.content.size());
    }

    // 5-6. the row, with the canonical URL; the CRCs as signed 32-bit numbers (read back
    // through i32)
    {
        sqlite_statement st(db,
                            "insert or replace into docstorage values(?, ?, ?, ?, ?, ?, ?, "
                            "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                            keep_prepared);
        st.bind(1, guid)
            .bind(2, arcid)
            .bind(3, canonical_url(v.url))
            .bind(4, v.timestamp)
            .bind(5, error)
            .bind_blob(6, headers_blob.data(), headers_blob.size())
            .bind(7, static_cast<std::uint32_t>(v.headers.size()))
            .bind_blob(8, content_blob.data(), content_blob.size())
            .bind(9, static_cast<std::uint32_t>(v.content.size()))
            .bind_blob(10, fff_blob.data(), fff_blob.size())
            .bind(11, static_cast<std::uint32_t>(v.fff.size()))
            .bind(12, static_cast<std::int32_t>(v.fffcrc))
            .bind(13, static_cast<std::int32_t>(v.corecrc))
            .bind(14, v.corechanged ? 1 : 0)
            .bind(15, v.score)
            .bind(16, v.mime)
            .bind(17, v.charset)
            .bind(18, v.servertime)
            .run();
    }

    // 7-8. the auxiliary values, replaced whatever the version keeps
    sqlite_statement(db, "delete from auxstorage where guid=?", keep_prepared).bind(1, guid).run();
    if (full) {
        sqlite_statement st(db, "insert into auxstorage values(?, ?, ?, ?)", keep_prepared);
        for (const auto& [key, value] : aux) {
            const std::string blob = compress_blob(value);
            st.reset()
                .bind(1, guid)
                .bind(2, key)
                .bind_blob(3, blob.data(), blob.size())
                .bind(4, static_cast<std::uint32_t>(value.size()))
                .run();
        }
    }

    // 9. the counters
    if (arcid == 0) {
        arc_docs = total_docs;
        arc_bytes = total_bytes;
    }
    write_counter(db, 0, total_docs, total_bytes);
    write_counter(db, arcid, arc_docs, arc_bytes);
    if (other_archive) write_counter(db, old_arcid, old_docs, old_bytes);
}

bool docstorage::load(sqlite3* db, const std::string& guid, stored_version& v) {
    sqlite_statement st(db,
                        "select arcid, url, timestamp, error, headers, headerslen, content, "
                        "contentlen, fff, ffflen, fffcrc, corecrc, corechanged, score, mime, "
                        "charset, servertime from docstorage where guid=?",
                        keep_prepared);
    st.bind(1, guid);
    if (!st.next()) return false;
    v.guid = guid;
    v.arcid = st.u32(0);
    v.url = st.text(1);
    v.timestamp = st.u32(2);
    v.error = st.i32(3);
    v.fffcrc = static_cast<std::uint32_t>(st.i32(10));
    v.corecrc = static_cast<std::uint32_t>(st.i32(11));
    v.corechanged = st.integer(12) != 0;
    v.score = st.u32(13);
    v.mime = st.text(14);
    v.charset = st.text(15);
    v.servertime = st.u32(16);
    v.headers = inflate_column(st, 4, 5, guid, "headers");
    v.content = inflate_column(st, 6, 7, guid, "content");
    v.fff = inflate_column(st, 8, 9, guid, "FFF");
    return true;
}

void docstorage::load_aux(sqlite3* db, const std::string& guid, aux_values& aux) {
    aux.clear();
    sqlite_statement st(db, "select key, value, valuelen from auxstorage where guid=?",
                        keep_prepared);
    st.bind(1, guid);
    while (st.next())
        aux.emplace(st.text(0), inflate_column(st, 1, 2, guid, "auxiliary value"));
}

bool docstorage::find_latest(sqlite3* db, std::uint32_t arcid, const std::string& url,
                             std::string& guid, std::uint32_t& timestamp, std::int32_t& error,
                             std::uint32_t& fffcrc, std::uint32_t& corecrc) {
    sqlite_statement st(db,
                        "select guid, timestamp, error, fffcrc, corecrc from docstorage "
                        "where arcid=? and url=? order by +timestamp desc limit 1",
                        keep_prepared);
    st.bind(1, arcid).bind(2, canonical_url(url));
    if (!st.next()) return false;
    guid = st.text(0);
    timestamp = st.u32(1);
    error = st.i32(2);
    fffcrc = static_cast<std::uint32_t>(st.i32(3));
    corecrc = static_cast<std::uint32_t>(st.i32(4));
    return true;
}

std::uint32_t docstorage::latest_timestamp(sqlite3* db, std::uint32_t arcid,
                                           const std::string& url) {
    return latest_timestamps(db, arcid).of_canonical(canonical_url(url));
}

docstorage::latest_timestamps::latest_timestamps(sqlite3* db, std::uint32_t arcid)
    : st_(db,
          "select timestamp from docstorage where arcid=? and url=? order by "
          "+timestamp desc limit 1",
          keep_prepared),
      arcid_(arcid) {}

std::uint32_t docstorage::latest_timestamps::of_canonical(const std::string& canonical) {
    st_.reset();
    st_.bind(1, arcid_).bind(2, canonical);
    return st_.next() ? st_.u32(0) : 0;
}

void docstorage::touch(sqlite3* db, const std::string& guid, std::uint32_t timestamp) {
    sqlite_statement(db, "update docstorage set timestamp=? where guid=?", keep_prepared)
        .bind(1, timestamp)
        .bind(2, guid)
        .run();
}

std::int32_t docstorage::document_count(sqlite3* db, std::uint32_t arcid) {
    sqlite_statement st(db, "select ndocs from doccount where arcid=?", keep_prepared);
    st.bind(1, arcid);
    return st.next() ? st.i32(0) : 0;
}

std::int64_t docstorage::byte_count(sqlite3* db, std::uint32_t arcid) {
    sqlite_statement st(db, "select nbytes from doccount where arcid=?", keep_prepared);
    st.bind(1, arcid);
    return st.next() ? st.integer(0) : 0;
}

} // namespace lumbrake
