#include "linux-platform/linereader.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

namespace lumbrake::platform {

line_reader::~line_reader() {
    if (file_) std::fclose(file_);
    std::free(buffer_);
}

bool line_reader::open(const std::string& path) {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    std::FILE* f = std::fopen(path.c_str(), "re");
    if (!f) return false;
    // A directory opens for reading on Linux but has no lines: treat it as unreadable.
    struct stat st;
    int saved = 0;
    if (fstat(fileno(f), &st) != 0)
        saved = errno;
    else if (S_ISDIR(st.st_mode))
        saved = EISDIR;
    if (saved != 0) {
        std::fclose(f);
        errno = saved;
        return false;
    }
    file_ = f;
    return true;
}

bool line_reader::next(std::string& line) {
    if (!file_) return false;
    ssize_t n = ::getline(&buffer_, &capacity_, file_);
    if (n < 0) return false;
    std::size_t len = static_cast<std::size_t>(n);
    if (len > 0 && buffer_[len - 1] == '\n') {
        --len;
        if (len > 0 && buffer_[len - 1] == '\r') // text mode: CR LF reads as LF
            --len;
    }
    line.assign(buffer_, len);
    return true;
}

} // namespace lumbrake::platform
