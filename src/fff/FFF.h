// The FFF document: root, contents, paragraphs, sentences and runs of words of one slice.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fff/metas.h"
#include "fff/tXMLTree.h"

namespace FFF {

// Kind ids of the binary form.
enum : int {
    kind_DocumentData_basic = 0,
    kind_Contents_basic = 1,
    kind_P = 2,
    kind_S = 3,
    kind_Low = 4,
    kind_Contents = 5,
    kind_DocumentData = 6,
};

// Slice (dictionary) ids of runs and metas.
enum : int {
    authorDict = 1,
    keywordDict = 2,
    abstractDict = 3,
    invisibleDict = 4,
    marginalNormDict = 5,
    marginalEmphDict = 6,
    marginalLinkDict = 7,
    marginalRemoteLinkDict = 8,
    marginalHeaderDict = 9,
    centralNormDict = 10,
    centralEmphDict = 11,
    centralLinkDict = 12,
    centralRemoteDict = 13,
    centralHeaderDict = 14,
    titleDict = 15,
    custom0Dict = 16,
    customFDict = 31,
};

// "author" ... "customF"; "?" for any other id.
const char* slice_name(int dictid);

// Slices whose runs carry a link id.
inline bool is_link_slice(int dictid) {
    return dictid == marginalLinkDict || dictid == centralLinkDict;
}

class DocumentData_basic : public virtual tXMLParentTree {
public:
    void write_binary(writer& w) const override;
    bool read_binary(reader& r, int& status) override;
    int kind_id() const override { return kind_DocumentData_basic; }
    const char* tag_name() const override { return "documentdata_basic"; }
};

class Contents_basic : public virtual tXMLParentTree {
public:
    int kind_id() const override { return kind_Contents_basic; }
    const char* tag_name() const override { return "contents_basic"; }
};

// A paragraph; its children are sentences.
class P : public virtual tXMLParentTree {
public:
    int kind_id() const override { return kind_P; }
    const char* tag_name() const override { return "p"; }
};

// A sentence; its children are runs.
class S : public virtual tXMLParentTree {
public:
    int kind_id() const override { return kind_S; }
    const char* tag_name() const override { return "s"; }
};

// A run of words of one slice.
class Low : public virtual tXMLTree {
public:
    Low() = default;
    explicit Low(std::int32_t dict) : dictid(dict) {}

    void write_binary(writer& w) const override;
    bool read_binary(reader& r, int& status) override;
    int kind_id() const override { return kind_Low; }
    const char* tag_name() const override { return "low"; }

    // Makes this run a link run; only the link slices may carry a link id.
    void set_link(std::int32_t id);

    std::int32_t dictid = marginalNormDict;
    std::int32_t urlid = 0; // meaningful for slices 7 and 12 only
    std::vector<std::string> words;
};

class Contents : public virtual Contents_basic {
public:
    explicit Contents(bool is_full = true) : full(is_full) {}

    void write_binary(writer& w) const override;
    bool read_binary(reader& r, int& status) override;
    int kind_id() const override { return kind_Contents; }
    const char* tag_name() const override { return "contents"; }

    bool full;
    std::vector<meta> metas;
};

struct linkscore_t {
    std::string url;
    std::uint32_t score = 0; // millionths
};

// The root.
class DocumentData : public virtual DocumentData_basic {
public:
    explicit DocumentData(bool is_full = true) : full(is_full) {}

    void write_binary(writer& w) const override;
    bool read_binary(reader& r, int& status) override;
    int kind_id() const override { return kind_DocumentData; }
    const char* tag_name() const override { return "documentdata"; }

    // Returns the link id of url; a known url keeps its id and takes the new score.
    int add_link(const std::string& url, std::uint32_t link_score);

    bool full;
    std::uint32_t score = 1000000; // millionths
    std::map<std::string, int> linkids_;
    std::vector<linkscore_t> linkscores_; // index = link id
};

} // namespace FFF
