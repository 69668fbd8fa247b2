#include "cpdialogs/ok-cancel-row.h"

#include <wx/button.h>
#include <wx/intl.h>
#include <wx/sizer.h>

namespace lumbrake {

void add_ok_cancel_row(wxWindow* parent, wxSizer* sizer) {
    auto* grid = new wxGridSizer(2, 0, 0);
    auto* ok = new wxButton(parent, wxID_OK, _("OK"));
    ok->SetDefault();
    grid->Add(ok, 0, wxALL | wxEXPAND, 4);
    grid->Add(new wxButton(parent, wxID_CANCEL, _("Cancel")), 0, wxALL | wxEXPAND, 4);
    sizer->Add(grid, 0, wxALIGN_RIGHT);
}

} // namespace lumbrake
