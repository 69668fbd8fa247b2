#include "cpdialogs/url-dialog.h"

#include "client/string-conv.h"
#include "cpdialogs/ok-cancel-row.h"
#include "cpmodel/url-text.h"

#include <wx/intl.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

namespace lumbrake {

WXUrlDialog::WXUrlDialog(wxWindow* parent) : wxDialog(parent, wxID_ANY, _("Url")) {
    auto* top = new wxBoxSizer(wxVERTICAL);
    field_ = new wxTextCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxSize(300, -1));
    top->Add(field_, 0, wxALL | wxEXPAND, 4);
    add_ok_cancel_row(this, top);
    SetSizerAndFit(top);
    Centre(wxBOTH);
}

bool WXUrlDialog::TransferDataToWindow() {
    field_->SetValue(url);
    return true;
}

bool WXUrlDialog::Validate() {
    const typed_url result = complete_typed_url(wx_to_utf8(field_->GetValue()));
    // The user sees the completed text also when it is refused, and can correct it.
    field_->SetValue(utf8_to_wx(result.url));
    return result.accepted;
}

bool WXUrlDialog::TransferDataFromWindow() {
    url = field_->GetValue();
    return true;
}

} // namespace lumbrake
