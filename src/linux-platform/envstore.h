// The registry environment values, kept in a read-only KEY=VALUE file: by default
// <sysconfdir>/lumbrake/trawlnest/environment, or the file that LUMBRAKE_ENV_STORE names.
#pragma once

#include <optional>
#include <string>

namespace lumbrake::platform {

// The path of the store file in effect.
std::string env_store_path();

// The named value, or nothing when the store cannot be read, the name is absent or the
// value is longer than 1023 bytes. The file is read again at every call.
std::optional<std::string> env_store_get(const std::string& name);

} // namespace lumbrake::platform
