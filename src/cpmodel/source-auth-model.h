// The source authentication dialog's cookie rows: one per free ("other") parameter of the
// source's cookie form, sorted by name, showing the stored value or else the form's default.
#pragma once

#include "api/api-types.h"
#include "api/auth.h"

#include <vector>

namespace lumbrake {

// Empty for a source that does not log in through a cookie form. A stored value whose name is
// not a free parameter of the form is dropped; of two parameters with one name the later wins.
std::vector<ParamValue> cookie_value_rows(const SourceConfiguration& source,
                                          const std::vector<ParamValue>& stored);

} // namespace lumbrake
