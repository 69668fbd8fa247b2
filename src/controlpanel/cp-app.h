// The control panel's application object: command line, language and message catalog,
// connection settings (first-run setup), the main frame, and the services every window of
// the control panel uses (SOAP proxies, error texts and boxes, the browser).
#pragma once

#include "cpdialogs/cp-services.h"

#include <mutex>

#include <wx/app.h>
#include <wx/intl.h>

namespace lumbrake {

class WXControlPanelApp : public wxApp, public cp_services {
public:
    ~WXControlPanelApp() override;
    bool OnInit() override;
    int OnExit() override;
    void OnInitCmdLine(wxCmdLineParser& parser) override;
    bool OnCmdLineParsed(wxCmdLineParser& parser) override;

    void LoadConnectionSettings();
    bool NeedsSetup();

    std::unique_ptr<SoapClientProxy> CreateSoapProxy() override;
    wxString FormatSoapError(const EasySoap::SOAPException& e) override;
    void ShowError(const wxString& message, wxWindow* parent) override;
    void ShowWarning(const wxString& message, wxWindow* parent) override;
    cp_connection_settings GetConnectionSettings() override;
    void SetConnectionSettings(const cp_connection_settings& settings) override;
    bool SaveConnectionSettings() override;
    std::string GetHost() override;
    std::string GetUserName() override;
    void OpenURL(const std::string& url) override;

    std::string GetPrivateBaseURL() override;

private:
    int language_ = wxLANGUAGE_DEFAULT;
    wxLocale locale_;
    // The updater thread makes proxies from these while the GUI thread may change them.
    std::mutex settings_mutex_;
    cp_connection_settings settings_;
};

} // namespace lumbrake

wxDECLARE_APP(lumbrake::WXControlPanelApp);
