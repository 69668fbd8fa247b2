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
    auto* grid = field_grid();
    name_field_ = add_text_row(this, grid, wxGetTranslation("Name:"), "name", wxID_ANY, 0, 200);
    name_field_->Disable();
    value_field_ = add_text_row(this, grid, wxGetTranslation("Value:"), "value", wxID_ANY, 0, 200);
    top->Add(grid, 0, wxEXPAND);
    finish_dialog(this, top);
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
