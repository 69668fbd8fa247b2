// Word 97 to FFF beside antiword (Debian package antiword) on the same files, in one run.
//
// The files are written by LibreOffice (bench/make_word_corpus.sh, run on the first start into
// the folder of TN_WORD_CORPUS, default "word-corpus" beside this program): the Debian reference
// chapters and the licence texts, 32 files from 10 KB to 900 KB. Only files antiword reads are
// used, so both sides do the same work. scripts/install-deps.sh --bench installs antiword and
// LibreOffice.
//
//   BM_WordParse            every file through the parser dispatch, as the worker calls it
//                           (the reader in its child process: our own Word 97 reader, libwv
//                           for what it declines)
//   BM_WordOwnReaderInProcess  the same files read by our own reader in this process, with no
//                           child: the cost of the reading alone
//   BM_WordLibraryInProcess the same files read by libwv in this process (the reader before
//                           ours, and the fallback; run last of ours: it sets the child's heap
//                           settings for this process)
//   BM_AntiwordPerFile      one antiword process per file (how a worker would run a converter)
//   BM_AntiwordOneRun       one antiword process for all the files
// After the table the ratios are printed: antiword's time over ours for the same files.
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fff/FFFbuilder.h"
#include "parsers/parser.h"
#include "peer_ratio.h"
#include "util/config.h"
#include "wvadapter/wv-reader.h"

namespace {

struct sample {
    std::string path;
    std::string bytes;
};

std::string corpus_dir() {
    if (const char* d = std::getenv("TN_WORD_CORPUS")) return d;
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "word-corpus";
    self[n] = 0;
    return (std::filesystem::path(self).parent_path() / "word-corpus").string();
}

const std::vector<sample>& samples() {
    static const std::vector<sample> all = [] {
        std::vector<sample> out;
        const std::string dir = corpus_dir();
        if (!std::filesystem::exists(dir))
            tn_bench::run_quiet({"bash", TN_SOURCE_DIR "/bench/make_word_corpus.sh", dir});
        std::vector<std::string> paths;
        if (std::filesystem::exists(dir))
            for (const auto& e : std::filesystem::directory_iterator(dir))
                if (e.path().extension() == ".doc") paths.push_back(e.path().string());
        std::sort(paths.begin(), paths.end());
        for (const std::string& p : paths)
            if (tn_bench::run_quiet({"antiword", p})) out.push_back({p, tn_bench::read_file(p)});
        return out;
    }();
    return all;
}

void set_counters(benchmark::State& state) {
    std::int64_t bytes = 0;
    for (const sample& s : samples())
        bytes += static_cast<std::int64_t>(s.bytes.size());
    state.SetBytesProcessed(bytes * state.iterations());
    state.counters["files/s"] =
        benchmark::Counter(static_cast<double>(samples().size() * state.iterations()),
                           benchmark::Counter::kIsRate);
}

bool no_samples(benchmark::State& state) {
    if (!samples().empty()) return false;
    state.SkipWithError("no Word files (needs soffice and antiword)");
    return true;
}

void BM_WordParse(benchmark::State& state) {
    if (no_samples(state)) return;
    static lumbrake::config cfg("/dev/null");
    lumbrake::parser p(cfg);
    for (auto _ : state)
        for (const sample& s : samples()) {
            lumbrake::parse_result r;
            p.parse_document(nullptr, 1000000, "file:///bench.doc", s.bytes, "application/msword",
                             "", "", r);
            if (r.status != lumbrake::PARSE_OK) state.SkipWithError(s.path.c_str());
            benchmark::DoNotOptimize(r.document);
        }
    set_counters(state);
}
BENCHMARK(BM_WordParse)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WordOwnReaderInProcess(benchmark::State& state) {
    if (no_samples(state)) return;
    for (auto _ : state)
        for (const sample& s : samples()) {
            std::string events;
            if (!lumbrake::wvadapter::read_document_events(
                    reinterpret_cast<const unsigned char*>(s.bytes.data()), s.bytes.size(), -1,
                    events, lumbrake::wvadapter::reader_choice::fast))
                state.SkipWithError(("declined: " + s.path).c_str());
            benchmark::DoNotOptimize(events);
        }
    set_counters(state);
}
BENCHMARK(BM_WordOwnReaderInProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WordLibraryInProcess(benchmark::State& state) {
    if (no_samples(state)) return;
    // The heap settings of the reader child, so that its large blocks cost here what they cost
    // there (no mapping and zeroing of fresh pages per document).
    ::mallopt(M_MMAP_THRESHOLD, 64 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 128 << 20);
    for (auto _ : state)
        for (const sample& s : samples()) {
            std::string events;
            lumbrake::wvadapter::read_document_events(
                reinterpret_cast<const unsigned char*>(s.bytes.data()), s.bytes.size(), -1,
                events, lumbrake::wvadapter::reader_choice::library);
            benchmark::DoNotOptimize(events);
        }
    set_counters(state);
}
BENCHMARK(BM_WordLibraryInProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AntiwordPerFile(benchmark::State& state) {
    if (no_samples(state)) return;
    for (auto _ : state)
        for (const sample& s : samples())
            tn_bench::run_quiet({"antiword", s.path});
    set_counters(state);
}
BENCHMARK(BM_AntiwordPerFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AntiwordOneRun(benchmark::State& state) {
    if (no_samples(state)) return;
    std::vector<std::string> argv{"antiword"};
    for (const sample& s : samples())
        argv.push_back(s.path);
    for (auto _ : state)
        tn_bench::run_quiet(argv);
    set_counters(state);
}
BENCHMARK(BM_AntiwordOneRun)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return tn_bench::run_with_ratios(
        argc, argv,
        {{"BM_WordParse/real_time", "BM_AntiwordPerFile/real_time"},
         {"BM_WordParse/real_time", "BM_AntiwordOneRun/real_time"},
         {"BM_WordOwnReaderInProcess/real_time", "BM_AntiwordOneRun/real_time"},
         {"BM_WordLibraryInProcess/real_time", "BM_AntiwordOneRun/real_time"}});
}
