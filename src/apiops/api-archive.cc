#include "api/archive-info.h"

#include "apiops/api-common.h"
#include "apiops/api-schedule.h"
#include "docstorage/docstorage.h"
#include "fetchqueue/fetchqueue.h"
#include "idxstorage/idxstorage.h"
#include "logstorage/logstorage.h"
#include "util/log.h"

#include <algorithm>

namespace lumbrake {

namespace {

// Read access on the source and authentication that an archive names (0 or less: none).
bool references_readable(const api& a, const ArchiveConfiguration& cfg) {
    if (cfg.Source > 0 &&
        !a.has_access(a.referenced_acl<SourceConfiguration>(cfg.Source), READACCESS))
        return false;
    if (cfg.Auth > 0 && !a.has_access(a.referenced_acl<AuthConfiguration>(cfg.Auth), READACCESS))
        return false;
    return true;
}

// Whether a collection lists the archive.
bool collection_lists(sqlite3* db, std::int32_t id) {
    std::vector<int> ids;
    cfgstorage<CollectionConfiguration>::list(db, ids);
    for (int col : ids) {
        CollectionConfiguration collection;
        std::uint32_t magic = 0;
        if (!cfgstorage<CollectionConfiguration>::get(db, col, collection, magic)) continue;
        if (std::find(collection.Archives.begin(), collection.Archives.end(), id) !=
            collection.Archives.end())
            return true;
    }
    return false;
}

} // namespace

void api::fill_archive_info(ArchiveInfo& info) {
    run_state state;
    const ArchiveConfiguration& cfg = info.Configuration;
    if (ctx_.services.logs) {
        fill_run_state(db(), *ctx_.services.logs, info.Archive, cfg.SchedulingFrequency,
                       cfg.SchedulingAttribute, cfg.AccessTime, now(), state);
    } else {
        state.NextRun =
            next_run_at(cfg.SchedulingFrequency, cfg.SchedulingAttribute, cfg.AccessTime, now());
    }
    copy_run_state(state, info);
}

void api::add_archive(api_result& res, const ArchiveConfiguration& cfg, ArchiveInfo& info) {
    res.set_ok();
    if (!has_root_access(ROOTACL_CRAWLING, WRITEACCESS)) return res.set_error(API_ACCESS_VIOLATION);
    if (!references_readable(*this, cfg)) return res.set_error(API_ACCESS_VIOLATION);
    info = ArchiveInfo{};
    info.Configuration = cfg;
    info.ReadOnly = read_only(cfg.ACL);
    info.Archive = cfgstorage<ArchiveConfiguration>::add(db(), cfg, info.Magic);
    // A record that cannot be written as XML is not stored.
    if (info.Archive == 0) return res.set_error(API_INVALID_ENTITY);
    fill_archive_info(info);
}

void api::remove_archive(api_result& res, std::int32_t id) {
    res.set_ok();
    ArchiveConfiguration stored;
    std::uint32_t magic = 0;
    if (!load_checked(res, id, WRITEACCESS, stored, magic)) return;
    if (collection_lists(db(), id)) return res.set_error(API_IN_USE);

    // Every storage keyed by the archive id, then the record itself.
    const crawl_services& s = ctx_.services;
    const auto arcid = static_cast<std::uint32_t>(id);
    if (s.queue) s.queue->clear_archive(db(), arcid);
    if (s.logs) s.logs->remove_archive(db(), id);
    if (s.docs) s.docs->remove_archive(db(), arcid);
    if (s.index) s.index->remove_archive(id);
    cfgstorage<ArchiveConfiguration>::remove(db(), id);
    TN_LOG(LF_API, LL_INFO, "archive " << id << " removed by " << ctx_.user);
}

void api::get_archive_configuration(api_result& res, std::int32_t id, ArchiveConfiguration& cfg,
                                    std::uint32_t& magic) {
    res.set_ok();
    ArchiveConfiguration stored;
    std::uint32_t stamp = 0;
    if (!load_checked(res, id, READACCESS, stored, stamp)) return;
    cfg = std::move(stored);
    magic = stamp;
}

void api::set_archive_configuration(api_result& res, std::int32_t id,
                                    const ArchiveConfiguration& cfg, std::uint32_t magic,
                                    ArchiveInfo& info) {
    res.set_ok();
    ArchiveConfiguration stored;
    std::uint32_t stamp = 0;
    if (!load_checked(res, id, WRITEACCESS, stored, stamp)) return;
    ArchiveConfiguration record = cfg;
    // Fixed when the archive is added: the stored versions depend on it.
    record.Historicize = stored.Historicize;
    if (!references_readable(*this, record)) return res.set_error(API_ACCESS_VIOLATION);
    if (!storable(record)) return res.set_error(API_INVALID_ENTITY);
    info = ArchiveInfo{};
    info.Archive = id;
    info.Configuration = record;
    info.ReadOnly = read_only(record.ACL);
    info.Magic = magic;
    if (!cfgstorage<ArchiveConfiguration>::set(db(), id, record, info.Magic))
        return res.set_error(API_BAD_MAGIC);
    fill_archive_info(info);
}

void api::get_archive_info(api_result& res, std::int32_t id, ArchiveInfo& info) {
    res.set_ok();
    ArchiveConfiguration stored;
    std::uint32_t stamp = 0;
    if (!load_checked(res, id, READACCESS, stored, stamp)) return;
    info = ArchiveInfo{};
    info.Archive = id;
    info.Configuration = std::move(stored);
    info.Magic = stamp;
    info.ReadOnly = read_only(info.Configuration.ACL);
    fill_archive_info(info);
}

void api::enum_archive_configurations(api_result& res, std::vector<ArchiveInfo>& infos) {
    res.set_ok();
    std::vector<int> ids;
    cfgstorage<ArchiveConfiguration>::list(db(), ids);
    for (int id : ids) {
        ArchiveInfo info;
        if (!cfgstorage<ArchiveConfiguration>::get(db(), id, info.Configuration, info.Magic))
            continue;
        if (!has_access(info.Configuration.ACL, READACCESS)) continue;
        info.Archive = id;
        info.ReadOnly = read_only(info.Configuration.ACL);
        fill_archive_info(info);
        infos.push_back(std::move(info));
    }
}

} // namespace lumbrake
