// Reading one version's FFF alone: a search's summaries need nothing else of the version, and
// its headers and content are often far larger.
#include "docstorage/docstorage.h"

#include "util/log.h"
#include "util/sqlite_stmt.h"

namespace lumbrake {

bool docstorage::load_fff(sqlite3* db, const std::string& guid, std::string& fff) {
    sqlite_statement st(db, "select fff, ffflen from docstorage where guid=?1", keep_prepared);
    st.bind(1, guid);
    if (!st.next()) return false;
    std::string value;
    if (!inflate_blob(st.blob(0), st.bytes(0), st.integer(1), value))
        TN_LOG(LF_LOG, LL_ERROR, "Damaged stored FFF of document " << guid << " read as empty");
    fff = std::move(value);
    return true;
}

} // namespace lumbrake
