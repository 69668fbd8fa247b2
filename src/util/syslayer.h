// The system layer: the operating-system services that the rest of the system uses.
#pragma once

#include <cstdarg>
#include <optional>
#include <string>

namespace lumbrake {

// A registry environment value (LUMBRAKE_CONFIG_FILE, LUMBRAKE_POSTMORTEM_DEBUG, ...), never
// taken from the process environment; nothing when absent or longer than 1023 bytes.
std::optional<std::string> get_registry_env(const char* name);

// Event log. Level 0 error, 1 warning, 2 information; the text is cut at 4096 bytes.
void syslog(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void syslog_va(int level, const char* format, va_list args);

} // namespace lumbrake
