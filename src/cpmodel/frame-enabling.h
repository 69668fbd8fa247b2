// The main window's enabling rules: from the frame's state and the state of its controls at
// the moment of an update-interface request, whether a command or control is enabled.
#pragma once

namespace lumbrake {

struct frame_enable_state {
    bool can_historicize = false, is_admin = false, can_browsing_write = false,
         can_crawling_write = false;
    // The records on show: id (0 none) and read-only flag.
    int source_id = 0, archive_id = 0, collection_id = 0, watch_id = 0;
    bool source_read_only = false, archive_read_only = false, collection_read_only = false,
         watch_read_only = false;
    // The archive selected in the archives tree: -1 none, else whether it is crawling.
    int selected_archive_crawling = -1;
    // Authentication type of the shown archive's own source: -1 when that source is unknown.
    int archive_source_auth = -1;
    bool modified = false;
    // Selected-item counts of the page lists.
    int seeds_selected = 0, filters_selected = 0, cookie_params_selected = 0, preurls_selected = 0;
    int acl_selected[4] = {0, 0, 0, 0}; // source, archive, collection, watch pages
    int pipeline_selected = 0, pipeline_first_selected = -1, pipeline_rows = 0;
    bool scheduled = false, remove_old = false, pages_limit = false, depth_limit = false,
         watch_freshness = false;
    int auth_type_selection = -1;
    bool results_selected[3] = {false, false, false}; // archive, collection, watch results
};

// True when the rule of `id` enables it; ids without a rule are always enabled.
bool command_enabled(int id, const frame_enable_state& s);

// Every id that has an enabling rule (the frame binds one update-interface handler to them).
const int* enabled_rule_ids(int& count);

} // namespace lumbrake
