// Plug-in, document-filter and root renderer-pipe administration. The answer records
// (PluginInfo, DocFilterInfo) are the ones the SOAP service exchanges.
#pragma once

#include "api/info-records.h"
#include "api/plugintypes.h"
#include "util/config.h"

#include <vector>

namespace lumbrake {

// Loads every plug-in library of DEPLOYDIR/plugins into a loader that lives only for this
// call, lets each register once to learn its type, name and description, and frees them all
// again. With a non-empty `types` only the libraries of those types are kept. `loaded_line`
// is the log line written once the libraries are loaded.
std::vector<PluginDLLInfo> plugin_dll_descriptions(const config& cfg,
                                                   const std::vector<PluginType>* types,
                                                   const char* loaded_line);

} // namespace lumbrake
