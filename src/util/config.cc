#include "util/config.h"

#include "linux-platform/linereader.h"
#include "util/syslayer.h"

#include <algorithm>
#include <cstdio>
#include <strings.h>
#include <vector>

namespace lumbrake {

namespace {

bool starts_with_nocase(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && strncasecmp(s.c_str(), prefix.c_str(), prefix.size()) == 0;
}

bool ends_with_nocase(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() &&
           strcasecmp(s.c_str() + (s.size() - suffix.size()), suffix.c_str()) == 0;
}

// Files beside the main one whose names begin with its stem and end with its extension, and
// are at least two characters longer than its name; sorted, so a later one overrides.
std::vector<std::string> sibling_files(const std::string& name, const char* suffix) {
    std::string dir = ".", base = name;
    std::string::size_type slash = name.find_last_of("/\\");
    if (slash != std::string::npos) {
        dir = name.substr(0, slash);
        base = name.substr(slash + 1);
        if (dir.empty()) // a file in the root directory
            dir = name.substr(0, 1);
    }
    std::string stem = base, ext;
    std::string::size_type dot = base.rfind('.');
    if (dot != std::string::npos) {
        stem = base.substr(0, dot);
        ext = base.substr(dot);
    }
    std::vector<std::string> result;
    if (suffix && ends_with_nocase(stem, suffix)) return result;
    std::vector<dir_entry> entries;
    if (!list_directory(dir, entries)) return result;
    for (const dir_entry& e : entries) {
        if (e.name.size() < base.size() + 2) continue;
        if (!starts_with_nocase(e.name, stem) || !ends_with_nocase(e.name, ext)) continue;
        result.push_back(dir == "/" ? "/" + e.name : dir + "/" + e.name);
    }
    std::sort(result.begin(), result.end());
    return result;
}

} // namespace

config::config(const char* file_name, const char* overlay_suffix) {
    std::string name;
    if (file_name) {
        name = file_name;
    } else {
        std::optional<std::string> value = get_registry_env("LUMBRAKE_CONFIG_FILE");
        if (!value) {
            std::fputs("LUMBRAKE_CONFIG_FILE not defined\n", stderr);
            return;
        }
        name = *value;
    }
    loaded_ = load(name, overlay_suffix);
    if (!loaded_) return;
    for (const std::string& sibling : sibling_files(name, overlay_suffix))
        loaded_ = load(sibling, overlay_suffix) || loaded_;
}

bool config::get(const std::string& key, std::string& value) const {
    if (!loaded_) return false;
    auto it = values_.find(key);
    if (it == values_.end()) {
        value.clear();
        return false;
    }
    value = it->second;
    return true;
}

bool config::load(const std::string& file_name, const char* suffix) {
    if (!read_config_file(file_name, REPLACE)) return false;
    if (suffix) read_config_file(file_name + suffix, OVERLAY);
    return true;
}

bool config::read_config_file(const std::string& name, read_mode mode) {
    platform::line_reader in;
    if (!in.open(name)) {
        if (mode == REPLACE) std::fprintf(stderr, "Cannot open configfile %s\n", name.c_str());
        return mode == OVERLAY;
    }
    std::string line;
    unsigned long number = 0;
    while (in.next(line)) { // CR LF reads as LF
        ++number;
        if (line.empty()) continue;
        std::string::size_type start = line.find_first_not_of(' ');
        if (start == std::string::npos || line[start] == '#') continue;
        std::string::size_type eq = line.find('=', start);
        if (eq == std::string::npos) {
            std::fprintf(stderr, "%s(%lu): can't find '='\n", name.c_str(), number);
            continue;
        }
        std::string key = line.substr(start, eq - start);
        std::string value = line.substr(eq + 1);
        if (mode == REPLACE) {
            values_[key] = value;
        } else {
            auto it = values_.find(key);
            if (it == values_.end() || it->second.empty() || it->second[0] == '@')
                values_[key] = value;
        }
    }
    return true;
}

} // namespace lumbrake
