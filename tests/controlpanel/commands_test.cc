// The main window's own commands against a real daemon: New source, archive, collection and
// watch with their defaults (read back over SOAP), "Add to ->" with a new and an existing
// collection (pressed twice), the deletions with their confirmations and in-use refusals,
// Start and Stop, the crawl-log, security and plug-in windows, the manuals, the jump from a
// linked tree item, the trees' context menu (with a screenshot), and the menu items and
// buttons of the real window all routed by the event table.
#include "../support/live_daemon.h"
#include "event_routes.h"
#include "frame_support.h"
#include "scratch.h"

#include "cpdialogs/crawl-log-frame.h"
#include "cpdialogs/new-archive-dialog.h"
#include "cpdialogs/plugins-dialog.h"
#include "cpdialogs/security-dialog.h"
#include "cpdialogs/text-dialog.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/menu.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/stdpaths.h>
#include <wx/filename.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <deque>
#include <filesystem>

using namespace lumbrake;
using namespace tn_test;
using namespace tn_frame_test;

namespace {

// Answers the modal dialogs and message boxes the commands open, one scripted answer each,
// and records what was asked.
class answering_hook : public wxModalDialogHook {
public:
    struct asked {
        std::string kind, title, message;
    };
    using answer = std::function<int(wxDialog*)>;

    std::deque<answer> answers;
    std::vector<asked> seen;

    int Enter(wxDialog* dialog) override {
        asked a;
        a.title = dialog->GetTitle().utf8_string();
        if (auto* box = dynamic_cast<wxMessageDialogBase*>(dialog)) {
            a.kind = "message";
            a.message = box->GetMessage().utf8_string();
        } else if (dynamic_cast<WXUserGroupDialog*>(dialog)) {
            a.kind = "security";
        } else if (dynamic_cast<WXPluginDialog*>(dialog)) {
            a.kind = "plugins";
        } else if (dynamic_cast<WXHistoricizeDialog*>(dialog)) {
            a.kind = "historicize";
        } else if (dynamic_cast<WXTextDialog*>(dialog)) {
            a.kind = "text";
        }
        seen.push_back(a);
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected dialog " << a.kind << " \"" << a.title << "\" "
                          << a.message;
            return wxID_CANCEL;
        }
        answer next = std::move(answers.front());
        answers.pop_front();
        return next(dialog);
    }
    void Exit(wxDialog*) override {}

    void reply(int id) {
        answers.push_back([id](wxDialog*) { return id; });
    }
};

answering_hook hook;

// A port that accepts connections and never answers: a crawl of it stays running.
class silent_server {
public:
    silent_server() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 64);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~silent_server() { ::close(fd_); }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

wxTreeItemId find_child(wxTreeCtrl* tree, const wxTreeItemId& parent, const std::string& label) {
    wxTreeItemIdValue cookie;
    for (wxTreeItemId c = tree->GetFirstChild(parent, cookie); c.IsOk();
         c = tree->GetNextChild(parent, cookie))
        if (tree->GetItemText(c).utf8_string() == label) return c;
    return {};
}

std::string selected_label(wxTreeCtrl* tree) {
    const wxTreeItemId item = tree->GetSelection();
    return item.IsOk() ? tree->GetItemText(item).utf8_string() : std::string();
}

void command(WXControlPanelFrame* frame, wxEventType type, int id) {
    wxCommandEvent event(type, id);
    event.SetEventObject(frame);
    frame->GetEventHandler()->ProcessEvent(event);
}

template <class Info, class Id>
const Info* by_id(const std::vector<Info>& list, int id, Id of) {
    for (const Info& i : list)
        if (of(i) == id) return &i;
    return nullptr;
}

const std::vector<AccessSpec> admin_owner = {{"admin", READACCESS, false},
                                             {"admin", WRITEACCESS, false}};

TEST(controlpanel_commands, CreateDeleteCrawlAndWindowsAgainstARealDaemon) {
    const auto root = tn_test::scratch("commands");
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    tn_test::live_daemon d(root / "d");
    d.start();
    ASSERT_EQ(d.user(), "admin");
    services.endpoint = d.soap_endpoint();
    services.settings.host = "127.0.0.1";
    services.settings.port = wxString::Format("%d", d.port());
    services.settings.user_name = wxString::FromUTF8(d.user());
    services.errors.clear();

    silent_server silent;
    SoapClientProxy soap(d.soap_endpoint());
    SourceConfiguration intranet;
    intranet.Name = "w\u00e9b\\intran\u00e9t";
    intranet.Description = "the intranet";
    intranet.Seeds = {"http://127.0.0.1:" + std::to_string(silent.port()) + "/"};
    intranet.IncludeFilters = {"^http://127\\.0\\.0\\.1:"};
    intranet.Type = AUTH_BASIC;
    SourceInfo intranet_info;
    SOAP(soap.AddSource(intranet, intranet_info));

    auto* frame = new WXControlPanelFrame();
    frame->Show();
    wxTreeCtrl* sources = frame->tree(0);
    wxTreeCtrl* archives = frame->tree(1);
    wxTreeCtrl* collections = frame->tree(2);
    wxTreeCtrl* watches = frame->tree(3);
    ASSERT_TRUE(pump_until([&] { return find_top(sources, "w\u00e9b\\intran\u00e9t").IsOk(); }));
    ASSERT_TRUE(services.errors.empty()) << services.errors[0];

    // Every menu item and button of the real window is routed by the event table.
    {
        std::vector<int> menu_ids;
        std::function<void(wxMenu*)> walk = [&](wxMenu* menu) {
            for (wxMenuItem* item : menu->GetMenuItems()) {
                if (item->GetSubMenu() != nullptr) walk(item->GetSubMenu());
                if (!item->IsSeparator()) menu_ids.push_back(item->GetId());
            }
        };
        for (size_t i = 0; i < frame->GetMenuBar()->GetMenuCount(); ++i)
            walk(frame->GetMenuBar()->GetMenu(i));
        EXPECT_EQ(menu_ids.size(), 20u);
        std::function<void(wxWindow*, std::vector<int>&)> buttons = [&](wxWindow* w,
                                                                         std::vector<int>& out) {
            for (wxWindow* child : w->GetChildren()) {
                if (dynamic_cast<wxButton*>(child) != nullptr) out.push_back(child->GetId());
                buttons(child, out);
            }
        };
        std::vector<int> button_ids;
        buttons(frame, button_ids);
        EXPECT_GT(button_ids.size(), 60u);
        auto routed = [](wxEventType type, int id) {
            for (const event_route& r : main_window_routes())
                if (r.type == type && id >= r.first && id <= r.last) return true;
            return false;
        };
        for (int id : menu_ids)
            EXPECT_TRUE(routed(wxEVT_MENU, id)) << "menu item " << id;
        for (int id : button_ids)
            EXPECT_TRUE(routed(wxEVT_BUTTON, id)) << "button " << id;
    }

    // New source: the defaults, the owner's access, and the new source selected on "Info".
    click(frame->trees_notebook()->GetPage(0), ID_NEW_SOURCE);
    std::vector<SourceInfo> stored_sources;
    SOAP(soap.EnumSourceConfigurations(stored_sources));
    ASSERT_EQ(stored_sources.size(), 2u);
    const SourceInfo fresh_source = stored_sources[0].Source == intranet_info.Source
                                        ? stored_sources[1]
                                        : stored_sources[0];
    EXPECT_EQ(fresh_source.Configuration.Name, "(new)");
    EXPECT_EQ(fresh_source.Configuration.DepthLimit, 0);
    EXPECT_TRUE(fresh_source.Configuration.CheckRobotsTxt);
    EXPECT_FALSE(fresh_source.Configuration.HasSideMetadata);
    EXPECT_EQ(fresh_source.Configuration.Type, AUTH_NONE);
    EXPECT_EQ(fresh_source.Configuration.CookieParams.Action, COOKIE_GET);
    EXPECT_EQ(fresh_source.Configuration.ACL, admin_owner);
    EXPECT_EQ(frame->trees_notebook()->GetSelection(), 0);
    EXPECT_EQ(selected_label(sources), "(new)");
    ASSERT_TRUE(pump_until([&] { return frame->current_source().Source == fresh_source.Source; }));
    EXPECT_EQ(frame->kind_notebook(cp_kind::source)->GetSelection(), 0);
    EXPECT_EQ(frame->name_field(cp_kind::source)->GetValue(), "(new)");
    EXPECT_EQ(wxWindow::FindFocus(), frame->name_field(cp_kind::source));

    // New archive on a source with basic authentication: the historicize question, an empty
    // authentication record linked through Auth, the name behind the backslash (in UTF-8).
    show(frame, cp_kind::source, "w\u00e9b\\intran\u00e9t", 0);
    hook.answers.push_back([](wxDialog* dialog) {
        static_cast<WXHistoricizeDialog*>(dialog)->historicize = true;
        return wxID_OK;
    });
    click(frame->kind_notebook(cp_kind::source)->GetPage(0), ID_NEW_ARCHIVE);
    ASSERT_EQ(hook.seen.back().kind, "historicize");
    std::vector<ArchiveInfo> stored_archives;
    SOAP(soap.EnumArchiveConfigurations(stored_archives));
    ASSERT_EQ(stored_archives.size(), 1u);
    const ArchiveInfo arc = stored_archives[0];
    EXPECT_EQ(arc.Configuration.Name, "intran\u00e9t");
    EXPECT_EQ(arc.Configuration.Source, intranet_info.Source);
    EXPECT_TRUE(arc.Configuration.Historicize);
    EXPECT_EQ(arc.Configuration.SchedulingFrequency, DISABLED);
    EXPECT_EQ(arc.Configuration.PagesLimit, 0);
    EXPECT_EQ(arc.Configuration.ACL, admin_owner);
    ASSERT_GT(arc.Configuration.Auth, 0);
    AuthConfiguration auth;
    std::uint32_t auth_magic = 0;
    SOAP(soap.GetAuthConfiguration(arc.Configuration.Auth, auth, auth_magic));
    EXPECT_TRUE(auth.Username.empty() && auth.Password.empty());
    EXPECT_EQ(auth.ACL, admin_owner);
    EXPECT_EQ(frame->trees_notebook()->GetSelection(), 1);
    EXPECT_EQ(selected_label(archives), "intran\u00e9t");

    // New collection, then a watch on it and one on "<All archives>".
    click(frame->trees_notebook()->GetPage(2), ID_NEW_COLLECTION);
    std::vector<CollectionInfo> stored_collections;
    SOAP(soap.EnumCollectionConfigurations(stored_collections));
    ASSERT_EQ(stored_collections.size(), 1u);
    const CollectionInfo col = stored_collections[0];
    EXPECT_EQ(col.Configuration.Name, "(new)");
    EXPECT_TRUE(col.Configuration.Archives.empty());
    EXPECT_EQ(col.Configuration.ACL, admin_owner);
    EXPECT_EQ(frame->trees_notebook()->GetSelection(), 2);
    ASSERT_TRUE(pump_until([&] { return frame->current_collection().Collection == col.Collection; }));
    EXPECT_EQ(frame->kind_notebook(cp_kind::collection)->GetSelection(), 1);
    EXPECT_EQ(wxWindow::FindFocus(), frame->name_field(cp_kind::collection));
    screenshot(frame, "commands-new-collection");

    click(frame->kind_notebook(cp_kind::collection)->GetPage(1), ID_NEW_WATCH);
    frame->trees_notebook()->SetSelection(2);
    collections->SelectItem(find_top(collections, "<All archives>"));
    ASSERT_TRUE(pump_until([&] { return frame->current_collection().Collection == -1; }));
    command(frame, wxEVT_MENU, ID_NEW_WATCH);
    std::vector<WatchInfo> stored_watches;
    SOAP(soap.EnumWatchConfigurations(stored_watches));
    ASSERT_EQ(stored_watches.size(), 2u);
    for (const WatchInfo& w : stored_watches) {
        EXPECT_EQ(w.Configuration.Name, "(new)");
        EXPECT_EQ(w.Configuration.Query, "");
        EXPECT_EQ(w.Configuration.Parser, ALGPARSER);
        EXPECT_EQ(w.Configuration.Freshness, 604800);
        EXPECT_EQ(w.Configuration.ACL, admin_owner);
    }
    EXPECT_EQ(stored_watches[0].Configuration.Collection, col.Collection);
    EXPECT_EQ(stored_watches[1].Configuration.Collection, -1);
    EXPECT_EQ(frame->trees_notebook()->GetSelection(), 3);
    EXPECT_TRUE(services.errors.empty());

    // "Add to ->": "<New Collection...>" makes a collection of this archive alone; an existing
    // collection gains it at its end, once, however often the button is pressed.
    show(frame, cp_kind::archive, "intran\u00e9t", 1);
    wxWindow* archive_info = frame->kind_notebook(cp_kind::archive)->GetPage(1);
    // The page's one choice sits beside the button.
    auto* add_to = dynamic_cast<wxChoice*>(
        archive_info->FindWindow(ID_ADD_TO_COLLECTION)->GetNextSibling());
    ASSERT_NE(add_to, nullptr);
    ASSERT_TRUE(pump_until([&] { return add_to->GetCount() == 2; }));
    EXPECT_EQ(add_to->GetString(0), "<New Collection...>");
    EXPECT_EQ(add_to->GetString(1), "(new)");
    add_to->SetSelection(0);
    hook.answers.push_back([](wxDialog* dialog) {
        static_cast<WXTextDialog*>(dialog)->text = wxString::FromUTF8("Intranet \u00fcber alles");
        return wxID_OK;
    });
    click(archive_info, ID_ADD_TO_COLLECTION);
    EXPECT_EQ(hook.seen.back().title, "New collection");
    SOAP(soap.EnumCollectionConfigurations(stored_collections));
    ASSERT_EQ(stored_collections.size(), 2u);
    EXPECT_EQ(stored_collections[1].Configuration.Name, "Intranet \u00fcber alles");
    EXPECT_EQ(stored_collections[1].Configuration.Archives,
              std::vector<std::int32_t>{arc.Archive});
    EXPECT_EQ(stored_collections[1].Configuration.ACL, admin_owner);

    add_to->SetSelection(1); // "(new)", still offered until the choice is filled again
    click(archive_info, ID_ADD_TO_COLLECTION);
    click(archive_info, ID_ADD_TO_COLLECTION);
    SOAP(soap.EnumCollectionConfigurations(stored_collections));
    EXPECT_EQ(stored_collections[0].Configuration.Archives,
              std::vector<std::int32_t>{arc.Archive});
    EXPECT_TRUE(services.errors.empty()) << services.errors[0];
    ASSERT_TRUE(pump_until([&] { return add_to->GetCount() == 1; }));

    // Start and Stop change the archive's crawling state on the daemon and on the page.
    click(archive_info, ID_START_GATHERING);
    SOAP(soap.EnumArchiveConfigurations(stored_archives));
    EXPECT_TRUE(stored_archives[0].Crawling);
    EXPECT_TRUE(frame->archive_list()[0].Crawling);
    click(archive_info, ID_STOP_GATHERING);
    SOAP(soap.EnumArchiveConfigurations(stored_archives));
    EXPECT_FALSE(stored_archives[0].Crawling);
    EXPECT_FALSE(frame->archive_list()[0].Crawling);
    EXPECT_TRUE(services.errors.empty()) << services.errors[0];

    // The crawl-log window of the archive opens on its own.
    click(archive_info, ID_LOGS);
    WXLogsFrame* logs = nullptr;
    for (wxWindow* w : wxTopLevelWindows)
        if (auto* l = dynamic_cast<WXLogsFrame*>(w)) logs = l;
    ASSERT_NE(logs, nullptr);
    EXPECT_TRUE(logs->IsShown());
    logs->Destroy();
    pump(200);

    // An archive listed by a collection is refused by the daemon; its record stays, and so
    // does its authentication record.
    hook.reply(wxID_YES);
    click(archive_info, ID_DELETE_ARCHIVE);
    EXPECT_EQ(hook.seen.back().message, "Are you sure you want to delete this archive?");
    EXPECT_EQ(hook.seen.back().title, "Confirm delete");
    ASSERT_EQ(services.errors.size(), 1u);
    EXPECT_EQ(services.errors[0], "You cannot remove this item because it is currently in use");
    services.errors.clear();
    SOAP(soap.GetAuthConfiguration(arc.Configuration.Auth, auth, auth_magic));
    EXPECT_EQ(frame->archive_list().size(), 1u);

    // A source with an archive is never sent to the daemon.
    show(frame, cp_kind::source, "w\u00e9b\\intran\u00e9t", 0);
    hook.reply(wxID_OK);
    click(frame->kind_notebook(cp_kind::source)->GetPage(0), ID_DELETE_SOURCE);
    EXPECT_EQ(hook.seen.back().title, "Source in use");
    EXPECT_EQ(hook.seen.back().message,
              "You cannot remove a source that is currently used by an archive");
    SOAP(soap.EnumSourceConfigurations(stored_sources));
    EXPECT_EQ(stored_sources.size(), 2u);

    // Answering No keeps the source; Yes removes it, also while it has unapplied edits, which
    // are dropped with it rather than applied to a record that is gone.
    show(frame, cp_kind::source, "(new)", 0);
    frame->name_field(cp_kind::source)->SetValue("edited");
    EXPECT_TRUE(frame->is_modified());
    hook.reply(wxID_NO);
    click(frame->trees_notebook()->GetPage(0), ID_DELETE_SOURCE);
    EXPECT_EQ(hook.seen.back().message, "Are you sure you want to delete this source?");
    SOAP(soap.EnumSourceConfigurations(stored_sources));
    EXPECT_EQ(stored_sources.size(), 2u);
    hook.reply(wxID_YES);
    click(frame->trees_notebook()->GetPage(0), ID_DELETE_SOURCE);
    SOAP(soap.EnumSourceConfigurations(stored_sources));
    ASSERT_EQ(stored_sources.size(), 1u);
    EXPECT_EQ(stored_sources[0].Source, intranet_info.Source);
    EXPECT_EQ(frame->current_source().Source, 0);
    EXPECT_FALSE(frame->is_modified());
    pump(500);
    EXPECT_FALSE(find_top(sources, "(new)").IsOk());
    EXPECT_FALSE(find_top(sources, "edited").IsOk());
    EXPECT_TRUE(services.errors.empty()) << services.errors[0];

    // A collection a watch searches is not sent to the daemon; a watch is removed after Yes.
    show(frame, cp_kind::collection, "(new)", 1);
    hook.reply(wxID_OK);
    click(frame->kind_notebook(cp_kind::collection)->GetPage(1), ID_DELETE_COLLECTION);
    EXPECT_EQ(hook.seen.back().title, "Collection in use");
    EXPECT_EQ(hook.seen.back().message,
              "You cannot remove a collection that is currently used by a watch");
    SOAP(soap.EnumCollectionConfigurations(stored_collections));
    EXPECT_EQ(stored_collections.size(), 2u);

    const std::string watch_label = watches->GetItemText(find_top(watches, "(new)")).utf8_string();
    show(frame, cp_kind::watch, watch_label, 1);
    const int shown_watch = frame->current_watch().Watch;
    hook.reply(wxID_YES);
    click(frame->kind_notebook(cp_kind::watch)->GetPage(1), ID_DELETE_WATCH);
    EXPECT_EQ(hook.seen.back().message, "Are you sure you want to delete this watch?");
    SOAP(soap.EnumWatchConfigurations(stored_watches));
    ASSERT_EQ(stored_watches.size(), 1u);
    EXPECT_NE(stored_watches[0].Watch, shown_watch);
    EXPECT_EQ(frame->watch_list().size(), 1u);

    // A second-level item stands for an object of another tree: selecting it goes there.
    frame->trees_notebook()->SetSelection(0);
    sources->SelectItem(find_top(sources, "w\u00e9b\\intran\u00e9t"));
    const wxTreeItemId link = find_child(sources, find_top(sources, "w\u00e9b\\intran\u00e9t"), "intran\u00e9t");
    ASSERT_TRUE(link.IsOk());
    frame->filter_text()->ChangeValue("intra");
    sources->SelectItem(link);
    ASSERT_TRUE(pump_until([&] { return frame->current_archive().Archive == arc.Archive; }));
    EXPECT_EQ(frame->trees_notebook()->GetSelection(), 1);
    EXPECT_EQ(selected_label(archives), "intran\u00e9t");
    EXPECT_EQ(selected_label(sources), "w\u00e9b\\intran\u00e9t");
    EXPECT_EQ(frame->filter_text()->GetValue(), "");

    // Users and Security and Plugins open their dialogs; the manuals open in the browser, and
    // a missing one is named in an error box.
    hook.reply(wxID_CANCEL);
    command(frame, wxEVT_MENU, ID_USERS_AND_SECURITY);
    EXPECT_EQ(hook.seen.back().kind, "security");
    hook.reply(wxID_CANCEL);
    command(frame, wxEVT_MENU, ID_PLUGINS);
    EXPECT_EQ(hook.seen.back().kind, "plugins");
    pump_until([&] { return frame->IsEnabled(); }, 30); // the posted refreshes run

    services.opened.clear();
    command(frame, wxEVT_MENU, ID_MANUAL_USER);
    ASSERT_EQ(services.opened.size(), 1u);
    EXPECT_EQ(services.opened[0].rfind("file://", 0), 0u) << services.opened[0];
    EXPECT_NE(services.opened[0].find("/manual/user.html"), std::string::npos);
    const std::filesystem::path program_dir =
        wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetPath().utf8_string();
    const auto cookbook = program_dir / "manual" / "cookbook.html";
    std::filesystem::rename(cookbook, root / "cookbook.html");
    command(frame, wxEVT_MENU, ID_MANUAL_COOKBOOK);
    std::filesystem::rename(root / "cookbook.html", cookbook);
    ASSERT_EQ(services.errors.size(), 1u);
    EXPECT_NE(services.errors[0].find("cookbook.html is not installed"), std::string::npos)
        << services.errors[0];
    EXPECT_EQ(services.opened.size(), 1u);
    services.errors.clear();

    // The context menu opens over the trees only, with the New and Delete commands of the tree
    // under the pointer. A timer inside the menu's own loop takes the screenshot and closes it.
    frame->Raise();
    pump(300);
    wxUIActionSimulator sim;
    frame->trees_notebook()->SetSelection(2);
    pump(300);
    const wxRect tree_rect = collections->GetScreenRect();
    sim.MouseMove(tree_rect.x + tree_rect.width / 2, tree_rect.y + tree_rect.height - 20);
    pump(300);
    bool shot = false;
    wxTimer closer;
    closer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        if (!shot) {
            shot = true;
            const std::string file = std::string(TN_SHOTS_DIR) + "/commands-context-menu.png";
            const wxRect r = frame->GetScreenRect();
            const std::string cmd = "import -window root -crop " + std::to_string(r.width) + "x" +
                                    std::to_string(r.height) + "+" + std::to_string(r.x) + "+" +
                                    std::to_string(r.y) + " '" + file + "' 2>/dev/null";
            EXPECT_EQ(std::system(cmd.c_str()), 0);
        }
        std::system("xdotool key Escape");
    });
    closer.Start(700);
    sim.MouseClick(wxMOUSE_BTN_RIGHT);
    pump_until([&] { return shot; }, 10);
    pump(300);
    closer.Stop();
    EXPECT_TRUE(shot);
    EXPECT_EQ(frame->last_context_menu(), (std::vector<int>{ID_NEW_COLLECTION, ID_DELETE_COLLECTION}));

    // A right click on the page beside the trees reaches the handler, which opens nothing.
    const wxRect page_rect = frame->kind_notebook(cp_kind::collection)->GetScreenRect();
    sim.MouseMove(page_rect.x + page_rect.width / 2, page_rect.y + page_rect.height - 120);
    pump(300);
    closer.Start(700); // closes whatever might open after all
    sim.MouseClick(wxMOUSE_BTN_RIGHT);
    pump(800);
    closer.Stop();
    EXPECT_TRUE(frame->last_context_menu().empty());
    EXPECT_TRUE(services.errors.empty()) << services.errors[0];
    EXPECT_TRUE(hook.answers.empty());

    frame->Destroy();
    pump(300);
}

// New archive for a user who may gather but may no longer read the source: the daemon refuses
// the archive after the authentication record was made for it, and that record goes again.
TEST(controlpanel_commands, RefusedNewArchiveLeavesNoAuthenticationRecord) {
    const auto root = tn_test::scratch("refused");
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    tn_test::live_daemon d(root / "d");
    d.start();
    SoapClientProxy admin(d.soap_endpoint());
    SOAP(admin.AddUser("bob", "pw", false, {}));
    std::vector<AccessSpec> root_acl;
    std::uint32_t root_magic = 0;
    SOAP(admin.GetRootACL(ROOTACL_CRAWLING, root_acl, root_magic));
    root_acl.push_back({"bob", READACCESS, false});
    root_acl.push_back({"bob", WRITEACCESS, false});
    SOAP(admin.SetRootACL(ROOTACL_CRAWLING, root_acl, root_magic));
    // Reading the daemon's status and principals, as every poll of the window does.
    SOAP(admin.GetRootACL(ROOTACL_BROWSING, root_acl, root_magic));
    root_acl.push_back({"bob", READACCESS, false});
    SOAP(admin.SetRootACL(ROOTACL_BROWSING, root_acl, root_magic));
    SourceConfiguration locked;
    locked.Name = "locked";
    locked.Type = AUTH_COOKIE;
    locked.ACL = {{"bob", READACCESS, false}};
    SourceInfo locked_info;
    SOAP(admin.AddSource(locked, locked_info));

    services.endpoint = "http://bob:pw@127.0.0.1:" + std::to_string(d.port()) + "/soap";
    services.settings.host = "127.0.0.1";
    services.settings.port = wxString::Format("%d", d.port());
    services.settings.user_name = "bob";
    services.errors.clear();
    bool historicize = false, is_admin = true, browsing = false, crawling = false;
    SoapClientProxy bob(services.endpoint);
    SOAP(bob.GetCapabilities(historicize, is_admin, browsing, crawling));
    EXPECT_FALSE(is_admin);
    EXPECT_TRUE(crawling);

    auto* frame = new WXControlPanelFrame();
    frame->Show();
    ASSERT_TRUE(pump_until([&] { return find_top(frame->tree(0), "locked").IsOk(); }, 15))
        << frame->source_list().size() << " sources; " << testing::PrintToString(services.errors)
        << testing::PrintToString(services.warnings);
    show(frame, cp_kind::source, "locked", 0);

    // Behind the window's back the source stops being readable for bob.
    locked_info.Configuration.ACL.clear();
    SourceInfo changed;
    SOAP(admin.SetSourceConfiguration(locked_info.Source, locked_info.Configuration,
                                      locked_info.Magic, changed));
    if (historicize) hook.reply(wxID_OK);
    click(frame->kind_notebook(cp_kind::source)->GetPage(0), ID_NEW_ARCHIVE);
    ASSERT_EQ(services.errors.size(), 1u);
    EXPECT_EQ(services.errors[0], "You haven't the needed rights to modify this object");
    std::vector<ArchiveInfo> stored;
    SOAP(admin.EnumArchiveConfigurations(stored));
    EXPECT_TRUE(stored.empty());
    // The first authentication record of this daemon was made and removed again.
    AuthConfiguration auth;
    std::uint32_t magic = 0;
    EXPECT_THROW(admin.GetAuthConfiguration(1, auth, magic), EasySoap::SOAPException);
    EXPECT_TRUE(frame->archive_list().empty());
    EXPECT_TRUE(hook.answers.empty());

    frame->Destroy();
    pump(300);
    services.errors.clear();
}

TEST(controlpanel_commands, UserWhoCannotReadTheBrowsingRootGetsAMessageAndAUsableWindow) {
    const auto root = tn_test::scratch("unreadable");
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    tn_test::live_daemon d(root / "d");
    d.start();
    SoapClientProxy admin(d.soap_endpoint());
    SOAP(admin.AddUser("carol", "pw", false, {}));
    std::vector<AccessSpec> browsing;
    std::uint32_t browsing_magic = 0;
    SOAP(admin.GetRootACL(ROOTACL_BROWSING, browsing, browsing_magic));
    SOAP(admin.SetRootACL(ROOTACL_BROWSING, {}, browsing_magic));
    SourceConfiguration open_source;
    open_source.Name = "readable by all";
    open_source.ACL = {{"carol", READACCESS, false}};
    SourceInfo open_info;
    SOAP(admin.AddSource(open_source, open_info));

    services.endpoint = "http://carol:pw@127.0.0.1:" + std::to_string(d.port()) + "/soap";
    services.settings.host = "127.0.0.1";
    services.settings.port = wxString::Format("%d", d.port());
    services.settings.user_name = "carol";
    services.errors.clear();
    services.warnings.clear();

    // The first poll is refused: one error box saying why, and nothing in the trees.
    auto* frame = new WXControlPanelFrame();
    frame->Show();
    ASSERT_TRUE(pump_until([&] { return !services.errors.empty(); }, 20));
    pump(500);
    EXPECT_EQ(services.errors,
              std::vector<std::string>{"You haven't the needed rights to modify this object"});
    EXPECT_TRUE(services.warnings.empty());
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(labels(frame->tree(i), frame->tree(i)->GetRootItem()).empty()) << i;
    EXPECT_TRUE(frame->source_list().empty());
    EXPECT_EQ(frame->shown_panel(), 1);
    EXPECT_TRUE(frame->IsEnabled());

    // The window stays usable: nothing to create without rights, but the refresh runs again,
    // and once the administrator lets carol read, it brings her lists.
    frame->UpdateWindowUI(wxUPDATE_UI_RECURSE);
    wxMenuBar* menus = frame->GetMenuBar();
    EXPECT_FALSE(menus->IsEnabled(ID_NEW_SOURCE));
    EXPECT_TRUE(menus->IsEnabled(ID_REFRESH));
    EXPECT_TRUE(menus->IsEnabled(wxID_PREFERENCES));
    SOAP(admin.GetRootACL(ROOTACL_BROWSING, browsing, browsing_magic));
    SOAP(admin.SetRootACL(ROOTACL_BROWSING, {{"carol", READACCESS, false}}, browsing_magic));
    command(frame, wxEVT_MENU, ID_REFRESH);
    ASSERT_TRUE(pump_until([&] { return find_top(frame->tree(0), "readable by all").IsOk(); }));
    pump(300);
    EXPECT_EQ(services.errors.size(), 1u) << services.errors.back();
    EXPECT_TRUE(find_top(frame->tree(2), "<All archives>").IsOk());

    frame->Destroy();
    pump(300);
    services.errors.clear();
}

} // namespace

int main(int argc, char** argv) {
    hook.Register();
    return run_frame_tests(argc, argv);
}
