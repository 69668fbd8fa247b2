#include "cpmodel/archive-select-model.h"

#include "cpmodel/dlga-collate.h"

#include <algorithm>

namespace lumbrake {

std::vector<archive_tree_item> archive_tree(const std::vector<SourceInfo>& sources,
                                            const std::vector<ArchiveInfo>& archives,
                                            const std::string& no_name) {
    auto label = [&](const std::string& name) { return name.empty() ? no_name : name; };
    std::vector<archive_tree_item> tree;
    for (const auto& a : archives) {
        archive_tree_item item{label(a.Configuration.Name), a, {}};
        for (const auto& s : sources)
            if (s.Source == a.Configuration.Source)
                item.sources.push_back({label(s.Configuration.Name), s});
        std::stable_sort(item.sources.begin(), item.sources.end(),
                         [](const auto& x, const auto& y) { return label_less(x.label, y.label); });
        tree.push_back(std::move(item));
    }
    std::stable_sort(tree.begin(), tree.end(),
                     [](const auto& x, const auto& y) { return label_less(x.label, y.label); });
    return tree;
}

std::vector<bool> archive_chosen_flags(const std::vector<archive_tree_item>& tree,
                                       const std::vector<std::int32_t>& chosen) {
    std::vector<bool> flags;
    for (const auto& item : tree)
        flags.push_back(std::find(chosen.begin(), chosen.end(), item.archive.Archive) !=
                        chosen.end());
    return flags;
}

std::vector<std::int32_t> chosen_archive_ids(const std::vector<archive_tree_item>& tree,
                                             const std::vector<bool>& flags,
                                             const std::vector<std::int32_t>& preset) {
    std::vector<std::int32_t> ids;
    for (std::size_t i = 0; i < tree.size() && i < flags.size(); ++i)
        if (flags[i]) ids.push_back(tree[i].archive.Archive);
    for (std::int32_t id : preset) {
        const bool shown = std::any_of(tree.begin(), tree.end(), [id](const auto& item) {
            return item.archive.Archive == id;
        });
        if (!shown && std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
    }
    return ids;
}

} // namespace lumbrake
