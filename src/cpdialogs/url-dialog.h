// "Url": one URL typed or corrected by the user (a cookie form's URL or pre-URL). OK completes
// and canonicalises the text and refuses web URLs without a host.
#pragma once

#include <wx/dialog.h>

class wxTextCtrl;

namespace lumbrake {

class WXUrlDialog : public wxDialog {
public:
    explicit WXUrlDialog(wxWindow* parent);

    bool Validate() override;
    bool TransferDataToWindow() override;
    bool TransferDataFromWindow() override;

    // Set before the modal run (empty for a new entry); read after wxID_OK.
    wxString url;

private:
    wxTextCtrl* field_;
};

} // namespace lumbrake
