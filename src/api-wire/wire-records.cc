#include "api-wire/wire-records.h"

namespace EasySoap {
namespace {

using namespace lumbrake;

template <class T> void put(SOAPParameter& param, const char* name, const T& value) {
    param.AddParameter(name) << value;
}
// The magic's bit pattern as xsd:int.
void put_magic(SOAPParameter& param, uint32_t magic) {
    put(param, "Magic", static_cast<int>(magic));
}
// Lists that are left out when they are empty.
template <class T>
void put_nonempty(SOAPParameter& param, const char* name, const std::vector<T>& list) {
    if (!list.empty()) put(param, name, list);
}

// A required member: a missing element or an unconvertible value throws.
template <class T> void get(const SOAPParameter& param, const char* name, T& value) {
    param.GetParameter(name) >> value;
}
void get_magic(const SOAPParameter& param, uint32_t& magic) {
    int value = 0;
    get(param, "Magic", value);
    magic = static_cast<uint32_t>(value);
}
// An optional member: false when it is missing or does not convert. An array that breaks
// part-way keeps what was read by then.
template <class T> bool try_get(const SOAPParameter& param, const char* name, T& value) {
    const SOAPParameter* member = param.FindParameter(name);
    if (!member) return false;
    try {
        *member >> value;
        return true;
    } catch (const SOAPException&) {
        return false;
    }
}

} // namespace

// --- configuration records ---

void SOAPTypeTraits<AccessSpec>::Serialize(SOAPParameter& param, const AccessSpec& r) {
    param.SetIsStruct();
    put(param, "Name", r.Name);
    put(param, "Access", r.Access);
    put(param, "Deny", r.Deny);
}
void SOAPTypeTraits<AccessSpec>::Deserialize(const SOAPParameter& param, AccessSpec& r) {
    get(param, "Name", r.Name);
    get(param, "Access", r.Access);
    get(param, "Deny", r.Deny);
}

void SOAPTypeTraits<CookieParam>::Serialize(SOAPParameter& param, const CookieParam& r) {
    param.SetIsStruct();
    put(param, "Name", r.Name);
    put(param, "Value", r.Value);
    put(param, "Type", r.Type);
}
void SOAPTypeTraits<CookieParam>::Deserialize(const SOAPParameter& param, CookieParam& r) {
    get(param, "Name", r.Name);
    get(param, "Value", r.Value);
    get(param, "Type", r.Type);
}

void SOAPTypeTraits<CookieAuthParams>::Serialize(SOAPParameter& param, const CookieAuthParams& r) {
    param.SetIsStruct();
    put(param, "Url", r.Url);
    put(param, "Action", r.Action);
    put(param, "Freshness", r.Freshness);
    put_nonempty(param, "Params", r.Params);
    put_nonempty(param, "PreUrls", r.PreUrls);
}
void SOAPTypeTraits<CookieAuthParams>::Deserialize(const SOAPParameter& param,
                                                   CookieAuthParams& r) {
    get(param, "Url", r.Url);
    get(param, "Action", r.Action);
    get(param, "Freshness", r.Freshness);
    try_get(param, "Params", r.Params);
    try_get(param, "PreUrls", r.PreUrls);
}

void SOAPTypeTraits<SourceConfiguration>::Serialize(SOAPParameter& param,
                                                    const SourceConfiguration& r) {
    param.SetIsStruct();
    put(param, "Name", r.Name);
    put(param, "Description", r.Description);
    put_nonempty(param, "Seeds", r.Seeds);
    put_nonempty(param, "IncludeFilters", r.IncludeFilters);
    put_nonempty(param, "ExcludeFilters", r.ExcludeFilters);
    put(param, "CheckRobotsTxt", r.CheckRobotsTxt);
    put(param, "HasSideMetadata", r.HasSideMetadata);
    put(param, "DepthLimit", r.DepthLimit);
    put(param, "Type", r.Type);
    put(param, "CookieParams", r.CookieParams);
    put(param, "RendererDocFilterIDs", r.RendererDocFilterIDs);
    put(param, "TextExclusionBeginMarker", r.TextExclusionBeginMarker);
    put(param, "TextExclusionEndMarker", r.TextExclusionEndMarker);
    put_nonempty(param, "ACL", r.ACL);
}
void SOAPTypeTraits<SourceConfiguration>::Deserialize(const SOAPParameter& param,
                                                      SourceConfiguration& r) {
    get(param, "Name", r.Name);
    get(param, "Description", r.Description);
    try_get(param, "Seeds", r.Seeds);
    try_get(param, "IncludeFilters", r.IncludeFilters);
    try_get(param, "ExcludeFilters", r.ExcludeFilters);
    get(param, "DepthLimit", r.DepthLimit);
    get(param, "CheckRobotsTxt", r.CheckRobotsTxt);
    get(param, "HasSideMetadata", r.HasSideMetadata);
    get(param, "Type", r.Type);
    get(param, "CookieParams", r.CookieParams);
    r.RendererDocFilterIDs.clear();
    try_get(param, "RendererDocFilterIDs", r.RendererDocFilterIDs);
    r.TextExclusionBeginMarker.clear();
    try_get(param, "TextExclusionBeginMarker", r.TextExclusionBeginMarker);
    r.TextExclusionEndMarker.clear();
    try_get(param, "TextExclusionEndMarker", r.TextExclusionEndMarker);
    try_get(param, "ACL", r.ACL);
}

void SOAPTypeTraits<ParamValue>::Serialize(SOAPParameter& param, const ParamValue& r) {
    param.SetIsStruct();
    put(param, "Name", r.Name);
    put(param, "Value", r.Value);
}
void SOAPTypeTraits<ParamValue>::Deserialize(const SOAPParameter& param, ParamValue& r) {
    get(param, "Name", r.Name);
    get(param, "Value", r.Value);
}

void SOAPTypeTraits<AuthConfiguration>::Serialize(SOAPParameter& param,
                                                  const AuthConfiguration& r) {
    param.SetIsStruct();
    put(param, "Username", r.Username);
    put(param, "Password", r.Password);
    put_nonempty(param, "ParamValues", r.ParamValues);
    put_nonempty(param, "ACL", r.ACL);
}
void SOAPTypeTraits<AuthConfiguration>::Deserialize(const SOAPParameter& param,
                                                    AuthConfiguration& r) {
    get(param, "Username", r.Username);
    get(param, "Password", r.Password);
    try_get(param, "ParamValues", r.ParamValues);
    try_get(param, "ACL", r.ACL);
}

void SOAPTypeTraits<ArchiveConfiguration>::Serialize(SOAPParameter& param,
                                                     const ArchiveConfiguration& r) {
    param.SetIsStruct();
    put(param, "Name", r.Name);
    put(param, "Historicize", r.Historicize);
    put(param, "AdministrativeContact", r.AdministrativeContact);
    put(param, "Source", r.Source);
    put(param, "Auth", r.Auth);
    put(param, "SchedulingFrequency", r.SchedulingFrequency);
    put(param, "SchedulingAttribute", r.SchedulingAttribute);
    put(param, "AccessTime", r.AccessTime);
    put(param, "PagesLimit", r.PagesLimit);
    put(param, "GarbageLimit", r.GarbageLimit);
    put(param, "DocumentCache", r.DocumentCache);
    put_nonempty(param, "ACL", r.ACL);
}
void SOAPTypeTraits<ArchiveConfiguration>::Deserialize(const SOAPParameter& param,
                                                       ArchiveConfiguration& r) {
    get(param, "Name", r.Name);
    get(param, "Historicize", r.Historicize);
    get(param, "AdministrativeContact", r.AdministrativeContact);
    get(param, "Source", r.Source);
    get(param, "Auth", r.Auth);
    get(param, "SchedulingFrequency", r.SchedulingFrequency);
    get(param, "SchedulingAttribute", r.SchedulingAttribute);
    get(param, "AccessTime", r.AccessTime);
    get(param, "PagesLimit", r.PagesLimit);
    get(param, "GarbageLimit", r.GarbageLimit);
    r.DocumentCache = FULLCACHE;
    try_get(param, "DocumentCache", r.DocumentCache);
    try_get(param, "ACL", r.ACL);
}

void SOAPTypeTraits<CollectionConfiguration>::Serialize(SOAPParameter& param,
                                                        const CollectionConfiguration& r) {
    param.SetIsStruct();
    put(param, "Name", r.Name);
    put(param, "Description", r.Description);
    put_nonempty(param, "Archives", r.Archives);
    put_nonempty(param, "ACL", r.ACL);
}
void SOAPTypeTraits<CollectionConfiguration>::Deserialize(const SOAPParameter& param,
                                                          CollectionConfiguration& r) {
    get(param, "Name", r.Name);
    get(param, "Description", r.Description);
    try_get(param, "Archives", r.Archives);
    try_get(param, "ACL", r.ACL);
}

void SOAPTypeTraits<WatchConfiguration>::Serialize(SOAPParameter& param,
                                                   const WatchConfiguration& r) {
    param.SetIsStruct();
    put(param, "Name", r.Name);
    put(param, "Description", r.Description);
    put(param, "Query", r.Query);
    put(param, "Parser", r.Parser);
    put(param, "Freshness", r.Freshness);
    put(param, "Collection", r.Collection);
    put_nonempty(param, "ACL", r.ACL);
}
void SOAPTypeTraits<WatchConfiguration>::Deserialize(const SOAPParameter& param,
                                                     WatchConfiguration& r) {
    get(param, "Name", r.Name);
    get(param, "Description", r.Description);
    get(param, "Query", r.Query);
    get(param, "Parser", r.Parser);
    get(param, "Freshness", r.Freshness);
    get(param, "Collection", r.Collection);
    try_get(param, "ACL", r.ACL);
}

void SOAPTypeTraits<IndexConfiguration>::Serialize(SOAPParameter& param,
                                                   const IndexConfiguration& r) {
    param.SetIsStruct();
    put(param, "Name", r.Name);
    put(param, "Historicize", r.Historicize);
    put(param, "AdministrativeContact", r.AdministrativeContact);
    put_nonempty(param, "Seeds", r.Seeds);
    put_nonempty(param, "IncludeFilters", r.IncludeFilters);
    put_nonempty(param, "ExcludeFilters", r.ExcludeFilters);
    put(param, "SchedulingFrequency", r.SchedulingFrequency);
    put(param, "SchedulingAttribute", r.SchedulingAttribute);
    put(param, "AccessTime", r.AccessTime);
    put(param, "PagesLimit", r.PagesLimit);
    put(param, "DepthLimit", r.DepthLimit);
    put(param, "GarbageLimit", r.GarbageLimit);
}
void SOAPTypeTraits<IndexConfiguration>::Deserialize(const SOAPParameter& param,
                                                     IndexConfiguration& r) {
    get(param, "Name", r.Name);
    if (!try_get(param, "Historicize", r.Historicize)) r.Historicize = false;
    get(param, "AdministrativeContact", r.AdministrativeContact);
    try_get(param, "Seeds", r.Seeds);
    try_get(param, "IncludeFilters", r.IncludeFilters);
    try_get(param, "ExcludeFilters", r.ExcludeFilters);
    get(param, "SchedulingFrequency", r.SchedulingFrequency);
    get(param, "SchedulingAttribute", r.SchedulingAttribute);
    get(param, "AccessTime", r.AccessTime);
    get(param, "PagesLimit", r.PagesLimit);
    get(param, "DepthLimit", r.DepthLimit);
    get(param, "GarbageLimit", r.GarbageLimit);
}

void SOAPTypeTraits<Plugin>::Serialize(SOAPParameter& param, const Plugin& r) {
    param.SetIsStruct();
    put(param, "Type", r.Type);
    put(param, "Name", r.Name);
    put(param, "Description", r.Description);
    put(param, "DLLName", r.DLLName);
    put(param, "DLLParameters", r.DLLParameters);
    put(param, "ACL", r.ACL);
}
void SOAPTypeTraits<Plugin>::Deserialize(const SOAPParameter& param, Plugin& r) {
    get(param, "Type", r.Type);
    get(param, "Name", r.Name);
    get(param, "Description", r.Description);
    get(param, "DLLName", r.DLLName);
    get(param, "DLLParameters", r.DLLParameters);
    get(param, "ACL", r.ACL);
}

void SOAPTypeTraits<DocFilter>::Serialize(SOAPParameter& param, const DocFilter& r) {
    param.SetIsStruct();
    put(param, "Type", r.Type);
    put(param, "Name", r.Name);
    put(param, "Description", r.Description);
    put(param, "PluginID", r.PluginID);
    put(param, "Config", r.Config);
    put(param, "ACL", r.ACL);
}
void SOAPTypeTraits<DocFilter>::Deserialize(const SOAPParameter& param, DocFilter& r) {
    get(param, "Type", r.Type);
    get(param, "Name", r.Name);
    get(param, "Description", r.Description);
    get(param, "PluginID", r.PluginID);
    get(param, "Config", r.Config);
    get(param, "ACL", r.ACL);
}

void SOAPTypeTraits<RendererPluginPipe>::Serialize(SOAPParameter& param,
                                                   const RendererPluginPipe& r) {
    param.SetIsStruct();
    put(param, "DocFilterIDs", r.DocFilterIDs);
}
void SOAPTypeTraits<RendererPluginPipe>::Deserialize(const SOAPParameter& param,
                                                     RendererPluginPipe& r) {
    get(param, "DocFilterIDs", r.DocFilterIDs);
}

// --- info records (written by the daemon, read by the clients) ---

void SOAPTypeTraits<SourceInfo>::Serialize(SOAPParameter& param, const SourceInfo& r) {
    param.SetIsStruct();
    put(param, "Source", r.Source);
    put(param, "Configuration", r.Configuration);
    put_magic(param, r.Magic);
    put(param, "ReadOnly", r.ReadOnly);
}
void SOAPTypeTraits<SourceInfo>::Deserialize(const SOAPParameter& param, SourceInfo& r) {
    get(param, "Source", r.Source);
    get(param, "Configuration", r.Configuration);
    get_magic(param, r.Magic);
    get(param, "ReadOnly", r.ReadOnly);
}

void SOAPTypeTraits<ArchiveInfo>::Serialize(SOAPParameter& param, const ArchiveInfo& r) {
    param.SetIsStruct();
    put(param, "Archive", r.Archive);
    put(param, "Configuration", r.Configuration);
    put_magic(param, r.Magic);
    put(param, "ReadOnly", r.ReadOnly);
    put(param, "Crawling", r.Crawling);
    put(param, "Documents", r.Documents);
    put(param, "Errors", r.Errors);
    put(param, "LastRunStart", r.LastRunStart);
    put(param, "LastRunEnd", r.LastRunEnd);
    put(param, "NextRun", r.NextRun);
}
void SOAPTypeTraits<ArchiveInfo>::Deserialize(const SOAPParameter& param, ArchiveInfo& r) {
    get(param, "Archive", r.Archive);
    get(param, "Configuration", r.Configuration);
    get_magic(param, r.Magic);
    get(param, "ReadOnly", r.ReadOnly);
    get(param, "Crawling", r.Crawling);
    get(param, "Documents", r.Documents);
    get(param, "Errors", r.Errors);
    get(param, "LastRunStart", r.LastRunStart);
    get(param, "LastRunEnd", r.LastRunEnd);
    get(param, "NextRun", r.NextRun);
}

void SOAPTypeTraits<CollectionInfo>::Serialize(SOAPParameter& param, const CollectionInfo& r) {
    param.SetIsStruct();
    put(param, "Collection", r.Collection);
    put(param, "Configuration", r.Configuration);
    put_magic(param, r.Magic);
    put(param, "ReadOnly", r.ReadOnly);
}
void SOAPTypeTraits<CollectionInfo>::Deserialize(const SOAPParameter& param, CollectionInfo& r) {
    get(param, "Collection", r.Collection);
    get(param, "Configuration", r.Configuration);
    get_magic(param, r.Magic);
    get(param, "ReadOnly", r.ReadOnly);
}

void SOAPTypeTraits<WatchInfo>::Serialize(SOAPParameter& param, const WatchInfo& r) {
    param.SetIsStruct();
    put(param, "Watch", r.Watch);
    put(param, "Configuration", r.Configuration);
    put_magic(param, r.Magic);
    put(param, "ReadOnly", r.ReadOnly);
}
void SOAPTypeTraits<WatchInfo>::Deserialize(const SOAPParameter& param, WatchInfo& r) {
    get(param, "Watch", r.Watch);
    get(param, "Configuration", r.Configuration);
    get_magic(param, r.Magic);
    get(param, "ReadOnly", r.ReadOnly);
}

void SOAPTypeTraits<IndexInfo>::Serialize(SOAPParameter& param, const IndexInfo& r) {
    param.SetIsStruct();
    put(param, "Name", r.Name);
    put(param, "Index", r.Index);
    put(param, "Crawling", r.Crawling);
    put(param, "Historicize", r.Historicize);
    put(param, "Documents", r.Documents);
    put(param, "Errors", r.Errors);
    put(param, "LastRunStart", r.LastRunStart);
    put(param, "LastRunEnd", r.LastRunEnd);
    put(param, "NextRun", r.NextRun);
    put(param, "Configuration", r.Configuration);
    put_magic(param, r.Magic);
}
void SOAPTypeTraits<IndexInfo>::Deserialize(const SOAPParameter& param, IndexInfo& r) {
    get(param, "Name", r.Name);
    get(param, "Index", r.Index);
    get(param, "Crawling", r.Crawling);
    get(param, "Historicize", r.Historicize);
    get(param, "Documents", r.Documents);
    get(param, "Errors", r.Errors);
    get(param, "LastRunStart", r.LastRunStart);
    get(param, "LastRunEnd", r.LastRunEnd);
    get(param, "NextRun", r.NextRun);
    get(param, "Configuration", r.Configuration);
    get_magic(param, r.Magic);
}

void SOAPTypeTraits<PluginInfo>::Serialize(SOAPParameter& param, const PluginInfo& r) {
    param.SetIsStruct();
    put(param, "PluginID", r.PluginID);
    put(param, "Type", r.Type);
    put(param, "PluginConfiguration", r.PluginConfiguration);
    put_magic(param, r.Magic);
    put(param, "ReadOnly", r.ReadOnly);
}
void SOAPTypeTraits<PluginInfo>::Deserialize(const SOAPParameter& param, PluginInfo& r) {
    get(param, "PluginID", r.PluginID);
    get(param, "Type", r.Type);
    get(param, "PluginConfiguration", r.PluginConfiguration);
    get_magic(param, r.Magic);
    get(param, "ReadOnly", r.ReadOnly);
}

void SOAPTypeTraits<DocFilterInfo>::Serialize(SOAPParameter& param, const DocFilterInfo& r) {
    param.SetIsStruct();
    put(param, "DocFilterID", r.DocFilterID);
    put(param, "Type", r.Type);
    put(param, "DocFilterConfiguration", r.DocFilterConfiguration);
    put_magic(param, r.Magic);
    put(param, "ReadOnly", r.ReadOnly);
}
void SOAPTypeTraits<DocFilterInfo>::Deserialize(const SOAPParameter& param, DocFilterInfo& r) {
    get(param, "DocFilterID", r.DocFilterID);
    get(param, "Type", r.Type);
    get(param, "DocFilterConfiguration", r.DocFilterConfiguration);
    get_magic(param, r.Magic);
    get(param, "ReadOnly", r.ReadOnly);
}

// --- other records ---

void SOAPTypeTraits<PluginDLLInfo>::Serialize(SOAPParameter& param, const PluginDLLInfo& r) {
    param.SetIsStruct();
    put(param, "Type", r.Type);
    put(param, "Name", r.Name);
    put(param, "Description", r.Description);
}
void SOAPTypeTraits<PluginDLLInfo>::Deserialize(const SOAPParameter& param, PluginDLLInfo& r) {
    get(param, "Type", r.Type);
    get(param, "Name", r.Name);
    get(param, "Description", r.Description);
}

void SOAPTypeTraits<QueryResult>::Serialize(SOAPParameter& param, const QueryResult& r) {
    param.SetIsStruct();
    put(param, "ID", r.ID);
    put(param, "Url", r.Url);
    put(param, "Title", r.Title);
    put(param, "MimeType", r.MimeType);
    put_nonempty(param, "Contexts", r.Contexts);
    put(param, "Timestamp", r.Timestamp);
    put(param, "ServerTime", r.ServerTime);
    put(param, "Score", r.Score);
    put_nonempty(param, "Archives", r.Archives);
    put(param, "Categories", r.Categories);
}
void SOAPTypeTraits<QueryResult>::Deserialize(const SOAPParameter& param, QueryResult& r) {
    get(param, "ID", r.ID);
    get(param, "Url", r.Url);
    get(param, "Title", r.Title);
    get(param, "MimeType", r.MimeType);
    try_get(param, "Contexts", r.Contexts);
    get(param, "Timestamp", r.Timestamp);
    get(param, "ServerTime", r.ServerTime);
    get(param, "Score", r.Score);
    try_get(param, "Archives", r.Archives);
    get(param, "Categories", r.Categories);
}

void SOAPTypeTraits<CrawlLog>::Serialize(SOAPParameter& param, const CrawlLog& r) {
    param.SetIsStruct();
    put(param, "Time", r.Time);
    put(param, "Cookie", r.Cookie);
}
void SOAPTypeTraits<CrawlLog>::Deserialize(const SOAPParameter& param, CrawlLog& r) {
    get(param, "Time", r.Time);
    get(param, "Cookie", r.Cookie);
}

void SOAPTypeTraits<CrawlLogData>::Serialize(SOAPParameter& param, const CrawlLogData& r) {
    param.SetIsStruct();
    put(param, "Time", r.Time);
    put(param, "ID", r.ID);
    put(param, "Url", r.Url);
    put(param, "Error", static_cast<CrawlError>(r.Error));
}
void SOAPTypeTraits<CrawlLogData>::Deserialize(const SOAPParameter& param, CrawlLogData& r) {
    get(param, "Time", r.Time);
    get(param, "ID", r.ID);
    get(param, "Url", r.Url);
    wire::read_enum(param.GetParameter("Error"), wire::crawl_error_enum, r.Error);
}

void SOAPTypeTraits<QueryLogData>::Serialize(SOAPParameter& param, const QueryLogData& r) {
    param.SetIsStruct();
    put(param, "Time", r.Time);
    put(param, "Query", r.Query);
}
void SOAPTypeTraits<QueryLogData>::Deserialize(const SOAPParameter& param, QueryLogData& r) {
    get(param, "Time", r.Time);
    get(param, "Query", r.Query);
}

void SOAPTypeTraits<ExtendedStatus>::Serialize(SOAPParameter& param, const ExtendedStatus& r) {
    param.SetIsStruct();
    put(param, "Key", r.Key);
    put(param, "Value", r.Value);
}
void SOAPTypeTraits<ExtendedStatus>::Deserialize(const SOAPParameter& param, ExtendedStatus& r) {
    get(param, "Key", r.Key);
    get(param, "Value", r.Value);
}

// --- the query record (written by the clients, read by the daemon) ---

void SOAPTypeTraits<QueryAtom>::Serialize(SOAPParameter& param, const QueryAtom& r) {
    param.SetIsStruct();
    put(param, "Type", r.Type);
    put(param, "Param", r.Param);
    put(param, "Meta", r.Meta);
}
void SOAPTypeTraits<QueryAtom>::Deserialize(const SOAPParameter& param, QueryAtom& r) {
    get(param, "Type", r.Type);
    get(param, "Param", r.Param);
    try_get(param, "Meta", r.Meta);
}

void SOAPTypeTraits<QuerySliceWeight>::Serialize(SOAPParameter& param, const QuerySliceWeight& r) {
    param.SetIsStruct();
    put(param, "Slice", r.Slice);
    put(param, "Weight", r.Weight);
}
void SOAPTypeTraits<QuerySliceWeight>::Deserialize(const SOAPParameter& param,
                                                   QuerySliceWeight& r) {
    get(param, "Slice", r.Slice);
    get(param, "Weight", r.Weight);
}

void SOAPTypeTraits<QuerySpec>::Serialize(SOAPParameter& param, const QuerySpec& r) {
    param.SetIsStruct();
    put_nonempty(param, "Archives", r.Archives);
    put(param, "Collection", r.Collection);
    put(param, "Watch", r.Watch);
    put(param, "FirstDoc", r.FirstDoc);
    put(param, "LastDoc", r.LastDoc);
    put(param, "MinTime", r.MinTime);
    put(param, "MaxTime", r.MaxTime);
    put(param, "MinScore", r.MinScore);
    wire::write_enum(param.AddParameter("Info"), wire::query_info_enum, r.Info);
    put(param, "View", r.View);
    put(param, "Sort", r.Sort);
    put(param, "Parser", r.Parser);
    put_nonempty(param, "Query", r.Query);
    put(param, "QueryString", r.QueryString);
    put_nonempty(param, "Weights", r.Weights);
}

void SOAPTypeTraits<QuerySpec>::Deserialize(const SOAPParameter& param, QuerySpec& r) {
    if (!try_get(param, "Archives", r.Archives)) r.Archives.clear();
    int archive = 0;
    if (try_get(param, "Archive", archive)) r.Archives.push_back(archive);
    if (!try_get(param, "Collection", r.Collection)) r.Collection = 0;
    if (!try_get(param, "Watch", r.Watch)) r.Watch = 0;
    // A query must name something to search: failing both lists ends the read.
    if (r.Archives.empty() && r.Collection == 0 && r.Watch == 0 &&
        !try_get(param, "Indexes", r.Archives))
        get(param, "Archives", r.Archives);
    get(param, "FirstDoc", r.FirstDoc);
    get(param, "LastDoc", r.LastDoc);
    get(param, "MinTime", r.MinTime);
    get(param, "MaxTime", r.MaxTime);
    if (!try_get(param, "MinScore", r.MinScore)) r.MinScore = 0;
    wire::read_enum(param.GetParameter("Info"), wire::query_info_enum, r.Info);
    get(param, "View", r.View);
    get(param, "Sort", r.Sort);
    if (!try_get(param, "Parser", r.Parser)) r.Parser = NOPARSER;
    try_get(param, "Query", r.Query);
    try_get(param, "QueryString", r.QueryString);
    try_get(param, "Weights", r.Weights);
}

} // namespace EasySoap
