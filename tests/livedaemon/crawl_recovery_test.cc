// The index commits seldom: what a killed index server or a killed daemon had stored but not
// yet committed to the index must come back from the document store. The real daemon crawls
// a chain of pages; in the middle of the crawl the index server (and in one case the daemon
// too) is killed with SIGKILL; afterwards every stored page is found by a search.
#include "../support/crawl_archive.h"
#include "../support/live_daemon.h"

#include "client/soap-client-proxy.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <thread>

namespace {

namespace fs = std::filesystem;

constexpr int pages = 400;
constexpr const char* common_word = "kingfisher";

fs::path scratch(const char* name) {
    const char* tmp = std::getenv("TEST_TMPDIR");
    auto p = fs::path(tmp ? tmp : "/tmp/") / (std::string("recovery.") + name);
    fs::remove_all(p);
    return p;
}

// Page i links to page i + 1, so the crawl walks the chain one page after another.
void make_chain(const fs::path& dir) {
    fs::create_directories(dir);
    for (int i = 0; i < pages; ++i) {
        std::string next = i + 1 < pages
                               ? "<a href=\"p" + std::to_string(i + 1) + ".html\">next</a>"
                               : std::string();
        tn_test::live_daemon::write(dir / ("p" + std::to_string(i) + ".html"),
                                    "<html><head><title>page " + std::to_string(i) +
                                        "</title></head><body><p>" + common_word +
                                        " river bank</p>" + next + "</body></html>\n");
    }
}

lumbrake::ArchiveInfo archive_info(lumbrake::SoapClientProxy& proxy, int arcid) {
    std::vector<lumbrake::ArchiveInfo> all;
    proxy.EnumArchiveConfigurations(all);
    for (const auto& a : all)
        if (a.Archive == arcid) return a;
    return {};
}

// Waits until the archive holds at least `documents` pages (or its crawl ended).
lumbrake::ArchiveInfo wait_for(lumbrake::SoapClientProxy& proxy, int arcid, int documents) {
    lumbrake::ArchiveInfo info;
    for (int i = 0; i < 1200; ++i) {
        info = archive_info(proxy, arcid);
        if (info.Documents >= documents || !info.Crawling) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return info;
}

// The daemon's index server child, found by its parent and name.
pid_t index_server_of(pid_t daemon) {
    DIR* proc = ::opendir("/proc");
    pid_t found = 0;
    while (dirent* e = proc ? ::readdir(proc) : nullptr) {
        const pid_t pid = std::atoi(e->d_name);
        if (pid <= 0) continue;
        std::ifstream stat("/proc/" + std::string(e->d_name) + "/stat");
        std::string line;
        std::getline(stat, line);
        // pid (comm) state ppid ...
        const auto close = line.rfind(')');
        if (close == std::string::npos || line.find("(siftvault)") == std::string::npos) continue;
        char state = 0;
        int ppid = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == daemon)
            found = pid;
    }
    if (proc) ::closedir(proc);
    return found;
}

void kill_index_server(pid_t daemon) {
    const pid_t server = index_server_of(daemon);
    ASSERT_GT(server, 0) << "no index server below the daemon";
    ASSERT_EQ(::kill(server, SIGKILL), 0);
}

// Configuration lines: no flush by time during the test, and (when `crawl_now` is false) a
// crawl window that leaves out the present hour, so a restarted daemon crawls no further.
std::string settings(bool crawl_now) {
    std::string lines = "WORKERS=2\nFlushLatency=100000\n";
    if (!crawl_now) {
        const int hour = static_cast<int>((std::time(nullptr) / 3600) % 24);
        lines += "CRAWLSTART=" + std::to_string((hour + 2) % 24) +
                 "\nCRAWLSTOP=" + std::to_string((hour + 3) % 24) + "\n";
    }
    return lines;
}

// Starts the daemon for crawling now; answers its SOAP endpoint.
std::string start_daemon(tn_test::live_daemon& d) {
    d.set_extra_config(settings(true));
    d.start();
    return d.soap_endpoint();
}

int start_chain_crawl(tn_test::live_daemon& d, lumbrake::SoapClientProxy& proxy) {
    make_chain(d.root() / "site");
    return tn_test::start_file_crawl(proxy, "chain",
                                     "file://" + (d.root() / "site" / "p0.html").string());
}

TEST(crawl_recovery, KilledIndexServerLosesNoStoredPage) {
    tn_test::live_daemon d(scratch("server"));
    lumbrake::SoapClientProxy proxy(start_daemon(d));
    const int arc = start_chain_crawl(d, proxy);
    const lumbrake::ArchiveInfo before = wait_for(proxy, arc, 40);
    ASSERT_TRUE(before.Crawling) << "the crawl ended before the index server could be killed";
    kill_index_server(d.pid());
    // The crawl goes on with a new index server, which is rebuilt from the store.
    const lumbrake::ArchiveInfo after = wait_for(proxy, arc, pages);
    EXPECT_EQ(after.Documents, pages);
    // The scheduler's next tick (each second) rebuilds the index; the search waits for it.
    int found = 0;
    for (int i = 0;
         i < 300 && (found = tn_test::word_hits(proxy, arc, common_word)) != after.Documents; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(found, after.Documents);
    EXPECT_NE(d.log_text().find("Index server lost"), std::string::npos);
    EXPECT_EQ(d.stop(), 0);
}

TEST(crawl_recovery, KilledDaemonAndIndexServerLoseNoStoredPage) {
    tn_test::live_daemon d(scratch("both"));
    lumbrake::SoapClientProxy proxy(start_daemon(d));
    const int arc = start_chain_crawl(d, proxy);
    const lumbrake::ArchiveInfo before = wait_for(proxy, arc, 40);
    ASSERT_TRUE(before.Crawling) << "the crawl ended before the kill";
    // The index server first, so that it cannot commit when its connection ends.
    kill_index_server(d.pid());
    d.kill9();

    d.set_extra_config(settings(false));
    d.start();
    lumbrake::SoapClientProxy again(d.soap_endpoint());
    const lumbrake::ArchiveInfo stored = archive_info(again, arc);
    EXPECT_GE(stored.Documents, before.Documents);
    EXPECT_LT(stored.Documents, pages);
    EXPECT_EQ(tn_test::word_hits(again, arc, common_word), stored.Documents);
    EXPECT_NE(d.log_text().find("rebuilding it from the store"), std::string::npos);
    EXPECT_EQ(d.stop(), 0);
}

} // namespace

namespace {

std::uintmax_t size_of(const fs::path& p) {
    std::error_code ec;
    const std::uintmax_t n = fs::file_size(p, ec);
    return ec ? 0 : n;
}

} // namespace

// The crawl's write-ahead log is copied into the database as the crawl goes (not at the
// daemon's stop), so it does not grow with the crawl; and a kill -9 after the crawl loses none
// of its pages.
TEST(crawl_recovery, WriteAheadLogStaysSmallAndKeepsEveryPage) {
    tn_test::live_daemon d(scratch("wal"));
    lumbrake::SoapClientProxy proxy(start_daemon(d));
    const int arc = start_chain_crawl(d, proxy);
    const fs::path db = d.data() / "trawlnest.db", wal = d.data() / "trawlnest.db-wal";
    const std::uintmax_t db_at_start = size_of(db);
    std::uintmax_t largest_wal = 0;
    lumbrake::ArchiveInfo info;
    for (int i = 0; i < 2400; ++i) {
        largest_wal = std::max(largest_wal, size_of(wal));
        info = archive_info(proxy, arc);
        if (!info.Crawling) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_EQ(info.Documents, pages);
    largest_wal = std::max(largest_wal, size_of(wal));
    // The crawl writes about 5,000 log pages (20 MB) in all; a checkpoint every 1,000 keeps the
    // log near that size (frames of 4 KiB pages and their headers), and the database grew.
    EXPECT_LT(largest_wal, 2u * 1000u * (4096u + 24u));
    EXPECT_GT(size_of(db), db_at_start);
    d.kill9();

    d.set_extra_config(settings(false));
    d.start();
    lumbrake::SoapClientProxy again(d.soap_endpoint());
    EXPECT_EQ(archive_info(again, arc).Documents, pages);
    EXPECT_EQ(tn_test::word_hits(again, arc, common_word), pages);
    EXPECT_EQ(d.stop(), 0);
}
