// HTML to FFF throughput: real documentation pages, one large page at growing sizes (the
// time should grow linearly), and deeply nested pages.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "util/config.h"
#include "parsers/parser.h"

namespace {

const lumbrake::config& cfg() {
    static lumbrake::config c("/dev/null");
    return c;
}

// All pages of the Debian reference (a few MB), or a generated stand-in when it is missing.
const std::string& real_html() {
    static const std::string text = [] {
        std::string all;
        const std::filesystem::path dir = "/usr/share/debian-reference";
        if (std::filesystem::exists(dir))
            for (const auto& e : std::filesystem::directory_iterator(dir))
                if (e.path().extension() == ".html") {
                    std::ifstream in(e.path(), std::ios::binary);
                    std::ostringstream os;
                    os << in.rdbuf();
                    all += os.str();
                }
        if (all.empty())
            for (int i = 0; i < 20000; ++i)
                all += "<p>Some <b>text</b> with a <a href=\"/p" + std::to_string(i) +
                       ".html\">link</a> &amp; an entity.</p>\n";
        return all;
    }();
    return text;
}

void parse(benchmark::State& state, const std::string& page) {
    lumbrake::parser p(cfg());
    for (auto _ : state) {
        lumbrake::parse_result r;
        p.parse_document(nullptr, 1000000, "http://docs.example/ref/page.html", page, "text/html",
                         "utf-8", "", r);
        benchmark::DoNotOptimize(r.document);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(page.size()));
}

void BM_RealPages(benchmark::State& state) {
    parse(state, real_html());
}
BENCHMARK(BM_RealPages)->Unit(benchmark::kMillisecond);

// One page of state.range(0) MiB made of real page bodies.
void BM_LargePage(benchmark::State& state) {
    const std::size_t size = std::size_t(state.range(0)) << 20;
    std::string page = "<html><body>";
    while (page.size() < size)
        page += real_html().substr(0, size - page.size());
    parse(state, page);
}
BENCHMARK(BM_LargePage)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);

// state.range(0) nested elements of mixed kinds, far deeper than the cleaner keeps.
void BM_DeepNesting(benchmark::State& state) {
    std::string page;
    for (std::int64_t i = 0; i < state.range(0); ++i)
        page += "<frameset><div><b><i><a href=x><em><span><table><td>w";
    parse(state, page);
}
BENCHMARK(BM_DeepNesting)->Arg(10000)->Arg(40000)->Arg(160000)->Unit(benchmark::kMillisecond);

} // namespace
