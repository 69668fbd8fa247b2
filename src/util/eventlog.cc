#include "util/syslayer.h"

#include "linux-platform/eventlog.h"

#include <cstdio>

namespace lumbrake {

void syslog_va(int level, const char* format, va_list args) {
    char text[4096];
    std::vsnprintf(text, sizeof text, format, args);
    platform::eventlog_type type = platform::EVENT_ERROR;
    switch (level) {
    case 0:
        type = platform::EVENT_ERROR;
        break;
    case 1:
        type = platform::EVENT_WARNING;
        break;
    case 2:
        type = platform::EVENT_INFORMATION;
        break;
    default:
        std::fprintf(stderr, "Unknown syslog level %d, changed to error.\n", level);
    }
    platform::eventlog_write(type, text);
}

void syslog(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    syslog_va(level, format, args);
    va_end(args);
}

} // namespace lumbrake
