#include "docstorage/docstorage.h"

#include "docstorage/docstorage-sql.h"
#include "util/log.h"

namespace lumbrake {

using docstorage_sql::exec;
using docstorage_sql::read_counter;
using docstorage_sql::statement;
using docstorage_sql::text;
using docstorage_sql::write_counter;

void docstorage::remove(sqlite3* db, const std::string& guid) {
    std::uint32_t arcid;
    std::int32_t docs_change = 0;
    std::int64_t bytes_change = 0;
    {
        text sql(db, "select arcid, error, contentlen from docstorage where guid='%q'",
                 guid.c_str());
        statement st(db, sql.c_str());
        if (!st.row()) return;
        arcid = st.u32(0);
        if (arcid == 0) return; // row 0 of doccount holds the totals, not an archive
        if (st.i32(1) == STATUS_NONE) {
            docs_change = -1;
            bytes_change = -st.int64(2);
        }
    }
    std::int32_t total_docs, arc_docs;
    std::int64_t total_bytes, arc_bytes;
    read_counter(db, 0, total_docs, total_bytes);
    read_counter(db, arcid, arc_docs, arc_bytes);
    {
        text sql(db, "delete from docstorage where guid='%q'", guid.c_str());
        exec(db, sql.c_str());
    }
    {
        text sql(db, "delete from auxstorage where guid='%q'", guid.c_str());
        exec(db, sql.c_str());
    }
    write_counter(db, 0, total_docs + docs_change, total_bytes + bytes_change);
    write_counter(db, arcid, arc_docs + docs_change, arc_bytes + bytes_change);
}

void docstorage::remove_archive(sqlite3* db, std::uint32_t arcid) {
    std::int32_t total_docs, arc_docs;
    std::int64_t total_bytes, arc_bytes;
    read_counter(db, 0, total_docs, total_bytes);
    read_counter(db, arcid, arc_docs, arc_bytes);
    {
        text sql(db,
                 "delete from auxstorage where guid in (select guid from docstorage where "
                 "arcid=%u)",
                 arcid);
        exec(db, sql.c_str());
    }
    {
        text sql(db, "delete from docstorage where arcid=%u", arcid);
        exec(db, sql.c_str());
    }
    write_counter(db, 0, total_docs - arc_docs, total_bytes - arc_bytes);
    text sql(db, "delete from doccount where arcid=%u", arcid);
    exec(db, sql.c_str());
}

void docstorage::oldest_documents(sqlite3* db, std::uint32_t arcid, std::int64_t newest,
                                  std::int32_t max_count, std::vector<std::string>& guids) {
    text sql(db,
             "select guid from docstorage where arcid=%u and timestamp<=%lld order by timestamp "
             "limit %d",
             arcid, static_cast<long long>(newest), max_count);
    statement st(db, sql.c_str());
    while (st.row())
        guids.push_back(st.str(0));
}

void docstorage::for_each_indexable(sqlite3* db,
                                    const std::function<void(const indexable&)>& each) {
    text sql(db,
             "select guid, arcid, url, timestamp, fff, ffflen, corechanged, score, mime, "
             "servertime from docstorage where error=%d",
             STATUS_NONE);
    statement st(db, sql.c_str());
    indexable doc;
    while (st.row()) {
        doc.guid = st.str(0);
        doc.arcid = st.u32(1);
        doc.url = st.str(2);
        doc.timestamp = st.u32(3);
        if (!inflate_blob(st.blob(4), st.bytes(4), st.int64(5), doc.fff))
            TN_LOG(LF_LOG, LL_ERROR,
                   "Damaged stored FFF of document " << doc.guid << " read as empty");
        doc.corechanged = st.int64(6) != 0;
        doc.score = st.u32(7);
        doc.mime = st.str(8);
        doc.servertime = st.u32(9);
        each(doc);
    }
}

void docstorage::clear(sqlite3* db) {
    exec(db, "delete from docstorage");
    exec(db, "delete from auxstorage");
    exec(db, "delete from doccount");
}

} // namespace lumbrake
