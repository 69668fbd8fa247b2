#include "linux-platform/envstore.h"

#include <cstdlib>
#include <fstream>

#ifndef TRAWLNEST_SYSCONFDIR
#define TRAWLNEST_SYSCONFDIR "/etc"
#endif

namespace lumbrake::platform {

std::string env_store_path() {
    if (const char* p = std::getenv("LUMBRAKE_ENV_STORE"))
        return p;
    return std::string(TRAWLNEST_SYSCONFDIR) + "/lumbrake/trawlnest/environment";
}

std::optional<std::string> env_store_get(const std::string& name) {
    std::ifstream in(env_store_path(), std::ios::binary);
    if (!in)
        return std::nullopt;
    std::optional<std::string> found;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string::size_type start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        std::string::size_type eq = line.find('=', start);
        if (eq == std::string::npos)
            continue;
        if (line.compare(start, eq - start, name) != 0)
            continue;
        found = line.substr(eq + 1); // the last assignment wins
    }
    // Values that do not fit the 1024-byte buffer of the original store count as absent.
    if (found && found->size() > 1023)
        return std::nullopt;
    return found;
}

} // namespace lumbrake::platform
