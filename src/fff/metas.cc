#include <algorithm>
#include <tuple>

#include "util/log.h"
#include "fff/math-coding.h"
#include "fff/metas.h"

namespace FFF {

namespace {

auto order_key(const meta& m) {
    return std::tie(m.type, m.key, m.value, m.pos, m.end);
}

std::size_t put(std::string& out, std::size_t at, std::uint32_t value) {
    return lumbrake::math_encode(reinterpret_cast<unsigned char*>(out.data()) + at, out.size() - at,
                                 value);
}

std::size_t put_text(std::string& out, std::size_t at, const std::string& text) {
    const std::size_t n = put(out, at, static_cast<std::uint32_t>(text.size()));
    if (n == 0 || out.size() - at - n < text.size()) return 0;
    std::copy(text.begin(), text.end(), out.begin() + static_cast<std::ptrdiff_t>(at + n));
    return n + text.size();
}

} // namespace

void metas_to_binary(std::string& out, const std::vector<meta>& list) {
    using lumbrake::math_encoded_size;
    out.clear();
    std::vector<meta> sorted(list);
    std::sort(sorted.begin(), sorted.end(),
              [](const meta& a, const meta& b) { return order_key(a) < order_key(b); });
    sorted.erase(
        std::unique(sorted.begin(), sorted.end(),
                    [](const meta& a, const meta& b) { return order_key(a) == order_key(b); }),
        sorted.end());
    for (const meta& m : sorted) {
        std::size_t sl =
            math_encoded_size(static_cast<std::uint32_t>(m.type)) +
            math_encoded_size(static_cast<std::uint32_t>(m.dictid)) +
            math_encoded_size(static_cast<std::uint32_t>(m.key.size())) + m.key.size() +
            math_encoded_size(static_cast<std::uint32_t>(m.value.size())) + m.value.size();
        if (m.type == meta_positional)
            sl += math_encoded_size(m.pos);
        else if (m.type == meta_ranged)
            sl += math_encoded_size(m.pos) + math_encoded_size(m.end);
        const std::size_t start = out.size();
        out.resize(start + sl);
        std::size_t at = start;
        at += put(out, at, static_cast<std::uint32_t>(m.type));
        at += put(out, at, static_cast<std::uint32_t>(m.dictid));
        at += put_text(out, at, m.key);
        at += put_text(out, at, m.value);
        if (m.type == meta_positional || m.type == meta_ranged) at += put(out, at, m.pos);
        if (m.type == meta_ranged) at += put(out, at, m.end);
        const std::size_t se = at - start;
        TN_ASSERT(sl == se);
    }
}

bool metas_from_binary(std::vector<meta>& list, std::string_view in) {
    list.clear();
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const std::size_t n = in.size();
    std::size_t at = 0;
    auto number = [&](std::uint32_t& v) {
        const std::size_t used = lumbrake::math_decode(p + at, n - at, v);
        at += used;
        return used != 0;
    };
    auto text = [&](std::string& s) {
        std::uint32_t len = 0;
        if (!number(len) || len > n - at) return false;
        s.assign(in.data() + at, len);
        at += len;
        return true;
    };
    while (at < n) {
        meta m;
        std::uint32_t type = 0, dictid = 0;
        if (!number(type) || !number(dictid)) return false;
        m.type = static_cast<std::int32_t>(type);
        m.dictid = static_cast<std::int32_t>(dictid);
        if (!text(m.key) || !text(m.value)) return false;
        if (m.type == meta_positional || m.type == meta_ranged)
            if (!number(m.pos)) return false;
        if (m.type == meta_ranged)
            if (!number(m.end)) return false;
        list.push_back(std::move(m));
    }
    return true;
}

} // namespace FFF
