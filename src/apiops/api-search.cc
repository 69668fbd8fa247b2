// The search operation: resolves a watch and a collection into archives, keeps the archives the
// caller may read, parses the query text, runs the index search and logs the query per archive.
#include "apiops/api-common.h"
#include "apiops/api-query.h"

#include "idxstorage/idxstorage.h"
#include "logstorage/logstorage.h"
#include "trawlnestd/cfgstorage.h"
#include "util/log.h"
#include "util/sqlite_txn.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace lumbrake {

namespace {

std::int32_t clamp_to_int32(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

} // namespace

void api::query(api_result& res, QuerySpec& query_spec, std::vector<QueryResult>& results,
                std::int32_t& total, bool lenient) {
    res.set_ok();
    total = -1;
    sqlite3* db = ctx_.db;

    // Watch and collection.
    std::vector<std::int32_t> archives = query_spec.Archives;
    std::string saved_query;
    std::int32_t saved_parser = NOPARSER;
    std::int32_t collection_id = query_spec.Collection;
    if (query_spec.Watch > 0) {
        WatchConfiguration watch;
        std::uint32_t magic = 0;
        if (!cfgstorage<WatchConfiguration>::get(db, query_spec.Watch, watch, magic)) {
            res.set_error(API_ACCESS_VIOLATION);
            return;
        }
        saved_query = watch.Query;
        saved_parser = watch.Parser;
        collection_id = watch.Collection;
        if (query_spec.MinTime == 0 && watch.Freshness > 0)
            query_spec.MinTime = clamp_to_int32(now() - watch.Freshness);
        query_spec.View = VIEW_CORECHANGED;
        query_spec.Sort = SORT_TIME_NEWER;
    }
    if (collection_id > 0) {
        CollectionConfiguration collection;
        std::uint32_t magic = 0;
        if (!cfgstorage<CollectionConfiguration>::get(db, collection_id, collection, magic) ||
            !has_access(collection.ACL, READACCESS)) {
            res.set_error(API_ACCESS_VIOLATION);
            return;
        }
        archives = collection.Archives;
    } else if (collection_id == -1) {
        std::vector<int> ids;
        cfgstorage<ArchiveConfiguration>::list(db, ids);
        archives.assign(ids.begin(), ids.end());
        lenient = true;
    }

    // Archives the caller may read.
    std::vector<std::int32_t> accepted;
    accepted.reserve(archives.size());
    for (std::int32_t id : archives) {
        ArchiveConfiguration archive;
        std::uint32_t magic = 0;
        if (!cfgstorage<ArchiveConfiguration>::get(db, id, archive, magic)) {
            // An id without a record names no documents and is searched as it is. A stored
            // record that cannot be read is tested against an empty list: its documents stay
            // hidden from everyone but administrators.
            std::string text;
            bool stored =
                cfgstore_detail::fetch(db, cfg_record_traits<ArchiveConfiguration>::key, id, text);
            if (!stored) {
                accepted.push_back(id);
                continue;
            }
            archive.ACL.clear();
        }
        if (has_access(archive.ACL, READACCESS)) {
            accepted.push_back(id);
        } else if (!lenient) {
            res.set_error(API_ACCESS_VIOLATION);
            return;
        }
    }

    // The query: the caller's, then the watch's saved one joined by AND.
    bool parsed = true;
    if (query_spec.Parser != NOPARSER)
        parsed = query_spec.QueryString.size() <= max_query_text &&
                 parse_query_text(query_spec.Parser, query_spec.QueryString, query_spec.Query);
    if (parsed && !saved_query.empty()) {
        std::vector<QueryAtom> saved;
        bool saved_ok = true;
        if (saved_parser == NOPARSER)
            saved_ok = false;
        else if (saved_parser >= RPNPARSER && saved_parser <= NETPARSER)
            saved_ok = saved_query.size() <= max_query_text &&
                       parse_query_text(saved_parser, saved_query, saved);
        if (!saved_ok) {
            parsed = false;
        } else if (!saved.empty()) {
            bool caller_had_query = !query_spec.Query.empty();
            query_spec.Query.insert(query_spec.Query.end(), saved.begin(), saved.end());
            if (caller_had_query) query_spec.Query.push_back(QueryAtom{ATOM_AND, "", "2"});
        }
    }
    if (!parsed) {
        res.set_error(API_BAD_QUERY);
        return;
    }
    std::string log_text = query_to_rpn_text(query_spec.Query);

    // Search and log. A call made for reading lets go of its snapshot first: the index is not
    // part of it, and the summaries are read in a snapshot of their own.
    const bool reading = snapshot_.has_value();
    if (reading) snapshot_->end();
    idxstorage* index = ctx_.services.index;
    docstorage* docs = ctx_.services.docs;
    if (index && docs) {
        total = index->search({.archives = accepted,
                               .first = query_spec.FirstDoc,
                               .last = query_spec.LastDoc,
                               .min_time = query_spec.MinTime,
                               .max_time = query_spec.MaxTime,
                               .min_score = static_cast<std::uint32_t>(query_spec.MinScore),
                               .info = query_spec.Info,
                               .view = query_spec.View,
                               .sort = query_spec.Sort,
                               .query = query_spec.Query,
                               .weights = query_spec.Weights},
                              results, db, *docs);
    } else {
        results.clear();
        TN_LOG(LF_API, LL_ERROR, "Search without an index");
    }
    logstorage* logs = ctx_.services.logs;
    if (total >= 0 && !log_text.empty() && logs) {
        // The log row is a by-product: a volume too full for it does not cost the answer.
        try {
            std::optional<storage_transaction> own;
            if (reading) own.emplace(db);
            for (std::int32_t id : accepted)
                logs->log_query(db, id, log_text, now());
            if (own) own->commit();
        } catch (const sqlite_error& e) {
            TN_LOG(LF_API, LL_ERROR, "Query log not written: " << e.what());
        }
    }
}

} // namespace lumbrake
