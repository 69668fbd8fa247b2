// The filter, weights, date range and new archive dialogs on the virtual display: members into
// the controls and back, what OK refuses, and Cancel.
#include "modal_driver.h"

#include "cpdialogs/date-range-dialog.h"
#include "cpdialogs/filter-dialog.h"
#include "cpdialogs/new-archive-dialog.h"
#include "cpdialogs/weights-dialog.h"
#include "cpmodel/date-range-days.h"

#include <wx/radiobox.h>
#include <wx/spinctrl.h>
#include <wx/textctrl.h>

#include <ctime>

namespace {

using tn_test::children_of;

TEST(filter_dialog, OkWaitsForAnExpressionThatCompiles) {
    lumbrake::WXRegExDialog d(nullptr);
    wxTextCtrl* field = children_of<wxTextCtrl>(&d).at(0);
    wxRadioBox* type = children_of<wxRadioBox>(&d).at(0);
    const int rc = tn_test::run_modal(d, [&] {
        EXPECT_EQ(field->GetValue(), "");
        EXPECT_EQ(type->GetSelection(), 0); // a new filter includes
        field->SetValue("^file:///srv/(docs");
        tn_test::click(&d, wxID_OK);
        EXPECT_TRUE(d.IsModal());
        field->SetValue("^file:///srv/(docs|papers)/ ");
        type->SetSelection(1);
        tn_test::click(&d, wxID_OK);
    });
    EXPECT_EQ(rc, wxID_OK);
    EXPECT_EQ(d.expression, "^file:///srv/(docs|papers)/ "); // as typed, nothing trimmed
    EXPECT_EQ(d.type, 1);
}

TEST(filter_dialog, EditsAnExcludeFilter) {
    lumbrake::WXRegExDialog d(nullptr);
    d.expression = "\\.(gif|jpe?g)$";
    d.type = 1;
    ASSERT_TRUE(d.TransferDataToWindow());
    wxRadioBox* type = children_of<wxRadioBox>(&d).at(0);
    EXPECT_EQ(children_of<wxTextCtrl>(&d).at(0)->GetValue(), "\\.(gif|jpe?g)$");
    EXPECT_EQ(type->GetSelection(), 1);
    tn_test::screenshot(&d, "filter-dialog");
    type->SetSelection(0);
    EXPECT_TRUE(d.Validate());
    ASSERT_TRUE(d.TransferDataFromWindow());
    EXPECT_EQ(d.type, 0);
    EXPECT_EQ(d.expression, "\\.(gif|jpe?g)$");
}

TEST(filter_dialog, CancelKeepsTheFilter) {
    lumbrake::WXRegExDialog d(nullptr);
    d.expression = "keep";
    d.type = 1;
    const int rc = tn_test::run_modal(d, [&] {
        children_of<wxTextCtrl>(&d).at(0)->SetValue("other");
        children_of<wxRadioBox>(&d).at(0)->SetSelection(0);
        tn_test::click(&d, wxID_CANCEL);
    });
    EXPECT_EQ(rc, wxID_CANCEL);
    EXPECT_EQ(d.expression, "keep");
    EXPECT_EQ(d.type, 1);
}

using W = std::vector<lumbrake::QuerySliceWeight>;

TEST(weights_dialog, ShowsTheListAndTakesBackOverridesOnly) {
    lumbrake::WXWeightsDialog d(nullptr);
    ASSERT_EQ(d.m_spins.size(), 31u);
    for (wxSpinCtrl* s : d.m_spins)
        EXPECT_EQ(s->GetValue(), -1);
    d.m_weights = {{20, 0}, {15, 30}, {0, 5}, {32, 5}, {5, -1}, {14, 7}, {14, 8}};
    ASSERT_TRUE(d.TransferDataToWindow());
    EXPECT_EQ(d.m_spins[14]->GetValue(), 30);
    EXPECT_EQ(d.m_spins[19]->GetValue(), 0);
    EXPECT_EQ(d.m_spins[13]->GetValue(), 8);
    EXPECT_EQ(d.m_spins[4]->GetValue(), -1);
    tn_test::screenshot(&d, "weights-dialog");
    d.m_spins[0]->SetValue(100);
    ASSERT_TRUE(d.TransferDataFromWindow());
    EXPECT_EQ(d.m_weights, (W{{1, 100}, {14, 8}, {15, 30}, {20, 0}}));
}

TEST(weights_dialog, DefaultsThenCancelOrOk) {
    const W panel = {{3, 40}, {31, 1}};
    {
        lumbrake::WXWeightsDialog d(nullptr);
        d.m_weights = panel;
        const int rc = tn_test::run_modal(d, [&] {
            EXPECT_EQ(d.m_spins[2]->GetValue(), 40);
            tn_test::click(&d, lumbrake::WXWeightsDialog::ID_DEFAULTS);
            EXPECT_EQ(d.m_spins[2]->GetValue(), -1);
            tn_test::click(&d, wxID_CANCEL);
        });
        EXPECT_EQ(rc, wxID_CANCEL);
        EXPECT_EQ(d.m_weights, panel);
    }
    {
        lumbrake::WXWeightsDialog d(nullptr);
        d.m_weights = panel;
        const int rc = tn_test::run_modal(d, [&] {
            tn_test::click(&d, lumbrake::WXWeightsDialog::ID_DEFAULTS);
            tn_test::click(&d, wxID_OK);
        });
        EXPECT_EQ(rc, wxID_OK);
        EXPECT_TRUE(d.m_weights.empty());
    }
}

wxDateTime day(int y, int m, int d) {
    return wxDateTime(static_cast<wxDateTime::wxDateTime_t>(d), static_cast<wxDateTime::Month>(m - 1),
                      y);
}

// The user picking a day on one of the calendars.
void pick(wxCalendarCtrl* calendar, const wxDateTime& date) {
    calendar->SetDate(date);
    wxCalendarEvent event(calendar, date, wxEVT_CALENDAR_SEL_CHANGED);
    calendar->GetEventHandler()->ProcessEvent(event);
}

bool same_day(const wxDateTime& a, const wxDateTime& b) { return a.IsSameDate(b); }

TEST(date_dialog, ShowsTheRangeAndGivesWholeDays) {
    lumbrake::WXDateDialog d(nullptr);
    d.from = 951782400 + 3600;  // 2000-02-29 01:00 UTC
    d.to = 1924991999;          // 2030-12-31 23:59:59 UTC
    ASSERT_TRUE(d.TransferDataToWindow());
    EXPECT_TRUE(same_day(d.fromCalendar->GetDate(), day(2000, 2, 29)));
    EXPECT_TRUE(same_day(d.toCalendar->GetDate(), day(2030, 12, 31)));
    tn_test::screenshot(&d, "date-dialog");
    ASSERT_TRUE(d.TransferDataFromWindow());
    EXPECT_EQ(d.from, 951782400);
    EXPECT_EQ(d.to, 1924991999);

    // The same day on both: to = from + 86399.
    pick(d.toCalendar, day(2000, 2, 29));
    ASSERT_TRUE(d.TransferDataFromWindow());
    EXPECT_EQ(d.from, 951782400);
    EXPECT_EQ(d.to, 951782400 + 86399);
}

TEST(date_dialog, PicksAndTodayNeverRunTheRangeBackwards) {
    lumbrake::WXDateDialog d(nullptr);
    d.from = 0;
    d.to = 86400 * 10;
    ASSERT_TRUE(d.TransferDataToWindow());
    pick(d.fromCalendar, day(1970, 2, 1));
    EXPECT_TRUE(same_day(d.toCalendar->GetDate(), day(1970, 2, 1)));
    pick(d.toCalendar, day(1970, 1, 5));
    EXPECT_TRUE(same_day(d.fromCalendar->GetDate(), day(1970, 1, 5)));
    pick(d.toCalendar, day(1970, 1, 20));
    EXPECT_TRUE(same_day(d.fromCalendar->GetDate(), day(1970, 1, 5)));

    // "Today" on From with a To day in the past takes To along.
    const lumbrake::civil_date today = lumbrake::utc_date_of(std::time(nullptr));
    tn_test::click(&d, lumbrake::WXDateDialog::ID_FROM_TODAY);
    EXPECT_TRUE(same_day(d.fromCalendar->GetDate(), day(today.year, today.month, today.day)));
    EXPECT_TRUE(same_day(d.toCalendar->GetDate(), day(today.year, today.month, today.day)));
    ASSERT_TRUE(d.TransferDataFromWindow());
    EXPECT_LE(d.from, d.to);
    EXPECT_LE(d.from, std::time(nullptr));
    EXPECT_GE(d.to, std::time(nullptr));

    // "Today" on To changes only To while From lies before it.
    pick(d.fromCalendar, day(2001, 1, 1));
    tn_test::click(&d, lumbrake::WXDateDialog::ID_TO_TODAY);
    EXPECT_TRUE(same_day(d.fromCalendar->GetDate(), day(2001, 1, 1)));
    EXPECT_TRUE(same_day(d.toCalendar->GetDate(), day(today.year, today.month, today.day)));
}

TEST(date_dialog, CancelKeepsTheRange) {
    lumbrake::WXDateDialog d(nullptr);
    d.from = 1000;
    d.to = 2000;
    const int rc = tn_test::run_modal(d, [&] {
        pick(d.fromCalendar, day(2010, 5, 5));
        pick(d.toCalendar, day(2011, 5, 5));
        tn_test::click(&d, wxID_CANCEL);
    });
    EXPECT_EQ(rc, wxID_CANCEL);
    EXPECT_EQ(d.from, 1000);
    EXPECT_EQ(d.to, 2000);
}

TEST(new_archive_dialog, KeepsOnlyTheLastVersionUnlessChosen) {
    {
        lumbrake::WXHistoricizeDialog d(nullptr);
        const int rc = tn_test::run_modal(d, [&] { tn_test::click(&d, wxID_OK); });
        EXPECT_EQ(rc, wxID_OK);
        EXPECT_FALSE(d.historicize);
    }
    {
        lumbrake::WXHistoricizeDialog d(nullptr);
        d.historicize = true;
        ASSERT_TRUE(d.TransferDataToWindow());
        EXPECT_EQ(children_of<wxRadioBox>(&d).at(0)->GetSelection(), 1);
        tn_test::screenshot(&d, "new-archive-dialog");
        children_of<wxRadioBox>(&d).at(0)->SetSelection(0);
        ASSERT_TRUE(d.TransferDataFromWindow());
        EXPECT_FALSE(d.historicize);
    }
    {
        lumbrake::WXHistoricizeDialog d(nullptr);
        const int rc = tn_test::run_modal(d, [&] {
            children_of<wxRadioBox>(&d).at(0)->SetSelection(1);
            tn_test::click(&d, wxID_CANCEL);
        });
        EXPECT_EQ(rc, wxID_CANCEL);
        EXPECT_FALSE(d.historicize);
    }
}

} // namespace
