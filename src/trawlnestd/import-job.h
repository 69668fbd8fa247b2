// The import job: runs the reset job, then replaces every configuration record with the
// records of an export directory (and of the older PluginConfig and IndexConfiguration files)
// and rebuilds the id counters from the imported ids.
#pragma once

#include <functional>
#include <string>

namespace lumbrake {
class config;
}

namespace lumbrake::cfgjobs {

// The reset job of the maintenance jobs: true on success, else false with its error text.
using reset_job = std::function<bool(std::string& error)>;

// Runs `reset`, then imports `directory`, printing "I <label> <id>" for each record stored and
// "X <label> <id>: <error>" for each file that was not, on standard output. True when the job
// ran to its end (also when single files failed); false with `error` set when the reset failed
// or the directory cannot be listed ("Path not found: <directory>\n"). Opens its own
// connection to trawlnest.db in the current directory.
bool import_config(const config& cfg, const std::string& directory, const reset_job& reset,
                   std::string& error);

} // namespace lumbrake::cfgjobs
