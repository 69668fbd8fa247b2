// Adds or edits one entry of an access list: a user or group name and its access mask (see
// cpmodel/access-masks.h for the bits).
#pragma once

#include <cstdint>
#include <vector>

#include <wx/dialog.h>

class wxCheckBox;
class wxChoice;
class wxUpdateUIEvent;

class WXACLDialog : public wxDialog {
public:
    // `names`: the user and group names offered, in the order to show (not sorted, not
    // de-duplicated).
    WXACLDialog(wxWindow* parent, const std::vector<wxString>& names);

    bool Validate() override;
    bool TransferDataToWindow() override;
    bool TransferDataFromWindow() override;

    wxString name;
    std::uint32_t mask = 0;

private:
    void OnBoxClicked(wxCommandEvent& event);
    void OnUpdateBox(wxUpdateUIEvent& event);

    wxChoice* choice_ = nullptr;
    wxCheckBox* boxes_[4] = {}; // allow read, deny read, allow write, deny write
    wxDECLARE_EVENT_TABLE();
};
