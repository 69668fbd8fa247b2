#include "apiops/api-source.h"

#include "apiops/api-common.h"
#include "trawlnestd/cfgstorage.h"
#include "util/uri.h"

namespace lumbrake {

void normalize_seeds(SourceConfiguration& cfg) {
    for (std::string& seed : cfg.Seeds)
        seed = canonicalize_url(seed);
}

namespace {

// Read access on every document filter of the renderer list, stopping at the first refusal.
bool docfilters_readable(const api& a, const SourceConfiguration& cfg) {
    for (std::int32_t id : cfg.RendererDocFilterIDs)
        if (!a.has_access(a.referenced_acl<DocFilter>(id), READACCESS)) return false;
    return true;
}

// Whether an archive's field `member` names `id`.
bool archive_names(sqlite3* db, std::int32_t ArchiveConfiguration::*member, std::int32_t id) {
    std::vector<int> ids;
    cfgstorage<ArchiveConfiguration>::list(db, ids);
    for (int arc : ids) {
        ArchiveConfiguration archive;
        std::uint32_t magic = 0;
        if (!cfgstorage<ArchiveConfiguration>::get(db, arc, archive, magic)) continue;
        if (archive.*member == id) return true;
    }
    return false;
}

} // namespace

void api::add_source(api_result& res, const SourceConfiguration& cfg, SourceInfo& info) {
    res.set_ok();
    if (!has_root_access(ROOTACL_CRAWLING, WRITEACCESS)) return res.set_error(API_ACCESS_VIOLATION);
    SourceConfiguration record = cfg;
    normalize_seeds(record);
    if (!docfilters_readable(*this, record)) return res.set_error(API_ACCESS_VIOLATION);
    info.Configuration = record;
    info.ReadOnly = read_only(record.ACL);
    info.Magic = 0;
    info.Source = cfgstorage<SourceConfiguration>::add(db(), record, info.Magic);
    // A record that cannot be written as XML (a text no XML can carry) is not stored.
    if (info.Source == 0) return res.set_error(API_INVALID_ENTITY);
}

void api::remove_source(api_result& res, std::int32_t id) {
    res.set_ok();
    SourceConfiguration stored;
    std::uint32_t magic = 0;
    if (!load_checked(res, id, WRITEACCESS, stored, magic)) return;
    if (archive_names(db(), &ArchiveConfiguration::Source, id)) return res.set_error(API_IN_USE);
    cfgstorage<SourceConfiguration>::remove(db(), id);
}

void api::get_source_configuration(api_result& res, std::int32_t id, SourceConfiguration& cfg,
                                   std::uint32_t& magic) {
    res.set_ok();
    SourceConfiguration stored;
    std::uint32_t stamp = 0;
    if (!load_checked(res, id, READACCESS, stored, stamp)) return;
    cfg = std::move(stored);
    magic = stamp;
}

void api::set_source_configuration(api_result& res, std::int32_t id, const SourceConfiguration& cfg,
                                   std::uint32_t magic, SourceInfo& info) {
    res.set_ok();
    SourceConfiguration stored;
    std::uint32_t stamp = 0;
    if (!load_checked(res, id, WRITEACCESS, stored, stamp)) return;
    SourceConfiguration record = cfg;
    normalize_seeds(record);
    if (!docfilters_readable(*this, record)) return res.set_error(API_ACCESS_VIOLATION);
    info.Source = id;
    info.Configuration = record;
    info.ReadOnly = read_only(record.ACL);
    info.Magic = magic;
    if (!storable(record)) return res.set_error(API_INVALID_ENTITY);
    if (!cfgstorage<SourceConfiguration>::set(db(), id, record, info.Magic))
        return res.set_error(API_BAD_MAGIC);
}

void api::enum_source_configurations(api_result& res, std::vector<SourceInfo>& infos) {
    res.set_ok();
    std::vector<int> ids;
    cfgstorage<SourceConfiguration>::list(db(), ids);
    for (int id : ids) {
        SourceInfo info;
        if (!cfgstorage<SourceConfiguration>::get(db(), id, info.Configuration, info.Magic))
            continue;
        if (!has_access(info.Configuration.ACL, READACCESS)) continue;
        info.Source = id;
        info.ReadOnly = read_only(info.Configuration.ACL);
        infos.push_back(std::move(info));
    }
}

void api::add_auth(api_result& res, const AuthConfiguration& cfg, std::int32_t& id) {
    res.set_ok();
    if (!has_root_access(ROOTACL_CRAWLING, WRITEACCESS)) return res.set_error(API_ACCESS_VIOLATION);
    std::uint32_t magic = 0;
    std::int32_t new_id = cfgstorage<AuthConfiguration>::add(db(), cfg, magic);
    if (new_id == 0) return res.set_error(API_INVALID_ENTITY);
    id = new_id;
}

void api::remove_auth(api_result& res, std::int32_t id) {
    res.set_ok();
    AuthConfiguration stored;
    std::uint32_t magic = 0;
    if (!load_checked(res, id, WRITEACCESS, stored, magic)) return;
    if (archive_names(db(), &ArchiveConfiguration::Auth, id)) return res.set_error(API_IN_USE);
    cfgstorage<AuthConfiguration>::remove(db(), id);
}

void api::get_auth_configuration(api_result& res, std::int32_t id, AuthConfiguration& cfg,
                                 std::uint32_t& magic) {
    res.set_ok();
    AuthConfiguration stored;
    std::uint32_t stamp = 0;
    if (!load_checked(res, id, READACCESS, stored, stamp)) return;
    cfg = std::move(stored);
    magic = stamp;
}

void api::set_auth_configuration(api_result& res, std::int32_t id, const AuthConfiguration& cfg,
                                 std::uint32_t magic) {
    res.set_ok();
    AuthConfiguration stored;
    std::uint32_t stamp = 0;
    if (!load_checked(res, id, WRITEACCESS, stored, stamp)) return;
    if (!storable(cfg)) return res.set_error(API_INVALID_ENTITY);
    if (!cfgstorage<AuthConfiguration>::set(db(), id, cfg, magic)) res.set_error(API_BAD_MAGIC);
}

} // namespace lumbrake
