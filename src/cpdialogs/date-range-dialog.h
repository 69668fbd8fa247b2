// "Date": a range of whole days, From and To, picked on two calendars; read back as the start
// of the From day and the last second of the To day (UTC days, as the control panel shows
// times).
#pragma once

#include "cpmodel/date-range-days.h"

#include <wx/calctrl.h>
#include <wx/dialog.h>

#include <cstdint>

namespace lumbrake {

class WXDateDialog : public wxDialog {
public:
    explicit WXDateDialog(wxWindow* parent);

    bool TransferDataToWindow() override;
    bool TransferDataFromWindow() override;

    enum {
        ID_FROM_CALENDAR = 6299,
        ID_FROM_TODAY = 6300,
        ID_TO_CALENDAR = 6301,
        ID_TO_TODAY = 6302,
    };

    // Seconds since 1970 (UTC); set by the caller before the modal run, read after wxID_OK.
    std::int32_t from = 0;
    std::int32_t to = 0;

    wxCalendarCtrl* fromCalendar;
    wxCalendarCtrl* toCalendar;

private:
    date_range_days Shown() const;
    void ShowRange(const date_range_days& range);

    void OnFromChanged(wxCalendarEvent& event);
    void OnToChanged(wxCalendarEvent& event);
    void OnFromToday(wxCommandEvent& event);
    void OnToToday(wxCommandEvent& event);

    bool setting_ = false; // a date set from code is not the user's pick

    wxDECLARE_EVENT_TABLE();
};

} // namespace lumbrake
