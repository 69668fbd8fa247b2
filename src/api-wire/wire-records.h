// The SOAP forms of the API records: configuration records, info records, log and status rows,
// search hits and the query record. Serialize adds the members to an element whose name and
// xsi:type the caller has set (SOAPParameter::operator<< does both); Deserialize reads the
// members by name into a freshly constructed record. A missing required member, or one whose
// value does not convert, throws EasySoap::SOAPException; optional members fall back quietly.
#pragma once

#include "api-wire/wire-enums.h"
#include "api/info-records.h"
#include "api/auth.h"
#include "api/log-records.h"
#include "soap/soap.h"

namespace EasySoap {

#define TN_WIRE_RECORD(R)                                                                          \
    template <> struct SOAPTypeTraits<lumbrake::R> {                                               \
        static void GetType(SOAPQName& type) { type.Set(#R, lumbrake::SERVICE_NS); }               \
        static void Serialize(SOAPParameter& param, const lumbrake::R& record);                    \
        static void Deserialize(const SOAPParameter& param, lumbrake::R& record);                  \
    }

TN_WIRE_RECORD(AccessSpec);
TN_WIRE_RECORD(CookieParam);
TN_WIRE_RECORD(CookieAuthParams);
TN_WIRE_RECORD(SourceConfiguration);
TN_WIRE_RECORD(ParamValue);
TN_WIRE_RECORD(AuthConfiguration);
TN_WIRE_RECORD(ArchiveConfiguration);
TN_WIRE_RECORD(CollectionConfiguration);
TN_WIRE_RECORD(WatchConfiguration);
TN_WIRE_RECORD(IndexConfiguration);
TN_WIRE_RECORD(Plugin);
TN_WIRE_RECORD(DocFilter);
TN_WIRE_RECORD(RendererPluginPipe);
TN_WIRE_RECORD(SourceInfo);
TN_WIRE_RECORD(ArchiveInfo);
TN_WIRE_RECORD(CollectionInfo);
TN_WIRE_RECORD(WatchInfo);
TN_WIRE_RECORD(IndexInfo);
TN_WIRE_RECORD(PluginInfo);
TN_WIRE_RECORD(DocFilterInfo);
TN_WIRE_RECORD(PluginDLLInfo);
TN_WIRE_RECORD(QueryResult);
TN_WIRE_RECORD(CrawlLog);
TN_WIRE_RECORD(CrawlLogData);
TN_WIRE_RECORD(QueryLogData);
TN_WIRE_RECORD(ExtendedStatus);
TN_WIRE_RECORD(QueryAtom);
TN_WIRE_RECORD(QuerySliceWeight);
TN_WIRE_RECORD(QuerySpec);

#undef TN_WIRE_RECORD

} // namespace EasySoap
