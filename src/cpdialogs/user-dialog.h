// Enters a new login user or changes an existing one: name, password, administrator flag and
// memberships among the offered groups. Sends nothing; the security dialog does.
#pragma once

#include <string>
#include <vector>

#include <wx/dialog.h>

class wxCheckBox;
class wxListBox;
class wxTextCtrl;

class WXUserDialog : public wxDialog {
public:
    // `groups_offered`: the only groups that can be chosen. An existing user (`new_user`
    // false) keeps the name field disabled.
    WXUserDialog(wxWindow* parent, const std::vector<wxString>& groups_offered, bool new_user);

    bool Validate() override;
    bool TransferDataToWindow() override;
    bool TransferDataFromWindow() override;

    wxString name;
    wxString password;
    bool admin = false;
    std::vector<wxString> groups;
    // Set when the user changed the password field after it was filled, whatever it reads now.
    bool password_edited = false;

private:
    void OnPasswordText(wxCommandEvent& event);

    wxTextCtrl* name_field_ = nullptr;
    wxTextCtrl* password_field_ = nullptr;
    wxCheckBox* admin_box_ = nullptr;
    wxListBox* group_list_ = nullptr;
    std::vector<std::string> list_; // UTF-8, in the list's order
    wxDECLARE_EVENT_TABLE();
};
