// The main window's construction: menus, trees, the five right-hand panels and their pages.
#include "controlpanel/cp-frame.h"

#include "controlpanel/drop-target.h"
#include "controlpanel/updater-thread.h"
#include "controlpanel/cp-settings.h"
#include "cpdialogs/cp-services.h"
#include "cpmodel/frame-ids.h"

#include <algorithm>

#include <wx/accel.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/dcmemory.h>
#include <wx/gdicmn.h>
#include <wx/imaglist.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/progdlg.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/splitter.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>
#include <wx/wrapsizer.h>

#include "controlpanel/trawlnest.xpm"

namespace lumbrake {

cp_kind WXCPTreeItemData::kind() const {
    if (source) return cp_kind::source;
    if (archive) return cp_kind::archive;
    if (collection) return cp_kind::collection;
    if (watch) return cp_kind::watch;
    return cp_kind::none;
}

int WXCPTreeItemData::id() const {
    if (source) return source->Source;
    if (archive) return archive->Archive;
    if (collection) return collection->Collection;
    if (watch) return watch->Watch;
    return 0;
}

namespace {

// The 16 x 16 pictures of the trees and lists: a coloured tile with the kind's letter; the
// "alias" pictures (a related object under another) are drawn lighter.
wxBitmap tile(const wxColour& colour, const wxString& letter, bool alias) {
    wxBitmap bmp(16, 16);
    {
        wxMemoryDC dc(bmp);
        dc.SetBackground(*wxWHITE_BRUSH);
        dc.Clear();
        dc.SetBrush(wxBrush(alias ? colour.ChangeLightness(160) : colour));
        dc.SetPen(wxPen(colour.ChangeLightness(60)));
        dc.DrawRoundedRectangle(1, 1, 14, 14, 3);
        dc.SetTextForeground(alias ? colour.ChangeLightness(40) : *wxWHITE);
        wxFont font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
        font.SetPixelSize(wxSize(0, 10));
        font.MakeBold();
        dc.SetFont(font);
        const wxSize ext = dc.GetTextExtent(letter);
        dc.DrawText(letter, (16 - ext.x) / 2, (16 - ext.y) / 2);
    }
    bmp.SetMask(new wxMask(bmp, *wxWHITE));
    return bmp;
}

wxBitmap image(const char* name) {
    const wxString n(name);
    const bool alias = n.EndsWith("_alias");
    if (n.StartsWith("source")) return tile(wxColour(46, 110, 180), "S", alias);
    if (n.StartsWith("archive")) return tile(wxColour(170, 100, 30), "A", alias);
    if (n.StartsWith("collection")) return tile(wxColour(40, 140, 70), "C", alias);
    if (n.StartsWith("watch")) return tile(wxColour(130, 60, 160), "W", alias);
    if (n == "includefilter") return tile(wxColour(40, 140, 70), "+", false);
    return tile(wxColour(190, 40, 40), "-", false); // excludefilter
}

wxImageList* images(std::initializer_list<const char*> names) {
    auto* list = new wxImageList(16, 16, true);
    for (const char* n : names)
        list->Add(image(n));
    return list;
}

wxStaticText* value_label(wxWindow* parent) {
    return new wxStaticText(parent, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                            wxST_NO_AUTORESIZE);
}

wxStaticText* label(wxWindow* parent, const wxString& text) {
    return new wxStaticText(parent, wxID_ANY, text);
}

void add_label(wxSizer* sizer, wxWindow* parent, const wxString& text) {
    sizer->Add(label(parent, text), 0, wxALIGN_CENTER_VERTICAL | wxALL, 4);
}

wxStaticText* explanation(wxWindow* parent, const wxString& text) {
    // The height follows the wrapped text, so the last line is never cut off.
    auto* t = new wxStaticText(parent, wxID_ANY, text);
    t->Wrap(230);
    return t;
}

// GTK spin buttons need more room than the fixed widths of other toolkits: the width is
// the control's own.
wxSpinCtrl* spin(wxWindow* parent, int id, int width, int min, int max) {
    auto* s = new wxSpinCtrl(parent, id, "0", wxDefaultPosition, wxSize(width, -1), wxSP_ARROW_KEYS,
                             0, 100, 0);
    s->SetRange(min, max);
    return s;
}

wxListCtrl* list(wxWindow* parent, int id, std::initializer_list<std::pair<wxString, int>> cols) {
    auto* l =
        new wxListCtrl(parent, id, wxDefaultPosition, wxDefaultSize, wxLC_REPORT | wxLC_SINGLE_SEL);
    int i = 0;
    for (const auto& [title, width] : cols)
        l->InsertColumn(i++, title, wxLIST_FORMAT_LEFT, width);
    return l;
}

wxSizer* button_row(wxWindow* parent, std::initializer_list<std::pair<int, wxString>> buttons) {
    auto* row = new wxGridSizer(1, static_cast<int>(buttons.size()), 0, 4);
    for (const auto& [id, text] : buttons)
        row->Add(new wxButton(parent, id, text), 0, wxEXPAND);
    return row;
}

wxSizer* apply_row(wxWindow* parent) {
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->AddStretchSpacer();
    row->Add(new wxButton(parent, ID_APPLY, _("Apply")), 0, wxRIGHT, 4);
    row->Add(new wxButton(parent, ID_REVERT, _("Revert")));
    return row;
}

// A group with an explanation and one right-aligned button (create and delete groups).
wxSizer* action_group(wxWindow* parent, const wxString& title, const wxString& text, int id,
                      const wxString& button, wxWindow* extra = nullptr) {
    auto* box = new wxStaticBoxSizer(wxVERTICAL, parent, title);
    box->Add(explanation(box->GetStaticBox(), text), 0, wxEXPAND | wxALL, 4);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->AddStretchSpacer();
    row->Add(new wxButton(box->GetStaticBox(), id, button), 0, wxRIGHT, 4);
    if (extra != nullptr) {
        extra->Reparent(box->GetStaticBox());
        row->Add(extra, 0, wxALIGN_CENTER_VERTICAL);
    }
    box->Add(row, 0, wxEXPAND | wxALL, 4);
    return box;
}

wxSizer* two_groups(wxSizer* a, wxSizer* b) {
    auto* row = new wxGridSizer(1, 2, 0, 4);
    row->Add(a, 1, wxEXPAND);
    row->Add(b, 1, wxEXPAND);
    return row;
}

wxFlexGridSizer* form(int columns) {
    auto* f = new wxFlexGridSizer(columns, 0, 0);
    f->AddGrowableCol(columns == 2 ? 1 : 1);
    return f;
}

// The form of an Info page: "ID:" as a value label, then one text field per entry.
struct info_field {
    wxString label;
    int id;
    wxTextCtrl** out;
};
wxFlexGridSizer* info_form(wxWindow* box, wxStaticText*& id,
                           std::initializer_list<info_field> fields) {
    auto* f = form(2);
    add_label(f, box, _("ID:"));
    id = value_label(box);
    f->Add(id, 1, wxEXPAND | wxALL, 4);
    for (const info_field& field : fields) {
        add_label(f, box, field.label);
        *field.out = new wxTextCtrl(box, field.id, "");
        f->Add(*field.out, 1, wxEXPAND | wxALL, 4);
    }
    return f;
}

// The rest of an Info page: its two action groups side by side, then Apply and Revert.
void finish_info_page(wxPanel* page, wxBoxSizer* v, wxSizer* actions) {
    v->Add(actions, 0, wxEXPAND | wxALL, 4);
    v->AddStretchSpacer();
    v->Add(apply_row(page), 0, wxEXPAND | wxALL, 4);
    page->SetSizer(v);
}

wxArrayString choices(std::initializer_list<wxString> items) {
    wxArrayString a;
    for (const wxString& s : items)
        a.Add(s);
    return a;
}

} // namespace

WXControlPanelFrame::WXControlPanelFrame() {
    SetExtraStyle(0x40);
    Create(nullptr, wxID_ANY, "trawlnest control panel", wxDefaultPosition, wxDefaultSize,
           wxDEFAULT_FRAME_STYLE | wxCLIP_CHILDREN);
    SetIcon(wxIcon(trawlnest_xpm));

    updaterThread = new WXControlPanelUpdaterThread();
    if (updaterThread->Create() != wxTHREAD_NO_ERROR || updaterThread->Run() != wxTHREAD_NO_ERROR) {
        delete updaterThread;
        updaterThread = nullptr;
    }

    BuildMenus();
    wxAcceleratorEntry accel(wxACCEL_NORMAL, WXK_F5, ID_REFRESH);
    SetAcceleratorTable(wxAcceleratorTable(1, &accel));
    CreateStatusBar(1, wxSTB_SIZEGRIP | wxFULL_REPAINT_ON_RESIZE, 0);

    splitter = new wxSplitterWindow(this, ID_SPLITTER, wxDefaultPosition, wxDefaultSize,
                                    wxSP_3D | wxSP_LIVE_UPDATE);
    treePanel = BuildTreePanel();
    emptyPanel = new wxPanel(splitter, wxID_ANY);
    {
        auto* grid = new wxGridSizer(1, 1, 0, 0);
        grid->Add(new wxPanel(emptyPanel, wxID_ANY), 1, wxEXPAND);
        emptyPanel->SetSizer(grid);
    }
    sourcePanel = BuildSourcePanel();
    archivePanel = BuildArchivePanel();
    collectionPanel = BuildCollectionPanel();
    watchPanel = BuildWatchPanel();
    for (wxPanel* p : {emptyPanel, sourcePanel, archivePanel, collectionPanel, watchPanel}) {
        p->SetMinSize(wxSize(560, 500));
        p->Hide();
    }
    splitter->SetMinimumPaneSize(200);
    splitter->SplitVertically(treePanel, emptyPanel, 220);

    for (wxTreeCtrl* t : trees_)
        t->AddRoot("Root");

    auto* top = new wxFlexGridSizer(1, 1, 0, 0);
    top->AddGrowableCol(0);
    top->AddGrowableRow(0);
    top->Add(splitter, 1, wxEXPAND);
    SetSizer(top);
    // The first-run size leaves the seed and filter lists of "Gathering" a few visible rows
    // with GTK's tall controls and shows the result lists' three columns whole beside the
    // tree pane (a smaller screen gets what it has); the smallest size stays usable, and the
    // size is kept on exit.
    const wxRect screen = wxGetClientDisplayRect();
    SetSize(std::min(1140, screen.width), std::min(720, screen.height));
    SetMinSize(wxSize(800, 600));

    int count = 0;
    const int* ids = enabled_rule_ids(count);
    for (int i = 0; i < count; ++i)
        Bind(wxEVT_UPDATE_UI, &WXControlPanelFrame::OnUpdateEnable, this, ids[i]);

    RecreateProxy();
    wxCommandEvent refresh(wxEVT_MENU, ID_REFRESH);
    wxPostEvent(this, refresh);
    timer = new wxTimer(this, ID_TIMER);
    timer->Start(100);

    cp_settings_store::load_window_geometry(this, "MainFrame");
    cp_settings_store::load_splitter_position(splitter, "Splitter");
}

void WXControlPanelFrame::BuildMenus() {
    auto* file = new wxMenu;
    file->Append(ID_NEW_SOURCE, _("New &Source"));
    file->Append(ID_DELETE_SOURCE, _("Delete S&ource..."));
    file->AppendSeparator();
    file->Append(ID_NEW_ARCHIVE, _("New &Archive"));
    file->Append(ID_DELETE_ARCHIVE, _("Delete A&rchive..."));
    file->AppendSeparator();
    file->Append(ID_NEW_COLLECTION, _("New &Collection"));
    file->Append(ID_DELETE_COLLECTION, _("Delete Co&llection..."));
    file->AppendSeparator();
    file->Append(ID_NEW_WATCH, _("New &Watch"));
    file->Append(ID_DELETE_WATCH, _("Delete W&atch..."));
    file->AppendSeparator();
    file->Append(ID_USERS_AND_SECURITY, _("Users and Secu&rity..."));
    file->Append(ID_PLUGINS, _("&Plugins..."));
    file->AppendSeparator();
    file->Append(wxID_PREFERENCES, _("Set&up..."));
    file->Append(ID_STATUS, _("Sta&tus...\tCtrl+S"));
    file->AppendSeparator();
    file->Append(wxID_EXIT, _("&Exit"));
    auto* view = new wxMenu;
    view->Append(ID_REFRESH, _("&Refresh\tF5"));
    auto* help = new wxMenu;
    help->Append(wxID_ABOUT, _("&About"));
    help->Append(ID_MANUAL_INSTALLATION, _("&Installation manual"));
    help->Append(ID_MANUAL_USER, _("&User manual"));
    help->Append(ID_MANUAL_ADMINISTRATION, _("&Administration manual"));
    help->Append(ID_MANUAL_REFERENCE, _("&Reference manual"));
    help->Append(ID_MANUAL_COOKBOOK, _("&Cookbook"));
    auto* bar = new wxMenuBar;
    bar->Append(file, _("&File"));
    bar->Append(view, _("&View"));
    bar->Append(help, _("&Help"));
    SetMenuBar(bar);
}

wxPanel* WXControlPanelFrame::BuildTreePanel() {
    auto* panel = new wxPanel(splitter, wxID_ANY);
    auto* box = new wxBoxSizer(wxVERTICAL);
    auto* filter_row = new wxBoxSizer(wxHORIZONTAL);
    add_label(filter_row, panel, _("Filter:"));
    filterText = new wxTextCtrl(panel, ID_FILTER, "");
    filter_row->Add(filterText, 1, wxEXPAND | wxLEFT, 4);
    box->Add(filter_row, 0, wxEXPAND | wxALL, 4);
    treesNotebook = new wxNotebook(panel, ID_TREES_NOTEBOOK, wxDefaultPosition, wxDefaultSize,
                                   wxNB_LEFT | wxNB_MULTILINE);
    struct page {
        wxString title;
        int id;
        const char* image0;
        const char* image1;
        std::vector<std::pair<int, wxString>> buttons;
    } pages[] = {
        {_("Sources"),
         ID_SOURCES_TREE,
         "source",
         "archive_alias",
         {{ID_NEW_SOURCE, _("New")}, {ID_DELETE_SOURCE, _("Delete")}}},
        {_("Archives"),
         ID_ARCHIVES_TREE,
         "archive",
         "source_alias",
         {{ID_DELETE_ARCHIVE, _("Delete")}}},
        {_("Collections"),
         ID_COLLECTIONS_TREE,
         "collection",
         "watch_alias",
         {{ID_NEW_COLLECTION, _("New")}, {ID_DELETE_COLLECTION, _("Delete")}}},
        {_("Watches"),
         ID_WATCHES_TREE,
         "watch",
         "collection_alias",
         {{ID_DELETE_WATCH, _("Delete")}}},
    };
    int index = 0;
    for (const page& p : pages) {
        auto* tab = new wxPanel(treesNotebook, wxID_ANY);
        auto* v = new wxBoxSizer(wxVERTICAL);
        auto* t = new wxTreeCtrl(tab, p.id, wxDefaultPosition, wxDefaultSize,
                                 wxTR_HAS_BUTTONS | wxTR_LINES_AT_ROOT | wxTR_EDIT_LABELS |
                                     wxTR_HIDE_ROOT);
        t->AssignImageList(images({p.image0, p.image1}));
        v->Add(t, 1, wxEXPAND | wxALL, 4);
        auto* row = new wxBoxSizer(wxHORIZONTAL);
        row->AddStretchSpacer();
        for (const auto& [id, text] : p.buttons)
            row->Add(new wxButton(tab, id, text), 0, wxLEFT, 4);
        v->Add(row, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 4);
        tab->SetSizer(v);
        treesNotebook->AddPage(tab, p.title, false);
        trees_[index++] = t;
    }
    box->Add(treesNotebook, 1, wxEXPAND | wxALL, 4);
    panel->SetSizer(box);
    return panel;
}

namespace {

wxPanel* kind_panel(wxWindow* parent, wxNotebook*& notebook, int id) {
    auto* panel = new wxPanel(parent, wxID_ANY);
    notebook = new wxNotebook(panel, id);
    auto* grid = new wxFlexGridSizer(1, 1, 0, 0);
    grid->AddGrowableCol(0);
    grid->AddGrowableRow(0);
    grid->Add(notebook, 1, wxEXPAND | wxALL, 4);
    panel->SetSizer(grid);
    return panel;
}

} // namespace

wxPanel* WXControlPanelFrame::BuildAclPage(wxWindow* parent, int list_id, wxListCtrl*& acl) {
    auto* page = new wxPanel(parent, wxID_ANY);
    auto* v = new wxBoxSizer(wxVERTICAL);
    auto* box = new wxStaticBoxSizer(wxVERTICAL, page, _("Access Control List"));
    acl = list(box->GetStaticBox(), list_id, {{_("Name"), 250}, {_("Access"), 200}});
    box->Add(acl, 1, wxEXPAND | wxALL, 4);
    box->Add(button_row(box->GetStaticBox(), {{list_id + 1, _("Add...")},
                                              {list_id + 2, _("Edit...")},
                                              {list_id + 3, _("Remove")}}),
             0, wxALIGN_RIGHT | wxALL, 4);
    v->Add(box, 1, wxEXPAND | wxALL, 4);
    v->Add(apply_row(page), 0, wxEXPAND | wxALL, 4);
    page->SetSizer(v);
    return page;
}

wxPanel* WXControlPanelFrame::BuildSourcePanel() {
    wxPanel* panel = kind_panel(splitter, sourceNotebook, ID_SOURCE_NOTEBOOK);

    // Info.
    auto* info = new wxPanel(sourceNotebook, wxID_ANY);
    {
        auto* v = new wxBoxSizer(wxVERTICAL);
        auto* box = new wxStaticBoxSizer(wxVERTICAL, info, _("Source info"));
        wxWindow* b = box->GetStaticBox();
        auto* f = info_form(b, sourceId,
                            {{_("Name:"), ID_SOURCE_NAME, &sourceName},
                             {_("Description:"), ID_SOURCE_DESCRIPTION, &sourceDescription}});
        box->Add(f, 0, wxEXPAND);
        v->Add(box, 0, wxEXPAND | wxALL, 4);
        finish_info_page(
            info, v,
            two_groups(
                action_group(info, _("Create archive"),
                             _("You can create archives based upon this source. An archive "
                               "contains the gathered documents, and has a full text index to "
                               "locate specific documents."),
                             ID_NEW_ARCHIVE, _("Create archive")),
                action_group(
                    info, _("Delete source"),
                    _("You can delete this source if you don't need it anymore. The removal can "
                      "fail if there are existing archives that are still using this source."),
                    ID_DELETE_SOURCE, _("Delete source"))));
    }

    // Gathering.
    auto* gathering = new wxPanel(sourceNotebook, wxID_ANY);
    {
        auto* v = new wxBoxSizer(wxVERTICAL);
        auto* seed_box = new wxStaticBoxSizer(wxVERTICAL, gathering, _("Seeds"));
        seeds = list(seed_box->GetStaticBox(), ID_SEEDS, {{_("URL"), 450}});
        seeds->AssignImageList(images({"source"}), wxIMAGE_LIST_SMALL);
        seed_box->Add(seeds, 1, wxEXPAND | wxALL, 4);
        seed_box->Add(button_row(seed_box->GetStaticBox(), {{ID_SEED_ADD, _("Add...")},
                                                            {ID_SEED_EDIT, _("Edit...")},
                                                            {ID_SEED_REMOVE, _("Remove")},
                                                            {ID_SEED_BROWSE, _("Browse")}}),
                      0, wxALIGN_RIGHT | wxALL, 4);
        v->Add(seed_box, 1, wxEXPAND | wxALL, 4);

        auto* filter_box = new wxStaticBoxSizer(wxVERTICAL, gathering, _("Filters"));
        filters = list(filter_box->GetStaticBox(), ID_FILTERS, {{_("Match"), 450}});
        filters->AssignImageList(images({"includefilter", "excludefilter"}), wxIMAGE_LIST_SMALL);
        // Both lists share the page's height (the seeds' list would take it all).
        seeds->SetMinSize(wxSize(-1, 60));
        filters->SetMinSize(wxSize(-1, 60));
        filter_box->Add(filters, 1, wxEXPAND | wxALL, 4);
        filter_box->Add(button_row(filter_box->GetStaticBox(), {{ID_FILTER_ADD, _("Add...")},
                                                                {ID_FILTER_EDIT, _("Edit...")},
                                                                {ID_FILTER_REMOVE, _("Remove")}}),
                        0, wxALIGN_RIGHT | wxALL, 4);
        v->Add(filter_box, 1, wxEXPAND | wxALL, 4);

        auto* limits = new wxStaticBoxSizer(wxVERTICAL, gathering, _("Gathering limits"));
        wxWindow* b = limits->GetStaticBox();
        auto* g = new wxFlexGridSizer(4, 0, 0);
        g->AddGrowableCol(2);
        depthCheck = new wxCheckBox(b, ID_DEPTH_LIMIT_CHECK, _("Depth limit:"));
        g->Add(depthCheck, 0, wxALIGN_CENTER_VERTICAL | wxALL, 4);
        depth = spin(b, ID_DEPTH_LIMIT, -1, 1, 2147483647);
        g->Add(depth, 0, wxALL, 4);
        g->AddSpacer(0);
        checkRobots = new wxCheckBox(b, ID_CHECK_ROBOTS, _("Check robots.txt"));
        g->Add(checkRobots, 0, wxALIGN_CENTER_VERTICAL | wxALL, 4);
        g->AddSpacer(0);
        g->AddSpacer(0);
        g->AddSpacer(0);
        sideMetadata = new wxCheckBox(b, ID_SIDE_METADATA, _("Has side-by-side metadata"));
        g->Add(sideMetadata, 0, wxALIGN_CENTER_VERTICAL | wxALL, 4);
        limits->Add(g, 0, wxEXPAND);
        v->Add(limits, 0, wxEXPAND | wxALL, 4);

        auto* markers = new wxStaticBoxSizer(wxVERTICAL, gathering, _("Text exclusion markers"));
        b = markers->GetStaticBox();
        auto* m = new wxFlexGridSizer(4, 0, 0);
        m->AddGrowableCol(1);
        m->AddGrowableCol(3);
        add_label(m, b, _("Begin:"));
        exclusionBegin = new wxTextCtrl(b, ID_EXCLUSION_BEGIN, "");
        m->Add(exclusionBegin, 1, wxEXPAND | wxALL, 4);
        add_label(m, b, _("End:"));
        exclusionEnd = new wxTextCtrl(b, ID_EXCLUSION_END, "");
        m->Add(exclusionEnd, 1, wxEXPAND | wxALL, 4);
        markers->Add(m, 0, wxEXPAND);
        v->Add(markers, 0, wxEXPAND | wxALL, 4);
        v->Add(apply_row(gathering), 0, wxEXPAND | wxALL, 4);
        gathering->SetSizer(v);
        gathering->SetDropTarget(new WXSeedDropTarget(this));
    }

    // Authentication.
    auto* auth = new wxPanel(sourceNotebook, wxID_ANY);
    {
        auto* v = new wxBoxSizer(wxVERTICAL);
        auto* box = new wxStaticBoxSizer(wxHORIZONTAL, auth, _("Authenticated gathering"));
        add_label(box, box->GetStaticBox(), _("Authentication type:"));
        authType = new wxChoice(box->GetStaticBox(), ID_AUTH_TYPE, wxDefaultPosition, wxDefaultSize,
                                choices({_("None"), _("Basic"), _("Cookie")}));
        box->Add(authType, 0, wxALL, 4);
        v->Add(box, 0, wxEXPAND | wxALL, 4);

        auto* cookie_panel = new wxPanel(auth, ID_COOKIE_AUTH_PANEL);
        {
            auto* cv = new wxBoxSizer(wxVERTICAL);
            auto* cbox = new wxStaticBoxSizer(wxVERTICAL, cookie_panel,
                                              _("Cookie authentication parameters"));
            wxWindow* b = cbox->GetStaticBox();
            auto* f = form(2);
            add_label(f, b, _("URL:"));
            auto* url_row = new wxBoxSizer(wxHORIZONTAL);
            cookieUrl =
                new wxTextCtrl(b, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxTE_READONLY);
            url_row->Add(cookieUrl, 1, wxEXPAND);
            url_row->Add(new wxButton(b, ID_COOKIE_URL_EDIT, "...", wxDefaultPosition,
                                      wxDefaultSize, wxBU_EXACTFIT),
                         0, wxLEFT, 4);
            f->Add(url_row, 1, wxEXPAND | wxALL, 4);
            add_label(f, b, _("Action:"));
            cookieAction = new wxChoice(b, ID_COOKIE_ACTION, wxDefaultPosition, wxDefaultSize,
                                        choices({"GET", "POST"}));
            f->Add(cookieAction, 0, wxALL, 4);
            add_label(f, b, _("Freshness:"));
            auto* fresh_row = new wxBoxSizer(wxHORIZONTAL);
            cookieFreshness = spin(b, ID_COOKIE_FRESHNESS, -1, 0, 2147483647);
            fresh_row->Add(cookieFreshness);
            cookieFreshnessUnit = new wxChoice(b, ID_COOKIE_FRESHNESS_UNIT, wxDefaultPosition,
                                               wxDefaultSize, choices({_("hour(s)"), _("day(s)")}));
            fresh_row->Add(cookieFreshnessUnit, 0, wxLEFT, 4);
            f->Add(fresh_row, 0, wxALL, 4);
            cbox->Add(f, 0, wxEXPAND);
            cv->Add(cbox, 1, wxEXPAND);
            cookie_panel->SetSizer(cv);
        }
        v->Add(cookie_panel, 0, wxEXPAND | wxALL, 4);

        auto make_list_panel = [&](int panel_id, const wxString& title, int list_id,
                                   std::initializer_list<std::pair<wxString, int>> cols,
                                   wxListCtrl*& out) {
            auto* p = new wxPanel(auth, panel_id);
            auto* pv = new wxBoxSizer(wxVERTICAL);
            auto* pbox = new wxStaticBoxSizer(wxVERTICAL, p, title);
            out = list(pbox->GetStaticBox(), list_id, cols);
            pbox->Add(out, 1, wxEXPAND | wxALL, 4);
            pbox->Add(button_row(pbox->GetStaticBox(), {{list_id + 1, _("Add...")},
                                                        {list_id + 2, _("Edit...")},
                                                        {list_id + 3, _("Remove")}}),
                      0, wxALIGN_RIGHT | wxALL, 4);
            pv->Add(pbox, 1, wxEXPAND);
            p->SetSizer(pv);
            v->Add(p, 1, wxEXPAND | wxALL, 4);
        };
        make_list_panel(ID_COOKIE_PARAMS_PANEL, _("Cookie action parameters"), ID_COOKIE_PARAMS,
                        {{_("Name"), 150}, {_("Value"), 150}, {_("Type"), 150}}, cookieParams);
        make_list_panel(ID_COOKIE_PREURLS_PANEL, _("Cookie Pre URLs"), ID_PREURLS,
                        {{_("URL"), 450}}, preUrls);
        v->Add(apply_row(auth), 0, wxEXPAND | wxALL, 4);
        auth->SetSizer(v);
    }

    // Plugins.
    auto* plugins = new wxPanel(sourceNotebook, wxID_ANY);
    {
        auto* v = new wxBoxSizer(wxVERTICAL);
        auto* box = new wxStaticBoxSizer(wxVERTICAL, plugins, _("Plugins pipeline"));
        wxWindow* b = box->GetStaticBox();
        auto* g = new wxFlexGridSizer(1, 2, 0, 4);
        g->AddGrowableCol(1);
        g->AddGrowableRow(0);
        pipeline = list(b, ID_PLUGINS_PIPELINE, {{_("Plugin"), 200}});
        pipeline->AssignImageList(images({"includefilter", "excludefilter"}), wxIMAGE_LIST_SMALL);
        g->Add(pipeline, 1, wxEXPAND | wxALL, 4);
        auto* right = new wxBoxSizer(wxVERTICAL);
        auto* desc = new wxStaticBoxSizer(wxVERTICAL, b, _("Description"));
        pluginDescription = value_label(desc->GetStaticBox());
        desc->Add(pluginDescription, 1, wxEXPAND | wxALL, 4);
        right->Add(desc, 1, wxEXPAND);
        auto* row = new wxFlexGridSizer(1, 3, 0, 8);
        row->AddGrowableCol(0);
        pluginEnabled = new wxCheckBox(b, ID_PLUGIN_ENABLED, _("Enabled"));
        row->Add(pluginEnabled, 0, wxALIGN_CENTER_VERTICAL);
        row->Add(new wxButton(b, ID_PLUGIN_UP, _("Move up")));
        row->Add(new wxButton(b, ID_PLUGIN_DOWN, _("Move down")));
        right->Add(row, 0, wxEXPAND | wxTOP, 4);
        g->Add(right, 1, wxEXPAND | wxALL, 4);
        box->Add(g, 1, wxEXPAND);
        v->Add(box, 1, wxEXPAND | wxALL, 4);
        v->Add(apply_row(plugins), 0, wxEXPAND | wxALL, 4);
        plugins->SetSizer(v);
    }

    sourceNotebook->AddPage(info, _("Info"), false);
    sourceNotebook->AddPage(gathering, _("Gathering"), false);
    sourceNotebook->AddPage(auth, _("Authentication"), false);
    sourceNotebook->AddPage(plugins, _("Plugins"), false);
    sourceNotebook->AddPage(BuildAclPage(sourceNotebook, ID_SOURCE_ACL, sourceAcl), _("ACL"),
                            false);
    return panel;
}

wxPanel* WXControlPanelFrame::BuildQueryPage(wxWindow* parent, bool collection) {
    auto* page = new wxPanel(parent, wxID_ANY);
    auto* v = new wxBoxSizer(wxVERTICAL);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    wxTextCtrl* query =
        new wxTextCtrl(page, collection ? ID_COLLECTION_QUERY : ID_ARCHIVE_QUERY, "");
    row->Add(query, 1, wxEXPAND | wxRIGHT, 4);
    auto* search =
        new wxButton(page, collection ? ID_COLLECTION_SEARCH : ID_ARCHIVE_SEARCH, _("Search"));
    search->SetDefault();
    row->Add(search, 0, wxRIGHT, 4);
    if (collection)
        row->Add(new wxButton(page, ID_SAVE_AS_WATCH, _("Save as watch")), 0, wxRIGHT, 4);
    query_page& state = queryPages[collection ? 1 : 0];
    state.advanced = new wxCheckBox(page, collection ? ID_COLLECTION_ADVANCED : ID_ARCHIVE_ADVANCED,
                                    _("Advanced options"));
    row->Add(state.advanced, 0, wxALIGN_CENTER_VERTICAL);
    v->Add(row, 0, wxEXPAND | wxALL, 4);

    // Wraps onto a second line rather than cutting off its last buttons in a narrow window.
    auto* advanced = new wxWrapSizer(wxHORIZONTAL);
    add_label(advanced, page, _("Sort:"));
    auto* sort =
        new wxChoice(page, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                     choices({_("Standard"), _("Relevance"), _("Score"), _("Newer"), _("Older")}));
    sort->SetSelection(0);
    state.sort = sort;
    advanced->Add(sort, 0, wxALL, 4);
    const int from = collection ? collectionQueryFrom : archiveQueryFrom;
    const int to = collection ? collectionQueryTo : archiveQueryTo;
    const wxString to_text = wxDateTime(static_cast<time_t>(to)).Format("%x", wxDateTime::UTC);
    const int width = GetTextExtent(to_text).x + 20;
    add_label(advanced, page, _("From:"));
    state.from = new wxTextCtrl(page, wxID_ANY,
                                wxDateTime(static_cast<time_t>(from)).Format("%x", wxDateTime::UTC),
                                wxDefaultPosition, wxSize(width, -1), wxTE_READONLY);
    advanced->Add(state.from, 0, wxALL, 4);
    add_label(advanced, page, _("To:"));
    state.to = new wxTextCtrl(page, wxID_ANY, to_text, wxDefaultPosition, wxSize(width, -1),
                              wxTE_READONLY);
    advanced->Add(state.to, 0, wxALL, 4);
    advanced->Add(new wxButton(page, collection ? ID_COLLECTION_SET_DATE : ID_ARCHIVE_SET_DATE,
                               _("Set date...")),
                  0, wxALL, 4);
    advanced->Add(new wxButton(page, collection ? ID_COLLECTION_WEIGHTS : ID_ARCHIVE_WEIGHTS,
                               _("Weights...")),
                  0, wxALL, 4);
    v->Add(advanced, 0, wxEXPAND | wxALL, 4);
    v->Hide(advanced);
    state.sizer = v;
    state.advancedRow = advanced;

    wxListCtrl* results = list(page, collection ? ID_COLLECTION_RESULTS : ID_ARCHIVE_RESULTS,
                               {{_("Title"), 250}, {_("URL"), 400}, {_("Time"), 200}});
    v->Add(results, 1, wxEXPAND | wxALL, 4);
    auto* context = new wxStaticBoxSizer(wxVERTICAL, page, _("Context"));
    state.context = new wxTextCtrl(context->GetStaticBox(), wxID_ANY, "", wxDefaultPosition,
                                   wxSize(-1, 80), wxTE_MULTILINE | wxTE_READONLY);
    context->Add(state.context, 0, wxEXPAND | wxALL, 4);
    v->Add(context, 0, wxEXPAND | wxALL, 4);
    auto* open = new wxBoxSizer(wxHORIZONTAL);
    open->AddStretchSpacer();
    const int base = collection ? ID_COLLECTION_OPEN_CACHED : ID_ARCHIVE_OPEN_CACHED;
    open->Add(new wxButton(page, base, _("Open cached document...")), 0, wxRIGHT, 4);
    open->Add(new wxButton(page, base + 1, _("Open live document...")));
    v->Add(open, 0, wxEXPAND | wxALL, 4);
    page->SetSizer(v);
    state.query = query;
    state.list = results;
    if (collection) {
        collectionQuery = query;
        collectionResults = results;
    } else {
        archiveQuery = query;
        archiveResults = results;
    }
    return page;
}

wxPanel* WXControlPanelFrame::BuildArchivePanel() {
    wxPanel* panel = kind_panel(splitter, archiveNotebook, ID_ARCHIVE_NOTEBOOK);
    wxPanel* query = BuildQueryPage(archiveNotebook, false);

    auto* info = new wxPanel(archiveNotebook, wxID_ANY);
    {
        auto* v = new wxBoxSizer(wxVERTICAL);
        auto* box = new wxStaticBoxSizer(wxVERTICAL, info, _("Archive info"));
        wxWindow* b = box->GetStaticBox();
        auto* f = info_form(b, archiveId,
                            {{_("Name:"), ID_ARCHIVE_NAME, &archiveName},
                             {_("Contact:"), ID_ARCHIVE_CONTACT, &archiveContact}});
        add_label(f, b, _("Historicize:"));
        archiveHistoricize = value_label(b);
        f->Add(archiveHistoricize, 1, wxEXPAND | wxALL, 4);
        box->Add(f, 0, wxEXPAND);
        v->Add(box, 0, wxEXPAND | wxALL, 4);

        auto* gbox = new wxStaticBoxSizer(wxVERTICAL, info, _("Gathering info"));
        b = gbox->GetStaticBox();
        auto* g = form(2);
        add_label(g, b, _("Status:"));
        auto* status_row = new wxBoxSizer(wxHORIZONTAL);
        archiveStatus = value_label(b);
        status_row->Add(archiveStatus, 1, wxALIGN_CENTER_VERTICAL);
        status_row->Add(new wxButton(b, ID_START_GATHERING, _("Start")), 0, wxLEFT, 4);
        status_row->Add(new wxButton(b, ID_STOP_GATHERING, _("Stop")), 0, wxLEFT, 4);
        status_row->Add(new wxButton(b, ID_LOGS, _("Logs...")), 0, wxLEFT, 4);
        g->Add(status_row, 1, wxEXPAND | wxALL, 4);
        add_label(g, b, _("Last gathering start/end:"));
        archiveLastRun = value_label(b);
        g->Add(archiveLastRun, 1, wxEXPAND | wxALL, 4);
        add_label(g, b, _("Gathering docs/errors:"));
        archiveDocs = value_label(b);
        g->Add(archiveDocs, 1, wxEXPAND | wxALL, 4);
        add_label(g, b, _("Next gathering start:"));
        archiveNextRun = value_label(b);
        g->Add(archiveNextRun, 1, wxEXPAND | wxALL, 4);
        gbox->Add(g, 0, wxEXPAND);
        v->Add(gbox, 0, wxEXPAND | wxALL, 4);

        addToCollection = new wxChoice(info, wxID_ANY, wxDefaultPosition, wxSize(130, -1));
        finish_info_page(
            info, v,
            two_groups(
                action_group(
                    info, _("Add to collection"),
                    _("You can add this archive to one or more collections. When you aggregate "
                      "archives, you are building a virtual index on a larger document set."),
                    ID_ADD_TO_COLLECTION, _("Add to ->"), addToCollection),
                action_group(
                    info, _("Delete archive"),
                    _("You can delete this archive if you don't need it anymore. The removal can "
                      "fail if there are existing collections that are still using this archive."),
                    ID_DELETE_ARCHIVE, _("Delete archive"))));
    }

    auto* gathering = new wxPanel(archiveNotebook, wxID_ANY);
    {
        auto* v = new wxBoxSizer(wxVERTICAL);
        auto* limits = new wxStaticBoxSizer(wxVERTICAL, gathering, _("Gathering limits"));
        wxWindow* b = limits->GetStaticBox();
        auto* lg = new wxFlexGridSizer(2, 0, 0);
        pagesLimitCheck = new wxCheckBox(b, ID_PAGES_LIMIT_CHECK, _("Pages limit:"));
        lg->Add(pagesLimitCheck, 0, wxALIGN_CENTER_VERTICAL | wxALL, 4);
        pagesLimit = spin(b, ID_PAGES_LIMIT, -1, 1, 2147483647);
        lg->Add(pagesLimit, 0, wxALL, 4);
        limits->Add(lg);
        v->Add(limits, 0, wxEXPAND | wxALL, 4);

        auto* automatic = new wxStaticBoxSizer(wxVERTICAL, gathering, _("Automatic gathering"));
        b = automatic->GetStaticBox();
        scheduled = new wxCheckBox(b, ID_SCHEDULED, _("Scheduled gathering"));
        automatic->Add(scheduled, 0, wxALL, 4);
        auto* sp = new wxPanel(b, ID_SCHEDULE_PANEL);
        auto* sg = new wxFlexGridSizer(4, 0, 0);
        sg->AddGrowableCol(3);
        add_label(sg, sp, _("When:"));
        scheduleEvery = spin(sp, ID_SCHEDULE_EVERY, -1, 0, 2147483647);
        sg->Add(scheduleEvery, 0, wxALL, 4);
        scheduleFrequency =
            new wxChoice(sp, ID_SCHEDULE_FREQUENCY, wxDefaultPosition, wxDefaultSize,
                         choices({_("hourly"), _("daily"), _("weekly"), _("monthly")}));
        sg->Add(scheduleFrequency, 0, wxALL, 4);
        scheduleLabel = value_label(sp);
        sg->Add(scheduleLabel, 1, wxEXPAND | wxALL, 4);
        add_label(sg, sp, _("Start at:"));
        scheduleStart = spin(sp, ID_SCHEDULE_START, -1, 0, 23);
        sg->Add(scheduleStart, 0, wxALL, 4);
        sg->AddSpacer(0);
        sg->AddSpacer(0);
        sp->SetSizer(sg);
        automatic->Add(sp, 0, wxEXPAND | wxLEFT, 16);
        v->Add(automatic, 0, wxEXPAND | wxALL, 4);

        auto* storage = new wxStaticBoxSizer(wxVERTICAL, gathering, _("Document storage"));
        b = storage->GetStaticBox();
        removeOld = new wxCheckBox(b, ID_REMOVE_OLD, _("Remove old pages"));
        storage->Add(removeOld, 0, wxALL, 4);
        auto* ap = new wxPanel(b, ID_AGE_LIMIT_PANEL);
        auto* ag = new wxFlexGridSizer(3, 0, 0);
        add_label(ag, ap, _("Age limit:"));
        ageLimit = spin(ap, ID_AGE_LIMIT, -1, 0, 2147483647);
        ag->Add(ageLimit, 0, wxALL, 4);
        ageLimitUnit = new wxChoice(ap, ID_AGE_LIMIT_UNIT, wxDefaultPosition, wxDefaultSize,
                                    choices({_("hour(s)"), _("day(s)")}));
        ag->Add(ageLimitUnit, 0, wxALL, 4);
        ap->SetSizer(ag);
        storage->Add(ap, 0, wxEXPAND | wxLEFT, 16);
        auto* cache_row = new wxBoxSizer(wxHORIZONTAL);
        add_label(cache_row, b, _("Document cache:"));
        documentCache = new wxChoice(b, ID_DOCUMENT_CACHE, wxDefaultPosition, wxDefaultSize,
                                     choices({_("Full"), _("Only contexts"), _("None")}));
        cache_row->Add(documentCache, 0, wxALL, 4);
        storage->Add(cache_row);
        v->Add(storage, 0, wxEXPAND | wxALL, 4);
        auto* auth_row = new wxBoxSizer(wxHORIZONTAL);
        auth_row->AddStretchSpacer();
        auth_row->Add(new wxButton(gathering, ID_EDIT_AUTHENTICATION, _("Edit authentication...")));
        v->Add(auth_row, 0, wxEXPAND | wxALL, 4);
        v->AddStretchSpacer();
        v->Add(apply_row(gathering), 0, wxEXPAND | wxALL, 4);
        gathering->SetSizer(v);
    }

    archiveNotebook->AddPage(query, _("Query"), false);
    archiveNotebook->AddPage(info, _("Info"), false);
    archiveNotebook->AddPage(gathering, _("Gathering"), false);
    archiveNotebook->AddPage(BuildAclPage(archiveNotebook, ID_ARCHIVE_ACL, archiveAcl), _("ACL"),
                             false);
    return panel;
}

wxPanel* WXControlPanelFrame::BuildCollectionPanel() {
    wxPanel* panel = kind_panel(splitter, collectionNotebook, ID_COLLECTION_NOTEBOOK);
    wxPanel* query = BuildQueryPage(collectionNotebook, true);

    auto* info = new wxPanel(collectionNotebook, wxID_ANY);
    {
        auto* v = new wxBoxSizer(wxVERTICAL);
        auto* box = new wxStaticBoxSizer(wxVERTICAL, info, _("Collection info"));
        wxWindow* b = box->GetStaticBox();
        auto* f =
            info_form(b, collectionId,
                      {{_("Name:"), ID_COLLECTION_NAME, &collectionName},
                       {_("Description:"), ID_COLLECTION_DESCRIPTION, &collectionDescription}});
        box->Add(f, 0, wxEXPAND);
        v->Add(box, 0, wxEXPAND | wxALL, 4);
        finish_info_page(
            info, v,
            two_groups(
                action_group(
                    info, _("Create watch"),
                    _("You can create watches based upon this collection. A watch is a persistent "
                      "query that is useful to discover a certain kind of documents."),
                    ID_NEW_WATCH, _("Create watch")),
                action_group(info, _("Delete collection"),
                             _("You can delete this collection if you don't need it anymore. The "
                               "removal can fail if there are existing watches that are still "
                               "using this collection."),
                             ID_DELETE_COLLECTION, _("Delete collection"))));
    }

    auto* arch = new wxPanel(collectionNotebook, wxID_ANY);
    {
        auto* v = new wxBoxSizer(wxVERTICAL);
        auto* box = new wxStaticBoxSizer(wxVERTICAL, arch, _("Archives"));
        collectionArchives = list(box->GetStaticBox(), wxID_ANY,
                                  {{_("Archive name"), 150}, {_("Source description"), 300}});
        collectionArchives->AssignImageList(images({"archive"}), wxIMAGE_LIST_SMALL);
        box->Add(collectionArchives, 1, wxEXPAND | wxALL, 4);
        auto* row = new wxBoxSizer(wxHORIZONTAL);
        row->AddStretchSpacer();
        row->Add(new wxButton(box->GetStaticBox(), ID_COLLECTION_ARCHIVES_EDIT, _("Edit...")));
        box->Add(row, 0, wxEXPAND | wxALL, 4);
        v->Add(box, 1, wxEXPAND | wxALL, 4);
        v->Add(apply_row(arch), 0, wxEXPAND | wxALL, 4);
        arch->SetSizer(v);
    }

    collectionNotebook->AddPage(query, _("Query"), false);
    collectionNotebook->AddPage(info, _("Info"), false);
    collectionNotebook->AddPage(arch, _("Archives"), false);
    collectionNotebook->AddPage(BuildAclPage(collectionNotebook, ID_COLLECTION_ACL, collectionAcl),
                                _("ACL"), false);
    return panel;
}

wxPanel* WXControlPanelFrame::BuildWatchPanel() {
    wxPanel* panel = kind_panel(splitter, watchNotebook, ID_WATCH_NOTEBOOK);

    auto* results = new wxPanel(watchNotebook, wxID_ANY);
    {
        auto* v = new wxBoxSizer(wxVERTICAL);
        auto* sub = new wxPanel(results, wxID_ANY);
        auto* row = new wxBoxSizer(wxHORIZONTAL);
        watchQuery = new wxTextCtrl(sub, ID_WATCH_QUERY, "");
        row->Add(watchQuery, 1, wxEXPAND | wxRIGHT, 4);
        auto* refine = new wxButton(sub, ID_REFINE, _("Refine"));
        refine->SetDefault();
        row->Add(refine, 0, wxRIGHT, 4);
        add_label(row, sub, _("Freshness:"));
        watchResultsFreshness =
            new wxChoice(sub, ID_WATCH_RESULTS_FRESHNESS, wxDefaultPosition, wxDefaultSize,
                         choices({_("Watch default"), _("Last day"), _("Last week"),
                                  _("Last month"), _("All")}));
        row->Add(watchResultsFreshness, 0, wxALIGN_CENTER_VERTICAL);
        sub->SetSizer(row);
        v->Add(sub, 0, wxEXPAND | wxALL, 4);
        watchResults =
            list(results, ID_WATCH_RESULTS, {{_("Time"), 200}, {_("Title"), 250}, {_("URL"), 400}});
        v->Add(watchResults, 1, wxEXPAND | wxALL, 4);
        auto* context = new wxStaticBoxSizer(wxVERTICAL, results, _("Context"));
        query_page& state = queryPages[static_cast<int>(search_page::watch)];
        state.query = watchQuery;
        state.list = watchResults;
        state.context = new wxTextCtrl(context->GetStaticBox(), wxID_ANY, "", wxDefaultPosition,
                                       wxSize(-1, 80), wxTE_MULTILINE | wxTE_READONLY);
        context->Add(state.context, 0, wxEXPAND | wxALL, 4);
        v->Add(context, 0, wxEXPAND | wxALL, 4);
        auto* open = new wxBoxSizer(wxHORIZONTAL);
        open->AddStretchSpacer();
        open->Add(new wxButton(results, ID_WATCH_OPEN_CACHED, _("Open cached document...")), 0,
                  wxRIGHT, 4);
        open->Add(new wxButton(results, ID_WATCH_OPEN_LIVE, _("Open live document...")));
        v->Add(open, 0, wxEXPAND | wxALL, 4);
        results->SetSizer(v);
    }

    auto* info = new wxPanel(watchNotebook, wxID_ANY);
    {
        auto* v = new wxBoxSizer(wxVERTICAL);
        auto* box = new wxStaticBoxSizer(wxVERTICAL, info, _("Watch info"));
        wxWindow* b = box->GetStaticBox();
        auto* f = info_form(b, watchId,
                            {{_("Name:"), ID_WATCH_NAME, &watchName},
                             {_("Description:"), ID_WATCH_DESCRIPTION, &watchDescription},
                             {_("Filter:"), ID_WATCH_FILTER, &watchFilter}});
        watchFreshnessCheck = new wxCheckBox(b, ID_WATCH_FRESHNESS_CHECK, _("Freshness:"));
        f->Add(watchFreshnessCheck, 0, wxALIGN_CENTER_VERTICAL | wxALL, 4);
        auto* fresh = new wxBoxSizer(wxHORIZONTAL);
        watchFreshness = spin(b, ID_WATCH_FRESHNESS, -1, 1, 2147483647);
        fresh->Add(watchFreshness);
        watchFreshnessUnit = new wxChoice(b, ID_WATCH_FRESHNESS_UNIT, wxDefaultPosition,
                                          wxDefaultSize, choices({_("hour(s)"), _("day(s)")}));
        fresh->Add(watchFreshnessUnit, 0, wxLEFT, 4);
        f->Add(fresh, 0, wxALL, 4);
        box->Add(f, 0, wxEXPAND);
        v->Add(box, 0, wxEXPAND | wxALL, 4);
        finish_info_page(
            info, v,
            two_groups(action_group(info, _("Integrate watch"),
                                    _("You can integrate this watch in your web pages as an RSS "
                                      "stream using this URL."),
                                    ID_COPY_WATCH_URL, _("Copy to clipboard")),
                       action_group(info, _("Delete watch"),
                                    _("You can delete this watch if you don't need it anymore."),
                                    ID_DELETE_WATCH, _("Delete watch"))));
    }

    watchNotebook->AddPage(results, _("Results"), false);
    watchNotebook->AddPage(info, _("Info"), false);
    watchNotebook->AddPage(BuildAclPage(watchNotebook, ID_WATCH_ACL, watchAcl), _("ACL"), false);
    return panel;
}

wxNotebook* WXControlPanelFrame::kind_notebook(cp_kind kind) const {
    switch (kind) {
    case cp_kind::source:
        return sourceNotebook;
    case cp_kind::archive:
        return archiveNotebook;
    case cp_kind::collection:
        return collectionNotebook;
    case cp_kind::watch:
        return watchNotebook;
    default:
        return nullptr;
    }
}

wxTextCtrl* WXControlPanelFrame::name_field(cp_kind kind) const {
    switch (kind) {
    case cp_kind::source:
        return sourceName;
    case cp_kind::archive:
        return archiveName;
    case cp_kind::collection:
        return collectionName;
    case cp_kind::watch:
        return watchName;
    default:
        return nullptr;
    }
}

void WXControlPanelFrame::RecreateProxy() {
    proxy.reset();
    if (cp_services* s = get_cp_services()) proxy = s->CreateSoapProxy();
}

} // namespace lumbrake
