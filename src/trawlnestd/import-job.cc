#include "trawlnestd/import-job.h"

#include "api/indexcfg.h"
#include "trawlnestd/cfgstorage.h"
#include "trawlnestd/dbconn.h"
#include "util/fileio.h"
#include "util/sqlite_txn.h"
#include "util/syslayer.h"

#include <cstring>
#include <iostream>
#include <memory>
#include <string_view>

namespace lumbrake::cfgjobs {

namespace {

void exec_or_die(sqlite3* db, const char* sql, unsigned long line) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        sqlite_fatal(db, __FILE__, line);
}

void report(bool stored, const char* label, int id, const std::string& error) {
    if (stored)
        std::cout << "I " << label << " " << id << std::endl;
    else
        std::cout << "X " << label << " " << id << ": " << error << std::endl;
}

// One file of a current record type: read, parse, store under its id unless an earlier file
// already took that id.
template <class T>
void import_record(sqlite3* db, const std::string& path, int id, const char* label) {
    std::string error, text;
    bool stored = false;
    if (read_whole_file(path, error, text)) {
        T record{};
        std::uint32_t magic = 0;
        stored = cfg_record_traits<T>::from_xml(text, record) &&
                 cfgstorage<T>::set(db, id, record, magic);
    }
    report(stored, label, id, error);
}

// An index file of the older format becomes source `id` and archive `id`.
void import_index(sqlite3* db, const std::string& path, int id) {
    std::string error, text;
    if (!read_whole_file(path, error, text)) return;
    IndexConfiguration index;
    // A damaged file would give a half-read source and archive: refuse both.
    bool parsed = index_from_xml(text.data(), text.size(), index);

    bool stored = false;
    if (parsed) {
        SourceConfiguration source;
        source.Name = index.Name;
        source.Seeds = index.Seeds;
        source.IncludeFilters = index.IncludeFilters;
        source.ExcludeFilters = index.ExcludeFilters;
        source.DepthLimit = index.DepthLimit;
        source.CheckRobotsTxt = true;
        source.Type = AUTH_NONE;
        source.CookieParams.Freshness = 0;
        std::uint32_t magic = 0;
        stored = cfgstorage<SourceConfiguration>::set(db, id, source, magic);
    }
    report(stored, "Source [from Index]", id, std::string());

    stored = false;
    if (parsed) {
        ArchiveConfiguration archive;
        archive.Name = index.Name;
        archive.Historicize = index.Historicize;
        archive.AdministrativeContact = index.AdministrativeContact;
        archive.Source = id;
        archive.Auth = 0;
        archive.SchedulingFrequency = index.SchedulingFrequency;
        archive.SchedulingAttribute = index.SchedulingAttribute;
        archive.AccessTime = index.AccessTime;
        archive.PagesLimit = index.PagesLimit;
        archive.GarbageLimit = index.GarbageLimit;
        archive.DocumentCache = FULLCACHE;
        std::uint32_t magic = 0;
        stored = cfgstorage<ArchiveConfiguration>::set(db, id, archive, magic);
    }
    report(stored, "Archive [from Index]", id, std::string());
}

bool known_key(std::string_view key) {
    for (std::string_view k :
         {"SourceConfiguration", "ArchiveConfiguration", "CollectionConfiguration",
          "WatchConfiguration", "AuthConfiguration", "RootACL", "LoginConfiguration", "Plugin",
          "DocFilter", "PluginConfig", "RendererPluginPipe", "IndexConfiguration"})
        if (key == k) return true;
    return false;
}

// The id in the (at most ten) characters after the hyphen: leading decimal digits, no sign,
// at most INT_MAX; false for anything else, which would be stored as another record's id.
bool record_id(std::string_view name, std::size_t hyphen, int& id) {
    const std::string_view digits = name.substr(hyphen + 1, 10);
    std::size_t n = 0;
    long long value = 0;
    while (n < digits.size() && digits[n] >= '0' && digits[n] <= '9')
        value = value * 10 + (digits[n++] - '0');
    if (n == 0 || value > 0x7fffffff) return false;
    id = static_cast<int>(value);
    return true;
}

// Dispatches one directory entry by the key before its first hyphen; other names are passed
// over without a line.
void import_entry(sqlite3* db, const std::string& directory, const std::string& name) {
    std::size_t hyphen = name.find('-');
    if (hyphen == std::string::npos) return;
    const std::string path = directory + "/" + name;
    const std::string_view key = std::string_view(name).substr(0, hyphen);
    if (!known_key(key)) return;
    // Only the ten characters after the hyphen hold the id; what follows them is not looked at.
    int id = 0;
    if (!record_id(name, hyphen, id)) {
        std::cout << "X " << key << " " << name << ": not an id from 0 to 2147483647"
                  << std::endl;
        return;
    }

    if (key == "SourceConfiguration")
        import_record<SourceConfiguration>(db, path, id, "Source");
    else if (key == "ArchiveConfiguration")
        import_record<ArchiveConfiguration>(db, path, id, "Archive");
    else if (key == "CollectionConfiguration")
        import_record<CollectionConfiguration>(db, path, id, "Collection");
    else if (key == "WatchConfiguration")
        import_record<WatchConfiguration>(db, path, id, "Watch");
    else if (key == "AuthConfiguration")
        import_record<AuthConfiguration>(db, path, id, "Auth");
    else if (key == "RootACL")
        import_record<RootACL>(db, path, id, "RootACL");
    else if (key == "LoginConfiguration")
        import_record<LoginConfiguration>(db, path, id, "Login");
    else if (key == "Plugin")
        import_record<Plugin>(db, path, id, "Plugin");
    else if (key == "DocFilter" || key == "PluginConfig") // the older name of a document filter
        import_record<DocFilter>(db, path, id, "DocFilter");
    else if (key == "RendererPluginPipe")
        import_record<RendererPluginPipe>(db, path, id, "RendererPluginPipe");
    else if (key == "IndexConfiguration")
        import_index(db, path, id);
}

struct listing_closer {
    void operator()(dir_handle* h) const { lumbrake::closedir(h); }
};

} // namespace

bool import_config(const config& cfg, const std::string& directory, const reset_job& reset,
                   std::string& error) {
    error.clear();
    // The folder is checked before the reset: a mistyped one must not cost the store.
    std::unique_ptr<dir_handle, listing_closer> listing(lumbrake::opendir(directory));
    if (!listing) {
        error = "Path not found: " + directory + "\n";
        return false;
    }
    bool holds_export = false;
    while (const dir_entry* entry = lumbrake::readdir(listing.get())) {
        const std::size_t hyphen = entry->name.find('-');
        if (hyphen != std::string::npos && known_key(std::string_view(entry->name).substr(0, hyphen)))
            holds_export = true;
    }
    if (!holds_export) {
        error = "No exported configuration in " + directory + "\n";
        return false;
    }
    if (!reset(error)) return false;
    listing.reset(lumbrake::opendir(directory));
    if (!listing) {
        error = "Path not found: " + directory + "\n";
        return false;
    }

    db_connection db(cfg);
    storage_transaction txn(db);
    exec_or_die(db, "delete from cfgstorage", __LINE__);
    exec_or_die(db, "delete from cfgcounter", __LINE__);
    while (const dir_entry* entry = lumbrake::readdir(listing.get()))
        import_entry(db, directory, entry->name);
    exec_or_die(
        db, "insert or replace into cfgcounter select key, max(id) from cfgstorage group by key",
        __LINE__);
    txn.commit();
    return true;
}

} // namespace lumbrake::cfgjobs
