// Configuration records of sources, docfilters, plug-ins and the renderer pipe, and the
// access-control entry that every record with an ACL shares.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "api/plugintypes.h"

namespace lumbrake {

enum AccessType : int { READACCESS = 0, WRITEACCESS = 1 };

// One access-control entry: a user or group name, the access it concerns, allow or deny.
struct AccessSpec {
    std::string Name;
    AccessType Access = READACCESS;
    bool Deny = false;
    bool operator==(const AccessSpec&) const = default;
};

enum AuthType : int { AUTH_NONE = 0, AUTH_BASIC = 1, AUTH_COOKIE = 2 };
enum CookieActionType : int { COOKIE_GET = 0, COOKIE_POST = 1 };
enum CookieParamType : int { COOKIE_USERNAME = 0, COOKIE_PASSWORD = 1, COOKIE_OTHER = 2 };

struct CookieParam {
    std::string Name;
    std::string Value;
    CookieParamType Type = COOKIE_USERNAME;
    bool operator==(const CookieParam&) const = default;
};

// The cookie log-in that precedes crawling a source of type AUTH_COOKIE.
struct CookieAuthParams {
    std::string Url;
    CookieActionType Action = COOKIE_GET;
    int32_t Freshness = 0;
    std::vector<CookieParam> Params;
    std::vector<std::string> PreUrls;
    bool operator==(const CookieAuthParams&) const = default;
};

// One crawl source.
struct SourceConfiguration {
    std::string Name;
    std::string Description;
    std::vector<std::string> Seeds;
    std::vector<std::string> IncludeFilters;
    std::vector<std::string> ExcludeFilters;
    int32_t DepthLimit = 0;
    bool CheckRobotsTxt = true;
    bool HasSideMetadata = false;
    AuthType Type = AUTH_NONE;
    CookieAuthParams CookieParams;
    std::vector<int32_t> RendererDocFilterIDs;
    std::string TextExclusionBeginMarker;
    std::string TextExclusionEndMarker;
    std::vector<AccessSpec> ACL;
    bool operator==(const SourceConfiguration&) const = default;
};

// A configured instance of a plug-in. Config may hold any bytes.
struct DocFilter {
    PluginType Type = UNKNOWN_PLUGINTYPE;
    std::string Name;
    std::string Description;
    int32_t PluginID = 0;
    std::string Config;
    std::vector<AccessSpec> ACL;
    bool operator==(const DocFilter&) const = default;
};

// One plug-in library known to the system. DLLParameters may hold any bytes.
struct Plugin {
    PluginType Type = UNKNOWN_PLUGINTYPE;
    std::string Name;
    std::string Description;
    std::string DLLName;
    std::string DLLParameters;
    std::vector<AccessSpec> ACL;
    bool operator==(const Plugin&) const = default;
};

// The root renderer pipeline: docfilter ids in pipeline order.
struct RendererPluginPipe {
    std::vector<int32_t> DocFilterIDs;
    bool operator==(const RendererPluginPipe&) const = default;
};

} // namespace lumbrake
