#include "util/syslayer.h"

#include "linux-platform/envstore.h"

namespace lumbrake {

std::optional<std::string> get_registry_env(const char* name) {
    return platform::env_store_get(name);
}

} // namespace lumbrake
