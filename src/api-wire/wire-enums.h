// The SOAP forms of the API enums: an upper-case token as the element's text and xsi:type
// (enum name, service namespace). Readers compare the text exactly; text that is no token
// leaves the value as it was, without a fault.
#pragma once

#include <cstddef>
#include <string_view>

#include "api/info-records.h"
#include "api/acl.h"
#include "soap/soap.h"

namespace lumbrake {
// The namespace that qualifies every type name on the wire; shared by the daemon, the control
// panel, the CLI and the WSDL file.
inline constexpr const char* SERVICE_NS = "http://trawlnest.lumbrake.net/search/";

// The crawl result codes (the worker's numbering); declared here so that the wire form does
// not pull in the worker.
enum CrawlError : std::int32_t;
} // namespace lumbrake

namespace lumbrake::wire {

struct enum_token {
    std::string_view token;
    int value;
};

// Written tokens are indexed by value; further accepted tokens are tried after them.
struct enum_table {
    const char* type_name;
    const enum_token* written;
    std::size_t written_count;
    const enum_token* accepted;
    std::size_t accepted_count;
};

extern const enum_table auth_type_enum, cookie_param_type_enum, cookie_action_type_enum,
    frequency_enum, cache_enum, query_parser_enum, access_type_enum, plugin_type_enum, status_enum,
    crawl_error_enum, query_info_enum, query_view_enum, query_sort_enum, query_atom_type_enum,
    root_acl_type_enum, document_format_enum;

// The first token equal to the whole text, byte for byte; false leaves value unchanged.
bool token_to_value(const enum_table& table, std::string_view text, int& value);
// The written token, or an empty text for a value outside the table.
std::string_view value_to_token(const enum_table& table, int value);

// Sets xsi:type and the token as the text.
void write_enum(EasySoap::SOAPParameter& param, const enum_table& table, int value);
// Reads the element's text alone (its xsi:type is not looked at).
void read_enum(const EasySoap::SOAPParameter& param, const enum_table& table, int& value);

template <class E, const enum_table& Table> struct enum_traits {
    static void GetType(EasySoap::SOAPQName& type) { type.Set(Table.type_name, SERVICE_NS); }
    static void Serialize(EasySoap::SOAPParameter& param, E value) {
        write_enum(param, Table, static_cast<int>(value));
    }
    static void Deserialize(const EasySoap::SOAPParameter& param, E& value) {
        int v = static_cast<int>(value);
        read_enum(param, Table, v);
        value = static_cast<E>(v);
    }
};

} // namespace lumbrake::wire

namespace EasySoap {

#define TN_WIRE_ENUM(E, TABLE)                                                                     \
    template <>                                                                                    \
    struct SOAPTypeTraits<lumbrake::E> : lumbrake::wire::enum_traits<lumbrake::E, TABLE> {}

TN_WIRE_ENUM(AuthType, lumbrake::wire::auth_type_enum);
TN_WIRE_ENUM(CookieParamType, lumbrake::wire::cookie_param_type_enum);
TN_WIRE_ENUM(CookieActionType, lumbrake::wire::cookie_action_type_enum);
TN_WIRE_ENUM(Frequency, lumbrake::wire::frequency_enum);
TN_WIRE_ENUM(Cache, lumbrake::wire::cache_enum);
TN_WIRE_ENUM(QueryParser, lumbrake::wire::query_parser_enum);
TN_WIRE_ENUM(AccessType, lumbrake::wire::access_type_enum);
TN_WIRE_ENUM(PluginType, lumbrake::wire::plugin_type_enum);
TN_WIRE_ENUM(api_status_code, lumbrake::wire::status_enum);
TN_WIRE_ENUM(CrawlError, lumbrake::wire::crawl_error_enum);
TN_WIRE_ENUM(QueryInfo, lumbrake::wire::query_info_enum);
TN_WIRE_ENUM(QueryView, lumbrake::wire::query_view_enum);
TN_WIRE_ENUM(QuerySort, lumbrake::wire::query_sort_enum);
TN_WIRE_ENUM(QueryAtomType, lumbrake::wire::query_atom_type_enum);
TN_WIRE_ENUM(RootACLKind, lumbrake::wire::root_acl_type_enum);
TN_WIRE_ENUM(DocumentFormat, lumbrake::wire::document_format_enum);

#undef TN_WIRE_ENUM

// Lists of plug-in types travel as arrays of bare tokens: items carry no type of their own.
template <> struct SOAPTypeTraits<std::vector<lumbrake::PluginType>> {
    static void GetType(SOAPQName& type) { type.Set("Array", SOAP_ENC_NS); }
    static void Serialize(SOAPParameter& param, const std::vector<lumbrake::PluginType>& list);
    static void Deserialize(const SOAPParameter& param, std::vector<lumbrake::PluginType>& list) {
        SOAPArrayTypeTraits<lumbrake::PluginType>::Deserialize(param, list);
    }
};

} // namespace EasySoap
