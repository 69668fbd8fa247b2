#include "util/postmortem.h"

#include "linux-platform/crashhandler.h"
#include "util/syslayer.h"

#include <atomic>
#include <optional>

namespace lumbrake {

namespace {
std::atomic<bool> g_enabled{false};
} // namespace

void postmortem_init(const char* program_path) {
    std::string path = program_path ? program_path : "";
    std::string base = basename(path);
    bool enabled = false;
    if (get_registry_env("LUMBRAKE_POSTMORTEM_DEBUG")) {
        std::optional<std::string> black = get_registry_env("LUMBRAKE_POSTMORTEM_DEBUG_BLACK");
        enabled = !black || black->find(base) == std::string::npos;
    }
    g_enabled = enabled;
    // A disabled program keeps the default actions: it ends as it would without us.
    if (enabled) platform::crash_handler_install(path.c_str());
}

bool postmortem_enabled() {
    return g_enabled;
}

void postmortem_thread_init() {
    if (g_enabled) platform::crash_handler_thread_init();
}

} // namespace lumbrake
