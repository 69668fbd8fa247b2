#include "controlpanel/cp-app.h"

#include "controlpanel/cp-frame.h"
#include "controlpanel/cp-settings.h"
#include "cpdialogs/setup-dialog.h"
#include "cpmodel/settings-model.h"

#include <wx/cmdline.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

namespace lumbrake {

namespace {

connection_values utf8_values(const cp_connection_settings& s) {
    connection_values v;
    v.host = s.host.utf8_string();
    v.port = s.port.utf8_string();
    v.authentication = s.authentication;
    v.user_name = s.user_name.utf8_string();
    v.password = s.password.utf8_string();
    return v;
}

} // namespace

WXControlPanelApp::~WXControlPanelApp() {
    if (get_cp_services() == this) set_cp_services(nullptr);
}

void WXControlPanelApp::OnInitCmdLine(wxCmdLineParser& parser) {
    parser.AddOption("d", "languagedir", "", wxCMD_LINE_VAL_STRING);
    parser.AddOption("l", "language", "", wxCMD_LINE_VAL_STRING);
}

bool WXControlPanelApp::OnCmdLineParsed(wxCmdLineParser& parser) {
    wxString value;
    if (parser.Found("d", &value)) wxLocale::AddCatalogLookupPathPrefix(value);
    if (parser.Found("l", &value)) {
        if (value == "en")
            language_ = wxLANGUAGE_ENGLISH;
        else if (value == "it")
            language_ = wxLANGUAGE_ITALIAN;
    }
    return true;
}

bool WXControlPanelApp::OnInit() {
    language_ = wxLocale::GetSystemLanguage();
    if (!wxApp::OnInit()) return false;
    {
        wxLogNull quiet; // a system without that locale still runs, untranslated
        locale_.Init(language_, wxLOCALE_LOAD_DEFAULT);
        locale_.AddCatalog("trawlnest");
    }
    SetVendorName("lumbrake");
    SetAppName("trawlnest");
    set_cp_services(this);
    LoadConnectionSettings();
    if (NeedsSetup()) {
        WXSetupDialog setup(nullptr);
        if (setup.ShowModal() != wxID_OK) return false;
    }
    auto* frame = new WXControlPanelFrame();
    frame->Show(true);
    SetTopWindow(frame);
    return true;
}

int WXControlPanelApp::OnExit() {
    return 0;
}

void WXControlPanelApp::LoadConnectionSettings() {
    const cp_connection_settings loaded = cp_settings_store::load_connection();
    std::lock_guard lock(settings_mutex_);
    settings_ = loaded;
}

bool WXControlPanelApp::NeedsSetup() {
    return cp_settings_store::needs_setup();
}

std::unique_ptr<SoapClientProxy> WXControlPanelApp::CreateSoapProxy() {
    return std::make_unique<SoapClientProxy>(
        make_soap_endpoint(utf8_values(GetConnectionSettings())));
}

wxString WXControlPanelApp::FormatSoapError(const EasySoap::SOAPException& e) {
    const soap_error_message m = soap_error_text(e.what());
    const wxString format = wxGetTranslation(wxString::FromUTF8(m.format));
    if (!m.has_argument) return format;
    wxString out = format;
    out.Replace("%s", wxString::FromUTF8(m.argument), false);
    return out;
}

void WXControlPanelApp::ShowError(const wxString& message, wxWindow* parent) {
    wxMessageBox(message, _("Error"), wxOK | wxICON_ERROR, parent);
}

void WXControlPanelApp::ShowWarning(const wxString& message, wxWindow* parent) {
    wxMessageBox(message, _("Warning"), wxOK | wxICON_EXCLAMATION, parent);
}

cp_connection_settings WXControlPanelApp::GetConnectionSettings() {
    std::lock_guard lock(settings_mutex_);
    return settings_;
}

void WXControlPanelApp::SetConnectionSettings(const cp_connection_settings& settings) {
    std::lock_guard lock(settings_mutex_);
    settings_ = settings;
}

bool WXControlPanelApp::SaveConnectionSettings() {
    if (cp_settings_store::save_connection(GetConnectionSettings())) return true;
    ShowWarning(wxString::Format(_("The settings could not be saved to %s."),
                                 cp_settings_store::user_file()),
                nullptr);
    return false;
}

std::string WXControlPanelApp::GetHost() {
    return GetConnectionSettings().host.utf8_string();
}

std::string WXControlPanelApp::GetUserName() {
    return display_user_name(utf8_values(GetConnectionSettings()));
}

void WXControlPanelApp::OpenURL(const std::string& url) {
    wxLaunchDefaultBrowser(wxString::FromUTF8(url));
}

std::string WXControlPanelApp::GetPrivateBaseURL() {
    const connection_values v = utf8_values(GetConnectionSettings());
    return private_base_url(v.host, v.port, locale_.GetCanonicalName().utf8_string());
}

} // namespace lumbrake
