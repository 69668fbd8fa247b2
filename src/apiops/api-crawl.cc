// Crawl control outside the schedule (start, stop, reprocess) and the crawl and query logs of
// an archive. These operations only open and close crawl records and fill or empty the fetch
// queue; the process threads do the crawling and close the record when the queue runs dry.
#include "api/archive-info.h"
#include "apiops/api-common.h"
#include "docstorage/docstorage.h"
#include "fetchqueue/fetchqueue.h"
#include "logstorage/logstorage.h"
#include "trawlnestd/cfgstorage.h"
#include "trawlnestd/seed-queue.h"
#include "util/log.h"

namespace lumbrake {

namespace {

// Whether the caller reads archive `arcid`; error 2 in `res` when not or when it is missing.
bool archive_readable(const api& call, api_result& res, std::int32_t arcid) {
    ArchiveConfiguration archive;
    std::uint32_t magic = 0;
    return call.load_checked(res, arcid, READACCESS, archive, magic);
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
    if (!call.load_checked(res, arcid, WRITEACCESS, archive, magic)) return false;
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
    const std::int64_t seeds = start_crawl_from_seeds(
        db(), *ctx_.services.logs, *ctx_.services.queue, arcid, info.Configuration.Source, now());
    if (seeds < 0) return;
    TN_LOG(LF_API, LL_INFO, "Crawl of archive " << arcid << " started with " << seeds << " seeds");
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
    if (!archive_readable(*this, res, arcid)) return;
    ctx_.services.logs->crawl_starts(db(), arcid, logs);
}

void api::get_crawl_log(api_result& res, std::int32_t arcid, std::int32_t nmax, CrawlLog& cursor,
                        std::vector<CrawlLogData>& rows) {
    res.set_ok();
    rows.clear();
    if (!archive_readable(*this, res, arcid)) return;
    ctx_.services.logs->document_log(db(), arcid, nmax, cursor, rows);
}

void api::get_query_log(api_result& res, std::int32_t arcid, std::int32_t begin, std::int32_t end,
                        std::vector<QueryLogData>& rows) {
    res.set_ok();
    rows.clear();
    if (!archive_readable(*this, res, arcid)) return;
    ctx_.services.logs->query_log(db(), arcid, begin, end, rows);
}

} // namespace lumbrake
