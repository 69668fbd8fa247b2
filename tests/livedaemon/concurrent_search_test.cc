// Searches side by side on the real daemon: many clients search while another adds documents;
// every call succeeds within a bounded time, with consistent answers (counts never go back for
// one client, every hit has its summary), and nothing deadlocks.
#include "../support/live_daemon.h"

#include "client/soap-client-proxy.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A client whose every call ends within 30 seconds: a deadlocked daemon fails the test.
struct client {
    explicit client(const tn_test::live_daemon& d) : proxy(d.soap_endpoint()) {
        proxy.SetConnectTimeout(10);
        proxy.SetTimeout(30);
    }
    lumbrake::SoapClientProxy proxy;
};

lumbrake::QuerySpec word_query(int arcid, const std::string& word, lumbrake::QueryInfo info) {
    lumbrake::QuerySpec q;
    q.Archives = {arcid};
    q.Info = info;
    q.LastDoc = 99;
    q.Query = {lumbrake::QueryAtom{}};
    q.Query[0].Param = word;
    return q;
}

std::string page(int i, const std::string& extra) {
    return "<html><head><title>page " + std::to_string(i) + "</title></head><body><p>quartz " +
           extra + " number" + std::to_string(i) + "</p></body></html>\n";
}

void add_pages(lumbrake::SoapClientProxy& proxy, int arcid, int from, int to,
               const std::string& extra) {
    for (int i = from; i < to; ++i) {
        std::string docid;
        proxy.AddDocument(arcid, "http://example.invalid/" + extra + std::to_string(i) + ".html",
                          "text/html", page(i, extra), docid);
    }
}

int count_of(lumbrake::SoapClientProxy& proxy, int arcid, const std::string& word) {
    std::vector<lumbrake::QueryResult> results;
    int total = 0;
    proxy.Query(word_query(arcid, word, lumbrake::INFO_URL), results, total);
    return total;
}

// Polls (bounded) until the word has `want` hits; answers the last count.
int wait_for_hits(lumbrake::SoapClientProxy& proxy, int arcid, const std::string& word, int want) {
    int n = -1;
    for (int i = 0; i < 600 && n != want; ++i) {
        n = count_of(proxy, arcid, word);
        if (n != want) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return n;
}

TEST(concurrent_search, ManySearchesBesideAWriterAllSucceedConsistently) {
    const char* tmp = std::getenv("TEST_TMPDIR");
    const fs::path root = fs::path(tmp ? tmp : "/tmp/") / "concurrent.searches";
    fs::remove_all(root);
    tn_test::live_daemon d(root);
    d.set_extra_config("WORKERS=2\nHTTP_THREADS=8\n");
    d.start();
    client admin(d);
    lumbrake::SourceConfiguration src;
    src.Name = "pages";
    src.CheckRobotsTxt = false;
    lumbrake::SourceInfo sinfo;
    admin.proxy.AddSource(src, sinfo);
    lumbrake::ArchiveConfiguration arc;
    arc.Name = "pages";
    arc.Source = sinfo.Source;
    lumbrake::ArchiveInfo ainfo;
    admin.proxy.AddArchive(arc, ainfo);
    const int arcid = ainfo.Archive;

    constexpr int base = 20, added = 20;
    add_pages(admin.proxy, arcid, 0, base, "base");
    ASSERT_EQ(wait_for_hits(admin.proxy, arcid, "quartz", base), base);

    std::atomic<bool> writing{true};
    std::mutex failures_mutex;
    std::vector<std::string> failures;
    auto fail = [&](const std::string& what) {
        std::lock_guard<std::mutex> lock(failures_mutex);
        failures.push_back(what);
    };

    std::thread writer([&] {
        try {
            client w(d);
            add_pages(w.proxy, arcid, 0, added, "fresh");
        } catch (const std::exception& e) {
            fail(std::string("writer: ") + e.what());
        }
        writing = false;
    });

    constexpr int searchers = 12;
    std::atomic<int> searches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < searchers; ++t) {
        threads.emplace_back([&, t] {
            try {
                client c(d);
                int last_total = 0;
                // At least a few rounds, and on while the writer adds.
                for (int round = 0; round < 8 || (writing && round < 400); ++round) {
                    const bool summaries = (round + t) % 2 == 0;
                    std::vector<lumbrake::QueryResult> results;
                    int total = -1;
                    c.proxy.Query(word_query(arcid, "quartz",
                                             summaries ? lumbrake::INFO_CONTEXT
                                                       : lumbrake::INFO_TITLE),
                                  results, total);
                    ++searches;
                    if (total < last_total || total < base || total > base + added)
                        fail("total " + std::to_string(total) + " after " +
                             std::to_string(last_total));
                    last_total = total;
                    if (static_cast<int>(results.size()) != total)
                        fail("window of " + std::to_string(results.size()) + " for " +
                             std::to_string(total));
                    std::set<std::string> ids;
                    for (const lumbrake::QueryResult& hit : results) {
                        if (hit.ID.empty() || !ids.insert(hit.ID).second)
                            fail("hit id '" + hit.ID + "' empty or repeated");
                        if (hit.Title.rfind("page ", 0) != 0) fail("title '" + hit.Title + "'");
                        // The stored version of every hit is read: none is missing its summary.
                        if (summaries && hit.Contexts.empty())
                            fail("no summary for " + hit.Url);
                    }
                    // Reads of the configuration run beside the searches as well.
                    if (round % 4 == 0) {
                        std::vector<lumbrake::ArchiveInfo> all;
                        c.proxy.EnumArchiveConfigurations(all);
                        if (all.size() != 1) fail("archives: " + std::to_string(all.size()));
                    }
                }
            } catch (const std::exception& e) {
                fail(std::string("searcher: ") + e.what());
            }
        });
    }
    writer.join();
    for (std::thread& t : threads)
        t.join();
    for (const std::string& f : failures)
        ADD_FAILURE() << f;
    EXPECT_GE(searches.load(), searchers * 8);

    // Everything the writer added is found once the workers are through, and each search
    // wrote its query log row.
    EXPECT_EQ(wait_for_hits(admin.proxy, arcid, "quartz", base + added), base + added);
    EXPECT_EQ(count_of(admin.proxy, arcid, "fresh"), added);
    std::vector<lumbrake::QueryLogData> log;
    admin.proxy.GetQueryLog(arcid, 0, 2147483647, log);
    EXPECT_GE(static_cast<int>(log.size()), searches.load());
}

} // namespace
