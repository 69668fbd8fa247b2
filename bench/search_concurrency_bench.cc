// Searches side by side on the real daemon (127.0.0.1): loads a few thousand generated
// documents through AddDocument, then runs one-word SOAP searches from one client and from
// many concurrent clients for a fixed time each, and prints both throughputs and their ratio.
//
//   search_concurrency_bench [--docs N] [--seconds S] [--clients C] [--info I] [--dir PATH]
//
// Defaults: 3000 documents, 5 seconds per run, 16 clients, information level 2 (titles).
#include "live_daemon.h"

#include "client/soap-client-proxy.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

// Words every document draws from: a one-word search hits a few hundred documents.
const char* const vocabulary[] = {"amber",  "basalt", "cobalt", "dune",   "ember", "fjord",
                                  "garnet", "harbor", "indigo", "jasper", "kelp",  "lagoon",
                                  "marble", "nickel", "onyx",   "pumice", "quartz", "reef",
                                  "slate",  "tundra"};
constexpr int vocabulary_size = sizeof vocabulary / sizeof vocabulary[0];

std::string document(int i, std::mt19937& rng) {
    std::string body;
    for (int w = 0; w < 120; ++w) {
        body += vocabulary[rng() % vocabulary_size];
        body += w % 12 == 11 ? ".\n" : " ";
    }
    return "<html><head><title>Document " + std::to_string(i) + "</title></head><body><p>" +
           body + "</p></body></html>\n";
}

int hits(lumbrake::SoapClientProxy& proxy, int arcid, const char* word, int info) {
    lumbrake::QuerySpec q;
    q.Archives = {arcid};
    q.Info = info;
    q.Query = {lumbrake::QueryAtom{}};
    q.Query[0].Param = word;
    std::vector<lumbrake::QueryResult> results;
    int total = 0;
    proxy.Query(q, results, total);
    return total;
}

// Searches per second of `clients` threads, each searching one word after the other.
double run(const tn_test::live_daemon& d, int arcid, int clients, int seconds, int info) {
    std::atomic<long> done{0};
    std::atomic<bool> failed{false};
    const auto end = clock_type::now() + std::chrono::seconds(seconds);
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            lumbrake::SoapClientProxy proxy(d.soap_endpoint());
            proxy.SetTimeout(60);
            for (int i = c; clock_type::now() < end; ++i) {
                try {
                    hits(proxy, arcid, vocabulary[i % vocabulary_size], info);
                    ++done;
                } catch (const std::exception& e) {
                    if (!failed.exchange(true)) std::fprintf(stderr, "search failed: %s\n", e.what());
                }
            }
        });
    }
    const auto start = clock_type::now();
    for (std::thread& t : threads)
        t.join();
    const double elapsed = std::chrono::duration<double>(clock_type::now() - start).count();
    return static_cast<double>(done.load()) / elapsed;
}

} // namespace

int main(int argc, char** argv) {
    int docs = 3000, seconds = 5, clients = 16, info = lumbrake::INFO_TITLE;
    fs::path dir = fs::temp_directory_path() / ("search-concurrency-" + std::to_string(::getpid()));
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--docs"))
            docs = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--clients"))
            clients = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--info"))
            info = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--dir"))
            dir = argv[i + 1];
    }
    fs::remove_all(dir);
    try {
        tn_test::live_daemon d(dir);
        d.set_extra_config("WORKERS=8\nLOGCFG=LOG:WARNING\n");
        d.start();
        lumbrake::SoapClientProxy admin(d.soap_endpoint());
        lumbrake::SourceConfiguration src;
        src.Name = "bench";
        src.CheckRobotsTxt = false;
        lumbrake::SourceInfo sinfo;
        admin.AddSource(src, sinfo);
        lumbrake::ArchiveConfiguration arc;
        arc.Name = "bench";
        arc.Source = sinfo.Source;
        lumbrake::ArchiveInfo ainfo;
        admin.AddArchive(arc, ainfo);
        const int arcid = ainfo.Archive;

        std::printf("loading %d documents...\n", docs);
        std::fflush(stdout);
        std::mt19937 rng(42);
        const auto load_start = clock_type::now();
        for (int i = 0; i < docs; ++i) {
            std::string docid;
            admin.AddDocument(arcid, "http://bench.invalid/doc" + std::to_string(i) + ".html",
                              "text/html", document(i, rng), docid);
        }
        // Every document holds the word "Document" in its title: wait until all are indexed.
        for (int n = 0; n < docs; std::this_thread::sleep_for(std::chrono::milliseconds(200))) {
            n = hits(admin, arcid, "document", lumbrake::INFO_NONE);
            if (clock_type::now() - load_start > std::chrono::minutes(20)) {
                std::fprintf(stderr, "only %d of %d documents indexed\n", n, docs);
                return 1;
            }
        }
        std::printf("loaded in %.1f s\n",
                    std::chrono::duration<double>(clock_type::now() - load_start).count());
        std::fflush(stdout);

        run(d, arcid, clients, 1, info); // warm-up: caches, connections
        const double one = run(d, arcid, 1, seconds, info);
        const double many = run(d, arcid, clients, seconds, info);
        std::printf("one-word searches, %d documents, information level %d, %u cores\n", docs,
                    info, std::thread::hardware_concurrency());
        std::printf("  1 client:   %8.1f searches/s\n", one);
        std::printf("  %d clients: %8.1f searches/s\n", clients, many);
        std::printf("  ratio:      %8.2f (goal: at least 4 with 16 clients on 8 cores)\n",
                    one > 0 ? many / one : 0.0);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    fs::remove_all(dir);
    return 0;
}
