// Asks for one line of text (the name of a new group or collection).
#pragma once

#include <wx/dialog.h>

class wxTextCtrl;

class WXTextDialog : public wxDialog {
public:
    // Both texts are already translated; the label comes first.
    WXTextDialog(wxWindow* parent, const wxString& label, const wxString& title);

    bool Validate() override;
    bool TransferDataToWindow() override;
    bool TransferDataFromWindow() override;

    // The field's content as typed, not trimmed.
    wxString text;

private:
    wxTextCtrl* field_ = nullptr;
    wxDECLARE_EVENT_TABLE();
};
