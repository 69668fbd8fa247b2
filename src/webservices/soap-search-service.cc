#include "webservices/soap-search-service.h"

#include "api-wire/wire-enums.h"
#include "api-wire/wire-records.h"
#include "api/info-records.h"
#include "apiops/api-plugin.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace lumbrake {

using EasySoap::SOAPException;
using EasySoap::SOAPMethod;
using EasySoap::SOAPParameter;

namespace {

template <class T> T get(const SOAPParameter& q, const char* name) {
    T value{};
    q.GetParameter(name) >> value;
    return value;
}

// The first name, else the second; a failure of the second fails the call.
template <class T> T get_either(const SOAPParameter& q, const char* first, const char* second) {
    try {
        return get<T>(q, first);
    } catch (const SOAPException&) {
        return get<T>(q, second);
    }
}

// An optional list: the items read before the first failure (none when it is absent).
template <class T> std::vector<T> get_optional_list(const SOAPParameter& q, const char* name) {
    std::vector<T> list;
    const SOAPParameter* array = q.FindParameter(name);
    if (!array) return list;
    try {
        for (std::size_t i = 0; i < array->GetNumParams(); ++i) {
            T item{};
            array->GetParameterAt(i) >> item;
            list.push_back(std::move(item));
        }
    } catch (const SOAPException&) {
    }
    return list;
}

std::uint32_t get_magic(const SOAPParameter& q) {
    return static_cast<std::uint32_t>(get<int>(q, "magic"));
}

template <class T> void put(SOAPParameter& r, const char* name, const T& value) {
    r.AddParameter(name) << value;
}
void put_magic(SOAPParameter& r, std::uint32_t magic) {
    put(r, "magic", static_cast<int>(magic));
}
template <class T> void put_nonempty(SOAPParameter& r, const char* name, const std::vector<T>& v) {
    if (!v.empty()) put(r, name, v);
}

// Token texts compared exactly; any other text is refused before the operation runs.
int get_token(const SOAPParameter& q, const char* name, const wire::enum_table& table) {
    const std::string text = get<std::string>(q, name);
    int value = 0;
    if (!wire::token_to_value(table, text, value))
        throw SOAPException("Invalid value for " + std::string(name) + ": " + text);
    return value;
}

} // namespace

LumbrakeSearchHandler::LumbrakeSearchHandler(httpcontext& context, const api_context& base)
    : http_(context), ctx_(base) {
    ctx_.db = context.db;
    if (!context.user.empty()) ctx_.user = context.user;
    ctx_.groups = context.groups;
    ctx_.admin = context.admin;

    using H = LumbrakeSearchHandler;
    static constexpr std::pair<const char*, Member> table[] = {
        {"AddSource", &H::AddSource},
        {"RemoveSource", &H::RemoveSource},
        {"GetSourceConfiguration", &H::GetSourceConfiguration},
        {"SetSourceConfiguration", &H::SetSourceConfiguration},
        {"EnumSourceConfigurations", &H::EnumSourceConfigurations},
        {"AddAuth", &H::AddAuth},
        {"RemoveAuth", &H::RemoveAuth},
        {"GetAuthConfiguration", &H::GetAuthConfiguration},
        {"SetAuthConfiguration", &H::SetAuthConfiguration},
        {"AddArchive", &H::AddArchive},
        {"RemoveArchive", &H::RemoveArchive},
        {"GetArchiveConfiguration", &H::GetArchiveConfiguration},
        {"SetArchiveConfiguration", &H::SetArchiveConfiguration},
        {"EnumArchiveConfigurations", &H::EnumArchiveConfigurations},
        {"GetArchiveInfo", &H::GetArchiveInfo},
        {"AddCollection", &H::AddCollection},
        {"RemoveCollection", &H::RemoveCollection},
        {"GetCollectionConfiguration", &H::GetCollectionConfiguration},
        {"SetCollectionConfiguration", &H::SetCollectionConfiguration},
        {"EnumCollectionConfigurations", &H::EnumCollectionConfigurations},
        {"AddWatch", &H::AddWatch},
        {"RemoveWatch", &H::RemoveWatch},
        {"GetWatchConfiguration", &H::GetWatchConfiguration},
        {"SetWatchConfiguration", &H::SetWatchConfiguration},
        {"EnumWatchConfigurations", &H::EnumWatchConfigurations},
        {"Query", &H::Query},
        {"GetDocument", &H::GetDocument},
        {"GetDocumentURL", &H::GetDocumentURL},
        {"AddDocument", &H::AddDocument},
        {"RemoveDocument", &H::RemoveDocument},
        {"GetStatus", &H::GetStatus},
        {"GetVersion", &H::GetVersion},
        {"GetMinClientVersion", &H::GetMinClientVersion},
        {"GetCapabilities", &H::GetCapabilities},
        {"NormalizeURL", &H::NormalizeURL},
        {"StartCrawl", &H::StartCrawl},
        {"StopCrawl", &H::StopCrawl},
        {"ReprocessDocuments", &H::ReprocessDocuments},
        {"GetAvailableCrawlLogs", &H::GetAvailableCrawlLogs},
        {"GetCrawlLog", &H::GetCrawlLog},
        {"GetQueryLog", &H::GetQueryLog},
        {"AddUser", &H::AddUser},
        {"RemoveUser", &H::RemoveUser},
        {"GetUserData", &H::GetUserData},
        {"SetUserData", &H::SetUserData},
        {"SetUserPassword", &H::SetUserPassword},
        {"AddGroup", &H::AddGroup},
        {"RemoveGroup", &H::RemoveGroup},
        {"EnumUsersAndGroups", &H::EnumUsersAndGroups},
        {"GetRootACL", &H::GetRootACL},
        {"SetRootACL", &H::SetRootACL},
        {"EnumPluginDLLs", &H::EnumPluginDLLs},
        {"EnumPlugins", &H::EnumPlugins},
        {"AddPlugin", &H::AddPlugin},
        {"RemovePlugin", &H::RemovePlugin},
        {"GetPlugin", &H::GetPlugin},
        {"SetPlugin", &H::SetPlugin},
        {"EnumDocFilters", &H::EnumDocFilters},
        {"AddDocFilter", &H::AddDocFilter},
        {"RemoveDocFilter", &H::RemoveDocFilter},
        {"GetDocFilter", &H::GetDocFilter},
        {"SetDocFilter", &H::SetDocFilter},
        {"GetRootRendererPipe", &H::GetRootRendererPipe},
        {"SetRootRendererPipe", &H::SetRootRendererPipe},
        {"AddIndex", &H::AddIndex},
        {"RemoveIndex", &H::RemoveIndex},
        {"GetIndexConfiguration", &H::GetIndexConfiguration},
        {"SetIndexConfiguration", &H::SetIndexConfiguration},
        {"EnumIndexConfigurations", &H::EnumIndexConfigurations},
        {"GetCachedPage", &H::GetDocument},
        {"QueryIndex", &H::Query},
    };
    for (const auto& [name, member] : table)
        DispatchMethod(name, SERVICE_NS, member);
}

// Parameters are read before the session opens, so a malformed request never takes the
// database lock; results are written only after the session has committed.
template <class F> void LumbrakeSearchHandler::call(F&& operation) {
    api_result res;
    {
        api session(ctx_);
        operation(session, res);
        session.finish();
    }
    if (!res.ok) throw SOAPException(res.fault);
}

template <class F> void LumbrakeSearchHandler::read(F&& operation) {
    api_result res;
    {
        api session(ctx_, api_access::read);
        operation(session, res);
        session.finish();
    }
    if (!res.ok) throw SOAPException(res.fault);
}

// --- Sources and authentications -------------------------------------------------------------

void LumbrakeSearchHandler::AddSource(Request& q, Response& r) {
    const auto cfg = get<SourceConfiguration>(q, "cfg");
    SourceInfo info;
    call([&](api& a, api_result& res) { a.add_source(res, cfg, info); });
    put(r, "info", info);
}
void LumbrakeSearchHandler::RemoveSource(Request& q, Response&) {
    const int id = get<int>(q, "id");
    call([&](api& a, api_result& res) { a.remove_source(res, id); });
}
void LumbrakeSearchHandler::GetSourceConfiguration(Request& q, Response& r) {
    const int id = get<int>(q, "id");
    SourceConfiguration cfg;
    std::uint32_t magic = 0;
    read([&](api& a, api_result& res) { a.get_source_configuration(res, id, cfg, magic); });
    put(r, "cfg", cfg);
    put_magic(r, magic);
}
void LumbrakeSearchHandler::SetSourceConfiguration(Request& q, Response& r) {
    const int id = get<int>(q, "id");
    const auto cfg = get<SourceConfiguration>(q, "cfg");
    const std::uint32_t magic = get_magic(q);
    SourceInfo info;
    call([&](api& a, api_result& res) { a.set_source_configuration(res, id, cfg, magic, info); });
    put(r, "info", info);
}
void LumbrakeSearchHandler::EnumSourceConfigurations(Request&, Response& r) {
    std::vector<SourceInfo> infos;
    read([&](api& a, api_result& res) { a.enum_source_configurations(res, infos); });
    put_nonempty(r, "infos", infos);
}
void LumbrakeSearchHandler::AddAuth(Request& q, Response& r) {
    const auto cfg = get<AuthConfiguration>(q, "cfg");
    std::int32_t id = 0;
    call([&](api& a, api_result& res) { a.add_auth(res, cfg, id); });
    put(r, "id", static_cast<int>(id));
}
void LumbrakeSearchHandler::RemoveAuth(Request& q, Response&) {
    const int id = get<int>(q, "id");
    call([&](api& a, api_result& res) { a.remove_auth(res, id); });
}
void LumbrakeSearchHandler::GetAuthConfiguration(Request& q, Response& r) {
    const int id = get<int>(q, "id");
    AuthConfiguration cfg;
    std::uint32_t magic = 0;
    read([&](api& a, api_result& res) { a.get_auth_configuration(res, id, cfg, magic); });
    put(r, "cfg", cfg);
    put_magic(r, magic);
}
void LumbrakeSearchHandler::SetAuthConfiguration(Request& q, Response&) {
    const int id = get<int>(q, "id");
    const auto cfg = get<AuthConfiguration>(q, "cfg");
    const std::uint32_t magic = get_magic(q);
    call([&](api& a, api_result& res) { a.set_auth_configuration(res, id, cfg, magic); });
}

// --- Archives ---------------------------------------------------------------------------------

void LumbrakeSearchHandler::AddArchive(Request& q, Response& r) {
    const auto cfg = get<ArchiveConfiguration>(q, "cfg");
    ArchiveInfo info;
    call([&](api& a, api_result& res) { a.add_archive(res, cfg, info); });
    put(r, "info", info);
}
void LumbrakeSearchHandler::RemoveArchive(Request& q, Response&) {
    const int id = get<int>(q, "id");
    call([&](api& a, api_result& res) { a.remove_archive(res, id); });
}
void LumbrakeSearchHandler::GetArchiveConfiguration(Request& q, Response& r) {
    const int id = get<int>(q, "id");
    ArchiveConfiguration cfg;
    std::uint32_t magic = 0;
    read([&](api& a, api_result& res) { a.get_archive_configuration(res, id, cfg, magic); });
    put(r, "cfg", cfg);
    put_magic(r, magic);
}
void LumbrakeSearchHandler::SetArchiveConfiguration(Request& q, Response& r) {
    const int id = get<int>(q, "id");
    const auto cfg = get<ArchiveConfiguration>(q, "cfg");
    const std::uint32_t magic = get_magic(q);
    ArchiveInfo info;
    call([&](api& a, api_result& res) { a.set_archive_configuration(res, id, cfg, magic, info); });
    put(r, "info", info);
}
void LumbrakeSearchHandler::EnumArchiveConfigurations(Request&, Response& r) {
    std::vector<ArchiveInfo> infos;
    read([&](api& a, api_result& res) { a.enum_archive_configurations(res, infos); });
    put_nonempty(r, "infos", infos);
}
void LumbrakeSearchHandler::GetArchiveInfo(Request& q, Response& r) {
    const int id = get<int>(q, "id");
    ArchiveInfo info;
    read([&](api& a, api_result& res) { a.get_archive_info(res, id, info); });
    put(r, "info", info);
}

// --- Collections and watches ------------------------------------------------------------------

void LumbrakeSearchHandler::AddCollection(Request& q, Response& r) {
    const auto cfg = get<CollectionConfiguration>(q, "cfg");
    CollectionInfo info;
    call([&](api& a, api_result& res) { a.add_collection(res, cfg, info); });
    put(r, "info", info);
}
void LumbrakeSearchHandler::RemoveCollection(Request& q, Response&) {
    const int id = get<int>(q, "id");
    call([&](api& a, api_result& res) { a.remove_collection(res, id); });
}
void LumbrakeSearchHandler::GetCollectionConfiguration(Request& q, Response& r) {
    const int id = get<int>(q, "id");
    CollectionConfiguration cfg;
    std::uint32_t magic = 0;
    read([&](api& a, api_result& res) { a.get_collection_configuration(res, id, cfg, magic); });
    put(r, "cfg", cfg);
    put_magic(r, magic);
}
void LumbrakeSearchHandler::SetCollectionConfiguration(Request& q, Response& r) {
    const int id = get<int>(q, "id");
    const auto cfg = get<CollectionConfiguration>(q, "cfg");
    const std::uint32_t magic = get_magic(q);
    CollectionInfo info;
    call([&](api& a, api_result& res) {
        a.set_collection_configuration(res, id, cfg, magic, info);
    });
    put(r, "info", info);
}
void LumbrakeSearchHandler::EnumCollectionConfigurations(Request&, Response& r) {
    std::vector<CollectionInfo> infos;
    read([&](api& a, api_result& res) { a.enum_collection_configurations(res, infos); });
    put_nonempty(r, "infos", infos);
}
void LumbrakeSearchHandler::AddWatch(Request& q, Response& r) {
    const auto cfg = get<WatchConfiguration>(q, "cfg");
    WatchInfo info;
    call([&](api& a, api_result& res) { a.add_watch(res, cfg, info); });
    put(r, "info", info);
}
void LumbrakeSearchHandler::RemoveWatch(Request& q, Response&) {
    const int id = get<int>(q, "id");
    call([&](api& a, api_result& res) { a.remove_watch(res, id); });
}
void LumbrakeSearchHandler::GetWatchConfiguration(Request& q, Response& r) {
    const int id = get<int>(q, "id");
    WatchConfiguration cfg;
    std::uint32_t magic = 0;
    read([&](api& a, api_result& res) { a.get_watch_configuration(res, id, cfg, magic); });
    put(r, "cfg", cfg);
    put_magic(r, magic);
}
void LumbrakeSearchHandler::SetWatchConfiguration(Request& q, Response& r) {
    const int id = get<int>(q, "id");
    const auto cfg = get<WatchConfiguration>(q, "cfg");
    const std::uint32_t magic = get_magic(q);
    WatchInfo info;
    call([&](api& a, api_result& res) { a.set_watch_configuration(res, id, cfg, magic, info); });
    put(r, "info", info);
}
void LumbrakeSearchHandler::EnumWatchConfigurations(Request&, Response& r) {
    std::vector<WatchInfo> infos;
    read([&](api& a, api_result& res) { a.enum_watch_configurations(res, infos); });
    put_nonempty(r, "infos", infos);
}

// --- Search and documents ---------------------------------------------------------------------

void LumbrakeSearchHandler::Query(Request& q, Response& r) {
    auto query_spec = get<QuerySpec>(q, "query");
    std::vector<QueryResult> results;
    std::int32_t total = 0;
    read([&](api& a, api_result& res) { a.query(res, query_spec, results, total, false); });
    put_nonempty(r, "results", results);
    put(r, "maxresults", static_cast<int>(total));
}
void LumbrakeSearchHandler::GetDocument(Request& q, Response& r) {
    const auto docid = get_either<std::string>(q, "docid", "ID");
    const int format = get_token(q, "format", wire::document_format_enum);
    std::string url, type, content;
    read([&](api& a, api_result& res) {
        a.get_cached_page(res, docid, format, url, type, content);
    });
    put(r, "url", url);
    put(r, "type", type);
    put(r, "content", EasySoap::SOAPBase64{std::move(content)});
}
void LumbrakeSearchHandler::GetDocumentURL(Request& q, Response& r) {
    const auto docid = get<std::string>(q, "docid");
    std::string url;
    read([&](api& a, api_result& res) { a.get_document_url(res, docid, url); });
    put(r, "url", url);
}
void LumbrakeSearchHandler::AddDocument(Request& q, Response& r) {
    const int arcid = get_either<int>(q, "arcid", "idxid");
    const auto url = get<std::string>(q, "url");
    const auto mime = get_either<std::string>(q, "mimetype", "type");
    const auto content = get<EasySoap::SOAPBase64>(q, "content");
    std::string docid;
    call([&](api& a, api_result& res) {
        a.add_document(res, arcid, url, mime, content.bytes, docid);
    });
    put(r, "docid", docid);
}
void LumbrakeSearchHandler::RemoveDocument(Request& q, Response&) {
    const auto docid = get<std::string>(q, "docid");
    call([&](api& a, api_result& res) { a.remove_document(res, docid); });
}

// --- Status and versions ----------------------------------------------------------------------

void LumbrakeSearchHandler::GetStatus(Request&, Response& r) {
    std::int32_t status = 0;
    std::vector<ExtendedStatus> rows;
    read([&](api& a, api_result& res) { a.get_status(res, status, rows); });
    put(r, "status", static_cast<api_status_code>(status));
    put_nonempty(r, "extendedstatus", rows);
}
void LumbrakeSearchHandler::GetVersion(Request&, Response& r) {
    std::string version;
    read([&](api& a, api_result& res) { a.get_version(res, version); });
    put(r, "version", version);
}
void LumbrakeSearchHandler::GetMinClientVersion(Request&, Response& r) {
    std::string version;
    read([&](api& a, api_result& res) { a.get_min_client_version(res, version); });
    put(r, "version", version);
}
void LumbrakeSearchHandler::GetCapabilities(Request&, Response& r) {
    bool historicize = false, admin = false, browsing = false, crawling = false;
    read([&](api& a, api_result& res) {
        a.get_capabilities(res, historicize, admin, browsing, crawling);
    });
    put(r, "historicize", historicize);
    put(r, "admin", admin);
    put(r, "browsingwrite", browsing);
    put(r, "crawlingwrite", crawling);
}
void LumbrakeSearchHandler::NormalizeURL(Request& q, Response& r) {
    const auto url = get<std::string>(q, "url");
    std::string normalized;
    read([&](api& a, api_result& res) { a.normalize_url(res, url, normalized); });
    put(r, "url", normalized);
}

// --- Crawl control and logs -------------------------------------------------------------------

void LumbrakeSearchHandler::StartCrawl(Request& q, Response& r) {
    const int arcid = get_either<int>(q, "arcid", "idxid");
    ArchiveInfo info;
    call([&](api& a, api_result& res) { a.start_crawl(res, arcid, info); });
    put(r, "info", info);
}
void LumbrakeSearchHandler::StopCrawl(Request& q, Response& r) {
    const int arcid = get_either<int>(q, "arcid", "idxid");
    ArchiveInfo info;
    call([&](api& a, api_result& res) { a.stop_crawl(res, arcid, info); });
    put(r, "info", info);
}
void LumbrakeSearchHandler::ReprocessDocuments(Request& q, Response& r) {
    const int arcid = get<int>(q, "arcid");
    ArchiveInfo info;
    call([&](api& a, api_result& res) { a.reprocess_documents(res, arcid, info); });
    put(r, "info", info);
}
void LumbrakeSearchHandler::GetAvailableCrawlLogs(Request& q, Response& r) {
    const int arcid = get_either<int>(q, "arcid", "idxid");
    std::vector<CrawlLog> logs;
    read([&](api& a, api_result& res) { a.get_available_crawl_logs(res, arcid, logs); });
    put_nonempty(r, "logs", logs);
}
void LumbrakeSearchHandler::GetCrawlLog(Request& q, Response& r) {
    const int arcid = get_either<int>(q, "arcid", "idxid");
    const int nmax = get<int>(q, "nmax");
    const SOAPParameter& log = q.GetParameter("log");
    CrawlLog cursor;
    cursor.Time = get<int>(log, "Time");
    cursor.Cookie = get<std::string>(log, "Cookie");
    std::vector<CrawlLogData> rows;
    read([&](api& a, api_result& res) { a.get_crawl_log(res, arcid, nmax, cursor, rows); });
    put(r, "log", cursor);
    put_nonempty(r, "data", rows);
}
void LumbrakeSearchHandler::GetQueryLog(Request& q, Response& r) {
    const int arcid = get_either<int>(q, "arcid", "idxid");
    const int begin = get<int>(q, "begin");
    const int end = get<int>(q, "end");
    std::vector<QueryLogData> rows;
    read([&](api& a, api_result& res) { a.get_query_log(res, arcid, begin, end, rows); });
    put_nonempty(r, "data", rows);
}

// --- Users, groups and root ACLs --------------------------------------------------------------

void LumbrakeSearchHandler::AddUser(Request& q, Response&) {
    const auto user = get<std::string>(q, "username");
    const auto password = get<std::string>(q, "password");
    const bool admin = get<bool>(q, "admin");
    const auto groups = get_optional_list<std::string>(q, "groups");
    call([&](api& a, api_result& res) { a.add_user(res, user, password, admin, groups); });
}
void LumbrakeSearchHandler::RemoveUser(Request& q, Response&) {
    const auto user = get<std::string>(q, "username");
    call([&](api& a, api_result& res) { a.remove_user(res, user); });
}
void LumbrakeSearchHandler::GetUserData(Request& q, Response& r) {
    const auto user = get<std::string>(q, "username");
    bool admin = false;
    std::vector<std::string> groups;
    read([&](api& a, api_result& res) { a.get_user_data(res, user, admin, groups); });
    put(r, "admin", admin);
    put_nonempty(r, "groups", groups);
}
void LumbrakeSearchHandler::SetUserData(Request& q, Response&) {
    const auto user = get<std::string>(q, "username");
    const bool admin = get<bool>(q, "admin");
    const auto groups = get_optional_list<std::string>(q, "groups");
    call([&](api& a, api_result& res) { a.set_user_data(res, user, admin, groups); });
}
void LumbrakeSearchHandler::SetUserPassword(Request& q, Response&) {
    const auto user = get<std::string>(q, "username");
    const auto password = get<std::string>(q, "password");
    call([&](api& a, api_result& res) { a.set_user_password(res, user, password); });
}
void LumbrakeSearchHandler::AddGroup(Request& q, Response&) {
    const auto group = get<std::string>(q, "groupname");
    call([&](api& a, api_result& res) { a.add_group(res, group); });
}
void LumbrakeSearchHandler::RemoveGroup(Request& q, Response&) {
    const auto group = get<std::string>(q, "groupname");
    call([&](api& a, api_result& res) { a.remove_group(res, group); });
}
void LumbrakeSearchHandler::EnumUsersAndGroups(Request&, Response& r) {
    std::vector<std::string> users, builtin_users, groups, builtin_groups;
    read([&](api& a, api_result& res) {
        a.enum_users_and_groups(res, users, builtin_users, groups, builtin_groups);
    });
    put_nonempty(r, "users", users);
    put_nonempty(r, "builtinusers", builtin_users);
    put_nonempty(r, "groups", groups);
    put_nonempty(r, "builtingroups", builtin_groups);
}
void LumbrakeSearchHandler::GetRootACL(Request& q, Response& r) {
    const int type = get_token(q, "type", wire::root_acl_type_enum);
    std::vector<AccessSpec> acl;
    std::uint32_t magic = 0;
    read([&](api& a, api_result& res) { a.get_root_acl(res, type, acl, magic); });
    put(r, "acl", acl); // written also when empty
    put_magic(r, magic);
}
void LumbrakeSearchHandler::SetRootACL(Request& q, Response&) {
    const int type = get_token(q, "type", wire::root_acl_type_enum);
    const auto acl = get<std::vector<AccessSpec>>(q, "acl");
    const std::uint32_t magic = get_magic(q);
    call([&](api& a, api_result& res) { a.set_root_acl(res, type, acl, magic); });
}

// --- Plug-ins and document filters ------------------------------------------------------------

void LumbrakeSearchHandler::EnumPluginDLLs(Request& q, Response& r) {
    const auto types = get_optional_list<PluginType>(q, "types");
    std::vector<PluginDLLInfo> infos;
    call([&](api& a, api_result& res) { a.enum_plugin_dlls(res, types, infos); });
    put_nonempty(r, "infos", infos);
}
void LumbrakeSearchHandler::EnumPlugins(Request& q, Response& r) {
    const auto types = get_optional_list<PluginType>(q, "types");
    const bool full = get<bool>(q, "full");
    std::vector<PluginInfo> infos;
    call([&](api& a, api_result& res) { a.enum_plugins(res, types, full, infos); });
    put_nonempty(r, "infos", infos);
}
void LumbrakeSearchHandler::AddPlugin(Request& q, Response& r) {
    const auto plugin = get<Plugin>(q, "plugin");
    std::int32_t id = 0;
    call([&](api& a, api_result& res) { a.add_plugin(res, plugin, id); });
    put(r, "id", static_cast<int>(id));
}
void LumbrakeSearchHandler::RemovePlugin(Request& q, Response&) {
    const int id = get<int>(q, "id");
    call([&](api& a, api_result& res) { a.remove_plugin(res, id); });
}
void LumbrakeSearchHandler::GetPlugin(Request& q, Response& r) {
    const int id = get<int>(q, "id");
    Plugin plugin;
    std::uint32_t magic = 0;
    call([&](api& a, api_result& res) { a.get_plugin(res, id, plugin, magic); });
    put(r, "plugin", plugin);
    put_magic(r, magic);
}
void LumbrakeSearchHandler::SetPlugin(Request& q, Response&) {
    const int id = get<int>(q, "id");
    const auto plugin = get<Plugin>(q, "plugin");
    const std::uint32_t magic = get_magic(q);
    call([&](api& a, api_result& res) { a.set_plugin(res, id, plugin, magic); });
}
void LumbrakeSearchHandler::EnumDocFilters(Request& q, Response& r) {
    const auto types = get_optional_list<PluginType>(q, "types");
    const bool full = get<bool>(q, "full");
    std::vector<DocFilterInfo> infos;
    call([&](api& a, api_result& res) { a.enum_doc_filters(res, types, full, infos); });
    put_nonempty(r, "infos", infos);
}
void LumbrakeSearchHandler::AddDocFilter(Request& q, Response& r) {
    const auto filter = get<DocFilter>(q, "docfilter");
    std::int32_t id = 0;
    call([&](api& a, api_result& res) { a.add_doc_filter(res, filter, id); });
    put(r, "id", static_cast<int>(id));
}
void LumbrakeSearchHandler::RemoveDocFilter(Request& q, Response&) {
    const int id = get<int>(q, "id");
    call([&](api& a, api_result& res) { a.remove_doc_filter(res, id); });
}
void LumbrakeSearchHandler::GetDocFilter(Request& q, Response& r) {
    const int id = get<int>(q, "id");
    DocFilter filter;
    std::uint32_t magic = 0;
    call([&](api& a, api_result& res) { a.get_doc_filter(res, id, filter, magic); });
    put(r, "docfilter", filter);
    put_magic(r, magic);
}
void LumbrakeSearchHandler::SetDocFilter(Request& q, Response&) {
    const int id = get<int>(q, "id");
    const auto filter = get<DocFilter>(q, "docfilter");
    const std::uint32_t magic = get_magic(q);
    call([&](api& a, api_result& res) { a.set_doc_filter(res, id, filter, magic); });
}
void LumbrakeSearchHandler::GetRootRendererPipe(Request&, Response& r) {
    RendererPluginPipe pipe;
    std::uint32_t magic = 0;
    call([&](api& a, api_result& res) { a.get_root_renderer_pipe(res, pipe.DocFilterIDs, magic); });
    put(r, "pipe", pipe);
    put_magic(r, magic);
}
void LumbrakeSearchHandler::SetRootRendererPipe(Request& q, Response&) {
    const auto ids = get<std::vector<int>>(q.GetParameter("pipe"), "DocFilterIDs");
    const std::uint32_t magic = get_magic(q);
    const std::vector<std::int32_t> list(ids.begin(), ids.end());
    call([&](api& a, api_result& res) { a.set_root_renderer_pipe(res, list, magic); });
}

// --- Index configurations ---------------------------------------------------------------------

void LumbrakeSearchHandler::AddIndex(Request& q, Response& r) {
    const auto cfg = get<IndexConfiguration>(q, "cfg");
    std::int32_t id = 0;
    call([&](api& a, api_result& res) { a.add_index(res, cfg, id); });
    put(r, "id", static_cast<int>(id));
}
void LumbrakeSearchHandler::RemoveIndex(Request& q, Response&) {
    const int id = get<int>(q, "id");
    call([&](api& a, api_result& res) { a.remove_index(res, id); });
}
void LumbrakeSearchHandler::GetIndexConfiguration(Request& q, Response& r) {
    const int id = get<int>(q, "id");
    IndexConfiguration cfg;
    std::uint32_t magic = 0;
    read([&](api& a, api_result& res) { a.get_index_configuration(res, id, cfg, magic); });
    put(r, "cfg", cfg);
    put_magic(r, magic);
}
void LumbrakeSearchHandler::SetIndexConfiguration(Request& q, Response&) {
    const int id = get<int>(q, "id");
    const auto cfg = get<IndexConfiguration>(q, "cfg");
    const std::uint32_t magic = get_magic(q);
    call([&](api& a, api_result& res) { a.set_index_configuration(res, id, cfg, magic); });
}
void LumbrakeSearchHandler::EnumIndexConfigurations(Request&, Response& r) {
    std::vector<IndexInfo> infos;
    read([&](api& a, api_result& res) { a.enum_index_configurations(res, infos); });
    put_nonempty(r, "infos", infos);
}

// --- Factories --------------------------------------------------------------------------------

std::unique_ptr<EasySoap::SOAPDispatchHandlerInterface>
make_search_handler(httpcontext& context, const api_context& base) {
    return std::make_unique<LumbrakeSearchHandler>(context, base);
}

std::unique_ptr<EasySoap::SOAPDispatchHandlerInterface> make_search_handler(httpcontext& context) {
    if (context.app)
        return make_search_handler(context, make_api_context(*context.app, context.db, context.user,
                                                             context.groups, context.admin));
    return make_search_handler(context, api_context{});
}

} // namespace lumbrake
