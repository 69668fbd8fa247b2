// "New archive": whether a new archive keeps only the last version of each document or every
// version. Shown only when the daemon can historicize.
#pragma once

#include <wx/dialog.h>

class wxRadioBox;

namespace lumbrake {

class WXHistoricizeDialog : public wxDialog {
public:
    explicit WXHistoricizeDialog(wxWindow* parent);

    bool TransferDataToWindow() override;
    bool TransferDataFromWindow() override;

    // false: keep only the last version; true: keep all versions. Read after wxID_OK.
    bool historicize = false;

private:
    wxRadioBox* kind_;
};

} // namespace lumbrake
