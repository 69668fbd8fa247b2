#include "cpdialogs/setup-dialog.h"

#include "cpdialogs/cp-services.h"
#include "cpmodel/settings-model.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/intl.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace lumbrake {

wxBEGIN_EVENT_TABLE(WXSetupDialog, wxDialog)
    EVT_UPDATE_UI(WXSetupDialog::ID_CREDENTIALS, WXSetupDialog::OnUpdateCredentials)
        wxEND_EVENT_TABLE()

            WXSetupDialog::WXSetupDialog(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, _("Setup")) {
    auto* top = new wxBoxSizer(wxVERTICAL);

    auto* server = new wxFlexGridSizer(1, 4, 0, 0);
    server->AddGrowableCol(1);
    server->Add(new wxStaticText(this, wxID_ANY, _("Host:")), 0, wxALL | wxALIGN_CENTER_VERTICAL,
                4);
    host_ = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxSize(200, -1));
    server->Add(host_, 1, wxALL | wxEXPAND, 4);
    server->Add(new wxStaticText(this, wxID_ANY, _("Port:")), 0, wxALL | wxALIGN_CENTER_VERTICAL,
                4);
    // Wide enough for five digits in the GTK font.
    port_ = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxSize(70, -1));
    server->Add(port_, 0, wxALL, 4);
    top->Add(server, 0, wxEXPAND);

    authentication_ = new wxCheckBox(this, wxID_ANY, _("Authentication required"));
    top->Add(authentication_, 0, wxALL, 4);

    auto* credentials = new wxPanel(this, ID_CREDENTIALS, wxDefaultPosition, wxDefaultSize,
                                    wxTAB_TRAVERSAL | wxBORDER_NONE);
    auto* grid = new wxFlexGridSizer(2, 2, 0, 0);
    grid->AddGrowableCol(1);
    grid->Add(new wxStaticText(credentials, wxID_ANY, _("Username:")), 0,
              wxALL | wxALIGN_CENTER_VERTICAL, 4);
    user_ = new wxTextCtrl(credentials, wxID_ANY);
    grid->Add(user_, 1, wxALL | wxEXPAND, 4);
    grid->Add(new wxStaticText(credentials, wxID_ANY, _("Password:")), 0,
              wxALL | wxALIGN_CENTER_VERTICAL, 4);
    password_ =
        new wxTextCtrl(credentials, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxTE_PASSWORD);
    grid->Add(password_, 1, wxALL | wxEXPAND, 4);
    credentials->SetSizer(grid);
    top->Add(credentials, 0, wxEXPAND | wxLEFT, 16);

    auto* buttons = new wxGridSizer(1, 2, 0, 0);
    auto* ok = new wxButton(this, wxID_OK, _("OK"));
    ok->SetDefault();
    buttons->Add(ok, 0, wxALL, 4);
    buttons->Add(new wxButton(this, wxID_CANCEL, _("Cancel")), 0, wxALL, 4);
    top->Add(buttons, 0, wxALIGN_RIGHT);

    SetSizerAndFit(top);
    Centre(wxBOTH);
}

bool WXSetupDialog::TransferDataToWindow() {
    const cp_connection_settings s = get_cp_services()->GetConnectionSettings();
    host_->ChangeValue(s.host);
    port_->ChangeValue(s.port);
    authentication_->SetValue(s.authentication);
    user_->ChangeValue(s.user_name);
    password_->ChangeValue(s.password);
    return true;
}

bool WXSetupDialog::Validate() {
    const std::string error =
        setup_error(host_->GetValue().utf8_string(), port_->GetValue().utf8_string());
    if (error.empty()) return true;
    get_cp_services()->ShowError(wxGetTranslation(wxString::FromUTF8(error)), this);
    return false;
}

bool WXSetupDialog::TransferDataFromWindow() {
    cp_connection_settings s;
    s.password = password_->GetValue();
    s.user_name = user_->GetValue();
    s.port = port_->GetValue().Strip(wxString::both);
    s.host = host_->GetValue().Strip(wxString::both);
    s.authentication = authentication_->GetValue();
    cp_services* services = get_cp_services();
    services->SetConnectionSettings(s);
    // A failed write has been reported; the settings still hold for this run.
    services->SaveConnectionSettings();
    return true;
}

void WXSetupDialog::OnUpdateCredentials(wxUpdateUIEvent& event) {
    event.Enable(authentication_->GetValue());
}

} // namespace lumbrake
