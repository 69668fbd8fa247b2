#include "cpdialogs/cp-services.h"

#include <atomic>

namespace lumbrake {

namespace {
// Installed once on the GUI thread; the updater thread only reads it.
std::atomic<cp_services*> installed{nullptr};
} // namespace

cp_services* get_cp_services() { return installed.load(); }
void set_cp_services(cp_services* services) { installed.store(services); }

} // namespace lumbrake
