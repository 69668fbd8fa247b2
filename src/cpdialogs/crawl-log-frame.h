// The crawl-log window of one archive (not modal; several may be open): the "Gathering" page
// downloads the document log of a chosen crawl in the background and shows it as it arrives;
// the "Query" page shows the queries that searched the archive between two dates. Both lists
// sort by any column and export to a text file (UTF-8, TAB-separated, LF).
#pragma once

#include "api-wire/wire-records.h"
#include "client/soap-client-proxy.h"
#include "cpmodel/crawl-log-rows.h"

#include <wx/frame.h>
#include <wx/timer.h>

#include <cstdint>
#include <memory>
#include <vector>

class wxChoice;
class wxListCtrl;
class wxListEvent;
class wxStaticText;
class wxTextCtrl;
class wxUpdateUIEvent;

namespace lumbrake {

class WXCrawlLogUpdaterThread;

class WXLogsFrame : public wxFrame {
public:
    // Lists the archive's crawls and starts downloading the latest one.
    WXLogsFrame(wxWindow* parent, const ArchiveInfo& archive);
    ~WXLogsFrame() override;

    // Stops a running download; then, unless one was running and `start` is false, downloads
    // the log chosen in the chooser from its start.
    void RestartDownload(bool start);

    // Write the list in its display order to `path`; a failure shows an error box with the
    // system's text and answers false. (The "Export..." buttons ask for the path first.)
    bool ExportGathering(const wxString& path);
    bool ExportQuery(const wxString& path);

    bool IsDownloading() const { return thread != nullptr; }

    enum {
        ID_TIMER = 6199,
        ID_LOG_CHOICE = 6200,
        ID_GET = 6201,
        ID_STOP = 6202,
        ID_EXPORT_GATHERING = 6203,
        ID_GATHERING_LIST = 6204,
        ID_SET_DATE = 6205,
        ID_GET_QUERY_LOG = 6206,
        ID_EXPORT_QUERY = 6207,
        ID_QUERY_LIST = 6208,
    };

    // The query-log range in seconds since 1970 (UTC): 1970-01-01 to 2030-12-31 at first.
    std::int32_t queryFrom = 0;
    std::int32_t queryTo = 1924991999;

private:
    void StopThread();
    void AddGatheringRows(std::vector<CrawlLogData>& rows);
    void SortGathering();
    void SortQuery();
    void ShowQueryRange();
    void OpenCachedDocument(const std::string& id);

    void OnUpdateGet(wxUpdateUIEvent& event);
    void OnUpdateStop(wxUpdateUIEvent& event);
    void OnUpdateExportGathering(wxUpdateUIEvent& event);
    void OnUpdateExportQuery(wxUpdateUIEvent& event);
    void OnTimer(wxTimerEvent& event);
    void OnLogChosen(wxCommandEvent& event);
    void OnGet(wxCommandEvent& event);
    void OnStop(wxCommandEvent& event);
    void OnExportGathering(wxCommandEvent& event);
    void OnGatheringColumnClick(wxListEvent& event);
    void OnGatheringItemActivated(wxListEvent& event);
    void OnSetDate(wxCommandEvent& event);
    void OnGetQueryLog(wxCommandEvent& event);
    void OnExportQuery(wxCommandEvent& event);
    void OnQueryColumnClick(wxListEvent& event);

    wxTimer timer;
    wxChoice* logChoice;
    wxStaticText* statusText;
    wxListCtrl* gatheringList;
    wxTextCtrl* fromText;
    wxTextCtrl* toText;
    wxListCtrl* queryList;
    std::unique_ptr<SoapClientProxy> proxy;
    ArchiveInfo archive;
    std::vector<CrawlLog> logs;
    // One record per list row; the rows' item data point at them.
    std::vector<std::unique_ptr<CrawlLogData>> crawlRows;
    std::vector<std::unique_ptr<QueryLogData>> queryRows;
    list_sort_state gatheringSort;
    list_sort_state querySort;
    WXCrawlLogUpdaterThread* thread = nullptr;

    wxDECLARE_EVENT_TABLE();
};

} // namespace lumbrake
