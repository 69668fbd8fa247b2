// The main window's state and handlers: the timer that takes the updater thread's results,
// the trees, the page display, Apply and the enabling of every command.
#include "controlpanel/cp-frame.h"

#include "client/string-conv.h"
#include "controlpanel/cp-settings.h"
#include "controlpanel/updater-thread.h"
#include "cpdialogs/cp-services.h"
#include "cpdialogs/setup-dialog.h"
#include "cpdialogs/status-dialog.h"
#include "cpmodel/access-masks.h"
#include "cpmodel/frame-ids.h"

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/listctrl.h>
#include <wx/msgdlg.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/progdlg.h>
#include <wx/spinctrl.h>
#include <wx/splitter.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

namespace lumbrake {

// clang-format off
wxBEGIN_EVENT_TABLE(WXControlPanelFrame, wxFrame)
    // Frame commands, trees, creating and deleting, the page synchroniser and enabling.
    EVT_CONTEXT_MENU(WXControlPanelFrame::OnTreeContextMenu)
    EVT_TIMER(ID_TIMER, WXControlPanelFrame::OnTimer)
    EVT_CLOSE(WXControlPanelFrame::OnClose)
    EVT_MENU(wxID_EXIT, WXControlPanelFrame::OnExit)
    EVT_MENU(wxID_ABOUT, WXControlPanelFrame::OnAbout)
    EVT_MENU(wxID_PREFERENCES, WXControlPanelFrame::OnSetup)
    EVT_MENU(ID_STATUS, WXControlPanelFrame::OnStatus)
    EVT_MENU(ID_USERS_AND_SECURITY, WXControlPanelFrame::OnUsersAndSecurity)
    EVT_MENU(ID_REFRESH, WXControlPanelFrame::OnRefresh)
    EVT_MENU_RANGE(ID_MANUAL_INSTALLATION, ID_MANUAL_COOKBOOK, WXControlPanelFrame::OnManual)
    EVT_MENU(ID_PLUGINS, WXControlPanelFrame::OnPlugins)
    EVT_MENU(ID_NEW_SOURCE, WXControlPanelFrame::OnNewSource)
    EVT_MENU(ID_DELETE_SOURCE, WXControlPanelFrame::OnDeleteSource)
    EVT_MENU(ID_NEW_ARCHIVE, WXControlPanelFrame::OnNewArchive)
    EVT_MENU(ID_DELETE_ARCHIVE, WXControlPanelFrame::OnDeleteArchive)
    EVT_MENU(ID_NEW_COLLECTION, WXControlPanelFrame::OnNewCollection)
    EVT_MENU(ID_DELETE_COLLECTION, WXControlPanelFrame::OnDeleteCollection)
    EVT_MENU(ID_NEW_WATCH, WXControlPanelFrame::OnNewWatch)
    EVT_MENU(ID_DELETE_WATCH, WXControlPanelFrame::OnDeleteWatch)
    EVT_BUTTON(ID_NEW_SOURCE, WXControlPanelFrame::OnNewSource)
    EVT_BUTTON(ID_DELETE_SOURCE, WXControlPanelFrame::OnDeleteSource)
    EVT_BUTTON(ID_NEW_ARCHIVE, WXControlPanelFrame::OnNewArchive)
    EVT_BUTTON(ID_DELETE_ARCHIVE, WXControlPanelFrame::OnDeleteArchive)
    EVT_BUTTON(ID_NEW_COLLECTION, WXControlPanelFrame::OnNewCollection)
    EVT_BUTTON(ID_DELETE_COLLECTION, WXControlPanelFrame::OnDeleteCollection)
    EVT_BUTTON(ID_NEW_WATCH, WXControlPanelFrame::OnNewWatch)
    EVT_BUTTON(ID_DELETE_WATCH, WXControlPanelFrame::OnDeleteWatch)
    EVT_BUTTON(ID_APPLY, WXControlPanelFrame::OnApply)
    EVT_BUTTON(ID_REVERT, WXControlPanelFrame::OnRevert)
    EVT_BUTTON(ID_START_GATHERING, WXControlPanelFrame::OnStartGathering)
    EVT_BUTTON(ID_STOP_GATHERING, WXControlPanelFrame::OnStopGathering)
    EVT_BUTTON(ID_LOGS, WXControlPanelFrame::OnLogs)
    EVT_BUTTON(ID_ADD_TO_COLLECTION, WXControlPanelFrame::OnAddToCollection)
    EVT_TREE_SEL_CHANGING(ID_SOURCES_TREE, WXControlPanelFrame::OnTreeSelChanging)
    EVT_TREE_SEL_CHANGING(ID_ARCHIVES_TREE, WXControlPanelFrame::OnTreeSelChanging)
    EVT_TREE_SEL_CHANGING(ID_COLLECTIONS_TREE, WXControlPanelFrame::OnTreeSelChanging)
    EVT_TREE_SEL_CHANGING(ID_WATCHES_TREE, WXControlPanelFrame::OnTreeSelChanging)
    EVT_TREE_BEGIN_LABEL_EDIT(ID_SOURCES_TREE, WXControlPanelFrame::OnBeginLabelEdit)
    EVT_TREE_BEGIN_LABEL_EDIT(ID_ARCHIVES_TREE, WXControlPanelFrame::OnBeginLabelEdit)
    EVT_TREE_BEGIN_LABEL_EDIT(ID_COLLECTIONS_TREE, WXControlPanelFrame::OnBeginLabelEdit)
    EVT_TREE_BEGIN_LABEL_EDIT(ID_WATCHES_TREE, WXControlPanelFrame::OnBeginLabelEdit)
    EVT_TREE_END_LABEL_EDIT(ID_SOURCES_TREE, WXControlPanelFrame::OnEndLabelEdit)
    EVT_TREE_END_LABEL_EDIT(ID_ARCHIVES_TREE, WXControlPanelFrame::OnEndLabelEdit)
    EVT_TREE_END_LABEL_EDIT(ID_COLLECTIONS_TREE, WXControlPanelFrame::OnEndLabelEdit)
    EVT_TREE_END_LABEL_EDIT(ID_WATCHES_TREE, WXControlPanelFrame::OnEndLabelEdit)
    EVT_TEXT(ID_FILTER, WXControlPanelFrame::OnFilterChanged)
    EVT_UPDATE_UI(ID_SPLITTER, WXControlPanelFrame::OnSyncPages)

    // Editing the lists of the pages and the archive's authentication.
    EVT_BUTTON(ID_EDIT_AUTHENTICATION, WXControlPanelFrame::OnEditAuthentication)
    EVT_BUTTON(ID_SEED_ADD, WXControlPanelFrame::OnSeedAdd)
    EVT_BUTTON(ID_SEED_EDIT, WXControlPanelFrame::OnSeedEdit)
    EVT_BUTTON(ID_SEED_REMOVE, WXControlPanelFrame::OnSeedRemove)
    EVT_BUTTON(ID_SEED_BROWSE, WXControlPanelFrame::OnSeedBrowse)
    EVT_BUTTON(ID_FILTER_ADD, WXControlPanelFrame::OnFilterAdd)
    EVT_BUTTON(ID_FILTER_EDIT, WXControlPanelFrame::OnFilterEdit)
    EVT_BUTTON(ID_FILTER_REMOVE, WXControlPanelFrame::OnFilterRemove)
    EVT_BUTTON(ID_COOKIE_URL_EDIT, WXControlPanelFrame::OnCookieUrlEdit)
    EVT_BUTTON(ID_COOKIE_PARAM_ADD, WXControlPanelFrame::OnCookieParamAdd)
    EVT_BUTTON(ID_COOKIE_PARAM_EDIT, WXControlPanelFrame::OnCookieParamEdit)
    EVT_BUTTON(ID_COOKIE_PARAM_REMOVE, WXControlPanelFrame::OnCookieParamRemove)
    EVT_BUTTON(ID_PREURL_ADD, WXControlPanelFrame::OnPreUrlAdd)
    EVT_BUTTON(ID_PREURL_EDIT, WXControlPanelFrame::OnPreUrlEdit)
    EVT_BUTTON(ID_PREURL_REMOVE, WXControlPanelFrame::OnPreUrlRemove)
    EVT_BUTTON(ID_COLLECTION_ARCHIVES_EDIT, WXControlPanelFrame::OnCollectionArchivesEdit)
    EVT_BUTTON(ID_SOURCE_ACL_ADD, WXControlPanelFrame::OnAclAdd)
    EVT_BUTTON(ID_SOURCE_ACL_EDIT, WXControlPanelFrame::OnAclEdit)
    EVT_BUTTON(ID_SOURCE_ACL_REMOVE, WXControlPanelFrame::OnAclRemove)
    EVT_BUTTON(ID_ARCHIVE_ACL_ADD, WXControlPanelFrame::OnAclAdd)
    EVT_BUTTON(ID_ARCHIVE_ACL_EDIT, WXControlPanelFrame::OnAclEdit)
    EVT_BUTTON(ID_ARCHIVE_ACL_REMOVE, WXControlPanelFrame::OnAclRemove)
    EVT_BUTTON(ID_COLLECTION_ACL_ADD, WXControlPanelFrame::OnAclAdd)
    EVT_BUTTON(ID_COLLECTION_ACL_EDIT, WXControlPanelFrame::OnAclEdit)
    EVT_BUTTON(ID_COLLECTION_ACL_REMOVE, WXControlPanelFrame::OnAclRemove)
    EVT_BUTTON(ID_WATCH_ACL_ADD, WXControlPanelFrame::OnAclAdd)
    EVT_BUTTON(ID_WATCH_ACL_EDIT, WXControlPanelFrame::OnAclEdit)
    EVT_BUTTON(ID_WATCH_ACL_REMOVE, WXControlPanelFrame::OnAclRemove)
    EVT_BUTTON(ID_PLUGIN_UP, WXControlPanelFrame::OnPluginUp)
    EVT_BUTTON(ID_PLUGIN_DOWN, WXControlPanelFrame::OnPluginDown)
    EVT_LIST_ITEM_ACTIVATED(ID_SEEDS, WXControlPanelFrame::OnSeedActivated)
    EVT_LIST_ITEM_ACTIVATED(ID_FILTERS, WXControlPanelFrame::OnFilterActivated)
    EVT_LIST_ITEM_ACTIVATED(ID_COOKIE_PARAMS, WXControlPanelFrame::OnCookieParamActivated)
    EVT_LIST_ITEM_ACTIVATED(ID_PREURLS, WXControlPanelFrame::OnPreUrlActivated)
    EVT_LIST_ITEM_ACTIVATED(ID_SOURCE_ACL, WXControlPanelFrame::OnAclActivated)
    EVT_LIST_ITEM_ACTIVATED(ID_ARCHIVE_ACL, WXControlPanelFrame::OnAclActivated)
    EVT_LIST_ITEM_ACTIVATED(ID_COLLECTION_ACL, WXControlPanelFrame::OnAclActivated)
    EVT_LIST_ITEM_ACTIVATED(ID_WATCH_ACL, WXControlPanelFrame::OnAclActivated)
    EVT_LIST_ITEM_SELECTED(ID_PLUGINS_PIPELINE, WXControlPanelFrame::OnPipelineSelected)
    EVT_LIST_ITEM_DESELECTED(ID_PLUGINS_PIPELINE, WXControlPanelFrame::OnPipelineDeselected)
    EVT_CHECKBOX(ID_PLUGIN_ENABLED, WXControlPanelFrame::OnPluginEnabled)
    EVT_CHOICE(ID_SCHEDULE_FREQUENCY, WXControlPanelFrame::OnScheduleFrequency)
    EVT_UPDATE_UI(ID_SCHEDULE_FREQUENCY, WXControlPanelFrame::OnUpdateScheduleFrequency)

    // Searching, the query pages and their result lists.
    EVT_BUTTON(ID_ARCHIVE_SEARCH, WXControlPanelFrame::OnArchiveSearch)
    EVT_BUTTON(ID_COLLECTION_SEARCH, WXControlPanelFrame::OnCollectionSearch)
    EVT_BUTTON(ID_SAVE_AS_WATCH, WXControlPanelFrame::OnSaveAsWatch)
    EVT_BUTTON(ID_REFINE, WXControlPanelFrame::OnWatchRefine)
    EVT_BUTTON(ID_COPY_WATCH_URL, WXControlPanelFrame::OnCopyWatchUrl)
    EVT_BUTTON(ID_ARCHIVE_SET_DATE, WXControlPanelFrame::OnArchiveSetDate)
    EVT_BUTTON(ID_ARCHIVE_WEIGHTS, WXControlPanelFrame::OnArchiveWeights)
    EVT_BUTTON(ID_COLLECTION_SET_DATE, WXControlPanelFrame::OnCollectionSetDate)
    EVT_BUTTON(ID_COLLECTION_WEIGHTS, WXControlPanelFrame::OnCollectionWeights)
    EVT_BUTTON(ID_ARCHIVE_OPEN_CACHED, WXControlPanelFrame::OnOpenCachedDocument)
    EVT_BUTTON(ID_ARCHIVE_OPEN_LIVE, WXControlPanelFrame::OnOpenLiveDocument)
    EVT_BUTTON(ID_COLLECTION_OPEN_CACHED, WXControlPanelFrame::OnOpenCachedDocument)
    EVT_BUTTON(ID_COLLECTION_OPEN_LIVE, WXControlPanelFrame::OnOpenLiveDocument)
    EVT_BUTTON(ID_WATCH_OPEN_CACHED, WXControlPanelFrame::OnOpenCachedDocument)
    EVT_BUTTON(ID_WATCH_OPEN_LIVE, WXControlPanelFrame::OnOpenLiveDocument)
    EVT_LIST_ITEM_SELECTED(ID_ARCHIVE_RESULTS, WXControlPanelFrame::OnArchiveResultSelected)
    EVT_LIST_ITEM_SELECTED(ID_COLLECTION_RESULTS, WXControlPanelFrame::OnCollectionResultSelected)
    EVT_LIST_ITEM_SELECTED(ID_WATCH_RESULTS, WXControlPanelFrame::OnWatchResultSelected)
    EVT_LIST_ITEM_DESELECTED(ID_ARCHIVE_RESULTS, WXControlPanelFrame::OnResultDeselected)
    EVT_LIST_ITEM_DESELECTED(ID_COLLECTION_RESULTS, WXControlPanelFrame::OnResultDeselected)
    EVT_LIST_ITEM_DESELECTED(ID_WATCH_RESULTS, WXControlPanelFrame::OnResultDeselected)
    EVT_TEXT(ID_ARCHIVE_QUERY, WXControlPanelFrame::OnArchiveQueryChanged)
    EVT_TEXT(ID_COLLECTION_QUERY, WXControlPanelFrame::OnCollectionQueryChanged)
    EVT_TEXT(ID_WATCH_QUERY, WXControlPanelFrame::OnWatchQueryChanged)
    EVT_CHECKBOX(ID_ARCHIVE_ADVANCED, WXControlPanelFrame::OnAdvancedOptions)
    EVT_CHECKBOX(ID_COLLECTION_ADVANCED, WXControlPanelFrame::OnAdvancedOptions)
    EVT_CHOICE(ID_WATCH_RESULTS_FRESHNESS, WXControlPanelFrame::OnWatchPeriodChanged)

    // Edits that mark the record on show modified.
    EVT_TEXT(ID_SOURCE_NAME, WXControlPanelFrame::OnModified)
    EVT_TEXT(ID_SOURCE_DESCRIPTION, WXControlPanelFrame::OnModified)
    EVT_TEXT(ID_ARCHIVE_NAME, WXControlPanelFrame::OnModified)
    EVT_TEXT(ID_ARCHIVE_CONTACT, WXControlPanelFrame::OnModified)
    EVT_TEXT(ID_COLLECTION_NAME, WXControlPanelFrame::OnModified)
    EVT_TEXT(ID_COLLECTION_DESCRIPTION, WXControlPanelFrame::OnModified)
    EVT_TEXT(ID_WATCH_NAME, WXControlPanelFrame::OnModified)
    EVT_TEXT(ID_WATCH_DESCRIPTION, WXControlPanelFrame::OnModified)
    EVT_TEXT(ID_WATCH_FILTER, WXControlPanelFrame::OnModified)
    EVT_TEXT(ID_WATCH_FRESHNESS, WXControlPanelFrame::OnModified)
    EVT_TEXT(ID_PAGES_LIMIT, WXControlPanelFrame::OnModified)
    EVT_TEXT(ID_DEPTH_LIMIT, WXControlPanelFrame::OnModified)
    EVT_TEXT(ID_EXCLUSION_BEGIN, WXControlPanelFrame::OnModified)
    EVT_TEXT(ID_EXCLUSION_END, WXControlPanelFrame::OnModified)
    EVT_TEXT(ID_SCHEDULE_EVERY, WXControlPanelFrame::OnModified)
    EVT_TEXT(ID_SCHEDULE_START, WXControlPanelFrame::OnModified)
    EVT_TEXT(ID_AGE_LIMIT, WXControlPanelFrame::OnModified)
    EVT_TEXT(ID_COOKIE_FRESHNESS, WXControlPanelFrame::OnModified)
    EVT_SPINCTRL(ID_WATCH_FRESHNESS, WXControlPanelFrame::OnSpinModified)
    EVT_SPINCTRL(ID_PAGES_LIMIT, WXControlPanelFrame::OnSpinModified)
    EVT_SPINCTRL(ID_DEPTH_LIMIT, WXControlPanelFrame::OnSpinModified)
    EVT_SPINCTRL(ID_SCHEDULE_EVERY, WXControlPanelFrame::OnSpinModified)
    EVT_SPINCTRL(ID_SCHEDULE_START, WXControlPanelFrame::OnSpinModified)
    EVT_SPINCTRL(ID_AGE_LIMIT, WXControlPanelFrame::OnSpinModified)
    EVT_SPINCTRL(ID_COOKIE_FRESHNESS, WXControlPanelFrame::OnSpinModified)
    EVT_CHECKBOX(ID_WATCH_FRESHNESS_CHECK, WXControlPanelFrame::OnModified)
    EVT_CHECKBOX(ID_PAGES_LIMIT_CHECK, WXControlPanelFrame::OnModified)
    EVT_CHECKBOX(ID_DEPTH_LIMIT_CHECK, WXControlPanelFrame::OnModified)
    EVT_CHECKBOX(ID_CHECK_ROBOTS, WXControlPanelFrame::OnModified)
    EVT_CHECKBOX(ID_SIDE_METADATA, WXControlPanelFrame::OnModified)
    EVT_CHECKBOX(ID_SCHEDULED, WXControlPanelFrame::OnModified)
    EVT_CHECKBOX(ID_REMOVE_OLD, WXControlPanelFrame::OnModified)
    EVT_CHOICE(ID_WATCH_FRESHNESS_UNIT, WXControlPanelFrame::OnModified)
    EVT_CHOICE(ID_AGE_LIMIT_UNIT, WXControlPanelFrame::OnModified)
    EVT_CHOICE(ID_DOCUMENT_CACHE, WXControlPanelFrame::OnModified)
    EVT_CHOICE(ID_AUTH_TYPE, WXControlPanelFrame::OnModified)
    EVT_CHOICE(ID_COOKIE_ACTION, WXControlPanelFrame::OnModified)
    EVT_CHOICE(ID_COOKIE_FRESHNESS_UNIT, WXControlPanelFrame::OnModified)
wxEND_EVENT_TABLE()
// clang-format on

                                                                                                            namespace {

    wxString from_daemon(const std::string& utf8) {
        return utf8_to_wx(utf8_lenient(utf8));
    }

    std::string to_daemon(const wxString& text) {
        return wx_to_utf8(text);
    }

    wxString time_text(std::int32_t t) {
        if (t <= 0) return "-";
        return wxDateTime(static_cast<time_t>(t)).Format("%c", wxDateTime::UTC);
    }

    wxString mask_text(std::uint32_t mask) {
        // Each part of the text is translated on its own.
        const wxString whole = wxString::FromUTF8(access_mask_text(mask));
        const int at = whole.Find(" - ");
        if (at == wxNOT_FOUND) return whole.empty() ? whole : wxGetTranslation(whole);
        return wxGetTranslation(whole.Left(at)) + " - " + wxGetTranslation(whole.Mid(at + 3));
    }

    void fill_acl(wxListCtrl * list, const acl_rows& rows) {
        list->DeleteAllItems();
        for (const auto& [name, mask] : rows) {
            const long item = list->InsertItem(list->GetItemCount(), from_daemon(name));
            list->SetItem(item, 1, mask_text(mask));
            list->SetItemData(item, static_cast<long>(mask));
        }
    }

    acl_rows read_acl(wxListCtrl * list) {
        acl_rows rows;
        for (long i = 0; i < list->GetItemCount(); ++i)
            rows.emplace_back(to_daemon(list->GetItemText(i)),
                              static_cast<std::uint32_t>(list->GetItemData(i)));
        return rows;
    }

    void fill_texts(wxListCtrl * list, const std::vector<std::string>& texts, int image) {
        list->DeleteAllItems();
        for (const std::string& t : texts)
            list->InsertItem(list->GetItemCount(), from_daemon(t), image);
    }

    std::vector<std::string> read_texts(wxListCtrl * list) {
        std::vector<std::string> out;
        for (long i = 0; i < list->GetItemCount(); ++i)
            out.push_back(to_daemon(list->GetItemText(i)));
        return out;
    }

    int selected_count(wxListCtrl * list) {
        return list != nullptr ? list->GetSelectedItemCount() : 0;
    }

    void set_duration(wxCheckBox * check, wxSpinCtrl * number, wxChoice * unit,
                      const duration_controls& d) {
        if (check != nullptr) check->SetValue(d.checked);
        number->SetValue(d.number);
        unit->SetSelection(d.unit);
    }

    duration_controls read_duration(wxCheckBox * check, wxSpinCtrl * number, wxChoice * unit) {
        duration_controls d;
        d.checked = check == nullptr || check->GetValue();
        d.number = number->GetValue();
        d.unit = unit->GetSelection();
        return d;
    }

} // namespace

WXControlPanelFrame::~WXControlPanelFrame() {
    Hide();
    cp_settings_store::save_window_geometry(this, "MainFrame");
    cp_settings_store::save_splitter_position(splitter, "Splitter");
    delete timer;
    timer = nullptr;
    if (updaterThread != nullptr) {
        updaterThread->Delete();
        delete updaterThread;
        updaterThread = nullptr;
    }
    if (shownPanel != 1) {
        splitter->ReplaceWindow(splitter->GetWindow2(), emptyPanel);
        emptyPanel->Show();
        for (wxPanel* p : {sourcePanel, archivePanel, collectionPanel, watchPanel})
            p->Hide();
        shownPanel = 1;
    }
    ClearCookieParams();
    delete progressDialog;
    progressDialog = nullptr;
    proxy.reset();
}

void WXControlPanelFrame::OnClose(wxCloseEvent& event) {
    // The progress dialog disables the frame; it goes first.
    delete progressDialog;
    progressDialog = nullptr;
    event.Skip();
}

// ---------------------------------------------------------------------------------------
// Timer and refresh

void WXControlPanelFrame::OnTimer(wxTimerEvent&) {
    if (updaterThread == nullptr) return;
    if (updaterThread->HasNewData()) {
        cp_services* services = get_cp_services();
        if (services != nullptr)
            SetStatusText(wxString::Format(_("Connected to %s as %s."),
                                           wxString::FromUTF8(services->GetHost()),
                                           wxString::FromUTF8(services->GetUserName())),
                          0);
        updaterThread->TakeResults(sources, archives, collections, watches, docFilters,
                                   principalNames, canHistoricize, isAdmin, canBrowsingWrite,
                                   canCrawlingWrite);
        modified[1] = true;
        RefreshTrees();
        if (progressDialog != nullptr) {
            delete progressDialog;
            progressDialog = nullptr;
            if (services != nullptr) {
                if (updaterThread->HasError())
                    services->ShowError(updaterThread->GetMessage(), this);
                else if (updaterThread->HasWarning())
                    services->ShowWarning(updaterThread->GetMessage(), this);
            }
        }
    } else if (progressDialog != nullptr) {
        progressDialog->Update(updaterThread->GetProgress(), "");
    }
}

void WXControlPanelFrame::OnRefresh(wxCommandEvent&) {
    if (progressDialog == nullptr) {
        progressDialog = new wxProgressDialog(_("Updating"), _("Please wait..."), 100, this, 0);
        progressDialog->SetCursor(*wxHOURGLASS_CURSOR);
    }
    if (updaterThread != nullptr) updaterThread->RequestRefresh();
}

void WXControlPanelFrame::OnSetup(wxCommandEvent&) {
    WXSetupDialog setup(this);
    if (setup.ShowModal() != wxID_OK) return;
    // Nothing on show belongs to the new connection.
    modified[0] = false;
    currentSource.Source = 0;
    currentArchive.Archive = 0;
    currentCollection.Collection = 0;
    currentWatch.Watch = 0;
    RecreateProxy();
    for (wxTreeCtrl* t : trees_)
        t->DeleteChildren(t->GetRootItem());
    wxCommandEvent refresh(wxEVT_MENU, ID_REFRESH);
    wxPostEvent(this, refresh);
}

void WXControlPanelFrame::OnStatus(wxCommandEvent&) {
    WXStatusDialog status(this);
    status.ShowModal();
}

void WXControlPanelFrame::OnExit(wxCommandEvent&) {
    Close(true);
}

void WXControlPanelFrame::OnAbout(wxCommandEvent&) {
    wxMessageBox(wxString::Format(_("%s version %s"), "trawlnest control panel", CLIENT_VERSION) +
                     "\n\n" + _("The control panel of the trawlnest search server."),
                 _("About"), wxOK | wxICON_INFORMATION, this);
}

void WXControlPanelFrame::OnRevert(wxCommandEvent&) {
    // The page display reloads the record on show from the lists.
    currentSource.Source = 0;
    currentArchive.Archive = 0;
    currentCollection.Collection = 0;
    currentWatch.Watch = 0;
    modified[0] = false;
}

void WXControlPanelFrame::OnPendingCommand(wxCommandEvent&) {}
void WXControlPanelFrame::OnPendingTree(wxTreeEvent&) {}
void WXControlPanelFrame::OnPendingList(wxListEvent&) {}
void WXControlPanelFrame::OnPendingContextMenu(wxContextMenuEvent& event) {
    event.Skip();
}

void WXControlPanelFrame::OnModified(wxCommandEvent&) {
    modified[0] = true;
}
void WXControlPanelFrame::OnSpinModified(wxSpinEvent&) {
    modified[0] = true;
}

void WXControlPanelFrame::OnFilterChanged(wxCommandEvent&) {
    RefreshTrees();
}

// ---------------------------------------------------------------------------------------
// Trees

void WXControlPanelFrame::SetNodeRecord(WXCPTreeItemData& d, const tree_row& row) {
    d.source.reset();
    d.archive.reset();
    d.collection.reset();
    d.watch.reset();
    switch (row.kind) {
    case cp_kind::source:
        d.source = std::make_unique<SourceInfo>(sources[row.index]);
        break;
    case cp_kind::archive:
        d.archive = std::make_unique<ArchiveInfo>(archives[row.index]);
        break;
    case cp_kind::collection:
        d.collection = std::make_unique<CollectionInfo>(collections[row.index]);
        break;
    case cp_kind::watch:
        d.watch = std::make_unique<WatchInfo>(watches[row.index]);
        break;
    default:
        break;
    }
}

namespace {

wxTreeItemId find_child(wxTreeCtrl* tree, const wxTreeItemId& parent, const tree_row& row) {
    wxTreeItemIdValue cookie;
    for (wxTreeItemId c = tree->GetFirstChild(parent, cookie); c.IsOk();
         c = tree->GetNextChild(parent, cookie)) {
        auto* d = dynamic_cast<WXCPTreeItemData*>(tree->GetItemData(c));
        if (d != nullptr && d->name == row.name && d->kind() == row.kind && d->id() == row.id)
            return c;
    }
    return {};
}

} // namespace

wxTreeItemId WXControlPanelFrame::FillTree(int index, const std::vector<tree_row>& rows,
                                           int select_id) {
    wxTreeCtrl* tree = trees_[index];
    const wxTreeItemId root = tree->GetRootItem();
    const int generation = ++generations_[index];
    const wxColour normal = tree->GetItemTextColour(root);
    wxTreeItemId selected;
    for (const tree_row& row : rows) {
        wxTreeItemId node = find_child(tree, root, row);
        if (node.IsOk()) {
            auto* d = static_cast<WXCPTreeItemData*>(tree->GetItemData(node));
            SetNodeRecord(*d, row);
            d->stamp = generation;
        } else {
            auto* d = new WXCPTreeItemData(row.name);
            SetNodeRecord(*d, row);
            d->stamp = generation;
            node = tree->AppendItem(root, from_daemon(row.name), 0, -1, d);
            tree->SortChildren(root);
            tree->SetItemHasChildren(root, true);
        }
        for (const tree_row& child : row.children) {
            wxTreeItemId c = find_child(tree, node, child);
            if (c.IsOk()) {
                auto* d = static_cast<WXCPTreeItemData*>(tree->GetItemData(c));
                SetNodeRecord(*d, child);
                d->stamp = generation;
            } else {
                auto* d = new WXCPTreeItemData(child.name);
                SetNodeRecord(*d, child);
                d->stamp = generation;
                c = tree->AppendItem(node, from_daemon(child.name), 1, -1, d);
                tree->SortChildren(node);
            }
            if (index == 0) tree->SetItemTextColour(c, child.red ? *wxRED : normal);
        }
        if (index == 1) tree->SetItemTextColour(node, row.red ? *wxRED : normal);
        if (row.id == select_id) selected = node;
    }
    PruneTree(tree, root, generation);
    if (selected.IsOk()) return selected;
    wxTreeItemIdValue cookie;
    return tree->GetFirstChild(root, cookie);
}

void WXControlPanelFrame::PruneTree(wxTreeCtrl* tree, const wxTreeItemId& parent, int generation) {
    std::vector<wxTreeItemId> stale;
    wxTreeItemIdValue cookie;
    for (wxTreeItemId c = tree->GetFirstChild(parent, cookie); c.IsOk();
         c = tree->GetNextChild(parent, cookie)) {
        PruneTree(tree, c, generation);
        auto* d = dynamic_cast<WXCPTreeItemData*>(tree->GetItemData(c));
        if (d != nullptr && d->stamp != generation) stale.push_back(c);
    }
    for (const wxTreeItemId& c : stale)
        tree->Delete(c);
}

WXCPTreeItemData* WXControlPanelFrame::SelectedData(int index, cp_kind kind) const {
    wxTreeCtrl* tree = trees_[index];
    const wxTreeItemId item = tree->GetSelection();
    if (!item.IsOk() || item == tree->GetRootItem()) return nullptr;
    auto* d = dynamic_cast<WXCPTreeItemData*>(tree->GetItemData(item));
    if (d == nullptr || (kind != cp_kind::none && d->kind() != kind)) return nullptr;
    return d;
}

void WXControlPanelFrame::RefreshTrees() {
    static const cp_kind kinds[4] = {cp_kind::source, cp_kind::archive, cp_kind::collection,
                                     cp_kind::watch};
    int noted[4];
    for (int i = 0; i < 4; ++i) {
        WXCPTreeItemData* d = SelectedData(i, kinds[i]);
        noted[i] = d != nullptr ? d->id() : 0;
    }
    consume_pending(pending, noted);
    name_unnamed(sources, archives, collections, watches, _("(no name)").utf8_string());
    const std::string filter = to_daemon(filterText->GetValue());
    const wxTreeItemId select[4] = {
        FillTree(0, source_tree_rows(sources, archives, filter), noted[0]),
        FillTree(1, archive_tree_rows(archives, sources, filter), noted[1]),
        FillTree(2, collection_tree_rows(collections, watches, filter), noted[2]),
        FillTree(3, watch_tree_rows(watches, collections, filter), noted[3]),
    };
    for (int i = 0; i < 4; ++i) {
        if (!select[i].IsOk()) continue;
        trees_[i]->EnsureVisible(select[i]);
        trees_[i]->SelectItem(select[i]);
    }
}

void WXControlPanelFrame::OnBeginLabelEdit(wxTreeEvent& event) {
    static const cp_kind kinds[4] = {cp_kind::source, cp_kind::archive, cp_kind::collection,
                                     cp_kind::watch};
    const int index = event.GetId() - ID_SOURCES_TREE;
    auto* d = dynamic_cast<WXCPTreeItemData*>(trees_[index]->GetItemData(event.GetItem()));
    // Only the objects of the tree's own kind can be renamed here.
    if (d == nullptr || d->kind() != kinds[index]) event.Veto();
}

void WXControlPanelFrame::OnEndLabelEdit(wxTreeEvent& event) {
    static const cp_kind kinds[4] = {cp_kind::source, cp_kind::archive, cp_kind::collection,
                                     cp_kind::watch};
    const int index = event.GetId() - ID_SOURCES_TREE;
    event.Veto();
    if (!trees_[index]->GetSelection().IsOk()) return;
    WXCPTreeItemData* d = SelectedData(index, kinds[index]);
    if (event.IsEditCancelled() || event.GetLabel().empty() || d == nullptr) return;
    // The label goes through the page's name field and Apply; the tree shows the new name
    // only when it is rebuilt from the daemon's answer.
    name_field(kinds[index])->ChangeValue(event.GetLabel());
    modified[0] = true;
    wxCommandEvent apply(wxEVT_BUTTON, ID_APPLY);
    OnApply(apply);
}

// ---------------------------------------------------------------------------------------
// Page display

void WXControlPanelFrame::ShowPanel(int code) {
    if (shownPanel == code) return;
    wxPanel* panels[] = {emptyPanel, sourcePanel, archivePanel, collectionPanel, watchPanel};
    wxPanel* target = panels[code - 1];
    wxWindow* old = splitter->GetWindow2();
    if (old != target) splitter->ReplaceWindow(old, target);
    target->Show();
    for (wxPanel* p : panels)
        if (p != target) p->Hide();
    shownPanel = code;
    splitter->UpdateSize();
}

void WXControlPanelFrame::OnSyncPages(wxUpdateUIEvent&) {
    static const cp_kind kinds[4] = {cp_kind::source, cp_kind::archive, cp_kind::collection,
                                     cp_kind::watch};
    const int page = treesNotebook->GetSelection();
    WXCPTreeItemData* d = page >= 0 && page < 4 ? SelectedData(page, kinds[page]) : nullptr;
    wxCommandEvent apply(wxEVT_BUTTON, ID_APPLY);
    if (d == nullptr) {
        ShowPanel(1);
        if (currentSource.Source != 0 || currentArchive.Archive != 0 ||
            currentCollection.Collection != 0 || currentWatch.Watch != 0) {
            if (modified[0]) OnApply(apply);
            currentSource.Source = 0;
            currentArchive.Archive = 0;
            currentCollection.Collection = 0;
            currentWatch.Watch = 0;
        }
        return;
    }
    ShowPanel(page + 2);
    int current = 0;
    switch (d->kind()) {
    case cp_kind::source:
        current = currentSource.Source;
        break;
    case cp_kind::archive:
        current = currentArchive.Archive;
        break;
    case cp_kind::collection:
        current = currentCollection.Collection;
        break;
    case cp_kind::watch:
        current = currentWatch.Watch;
        break;
    default:
        break;
    }
    if (current == 0 || current != d->id()) {
        if (modified[0]) {
            OnApply(apply);
            // Apply rebuilt the trees: take the selection afresh at the next idle time.
            return;
        }
        currentSource.Source = 0;
        currentArchive.Archive = 0;
        currentCollection.Collection = 0;
        currentWatch.Watch = 0;
        switch (d->kind()) {
        case cp_kind::source:
            currentSource = *d->source;
            EnableByReadOnly(cp_kind::source, currentSource.ReadOnly);
            FillSourcePages();
            modified[1] = modified[2] = false;
            break;
        case cp_kind::archive:
            currentArchive = *d->archive;
            EnableByReadOnly(cp_kind::archive, currentArchive.ReadOnly);
            FillArchivePages();
            modified[1] = true;
            modified[2] = false;
            break;
        case cp_kind::collection:
            currentCollection = *d->collection;
            EnableByReadOnly(cp_kind::collection, currentCollection.ReadOnly);
            FillCollectionPages();
            modified[1] = modified[2] = false;
            break;
        case cp_kind::watch:
            currentWatch = *d->watch;
            EnableByReadOnly(cp_kind::watch, currentWatch.ReadOnly);
            FillWatchPages();
            modified[1] = false;
            modified[2] = true;
            break;
        default:
            break;
        }
        modified[0] = false;
    }
    if (d->kind() == cp_kind::archive && modified[1]) {
        modified[1] = false;
        // The gathering information comes from the selected archive's fresh record.
        const ArchiveInfo& fresh = *d->archive;
        currentArchive.Crawling = fresh.Crawling;
        currentArchive.Documents = fresh.Documents;
        currentArchive.Errors = fresh.Errors;
        currentArchive.LastRunStart = fresh.LastRunStart;
        currentArchive.LastRunEnd = fresh.LastRunEnd;
        currentArchive.NextRun = fresh.NextRun;
        FillArchiveGatheringInfo();
    }
    if (d->kind() == cp_kind::watch && modified[2]) {
        modified[2] = false;
        RefineWatchAnew();
    }
}

void WXControlPanelFrame::EnableByReadOnly(cp_kind kind, bool read_only) {
    const bool on = !read_only;
    switch (kind) {
    case cp_kind::source:
        sourceName->Enable(on);
        sourceDescription->Enable(on);
        for (size_t i : {1u, 2u, 3u})
            sourceNotebook->GetPage(i)->Enable(on);
        break;
    case cp_kind::archive:
        archiveName->Enable(on);
        archiveContact->Enable(on);
        archiveNotebook->GetPage(2)->Enable(on);
        archiveNotebook->GetPage(3)->Enable(on);
        break;
    case cp_kind::collection:
        collectionName->Enable(on);
        collectionDescription->Enable(on);
        collectionNotebook->GetPage(2)->Enable(on);
        collectionNotebook->GetPage(3)->Enable(on);
        break;
    case cp_kind::watch:
        watchName->Enable(on);
        watchDescription->Enable(on);
        watchFilter->Enable(on);
        watchFreshnessCheck->Enable(on);
        watchFreshness->Enable(on);
        watchFreshnessUnit->Enable(on);
        watchNotebook->GetPage(2)->Enable(on);
        break;
    default:
        break;
    }
}

void WXControlPanelFrame::SetSourceFilters(const std::vector<list_row>& rows) {
    filters->DeleteAllItems();
    for (const list_row& r : rows) {
        const long item =
            filters->InsertItem(filters->GetItemCount(), from_daemon(r.text), r.data == 1 ? 1 : 0);
        filters->SetItemData(item, r.data);
    }
}

void WXControlPanelFrame::ClearCookieParams() {
    for (long i = 0; i < cookieParams->GetItemCount(); ++i)
        delete reinterpret_cast<CookieParam*>(cookieParams->GetItemData(i));
    cookieParams->DeleteAllItems();
}

void WXControlPanelFrame::FillSourcePages() {
    const source_page p = source_page_from(currentSource.Configuration, docFilters);
    sourceId->SetLabel(wxString::Format("%d", currentSource.Source));
    sourceName->ChangeValue(from_daemon(p.name));
    sourceDescription->ChangeValue(from_daemon(p.description));
    fill_texts(seeds, p.seeds, 0);
    SetSourceFilters(p.filters);
    depthCheck->SetValue(p.depth_check);
    depth->SetValue(p.depth);
    checkRobots->SetValue(p.check_robots);
    sideMetadata->SetValue(p.side_metadata);
    exclusionBegin->ChangeValue(from_daemon(p.exclusion_begin));
    exclusionEnd->ChangeValue(from_daemon(p.exclusion_end));
    authType->SetSelection(p.auth_type);
    cookieUrl->ChangeValue(from_daemon(p.cookie_url));
    cookieAction->SetSelection(p.cookie_action);
    set_duration(nullptr, cookieFreshness, cookieFreshnessUnit, p.cookie_freshness);
    ClearCookieParams();
    for (const CookieParam& c : p.cookie_params) {
        const long item =
            cookieParams->InsertItem(cookieParams->GetItemCount(), from_daemon(c.Name));
        cookieParams->SetItem(item, 1, from_daemon(c.Value));
        cookieParams->SetItem(item, 2,
                              c.Type == COOKIE_USERNAME   ? _("Username")
                              : c.Type == COOKIE_PASSWORD ? _("Password")
                                                          : _("Other"));
        cookieParams->SetItemPtrData(item, reinterpret_cast<wxUIntPtr>(new CookieParam(c)));
    }
    fill_texts(preUrls, p.preurls, -1);
    pipeline->DeleteAllItems();
    for (const list_row& r : p.pipeline) {
        const long item =
            pipeline->InsertItem(pipeline->GetItemCount(), from_daemon(r.text), r.data > 0 ? 0 : 1);
        pipeline->SetItemData(item, r.data);
    }
    hiddenPipeline = p.hidden_pipeline;
    fill_acl(sourceAcl, p.acl);
}

void WXControlPanelFrame::FillArchivePages() {
    const archive_page p = archive_page_from(currentArchive.Configuration);
    archiveQuery->ChangeValue("");
    ResetSearchPage(search_page::archive);
    archiveId->SetLabel(wxString::Format("%d", currentArchive.Archive));
    archiveName->ChangeValue(from_daemon(p.name));
    archiveContact->ChangeValue(from_daemon(p.contact));
    archiveHistoricize->SetLabel(currentArchive.Configuration.Historicize ? _("Yes") : _("No"));
    pagesLimitCheck->SetValue(p.pages_limit_check);
    pagesLimit->SetValue(p.pages_limit);
    if (p.frequency >= 0) {
        scheduled->SetValue(p.scheduled);
        scheduleFrequency->SetSelection(p.frequency);
    }
    ShowScheduleRule(scheduleFrequency->GetSelection(), p.every);
    scheduleEvery->SetValue(p.every);
    scheduleStart->SetValue(p.start);
    set_duration(removeOld, ageLimit, ageLimitUnit, p.age_limit);
    documentCache->SetSelection(p.cache);
    fill_acl(archiveAcl, p.acl);
}

void WXControlPanelFrame::FillArchiveGatheringInfo() {
    const ArchiveInfo& a = currentArchive;
    archiveStatus->SetLabel(a.Crawling ? _("Gathering") : _("Idle"));
    archiveLastRun->SetLabel(time_text(a.LastRunStart) + " / " + time_text(a.LastRunEnd));
    archiveDocs->SetLabel(wxString::Format("%d / %d", a.Documents, a.Errors));
    archiveNextRun->SetLabel(time_text(a.NextRun));
    addToCollection->Clear();
    addToCollection->Append(_("<New Collection...>"));
    addToCollection->SetSelection(0);
    std::vector<const CollectionInfo*> offered;
    for (const CollectionInfo& c : collections) {
        const auto& ids = c.Configuration.Archives;
        if (c.Collection > 0 && std::find(ids.begin(), ids.end(), a.Archive) == ids.end())
            offered.push_back(&c);
    }
    std::stable_sort(offered.begin(), offered.end(),
                     [](const CollectionInfo* x, const CollectionInfo* y) {
                         return x->Configuration.Name < y->Configuration.Name;
                     });
    for (const CollectionInfo* c : offered)
        addToCollection->Append(from_daemon(c->Configuration.Name),
                                reinterpret_cast<void*>(static_cast<wxIntPtr>(c->Collection)));
}

void WXControlPanelFrame::FillCollectionPages() {
    const collection_page p =
        collection_page_from(currentCollection.Configuration, archives, sources);
    collectionQuery->ChangeValue("");
    ResetSearchPage(search_page::collection);
    collectionId->SetLabel(wxString::Format("%d", currentCollection.Collection));
    collectionName->ChangeValue(from_daemon(p.name));
    collectionDescription->ChangeValue(from_daemon(p.description));
    collectionArchives->DeleteAllItems();
    for (const auto& row : p.archives) {
        const long item = collectionArchives->InsertItem(collectionArchives->GetItemCount(),
                                                         from_daemon(row.name), 0);
        collectionArchives->SetItem(item, 1, from_daemon(row.source_description));
        collectionArchives->SetItemData(item, row.id);
    }
    hiddenArchives = p.hidden_archives;
    fill_acl(collectionAcl, p.acl);
}

void WXControlPanelFrame::FillWatchPages() {
    const watch_page p = watch_page_from(currentWatch.Configuration);
    watchQuery->ChangeValue("");
    ResetSearchPage(search_page::watch);
    watchId->SetLabel(wxString::Format("%d", currentWatch.Watch));
    watchName->ChangeValue(from_daemon(p.name));
    watchDescription->ChangeValue(from_daemon(p.description));
    watchFilter->ChangeValue(from_daemon(p.filter));
    set_duration(watchFreshnessCheck, watchFreshness, watchFreshnessUnit, p.freshness);
    fill_acl(watchAcl, p.acl);
}

source_page WXControlPanelFrame::ReadSourcePage() const {
    source_page p;
    p.name = to_daemon(sourceName->GetValue());
    p.description = to_daemon(sourceDescription->GetValue());
    p.seeds = read_texts(seeds);
    for (long i = 0; i < filters->GetItemCount(); ++i)
        p.filters.push_back(
            {to_daemon(filters->GetItemText(i)), static_cast<long>(filters->GetItemData(i))});
    p.depth_check = depthCheck->GetValue();
    p.depth = depth->GetValue();
    p.check_robots = checkRobots->GetValue();
    p.side_metadata = sideMetadata->GetValue();
    p.exclusion_begin = to_daemon(exclusionBegin->GetValue());
    p.exclusion_end = to_daemon(exclusionEnd->GetValue());
    p.auth_type = authType->GetSelection();
    p.cookie_url = to_daemon(cookieUrl->GetValue());
    p.cookie_action = cookieAction->GetSelection();
    p.cookie_freshness = read_duration(nullptr, cookieFreshness, cookieFreshnessUnit);
    for (long i = 0; i < cookieParams->GetItemCount(); ++i)
        if (auto* c = reinterpret_cast<CookieParam*>(cookieParams->GetItemData(i)))
            p.cookie_params.push_back(*c);
    p.preurls = read_texts(preUrls);
    for (long i = 0; i < pipeline->GetItemCount(); ++i)
        p.pipeline.push_back(
            {to_daemon(pipeline->GetItemText(i)), static_cast<long>(pipeline->GetItemData(i))});
    p.hidden_pipeline = hiddenPipeline;
    p.acl = read_acl(sourceAcl);
    return p;
}

archive_page WXControlPanelFrame::ReadArchivePage() const {
    archive_page p;
    p.name = to_daemon(archiveName->GetValue());
    p.contact = to_daemon(archiveContact->GetValue());
    p.pages_limit_check = pagesLimitCheck->GetValue();
    p.pages_limit = pagesLimit->GetValue();
    p.scheduled = scheduled->GetValue();
    p.frequency = scheduleFrequency->GetSelection();
    p.every = scheduleEvery->GetValue();
    p.start = scheduleStart->GetValue();
    p.age_limit = read_duration(removeOld, ageLimit, ageLimitUnit);
    p.cache = documentCache->GetSelection();
    p.acl = read_acl(archiveAcl);
    return p;
}

collection_page WXControlPanelFrame::ReadCollectionPage() const {
    collection_page p;
    p.name = to_daemon(collectionName->GetValue());
    p.description = to_daemon(collectionDescription->GetValue());
    for (long i = 0; i < collectionArchives->GetItemCount(); ++i)
        p.archives.push_back({to_daemon(collectionArchives->GetItemText(i)), "",
                              static_cast<std::int32_t>(collectionArchives->GetItemData(i))});
    p.hidden_archives = hiddenArchives;
    p.acl = read_acl(collectionAcl);
    return p;
}

watch_page WXControlPanelFrame::ReadWatchPage() const {
    watch_page p;
    p.name = to_daemon(watchName->GetValue());
    p.description = to_daemon(watchDescription->GetValue());
    p.filter = to_daemon(watchFilter->GetValue());
    p.freshness = read_duration(watchFreshnessCheck, watchFreshness, watchFreshnessUnit);
    p.acl = read_acl(watchAcl);
    return p;
}

void WXControlPanelFrame::AddSeed(const wxString& url) {
    seeds->InsertItem(seeds->GetItemCount(), url, 0);
    modified[0] = true;
}

// ---------------------------------------------------------------------------------------
// Apply

void WXControlPanelFrame::OnApply(wxCommandEvent&) {
    cp_services* services = get_cp_services();
    auto call = [&](auto&& set) {
        if (!proxy) RecreateProxy();
        if (!proxy) return;
        wxBusyCursor busy;
        try {
            set();
        } catch (const EasySoap::SOAPException& e) {
            if (services != nullptr) services->ReportSoapError(e, this);
        }
    };
    if (currentSource.Source >= 1) {
        source_page page = ReadSourcePage();
        if (add_default_include_filters(page)) {
            SetSourceFilters(page.filters);
            wxMessageBox(_("Default include filters for the current seeds have been added.\nPlease "
                           "review them before starting gathering documents."),
                         _("Include filters"), wxOK | wxICON_INFORMATION, this);
        }
        currentSource.Configuration = source_from_page(page, currentSource.Configuration);
        call([&] {
            SourceInfo answer;
            proxy->SetSourceConfiguration(currentSource.Source, currentSource.Configuration,
                                          currentSource.Magic, answer);
            currentSource = answer;
            for (SourceInfo& s : sources)
                if (answer.Source >= 1 && s.Source == answer.Source) s = answer;
        });
    } else if (currentArchive.Archive >= 1) {
        currentArchive.Configuration =
            archive_from_page(ReadArchivePage(), currentArchive.Configuration);
        call([&] {
            ArchiveInfo answer;
            proxy->SetArchiveConfiguration(currentArchive.Archive, currentArchive.Configuration,
                                           currentArchive.Magic, answer);
            currentArchive = answer;
            for (ArchiveInfo& a : archives)
                if (answer.Archive >= 1 && a.Archive == answer.Archive) a = answer;
        });
    } else if (currentCollection.Collection >= 1) {
        currentCollection.Configuration =
            collection_from_page(ReadCollectionPage(), currentCollection.Configuration);
        call([&] {
            CollectionInfo answer;
            proxy->SetCollectionConfiguration(currentCollection.Collection,
                                              currentCollection.Configuration,
                                              currentCollection.Magic, answer);
            currentCollection = answer;
            for (CollectionInfo& c : collections)
                if (answer.Collection >= 1 && c.Collection == answer.Collection) c = answer;
        });
    } else if (currentWatch.Watch >= 1) {
        currentWatch.Configuration = watch_from_page(ReadWatchPage(), currentWatch.Configuration);
        call([&] {
            WatchInfo answer;
            proxy->SetWatchConfiguration(currentWatch.Watch, currentWatch.Configuration,
                                         currentWatch.Magic, answer);
            currentWatch = answer;
            for (WatchInfo& w : watches)
                if (answer.Watch >= 1 && w.Watch == answer.Watch) w = answer;
        });
    }
    modified[0] = false;
    modified[1] = modified[2] = true;
    // The page display reloads the object on show from the lists.
    currentSource.Source = 0;
    currentArchive.Archive = 0;
    currentCollection.Collection = 0;
    currentWatch.Watch = 0;
    RefreshTrees();
}

// ---------------------------------------------------------------------------------------
// Enabling

frame_enable_state WXControlPanelFrame::EnableState() const {
    frame_enable_state s;
    s.can_historicize = canHistoricize;
    s.is_admin = isAdmin;
    s.can_browsing_write = canBrowsingWrite;
    s.can_crawling_write = canCrawlingWrite;
    s.source_id = currentSource.Source;
    s.source_read_only = currentSource.ReadOnly;
    s.archive_id = currentArchive.Archive;
    s.archive_read_only = currentArchive.ReadOnly;
    s.collection_id = currentCollection.Collection;
    s.collection_read_only = currentCollection.ReadOnly;
    s.watch_id = currentWatch.Watch;
    s.watch_read_only = currentWatch.ReadOnly;
    if (WXCPTreeItemData* d = SelectedData(1, cp_kind::archive))
        s.selected_archive_crawling = d->archive->Crawling ? 1 : 0;
    for (const SourceInfo& src : sources)
        if (currentArchive.Archive > 0 && src.Source == currentArchive.Configuration.Source)
            s.archive_source_auth = static_cast<int>(src.Configuration.Type);
    s.modified = modified[0];
    s.seeds_selected = selected_count(seeds);
    s.filters_selected = selected_count(filters);
    s.cookie_params_selected = selected_count(cookieParams);
    s.preurls_selected = selected_count(preUrls);
    s.acl_selected[0] = selected_count(sourceAcl);
    s.acl_selected[1] = selected_count(archiveAcl);
    s.acl_selected[2] = selected_count(collectionAcl);
    s.acl_selected[3] = selected_count(watchAcl);
    s.pipeline_selected = selected_count(pipeline);
    s.pipeline_first_selected =
        static_cast<int>(pipeline->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED));
    s.pipeline_rows = pipeline->GetItemCount();
    s.scheduled = scheduled->GetValue();
    s.remove_old = removeOld->GetValue();
    s.pages_limit = pagesLimitCheck->GetValue();
    s.depth_limit = depthCheck->GetValue();
    s.watch_freshness = watchFreshnessCheck->GetValue();
    s.auth_type_selection = authType->GetSelection();
    s.results_selected[0] =
        archiveResults->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED) >= 0;
    s.results_selected[1] =
        collectionResults->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED) >= 0;
    s.results_selected[2] =
        watchResults->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED) >= 0;
    return s;
}

void WXControlPanelFrame::OnUpdateEnable(wxUpdateUIEvent& event) {
    event.Enable(command_enabled(event.GetId(), EnableState()));
}

} // namespace lumbrake
