#include "cpdialogs/text-dialog.h"

#include "cpdialogs/dlga-common.h"

#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

wxBEGIN_EVENT_TABLE(WXTextDialog, wxDialog)
wxEND_EVENT_TABLE()

WXTextDialog::WXTextDialog(wxWindow* parent, const wxString& label, const wxString& title)
    : wxDialog(parent, wxID_ANY, title) {
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* row = new wxFlexGridSizer(2, 0, 0);
    row->AddGrowableCol(1);
    row->Add(new wxStaticText(this, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL | wxALL, 4);
    field_ = new wxTextCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxSize(150, -1));
    row->Add(field_, 1, wxEXPAND | wxALL, 4);
    top->Add(row, 0, wxEXPAND);
    top->Add(lumbrake::ok_cancel_row(this, wxGetTranslation("OK")), 0,
             wxALIGN_RIGHT);
    SetSizerAndFit(top);
    CentreOnParent(wxBOTH);
}

// Blanks count as text: only an empty field is refused, silently.
bool WXTextDialog::Validate() { return !field_->GetValue().empty(); }

bool WXTextDialog::TransferDataToWindow() {
    field_->ChangeValue(text);
    return true;
}

bool WXTextDialog::TransferDataFromWindow() {
    text = field_->GetValue();
    return true;
}
