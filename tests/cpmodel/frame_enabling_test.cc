// The main window's enabling table.
#include "cpmodel/frame-enabling.h"
#include "cpmodel/frame-ids.h"

#include <gtest/gtest.h>

using namespace lumbrake;

TEST(frame_enabling, NothingSelectedAndNoCapabilities) {
    frame_enable_state s;
    for (int id : {ID_NEW_SOURCE, ID_DELETE_SOURCE, ID_NEW_ARCHIVE, ID_DELETE_ARCHIVE,
                   ID_NEW_COLLECTION, ID_SAVE_AS_WATCH, ID_DELETE_COLLECTION, ID_NEW_WATCH,
                   ID_DELETE_WATCH, ID_USERS_AND_SECURITY, ID_PLUGINS, ID_EDIT_AUTHENTICATION,
                   ID_START_GATHERING, ID_STOP_GATHERING, ID_APPLY, ID_REVERT})
        EXPECT_FALSE(command_enabled(id, s)) << id;
    s.can_crawling_write = s.can_browsing_write = true;
    EXPECT_TRUE(command_enabled(ID_NEW_SOURCE, s));
    EXPECT_FALSE(command_enabled(ID_NEW_ARCHIVE, s));
    EXPECT_FALSE(command_enabled(ID_NEW_WATCH, s));
}

TEST(frame_enabling, Table) {
    struct row {
        const char* what;
        void (*set)(frame_enable_state&);
        int id;
        bool enabled;
    } rows[] = {
        {"builtin collection allows new watch",
         [](frame_enable_state& s) { s.can_browsing_write = true, s.collection_id = -1; },
         ID_NEW_WATCH, true},
        {"builtin collection cannot be deleted",
         [](frame_enable_state& s) { s.collection_id = -1, s.collection_read_only = true; },
         ID_DELETE_COLLECTION, false},
        {"read-only archive: no start",
         [](frame_enable_state& s) {
             s.archive_id = 3, s.archive_read_only = true, s.selected_archive_crawling = 0;
         },
         ID_START_GATHERING, false},
        {"idle archive: start",
         [](frame_enable_state& s) { s.archive_id = 3, s.selected_archive_crawling = 0; },
         ID_START_GATHERING, true},
        {"idle archive: no stop",
         [](frame_enable_state& s) { s.archive_id = 3, s.selected_archive_crawling = 0; },
         ID_STOP_GATHERING, false},
        {"crawling archive: stop",
         [](frame_enable_state& s) { s.archive_id = 3, s.selected_archive_crawling = 1; },
         ID_STOP_GATHERING, true},
        {"no tree record: both", [](frame_enable_state& s) { s.archive_id = 3; }, ID_STOP_GATHERING,
         true},
        {"source with basic auth",
         [](frame_enable_state& s) { s.archive_id = 3, s.archive_source_auth = 1; },
         ID_EDIT_AUTHENTICATION, true},
        {"source without auth",
         [](frame_enable_state& s) { s.archive_id = 3, s.archive_source_auth = 0; },
         ID_EDIT_AUTHENTICATION, false},
        {"modified", [](frame_enable_state& s) { s.modified = true; }, ID_REVERT, true},
        {"first plug-in row: no up",
         [](frame_enable_state& s) {
             s.pipeline_selected = 1, s.pipeline_first_selected = 0, s.pipeline_rows = 3;
         },
         ID_PLUGIN_UP, false},
        {"last plug-in row: no down",
         [](frame_enable_state& s) {
             s.pipeline_selected = 1, s.pipeline_first_selected = 2, s.pipeline_rows = 3;
         },
         ID_PLUGIN_DOWN, false},
        {"middle row: down",
         [](frame_enable_state& s) {
             s.pipeline_selected = 1, s.pipeline_first_selected = 1, s.pipeline_rows = 3;
         },
         ID_PLUGIN_DOWN, true},
        {"cookie panels follow auth type", [](frame_enable_state& s) { s.auth_type_selection = 2; },
         ID_COOKIE_PREURLS_PANEL, true},
        {"basic auth: no cookie panel", [](frame_enable_state& s) { s.auth_type_selection = 1; },
         ID_COOKIE_AUTH_PANEL, false},
        {"read-only watch freshness",
         [](frame_enable_state& s) { s.watch_read_only = true, s.watch_freshness = true; },
         ID_WATCH_FRESHNESS_UNIT, false},
        {"acl of collection page", [](frame_enable_state& s) { s.acl_selected[2] = 1; },
         ID_COLLECTION_ACL_REMOVE, true},
        {"acl of other page", [](frame_enable_state& s) { s.acl_selected[2] = 1; },
         ID_WATCH_ACL_REMOVE, false},
        {"admin", [](frame_enable_state& s) { s.is_admin = true; }, ID_PLUGINS, true},
        {"results row", [](frame_enable_state& s) { s.results_selected[2] = true; },
         ID_WATCH_OPEN_LIVE, true},
    };
    for (const auto& r : rows) {
        frame_enable_state s;
        r.set(s);
        EXPECT_EQ(command_enabled(r.id, s), r.enabled) << r.what;
    }
}
