// The import and export jobs as the service front end calls them.
#pragma once

#include <functional>
#include <string>

namespace lumbrake {

class config;

bool run_export_job(const config& cfg, const std::string& directory, std::string& error);
bool run_import_job(const config& cfg, const std::string& directory,
                    const std::function<bool(std::string& error)>& reset, std::string& error);

} // namespace lumbrake
