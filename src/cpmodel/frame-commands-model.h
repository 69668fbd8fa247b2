// The main window's create, delete and crawl commands without the toolkit: the records the
// New commands send, what "Add to ->" does with the chosen collection, which objects are in
// use, how the frame's lists follow a daemon's answer, and where the manuals are found.
#pragma once

#include "api/auth.h"
#include "api/info-records.h"
#include "cpmodel/trees-model.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lumbrake {

// Read allowed, then write allowed, for the connection's user (its name, or "Anonymous").
std::vector<AccessSpec> owner_acl(const std::string& user);

// The records of the New commands; `new_name` is the translated "(new)" in UTF-8.
SourceConfiguration new_source_record(const std::string& user, const std::string& new_name);
AuthConfiguration new_auth_record(const std::string& user);
// Named after the part of the source's name behind its last backslash.
ArchiveConfiguration new_archive_record(const SourceInfo& source, bool historicize,
                                        std::int32_t auth, const std::string& user);
CollectionConfiguration new_collection_record(const std::string& user, const std::string& name,
                                              std::vector<std::int32_t> archives);
WatchConfiguration new_watch_record(const std::string& user, const std::string& new_name,
                                    std::int32_t collection);

// A new archive on this source needs an (empty) authentication record first.
bool needs_auth_record(const SourceInfo& source);

// What "Add to ->" does with the archive and the id of the chosen collection entry.
struct add_to_collection_plan {
    enum action_kind { nothing, create, update } action = nothing;
    // create: the archive alone; update: the collection's configuration with the archive
    // appended, to be sent with its id and magic.
    CollectionConfiguration configuration;
    std::int32_t id = 0;
    std::uint32_t magic = 0;
};
// An id below 1 is "<New Collection...>" (`name` then names the new collection, in UTF-8). A
// collection that is unknown, or already holds the archive (the button pressed twice before
// the choice was refilled), gets nothing.
add_to_collection_plan plan_add_to_collection(std::int32_t archive, std::int32_t choice_id,
                                              const std::vector<CollectionInfo>& collections,
                                              const std::string& user, const std::string& name);

// An archive is built on the source / a watch searches the collection.
bool source_in_use(std::int32_t source, const std::vector<ArchiveInfo>& archives);
bool collection_in_use(std::int32_t collection, const std::vector<WatchInfo>& watches);

// Erase the one entry with this id in place (false, list unchanged, when there is none).
bool remove_by_id(std::vector<SourceInfo>& list, std::int32_t id);
bool remove_by_id(std::vector<ArchiveInfo>& list, std::int32_t id);
bool remove_by_id(std::vector<CollectionInfo>& list, std::int32_t id);
bool remove_by_id(std::vector<WatchInfo>& list, std::int32_t id);

// Start or Stop answered `answer`: it replaces the entry with its id when that id is above 0
// and listed; false when nothing changed.
bool replace_archive(std::vector<ArchiveInfo>& archives, const ArchiveInfo& answer);

// Tree navigation: the kind a second-level item of the tree stands for (sources tree:
// archives, archives tree: sources, collections tree: watches, watches tree: collections),
// and the tree page (0-3) of a kind.
cp_kind linked_kind(int tree_page);
int tree_page_of(cp_kind kind);

// The manuals of the Help menu: their file names (menu ids 6131-6135 in order), null for
// another id; and the places a file is looked for, in order, for the program in `program_dir`:
// "manual" beside the program (the build tree), then ../share/trawlnest/manual (installed).
const char* manual_file(int id);
std::vector<std::string> manual_candidates(const std::string& program_dir, const std::string& file);

} // namespace lumbrake
