// The search pages of the main window without the toolkit: the query a Search or Refine
// sends, the watch period choice, the status line after a search, the context text of a
// result, the watch's feed address and the watch that "Save as watch" creates.
#pragma once

#include "api/watch.h"
#include "api/query-types.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lumbrake {

// The three pages that search, in the order the frame keeps them.
enum class search_page { archive = 0, collection = 1, watch = 2 };

// What a page holds when its Search or Refine button is pressed.
struct search_inputs {
    search_page page = search_page::archive;
    std::int32_t scope = 0; // the archive, collection (-1 "<All archives>") or watch id
    int rows = 0;           // rows the result list shows now
    std::string query;      // UTF-8
    // Archive and collection pages.
    bool advanced = false; // "Advanced options" ticked
    int sort = 0;          // "Sort:" position, -1 none
    std::vector<QuerySliceWeight> weights;
    std::int32_t from = 0, to = 1924991999; // the page's date range
    // Watch page.
    int period = 0;             // period choice position, -1 none
    std::int32_t freshness = 0; // the watch's Freshness, seconds
    std::int64_t now = 0;       // seconds since 1970 UTC
};

// The next ten results after the rows shown: FirstDoc = rows, LastDoc = rows + 9, parsed with
// the algebraic parser. With "Advanced options" ticked the sort, the weights and the page's
// date range go out; otherwise none of them. A watch sends its period as MinTime.
QuerySpec make_search_query(const search_inputs& in);

// MinTime of the watch page's period choice: 0 "Watch default" (now - Freshness, or 0 without
// one), 1 last day, 2 last week, 3 last month, 4 "All" (1, so the daemon does not apply the
// watch's own freshness), no selection 0.
std::int32_t watch_period_min_time(int position, std::int32_t freshness, std::int64_t now);

// QuerySort of a "Sort:" position; no or an unknown selection gives SORT_STANDARD.
QuerySort sort_of_choice(int position);

// The status line after a search, in UTF-8. `translate` gives a format's translation (the
// formats are printf forms with the name, the query, the milliseconds, then the counts). A
// total the daemon did not report (below 0) is left out rather than shown as "of -1".
std::string search_status_line(const std::string& name, const std::string& query, long ms, int rows,
                               int total,
                               const std::function<std::string(const char*)>& translate = {});

// A result's contexts joined by " ... ".
std::string contexts_text(const std::vector<std::string>& contexts);

// The watch's feed address for web pages: "<base>/rss20?t=<id>&amp;mintime=0" (the ampersand
// written as HTML needs it inside a page).
std::string watch_feed_url(const std::string& private_base, std::int32_t watch);

// The watch that "Save as watch" creates from the collection page's query: named after the
// query, seven days fresh, readable and writable by the connection's user.
WatchConfiguration watch_from_search(const std::string& query, std::int32_t collection,
                                     const std::string& user);

} // namespace lumbrake
