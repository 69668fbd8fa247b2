// The "Server status" dialog: the daemon's platform status and its extended status rows,
// asked once while the dialog is built, with its own SOAP proxy.
#pragma once

#include "client/soap-client-proxy.h"

#include <memory>

#include <wx/dialog.h>

class wxListCtrl;
class wxStaticText;

namespace lumbrake {

class WXStatusDialog : public wxDialog {
public:
    explicit WXStatusDialog(wxWindow* parent);
    ~WXStatusDialog() override;

    wxStaticText* status_text() const { return status_; }
    wxListCtrl* rows() const { return list_; }

private:
    void Fill();

    wxStaticText* status_ = nullptr;
    wxListCtrl* list_ = nullptr;
    std::unique_ptr<SoapClientProxy> proxy_;
};

// The status text of a status value: "running", "crawl stopped", "low disk space", else empty
// (untranslated).
const char* status_word(int status);

} // namespace lumbrake
