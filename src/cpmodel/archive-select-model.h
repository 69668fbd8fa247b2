// The archive selection dialog's tree and choice: every archive (by label), the sources it is
// built on under it, and the chosen ids read back in tree order. Chosen ids that match no
// archive given (one the caller could not list, say) are kept, after the shown ones.
#pragma once

#include "api/archive-info.h"
#include "api/source-info.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lumbrake {

struct archive_tree_source {
    std::string label;
    SourceInfo source;
};

struct archive_tree_item {
    std::string label;
    ArchiveInfo archive;
    std::vector<archive_tree_source> sources;
};

// Archives sorted by label (an empty name shows `no_name`), each with every source whose id is
// its Configuration.Source, sorted by label too.
std::vector<archive_tree_item> archive_tree(const std::vector<SourceInfo>& sources,
                                            const std::vector<ArchiveInfo>& archives,
                                            const std::string& no_name);

// Per tree item: chosen (shown bold) when its archive id is among `chosen`.
std::vector<bool> archive_chosen_flags(const std::vector<archive_tree_item>& tree,
                                       const std::vector<std::int32_t>& chosen);

// The ids of the chosen items in tree order, then the ids of `preset` that no item carries.
std::vector<std::int32_t> chosen_archive_ids(const std::vector<archive_tree_item>& tree,
                                             const std::vector<bool>& flags,
                                             const std::vector<std::int32_t>& preset);

} // namespace lumbrake
