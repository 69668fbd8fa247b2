// The API call object: every administration and search operation of the daemon runs as a
// method of one short-lived `api`, bound to the authenticated caller and to the calling
// thread's connection, inside one exclusive transaction that lasts from construction to
// destruction (and is committed also when the operation fails: operations check everything
// before their first write). Operations that only read may run in a call object made for
// reading instead, which holds a snapshot and not the storage lock, so that reads (searches
// above all) run side by side and beside the crawl. Every operation reports through an
// `api_result`, either success or one row of the error table; no operation throws for a
// refused request.
//
// Layout of this header: the result record and error table, the caller's context, then the
// class. Each area's block of operation declarations belongs to the file that defines it
// (api-source.cc, api-archive.cc, api-collection.cc, ...); its record types (the Info records)
// are declared in that area's header.
#pragma once

#include "api/acl.h"
#include "api/api-types.h"
#include "api/archive.h"
#include "api/auth.h"
#include "api/collection.h"
#include "api/indexcfg.h"
#include "api/plugintypes.h"
#include "api/watch.h"
#include "api/query-types.h"
#include "logstorage/logstorage.h"
#include "trawlnestd/cfgstorage.h"
#include "trawlnestd/crawl-step.h"
#include "util/sqlite_txn.h"

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace lumbrake {

class trawlnestd;

// ---------------------------------------------------------------------------------------------
// Result record and error table

// Codes of the error table; there are no rows 4, 5, 13 and 14.
enum api_error_code : int {
    API_OK = 0,
    API_INTERNAL_ERROR = 1,
    API_ACCESS_VIOLATION = 2, // refused, or the record named does not exist
    API_IN_USE = 3,
    API_CANNOT_LOAD_PLUGIN_DLLS = 6,
    API_INVALID_ENTITY = 7,
    API_ERROR_WRITING_ENTITY = 8,
    API_ERROR_READING_ENTITY = 9,
    API_BAD_MAGIC = 10,
    API_UNSUPPORTED_MIME_TYPE = 11,
    API_FILTER_MISMATCH = 12,
    API_BAD_QUERY = 15,
};

// The outcome of one operation. A new record holds success {true, "", 200, "", 0}.
struct api_result {
    bool ok = true;
    std::string fault;
    std::int32_t http_status = 200;
    std::string message;
    std::int32_t code = 0;

    bool operator==(const api_result&) const = default;

    // Back to the success value.
    void set_ok() { *this = api_result{}; }
    // Copies the error table's row `code` over all five fields. A code without a row is a
    // programming error (assertion).
    void set_error(int code);
};

// The error table: code -> row, built on first use and never changed afterwards (the daemon
// touches it before the HTTP server starts, so it is read-only while calls run).
const std::map<int, api_result>& api_errors();

// ---------------------------------------------------------------------------------------------
// The caller's context

// Filled by the HTTP front end for each authenticated request (make_api_context), or by a test
// directly. Read-only for the operations; everything pointed to outlives the call.
struct api_context {
    // The application's parts: configuration map, platform identifier, storages, clock and
    // free-space probe (app.services(); a test fills its own). The configuration stores need no
    // object: their operations are static and take `db`.
    crawl_services services;
    // The application object itself, for the few operations that need more than `services`
    // (process threads, data directory). Null in tests that do not need it.
    trawlnestd* app = nullptr;
    // The calling thread's connection to trawlnest.db.
    sqlite3* db = nullptr;
    std::string user{ANONYMOUS_USER};
    std::vector<std::string> groups;
    bool admin = false;
};

// The context of one request: the application's services and the caller's identity.
api_context make_api_context(trawlnestd& app, sqlite3* db, std::string user,
                             std::vector<std::string> groups, bool admin);

// ---------------------------------------------------------------------------------------------
// Record types of the operations, declared in the areas' headers.

struct SourceInfo;     // api-source.h
struct ArchiveInfo;    // api-archive.h
struct CollectionInfo; // api-collection.h
struct WatchInfo;      // api-watch.h
struct ExtendedStatus; // api-status.h
struct PluginInfo;     // api-plugin.h
struct DocFilterInfo;  // api-plugin.h
struct IndexInfo;      // api-indexcfg.h
struct QuerySpec;      // api-query.h

// ---------------------------------------------------------------------------------------------
// The call object

// What a call object holds for its life: the storage lock and an exclusive transaction, or
// (for the operations that only read, listed by the services that make such objects) a
// snapshot of the database without the lock. A search made for reading writes its query log
// in a transaction of its own, after the index search.
enum class api_access { write, read };

class api {
public:
    // Begins an exclusive transaction on ctx.db (taking the process-wide storage lock, which is
    // not recursive: never make a second call object on a thread while one lives), or, for
    // reading, a snapshot.
    explicit api(const api_context& ctx, api_access access = api_access::write);
    // The context must outlive the call object: a temporary would dangle.
    explicit api(api_context&&, api_access = api_access::write) = delete;
    // Commits it (releasing the lock), also while an exception propagates; a storage failure
    // rolls it back. A commit that fails here is only logged: callers that answer a request
    // call finish() first.
    ~api();
    // Ends the transaction now: commits it, or rolls it back after a storage failure the
    // operation already met; a commit that fails (a full volume: with write-ahead logging the
    // writes reach the disk only then) throws sqlite_error, so the request fails instead of
    // being answered as done. A snapshot just ends.
    void finish();
    api(const api&) = delete;
    api& operator=(const api&) = delete;

    const api_context& context() const { return ctx_; }
    sqlite3* db() const { return ctx_.db; }
    // Seconds since 1970 UTC by the context's clock.
    std::int64_t now() const { return ctx_.services.now(); }

    // --- Access rule shared by every operation --------------------------------------------
    // Administrators pass; others get check_acl over their name, "All Users" and their groups.
    bool has_access(const std::vector<AccessSpec>& acl, int access) const;
    // The same against root ACL `type` (ROOTACL_BROWSING or ROOTACL_CRAWLING); a missing root
    // ACL is an empty list.
    bool has_root_access(int type, int access) const;
    // The ReadOnly flag of an answer: not an administrator and no write access on `acl`.
    bool read_only(const std::vector<AccessSpec>& acl) const {
        return !has_access(acl, WRITEACCESS);
    }

    // --- Helpers over the configuration store -----------------------------------------------
    // Loads stored record `id` that the caller has `access` on; on a missing (or unreadable)
    // record or a refusal sets code 2 in `res` and answers false.
    template <class T>
    bool load_checked(api_result& res, std::int32_t id, int access, T& record,
                      std::uint32_t& magic) const {
        if (!cfgstorage<T>::get(ctx_.db, id, record, magic) || !has_access(record.ACL, access)) {
            res.set_error(API_ACCESS_VIOLATION);
            return false;
        }
        return true;
    }
    // The ACL of a record that another record names; a missing one counts as an empty list (so
    // only administrators pass).
    template <class T> std::vector<AccessSpec> referenced_acl(std::int32_t id) const {
        T record{};
        std::uint32_t magic = 0;
        if constexpr (std::is_same_v<T, SourceConfiguration>) {
            // Its seeds (maybe a million) are not needed here.
            if (!get_source_streamed(ctx_.db, id, record, magic, [](const std::string&) {}))
                return {};
        } else if (!cfgstorage<T>::get(ctx_.db, id, record, magic)) {
            return {};
        }
        return std::move(record.ACL);
    }
    // Whether the record can be written as XML text (a text that XML cannot carry cannot); a
    // record that cannot is answered with code 7 instead of being reported as a stale magic.
    template <class T> static bool storable(const T& record) {
        std::string xml;
        return cfg_record_traits<T>::to_xml(record, xml);
    }

    // --- Sources and authentications (api-source.cc) ----------------------------------------
    void add_source(api_result& res, const SourceConfiguration& cfg, SourceInfo& info);
    void remove_source(api_result& res, std::int32_t id);
    void get_source_configuration(api_result& res, std::int32_t id, SourceConfiguration& cfg,
                                  std::uint32_t& magic);
    void set_source_configuration(api_result& res, std::int32_t id, const SourceConfiguration& cfg,
                                  std::uint32_t magic, SourceInfo& info);
    void enum_source_configurations(api_result& res, std::vector<SourceInfo>& infos);
    void add_auth(api_result& res, const AuthConfiguration& cfg, std::int32_t& id);
    void remove_auth(api_result& res, std::int32_t id);
    void get_auth_configuration(api_result& res, std::int32_t id, AuthConfiguration& cfg,
                                std::uint32_t& magic);
    void set_auth_configuration(api_result& res, std::int32_t id, const AuthConfiguration& cfg,
                                std::uint32_t magic);

    // --- Archives (api-archive.cc) ------------------------------------------------------------
    void add_archive(api_result& res, const ArchiveConfiguration& cfg, ArchiveInfo& info);
    void remove_archive(api_result& res, std::int32_t id);
    void get_archive_configuration(api_result& res, std::int32_t id, ArchiveConfiguration& cfg,
                                   std::uint32_t& magic);
    void set_archive_configuration(api_result& res, std::int32_t id,
                                   const ArchiveConfiguration& cfg, std::uint32_t magic,
                                   ArchiveInfo& info);
    void get_archive_info(api_result& res, std::int32_t id, ArchiveInfo& info);
    void enum_archive_configurations(api_result& res, std::vector<ArchiveInfo>& infos);
    // Crawl state and next run of an ArchiveInfo whose Archive and Configuration are set.
    void fill_archive_info(ArchiveInfo& info);

    // --- Collections and watches (api-collection.cc, api-watch.cc) ---------------------------
    void add_collection(api_result& res, const CollectionConfiguration& cfg, CollectionInfo& info);
    void remove_collection(api_result& res, std::int32_t id);
    void get_collection_configuration(api_result& res, std::int32_t id,
                                      CollectionConfiguration& cfg, std::uint32_t& magic);
    void set_collection_configuration(api_result& res, std::int32_t id,
                                      const CollectionConfiguration& cfg, std::uint32_t magic,
                                      CollectionInfo& info);
    void enum_collection_configurations(api_result& res, std::vector<CollectionInfo>& infos);
    void add_watch(api_result& res, const WatchConfiguration& cfg, WatchInfo& info);
    void remove_watch(api_result& res, std::int32_t id);
    void get_watch_configuration(api_result& res, std::int32_t id, WatchConfiguration& cfg,
                                 std::uint32_t& magic);
    void set_watch_configuration(api_result& res, std::int32_t id, const WatchConfiguration& cfg,
                                 std::uint32_t magic, WatchInfo& info);
    void enum_watch_configurations(api_result& res, std::vector<WatchInfo>& infos);

    // --- Root ACLs, users and groups (api-users.cc) -------------------------------------------
    void add_user(api_result& res, const std::string& user, const std::string& password, bool admin,
                  const std::vector<std::string>& groups);
    void remove_user(api_result& res, const std::string& user);
    void set_user_data(api_result& res, const std::string& user, bool admin,
                       const std::vector<std::string>& groups);
    void get_user_data(api_result& res, const std::string& user, bool& admin,
                       std::vector<std::string>& groups);
    void set_user_password(api_result& res, const std::string& user, const std::string& password);
    void add_group(api_result& res, const std::string& group);
    void remove_group(api_result& res, const std::string& group);
    void enum_users_and_groups(api_result& res, std::vector<std::string>& users,
                               std::vector<std::string>& builtin_users,
                               std::vector<std::string>& groups,
                               std::vector<std::string>& builtin_groups);
    void get_root_acl(api_result& res, std::int32_t type, std::vector<AccessSpec>& acl,
                      std::uint32_t& magic);
    void set_root_acl(api_result& res, std::int32_t type, const std::vector<AccessSpec>& acl,
                      std::uint32_t magic);

    // --- Status, version, capabilities, URL normalisation (api-status.cc) ---------------------
    void get_status(api_result& res, std::int32_t& status, std::vector<ExtendedStatus>& rows);
    void get_version(api_result& res, std::string& version);
    void get_min_client_version(api_result& res, std::string& version);
    void get_capabilities(api_result& res, bool& historicize, bool& admin, bool& browsing_write,
                          bool& crawling_write);
    void normalize_url(api_result& res, const std::string& url, std::string& normalized);

    // --- Documents (api-document.cc) ----------------------------------------------------------
    void get_cached_page(api_result& res, const std::string& docid, std::int32_t format,
                         std::string& url, std::string& content_type, std::string& content);
    void get_document_url(api_result& res, const std::string& docid, std::string& url);
    void add_document(api_result& res, std::int32_t arcid, const std::string& url,
                      const std::string& mime_type, const std::string& content, std::string& docid);
    void remove_document(api_result& res, const std::string& docid);

    // --- Plug-ins, document filters, renderer pipe (api-plugin.cc) ----------------------------
    void enum_plugin_dlls(api_result& res, const std::vector<PluginType>& types,
                          std::vector<PluginDLLInfo>& dlls);
    void enum_plugins(api_result& res, const std::vector<PluginType>& types, bool full,
                      std::vector<PluginInfo>& plugins);
    void enum_doc_filters(api_result& res, const std::vector<PluginType>& types, bool full,
                          std::vector<DocFilterInfo>& filters);
    void add_plugin(api_result& res, const Plugin& plugin, std::int32_t& id);
    void remove_plugin(api_result& res, std::int32_t id);
    void get_plugin(api_result& res, std::int32_t id, Plugin& plugin, std::uint32_t& magic);
    void set_plugin(api_result& res, std::int32_t id, const Plugin& plugin, std::uint32_t magic);
    void add_doc_filter(api_result& res, const DocFilter& filter, std::int32_t& id);
    void remove_doc_filter(api_result& res, std::int32_t id);
    void get_doc_filter(api_result& res, std::int32_t id, DocFilter& filter, std::uint32_t& magic);
    void set_doc_filter(api_result& res, std::int32_t id, const DocFilter& filter,
                        std::uint32_t magic);
    void get_root_renderer_pipe(api_result& res, std::vector<std::int32_t>& ids,
                                std::uint32_t& magic);
    void set_root_renderer_pipe(api_result& res, const std::vector<std::int32_t>& ids,
                                std::uint32_t magic);

    // --- Index configurations (api-indexcfg.cc) -----------------------------------------------
    void add_index(api_result& res, const IndexConfiguration& cfg, std::int32_t& id);
    void remove_index(api_result& res, std::int32_t id);
    void get_index_configuration(api_result& res, std::int32_t id, IndexConfiguration& cfg,
                                 std::uint32_t& magic);
    void set_index_configuration(api_result& res, std::int32_t id, const IndexConfiguration& cfg,
                                 std::uint32_t magic);
    void enum_index_configurations(api_result& res, std::vector<IndexInfo>& infos);

    // --- Crawl control and crawl logs (api-crawl.cc) ------------------------------------------
    void start_crawl(api_result& res, std::int32_t arcid, ArchiveInfo& info);
    void stop_crawl(api_result& res, std::int32_t arcid, ArchiveInfo& info);
    void reprocess_documents(api_result& res, std::int32_t arcid, ArchiveInfo& info);
    void get_available_crawl_logs(api_result& res, std::int32_t arcid, std::vector<CrawlLog>& logs);
    void get_crawl_log(api_result& res, std::int32_t arcid, std::int32_t nmax, CrawlLog& cursor,
                       std::vector<CrawlLogData>& rows);
    void get_query_log(api_result& res, std::int32_t arcid, std::int32_t begin, std::int32_t end,
                       std::vector<QueryLogData>& rows);

    // --- Search (api-search.cc) ---------------------------------------------------------------
    // Rewrites query_spec.MinTime, View, Sort and Query as it resolved them. total is -1 when
    // nothing was searched.
    void query(api_result& res, QuerySpec& query_spec, std::vector<QueryResult>& results,
               std::int32_t& total, bool lenient);

private:
    const api_context& ctx_;
    // Exactly one of the two, from construction on (query ends the snapshot early).
    std::optional<storage_transaction> txn_;
    std::optional<storage_snapshot> snapshot_;
};

} // namespace lumbrake
