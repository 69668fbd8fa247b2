// The research-pane service on /research: office applications register the provider
// ("Registration") and send search packets ("Query") in the namespace "urn:Microsoft.Search".
// Every collection the caller may read is offered as one research service, named by a GUID
// made from its id. Both answers are XML documents returned as one string.
#pragma once

#include "apiops/api-common.h"
#include "apiops/api-query.h"
#include "soap/soap_server.h"
#include "httpfront/httpserver.h"
#include "util/xmlreader.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lumbrake {

inline constexpr const char* RESEARCH_NS = "urn:Microsoft.Search";
inline constexpr const char* RESEARCH_QUERY_NS = "urn:Microsoft.Search.Query";
inline constexpr const char* RESEARCH_PROVIDER_ID = "{435DAFCC-828A-4274-A193-3ED3C0A5404A}";

// "{%8.8X-FFC8-46E6-8124-4D53B625F130}" of the id as a 32-bit unsigned number.
std::string research_collection_guid(std::int32_t collection);
// Reads the hexadecimal group back (whatever follows it does not matter); false when the text
// does not start with "{" and a hexadecimal number. Values beyond 32 bits are refused.
bool parse_research_collection_guid(const std::string& text, std::int32_t& collection);

// Reads the Query elements of a search packet. Element names must arrive as
// "namespace\x01local": parse with ns_separator '\x01'.
class QueryXMLParser : public ExpatParser {
public:
    QueryXMLParser() = default;

    // The completed queries in document order.
    std::vector<QuerySpec> queries;

protected:
    void start_element(const char* name, const char** attributes) override;
    void end_element(const char* name) override;
    void character_data(const char* bytes, int length) override;

private:
    std::string text;  // character data since the last start tag
    QuerySpec current; // the query being filled
    bool open = false; // a Query element that named a collection is open
};

// The separator the parse of a search packet uses.
inline constexpr char RESEARCH_NS_SEPARATOR = '\x01';

// The longest character data kept for one element: query texts beyond the search's own limit
// are refused by the search anyway, and a hostile packet must not grow memory without bound.
inline constexpr std::size_t RESEARCH_MAX_TEXT = max_query_text + 1;

class LumbrakeResearchHandler : public EasySoap::SOAPDispatchHandler<LumbrakeResearchHandler> {
public:
    // Builds the API context of the caller's identity; empty: from the context's application
    // (without one, a context that reaches only the database).
    using context_maker = std::function<api_context(httpcontext&)>;

    LumbrakeResearchHandler(httpcontext& context, std::string host, int port, bool secure,
                            context_maker maker = {});

    LumbrakeResearchHandler* GetTarget(const EasySoap::SOAPEnvelope&) override { return this; }

    void research_registration(const EasySoap::SOAPMethod& request, EasySoap::SOAPMethod& response);
    void research_query(const EasySoap::SOAPMethod& request, EasySoap::SOAPMethod& response);

    // The two answers as text, without the SOAP layer.
    std::string registration_xml();
    std::string query_xml(const std::string& packet);

private:
    api_context make_context();

    httpcontext& context_;
    std::string host_;
    int port_;
    bool secure_;
    context_maker maker_;
};

// The handler for one /research request (the router's research_handler seam).
std::unique_ptr<EasySoap::SOAPDispatchHandlerInterface>
make_research_handler(httpcontext& context, const std::string& host, int port, bool secure);

// The same seam with a maker of the API context (tests: services without an application).
std::function<std::unique_ptr<EasySoap::SOAPDispatchHandlerInterface>(
    httpcontext&, const std::string&, int, bool)>
research_handler_factory(LumbrakeResearchHandler::context_maker maker);

} // namespace lumbrake
