#include "trawlnestd/builtin-plugins.h"

#include "trawlnestd/cfgstorage.h"
#include "util/log.h"

namespace lumbrake {

namespace {

std::vector<AccessSpec> everyone_may_read() {
    return {AccessSpec{"All Users", READACCESS, false}};
}

Plugin builtin_plugin(const char* name, const char* description, const char* dll,
                      std::string parameters = {}) {
    Plugin p;
    p.Type = UNKNOWN_PLUGINTYPE;
    p.Name = name;
    p.Description = description;
    p.DLLName = dll;
    p.DLLParameters = std::move(parameters);
    p.ACL = everyone_may_read();
    return p;
}

DocFilter builtin_filter(const char* name, const char* description, int plugin_id) {
    DocFilter f;
    f.Type = UNKNOWN_PLUGINTYPE;
    f.Name = name;
    f.Description = description;
    f.PluginID = plugin_id;
    f.ACL = everyone_may_read();
    return f;
}

bool fail(std::string& error, const char* what, const std::string& name) {
    error = std::string(what) + name;
    TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, error);
    return false;
}

bool add_plugin(sqlite3* db, const Plugin& p, int& id, std::string& error) {
    std::uint32_t magic = 0;
    id = cfgstorage<Plugin>::add(db, p, magic);
    return id != 0 || fail(error, "Cannot create plugin ", p.Name);
}

bool add_filter(sqlite3* db, const DocFilter& f, std::string& error) {
    std::uint32_t magic = 0;
    return cfgstorage<DocFilter>::add(db, f, magic) != 0 ||
           fail(error, "Cannot create docfilter ", f.Name);
}

} // namespace

bool register_builtin_plugins(sqlite3* db, std::string& error) {
    error.clear();
    std::vector<int> plugins, filters;
    cfgstorage<Plugin>::list(db, plugins);
    cfgstorage<DocFilter>::list(db, filters);
    if (!plugins.empty() || !filters.empty()) return true;

    int id = 0;
    if (!add_plugin(db,
                    builtin_plugin("SLR", "Stochastic Language Recognizer", "langplugin",
                                   language_training_text()),
                    id, error) ||
        !add_filter(db, builtin_filter("SLR", "Stochastic Language Recognizer", id), error))
        return false;
    if (!add_plugin(db, builtin_plugin("URL", "URL Splitter", "urlplugin"), id, error) ||
        !add_filter(db, builtin_filter("URL", "URL Splitter", id), error))
        return false;
    if (!add_plugin(db, builtin_plugin("Static", "Static metadata", "staticplugin"), id, error) ||
        !add_plugin(db,
                    builtin_plugin("RegEx", "Adds metadata based on regular expression matches",
                                   "regexplugin"),
                    id, error) ||
        !add_plugin(db,
                    builtin_plugin("MetaExchange", "Gets metadata from an external program",
                                   "metaexchangeplugin"),
                    id, error))
        return false;
    return true;
}

} // namespace lumbrake
