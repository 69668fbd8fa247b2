// The main window's static event table, read without a display: every menu item, button,
// tree, list, text, check box, choice, timer, update-interface and context-menu route reaches
// its handler exactly once, nothing else is routed, and no entry is left on a placeholder
// handler except those another part of the window still has to bring.
#include "event_routes.h"

#include "controlpanel/cp-frame.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace lumbrake {

// Friend of the frame: its table and the addresses of its handlers.
struct frame_event_table_check {
    using F = WXControlPanelFrame;

    static const wxEventTableEntry* entries() { return F::sm_eventTable.entries; }

    static std::map<std::string, wxEventFunction> handlers() {
        return {
            {"OnTreeContextMenu", wxContextMenuEventHandler(F::OnTreeContextMenu)},
            {"OnTimer", wxTimerEventHandler(F::OnTimer)},
            {"OnSyncPages", wxUpdateUIEventHandler(F::OnSyncPages)},
            {"OnNewSource", wxCommandEventHandler(F::OnNewSource)},
            {"OnDeleteSource", wxCommandEventHandler(F::OnDeleteSource)},
            {"OnNewArchive", wxCommandEventHandler(F::OnNewArchive)},
            {"OnDeleteArchive", wxCommandEventHandler(F::OnDeleteArchive)},
            {"OnNewCollection", wxCommandEventHandler(F::OnNewCollection)},
            {"OnDeleteCollection", wxCommandEventHandler(F::OnDeleteCollection)},
            {"OnNewWatch", wxCommandEventHandler(F::OnNewWatch)},
            {"OnDeleteWatch", wxCommandEventHandler(F::OnDeleteWatch)},
            {"OnUsersAndSecurity", wxCommandEventHandler(F::OnUsersAndSecurity)},
            {"OnPlugins", wxCommandEventHandler(F::OnPlugins)},
            {"OnSetup", wxCommandEventHandler(F::OnSetup)},
            {"OnStatus", wxCommandEventHandler(F::OnStatus)},
            {"OnExit", wxCommandEventHandler(F::OnExit)},
            {"OnRefresh", wxCommandEventHandler(F::OnRefresh)},
            {"OnAbout", wxCommandEventHandler(F::OnAbout)},
            {"OnManual", wxCommandEventHandler(F::OnManual)},
            {"OnAddToCollection", wxCommandEventHandler(F::OnAddToCollection)},
            {"OnApply", wxCommandEventHandler(F::OnApply)},
            {"OnRevert", wxCommandEventHandler(F::OnRevert)},
            {"OnStartGathering", wxCommandEventHandler(F::OnStartGathering)},
            {"OnStopGathering", wxCommandEventHandler(F::OnStopGathering)},
            {"OnLogs", wxCommandEventHandler(F::OnLogs)},
            {"OnFilterChanged", wxCommandEventHandler(F::OnFilterChanged)},
            {"OnTreeSelChanging", wxTreeEventHandler(F::OnTreeSelChanging)},
            {"OnBeginLabelEdit", wxTreeEventHandler(F::OnBeginLabelEdit)},
            {"OnEndLabelEdit", wxTreeEventHandler(F::OnEndLabelEdit)},
            {"OnModified", wxCommandEventHandler(F::OnModified)},
            {"OnSpinModified", wxSpinEventHandler(F::OnSpinModified)},
            {"OnClose", wxCloseEventHandler(F::OnClose)},
        };
    }

    // The placeholders of handlers still to come. When they are gone from the frame, this
    // list goes too.
    static std::vector<wxEventFunction> placeholders() {
        return {wxCommandEventHandler(F::OnPendingCommand), wxTreeEventHandler(F::OnPendingTree),
                wxListEventHandler(F::OnPendingList),
                wxContextMenuEventHandler(F::OnPendingContextMenu)};
    }
};

} // namespace lumbrake

namespace {

using lumbrake::frame_event_table_check;
using tn_test::event_route;

bool covers(const wxEventTableEntry& e, wxEventType type, int id) {
    if (e.m_eventType != type) return false;
    if (e.m_id == wxID_ANY) return true;
    const int last = e.m_lastId == wxID_ANY ? e.m_id : e.m_lastId;
    return id >= e.m_id && id <= last;
}

std::string describe(wxEventType type, int id) {
    std::ostringstream out;
    out << "event type " << type << ", id " << id;
    return out.str();
}

std::string handler_name(wxEventFunction f) {
    for (const auto& [name, h] : frame_event_table_check::handlers())
        if (h == f) return name;
    for (wxEventFunction p : frame_event_table_check::placeholders())
        if (p == f) return "a placeholder";
    return "another handler";
}

bool placeholder(wxEventFunction f) {
    for (wxEventFunction p : frame_event_table_check::placeholders())
        if (p == f) return true;
    return false;
}

bool pending_allowed(wxEventType type, int id) {
    for (const event_route& r : tn_test::expected_pending_routes())
        if (r.type == type && id >= r.first && id <= r.last) return true;
    return false;
}

TEST(main_window_event_table, EveryRouteReachesItsHandlerExactlyOnce) {
    const auto handlers = frame_event_table_check::handlers();
    for (const event_route& r : tn_test::main_window_routes()) {
        for (int id = r.first; id <= r.last; ++id) {
            const wxEventTableEntry* found = nullptr;
            int count = 0;
            for (const wxEventTableEntry* e = frame_event_table_check::entries(); e->m_fn; ++e)
                if (covers(*e, r.type, id)) {
                    ++count;
                    found = e;
                }
            ASSERT_EQ(count, 1) << describe(r.type, id);
            const wxEventFunction f = found->m_fn->GetEvtMethod();
            if (!r.handler.empty()) {
                ASSERT_TRUE(handlers.count(r.handler)) << r.handler;
                EXPECT_TRUE(f == handlers.at(r.handler))
                    << describe(r.type, id) << " reaches " << handler_name(f) << ", not "
                    << r.handler;
            }
            EXPECT_TRUE(!placeholder(f) || pending_allowed(r.type, id))
                << describe(r.type, id) << " still reaches a placeholder";
        }
        if (r.first == wxID_ANY) {
            // The context menu of any window: one entry for every id.
            int count = 0;
            for (const wxEventTableEntry* e = frame_event_table_check::entries(); e->m_fn; ++e)
                if (e->m_eventType == r.type) {
                    ++count;
                    EXPECT_EQ(e->m_id, wxID_ANY);
                    EXPECT_TRUE(e->m_fn->GetEvtMethod() == handlers.at(r.handler));
                }
            EXPECT_EQ(count, 1);
        }
    }
}

TEST(main_window_event_table, NothingElseIsRouted) {
    const std::vector<event_route> routes = tn_test::main_window_routes();
    for (const wxEventTableEntry* e = frame_event_table_check::entries(); e->m_fn; ++e) {
        if (e->m_eventType == wxEVT_CLOSE_WINDOW) continue; // closing the frame
        const int last = e->m_lastId == wxID_ANY ? e->m_id : e->m_lastId;
        for (int id = e->m_id; id <= last; ++id) {
            bool expected = false;
            for (const event_route& r : routes)
                if (r.type == e->m_eventType && id >= r.first && id <= r.last) expected = true;
            EXPECT_TRUE(expected) << "unexpected entry: " << describe(e->m_eventType, id);
        }
    }
}

TEST(main_window_event_table, NoPlaceholderIsLeftBeyondTheListedOnes) {
    // Every entry on a placeholder is one of the listed routes of other parts of the window.
    for (const wxEventTableEntry* e = frame_event_table_check::entries(); e->m_fn; ++e) {
        if (!placeholder(e->m_fn->GetEvtMethod())) continue;
        const int last = e->m_lastId == wxID_ANY ? e->m_id : e->m_lastId;
        for (int id = e->m_id; id <= last; ++id)
            EXPECT_TRUE(pending_allowed(e->m_eventType, id))
                << describe(e->m_eventType, id) << " reaches a placeholder";
    }
}

} // namespace
