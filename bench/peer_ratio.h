// Helpers of the benchmarks that run a peer program side by side with our code: reading the
// input files, running a program quietly, and a main that prints, after the usual table, how many times as fast as
// each peer run our run was (peer time / our time per iteration, both over the same input).
#pragma once

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace tn_bench {

// Every byte of the file; empty when it cannot be read.
inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs argv[0] (searched on PATH) with standard input, output and error on /dev/null; true
// when it exits 0.
inline bool run_quiet(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&fa, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

inline bool on_path(const char* program) {
    return run_quiet({"sh", "-c", std::string("command -v ") + program});
}

// The console table, keeping each run's real time per iteration by name.
class ratio_reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (!r.error_occurred && r.run_type == Run::RT_Iteration)
                times_[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    // "ours" and "peer" are benchmark names as the table shows them.
    void print_ratio(const std::string& ours, const std::string& peer) const {
        const auto o = times_.find(ours), p = times_.find(peer);
        if (o == times_.end() || p == times_.end() || o->second <= 0) return;
        std::printf("%-34s is %6.2fx as fast as %s\n", ours.c_str(), p->second / o->second,
                    peer.c_str());
    }

private:
    std::map<std::string, double> times_;
};

// Runs the registered benchmarks, then prints the ratio of every (ours, peer) pair that ran.
inline int run_with_ratios(int argc, char** argv,
                           const std::vector<std::pair<std::string, std::string>>& pairs) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    for (const auto& [ours, peer] : pairs)
        reporter.print_ratio(ours, peer);
    benchmark::Shutdown();
    return 0;
}

} // namespace tn_bench
