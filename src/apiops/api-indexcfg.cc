#include "api/indexcfg-info.h"

#include "apiops/api-common.h"
#include "apiops/api-schedule.h"
#include "apiops/api-source.h"
#include "trawlnestd/cfgstorage.h"
#include "util/log.h"

namespace lumbrake {

namespace {

// An index configuration's two records as stored, with their magics.
struct index_records {
    ArchiveConfiguration archive;
    std::uint32_t archive_magic = 0;
    SourceConfiguration source;
    std::uint32_t source_magic = 0;

    std::uint32_t magic() const { return index_magic(archive_magic, source_magic); }
};

bool load_index(sqlite3* db, std::int32_t id, index_records& rec) {
    if (!cfgstorage<ArchiveConfiguration>::get(db, id, rec.archive, rec.archive_magic))
        return false;
    return cfgstorage<SourceConfiguration>::get(db, rec.archive.Source, rec.source,
                                                rec.source_magic);
}

void to_configuration(const index_records& rec, IndexConfiguration& cfg) {
    const ArchiveConfiguration& a = rec.archive;
    const SourceConfiguration& s = rec.source;
    cfg.Name = a.Name;
    cfg.Historicize = a.Historicize;
    cfg.AdministrativeContact = a.AdministrativeContact;
    cfg.Seeds = s.Seeds;
    cfg.IncludeFilters = s.IncludeFilters;
    cfg.ExcludeFilters = s.ExcludeFilters;
    cfg.SchedulingFrequency = a.SchedulingFrequency;
    cfg.SchedulingAttribute = a.SchedulingAttribute;
    cfg.AccessTime = a.AccessTime;
    cfg.PagesLimit = a.PagesLimit;
    cfg.DepthLimit = s.DepthLimit;
    cfg.GarbageLimit = a.GarbageLimit;
}

void apply_to_source(const IndexConfiguration& cfg, SourceConfiguration& s) {
    s.Name = cfg.Name;
    // Canonical the way the source operations store them.
    s.Seeds = cfg.Seeds;
    normalize_seeds(s);
    s.IncludeFilters = cfg.IncludeFilters;
    s.ExcludeFilters = cfg.ExcludeFilters;
    s.DepthLimit = cfg.DepthLimit;
}

// Historicize is left to the caller: a set keeps the stored flag.
void apply_to_archive(const IndexConfiguration& cfg, ArchiveConfiguration& a) {
    a.Name = cfg.Name;
    a.AdministrativeContact = cfg.AdministrativeContact;
    a.SchedulingFrequency = cfg.SchedulingFrequency;
    a.SchedulingAttribute = cfg.SchedulingAttribute;
    a.AccessTime = cfg.AccessTime;
    a.PagesLimit = cfg.PagesLimit;
    a.GarbageLimit = cfg.GarbageLimit;
}

// True when both records can be written; checked before the first write so that a record
// the XML form cannot carry never leaves the other one written alone.
bool serialisable(const SourceConfiguration& s, const ArchiveConfiguration& a) {
    std::string text;
    return cfg_record_traits<SourceConfiguration>::to_xml(s, text) &&
           cfg_record_traits<ArchiveConfiguration>::to_xml(a, text);
}

} // namespace

void api::add_index(api_result& res, const IndexConfiguration& cfg, std::int32_t& id) {
    res.set_ok();
    if (!ctx_.admin) return res.set_error(API_ACCESS_VIOLATION);

    SourceConfiguration source;
    apply_to_source(cfg, source);
    source.CheckRobotsTxt = true;
    source.HasSideMetadata = false;
    source.Type = AUTH_NONE;
    source.CookieParams.Action = COOKIE_GET;
    source.CookieParams.Freshness = 0;

    ArchiveConfiguration archive;
    apply_to_archive(cfg, archive);
    archive.Historicize = cfg.Historicize;
    archive.Auth = 0;
    archive.DocumentCache = FULLCACHE;

    if (!serialisable(source, archive)) {
        TN_LOG(LF_API, LL_ERROR, "AddIndex: the configuration cannot be stored");
        return res.set_error(API_INVALID_ENTITY);
    }
    std::uint32_t magic = 0;
    const int source_id = cfgstorage<SourceConfiguration>::add(db(), source, magic);
    if (source_id == 0) return res.set_error(API_INVALID_ENTITY);
    archive.Source = source_id;
    const int archive_id = cfgstorage<ArchiveConfiguration>::add(db(), archive, magic);
    if (archive_id == 0) {
        // No archive id left: take the source back rather than leave it orphaned.
        cfgstorage<SourceConfiguration>::remove(db(), source_id);
        return res.set_error(API_INVALID_ENTITY);
    }
    id = archive_id;
}

void api::remove_index(api_result& res, std::int32_t id) {
    res.set_ok();
    ArchiveConfiguration archive;
    std::uint32_t magic = 0;
    if (!ctx_.admin || !cfgstorage<ArchiveConfiguration>::get(db(), id, archive, magic))
        return res.set_error(API_ACCESS_VIOLATION);
    remove_archive(res, id);
    if (!res.ok) return;
    // The archive stays removed when its source is still named by another archive.
    remove_source(res, archive.Source);
}

void api::get_index_configuration(api_result& res, std::int32_t id, IndexConfiguration& cfg,
                                  std::uint32_t& magic) {
    res.set_ok();
    index_records rec;
    if (!ctx_.admin || !load_index(db(), id, rec)) return res.set_error(API_ACCESS_VIOLATION);
    to_configuration(rec, cfg);
    magic = rec.magic();
}

void api::set_index_configuration(api_result& res, std::int32_t id, const IndexConfiguration& cfg,
                                  std::uint32_t magic) {
    res.set_ok();
    index_records rec;
    if (!ctx_.admin || !load_index(db(), id, rec)) return res.set_error(API_ACCESS_VIOLATION);
    if (magic != rec.magic()) return res.set_error(API_BAD_MAGIC);

    apply_to_source(cfg, rec.source);
    apply_to_archive(cfg, rec.archive);
    if (!serialisable(rec.source, rec.archive)) return res.set_error(API_INVALID_ENTITY);
    if (!cfgstorage<SourceConfiguration>::set(db(), rec.archive.Source, rec.source,
                                              rec.source_magic))
        return res.set_error(API_BAD_MAGIC);
    if (!cfgstorage<ArchiveConfiguration>::set(db(), id, rec.archive, rec.archive_magic))
        return res.set_error(API_BAD_MAGIC);
}

void api::enum_index_configurations(api_result& res, std::vector<IndexInfo>& infos) {
    res.set_ok();
    infos.clear();
    if (!ctx_.admin) return;
    std::vector<int> ids;
    cfgstorage<ArchiveConfiguration>::list(db(), ids);
    for (int id : ids) {
        index_records rec;
        if (!load_index(db(), id, rec)) continue;
        IndexInfo info;
        info.Name = rec.archive.Name;
        info.Index = id;
        info.Historicize = rec.archive.Historicize;
        to_configuration(rec, info.Configuration);
        info.Magic = rec.magic();
        run_state state;
        fill_run_state(db(), *ctx_.services.logs, id, rec.archive.SchedulingFrequency,
                       rec.archive.SchedulingAttribute, rec.archive.AccessTime, now(), state);
        copy_run_state(state, info);
        infos.push_back(std::move(info));
    }
}

} // namespace lumbrake
