#include "trawlnestd/export-job.h"

#include "trawlnestd/cfgstorage.h"
#include "trawlnestd/dbconn.h"
#include "util/fileio.h"
#include "util/sqlite_txn.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace lumbrake::cfgjobs {

std::string export_file_name(const char* key, int id) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%010d", id);
    return std::string(key) + "-" + digits + ".xml";
}

namespace {

// Writes every readable record of one type in ascending id order.
template <class T> void export_type(sqlite3* db, const std::string& directory) {
    using traits = cfg_record_traits<T>;
    std::vector<int> ids;
    cfgstorage<T>::list(db, ids);
    for (int id : ids) {
        T record{};
        std::uint32_t magic = 0;
        // A stored text that no longer parses is left out without a word.
        if (!cfgstorage<T>::get(db, id, record, magic)) continue;
        std::string text, error;
        bool written = false;
        if (!traits::to_xml(record, text))
            error = "Error during XML serialization";
        else
            written =
                write_whole_file(directory + "/" + export_file_name(traits::key, id), error, text);
        if (written)
            std::cout << "E " << traits::label << " " << id << std::endl;
        else
            std::cout << "X " << traits::label << " " << id << ": " << error << std::endl;
    }
}

} // namespace

bool export_config(const config& cfg, const std::string& directory, std::string& error) {
    error.clear();
    if (::access(directory.c_str(), R_OK | W_OK) == 0) {
        error = "Export directory " + directory + " already exists";
        return false;
    }
    if (::mkdir(directory.c_str(), 0777) != 0) {
        error = "Can't create directory " + directory;
        return false;
    }

    db_connection db(cfg);
    storage_transaction txn(db);
    export_type<SourceConfiguration>(db, directory);
    export_type<ArchiveConfiguration>(db, directory);
    export_type<CollectionConfiguration>(db, directory);
    export_type<WatchConfiguration>(db, directory);
    export_type<AuthConfiguration>(db, directory);
    export_type<RootACL>(db, directory);
    export_type<LoginConfiguration>(db, directory);
    export_type<Plugin>(db, directory);
    export_type<DocFilter>(db, directory);
    export_type<RendererPluginPipe>(db, directory);
    txn.commit();
    return true;
}

} // namespace lumbrake::cfgjobs
