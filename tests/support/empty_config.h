// A configuration map with no settings, for the parts that take one and read only defaults.
#pragma once

#include "util/config.h"

namespace tn_test {

inline const lumbrake::config& empty_config() {
    static const lumbrake::config cfg("/dev/null");
    return cfg;
}

} // namespace tn_test
