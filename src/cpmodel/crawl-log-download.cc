#include "cpmodel/crawl-log-download.h"

namespace lumbrake {

int crawl_log_download::run(const fetch_page& fetch, const std::function<bool()>& stop_requested,
                            const std::function<void()>& sleep_step) {
    try {
        for (;;) {
            std::vector<CrawlLogData> batch;
            fetch(cursor_, batch);
            if (!batch.empty()) {
                std::lock_guard<std::mutex> lock(mutex_);
                rows_.insert(rows_.end(), std::make_move_iterator(batch.begin()),
                             std::make_move_iterator(batch.end()));
            }
            if (cursor_.Cookie == "-1") return 0;
            const int steps = batch.size() >= static_cast<std::size_t>(BATCH) ? FULL_PAUSE
                                                                              : SHORT_PAUSE;
            for (int i = 0; i < steps; ++i) {
                if (stop_requested()) return 0;
                sleep_step();
            }
        }
    } catch (...) {
        // The window sees the thread end and keeps the rows shown so far.
        return 1;
    }
}

void crawl_log_download::take_rows(std::vector<CrawlLogData>& out) {
    out.clear();
    std::lock_guard<std::mutex> lock(mutex_);
    out.swap(rows_);
}

} // namespace lumbrake
