#include "api/plugintypes.h"

namespace lumbrake {

const char* plugin_type_to_string(int value) {
    switch (value) {
    case UNKNOWN_PLUGINTYPE:
        return "UNKNOWN_PLUGINTYPE";
    case ARCHIVEFFF_PLUGINTYPE:
        return "ARCHIVEFFF_PLUGINTYPE";
    default:
        return "";
    }
}

bool plugin_type_from_string(const std::string& text, PluginType& value) {
    static const struct {
        const char* token;
        PluginType value;
    } tokens[] = {
        {"UNKNOWN_PLUGINTYPE", UNKNOWN_PLUGINTYPE},
        {"ARCHIVEFFF_PLUGINTYPE", ARCHIVEFFF_PLUGINTYPE},
        {"GLOBALFFF_PLUGINTYPE", ARCHIVEFFF_PLUGINTYPE},
        {"MULTIFORMFFF_PLUGINTYPE", ARCHIVEFFF_PLUGINTYPE},
    };
    for (const auto& t : tokens)
        if (text == t.token) {
            value = t.value;
            return true;
        }
    return false;
}

PluginType plugin_type_of_registration(int registration_type) {
    return registration_type == 3 ? ARCHIVEFFF_PLUGINTYPE : UNKNOWN_PLUGINTYPE;
}

} // namespace lumbrake
