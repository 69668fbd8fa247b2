// The records of the log store as the service answers them: document-log and query-log
// entries and the crawl-log cursor.
#pragma once

#include <cstdint>
#include <string>

namespace lumbrake {

// One document-log entry.
struct CrawlLogData {
    std::int32_t Time = 0;  // the row's timestamp
    std::string ID;         // the document's guid
    std::string Url;        // canonical URL
    std::int32_t Error = 0; // processing status, a CrawlError code
    bool operator==(const CrawlLogData&) const = default;
};

// One query-log entry.
struct QueryLogData {
    std::int32_t Time = 0;
    std::string Query;
    bool operator==(const QueryLogData&) const = default;
};

// One crawl and a read position in its document log: Time is the crawl's start; Cookie the
// decimal count of entries already read (empty means 0; "-1": a finished crawl read to its end).
struct CrawlLog {
    std::int32_t Time = 0;
    std::string Cookie;
    bool operator==(const CrawlLog&) const = default;
};

} // namespace lumbrake
