#include "cpdialogs/date-range-dialog.h"

#include "cpdialogs/ok-cancel-row.h"

#include <wx/button.h>
#include <wx/calctrl.h>
#include <wx/intl.h>
#include <wx/sizer.h>
#include <wx/statbox.h>

#include <ctime>

namespace lumbrake {

wxBEGIN_EVENT_TABLE(WXDateDialog, wxDialog)
    EVT_CALENDAR_SEL_CHANGED(WXDateDialog::ID_FROM_CALENDAR, WXDateDialog::OnFromChanged)
    EVT_CALENDAR_SEL_CHANGED(WXDateDialog::ID_TO_CALENDAR, WXDateDialog::OnToChanged)
    EVT_BUTTON(WXDateDialog::ID_FROM_TODAY, WXDateDialog::OnFromToday)
    EVT_BUTTON(WXDateDialog::ID_TO_TODAY, WXDateDialog::OnToToday)
wxEND_EVENT_TABLE()

namespace {

// The calendar works on the date parts of a local wxDateTime; they stand for a UTC day here.
wxDateTime to_wx(const civil_date& d) {
    return wxDateTime(static_cast<wxDateTime::wxDateTime_t>(d.day),
                      static_cast<wxDateTime::Month>(d.month - 1), d.year);
}

civil_date from_wx(const wxDateTime& t) {
    return {t.GetYear(), static_cast<int>(t.GetMonth()) + 1, static_cast<int>(t.GetDay())};
}

civil_date utc_today() { return utc_date_of(static_cast<std::int64_t>(std::time(nullptr))); }

wxCalendarCtrl* make_calendar(wxWindow* parent, int id) {
    auto* c = new wxCalendarCtrl(parent, id, wxDefaultDateTime, wxDefaultPosition, wxDefaultSize,
                                 wxCAL_SUNDAY_FIRST | wxCAL_SEQUENTIAL_MONTH_SELECTION);
    // Days outside these bounds have no 32-bit seconds.
    c->SetDateRange(to_wx(earliest_range_date()), to_wx(latest_range_date()));
    return c;
}

} // namespace

WXDateDialog::WXDateDialog(wxWindow* parent) : wxDialog(parent, wxID_ANY, _("Date")) {
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    auto add_box = [&](const wxString& title, int calendar_id, int today_id) {
        auto* box = new wxStaticBoxSizer(wxVERTICAL, this, title);
        wxCalendarCtrl* c = make_calendar(box->GetStaticBox(), calendar_id);
        box->Add(c, 1, wxALL | wxEXPAND, 4);
        box->Add(new wxButton(box->GetStaticBox(), today_id, _("Today")), 0,
                 wxALL | wxALIGN_RIGHT, 4);
        row->Add(box, 1, wxALL | wxEXPAND, 4);
        return c;
    };
    fromCalendar = add_box(_("From"), ID_FROM_CALENDAR, ID_FROM_TODAY);
    toCalendar = add_box(_("To"), ID_TO_CALENDAR, ID_TO_TODAY);
    top->Add(row, 1, wxEXPAND);
    add_ok_cancel_row(this, top);
    SetSizerAndFit(top);
    Centre(wxBOTH);
}

date_range_days WXDateDialog::Shown() const {
    return {from_wx(fromCalendar->GetDate()), from_wx(toCalendar->GetDate())};
}

void WXDateDialog::ShowRange(const date_range_days& range) {
    setting_ = true;
    fromCalendar->SetDate(to_wx(range.from));
    toCalendar->SetDate(to_wx(range.to));
    setting_ = false;
}

bool WXDateDialog::TransferDataToWindow() {
    ShowRange({utc_date_of(from), utc_date_of(to)});
    return true;
}

bool WXDateDialog::TransferDataFromWindow() {
    const date_range_days shown = Shown();
    const date_range_seconds s = date_range_to_seconds(shown.from, shown.to);
    from = s.from;
    to = s.to;
    return true;
}

void WXDateDialog::OnFromChanged(wxCalendarEvent&) {
    if (setting_) return;
    date_range_days r = Shown();
    pick_from_day(r, r.from);
    ShowRange(r);
}

void WXDateDialog::OnToChanged(wxCalendarEvent&) {
    if (setting_) return;
    date_range_days r = Shown();
    pick_to_day(r, r.to);
    ShowRange(r);
}

void WXDateDialog::OnFromToday(wxCommandEvent&) {
    date_range_days r = Shown();
    pick_from_day(r, utc_today());
    ShowRange(r);
}

void WXDateDialog::OnToToday(wxCommandEvent&) {
    date_range_days r = Shown();
    pick_to_day(r, utc_today());
    ShowRange(r);
}

} // namespace lumbrake
