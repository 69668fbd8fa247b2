#include "cpmodel/frame-enabling.h"

#include "cpmodel/frame-ids.h"

namespace lumbrake {

namespace {

bool writable(int id, bool read_only) {
    return id > 0 && !read_only;
}

const int kRuleIds[] = {
    ID_NEW_SOURCE,
    ID_DELETE_SOURCE,
    ID_NEW_ARCHIVE,
    ID_DELETE_ARCHIVE,
    ID_NEW_COLLECTION,
    ID_SAVE_AS_WATCH,
    ID_DELETE_COLLECTION,
    ID_NEW_WATCH,
    ID_DELETE_WATCH,
    ID_USERS_AND_SECURITY,
    ID_PLUGINS,
    ID_EDIT_AUTHENTICATION,
    ID_START_GATHERING,
    ID_STOP_GATHERING,
    ID_APPLY,
    ID_REVERT,
    ID_SEED_EDIT,
    ID_SEED_REMOVE,
    ID_SEED_BROWSE,
    ID_FILTER_EDIT,
    ID_FILTER_REMOVE,
    ID_COOKIE_PARAM_EDIT,
    ID_COOKIE_PARAM_REMOVE,
    ID_PREURL_EDIT,
    ID_PREURL_REMOVE,
    ID_SOURCE_ACL_EDIT,
    ID_SOURCE_ACL_REMOVE,
    ID_ARCHIVE_ACL_EDIT,
    ID_ARCHIVE_ACL_REMOVE,
    ID_COLLECTION_ACL_EDIT,
    ID_COLLECTION_ACL_REMOVE,
    ID_WATCH_ACL_EDIT,
    ID_WATCH_ACL_REMOVE,
    ID_PLUGIN_ENABLED,
    ID_PLUGIN_UP,
    ID_PLUGIN_DOWN,
    ID_SCHEDULE_PANEL,
    ID_AGE_LIMIT_PANEL,
    ID_PAGES_LIMIT,
    ID_DEPTH_LIMIT,
    ID_WATCH_FRESHNESS,
    ID_WATCH_FRESHNESS_UNIT,
    ID_COOKIE_AUTH_PANEL,
    ID_COOKIE_PARAMS_PANEL,
    ID_COOKIE_PREURLS_PANEL,
    ID_ARCHIVE_OPEN_CACHED,
    ID_ARCHIVE_OPEN_LIVE,
    ID_COLLECTION_OPEN_CACHED,
    ID_COLLECTION_OPEN_LIVE,
    ID_WATCH_OPEN_CACHED,
    ID_WATCH_OPEN_LIVE,
};

} // namespace

const int* enabled_rule_ids(int& count) {
    count = static_cast<int>(sizeof kRuleIds / sizeof kRuleIds[0]);
    return kRuleIds;
}

bool command_enabled(int id, const frame_enable_state& s) {
    const bool archive_writable = writable(s.archive_id, s.archive_read_only);
    switch (id) {
    case ID_NEW_SOURCE:
        return s.can_crawling_write;
    case ID_DELETE_SOURCE:
        return writable(s.source_id, s.source_read_only);
    case ID_NEW_ARCHIVE:
        return s.can_crawling_write && s.source_id > 0;
    case ID_DELETE_ARCHIVE:
        return archive_writable;
    case ID_NEW_COLLECTION:
    case ID_SAVE_AS_WATCH:
        return s.can_browsing_write;
    case ID_DELETE_COLLECTION:
        return writable(s.collection_id, s.collection_read_only);
    case ID_NEW_WATCH:
        return s.can_browsing_write && (s.collection_id >= 1 || s.collection_id == -1);
    case ID_DELETE_WATCH:
        return writable(s.watch_id, s.watch_read_only);
    case ID_USERS_AND_SECURITY:
    case ID_PLUGINS:
        return s.is_admin;
    // Credentials only make sense for a source that logs in: the archive's own source decides.
    case ID_EDIT_AUTHENTICATION:
        return archive_writable && s.archive_source_auth > 0;
    case ID_START_GATHERING:
        return archive_writable && s.selected_archive_crawling != 1;
    case ID_STOP_GATHERING:
        return archive_writable && s.selected_archive_crawling != 0;
    case ID_APPLY:
    case ID_REVERT:
        return s.modified;
    case ID_SEED_EDIT:
    case ID_SEED_REMOVE:
    case ID_SEED_BROWSE:
        return s.seeds_selected > 0;
    case ID_FILTER_EDIT:
    case ID_FILTER_REMOVE:
        return s.filters_selected > 0;
    case ID_COOKIE_PARAM_EDIT:
    case ID_COOKIE_PARAM_REMOVE:
        return s.cookie_params_selected > 0;
    case ID_PREURL_EDIT:
    case ID_PREURL_REMOVE:
        return s.preurls_selected > 0;
    case ID_SOURCE_ACL_EDIT:
    case ID_SOURCE_ACL_REMOVE:
        return s.acl_selected[0] > 0;
    case ID_ARCHIVE_ACL_EDIT:
    case ID_ARCHIVE_ACL_REMOVE:
        return s.acl_selected[1] > 0;
    case ID_COLLECTION_ACL_EDIT:
    case ID_COLLECTION_ACL_REMOVE:
        return s.acl_selected[2] > 0;
    case ID_WATCH_ACL_EDIT:
    case ID_WATCH_ACL_REMOVE:
        return s.acl_selected[3] > 0;
    case ID_PLUGIN_ENABLED:
        return s.pipeline_selected > 0;
    case ID_PLUGIN_UP:
        return s.pipeline_selected > 0 && s.pipeline_first_selected > 0;
    case ID_PLUGIN_DOWN:
        return s.pipeline_selected > 0 && s.pipeline_first_selected < s.pipeline_rows - 1;
    case ID_SCHEDULE_PANEL:
        return s.scheduled;
    case ID_AGE_LIMIT_PANEL:
        return s.remove_old;
    case ID_PAGES_LIMIT:
        return s.pages_limit;
    case ID_DEPTH_LIMIT:
        return s.depth_limit;
    case ID_WATCH_FRESHNESS:
    case ID_WATCH_FRESHNESS_UNIT:
        return !s.watch_read_only && s.watch_freshness;
    case ID_COOKIE_AUTH_PANEL:
    case ID_COOKIE_PARAMS_PANEL:
    case ID_COOKIE_PREURLS_PANEL:
        return s.auth_type_selection == 2;
    case ID_ARCHIVE_OPEN_CACHED:
    case ID_ARCHIVE_OPEN_LIVE:
        return s.results_selected[0];
    case ID_COLLECTION_OPEN_CACHED:
    case ID_COLLECTION_OPEN_LIVE:
        return s.results_selected[1];
    case ID_WATCH_OPEN_CACHED:
    case ID_WATCH_OPEN_LIVE:
        return s.results_selected[2];
    default:
        return true;
    }
}

} // namespace lumbrake
