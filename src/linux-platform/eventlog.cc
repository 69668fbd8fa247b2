#include "linux-platform/eventlog.h"

#include <atomic>
#include <syslog.h>

namespace lumbrake::platform {

namespace {
std::atomic<eventlog_sink> g_sink{nullptr};
std::atomic<bool> g_opened{false};
} // namespace

void eventlog_write(eventlog_type type, const char* text) {
    if (eventlog_sink sink = g_sink.load()) {
        sink(type, text);
        return;
    }
    if (!g_opened.exchange(true)) ::openlog("lumbrake", LOG_PID, LOG_DAEMON);
    int prio = type == EVENT_WARNING ? LOG_WARNING : type == EVENT_INFORMATION ? LOG_INFO : LOG_ERR;
    ::syslog(prio, "%s", text);
}

eventlog_sink set_eventlog_sink(eventlog_sink sink) {
    return g_sink.exchange(sink);
}

} // namespace lumbrake::platform
