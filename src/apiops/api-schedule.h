// When an archive's schedule starts its next crawl, and the state of its last crawl, as the
// administration clients show them beside every archive.
#pragma once

#include <cstdint>

#include <sqlite3.h>

namespace lumbrake {

class logstorage;

// The state fields of an archive listing entry.
struct run_state {
    bool Crawling = false;
    std::int32_t Documents = 0;
    std::int32_t Errors = 0;
    std::int32_t LastRunStart = 0;
    std::int32_t LastRunEnd = 0;
    std::int32_t NextRun = 0;
};

// The start, in seconds since 1970 UTC, of the first whole hour after `now` at which the
// scheduler's due test holds for the schedule (frequency DISABLED 0, HOURLY 1, DAILY 2,
// WEEKLY 3, MONTHLY 4; attribute; AccessTime); 0 when the schedule never runs or the time does
// not fit 32 bits. The current hour never counts.
std::int32_t next_run_at(int frequency, std::int32_t attribute, std::int32_t access_time,
                         std::int64_t now);

// Fills the state from the archive's newest crawl record and the schedule.
void fill_run_state(sqlite3* db, logstorage& logs, std::int32_t arcid, int frequency,
                    std::int32_t attribute, std::int32_t access_time, std::int64_t now,
                    run_state& state);

// Copies the state into any listing record that has the same field names (IndexInfo,
// ArchiveInfo).
template <class Info> void copy_run_state(const run_state& state, Info& info) {
    info.Crawling = state.Crawling;
    info.Documents = state.Documents;
    info.Errors = state.Errors;
    info.LastRunStart = state.LastRunStart;
    info.LastRunEnd = state.LastRunEnd;
    info.NextRun = state.NextRun;
}

} // namespace lumbrake
