// The SOAP search and administration service on /soap: one handler object per request, whose
// members read their parameters, run one API operation for the authenticated caller and write
// the results (or answer the failed result's fault name as a SOAP fault).
#pragma once

#include "apiops/api-common.h"
#include "soap/soap_server.h"
#include "httpfront/httpserver.h"

#include <memory>

namespace lumbrake {

class LumbrakeSearchHandler : public EasySoap::SOAPDispatchHandler<LumbrakeSearchHandler> {
public:
    // `base` supplies the application's services; the caller's identity and the connection
    // are taken from the thread's context.
    LumbrakeSearchHandler(httpcontext& context, const api_context& base);

    LumbrakeSearchHandler* GetTarget(const EasySoap::SOAPEnvelope&) override { return this; }

    using Request = const EasySoap::SOAPMethod;
    using Response = EasySoap::SOAPMethod;

    void AddSource(Request& q, Response& r);
    void RemoveSource(Request& q, Response& r);
    void GetSourceConfiguration(Request& q, Response& r);
    void SetSourceConfiguration(Request& q, Response& r);
    void EnumSourceConfigurations(Request& q, Response& r);
    void AddAuth(Request& q, Response& r);
    void RemoveAuth(Request& q, Response& r);
    void GetAuthConfiguration(Request& q, Response& r);
    void SetAuthConfiguration(Request& q, Response& r);
    void AddArchive(Request& q, Response& r);
    void RemoveArchive(Request& q, Response& r);
    void GetArchiveConfiguration(Request& q, Response& r);
    void SetArchiveConfiguration(Request& q, Response& r);
    void EnumArchiveConfigurations(Request& q, Response& r);
    void GetArchiveInfo(Request& q, Response& r);
    void AddCollection(Request& q, Response& r);
    void RemoveCollection(Request& q, Response& r);
    void GetCollectionConfiguration(Request& q, Response& r);
    void SetCollectionConfiguration(Request& q, Response& r);
    void EnumCollectionConfigurations(Request& q, Response& r);
    void AddWatch(Request& q, Response& r);
    void RemoveWatch(Request& q, Response& r);
    void GetWatchConfiguration(Request& q, Response& r);
    void SetWatchConfiguration(Request& q, Response& r);
    void EnumWatchConfigurations(Request& q, Response& r);
    void Query(Request& q, Response& r);       // also QueryIndex
    void GetDocument(Request& q, Response& r); // also GetCachedPage
    void GetDocumentURL(Request& q, Response& r);
    void AddDocument(Request& q, Response& r);
    void RemoveDocument(Request& q, Response& r);
    void GetStatus(Request& q, Response& r);
    void GetVersion(Request& q, Response& r);
    void GetMinClientVersion(Request& q, Response& r);
    void GetCapabilities(Request& q, Response& r);
    void NormalizeURL(Request& q, Response& r);
    void StartCrawl(Request& q, Response& r);
    void StopCrawl(Request& q, Response& r);
    void ReprocessDocuments(Request& q, Response& r);
    void GetAvailableCrawlLogs(Request& q, Response& r);
    void GetCrawlLog(Request& q, Response& r);
    void GetQueryLog(Request& q, Response& r);
    void AddUser(Request& q, Response& r);
    void RemoveUser(Request& q, Response& r);
    void GetUserData(Request& q, Response& r);
    void SetUserData(Request& q, Response& r);
    void SetUserPassword(Request& q, Response& r);
    void AddGroup(Request& q, Response& r);
    void RemoveGroup(Request& q, Response& r);
    void EnumUsersAndGroups(Request& q, Response& r);
    void GetRootACL(Request& q, Response& r);
    void SetRootACL(Request& q, Response& r);
    void EnumPluginDLLs(Request& q, Response& r);
    void EnumPlugins(Request& q, Response& r);
    void AddPlugin(Request& q, Response& r);
    void RemovePlugin(Request& q, Response& r);
    void GetPlugin(Request& q, Response& r);
    void SetPlugin(Request& q, Response& r);
    void EnumDocFilters(Request& q, Response& r);
    void AddDocFilter(Request& q, Response& r);
    void RemoveDocFilter(Request& q, Response& r);
    void GetDocFilter(Request& q, Response& r);
    void SetDocFilter(Request& q, Response& r);
    void GetRootRendererPipe(Request& q, Response& r);
    void SetRootRendererPipe(Request& q, Response& r);
    void AddIndex(Request& q, Response& r);
    void RemoveIndex(Request& q, Response& r);
    void GetIndexConfiguration(Request& q, Response& r);
    void SetIndexConfiguration(Request& q, Response& r);
    void EnumIndexConfigurations(Request& q, Response& r);

private:
    // Runs one operation in its own API session; a failed result becomes the fault.
    template <class F> void call(F&& operation);
    // The same for an operation that only reads: its session holds a snapshot, not the lock.
    template <class F> void read(F&& operation);

    httpcontext& http_;
    api_context ctx_;
};

// The handler for one /soap request on a daemon thread (the context's application supplies
// the services).
std::unique_ptr<EasySoap::SOAPDispatchHandlerInterface> make_search_handler(httpcontext& context);
// The same over services given by the caller (a daemon without application object, tests).
std::unique_ptr<EasySoap::SOAPDispatchHandlerInterface>
make_search_handler(httpcontext& context, const api_context& base);

} // namespace lumbrake
