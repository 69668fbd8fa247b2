// Child program of the system-layer and post-mortem tests. The first argument selects what it
// does; TN_OUT in its environment names the file it reports to.
#include "util/log.h"
#include "util/postmortem.h"
#include "util/syslayer.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

extern char** environ;

namespace {

FILE* open_out() {
    const char* path = std::getenv("TN_OUT");
    return path ? std::fopen(path, "we") : nullptr;
}

volatile bool g_go_on = true;

// Recursion that the compiler cannot turn into a loop.
int overflow(int depth) {
    volatile char pad[4096];
    pad[0] = static_cast<char>(depth);
    if (!g_go_on) return pad[0];
    return overflow(depth + 1) + pad[0];
}

} // namespace

int main(int argc, char** argv) {
    struct sigaction inherited;
    sigaction(SIGPIPE, nullptr, &inherited);
    std::string error;
    lumbrake::platform_init(error);
    std::string mode = argc > 1 ? argv[1] : "";

    if (mode == "args") {
        FILE* out = open_out();
        if (!out) return 2;
        std::fprintf(out, "argc=%d\n", argc);
        for (int i = 1; i < argc; ++i)
            std::fprintf(out, "arg:%s\n", argv[i]);
        for (char** e = environ; *e; ++e)
            std::fprintf(out, "env:%s\n", *e);
        std::fclose(out);
        return 0;
    }
    if (mode == "fds") {
        FILE* out = open_out();
        DIR* d = opendir("/proc/self/fd");
        if (!out || !d) return 2;
        while (struct dirent* e = readdir(d)) {
            if (e->d_name[0] == '.' || std::atoi(e->d_name) == dirfd(d) ||
                std::atoi(e->d_name) == fileno(out))
                continue;
            std::fprintf(out, "%s\n", e->d_name);
        }
        closedir(d);
        std::fclose(out);
        return 0;
    }
    if (mode == "sigpipe") {
        // Started with SIGPIPE at its default; platform_init above must have ignored it.
        int fds[2];
        if (pipe(fds) != 0) return 2;
        close(fds[0]);
        ssize_t n = write(fds[1], "x", 1);
        return n < 0 && errno == EPIPE ? 0 : 1;
    }
    if (mode == "sigdefault") {
        // The disposition of SIGPIPE it was started with, before platform_init ran.
        return inherited.sa_handler == SIG_IGN ? 1 : 0;
    }
    if (mode == "exit") return argc > 2 ? std::atoi(argv[2]) : 0;
    if (mode == "sleep") {
        for (;;)
            sleep(60);
    }

    // Crash modes.
    lumbrake::postmortem_init(argv[0]);
    if (lumbrake::postmortem_enabled()) {
        struct rlimit core;
        getrlimit(RLIMIT_CORE, &core);
        if (core.rlim_cur != core.rlim_max) return 3; // the core-file limit was not raised
        // The tests want the report only, not a core file in their working directory.
        core.rlim_cur = 0;
        setrlimit(RLIMIT_CORE, &core);
    }
    if (mode == "segv") {
        volatile std::uintptr_t address = 16;
        *reinterpret_cast<volatile int*>(address) = 1;
    } else if (mode == "abort") {
        std::abort();
    } else if (mode == "terminate") {
        throw std::runtime_error("boom");
    } else if (mode == "assert") {
        int three = argc;
        TN_ASSERT(three == 7);
    } else if (mode == "overflow") {
        return overflow(0);
    }
    return 4;
}
