#include "cpdialogs/param-value-dialog.h"

#include "client/string-conv.h"
#include "cpdialogs/dlga-common.h"

#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

using namespace lumbrake;

WXParamValueDialog::WXParamValueDialog(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, wxGetTranslation("Parameter value")) {
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* grid = new wxFlexGridSizer(2, 0, 0);
    grid->AddGrowableCol(1);
    grid->Add(new wxStaticText(this, wxID_ANY, wxGetTranslation("Name:")), 0,
              wxALIGN_CENTER_VERTICAL | wxALL, 4);
    name_field_ = new wxTextCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition,
                                 wxSize(200, -1), 0, wxDefaultValidator, "name");
    name_field_->Disable();
    grid->Add(name_field_, 1, wxEXPAND | wxALL, 4);
    grid->Add(new wxStaticText(this, wxID_ANY, wxGetTranslation("Value:")), 0,
              wxALIGN_CENTER_VERTICAL | wxALL, 4);
    value_field_ = new wxTextCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition,
                                  wxSize(200, -1), 0, wxDefaultValidator, "value");
    grid->Add(value_field_, 1, wxEXPAND | wxALL, 4);
    top->Add(grid, 0, wxEXPAND);
    top->Add(ok_cancel_row(this, wxGetTranslation("OK")), 0, wxALIGN_RIGHT);
    SetSizerAndFit(top);
    CentreOnParent(wxBOTH);
}

// Any value, the empty one too.
bool WXParamValueDialog::Validate() { return true; }

bool WXParamValueDialog::TransferDataToWindow() {
    name_field_->ChangeValue(utf8_to_wx(value.Name));
    value_field_->ChangeValue(utf8_to_wx(value.Value));
    return true;
}

bool WXParamValueDialog::TransferDataFromWindow() {
    value.Name = wx_to_utf8(name_field_->GetValue());
    value.Value = wx_to_utf8(value_field_->GetValue());
    return true;
}
