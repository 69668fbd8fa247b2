#include "docstorage/docstorage.h"

#include "docstorage/docstorage-sql.h"
#include "util/log.h"
#include "util/uri.h"

namespace lumbrake {

using docstorage_sql::exec;
using docstorage_sql::read_counter;
using docstorage_sql::statement;
using docstorage_sql::text;
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

// Inflates one blob column beside its length column. A damaged stored blob is logged and
// read as an empty value: one bad row must not end the daemon on every read of it.
std::string inflate_column(const statement& st, int blob_column, int length_column,
                           const std::string& guid, const char* what) {
    std::string value;
    if (!inflate_blob(st.blob(blob_column), st.bytes(blob_column), st.int64(length_column), value))
        TN_LOG(LF_LOG, LL_ERROR,
               "Damaged stored " << what << " of document " << guid << " read as empty");
    return value;
}

} // namespace

// --- counters, shared with the maintenance operations ---

void docstorage_sql::read_counter(sqlite3* db, std::uint32_t arcid, std::int32_t& ndocs,
                                  std::int64_t& nbytes) {
    text sql(db, "select ndocs, nbytes from doccount where arcid=%u", arcid);
    statement st(db, sql.c_str());
    ndocs = 0;
    nbytes = 0;
    if (st.row()) {
        ndocs = st.i32(0);
        nbytes = st.int64(1);
    }
}

void docstorage_sql::write_counter(sqlite3* db, std::uint32_t arcid, std::int32_t ndocs,
                                   std::int64_t nbytes) {
    text sql(db, "insert or replace into doccount values(%u, %d, %lld)", arcid, ndocs,
             static_cast<long long>(nbytes));
    exec(db, sql.c_str());
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

void docstorage::store(sqlite3* db, const std::string& guid, std::uint32_t arcid,
                       const std::string& url, std::uint32_t timestamp, std::int32_t error,
                       const std::string& headers, const std::string& content,
                       const std::string& fff, std::uint32_t fffcrc, std::uint32_t corecrc,
                       bool corechanged, std::uint32_t score, const std::string& mime,
                       const std::string& charset, std::uint32_t servertime, const aux_values& aux,
                       int cache_mode, const version_blobs* compressed) {
    const kept_blobs k = blobs_kept(error, cache_mode);
    const bool full = k.full;

    // 1. the blobs the status and the cache mode admit
    const version_blobs blobs =
        compressed ? *compressed : compress_version(error, cache_mode, headers, content, fff);
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
        text sql(db, "select error, contentlen, arcid from docstorage where guid='%q'",
                 guid.c_str());
        statement st(db, sql.c_str());
        if (st.row() && st.i32(0) == STATUS_NONE) {
            std::int64_t len = st.int64(1);
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
        total_bytes += static_cast<std::int64_t>(content.size());
        arc_bytes += static_cast<std::int64_t>(content.size());
    }

    // 5-6. the row, with the canonical URL
    const std::string canonical = canonical_url(url);
    {
        text sql(db,
                 "insert or replace into docstorage values('%q', %u, '%q', %u, %d, ?, %u, ?, "
                 "%u, ?, %u, %d, %d, %d, %u, '%q', '%q', %u)",
                 guid.c_str(), arcid, canonical.c_str(), timestamp, error,
                 static_cast<unsigned>(headers.size()), static_cast<unsigned>(content.size()),
                 static_cast<unsigned>(fff.size()), static_cast<int>(fffcrc),
                 static_cast<int>(corecrc), corechanged ? 1 : 0, score, mime.c_str(),
                 charset.c_str(), servertime);
        statement st(db, sql.c_str());
        st.bind_blob(1, headers_blob);
        st.bind_blob(2, content_blob);
        st.bind_blob(3, fff_blob);
        st.done();
    }

    // 7-8. the auxiliary values, replaced whatever the version keeps
    {
        text sql(db, "delete from auxstorage where guid='%q'", guid.c_str());
        exec(db, sql.c_str());
    }
    if (full) {
        for (const auto& [key, value] : aux) {
            text sql(db, "insert into auxstorage values('%q', '%q', ?, %u)", guid.c_str(),
                     key.c_str(), static_cast<unsigned>(value.size()));
            statement st(db, sql.c_str());
            st.bind_blob(1, compress_blob(value));
            st.done();
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

bool docstorage::load(sqlite3* db, const std::string& guid, std::uint32_t& arcid, std::string& url,
                      std::uint32_t& timestamp, std::int32_t& error, std::string& headers,
                      std::string& content, std::string& fff, std::uint32_t& fffcrc,
                      std::uint32_t& corecrc, bool& corechanged, std::uint32_t& score,
                      std::string& mime, std::string& charset, std::uint32_t& servertime) {
    text sql(db,
             "select arcid, url, timestamp, error, headers, headerslen, content, contentlen, "
             "fff, ffflen, fffcrc, corecrc, corechanged, score, mime, charset, servertime from "
             "docstorage where guid='%q'",
             guid.c_str());
    statement st(db, sql.c_str());
    if (!st.row()) return false;
    arcid = st.u32(0);
    url = st.str(1);
    timestamp = st.u32(2);
    error = st.i32(3);
    fffcrc = st.u32(10);
    corecrc = st.u32(11);
    corechanged = st.int64(12) != 0;
    score = st.u32(13);
    mime = st.str(14);
    charset = st.str(15);
    servertime = st.u32(16);
    headers = inflate_column(st, 4, 5, guid, "headers");
    content = inflate_column(st, 6, 7, guid, "content");
    fff = inflate_column(st, 8, 9, guid, "FFF");
    return true;
}

void docstorage::load_aux(sqlite3* db, const std::string& guid, aux_values& aux) {
    aux.clear();
    text sql(db, "select key, value, valuelen from auxstorage where guid='%q'", guid.c_str());
    statement st(db, sql.c_str());
    while (st.row())
        aux.emplace(st.str(0), inflate_column(st, 1, 2, guid, "auxiliary value"));
}

bool docstorage::find_latest(sqlite3* db, std::uint32_t arcid, const std::string& url,
                             std::string& guid, std::uint32_t& timestamp, std::int32_t& error,
                             std::uint32_t& fffcrc, std::uint32_t& corecrc) {
    const std::string canonical = canonical_url(url);
    text sql(db,
             "select guid, timestamp, error, fffcrc, corecrc from docstorage where arcid=%u and "
             "url='%q' order by +timestamp desc limit 1",
             arcid, canonical.c_str());
    statement st(db, sql.c_str());
    if (!st.row()) return false;
    guid = st.str(0);
    timestamp = st.u32(1);
    error = st.i32(2);
    fffcrc = st.u32(3);
    corecrc = st.u32(4);
    return true;
}

std::uint32_t docstorage::latest_timestamp(sqlite3* db, std::uint32_t arcid,
                                           const std::string& url) {
    const std::string canonical = canonical_url(url);
    text sql(db,
             "select timestamp from docstorage where arcid=%u and url='%q' order by +timestamp "
             "desc limit 1",
             arcid, canonical.c_str());
    statement st(db, sql.c_str());
    return st.row() ? st.u32(0) : 0;
}

void docstorage::touch(sqlite3* db, const std::string& guid, std::uint32_t timestamp) {
    text sql(db, "update docstorage set timestamp=%u where guid='%q'", timestamp, guid.c_str());
    exec(db, sql.c_str());
}

std::int32_t docstorage::document_count(sqlite3* db, std::uint32_t arcid) {
    text sql(db, "select ndocs from doccount where arcid=%u", arcid);
    statement st(db, sql.c_str());
    return st.row() ? st.i32(0) : 0;
}

std::int64_t docstorage::byte_count(sqlite3* db, std::uint32_t arcid) {
    text sql(db, "select nbytes from doccount where arcid=%u", arcid);
    statement st(db, sql.c_str());
    return st.row() ? st.int64(0) : 0;
}

} // namespace lumbrake
