#include "webservices/research.h"

#include "api/collection-info.h"
#include "util/escape.h"
#include "util/log.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

namespace lumbrake {

namespace {

const char* const GUID_TAIL = "-FFC8-46E6-8124-4D53B625F130}";

std::int32_t clamp32(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

// The value as atoi reads it (leading blanks, a sign, decimal digits), held to 32 bits instead
// of overflowing.
std::int64_t read_decimal(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<std::int64_t>(value * 10 + (text[i] - '0'), std::int64_t{1} << 32);
    return negative ? -value : value;
}

void split(const char* qname, std::string& ns, std::string& local) {
    split_qname(RESEARCH_NS_SEPARATOR, qname ? qname : "", ns, local);
}

// "http://host[:port]/research"; the host came from the client's request head.
std::string service_url(bool secure, const std::string& host, int port) {
    std::string url = secure ? "https://" : "http://";
    url += xml_escape(host);
    if (port != 80) url += ":" + std::to_string(port);
    url += "/research";
    return url;
}

std::string read_string_param(const EasySoap::SOAPMethod& request, const char* name) {
    std::string text;
    try {
        if (const EasySoap::SOAPParameter* p = request.FindParameter(name)) *p >> text;
    } catch (const EasySoap::SOAPException&) {
        text.clear();
    }
    return text;
}

void answer(EasySoap::SOAPMethod& response, const std::string& text) {
    response.AddParameter("return") << text;
}

const char* const XML_DECL = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

} // namespace

std::string research_collection_guid(std::int32_t collection) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "{%8.8X%s", static_cast<std::uint32_t>(collection),
                  GUID_TAIL);
    return buffer;
}

// Reads like sscanf's "{%X": blanks, a sign and "0x" are accepted before the digits.
bool parse_research_collection_guid(const std::string& text, std::int32_t& collection) {
    std::size_t i = 0;
    if (text.empty() || text[0] != '{') return false;
    ++i;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2])))
        i += 2;
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])); ++i, ++digits) {
        const char c = text[i];
        const unsigned d = c <= '9' ? c - '0' : (std::tolower(c) - 'a' + 10);
        value = value * 16 + d;
        if (value > 0xFFFFFFFFu) return false;
    }
    if (digits == 0) return false;
    std::uint32_t v = static_cast<std::uint32_t>(value);
    if (negative) v = 0u - v;
    collection = static_cast<std::int32_t>(v);
    return true;
}

// --- QueryXMLParser ---------------------------------------------------------------------------

void QueryXMLParser::start_element(const char* name, const char** attributes) {
    std::map<std::string, std::string> attrs;
    for (const char** a = attributes; a && a[0] && a[1]; a += 2)
        attrs.emplace(a[0], a[1]);
    text.clear();
    std::string ns, local;
    split(name, ns, local);
    if (ns != RESEARCH_QUERY_NS || local != "Query") return;
    auto it = attrs.find("domain");
    std::int32_t collection = 0;
    if (parse_research_collection_guid(it == attrs.end() ? std::string() : it->second,
                                       collection)) {
        current = QuerySpec{};
        current.Collection = collection;
        current.FirstDoc = 0;
        current.LastDoc = 4;
        current.MinTime = 0;
        current.MaxTime = 2000000000;
        current.MinScore = 0;
        current.Info = INFO_CONTEXT;
        current.View = VIEW_PUBLISHED;
        current.Sort = SORT_STANDARD;
        open = true;
    } else {
        open = false;
    }
}

void QueryXMLParser::character_data(const char* bytes, int length) {
    if (!bytes || length <= 0) return;
    // Past the bound the text is marked too long (one byte over) rather than cut short, so a
    // truncated query is never searched.
    const std::size_t room = RESEARCH_MAX_TEXT - std::min(text.size(), RESEARCH_MAX_TEXT);
    text.append(bytes, std::min<std::size_t>(room, static_cast<std::size_t>(length)));
}

void QueryXMLParser::end_element(const char* name) {
    std::string ns, local;
    split(name, ns, local);
    if (ns != RESEARCH_QUERY_NS || !open) return;
    if (local == "QueryText") {
        std::vector<QueryAtom> atoms;
        // A second QueryText replaces the first: two expressions side by side would make a
        // postfix list that the index cannot evaluate.
        if (text.size() < RESEARCH_MAX_TEXT && parse_alg_query(text, atoms))
            current.Query = std::move(atoms);
        else
            open = false;
    } else if (local == "StartAt") {
        current.FirstDoc = clamp32(read_decimal(text) - 1);
    } else if (local == "Count") {
        current.LastDoc = clamp32(read_decimal(text) + current.FirstDoc - 1);
    } else if (local == "Query") {
        if (queries.size() < RESEARCH_MAX_QUERIES) queries.push_back(current);
        open = false;
    }
}

// --- LumbrakeResearchHandler ------------------------------------------------------------------

LumbrakeResearchHandler::LumbrakeResearchHandler(httpcontext& context, std::string host, int port,
                                                 bool secure, context_maker maker)
    : context_(context), host_(std::move(host)), port_(port), secure_(secure),
      maker_(std::move(maker)) {
    DispatchMethod("Registration", RESEARCH_NS, &LumbrakeResearchHandler::research_registration);
    DispatchMethod("Query", RESEARCH_NS, &LumbrakeResearchHandler::research_query);
}

api_context LumbrakeResearchHandler::make_context() {
    if (maker_) return maker_(context_);
    if (context_.app)
        return make_api_context(*context_.app, context_.db, context_.user, context_.groups,
                                context_.admin);
    api_context ctx;
    ctx.db = context_.db;
    ctx.user = context_.user;
    ctx.groups = context_.groups;
    ctx.admin = context_.admin;
    return ctx;
}

std::string LumbrakeResearchHandler::registration_xml() {
    std::string out = XML_DECL;
    out += "<ProviderUpdate xmlns=\"urn:Microsoft.Search.Registration.Response\">"
           "<Status>SUCCESS</Status><Providers><Provider>"
           "<Message>lumbrake trawlnest research library</Message><Id>";
    out += RESEARCH_PROVIDER_ID;
    out += "</Id><Name>lumbrake trawlnest</Name><QueryPath>";
    out += service_url(secure_, host_, port_);
    out += "</QueryPath><RegistrationPath>";
    out += service_url(false, host_, port_);
    out += "</RegistrationPath><AboutPath></AboutPath><Type>SOAP</Type><Services>";
    {
        const api_context ctx = make_context();
        api call(ctx, api_access::read);
        api_result res;
        std::vector<CollectionInfo> infos;
        call.enum_collection_configurations(res, infos);
        if (res.ok) {
            for (const CollectionInfo& info : infos) {
                std::string name = info.Configuration.Name;
                xml_escape_inplace(name);
                out += "<Service><Id>" + research_collection_guid(info.Collection) +
                       "</Id><Name>lumbrake trawlnest: " + name +
                       "</Name><Description>lumbrake trawlnest collection</Description>"
                       "<Copyright>Documents of this organisation; all rights reserved by "
                       "their owners.</Copyright><Display>On</Display>"
                       "<Category>RESEARCH_GENERAL</Category></Service>";
            }
        }
    }
    out += "</Services></Provider></Providers></ProviderUpdate>";
    return out;
}

std::string LumbrakeResearchHandler::query_xml(const std::string& packet) {
    QueryXMLParser parser;
    // Queries completed before an XML error are still answered.
    (void)parser.parse(packet, nullptr, RESEARCH_NS_SEPARATOR);

    std::string out = XML_DECL;
    out += "<ResponsePacket revision=\"1\" xmlns=\"urn:Microsoft.Search.Response\">";
    for (const QuerySpec& query : parser.queries) {
        // Nobody would read the answer: the searches are not run for a client that has gone.
        if (client_gone(context_.sock, context_.length_known)) break;
        QuerySpec query_spec = query;
        std::vector<QueryResult> results;
        std::int32_t total = -1;
        api_result res;
        {
            const api_context ctx = make_context();
            api call(ctx, api_access::read);
            call.query(res, query_spec, results, total, true);
        }
        if (!res.ok) continue;
        const std::int64_t start = std::int64_t{query.FirstDoc} + 1;
        const std::int64_t count = std::int64_t{query.LastDoc} - query.FirstDoc + 1;
        out += "<Response domain=\"" + research_collection_guid(query.Collection) +
               "\"><Range><StartAt>" + std::to_string(start) + "</StartAt><Count>" +
               std::to_string(count) + "</Count><TotalAvailable>" + std::to_string(total) +
               "</TotalAvailable><Results>"
               "<Content xmlns=\"urn:Microsoft.Search.Response.Content\">";
        for (const QueryResult& hit : results) {
            std::string title = hit.Title;
            std::string url = hit.Url;
            xml_escape_inplace(title);
            xml_escape_inplace(url);
            out += "<Heading collapsible=\"true\"><Text>" + title + "</Text><Hyperlink url=\"" +
                   url + "\"><Text>" + url + "</Text></Hyperlink></Heading><HorizontalRule/>";
        }
        out += "</Content></Results></Range><Status>SUCCESS</Status></Response>";
    }
    out += "</ResponsePacket>";
    return out;
}

void LumbrakeResearchHandler::research_registration(const EasySoap::SOAPMethod& request,
                                                    EasySoap::SOAPMethod& response) {
    (void)read_string_param(request, "registrationXml"); // read, not used
    answer(response, registration_xml());
}

void LumbrakeResearchHandler::research_query(const EasySoap::SOAPMethod& request,
                                             EasySoap::SOAPMethod& response) {
    answer(response, query_xml(read_string_param(request, "queryXml")));
}

std::unique_ptr<EasySoap::SOAPDispatchHandlerInterface>
make_research_handler(httpcontext& context, const std::string& host, int port, bool secure) {
    return std::make_unique<LumbrakeResearchHandler>(context, host, port, secure);
}

std::function<std::unique_ptr<EasySoap::SOAPDispatchHandlerInterface>(
    httpcontext&, const std::string&, int, bool)>
research_handler_factory(LumbrakeResearchHandler::context_maker maker) {
    return [maker = std::move(maker)](
               httpcontext& context, const std::string& host, int port,
               bool secure) -> std::unique_ptr<EasySoap::SOAPDispatchHandlerInterface> {
        return std::make_unique<LumbrakeResearchHandler>(context, host, port, secure, maker);
    };
}

} // namespace lumbrake
