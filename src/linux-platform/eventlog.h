// The system event log: syslog(3) under the ident "lumbrake".
#pragma once

namespace lumbrake::platform {

// Event types of the event log.
enum eventlog_type { EVENT_ERROR = 0, EVENT_WARNING = 1, EVENT_INFORMATION = 2 };

// Receives every record instead of syslog(3) while installed (tests capture texts with it).
using eventlog_sink = void (*)(eventlog_type type, const char* text);

// Writes one record. Failures are ignored.
void eventlog_write(eventlog_type type, const char* text);

// Installs a sink (null restores syslog) and returns the previous one.
eventlog_sink set_eventlog_sink(eventlog_sink sink);

} // namespace lumbrake::platform
