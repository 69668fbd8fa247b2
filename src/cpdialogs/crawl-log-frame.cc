#include "cpdialogs/crawl-log-frame.h"

#include "client/string-conv.h"
#include "cpdialogs/cp-services.h"
#include "cpdialogs/crawl-log-thread.h"
#include "cpdialogs/date-range-dialog.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/filedlg.h>
#include <wx/intl.h>
#include <wx/listctrl.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include <algorithm>
#include <ctime>

namespace lumbrake {

wxBEGIN_EVENT_TABLE(WXLogsFrame, wxFrame)
    EVT_UPDATE_UI(WXLogsFrame::ID_GET, WXLogsFrame::OnUpdateGet)
    EVT_UPDATE_UI(WXLogsFrame::ID_STOP, WXLogsFrame::OnUpdateStop)
    EVT_UPDATE_UI(WXLogsFrame::ID_EXPORT_GATHERING, WXLogsFrame::OnUpdateExportGathering)
    EVT_UPDATE_UI(WXLogsFrame::ID_EXPORT_QUERY, WXLogsFrame::OnUpdateExportQuery)
    EVT_TIMER(WXLogsFrame::ID_TIMER, WXLogsFrame::OnTimer)
    EVT_CHOICE(WXLogsFrame::ID_LOG_CHOICE, WXLogsFrame::OnLogChosen)
    EVT_BUTTON(WXLogsFrame::ID_GET, WXLogsFrame::OnGet)
    EVT_BUTTON(WXLogsFrame::ID_STOP, WXLogsFrame::OnStop)
    EVT_BUTTON(WXLogsFrame::ID_EXPORT_GATHERING, WXLogsFrame::OnExportGathering)
    EVT_LIST_COL_CLICK(WXLogsFrame::ID_GATHERING_LIST, WXLogsFrame::OnGatheringColumnClick)
    EVT_LIST_ITEM_ACTIVATED(WXLogsFrame::ID_GATHERING_LIST,
                            WXLogsFrame::OnGatheringItemActivated)
    EVT_BUTTON(WXLogsFrame::ID_SET_DATE, WXLogsFrame::OnSetDate)
    EVT_BUTTON(WXLogsFrame::ID_GET_QUERY_LOG, WXLogsFrame::OnGetQueryLog)
    EVT_BUTTON(WXLogsFrame::ID_EXPORT_QUERY, WXLogsFrame::OnExportQuery)
    EVT_LIST_COL_CLICK(WXLogsFrame::ID_QUERY_LIST, WXLogsFrame::OnQueryColumnClick)
wxEND_EVENT_TABLE()

namespace {

// "%c" in UTC, in the locale's encoding.
wxString time_text(std::int64_t seconds) { return wxString(log_time_text(seconds)); }

wxString status_text(std::int32_t code) {
    const char* text = crawl_error_text(code);
    return *text ? wxGetTranslation(text) : wxString();
}

int wxCALLBACK compare_gathering_items(wxIntPtr a, wxIntPtr b, wxIntPtr state) {
    return compare_crawl_log_rows(*reinterpret_cast<const CrawlLogData*>(a),
                                  *reinterpret_cast<const CrawlLogData*>(b),
                                  *reinterpret_cast<const list_sort_state*>(state));
}

int wxCALLBACK compare_query_items(wxIntPtr a, wxIntPtr b, wxIntPtr state) {
    return compare_query_log_rows(*reinterpret_cast<const QueryLogData*>(a),
                                  *reinterpret_cast<const QueryLogData*>(b),
                                  *reinterpret_cast<const list_sort_state*>(state));
}

// A control that shows one time text: at least `width`, more where the toolkit's frame and
// buttons around the text take more room (GTK).
void fit_date_width(wxControl* control, int width, int date_width) {
    const int needed = control->GetSizeFromTextSize(date_width).x;
    if (needed > width) control->SetMinSize(wxSize(needed, -1));
}

wxListCtrl* make_list(wxWindow* parent, int id) {
    return new wxListCtrl(parent, id, wxDefaultPosition, wxDefaultSize,
                          wxLC_REPORT | wxLC_SINGLE_SEL | wxBORDER_SUNKEN);
}

// Runs a SOAP call under the busy cursor; a failure is reported over the window.
template <class Call> bool soap_call(wxWindow* window, Call call) {
    try {
        wxBusyCursor busy;
        call();
        return true;
    } catch (const EasySoap::SOAPException& e) {
        if (cp_services* services = get_cp_services()) services->ReportSoapError(e, window);
        return false;
    }
}

// The lines of a list in display order; `line` makes one from an item's record.
template <class Record, class Line>
std::vector<std::string> export_lines(wxListCtrl* list, Line line) {
    std::vector<std::string> lines;
    const long n = list->GetItemCount();
    lines.reserve(static_cast<std::size_t>(n));
    for (long i = 0; i < n; ++i)
        lines.push_back(line(*reinterpret_cast<const Record*>(list->GetItemData(i))));
    return lines;
}

} // namespace

WXLogsFrame::WXLogsFrame(wxWindow* parent, const ArchiveInfo& info)
    : wxFrame(parent, wxID_ANY,
              wxString::Format(_("logs - %s"), utf8_to_wx(info.Configuration.Name))),
      timer(this, ID_TIMER), archive(info) {
    int dateWidth = 0;
    {
        int h = 0;
        const wxFont font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
        GetTextExtent(time_text(std::time(nullptr)), &dateWidth, &h, nullptr, nullptr, &font);
    }

    // Wide enough for a whole time text where the toolkit's font needs more than 120 pixels.
    const int time_column = std::max(120, dateWidth + 16);

    auto* frame_sizer = new wxFlexGridSizer(1, 0, 0);
    frame_sizer->AddGrowableCol(0);
    frame_sizer->AddGrowableRow(0);
    auto* panel = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                              wxTAB_TRAVERSAL | wxBORDER_NONE);
    frame_sizer->Add(panel, 1, wxEXPAND);
    auto* panel_sizer = new wxBoxSizer(wxVERTICAL);
    auto* notebook = new wxNotebook(panel, wxID_ANY);
    panel_sizer->Add(notebook, 1, wxALL | wxEXPAND, 4);
    panel->SetSizer(panel_sizer);

    // "Gathering"
    {
        auto* page = new wxPanel(notebook, wxID_ANY);
        auto* sizer = new wxBoxSizer(wxVERTICAL);
        auto* block = new wxBoxSizer(wxVERTICAL);
        auto* row1 = new wxBoxSizer(wxHORIZONTAL);
        row1->Add(new wxStaticText(page, wxID_ANY, _("Available logs:")), 0,
                  wxALL | wxALIGN_CENTER_VERTICAL, 4);
        logChoice = new wxChoice(page, ID_LOG_CHOICE, wxDefaultPosition,
                                 wxSize(dateWidth + 30, -1));
        fit_date_width(logChoice, dateWidth + 30, dateWidth);
        row1->Add(logChoice, 0, wxALL | wxALIGN_CENTER_VERTICAL, 4);
        row1->Add(new wxButton(page, ID_GET, _("Get")), 0, wxALL | wxALIGN_CENTER_VERTICAL, 4);
        block->Add(row1, 0, wxEXPAND);
        auto* row2 = new wxBoxSizer(wxHORIZONTAL);
        statusText = new wxStaticText(page, wxID_ANY, wxEmptyString, wxDefaultPosition,
                                      wxDefaultSize, wxST_NO_AUTORESIZE);
        row2->Add(statusText, 1, wxALL | wxALIGN_CENTER_VERTICAL, 4);
        row2->Add(new wxButton(page, ID_STOP, _("Stop")), 0, wxALL | wxALIGN_CENTER_VERTICAL, 4);
        row2->Add(new wxButton(page, ID_EXPORT_GATHERING, _("Export...")), 0,
                  wxALL | wxALIGN_CENTER_VERTICAL, 4);
        block->Add(row2, 0, wxEXPAND);
        sizer->Add(block, 0, wxALL | wxEXPAND, 4);
        gatheringList = make_list(page, ID_GATHERING_LIST);
        gatheringList->InsertColumn(0, _("Time"), wxLIST_FORMAT_LEFT, time_column);
        gatheringList->InsertColumn(1, _("URL"), wxLIST_FORMAT_LEFT, 300);
        gatheringList->InsertColumn(2, _("Status"), wxLIST_FORMAT_LEFT, 120);
        sizer->Add(gatheringList, 1, wxALL | wxEXPAND, 4);
        page->SetSizer(sizer);
        notebook->AddPage(page, _("Gathering"));
    }
    // "Query"
    {
        auto* page = new wxPanel(notebook, wxID_ANY);
        auto* sizer = new wxBoxSizer(wxVERTICAL);
        auto* row = new wxBoxSizer(wxHORIZONTAL);
        row->Add(new wxStaticText(page, wxID_ANY, _("From:")), 0,
                 wxALL | wxALIGN_CENTER_VERTICAL, 4);
        fromText = new wxTextCtrl(page, wxID_ANY, wxEmptyString, wxDefaultPosition,
                                  wxSize(dateWidth + 10, -1), wxTE_READONLY);
        fit_date_width(fromText, dateWidth + 10, dateWidth);
        row->Add(fromText, 0, wxALL | wxALIGN_CENTER_VERTICAL, 4);
        row->Add(new wxStaticText(page, wxID_ANY, _("To:")), 0, wxALL | wxALIGN_CENTER_VERTICAL,
                 4);
        toText = new wxTextCtrl(page, wxID_ANY, wxEmptyString, wxDefaultPosition,
                                wxSize(dateWidth + 10, -1), wxTE_READONLY);
        fit_date_width(toText, dateWidth + 10, dateWidth);
        row->Add(toText, 0, wxALL | wxALIGN_CENTER_VERTICAL, 4);
        for (auto [id, text] : {std::pair{int(ID_SET_DATE), _("Set date...")},
                                std::pair{int(ID_GET_QUERY_LOG), _("Get")},
                                std::pair{int(ID_EXPORT_QUERY), _("Export...")}})
            row->Add(new wxButton(page, id, text), 0, wxALL | wxALIGN_CENTER_VERTICAL, 4);
        sizer->Add(row, 0, wxALL | wxEXPAND, 4);
        queryList = make_list(page, ID_QUERY_LIST);
        queryList->InsertColumn(0, _("Time"), wxLIST_FORMAT_LEFT, time_column);
        queryList->InsertColumn(1, _("Query"), wxLIST_FORMAT_LEFT, 420);
        sizer->Add(queryList, 1, wxALL | wxEXPAND, 4);
        page->SetSizer(sizer);
        notebook->AddPage(page, _("Query"));
    }
    ShowQueryRange();
    SetSizer(frame_sizer);
    SetSize(600, 450);

    if (cp_services* services = get_cp_services()) proxy = services->CreateSoapProxy();
    if (proxy) {
        soap_call(this, [&] {
            std::vector<CrawlLog> answer;
            proxy->GetAvailableCrawlLogs(archive.Archive, answer);
            logs = std::move(answer);
            for (std::size_t i = 0; i < logs.size(); ++i)
                logChoice->Append(time_text(logs[i].Time), &logs[i]);
            if (!logs.empty()) {
                // The daemon lists crawls oldest first: the latest is shown at once.
                logChoice->SetSelection(static_cast<int>(logs.size()) - 1);
                RestartDownload(true);
            }
        });
    }
    timer.Start(1000);
}

WXLogsFrame::~WXLogsFrame() {
    timer.Stop();
    StopThread();
    // The lists go with the window; their item data points into the records below.
    gatheringList->DeleteAllItems();
    queryList->DeleteAllItems();
}

void WXLogsFrame::StopThread() {
    if (!thread) return;
    WXCrawlLogUpdaterThread* t = thread;
    thread = nullptr;
    t->RequestStop();
    t->Wait();
    delete t; // rows not taken yet go with it
}

void WXLogsFrame::RestartDownload(bool start) {
    if (thread) {
        const bool was_enabled = IsEnabled();
        {
            wxBusyCursor busy;
            Disable();
            StopThread();
            statusText->SetLabel(wxEmptyString);
            Enable(was_enabled);
        }
        if (!start) return;
    }
    const int chosen = logChoice->GetSelection();
    if (chosen == wxNOT_FOUND) return;
    gatheringList->DeleteAllItems();
    crawlRows.clear();
    const CrawlLog& from = *static_cast<const CrawlLog*>(logChoice->GetClientData(
        static_cast<unsigned int>(chosen)));
    auto* t = new WXCrawlLogUpdaterThread(archive, from);
    if (t->Create() != wxTHREAD_NO_ERROR || t->Run() != wxTHREAD_NO_ERROR) {
        delete t;
        return;
    }
    thread = t;
    statusText->SetLabel(_("Downloading log..."));
}

void WXLogsFrame::AddGatheringRows(std::vector<CrawlLogData>& rows) {
    gatheringList->Freeze();
    for (CrawlLogData& row : rows) {
        crawlRows.push_back(std::make_unique<CrawlLogData>(std::move(row)));
        const CrawlLogData& r = *crawlRows.back();
        const long i = gatheringList->InsertItem(gatheringList->GetItemCount(), time_text(r.Time));
        gatheringList->SetItem(i, 1, utf8_to_wx(r.Url));
        gatheringList->SetItem(i, 2, status_text(r.Error));
        gatheringList->SetItemPtrData(i, reinterpret_cast<wxUIntPtr>(&r));
    }
    gatheringList->Thaw();
}

void WXLogsFrame::SortGathering() {
    sort_list_items(*gatheringList, compare_gathering_items,
                    reinterpret_cast<wxIntPtr>(&gatheringSort));
}

void WXLogsFrame::SortQuery() {
    sort_list_items(*queryList, compare_query_items, reinterpret_cast<wxIntPtr>(&querySort));
}

void WXLogsFrame::ShowQueryRange() {
    fromText->SetValue(time_text(queryFrom));
    toText->SetValue(time_text(queryTo));
}

void WXLogsFrame::OpenCachedDocument(const std::string& id) {
    // The same private cache page the search pages open, through the one browser function.
    if (cp_services* services = get_cp_services()) services->OpenCachedDocument(id);
}

void WXLogsFrame::OnUpdateGet(wxUpdateUIEvent& event) {
    event.Enable(!thread && logChoice->GetSelection() != wxNOT_FOUND);
}

void WXLogsFrame::OnUpdateStop(wxUpdateUIEvent& event) { event.Enable(thread != nullptr); }

void WXLogsFrame::OnUpdateExportGathering(wxUpdateUIEvent& event) {
    event.Enable(!thread && gatheringList->GetItemCount() > 0);
}

void WXLogsFrame::OnUpdateExportQuery(wxUpdateUIEvent& event) {
    event.Enable(queryList->GetItemCount() > 0);
}

void WXLogsFrame::OnTimer(wxTimerEvent&) {
    if (!thread) return;
    // The end is noted first, so rows added just before it are taken in this same tick.
    const bool finished = thread->HasFinished();
    std::vector<CrawlLogData> rows;
    thread->TakeRows(rows);
    if (!rows.empty()) {
        AddGatheringRows(rows);
        SortGathering();
    }
    if (finished) {
        StopThread();
        statusText->SetLabel(wxEmptyString);
    }
}

void WXLogsFrame::OnLogChosen(wxCommandEvent&) { RestartDownload(true); }

void WXLogsFrame::OnGet(wxCommandEvent&) { RestartDownload(false); }

void WXLogsFrame::OnStop(wxCommandEvent&) {
    statusText->SetLabel(_("Stopping download..."));
    RestartDownload(false);
}

void WXLogsFrame::OnGatheringColumnClick(wxListEvent& event) {
    click_sort_column(gatheringSort, event.GetColumn());
    SortGathering();
}

void WXLogsFrame::OnQueryColumnClick(wxListEvent& event) {
    click_sort_column(querySort, event.GetColumn());
    SortQuery();
}

void WXLogsFrame::OnGatheringItemActivated(wxListEvent&) {
    const long i = gatheringList->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    if (i < 0) return;
    OpenCachedDocument(reinterpret_cast<const CrawlLogData*>(gatheringList->GetItemData(i))->ID);
}

void WXLogsFrame::OnSetDate(wxCommandEvent&) {
    WXDateDialog dialog(this);
    dialog.from = queryFrom;
    dialog.to = queryTo;
    if (dialog.ShowModal() != wxID_OK) return;
    queryFrom = dialog.from;
    queryTo = dialog.to;
    ShowQueryRange();
}

void WXLogsFrame::OnGetQueryLog(wxCommandEvent&) {
    queryList->DeleteAllItems();
    queryRows.clear();
    if (!proxy) return;
    std::vector<QueryLogData> rows;
    if (!soap_call(this, [&] { proxy->GetQueryLog(archive.Archive, queryFrom, queryTo, rows); }))
        return;
    wxBusyCursor busy;
    queryList->Freeze();
    for (QueryLogData& row : rows) {
        queryRows.push_back(std::make_unique<QueryLogData>(std::move(row)));
        const QueryLogData& r = *queryRows.back();
        const long i = queryList->InsertItem(queryList->GetItemCount(), time_text(r.Time));
        queryList->SetItem(i, 1, utf8_to_wx(r.Query));
        queryList->SetItemPtrData(i, reinterpret_cast<wxUIntPtr>(&r));
    }
    queryList->Thaw();
    SortQuery();
}

namespace {

// Asks where to export; empty when the user cancelled.
wxString choose_export_file(wxWindow* parent, const wxString& default_name) {
    wxFileDialog dialog(parent, _("Choose export file"), wxEmptyString, default_name,
                        _("Text files (*.txt)|*.txt|All files (*.*)|*.*"),
                        wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    return dialog.ShowModal() == wxID_OK ? dialog.GetPath() : wxString();
}

bool write_or_report(wxWindow* parent, const wxString& path,
                     const std::vector<std::string>& lines) {
    const std::string error = write_export_file(wx_to_utf8(path), lines);
    if (error.empty()) return true;
    if (cp_services* services = get_cp_services())
        services->ShowError(wxString::Format(_("The log could not be exported to %s:\n%s"), path,
                                             wxString(error)),
                            parent);
    return false;
}

} // namespace

bool WXLogsFrame::ExportGathering(const wxString& path) {
    return write_or_report(this, path, export_lines<CrawlLogData>(gatheringList, [](const CrawlLogData& r) {
                               return export_line({wx_to_utf8(time_text(r.Time)), r.Url,
                                                   wx_to_utf8(status_text(r.Error))});
                           }));
}

bool WXLogsFrame::ExportQuery(const wxString& path) {
    return write_or_report(this, path, export_lines<QueryLogData>(queryList, [](const QueryLogData& r) {
                               return export_line({wx_to_utf8(time_text(r.Time)), r.Query});
                           }));
}

void WXLogsFrame::OnExportGathering(wxCommandEvent&) {
    const wxString path = choose_export_file(this, "GatheringLog.txt");
    if (!path.empty()) ExportGathering(path);
}

void WXLogsFrame::OnExportQuery(wxCommandEvent&) {
    const wxString path = choose_export_file(this, "QueryLog.txt");
    if (!path.empty()) ExportQuery(path);
}

} // namespace lumbrake
