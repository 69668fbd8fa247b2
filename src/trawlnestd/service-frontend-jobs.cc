// Kept apart from the application object's header: the import and export jobs live in a
// namespace that bears the application class's name.
#include "trawlnestd/service-frontend-jobs.h"

#include "trawlnestd/export-job.h"
#include "trawlnestd/import-job.h"

namespace lumbrake {

bool run_export_job(const config& cfg, const std::string& directory, std::string& error) {
    return trawlnestd::export_config(cfg, directory, error);
}

bool run_import_job(const config& cfg, const std::string& directory,
                    const std::function<bool(std::string& error)>& reset, std::string& error) {
    return trawlnestd::import_config(cfg, directory, reset, error);
}

} // namespace lumbrake
