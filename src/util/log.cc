#include "util/log.h"

#include "util/config.h"
#include "util/syslayer.h"

#include <cstdlib>
#include <ctime>

namespace lumbrake {

log_state g_log = {{0}, nullptr};

namespace {
const char* const level_names[] = {"BORING", "DEBUG", "INFO", "WARNING", "ERROR", "CRITICAL"};
const char* const facility_names[LF_COUNT] = {"LOG",
                                              "KEY",
                                              "IPCSOCK",
                                              "IPCMARSHAL",
                                              "HTTPSERVER",
                                              "WORKERSCHEDULING",
                                              "WORKERFETCHERS",
                                              "WORKERPARSERS",
                                              "WORKER",
                                              "PLUGINSYSTEM",
                                              "PLUGINS",
                                              "FFF",
                                              "API",
                                              "FETCHEDDOCS"};
} // namespace

const char* log_tag(int level) {
    switch (level) {
    case LL_BORING:
        return "BORE ";
    case LL_DEBUG:
        return "DEBUG";
    case LL_INFO:
        return "INFO ";
    default:
        return "ERROR";
    }
}

int log_level_from_name(const std::string& name, std::string& error) {
    for (int i = 0; i < 6; ++i)
        if (name == level_names[i]) {
            error.clear();
            return i;
        }
    error = "Unknown log level " + name + " in config file, using INFO instead";
    return LL_INFO;
}

int log_facility_from_name(const std::string& name, std::string& error) {
    for (int i = 0; i < LF_COUNT; ++i)
        if (name == facility_names[i]) {
            error.clear();
            return i;
        }
    error = "Unknown log facility " + name + " in config file, using LOG instead";
    return LF_LOG;
}

void set_log_level(int facility, int level) {
    if (facility >= 0 && facility < LF_COUNT) g_log.thresholds[facility] = level;
}

void split_string(const std::string& separators, const std::string& text,
                  std::vector<std::string>& pieces) {
    std::string::size_type start = 0;
    for (;;) {
        std::string::size_type pos = text.find_first_of(separators, start);
        if (pos == std::string::npos) break;
        pieces.push_back(text.substr(start, pos - start));
        start = pos + 1;
    }
    if (!text.empty()) pieces.push_back(text.substr(start));
}

bool apply_logcfg(std::string& error, const config& cfg, std::FILE* stream) {
    error.clear();
    g_log.stream = stream;
    for (int& t : g_log.thresholds)
        t = LL_WARNING;
    std::string value;
    if (!cfg.get("LOGCFG", value) || value.empty()) {
        error += " LOGCFG undefined in config file";
        return false;
    }
    std::vector<std::string> items;
    split_string(" ", value, items);
    for (const std::string& item : items) {
        std::vector<std::string> parts;
        split_string(":", item, parts);
        if (parts.size() != 2) {
            error += " Can't find : in '" + item + "'";
            continue;
        }
        std::string message;
        int facility = log_facility_from_name(parts[0], message);
        if (!message.empty()) error += " " + message;
        int level = log_level_from_name(parts[1], message);
        if (!message.empty()) error += " " + message;
        set_log_level(facility, level);
    }
    return true;
}

bool open_log_file(std::string& error, const config& cfg, const std::string& file_name) {
    std::FILE* f = std::fopen(file_name.c_str(), "ae");
    if (!f) {
        error = "Cannot open " + file_name + ": " + system_error_text();
        return false;
    }
    return apply_logcfg(error, cfg, f);
}

void log_close() {
    if (g_log.stream && g_log.stream != stdout && g_log.stream != stderr) std::fclose(g_log.stream);
    g_log.stream = nullptr;
}

void write_log_line(const std::string& message) {
    std::FILE* stream = g_log.stream;
    if (!stream) return; // no stream set up yet: the message is dropped
    std::time_t now = std::time(nullptr);
    std::tm tm_utc;
    gmtime_r(&now, &tm_utc);
    char stamp[256];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm_utc);
    std::fprintf(stream, "%s %s\n", stamp, message.c_str());
    std::fflush(stream);
}

void assertion_failed(const char* expression, const char* file, unsigned long line) {
    syslog(0, "%s(%lu): assertion [%s] failed.\n", file, line, expression);
    // Without a syslog daemon the event log keeps nothing; under systemd the journal takes
    // standard error.
    std::fprintf(stderr, "%s(%lu): assertion [%s] failed.\n", file, line, expression);
    std::fflush(stderr);
    std::abort();
}

} // namespace lumbrake
