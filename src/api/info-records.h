// The info records that the service answers and its clients read: the plug-in and document
// filter records defined here, and (included) the info records of the other configuration
// kinds, the status rows, the query and hit records and the log records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "api/api-types.h"
#include "api/archive.h"
#include "api/collection.h"
#include "api/indexcfg.h"
#include "api/watch.h"
#include "api/archive-info.h"
#include "api/collection-info.h"
#include "api/indexcfg-info.h"
#include "api/log-records.h"
#include "api/query-types.h"
#include "api/source-info.h"
#include "api/status-info.h"
#include "api/watch-info.h"

namespace lumbrake {

// The form in which GetDocument and GetCachedPage answer a stored document.
enum DocumentFormat : int32_t { FORMAT_ORIGINAL = 0, FORMAT_PARSED = 1, FORMAT_HTML = 2 };

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
