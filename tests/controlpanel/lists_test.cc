// The lists of the main window's pages against a real daemon: seeds (also dropped ones, and a
// real drag of data that is no URL, which adds nothing), filters, the cookie log-in, the
// plug-in pipeline, access lists of every kind and a collection's archives are edited through
// their dialogs (answered by a modal script), and after Apply the daemon's records read back
// over SOAP match; the schedule's "When:" value follows its frequency; "Edit
// authentication..." creates, then updates, the archive's credentials record.
#include "../cpdialogs/dlga_support.h"
#include "../cpdialogs/modal_driver.h"
#include "../support/fixture_doc_filters.h"
#include "../support/live_daemon.h"
#include "frame_support.h"

#include "controlpanel/drop-target.h"
#include "cpdialogs/acl-dialog.h"
#include "cpdialogs/archive-select-dialog.h"
#include "cpdialogs/cookie-param-dialog.h"
#include "cpdialogs/filter-dialog.h"
#include "cpdialogs/seed-url-dialog.h"
#include "cpdialogs/source-auth-dialog.h"
#include "cpdialogs/url-dialog.h"
#include "cpmodel/frame-ids.h"

#include <wx/checkbox.h>
#include <wx/dataobj.h>
#include <wx/dnd.h>
#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/choice.h>
#include <wx/listctrl.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <filesystem>
#include <memory>

using namespace lumbrake;
using namespace tn_frame_test;
using tn_test::modal_script;
using tn_test::press_ok;

// The dialog helpers select rows with a short pump of the frame's own loop.
void tn_test::pump_events(int milliseconds) {
    pump(milliseconds);
}

namespace {

using tn_test::activate_row;
using tn_test::column;
using tn_test::select_row;

// What a list row shows in its first column, its image and its data.
struct row_state {
    std::string text;
    int image;
    long data;
    bool operator==(const row_state&) const = default;
};

std::vector<row_state> rows(wxListCtrl* list) {
    std::vector<row_state> out;
    for (long i = 0; i < list->GetItemCount(); ++i) {
        wxListItem item;
        item.SetId(i);
        item.SetMask(wxLIST_MASK_IMAGE | wxLIST_MASK_TEXT | wxLIST_MASK_DATA);
        list->GetItem(item);
        out.push_back(
            {item.GetText().utf8_string(), item.GetImage(), static_cast<long>(item.GetData())});
    }
    return out;
}

std::ostream& operator<<(std::ostream& os, const row_state& r) {
    return os << "{" << r.text << ", " << r.image << ", " << r.data << "}";
}

// A dialog step that sets the members a user would have chosen, shows them, and presses OK.
template <class D> std::function<int(D&)> confirm(std::function<void(D&)> fill) {
    return [fill](D& d) {
        tn_test::open(d);
        fill(d);
        d.TransferDataToWindow();
        return press_ok(d);
    };
}

template <class D> std::function<int(D&)> cancel() {
    return [](D& d) {
        tn_test::open(d);
        return wxID_CANCEL;
    };
}

// The user picking a choice item: the selection, then its event.
void pick(wxChoice* choice, int selection) {
    choice->SetSelection(selection);
    wxCommandEvent e(wxEVT_CHOICE, choice->GetId());
    e.SetEventObject(choice);
    e.SetInt(selection);
    choice->GetEventHandler()->ProcessEvent(e);
}

bool enabled(WXControlPanelFrame* frame, wxWindow* page, int id) {
    frame->UpdateWindowUI(wxUPDATE_UI_RECURSE);
    wxWindow* w = page->FindWindow(id);
    return w != nullptr && w->IsEnabled();
}

constexpr const char* kOrigin = "http://127.0.0.1:1/";

// Another top-level window that starts a real drag of `data` when the pointer moves over it
// with the button held: the X server's drag-and-drop protocol then carries the data to
// whatever window the pointer is released over.
class drag_source : public wxFrame {
public:
    explicit drag_source(std::function<wxDataObject*()> make)
        : wxFrame(nullptr, wxID_ANY, "drag source", wxPoint(1060, 840), wxSize(200, 160)),
          make_(std::move(make)) {
        panel_ = new wxPanel(this);
        panel_->Bind(wxEVT_MOTION, &drag_source::OnMotion, this);
    }
    wxPoint grip() const { return panel_->GetScreenRect().GetPosition() + wxPoint(60, 60); }
    bool started = false, finished = false;
    wxDragResult result = wxDragError;

private:
    void OnMotion(wxMouseEvent& event) {
        if (!event.Dragging() || started) return;
        started = true;
        std::unique_ptr<wxDataObject> data(make_());
        wxDropSource source(*data, panel_);
        result = source.DoDragDrop(wxDrag_AllowMove);
        finished = true;
    }

    std::function<wxDataObject*()> make_;
    wxPanel* panel_ = nullptr;
};

// Drags from `source` to the screen point `to` with xdotool, the event loop running meanwhile.
bool drag_with_pointer(drag_source& source, wxPoint to) {
    const wxPoint from = source.grip();
    auto at = [](wxPoint p) { return std::to_string(p.x) + " " + std::to_string(p.y); };
    const std::string moves = "xdotool mousemove " + at(from) + " mousedown 1 sleep 0.3" +
                              " mousemove " + at(from + wxPoint(12, 12)) + " sleep 0.3" +
                              " mousemove " + at(to) + " sleep 0.4" + " mousemove " +
                              at(to + wxPoint(4, 4)) + " sleep 0.4 mouseup 1";
    std::atomic<bool> moved{false};
    std::thread pointer([&] {
        std::system(moves.c_str());
        moved = true;
    });
    const bool ended = pump_until([&] { return moved && source.finished; }, 30);
    pointer.join();
    return ended;
}

// One daemon and one main window for the suite: the records are made over SOAP before the
// window's first poll.
class lists : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The window keeps its size in the settings file: the test's own, not the user's.
        setenv("XDG_CONFIG_HOME", tn_test::scratch("lists-config").c_str(), 1);
        daemon = std::make_unique<tn_test::live_daemon>(tn_test::scratch("lists-daemon"));
        daemon->start();
        services.endpoint = daemon->soap_endpoint();
        services.settings.host = "127.0.0.1";
        services.settings.port = wxString::Format("%d", daemon->port());
        services.settings.user_name = wxString::FromUTF8(daemon->user());
        soap = std::make_unique<SoapClientProxy>(daemon->soap_endpoint());

        // A real archive plug-in with three document filters for the pipeline.
        filter_ids = tn_test::add_fixture_doc_filters(*soap, TN_PLUGIN_ARCHIVE, daemon->deploy(),
                                                      {"alpha", "beta", "gamma"});
        soap->AddUser("reader", "pw", false, {});
        soap->AddUser("j\u00fcrgen", "pw", false, {});

        SourceConfiguration web;
        web.Name = "Web";
        web.Description = "daily news";
        web.Seeds = {std::string(kOrigin) + "news/"};
        web.IncludeFilters = {"^http://127\\.0\\.0\\.1:1/"};
        web.ExcludeFilters = {"\\.zip$"};
        web.Type = AUTH_COOKIE;
        web.CookieParams.Url = std::string(kOrigin) + "login";
        web.CookieParams.Params = {{"user", "", COOKIE_USERNAME}};
        web.CookieParams.PreUrls = {std::string(kOrigin) + "start",
                                    std::string(kOrigin) + "second"};
        soap->AddSource(web, source);
        ArchiveConfiguration arc;
        arc.Name = "News archive";
        arc.Source = source.Source;
        arc.SchedulingFrequency = DAILY;
        arc.SchedulingAttribute = 3;
        soap->AddArchive(arc, news);
        // A stored "When:" value outside the hourly range.
        arc.Name = "Odd schedule";
        arc.SchedulingFrequency = HOURLY;
        arc.SchedulingAttribute = 30;
        soap->AddArchive(arc, odd);
        CollectionConfiguration col;
        col.Name = "All news";
        col.Archives = {news.Archive};
        soap->AddCollection(col, collection);
        WatchConfiguration w;
        w.Name = "Breaking";
        w.Query = "urgent";
        w.Collection = collection.Collection;
        soap->AddWatch(w, watch);

        frame = new WXControlPanelFrame();
        frame->Show();
        pump_until([] { return frame->GetStatusBar()->GetStatusText(0).StartsWith("Connected"); });
    }

    static void TearDownTestSuite() {
        if (frame != nullptr) frame->Destroy();
        frame = nullptr;
        pump(300);
        soap.reset();
        daemon.reset();
    }

    void SetUp() override {
        ASSERT_NE(frame, nullptr);
        ASSERT_TRUE(frame->GetStatusBar()->GetStatusText(0).StartsWith("Connected"));
        services.errors.clear();
    }
    void TearDown() override { EXPECT_TRUE(services.errors.empty()) << services.errors[0]; }

    static wxListCtrl* list(cp_kind kind, int id) { return control<wxListCtrl>(frame, kind, id); }
    static wxWindow* page(cp_kind kind, int index) {
        return frame->kind_notebook(kind)->GetPage(index);
    }
    // Apply, then wait until the page shows the record again.
    static void apply(cp_kind kind, int index) {
        click(page(kind, index), ID_APPLY);
        pump_until([&] { return !frame->is_modified() && frame->shown_panel() > 1; }, 10);
        pump(300);
    }

    template <class Info> static Info stored(int id);

    static inline std::unique_ptr<tn_test::live_daemon> daemon;
    static inline std::unique_ptr<SoapClientProxy> soap;
    static inline WXControlPanelFrame* frame = nullptr;
    static inline std::vector<int32_t> filter_ids;
    static inline SourceInfo source;
    static inline ArchiveInfo news, odd;
    static inline CollectionInfo collection;
    static inline WatchInfo watch;
};

// The daemon's record of one object, found in its kind's enumeration.
template <class Info>
Info stored_record(SoapClientProxy& soap, int id,
                   void (SoapClientProxy::*enumerate)(std::vector<Info>&),
                   std::int32_t Info::*key) {
    std::vector<Info> all;
    (soap.*enumerate)(all);
    for (const Info& info : all)
        if (info.*key == id) return info;
    ADD_FAILURE() << "no record " << id;
    return {};
}

template <> SourceInfo lists::stored<SourceInfo>(int id) {
    return stored_record(*soap, id, &SoapClientProxy::EnumSourceConfigurations,
                         &SourceInfo::Source);
}
template <> ArchiveInfo lists::stored<ArchiveInfo>(int id) {
    return stored_record(*soap, id, &SoapClientProxy::EnumArchiveConfigurations,
                         &ArchiveInfo::Archive);
}
template <> CollectionInfo lists::stored<CollectionInfo>(int id) {
    return stored_record(*soap, id, &SoapClientProxy::EnumCollectionConfigurations,
                         &CollectionInfo::Collection);
}
template <> WatchInfo lists::stored<WatchInfo>(int id) {
    return stored_record(*soap, id, &SoapClientProxy::EnumWatchConfigurations, &WatchInfo::Watch);
}

bool has(const std::vector<AccessSpec>& acl, const AccessSpec& entry) {
    return std::find(acl.begin(), acl.end(), entry) != acl.end();
}

TEST_F(lists, SourceListsEditedThroughTheirDialogsReachTheDaemon) {
    const std::string o = kOrigin;
    show(frame, cp_kind::source, "Web", 2);

    // Authentication page: removing a pre-URL alone enables Apply.
    wxListCtrl* preurls = list(cp_kind::source, ID_PREURLS);
    ASSERT_EQ(column(*preurls, 0), (std::vector<std::string>{o + "start", o + "second"}));
    EXPECT_FALSE(frame->is_modified());
    EXPECT_FALSE(enabled(frame, page(cp_kind::source, 2), ID_APPLY));
    select_row(*preurls, 1);
    click(page(cp_kind::source, 2), ID_PREURL_REMOVE);
    EXPECT_TRUE(frame->is_modified());
    EXPECT_TRUE(enabled(frame, page(cp_kind::source, 2), ID_APPLY));

    wxListCtrl* params = list(cp_kind::source, ID_COOKIE_PARAMS);
    {
        modal_script script;
        script.then<WXUrlDialog>(confirm<WXUrlDialog>([&](WXUrlDialog& d) {
            EXPECT_EQ(d.url.utf8_string(), o + "login");
            d.url = o + "signin";
        }));
        script.then<WXParamDialog>(confirm<WXParamDialog>([](WXParamDialog& d) {
            d.param = {"lang", "en", COOKIE_OTHER};
        }));
        script.then<WXParamDialog>(confirm<WXParamDialog>([](WXParamDialog& d) {
            d.param = {"tmp", "x", COOKIE_OTHER};
        }));
        script.then<WXParamDialog>(confirm<WXParamDialog>([](WXParamDialog& d) {
            EXPECT_EQ(d.param, (CookieParam{"user", "", COOKIE_USERNAME}));
            d.param.Name = "login";
        }));
        script.then<WXParamDialog>(cancel<WXParamDialog>());
        script.then<WXUrlDialog>(confirm<WXUrlDialog>([&](WXUrlDialog& d) {
            EXPECT_TRUE(d.url.empty());
            d.url = o + "warmup";
        }));
        script.then<WXUrlDialog>(confirm<WXUrlDialog>([&](WXUrlDialog& d) {
            EXPECT_EQ(d.url.utf8_string(), o + "start");
            d.url = o + "begin";
        }));
        wxWindow* auth = page(cp_kind::source, 2);
        click(auth, ID_COOKIE_URL_EDIT);
        click(auth, ID_COOKIE_PARAM_ADD);
        click(auth, ID_COOKIE_PARAM_ADD);
        activate_row(*params, 0);
        select_row(*params, 1);
        click(auth, ID_COOKIE_PARAM_EDIT); // cancelled: nothing changes
        select_row(*params, 2);
        click(auth, ID_COOKIE_PARAM_REMOVE);
        click(auth, ID_PREURL_ADD);
        activate_row(*preurls, 0);
    }
    // The URL field cannot be typed in: only its button changes it.
    wxWindow* cookie_panel = page(cp_kind::source, 2)->FindWindow(ID_COOKIE_AUTH_PANEL);
    EXPECT_EQ(tn_test::children_of<wxTextCtrl>(cookie_panel).at(0)->GetValue().utf8_string(),
              o + "signin");
    EXPECT_EQ(column(*params, 0), (std::vector<std::string>{"login", "lang"}));
    EXPECT_EQ(column(*params, 1), (std::vector<std::string>{"", "en"}));
    EXPECT_EQ(column(*params, 2), (std::vector<std::string>{"Username", "Other"}));
    EXPECT_EQ(column(*preurls, 0), (std::vector<std::string>{o + "begin", o + "warmup"}));

    // Gathering page: seeds (one of them dropped on the page) and filters.
    frame->kind_notebook(cp_kind::source)->SetSelection(1);
    wxListCtrl* seeds = list(cp_kind::source, ID_SEEDS);
    wxListCtrl* filters = list(cp_kind::source, ID_FILTERS);
    auto* drop = dynamic_cast<WXSeedDropTarget*>(page(cp_kind::source, 1)->GetDropTarget());
    ASSERT_NE(drop, nullptr);
    EXPECT_EQ(drop->OnDragOver(5, 5, wxDragCopy), wxDragLink);
    {
        modal_script script;
        script.then<WXUrlSmartDialog>(confirm<WXUrlSmartDialog>([&](WXUrlSmartDialog& d) {
            EXPECT_TRUE(d.url.empty());
            d.url = o + "blog/";
        }));
        script.then<WXUrlSmartDialog>(confirm<WXUrlSmartDialog>([&](WXUrlSmartDialog& d) {
            EXPECT_EQ(d.url.utf8_string(), o + "news/");
            d.url = o + "news/today/";
        }));
        script.then<WXUrlSmartDialog>(cancel<WXUrlSmartDialog>());
        script.then<WXUrlSmartDialog>(confirm<WXUrlSmartDialog>([&](WXUrlSmartDialog& d) {
            EXPECT_EQ(d.url.utf8_string(), o + "dropped/"); // shown in the dialog's own form
        }));
        script.then<WXUrlSmartDialog>(cancel<WXUrlSmartDialog>());
        script.then<WXUrlSmartDialog>(
            confirm<WXUrlSmartDialog>([&](WXUrlSmartDialog& d) { d.url = o + "old/"; }));
        wxWindow* gathering = page(cp_kind::source, 1);
        click(gathering, ID_SEED_ADD);
        activate_row(*seeds, 0);
        click(gathering, ID_SEED_ADD); // cancelled
        EXPECT_TRUE(drop->OnDropURL(1, 1, wxString::FromUTF8(o + "dropped/")));
        EXPECT_TRUE(drop->OnDropURL(1, 1, "http://elsewhere.example/")); // cancelled
        click(gathering, ID_SEED_ADD);
        select_row(*seeds, 3);
        click(gathering, ID_SEED_REMOVE);
    }
    EXPECT_EQ(column(*seeds, 0),
              (std::vector<std::string>{o + "news/today/", o + "blog/", o + "dropped/"}));
    select_row(*seeds, 1);
    click(page(cp_kind::source, 1), ID_SEED_BROWSE);
    ASSERT_FALSE(services.opened.empty());
    EXPECT_EQ(services.opened.back(), o + "blog/");

    {
        modal_script script;
        script.then<WXRegExDialog>(confirm<WXRegExDialog>([](WXRegExDialog& d) {
            EXPECT_TRUE(d.expression.empty());
            d.expression = "^http://127\\.0\\.0\\.1:1/news/";
            d.type = 0;
        }));
        // Include to exclude: the icon and the stored type follow.
        script.then<WXRegExDialog>(confirm<WXRegExDialog>([](WXRegExDialog& d) {
            EXPECT_EQ(d.expression, "^http://127\\.0\\.0\\.1:1/news/");
            EXPECT_EQ(d.type, 0);
            d.expression = "/private/";
            d.type = 1;
        }));
        script.then<WXRegExDialog>(cancel<WXRegExDialog>());
        click(page(cp_kind::source, 1), ID_FILTER_ADD);
        EXPECT_EQ(rows(filters).back(), (row_state{"^http://127\\.0\\.0\\.1:1/news/", 0, 0}));
        activate_row(*filters, 2);
        select_row(*filters, 0);
        click(page(cp_kind::source, 1), ID_FILTER_EDIT); // cancelled
        select_row(*filters, 1);
        click(page(cp_kind::source, 1), ID_FILTER_REMOVE);
    }
    EXPECT_EQ(rows(filters),
              (std::vector<row_state>{{"^http://127\\.0\\.0\\.1:1/", 0, 0}, {"/private/", 1, 1}}));
    screenshot(frame, "lists-source-gathering-edited");

    // Plugins page: every filter starts disabled; enabling, toggling and moving.
    frame->kind_notebook(cp_kind::source)->SetSelection(3);
    wxWindow* plugins = page(cp_kind::source, 3);
    wxListCtrl* pipeline = list(cp_kind::source, ID_PLUGINS_PIPELINE);
    const int a = filter_ids[0], b = filter_ids[1], g = filter_ids[2];
    ASSERT_EQ(rows(pipeline),
              (std::vector<row_state>{{"alpha", 1, -a}, {"beta", 1, -b}, {"gamma", 1, -g}}));
    auto* box = control<wxCheckBox>(frame, cp_kind::source, ID_PLUGIN_ENABLED);
    select_row(*pipeline, 0);
    bool described = false;
    for (wxStaticText* t : tn_test::children_of<wxStaticText>(plugins))
        described = described || t->GetLabel() == "the alpha filter";
    EXPECT_TRUE(described);
    EXPECT_FALSE(box->GetValue());
    EXPECT_FALSE(enabled(frame, plugins, ID_PLUGIN_UP));
    tn_test::click_box(*plugins, ID_PLUGIN_ENABLED);
    EXPECT_EQ(rows(pipeline)[0], (row_state{"alpha", 0, a}));
    tn_test::click_box(*plugins, ID_PLUGIN_ENABLED);
    tn_test::click_box(*plugins, ID_PLUGIN_ENABLED); // twice more: enabled again
    EXPECT_EQ(rows(pipeline)[0], (row_state{"alpha", 0, a}));
    // Down twice and up once: second, selected and focused.
    click(plugins, ID_PLUGIN_DOWN);
    click(plugins, ID_PLUGIN_DOWN);
    EXPECT_FALSE(enabled(frame, plugins, ID_PLUGIN_DOWN));
    click(plugins, ID_PLUGIN_UP);
    EXPECT_EQ(rows(pipeline),
              (std::vector<row_state>{{"beta", 1, -b}, {"alpha", 0, a}, {"gamma", 1, -g}}));
    EXPECT_EQ(pipeline->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED), 1);
    EXPECT_EQ(pipeline->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_FOCUSED), 1);
    EXPECT_TRUE(box->GetValue());
    select_row(*pipeline, 2);
    EXPECT_FALSE(box->GetValue());
    tn_test::click_box(*plugins, ID_PLUGIN_ENABLED);
    click(plugins, ID_PLUGIN_UP);
    click(plugins, ID_PLUGIN_UP);
    EXPECT_EQ(rows(pipeline),
              (std::vector<row_state>{{"gamma", 0, g}, {"beta", 1, -b}, {"alpha", 0, a}}));

    screenshot(frame, "lists-source-plugins-edited");

    // ACL page: an entry added, then edited by activating its row.
    frame->kind_notebook(cp_kind::source)->SetSelection(4);
    wxListCtrl* acl = list(cp_kind::source, ID_SOURCE_ACL);
    {
        modal_script script;
        script.then<WXACLDialog>(confirm<WXACLDialog>([](WXACLDialog& d) {
            EXPECT_TRUE(d.name.empty());
            d.name = "reader";
            d.mask = 0x1;
        }));
        script.then<WXACLDialog>(confirm<WXACLDialog>([](WXACLDialog& d) {
            EXPECT_EQ(d.name, "reader");
            EXPECT_EQ(d.mask, 0x1u);
            d.mask = 0x1 | 0x20000;
        }));
        click(page(cp_kind::source, 4), ID_SOURCE_ACL_ADD);
        activate_row(*acl, tn_test::find_row(*acl, "reader"));
    }
    const long reader = tn_test::find_row(*acl, "reader");
    ASSERT_NE(reader, -1);
    EXPECT_EQ(acl->GetItemText(reader, 1).utf8_string(), "Allow Read - Deny Write");

    apply(cp_kind::source, 4);
    const SourceInfo s = stored<SourceInfo>(source.Source);
    EXPECT_EQ(s.Configuration.Seeds,
              (std::vector<std::string>{o + "news/today/", o + "blog/", o + "dropped/"}));
    EXPECT_EQ(s.Configuration.IncludeFilters,
              std::vector<std::string>{"^http://127\\.0\\.0\\.1:1/"});
    EXPECT_EQ(s.Configuration.ExcludeFilters, std::vector<std::string>{"/private/"});
    EXPECT_EQ(s.Configuration.CookieParams.Url, o + "signin");
    EXPECT_EQ(
        s.Configuration.CookieParams.Params,
        (std::vector<CookieParam>{{"login", "", COOKIE_USERNAME}, {"lang", "en", COOKIE_OTHER}}));
    EXPECT_EQ(s.Configuration.CookieParams.PreUrls,
              (std::vector<std::string>{o + "begin", o + "warmup"}));
    EXPECT_EQ(s.Configuration.RendererDocFilterIDs, (std::vector<int32_t>{g, a}));
    EXPECT_TRUE(has(s.Configuration.ACL, {"reader", READACCESS, false}));
    EXPECT_TRUE(has(s.Configuration.ACL, {"reader", WRITEACCESS, true}));
    EXPECT_FALSE(has(s.Configuration.ACL, {"reader", WRITEACCESS, false}));
}

TEST_F(lists, DroppedDataThatIsNoUrlAddsNoSeedAndLosesNoEdit) {
    const std::string name = stored<SourceInfo>(source.Source).Configuration.Name;
    show(frame, cp_kind::source, name, 1);
    frame->Raise();
    wxListCtrl* seeds = list(cp_kind::source, ID_SEEDS);
    const std::vector<std::string> before = column(*seeds, 0);
    ASSERT_FALSE(before.empty());
    // An edit not yet applied, which the drops must leave alone.
    wxTextCtrl* description = control<wxTextCtrl>(frame, cp_kind::source, ID_SOURCE_DESCRIPTION);
    ASSERT_NE(description, nullptr);
    description->SetValue("edited, not applied");
    ASSERT_TRUE(frame->is_modified());
    pump(300);
    const wxRect seeds_rect = seeds->GetScreenRect();
    const wxPoint over_seeds(seeds_rect.x + seeds_rect.width / 2,
                             seeds_rect.y + seeds_rect.height / 2);

    {
        // A colour, as colour pickers drag it: the page's URL data object cannot take it, so
        // no dialog opens.
        modal_script script;
        auto* picture = new drag_source([] {
            auto* colour = new wxCustomDataObject(wxDataFormat("application/x-color"));
            const unsigned short rgba[4] = {0xffff, 0x2000, 0x2000, 0xffff};
            colour->SetData(sizeof rgba, rgba);
            return colour;
        });
        picture->Show();
        pump(400);
        ASSERT_TRUE(drag_with_pointer(*picture, over_seeds));
        EXPECT_TRUE(picture->started);
        EXPECT_FALSE(wxIsDragResultOk(picture->result)) << picture->result;
        EXPECT_EQ(script.seen, 0);
        picture->Destroy();
        pump(200);
    }
    {
        // Plain words: the URL data object takes text too, so they reach the seed dialog, which
        // shows them, refuses OK as no kind of address, and the user gives up.
        auto* drop = dynamic_cast<WXSeedDropTarget*>(page(cp_kind::source, 1)->GetDropTarget());
        ASSERT_NE(drop, nullptr);
        modal_script script;
        script.then<WXUrlSmartDialog>([](WXUrlSmartDialog& d) {
            tn_test::open(d);
            EXPECT_EQ(d.url, "just some words");
            EXPECT_EQ(press_ok(d), -1);
            return static_cast<int>(wxID_CANCEL);
        });
        EXPECT_TRUE(drop->OnDropURL(1, 1, "just some words"));
    }
    EXPECT_EQ(column(*seeds, 0), before);
    EXPECT_EQ(description->GetValue(), "edited, not applied");
    EXPECT_TRUE(frame->is_modified());
    EXPECT_TRUE(enabled(frame, page(cp_kind::source, 1), ID_APPLY));
    click(page(cp_kind::source, 1), ID_REVERT);
    pump(300);
}

TEST_F(lists, ScheduleWhenValueFollowsTheFrequency) {
    show(frame, cp_kind::archive, "News archive", 2);
    auto* frequency = control<wxChoice>(frame, cp_kind::archive, ID_SCHEDULE_FREQUENCY);
    auto* every = control<wxSpinCtrl>(frame, cp_kind::archive, ID_SCHEDULE_EVERY);
    wxStaticText* label =
        tn_test::children_of<wxStaticText>(page(cp_kind::archive, 2)->FindWindow(ID_SCHEDULE_PANEL))
            .at(1);
    frame->UpdateWindowUI(wxUPDATE_UI_RECURSE);
    EXPECT_EQ(frequency->GetSelection(), 1);
    EXPECT_EQ(every->GetValue(), 3);
    EXPECT_EQ(label->GetLabel(), "Every N days");
    EXPECT_EQ(every->GetMax(), 6);

    struct step {
        int set, pick, expected;
        const char* label;
        int min, max;
    } steps[] = {
        {3, 2, 3, "Day of week (0=Sunday, 1=Monday, etc.)", 0, 6},
        {0, 3, 1, "Day of month", 1, 28},                          // monthly while 0 shows: 1
        {7, 2, 0, "Day of week (0=Sunday, 1=Monday, etc.)", 0, 6}, // weekly while 7: 0
        {0, 0, 1, "Every N hours", 1, 23},
        {20, 1, 6, "Every N days", 1, 6},
    };
    for (const step& s : steps) {
        every->SetValue(s.set);
        pick(frequency, s.pick);
        frame->UpdateWindowUI(wxUPDATE_UI_RECURSE);
        EXPECT_EQ(every->GetValue(), s.expected) << s.pick;
        EXPECT_EQ(label->GetLabel(), s.label);
        EXPECT_EQ(every->GetMin(), s.min);
        EXPECT_EQ(every->GetMax(), s.max);
    }
    EXPECT_TRUE(frame->is_modified());
    screenshot(frame, "lists-archive-schedule");
    click(page(cp_kind::archive, 2), ID_REVERT);
    pump(300);

    // A stored value the frequency's range cannot hold survives an Apply of another edit.
    show(frame, cp_kind::archive, "Odd schedule", 2);
    EXPECT_EQ(every->GetValue(), 30);
    EXPECT_EQ(label->GetLabel(), "Every N hours");
    frame->name_field(cp_kind::archive)->SetValue("Odd schedule kept");
    apply(cp_kind::archive, 2);
    const ArchiveInfo a = stored<ArchiveInfo>(odd.Archive);
    EXPECT_EQ(a.Configuration.Name, "Odd schedule kept");
    EXPECT_EQ(a.Configuration.SchedulingFrequency, HOURLY);
    EXPECT_EQ(a.Configuration.SchedulingAttribute, 30);
}

TEST_F(lists, EditAuthenticationCreatesThenUpdatesTheRecord) {
    // Cancelled for an archive without credentials: nothing is made.
    show(frame, cp_kind::archive, stored<ArchiveInfo>(odd.Archive).Configuration.Name, 2);
    ASSERT_TRUE(enabled(frame, page(cp_kind::archive, 2), ID_EDIT_AUTHENTICATION));
    {
        modal_script script;
        script.then<WXSourceAuthDialog>(cancel<WXSourceAuthDialog>());
        click(page(cp_kind::archive, 2), ID_EDIT_AUTHENTICATION);
    }
    EXPECT_EQ(stored<ArchiveInfo>(odd.Archive).Configuration.Auth, 0);

    // The archive changes elsewhere while the dialog is open: its apply is refused, and the
    // record just made goes again rather than stay where nothing refers to it.
    {
        modal_script script;
        script.then<WXSourceAuthDialog>([&](WXSourceAuthDialog& d) {
            tn_test::open(d);
            [&] {
                const ArchiveInfo theirs = stored<ArchiveInfo>(odd.Archive);
                ArchiveConfiguration cfg = theirs.Configuration;
                cfg.AdministrativeContact = "elsewhere";
                ArchiveInfo answer;
                SOAP(soap->SetArchiveConfiguration(odd.Archive, cfg, theirs.Magic, answer));
            }();
            return press_ok(d);
        });
        click(page(cp_kind::archive, 2), ID_EDIT_AUTHENTICATION);
    }
    ASSERT_EQ(services.errors,
              std::vector<std::string>{"The object has been modified by another user"});
    services.errors.clear();
    EXPECT_EQ(stored<ArchiveInfo>(odd.Archive).Configuration.Auth, 0);
    int probe = 0; // ids are handed out in turn: the one made by the window is the one before
    SOAP(soap->AddAuth(AuthConfiguration{}, probe));
    AuthConfiguration orphan;
    uint32_t orphan_magic = 0;
    EXPECT_THROW(soap->GetAuthConfiguration(probe - 1, orphan, orphan_magic),
                 EasySoap::SOAPException);
    SOAP(soap->RemoveAuth(probe));

    // Confirmed: a new record granting the connected user, then the archive refers to it.
    show(frame, cp_kind::archive, "News archive", 2);
    const std::string user = daemon->user();
    {
        modal_script script;
        script.then<WXSourceAuthDialog>(confirm<WXSourceAuthDialog>([&](WXSourceAuthDialog& d) {
            EXPECT_EQ(d.auth.Username, "");
            EXPECT_EQ(d.auth.ACL, (std::vector<AccessSpec>{{user, READACCESS, false},
                                                           {user, WRITEACCESS, false}}));
            d.auth.Username = "crawler";
            d.auth.Password = "pw";
        }));
        click(page(cp_kind::archive, 2), ID_EDIT_AUTHENTICATION);
    }
    const ArchiveInfo with_auth = stored<ArchiveInfo>(news.Archive);
    ASSERT_GE(with_auth.Configuration.Auth, 1);
    AuthConfiguration auth;
    uint32_t magic = 0;
    SOAP(soap->GetAuthConfiguration(with_auth.Configuration.Auth, auth, magic));
    EXPECT_EQ(auth.Username, "crawler");
    EXPECT_EQ(auth.Password, "pw");
    EXPECT_TRUE(has(auth.ACL, {user, WRITEACCESS, false}));

    // Again on the reloaded archive: the record is updated, the archive is not sent.
    ASSERT_TRUE(pump_until(
        [&] { return frame->current_archive().Configuration.Auth == with_auth.Configuration.Auth; },
        10));
    {
        modal_script script;
        script.then<WXSourceAuthDialog>(confirm<WXSourceAuthDialog>([](WXSourceAuthDialog& d) {
            EXPECT_EQ(d.auth.Username, "crawler");
            EXPECT_EQ(d.auth.Password, "pw");
            d.auth.Username = "crawler2";
        }));
        click(page(cp_kind::archive, 2), ID_EDIT_AUTHENTICATION);
    }
    SOAP(soap->GetAuthConfiguration(with_auth.Configuration.Auth, auth, magic));
    EXPECT_EQ(auth.Username, "crawler2");
    EXPECT_EQ(stored<ArchiveInfo>(news.Archive).Magic, with_auth.Magic);

    // Someone else changes the record while the dialog is open: the stale magic is reported
    // and their change stays.
    {
        modal_script script;
        script.then<WXSourceAuthDialog>([&](WXSourceAuthDialog& d) {
            tn_test::open(d);
            AuthConfiguration theirs = auth;
            theirs.Password = "theirs";
            [&] {
                SOAP(soap->SetAuthConfiguration(with_auth.Configuration.Auth, theirs, magic));
            }();
            d.auth.Username = "mine";
            d.TransferDataToWindow();
            return press_ok(d);
        });
        click(page(cp_kind::archive, 2), ID_EDIT_AUTHENTICATION);
    }
    ASSERT_EQ(services.errors,
              std::vector<std::string>{"The object has been modified by another user"});
    services.errors.clear();
    SOAP(soap->GetAuthConfiguration(with_auth.Configuration.Auth, auth, magic));
    EXPECT_EQ(auth.Username, "crawler2");
    EXPECT_EQ(auth.Password, "theirs");
}

TEST_F(lists, CollectionArchivesAndEveryKindsAclReachTheDaemon) {
    show(frame, cp_kind::collection, "All news", 2);
    wxListCtrl* archives = tn_test::children_of<wxListCtrl>(page(cp_kind::collection, 2)).at(0);
    EXPECT_EQ(column(*archives, 0), std::vector<std::string>{"News archive"});
    {
        modal_script script;
        script.then<WXArchiveDialog>(confirm<WXArchiveDialog>([&](WXArchiveDialog& d) {
            EXPECT_EQ(d.archive_ids, std::vector<int32_t>{news.Archive});
            d.archive_ids = {odd.Archive, news.Archive};
        }));
        click(page(cp_kind::collection, 2), ID_COLLECTION_ARCHIVES_EDIT);
    }
    // Rows in the dialog's order (its tree sorts by name), with each source's description.
    EXPECT_EQ(column(*archives, 0),
              (std::vector<std::string>{"News archive",
                                        stored<ArchiveInfo>(odd.Archive).Configuration.Name}));
    EXPECT_EQ(column(*archives, 1), (std::vector<std::string>{"daily news", "daily news"}));
    EXPECT_TRUE(frame->is_modified());

    // The collection's ACL: an entry added.
    frame->kind_notebook(cp_kind::collection)->SetSelection(3);
    wxListCtrl* acl = list(cp_kind::collection, ID_COLLECTION_ACL);
    {
        modal_script script;
        script.then<WXACLDialog>(confirm<WXACLDialog>([](WXACLDialog& d) {
            d.name = "reader";
            d.mask = 0x3;
        }));
        click(page(cp_kind::collection, 3), ID_COLLECTION_ACL_ADD);
    }
    EXPECT_EQ(column(*acl, 1).back(), "Allow Read/Write");
    apply(cp_kind::collection, 3);
    const CollectionInfo c = stored<CollectionInfo>(collection.Collection);
    EXPECT_EQ(c.Configuration.Archives, (std::vector<int32_t>{news.Archive, odd.Archive}));
    EXPECT_TRUE(has(c.Configuration.ACL, {"reader", READACCESS, false}));
    EXPECT_TRUE(has(c.Configuration.ACL, {"reader", WRITEACCESS, false}));

    // The watch's and the archive's ACL pages, each on its own list; a name that is not ASCII
    // goes through the UTF-8 conversions both ways.
    for (const auto& [kind, name, index, list_id, user] :
         {std::tuple{cp_kind::watch, "Breaking", 2, ID_WATCH_ACL, "reader"},
          std::tuple{cp_kind::archive, "News archive", 3, ID_ARCHIVE_ACL, "j\u00fcrgen"}}) {
        show(frame, kind, name, index);
        wxListCtrl* l = list(kind, list_id);
        {
            modal_script script;
            script.then<WXACLDialog>(confirm<WXACLDialog>([user = user](WXACLDialog& d) {
                d.name = wxString::FromUTF8(user);
                d.mask = 0x1;
            }));
            script.then<WXACLDialog>(
                confirm<WXACLDialog>([](WXACLDialog& d) { d.mask = 0x10000; }));
            click(page(kind, index), list_id + 1);
            select_row(*l, tn_test::find_row(*l, user));
            click(page(kind, index), list_id + 2);
        }
        ASSERT_NE(tn_test::find_row(*l, user), -1) << user;
        EXPECT_EQ(l->GetItemText(tn_test::find_row(*l, user), 1).utf8_string(), "Deny Read");
        apply(kind, index);
    }
    EXPECT_TRUE(
        has(stored<WatchInfo>(watch.Watch).Configuration.ACL, {"reader", READACCESS, true}));
    EXPECT_TRUE(has(stored<ArchiveInfo>(news.Archive).Configuration.ACL,
                    {"j\u00fcrgen", READACCESS, true}));
    // Removing the entry again.
    show(frame, cp_kind::watch, "Breaking", 2);
    wxListCtrl* watch_acl = list(cp_kind::watch, ID_WATCH_ACL);
    select_row(*watch_acl, tn_test::find_row(*watch_acl, "reader"));
    click(page(cp_kind::watch, 2), ID_WATCH_ACL_REMOVE);
    EXPECT_EQ(tn_test::find_row(*watch_acl, "reader"), -1);
    apply(cp_kind::watch, 2);
    const auto& wacl = stored<WatchInfo>(watch.Watch).Configuration.ACL;
    EXPECT_TRUE(std::none_of(wacl.begin(), wacl.end(),
                             [](const AccessSpec& e) { return e.Name == "reader"; }));
}

} // namespace

int main(int argc, char** argv) {
    return run_frame_tests(argc, argv);
}
