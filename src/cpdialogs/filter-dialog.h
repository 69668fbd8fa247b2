// "Filter": one URL filter of a source, a regular expression and whether matching URLs are
// included in the crawl or excluded. OK needs an expression the crawler can compile.
#pragma once

#include <wx/dialog.h>

class wxRadioBox;
class wxTextCtrl;

namespace lumbrake {

class WXRegExDialog : public wxDialog {
public:
    explicit WXRegExDialog(wxWindow* parent);

    bool Validate() override;
    bool TransferDataToWindow() override;
    bool TransferDataFromWindow() override;

    // Set before the modal run when a filter is edited; read after wxID_OK.
    wxString expression;
    int type = 0; // 0 include, 1 exclude

private:
    wxTextCtrl* field_;
    wxRadioBox* kind_;
};

} // namespace lumbrake
