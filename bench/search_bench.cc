// One-word search latency on 100,000 generated documents: our search (idxstorage::search over a
// real siftvault, titles only and with summaries) against Xapian queried directly and SQLite
// FTS5, all over the same documents and words and asking for the same ten hits. Every run
// reports the mean (the table's time), p50 and p99 in microseconds; the ratios follow.
//
//   search_bench [--benchmark_min_time=...]    TN_SEARCH_BENCH_DOCS overrides 100000
//
// The documents are made, stored and indexed once per run in a temporary DATADIR.
#include "peer_ratio.h"

#include "fff_fixtures.h"

#include "docstorage/docstorage.h"
#include "idxstorage/idxstorage.h"
#include "logstorage/logstorage.h"
#include "util/sqlite_txn.h"

#include <sqlite3.h>
#include <xapian.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace lumbrake;
using steady = std::chrono::steady_clock;

constexpr int words_per_document = 60;
constexpr int vocabulary_size = 5000;

// Words "a".."zzz": short, distinct, all lower case.
std::string word_of(int i) {
    std::string w;
    do {
        w += static_cast<char>('a' + i % 26);
        i /= 26;
    } while (i > 0);
    return w + "q";
}

// A fast generator: the same documents in every run.
struct xorshift {
    std::uint64_t s = 0x9e3779b97f4a7c15ull;
    std::uint64_t next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
};

struct document {
    std::string guid, title;
    std::vector<std::string> words;
};

// Word ranks skewed towards the front (u cubed), so that the query words below range from a
// few hundred hits to tens of thousands.
std::vector<document> make_documents(int count) {
    std::vector<document> docs(static_cast<std::size_t>(count));
    xorshift rng;
    for (int i = 0; i < count; ++i) {
        document& d = docs[static_cast<std::size_t>(i)];
        d.guid = "g" + std::to_string(i);
        d.title = "document " + std::to_string(i);
        d.words.reserve(words_per_document);
        for (int w = 0; w < words_per_document; ++w) {
            const double u = static_cast<double>(rng.next() % 1000000) / 1000000.0;
            d.words.push_back(word_of(static_cast<int>(u * u * u * vocabulary_size)));
        }
    }
    return docs;
}

// The words searched for, from frequent to rare.
std::vector<std::string> query_words() {
    std::vector<std::string> q;
    for (int rank : {3, 10, 30, 60, 100, 200, 400, 700, 1000, 1500, 2000, 3000, 4000})
        q.push_back(word_of(rank));
    return q;
}

struct fixture {
    fs::path root;
    sqlite3* db = nullptr;
    std::unique_ptr<docstorage> docs;
    std::unique_ptr<logstorage> logs;
    std::unique_ptr<idxstorage> index;
    std::unique_ptr<Xapian::WritableDatabase> xapian;
    sqlite3* fts = nullptr;
    std::vector<std::string> words = query_words();

    fixture() {
        int count = 100000;
        if (const char* n = std::getenv("TN_SEARCH_BENCH_DOCS")) count = std::atoi(n);
        char tmpl[] = "/tmp/search_bench.XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directories(root / "deploy" / "bin");
        fs::create_directories(root / "data");
        fs::create_symlink(TN_SIFTVAULT, root / "deploy" / "bin" / "siftvault");
        std::ofstream(root / "trawlnest.cfg") << "DEPLOYDIR=" << (root / "deploy").string() << "\n";
        std::ofstream(root / "environment")
            << "LUMBRAKE_CONFIG_FILE=" << (root / "trawlnest.cfg").string() << "\n";
        ::setenv("LUMBRAKE_ENV_STORE", (root / "environment").c_str(), 1);
        fs::current_path(root / "data");

        const auto t0 = steady::now();
        const std::vector<document> generated = make_documents(count);
        const auto t1 = steady::now();

        // The daemon's store: WAL, synchronous NORMAL (SyncLevel 1).
        sqlite3_open("trawlnest.db", &db);
        sqlite3_exec(db, "pragma journal_mode=WAL; pragma synchronous=1", nullptr, nullptr,
                     nullptr);
        docs = std::make_unique<docstorage>(db);
        logs = std::make_unique<logstorage>(db);
        index = std::make_unique<idxstorage>();
        xapian = std::make_unique<Xapian::WritableDatabase>((root / "xapian").string(),
                                                            Xapian::DB_CREATE_OR_OVERWRITE);
        sqlite3_open((root / "fts.db").c_str(), &fts);
        sqlite3_exec(fts,
                     "pragma journal_mode=WAL; create virtual table docs using fts5(guid "
                     "unindexed, title, body)",
                     nullptr, nullptr, nullptr);
        {
            storage_transaction txn(db);
            sqlite3_exec(fts, "begin", nullptr, nullptr, nullptr);
            sqlite3_stmt* ins = nullptr;
            sqlite3_prepare_v2(fts, "insert into docs values (?1, ?2, ?3)", -1, &ins, nullptr);
            std::string body;
            for (const document& d : generated) {
                const std::vector<std::string> title{d.title};
                const std::string fff = fff_document(d.words, 10, &title);
                const std::string url = "http://bench/" + d.guid;
                docs->store(db,
                            {.guid = d.guid, .arcid = 1, .url = url, .timestamp = 1000,
                             .fff = fff, .score = 1000000, .mime = "text/html",
                             .charset = "utf-8", .servertime = 1000},
                            {}, 1);
                index->add_document(d.guid, 1, url, "text/html", 1000, 1000, 1000000, {0}, fff);

                Xapian::Document x;
                Xapian::termpos pos = 1;
                for (const std::string& w : d.words)
                    x.add_posting(w, pos++);
                x.add_boolean_term("Q" + d.guid);
                x.set_data(d.guid + "\n" + url + "\n" + d.title);
                xapian->add_document(x);

                body.clear();
                for (const std::string& w : d.words)
                    (body += w) += ' ';
                sqlite3_bind_text(ins, 1, d.guid.c_str(), -1, SQLITE_STATIC);
                sqlite3_bind_text(ins, 2, d.title.c_str(), -1, SQLITE_STATIC);
                sqlite3_bind_text(ins, 3, body.c_str(), -1, SQLITE_STATIC);
                sqlite3_step(ins);
                sqlite3_reset(ins);
            }
            sqlite3_finalize(ins);
            sqlite3_exec(fts, "commit", nullptr, nullptr, nullptr);
        }
        index->flush();
        xapian->commit();
        const auto t2 = steady::now();
        std::fprintf(stderr, "%d documents: generated in %.1f s, stored and indexed in %.1f s\n",
                     count, std::chrono::duration<double>(t1 - t0).count(),
                     std::chrono::duration<double>(t2 - t1).count());
    }
    ~fixture() {
        index.reset();
        xapian.reset();
        sqlite3_close(fts);
        sqlite3_close(db);
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};

fixture& the_fixture() {
    static fixture f;
    return f;
}

// Runs `one` per iteration over the query words; reports p50 and p99 besides the mean.
template <class F> void timed(benchmark::State& state, F one) {
    fixture& f = the_fixture();
    std::vector<double> micros;
    std::size_t i = 0;
    long hits = 0;
    for (auto _ : state) {
        const auto t0 = steady::now();
        hits += one(f, f.words[i++ % f.words.size()]);
        micros.push_back(std::chrono::duration<double, std::micro>(steady::now() - t0).count());
    }
    if (micros.empty()) return;
    std::sort(micros.begin(), micros.end());
    auto at = [&micros](double p) {
        return micros[std::min(micros.size() - 1, static_cast<std::size_t>(p * micros.size()))];
    };
    state.counters["p50_us"] = at(0.50);
    state.counters["p99_us"] = at(0.99);
    state.counters["hits"] = static_cast<double>(hits) / static_cast<double>(micros.size());
}

int ours(fixture& f, const std::string& word, std::int32_t info) {
    search_request r;
    r.archives = {1};
    r.first = 0;
    r.last = 9;
    r.info = info;
    r.query = {QueryAtom{ATOM_WORD, "", word}};
    std::vector<QueryResult> results;
    f.index->search(r, results, f.db, *f.docs);
    return static_cast<int>(results.size());
}

void BM_ours_titles(benchmark::State& state) {
    timed(state, [](fixture& f, const std::string& w) { return ours(f, w, INFO_TITLE); });
}

void BM_ours_summaries(benchmark::State& state) {
    timed(state, [](fixture& f, const std::string& w) { return ours(f, w, INFO_CONTEXT); });
}

// Titles from 1 and from 16 threads at once: items_per_second is the throughput of all threads
// together, so the two rates' ratio is how well searches run side by side (the index client's
// search connections and the index server's readers, without the HTTP front end).
void BM_ours_titles_side_by_side(benchmark::State& state) {
    timed(state, [](fixture& f, const std::string& w) { return ours(f, w, INFO_TITLE); });
    state.SetItemsProcessed(state.iterations());
}

// A search and the query-log row that the API writes after it, in its own transaction.
void BM_ours_titles_and_log_row(benchmark::State& state) {
    timed(state, [](fixture& f, const std::string& w) {
        const int n = ours(f, w, INFO_TITLE);
        storage_transaction txn(f.db);
        f.logs->log_query(f.db, 1, w, 1700000000);
        return n;
    });
}

void BM_xapian(benchmark::State& state) {
    timed(state, [](fixture& f, const std::string& w) {
        Xapian::Enquire enquire(*f.xapian);
        enquire.set_query(Xapian::Query(w));
        Xapian::MSet m = enquire.get_mset(0, 10);
        int n = 0;
        for (auto it = m.begin(); it != m.end(); ++it)
            n += !it.get_document().get_data().empty();
        return n;
    });
}

void BM_fts5(benchmark::State& state) {
    timed(state, [](fixture& f, const std::string& w) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(f.fts,
                           "select guid, title from docs where docs match ?1 order by rank "
                           "limit 10",
                           -1, &st, nullptr);
        sqlite3_bind_text(st, 1, w.c_str(), -1, SQLITE_STATIC);
        int n = 0;
        while (sqlite3_step(st) == SQLITE_ROW)
            n += sqlite3_column_bytes(st, 1) > 0;
        sqlite3_finalize(st);
        return n;
    });
}

BENCHMARK(BM_ours_titles)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ours_summaries)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ours_titles_side_by_side)
    ->Threads(1)
    ->Threads(16)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ours_titles_and_log_row)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_xapian)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_fts5)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return tn_bench::run_with_ratios(argc, argv,
                                     {{"BM_ours_titles/real_time", "BM_xapian/real_time"},
                                      {"BM_ours_titles/real_time", "BM_fts5/real_time"},
                                      {"BM_ours_summaries/real_time", "BM_xapian/real_time"},
                                      {"BM_ours_summaries/real_time", "BM_fts5/real_time"}});
}
