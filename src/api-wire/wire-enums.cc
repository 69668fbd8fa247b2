#include "api-wire/wire-enums.h"

#include <iterator>

namespace lumbrake::wire {
namespace {

constexpr enum_token kAuthType[] = {{"AUTH_NONE", 0}, {"AUTH_BASIC", 1}, {"AUTH_COOKIE", 2}};
constexpr enum_token kCookieParamType[] = {{"USERNAME", 0}, {"PASSWORD", 1}, {"OTHER", 2}};
constexpr enum_token kCookieActionType[] = {{"GET", 0}, {"POST", 1}};
constexpr enum_token kFrequency[] = {
    {"DISABLED", 0}, {"HOURLY", 1}, {"DAILY", 2}, {"WEEKLY", 3}, {"MONTHLY", 4}};
constexpr enum_token kCache[] = {{"FULLCACHE", 0}, {"CONTEXTCACHE", 1}, {"NOCACHE", 2}};
constexpr enum_token kQueryParser[] = {
    {"NOPARSER", 0}, {"RPNPARSER", 1}, {"ALGPARSER", 2}, {"NETPARSER", 3}};
constexpr enum_token kQueryParserMore[] = {{"SOAPARSER", 2}};
constexpr enum_token kAccessType[] = {{"READACCESS", 0}, {"WRITEACCESS", 1}};
constexpr enum_token kPluginType[] = {{"UNKNOWN_PLUGINTYPE", 0}, {"ARCHIVEFFF_PLUGINTYPE", 1}};
constexpr enum_token kPluginTypeMore[] = {{"GLOBALFFF_PLUGINTYPE", 1},
                                          {"MULTIFORMFFF_PLUGINTYPE", 1}};
constexpr enum_token kStatus[] = {{"RUNNING", 0}, {"CRAWLSTOPPED", 1}, {"LOWDISKSPACE", 2}};
constexpr enum_token kCrawlError[] = {
    {"NONE", 0},       {"REDIRECT", 1}, {"INDEX", 2},     {"NOTFOUND", 3}, {"UNPARSABLE", 4},
    {"BADREDIR", 5},   {"BLOCKED", 6},  {"NETWORK", 7},   {"UNKNOWN", 8},  {"UNCHANGED", 9},
    {"OUTOFDOCS", 10}, {"AUTHREQ", 11}, {"INTERNAL", 12}, {"SERVER", 13}};
constexpr enum_token kQueryInfo[] = {
    {"INFO_NONE", 0}, {"INFO_URL", 1}, {"INFO_TITLE", 2}, {"INFO_CONTEXT", 3}};
constexpr enum_token kQueryInfoMore[] = {{"NOINFO", 0}, {"URL", 1}, {"TITLE", 2}, {"CONTEXT", 3}};
constexpr enum_token kQueryView[] = {{"VIEW_PUBLISHED", 0}, {"VIEW_CORECHANGED", 1}};
constexpr enum_token kQueryViewMore[] = {{"PUBLISHED", 0}, {"CORECHANGED", 1}};
constexpr enum_token kQuerySort[] = {{"SORT_STANDARD", 0},
                                     {"SORT_RELEVANCE", 1},
                                     {"SORT_SCORE", 2},
                                     {"SORT_TIME_NEWER", 3},
                                     {"SORT_TIME_OLDER", 4}};
constexpr enum_token kQuerySortMore[] = {{"NOSORT", 0}, {"SCORE", 0}, {"SCORE_AGED", 0}};
constexpr enum_token kQueryAtomType[] = {{"ATOM_WORD", 0}, {"ATOM_NOT", 1},  {"ATOM_AND", 2},
                                         {"ATOM_OR", 3},   {"ATOM_NEAR", 4}, {"ATOM_META", 5}};
constexpr enum_token kQueryAtomTypeMore[] = {
    {"WORD", 0}, {"NOT", 1}, {"AND", 2}, {"OR", 3}, {"NEAR_SET", 4}, {"NEAR_SEQ", 4}, {"META", 5}};
constexpr enum_token kRootACLType[] = {{"ROOTACL_BROWSING", 0}, {"ROOTACL_CRAWLING", 1}};
constexpr enum_token kDocumentFormat[] = {{"ORIGINAL", 0}, {"PARSED", 1}, {"HTML", 2}};

} // namespace

#define TN_ENUM(NAME, TYPE, WRITTEN)                                                               \
    const enum_table NAME {                                                                        \
        TYPE, WRITTEN, std::size(WRITTEN), nullptr, 0                                              \
    }
#define TN_ENUM_MORE(NAME, TYPE, WRITTEN, MORE)                                                    \
    const enum_table NAME {                                                                        \
        TYPE, WRITTEN, std::size(WRITTEN), MORE, std::size(MORE)                                   \
    }

TN_ENUM(auth_type_enum, "AuthType", kAuthType);
TN_ENUM(cookie_param_type_enum, "CookieParamType", kCookieParamType);
TN_ENUM(cookie_action_type_enum, "CookieActionType", kCookieActionType);
TN_ENUM(frequency_enum, "Frequency", kFrequency);
TN_ENUM(cache_enum, "Cache", kCache);
TN_ENUM_MORE(query_parser_enum, "QueryParser", kQueryParser, kQueryParserMore);
TN_ENUM(access_type_enum, "AccessType", kAccessType);
TN_ENUM_MORE(plugin_type_enum, "PluginType", kPluginType, kPluginTypeMore);
TN_ENUM(status_enum, "Status", kStatus);
TN_ENUM(crawl_error_enum, "CrawlError", kCrawlError);
TN_ENUM_MORE(query_info_enum, "QueryInfo", kQueryInfo, kQueryInfoMore);
TN_ENUM_MORE(query_view_enum, "QueryView", kQueryView, kQueryViewMore);
TN_ENUM_MORE(query_sort_enum, "QuerySort", kQuerySort, kQuerySortMore);
TN_ENUM_MORE(query_atom_type_enum, "QueryAtomType", kQueryAtomType, kQueryAtomTypeMore);
TN_ENUM(root_acl_type_enum, "RootACLType", kRootACLType);
TN_ENUM(document_format_enum, "DocumentFormat", kDocumentFormat);

bool token_to_value(const enum_table& table, std::string_view text, int& value) {
    for (std::size_t i = 0; i < table.written_count; ++i)
        if (table.written[i].token == text) {
            value = table.written[i].value;
            return true;
        }
    for (std::size_t i = 0; i < table.accepted_count; ++i)
        if (table.accepted[i].token == text) {
            value = table.accepted[i].value;
            return true;
        }
    return false;
}

std::string_view value_to_token(const enum_table& table, int value) {
    if (value < 0 || static_cast<std::size_t>(value) >= table.written_count) return {};
    return table.written[value].token;
}

void write_enum(EasySoap::SOAPParameter& param, const enum_table& table, int value) {
    param.SetType(EasySoap::SOAPQName(table.type_name, SERVICE_NS));
    param.SetValue(value_to_token(table, value));
}

void read_enum(const EasySoap::SOAPParameter& param, const enum_table& table, int& value) {
    // An element without text (nil or compound included) matches no token.
    if (param.IsNull() || param.GetNumParams() != 0 || param.GetString().empty()) return;
    token_to_value(table, param.GetString(), value);
}

} // namespace lumbrake::wire

namespace EasySoap {

void SOAPTypeTraits<std::vector<lumbrake::PluginType>>::Serialize(
    SOAPParameter& param, const std::vector<lumbrake::PluginType>& list) {
    detail::array_write_start(param, SOAPQName("PluginType", lumbrake::SERVICE_NS), list.size());
    for (lumbrake::PluginType type : list)
        param.AddParameter("item").SetValue(
            lumbrake::wire::value_to_token(lumbrake::wire::plugin_type_enum, type));
}

} // namespace EasySoap
