#include "parserbase/parser_base.h"

#include "fff/FFFbuilder.h"
#include "fff/sidemeta.h"

namespace lumbrake {

void parser_base::parse_document(const text_exclusion_matcher* matcher, std::int32_t base_score,
                                 const std::string& url, const std::string& data,
                                 const std::string& mime, const std::string& charset,
                                 const std::string& sidemeta, parse_result& result) {
    result.status = PARSE_NOT_PARSED;
    result.document.reset();
    FFFbuilder builder(static_cast<std::uint32_t>(base_score));
    parse(builder, matcher, base_score, url, data, mime, charset, result);
    if (result.status != PARSE_OK) return; // the builder's document goes with it
    result.document = std::move(builder.document);
    if (!result.document) return;
    for (const auto& link : result.document->linkscores_)
        result.outlinks.emplace_back(link.url, static_cast<std::int32_t>(link.score));
    if (sidemeta.empty()) return;
    sidemeta_parser side;
    if (!side.parse(sidemeta)) return; // not well-formed: the document stays without them
    metas_merger merger(std::move(side.records));
    result.document->accept(merger, 0);
}

} // namespace lumbrake
