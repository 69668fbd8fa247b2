// Untrusted request text that the portal reads: the Accept-Language value and the page path,
// plus the template expansion and URL wrapping the results page applies to stored text.
#include "webservices/portal.h"
#include "util/uri.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace lumbrake;

namespace {

const std::string& fuzz_root() {
    static const std::string root = [] {
        std::string dir = std::filesystem::temp_directory_path() / "portal_fuzz_root";
        std::filesystem::create_directories(dir + "/docs");
        std::ofstream(dir + "/index.html") << "x";
        std::ofstream(dir + "/cache.special") << "cache\n";
        std::ofstream(dir + "/r.special") << "redirect /x/\n";
        return dir;
    }();
    return root;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 4) {
    case 0: {
        static const language_table table{{"de", "/de/"}, {"en", "/en/"}, {"en-us", "/us/"}};
        std::string path;
        if (choose_language(text, table, path) && path.empty()) std::abort();
        break;
    }
    case 1: {
        std::string resolved, redirect;
        resolve_portal_page(fuzz_root(), normalize_path(text), resolved, redirect, false);
        // Whatever resolves lies inside the root.
        if (!resolved.empty() && resolved.compare(0, fuzz_root().size(), fuzz_root()) != 0)
            std::abort();
        break;
    }
    case 2:
        expand_template(text, {{"q", "a<b"}, {"x", "1"}}, {{"user", "u"}, {"x", "2"}});
        break;
    default: {
        std::string wrapped = wrap_long_url(text);
        if (wrapped.size() < text.size()) std::abort();
        break;
    }
    }
    return 0;
}
