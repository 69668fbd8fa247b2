#include "api/collection-info.h"

#include "apiops/api-common.h"
#include "trawlnestd/cfgstorage.h"

namespace lumbrake {

namespace {

// Read access on every listed archive, stopping at the first refusal. A missing archive has an
// empty ACL, so only administrators may list it.
bool archives_readable(const api& a, const CollectionConfiguration& cfg) {
    for (std::int32_t id : cfg.Archives) {
        ArchiveConfiguration archive;
        std::uint32_t magic = 0;
        std::vector<AccessSpec> acl;
        if (cfgstorage<ArchiveConfiguration>::get(a.db(), id, archive, magic)) acl = archive.ACL;
        if (!a.has_access(acl, READACCESS)) return false;
    }
    return true;
}

// Whether the record can be written as XML: a text no XML can carry is refused before any write
// instead of being reported as a stale magic or silently dropped.
bool collection_writable(const CollectionConfiguration& cfg) {
    std::string xml;
    return collection_to_xml(cfg, xml);
}

// Loads a stored collection that the caller may access; false (code 2) when it is missing or
// refused.
bool load_collection(const api& a, api_result& res, std::int32_t id, int access,
                     CollectionConfiguration& cfg, std::uint32_t& magic) {
    if (!cfgstorage<CollectionConfiguration>::get(a.db(), id, cfg, magic) ||
        !a.has_access(cfg.ACL, access)) {
        res.set_error(API_ACCESS_VIOLATION);
        return false;
    }
    return true;
}

// Whether a stored watch searches collection `id`.
bool watched(sqlite3* db, std::int32_t id) {
    std::vector<int> ids;
    cfgstorage<WatchConfiguration>::list(db, ids);
    for (int watch_id : ids) {
        WatchConfiguration watch;
        std::uint32_t magic = 0;
        if (!cfgstorage<WatchConfiguration>::get(db, watch_id, watch, magic)) continue;
        if (watch.Collection == id) return true;
    }
    return false;
}

} // namespace

void api::add_collection(api_result& res, const CollectionConfiguration& cfg,
                         CollectionInfo& info) {
    res.set_ok();
    if (!has_root_access(ROOTACL_BROWSING, WRITEACCESS)) return res.set_error(API_ACCESS_VIOLATION);
    if (!archives_readable(*this, cfg)) return res.set_error(API_ACCESS_VIOLATION);
    info.Configuration = cfg;
    info.ReadOnly = read_only(cfg.ACL);
    info.Magic = 0;
    info.Collection = cfgstorage<CollectionConfiguration>::add(db(), cfg, info.Magic);
    if (info.Collection == 0) return res.set_error(API_INVALID_ENTITY);
}

void api::remove_collection(api_result& res, std::int32_t id) {
    res.set_ok();
    CollectionConfiguration stored;
    std::uint32_t magic = 0;
    if (!load_collection(*this, res, id, WRITEACCESS, stored, magic)) return;
    if (watched(db(), id)) return res.set_error(API_IN_USE);
    // The archives it listed stay as they are.
    cfgstorage<CollectionConfiguration>::remove(db(), id);
}

void api::get_collection_configuration(api_result& res, std::int32_t id,
                                       CollectionConfiguration& cfg, std::uint32_t& magic) {
    res.set_ok();
    CollectionConfiguration stored;
    std::uint32_t stamp = 0;
    if (!load_collection(*this, res, id, READACCESS, stored, stamp)) return;
    cfg = std::move(stored);
    magic = stamp;
}

void api::set_collection_configuration(api_result& res, std::int32_t id,
                                       const CollectionConfiguration& cfg, std::uint32_t magic,
                                       CollectionInfo& info) {
    res.set_ok();
    CollectionConfiguration stored;
    std::uint32_t stamp = 0;
    if (!load_collection(*this, res, id, WRITEACCESS, stored, stamp)) return;
    if (!archives_readable(*this, cfg)) return res.set_error(API_ACCESS_VIOLATION);
    if (!collection_writable(cfg)) return res.set_error(API_INVALID_ENTITY);
    info.Collection = id;
    info.Configuration = cfg;
    info.ReadOnly = read_only(cfg.ACL);
    info.Magic = magic;
    if (!cfgstorage<CollectionConfiguration>::set(db(), id, cfg, info.Magic))
        return res.set_error(API_BAD_MAGIC);
}

void api::enum_collection_configurations(api_result& res, std::vector<CollectionInfo>& infos) {
    res.set_ok();
    infos.clear();
    std::vector<int> ids;
    cfgstorage<CollectionConfiguration>::list(db(), ids);
    for (int id : ids) {
        CollectionInfo info;
        if (!cfgstorage<CollectionConfiguration>::get(db(), id, info.Configuration, info.Magic))
            continue;
        if (!has_access(info.Configuration.ACL, READACCESS)) continue;
        info.Collection = id;
        info.ReadOnly = read_only(info.Configuration.ACL);
        infos.push_back(std::move(info));
    }
}

} // namespace lumbrake
