#include "controlpanel/updater-thread.h"

#include "cpdialogs/cp-services.h"

#include <wx/intl.h>

namespace lumbrake {

WXControlPanelUpdaterThread::WXControlPanelUpdaterThread() : wxThread(wxTHREAD_JOINABLE) {}

WXControlPanelUpdaterThread::~WXControlPanelUpdaterThread() = default;

wxString WXControlPanelUpdaterThread::GetMessage() {
    wxMutexLocker lock(mutex_);
    return wxString::FromUTF8(results_.message);
}

void WXControlPanelUpdaterThread::RequestRefresh() {
    wxMutexLocker lock(mutex_);
    progress_ = 0;
    new_data_ = false;
    error_ = false;
    warning_ = false;
    refresh_requested_ = true;
}

void WXControlPanelUpdaterThread::TakeResults(
    std::vector<SourceInfo>& sources, std::vector<ArchiveInfo>& archives,
    std::vector<CollectionInfo>& collections, std::vector<WatchInfo>& watches,
    std::vector<DocFilterInfo>& doc_filters, std::vector<std::string>& principals,
    bool& historicize, bool& admin, bool& browsing_write, bool& crawling_write) {
    wxMutexLocker lock(mutex_);
    sources = results_.sources;
    archives = results_.archives;
    collections = results_.collections;
    watches = results_.watches;
    doc_filters = results_.doc_filters;
    principals = results_.principals;
    historicize = results_.historicize;
    admin = results_.admin;
    browsing_write = results_.browsing_write;
    crawling_write = results_.crawling_write;
    new_data_ = false;
}

wxThread::ExitCode WXControlPanelUpdaterThread::Entry() {
    while (true) {
        for (int i = 0; i < 3000; ++i) {
            if (TestDestroy()) return nullptr;
            if (refresh_requested_) break;
            Sleep(100);
        }
        if (TestDestroy()) return nullptr;
        // Without a proxy there is nothing to poll: finish as an error instead of spinning.
        Poll();
    }
}

bool WXControlPanelUpdaterThread::Poll() {
    cp_services* services = get_cp_services();
    poll_texts texts;
    // Translations are looked up in the thread: wxGetTranslation only reads the catalogs.
    auto tr = [](const char* text) { return wxGetTranslation(text).utf8_string(); };
    texts.all_archives_name = tr("<All archives>");
    texts.all_archives_description =
        tr("Builtin collection that contains all the readable archives");
    texts.upgrade = tr(
        "You must upgrade this program to the latest version in order to connect to this server");
    texts.crawl_stopped = tr("Gathering is stopped due to global gathering control") + "\n" +
                          tr("See CRAWLSTART and CRAWLSTOP settings in lumbrake.cfg");
    texts.low_disk = tr("Gathering is stopped due to low disk space") + "\n" +
                     tr("See MINFREEDISK setting in lumbrake.cfg");
    texts.error_text = [services](const std::string& what) {
        return services != nullptr
                   ? services->FormatSoapError(EasySoap::SOAPException(what)).utf8_string()
                   : what;
    };
    std::unique_ptr<SoapClientProxy> proxy;
    if (services != nullptr) {
        try {
            proxy = services->CreateSoapProxy();
        } catch (...) {
        }
    }
    poll_result poll;
    if (proxy) {
        poll = run_poll(*proxy, progress_, texts);
    } else {
        poll.outcome = poll_outcome::failed;
        poll.results.message = texts.error_text("no connection to the server could be made");
    }
    const bool warning = poll.outcome == poll_outcome::complete && poll.warning;
    {
        wxMutexLocker lock(mutex_);
        error_ = publish_poll(results_, std::move(poll));
        warning_ = warning;
    }
    refresh_requested_ = false;
    new_data_ = true;
    return static_cast<bool>(proxy);
}

} // namespace lumbrake
