#include "util/syslayer.h"

#include "linux-platform/envstore.h"
#include "linux-platform/process.h"
#include "util/config.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

extern char** environ;

namespace lumbrake {

// ---- Time ----

void sleep_seconds(unsigned int seconds) {
    struct timespec ts = {static_cast<time_t>(seconds), 0};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void usleep(unsigned long microseconds) {
    // Whole milliseconds, as the callers were written for: below 1000 there is no sleep.
    unsigned long ms = microseconds / 1000;
    if (ms == 0) return;
    struct timespec ts = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

int gettimeofday(struct timeval* tv) {
    // Millisecond resolution: the microseconds are always a multiple of 1000.
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    if (tv) {
        tv->tv_sec = ts.tv_sec;
        tv->tv_usec = (ts.tv_nsec / 1000000) * 1000;
    }
    return 0;
}

std::time_t utc_mktime(int second, int minute, int hour, int day, int month, int year,
                       int weekday) {
    // Fields are never carried into the next unit: 31 April or hour 24 is no time at all.
    static const int days_in_month[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (second < 0 || second > 59 || minute < 0 || minute > 59 || hour < 0 || hour > 23 ||
        month < 0 || month > 11 || year < 1601 || year > 30827 || day < 1)
        return 0;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    int last = days_in_month[month] + (month == 1 && leap ? 1 : 0);
    if (day > last) return 0;
    struct tm tm;
    std::memset(&tm, 0, sizeof tm);
    tm.tm_sec = second;
    tm.tm_min = minute;
    tm.tm_hour = hour;
    tm.tm_mday = day;
    tm.tm_mon = month;
    tm.tm_year = year - 1900;
    std::time_t t = timegm(&tm);
    struct tm back;
    if (!gmtime_r(&t, &back)) return 0;
    if (back.tm_sec != second || back.tm_min != minute || back.tm_hour != hour ||
        back.tm_mday != day || back.tm_mon != month || back.tm_year != year - 1900)
        return 0;
    if (weekday != -1 && back.tm_wday != weekday) return 0;
    return t;
}

// ---- Start-up ----

namespace {
std::atomic<bool> g_sockets_started{false};

void ignore_sigpipe() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = SIG_IGN;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGPIPE, &sa, nullptr);
}
} // namespace

void sockets_startup() {
    if (!g_sockets_started.exchange(true)) ignore_sigpipe();
}

void sockets_cleanup() {
    g_sockets_started = false;
}

bool sockets_started() {
    return g_sockets_started;
}

bool platform_init(std::string& error) {
    error.clear();
    ignore_sigpipe();
    return true;
}

bool platform_done() {
    return true;
}

// ---- Processes ----

pid_t spawn_process(std::string& error, const std::string& program,
                    const std::vector<std::string>& arguments,
                    const std::map<std::string, std::string>& environment) {
    error.clear();
    std::vector<std::string> argv;
    argv.reserve(arguments.size() + 1);
    argv.push_back(program);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> envp;
    envp.reserve(environment.size());
    for (const auto& [name, value] : environment)
        envp.push_back(name + "=" + value);
    int err = 0;
    pid_t pid = platform::spawn(program, argv, envp, err);
    if (pid <= 0) {
        error = system_error_text(err);
        return 0;
    }
    return pid;
}

void get_environment(std::map<std::string, std::string>& environment) {
    environment.clear();
    for (char** e = environ; e && *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (!eq) continue;
        environment[std::string(*e, static_cast<std::size_t>(eq - *e))] = eq + 1;
    }
}

int kill(pid_t pid, int /*signal*/) {
    // Termination is always immediate, as on the system this layer was made for; a wait then
    // reports 9 * 256.
    if (pid <= 0) return -1;
    return ::kill(pid, SIGKILL) == 0 ? 0 : -1;
}

int kill_process(pid_t pid, int signal) {
    return lumbrake::kill(pid, signal);
}

pid_t waitpid(pid_t pid, int* status) {
    if (pid <= 0) return -1;
    return platform::wait_child(pid, status);
}

int wait_process(pid_t pid) {
    int status = 0;
    if (lumbrake::waitpid(pid, &status) < 0) return 0;
    return status;
}

// ---- Files and directories ----

struct dir_handle {
    std::vector<dir_entry> entries;
    std::size_t next = 0;
};

namespace {
bool read_directory(const std::string& path, std::vector<dir_entry>& entries, bool with_dots) {
    int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    DIR* d = ::fdopendir(fd);
    if (!d) {
        ::close(fd);
        return false;
    }
    while (struct dirent* e = ::readdir(d)) {
        dir_entry entry;
        entry.name = e->d_name;
        if (!with_dots && (entry.name == "." || entry.name == "..")) continue;
        if (e->d_type == DT_DIR) {
            entry.is_directory = 1;
        } else if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st;
            entry.is_directory = fstatat(dirfd(d), e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back(std::move(entry));
    }
    ::closedir(d);
    // readdir's order is the file system's; listings are given in byte order of the names.
    std::sort(entries.begin(), entries.end(),
              [](const dir_entry& a, const dir_entry& b) { return a.name < b.name; });
    return true;
}
} // namespace

dir_handle* opendir(const std::string& path) {
    auto handle = std::make_unique<dir_handle>();
    if (path.empty() || !read_directory(path, handle->entries, true)) return nullptr;
    return handle.release();
}

const dir_entry* readdir(dir_handle* handle) {
    if (!handle || handle->next >= handle->entries.size()) return nullptr;
    return &handle->entries[handle->next++];
}

void closedir(dir_handle* handle) {
    delete handle;
}

bool list_directory(const std::string& path, std::vector<dir_entry>& entries) {
    entries.clear();
    return !path.empty() && read_directory(path, entries, false);
}

char* basename(char* path) {
    if (!path) return nullptr;
    std::size_t len = std::strlen(path);
    if (len >= 2 && (path[len - 1] == '/' || path[len - 1] == '\\')) path[--len] = 0;
    char* result = path;
    for (char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') result = p + 1;
    // A lone separator is its own base name.
    if (*result == 0 && len == 1) return path;
    return result;
}

std::string basename(const std::string& path) {
    std::string copy = path;
    copy.push_back(0);
    return std::string(lumbrake::basename(copy.data()));
}

std::uint64_t disk_free_space(const std::string& path) {
    struct statvfs st;
    if (::statvfs(path.c_str(), &st) != 0) return 0;
    return static_cast<std::uint64_t>(st.f_bavail) * static_cast<std::uint64_t>(st.f_frsize);
}

// ---- Strings ----

char* strsep(char** cursor, const char* delimiters) {
    if (!cursor || !*cursor) return nullptr;
    char* token = *cursor;
    char* end = token + std::strcspn(token, delimiters ? delimiters : "");
    if (*end) {
        *end = 0;
        *cursor = end + 1;
    } else {
        *cursor = nullptr;
    }
    return token;
}

char* strsep_char(char** cursor, char delimiter) {
    if (!cursor || !*cursor || !**cursor) return nullptr;
    char* token = *cursor;
    char* end = token;
    while (*end && *end != delimiter)
        ++end;
    if (*end) {
        *end = 0;
        *cursor = end + 1;
    } else {
        *cursor = end;
    }
    return token;
}

long long strtoll(const char* text, char** end, int base) {
    return std::strtoll(text, end, base);
}

unsigned long long strtoull(const char* text, char** end, int base) {
    return std::strtoull(text, end, base);
}

std::string system_error_text(int error_number) {
    char buf[1024];
    // The GNU strerror_r may return a static text instead of filling buf.
    const char* text = strerror_r(error_number, buf, sizeof buf);
    std::string result = text ? text : "";
    if (result.size() > 1023) result.resize(1023);
    return result;
}

std::string system_error_text() {
    return system_error_text(errno);
}

void system_error_text(std::string& text) {
    text = system_error_text(errno);
}

// ---- Registry environment ----

std::optional<std::string> get_registry_env(const char* name) {
    if (!name) return std::nullopt;
    return platform::env_store_get(name);
}

// ---- Host name ----

namespace {
bool parse_dotted(const std::string& text, std::uint32_t& address) {
    unsigned a, b, c, d;
    char extra;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &extra) != 4) return false;
    if (a > 255 || b > 255 || c > 255 || d > 255) return false;
    address = (a << 24) | (b << 16) | (c << 8) | d;
    return true;
}
} // namespace

std::string local_host_name(const std::string& preferred_address) {
    std::uint32_t wanted = 0;
    bool have_preferred = !preferred_address.empty();
    if (have_preferred && !parse_dotted(preferred_address, wanted))
        return std::string(); // no interface can have that address
    struct ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return std::string();
    std::string last;
    bool tried = false;
    std::string result;
    for (struct ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK)) continue;
        const auto* sin = reinterpret_cast<const struct sockaddr_in*>(i->ifa_addr);
        std::uint32_t host_order = ntohl(sin->sin_addr.s_addr);
        if (have_preferred && host_order != wanted) continue;
        char dotted[INET_ADDRSTRLEN];
        std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", host_order >> 24,
                      (host_order >> 16) & 255, (host_order >> 8) & 255, host_order & 255);
        tried = true;
        last = dotted;
        char name[NI_MAXHOST];
        if (getnameinfo(i->ifa_addr, sizeof(struct sockaddr_in), name, sizeof name, nullptr, 0,
                        NI_NAMEREQD) == 0) {
            result = name;
            break;
        }
    }
    freeifaddrs(list);
    if (!result.empty()) return result;
    if (!tried || last.compare(0, 4, "127.") == 0) return std::string();
    return last;
}

// ---- Deployment directory ----

bool deploy_path(const config& cfg, const std::string& sub, std::string& path, std::string& error) {
    path.clear();
    error.clear();
    std::string dir;
    if (!cfg.get("DEPLOYDIR", dir) || dir.empty()) {
        error = "DEPLOYDIR not defined in config file";
        return false;
    }
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    path = dir == "/" ? "/" + sub : dir + "/" + sub;
    return true;
}

// ---- Dynamic libraries ----

p_dlext::p_dlext(const std::string& directory, const std::string& ending, bool optional_symbols,
                 const char* const* symbols) {
    std::vector<dir_entry> entries;
    if (!list_directory(directory, entries)) return;
    for (const dir_entry& entry : entries) {
        const std::string& name = entry.name;
        if (name.size() <= ending.size() ||
            name.compare(name.size() - ending.size(), ending.size(), ending) != 0)
            continue;
        library lib;
        lib.path = directory.empty() || directory.back() == '/' ? directory + name
                                                                : directory + "/" + name;
        dlerror();
        void* handle = dlopen(lib.path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* text = dlerror();
            errors_.push_back(text ? text : "Cannot load " + lib.path);
            continue;
        }
        bool missing = false;
        for (const char* const* s = symbols; s && *s; ++s) {
            dlerror();
            void* address = dlsym(handle, *s);
            if (!address || dlerror()) {
                address = nullptr;
                if (!optional_symbols) {
                    missing = true;
                    errors_.push_back("DLL " + lib.path + " doesn't export " + *s);
                }
            }
            lib.symbols.push_back(address);
        }
        if (missing) {
            dlclose(handle);
            lib.loaded = false;
        } else {
            lib.loaded = true;
            lib.handle = handle;
        }
        libraries_.insert(std::move(lib));
    }
}

p_dlext::~p_dlext() {
    for (const library& lib : libraries_) {
        if (!lib.loaded || !lib.handle) continue;
        if (dlclose(lib.handle) != 0) {
            const char* text = dlerror();
            lumbrake::syslog(0, "Error unloading dll: %s", text ? text : "");
        }
    }
}

} // namespace lumbrake
