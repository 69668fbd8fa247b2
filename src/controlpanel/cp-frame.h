// The control panel's main window: menus, the four trees of sources, archives, collections
// and watches on the left, the pages of the object on show on the right, the background
// updater thread and the 100 ms timer that takes its results.
#pragma once

#include "api/info-records.h"
#include "client/soap-client-proxy.h"
#include "cpmodel/apply-model.h"
#include "cpmodel/frame-enabling.h"
#include "cpmodel/search-model.h"
#include "cpmodel/trees-model.h"

#include <functional>
#include <memory>
#include <optional>

#include <wx/frame.h>
#include <wx/listctrl.h>
#include <wx/spinctrl.h>
#include <wx/timer.h>
#include <wx/treectrl.h>

class wxCheckBox;
class wxChoice;
class wxListCtrl;
class wxNotebook;
class wxPanel;
class wxProgressDialog;
class wxSizer;
class wxSpinCtrl;
class wxSplitterWindow;
class wxStaticText;
class wxTextCtrl;
class wxButton;

namespace lumbrake {

class WXControlPanelUpdaterThread;

// The data of a tree node: the object's name when the node was made, one copy of its record,
// and the generation of the last fill that confirmed it.
class WXCPTreeItemData : public wxTreeItemData {
public:
    explicit WXCPTreeItemData(std::string name) : name(std::move(name)) {}
    cp_kind kind() const;
    int id() const;

    std::string name;
    std::unique_ptr<SourceInfo> source;
    std::unique_ptr<ArchiveInfo> archive;
    std::unique_ptr<CollectionInfo> collection;
    std::unique_ptr<WatchInfo> watch;
    int stamp = 0;
};

class WXControlPanelFrame : public wxFrame {
public:
    WXControlPanelFrame();
    ~WXControlPanelFrame() override;

    // What tests and the other windows of the control panel look at.
    wxTreeCtrl* tree(int index) const { return trees_[index]; }
    wxNotebook* trees_notebook() const { return treesNotebook; }
    wxTextCtrl* filter_text() const { return filterText; }
    int shown_panel() const { return shownPanel; }
    bool is_modified() const { return modified[0]; }
    const SourceInfo& current_source() const { return currentSource; }
    const ArchiveInfo& current_archive() const { return currentArchive; }
    const CollectionInfo& current_collection() const { return currentCollection; }
    const WatchInfo& current_watch() const { return currentWatch; }
    const std::vector<SourceInfo>& source_list() const { return sources; }
    const std::vector<ArchiveInfo>& archive_list() const { return archives; }
    wxNotebook* kind_notebook(cp_kind kind) const;
    wxTextCtrl* name_field(cp_kind kind) const;

    void RefreshTrees();
    void RecreateProxy();
    void OnApply(wxCommandEvent& event);

private:
    // Layout.
    void BuildMenus();
    wxPanel* BuildTreePanel();
    wxPanel* BuildSourcePanel();
    wxPanel* BuildArchivePanel();
    wxPanel* BuildCollectionPanel();
    wxPanel* BuildWatchPanel();
    wxPanel* BuildQueryPage(wxWindow* parent, bool collection);
    wxPanel* BuildAclPage(wxWindow* parent, int list_id, wxListCtrl*& list);

    // Trees.
    wxTreeItemId FillTree(int index, const std::vector<tree_row>& rows, int select_id);
    void SetNodeRecord(WXCPTreeItemData& data, const tree_row& row);
    void PruneTree(wxTreeCtrl* tree, const wxTreeItemId& parent, int generation);
    WXCPTreeItemData* SelectedData(int index, cp_kind kind) const;

    // Pages.
    void FillSourcePages();
    void FillArchivePages();
    void FillArchiveGatheringInfo();
    void FillCollectionPages();
    void FillWatchPages();
    void EnableByReadOnly(cp_kind kind, bool read_only);
    void ShowPanel(int code);
    source_page ReadSourcePage() const;
    archive_page ReadArchivePage() const;
    collection_page ReadCollectionPage() const;
    watch_page ReadWatchPage() const;
    void SetSourceFilters(const std::vector<list_row>& filters);
    void ClearCookieParams();
    frame_enable_state EnableState() const;

    // Handlers.
    void OnTimer(wxTimerEvent& event);
    void OnRefresh(wxCommandEvent& event);
    void OnSetup(wxCommandEvent& event);
    void OnStatus(wxCommandEvent& event);
    void OnExit(wxCommandEvent& event);
    void OnAbout(wxCommandEvent& event);
    void OnRevert(wxCommandEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnFilterChanged(wxCommandEvent& event);
    void OnModified(wxCommandEvent& event);
    void OnSpinModified(wxSpinEvent& event);
    void OnSyncPages(wxUpdateUIEvent& event);
    void OnUpdateEnable(wxUpdateUIEvent& event);
    void OnBeginLabelEdit(wxTreeEvent& event);
    void OnEndLabelEdit(wxTreeEvent& event);
    // Entries of commands whose handlers come with other windows: nothing happens yet.
    void OnPendingCommand(wxCommandEvent& event);
    void OnPendingTree(wxTreeEvent& event);
    void OnPendingList(wxListEvent& event);
    void OnPendingContextMenu(wxContextMenuEvent& event);

    // Frame commands, tree navigation, creating and deleting, the context menu
    // (cp-frame-commands.cc).
    void OnUsersAndSecurity(wxCommandEvent& event);
    void OnManual(wxCommandEvent& event);
    void OnStartGathering(wxCommandEvent& event);
    void OnStopGathering(wxCommandEvent& event);
    void OnLogs(wxCommandEvent& event);
    void OnTreeSelChanging(wxTreeEvent& event);
    void OnNewSource(wxCommandEvent& event);
    void OnDeleteSource(wxCommandEvent& event);
    void OnNewArchive(wxCommandEvent& event);
    void OnDeleteArchive(wxCommandEvent& event);
    void OnNewCollection(wxCommandEvent& event);
    void OnDeleteCollection(wxCommandEvent& event);
    void OnNewWatch(wxCommandEvent& event);
    void OnDeleteWatch(wxCommandEvent& event);
    void OnAddToCollection(wxCommandEvent& event);
    void OnPlugins(wxCommandEvent& event);
    void OnTreeContextMenu(wxContextMenuEvent& event);
    void ChangeCrawl(bool start);
    bool EnsureProxy();
    void ApplyPending();
    void ShowNewObject(cp_kind kind);
    void SetPending(cp_kind kind, int id);
    // Runs one Add call (it answers the new id, 0 when none); the new object is selected.
    void CreateObject(cp_kind kind, const std::function<int(SoapClientProxy&)>& add);
    bool ConfirmDelete(const wxString& question);
    void ForgetShown(cp_kind kind, int id);
    // Sends the removal; on success drops the record from its list and from the pages.
    bool RemoveObject(cp_kind kind, int id,
                      const std::function<void(SoapClientProxy&)>& remove);
    // The command ids of the last tree context menu (empty when none opened), for tests.
    std::vector<int> contextMenuIds;
    friend struct frame_event_table_check;

public:
    const std::vector<int>& last_context_menu() const { return contextMenuIds; }
    const std::vector<CollectionInfo>& collection_list() const { return collections; }
    const std::vector<WatchInfo>& watch_list() const { return watches; }

private:
    // -------------------------------------------------------------------------------------

    // Editing the lists of the pages and the archive's authentication (cp-frame-lists.cc).
    void OnSeedAdd(wxCommandEvent& event);
    void OnSeedEdit(wxCommandEvent& event);
    void OnSeedActivated(wxListEvent& event);
    void OnSeedRemove(wxCommandEvent& event);
    void OnSeedBrowse(wxCommandEvent& event);
    void OnFilterAdd(wxCommandEvent& event);
    void OnFilterEdit(wxCommandEvent& event);
    void OnFilterActivated(wxListEvent& event);
    void OnFilterRemove(wxCommandEvent& event);
    void EditFilter();
    void OnCookieUrlEdit(wxCommandEvent& event);
    void OnCookieParamAdd(wxCommandEvent& event);
    void OnCookieParamEdit(wxCommandEvent& event);
    void OnCookieParamActivated(wxListEvent& event);
    void OnCookieParamRemove(wxCommandEvent& event);
    void EditCookieParam();
    void SetCookieParamRow(long row, const CookieParam& param);
    void OnPreUrlAdd(wxCommandEvent& event);
    void OnPreUrlEdit(wxCommandEvent& event);
    void OnPreUrlActivated(wxListEvent& event);
    void OnPreUrlRemove(wxCommandEvent& event);
    // One handler per action for the four ACL pages; the event's id names the page.
    void OnAclAdd(wxCommandEvent& event);
    void OnAclEdit(wxCommandEvent& event);
    void OnAclActivated(wxListEvent& event);
    void OnAclRemove(wxCommandEvent& event);
    wxListCtrl* AclList(int id) const;
    void EditAcl(wxListCtrl* list);
    void SetAclRow(wxListCtrl* list, long row, const wxString& name, std::uint32_t mask);
    std::vector<wxString> AclNames() const;
    void OnCollectionArchivesEdit(wxCommandEvent& event);
    void OnPipelineSelected(wxListEvent& event);
    void OnPipelineDeselected(wxListEvent& event);
    void OnPluginEnabled(wxCommandEvent& event);
    void OnPluginUp(wxCommandEvent& event);
    void OnPluginDown(wxCommandEvent& event);
    void MovePlugin(int step);
    void OnScheduleFrequency(wxCommandEvent& event);
    void OnUpdateScheduleFrequency(wxUpdateUIEvent& event);
    // Label and spin range of the "When:" value for `frequency`; a stored value is kept in
    // range while a record fills the page.
    void ShowScheduleRule(int frequency, std::optional<int> stored);
    void OnEditAuthentication(wxCommandEvent& event);

    wxStaticText* pluginDescription = nullptr;
    wxCheckBox* pluginEnabled = nullptr;
    wxStaticText* scheduleLabel = nullptr;
    int scheduleShown = -1; // the frequency whose label and range the page shows

    // -------------------------------------------------------------------------------------

    // Searching, the query pages and their result lists (cp-frame-search.cc).
public:
    // The controls and data of one searching page: archive "Query", collection "Query",
    // watch "Results" (indexed by search_page). Row i of `list` shows `results[i]`.
    struct query_page {
        wxTextCtrl* query = nullptr;
        wxListCtrl* list = nullptr;
        wxTextCtrl* context = nullptr;
        // Archive and collection pages only.
        wxCheckBox* advanced = nullptr;
        wxChoice* sort = nullptr;
        wxTextCtrl *from = nullptr, *to = nullptr;
        wxSizer *sizer = nullptr, *advancedRow = nullptr;
        std::vector<QueryResult> results;
        std::vector<QuerySliceWeight> weights;
    };
    const query_page& search_page_state(search_page page) const {
        return queryPages[static_cast<int>(page)];
    }
    // Selecting a watch: "Watch default", no refining text, and its results from the start.
    void RefineWatchAnew();

private:
    void OnArchiveQueryChanged(wxCommandEvent& event);
    void OnCollectionQueryChanged(wxCommandEvent& event);
    void OnWatchQueryChanged(wxCommandEvent& event);
    void OnArchiveSearch(wxCommandEvent& event);
    void OnCollectionSearch(wxCommandEvent& event);
    void OnWatchRefine(wxCommandEvent& event);
    void OnWatchPeriodChanged(wxCommandEvent& event);
    void OnSaveAsWatch(wxCommandEvent& event);
    void OnAdvancedOptions(wxCommandEvent& event);
    void OnArchiveSetDate(wxCommandEvent& event);
    void OnCollectionSetDate(wxCommandEvent& event);
    void OnArchiveWeights(wxCommandEvent& event);
    void OnCollectionWeights(wxCommandEvent& event);
    void OnArchiveResultSelected(wxListEvent& event);
    void OnCollectionResultSelected(wxListEvent& event);
    void OnWatchResultSelected(wxListEvent& event);
    void OnResultDeselected(wxListEvent& event);
    void OnOpenCachedDocument(wxCommandEvent& event);
    void OnOpenLiveDocument(wxCommandEvent& event);
    void OnCopyWatchUrl(wxCommandEvent& event);
    void ResetSearchPage(search_page page);
    void RunSearch(search_page page);
    void SetDateRange(search_page page);
    void ShowContexts(search_page page);
    const QueryResult* SelectedResult(search_page page);

    query_page queryPages[3];

    // -------------------------------------------------------------------------------------

public:
    // Used by the URL drop target: a confirmed URL becomes the last seed.
    void AddSeed(const wxString& url);

private:
    friend class WXSeedDropTarget;

    wxTimer* timer = nullptr;
    WXControlPanelUpdaterThread* updaterThread = nullptr;
    wxProgressDialog* progressDialog = nullptr;
    int shownPanel = 0;
    std::unique_ptr<SoapClientProxy> proxy;
    std::vector<SourceInfo> sources;
    std::vector<ArchiveInfo> archives;
    std::vector<CollectionInfo> collections;
    std::vector<WatchInfo> watches;
    std::vector<DocFilterInfo> docFilters;
    std::vector<std::string> principalNames;
    bool canHistoricize = false, isAdmin = false, canBrowsingWrite = false,
         canCrawlingWrite = false;
    SourceInfo currentSource;
    ArchiveInfo currentArchive;
    CollectionInfo currentCollection;
    WatchInfo currentWatch;
    pending_selection pending;
    bool modified[3] = {false, false, false};
    int archiveQueryFrom = 0, archiveQueryTo = 1924991999;
    int collectionQueryFrom = 0, collectionQueryTo = 1924991999;
    // What the pages cannot show of the record on show, sent back unchanged.
    std::vector<std::int32_t> hiddenPipeline, hiddenArchives;
    int generations_[4] = {0, 0, 0, 0};

    // Windows.
    wxSplitterWindow* splitter = nullptr;
    wxPanel* treePanel = nullptr;
    wxTextCtrl* filterText = nullptr;
    wxNotebook* treesNotebook = nullptr;
    wxTreeCtrl* trees_[4] = {nullptr, nullptr, nullptr, nullptr};
    wxPanel* emptyPanel = nullptr;
    wxPanel* sourcePanel = nullptr;
    wxPanel* archivePanel = nullptr;
    wxPanel* collectionPanel = nullptr;
    wxPanel* watchPanel = nullptr;
    wxNotebook* sourceNotebook = nullptr;
    wxNotebook* archiveNotebook = nullptr;
    wxNotebook* collectionNotebook = nullptr;
    wxNotebook* watchNotebook = nullptr;

    // Source pages.
    wxStaticText* sourceId = nullptr;
    wxTextCtrl *sourceName = nullptr, *sourceDescription = nullptr;
    wxListCtrl *seeds = nullptr, *filters = nullptr;
    wxCheckBox *depthCheck = nullptr, *checkRobots = nullptr, *sideMetadata = nullptr;
    wxSpinCtrl* depth = nullptr;
    wxTextCtrl *exclusionBegin = nullptr, *exclusionEnd = nullptr;
    wxChoice* authType = nullptr;
    wxTextCtrl* cookieUrl = nullptr;
    wxChoice *cookieAction = nullptr, *cookieFreshnessUnit = nullptr;
    wxSpinCtrl* cookieFreshness = nullptr;
    wxListCtrl *cookieParams = nullptr, *preUrls = nullptr, *pipeline = nullptr;
    wxListCtrl* sourceAcl = nullptr;

    // Archive pages.
    wxTextCtrl* archiveQuery = nullptr;
    wxListCtrl* archiveResults = nullptr;
    wxStaticText *archiveId = nullptr, *archiveHistoricize = nullptr, *archiveStatus = nullptr,
                 *archiveLastRun = nullptr, *archiveDocs = nullptr, *archiveNextRun = nullptr;
    wxTextCtrl *archiveName = nullptr, *archiveContact = nullptr;
    wxChoice* addToCollection = nullptr;
    wxCheckBox *pagesLimitCheck = nullptr, *scheduled = nullptr, *removeOld = nullptr;
    wxSpinCtrl *pagesLimit = nullptr, *scheduleEvery = nullptr, *scheduleStart = nullptr,
               *ageLimit = nullptr;
    wxChoice *scheduleFrequency = nullptr, *ageLimitUnit = nullptr, *documentCache = nullptr;
    wxListCtrl* archiveAcl = nullptr;

    // Collection pages.
    wxTextCtrl* collectionQuery = nullptr;
    wxListCtrl* collectionResults = nullptr;
    wxStaticText* collectionId = nullptr;
    wxTextCtrl *collectionName = nullptr, *collectionDescription = nullptr;
    wxListCtrl *collectionArchives = nullptr, *collectionAcl = nullptr;

    // Watch pages.
    wxTextCtrl* watchQuery = nullptr;
    wxChoice* watchResultsFreshness = nullptr;
    wxListCtrl* watchResults = nullptr;
    wxStaticText* watchId = nullptr;
    wxTextCtrl *watchName = nullptr, *watchDescription = nullptr, *watchFilter = nullptr;
    wxCheckBox* watchFreshnessCheck = nullptr;
    wxSpinCtrl* watchFreshness = nullptr;
    wxChoice* watchFreshnessUnit = nullptr;
    wxListCtrl* watchAcl = nullptr;

    wxDECLARE_EVENT_TABLE();
};

} // namespace lumbrake
