// The crawl-log download loop: pages of one crawl's document log fetched until the daemon marks
// the log complete, kept under a mutex for the window to take. wx-free; the window's thread
// class runs it with its proxy, its stop test and a 100 ms sleep.
#pragma once

#include "api/log-records.h"

#include <functional>
#include <mutex>
#include <vector>

namespace lumbrake {

class crawl_log_download {
public:
    static constexpr int BATCH = 100;       // rows asked for per request
    static constexpr int FULL_PAUSE = 10;   // steps of 100 ms after a full page
    static constexpr int SHORT_PAUSE = 100; // after a short page: the crawl may still run

    // Fetches the page after `cursor` into `rows` and advances `cursor`; throws on failure.
    using fetch_page = std::function<void(CrawlLog& cursor, std::vector<CrawlLogData>& rows)>;

    explicit crawl_log_download(const CrawlLog& from) : cursor_(from) {}

    // The loop: 0 when the log is complete (cursor "-1") or a stop was requested during a
    // pause, 1 after any failure. Rows fetched before a failure stay to be taken.
    int run(const fetch_page& fetch, const std::function<bool()>& stop_requested,
            const std::function<void()>& sleep_step);

    // Moves the rows not yet taken into `out` (emptied first), in the order received.
    void take_rows(std::vector<CrawlLogData>& out);

    // The cursor after the last page (for the loop's owner once `run` returned).
    const CrawlLog& cursor() const { return cursor_; }

private:
    std::mutex mutex_;
    std::vector<CrawlLogData> rows_;
    CrawlLog cursor_;
};

} // namespace lumbrake
