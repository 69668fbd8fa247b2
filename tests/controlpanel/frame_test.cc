// The main window against a real daemon: the first poll, the four trees and the filter, the
// pages of each kind, Apply (a rename reaching the daemon, a stale record refused), the
// server status dialog, and a stopped daemon reported once while the window stays usable.
#include "../support/live_daemon.h"
#include "scratch.h"

#include "controlpanel/cp-frame.h"
#include "cpdialogs/cp-services.h"
#include "cpdialogs/status-dialog.h"
#include "cpmodel/frame-ids.h"
#include "cpmodel/settings-model.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/checkbox.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/listctrl.h>
#include <wx/notebook.h>
#include <wx/statusbr.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <chrono>
#include <functional>
#include <thread>

using namespace lumbrake;

namespace {

// Records message boxes and browser calls; SOAP texts as the application formats them.
class test_services : public cp_services {
public:
    std::unique_ptr<SoapClientProxy> CreateSoapProxy() override {
        return std::make_unique<SoapClientProxy>(endpoint);
    }
    wxString FormatSoapError(const EasySoap::SOAPException& e) override {
        const soap_error_message m = soap_error_text(e.what());
        wxString out = wxString::FromUTF8(m.format);
        if (m.has_argument) out.Replace("%s", wxString::FromUTF8(m.argument), false);
        return out;
    }
    void ShowError(const wxString& message, wxWindow*) override {
        errors.push_back(message.utf8_string());
    }
    void ShowWarning(const wxString& message, wxWindow*) override {
        warnings.push_back(message.utf8_string());
    }
    cp_connection_settings GetConnectionSettings() override { return settings; }
    void SetConnectionSettings(const cp_connection_settings& s) override { settings = s; }
    bool SaveConnectionSettings() override { return true; }
    std::string GetHost() override { return settings.host.utf8_string(); }
    std::string GetUserName() override { return settings.user_name.utf8_string(); }
    void OpenURL(const std::string& url) override { opened.push_back(url); }

    std::string endpoint;
    cp_connection_settings settings;
    std::vector<std::string> errors, warnings, opened;
};

test_services services;

// Runs the event loop until `done` holds or the time is up.
bool pump_until(const std::function<bool()>& done, int seconds = 30) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        wxTheApp->ProcessPendingEvents();
        wxTheApp->ProcessIdle();
        wxYield();
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

void pump(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    pump_until([&] { return std::chrono::steady_clock::now() >= end; }, 60);
}

void screenshot(wxWindow* window, const std::string& name) {
    window->Raise();
    window->Update();
    pump(400);
    const std::string file = std::string(TN_SHOTS_DIR) + "/" + name + ".png";
    const wxRect r = window->GetScreenRect();
    const std::string crop = std::to_string(r.width) + "x" + std::to_string(r.height) + "+" +
                             std::to_string(r.x) + "+" + std::to_string(r.y);
    const std::string cmd = "import -window root -crop " + crop + " '" + file + "' 2>/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << file;
}

std::vector<std::string> labels(wxTreeCtrl* tree, const wxTreeItemId& parent) {
    std::vector<std::string> out;
    wxTreeItemIdValue cookie;
    for (wxTreeItemId c = tree->GetFirstChild(parent, cookie); c.IsOk();
         c = tree->GetNextChild(parent, cookie))
        out.push_back(tree->GetItemText(c).utf8_string());
    return out;
}

wxTreeItemId find_top(wxTreeCtrl* tree, const std::string& label) {
    wxTreeItemIdValue cookie;
    for (wxTreeItemId c = tree->GetFirstChild(tree->GetRootItem(), cookie); c.IsOk();
         c = tree->GetNextChild(tree->GetRootItem(), cookie))
        if (tree->GetItemText(c).utf8_string() == label) return c;
    return {};
}

template <class T> T* control(WXControlPanelFrame* frame, cp_kind kind, int id) {
    return dynamic_cast<T*>(frame->kind_notebook(kind)->FindWindow(id));
}

// Shows the object of `kind` labelled `label` and waits until its pages are filled.
void show(WXControlPanelFrame* frame, cp_kind kind, const std::string& label, int page) {
    const int index = static_cast<int>(kind) - 1;
    frame->trees_notebook()->SetSelection(index);
    wxTreeCtrl* tree = frame->tree(index);
    const wxTreeItemId item = find_top(tree, label);
    ASSERT_TRUE(item.IsOk()) << label;
    tree->SelectItem(item);
    ASSERT_TRUE(pump_until([&] {
        return frame->shown_panel() == index + 2 &&
               frame->name_field(kind)->GetValue().utf8_string() == label;
    })) << label;
    frame->kind_notebook(kind)->SetSelection(page);
}

// A SOAP call of the test itself; a failure names the call. The daemon now and then closes
// a connection without an answer ("Empty reply from server"); the test's own calls try once
// more then, the window's calls never do.
#define SOAP(call)                                                                         \
    do {                                                                                   \
        try {                                                                              \
            try {                                                                          \
                call;                                                                      \
            } catch (const EasySoap::SOAPException& e) {                                   \
                if (std::string(e.what()).find("Empty reply") == std::string::npos) throw; \
                call;                                                                      \
            }                                                                              \
        } catch (const std::exception& e) {                                                \
            FAIL() << #call << ": " << e.what();                                           \
        }                                                                                  \
    } while (0)

void click(wxWindow* page, int id) {
    wxWindow* button = page->FindWindow(id);
    ASSERT_NE(button, nullptr);
    wxCommandEvent ev(wxEVT_BUTTON, id);
    ev.SetEventObject(button);
    button->GetEventHandler()->ProcessEvent(ev);
}

TEST(controlpanel_frame, MainRoadAgainstARealDaemon) {
    const auto root = tn_test::scratch("daemon");
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    tn_test::live_daemon d(root / "d");
    d.start();
    services.endpoint = d.soap_endpoint();
    services.settings.host = "127.0.0.1";
    services.settings.port = wxString::Format("%d", d.port());
    services.settings.user_name = wxString::FromUTF8(d.user());

    // What the trees are to show, made over SOAP.
    SoapClientProxy soap(d.soap_endpoint());
    SourceConfiguration web;
    web.Name = "Web news";
    web.Description = "daily news";
    web.Seeds = {"http://127.0.0.1:1/news/"};
    web.IncludeFilters = {"^http://127\\.0\\.0\\.1:1/"};
    web.ExcludeFilters = {"\\.zip$"};
    web.DepthLimit = 3;
    SourceInfo web_info, files_info;
    SOAP(soap.AddSource(web, web_info));
    SourceConfiguration files;
    files.Name = "Files";
    files.Description = "local disk";
    SOAP(soap.AddSource(files, files_info));
    ArchiveConfiguration arc;
    arc.Name = "News archive";
    arc.AdministrativeContact = "ops@example.org";
    arc.Source = web_info.Source;
    arc.SchedulingFrequency = DAILY;
    arc.AccessTime = 5;
    ArchiveInfo arc_info;
    SOAP(soap.AddArchive(arc, arc_info));
    CollectionConfiguration col;
    col.Name = "All news";
    col.Description = "every news archive";
    col.Archives = {arc_info.Archive};
    CollectionInfo col_info;
    SOAP(soap.AddCollection(col, col_info));
    WatchConfiguration watch;
    watch.Name = "Breaking";
    watch.Query = "urgent";
    watch.Freshness = 2 * 86400;
    watch.Collection = col_info.Collection;
    WatchInfo watch_info;
    SOAP(soap.AddWatch(watch, watch_info));

    auto* frame = new WXControlPanelFrame();
    frame->Show();
    wxStatusBar* status = frame->GetStatusBar();
    ASSERT_TRUE(pump_until([&] { return status->GetStatusText(0).StartsWith("Connected"); }));
    EXPECT_EQ(status->GetStatusText(0).utf8_string(),
              "Connected to 127.0.0.1 as " + d.user() + ".");
    EXPECT_TRUE(services.errors.empty());

    // The four trees with the links between them.
    wxTreeCtrl* sources = frame->tree(0);
    EXPECT_EQ(labels(sources, sources->GetRootItem()),
              (std::vector<std::string>{"Files", "Web news"}));
    EXPECT_EQ(labels(sources, find_top(sources, "Web news")),
              std::vector<std::string>{"News archive"});
    EXPECT_EQ(labels(frame->tree(1), find_top(frame->tree(1), "News archive")),
              std::vector<std::string>{"Web news"});
    wxTreeCtrl* collections = frame->tree(2);
    EXPECT_EQ(labels(collections, collections->GetRootItem()),
              (std::vector<std::string>{"<All archives>", "All news"}));
    EXPECT_EQ(labels(collections, find_top(collections, "All news")),
              std::vector<std::string>{"Breaking"});
    EXPECT_EQ(labels(frame->tree(3), find_top(frame->tree(3), "Breaking")),
              std::vector<std::string>{"All news"});

    // The filter narrows the top level of every tree (typed like a user would).
    frame->Raise();
    frame->filter_text()->SetFocus();
    pump(200);
    wxUIActionSimulator sim;
    sim.Text("LOCAL");
    ASSERT_TRUE(pump_until([&] { return labels(sources, sources->GetRootItem()).size() == 1; }, 10))
        << frame->filter_text()->GetValue();
    EXPECT_EQ(labels(sources, sources->GetRootItem()), std::vector<std::string>{"Files"});
    EXPECT_TRUE(labels(frame->tree(1), frame->tree(1)->GetRootItem()).empty());
    frame->filter_text()->SetValue("");
    pump_until([&] { return labels(sources, sources->GetRootItem()).size() == 2; }, 10);
    EXPECT_EQ(labels(sources, sources->GetRootItem()).size(), 2u);

    // Each kind's pages, filled from its record.
    show(frame, cp_kind::source, "Web news", 1);
    EXPECT_EQ(control<wxListCtrl>(frame, cp_kind::source, ID_SEEDS)->GetItemCount(), 1);
    EXPECT_EQ(control<wxListCtrl>(frame, cp_kind::source, ID_FILTERS)->GetItemCount(), 2);
    EXPECT_TRUE(control<wxCheckBox>(frame, cp_kind::source, ID_DEPTH_LIMIT_CHECK)->GetValue());
    screenshot(frame, "main-source-gathering");
    frame->kind_notebook(cp_kind::source)->SetSelection(0);
    screenshot(frame, "main-source-info");

    show(frame, cp_kind::archive, "News archive", 1);
    EXPECT_EQ(control<wxTextCtrl>(frame, cp_kind::archive, ID_ARCHIVE_CONTACT)->GetValue(),
              "ops@example.org");
    screenshot(frame, "main-archive-info");
    frame->kind_notebook(cp_kind::archive)->SetSelection(2);
    EXPECT_TRUE(control<wxCheckBox>(frame, cp_kind::archive, ID_SCHEDULED)->GetValue());
    screenshot(frame, "main-archive-gathering");

    show(frame, cp_kind::collection, "All news", 2);
    EXPECT_EQ(frame->current_collection().Collection, col_info.Collection);
    screenshot(frame, "main-collection-archives");
    frame->kind_notebook(cp_kind::collection)->SetSelection(1);
    EXPECT_EQ(
        control<wxTextCtrl>(frame, cp_kind::collection, ID_COLLECTION_DESCRIPTION)->GetValue(),
        "every news archive");

    show(frame, cp_kind::watch, "Breaking", 1);
    EXPECT_EQ(control<wxTextCtrl>(frame, cp_kind::watch, ID_WATCH_FILTER)->GetValue(), "urgent");
    EXPECT_TRUE(control<wxCheckBox>(frame, cp_kind::watch, ID_WATCH_FRESHNESS_CHECK)->GetValue());
    screenshot(frame, "main-watch-info");

    // Renaming a source and pressing Apply changes it on the daemon, with a new magic.
    show(frame, cp_kind::source, "Web news", 0);
    EXPECT_FALSE(frame->is_modified());
    frame->name_field(cp_kind::source)->SetValue("Web news renamed");
    EXPECT_TRUE(frame->is_modified());
    click(frame->kind_notebook(cp_kind::source)->GetPage(0), ID_APPLY);
    std::vector<SourceInfo> stored;
    SOAP(soap.EnumSourceConfigurations(stored));
    const SourceInfo* renamed = nullptr;
    for (const auto& s : stored)
        if (s.Source == web_info.Source) renamed = &s;
    ASSERT_NE(renamed, nullptr);
    EXPECT_EQ(renamed->Configuration.Name, "Web news renamed");
    EXPECT_NE(renamed->Magic, web_info.Magic);
    EXPECT_EQ(renamed->Configuration.Seeds, web_info.Configuration.Seeds);
    EXPECT_EQ(renamed->Configuration.ExcludeFilters, web_info.Configuration.ExcludeFilters);
    EXPECT_EQ(renamed->Configuration.DepthLimit, 3);
    EXPECT_TRUE(services.errors.empty());
    ASSERT_TRUE(pump_until([&] { return find_top(sources, "Web news renamed").IsOk(); }, 10));

    // Somebody else changes the record first: Apply is refused with the daemon's fault.
    show(frame, cp_kind::source, "Web news renamed", 0);
    SourceInfo other;
    SourceConfiguration changed = renamed->Configuration;
    changed.Description = "changed elsewhere";
    SOAP(soap.SetSourceConfiguration(renamed->Source, changed, renamed->Magic, other));
    frame->name_field(cp_kind::source)->SetValue("Mine");
    click(frame->kind_notebook(cp_kind::source)->GetPage(0), ID_APPLY);
    ASSERT_EQ(services.errors.size(), 1u);
    EXPECT_EQ(services.errors[0], "The object has been modified by another user");
    services.errors.clear();

    // The server status dialog lists the daemon's rows.
    {
        auto* dialog = new WXStatusDialog(frame);
        EXPECT_GT(dialog->rows()->GetItemCount(), 0);
        EXPECT_FALSE(dialog->status_text()->GetLabel().empty());
        dialog->Show();
        screenshot(dialog, "status-dialog");
        dialog->Destroy();
        EXPECT_TRUE(services.errors.empty());
    }

    // A stopped daemon: Refresh shows one error box, and the window goes on working.
    d.stop();
    wxCommandEvent refresh(wxEVT_MENU, ID_REFRESH);
    frame->GetEventHandler()->ProcessEvent(refresh);
    ASSERT_TRUE(pump_until([&] { return !services.errors.empty(); }, 60));
    pump(500);
    ASSERT_EQ(services.errors.size(), 1u);
    EXPECT_EQ(
        services.errors[0].rfind("An error occurred while talking to server.\nThe error is: ", 0),
        0u)
        << services.errors[0];
    EXPECT_TRUE(labels(sources, sources->GetRootItem()).empty());
    frame->GetEventHandler()->ProcessEvent(refresh);
    ASSERT_TRUE(pump_until([&] { return services.errors.size() == 2; }, 60));
    EXPECT_TRUE(frame->IsEnabled());
    screenshot(frame, "main-daemon-stopped");

    frame->Destroy();
    pump(300);
}

// A failed toolkit assertion fails the test instead of opening a dialog nobody answers.
void on_assert(const wxString& file, int line, const wxString& func, const wxString& cond,
               const wxString& msg) {
    ADD_FAILURE() << "wx assertion " << cond << " (" << msg << ") in " << func << " at " << file
                  << ":" << line;
}

class test_app : public wxApp {
public:
    bool OnInit() override { return true; }
};

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    wxApp::SetInstance(new test_app);
    wxSetAssertHandler(on_assert);
    int wx_argc = 1;
    char* wx_argv[] = {argv[0], nullptr};
    if (!wxEntryStart(wx_argc, wx_argv)) return 2;
    wxTheApp->CallOnInit();
    set_cp_services(&services);
    // Events are pumped by hand: an active loop lets yields and idle processing run.
    wxGUIEventLoop loop;
    wxEventLoopActivator activate(&loop);
    const int rc = RUN_ALL_TESTS();
    set_cp_services(nullptr);
    wxEntryCleanup();
    return rc;
}
