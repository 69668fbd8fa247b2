#include "api/status-info.h"

#include "apiops/api-common.h"
#include "docstorage/docstorage.h"
#include "trawlnestd/cfgstorage.h"
#include "util/config.h"
#include "util/uri.h"

#include <string>

namespace lumbrake {

void api::get_status(api_result& res, std::int32_t& status, std::vector<ExtendedStatus>& rows) {
    res.set_ok();
    if (!has_root_access(ROOTACL_BROWSING, READACCESS)) return res.set_error(API_ACCESS_VIOLATION);
    status = RUNNING;
    rows.clear();

    const crawl_services& services = context().services;
    const crawl_settings settings =
        services.cfg ? crawl_settings::read(*services.cfg) : crawl_settings{};
    const int hour = utc_hour(now());
    const std::uint64_t free = services.free_bytes(settings.datadir);
    if (free < settings.min_free_disk)
        status = LOWDISKSPACE;
    else if (!in_crawl_window(hour, settings.crawl_start, settings.crawl_stop))
        status = CRAWLSTOPPED;

    std::int32_t documents = 0;
    std::int64_t bytes = 0;
    if (services.docs) {
        documents = services.docs->document_count(db(), 0);
        bytes = services.docs->byte_count(db(), 0);
    }
    std::vector<int> archives;
    cfgstorage<ArchiveConfiguration>::list(db(), archives);
    const std::uint64_t free_mb = services.free_bytes(settings.datadir) / 1048576ULL;

    rows.push_back({"Platform: number of documents", std::to_string(documents)});
    rows.push_back({"Platform: size of documents", std::to_string(bytes)});
    rows.push_back({"Platform: number of archives", std::to_string(archives.size())});
    rows.push_back({"Platform: free disk space (MB)", std::to_string(free_mb)});
}

void api::get_version(api_result& res, std::string& version) {
    res.set_ok();
    if (!has_root_access(ROOTACL_BROWSING, READACCESS)) return res.set_error(API_ACCESS_VIOLATION);
    version = SERVER_VERSION;
}

void api::get_min_client_version(api_result& res, std::string& version) {
    res.set_ok();
    if (!has_root_access(ROOTACL_BROWSING, READACCESS)) return res.set_error(API_ACCESS_VIOLATION);
    version = MIN_CLIENT_VERSION;
}

void api::get_capabilities(api_result& res, bool& historicize, bool& admin, bool& browsing_write,
                           bool& crawling_write) {
    res.set_ok();
    historicize = true;
    admin = context().admin;
    browsing_write = has_root_access(ROOTACL_BROWSING, WRITEACCESS);
    crawling_write = has_root_access(ROOTACL_CRAWLING, WRITEACCESS);
}

void api::normalize_url(api_result& res, const std::string& url, std::string& normalized) {
    res.set_ok();
    // The form in which seeds are stored.
    normalized = canonicalize_url(url);
}

} // namespace lumbrake
