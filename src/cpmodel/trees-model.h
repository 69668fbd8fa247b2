// The four trees of the main window without the toolkit: which objects stand at the top
// level after the filter, which related objects hang under each, which show red, and which
// object each tree selects after a refresh.
#pragma once

#include "api/info-records.h"

#include <string>
#include <vector>

namespace lumbrake {

enum class cp_kind { none = 0, source, archive, collection, watch };

// One node as the trees show it: the object's name and id, its kind, the index of its
// record in the frame's list of that kind, whether it shows red (an archive with errors).
struct tree_row {
    std::string name;
    cp_kind kind = cp_kind::none;
    int id = 0;
    std::size_t index = 0;
    bool red = false;
    std::vector<tree_row> children;
};

// Lower-cased, the filter split at blanks, tabs, CR and LF; true when every word occurs in
// the text. An empty filter matches everything.
bool matches_filter(const std::string& text, const std::string& filter);

// Gives every record with an empty Name the name `no_name` (in the lists themselves, so that
// the pages show and send it).
void name_unnamed(std::vector<SourceInfo>& sources, std::vector<ArchiveInfo>& archives,
                  std::vector<CollectionInfo>& collections, std::vector<WatchInfo>& watches,
                  const std::string& no_name);

// Top-level rows of each tree, in list order, with their children in list order.
std::vector<tree_row> source_tree_rows(const std::vector<SourceInfo>& sources,
                                       const std::vector<ArchiveInfo>& archives,
                                       const std::string& filter);
std::vector<tree_row> archive_tree_rows(const std::vector<ArchiveInfo>& archives,
                                        const std::vector<SourceInfo>& sources,
                                        const std::string& filter);
std::vector<tree_row> collection_tree_rows(const std::vector<CollectionInfo>& collections,
                                           const std::vector<WatchInfo>& watches,
                                           const std::string& filter);
std::vector<tree_row> watch_tree_rows(const std::vector<WatchInfo>& watches,
                                      const std::vector<CollectionInfo>& collections,
                                      const std::string& filter);

// Objects to select at the next refresh (0: none; a collection also -1, "<All archives>").
struct pending_selection {
    int source = 0, archive = 0, collection = 0, watch = 0;
};

// `noted`: the ids the four trees keep selected (sources, archives, collections, watches).
// At most one pending id replaces its tree's noted id and is reset; the others wait.
void consume_pending(pending_selection& pending, int noted[4]);

} // namespace lumbrake
