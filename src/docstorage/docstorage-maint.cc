#include "docstorage/docstorage.h"

#include "docstorage/docstorage-sql.h"

namespace lumbrake {

using docstorage_sql::exec;
using docstorage_sql::inflate_column;
using docstorage_sql::read_counter;
using docstorage_sql::write_counter;

void docstorage::remove(sqlite3* db, const std::string& guid) {
    std::uint32_t arcid;
    std::int32_t docs_change = 0;
    std::int64_t bytes_change = 0;
    {
        sqlite_statement st(db, "select arcid, error, contentlen from docstorage where guid=?",
                            keep_prepared);
        st.bind(1, guid);
        if (!st.next()) return;
        arcid = st.u32(0);
        if (arcid == 0) return; // row 0 of doccount holds the totals, not an archive
        if (st.i32(1) == STATUS_NONE) {
            docs_change = -1;
            bytes_change = -st.integer(2);
        }
    }
    std::int32_t total_docs, arc_docs;
    std::int64_t total_bytes, arc_bytes;
    read_counter(db, 0, total_docs, total_bytes);
    read_counter(db, arcid, arc_docs, arc_bytes);
    sqlite_statement(db, "delete from docstorage where guid=?", keep_prepared).bind(1, guid).run();
    sqlite_statement(db, "delete from auxstorage where guid=?", keep_prepared).bind(1, guid).run();
    write_counter(db, 0, total_docs + docs_change, total_bytes + bytes_change);
    write_counter(db, arcid, arc_docs + docs_change, arc_bytes + bytes_change);
}

void docstorage::remove_archive(sqlite3* db, std::uint32_t arcid) {
    std::int32_t total_docs, arc_docs;
    std::int64_t total_bytes, arc_bytes;
    read_counter(db, 0, total_docs, total_bytes);
    read_counter(db, arcid, arc_docs, arc_bytes);
    sqlite_statement(db,
                     "delete from auxstorage where guid in (select guid from docstorage where "
                     "arcid=?)",
                     keep_prepared)
        .bind(1, arcid)
        .run();
    sqlite_statement(db, "delete from docstorage where arcid=?", keep_prepared)
        .bind(1, arcid)
        .run();
    write_counter(db, 0, total_docs - arc_docs, total_bytes - arc_bytes);
    sqlite_statement(db, "delete from doccount where arcid=?", keep_prepared).bind(1, arcid).run();
}

void docstorage::oldest_documents(sqlite3* db, std::uint32_t arcid, std::int64_t newest,
                                  std::int32_t max_count, std::vector<std::string>& guids) {
    sqlite_statement st(
        db, "select guid from docstorage where arcid=? and timestamp<=? order by timestamp limit ?",
        keep_prepared);
    st.bind(1, arcid).bind(2, newest).bind(3, max_count);
    while (st.next())
        guids.push_back(st.text(0));
}

void docstorage::for_each_indexable(sqlite3* db,
                                    const std::function<void(const indexable&)>& each) {
    sqlite_statement st(db,
                        "select guid, arcid, url, timestamp, fff, ffflen, corechanged, score, "
                        "mime, servertime from docstorage where error=?",
                        keep_prepared);
    st.bind(1, STATUS_NONE);
    indexable doc;
    while (st.next()) {
        doc.guid = st.text(0);
        doc.arcid = st.u32(1);
        doc.url = st.text(2);
        doc.timestamp = st.u32(3);
        doc.fff = inflate_column(st, 4, 5, doc.guid, "FFF");
        doc.corechanged = st.integer(6) != 0;
        doc.score = st.u32(7);
        doc.mime = st.text(8);
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
