// The crawl-log window against a real trawlnestd on 127.0.0.1: a finished crawl of local files
// downloaded in batches, sorted by each column, exported, a download stopped, the query log,
// and a daemon that goes away in the middle of a download.
#include "modal_driver.h"

#include "../support/command.h"
#include "../support/live_daemon.h"
#include "cpdialogs/crawl-log-frame.h"
#include "cpdialogs/date-range-dialog.h"

#include <wx/listctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using lumbrake::WXLogsFrame;
using clock_type = std::chrono::steady_clock;

fs::path scratch(const char* name) {
    const char* tmp = std::getenv("TEST_TMPDIR");
    auto p = fs::path(tmp ? tmp : "/tmp/") / name;
    fs::remove_all(p);
    return p;
}

std::vector<std::string> split(const std::string& text, char sep) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(sep, start)) != std::string::npos; start = at + 1)
        out.push_back(text.substr(start, at - start));
    out.push_back(text.substr(start));
    return out;
}

// Pumps events until `done` holds or the time is up; answers `done`.
template <class Done> bool wait_for(Done done, std::chrono::milliseconds limit) {
    const auto end = clock_type::now() + limit;
    while (!done() && clock_type::now() < end)
        tn_test::pump_events(50);
    return done();
}

wxListCtrl* list_of(WXLogsFrame* f, int id) { return dynamic_cast<wxListCtrl*>(f->FindWindow(id)); }

template <class Record> const Record& record_at(wxListCtrl* list, long i) {
    return *reinterpret_cast<const Record*>(list->GetItemData(i));
}

void click_column(wxListCtrl* list, int column) {
    wxListEvent event(wxEVT_LIST_COL_CLICK, list->GetId());
    event.SetEventObject(list);
    event.m_col = column;
    list->GetEventHandler()->ProcessEvent(event);
}

bool enabled(WXLogsFrame* f, int id) {
    tn_test::update_ui(f);
    return f->FindWindow(id)->IsEnabled();
}

wxString status_of(WXLogsFrame* f) {
    // The status text is the first static text of the second row, the one without a label of
    // its own at construction.
    for (wxStaticText* t : tn_test::children_of<wxStaticText>(f))
        if (t->GetLabel().empty() || t->GetLabel().EndsWith("..."))
            return t->GetLabel();
    return "?";
}

class crawl_log_window : public ::testing::Test {
protected:
    static constexpr int kFiles = 320;

    static void SetUpTestSuite() {
        try {
            const fs::path root = scratch("crawl-log-window");
            const fs::path docs = root / "docs";
            fs::create_directories(docs);
            for (int i = 0; i < kFiles; ++i) {
                char name[64];
                std::snprintf(name, sizeof name, "page-%03d.txt", i);
                std::ofstream(docs / name) << "crawl log page " << i << " alpha beta\n";
            }
            daemon_ = new tn_test::live_daemon(root / "daemon");
            // The shipped portal, whose private cache page the window opens.
            daemon_->set_extra_config("PORTAL_DOCS=" + std::string(TN_SOURCE_DIR) + "/portal\n");
            daemon_->start();
            lumbrake::SoapClientProxy proxy(daemon_->soap_endpoint());

            lumbrake::SourceConfiguration source;
            source.Name = "local files";
            source.Seeds = {"file://" + docs.string() + "/"};
            source.IncludeFilters = {"^file://"};
            source.DepthLimit = 3;
            lumbrake::SourceInfo sinfo;
            proxy.AddSource(source, sinfo);
            lumbrake::ArchiveConfiguration arc;
            arc.Name = "Crawl log caf\xc3\xa9";
            arc.Source = sinfo.Source;
            proxy.AddArchive(arc, archive_);
            proxy.StartCrawl(archive_.Archive, archive_);
            const auto end = clock_type::now() + std::chrono::seconds(120);
            do {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                std::vector<lumbrake::ArchiveInfo> all;
                proxy.EnumArchiveConfigurations(all);
                for (const auto& a : all)
                    if (a.Archive == archive_.Archive) archive_ = a;
            } while (archive_.Crawling && clock_type::now() < end);
            if (archive_.Crawling) throw std::runtime_error("the crawl did not finish");

            // The whole log as the daemon gives it, for comparison.
            std::vector<lumbrake::CrawlLog> logs;
            proxy.GetAvailableCrawlLogs(archive_.Archive, logs);
            if (logs.size() != 1) throw std::runtime_error("expected one crawl");
            lumbrake::CrawlLog cursor = logs[0];
            for (int pages = 0; cursor.Cookie != "-1" && pages < 100; ++pages) {
                std::vector<lumbrake::CrawlLogData> rows;
                proxy.GetCrawlLog(archive_.Archive, 1000, cursor, rows);
                log_.insert(log_.end(), rows.begin(), rows.end());
            }

            // Searches of the archive fill its query log.
            for (const char* q : {"alpha", "beta", "page\tgamma"}) {
                lumbrake::QuerySpec query;
                query.Archives = {archive_.Archive};
                query.Parser = lumbrake::NETPARSER;
                query.QueryString = q;
                std::vector<lumbrake::QueryResult> results;
                int max = 0;
                proxy.Query(query, results, max);
            }
        } catch (const std::exception& e) {
            setup_error_ = e.what();
        }
    }

    static void TearDownTestSuite() {
        delete daemon_;
        daemon_ = nullptr;
    }

    void SetUp() override {
        ASSERT_EQ(setup_error_, "");
        ASSERT_NE(daemon_, nullptr);
        ASSERT_GT(log_.size(), static_cast<std::size_t>(kFiles));
        auto& s = tn_test::services();
        s.endpoint = daemon_->pid() ? daemon_->soap_endpoint() : std::string();
        s.settings.host = "127.0.0.1";
        s.settings.port = wxString::Format("%d", daemon_->port());
        s.errors.clear();
        s.opened.clear();
    }

    void TearDown() override { tn_test::services().endpoint.clear(); }

    // A window opened as the main window opens it, waited for until its download ended.
    WXLogsFrame* open_and_download(std::vector<long>* counts = nullptr) {
        auto* f = new WXLogsFrame(nullptr, archive_);
        f->Show();
        EXPECT_TRUE(f->IsDownloading());
        wxListCtrl* list = list_of(f, WXLogsFrame::ID_GATHERING_LIST);
        const bool done = wait_for(
            [&] {
                if (counts && (counts->empty() || counts->back() != list->GetItemCount()))
                    counts->push_back(list->GetItemCount());
                return !f->IsDownloading();
            },
            std::chrono::seconds(30));
        EXPECT_TRUE(done);
        return f;
    }

    static inline tn_test::live_daemon* daemon_ = nullptr;
    static inline lumbrake::ArchiveInfo archive_;
    static inline std::vector<lumbrake::CrawlLogData> log_;
    static inline std::string setup_error_;
};

TEST_F(crawl_log_window, DownloadsInBatchesSortsByEachColumnAndExports) {
    std::vector<long> counts;
    std::unique_ptr<WXLogsFrame> f(open_and_download(&counts));
    wxListCtrl* list = list_of(f.get(), WXLogsFrame::ID_GATHERING_LIST);
    ASSERT_EQ(list->GetItemCount(), static_cast<long>(log_.size()));
    // Rows came in more than one batch, at most a page per tick.
    EXPECT_GE(counts.size(), 3u) << "counts seen: " << counts.size();
    EXPECT_EQ(status_of(f.get()), "");
    EXPECT_TRUE(enabled(f.get(), WXLogsFrame::ID_GET));
    EXPECT_FALSE(enabled(f.get(), WXLogsFrame::ID_STOP));
    EXPECT_TRUE(enabled(f.get(), WXLogsFrame::ID_EXPORT_GATHERING));
    EXPECT_EQ(f->GetTitle(), wxString::FromUTF8("logs - Crawl log caf\xc3\xa9"));

    // Every row of the daemon's log is shown once, with its status text.
    std::multiset<std::string> shown, expected;
    for (long i = 0; i < list->GetItemCount(); ++i) {
        const auto& r = record_at<lumbrake::CrawlLogData>(list, i);
        shown.insert(r.ID + " " + r.Url);
        EXPECT_EQ(list->GetItemText(i, 1), wxString::FromUTF8(r.Url));
        EXPECT_EQ(list->GetItemText(i, 2), lumbrake::crawl_error_text(r.Error));
    }
    for (const auto& r : log_)
        expected.insert(r.ID + " " + r.Url);
    EXPECT_EQ(shown, expected);

    // Time ascending first; each column sorted both ways by clicks.
    lumbrake::list_sort_state state;
    const int clicks[] = {0, 1, 1, 2, 2, 0};
    for (int column : clicks) {
        click_column(list, column);
        lumbrake::click_sort_column(state, column);
        for (long i = 0; i + 1 < list->GetItemCount(); ++i) {
            ASSERT_LE(lumbrake::compare_crawl_log_rows(record_at<lumbrake::CrawlLogData>(list, i),
                                                       record_at<lumbrake::CrawlLogData>(list, i + 1),
                                                       state),
                      0)
                << "column " << column << " row " << i;
            ASSERT_EQ(list->GetItemText(i, 1),
                      wxString::FromUTF8(record_at<lumbrake::CrawlLogData>(list, i).Url));
        }
    }
    // By status code: the files ("Ok", 0) before the folder's listing ("Index", 2).
    click_column(list, 2);
    EXPECT_EQ(list->GetItemText(0, 2), "Ok");
    EXPECT_EQ(list->GetItemText(list->GetItemCount() - 1, 2), "Index");
    tn_test::screenshot(f.get(), "crawl-log-window");

    // The export keeps the display order: time, TAB, URL, TAB, status, LF.
    const fs::path out = scratch("GatheringLog.txt");
    ASSERT_TRUE(f->ExportGathering(out.string()));
    const std::string text = tn_test::live_daemon::read(out);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    const std::vector<std::string> lines = split(text.substr(0, text.size() - 1), '\n');
    ASSERT_EQ(lines.size(), log_.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto& r = record_at<lumbrake::CrawlLogData>(list, static_cast<long>(i));
        EXPECT_EQ(lines[i], lumbrake::log_time_text(r.Time) + "\t" + r.Url + "\t" +
                                lumbrake::crawl_error_text(r.Error));
    }

    // An export that cannot be written says why.
    EXPECT_FALSE(f->ExportGathering("/nonexistent-folder/GatheringLog.txt"));
    ASSERT_EQ(tn_test::services().errors.size(), 1u);
    EXPECT_NE(tn_test::services().errors[0].find("No such file or directory"), std::string::npos)
        << tn_test::services().errors[0];

    // Activating a row opens the daemon's stored copy of its document: the private cache page
    // the search pages open too, which the daemon serves with the document's text.
    long row = -1;
    for (long i = 0; i < list->GetItemCount() && row < 0; ++i) {
        const auto& r = record_at<lumbrake::CrawlLogData>(list, i);
        if (!r.ID.empty() && r.Url.ends_with(".txt")) row = i;
    }
    ASSERT_GE(row, 0);
    const auto& chosen = record_at<lumbrake::CrawlLogData>(list, row);
    list->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    wxListEvent activate(wxEVT_LIST_ITEM_ACTIVATED, list->GetId());
    activate.SetEventObject(list);
    list->GetEventHandler()->ProcessEvent(activate);
    ASSERT_EQ(tn_test::services().opened.size(), 1u);
    const std::string url = tn_test::services().opened[0];
    EXPECT_EQ(url, "http://127.0.0.1:" + std::to_string(daemon_->port()) +
                       "/private/en/cache?doc=" + chosen.ID);
    const std::string page = tn_test::command_output(
        "curl -s -i --max-time 30 -u '" + daemon_->user() + ":" + daemon_->password() + "' '" +
        url + "'");
    EXPECT_EQ(page.rfind("HTTP/1.1 200", 0), 0u) << page.substr(0, 300);
    const std::string name = chosen.Url.substr(chosen.Url.rfind('/') + 1);
    EXPECT_NE(page.find("crawl log page " + name.substr(5, 3)), std::string::npos)
        << name << "\n" << page.substr(0, 600);
}

TEST_F(crawl_log_window, QueryLogIsFetchedSortedAndExportedApart) {
    std::unique_ptr<WXLogsFrame> f(open_and_download());
    wxListCtrl* gathering = list_of(f.get(), WXLogsFrame::ID_GATHERING_LIST);
    wxListCtrl* queries = list_of(f.get(), WXLogsFrame::ID_QUERY_LIST);
    EXPECT_EQ(queries->GetItemCount(), 0);
    EXPECT_FALSE(enabled(f.get(), WXLogsFrame::ID_EXPORT_QUERY));
    tn_test::click(f.get(), WXLogsFrame::ID_GET_QUERY_LOG);
    ASSERT_EQ(queries->GetItemCount(), 3);
    EXPECT_TRUE(enabled(f.get(), WXLogsFrame::ID_EXPORT_QUERY));

    std::vector<std::string> before;
    for (long i = 0; i < gathering->GetItemCount(); ++i)
        before.push_back(record_at<lumbrake::CrawlLogData>(gathering, i).ID);
    click_column(queries, 1);
    for (long i = 0; i + 1 < queries->GetItemCount(); ++i)
        EXPECT_LE(record_at<lumbrake::QueryLogData>(queries, i).Query,
                  record_at<lumbrake::QueryLogData>(queries, i + 1).Query);
    std::vector<std::string> after;
    for (long i = 0; i < gathering->GetItemCount(); ++i)
        after.push_back(record_at<lumbrake::CrawlLogData>(gathering, i).ID);
    EXPECT_EQ(before, after); // sorting one list never reorders the other

    const fs::path out = scratch("QueryLog.txt");
    ASSERT_TRUE(f->ExportQuery(out.string()));
    const std::vector<std::string> lines = split(tn_test::live_daemon::read(out), '\n');
    ASSERT_EQ(lines.size(), 4u); // three lines and the empty rest after the last LF
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& r = record_at<lumbrake::QueryLogData>(queries, static_cast<long>(i));
        const std::vector<std::string> fields = split(lines[i], '\t');
        ASSERT_EQ(fields.size(), 2u) << lines[i]; // a TAB inside a query does not split it
        EXPECT_EQ(fields[0], lumbrake::log_time_text(r.Time));
    }
    EXPECT_EQ(lines[3], "");
}

TEST_F(crawl_log_window, StopEndsTheDownloadWithinASecondAndGetStartsAgain) {
    std::unique_ptr<WXLogsFrame> f(new WXLogsFrame(nullptr, archive_));
    f->Show();
    ASSERT_TRUE(f->IsDownloading());
    EXPECT_EQ(status_of(f.get()), "Downloading log...");
    EXPECT_FALSE(enabled(f.get(), WXLogsFrame::ID_GET));
    EXPECT_TRUE(enabled(f.get(), WXLogsFrame::ID_STOP));
    EXPECT_FALSE(enabled(f.get(), WXLogsFrame::ID_EXPORT_GATHERING));
    tn_test::pump_events(300);
    const auto start = clock_type::now();
    tn_test::click(f.get(), WXLogsFrame::ID_STOP);
    EXPECT_LT(clock_type::now() - start, std::chrono::seconds(1));
    EXPECT_FALSE(f->IsDownloading());
    EXPECT_EQ(status_of(f.get()), "");
    EXPECT_TRUE(f->IsEnabled());
    wxListCtrl* list = list_of(f.get(), WXLogsFrame::ID_GATHERING_LIST);
    const long kept = list->GetItemCount();
    EXPECT_LT(kept, static_cast<long>(log_.size()));
    tn_test::pump_events(1200); // no rows arrive after the stop
    EXPECT_EQ(list->GetItemCount(), kept);

    // "Get" downloads the chosen log again from its start.
    tn_test::click(f.get(), WXLogsFrame::ID_GET);
    EXPECT_TRUE(f->IsDownloading());
    EXPECT_EQ(list->GetItemCount(), 0);
    ASSERT_TRUE(wait_for([&] { return !f->IsDownloading(); }, std::chrono::seconds(30)));
    EXPECT_EQ(list->GetItemCount(), static_cast<long>(log_.size()));
}

TEST_F(crawl_log_window, ClosingDuringADownloadStopsTheThreadFirst) {
    auto* f = new WXLogsFrame(nullptr, archive_);
    f->Show();
    tn_test::pump_events(200);
    ASSERT_TRUE(f->IsDownloading());
    const auto start = clock_type::now();
    delete f;
    EXPECT_LT(clock_type::now() - start, std::chrono::seconds(1));
}

TEST_F(crawl_log_window, AnArchiveTheDaemonRefusesIsReported) {
    lumbrake::ArchiveInfo missing = archive_;
    missing.Archive = 987654;
    std::unique_ptr<WXLogsFrame> f(new WXLogsFrame(nullptr, missing));
    EXPECT_FALSE(f->IsDownloading());
    EXPECT_EQ(tn_test::services().errors.size(), 1u);
    EXPECT_FALSE(enabled(f.get(), WXLogsFrame::ID_GET));
    EXPECT_FALSE(enabled(f.get(), WXLogsFrame::ID_STOP));
}

// Last: the daemon goes away.
TEST_F(crawl_log_window, ZDaemonStoppedMidDownloadLeavesTheRowsSoFar) {
    std::unique_ptr<WXLogsFrame> f(new WXLogsFrame(nullptr, archive_));
    f->Show();
    wxListCtrl* list = list_of(f.get(), WXLogsFrame::ID_GATHERING_LIST);
    ASSERT_TRUE(wait_for([&] { return list->GetItemCount() > 0; }, std::chrono::seconds(10)));
    daemon_->kill9();
    ASSERT_TRUE(wait_for([&] { return !f->IsDownloading(); }, std::chrono::seconds(15)));
    const long rows = list->GetItemCount();
    EXPECT_GT(rows, 0);
    EXPECT_LT(rows, static_cast<long>(log_.size()));
    EXPECT_EQ(status_of(f.get()), "");
    EXPECT_TRUE(tn_test::services().errors.empty()); // the thread reports nothing
    // The window keeps working: the query log's failure is reported, the rows stay.
    tn_test::click(f.get(), WXLogsFrame::ID_GET_QUERY_LOG);
    EXPECT_EQ(tn_test::services().errors.size(), 1u);
    EXPECT_EQ(list->GetItemCount(), rows);
}

TEST(crawl_log_window_alone, WithoutAConnectionNothingIsDownloadedAndSetDateTakesTheRange) {
    tn_test::services().endpoint.clear();
    std::unique_ptr<WXLogsFrame> f(new WXLogsFrame(nullptr, lumbrake::ArchiveInfo{}));
    f->Show();
    EXPECT_FALSE(f->IsDownloading());
    EXPECT_FALSE(enabled(f.get(), WXLogsFrame::ID_GET));
    EXPECT_FALSE(enabled(f.get(), WXLogsFrame::ID_STOP));
    EXPECT_FALSE(enabled(f.get(), WXLogsFrame::ID_EXPORT_GATHERING));
    std::vector<wxTextCtrl*> range = tn_test::children_of<wxTextCtrl>(f.get());
    ASSERT_EQ(range.size(), 2u);
    EXPECT_EQ(range[0]->GetValue(), lumbrake::log_time_text(0));
    EXPECT_EQ(range[1]->GetValue(), lumbrake::log_time_text(1924991999));

    // "Set date...": Cancel keeps the range, OK takes the dialog's days.
    for (const int answer : {wxID_CANCEL, wxID_OK}) {
        f->CallAfter([answer] {
            for (wxWindow* w : wxTopLevelWindows)
                if (auto* d = dynamic_cast<lumbrake::WXDateDialog*>(w); d && d->IsModal()) {
                    d->fromCalendar->SetDate(wxDateTime(2, wxDateTime::Jan, 2001));
                    d->toCalendar->SetDate(wxDateTime(3, wxDateTime::Jan, 2001));
                    tn_test::click(d, answer);
                }
        });
        tn_test::click(f.get(), WXLogsFrame::ID_SET_DATE);
        if (answer == wxID_CANCEL) {
            EXPECT_EQ(f->queryFrom, 0);
            EXPECT_EQ(f->queryTo, 1924991999);
        }
    }
    EXPECT_EQ(f->queryFrom, 978393600);
    EXPECT_EQ(f->queryTo, 978393600 + 2 * 86400 - 1);
    EXPECT_EQ(range[0]->GetValue(), lumbrake::log_time_text(978393600));
}

} // namespace
