// The interface of every document parser and the record that a parse produces.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fff/FFF.h"

namespace lumbrake {

class config;
class FFFbuilder;
class text_exclusion_matcher;

// Parse statuses.
enum parse_status : std::int32_t {
    PARSE_OK = 0,
    PARSE_NOT_PARSED = 1, // internal failure, or not parsed
    PARSE_ERROR = 2,
    PARSE_UNKNOWN_TYPE = 3,
};

struct parse_result {
    std::int32_t status = PARSE_NOT_PARSED;
    std::string error;
    std::string mime;
    std::string charset;
    std::unique_ptr<FFF::DocumentData> document;
    // (URL, score in millionths), in link-id order.
    std::vector<std::pair<std::string, std::int32_t>> outlinks;

    std::unique_ptr<FFF::DocumentData> take_document() { return std::move(document); }
};

// Content probes (mode 0) and name probes (mode 1) of detect.
enum detect_mode : int { DETECT_CONTENT = 0, DETECT_NAME = 1 };

class parser_base {
public:
    explicit parser_base(const config& cfg) : cfg_(&cfg) {}
    virtual ~parser_base() = default;
    parser_base(const parser_base&) = delete;
    parser_base& operator=(const parser_base&) = delete;

    // Feeds the document's text into the builder; sets the result's status (0 on success),
    // error text, MIME type and charset.
    virtual void parse(FFFbuilder& builder, const text_exclusion_matcher* matcher,
                       std::int32_t base_score, const std::string& url, const std::string& data,
                       const std::string& mime, const std::string& charset,
                       parse_result& result) = 0;

    // Mode 0 judges the data, mode 1 the name (URL or file name). On true the MIME type is
    // set and the charset is set or given a default.
    virtual bool detect(int mode, const std::string& data, const std::string& name,
                        std::string& mime, std::string& charset) = 0;

    // Runs one parse into a fresh builder; on success the result holds the document, its
    // outlinks and the side metadata of sidemeta (an XML text; ignored when malformed).
    void parse_document(const text_exclusion_matcher* matcher, std::int32_t base_score,
                        const std::string& url, const std::string& data, const std::string& mime,
                        const std::string& charset, const std::string& sidemeta,
                        parse_result& result);

    const config& cfg() const { return *cfg_; }

protected:
    // True when name ends with one of the suffixes, compared exactly.
    static bool has_suffix(const std::string& name, std::initializer_list<const char*> suffixes);

private:
    const config* cfg_; // borrowed
};

// The label to decode with: a document whose charset nobody named is read as ISO-8859-1 (the
// HTTP default for text), which keeps every byte instead of cutting it to seven bits.
inline std::string_view decoding_charset(const std::string& charset) {
    return charset.empty() ? std::string_view("iso-8859-1") : std::string_view(charset);
}

inline bool parser_base::has_suffix(const std::string& name,
                                    std::initializer_list<const char*> suffixes) {
    for (const char* s : suffixes) {
        std::string_view suffix(s);
        if (name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            return true;
    }
    return false;
}

} // namespace lumbrake
