// Side metadata: the ".tnm" file beside a document holds meta records (document-wide,
// positional or ranged, each in a slice) that are added to the document's contents.
#pragma once

#include "util/xmlreader.h"
#include "fff/FFF.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lumbrake {

// Collects the records of the "meta" elements, wherever they stand. Parse with
// ExpatParser::parse; use the records only when the parse succeeded.
class sidemeta_parser : public ExpatParser {
public:
    sidemeta_parser() = default;

    std::vector<FFF::meta> records;

protected:
    void start_element(const char* name, const char** attributes) override;
    void end_element(const char* name) override;
    void character_data(const char* bytes, int length) override;

private:
    std::string type_;
    std::uint32_t pos_ = 0;
    std::uint32_t beg_ = 0;
    std::uint32_t end_ = 0;
    std::int32_t slice_ = 0;
    std::string key_;
    std::string value_;
};

// The slice id of a side-file slice name ("author" 1 ... "customF" 31), 0 for any other.
int sidemeta_slice_id(const std::string& name);

// Appends the records, in file order, to every FFF::Contents the walk enters.
// Walk with accept (not accept_const): it changes the nodes it visits.
class metas_merger : public FFF::tXMLTree::visitor {
public:
    explicit metas_merger(std::vector<FFF::meta> records) : records_(std::move(records)) {}
    void visit(const FFF::tXMLTree* node, int depth, bool leaving) override;

private:
    std::vector<FFF::meta> records_;
};

} // namespace lumbrake
