#include "api/watch-info.h"

#include "apiops/api-common.h"
#include "trawlnestd/cfgstorage.h"

namespace lumbrake {

namespace {

// Whether the record can be written as XML (texts XML can carry, a known parser): refused
// before any write instead of being reported as a stale magic.
bool watch_writable(const WatchConfiguration& cfg) {
    std::string xml;
    return watch_to_xml(cfg, xml);
}

// Loads a stored watch that the caller may access; false (code 2) when it is missing or
// refused.
bool load_watch(const api& a, api_result& res, std::int32_t id, int access, WatchConfiguration& cfg,
                std::uint32_t& magic) {
    if (!cfgstorage<WatchConfiguration>::get(a.db(), id, cfg, magic) ||
        !a.has_access(cfg.ACL, access)) {
        res.set_error(API_ACCESS_VIOLATION);
        return false;
    }
    return true;
}

} // namespace

// The named collection is neither tested nor required to exist: a watch may be set up before
// its collection, and the search checks access when it runs.
void api::add_watch(api_result& res, const WatchConfiguration& cfg, WatchInfo& info) {
    res.set_ok();
    if (!has_root_access(ROOTACL_BROWSING, WRITEACCESS)) return res.set_error(API_ACCESS_VIOLATION);
    info.Configuration = cfg;
    info.ReadOnly = read_only(cfg.ACL);
    info.Magic = 0;
    info.Watch = cfgstorage<WatchConfiguration>::add(db(), cfg, info.Magic);
    if (info.Watch == 0) return res.set_error(API_INVALID_ENTITY);
}

void api::remove_watch(api_result& res, std::int32_t id) {
    res.set_ok();
    WatchConfiguration stored;
    std::uint32_t magic = 0;
    if (!load_watch(*this, res, id, WRITEACCESS, stored, magic)) return;
    cfgstorage<WatchConfiguration>::remove(db(), id);
}

void api::get_watch_configuration(api_result& res, std::int32_t id, WatchConfiguration& cfg,
                                  std::uint32_t& magic) {
    res.set_ok();
    WatchConfiguration stored;
    std::uint32_t stamp = 0;
    if (!load_watch(*this, res, id, READACCESS, stored, stamp)) return;
    cfg = std::move(stored);
    magic = stamp;
}

void api::set_watch_configuration(api_result& res, std::int32_t id, const WatchConfiguration& cfg,
                                  std::uint32_t magic, WatchInfo& info) {
    res.set_ok();
    WatchConfiguration stored;
    std::uint32_t stamp = 0;
    if (!load_watch(*this, res, id, WRITEACCESS, stored, stamp)) return;
    if (!watch_writable(cfg)) return res.set_error(API_INVALID_ENTITY);
    info.Watch = id;
    info.Configuration = cfg;
    info.ReadOnly = read_only(cfg.ACL);
    info.Magic = magic;
    if (!cfgstorage<WatchConfiguration>::set(db(), id, cfg, info.Magic))
        return res.set_error(API_BAD_MAGIC);
}

void api::enum_watch_configurations(api_result& res, std::vector<WatchInfo>& infos) {
    res.set_ok();
    infos.clear();
    std::vector<int> ids;
    cfgstorage<WatchConfiguration>::list(db(), ids);
    for (int id : ids) {
        WatchInfo info;
        if (!cfgstorage<WatchConfiguration>::get(db(), id, info.Configuration, info.Magic))
            continue;
        if (!has_access(info.Configuration.ACL, READACCESS)) continue;
        info.Watch = id;
        info.ReadOnly = read_only(info.Configuration.ACL);
        infos.push_back(std::move(info));
    }
}

} // namespace lumbrake
