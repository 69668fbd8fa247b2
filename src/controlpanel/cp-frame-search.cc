// The main window's searching pages: Search on the archive and collection "Query" pages,
// Refine and the period choice on the watch "Results" page, "Save as watch", the advanced
// options (sort, dates, weights), a result's contexts, opening a result in the browser, and
// the watch's feed address on the clipboard. What is sent and shown is decided in
// cpmodel/search-model; these handlers move it between the controls and the daemon.
#include "controlpanel/cp-frame.h"

#include "client/string-conv.h"
#include "cpdialogs/cp-services.h"
#include "cpdialogs/date-range-dialog.h"
#include "cpdialogs/weights-dialog.h"
#include "cpmodel/apply-model.h"
#include "cpmodel/frame-ids.h"

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/clipbrd.h>
#include <wx/datetime.h>
#include <wx/listctrl.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include <chrono>
#include <ctime>

namespace lumbrake {

namespace {

wxString display(const std::string& utf8) {
    return utf8_to_wx(utf8_lenient(utf8));
}

wxString utc_text(std::int32_t t, const char* format) {
    return wxDateTime(static_cast<time_t>(t)).Format(format, wxDateTime::UTC);
}

long wall_clock_ms() {
    using namespace std::chrono;
    return static_cast<long>(
        duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

search_page page_of_result_id(int id) {
    switch (id) {
    case ID_ARCHIVE_RESULTS:
    case ID_ARCHIVE_OPEN_CACHED:
    case ID_ARCHIVE_OPEN_LIVE:
    case ID_ARCHIVE_ADVANCED:
        return search_page::archive;
    case ID_COLLECTION_RESULTS:
    case ID_COLLECTION_OPEN_CACHED:
    case ID_COLLECTION_OPEN_LIVE:
    case ID_COLLECTION_ADVANCED:
        return search_page::collection;
    default:
        return search_page::watch;
    }
}

} // namespace

void WXControlPanelFrame::ResetSearchPage(search_page page) {
    query_page& p = queryPages[static_cast<int>(page)];
    p.list->DeleteAllItems();
    p.results.clear();
    p.context->ChangeValue("");
}

void WXControlPanelFrame::OnArchiveQueryChanged(wxCommandEvent&) {
    ResetSearchPage(search_page::archive);
}

void WXControlPanelFrame::OnCollectionQueryChanged(wxCommandEvent&) {
    ResetSearchPage(search_page::collection);
}

void WXControlPanelFrame::OnWatchQueryChanged(wxCommandEvent&) {
    ResetSearchPage(search_page::watch);
}

void WXControlPanelFrame::OnArchiveSearch(wxCommandEvent&) {
    RunSearch(search_page::archive);
}

void WXControlPanelFrame::OnCollectionSearch(wxCommandEvent&) {
    RunSearch(search_page::collection);
}

void WXControlPanelFrame::OnWatchRefine(wxCommandEvent&) {
    RunSearch(search_page::watch);
}

void WXControlPanelFrame::OnWatchPeriodChanged(wxCommandEvent&) {
    ResetSearchPage(search_page::watch);
    RunSearch(search_page::watch);
}

void WXControlPanelFrame::RefineWatchAnew() {
    watchResultsFreshness->SetSelection(0);
    watchQuery->ChangeValue("");
    ResetSearchPage(search_page::watch);
    RunSearch(search_page::watch);
}

void WXControlPanelFrame::RunSearch(search_page page) {
    query_page& p = queryPages[static_cast<int>(page)];
    search_inputs in;
    in.page = page;
    std::string name;
    switch (page) {
    case search_page::archive: {
        WXCPTreeItemData* d = SelectedData(1, cp_kind::archive);
        if (d == nullptr) return;
        in.scope = d->archive->Archive;
        name = d->archive->Configuration.Name;
        in.from = archiveQueryFrom;
        in.to = archiveQueryTo;
        break;
    }
    case search_page::collection: {
        WXCPTreeItemData* d = SelectedData(2, cp_kind::collection);
        if (d == nullptr) return;
        in.scope = d->collection->Collection;
        name = d->collection->Configuration.Name;
        in.from = collectionQueryFrom;
        in.to = collectionQueryTo;
        break;
    }
    case search_page::watch: {
        WXCPTreeItemData* d = SelectedData(3, cp_kind::watch);
        if (d == nullptr) return;
        in.scope = d->watch->Watch;
        name = d->watch->Configuration.Name;
        in.freshness = d->watch->Configuration.Freshness;
        in.period = watchResultsFreshness->GetSelection();
        in.now = std::time(nullptr);
        break;
    }
    }
    if (page != search_page::watch) {
        in.advanced = p.advanced->GetValue();
        in.sort = p.sort->GetSelection();
        in.weights = p.weights;
    }
    // Rows the page display removed take their stored results with them.
    in.rows = p.list->GetItemCount();
    if (p.results.size() > static_cast<std::size_t>(in.rows)) p.results.resize(in.rows);
    in.query = wx_to_utf8(p.query->GetValue());
    const QuerySpec query = make_search_query(in);

    if (!proxy) RecreateProxy();
    if (!proxy) return;
    wxBusyCursor busy;
    std::vector<QueryResult> found;
    int total = 0;
    const long start = wall_clock_ms();
    try {
        proxy->Query(query, found, total);
    } catch (const EasySoap::SOAPException& e) {
        if (cp_services* services = get_cp_services()) services->ReportSoapError(e, this);
        return;
    }
    const long elapsed = wall_clock_ms() - start;

    for (const QueryResult& r : found) {
        p.results.push_back(r);
        const wxString cells[3] = {display(r.Title), display(r.Url), utc_text(r.Timestamp, "%c")};
        // The watch page shows the time first.
        const int order[2][3] = {{0, 1, 2}, {2, 0, 1}};
        const int* columns = order[page == search_page::watch ? 1 : 0];
        const long item = p.list->InsertItem(p.list->GetItemCount(), cells[columns[0]]);
        p.list->SetItem(item, 1, cells[columns[1]]);
        p.list->SetItem(item, 2, cells[columns[2]]);
    }
    SetStatusText(display(search_status_line(
                      name, in.query, elapsed, p.list->GetItemCount(), total,
                      [](const char* format) { return wxGetTranslation(format).utf8_string(); })),
                  0);
}

void WXControlPanelFrame::OnSaveAsWatch(wxCommandEvent& event) {
    if (modified[0]) OnApply(event);
    WXCPTreeItemData* d = SelectedData(2, cp_kind::collection);
    cp_services* services = get_cp_services();
    if (d == nullptr || services == nullptr) return;
    const WatchConfiguration cfg =
        watch_from_search(wx_to_utf8(collectionQuery->GetValue()), d->collection->Collection,
                          services->GetUserName());
    pending = pending_selection{};
    if (!proxy) RecreateProxy();
    if (!proxy) return;
    wxBusyCursor busy;
    try {
        WatchInfo info;
        proxy->AddWatch(cfg, info);
        if (info.Watch > 0) {
            watches.push_back(info);
            pending.watch = info.Watch;
        }
    } catch (const EasySoap::SOAPException& e) {
        services->ReportSoapError(e, this);
        return;
    }
    RefreshTrees();
}

void WXControlPanelFrame::OnAdvancedOptions(wxCommandEvent& event) {
    query_page& p = queryPages[static_cast<int>(page_of_result_id(event.GetId()))];
    p.sizer->Show(p.advancedRow, event.IsChecked());
    p.sizer->Layout();
}

void WXControlPanelFrame::SetDateRange(search_page page) {
    query_page& p = queryPages[static_cast<int>(page)];
    int& from = page == search_page::archive ? archiveQueryFrom : collectionQueryFrom;
    int& to = page == search_page::archive ? archiveQueryTo : collectionQueryTo;
    WXDateDialog dialog(this);
    dialog.from = from;
    dialog.to = to;
    if (dialog.ShowModal() != wxID_OK) return;
    from = dialog.from;
    to = dialog.to;
    p.from->ChangeValue(utc_text(from, "%x"));
    p.to->ChangeValue(utc_text(to, "%x"));
}

void WXControlPanelFrame::OnArchiveSetDate(wxCommandEvent&) {
    SetDateRange(search_page::archive);
}

void WXControlPanelFrame::OnCollectionSetDate(wxCommandEvent&) {
    SetDateRange(search_page::collection);
}

void WXControlPanelFrame::OnArchiveWeights(wxCommandEvent&) {
    WXWeightsDialog dialog(this);
    dialog.m_weights = queryPages[0].weights;
    if (dialog.ShowModal() == wxID_OK) queryPages[0].weights = dialog.m_weights;
}

void WXControlPanelFrame::OnCollectionWeights(wxCommandEvent&) {
    WXWeightsDialog dialog(this);
    dialog.m_weights = queryPages[1].weights;
    if (dialog.ShowModal() == wxID_OK) queryPages[1].weights = dialog.m_weights;
}

const QueryResult* WXControlPanelFrame::SelectedResult(search_page page) {
    const query_page& p = queryPages[static_cast<int>(page)];
    const long row = p.list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    if (row < 0 || static_cast<std::size_t>(row) >= p.results.size()) return nullptr;
    return &p.results[static_cast<std::size_t>(row)];
}

void WXControlPanelFrame::ShowContexts(search_page page) {
    const QueryResult* r = SelectedResult(page);
    queryPages[static_cast<int>(page)].context->ChangeValue(
        r != nullptr ? display(contexts_text(r->Contexts)) : wxString());
}

void WXControlPanelFrame::OnArchiveResultSelected(wxListEvent&) {
    ShowContexts(search_page::archive);
}

void WXControlPanelFrame::OnCollectionResultSelected(wxListEvent&) {
    ShowContexts(search_page::collection);
}

void WXControlPanelFrame::OnWatchResultSelected(wxListEvent&) {
    ShowContexts(search_page::watch);
}

void WXControlPanelFrame::OnResultDeselected(wxListEvent& event) {
    queryPages[static_cast<int>(page_of_result_id(event.GetId()))].context->ChangeValue("");
}

void WXControlPanelFrame::OnOpenCachedDocument(wxCommandEvent& event) {
    const QueryResult* r = SelectedResult(page_of_result_id(event.GetId()));
    cp_services* services = get_cp_services();
    if (r != nullptr && services != nullptr) services->OpenCachedDocument(r->ID);
}

void WXControlPanelFrame::OnOpenLiveDocument(wxCommandEvent& event) {
    const QueryResult* r = SelectedResult(page_of_result_id(event.GetId()));
    cp_services* services = get_cp_services();
    if (r != nullptr && services != nullptr) services->OpenURL(r->Url);
}

void WXControlPanelFrame::OnCopyWatchUrl(wxCommandEvent&) {
    WXCPTreeItemData* d = SelectedData(3, cp_kind::watch);
    cp_services* services = get_cp_services();
    if (d == nullptr || services == nullptr) return;
    const std::string url = watch_feed_url(services->GetPrivateBaseURL(), d->watch->Watch);
    // The CLIPBOARD selection (what Ctrl+V pastes), not the primary one.
    wxTheClipboard->UsePrimarySelection(false);
    if (!wxTheClipboard->Open()) return;
    wxTheClipboard->SetData(new wxTextDataObject(wxString::FromUTF8(url)));
    wxTheClipboard->Close();
}

} // namespace lumbrake
