#include "cpdialogs/crawl-log-thread.h"

#include "cpdialogs/cp-services.h"

#include <wx/utils.h>

namespace lumbrake {

WXCrawlLogUpdaterThread::WXCrawlLogUpdaterThread(const ArchiveInfo& archive, const CrawlLog& from)
    : wxThread(wxTHREAD_JOINABLE), archive_(archive), download_(from) {
    if (cp_services* services = get_cp_services()) proxy_ = services->CreateSoapProxy();
}

WXCrawlLogUpdaterThread::~WXCrawlLogUpdaterThread() = default;

wxThread::ExitCode WXCrawlLogUpdaterThread::Entry() {
    int rc = 1;
    if (proxy_) {
        const int arcid = archive_.Archive;
        rc = download_.run(
            [this, arcid](CrawlLog& cursor, std::vector<CrawlLogData>& rows) {
                proxy_->GetCrawlLog(arcid, crawl_log_download::BATCH, cursor, rows);
            },
            [this] { return stop_.load() || TestDestroy(); }, [] { wxMilliSleep(100); });
    }
    finished_.store(true);
    return reinterpret_cast<ExitCode>(static_cast<wxIntPtr>(rc));
}

} // namespace lumbrake
