// The stored login configuration kept in memory, one copy per database file, so that
// authentication reads the users without waiting for another request's storage transaction.
// Every write of the record through the configuration store replaces the copy, inside the
// writer's transaction, so copies are replaced in the order the writes are committed.
#pragma once

#include "api/login.h"

#include <sqlite3.h>

namespace lumbrake {

// True with the copy of db's record; false when there is none yet (or db is in memory).
bool login_cache_find(sqlite3* db, LoginConfiguration& login);
// Replaces db's copy; call inside the transaction that read or wrote the record.
void login_cache_store(sqlite3* db, const LoginConfiguration& login);

} // namespace lumbrake
