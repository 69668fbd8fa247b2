// Source and authentication operations (methods of `api`, api-common.h); their answer record
// is api/source-info.h.
#pragma once

#include "api/api-types.h"
#include "api/source-info.h"

namespace lumbrake {

// Replaces every seed by the canonical text of its URL parsed with the default scheme "http".
void normalize_seeds(SourceConfiguration& cfg);

} // namespace lumbrake
