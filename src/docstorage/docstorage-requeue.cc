#include "docstorage/docstorage.h"

#include "docstorage/docstorage-sql.h"
#include "fetchqueue/fetchqueue.h"

namespace lumbrake {

using docstorage_sql::statement;
using docstorage_sql::text;

void docstorage::queue_reprocess(sqlite3* db, std::uint32_t arcid, fetchqueue& queue) {
    // Only an idle archive is requeued: its stored versions would otherwise be mixed into a
    // running crawl.
    if (!queue.empty(db, arcid)) return;
    std::vector<std::string> guids;
    {
        text sql(db, "select guid from docstorage where arcid=%u and error in (%d, %d)", arcid,
                 STATUS_NONE, STATUS_UNCHANGED);
        statement st(db, sql.c_str());
        while (st.row())
            guids.push_back(st.str(0));
    }
    for (const std::string& guid : guids)
        queue.push(db, arcid, "guid:" + guid, 0);
}

} // namespace lumbrake
