#include "cpmodel/search-model.h"

#include <cstdio>

namespace lumbrake {

namespace {

std::int32_t seconds_before(std::int64_t now, std::int64_t span) {
    const std::int64_t t = now - span;
    return t < 0 ? 0 : static_cast<std::int32_t>(t);
}

// printf of a translated format whose arguments the caller knows.
template <class... Args> std::string formatted(const std::string& format, Args... args) {
    const int n = std::snprintf(nullptr, 0, format.c_str(), args...);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), format.c_str(), args...);
    out.resize(static_cast<std::size_t>(n));
    return out;
}

} // namespace

QuerySort sort_of_choice(int position) {
    return position >= SORT_STANDARD && position <= SORT_TIME_OLDER
               ? static_cast<QuerySort>(position)
               : SORT_STANDARD;
}

std::int32_t watch_period_min_time(int position, std::int32_t freshness, std::int64_t now) {
    switch (position) {
    case 0:
        return freshness > 0 ? seconds_before(now, freshness) : 0;
    case 1:
        return seconds_before(now, 86400);
    case 2:
        return seconds_before(now, 604800);
    case 3:
        return seconds_before(now, 2592000);
    case 4:
        return 1;
    default:
        return 0;
    }
}

QuerySpec make_search_query(const search_inputs& in) {
    QuerySpec q;
    switch (in.page) {
    case search_page::archive:
        q.Archives = {in.scope};
        break;
    case search_page::collection:
        q.Collection = in.scope;
        break;
    case search_page::watch:
        q.Watch = in.scope;
        break;
    }
    q.FirstDoc = in.rows;
    q.LastDoc = in.rows + 9;
    q.Parser = ALGPARSER;
    q.QueryString = in.query;
    if (in.page == search_page::watch) {
        q.MinTime = watch_period_min_time(in.period, in.freshness, in.now);
    } else if (in.advanced) {
        q.Sort = sort_of_choice(in.sort);
        q.Weights = in.weights;
        // The dates the page shows are part of the options the user set.
        q.MinTime = in.from;
        q.MaxTime = in.to;
    }
    return q;
}

std::string search_status_line(const std::string& name, const std::string& query, long ms, int rows,
                               int total,
                               const std::function<std::string(const char*)>& translate) {
    auto tr = [&](const char* text) { return translate ? translate(text) : std::string(text); };
    const char* n = name.c_str();
    const char* q = query.c_str();
    if (rows <= 0)
        return formatted(tr("Searched %s for '%s' in %d ms, no results."), n, q, int(ms));
    if (total < 0)
        return formatted(tr("Searched %s for '%s' in %d ms, displaying first %d results."), n, q,
                         int(ms), rows);
    return formatted(tr("Searched %s for '%s' in %d ms, displaying first %d of %d results."), n, q,
                     int(ms), rows, total);
}

std::string contexts_text(const std::vector<std::string>& contexts) {
    std::string out;
    for (std::size_t i = 0; i < contexts.size(); ++i) {
        if (i > 0) out += " ... ";
        out += contexts[i];
    }
    return out;
}

std::string watch_feed_url(const std::string& private_base, std::int32_t watch) {
    return private_base + "/rss20?t=" + std::to_string(watch) + "&amp;mintime=0";
}

WatchConfiguration watch_from_search(const std::string& query, std::int32_t collection,
                                     const std::string& user) {
    WatchConfiguration w;
    w.Name = query;
    w.Query = query;
    w.Parser = ALGPARSER;
    w.Freshness = 604800;
    w.Collection = collection;
    w.ACL = {AccessSpec{user, READACCESS, false}, AccessSpec{user, WRITEACCESS, false}};
    return w;
}

} // namespace lumbrake
