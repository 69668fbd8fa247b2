#include "fff/FFF.h"

#include <algorithm>

#include "util/log.h"

namespace FFF {

const char* slice_name(int dictid) {
    static const char* const names[] = {
        "?",
        "author",
        "keyword",
        "abstract",
        "invisible",
        "marginalNorm",
        "marginalEmph",
        "marginalLink",
        "marginalRemoteLink",
        "marginaHeader",
        "centralNorm",
        "centralEmph",
        "centralLink",
        "centralRemote",
        "centralHeader",
        "title",
        "custom0",
        "custom1",
        "custom2",
        "custom3",
        "custom4",
        "custom5",
        "custom6",
        "custom7",
        "custom8",
        "custom9",
        "customA",
        "customB",
        "customC",
        "customD",
        "customE",
        "customF",
    };
    if (dictid < 1 || dictid > customFDict) return "?";
    return names[dictid];
}

// No node of the plain root class is ever stored.
void DocumentData_basic::write_binary(writer&) const {
    TN_ASSERT(false);
}

bool DocumentData_basic::read_binary(reader&, int&) {
    TN_ASSERT(false);
    return false;
}

void Low::set_link(std::int32_t id) {
    const std::int32_t dictID_ = dictid;
    TN_ASSERT(dictID_ == FFF::marginalLinkDict || dictID_ == FFF::centralLinkDict);
    urlid = id;
}

void Low::write_binary(writer& w) const {
    // The reader decides by the 16 bits it reads whether a link id follows, so the writer
    // must decide by the same bits: an id such as 65548 is written as 12, with its link id.
    const std::uint16_t dict = static_cast<std::uint16_t>(dictid);
    w.write_u16(dict);
    if (is_link_slice(dict)) w.write_i32(urlid);
    w.write_u32(static_cast<std::uint32_t>(words.size()));
    for (const std::string& word : words)
        w.write_string(word);
}

bool Low::read_binary(reader& r, int& status) {
    std::uint16_t dict = 0;
    if (!r.read_u16(dict)) {
        status = 0;
        return true;
    }
    dictid = dict;
    if (is_link_slice(dictid)) {
        std::uint32_t id = 0;
        if (!r.read_u32(id)) {
            status = 0;
            return true;
        }
        urlid = static_cast<std::int32_t>(id);
    }
    std::uint32_t count = 0;
    if (!r.read_u32(count)) {
        status = 1;
        return true;
    }
    // Every word takes at least one byte, so no more words than remaining bytes can follow; a
    // large claim is not trusted up front either (a word slot is far larger than one byte),
    // the vector grows as words actually arrive.
    words.reserve(std::min<std::size_t>({count, r.remaining(), 4096}));
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string word;
        if (!r.read_string(word)) {
            // The count lied: give back the room it claimed, or a blob of many such runs
            // would hold memory in proportion to its size squared.
            words.shrink_to_fit();
            status = 1;
            return true;
        }
        words.push_back(std::move(word));
    }
    status = 2;
    return true;
}

void Contents::write_binary(writer& w) const {
    tXMLParentTree::write_binary(w);
    std::string packed;
    if (full) metas_to_binary(packed, metas);
    w.write_string(packed);
}

bool Contents::read_binary(reader& r, int& status) {
    if (!tXMLParentTree::read_binary(r, status)) return false;
    if (status != 2) return true;
    if (full) {
        std::string packed;
        if (!r.read_string(packed)) {
            status = 1;
            return true;
        }
        if (!metas_from_binary(metas, packed))
            TN_LOG(lumbrake::LF_FFF, lumbrake::LL_WARNING,
                   "Incomplete metas record dropped (" << packed.size() << " bytes)");
    }
    status = 2;
    return true;
}

int DocumentData::add_link(const std::string& url, std::uint32_t link_score) {
    const auto it = linkids_.find(url);
    if (it != linkids_.end()) {
        linkscores_[static_cast<std::size_t>(it->second)].score = link_score;
        return it->second;
    }
    const std::size_t id = linkids_.size();
    TN_ASSERT(id == linkscores_.size());
    linkids_.emplace(url, static_cast<int>(id));
    linkscores_.push_back({url, link_score});
    return static_cast<int>(id);
}

void DocumentData::write_binary(writer& w) const {
    tXMLParentTree::write_binary(w);
    w.write_u32(score);
    w.write_u32(static_cast<std::uint32_t>(linkscores_.size()));
    for (const linkscore_t& link : linkscores_) {
        w.write_string(link.url);
        w.write_u32(link.score);
    }
}

bool DocumentData::read_binary(reader& r, int& status) {
    if (!tXMLParentTree::read_binary(r, status)) return false;
    if (status != 2) return true;
    if (full) {
        std::uint32_t s = 0;
        // A missing score shows as a missing link count below.
        if (r.read_u32(s)) score = s;
    } else {
        score = 1000000;
    }
    std::uint32_t count = 0;
    if (!r.read_u32(count)) {
        status = 1;
        return true;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string url;
        if (!r.read_string(url)) {
            status = 1;
            return true;
        }
        std::uint32_t link_score = score;
        bool complete = true;
        if (full) {
            link_score = 0;
            complete = r.read_u32(link_score);
        }
        add_link(url, link_score);
        if (!complete) {
            status = 1;
            return true;
        }
    }
    status = 2;
    return true;
}

namespace {

tXMLTree* make_reduced_root() {
    return new DocumentData(false);
}
tXMLTree* make_reduced_contents() {
    return new Contents(false);
}
tXMLTree* make_p() {
    return new P;
}
tXMLTree* make_s() {
    return new S;
}
tXMLTree* make_low() {
    return new Low;
}
tXMLTree* make_contents() {
    return new Contents(true);
}
tXMLTree* make_root() {
    return new DocumentData(true);
}

} // namespace

kindTable& get_kind_table() {
    // Initialised once even when daemon threads ask concurrently.
    static kindTable table = [] {
        kindTable t;
        register_kind(t, kind_DocumentData_basic, make_reduced_root);
        register_kind(t, kind_Contents_basic, make_reduced_contents);
        register_kind(t, kind_P, make_p);
        register_kind(t, kind_S, make_s);
        register_kind(t, kind_Low, make_low);
        register_kind(t, kind_Contents, make_contents);
        register_kind(t, kind_DocumentData, make_root);
        return t;
    }();
    return table;
}

} // namespace FFF
