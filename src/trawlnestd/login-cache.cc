#include "trawlnestd/login-cache.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace lumbrake {

namespace {

std::mutex& cache_mutex() {
    static std::mutex m;
    return m;
}

std::map<std::string, std::shared_ptr<const LoginConfiguration>>& cache() {
    static std::map<std::string, std::shared_ptr<const LoginConfiguration>> c;
    return c;
}

// The database file's name; empty for a database without a file.
std::string key_of(sqlite3* db) {
    const char* name = db ? sqlite3_db_filename(db, "main") : nullptr;
    return name ? name : "";
}

} // namespace

bool login_cache_find(sqlite3* db, LoginConfiguration& login) {
    const std::string key = key_of(db);
    if (key.empty()) return false;
    std::shared_ptr<const LoginConfiguration> copy;
    {
        std::lock_guard lock(cache_mutex());
        auto it = cache().find(key);
        if (it == cache().end()) return false;
        copy = it->second;
    }
    login = *copy;
    return true;
}

void login_cache_store(sqlite3* db, const LoginConfiguration& login) {
    const std::string key = key_of(db);
    if (key.empty()) return;
    auto copy = std::make_shared<const LoginConfiguration>(login);
    std::lock_guard lock(cache_mutex());
    cache()[key] = std::move(copy);
}

} // namespace lumbrake
