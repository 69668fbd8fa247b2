#include "linux-platform/crashhandler.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <exception>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace lumbrake::platform {

namespace {

const int fatal_signals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS};

// Everything the handler reads is prepared before a crash can happen.
char g_program[4096];
char g_terminate_note[1024];
std::atomic<bool> g_installed{false};
std::atomic<long> g_reporting{0}; // thread id of the reporting thread
std::terminate_handler g_previous_terminate = nullptr;

const char* signal_name(int sig) {
    switch (sig) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGILL:
        return "SIGILL";
    case SIGFPE:
        return "SIGFPE";
    case SIGABRT:
        return "SIGABRT";
    case SIGTRAP:
        return "SIGTRAP";
    case SIGSYS:
        return "SIGSYS";
    default:
        return "?";
    }
}

// Async-signal-safe output helpers: write(2) only.
void put(int fd, const char* s) {
    std::size_t len = std::strlen(s);
    while (len > 0) {
        ssize_t n = ::write(fd, s, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        s += n;
        len -= static_cast<std::size_t>(n);
    }
}

// Decimal text of v into buf (at least 24 bytes).
char* format_dec(char* buf, long long v) {
    char tmp[24];
    int i = 0;
    unsigned long long u =
        v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    do {
        tmp[i++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    int j = 0;
    if (v < 0) buf[j++] = '-';
    while (i > 0)
        buf[j++] = tmp[--i];
    buf[j] = 0;
    return buf;
}

void put_dec(int fd, long long v) {
    char buf[24];
    put(fd, format_dec(buf, v));
}

void put_hex(int fd, std::uintptr_t v) {
    char buf[2 + 2 * sizeof v + 1];
    int i = sizeof buf - 1;
    buf[i] = 0;
    do {
        buf[--i] = "0123456789abcdef"[v & 15];
        v >>= 4;
    } while (v != 0);
    buf[--i] = 'x';
    buf[--i] = '0';
    put(fd, buf + i);
}

void copy_file(int out, const char* path) {
    int in = ::open(path, O_RDONLY | O_CLOEXEC);
    if (in < 0) return;
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        ssize_t off = 0;
        while (off < n) {
            ssize_t w = ::write(out, buf + off, static_cast<std::size_t>(n - off));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                ::close(in);
                return;
            }
            off += w;
        }
    }
    ::close(in);
}

void write_report(int sig, const siginfo_t* info) {
    char pid_text[24];
    format_dec(pid_text, ::getpid());
    char name[sizeof g_program + 32];
    std::size_t plen = std::strlen(g_program), dlen = std::strlen(pid_text);
    if (plen + 1 + dlen + 4 + 1 > sizeof name) return;
    std::memcpy(name, g_program, plen);
    name[plen] = '-';
    std::memcpy(name + plen + 1, pid_text, dlen);
    std::memcpy(name + plen + 1 + dlen, ".dmp", 5);

    int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return; // a report that cannot be created is skipped
    put(fd, "Program: ");
    put(fd, g_program);
    put(fd, "\nProcess: ");
    put(fd, pid_text);
    put(fd, "\nThread: ");
    put_dec(fd, static_cast<long long>(::syscall(SYS_gettid)));
    put(fd, "\nSignal: ");
    put_dec(fd, sig);
    put(fd, " (");
    put(fd, signal_name(sig));
    put(fd, ")\nCode: ");
    put_dec(fd, info ? info->si_code : 0);
    if (info && info->si_code <= 0) {
        put(fd, "\nSent by process: ");
        put_dec(fd, info->si_pid);
    }
    put(fd, "\nFault address: ");
    put_hex(fd, info ? reinterpret_cast<std::uintptr_t>(info->si_addr) : 0);
    put(fd, "\n");
    if (g_terminate_note[0]) {
        put(fd, "Terminate: ");
        put(fd, g_terminate_note);
        put(fd, "\n");
    }
    put(fd, "\nBacktrace:\n");
    void* frames[128];
    int n = ::backtrace(frames, 128);
    ::backtrace_symbols_fd(frames, n, fd);
    put(fd, "\nMemory map:\n");
    copy_file(fd, "/proc/self/maps");
    ::close(fd);
}

void crash_signal(int sig, siginfo_t* info, void*) {
    int saved_errno = errno;
    // One report per process. Another thread crashing meanwhile waits for the end; a crash
    // inside the report itself skips to the default action.
    long self = ::syscall(SYS_gettid);
    long none = 0;
    if (g_reporting.compare_exchange_strong(none, self)) {
        write_report(sig, info);
    } else if (none != self) {
        for (;;)
            ::pause();
    }
    // End by the default action; the signal is blocked in here and arrives on return.
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    ::sigaction(sig, &sa, nullptr);
    ::raise(sig);
    errno = saved_errno;
}

void crash_terminate() {
    // Not in a signal handler here: note what was thrown for the report, then let the
    // previous handler print its message and abort.
    if (std::type_info* t = abi::__cxa_current_exception_type()) {
        int status = 0;
        char* demangled = abi::__cxa_demangle(t->name(), nullptr, nullptr, &status);
        const char* type = status == 0 && demangled ? demangled : t->name();
        const char* what = "";
        try {
            throw;
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        std::snprintf(g_terminate_note, sizeof g_terminate_note,
                      "uncaught exception of type %s%s%s", type, *what ? ": " : "", what);
        std::free(demangled);
    } else {
        std::snprintf(g_terminate_note, sizeof g_terminate_note,
                      "std::terminate without an active exception");
    }
    if (g_previous_terminate) g_previous_terminate();
    std::abort();
}

struct alt_stack {
    void* memory = nullptr;
    ~alt_stack() {
        if (!memory) return;
        stack_t off;
        std::memset(&off, 0, sizeof off);
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
        std::free(memory);
    }
};

} // namespace

void crash_handler_thread_init() {
    thread_local alt_stack stack;
    if (stack.memory) return;
    long min = ::sysconf(_SC_SIGSTKSZ);
    std::size_t size = min > 65536 ? static_cast<std::size_t>(min) : 65536;
    stack.memory = std::malloc(size);
    if (!stack.memory) return;
    stack_t ss;
    std::memset(&ss, 0, sizeof ss);
    ss.ss_sp = stack.memory;
    ss.ss_size = size;
    if (::sigaltstack(&ss, nullptr) != 0) {
        std::free(stack.memory);
        stack.memory = nullptr;
    }
}

void crash_handler_install(const char* program_path) {
    std::snprintf(g_program, sizeof g_program, "%s", program_path ? program_path : "");
    if (g_installed.exchange(true)) return;

    // The first backtrace() loads the unwinder; do that now, not in the handler.
    void* warm[4];
    ::backtrace(warm, 4);

    struct rlimit core;
    if (::getrlimit(RLIMIT_CORE, &core) == 0 && core.rlim_cur != core.rlim_max) {
        core.rlim_cur = core.rlim_max;
        ::setrlimit(RLIMIT_CORE, &core);
    }

    crash_handler_thread_init();
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = crash_signal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    for (int sig : fatal_signals)
        ::sigaction(sig, &sa, nullptr);
    g_previous_terminate = std::set_terminate(crash_terminate);
}

} // namespace lumbrake::platform
