// The host services that plug-ins call: memory, logging, text and URL helpers. Every entry is
// a C function: nothing may leave it as an exception, and every pointer a plug-in hands over is
// checked before use.
#include "plugin-system/plugins_loader.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "util/codecs.h"
#include "util/log.h"
#include "util/uri.h"

namespace lumbrake {

namespace {

const char* plugin_name(const lumbrake_plugin_regdata* reg) {
    return reg && reg->name ? reg->name : "(unnamed)";
}

// A copy of the text in memory the plug-in frees with the table's free.
char* c_copy(std::string_view text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (!copy) return nullptr;
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = 0;
    return copy;
}

extern "C" {

void* api_alloc(lumbrake_plugins_api*, size_t size) {
    return std::malloc(size);
}

void api_free(lumbrake_plugins_api*, void* memory) {
    std::free(memory);
}

char* api_strdup(lumbrake_plugins_api*, const char* text) {
    return text ? ::strdup(text) : nullptr;
}

void api_log_error(lumbrake_plugins_api*, const lumbrake_plugin_regdata* reg, const char* text) {
    try {
        TN_LOG(LF_PLUGINS, LL_ERROR, "Plugin " << plugin_name(reg) << ": " << (text ? text : ""));
    } catch (...) {
    }
}

void api_log_info(lumbrake_plugins_api*, const lumbrake_plugin_regdata* reg, const char* text) {
    try {
        TN_LOG(LF_PLUGINS, LL_INFO, "Plugin " << plugin_name(reg) << ": " << (text ? text : ""));
    } catch (...) {
    }
}

void api_log_debug(lumbrake_plugins_api*, const lumbrake_plugin_regdata* reg, const char* text) {
    try {
        TN_LOG(LF_PLUGINS, LL_DEBUG, "Plugin " << plugin_name(reg) << ": " << (text ? text : ""));
    } catch (...) {
    }
}

int api_case_fold(lumbrake_plugins_api*, const char* text, char** folded) {
    try {
        if (!folded) return 0;
        *folded = nullptr;
        if (!text) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Null string from plugin");
            return 0;
        }
        std::string out;
        bool valid = true;
        utf8_case_fold(text, out, valid);
        if (!valid) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Bad utf8 string from plugin");
            return 0;
        }
        *folded = c_copy(out);
        return *folded ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int api_compare_nocase(lumbrake_plugins_api*, int* result, const char* a, const char* b) {
    try {
        if (!result || !a || !b) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Null string from plugin");
            return 0;
        }
        std::string fa, fb;
        bool valid_a = true, valid_b = true;
        utf8_case_fold(a, fa, valid_a);
        utf8_case_fold(b, fb, valid_b);
        if (!valid_a || !valid_b) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Bad utf8 string from plugin");
            return 0;
        }
        // Zero-terminated comparison with unsigned bytes.
        int c = std::strcmp(fa.c_str(), fb.c_str());
        *result = c < 0 ? -1 : (c > 0 ? 1 : 0);
        return 1;
    } catch (...) {
        return 0;
    }
}

int api_normalize_url(lumbrake_plugins_api*, const char* url, char** canonical) {
    try {
        if (!canonical) return 0;
        *canonical = nullptr;
        if (!url) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Null string from plugin");
            return 0;
        }
        *canonical = c_copy(canonicalize_url(url));
        return *canonical ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int api_resolve_url(lumbrake_plugins_api*, const char* base, const char* reference,
                    char** resolved) {
    try {
        if (!resolved) return 0;
        *resolved = nullptr;
        if (!base || !reference) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Null string from plugin");
            return 0;
        }
        URI base_uri(std::string_view(base), "http");
        std::string out;
        base_uri.normalize_url(out, reference);
        *resolved = c_copy(out);
        return *resolved ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int api_test_chars(lumbrake_plugins_api*, const char* text) {
    if (!text) return 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        // Bytes from 0x80 are parts of multi-byte characters: they never match a class.
        if (*p >= 0x80) continue;
        code_point c = *p;
        if (is_unicode_separator(c) || is_unicode_other(c) || is_unicode_mark(c) ||
            is_unicode_symbol(c) || is_unicode_punctuation(c))
            return 0;
    }
    return 1;
}

} // extern "C"

} // namespace

void fill_base_services(lumbrake_plugins_api& api) {
    api.alloc = api_alloc;
    api.free = api_free;
    api.strdup = api_strdup;
    api.log_error = api_log_error;
    api.log_info = api_log_info;
    api.log_debug = api_log_debug;
}

void fill_text_services(lumbrake_plugins_api& api) {
    api.case_fold = api_case_fold;
    api.compare_nocase = api_compare_nocase;
    api.normalize_url = api_normalize_url;
    api.resolve_url = api_resolve_url;
    api.test_chars = api_test_chars;
}

} // namespace lumbrake
