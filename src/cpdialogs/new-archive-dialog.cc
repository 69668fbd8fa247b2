#include "cpdialogs/new-archive-dialog.h"

#include "cpdialogs/ok-cancel-row.h"

#include <wx/intl.h>
#include <wx/radiobox.h>
#include <wx/sizer.h>

namespace lumbrake {

WXHistoricizeDialog::WXHistoricizeDialog(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, _("New archive")) {
    auto* top = new wxBoxSizer(wxVERTICAL);
    const wxString choices[] = {_("Keep only last document version"),
                                _("Keep all document versions")};
    kind_ = new wxRadioBox(this, wxID_ANY, _("Archive type"), wxDefaultPosition, wxDefaultSize,
                           2, choices, 1, wxRA_SPECIFY_COLS);
    top->Add(kind_, 0, wxALL | wxEXPAND, 4);
    add_ok_cancel_row(this, top);
    SetSizerAndFit(top);
    Centre(wxBOTH);
}

bool WXHistoricizeDialog::TransferDataToWindow() {
    kind_->SetSelection(historicize ? 1 : 0);
    return true;
}

bool WXHistoricizeDialog::TransferDataFromWindow() {
    historicize = kind_->GetSelection() == 1;
    return true;
}

} // namespace lumbrake
