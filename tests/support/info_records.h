// Info records as the daemon lists them, for the control panel's models and dialogs.
#pragma once

#include "api/archive-info.h"

#include <string>

namespace tn_test {

// An archive `id` named `name` of source `source`, with `errors` failed documents.
inline lumbrake::ArchiveInfo archive(int id, const std::string& name, int source,
                                     int errors = 0) {
    lumbrake::ArchiveInfo a;
    a.Archive = id;
    a.Configuration.Name = name;
    a.Configuration.Source = source;
    a.Errors = errors;
    return a;
}

} // namespace tn_test
