#include "apiops/api-common.h"

#include "trawlnestd/cfgstorage.h"
#include "trawlnestd/trawlnestd-app.h"
#include "util/log.h"
#include "util/sqlite_txn.h"

namespace lumbrake {

namespace {

std::map<int, api_result> build_api_errors() {
    struct row {
        int code;
        const char* fault;
        const char* message;
        int status;
    };
    static constexpr row rows[] = {
        {API_INTERNAL_ERROR, "InternalError", "Internal Error", 500},
        {API_ACCESS_VIOLATION, "AccessViolation", "Access violation", 400},
        {API_IN_USE, "InUse", "Resource in use", 400},
        {API_CANNOT_LOAD_PLUGIN_DLLS, "CannotLoadPluginDLLs", "Can't load plugin DLLs", 400},
        {API_INVALID_ENTITY, "ErrorInvalidEntity", "Invalid entity", 400},
        {API_ERROR_WRITING_ENTITY, "ErrorWritingEntity", "Error writing entity", 400},
        {API_ERROR_READING_ENTITY, "ErrorReadingEntity", "Error reading entity", 400},
        {API_BAD_MAGIC, "BadMagic", "Bad magic number", 400},
        {API_UNSUPPORTED_MIME_TYPE, "UnsupportedMIMEType", "Unsupported document type", 400},
        {API_FILTER_MISMATCH, "FilterMismatch", "Document URL doesn't match source filters", 400},
        {API_BAD_QUERY, "BadQuery", "Bad query", 400},
    };
    std::map<int, api_result> table;
    for (const row& r : rows)
        table.emplace(r.code, api_result{false, r.fault, r.status, r.message, r.code});
    return table;
}

} // namespace

const std::map<int, api_result>& api_errors() {
    static const std::map<int, api_result> table = build_api_errors();
    return table;
}

void api_result::set_error(int error_code) {
    const auto& table = api_errors();
    auto it = table.find(error_code);
    TN_ASSERT(it != table.end());
    *this = it->second;
}

api_context make_api_context(trawlnestd& app, sqlite3* db, std::string user,
                             std::vector<std::string> groups, bool admin) {
    api_context ctx;
    ctx.services = app.services();
    ctx.app = &app;
    ctx.db = db;
    ctx.user = std::move(user);
    ctx.groups = std::move(groups);
    ctx.admin = admin;
    return ctx;
}

api::api(const api_context& ctx, api_access access) : ctx_(ctx) {
    if (access == api_access::read)
        snapshot_.emplace(ctx_.db);
    else
        txn_.emplace(ctx_.db);
}

api::~api() {
    // Committed also after a refused request or while a fault propagates: operations write
    // nothing before their last check, so there is nothing to roll back, and an open
    // transaction would block every later request. A failure of the storage itself (full,
    // damaged) rolls back (the guard does, on its way out); the request has already failed.
    if (!txn_ || !txn_->open() || storage_failure_pending()) return;
    try {
        txn_->commit();
    } catch (const sqlite_error& e) {
        TN_LOG(LF_API, LL_ERROR, "Request not committed: " << e.what());
    }
}

void api::finish() {
    if (snapshot_) snapshot_->end();
    if (!txn_ || !txn_->open()) return;
    if (storage_failure_pending())
        txn_->rollback();
    else
        txn_->commit();
}

bool api::has_access(const std::vector<AccessSpec>& acl, int access) const {
    if (ctx_.admin) return true;
    return check_acl(ctx_.user, ctx_.groups, acl, access);
}

bool api::has_root_access(int type, int access) const {
    if (ctx_.admin) return true;
    RootACL acl;
    std::uint32_t magic = 0;
    // A missing (or unreadable) root ACL is an empty list: only administrators pass.
    if (!cfgstorage<RootACL>::get(ctx_.db, type, acl, magic)) acl.clear();
    return check_acl(ctx_.user, ctx_.groups, acl, access);
}

} // namespace lumbrake
