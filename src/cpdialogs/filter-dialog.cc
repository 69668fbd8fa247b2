#include "cpdialogs/filter-dialog.h"

#include "client/string-conv.h"
#include "cpdialogs/ok-cancel-row.h"
#include "cpmodel/filter-expression.h"

#include <wx/intl.h>
#include <wx/radiobox.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

namespace lumbrake {

WXRegExDialog::WXRegExDialog(wxWindow* parent) : wxDialog(parent, wxID_ANY, _("Filter")) {
    auto* top = new wxBoxSizer(wxVERTICAL);
    field_ = new wxTextCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxSize(300, -1));
    top->Add(field_, 0, wxALL | wxEXPAND, 4);
    const wxString choices[] = {_("Include"), _("Exclude")};
    kind_ = new wxRadioBox(this, wxID_ANY, _("Type"), wxDefaultPosition, wxDefaultSize, 2,
                           choices, 1, wxRA_SPECIFY_COLS);
    top->Add(kind_, 0, wxALL | wxEXPAND, 4);
    add_ok_cancel_row(this, top);
    SetSizerAndFit(top);
    Centre(wxBOTH);
}

bool WXRegExDialog::TransferDataToWindow() {
    field_->SetValue(expression);
    if (type == 0 || type == 1) kind_->SetSelection(type);
    return true;
}

bool WXRegExDialog::Validate() {
    return filter_expression_compiles(wx_to_utf8(field_->GetValue()));
}

bool WXRegExDialog::TransferDataFromWindow() {
    expression = field_->GetValue();
    type = kind_->GetSelection() == 1 ? 1 : 0;
    return true;
}

} // namespace lumbrake
