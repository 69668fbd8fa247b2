#include "linux-platform/envstore.h"

#include "linux-platform/linereader.h"

#include <cstdio>
#include <cstdlib>

#ifndef TRAWLNEST_SYSCONFDIR
#define TRAWLNEST_SYSCONFDIR "/etc"
#endif

namespace lumbrake::platform {

std::string env_store_path() {
    if (const char* p = std::getenv("LUMBRAKE_ENV_STORE")) return p;
    return std::string(TRAWLNEST_SYSCONFDIR) + "/lumbrake/trawlnest/environment";
}

std::optional<std::string> env_store_get(const std::string& name) {
    std::string path = env_store_path();
    line_reader in;
    if (!in.open(path)) return std::nullopt;
    std::optional<std::string> found;
    std::string line;
    while (in.next(line)) {
        std::string::size_type start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        std::string::size_type eq = line.find('=', start);
        if (eq == std::string::npos) continue;
        if (line.compare(start, eq - start, name) != 0) continue;
        found = line.substr(eq + 1); // the last assignment wins
    }
    if (!found) return found;
    // Shell-style environment files often quote values: one matching pair is removed.
    std::string& v = *found;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    // Values that do not fit the 1024-byte buffer of the original store count as absent.
    if (v.size() > 1023) {
        std::fprintf(stderr, "%s: value of %s longer than 1023 bytes, ignored\n", path.c_str(),
                     name.c_str());
        return std::nullopt;
    }
    return found;
}

} // namespace lumbrake::platform
