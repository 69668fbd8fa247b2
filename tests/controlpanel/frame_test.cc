// The main window against a real daemon: the first poll, the four trees and the filter, the
// pages of each kind, Apply (a rename reaching the daemon, a stale record refused), the
// server status dialog, and a stopped daemon reported once while the window stays usable.
#include "frame_support.h"

#include "cpdialogs/status-dialog.h"

#include <wx/checkbox.h>
#include <wx/listctrl.h>
#include <wx/statusbr.h>
#include <wx/stattext.h>
#include <wx/uiaction.h>

using namespace lumbrake;
using namespace cp_test;

namespace {

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


} // namespace

int main(int argc, char** argv) {
    return run_frame_tests(argc, argv);
}
