#include "logstorage/logstorage.h"

#include "util/sqlite_stmt.h"
#include "util/sqlite_txn.h"
#include "util/uri.h"

#include <cstdlib>

namespace lumbrake {

namespace {

using statement = sqlite_statement;

void exec(sqlite3* db, const char* sql) {
    TN_SQLITE_CHECK(db, sqlite3_exec(db, sql, nullptr, nullptr, nullptr));
}

struct table_spec {
    const char* probe;
    const char* create;
    const char* index;
};

const table_spec tables[] = {
    {"select * from documentlog limit 1",
     "create table documentlog(guid text, arcid integer, url text, timestamp integer, "
     "status integer)",
     "create index documentlog_idx1 on documentlog(arcid, timestamp)"},
    {"select * from querylog limit 1",
     "create table querylog(arcid integer, timestamp integer, "
     "query text)",
     "create index querylog_idx1 on querylog(arcid, timestamp)"},
    {"select * from crawlstats limit 1",
     "create table crawlstats(arcid integer, start integer, end integer, docs integer, "
     "errors integer)",
     "create unique index crawlstats_idx1 on crawlstats(arcid, start, end)"},
};

// Which count of the running crawl a document's status feeds.
enum class counter { none, docs, errors };

counter counter_of(std::int32_t status) {
    switch (status) {
    case 0: // NONE
    case 9: // UNCHANGED
        return counter::docs;
    case 3:  // NOTFOUND
    case 4:  // UNPARSABLE
    case 5:  // BADREDIR
    case 7:  // NETWORK
    case 8:  // UNKNOWN
    case 11: // AUTHREQ
    case 12: // INTERNAL
    case 13: // SERVER
        return counter::errors;
    default: // REDIRECT, INDEX, BLOCKED and unknown codes are neither
        return counter::none;
    }
}

// The start of the archive's running crawl, if one runs.
bool running_crawl(sqlite3* db, std::int32_t archive, std::int64_t& start) {
    statement st(db, "select start from crawlstats where arcid=? and end=0 limit 1", keep_prepared);
    st.bind(1, archive);
    if (!st.next()) return false;
    start = st.integer(0);
    return true;
}

// The decimal value of a cookie as the C library reads it: leading blanks and a sign allowed,
// anything after the digits ignored, no digits at all 0. Out-of-range texts saturate.
std::int64_t cookie_offset(const std::string& cookie) {
    long long value = std::strtoll(cookie.c_str(), nullptr, 10);
    return static_cast<std::int64_t>(value);
}

} // namespace

logstorage::logstorage(sqlite3* db) {
    for (const table_spec& t : tables) {
        if (sqlite3_exec(db, t.probe, nullptr, nullptr, nullptr) == SQLITE_OK) continue;
        exec(db, t.create);
        exec(db, t.index);
    }
}

void logstorage::start_crawl(sqlite3* db, std::int32_t archive, std::int64_t time) {
    end_crawl(db, archive, time);
    // Only the time 0 cannot close a crawl (end 0 means running); the running crawl is then
    // kept, since an archive has at most one.
    std::int64_t start = 0;
    if (running_crawl(db, archive, start)) return;
    statement ins(db, "insert into crawlstats values(?, ?, 0, 0, 0)", keep_prepared);
    ins.bind(1, archive).bind(2, time).run();
}

void logstorage::end_crawl(sqlite3* db, std::int32_t archive, std::int64_t time) {
    int rc;
    {
        statement up(db, "update crawlstats set end=? where arcid=? and end=0", keep_prepared);
        up.bind(1, time).bind(2, archive);
        rc = up.step_result();
        if (rc != SQLITE_CONSTRAINT) TN_SQLITE_CHECK(db, rc);
    }
    if (rc != SQLITE_CONSTRAINT) return;
    // A finished crawl with the same start and end already exists: both cover the same span of
    // the document log, so the running one is folded into it instead of ending the daemon.
    statement merge(db,
                    "update crawlstats set "
                    "docs=docs+(select docs from crawlstats where arcid=?1 and end=0), "
                    "errors=errors+(select errors from crawlstats where arcid=?1 and end=0) "
                    "where arcid=?1 and end=?2 and "
                    "start=(select start from crawlstats where arcid=?1 and end=0)",
                    keep_prepared);
    merge.bind(1, archive).bind(2, time).run();
    statement del(db, "delete from crawlstats where arcid=? and end=0", keep_prepared);
    del.bind(1, archive).run();
}

void logstorage::log_document(sqlite3* db, std::string_view guid, std::int32_t archive,
                              std::string_view url, std::int64_t timestamp, std::int32_t status) {
    statement ins(db, "insert into documentlog values(?, ?, ?, ?, ?)", keep_prepared);
    ins.bind(1, guid).bind(2, archive).bind(3, canonicalize_url(url, true)).bind(4, timestamp);
    ins.bind(5, status).run();
    switch (counter_of(status)) {
    case counter::docs: {
        statement up(db, "update crawlstats set docs=docs+1 where arcid=? and end=0",
                     keep_prepared);
        up.bind(1, archive).run();
        break;
    }
    case counter::errors: {
        statement up(db, "update crawlstats set errors=errors+1 where arcid=? and end=0",
                     keep_prepared);
        up.bind(1, archive).run();
        break;
    }
    case counter::none:
        break;
    }
}

bool logstorage::counts_as_document(std::int32_t status) {
    return counter_of(status) == counter::docs;
}

bool logstorage::last_crawl(sqlite3* db, std::int32_t archive, std::int64_t& start,
                            std::int64_t& end, std::int64_t& docs, std::int64_t& errors) {
    statement st(db,
                 "select start, end, docs, errors from crawlstats where arcid=? "
                 "order by start desc limit 1",
                 keep_prepared);
    st.bind(1, archive);
    if (!st.next()) return false;
    start = st.integer(0);
    end = st.integer(1);
    docs = st.integer(2);
    errors = st.integer(3);
    return true;
}

void logstorage::crawl_starts(sqlite3* db, std::int32_t archive, std::vector<CrawlLog>& crawls) {
    crawls.clear();
    statement st(db, "select start from crawlstats where arcid=? order by start", keep_prepared);
    st.bind(1, archive);
    while (st.next())
        crawls.push_back(CrawlLog{static_cast<std::int32_t>(st.integer(0)), "0"});
}

void logstorage::log_query(sqlite3* db, std::int32_t archive, std::string_view query,
                           std::int64_t time) {
    statement ins(db, "insert into querylog values(?, ?, ?)", keep_prepared);
    ins.bind(1, archive).bind(2, time).bind(3, query).run();
}

void logstorage::expire_queries(sqlite3* db, std::int32_t archive, std::int64_t before) {
    statement del(db, "delete from querylog where arcid=? and timestamp<?", keep_prepared);
    del.bind(1, archive).bind(2, before).run();
}

void logstorage::document_log(sqlite3* db, std::int32_t archive, std::int32_t nmax,
                              CrawlLog& cursor, std::vector<CrawlLogData>& entries) {
    entries.clear();
    std::int64_t offset = cookie_offset(cursor.Cookie);
    if (offset < 0) return;
    // A negative limit would mean "no limit" to SQLite: one call could pull a whole log.
    std::int64_t limit = nmax < 0 ? 0 : nmax;

    bool found = false;
    std::int64_t end = 0;
    {
        statement st(db, "select end from crawlstats where arcid=? and start=?", keep_prepared);
        st.bind(1, archive).bind(2, cursor.Time);
        if (st.next()) {
            found = true;
            end = st.integer(0);
        }
    }

    std::int64_t next_offset = -1;
    if (found && cursor.Time > 0) {
        const bool running = end == 0;
        statement st(db, running ? "select guid, url, timestamp, status from documentlog "
                                   "where arcid=?1 and timestamp>=?2 "
                                   "order by timestamp, rowid limit ?4 offset ?5"
                                 : "select guid, url, timestamp, status from documentlog "
                                   "where arcid=?1 and timestamp between ?2 and ?3 "
                                   "order by timestamp, rowid limit ?4 offset ?5");
        st.bind(1, archive).bind(2, cursor.Time).bind(4, limit).bind(5, offset);
        if (!running) st.bind(3, end);
        while (st.next()) {
            CrawlLogData row;
            row.ID = st.text(0);
            row.Url = st.text(1);
            row.Time = static_cast<std::int32_t>(st.integer(2));
            row.Error = static_cast<std::int32_t>(st.integer(3));
            entries.push_back(std::move(row));
        }
        const auto count = static_cast<std::int64_t>(entries.size());
        next_offset = !running && count < limit ? -1 : offset + count;
    }
    cursor.Cookie = std::to_string(next_offset);
}

void logstorage::query_log(sqlite3* db, std::int32_t archive, std::int32_t begin, std::int32_t end,
                           std::vector<QueryLogData>& entries) {
    entries.clear();
    statement st(db,
                 "select timestamp, query from querylog where arcid=? and "
                 "timestamp between ? and ? order by timestamp, rowid",
                 keep_prepared);
    st.bind(1, archive).bind(2, begin).bind(3, end);
    while (st.next())
        entries.push_back(QueryLogData{static_cast<std::int32_t>(st.integer(0)), st.text(1)});
}

void logstorage::remove_archive(sqlite3* db, std::int32_t archive) {
    for (const char* sql :
         {"delete from documentlog where arcid=?", "delete from querylog where arcid=?",
          "delete from crawlstats where arcid=?"}) {
        statement st(db, sql);
        st.bind(1, archive).run();
    }
}

void logstorage::clear(sqlite3* db) {
    exec(db, "delete from documentlog");
    exec(db, "delete from querylog");
    exec(db, "delete from crawlstats");
}

} // namespace lumbrake
