// The crawl-log window's model: status texts, time texts, the lists' sort orders and the
// export of a list to a text file.
#pragma once

#include "api/log-records.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lumbrake {

// The sort order of one list; both lists start by time, ascending.
struct list_sort_state {
    int column = 0;
    bool descending = false;
    bool operator==(const list_sort_state&) const = default;
};

// A click on a column head: the same column flips the order, another one sorts it ascending.
void click_sort_column(list_sort_state& state, int column);

// Gathering list columns: 0 time, 1 URL, 2 status (by its code). Query list: 0 time, 1 query.
// Negative, zero or positive as for ascending order, negated when descending. Times and codes
// are compared, never subtracted, so the extremes of the 32-bit range order correctly.
int compare_crawl_log_rows(const CrawlLogData& a, const CrawlLogData& b,
                           const list_sort_state& state);
int compare_query_log_rows(const QueryLogData& a, const QueryLogData& b,
                           const list_sort_state& state);

// The Status text of a CrawlError code (untranslated); empty outside 0..13.
const char* crawl_error_text(std::int32_t code);

// Seconds since 1970 in the locale's "%c" form, in UTC.
std::string log_time_text(std::int64_t seconds);

// One exported line: the fields joined by TAB, ended by LF. Texts go out as UTF-8 bytes; a TAB,
// CR or LF inside a field becomes a space so that every row stays one line.
std::string export_line(const std::vector<std::string>& fields);

// Writes the lines to a new or emptied file. Empty on success, else the system's text of the
// failure (opening, writing or closing).
std::string write_export_file(const std::string& path, const std::vector<std::string>& lines);

} // namespace lumbrake
