// The configuration file: key=value lines, sibling files and an optional overlay file.
#pragma once

#include <map>
#include <string>

namespace lumbrake {

class config {
public:
    // Both names may be null: the file then comes from the environment value
    // LUMBRAKE_CONFIG_FILE. The constructor always completes; failures go to stderr.
    explicit config(const char* file_name = nullptr, const char* overlay_suffix = nullptr);

    // Not loaded: false, value untouched. Absent: false, value cleared. Present: true.
    bool get(const std::string& key, std::string& value) const;

    bool loaded() const { return loaded_; }
    const std::map<std::string, std::string>& values() const { return values_; }

    bool load(const std::string& file_name, const char* suffix);

private:
    enum read_mode { REPLACE, OVERLAY };
    bool read_config_file(const std::string& name, read_mode mode);

    bool loaded_ = false;
    std::map<std::string, std::string> values_;
};

} // namespace lumbrake
