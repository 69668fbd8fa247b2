#include "fetchers/fs-fetcher.h"

#include "util/log.h"
#include "util/uri.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace lumbrake {

namespace {

struct fd_closer {
    int fd;
    ~fd_closer() {
        if (fd >= 0) ::close(fd);
    }
};

// What a path names, without following it into a read: the directory test comes first so that
// a directory is answered with a redirect instead of being read as a file.
bool is_directory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

bool read_regular_file(const std::string& path, std::uint32_t limit, std::string& content,
                       bool& truncated, std::int64_t& mtime) {
    content.clear();
    truncated = false;
    mtime = 0;
    // A decoded URL may hold a NUL byte; the system would read only the part before it.
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    // O_NONBLOCK: opening a FIFO without a writer must not wait; it is refused below.
    fd_closer file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)};
    if (file.fd < 0) return false;
    struct stat st;
    if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    mtime = st.st_mtime;
    // Files of /proc and the like report size 0 yet have content: read until the end or the
    // limit rather than trusting the size.
    std::size_t want = std::min<std::uint64_t>(limit, st.st_size > 0 ? st.st_size : 65536);
    content.reserve(want);
    char buffer[65536];
    while (content.size() < limit) {
        std::size_t chunk = std::min<std::size_t>(sizeof buffer, limit - content.size());
        ssize_t n = ::read(file.fd, buffer, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            content.clear();
            return false;
        }
        if (n == 0) break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    if (content.size() >= limit) {
        char probe;
        ssize_t n;
        do
            n = ::read(file.fd, &probe, 1);
        while (n < 0 && errno == EINTR);
        truncated = n > 0;
    }
    return true;
}

void fs_fetcher::fetch(const fetch_request& request, fetch_result& result) {
    const std::string& url = request.url;
    result.reset();
    URI uri(url, "http", true);
    if (!uri.host().empty()) {
        result.status = FETCH_NOT_FOUND;
        result.error = "Host is not allowed in file:// urls";
        return;
    }
    // file:///srv/x names /srv/x: the leading slash stays.
    const std::string path = url_decode(uri.path());

    if (path.empty() || path.back() != '/') {
        TN_LOG(LF_WORKERFETCHERS, LL_BORING, "Opening FILE " << path);
        if (path.find('\0') == std::string::npos && is_directory(path)) {
            result.status = FETCH_REDIRECT;
            // The slash belongs to the path, before any fragment.
            std::string::size_type hash = url.rfind('#');
            result.redirect = url;
            result.redirect.insert(hash == std::string::npos ? url.size() : hash, "/");
            return;
        }
        bool truncated = false;
        std::int64_t mtime = 0;
        if (!read_regular_file(path, size_limit(), result.content, truncated, mtime)) {
            result.status = FETCH_NOT_FOUND;
            return;
        }
        result.status = truncated ? FETCH_PARTIAL : FETCH_OK;
        result.servertime = static_cast<std::int32_t>(mtime);
        if (request.want_sidemeta) {
            bool meta_truncated = false;
            std::int64_t meta_mtime = 0;
            if (!read_regular_file(path + ".tnm", size_limit(), result.sidemeta, meta_truncated,
                                   meta_mtime) ||
                meta_truncated)
                result.sidemeta.clear(); // a cut XML text would not read anyway
        }
        return;
    }

    TN_LOG(LF_WORKERFETCHERS, LL_BORING, "Opening DIR " << path);
    if (path.find('\0') != std::string::npos) {
        result.status = FETCH_NOT_FOUND;
        return;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
    if (!dir) {
        result.status = FETCH_NOT_FOUND;
        return;
    }
    struct entry {
        std::string name;
        bool directory;
    };
    std::vector<entry> entries;
    const int dir_fd = ::dirfd(dir.get());
    while (const dirent* e = ::readdir(dir.get())) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        bool directory = ::fstatat(dir_fd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        entries.push_back({std::move(name), directory});
    }
    // The system lists in no useful order; byte order keeps listings stable between runs.
    std::sort(entries.begin(), entries.end(),
              [](const entry& a, const entry& b) { return a.name < b.name; });

    const std::int32_t score = listing_entry_score(request.base_score);
    const std::string prefix = "file://" + uri.host() + uri.path() + "/";
    for (const entry& e : entries) {
        std::string escaped = url_escape(e.name);
        if (request.want_sidemeta && escaped.size() >= 4) {
            std::string tail = escaped.substr(escaped.size() - 4);
            std::transform(tail.begin(), tail.end(), tail.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (tail == ".tnm") continue;
        }
        result.outlinks.emplace_back(prefix + escaped + (e.directory ? "/" : ""), score);
    }
    result.status = FETCH_LISTING;
}

} // namespace lumbrake
