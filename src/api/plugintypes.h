// Plug-in types as the API lists them, and their text tokens.
#pragma once

#include <string>

namespace lumbrake {

// The API knows two kinds: unknown, and an FFF plug-in of any FFF kind.
enum PluginType : int {
    UNKNOWN_PLUGINTYPE = 0,
    ARCHIVEFFF_PLUGINTYPE = 1,
};

// One plug-in library found by the host.
struct PluginDLLInfo {
    PluginType Type = UNKNOWN_PLUGINTYPE;
    std::string Name;
    std::string Description;
};

// The written token of a value ("UNKNOWN_PLUGINTYPE", "ARCHIVEFFF_PLUGINTYPE"); an empty text for
// a value outside the enum.
const char* plugin_type_to_string(int value);

// Reads a token, exact and case-sensitive; "GLOBALFFF_PLUGINTYPE" and "MULTIFORMFFF_PLUGINTYPE"
// also read as ARCHIVEFFF_PLUGINTYPE. Unknown text leaves value untouched and returns false.
bool plugin_type_from_string(const std::string& text, PluginType& value);

// What a plug-in's registration type lists as: its registration type 3 is the archive FFF
// plug-in, every other type is unknown to the API.
PluginType plugin_type_of_registration(int registration_type);

} // namespace lumbrake
