// The user dialog's group list: the offered groups sorted, the caller's memberships picked out
// of it, and the selection read back in list order.
#pragma once

#include <string>
#include <vector>

namespace lumbrake {

// Case-insensitive (ASCII) order, ties broken by bytes; exact duplicates shown once.
std::vector<std::string> sorted_group_list(std::vector<std::string> offered);

// Per list entry: whether it is one of `groups` (exact match). Groups not in the list are
// ignored.
std::vector<bool> group_selection(const std::vector<std::string>& list,
                                  const std::vector<std::string>& groups);

// The selected entries in list order, whatever order they were clicked in.
std::vector<std::string> selected_groups(const std::vector<std::string>& list,
                                         const std::vector<bool>& selection);

} // namespace lumbrake
