// The system layer: the operating-system services that the rest of the system uses.
//
// Names that collide with POSIX or C library functions (syslog, kill, waitpid, opendir,
// readdir, closedir, basename, strsep, strtoll, strtoull, usleep, gettimeofday) exist only in
// this namespace; call them qualified (lumbrake::kill) from outside it.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <sys/time.h>
#include <sys/types.h>
#include <vector>

namespace lumbrake {

class config;

// ---- Time ----

void sleep_seconds(unsigned int seconds);
// Sleeps microseconds / 1000 whole milliseconds (below 1000 microseconds: no sleep).
void usleep(unsigned long microseconds);
// Seconds and microseconds since 1970, the microseconds as milliseconds * 1000; returns 0.
int gettimeofday(struct timeval* tv);
// Seconds since 1970-01-01 00:00:00 UTC of a calendar time (month from 0, full year). Fields
// out of their ranges (hour 24, 31 April, month 12, ...) give 0; so does a weekday (0 = Sunday)
// other than -1 that the date does not fall on.
std::time_t utc_mktime(int second, int minute, int hour, int day, int month, int year, int weekday);

// ---- Start-up ----

// Socket start-up and clean-up only keep a flag on this platform; start-up also makes sure
// that a write to a closed socket cannot kill the process (SIGPIPE ignored).
void sockets_startup();
void sockets_cleanup();
bool sockets_started();
// Every program calls platform_init at start-up (it ignores SIGPIPE) and platform_done at the
// end. Both answer true.
bool platform_init(std::string& error);
bool platform_done();

// ---- Processes ----

// Starts the program (path as given, no extension added) with exactly these arguments (no
// shell, no quoting) and exactly this environment, sharing standard input, output and error.
// Descriptors above 2 are not passed on. Returns the process id, or 0 with the reason in error.
pid_t spawn_process(std::string& error, const std::string& program,
                    const std::vector<std::string>& arguments,
                    const std::map<std::string, std::string>& environment);
// The process environment, each entry split at its first '=' (entries without one skipped).
void get_environment(std::map<std::string, std::string>& environment);
// Ends the process at once (SIGKILL whatever the number); a later wait reports it as
// signal * 256. Returns 0, or -1 when it fails.
int kill(pid_t pid, int signal);
int kill_process(pid_t pid, int signal);
// Waits without a time limit for a child to end. The status is the exit code, or the number
// of the signal that ended it times 256 (a child ended by kill(pid, 9) gives 2304). Returns
// pid, or -1 on failure.
pid_t waitpid(pid_t pid, int* status);
// The status as above, 0 when waiting failed.
int wait_process(pid_t pid);

// ---- Files and directories ----

struct dir_entry {
    int is_directory = 0; // symbolic links count as what they point to
    std::string name;
};
struct dir_handle; // a listing, sorted by name ("." and ".." included)

// Null unless the path names an existing directory.
dir_handle* opendir(const std::string& path);
// The next entry, or null after the last. Valid until the next call or closedir.
const dir_entry* readdir(dir_handle* handle);
void closedir(dir_handle* handle);
// The whole listing sorted by name, "." and ".." left out; false when not a directory.
bool list_directory(const std::string& path, std::vector<dir_entry>& entries);

// A path of two or more characters loses one trailing '/' or '\'; the result is the text after
// the last '/' or '\', or the whole path. The char* form cuts the path in place and returns a
// pointer into it.
char* basename(char* path);
std::string basename(const std::string& path);

// Bytes available to the caller on the file system that holds the path; 0 on failure.
std::uint64_t disk_free_space(const std::string& path);

// ---- Strings ----

// The classic strsep: the token at the cursor, cut at the first delimiter; the cursor moves
// behind it, or becomes null at the end. A null cursor gives null.
char* strsep(char** cursor, const char* delimiters);
// Like strsep with one delimiter, but a null cursor or an empty rest gives null, and after the
// last token the cursor is left at the end so that the next call gives null.
char* strsep_char(char** cursor, char delimiter);
long long strtoll(const char* text, char** end, int base);
unsigned long long strtoull(const char* text, char** end, int base);

// The system's text for the calling thread's last error (errno), at most 1023 characters.
void system_error_text(std::string& text);
std::string system_error_text();
std::string system_error_text(int error_number);

// ---- Registry environment ----

// A registry environment value (LUMBRAKE_CONFIG_FILE, LUMBRAKE_POSTMORTEM_DEBUG, ...), read
// from the environment store file, never from the process environment; nothing when absent or
// longer than 1023 bytes. The result is a copy.
std::optional<std::string> get_registry_env(const char* name);

// ---- Event log ----

// Level 0 error, 1 warning, 2 information (others: a note on stderr, then error); the text is
// cut at 4096 bytes.
void syslog(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void syslog_va(int level, const char* format, va_list args);

// ---- Host name ----

// The name under which this machine is reached: the reverse look-up of the IPv4 address of the
// first network interface (up, not loopback) that has a name; with a preferred dotted address
// only the interface with exactly that address is tried. Without a name, the dotted address of
// the last interface tried; empty when none was tried or that address begins with 127.
std::string local_host_name(const std::string& preferred_address);

// ---- Deployment directory ----

// DEPLOYDIR + "/" + sub, for the plug-in and program folders. False with error "DEPLOYDIR not
// defined in config file" when the key is absent or empty: callers then load and start nothing
// (never "/plugins" or "/bin").
bool deploy_path(const config& cfg, const std::string& sub, std::string& path, std::string& error);

// ---- Dynamic libraries ----

// Loads every library of a directory whose name ends with the ending (an empty ending takes
// every entry) and resolves the requested symbols. Libraries are visited in name order.
class p_dlext {
public:
    struct library {
        bool loaded = false;
        std::string path;
        void* handle = nullptr;     // null when not loaded
        std::vector<void*> symbols; // in request order; null for an absent symbol
    };
    struct by_path {
        bool operator()(const library& a, const library& b) const { return a.path < b.path; }
    };

    // symbols: a null-terminated list of names. Without optional_symbols a library that lacks
    // one is listed with loaded false and freed at once, with one error text per missing
    // symbol: "DLL <path> doesn't export <symbol>". A library that does not load adds the
    // loader's text (dlerror) to the errors. A missing directory loads nothing.
    p_dlext(const std::string& directory, const std::string& ending, bool optional_symbols,
            const char* const* symbols);
    virtual ~p_dlext();
    p_dlext(const p_dlext&) = delete;
    p_dlext& operator=(const p_dlext&) = delete;

    const std::set<library, by_path>& libraries() const { return libraries_; }
    const std::vector<std::string>& errors() const { return errors_; }

private:
    std::set<library, by_path> libraries_;
    std::vector<std::string> errors_;
};

} // namespace lumbrake
