#include "cpdialogs/text-dialog.h"

#include "cpdialogs/dlga-common.h"

#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

using namespace lumbrake;

wxBEGIN_EVENT_TABLE(WXTextDialog, wxDialog)
wxEND_EVENT_TABLE()

WXTextDialog::WXTextDialog(wxWindow* parent, const wxString& label, const wxString& title)
    : wxDialog(parent, wxID_ANY, title) {
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* row = field_grid();
    field_ = add_text_row(this, row, label, "text", wxID_ANY, 0, 150);
    top->Add(row, 0, wxEXPAND);
    finish_dialog(this, top);
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
