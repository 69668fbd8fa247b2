// The background download of one crawl's document log for the crawl-log window: pages of 100
// rows until the daemon marks the log complete, kept for the window's timer to take. It never
// touches a window.
#pragma once

#include "api-wire/wire-records.h"
#include "client/soap-client-proxy.h"
#include "cpmodel/crawl-log-download.h"

#include <wx/thread.h>

#include <atomic>
#include <memory>
#include <vector>

namespace lumbrake {

class WXCrawlLogUpdaterThread : public wxThread {
public:
    // Joinable; the proxy is made here, on the constructing (GUI) thread. The caller then calls
    // Create() and Run().
    WXCrawlLogUpdaterThread(const ArchiveInfo& archive, const CrawlLog& from);
    ~WXCrawlLogUpdaterThread() override;

    // Moves the rows fetched and not yet taken into `out`, in the order received.
    void TakeRows(std::vector<CrawlLogData>& out) { download_.take_rows(out); }

    // True once Entry has returned (log complete, stopped or failed).
    bool HasFinished() const { return finished_.load(); }

    // Asks the loop to end at its next pause step; a request in progress is not interrupted.
    void RequestStop() { stop_.store(true); }

protected:
    ExitCode Entry() override;

private:
    ArchiveInfo archive_;
    crawl_log_download download_;
    std::unique_ptr<SoapClientProxy> proxy_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
};

} // namespace lumbrake
