#include "util/fileio.h"

#include "util/syslayer.h"

#include <cerrno>
#include <cstdio>
#include <memory>

namespace lumbrake {

namespace {

struct file_closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

} // namespace

bool read_whole_file(const std::string& file_name, std::string& error, std::string& content) {
    error.clear();
    content.clear();
    errno = 0;
    file_ptr f(std::fopen(file_name.c_str(), "rbe"));
    if (!f) {
        error = system_error_text();
        return false;
    }
    char buf[4096];
    for (;;) {
        std::size_t n = std::fread(buf, 1, sizeof buf, f.get());
        content.append(buf, n);
        if (n < sizeof buf) break;
    }
    if (std::ferror(f.get())) {
        error = system_error_text();
        return false;
    }
    return true;
}

bool write_whole_file(const std::string& file_name, std::string& error, std::string_view bytes) {
    error.clear();
    errno = 0;
    std::FILE* raw = std::fopen(file_name.c_str(), "wbe");
    if (!raw) {
        error = system_error_text();
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), raw) == bytes.size();
    ok = std::fflush(raw) == 0 && ok;
    if (!ok) error = system_error_text();
    // A failed close can be the first report of a write error (full disk, NFS).
    if (std::fclose(raw) != 0 && ok) {
        ok = false;
        error = system_error_text();
    }
    return ok;
}

} // namespace lumbrake
