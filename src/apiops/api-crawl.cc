// Crawl control outside the schedule (start, stop, reprocess) and the crawl and query logs of
// an archive. These operations only open and close crawl records and fill or empty the fetch
// queue; the process threads do the crawling and close the record when the queue runs dry.
#include "api/archive-info.h"
#include "apiops/api-common.h"
#include "docstorage/docstorage.h"
#include "fetchqueue/fetchqueue.h"
#include "logstorage/logstorage.h"
#include "trawlnestd/cfgstorage.h"
#include "util/log.h"

namespace lumbrake {

namespace {

// Loads the archive and checks the access; false: refused or missing.
bool load_archive(const api& call, std::int32_t arcid, int access, ArchiveConfiguration& archive,
                  std::uint32_t& magic) {
    if (!cfgstorage<ArchiveConfiguration>::get(call.db(), arcid, archive, magic)) return false;
    return call.has_access(archive.ACL, access);
}

// The process threads close a crawl record only after handling one of its URLs: a crawl that
// queued nothing (no seeds, no stored documents) would stay open for ever and keep the
// scheduler from starting the archive again. It ends at once instead.
void end_if_nothing_queued(const api& call, const crawl_services& s, std::int32_t arcid) {
    if (!s.queue->empty(call.db(), static_cast<std::uint32_t>(arcid))) return;
    s.logs->end_crawl(call.db(), arcid, call.now());
    TN_LOG(LF_API, LL_INFO, "Crawl of archive " << arcid << " had nothing to fetch");
}

// The common start of the three crawl-control operations: the archive, write access, and the
// answer filled with the current crawl state. False (answer untouched) on error 2.
bool crawl_control_start(api& call, api_result& res, std::int32_t arcid, ArchiveInfo& info) {
    res.set_ok();
    ArchiveConfiguration archive;
    std::uint32_t magic = 0;
    if (!load_archive(call, arcid, WRITEACCESS, archive, magic)) {
        res.set_error(API_ACCESS_VIOLATION);
        return false;
    }
    info.Archive = arcid;
    info.Configuration = std::move(archive);
    info.Magic = magic;
    info.ReadOnly = call.read_only(info.Configuration.ACL);
    call.fill_archive_info(info);
    return true;
}

} // namespace

void api::start_crawl(api_result& res, std::int32_t arcid, ArchiveInfo& info) {
    if (!crawl_control_start(*this, res, arcid, info)) return;
    if (info.Crawling) return;
    SourceConfiguration source;
    std::uint32_t source_magic = 0;
    if (!cfgstorage<SourceConfiguration>::get(db(), info.Configuration.Source, source,
                                              source_magic))
        return;
    const std::int64_t start = now();
    ctx_.services.logs->start_crawl(db(), arcid, start);
    for (const std::string& seed : source.Seeds)
        ctx_.services.queue->push(db(), static_cast<std::uint32_t>(arcid), seed, 0);
    TN_LOG(LF_API, LL_INFO,
           "Crawl of archive " << arcid << " started with " << source.Seeds.size() << " seeds");
    end_if_nothing_queued(*this, ctx_.services, arcid);
    fill_archive_info(info);
}

void api::stop_crawl(api_result& res, std::int32_t arcid, ArchiveInfo& info) {
    if (!crawl_control_start(*this, res, arcid, info)) return;
    if (!info.Crawling) return;
    ctx_.services.queue->clear_archive(db(), static_cast<std::uint32_t>(arcid));
    ctx_.services.logs->end_crawl(db(), arcid, now());
    TN_LOG(LF_API, LL_INFO, "Crawl of archive " << arcid << " stopped");
    fill_archive_info(info);
}

void api::reprocess_documents(api_result& res, std::int32_t arcid, ArchiveInfo& info) {
    if (!crawl_control_start(*this, res, arcid, info)) return;
    if (info.Crawling) return;
    ctx_.services.logs->start_crawl(db(), arcid, now());
    ctx_.services.docs->queue_reprocess(db(), static_cast<std::uint32_t>(arcid),
                                        *ctx_.services.queue);
    TN_LOG(LF_API, LL_INFO, "Reprocessing of archive " << arcid << " started");
    end_if_nothing_queued(*this, ctx_.services, arcid);
    fill_archive_info(info);
}

void api::get_available_crawl_logs(api_result& res, std::int32_t arcid,
                                   std::vector<CrawlLog>& logs) {
    res.set_ok();
    logs.clear();
    ArchiveConfiguration archive;
    std::uint32_t magic = 0;
    if (!load_archive(*this, arcid, READACCESS, archive, magic))
        return res.set_error(API_ACCESS_VIOLATION);
    ctx_.services.logs->crawl_starts(db(), arcid, logs);
}

void api::get_crawl_log(api_result& res, std::int32_t arcid, std::int32_t nmax, CrawlLog& cursor,
                        std::vector<CrawlLogData>& rows) {
    res.set_ok();
    rows.clear();
    ArchiveConfiguration archive;
    std::uint32_t magic = 0;
    if (!load_archive(*this, arcid, READACCESS, archive, magic))
        return res.set_error(API_ACCESS_VIOLATION);
    ctx_.services.logs->document_log(db(), arcid, nmax, cursor, rows);
}

void api::get_query_log(api_result& res, std::int32_t arcid, std::int32_t begin, std::int32_t end,
                        std::vector<QueryLogData>& rows) {
    res.set_ok();
    rows.clear();
    ArchiveConfiguration archive;
    std::uint32_t magic = 0;
    if (!load_archive(*this, arcid, READACCESS, archive, magic))
        return res.set_error(API_ACCESS_VIOLATION);
    ctx_.services.logs->query_log(db(), arcid, begin, end, rows);
}

} // namespace lumbrake
