// Root ACL, user and group operations (methods of `api`, api-common.h).
#pragma once

#include "api/login.h"

#include <sqlite3.h>

#include <cstdint>

namespace lumbrake {

// The stored login configuration with its magic; a missing (or unreadable) record reads as an
// empty one whose built-in names are set all the same.
void load_login_configuration(sqlite3* db, LoginConfiguration& login, std::uint32_t& magic);

} // namespace lumbrake
