// What the dialogs and windows of the control panel need of the application object: SOAP
// proxies on the connection settings, error texts and message boxes, the connection identity,
// the browser. The application implements it and installs itself at start-up; widget tests
// install their own.
#pragma once

#include "client/soap-client-proxy.h"
#include "soap/soap.h"

#include <memory>
#include <string>

#include <wx/string.h>

class wxWindow;

namespace lumbrake {

// The connection settings of the setup dialog (texts as the user typed them).
struct cp_connection_settings {
    wxString host;
    wxString port;
    bool authentication = true;
    wxString user_name;
    wxString password;
};

class cp_services {
public:
    virtual ~cp_services() = default;

    // A new proxy on the current connection settings; null when none can be made (the caller
    // then does without the call).
    virtual std::unique_ptr<SoapClientProxy> CreateSoapProxy() = 0;
    // The translated display text of a failed SOAP call.
    virtual wxString FormatSoapError(const EasySoap::SOAPException& e) = 0;
    // Modal "Error" / "Warning" boxes over the parent (which may be null).
    virtual void ShowError(const wxString& message, wxWindow* parent) = 0;
    virtual void ShowWarning(const wxString& message, wxWindow* parent) = 0;
    // FormatSoapError then ShowError; throws nothing.
    void ReportSoapError(const EasySoap::SOAPException& e, wxWindow* parent) {
        ShowError(FormatSoapError(e), parent);
    }

    virtual cp_connection_settings GetConnectionSettings() = 0;
    virtual void SetConnectionSettings(const cp_connection_settings& settings) = 0;
    // Writes the settings file; false (after a warning box) when a write failed.
    virtual bool SaveConnectionSettings() = 0;

    // UTF-8: the connection's host, and its user name or "Anonymous" without authentication.
    virtual std::string GetHost() = 0;
    virtual std::string GetUserName() = 0;

    // Opens a URL in the user's default browser (tests record it instead).
    virtual void OpenURL(const std::string& url) = 0;

    // The daemon's private portal pages in the user's language (no credentials: the browser
    // asks for them), and the stored copy of a document among them.
    virtual std::string GetPrivateBaseURL();
    void OpenCachedDocument(const std::string& document_id);
};

// The installed services; null before installation.
cp_services* get_cp_services();
void set_cp_services(cp_services* services);

} // namespace lumbrake
