// Fuzz target of the text codecs and URLs: UTF-8 decoding in both forms, case folding, the
// single-byte charsets, and URL parsing, canonical form and resolution. Beyond what the
// sanitizers catch, it aborts when a decoder stands still or reads past its text, when folding
// writes anything but well-formed sequences, or when an encoder is not stable.
//
// Input: the first byte picks a charset label; the rest is the text. For the URL operations
// the text is split at its first line feed into a base and a reference.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "util/codecs.h"
#include "util/uri.h"

namespace {

const char* const labels[] = {
    "utf-8",      "utf8",       "us-ascii",   "latin-1",    "roman",       "windows-1250", "cp1251",
    "1252",       "cp1253",     "cp1254",     "cp1255",     "cp1256",      "cp1257",       "cp1258",
    "iso-8859-2", "iso-8859-5", "iso-8859-7", "iso-8859-8", "iso-8859-11", "iso-8859-16",  "cp437",
    "cp850",      "cp864",      "cp866",      "cp874",      "x-unknown",
};

void check(bool ok) {
    if (!ok) std::abort();
}

void utf8_checks(std::string_view text) {
    using namespace lumbrake;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t before = i;
        bool valid = false;
        code_point c = utf8_decode_at(text, i, valid);
        check(i > before && i <= text.size());
        if (valid) {
            // What the decoder accepts, the encoder writes back in a form it accepts again.
            std::string again;
            utf8_append(c, again);
            std::size_t j = 0;
            bool valid2 = false;
            check(utf8_decode_at(again, j, valid2) == c && valid2 && j == again.size());
        }
    }

    // The cursor form on a NUL-terminated copy never passes the NUL.
    std::string copy(text);
    const char* p = copy.c_str();
    const char* nul = p + std::char_traits<char>::length(p);
    while (*p) {
        const char* before = p;
        bool valid = false;
        utf8_decode_next(p, valid);
        check(p > before && p <= nul);
    }

    // Folding writes only sequences that decode cleanly, whatever it was given.
    std::string folded;
    bool valid = true;
    utf8_case_fold(text, folded, valid);
    std::size_t k = 0;
    while (k < folded.size()) {
        bool ok = false;
        utf8_decode_at(folded, k, ok);
        check(ok);
    }
    (void)utf8_is_alnum(text);
}

void charset_checks(const char* label, std::string_view text) {
    using namespace lumbrake;
    charset cs(label);
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t before = i;
        bool valid = false;
        cs.next_code_point_at(text, i, valid);
        check(i > before && i <= text.size());
        if (cs.kind() != charset::UTF8) check(valid && i == before + 1);
    }
    std::string copy(text);
    const char* p = copy.c_str();
    while (*p) {
        const char* before = p;
        bool valid = false;
        cs.next_code_point(p, valid);
        check(p > before);
    }
}

void uri_checks(std::string_view text) {
    using namespace lumbrake;
    std::size_t nl = text.find('\n');
    std::string_view base_text = text.substr(0, nl);
    std::string_view ref = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);

    for (bool fragments : {true, false}) {
        URI base(base_text, "http", fragments);
        std::string host;
        std::uint16_t port = 0;
        base.host_port(host, port);
        std::string canon = base.canonical_string();
        (void)canonicalize_url(canon);
        std::string dir, file;
        base.split_path(dir, file);
        URI joined = base.resolve(ref, fragments);
        (void)joined.canonical_string();
        std::string out;
        base.normalize_url(out, ref, fragments);
        (void)uri_has_scheme(ref);
    }

    // The encoders are stable and the decoder undoes the strict one.
    std::string encoded = url_encode(text);
    check(url_encode(encoded) == encoded);
    check(url_decode(url_escape(text)) == text);
    std::string path = normalize_path(base_text);
    check(normalize_path(path) == path);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const char* label = labels[data[0] % (sizeof labels / sizeof labels[0])];
    std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    utf8_checks(text);
    charset_checks(label, text);
    uri_checks(text);
    return 0;
}
