#include "fff/sidemeta.h"

#include "util/codecs.h"

#include <cstdlib>
#include <cstring>

namespace lumbrake {

namespace {

// atoi without undefined behaviour on overflow (saturated to the int32 range).
std::int32_t number(const char* text) {
    long v = std::strtol(text, nullptr, 10);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(v);
}

const char* find_attribute(const char** attributes, const char* name) {
    for (int i = 0; attributes[i] && attributes[i + 1]; i += 2) {
        if (std::strcmp(attributes[i], name) == 0) return attributes[i + 1];
    }
    return nullptr;
}

} // namespace

int sidemeta_slice_id(const std::string& name) {
    // Side files spell slices 9 and 13 in full, unlike the FFF forms.
    static const char* const names[] = {
        "author",
        "keyword",
        "abstract",
        "invisible",
        "marginalNorm",
        "marginalEmph",
        "marginalLink",
        "marginalRemoteLink",
        "marginalHeader",
        "centralNorm",
        "centralEmph",
        "centralLink",
        "centralRemoteLink",
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
    for (int i = 0; i < 31; ++i) {
        if (name == names[i]) return i + 1;
    }
    return 0;
}

void sidemeta_parser::start_element(const char* name, const char** attributes) {
    if (std::strcmp(name, "meta") != 0) return;
    auto attr = [&](const char* n) {
        const char* v = find_attribute(attributes, n);
        return v ? v : "";
    };
    const char* type = find_attribute(attributes, "type");
    type_ = type ? type : "";
    pos_ = static_cast<std::uint32_t>(number(attr("pos")));
    beg_ = static_cast<std::uint32_t>(number(attr("beg")));
    end_ = static_cast<std::uint32_t>(number(attr("end")));
    if (const char* dictid = find_attribute(attributes, "dictid")) {
        slice_ = number(dictid);
    } else if (const char* sliceid = find_attribute(attributes, "sliceid")) {
        slice_ = sidemeta_slice_id(sliceid);
    } else {
        slice_ = 0;
    }
    key_ = attr("key");
    value_.clear();
}

void sidemeta_parser::character_data(const char* bytes, int length) {
    value_.append(bytes, static_cast<std::size_t>(length));
}

void sidemeta_parser::end_element(const char* name) {
    if (std::strcmp(name, "meta") != 0 || slice_ == 0) return;
    FFF::meta m;
    bool key_valid = false, value_valid = false;
    utf8_case_fold(key_, m.key, key_valid);
    utf8_case_fold(value_, m.value, value_valid);
    if (!key_valid || !value_valid) return;
    m.dictid = slice_;
    if (type_ == "documentwide") {
        m.type = FFF::meta_documentwide;
    } else if (type_ == "positional") {
        m.type = FFF::meta_positional;
        m.pos = pos_;
    } else if (type_ == "ranged") {
        m.type = FFF::meta_ranged;
        m.pos = beg_;
        m.end = end_;
    } else {
        return;
    }
    records.push_back(std::move(m));
}

void metas_merger::visit(const FFF::tXMLTree* node, int /*depth*/, bool leaving) {
    if (leaving) return;
    if (auto* contents = dynamic_cast<const FFF::Contents*>(node)) {
        // The walk (accept) hands out the nodes it owns; only the visitor interface is const.
        auto* target = const_cast<FFF::Contents*>(contents);
        target->metas.insert(target->metas.end(), records_.begin(), records_.end());
    }
}

} // namespace lumbrake
