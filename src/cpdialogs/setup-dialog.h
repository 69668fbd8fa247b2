// The "Setup" dialog: host, port, whether to authenticate, user name and password. It shows
// the application's connection settings and, on OK, hands them back and has them saved.
#pragma once

#include <wx/dialog.h>

class wxCheckBox;
class wxTextCtrl;

namespace lumbrake {

class WXSetupDialog : public wxDialog {
public:
    enum { ID_CREDENTIALS = 6399 };

    explicit WXSetupDialog(wxWindow* parent);

    bool TransferDataToWindow() override;
    // Refuses a host or port no endpoint can be built from, with a message.
    bool Validate() override;
    bool TransferDataFromWindow() override;

    wxTextCtrl* host_field() const { return host_; }
    wxTextCtrl* port_field() const { return port_; }
    wxCheckBox* authentication_box() const { return authentication_; }
    wxTextCtrl* user_field() const { return user_; }
    wxTextCtrl* password_field() const { return password_; }

private:
    void OnUpdateCredentials(wxUpdateUIEvent& event);

    wxTextCtrl* host_ = nullptr;
    wxTextCtrl* port_ = nullptr;
    wxCheckBox* authentication_ = nullptr;
    wxTextCtrl* user_ = nullptr;
    wxTextCtrl* password_ = nullptr;

    wxDECLARE_EVENT_TABLE();
};

} // namespace lumbrake
