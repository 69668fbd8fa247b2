// The log store: the document log (every handled document version with its processing status),
// the query log (every search per archive) and the crawl statistics (one row per crawl of an
// archive). It keeps no state of its own: every operation runs SQL on the calling thread's
// connection, inside the caller's storage transaction. Any SQLite failure is fatal.
#pragma once

#include "api/log-records.h"

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumbrake {

class logstorage {
public:
    // Creates the tables documentlog, querylog and crawlstats (with their indexes) when missing.
    explicit logstorage(sqlite3* db);

    // Opens a crawl of the archive at `time`, first closing its running crawl at the same time.
    // With time 0 a running crawl cannot be closed and is kept; nothing is opened then.
    void start_crawl(sqlite3* db, std::int32_t archive, std::int64_t time);
    // Closes the archive's running crawl (end = time). Nothing runs: nothing changes. When a
    // finished crawl with the same start and end exists, the running one is folded into it
    // (counts added, row removed) rather than breaking the unique index.
    void end_crawl(sqlite3* db, std::int32_t archive, std::int64_t time);
    // One document-log row (the URL in its canonical form); counts the document or the error
    // in the archive's running crawl by its status.
    void log_document(sqlite3* db, std::string_view guid, std::int32_t archive,
                      std::string_view url, std::int64_t timestamp, std::int32_t status);
    // True when log_document counts a document of this status among the crawl's documents
    // (not its errors), for a caller that knows the count without reading the row again.
    static bool counts_as_document(std::int32_t status);
    // The archive's newest crawl; false (outputs untouched) when it has none.
    bool last_crawl(sqlite3* db, std::int32_t archive, std::int64_t& start, std::int64_t& end,
                    std::int64_t& docs, std::int64_t& errors);
    // One cursor per crawl of the archive, oldest first, each with Cookie "0".
    void crawl_starts(sqlite3* db, std::int32_t archive, std::vector<CrawlLog>& crawls);
    void log_query(sqlite3* db, std::int32_t archive, std::string_view query, std::int64_t time);
    // Removes the archive's query-log rows older than `before` (seconds since 1970 UTC).
    void expire_queries(sqlite3* db, std::int32_t archive, std::int64_t before);
    // The next page of at most nmax entries of the crawl that the cursor names; the cursor's
    // Cookie moves on (see CrawlLog). A negative cookie returns nothing and stays.
    void document_log(sqlite3* db, std::int32_t archive, std::int32_t nmax, CrawlLog& cursor,
                      std::vector<CrawlLogData>& entries);
    // The archive's queries with begin <= time <= end, oldest first.
    void query_log(sqlite3* db, std::int32_t archive, std::int32_t begin, std::int32_t end,
                   std::vector<QueryLogData>& entries);
    // Every row of the archive in the three tables.
    void remove_archive(sqlite3* db, std::int32_t archive);
    // Every row of the three tables.
    void clear(sqlite3* db);
};

} // namespace lumbrake
