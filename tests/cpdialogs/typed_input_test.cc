// Real input through the virtual display's keyboard and mouse (wxUIActionSimulator): a URL
// typed into the URL dialog and confirmed with Enter, a filter confirmed by a click on OK.
#include "modal_driver.h"

#include "cpdialogs/filter-dialog.h"
#include "cpdialogs/url-dialog.h"

#include <wx/textctrl.h>
#include <wx/uiaction.h>

namespace {

using tn_test::children_of;

void click_on(wxUIActionSimulator& sim, wxWindow* w) {
    const wxRect r = w->GetScreenRect();
    sim.MouseMove(r.x + r.width / 2, r.y + r.height / 2);
    tn_test::pump_events(50);
    sim.MouseClick();
    tn_test::pump_events(100);
}

TEST(typed_input, UrlTypedAndConfirmedWithEnter) {
    lumbrake::WXUrlDialog d(nullptr);
    wxTextCtrl* field = children_of<wxTextCtrl>(&d).at(0);
    const int rc = tn_test::run_modal(d, [&] {
        tn_test::pump_events(200);
        wxUIActionSimulator sim;
        click_on(sim, field);
        sim.Text("/srv/typed docs");
        tn_test::pump_events(100);
        EXPECT_EQ(field->GetValue(), "/srv/typed docs");
        sim.Char(WXK_RETURN);
        tn_test::pump_events(300);
    });
    EXPECT_EQ(rc, wxID_OK);
    EXPECT_EQ(d.url, "file:///srv/typed%20docs");
}

TEST(typed_input, FilterOkClickedWithTheMouse) {
    lumbrake::WXRegExDialog d(nullptr);
    wxTextCtrl* field = children_of<wxTextCtrl>(&d).at(0);
    const int rc = tn_test::run_modal(d, [&] {
        tn_test::pump_events(200);
        wxUIActionSimulator sim;
        click_on(sim, field);
        sim.Text("(a|b");
        tn_test::pump_events(100);
        click_on(sim, d.FindWindow(wxID_OK));
        EXPECT_TRUE(d.IsModal()); // unbalanced "(": OK does nothing
        click_on(sim, field);
        sim.Char(WXK_END);
        sim.Text(")");
        tn_test::pump_events(100);
        click_on(sim, d.FindWindow(wxID_OK));
    });
    EXPECT_EQ(rc, wxID_OK);
    EXPECT_EQ(d.expression, "(a|b)");
}

} // namespace
