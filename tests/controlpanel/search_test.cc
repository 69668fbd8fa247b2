// The main window's searching against a real daemon that crawled a small site served by
// nginx: Search on the archive page with paging and its status line, a query edit emptying
// the list, contexts, the cached copy (served by the shipped portal) and the live address,
// the advanced options (date range and weights reaching the daemon), the collection page
// with Save as watch, a chosen watch showing its results, Refine, the watch's feed
// address on the clipboard, and a name and query beyond ASCII in the status line.
#include "frame_support.h"
#include "../support/live_daemon.h"
#include "scratch.h"

#include "client/string-conv.h"

#include "cpdialogs/date-range-dialog.h"
#include "cpdialogs/weights-dialog.h"

#include <gtest/gtest.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/clipbrd.h>
#include <wx/listctrl.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/statusbr.h>
#include <wx/uiaction.h>

#include <regex>
#include <set>
#include <sys/stat.h>

using namespace lumbrake;
using namespace tn_frame_test;

namespace {

constexpr int pages = 35;

std::string page_name(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "page%02d.html", i);
    return name;
}

// The site: an index linking every page; each page speaks of pears and has its own word
// ("token<i>"). Only page 1 has "quince" in its title, only page 2 in its text.
void make_site(const std::filesystem::path& root) {
    std::filesystem::create_directories(root);
    std::ofstream index(root / "index.html");
    index << "<html><head><title>Orchard index</title></head><body><h1>Orchard</h1>\n";
    for (int i = 1; i <= pages; ++i) {
        index << "<a href=\"" << page_name(i) << "\">page " << i << "</a><br>\n";
        std::ofstream page(root / page_name(i));
        const std::string title = i == 1 ? "Quince grafting" : "Orchard notes " + std::to_string(i);
        page << "<html><head><title>" << title << "</title></head><body><h1>Orchard page " << i
             << "</h1>\n<p>Every pear tree of row " << i << " was pruned in March; token" << i
             << " marks this page.</p>\n"
             << (i == 2 ? "<p>The quince hedge beside the quince path had a quince harvest.</p>\n"
                        : "")
             << "<p>The fruit was picked in September and kept in the cellar.</p></body></html>\n";
    }
    index << "</body></html>\n";
}

// nginx on 127.0.0.1 serving a folder, stopped with the test.
class nginx_site {
public:
    nginx_site(const std::filesystem::path& root, const std::filesystem::path& work) {
        std::filesystem::create_directories(work);
        port_ = tn_test::reserve_port();
        std::ofstream(work / "nginx.conf")
            << "daemon off;\nmaster_process off;\npid " << (work / "nginx.pid").string()
            << ";\nerror_log " << (work / "error.log").string()
            << ";\nevents { worker_connections 64; }\nhttp {\n  access_log off;\n"
            << "  types { text/html html; }\n  server { listen 127.0.0.1:" << port_ << "; root "
            << root.string() << "; }\n}\n";
        const std::string conf = (work / "nginx.conf").string(), prefix = work.string();
        const char* argv[] = {"/usr/sbin/nginx", "-c", conf.c_str(), "-p", prefix.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, (work / "stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, const_cast<char**>(argv), environ) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 100 && pid_ != 0 && !tn_test::port_answers(port_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~nginx_site() {
        if (pid_ == 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    bool running() const { return pid_ != 0 && tn_test::port_answers(port_); }
    int port() const { return port_; }

private:
    pid_t pid_ = 0;
    int port_ = 0;
};

// An answer of the daemon's portal with the administrator's login: status line and body.
std::string portal_get(const tn_test::live_daemon& d, const std::string& url) {
    return tn_test::command_output("curl -s -i --max-time 30 -u '" + d.user() + ":" + d.password() +
                                   "' '" + url + "'");
}

std::string status_text(WXControlPanelFrame* frame) {
    return frame->GetStatusBar()->GetStatusText(0).utf8_string();
}

// The status line is `pattern` with any number of milliseconds in place of its "#".
void expect_status(WXControlPanelFrame* frame, const std::string& pattern) {
    const std::string text = status_text(frame);
    const std::size_t hash = pattern.find('#');
    const std::string head = pattern.substr(0, hash), tail = pattern.substr(hash + 1);
    const bool ok = text.size() > head.size() + tail.size() && text.rfind(head, 0) == 0 &&
                    text.compare(text.size() - tail.size(), tail.size(), tail) == 0 &&
                    text.find_first_not_of("0123456789", head.size()) == text.size() - tail.size();
    EXPECT_TRUE(ok) << text << "\n  expected " << pattern;
}

std::vector<std::string> column(wxListCtrl* list, int col) {
    std::vector<std::string> out;
    for (long i = 0; i < list->GetItemCount(); ++i)
        out.push_back(list->GetItemText(i, col).utf8_string());
    return out;
}

void tick(wxCheckBox* box, bool on) {
    box->SetValue(on);
    wxCommandEvent ev(wxEVT_CHECKBOX, box->GetId());
    ev.SetEventObject(box);
    ev.SetInt(on ? 1 : 0);
    box->GetEventHandler()->ProcessEvent(ev);
}

void select_row(wxListCtrl* list, long row) {
    list->SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                       wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    pump(100);
}

// Runs `steps` on the modal dialog of type D that the click on `id` opens.
template <class D>
void with_dialog(WXControlPanelFrame* frame, wxWindow* page, int id,
                 const std::function<void(D&)>& steps) {
    bool seen = false;
    frame->CallAfter([&] {
        for (wxWindow* w : wxTopLevelWindows)
            if (auto* d = dynamic_cast<D*>(w); d && d->IsModal()) {
                seen = true;
                steps(*d);
            }
    });
    click(page, id);
    EXPECT_TRUE(seen) << "no dialog for " << id;
}

// The weights dialog with the title slice and the text slices set.
void set_weights(WXControlPanelFrame* frame, wxWindow* page, int title, int text) {
    with_dialog<WXWeightsDialog>(frame, page, ID_ARCHIVE_WEIGHTS, [&](WXWeightsDialog& d) {
        for (int slice = 1; slice <= 31; ++slice)
            d.m_spins[slice - 1]->SetValue(slice == 15                 ? title
                                           : slice >= 5 && slice <= 14 ? text
                                                                       : -1);
        click(&d, wxID_OK);
    });
}

std::string clipboard_text() {
    std::string out;
    if (wxTheClipboard->Open()) {
        wxTextDataObject data;
        if (wxTheClipboard->IsSupported(wxDF_UNICODETEXT) && wxTheClipboard->GetData(data))
            out = data.GetText().utf8_string();
        wxTheClipboard->Close();
    }
    return out;
}

TEST(controlpanel_search, SearchPagesAgainstACrawledSite) {
    const auto root = tn_test::scratch("search");
    // East of UTC, so that the last second of a day in UTC is already the next day here: the
    // date fields must still show the UTC day.
    setenv("TZ", "Europe/Helsinki", 1);
    tzset();
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    make_site(root / "site");
    nginx_site site(root / "site", root / "nginx");
    ASSERT_TRUE(site.running()) << tn_test::live_daemon::read(root / "nginx" / "error.log");
    const std::string origin = "http://127.0.0.1:" + std::to_string(site.port()) + "/";

    tn_test::live_daemon d(root / "d");
    d.set_extra_config("PORTAL_DOCS=" + std::string(TN_PORTAL_DIR) + "\n");
    d.start();
    services.endpoint = d.soap_endpoint();
    services.settings.host = "127.0.0.1";
    services.settings.port = wxString::Format("%d", d.port());
    services.settings.user_name = wxString::FromUTF8(d.user());
    services.errors.clear();

    // The index, made and crawled over SOAP.
    SoapClientProxy soap(d.soap_endpoint());
    SourceConfiguration src;
    src.Name = "Orchard site";
    src.Description = "the local orchard pages";
    src.Seeds = {origin + "index.html"};
    src.IncludeFilters = {"^http://127\\.0\\.0\\.1:" + std::to_string(site.port()) + "/"};
    SourceInfo src_info;
    SOAP(soap.AddSource(src, src_info));
    ArchiveConfiguration arc;
    arc.Name = "Orchard archive";
    arc.Source = src_info.Source;
    ArchiveInfo arc_info;
    SOAP(soap.AddArchive(arc, arc_info));
    CollectionConfiguration col;
    col.Name = "Orchard collection";
    col.Archives = {arc_info.Archive};
    CollectionInfo col_info;
    SOAP(soap.AddCollection(col, col_info));
    SOAP(soap.StartCrawl(arc_info.Archive, arc_info));
    bool crawled = false;
    for (int i = 0; i < 240 && !crawled; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        std::vector<ArchiveInfo> all;
        SOAP(soap.EnumArchiveConfigurations(all));
        for (const ArchiveInfo& a : all)
            if (a.Archive == arc_info.Archive && !a.Crawling && a.Documents >= pages + 1)
                crawled = true;
    }
    ASSERT_TRUE(crawled) << d.log_text();

    auto* frame = new WXControlPanelFrame();
    frame->Show();
    ASSERT_TRUE(pump_until([&] { return status_text(frame).rfind("Connected", 0) == 0; }));

    // Archive "Query": three presses page in 30 of the 35 pear pages.
    show(frame, cp_kind::archive, "Orchard archive", 0);
    const auto& archive = frame->search_page_state(search_page::archive);
    wxWindow* query_page = frame->kind_notebook(cp_kind::archive)->GetPage(0);
    archive.query->SetValue("pear");
    click(query_page, ID_ARCHIVE_SEARCH);
    EXPECT_EQ(archive.list->GetItemCount(), 10);
    expect_status(
        frame, "Searched Orchard archive for 'pear' in # ms, displaying first 10 of 35 results.");
    click(query_page, ID_ARCHIVE_SEARCH);
    click(query_page, ID_ARCHIVE_SEARCH);
    ASSERT_EQ(archive.list->GetItemCount(), 30);
    ASSERT_EQ(archive.results.size(), 30u);
    expect_status(
        frame, "Searched Orchard archive for 'pear' in # ms, displaying first 30 of 35 results.");
    const std::vector<std::string> urls = column(archive.list, 1);
    EXPECT_EQ(std::set<std::string>(urls.begin(), urls.end()).size(), 30u) << "pages repeat";
    for (std::size_t i = 0; i < urls.size(); ++i) {
        EXPECT_EQ(urls[i].rfind(origin + "page", 0), 0u) << urls[i];
        EXPECT_EQ(urls[i], archive.results[i].Url);
        EXPECT_EQ(column(archive.list, 0)[i], archive.results[i].Title);
    }
    EXPECT_TRUE(services.errors.empty());

    // A row's contexts; the cached copy through the shipped portal, and the live address.
    select_row(archive.list, 0);
    const QueryResult first = archive.results[0];
    ASSERT_FALSE(first.Contexts.empty());
    EXPECT_NE(archive.context->GetValue().Lower().Find("pear"), wxNOT_FOUND)
        << archive.context->GetValue();
    screenshot(frame, "search-archive-results");
    click(query_page, ID_ARCHIVE_OPEN_CACHED);
    ASSERT_EQ(services.opened.size(), 1u);
    EXPECT_EQ(services.opened[0],
              d.base_url() + "/private/en/cache?doc=" + url_encode_all(first.ID));
    const std::string cached = portal_get(d, services.opened[0]);
    EXPECT_TRUE(std::regex_search(cached, std::regex("^HTTP/1\\.[01] 200")))
        << cached.substr(0, 300);
    const std::string token =
        "token" + std::to_string(std::stoi(first.Url.substr(origin.size() + 4, 2)));
    EXPECT_NE(cached.find(token + " "), std::string::npos) << token;
    click(query_page, ID_ARCHIVE_OPEN_LIVE);
    ASSERT_EQ(services.opened.size(), 2u);
    EXPECT_EQ(services.opened[1], first.Url);

    // Deselecting the row clears the box.
    select_row(archive.list, 1);
    EXPECT_FALSE(archive.context->GetValue().empty());
    archive.list->SetItemState(1, 0, wxLIST_STATE_SELECTED);
    pump(100);
    EXPECT_TRUE(archive.context->GetValue().empty());

    // Typing one more character empties the list, the stored results and the context.
    select_row(archive.list, 0);
    frame->Raise();
    archive.query->SetFocus();
    archive.query->SetInsertionPointEnd();
    pump(200);
    wxUIActionSimulator sim;
    sim.Text("x");
    ASSERT_TRUE(pump_until([&] { return archive.list->GetItemCount() == 0; }, 10));
    EXPECT_EQ(archive.query->GetValue(), "pearx");
    EXPECT_TRUE(archive.results.empty());
    EXPECT_TRUE(archive.context->GetValue().empty());
    click(query_page, ID_ARCHIVE_SEARCH);
    EXPECT_EQ(archive.list->GetItemCount(), 0);
    expect_status(frame, "Searched Orchard archive for 'pearx' in # ms, no results.");

    // A query beyond ASCII goes out and comes back in the status line unchanged.
    archive.query->SetValue(wxString::FromUTF8("poire mûre"));
    click(query_page, ID_ARCHIVE_SEARCH);
    EXPECT_EQ(status_text(frame).rfind("Searched Orchard archive for 'poire mûre' in ", 0), 0u)
        << status_text(frame);

    // A query the daemon refuses: its fault in a box, the status line as it was.
    const std::string before = status_text(frame);
    archive.query->SetValue("(pear");
    click(query_page, ID_ARCHIVE_SEARCH);
    ASSERT_EQ(services.errors.size(), 1u);
    EXPECT_EQ(services.errors[0], "SOAP Fault: BadQuery");
    EXPECT_EQ(status_text(frame), before);
    services.errors.clear();

    // Advanced options: the row shows; a range of days in 2001 finds nothing of today's
    // crawl, a range of today finds it again; without the options the range is not sent.
    tick(archive.advanced, true);
    EXPECT_TRUE(archive.sizer->IsShown(archive.advancedRow));
    with_dialog<WXDateDialog>(frame, query_page, ID_ARCHIVE_SET_DATE, [](WXDateDialog& dlg) {
        dlg.fromCalendar->SetDate(wxDateTime(1, wxDateTime::Jan, 2001));
        dlg.toCalendar->SetDate(wxDateTime(31, wxDateTime::Dec, 2001));
        click(&dlg, wxID_OK);
    });
    EXPECT_EQ(archive.from->GetValue().utf8_string(),
              wxDateTime(1, wxDateTime::Jan, 2001).Format("%x").utf8_string());
    EXPECT_EQ(archive.to->GetValue().utf8_string(),
              wxDateTime(31, wxDateTime::Dec, 2001).Format("%x").utf8_string());
    archive.query->SetValue("pear");
    click(query_page, ID_ARCHIVE_SEARCH);
    EXPECT_EQ(archive.list->GetItemCount(), 0) << status_text(frame);
    screenshot(frame, "search-archive-advanced");
    tick(archive.advanced, false);
    EXPECT_FALSE(archive.sizer->IsShown(archive.advancedRow));
    click(query_page, ID_ARCHIVE_SEARCH);
    EXPECT_EQ(archive.list->GetItemCount(), 10);
    tick(archive.advanced, true);
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    const wxDateTime today(static_cast<wxDateTime::wxDateTime_t>(utc.tm_mday),
                           static_cast<wxDateTime::Month>(utc.tm_mon), utc.tm_year + 1900);
    with_dialog<WXDateDialog>(frame, query_page, ID_ARCHIVE_SET_DATE, [&](WXDateDialog& dlg) {
        dlg.fromCalendar->SetDate(today);
        dlg.toCalendar->SetDate(today);
        click(&dlg, wxID_OK);
    });
    archive.query->SetValue("pear");
    click(query_page, ID_ARCHIVE_SEARCH);
    EXPECT_EQ(archive.list->GetItemCount(), 10) << status_text(frame);

    // Weights: the title slice heavy puts the page with quince in its title first, the text
    // slices heavy the page with quince in its text.
    set_weights(frame, query_page, 100, 0);
    archive.query->SetValue("quince");
    click(query_page, ID_ARCHIVE_SEARCH);
    ASSERT_EQ(column(archive.list, 1).size(), 2u) << status_text(frame);
    EXPECT_EQ(column(archive.list, 1)[0], origin + "page01.html");
    const std::int32_t title_heavy_score = archive.results[0].Score;
    set_weights(frame, query_page, 0, 100);
    archive.query->SetValue("quince");
    click(query_page, ID_ARCHIVE_SEARCH);
    ASSERT_EQ(column(archive.list, 1).size(), 2u);
    EXPECT_EQ(column(archive.list, 1)[0], origin + "page02.html");
    EXPECT_NE(archive.results[1].Score, title_heavy_score);
    EXPECT_TRUE(services.errors.empty());

    // Collection "Query", then Save as watch: the new watch is the daemon's and is selected.
    show(frame, cp_kind::collection, "Orchard collection", 0);
    const auto& collection = frame->search_page_state(search_page::collection);
    wxWindow* col_page = frame->kind_notebook(cp_kind::collection)->GetPage(0);
    collection.query->SetValue("pear");
    click(col_page, ID_COLLECTION_SEARCH);
    EXPECT_EQ(collection.list->GetItemCount(), 10);
    expect_status(
        frame,
        "Searched Orchard collection for 'pear' in # ms, displaying first 10 of 35 results.");
    // The built-in "<All archives>" searches every archive (Collection -1).
    show(frame, cp_kind::collection, "<All archives>", 0);
    collection.query->SetValue("token7");
    click(col_page, ID_COLLECTION_SEARCH);
    ASSERT_EQ(column(collection.list, 1), std::vector<std::string>{origin + "page07.html"})
        << status_text(frame);
    show(frame, cp_kind::collection, "Orchard collection", 0);
    collection.query->SetValue("pear");
    click(col_page, ID_SAVE_AS_WATCH);
    EXPECT_TRUE(services.errors.empty());
    std::vector<WatchInfo> stored;
    SOAP(soap.EnumWatchConfigurations(stored));
    ASSERT_EQ(stored.size(), 1u);
    const WatchInfo& saved = stored[0];
    EXPECT_EQ(saved.Configuration.Name, "pear");
    EXPECT_EQ(saved.Configuration.Query, "pear");
    EXPECT_EQ(saved.Configuration.Parser, ALGPARSER);
    EXPECT_EQ(saved.Configuration.Freshness, 604800);
    EXPECT_EQ(saved.Configuration.Collection, col_info.Collection);
    EXPECT_EQ(saved.Configuration.ACL, (std::vector<AccessSpec>{{d.user(), READACCESS, false},
                                                                {d.user(), WRITEACCESS, false}}));
    wxTreeCtrl* watches = frame->tree(3);
    ASSERT_TRUE(watches->GetSelection().IsOk());
    EXPECT_EQ(watches->GetItemText(watches->GetSelection()), "pear");

    // Choosing the watch shows its results without a button press, the time first.
    frame->trees_notebook()->SetSelection(3);
    const auto& watch = frame->search_page_state(search_page::watch);
    ASSERT_TRUE(pump_until([&] { return watch.list->GetItemCount() > 0; }, 30))
        << status_text(frame);
    EXPECT_EQ(frame->current_watch().Watch, saved.Watch);
    EXPECT_EQ(watch.list->GetItemCount(), 10);
    EXPECT_EQ(column(watch.list, 0)[0], wxDateTime(static_cast<time_t>(watch.results[0].Timestamp))
                                            .Format("%c", wxDateTime::UTC)
                                            .utf8_string());
    EXPECT_EQ(column(watch.list, 2)[0], watch.results[0].Url);
    expect_status(frame, "Searched pear for '' in # ms, displaying first 10 of 35 results.");
    screenshot(frame, "search-watch-results");

    // Refine narrows the watch's own query; the daemon logged both words joined by AND.
    wxWindow* results_page = frame->kind_notebook(cp_kind::watch)->GetPage(0);
    watch.query->SetValue("quince");
    EXPECT_EQ(watch.list->GetItemCount(), 0);
    click(results_page, ID_REFINE);
    EXPECT_EQ(watch.list->GetItemCount(), 2) << status_text(frame);
    std::vector<QueryLogData> log;
    SOAP(soap.GetQueryLog(arc_info.Archive, 0, 2147483647, log));
    bool refined = false;
    for (const QueryLogData& row : log)
        refined = refined || (row.Query.find("quince") != std::string::npos &&
                              row.Query.find("pear") != std::string::npos &&
                              row.Query.find("AND:") != std::string::npos);
    EXPECT_TRUE(refined);

    // The period choice starts over and runs Refine at once.
    auto* period = dynamic_cast<wxChoice*>(results_page->FindWindow(ID_WATCH_RESULTS_FRESHNESS));
    ASSERT_NE(period, nullptr);
    EXPECT_EQ(period->GetSelection(), 0);
    period->SetSelection(4);
    wxCommandEvent chosen(wxEVT_CHOICE, ID_WATCH_RESULTS_FRESHNESS);
    chosen.SetEventObject(period);
    chosen.SetInt(4);
    period->GetEventHandler()->ProcessEvent(chosen);
    EXPECT_EQ(watch.list->GetItemCount(), 2);

    // The feed address on the clipboard, which the daemon serves (with "&amp;" read as "&").
    wxWindow* info_page = frame->kind_notebook(cp_kind::watch)->GetPage(1);
    click(info_page, ID_COPY_WATCH_URL);
    const std::string feed = clipboard_text();
    EXPECT_EQ(feed, d.base_url() + "/private/en/rss20?t=" + std::to_string(saved.Watch) +
                        "&amp;mintime=0");
    const std::string rss = portal_get(d, std::regex_replace(feed, std::regex("&amp;"), "&"));
    EXPECT_TRUE(std::regex_search(rss, std::regex("^HTTP/1\\.[01] 200"))) << rss.substr(0, 300);
    EXPECT_NE(rss.find("<rss"), std::string::npos);
    // Nothing selected in the watches tree: nothing copied.
    if (wxTheClipboard->Open()) {
        wxTheClipboard->Clear();
        wxTheClipboard->Close();
    }
    EXPECT_EQ(clipboard_text(), "") << "clipboard not cleared";
    watches->Unselect();
    EXPECT_FALSE(watches->GetSelection().IsOk()) << "still selected";
    click(info_page, ID_COPY_WATCH_URL);
    EXPECT_EQ(clipboard_text(), "");

    // A name and a query beyond ASCII reach the status line as the characters they are.
    std::vector<ArchiveInfo> stored_now;
    SOAP(soap.EnumArchiveConfigurations(stored_now));
    ASSERT_EQ(stored_now.size(), 1u);
    stored_now[0].Configuration.Name = "Obstg\u00e4rten 100%";
    ArchiveInfo renamed;
    const ArchiveInfo& a = stored_now[0];
    SOAP(soap.SetArchiveConfiguration(a.Archive, a.Configuration, a.Magic, renamed));
    wxCommandEvent refresh(wxEVT_MENU, ID_REFRESH);
    frame->GetEventHandler()->ProcessEvent(refresh);
    ASSERT_TRUE(
        pump_until([&] { return find_top(frame->tree(1), "Obstg\u00e4rten 100%").IsOk(); }));
    show(frame, cp_kind::archive, "Obstg\u00e4rten 100%", 0);
    archive.query->SetValue(wxString::FromUTF8("p\u00f6ire %s"));
    click(query_page, ID_ARCHIVE_SEARCH);
    expect_status(frame, "Searched Obstg\u00e4rten 100% for 'p\u00f6ire %s' in # ms, no results.");
    EXPECT_TRUE(services.errors.empty());

    frame->Destroy();
    pump(300);
}

} // namespace

int main(int argc, char** argv) {
    return run_frame_tests(argc, argv);
}
