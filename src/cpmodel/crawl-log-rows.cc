#include "cpmodel/crawl-log-rows.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace lumbrake {

namespace {

template <class T> int three_way(const T& a, const T& b) { return a < b ? -1 : (b < a ? 1 : 0); }

int bytewise(const std::string& a, const std::string& b) {
    // std::string compares as unsigned bytes (char_traits<char>::compare uses memcmp).
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int directed(int c, const list_sort_state& state) { return state.descending ? -c : c; }

} // namespace

void click_sort_column(list_sort_state& state, int column) {
    if (state.column == column) {
        state.descending = !state.descending;
    } else {
        state.column = column;
        state.descending = false;
    }
}

int compare_crawl_log_rows(const CrawlLogData& a, const CrawlLogData& b,
                           const list_sort_state& state) {
    int c = 0;
    switch (state.column) {
    case 0: c = three_way(a.Time, b.Time); break;
    case 1: c = bytewise(a.Url, b.Url); break;
    case 2: c = three_way(a.Error, b.Error); break;
    default: break;
    }
    return directed(c, state);
}

int compare_query_log_rows(const QueryLogData& a, const QueryLogData& b,
                           const list_sort_state& state) {
    int c = 0;
    switch (state.column) {
    case 0: c = three_way(a.Time, b.Time); break;
    case 1: c = bytewise(a.Query, b.Query); break;
    default: break;
    }
    return directed(c, state);
}

const char* crawl_error_text(std::int32_t code) {
    static const char* const texts[] = {
        "Ok",           "Redirect",      "Index",     "Not found",          "Rendering error",
        "Bad redirect", "Blocked",       "Network error", "Server error",   "Unchanged",
        "Document limit reached", "Authentication required", "Internal error",
        "Remote server error"};
    if (code < 0 || code >= static_cast<std::int32_t>(sizeof texts / sizeof texts[0])) return "";
    return texts[code];
}

std::string log_time_text(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!gmtime_r(&t, &tm)) return std::string();
    char buf[128];
    const std::size_t n = std::strftime(buf, sizeof buf, "%c", &tm);
    return std::string(buf, n);
}

std::string export_line(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i) line += '\t';
        // A TAB or line end inside a field (a query may hold one) would split the row.
        for (char c : fields[i])
            line += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
    }
    line += '\n';
    return line;
}

std::string write_export_file(const std::string& path, const std::vector<std::string>& lines) {
    std::FILE* f = std::fopen(path.c_str(), "wbe");
    if (!f) return std::strerror(errno);
    for (const std::string& line : lines) {
        if (std::fwrite(line.data(), 1, line.size(), f) != line.size() || std::fflush(f) != 0) {
            const int e = errno;
            std::fclose(f);
            return std::strerror(e);
        }
    }
    if (std::fclose(f) != 0) return std::strerror(errno);
    return std::string();
}

} // namespace lumbrake
