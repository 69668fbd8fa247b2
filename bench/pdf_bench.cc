// PDF to FFF throughput in pages per second, beside poppler's pdftotext on the same files.
// The files: the manuals installed on the machine, each rewritten by qpdf with classic
// cross-reference tables and no object streams (the form every version of the parser reads)
// and as it was made (cross-reference and object streams, where the manual has them).
// Compare the "pages/s" counters of BM_Parse and BM_Pdftotext per file.
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "util/config.h"
#include "fff/FFFbuilder.h"
#include "pdfparser/pdf-parser.h"

extern char** environ;

namespace {

struct sample {
    std::string name;
    std::string path;
    std::string bytes;
    int pages = 0;
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

int page_count(const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> p(
        popen(("pdfinfo '" + path + "' 2>/dev/null").c_str(), "r"), pclose);
    if (!p) return 0;
    char line[512];
    while (std::fgets(line, sizeof line, p.get()))
        if (std::string(line).rfind("Pages:", 0) == 0) return std::atoi(line + 6);
    return 0;
}

const std::vector<sample>& samples() {
    static const std::vector<sample> all = [] {
        std::vector<sample> out;
        const char* dir = std::getenv("TMPDIR");
        const std::string tmp =
            std::string(dir ? dir : "/tmp") + "/pdf_bench_" + std::to_string(getpid()) + "_";
        const std::pair<const char*, const char*> manuals[] = {
            {"debian-reference", "/usr/share/debian-reference/debian-reference.en.pdf"},
            {"libtasn1", "/usr/share/doc/libtasn1-doc/libtasn1.pdf"},
            {"shared-mime-info", "/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf"},
        };
        for (const auto& [name, path] : manuals) {
            if (!std::ifstream(path)) continue;
            const std::string classic = tmp + name + ".pdf";
            if (std::system(("qpdf --object-streams=disable '" + std::string(path) + "' '" +
                             classic + "' >/dev/null 2>&1")
                                .c_str()) == 0)
                out.push_back({std::string(name) + " (classic)", classic, read_file(classic),
                               page_count(classic)});
            out.push_back(
                {std::string(name) + " (as made)", path, read_file(path), page_count(path)});
        }
        return out;
    }();
    return all;
}

void BM_Parse(benchmark::State& state) {
    const sample& s = samples()[static_cast<std::size_t>(state.range(0))];
    static lumbrake::config cfg("/dev/null");
    lumbrake::PDFParser parser(cfg);
    for (auto _ : state) {
        lumbrake::parse_result r;
        lumbrake::FFFbuilder builder(1000000);
        parser.parse(builder, nullptr, 1000000, "file:///bench.pdf", s.bytes, "application/pdf", "",
                     r);
        if (r.status != 0) state.SkipWithError(r.error.c_str());
        benchmark::DoNotOptimize(builder.document);
    }
    state.SetLabel(s.name);
    state.counters["pages/s"] = benchmark::Counter(
        static_cast<double>(s.pages) * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_Pdftotext(benchmark::State& state) {
    const sample& s = samples()[static_cast<std::size_t>(state.range(0))];
    for (auto _ : state) {
        const char* argv[] = {"pdftotext", "-q", s.path.c_str(), "/dev/null", nullptr};
        pid_t pid = 0;
        if (posix_spawnp(&pid, "pdftotext", nullptr, nullptr, const_cast<char**>(argv), environ) !=
            0) {
            state.SkipWithError("pdftotext not found");
            break;
        }
        int status = 0;
        waitpid(pid, &status, 0);
    }
    state.SetLabel(s.name);
    state.counters["pages/s"] = benchmark::Counter(
        static_cast<double>(s.pages) * state.iterations(), benchmark::Counter::kIsRate);
}

void files(benchmark::internal::Benchmark* b) {
    for (std::size_t i = 0; i < samples().size(); ++i)
        b->Arg(static_cast<std::int64_t>(i));
}

BENCHMARK(BM_Parse)->Apply(files)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_Pdftotext)->Apply(files)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

} // namespace
