#include "apiops/api-plugin.h"

#include "apiops/api-common.h"
#include "plugin-system/plugins_loader.h"
#include "trawlnestd/cfgstorage.h"
#include "util/log.h"

#include <algorithm>
#include <map>

namespace lumbrake {

std::vector<PluginDLLInfo> plugin_dll_descriptions(const config& cfg,
                                                   const std::vector<PluginType>* types,
                                                   const char* loaded_line) {
    std::vector<PluginDLLInfo> all;
    {
        // Lives for this call only: its destruction unregisters every plug-in and frees every
        // library, whichever way we leave.
        fff_plugins_loader loader(false, cfg);
        loader.load_plugins();
        TN_LOG(LF_API, LL_BORING, loaded_line);
        loader.activate_plugins(all);
    }
    if (!types) return all;
    std::vector<PluginDLLInfo> kept;
    for (PluginDLLInfo& dll : all) {
        if (!types->empty() && std::find(types->begin(), types->end(), dll.Type) == types->end()) {
            TN_LOG(LF_API, LL_BORING, "Skipped plugindll " << dll.Name);
            continue;
        }
        TN_LOG(LF_API, LL_BORING, "Added plugindll " << dll.Name);
        kept.push_back(std::move(dll));
    }
    return kept;
}

namespace {

// The type of the first library that registers under `dll_name`; unknown when none does.
PluginType type_of_dll(const config& cfg, const std::string& dll_name) {
    for (const PluginDLLInfo& dll : plugin_dll_descriptions(cfg, nullptr, "Plugins loaded"))
        if (dll.Name == dll_name) return dll.Type;
    return UNKNOWN_PLUGINTYPE;
}

std::map<std::string, PluginDLLInfo> dll_table(const config& cfg,
                                               const std::vector<PluginType>& types) {
    std::map<std::string, PluginDLLInfo> table;
    // The first library of a name wins, as in the single look-ups.
    for (PluginDLLInfo& dll : plugin_dll_descriptions(cfg, &types, "Plugins loaded"))
        table.emplace(dll.Name, std::move(dll));
    return table;
}

// The plug-in records the caller may read, in id order, with their stamps.
struct readable_plugin {
    int id;
    Plugin record;
    std::uint32_t magic;
};

template <class MayRead>
std::vector<readable_plugin> readable_plugins(sqlite3* db, const MayRead& may_read) {
    std::vector<readable_plugin> result;
    std::vector<int> ids;
    cfgstorage<Plugin>::list(db, ids);
    for (int id : ids) {
        readable_plugin entry{id, {}, 0};
        if (!cfgstorage<Plugin>::get(db, id, entry.record, entry.magic) ||
            !may_read(entry.record.ACL)) {
            TN_LOG(LF_API, LL_BORING, "Skipping plugin " << entry.record.Name << " due to ACL");
            continue;
        }
        result.push_back(std::move(entry));
    }
    return result;
}

} // namespace

void api::enum_plugin_dlls(api_result& res, const std::vector<PluginType>& types,
                           std::vector<PluginDLLInfo>& dlls) {
    res.set_ok();
    dlls = plugin_dll_descriptions(*ctx_.services.cfg, &types, "Plugindlls loaded");
    TN_LOG(LF_API, LL_BORING, "Finished adding plugindlls");
}

void api::enum_plugins(api_result& res, const std::vector<PluginType>& types, bool full,
                       std::vector<PluginInfo>& plugins) {
    res.set_ok();
    plugins.clear();
    const auto dlls = dll_table(*ctx_.services.cfg, types);
    auto may_read = [this](const std::vector<AccessSpec>& acl) {
        return has_access(acl, READACCESS);
    };
    for (auto& [id, record, magic] : readable_plugins(db(), may_read)) {
        auto dll = dlls.find(record.DLLName);
        if (dll == dlls.end()) {
            TN_LOG(LF_API, LL_ERROR,
                   "Skipped plugin " << record.Name << " (cannot find plugin DLL " << record.DLLName
                                     << ")");
            continue;
        }
        PluginInfo info;
        info.PluginID = id;
        info.Type = dll->second.Type;
        info.ReadOnly = read_only(record.ACL);
        info.PluginConfiguration = std::move(record);
        if (!full) info.PluginConfiguration.DLLParameters.clear();
        info.Magic = magic;
        TN_LOG(LF_API, LL_BORING, "Adding plugin " << info.PluginConfiguration.Name);
        plugins.push_back(std::move(info));
    }
    TN_LOG(LF_API, LL_BORING, "Finished adding plugins");
}

void api::enum_doc_filters(api_result& res, const std::vector<PluginType>& types, bool full,
                           std::vector<DocFilterInfo>& filters) {
    res.set_ok();
    filters.clear();
    const auto dlls = dll_table(*ctx_.services.cfg, types);

    std::map<int, Plugin> plugins;
    auto may_read = [this](const std::vector<AccessSpec>& acl) {
        return has_access(acl, READACCESS);
    };
    for (auto& entry : readable_plugins(db(), may_read))
        plugins.emplace(entry.id, std::move(entry.record));

    std::vector<int> ids;
    cfgstorage<DocFilter>::list(db(), ids);
    for (int id : ids) {
        DocFilter record;
        std::uint32_t magic = 0;
        if (!cfgstorage<DocFilter>::get(db(), id, record, magic) ||
            !has_access(record.ACL, READACCESS)) {
            TN_LOG(LF_API, LL_BORING, "Skipping docfilter " << record.Name << " due to ACL");
            continue;
        }
        auto plugin = plugins.find(record.PluginID);
        if (plugin == plugins.end()) {
            TN_LOG(LF_API, LL_BORING, "Skipping plugin " << record.PluginID << " ???");
            continue;
        }
        auto dll = dlls.find(plugin->second.DLLName);
        if (dll == dlls.end()) {
            TN_LOG(LF_API, LL_BORING,
                   "Skipping pluginDLL " << plugin->second.DLLName << " maybe due to type");
            continue;
        }
        TN_LOG(LF_API, LL_BORING,
               "Adding pluginDLL " << plugin->second.DLLName << " maybe due to type");
        DocFilterInfo info;
        info.DocFilterID = id;
        info.Type = dll->second.Type;
        info.ReadOnly = read_only(record.ACL);
        info.DocFilterConfiguration = std::move(record);
        if (!full) info.DocFilterConfiguration.Config.clear();
        info.Magic = magic;
        filters.push_back(std::move(info));
    }
}

namespace {

// Plug-ins and document filters are added by whoever may write the crawling root ACL.
template <class T>
void add_crawling_record(const api& a, api_result& res, const T& record, std::int32_t& id) {
    res.set_ok();
    id = 0;
    if (!a.has_root_access(ROOTACL_CRAWLING, WRITEACCESS)) {
        res.set_error(API_ACCESS_VIOLATION);
        return;
    }
    std::uint32_t magic = 0;
    id = cfgstorage<T>::add(a.db(), record, magic);
    // No id left in the counter: nothing was stored, which must not pass for success.
    if (id == 0) res.set_error(API_ERROR_WRITING_ENTITY);
}

} // namespace

void api::add_plugin(api_result& res, const Plugin& plugin, std::int32_t& id) {
    add_crawling_record(*this, res, plugin, id);
}

void api::add_doc_filter(api_result& res, const DocFilter& filter, std::int32_t& id) {
    add_crawling_record(*this, res, filter, id);
}

void api::remove_plugin(api_result& res, std::int32_t id) {
    res.set_ok();
    Plugin stored;
    std::uint32_t magic = 0;
    if (!load_checked(res, id, WRITEACCESS, stored, magic)) return;
    cfgstorage<Plugin>::remove(db(), id);
}

void api::remove_doc_filter(api_result& res, std::int32_t id) {
    res.set_ok();
    DocFilter stored;
    std::uint32_t magic = 0;
    if (!load_checked(res, id, WRITEACCESS, stored, magic)) return;
    bool in_use = false;
    RendererPluginPipe pipe;
    if (cfgstorage<RendererPluginPipe>::get(db(), ROOT_RENDERER_PIPE_ID, pipe, magic))
        in_use = std::find(pipe.DocFilterIDs.begin(), pipe.DocFilterIDs.end(), id) !=
                 pipe.DocFilterIDs.end();
    if (!in_use) {
        std::vector<int> sources;
        cfgstorage<SourceConfiguration>::list(db(), sources);
        for (int source_id : sources) {
            SourceConfiguration source;
            if (!get_source_streamed(db(), source_id, source, magic, [](const std::string&) {}))
                continue;
            const auto& ids = source.RendererDocFilterIDs;
            if (std::find(ids.begin(), ids.end(), id) != ids.end()) {
                in_use = true;
                break;
            }
        }
    }
    if (in_use) {
        res.set_error(API_IN_USE);
        return;
    }
    cfgstorage<DocFilter>::remove(db(), id);
}

void api::get_plugin(api_result& res, std::int32_t id, Plugin& plugin, std::uint32_t& magic) {
    res.set_ok();
    Plugin stored;
    std::uint32_t stored_magic = 0;
    if (!load_checked(res, id, READACCESS, stored, stored_magic)) return;
    stored.Type = type_of_dll(*ctx_.services.cfg, stored.DLLName);
    plugin = std::move(stored);
    magic = stored_magic;
}

void api::get_doc_filter(api_result& res, std::int32_t id, DocFilter& filter,
                         std::uint32_t& magic) {
    res.set_ok();
    DocFilter stored;
    std::uint32_t stored_magic = 0;
    if (!load_checked(res, id, READACCESS, stored, stored_magic)) return;
    Plugin plugin;
    std::uint32_t plugin_magic = 0;
    if (!load_checked(res, stored.PluginID, READACCESS, plugin, plugin_magic)) return;
    stored.Type = type_of_dll(*ctx_.services.cfg, plugin.DLLName);
    filter = std::move(stored);
    magic = stored_magic;
}

void api::set_plugin(api_result& res, std::int32_t id, const Plugin& plugin, std::uint32_t magic) {
    res.set_ok();
    Plugin stored;
    std::uint32_t stored_magic = 0;
    if (!load_checked(res, id, WRITEACCESS, stored, stored_magic)) return;
    if (!cfgstorage<Plugin>::set(db(), id, plugin, magic)) res.set_error(API_BAD_MAGIC);
}

void api::set_doc_filter(api_result& res, std::int32_t id, const DocFilter& filter,
                         std::uint32_t magic) {
    res.set_ok();
    DocFilter stored;
    std::uint32_t stored_magic = 0;
    if (!load_checked(res, id, WRITEACCESS, stored, stored_magic)) return;
    if (!cfgstorage<DocFilter>::set(db(), id, filter, magic)) res.set_error(API_BAD_MAGIC);
}

void api::get_root_renderer_pipe(api_result& res, std::vector<std::int32_t>& ids,
                                 std::uint32_t& magic) {
    res.set_ok();
    if (!ctx_.admin) {
        res.set_error(API_ACCESS_VIOLATION);
        return;
    }
    RendererPluginPipe pipe;
    std::uint32_t stored_magic = 0;
    if (cfgstorage<RendererPluginPipe>::get(db(), ROOT_RENDERER_PIPE_ID, pipe, stored_magic)) {
        ids = std::move(pipe.DocFilterIDs);
        magic = stored_magic;
        return;
    }
    std::vector<int> all;
    cfgstorage<RendererPluginPipe>::list(db(), all);
    if (!all.empty()) {
        res.set_error(API_ERROR_READING_ENTITY);
        return;
    }
    // No pipe yet: an empty one, with the magic that a first Set may send (any value is
    // accepted while nothing is stored).
    ids.clear();
    magic = 0;
}

void api::set_root_renderer_pipe(api_result& res, const std::vector<std::int32_t>& ids,
                                 std::uint32_t magic) {
    res.set_ok();
    if (!ctx_.admin) {
        res.set_error(API_ACCESS_VIOLATION);
        return;
    }
    RendererPluginPipe pipe;
    pipe.DocFilterIDs = ids;
    if (!cfgstorage<RendererPluginPipe>::set(db(), ROOT_RENDERER_PIPE_ID, pipe, magic))
        res.set_error(API_ERROR_WRITING_ENTITY);
}

} // namespace lumbrake
