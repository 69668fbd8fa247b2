#include "client/soap-client-proxy.h"

#include <utility>

using EasySoap::SOAPMethod;
using EasySoap::SOAPParameter;

namespace lumbrake {

namespace {

SOAPMethod method(const char* name) {
    return SOAPMethod(name, SERVICE_NS);
}

template <class T> void put(SOAPMethod& m, const char* name, const T& value) {
    m.AddParameter(name) << value;
}

// Magic numbers are unsigned; the wire carries their bit pattern as xsd:int.
void put_magic(SOAPMethod& m, uint32_t magic) {
    put(m, "magic", static_cast<int>(magic));
}

void get_magic(const SOAPMethod& r, uint32_t& magic) {
    int v = 0;
    r.GetParameter("magic") >> v;
    magic = static_cast<uint32_t>(v);
}

template <class T> void get(const SOAPMethod& r, const char* name, T& value) {
    r.GetParameter(name) >> value;
}

// Optional list results: a missing or undecodable element leaves the list empty (or holding
// what was read before the reader stopped) and never fails the call.
template <class T>
void get_optional_list(const SOAPMethod& r, const char* name, std::vector<T>& list) {
    list.clear();
    try {
        r.GetParameter(name) >> list;
    } catch (...) {
    }
}

// Records whose writing failure must not stop the request: the rest is still sent.
template <class T> void put_lenient(SOAPMethod& m, const char* name, const T& value) {
    try {
        put(m, name, value);
    } catch (...) {
    }
}

// Plug-ins and document filters go leniently both ways: a record that cannot be written is
// left out of the request, and one that cannot be read leaves the caller's record as it was.
template <class T>
void add_lenient(EasySoap::SOAPProxy& proxy, const char* op, const char* name, const T& record,
                 int& id) {
    SOAPMethod m = method(op);
    put_lenient(m, name, record);
    get(proxy.Execute(m), "id", id);
}

template <class T>
void get_lenient(EasySoap::SOAPProxy& proxy, const char* op, const char* name, int id, T& record,
                 uint32_t& magic) {
    SOAPMethod m = method(op);
    put(m, "id", id);
    const SOAPMethod& r = proxy.Execute(m);
    try {
        T read;
        get(r, name, read);
        record = std::move(read);
    } catch (...) {
    }
    get_magic(r, magic);
}

template <class T>
void set_lenient(EasySoap::SOAPProxy& proxy, const char* op, const char* name, int id,
                 const T& record, uint32_t magic) {
    SOAPMethod m = method(op);
    put(m, "id", id);
    put_lenient(m, name, record);
    put_magic(m, magic);
    proxy.Execute(m);
}

void remove_by_id(EasySoap::SOAPProxy& proxy, const char* op, int id) {
    SOAPMethod m = method(op);
    put(m, "id", id);
    proxy.Execute(m);
}

} // namespace

SoapClientProxy::SoapClientProxy(const std::string& endpoint, const char* http_proxy)
    : proxy_(endpoint.c_str(), http_proxy) {}

void SoapClientProxy::AddSource(const SourceConfiguration& cfg, SourceInfo& info) {
    SOAPMethod m = method("AddSource");
    put(m, "cfg", cfg);
    get(proxy_.Execute(m), "info", info);
}

void SoapClientProxy::RemoveSource(int id) {
    remove_by_id(proxy_, "RemoveSource", id);
}

void SoapClientProxy::SetSourceConfiguration(int id, const SourceConfiguration& cfg, uint32_t magic,
                                             SourceInfo& info) {
    SOAPMethod m = method("SetSourceConfiguration");
    put(m, "id", id);
    put(m, "cfg", cfg);
    put_magic(m, magic);
    get(proxy_.Execute(m), "info", info);
}

void SoapClientProxy::EnumSourceConfigurations(std::vector<SourceInfo>& infos) {
    SOAPMethod m = method("EnumSourceConfigurations");
    get_optional_list(proxy_.Execute(m), "infos", infos);
}

void SoapClientProxy::AddAuth(const AuthConfiguration& cfg, int& id) {
    SOAPMethod m = method("AddAuth");
    put(m, "cfg", cfg);
    get(proxy_.Execute(m), "id", id);
}

void SoapClientProxy::RemoveAuth(int id) {
    remove_by_id(proxy_, "RemoveAuth", id);
}

void SoapClientProxy::GetAuthConfiguration(int id, AuthConfiguration& cfg, uint32_t& magic) {
    SOAPMethod m = method("GetAuthConfiguration");
    put(m, "id", id);
    const SOAPMethod& r = proxy_.Execute(m);
    get(r, "cfg", cfg);
    get_magic(r, magic);
}

void SoapClientProxy::SetAuthConfiguration(int id, const AuthConfiguration& cfg, uint32_t magic) {
    SOAPMethod m = method("SetAuthConfiguration");
    put(m, "id", id);
    put(m, "cfg", cfg);
    put_magic(m, magic);
    proxy_.Execute(m);
}

void SoapClientProxy::AddArchive(const ArchiveConfiguration& cfg, ArchiveInfo& info) {
    SOAPMethod m = method("AddArchive");
    put(m, "cfg", cfg);
    get(proxy_.Execute(m), "info", info);
}

void SoapClientProxy::RemoveArchive(int id) {
    remove_by_id(proxy_, "RemoveArchive", id);
}

void SoapClientProxy::SetArchiveConfiguration(int id, const ArchiveConfiguration& cfg,
                                              uint32_t magic, ArchiveInfo& info) {
    SOAPMethod m = method("SetArchiveConfiguration");
    put(m, "id", id);
    put(m, "cfg", cfg);
    put_magic(m, magic);
    get(proxy_.Execute(m), "info", info);
}

void SoapClientProxy::EnumArchiveConfigurations(std::vector<ArchiveInfo>& infos) {
    SOAPMethod m = method("EnumArchiveConfigurations");
    get_optional_list(proxy_.Execute(m), "infos", infos);
}

void SoapClientProxy::StartCrawl(int arcid, ArchiveInfo& info) {
    SOAPMethod m = method("StartCrawl");
    put(m, "arcid", arcid);
    get(proxy_.Execute(m), "info", info);
}

void SoapClientProxy::StopCrawl(int arcid, ArchiveInfo& info) {
    SOAPMethod m = method("StopCrawl");
    put(m, "arcid", arcid);
    get(proxy_.Execute(m), "info", info);
}

void SoapClientProxy::AddCollection(const CollectionConfiguration& cfg, CollectionInfo& info) {
    SOAPMethod m = method("AddCollection");
    put(m, "cfg", cfg);
    get(proxy_.Execute(m), "info", info);
}

void SoapClientProxy::RemoveCollection(int id) {
    remove_by_id(proxy_, "RemoveCollection", id);
}

void SoapClientProxy::SetCollectionConfiguration(int id, const CollectionConfiguration& cfg,
                                                 uint32_t magic, CollectionInfo& info) {
    SOAPMethod m = method("SetCollectionConfiguration");
    put(m, "id", id);
    put(m, "cfg", cfg);
    put_magic(m, magic);
    get(proxy_.Execute(m), "info", info);
}

void SoapClientProxy::EnumCollectionConfigurations(std::vector<CollectionInfo>& infos) {
    SOAPMethod m = method("EnumCollectionConfigurations");
    get_optional_list(proxy_.Execute(m), "infos", infos);
}

void SoapClientProxy::AddWatch(const WatchConfiguration& cfg, WatchInfo& info) {
    SOAPMethod m = method("AddWatch");
    put(m, "cfg", cfg);
    get(proxy_.Execute(m), "info", info);
}

void SoapClientProxy::RemoveWatch(int id) {
    remove_by_id(proxy_, "RemoveWatch", id);
}

void SoapClientProxy::SetWatchConfiguration(int id, const WatchConfiguration& cfg, uint32_t magic,
                                            WatchInfo& info) {
    SOAPMethod m = method("SetWatchConfiguration");
    put(m, "id", id);
    put(m, "cfg", cfg);
    put_magic(m, magic);
    get(proxy_.Execute(m), "info", info);
}

void SoapClientProxy::EnumWatchConfigurations(std::vector<WatchInfo>& infos) {
    SOAPMethod m = method("EnumWatchConfigurations");
    get_optional_list(proxy_.Execute(m), "infos", infos);
}

void SoapClientProxy::Query(const QuerySpec& query, std::vector<QueryResult>& results,
                            int& maxresults) {
    SOAPMethod m = method("Query");
    put(m, "query", query);
    const SOAPMethod& r = proxy_.Execute(m);
    get_optional_list(r, "results", results);
    get(r, "maxresults", maxresults);
}

void SoapClientProxy::GetStatus(api_status_code& status,
                                std::vector<ExtendedStatus>& extendedstatus) {
    SOAPMethod m = method("GetStatus");
    const SOAPMethod& r = proxy_.Execute(m);
    get(r, "status", status);
    get_optional_list(r, "extendedstatus", extendedstatus);
}

void SoapClientProxy::GetMinClientVersion(std::string& version) {
    SOAPMethod m = method("GetMinClientVersion");
    get(proxy_.Execute(m), "version", version);
}

void SoapClientProxy::GetCapabilities(bool& historicize, bool& admin, bool& browsingwrite,
                                      bool& crawlingwrite) {
    SOAPMethod m = method("GetCapabilities");
    const SOAPMethod& r = proxy_.Execute(m);
    get(r, "historicize", historicize);
    get(r, "admin", admin);
    get(r, "browsingwrite", browsingwrite);
    get(r, "crawlingwrite", crawlingwrite);
}

void SoapClientProxy::GetAvailableCrawlLogs(int arcid, std::vector<CrawlLog>& logs) {
    SOAPMethod m = method("GetAvailableCrawlLogs");
    put(m, "arcid", arcid);
    get_optional_list(proxy_.Execute(m), "logs", logs);
}

void SoapClientProxy::GetCrawlLog(int arcid, int nmax, CrawlLog& log,
                                  std::vector<CrawlLogData>& data) {
    SOAPMethod m = method("GetCrawlLog");
    put(m, "arcid", arcid);
    put(m, "nmax", nmax);
    put(m, "log", log);
    const SOAPMethod& r = proxy_.Execute(m);
    get(r, "log", log);
    get_optional_list(r, "data", data);
}

void SoapClientProxy::GetQueryLog(int arcid, int begin, int end, std::vector<QueryLogData>& data) {
    SOAPMethod m = method("GetQueryLog");
    put(m, "arcid", arcid);
    put(m, "begin", begin);
    put(m, "end", end);
    get_optional_list(proxy_.Execute(m), "data", data);
}

void SoapClientProxy::EnumUsersAndGroups(std::vector<std::string>& users,
                                         std::vector<std::string>& builtinusers,
                                         std::vector<std::string>& groups,
                                         std::vector<std::string>& builtingroups) {
    SOAPMethod m = method("EnumUsersAndGroups");
    const SOAPMethod& r = proxy_.Execute(m);
    get_optional_list(r, "users", users);
    get_optional_list(r, "builtinusers", builtinusers);
    get_optional_list(r, "groups", groups);
    get_optional_list(r, "builtingroups", builtingroups);
}

void SoapClientProxy::AddUser(const std::string& username, const std::string& password, bool admin,
                              const std::vector<std::string>& groups) {
    SOAPMethod m = method("AddUser");
    put(m, "username", username);
    put(m, "password", password);
    put(m, "admin", admin);
    put(m, "groups", groups);
    proxy_.Execute(m);
}

void SoapClientProxy::RemoveUser(const std::string& username) {
    SOAPMethod m = method("RemoveUser");
    put(m, "username", username);
    proxy_.Execute(m);
}

void SoapClientProxy::GetUserData(const std::string& username, bool& admin,
                                  std::vector<std::string>& groups) {
    SOAPMethod m = method("GetUserData");
    put(m, "username", username);
    const SOAPMethod& r = proxy_.Execute(m);
    get(r, "admin", admin);
    get_optional_list(r, "groups", groups);
}

void SoapClientProxy::SetUserData(const std::string& username, bool admin,
                                  const std::vector<std::string>& groups) {
    SOAPMethod m = method("SetUserData");
    put(m, "username", username);
    put(m, "admin", admin);
    put(m, "groups", groups);
    proxy_.Execute(m);
}

void SoapClientProxy::SetUserPassword(const std::string& username, const std::string& password) {
    SOAPMethod m = method("SetUserPassword");
    put(m, "username", username);
    put(m, "password", password);
    proxy_.Execute(m);
}

void SoapClientProxy::AddGroup(const std::string& groupname) {
    SOAPMethod m = method("AddGroup");
    put(m, "groupname", groupname);
    proxy_.Execute(m);
}

void SoapClientProxy::RemoveGroup(const std::string& groupname) {
    SOAPMethod m = method("RemoveGroup");
    put(m, "groupname", groupname);
    proxy_.Execute(m);
}

void SoapClientProxy::GetRootACL(RootACLKind type, std::vector<AccessSpec>& acl, uint32_t& magic) {
    SOAPMethod m = method("GetRootACL");
    put(m, "type", type);
    const SOAPMethod& r = proxy_.Execute(m);
    acl.clear();
    get(r, "acl", acl);
    get_magic(r, magic);
}

void SoapClientProxy::SetRootACL(RootACLKind type, const std::vector<AccessSpec>& acl,
                                 uint32_t magic) {
    SOAPMethod m = method("SetRootACL");
    put(m, "type", type);
    put(m, "acl", acl);
    put_magic(m, magic);
    proxy_.Execute(m);
}

void SoapClientProxy::EnumDocFilters(const std::vector<PluginType>& types, bool full,
                                     std::vector<DocFilterInfo>& infos) {
    infos.clear();
    SOAPMethod m = method("EnumDocFilters");
    put(m, "types", types);
    put(m, "full", full);
    get_optional_list(proxy_.Execute(m), "infos", infos);
}

void SoapClientProxy::GetRootRendererPipe(RendererPluginPipe& pipe, uint32_t& magic) {
    SOAPMethod m = method("GetRootRendererPipe");
    const SOAPMethod& r = proxy_.Execute(m);
    // The pipe is optional and not cleared: without one the caller's ids stay.
    try {
        RendererPluginPipe read;
        get(r, "pipe", read);
        pipe = std::move(read);
    } catch (...) {
    }
    get_magic(r, magic);
}

void SoapClientProxy::SetRootRendererPipe(const RendererPluginPipe& pipe, uint32_t magic) {
    SOAPMethod m = method("SetRootRendererPipe");
    put_lenient(m, "pipe", pipe);
    put_magic(m, magic);
    proxy_.Execute(m);
}

void SoapClientProxy::AddDocument(int arcid, const std::string& url, const std::string& mimetype,
                                  const std::string& content, std::string& docid) {
    SOAPMethod m = method("AddDocument");
    put(m, "arcid", arcid);
    put(m, "url", url);
    put(m, "mimetype", mimetype);
    put(m, "content", EasySoap::SOAPBase64{content});
    get(proxy_.Execute(m), "docid", docid);
}

void SoapClientProxy::RemoveDocument(const std::string& docid) {
    SOAPMethod m = method("RemoveDocument");
    put(m, "docid", docid);
    proxy_.Execute(m);
}

void SoapClientProxy::EnumPluginDLLs(const std::vector<PluginType>& types,
                                     std::vector<PluginDLLInfo>& infos) {
    infos.clear();
    SOAPMethod m = method("EnumPluginDLLs");
    put(m, "types", types);
    get_optional_list(proxy_.Execute(m), "infos", infos);
}

void SoapClientProxy::EnumPlugins(const std::vector<PluginType>& types, bool full,
                                  std::vector<PluginInfo>& infos) {
    infos.clear();
    SOAPMethod m = method("EnumPlugins");
    put(m, "types", types);
    put(m, "full", full);
    get_optional_list(proxy_.Execute(m), "infos", infos);
}

void SoapClientProxy::AddPlugin(const Plugin& plugin, int& id) {
    add_lenient(proxy_, "AddPlugin", "plugin", plugin, id);
}

void SoapClientProxy::GetPlugin(int id, Plugin& plugin, uint32_t& magic) {
    get_lenient(proxy_, "GetPlugin", "plugin", id, plugin, magic);
}

void SoapClientProxy::SetPlugin(int id, const Plugin& plugin, uint32_t magic) {
    set_lenient(proxy_, "SetPlugin", "plugin", id, plugin, magic);
}

void SoapClientProxy::RemovePlugin(int id) {
    remove_by_id(proxy_, "RemovePlugin", id);
}

void SoapClientProxy::AddDocFilter(const DocFilter& docfilter, int& id) {
    add_lenient(proxy_, "AddDocFilter", "docfilter", docfilter, id);
}

void SoapClientProxy::GetDocFilter(int id, DocFilter& docfilter, uint32_t& magic) {
    get_lenient(proxy_, "GetDocFilter", "docfilter", id, docfilter, magic);
}

void SoapClientProxy::SetDocFilter(int id, const DocFilter& docfilter, uint32_t magic) {
    set_lenient(proxy_, "SetDocFilter", "docfilter", id, docfilter, magic);
}

void SoapClientProxy::RemoveDocFilter(int id) {
    remove_by_id(proxy_, "RemoveDocFilter", id);
}

} // namespace lumbrake
