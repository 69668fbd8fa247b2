// The real daemon against the faults of its surroundings: a dead index server, a killed
// daemon, a damaged database, a full data volume.
#include "../support/live_daemon.h"

#include "client/soap-client-proxy.h"

#include <gtest/gtest.h>

#include <sys/mount.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

namespace fs = std::filesystem;

fs::path scratch(const char* name) {
    const char* tmp = std::getenv("TEST_TMPDIR");
    auto p = fs::path(tmp ? tmp : "/tmp/") / (std::string("faults.") + name);
    fs::remove_all(p);
    return p;
}

// A one-page site crawled by one archive; answers the archive id.
int crawl_site(lumbrake::SoapClientProxy& proxy, const fs::path& dir, const std::string& word) {
    fs::create_directories(dir);
    tn_test::live_daemon::write(dir / "page.html", "<html><head><title>page</title></head><body><p>" +
                                                       word + " text</p></body></html>\n");
    lumbrake::SourceConfiguration src;
    src.Name = "site";
    src.Seeds = {"file://" + (dir / "page.html").string()};
    src.IncludeFilters = {"^file://"};
    src.CheckRobotsTxt = false;
    lumbrake::SourceInfo sinfo;
    proxy.AddSource(src, sinfo);
    lumbrake::ArchiveConfiguration arc;
    arc.Name = "site";
    arc.Source = sinfo.Source;
    lumbrake::ArchiveInfo ainfo;
    proxy.AddArchive(arc, ainfo);
    proxy.StartCrawl(ainfo.Archive, ainfo);
    for (int i = 0; i < 300; ++i) {
        std::vector<lumbrake::ArchiveInfo> all;
        proxy.EnumArchiveConfigurations(all);
        if (!all.empty() && !all[0].Crawling) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return ainfo.Archive;
}

int hits(lumbrake::SoapClientProxy& proxy, int arcid, const std::string& word) {
    lumbrake::QuerySpec q;
    q.Archives = {arcid};
    q.Info = lumbrake::INFO_URL;
    q.Query = {lumbrake::QueryAtom{}};
    q.Query[0].Type = lumbrake::ATOM_WORD;
    q.Query[0].Param = word;
    std::vector<lumbrake::QueryResult> results;
    int count = 0;
    proxy.Query(q, results, count);
    return count;
}

TEST(daemon_faults, IndexIsBroughtBackInStepAfterAKilledDaemon) {
    tn_test::live_daemon d(scratch("killed"));
    d.set_extra_config("WORKERS=1\n");
    d.start();
    lumbrake::SoapClientProxy proxy(d.soap_endpoint());
    const int arc = crawl_site(proxy, d.root() / "site", "zebrafish");
    EXPECT_EQ(hits(proxy, arc, "zebrafish"), 1);
    // Killed before a clean end; the index lost what was not flushed (here: all of it).
    d.kill9();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    fs::remove_all(d.data() / "index");
    d.start();
    lumbrake::SoapClientProxy again(d.soap_endpoint());
    EXPECT_EQ(hits(again, arc, "zebrafish"), 1);
    EXPECT_NE(d.log_text().find("rebuilding it from the store"), std::string::npos);
}

} // namespace
