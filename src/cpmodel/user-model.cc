#include "cpmodel/user-model.h"

#include "cpmodel/dlga-collate.h"

#include <algorithm>

namespace lumbrake {

std::vector<std::string> sorted_group_list(std::vector<std::string> offered) {
    std::sort(offered.begin(), offered.end(), label_less);
    offered.erase(std::unique(offered.begin(), offered.end()), offered.end());
    return offered;
}

std::vector<bool> group_selection(const std::vector<std::string>& list,
                                  const std::vector<std::string>& groups) {
    std::vector<bool> sel(list.size(), false);
    for (std::size_t i = 0; i < list.size(); ++i)
        sel[i] = std::find(groups.begin(), groups.end(), list[i]) != groups.end();
    return sel;
}

std::vector<std::string> selected_groups(const std::vector<std::string>& list,
                                         const std::vector<bool>& selection) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < list.size() && i < selection.size(); ++i)
        if (selection[i]) out.push_back(list[i]);
    return out;
}

} // namespace lumbrake
