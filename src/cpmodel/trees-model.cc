#include "cpmodel/trees-model.h"

#include <cctype>

namespace lumbrake {

namespace {

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

template <class Info> void name_list(std::vector<Info>& list, const std::string& no_name) {
    for (Info& i : list)
        if (i.Configuration.Name.empty()) i.Configuration.Name = no_name;
}

tree_row row_of(const SourceInfo& s, std::size_t i) {
    return {s.Configuration.Name, cp_kind::source, s.Source, i, false, {}};
}
tree_row row_of(const ArchiveInfo& a, std::size_t i) {
    return {a.Configuration.Name, cp_kind::archive, a.Archive, i, a.Errors > 0, {}};
}
tree_row row_of(const CollectionInfo& c, std::size_t i) {
    return {c.Configuration.Name, cp_kind::collection, c.Collection, i, false, {}};
}
tree_row row_of(const WatchInfo& w, std::size_t i) {
    return {w.Configuration.Name, cp_kind::watch, w.Watch, i, false, {}};
}

// Rows of `top` that pass the filter (on the text `second` gives), each with the records of
// `other` that `related` ties to it.
template <class Top, class Other, class Second, class Related>
std::vector<tree_row> rows(const std::vector<Top>& top, const std::vector<Other>& other,
                           const std::string& filter, Second second, Related related) {
    std::vector<tree_row> out;
    for (std::size_t i = 0; i < top.size(); ++i) {
        if (!matches_filter(top[i].Configuration.Name + " " + second(top[i]), filter)) continue;
        tree_row r = row_of(top[i], i);
        for (std::size_t j = 0; j < other.size(); ++j)
            if (related(top[i], other[j])) r.children.push_back(row_of(other[j], j));
        out.push_back(std::move(r));
    }
    return out;
}

} // namespace

bool matches_filter(const std::string& text, const std::string& filter) {
    const std::string t = lower(text), f = lower(filter);
    std::size_t at = 0;
    while (at < f.size()) {
        const std::size_t start = f.find_first_not_of(" \t\r\n", at);
        if (start == std::string::npos) break;
        std::size_t end = f.find_first_of(" \t\r\n", start);
        if (end == std::string::npos) end = f.size();
        if (t.find(f.substr(start, end - start)) == std::string::npos) return false;
        at = end;
    }
    return true;
}

void name_unnamed(std::vector<SourceInfo>& sources, std::vector<ArchiveInfo>& archives,
                  std::vector<CollectionInfo>& collections, std::vector<WatchInfo>& watches,
                  const std::string& no_name) {
    name_list(sources, no_name);
    name_list(archives, no_name);
    name_list(collections, no_name);
    name_list(watches, no_name);
}

std::vector<tree_row> source_tree_rows(const std::vector<SourceInfo>& sources,
                                       const std::vector<ArchiveInfo>& archives,
                                       const std::string& filter) {
    return rows(
        sources, archives, filter, [](const SourceInfo& s) { return s.Configuration.Description; },
        [](const SourceInfo& s, const ArchiveInfo& a) {
            return a.Configuration.Source == s.Source;
        });
}

std::vector<tree_row> archive_tree_rows(const std::vector<ArchiveInfo>& archives,
                                        const std::vector<SourceInfo>& sources,
                                        const std::string& filter) {
    return rows(
        archives, sources, filter,
        [](const ArchiveInfo& a) { return a.Configuration.AdministrativeContact; },
        [](const ArchiveInfo& a, const SourceInfo& s) {
            return a.Configuration.Source == s.Source;
        });
}

std::vector<tree_row> collection_tree_rows(const std::vector<CollectionInfo>& collections,
                                           const std::vector<WatchInfo>& watches,
                                           const std::string& filter) {
    return rows(
        collections, watches, filter,
        [](const CollectionInfo& c) { return c.Configuration.Description; },
        [](const CollectionInfo& c, const WatchInfo& w) {
            return w.Configuration.Collection == c.Collection;
        });
}

std::vector<tree_row> watch_tree_rows(const std::vector<WatchInfo>& watches,
                                      const std::vector<CollectionInfo>& collections,
                                      const std::string& filter) {
    return rows(
        watches, collections, filter,
        [](const WatchInfo& w) { return w.Configuration.Description; },
        [](const WatchInfo& w, const CollectionInfo& c) {
            return w.Configuration.Collection == c.Collection;
        });
}

void consume_pending(pending_selection& pending, int noted[4]) {
    if (pending.source > 0) {
        noted[0] = pending.source;
        pending.source = 0;
    } else if (pending.archive > 0) {
        noted[1] = pending.archive;
        pending.archive = 0;
    } else if (pending.collection > 0 || pending.collection == -1) {
        noted[2] = pending.collection;
        pending.collection = 0;
    } else if (pending.watch > 0) {
        noted[3] = pending.watch;
        pending.watch = 0;
    }
}

} // namespace lumbrake
