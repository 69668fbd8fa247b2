// A live daemon given the real archive fixture plug-in (tests/plugins) and document filters
// made on it over SOAP, named "the <name> filter" in their descriptions.
#pragma once

#include "client/soap-client-proxy.h"

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

namespace tn_test {

// Copies `plugin_file` into the daemon's plug-in folder `deploy`/plugins, registers it and adds
// one document filter per name; answers their ids in that order.
inline std::vector<int32_t> add_fixture_doc_filters(lumbrake::SoapClientProxy& proxy,
                                                    const std::filesystem::path& plugin_file,
                                                    const std::filesystem::path& deploy,
                                                    std::initializer_list<const char*> names) {
    using namespace lumbrake;
    std::filesystem::copy_file(plugin_file, deploy / "plugins" / "archive.so",
                               std::filesystem::copy_options::overwrite_existing);
    std::vector<PluginDLLInfo> dlls;
    proxy.EnumPluginDLLs({ARCHIVEFFF_PLUGINTYPE}, dlls);
    if (dlls.empty()) throw std::runtime_error("the fixture plug-in is not listed");
    Plugin plugin;
    plugin.Name = "fixture";
    plugin.DLLName = dlls[0].Name;
    int plugin_id = 0;
    proxy.AddPlugin(plugin, plugin_id);
    std::vector<int32_t> ids;
    for (const char* name : names) {
        DocFilter f;
        f.Type = ARCHIVEFFF_PLUGINTYPE;
        f.Name = name;
        f.Description = std::string("the ") + name + " filter";
        f.PluginID = plugin_id;
        int id = 0;
        proxy.AddDocFilter(f, id);
        ids.push_back(id);
    }
    return ids;
}

} // namespace tn_test
