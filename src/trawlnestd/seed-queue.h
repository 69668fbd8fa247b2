// The start of a crawl from its source's seeds, shared by StartCrawl and the schedule. A source
// may carry a million seeds: its record is read a block at a time and the seeds are queued as
// they are read, so that neither the record's text nor its seeds are held whole.
#pragma once

#include <sqlite3.h>

#include <cstdint>

namespace lumbrake {

class fetchqueue;
class logstorage;

// Opens a crawl record of archive `arcid` at `start` and queues every seed of source
// `source_id`, in the record's order, at priority 0 (a seed already queued keeps its place).
// Inside the caller's storage transaction. When the source cannot be read (no such record, or
// a text that is not well-formed) nothing is changed and the answer is -1; otherwise the
// number of seeds read.
std::int64_t start_crawl_from_seeds(sqlite3* db, logstorage& logs, fetchqueue& queue,
                                    std::int32_t arcid, std::int32_t source_id, std::int64_t start);

} // namespace lumbrake
