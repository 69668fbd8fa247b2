#include "docstorage/docstorage.h"

#include "fetchqueue/fetchqueue.h"
#include "util/sqlite_stmt.h"

namespace lumbrake {

void docstorage::queue_reprocess(sqlite3* db, std::uint32_t arcid, fetchqueue& queue) {
    // Only an idle archive is requeued: its stored versions would otherwise be mixed into a
    // running crawl.
    if (!queue.empty(db, arcid)) return;
    std::vector<std::string> guids;
    {
        sqlite_statement st(db, "select guid from docstorage where arcid=? and error in (?, ?)");
        st.bind(1, arcid).bind(2, STATUS_NONE).bind(3, STATUS_UNCHANGED);
        while (st.next())
            guids.push_back(st.text(0));
    }
    for (const std::string& guid : guids)
        queue.push(db, arcid, "guid:" + guid, 0);
}

} // namespace lumbrake
