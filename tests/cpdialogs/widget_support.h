// What every dialog test shares: the wx application of the test program (a real GUI app on
// the virtual display), services that record message boxes and browser calls instead of
// showing them, and screenshots written under the build folder.
#pragma once

#include "cpdialogs/cp-services.h"

#include <string>
#include <vector>

class wxWindow;

namespace tn_test {

class recording_services : public lumbrake::cp_services {
public:
    std::unique_ptr<lumbrake::SoapClientProxy> CreateSoapProxy() override;
    wxString FormatSoapError(const EasySoap::SOAPException& e) override;
    void ShowError(const wxString& message, wxWindow* parent) override;
    void ShowWarning(const wxString& message, wxWindow* parent) override;
    lumbrake::cp_connection_settings GetConnectionSettings() override { return settings; }
    void SetConnectionSettings(const lumbrake::cp_connection_settings& s) override { settings = s; }
    bool SaveConnectionSettings() override { return true; }
    std::string GetHost() override;
    std::string GetUserName() override;
    void OpenURL(const std::string& url) override { opened.push_back(url); }

    // The SOAP endpoint proxies are made on; empty: no proxy.
    std::string endpoint;
    lumbrake::cp_connection_settings settings;
    std::vector<std::string> errors, warnings, opened;
};

// The services every test sees (installed by the test program's main); cleared per test by
// the caller as needed.
recording_services& services();

// Runs pending events so that a shown window is laid out and painted.
void pump_events(int milliseconds = 100);

// Shows the window, paints it and writes "<TN_SHOTS_DIR>/<name>.png" of the screen.
void screenshot(wxWindow* window, const std::string& name);

} // namespace tn_test
