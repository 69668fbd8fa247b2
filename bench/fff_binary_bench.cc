// Binary form throughput of a large document (MB/s of the encoded form).
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>

#include "fff/FFFbuilder.h"

namespace {

// About 1 MB of text: paragraphs of sentences with some title, emphasis and link runs.
std::unique_ptr<FFF::DocumentData> large_document() {
    lumbrake::FFFbuilder b(1000000);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> len(1, 12), letter(0, 25), pick(0, 99);
    std::size_t produced = 0;
    int links = 0;
    while (produced < (1u << 20)) {
        for (int sentence = 0; sentence < 6; ++sentence) {
            for (int w = 0; w < 14; ++w) {
                const int r = pick(rng);
                if (r < 3) {
                    b.close_low();
                    b.link_id = b.document->add_link(
                        "http://example.org/page/" + std::to_string(links++ % 500), b.base_score);
                    b.in_link = true;
                } else if (r < 6) {
                    b.close_low();
                    b.push_dict(FFF::marginalEmphDict);
                }
                const int n = len(rng);
                for (int i = 0; i < n; ++i)
                    b.add_char(static_cast<std::uint32_t>('a' + letter(rng)));
                produced += static_cast<std::size_t>(n) + 1;
                if (r < 3) {
                    b.in_link = false;
                    b.close_low();
                } else if (r < 6) {
                    b.close_low();
                    b.pop_dict();
                }
                b.add_char(w % 5 == 4 ? ',' : ' ');
            }
            b.add_char('.');
            b.add_char(' ');
        }
        b.end_paragraph();
    }
    return std::move(b.document);
}

void BM_FffEncode(benchmark::State& state) {
    const auto doc = large_document();
    std::string out;
    for (auto _ : state) {
        FFF::ToBinary(*doc, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}
BENCHMARK(BM_FffEncode)->Unit(benchmark::kMillisecond);

void BM_FffDecode(benchmark::State& state) {
    const auto doc = large_document();
    std::string blob;
    FFF::ToBinary(*doc, blob);
    for (auto _ : state) {
        FFF::tXMLTree::reader r(blob, FFF::get_kind_table());
        int status = 0;
        std::unique_ptr<FFF::tXMLTree> tree(FFF::FromBinary(r, status));
        if (!tree || status != 2) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(tree.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * blob.size()));
}
BENCHMARK(BM_FffDecode)->Unit(benchmark::kMillisecond);

} // namespace
