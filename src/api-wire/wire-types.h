// Records and enums that only the SOAP service and its clients exchange, and the service
// namespace that qualifies every type name on the wire.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "api/api-types.h"
#include "api/archive.h"
#include "api/collection.h"
#include "api/indexcfg.h"
#include "api/watch.h"
#include "api/ops/api-archive.h"
#include "api/ops/api-collection.h"
#include "api/ops/api-indexcfg.h"
#include "api/ops/api-query.h"
#include "api/ops/api-source.h"
#include "api/ops/api-status.h"
#include "api/ops/api-watch.h"
#include "idxstorage/idx-search-types.h"

namespace lumbrake {

// Shared by the daemon, the control panel, the CLI and the WSDL file.
inline constexpr const char* SERVICE_NS = "http://trawlnest.lumbrake.net/search/";

// The form in which GetDocument and GetCachedPage answer a stored document.
enum DocumentFormat : int32_t { FORMAT_ORIGINAL = 0, FORMAT_PARSED = 1, FORMAT_HTML = 2 };

// The info records of sources, archives, collections, watches and index configurations, the
// status rows and the query record are the API operations' own (api/ops headers, plain data).
// Magic numbers are unsigned 32-bit; the wire carries their bit pattern as xsd:int.

struct PluginInfo {
    int32_t PluginID = 0;
    PluginType Type = UNKNOWN_PLUGINTYPE;
    Plugin PluginConfiguration;
    uint32_t Magic = 0;
    bool ReadOnly = false;
    bool operator==(const PluginInfo&) const = default;
};

struct DocFilterInfo {
    int32_t DocFilterID = 0;
    PluginType Type = UNKNOWN_PLUGINTYPE;
    DocFilter DocFilterConfiguration;
    uint32_t Magic = 0;
    bool ReadOnly = false;
    bool operator==(const DocFilterInfo&) const = default;
};

} // namespace lumbrake
