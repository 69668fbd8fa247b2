// The client side of the daemon's SOAP service: one operation per daemon method, results
// through out-parameters, failures (transport, HTTP status, faults, undecodable answers) as
// EasySoap::SOAPException. Used by the control panel and by trawlnest-cli.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "api-wire/wire-records.h"
#include "soap/soap_proxy.h"

namespace lumbrake {

class SoapClientProxy {
public:
    // Binds to the endpoint (optionally through an HTTP proxy); nothing is connected or
    // checked here. User information in the endpoint goes as HTTP Basic authentication.
    explicit SoapClientProxy(const std::string& endpoint, const char* http_proxy = nullptr);
    SoapClientProxy(const SoapClientProxy&) = delete;
    SoapClientProxy& operator=(const SoapClientProxy&) = delete;

    // Seconds for each whole call and for connecting (EasySoap::SOAPProxy's defaults, 300
    // and 30); 0 lifts the limit. A call that runs out throws a SOAPException saying
    // "...timed out...".
    void SetTimeout(long seconds) { proxy_.SetTimeout(seconds); }
    void SetConnectTimeout(long seconds) { proxy_.SetConnectTimeout(seconds); }

    void AddSource(const SourceConfiguration& cfg, SourceInfo& info);
    void RemoveSource(int id);
    void SetSourceConfiguration(int id, const SourceConfiguration& cfg, uint32_t magic,
                                SourceInfo& info);
    void EnumSourceConfigurations(std::vector<SourceInfo>& infos);

    void AddAuth(const AuthConfiguration& cfg, int& id);
    void RemoveAuth(int id);
    void GetAuthConfiguration(int id, AuthConfiguration& cfg, uint32_t& magic);
    void SetAuthConfiguration(int id, const AuthConfiguration& cfg, uint32_t magic);

    void AddArchive(const ArchiveConfiguration& cfg, ArchiveInfo& info);
    void RemoveArchive(int id);
    void SetArchiveConfiguration(int id, const ArchiveConfiguration& cfg, uint32_t magic,
                                 ArchiveInfo& info);
    void EnumArchiveConfigurations(std::vector<ArchiveInfo>& infos);
    void StartCrawl(int arcid, ArchiveInfo& info);
    void StopCrawl(int arcid, ArchiveInfo& info);

    void AddCollection(const CollectionConfiguration& cfg, CollectionInfo& info);
    void RemoveCollection(int id);
    void SetCollectionConfiguration(int id, const CollectionConfiguration& cfg, uint32_t magic,
                                    CollectionInfo& info);
    void EnumCollectionConfigurations(std::vector<CollectionInfo>& infos);

    void AddWatch(const WatchConfiguration& cfg, WatchInfo& info);
    void RemoveWatch(int id);
    void SetWatchConfiguration(int id, const WatchConfiguration& cfg, uint32_t magic,
                               WatchInfo& info);
    void EnumWatchConfigurations(std::vector<WatchInfo>& infos);

    void Query(const QuerySpec& query, std::vector<QueryResult>& results, int& maxresults);
    void GetStatus(api_status_code& status, std::vector<ExtendedStatus>& extendedstatus);
    void GetMinClientVersion(std::string& version);
    void GetCapabilities(bool& historicize, bool& admin, bool& browsingwrite, bool& crawlingwrite);

    void GetAvailableCrawlLogs(int arcid, std::vector<CrawlLog>& logs);
    // `log` is the cursor: sent, then overwritten with the answered one.
    void GetCrawlLog(int arcid, int nmax, CrawlLog& log, std::vector<CrawlLogData>& data);
    void GetQueryLog(int arcid, int begin, int end, std::vector<QueryLogData>& data);

    void EnumUsersAndGroups(std::vector<std::string>& users, std::vector<std::string>& builtinusers,
                            std::vector<std::string>& groups,
                            std::vector<std::string>& builtingroups);
    void AddUser(const std::string& username, const std::string& password, bool admin,
                 const std::vector<std::string>& groups);
    void RemoveUser(const std::string& username);
    void GetUserData(const std::string& username, bool& admin, std::vector<std::string>& groups);
    void SetUserData(const std::string& username, bool admin,
                     const std::vector<std::string>& groups);
    void SetUserPassword(const std::string& username, const std::string& password);
    void AddGroup(const std::string& groupname);
    void RemoveGroup(const std::string& groupname);
    void GetRootACL(RootACLKind type, std::vector<AccessSpec>& acl, uint32_t& magic);
    void SetRootACL(RootACLKind type, const std::vector<AccessSpec>& acl, uint32_t magic);

    void EnumDocFilters(const std::vector<PluginType>& types, bool full,
                        std::vector<DocFilterInfo>& infos);
    void GetRootRendererPipe(RendererPluginPipe& pipe, uint32_t& magic);
    void SetRootRendererPipe(const RendererPluginPipe& pipe, uint32_t magic);

    void AddDocument(int arcid, const std::string& url, const std::string& mimetype,
                     const std::string& content, std::string& docid);
    void RemoveDocument(const std::string& docid);

    void EnumPluginDLLs(const std::vector<PluginType>& types, std::vector<PluginDLLInfo>& infos);
    void EnumPlugins(const std::vector<PluginType>& types, bool full,
                     std::vector<PluginInfo>& infos);
    void AddPlugin(const Plugin& plugin, int& id);
    void GetPlugin(int id, Plugin& plugin, uint32_t& magic);
    void SetPlugin(int id, const Plugin& plugin, uint32_t magic);
    void RemovePlugin(int id);
    void AddDocFilter(const DocFilter& docfilter, int& id);
    void GetDocFilter(int id, DocFilter& docfilter, uint32_t& magic);
    void SetDocFilter(int id, const DocFilter& docfilter, uint32_t magic);
    void RemoveDocFilter(int id);

private:
    EasySoap::SOAPProxy proxy_;
};

} // namespace lumbrake
