#include "plugin-system/plugins_loader.h"

#include <cstring>

#include "api/api-types.h"
#include "util/log.h"
#include "util/syslayer.h"

namespace lumbrake {

namespace {

// Plug-in strings are printed through this: a null pointer prints as nothing.
const char* str(const char* s) {
    return s ? s : "";
}

lumbrake_registration_fn registration_of(const p_dlext::library& lib) {
    if (!lib.loaded || lib.symbols.empty() || !lib.symbols[0]) return nullptr;
    return reinterpret_cast<lumbrake_registration_fn>(lib.symbols[0]);
}

// Calls into a plug-in. A C++ plug-in that lets an exception escape is logged and treated
// as having failed.
template <typename F> bool guarded(const char* what, F&& call) {
    try {
        call();
        return true;
    } catch (...) {
        TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Exception from plugin in " << what);
        return false;
    }
}

} // namespace

plugins_loader_base::plugins_loader_base(bool flag, const config& cfg) : cfg_(cfg), flag_(flag) {}

plugins_loader_base::~plugins_loader_base() {
    // Docfilters first: their configurations belong to plug-ins that are still registered.
    while (!docfilters_.empty()) {
        int id = docfilters_.begin()->first;
        if (!remove_docfilter(id)) {
            // Its plug-in is gone; the cell is still ours to free.
            free_cell(docfilters_.begin()->second.config);
            docfilters_.erase(docfilters_.begin());
        }
    }

    TN_LOG(LF_PLUGINSYSTEM, LL_DEBUG, "Unregistering plugins");
    for (auto it = plugins_.begin(); it != plugins_.end();) {
        plugin_entry& p = it->second;
        std::string name = str(p.regdata.name);
        TN_LOG(LF_PLUGINSYSTEM, LL_DEBUG,
               "Unregistering plugin '" << name << "' " << (p.ok ? "ok" : "not ok"));
        if (p.ok) {
            TN_LOG(LF_PLUGINSYSTEM, LL_BORING, "Calling unregister for plugin '" << name << "'");
            if (p.regdata.unregister)
                guarded("unregister", [&] { p.regdata.unregister(api_.get(), &p.regdata); });
            p.regdata.name = nullptr;
            p.regdata.description = nullptr;
            TN_LOG(LF_PLUGINSYSTEM, LL_BORING, "Called unregister for plugin '" << name << "'");
        }
        it = plugins_.erase(it);
        TN_LOG(LF_PLUGINSYSTEM, LL_BORING, "Unregistered plugin '" << name << "'");
    }

    TN_LOG(LF_PLUGINSYSTEM, LL_BORING,
           "Destroying plugins for " << static_cast<const void*>(libraries_.get()));
    libraries_.reset();
    TN_LOG(LF_PLUGINSYSTEM, LL_BORING, "Destroying plugins API");
    api_.reset();
    TN_LOG(LF_PLUGINSYSTEM, LL_BORING, "Plugins destroyed");
}

void plugins_loader_base::fill_api() {
    fill_base_services(*api_);
}

bool plugins_loader_base::accepts_type(int) const {
    return true;
}

bool plugins_loader_base::check_regdata(const plugin_entry& entry) const {
    if (!entry.regdata.unregister) {
        TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
               "Invalid regdata.unregister for plugin dll '" << entry.dll << "'");
        return false;
    }
    return true;
}

bool plugins_loader_base::load_plugins() {
    if (!api_) api_ = std::make_unique<lumbrake_plugins_api>();
    fill_api();

    std::string error;
    if (!deploy_path(cfg_, dir_name_, directory_, error)) {
        // Never fall back to "/plugins": without DEPLOYDIR nothing is loaded.
        TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, error);
        ready_ = false;
        directory_.clear();
        return true;
    }
    ready_ = true;
    TN_LOG(LF_PLUGINSYSTEM, LL_DEBUG, "Loading plugins from " << directory_);
    const char* const symbols[] = {registration_symbol, nullptr};
    libraries_ = std::make_unique<p_dlext>(directory_, "", false, symbols);
    for (const std::string& e : libraries_->errors())
        TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Error loading plugin: " << e);
    return true;
}

void plugins_loader_base::activate_plugins(std::vector<PluginDLLInfo>& out) {
    if (!libraries_ || !api_) return;
    for (const p_dlext::library& lib : libraries_->libraries()) {
        lumbrake_plugin_regdata reg{};
        bool ok = true;
        TN_LOG(LF_PLUGINSYSTEM, LL_BORING, "Activating " << lib.path);
        lumbrake_registration_fn registration = registration_of(lib);
        if (!registration) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Error loading plugin dll " << lib.path);
            continue;
        }
        int r = -1;
        if (!guarded("registration", [&] { r = registration(api_.get(), &reg, nullptr, 0); }))
            continue;
        if (r != 0) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
                   "Error " << r << " while loading plugin dll " << lib.path);
            continue;
        }
        if (!accepts_type(reg.type)) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
                   "Invalid plugin type " << reg.type << " for plugin dll '" << lib.path);
            // It did register: let it release what it took, as every registration is.
            if (reg.unregister) guarded("unregister", [&] { reg.unregister(api_.get(), &reg); });
            continue;
        }
        TN_LOG(LF_PLUGINSYSTEM, LL_BORING,
               "Loaded dll " << lib.path << " with name '" << str(reg.name) << "'");
        if (!reg.unregister) {
            ok = false;
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
                   "Invalid regdata.unregister for plugin dll '" << str(reg.name) << "'");
        }
        if (!reg.config_create) {
            ok = false;
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
                   "Invalid regdata.config_create for plugin dll '" << str(reg.name) << "'");
        }
        if (!reg.config_destroy) {
            ok = false;
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
                   "Invalid regdata.config_destroy for plugin dll '" << str(reg.name) << "'");
        }
        if (ok) {
            PluginDLLInfo info;
            info.Type = plugin_type_of_registration(reg.type);
            info.Name = str(reg.name);
            info.Description = str(reg.description);
            out.push_back(std::move(info));
        }
        if (reg.unregister) guarded("unregister", [&] { reg.unregister(api_.get(), &reg); });
    }
}

bool plugins_loader_base::remove_docfilter(int id) {
    auto it = docfilters_.find(id);
    if (it == docfilters_.end()) {
        TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Unknown docfilter " << id);
        return false;
    }
    docfilter_entry& df = it->second;
    auto p = plugins_.find(df.plugin_id);
    bool outcome = false;
    if (p == plugins_.end() || !p->second.ok) {
        TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
               "Plugin " << df.plugin_id << " not found in docfilter " << id);
    } else {
        plugin_entry& plugin = p->second;
        if (plugin.regdata.config_destroy)
            guarded("config_destroy",
                    [&] { plugin.regdata.config_destroy(api_.get(), &plugin.regdata, df.config); });
        free_cell(df.config);
        docfilters_.erase(it);
        outcome = true;
    }
    TN_LOG(LF_PLUGINSYSTEM, LL_BORING, "Unconfigured docfilter " << id << " ok " << outcome);
    return outcome;
}

void plugins_loader_base::free_cell(void** cell) {
    if (!cell) return;
    if (api_ && api_->free)
        api_->free(api_.get(), cell);
    else
        std::free(cell);
}

// ---- pipelined_plugins_loader_base ----

bool pipelined_plugins_loader_base::check_regdata(const plugin_entry& entry) const {
    if (!plugins_loader_base::check_regdata(entry)) return false;
    if (!entry.regdata.config_create) {
        TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
               "Invalid regdata.config_create for plugin dll '" << entry.dll << "'");
        return false;
    }
    if (!entry.regdata.config_destroy) {
        TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
               "Invalid regdata.config_destroy for plugin dll '" << entry.dll << "'");
        return false;
    }
    return true;
}

bool pipelined_plugins_loader_base::has_plugin(int id) const {
    if (plugins_.count(id)) return true;
    TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Ignoring unknown plugin " << id);
    return false;
}

bool pipelined_plugins_loader_base::has_docfilter(int id) const {
    if (docfilters_.count(id)) return true;
    TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Ignoring unknown docfilter " << id);
    return false;
}

bool pipelined_plugins_loader_base::resolve_ids(std::vector<int>& out,
                                                const std::vector<int>& in) const {
    out.clear();
    bool all = true;
    for (int id : in) {
        if (has_plugin(id))
            out.push_back(id);
        else
            all = false;
    }
    return all;
}

bool pipelined_plugins_loader_base::find_plugin_dll(const std::string& name,
                                                    std::string& dll_path) {
    if (libraries_ && api_) {
        for (const p_dlext::library& lib : libraries_->libraries()) {
            lumbrake_registration_fn registration = registration_of(lib);
            if (!registration) {
                TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Error scanning plugin dll " << lib.path);
                continue;
            }
            plugin_entry probe;
            probe.dll = lib.path;
            int r = -1;
            if (!guarded("registration",
                         [&] { r = registration(api_.get(), &probe.regdata, nullptr, 0); }))
                continue;
            if (r != 0) {
                TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
                       "Error " << r << " while scanning plugin dll " << lib.path);
                continue;
            }
            // Copied before unregister: the plug-in may free its name there.
            std::string plugin_name = str(probe.regdata.name);
            bool valid = true;
            if (!accepts_type(probe.regdata.type)) {
                TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
                       "Invalid plugin type " << probe.regdata.type << " for plugin dll '"
                                              << plugin_name << "'");
                valid = false;
            } else {
                probe.dll = plugin_name;
                valid = pipelined_plugins_loader_base::check_regdata(probe);
            }
            if (probe.regdata.unregister)
                guarded("unregister",
                        [&] { probe.regdata.unregister(api_.get(), &probe.regdata); });
            if (valid && plugin_name == name) {
                dll_path = lib.path;
                return true;
            }
            if (!valid)
                TN_LOG(LF_PLUGINSYSTEM, LL_BORING,
                       "Skipping bad '" << name << "' as " << basename(lib.path));
        }
    }
    TN_LOG(LF_PLUGINSYSTEM, LL_BORING, "'" << name << "' not found while scanning");
    return false;
}

bool pipelined_plugins_loader_base::register_plugin(int id, const std::string& dll_name,
                                                    const std::string& parameters) {
    std::string dll_path;
    if (!find_plugin_dll(dll_name, dll_path)) {
        TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Can't find plugin DLL '" << dll_name << "'");
        return false;
    }
    if (plugins_.count(id)) {
        TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Trying to register duplicated plugin id " << id);
        return false;
    }
    // The entry stays even when the steps below fail, unregistered, so that the id answers
    // "Can't unregister plugin" later.
    plugin_entry& entry = plugins_[id];
    entry.ok = false;
    entry.dll = dll_path;
    TN_LOG(LF_PLUGINSYSTEM, LL_DEBUG, "Activating " << dll_path);
    fill_api();

    lumbrake_registration_fn registration = nullptr;
    for (const p_dlext::library& lib : libraries_->libraries())
        if (lib.path == dll_path) registration = registration_of(lib);
    if (!registration) {
        TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, dll_path << " no longer exists");
        return false;
    }
    int r = -1;
    bool called = guarded("registration", [&] {
        r = registration(api_.get(), &entry.regdata, parameters.data(), parameters.size());
    });
    if (!called || r != 0) {
        TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
               "Error " << r << " while registering plugin " << dll_name << " as " << id);
        entry.regdata = lumbrake_plugin_regdata{};
        return false;
    }
    bool ok = accepts_type(entry.regdata.type);
    if (!ok) {
        TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
               "Invalid plugin dll type " << entry.regdata.type << " for plugin dll " << dll_path);
    } else {
        TN_LOG(LF_PLUGINSYSTEM, LL_BORING,
               "Registered plugin dll " << dll_path << " with name '" << str(entry.regdata.name)
                                        << "' as " << id);
        ok = check_regdata(entry);
        if (!ok)
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
                   "Invalid functions for plugin dll '" << dll_path << "'");
    }
    if (!ok) {
        // The plug-in did register: let it release what it took before it is refused.
        if (entry.regdata.unregister)
            guarded("unregister", [&] { entry.regdata.unregister(api_.get(), &entry.regdata); });
        entry.regdata = lumbrake_plugin_regdata{};
    }
    entry.ok = ok;
    return ok;
}

bool pipelined_plugins_loader_base::register_plugin(int id, const Plugin& record) {
    return register_plugin(id, record.DLLName, record.DLLParameters);
}

bool pipelined_plugins_loader_base::unregister_plugin(int id, bool with_docfilters) {
    auto it = plugins_.find(id);
    if (it == plugins_.end()) {
        TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "No registered plugin " << id);
        return false;
    }
    if (with_docfilters) {
        std::vector<int> ids;
        for (const auto& [df_id, df] : docfilters_)
            if (df.plugin_id == id) ids.push_back(df_id);
        for (int df_id : ids)
            remove_docfilter(df_id);
    }
    plugin_entry& entry = it->second;
    TN_LOG(LF_PLUGINSYSTEM, LL_DEBUG, "Unregistering '" << str(entry.regdata.name) << "'");
    if (!entry.ok) {
        TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Can't unregister plugin " << id);
        return false;
    }
    if (entry.regdata.unregister)
        guarded("unregister", [&] { entry.regdata.unregister(api_.get(), &entry.regdata); });
    entry.regdata = lumbrake_plugin_regdata{};
    plugins_.erase(it);
    return true;
}

bool pipelined_plugins_loader_base::configure_docfilter(int id, int plugin_id,
                                                        const std::string& config_bytes) {
    if (docfilters_.count(id)) {
        TN_LOG(LF_PLUGINSYSTEM, LL_BORING, "Deleting old docfilter for " << id);
        if (!remove_docfilter(id)) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
                   "Cannot remove old docfilter for " << id << ", update skipped");
            return false;
        }
    }
    auto p = plugins_.find(plugin_id);
    if (p == plugins_.end() || !p->second.ok || !api_) {
        TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
               "Plugin " << plugin_id << " not found in docfilter " << id);
        return false;
    }
    plugin_entry& plugin = p->second;
    // Pointer-sized: config_create stores a handle (a pointer) in it.
    void** cell = static_cast<void**>(api_->alloc(api_.get(), sizeof(void*)));
    if (!cell) {
        TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Out of memory configuring docfilter " << id);
        return false;
    }
    *cell = nullptr;
    docfilters_[id] = docfilter_entry{plugin_id, cell};
    TN_LOG(LF_PLUGINSYSTEM, LL_BORING, "plugincfgs[" << id << "].id== " << plugin_id);
    int r = -1;
    guarded("config_create", [&] {
        r = plugin.regdata.config_create(api_.get(), &plugin.regdata, cell, config_bytes.data(),
                                         config_bytes.size());
    });
    if (r == 0) {
        TN_LOG(LF_PLUGINSYSTEM, LL_BORING, "Configured ok docfilter " << id);
        return true;
    }
    TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
           "Error configuring docfilter " << id << " from plugindll: " << 1);
    return false;
}

bool pipelined_plugins_loader_base::configure_docfilter(int id, const DocFilter& record) {
    return configure_docfilter(id, record.PluginID, record.Config);
}

} // namespace lumbrake
