// Leveled logging per facility, and assertions.
#pragma once

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace lumbrake {

class config;

enum log_level : int {
    LL_BORING = 0,
    LL_DEBUG = 1,
    LL_INFO = 2,
    LL_WARNING = 3,
    LL_ERROR = 4,
    LL_CRITICAL = 5,
};

enum log_facility : int {
    LF_LOG = 0,
    LF_KEY = 1,
    LF_IPCSOCK = 2,
    LF_IPCMARSHAL = 3,
    LF_HTTPSERVER = 4,
    LF_WORKERSCHEDULING = 5,
    LF_WORKERFETCHERS = 6,
    LF_WORKERPARSERS = 7,
    LF_WORKER = 8,
    LF_PLUGINSYSTEM = 9,
    LF_PLUGINS = 10,
    LF_FFF = 11,
    LF_API = 12,
    LF_FETCHEDDOCS = 13,
    LF_COUNT = 14,
};

// Process-wide: one threshold per facility, then the stream (null until set).
struct log_state {
    int thresholds[LF_COUNT];
    std::FILE* stream;
};
extern log_state g_log;

inline bool log_enabled(int facility, int level) {
    return static_cast<unsigned>(facility) < LF_COUNT && g_log.thresholds[facility] <= level;
}

// The five-character tag of a level ("BORE ", "DEBUG", "INFO ", "ERROR").
const char* log_tag(int level);

int log_level_from_name(const std::string& name, std::string& error);
int log_facility_from_name(const std::string& name, std::string& error);
void set_log_level(int facility, int level);
void split_string(const std::string& separators, const std::string& text,
                  std::vector<std::string>& pieces);

// Sets the stream and the thresholds from LOGCFG; false when LOGCFG is missing or empty.
bool apply_logcfg(std::string& error, const config& cfg, std::FILE* stream);
bool open_log_file(std::string& error, const config& cfg, const std::string& file_name);
void log_close();

// Writes "<UTC time> <message>\n" to the log stream and flushes it.
void write_log_line(const std::string& message);

// Reports a broken invariant to the event log and ends the process.
[[noreturn]] void assertion_failed(const char* expression, const char* file, unsigned long line);

} // namespace lumbrake

// TN_LOG(LF_API, LL_DEBUG, "x=" << x): formats only when the facility's threshold lets it through.
#define TN_LOG(facility, level, message)                                                           \
    do {                                                                                           \
        if (::lumbrake::log_enabled((facility), (level))) {                                        \
            std::ostringstream tn_log_os_;                                                         \
            tn_log_os_ << ::lumbrake::log_tag(level) << " [" << __FILE__ << ":" << __LINE__        \
                       << "] " << message;                                                         \
            ::lumbrake::write_log_line(tn_log_os_.str());                                          \
        }                                                                                          \
    } while (0)

#define TN_ASSERT(expression)                                                                      \
    ((expression) ? (void)0 : ::lumbrake::assertion_failed(#expression, __FILE__, __LINE__))
