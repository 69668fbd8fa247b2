// The real daemon against the faults of its surroundings: a dead index server, a killed
// daemon, a damaged database, a full data volume.
#include "../support/crawl_archive.h"
#include "../support/live_daemon.h"
#include "../support/small_volume.h"

#include "client/soap-client-proxy.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
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
    const int arcid =
        tn_test::start_file_crawl(proxy, "site", "file://" + (dir / "page.html").string());
    for (int i = 0; i < 300; ++i) {
        std::vector<lumbrake::ArchiveInfo> all;
        proxy.EnumArchiveConfigurations(all);
        if (!all.empty() && !all[0].Crawling) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return arcid;
}

TEST(daemon_faults, IndexIsBroughtBackInStepAfterAKilledDaemon) {
    tn_test::live_daemon d(scratch("killed"));
    d.set_extra_config("WORKERS=1\n");
    d.start();
    lumbrake::SoapClientProxy proxy(d.soap_endpoint());
    const int arc = crawl_site(proxy, d.root() / "site", "zebrafish");
    EXPECT_EQ(tn_test::word_hits(proxy, arc, "zebrafish"), 1);
    // Killed before a clean end; the index lost what was not flushed (here: all of it).
    d.kill9();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    fs::remove_all(d.data() / "index");
    d.start();
    lumbrake::SoapClientProxy again(d.soap_endpoint());
    EXPECT_EQ(tn_test::word_hits(again, arc, "zebrafish"), 1);
    EXPECT_NE(d.log_text().find("rebuilding it from the store"), std::string::npos);
}

using tn_test::small_volume;

TEST(daemon_faults, FullDataVolumeFailsRequestsButNotTheDaemon) {
    const fs::path root = scratch("full");
    tn_test::live_daemon d(root);
    small_volume volume(d.data(), "size=6m");
    if (!volume.mounted()) GTEST_SKIP() << "a tmpfs for DATADIR cannot be mounted here (needs root)";
    d.set_extra_config("WORKERS=1\nMINFREEDISK=0\n");
    d.start();
    lumbrake::SoapClientProxy proxy(d.soap_endpoint());
    const int arc = crawl_site(proxy, root / "site", "zebrafish");
    ASSERT_EQ(tn_test::word_hits(proxy, arc, "zebrafish"), 1);

    volume.fill();
    // Searches go on (their query-log row cannot be written); writes fail as requests.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(tn_test::word_hits(proxy, arc, "zebrafish"), 1);
    bool refused = false;
    for (int i = 0; i < 50 && !refused; ++i) {
        lumbrake::SourceConfiguration src;
        src.Name = std::string(2000, 'n') + std::to_string(i);
        src.Seeds = {"file://" + (root / "site" / "page.html").string()};
        lumbrake::SourceInfo info;
        try {
            proxy.AddSource(src, info);
        } catch (const EasySoap::SOAPException& e) {
            refused = true;
            EXPECT_NE(std::string(e.what()).find("SQLite error"), std::string::npos) << e.what();
        }
    }
    EXPECT_TRUE(refused);
    lumbrake::ArchiveInfo info;
    try {
        proxy.StartCrawl(arc, info);
    } catch (const EasySoap::SOAPException&) {
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    ASSERT_EQ(::kill(d.pid(), 0), 0) << d.stderr_text();
    EXPECT_EQ(tn_test::word_hits(proxy, arc, "zebrafish"), 1);

    // Room again: writes and crawls work.
    volume.make_room();
    lumbrake::SourceInfo later;
    lumbrake::SourceConfiguration src;
    src.Name = "after";
    proxy.AddSource(src, later);
    EXPECT_GT(later.Source, 0);
    EXPECT_EQ(d.stop(), 0);
}

TEST(daemon_faults, DamagedDatabaseIsRefusedAtStartWithTheWayOut) {
    tn_test::live_daemon d(scratch("damaged"));
    d.start();
    lumbrake::SoapClientProxy proxy(d.soap_endpoint());
    crawl_site(proxy, d.root() / "site", "zebrafish");
    ASSERT_EQ(d.stop(), 0);
    // Garbage over the second page (the root of the first table).
    {
        std::fstream f(d.data() / "trawlnest.db", std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(4096);
        const std::string junk(4096, '\x5a');
        f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
    try {
        d.start(std::chrono::seconds(20));
        FAIL() << "started on a damaged database";
    } catch (const std::runtime_error& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find((d.data() / "trawlnest.db").string() + " is damaged"),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("/restore"), std::string::npos) << text;
    }
}

} // namespace
