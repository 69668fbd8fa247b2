// Whole crawls through process threads: the real millhand worker fetches file:// pages and
// pages of python3 http.server sites on 127.0.0.1, the real siftvault indexes them, and what
// the crawl stored and logged is read back with the sqlite3 shell and xapian-delve.
#include "../support/files.h"
#include "docstorage/docstorage.h"
#include "fetchqueue/fetchqueue.h"
#include "idxstorage/idxstorage.h"
#include "logstorage/logstorage.h"
#include "robotschecker/robotschecker.h"
#include "trawlnestd/cfgstorage.h"
#include "trawlnestd/cookie-cache.h"
#include "trawlnestd/daemon-storages.h"
#include "trawlnestd/dbconn.h"
#include "trawlnestd/process-thread.h"
#include "trawlnestd/scheduler-thread.h"
#include "util/config.h"
#include "util/sqlite_txn.h"
#include "util/uri.h"
#include "../support/http_client.h"
#include "../support/ports.h"
#include "../support/small_volume.h"

#include <gtest/gtest.h>
#include <wx/init.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

namespace lumbrake {
namespace {

constexpr auto& run = tn_test::command_output;
constexpr auto& free_port = tn_test::reserve_port;
constexpr auto& can_connect = tn_test::port_answers;

namespace fs = std::filesystem;

class wx_environment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(wxInitialize()); }
    void TearDown() override { wxUninitialize(); }
};
const auto* const wx_env = ::testing::AddGlobalTestEnvironment(new wx_environment);

void write_file(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary);
    out << bytes;
}

using tn_test::read_file;

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::string page(const std::string& title, const std::vector<std::string>& links,
                 const std::string& body = "") {
    std::string html =
        "<html><head><title>" + title + "</title></head><body><p>" + title + " " + body + "</p>";
    for (const std::string& l : links)
        html += "<a href=\"" + l + "\">" + l + "</a>\n";
    return html + "</body></html>\n";
}

// A python3 program serving on 127.0.0.1:port, killed (by its process id) when the object goes.
class python_server {
public:
    // `args` follow "python3 -u"; the server's standard error goes to `log`.
    python_server(int port, const std::string& args, const fs::path& log) {
        std::string command =
            "python3 -u " + args + " >/dev/null 2>'" + log.string() + "' & echo $!";
        pid_ = std::atoi(run(command).c_str());
        for (int i = 0; i < 400 && !can_connect(port); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ~python_server() {
        if (pid_ > 0) ::kill(pid_, SIGKILL);
    }

private:
    int pid_ = 0;
};

// Python's http.server over the folder `www` on 127.0.0.1:`port`.
std::string file_server_args(int port, const fs::path& www) {
    return "-m http.server " + std::to_string(port) + " --bind 127.0.0.1 --directory '" +
           www.string() + "'";
}

struct file_site;

// A scratch daemon: DEPLOYDIR with the real worker and index server, DATADIR as the current
// directory, the storages and stores opened as the daemon opens them, and the services that
// the crawling threads use, with a clock that tests can move.
class CrawlTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const char* tmp = std::getenv("TEST_TMPDIR");
        root_ = fs::path(tmp ? tmp : "/tmp/") / (std::string("crawl.") + info->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "deploy" / "bin");
        fs::create_directories(root_ / "deploy" / "plugins");
        fs::create_directories(root_ / "data");
        fs::create_symlink(TN_MILLHAND_PROGRAM, root_ / "deploy" / "bin" / "millhand");
        fs::create_symlink(TN_SIFTVAULT_PROGRAM, root_ / "deploy" / "bin" / "siftvault");
        old_cwd_ = fs::current_path();
    }

    // Writes the configuration and opens everything; extra lines are KEY=VALUE.
    void open(const std::vector<std::string>& lines = {}) {
        std::string text = "DEPLOYDIR=" + (root_ / "deploy").string() +
                           "\nDATADIR=" + (root_ / "data").string() +
                           "\nLOGCFG=WORKER:ERROR PLUGINSYSTEM:ERROR\n";
        for (const std::string& l : lines)
            text += l + "\n";
        write_file(root_ / "trawlnest.conf", text);
        write_file(root_ / "environment",
                   "LUMBRAKE_CONFIG_FILE=" + (root_ / "trawlnest.conf").string() + "\n");
        ::setenv("LUMBRAKE_ENV_STORE", (root_ / "environment").c_str(), 1);
        fs::current_path(root_ / "data");
        cfg_ = std::make_unique<config>((root_ / "trawlnest.conf").c_str());
        db_ = std::make_unique<db_connection>(*cfg_);
        storage_transaction txn(*db_);
        storages_.open(*db_, {.throttling = 0, .user_agent = "lumbrakebot"});
        txn.commit();

        services_.cfg = cfg_.get();
        storages_.fill(services_);
        services_.clock = [this] { return std::int64_t(std::time(nullptr)) + offset_.load(); };
        services_.free_space = [this](const std::string&) { return free_.load(); };
    }

    void TearDown() override {
        threads_.clear();
        storages_.close();
        db_.reset();
        std::error_code ec;
        fs::current_path(old_cwd_, ec);
        ::unsetenv("LUMBRAKE_ENV_STORE");
    }

    // Opens everything with no extra configuration and adds an archive of the site's source
    // (crawling to `depth`); its id.
    int open_with_archive_of(const file_site& site, int depth);

    // As a daemon's restart: the threads and storages closed and opened again over the same
    // files, so the fetch queue's memory is rebuilt from its rows.
    void reopen() {
        threads_.clear();
        storages_.index->flush();
        storages_.close();
        storage_transaction txn(*db_);
        storages_.open(*db_, {.throttling = 0, .user_agent = "lumbrakebot"});
        txn.commit();
        storages_.fill(services_);
    }

    process_thread& thread(std::int32_t timeout = 180) {
        threads_.push_back(std::make_unique<process_thread>(services_, timeout));
        return *threads_.back();
    }

    sqlite3* db() { return db_->get(); }

    int add_source(const SourceConfiguration& source) {
        std::uint32_t magic = 0;
        storage_transaction txn(db());
        int id = cfgstorage<SourceConfiguration>::add(db(), source, magic);
        txn.commit();
        return id;
    }

    int add_archive(int source, bool historicize = false, int pages_limit = 0) {
        ArchiveConfiguration a;
        a.Name = "archive";
        a.Source = source;
        a.Historicize = historicize;
        a.PagesLimit = pages_limit;
        std::uint32_t magic = 0;
        storage_transaction txn(db());
        int id = cfgstorage<ArchiveConfiguration>::add(db(), a, magic);
        txn.commit();
        return id;
    }

    // An archive of the site at `base` that logs in at base + "login" (cookies of any age).
    // Crawls one.html -> two.html of a site on 127.0.0.1 whose /login answer gets the header lines
    // `login` (Python, with `globals` above the handler) and that records every request with its
    // Cookie header. The archive crawled, and the records.
    std::string crawl_cookie_site(const std::string& globals, const std::string& login, int& arc) {
        const fs::path script = root_ / "cookies.py";
        const fs::path seen = root_ / "seen.txt";
        const int port = free_port();
        write_file(
            script,
            "import http.server\n" + globals +
                "class H(http.server.BaseHTTPRequestHandler):\n"
                "    def do_GET(self):\n"
                "        with open('" +
                seen.string() +
                "', 'a') as f:\n"
                "            f.write(self.path + ' [' + str(self.headers.get('Cookie')) + ']\\n')\n"
                "        self.send_response(200)\n"
                "        if self.path.startswith('/login'):\n" +
                login +
                "        self.send_header('Content-Type', 'text/html')\n"
                "        self.end_headers()\n"
                "        self.wfile.write(b'<html><body><p>page</p><a "
                "href=\"/two.html\">two</a></body></html>')\n"
                "http.server.HTTPServer(('127.0.0.1', " +
                std::to_string(port) + "), H).serve_forever()\n");
        python_server server(port, "'" + script.string() + "'", root_ / "cookies.log");
        EXPECT_TRUE(can_connect(port));
        open();
        const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";
        arc = add_cookie_archive(base);
        process_thread& t = thread();
        start_crawl(arc, {base + "one.html"});
        EXPECT_EQ(crawl_until_idle(t), 2);
        return read_file(seen);
    }

    int add_cookie_archive(const std::string& base) {
        SourceConfiguration s;
        s.IncludeFilters = {"^http://127\\.0\\.0\\.1"};
        s.ExcludeFilters = {"/login"};
        s.CheckRobotsTxt = false;
        s.Type = AUTH_COOKIE;
        s.CookieParams.Url = base + "login";
        s.CookieParams.Freshness = 0;
        AuthConfiguration auth;
        auth.Username = "crawler";
        std::uint32_t magic = 0;
        storage_transaction txn(db());
        const int auth_id = cfgstorage<AuthConfiguration>::add(db(), auth, magic);
        txn.commit();
        ArchiveConfiguration a;
        a.Source = add_source(s);
        a.Auth = auth_id;
        txn.begin();
        const int arc = cfgstorage<ArchiveConfiguration>::add(db(), a, magic);
        txn.commit();
        return arc;
    }

    // Opens a crawl of the archive now and queues the URLs at priority 0, as the scheduler
    // and StartCrawl do.
    void start_crawl(int arcid, const std::vector<std::string>& urls) {
        storage_transaction txn(db());
        storages_.logs->start_crawl(db(), arcid, services_.now());
        for (const std::string& u : urls)
            storages_.queue->push(db(), static_cast<std::uint32_t>(arcid), u, 0);
        txn.commit();
    }

    // Passes until the thread finds nothing to do.
    static int crawl_until_idle(process_thread& t) {
        int handled = 0;
        while (t.crawl_pass() == process_thread::pass_result::handled && handled < 200)
            ++handled;
        return handled;
    }

    // (URL, status) of the document log, oldest first, as the sqlite3 shell reads it.
    std::string document_log() {
        return run("sqlite3 -separator ' ' '" + (root_ / "data" / "trawlnest.db").string() +
                   "' 'select status, url from documentlog order by rowid'");
    }

    std::string sql(const std::string& statement) {
        return run("sqlite3 -separator ' ' '" + (root_ / "data" / "trawlnest.db").string() +
                   "' \"" + statement + "\"");
    }

    // The status of the last line of the document log.
    std::string last_status() {
        return sql("select status from documentlog order by rowid desc limit 1");
    }

    // After a worker was lost, `t` still crawls `url`, in a crawl of its own (the clock moves
    // on, so it is not one that starts when the last one ended), and logs it as stored.
    void expect_next_job_done(process_thread& t, int arc, const std::string& url) {
        offset_ += 10;
        start_crawl(arc, {url});
        EXPECT_EQ(crawl_until_idle(t), 1);
        EXPECT_EQ(last_status(), "0\n");
    }

    bool crawl_running(int arcid) {
        std::int64_t start = 0, end = 0, docs = 0, errors = 0;
        storage_transaction txn(db());
        bool found = storages_.logs->last_crawl(db(), arcid, start, end, docs, errors);
        txn.commit();
        return found && end == 0;
    }

    std::size_t indexed_documents() {
        storage_transaction txn(db());
        storages_.index->flush();
        txn.commit();
        const std::string out = run("xapian-delve '" + (root_ / "data" / "index").string() + "'");
        const auto at = out.find("number of documents = ");
        if (at == std::string::npos) return static_cast<std::size_t>(-1);
        return std::stoul(out.substr(at + 22));
    }

    static std::string canonical(const std::string& url) {
        return URI(url, "http", true).canonical_string(true);
    }

    fs::path root_;
    fs::path old_cwd_;
    std::unique_ptr<config> cfg_;
    std::unique_ptr<db_connection> db_;
    daemon_storages storages_;
    crawl_services services_;
    std::atomic<std::int64_t> offset_{0};
    std::atomic<std::uint64_t> free_{std::uint64_t{1} << 40};
    std::vector<std::unique_ptr<process_thread>> threads_;
};

// A chain of file pages a -> b -> c -> d, with an excluded page and a self link.
struct file_site {
    explicit file_site(const fs::path& dir) : dir(dir) {
        write_file(dir / "a.html", page("alpha", {"b.html", "a.html", "x/excluded.html"}));
        write_file(dir / "b.html", page("bravo", {"c.html"}));
        write_file(dir / "c.html", page("charlie", {"d.html"}));
        write_file(dir / "d.html", page("delta", {}));
        write_file(dir / "x" / "excluded.html", page("excluded", {}));
    }
    std::string url(const std::string& name) const {
        return canonical("file://" + (dir / name).string());
    }
    SourceConfiguration source(int depth) const {
        SourceConfiguration s;
        s.Name = "files";
        s.IncludeFilters = {"^file://" + dir.string()};
        s.ExcludeFilters = {"excluded"};
        s.DepthLimit = depth;
        s.CheckRobotsTxt = false;
        return s;
    }
    static std::string canonical(const std::string& u) {
        return URI(u, "http", true).canonical_string(true);
    }
    fs::path dir;
};

int CrawlTest::open_with_archive_of(const file_site& site, int depth) {
    open();
    return add_archive(add_source(site.source(depth)));
}

TEST_F(CrawlTest, FileSiteIsStoredIndexedLoggedAndQueuedByDepth) {
    file_site site(root_ / "site");
    const int arc = open_with_archive_of(site, 3);
    process_thread& t = thread();
    start_crawl(arc, {site.url("a.html"), site.url("x/excluded.html")});

    EXPECT_EQ(crawl_until_idle(t), 4);
    const std::string log = document_log();
    // a (priority 0), b (1) and c (2); c's links would be priority 3: not queued with
    // DepthLimit 3. The excluded seed is not fetched and is recorded as BLOCKED.
    EXPECT_EQ(count_of(log, "0 " + site.url("a.html") + "\n"), 1u) << log;
    EXPECT_EQ(count_of(log, "0 " + site.url("b.html") + "\n"), 1u) << log;
    EXPECT_EQ(count_of(log, "0 " + site.url("c.html") + "\n"), 1u) << log;
    EXPECT_EQ(count_of(log, "6 " + site.url("x/excluded.html") + "\n"), 1u) << log;
    EXPECT_EQ(log.find("/d.html"), std::string::npos) << log;
    EXPECT_FALSE(crawl_running(arc));
    EXPECT_EQ(sql("select count(*) from fetchqueue"), "0\n");

    // Stored versions: three documents and the BLOCKED one, under the documented ids.
    EXPECT_EQ(sql("select error, count(*) from docstorage group by error order by error"),
              "0 3\n6 1\n");
    EXPECT_EQ(sql("select guid from docstorage where url='" + site.url("a.html") + "'"),
              document_id(services_.platform_id, arc, site.url("a.html"), false, 0) + "\n");
    EXPECT_EQ(indexed_documents(), 3u);
}

// A page indexed by one crawl and refused by the filters in the next leaves the index; a
// refused URL never stored has nothing there to remove.
TEST_F(CrawlTest, RefusedPageStoredBeforeLeavesTheIndex) {
    file_site site(root_ / "site");
    open();
    SourceConfiguration source = site.source(3);
    const int src = add_source(source);
    const int arc = add_archive(src);
    process_thread& t = thread();
    start_crawl(arc, {site.url("a.html")});
    crawl_until_idle(t);
    EXPECT_EQ(indexed_documents(), 3u); // a, b, c

    {
        std::uint32_t magic = 0;
        storage_transaction txn(db());
        ASSERT_TRUE(cfgstorage<SourceConfiguration>::get(db(), src, source, magic));
        source.ExcludeFilters.push_back("b\\.html$");
        ASSERT_TRUE(cfgstorage<SourceConfiguration>::set(db(), src, source, magic));
        txn.commit();
    }
    offset_ += 100;
    start_crawl(arc, {site.url("a.html"), site.url("b.html"), site.url("x/excluded.html")});
    crawl_until_idle(t);
    const std::string second =
        sql("select status, url from documentlog where arcid=" + std::to_string(arc) +
            " order by rowid limit -1 offset 3");
    EXPECT_EQ(count_of(second, "6 " + site.url("b.html") + "\n"), 1u) << second;
    EXPECT_EQ(count_of(second, "6 " + site.url("x/excluded.html") + "\n"), 1u) << second;
    // a and c (not reached this time, still stored) stay; b is gone.
    EXPECT_EQ(indexed_documents(), 2u);
}

TEST_F(CrawlTest, SecondCrawlFindsUnchangedPagesAndHistoricizeKeepsVersions) {
    open();
    file_site site(root_ / "site");
    const int src = add_source(site.source(0));
    const int plain = add_archive(src);
    const int history = add_archive(src, true);
    process_thread& t = thread();
    start_crawl(plain, {site.url("a.html")});
    start_crawl(history, {site.url("a.html")});
    crawl_until_idle(t);
    EXPECT_EQ(sql("select count(*) from docstorage where arcid=" + std::to_string(plain)), "4\n");

    // A later crawl: c.html changed, the rest did not.
    offset_ += 100;
    write_file(site.dir / "c.html", page("charlie", {"d.html"}, "now with more words"));
    start_crawl(plain, {site.url("a.html")});
    start_crawl(history, {site.url("a.html")});
    crawl_until_idle(t);

    const std::string second =
        sql("select status, url from documentlog where arcid=" + std::to_string(plain) +
            " order by rowid limit -1 offset 4");
    EXPECT_EQ(count_of(second, "9 " + site.url("a.html") + "\n"), 1u) << second;
    EXPECT_EQ(count_of(second, "9 " + site.url("b.html") + "\n"), 1u) << second;
    EXPECT_EQ(count_of(second, "0 " + site.url("c.html") + "\n"), 1u) << second;
    EXPECT_EQ(count_of(second, "9 " + site.url("d.html") + "\n"), 1u) << second;
    // Without Historicize an unchanged page keeps its one version with a new timestamp.
    EXPECT_EQ(sql("select count(*) from docstorage where arcid=" + std::to_string(plain)), "4\n");
    EXPECT_EQ(sql("select count(*) from docstorage where arcid=" + std::to_string(plain) +
                  " and timestamp < (select max(start) from crawlstats where arcid=" +
                  std::to_string(plain) + ")"),
              "0\n");
    // With it every fetch is a version of its own; unchanged ones are not indexed again.
    EXPECT_EQ(sql("select error, count(*) from docstorage where arcid=" + std::to_string(history) +
                  " group by error order by error"),
              "0 5\n9 3\n");
    EXPECT_EQ(indexed_documents(), 4u + 5u);
}

TEST_F(CrawlTest, PagesLimitClearsTheQueueAndClosesTheCrawl) {
    open();
    file_site site(root_ / "site");
    const int arc = add_archive(add_source(site.source(0)), false, 2);
    process_thread& t = thread();
    start_crawl(arc, {site.url("a.html")});
    EXPECT_EQ(crawl_until_idle(t), 2);
    EXPECT_FALSE(crawl_running(arc));
    EXPECT_EQ(sql("select count(*) from fetchqueue"), "0\n");
}

TEST_F(CrawlTest, ClosedCrawlStoresNothingButEmptiesTheQueue) {
    file_site site(root_ / "site");
    const int arc = open_with_archive_of(site, 0);
    process_thread& t = thread();
    start_crawl(arc, {site.url("a.html")});
    storage_transaction txn(db());
    storages_.logs->end_crawl(db(), arc, services_.now());
    txn.commit();
    EXPECT_EQ(crawl_until_idle(t), 1);
    EXPECT_EQ(sql("select count(*) from docstorage"), "0\n");
    EXPECT_EQ(sql("select count(*) from documentlog"), "0\n");
    EXPECT_EQ(sql("select count(*) from fetchqueue"), "0\n");
}

TEST_F(CrawlTest, ReprocessRoadRebuildsStoredDocuments) {
    file_site site(root_ / "site");
    const int arc = open_with_archive_of(site, 1);
    process_thread& t = thread();
    start_crawl(arc, {site.url("a.html")});
    crawl_until_idle(t);
    const std::string guid = document_id(services_.platform_id, arc, site.url("a.html"), false, 0);
    // No crawl is running: the stored document is reprocessed all the same; an unknown id is
    // dropped without a log entry.
    storage_transaction txn(db());
    storages_.queue->push(db(), arc, "guid:" + guid, 0);
    storages_.queue->push(db(), arc, "guid:0123456789abcdef0123456789abcdef", 0);
    txn.commit();
    const std::string before = sql("select count(*) from documentlog");
    EXPECT_EQ(crawl_until_idle(t), 2);
    const std::string log =
        sql("select status, url, guid from documentlog order by rowid desc limit 1");
    EXPECT_EQ(log, "0 " + site.url("a.html") + " " + guid + "\n");
    EXPECT_EQ(std::stoi(sql("select count(*) from documentlog")), std::stoi(before) + 1);
}

TEST_F(CrawlTest, WindowAndFreeSpaceKeepTheThreadIdle) {
    open({"CRAWLSTART=22", "CRAWLSTOP=3", "MINFREEDISK=1"});
    file_site site(root_ / "site");
    const int arc = add_archive(add_source(site.source(1)));
    process_thread& t = thread();
    start_crawl(arc, {site.url("a.html")});
    const std::int64_t real = std::time(nullptr);
    const std::int64_t midnight = real - real % 86400;
    offset_ = midnight + 12 * 3600 - real; // noon: outside 22..3
    EXPECT_EQ(t.crawl_pass(), process_thread::pass_result::idle);
    offset_ = midnight + 2 * 3600 - real; // 02:00: inside
    free_ = 1048575;                      // one byte short of 1 MB
    EXPECT_EQ(t.crawl_pass(), process_thread::pass_result::idle);
    free_ = 1048576;
    EXPECT_EQ(t.crawl_pass(), process_thread::pass_result::handled);
}

TEST_F(CrawlTest, HttpSiteHonoursRobotsAndNotifiesOnce) {
    const fs::path www = root_ / "www";
    write_file(www / "robots.txt", "User-agent: *\nDisallow: /private/\n");
    write_file(www / "index.html",
               page("home", {"pub.html", "private/secret.html", "index.html", "dir"}));
    write_file(www / "pub.html", page("public", {"index.html"}));
    write_file(www / "private" / "secret.html", page("secret", {}));
    // "dir" answers with a redirect to "dir/", whose listing links "inner.html".
    write_file(www / "dir" / "inner.html", page("inner", {}));
    const fs::path access_log = root_ / "access.log";
    const int port = free_port();
    python_server server(port, file_server_args(port, www), access_log);
    ASSERT_TRUE(can_connect(port));
    const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";
    open({"NOTIFYURL=" + base + "notify/%u"});

    SourceConfiguration s;
    s.IncludeFilters = {"^http://127\\.0\\.0\\.1"};
    s.CheckRobotsTxt = true;
    s.DepthLimit = 2;
    const int arc = add_archive(add_source(s));
    process_thread& t = thread();
    start_crawl(arc, {base + "index.html"});
    EXPECT_EQ(crawl_until_idle(t), 5);

    const std::string log = document_log();
    EXPECT_EQ(count_of(log, "0 " + base + "index.html\n"), 1u) << log;
    EXPECT_EQ(count_of(log, "0 " + base + "pub.html\n"), 1u) << log;
    EXPECT_EQ(count_of(log, "6 " + base + "private/secret.html\n"), 1u) << log;
    // The redirect target keeps the priority of the link (1), so it is fetched under
    // DepthLimit 2, but its own links (priority 2) are not queued.
    EXPECT_EQ(count_of(log, "1 " + base + "dir\n"), 1u) << log;
    EXPECT_EQ(count_of(log, "0 " + base + "dir/\n"), 1u) << log;
    EXPECT_EQ(log.find("inner.html"), std::string::npos) << log;
    EXPECT_FALSE(crawl_running(arc));

    // Give the server a moment to write its last log line.
    std::string requests;
    for (int i = 0; i < 100; ++i) {
        requests = read_file(access_log);
        if (requests.find("/notify/") != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(count_of(requests, "GET /robots.txt "), 1u) << requests;
    EXPECT_EQ(count_of(requests, "GET /private/"), 0u) << requests;
    EXPECT_EQ(count_of(requests, "GET /notify/" + std::to_string(arc) + " "), 1u) << requests;
    EXPECT_EQ(count_of(requests, "GET /notify/"), 1u) << requests;
}

TEST_F(CrawlTest, CookieLoginRunsOnceAndItsCookiesTravelWithEveryPage) {
    int arc = 0;
    const std::string requests =
        crawl_cookie_site("",
                          "            self.send_header('Set-Cookie', 'session=abc; Path=/')\n"
                          "            self.send_header('Set-Cookie', 'lang=en')\n",
                          arc);
    EXPECT_EQ(count_of(requests, "/login"), 1u) << requests;
    EXPECT_EQ(count_of(requests, "/one.html [session=abc; lang=en]"), 1u) << requests;
    EXPECT_EQ(count_of(requests, "/two.html [session=abc; lang=en]"), 1u) << requests;
    std::string cached;
    EXPECT_TRUE(storages_.cookies->get(arc, 0, cached));
    EXPECT_EQ(cached, "session=abc; lang=en");
}

TEST_F(CrawlTest, HungWorkerIsKilledByTheWatchdogAndRestarted) {
    // A server that accepts connections and never answers.
    const fs::path script = root_ / "silent.py";
    int port = free_port();
    write_file(script,
               "import socket, time\n"
               "s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
               "s.bind(('127.0.0.1', " +
                   std::to_string(port) +
                   ")); s.listen(8)\n"
                   "held = []\n"
                   "while True: held.append(s.accept())\n");
    python_server silent(port, "'" + script.string() + "'", root_ / "silent.log");
    ASSERT_TRUE(can_connect(port));
    open({"WORKER_TIMEOUT=1"});
    file_site site(root_ / "site");
    SourceConfiguration s = site.source(1);
    s.IncludeFilters.push_back("^http://127\\.0\\.0\\.1");
    const int arc = add_archive(add_source(s));
    process_thread& t = thread(1);
    const std::string hung = "http://127.0.0.1:" + std::to_string(port) + "/never";
    start_crawl(arc, {hung});

    std::atomic<bool> done{false};
    process_thread::pass_result result{};
    std::thread body([&] {
        result = t.crawl_pass();
        done = true;
    });
    // The scheduler's watchdog, once in a while.
    while (!done) {
        t.check_timeout(false);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    body.join();
    EXPECT_EQ(result, process_thread::pass_result::handled);
    EXPECT_EQ(t.job_start(), 0);
    EXPECT_EQ(document_log(), "8 " + hung + "\n");

    // The new worker does the next job.
    expect_next_job_done(t, arc, site.url("d.html"));
}

TEST_F(CrawlTest, WatchdogKillsAtTheTimeoutAndNeverWhenIdle) {
    file_site site(root_ / "site");
    const int arc = open_with_archive_of(site, 1);
    process_thread& t = thread(30);
    const std::int32_t now = static_cast<std::int32_t>(services_.now());
    // Idle: never killed, however old the clock.
    t.set_job_start(0);
    offset_ = 1000000;
    t.check_timeout(false);
    offset_ = 0;
    // One second short of the timeout: kept.
    t.set_job_start(now - 29);
    t.check_timeout(false);
    t.set_job_start(0);
    start_crawl(arc, {site.url("d.html")});
    EXPECT_EQ(crawl_until_idle(t), 1);
    EXPECT_EQ(last_status(), "0\n");
    // Exactly the timeout: killed; the next request finds it dead and goes to a new worker.
    const pid_t before = t.worker_pid();
    t.set_job_start(static_cast<std::int32_t>(services_.now()) - 30);
    t.check_timeout(false);
    t.set_job_start(0);
    expect_next_job_done(t, arc, site.url("c.html"));
    EXPECT_NE(t.worker_pid(), before);
}

TEST_F(CrawlTest, PluginCacheSendsEachRecordOncePerWorker) {
    open();
    process_thread& t = thread();
    std::uint32_t m = 0;
    storage_transaction txn(db());
    Plugin p;
    p.Name = "p";
    const int pid = cfgstorage<Plugin>::add(db(), p, m);
    DocFilter f1, f2;
    f1.Name = "f1";
    f1.PluginID = pid;
    f2.Name = "f2";
    f2.PluginID = pid;
    const std::uint32_t id1 = cfgstorage<DocFilter>::add(db(), f1, m);
    const std::uint32_t id2 = cfgstorage<DocFilter>::add(db(), f2, m);
    txn.commit();

    auto update = [&](const std::vector<std::uint32_t>& ids, bool sent = true) {
        std::pair<millhand::plugin_map, millhand::docfilter_map> out;
        storage_transaction txn(t.db()); // it reads on the thread's own connection
        t.update_plugin_cache(1, ids, out.first, out.second);
        txn.commit();
        if (sent) t.plugins_sent(out.first, out.second);
        return out;
    };
    // Records of a request that was never made (robots.txt blocked it) still count as unsent.
    auto unsent = update({id1, id2}, false);
    EXPECT_EQ(unsent.first.size(), 1u);
    EXPECT_EQ(unsent.second.size(), 2u);
    // Two docfilters of one plug-in: the plug-in travels once; a missing docfilter is skipped.
    auto first = update({id1, id2, 99});
    EXPECT_EQ(first.first.size(), 1u);
    EXPECT_EQ(first.first.count(pid), 1u);
    EXPECT_EQ(first.second.size(), 2u);
    EXPECT_TRUE(update({id1, id2}).first.empty());
    EXPECT_TRUE(update({id1, id2}).second.empty());

    // An edited docfilter goes again with its new stamp; its plug-in does not.
    txn.begin();
    std::uint32_t magic = 0;
    DocFilter read;
    ASSERT_TRUE(cfgstorage<DocFilter>::get(db(), id2, read, magic));
    read.Config = "changed";
    ASSERT_TRUE(cfgstorage<DocFilter>::set(db(), id2, read, magic));
    txn.commit();
    auto edited = update({id1, id2});
    EXPECT_TRUE(edited.first.empty());
    ASSERT_EQ(edited.second.size(), 1u);
    EXPECT_EQ(edited.second.at(id2).magic, magic);
    EXPECT_EQ(edited.second.at(id2).record.Config, "changed");

    // A new worker holds nothing: everything goes again.
    t.wproc_init();
    auto fresh = update({id1, id2});
    EXPECT_EQ(fresh.first.size(), 1u);
    EXPECT_EQ(fresh.second.size(), 2u);
}

TEST_F(CrawlTest, SchedulerStartsDueCrawlsAndExpiresOldVersions) {
    open();
    SourceConfiguration s;
    s.Seeds = {"http://example.invalid/"};
    const int src = add_source(s);
    auto archive = [&](bool schedule, int garbage) {
        ArchiveConfiguration a;
        a.Source = src;
        a.SchedulingFrequency = schedule ? HOURLY : DISABLED;
        a.SchedulingAttribute = 1;
        a.GarbageLimit = garbage;
        std::uint32_t magic = 0;
        storage_transaction txn(db());
        int id = cfgstorage<ArchiveConfiguration>::add(db(), a, magic);
        txn.commit();
        return id;
    };
    const int finished = archive(true, 0);
    const int running = archive(true, 0);
    const int never = archive(true, 0);
    const int expiring = archive(false, 86400);
    const std::int64_t now = services_.now();
    storage_transaction txn(db());
    storages_.logs->start_crawl(db(), finished, now - 7200);
    storages_.logs->end_crawl(db(), finished, now - 7000);
    storages_.logs->start_crawl(db(), running, now - 7200);
    for (int i = 0; i < 101; ++i)
        storages_.docs->store(db(),
                              {.guid = "g" + std::to_string(i),
                               .arcid = expiring,
                               .url = "http://h/" + std::to_string(i),
                               .timestamp = static_cast<std::uint32_t>(now - 90000 + i)},
                              {}, 0);
    storages_.docs->store(db(),
                          {.guid = "young",
                           .arcid = expiring,
                           .url = "http://h/young",
                           .timestamp = static_cast<std::uint32_t>(now)},
                          {}, 0);
    storages_.logs->log_query(db(), expiring, "WORD:old", now - 90000);
    storages_.logs->log_query(db(), expiring, "WORD:new", now - 10);
    txn.commit();

    int watchdog_runs = 0;
    services_.check_workers = [&] { ++watchdog_runs; };
    // Short of disk space only the watchdog runs.
    free_ = 0;
    scheduler_thread sched(services_);
    sched.tick();
    EXPECT_EQ(watchdog_runs, 1);
    EXPECT_EQ(sql("select count(*) from fetchqueue"), "0\n");
    free_ = std::uint64_t{1} << 40;
    sched.tick(); // the first tick with room runs an hourly pass
    EXPECT_EQ(watchdog_runs, 2);

    EXPECT_EQ(sql("select arcid, url, priority from fetchqueue order by arcid"),
              std::to_string(finished) + " http://example.invalid/ 0\n");
    EXPECT_TRUE(crawl_running(finished));
    EXPECT_EQ(sql("select count(*) from crawlstats where arcid=" + std::to_string(never)), "0\n");
    EXPECT_EQ(sql("select count(*) from crawlstats where arcid=" + std::to_string(running)), "1\n");
    // 100 of the 101 old versions go now, the last one in the next pass; the young one stays.
    EXPECT_EQ(sql("select guid from docstorage where arcid=" + std::to_string(expiring) +
                  " order by guid"),
              "g100\nyoung\n");
    EXPECT_EQ(sql("select query from querylog where arcid=" + std::to_string(expiring)),
              "WORD:new\n");
    sched.hourly_pass(now + 3600);
    EXPECT_EQ(sql("select guid from docstorage where arcid=" + std::to_string(expiring)),
              "young\n");
}

TEST_F(CrawlTest, ThreadsRunAScheduledCrawlToItsEnd) {
    open();
    file_site site(root_ / "site");
    SourceConfiguration s = site.source(0);
    s.Seeds = {site.url("a.html")};
    const int src = add_source(s);
    ArchiveConfiguration a;
    a.Source = src;
    a.SchedulingFrequency = HOURLY;
    a.SchedulingAttribute = 1;
    std::uint32_t magic = 0;
    storage_transaction txn(db());
    const int arc = cfgstorage<ArchiveConfiguration>::add(db(), a, magic);
    storages_.logs->start_crawl(db(), arc, services_.now() - 7200);
    storages_.logs->end_crawl(db(), arc, services_.now() - 7100);
    txn.commit();

    process_thread* worker = new process_thread(services_, 180);
    services_.check_workers = [worker] { worker->check_timeout(false); };
    scheduler_thread* sched = new scheduler_thread(services_);
    ASSERT_EQ(worker->Create(), wxTHREAD_NO_ERROR);
    ASSERT_EQ(worker->Run(), wxTHREAD_NO_ERROR);
    ASSERT_EQ(sched->Create(), wxTHREAD_NO_ERROR);
    ASSERT_EQ(sched->Run(), wxTHREAD_NO_ERROR);

    // The scheduled crawl is the archive's second; wait until it has ended too.
    const std::string ended =
        "select count(*) from crawlstats where arcid=" + std::to_string(arc) + " and end > 0";
    bool finished = false;
    for (int i = 0; i < 600 && !finished; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        finished = sql(ended) == "2\n";
    }
    sched->stop();
    worker->stop();
    worker->check_timeout(true);
    sched->Wait();
    worker->Wait();
    delete sched;
    delete worker;
    EXPECT_TRUE(finished);
    EXPECT_FALSE(crawl_running(arc));
    EXPECT_EQ(sql("select count(*) from docstorage where arcid=" + std::to_string(arc)), "4\n");
}

// A listener that accepts and says nothing for `hold` seconds (then closes).
fs::path silent_listener_script(const fs::path& dir, int port, int hold) {
    const fs::path script = dir / "stall.py";
    write_file(script,
               "import socket, time, threading\n"
               "s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
               "s.bind(('127.0.0.1', " +
                   std::to_string(port) +
                   ")); s.listen(8)\n"
                   "def hold(c):\n    time.sleep(" +
                   std::to_string(hold) +
                   "); c.close()\n"
                   "while True:\n    c, a = s.accept()\n"
                   "    threading.Thread(target=hold, args=(c,), daemon=True).start()\n");
    return script;
}

TEST_F(CrawlTest, NotificationToAStallingEndpointIsGivenUpAfterItsTimeout) {
    const int port = free_port();
    python_server stall(port, "'" + silent_listener_script(root_, port, 40).string() + "'",
                        root_ / "stall.log");
    ASSERT_TRUE(can_connect(port));
    open(
        {"NOTIFYURL=http://127.0.0.1:" + std::to_string(port) + "/done?arc=%d", "NOTIFYTIMEOUT=1"});
    file_site site(root_ / "site");
    const int arc = add_archive(add_source(site.source(1)));
    process_thread& t = thread();
    start_crawl(arc, {site.url("d.html")});
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(crawl_until_idle(t), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(15));
    EXPECT_FALSE(crawl_running(arc));
}

TEST_F(CrawlTest, DeadWorkerIsReplacedBeforeItsNextUrl) {
    file_site site(root_ / "site");
    const int arc = open_with_archive_of(site, 1);
    process_thread& t = thread();
    const pid_t first = t.worker_pid();
    ASSERT_GT(first, 0);
    ::kill(first, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // The seed goes to a fresh worker instead of being lost on the dead one.
    start_crawl(arc, {site.url("a.html")});
    EXPECT_EQ(crawl_until_idle(t), 1);
    EXPECT_EQ(document_log(), "0 " + site.url("a.html") + "\n");
    EXPECT_NE(t.worker_pid(), first);
    EXPECT_EQ(indexed_documents(), 1u);
}

TEST_F(CrawlTest, UrlThatKillsItsWorkerIsRetriedOnceThenLoggedAsFailure) {
    // A server that kills (with SIGKILL, by process id) whatever connects to it: the worker.
    const int port = free_port();
    const fs::path killed = root_ / "killed.txt";
    const fs::path script = root_ / "killer.py";
    write_file(script, R"(import os, signal, socket, sys
port = int(sys.argv[1])
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(('127.0.0.1', port)); s.listen(8)
def owner(peer):
    inode = None
    for line in open('/proc/net/tcp').readlines()[1:]:
        f = line.split()
        if int(f[1].split(':')[1], 16) == peer and int(f[2].split(':')[1], 16) == port:
            inode = 'socket:[' + f[9] + ']'
    for pid in filter(str.isdigit, os.listdir('/proc')):
        try:
            for fd in os.listdir('/proc/%s/fd' % pid):
                if os.readlink('/proc/%s/fd/%s' % (pid, fd)) == inode:
                    return int(pid)
        except OSError:
            pass
while True:
    c, a = s.accept()
    pid = owner(a[1])
    if pid and pid != os.getpid():
        os.kill(pid, signal.SIGKILL)
        with open(sys.argv[2], 'a') as out:
            out.write('%d\n' % pid)
    c.close()
)");
    python_server killer(
        port, "'" + script.string() + "' " + std::to_string(port) + " '" + killed.string() + "'",
        root_ / "killer.log");
    ASSERT_TRUE(can_connect(port));
    open();
    file_site site(root_ / "site");
    SourceConfiguration s = site.source(1);
    s.IncludeFilters.push_back("^http://127\\.0\\.0\\.1");
    const int arc = add_archive(add_source(s));
    process_thread& t = thread();
    const std::string deadly = "http://127.0.0.1:" + std::to_string(port) + "/deadly";
    start_crawl(arc, {deadly});
    EXPECT_EQ(crawl_until_idle(t), 1);
    EXPECT_EQ(count_of(read_file(killed), "\n"), 2u);
    EXPECT_EQ(document_log(), "12 " + deadly + "\n");
    expect_next_job_done(t, arc, site.url("d.html"));
}

TEST_F(CrawlTest, ScheduledCrawlOfASourceWithoutSeedsEndsAtOnce) {
    open();
    SourceConfiguration s;
    s.Name = "empty";
    ArchiveConfiguration a;
    a.Source = add_source(s);
    a.SchedulingFrequency = HOURLY;
    a.SchedulingAttribute = 1;
    std::uint32_t magic = 0;
    storage_transaction txn(db());
    const int arc = cfgstorage<ArchiveConfiguration>::add(db(), a, magic);
    storages_.logs->start_crawl(db(), arc, services_.now() - 7200);
    storages_.logs->end_crawl(db(), arc, services_.now() - 7000);
    txn.commit();
    scheduler_thread sched(services_);
    sched.hourly_pass(services_.now());
    EXPECT_EQ(sql("select count(*) from crawlstats where arcid=" + std::to_string(arc)), "2\n");
    EXPECT_FALSE(crawl_running(arc));
    // The next due hour starts the next crawl: the schedule goes on.
    sched.hourly_pass(services_.now() + 3600);
    EXPECT_EQ(sql("select count(*) from crawlstats where arcid=" + std::to_string(arc)), "3\n");
}

TEST_F(CrawlTest, KilledIndexServerIsReplacedAndTheIndexRebuiltFromTheStore) {
    file_site site(root_ / "site");
    const int arc = open_with_archive_of(site, 1);
    process_thread& t = thread();
    start_crawl(arc, {site.url("a.html")});
    EXPECT_EQ(crawl_until_idle(t), 1);
    const pid_t server = storages_.index->connection()->child();
    ASSERT_GT(server, 0);
    ::kill(server, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // Stored while the index server is gone.
    offset_ += 10;
    start_crawl(arc, {site.url("b.html")});
    EXPECT_EQ(crawl_until_idle(t), 1);
    scheduler_thread sched(services_);
    sched.tick();
    EXPECT_NE(storages_.index->connection()->child(), server);
    EXPECT_EQ(indexed_documents(), 2u);
}

TEST_F(CrawlTest, LogInWithoutACookieIsNotCachedAndHeaderCaseDoesNotMatter) {
    // The first log-in answers without a cookie, the next one with a lower-case header.
    int arc = 0;
    const std::string requests = crawl_cookie_site(
        "logins = [0]\n",
        "            logins[0] += 1\n"
        "            if logins[0] > 1: self.send_header('set-cookie', 'session=late')\n",
        arc);
    EXPECT_EQ(count_of(requests, "/login"), 2u) << requests;
    EXPECT_EQ(count_of(requests, "/one.html []"), 1u) << requests;
    EXPECT_EQ(count_of(requests, "/two.html [session=late]"), 1u) << requests;
    std::string cached;
    EXPECT_TRUE(storages_.cookies->get(arc, 0, cached));
    EXPECT_EQ(cached, "session=late");
}

// Counts the storage transactions begun on a connection (the crawl threads' shared one).
class transaction_counter {
public:
    explicit transaction_counter(sqlite3* db) : db_(db) {
        sqlite3_trace_v2(db_, SQLITE_TRACE_STMT, &transaction_counter::traced, this);
    }
    ~transaction_counter() { sqlite3_trace_v2(db_, 0, nullptr, nullptr); }
    int count() const { return begun_; }

private:
    static int traced(unsigned, void* self, void*, void* text) {
        if (std::string_view(static_cast<const char*>(text)).starts_with("begin exclusive"))
            ++static_cast<transaction_counter*>(self)->begun_;
        return 0;
    }
    sqlite3* db_;
    std::atomic<int> begun_{0};
};

// Each pass picks the next URL at the end of its storing transaction, so a page whose site's
// robots rules are stored costs one storage transaction, and so does a stored document
// processed again (its version is read with the pick).
TEST_F(CrawlTest, EveryPageAfterTheFirstTakesOneStorageTransaction) {
    const fs::path www = root_ / "www";
    write_file(www / "robots.txt", "User-agent: *\nDisallow: /private/\n");
    write_file(www / "index.html", page("home", {"p1.html"}));
    write_file(www / "p1.html", page("one", {"p2.html", "index.html"}));
    write_file(www / "p2.html", page("two", {"private/p3.html", "p4.html"}));
    write_file(www / "private" / "p3.html", page("three", {}));
    write_file(www / "p4.html", page("four", {}));
    const int port = free_port();
    python_server server(port, file_server_args(port, www), root_ / "access.log");
    ASSERT_TRUE(can_connect(port));
    const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";
    open();
    SourceConfiguration s;
    s.IncludeFilters = {"^http://127\\.0\\.0\\.1"};
    s.CheckRobotsTxt = true;
    const int arc = add_archive(add_source(s));
    process_thread& t = thread();
    start_crawl(arc, {base + "index.html"});

    transaction_counter counter(t.db());
    std::vector<int> per_pass;
    process_thread::pass_result result{};
    do {
        const int before = counter.count();
        result = t.crawl_pass();
        per_pass.push_back(counter.count() - before);
    } while (result == process_thread::pass_result::handled && per_pass.size() < 20);
    // The first page: its pick, the robots.txt fetch (look-up, then the rules stored) and its
    // store. The last pass finds nothing (its pick, then idle).
    EXPECT_EQ(per_pass, (std::vector<int>{4, 1, 1, 1, 1, 1}));
    EXPECT_EQ(document_log(), "0 " + base + "index.html\n0 " + base + "p1.html\n0 " + base +
                                  "p2.html\n6 " + base + "private/p3.html\n0 " + base +
                                  "p4.html\n");
    EXPECT_FALSE(crawl_running(arc));

    const std::string guid = document_id(services_.platform_id, arc, base + "p1.html", false, 0);
    const std::string other = document_id(services_.platform_id, arc, base + "p2.html", false, 0);
    storage_transaction txn(db());
    storages_.queue->push(db(), arc, "guid:" + guid, 0);
    storages_.queue->push(db(), arc, "guid:" + other, 0);
    txn.commit();
    per_pass.clear();
    do {
        const int before = counter.count();
        result = t.crawl_pass();
        per_pass.push_back(counter.count() - before);
    } while (result == process_thread::pass_result::handled && per_pass.size() < 20);
    EXPECT_EQ(per_pass, (std::vector<int>{2, 1, 1}));
    EXPECT_EQ(sql("select status, guid from documentlog order by rowid limit -1 offset 5"),
              "0 " + guid + "\n0 " + other + "\n");
}

// A pick carried out of the transaction that ended one archive's crawl (its pages limit
// reached) belongs to the other archive; the ended crawl is announced once and takes no
// further page.
TEST_F(CrawlTest, CarriedPickAcrossPagesLimitAndCrawlEnd) {
    const fs::path www = root_ / "www";
    fs::create_directories(www);
    const fs::path access_log = root_ / "access.log";
    const int port = free_port();
    python_server server(port, file_server_args(port, www), access_log);
    ASSERT_TRUE(can_connect(port));
    open({"NOTIFYURL=http://127.0.0.1:" + std::to_string(port) + "/notify/%u"});
    file_site site(root_ / "site");
    const int src = add_source(site.source(0));
    const int limited = add_archive(src, false, 2);
    const int whole = add_archive(src);
    process_thread& t = thread();
    start_crawl(limited, {site.url("a.html")});
    start_crawl(whole, {site.url("a.html")});
    EXPECT_EQ(crawl_until_idle(t), 6);

    // The archives take turns until the limited one stops at its two pages.
    const std::string l = std::to_string(limited) + " 0 ", w = std::to_string(whole) + " 0 ";
    EXPECT_EQ(sql("select arcid, status, url from documentlog order by rowid"),
              l + site.url("a.html") + "\n" + w + site.url("a.html") + "\n" + l +
                  site.url("b.html") + "\n" + w + site.url("b.html") + "\n" + w +
                  site.url("c.html") + "\n" + w + site.url("d.html") + "\n");
    EXPECT_FALSE(crawl_running(limited));
    EXPECT_FALSE(crawl_running(whole));
    EXPECT_EQ(sql("select count(*) from fetchqueue"), "0\n");
    std::string requests;
    for (int i = 0; i < 100; ++i) {
        requests = read_file(access_log);
        if (count_of(requests, "GET /notify/") == 2) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(count_of(requests, "GET /notify/" + std::to_string(limited) + " "), 1u) << requests;
    EXPECT_EQ(count_of(requests, "GET /notify/" + std::to_string(whole) + " "), 1u) << requests;
}

// A stop leaves the URL picked for the next pass unfetched, as a fetch cut off by the stop
// is: still queued, held by the queue until the daemon starts again, then crawled.
TEST_F(CrawlTest, StopWithACarriedPickLeavesItQueuedForTheNextStart) {
    file_site site(root_ / "site");
    const int arc = open_with_archive_of(site, 0);
    process_thread& t = thread();
    start_crawl(arc, {site.url("a.html")});
    EXPECT_EQ(t.crawl_pass(), process_thread::pass_result::handled);
    t.stop();
    EXPECT_EQ(t.crawl_pass(), process_thread::pass_result::stopped);
    EXPECT_EQ(sql("select url from fetchqueue"), site.url("b.html") + "\n");
    // Handed out to the stopped thread: no other thread of this run takes it.
    EXPECT_EQ(thread().crawl_pass(), process_thread::pass_result::idle);
    EXPECT_EQ(document_log(), "0 " + site.url("a.html") + "\n");

    reopen();
    EXPECT_EQ(crawl_until_idle(thread()), 3);
    EXPECT_EQ(document_log(), "0 " + site.url("a.html") + "\n0 " + site.url("b.html") + "\n0 " +
                                  site.url("c.html") + "\n0 " + site.url("d.html") + "\n");
    EXPECT_FALSE(crawl_running(arc));
    EXPECT_EQ(indexed_documents(), 4u);
}

// A storing transaction whose COMMIT meets a full volume rolls back with the pick it carried
// (a link it had just queued); the thread keeps that pick, takes it only once there is room,
// and every page is still stored once and the crawl ends: the queue holds no host for a pick
// that was lost.
TEST_F(CrawlTest, CarriedPickOfAFailedCommitIsCrawledOnceThereIsRoom) {
    tn_test::small_volume volume(root_ / "data", "size=24m");
    if (!volume.mounted()) GTEST_SKIP() << "a tmpfs for DATADIR cannot be mounted here (needs root)";
    const fs::path www = root_ / "www";
    for (int i = 0; i < 4; ++i)
        write_file(www / ("p" + std::to_string(i) + ".html"),
                   page("page" + std::to_string(i),
                        i < 3 ? std::vector<std::string>{"p" + std::to_string(i + 1) + ".html"}
                              : std::vector<std::string>{}));
    const int port = free_port();
    python_server server(port, file_server_args(port, www), root_ / "access.log");
    ASSERT_TRUE(can_connect(port));
    const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";
    open({"MINFREEDISK=1"});
    SourceConfiguration s;
    s.IncludeFilters = {"^http://127\\.0\\.0\\.1"};
    s.CheckRobotsTxt = false;
    const int arc = add_archive(add_source(s));
    process_thread& t = thread();
    start_crawl(arc, {base + "p0.html"});
    EXPECT_EQ(t.crawl_pass(), process_thread::pass_result::handled);

    volume.fill();
    try {
        t.crawl_pass();
        ADD_FAILURE() << "the page was stored on a full volume";
    } catch (const sqlite_error& e) {
        EXPECT_EQ(e.code(), SQLITE_FULL) << e.what();
    }
    // Still short of MINFREEDISK: the kept pick waits.
    free_ = 0;
    EXPECT_EQ(t.crawl_pass(), process_thread::pass_result::idle);
    volume.make_room();
    free_ = std::uint64_t{1} << 40;
    EXPECT_EQ(crawl_until_idle(t), 3);
    const std::string log = document_log();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(count_of(log, "0 " + base + "p" + std::to_string(i) + ".html\n"), 1u) << log;
    EXPECT_EQ(count_of(log, "\n"), 4u) << log;
    EXPECT_FALSE(crawl_running(arc));
    EXPECT_EQ(sql("select count(*) from fetchqueue"), "0\n");
    EXPECT_EQ(indexed_documents(), 4u);
    // Everything on the volume is closed before it goes.
    threads_.clear();
    storages_.close();
    db_.reset();
}

} // namespace
} // namespace lumbrake
