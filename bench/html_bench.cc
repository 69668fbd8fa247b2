// HTML to FFF throughput: real documentation pages, one large page at growing sizes (the
// time should grow linearly), and deeply nested pages; beside lynx -dump (Debian package lynx)
// on the same pages, in the same run:
//
//   BM_PagesOneByOne     every page of the Debian reference through the parser dispatch, one
//                        parse per page, as the worker calls it
//   BM_LynxPerPage       one lynx -dump process per page
//   BM_DocmillPerPage    one docmill process per page (its program start-up included)
//   BM_RealPages         all pages as one document; BM_LynxAllPages: the same document, one
//                        lynx -dump (its start-up spread over the whole text)
// After the table the ratios are printed: the peer's time over ours for the same pages.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "parsers/parser.h"
#include "peer_ratio.h"
#include "util/config.h"

namespace {

const lumbrake::config& cfg() {
    static lumbrake::config c("/dev/null");
    return c;
}

struct page {
    std::string path;
    std::string text;
};

// The pages of the Debian reference, sorted by name.
const std::vector<page>& real_pages() {
    static const std::vector<page> pages = [] {
        std::vector<page> out;
        const std::filesystem::path dir = "/usr/share/debian-reference";
        if (std::filesystem::exists(dir))
            for (const auto& e : std::filesystem::directory_iterator(dir))
                if (e.path().extension() == ".html")
                    out.push_back({e.path().string(), tn_bench::read_file(e.path().string())});
        std::sort(out.begin(), out.end(),
                  [](const page& a, const page& b) { return a.path < b.path; });
        return out;
    }();
    return pages;
}

// All pages of the Debian reference (a few MB), or a generated stand-in when it is missing.
const std::string& real_html() {
    static const std::string text = [] {
        std::string all;
        for (const page& p : real_pages())
            all += p.text;
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
BENCHMARK(BM_RealPages)->Unit(benchmark::kMillisecond)->UseRealTime();

std::int64_t page_bytes() {
    std::int64_t n = 0;
    for (const page& p : real_pages())
        n += static_cast<std::int64_t>(p.text.size());
    return n;
}

bool no_pages(benchmark::State& state, const char* program) {
    if (real_pages().empty()) {
        state.SkipWithError("no /usr/share/debian-reference (package debian-reference-en)");
        return true;
    }
    if (program && !tn_bench::on_path(program)) {
        state.SkipWithError((std::string(program) + " not found").c_str());
        return true;
    }
    return false;
}

void BM_PagesOneByOne(benchmark::State& state) {
    if (no_pages(state, nullptr)) return;
    lumbrake::parser p(cfg());
    for (auto _ : state)
        for (const page& pg : real_pages()) {
            lumbrake::parse_result r;
            p.parse_document(nullptr, 1000000, "file://" + pg.path, pg.text, "text/html", "utf-8",
                             "", r);
            benchmark::DoNotOptimize(r.document);
        }
    state.SetBytesProcessed(state.iterations() * page_bytes());
}
BENCHMARK(BM_PagesOneByOne)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LynxPerPage(benchmark::State& state) {
    if (no_pages(state, "lynx")) return;
    for (auto _ : state)
        for (const page& pg : real_pages())
            tn_bench::run_quiet({"lynx", "-dump", "-force_html", pg.path});
    state.SetBytesProcessed(state.iterations() * page_bytes());
}
BENCHMARK(BM_LynxPerPage)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LynxAllPages(benchmark::State& state) {
    if (no_pages(state, "lynx")) return;
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = std::string(tmp ? tmp : "/tmp") + "/html_bench_" +
                             std::to_string(getpid()) + "_all.html";
    std::ofstream(path, std::ios::binary) << real_html();
    for (auto _ : state)
        tn_bench::run_quiet({"lynx", "-dump", "-force_html", path});
    std::filesystem::remove(path);
    state.SetBytesProcessed(state.iterations() * std::int64_t(real_html().size()));
}
BENCHMARK(BM_LynxAllPages)->Unit(benchmark::kMillisecond)->UseRealTime();

// docmill needs a configuration file (LOGCFG, DEPLOYDIR with a plug-in folder) named by an
// environment store: a scratch one for the run.
void BM_DocmillPerPage(benchmark::State& state) {
    if (no_pages(state, nullptr)) return;
    if (!std::filesystem::exists(TN_DOCMILL)) {
        state.SkipWithError("docmill not built");
        return;
    }
    const char* tmp = std::getenv("TMPDIR");
    const std::filesystem::path dir = std::string(tmp ? tmp : "/tmp") + "/html_bench_" +
                                      std::to_string(getpid()) + "_docmill";
    std::filesystem::create_directories(dir / "deploy" / "plugins");
    std::ofstream(dir / "docmill.conf")
        << "LOGCFG=WORKER:WARNING\nDEPLOYDIR=" << (dir / "deploy").string() << "\n";
    std::ofstream(dir / "environment")
        << "LUMBRAKE_CONFIG_FILE=" << (dir / "docmill.conf").string() << "\n";
    ::setenv("LUMBRAKE_ENV_STORE", (dir / "environment").c_str(), 1);
    const std::string fff = (dir / "out.fff").string();
    for (auto _ : state)
        for (const page& pg : real_pages())
            if (!tn_bench::run_quiet({TN_DOCMILL, "--fff-file=" + fff, pg.path, "0", "1",
                                      "file://" + pg.path, "text/html", "utf-8"}))
                state.SkipWithError(("docmill failed on " + pg.path).c_str());
    ::unsetenv("LUMBRAKE_ENV_STORE");
    std::filesystem::remove_all(dir);
    state.SetBytesProcessed(state.iterations() * page_bytes());
}
BENCHMARK(BM_DocmillPerPage)->Unit(benchmark::kMillisecond)->UseRealTime();

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

int main(int argc, char** argv) {
    return tn_bench::run_with_ratios(
        argc, argv,
        {{"BM_PagesOneByOne/real_time", "BM_LynxPerPage/real_time"},
         {"BM_RealPages/real_time", "BM_LynxAllPages/real_time"},
         {"BM_DocmillPerPage/real_time", "BM_LynxPerPage/real_time"}});
}
