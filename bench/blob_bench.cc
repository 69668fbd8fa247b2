// Stored-blob compression: our deflate state kept per thread against zlib's compress(), which
// sets one up and frees it for every blob, on page-sized texts, with 1 and 8 threads side by
// side (the crawl's process threads store in parallel).
#include "util/zblob.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>
#include <string>

namespace {

// A page-like text: words from a small vocabulary with markup between them.
std::string page(std::size_t size) {
    static const char* words[] = {"the", "crawl", "index", "document", "archive", "<p>", "</p>",
                                  "search", "server", "<a href=\"/x\">", "</a>", "of", "and"};
    std::mt19937 rng(42);
    std::string s;
    while (s.size() < size) {
        s += words[rng() % (sizeof words / sizeof *words)];
        s += ' ';
    }
    return s;
}

void BM_compress_blob(benchmark::State& state) {
    const std::string text = page(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(lumbrake::compress_blob(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_zlib_compress(benchmark::State& state) {
    const std::string text = page(static_cast<std::size_t>(state.range(0)));
    std::string out(compressBound(text.size()), '\0');
    for (auto _ : state) {
        uLongf size = out.size();
        compress(reinterpret_cast<Bytef*>(out.data()), &size,
                 reinterpret_cast<const Bytef*>(text.data()), text.size());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

} // namespace

BENCHMARK(BM_compress_blob)->Arg(2 << 10)->Arg(16 << 10)->Arg(256 << 10)->Threads(1)->Threads(8);
BENCHMARK(BM_zlib_compress)->Arg(2 << 10)->Arg(16 << 10)->Arg(256 << 10)->Threads(1)->Threads(8);
