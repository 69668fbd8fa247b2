// "Authentication": the credentials an archive's crawl sends for its source, and the values of
// the free parameters of a cookie log-in form. Edits the record in memory only; the caller
// loads and stores it.
#pragma once

#include "api/api-types.h"
#include "api/auth.h"

#include <wx/dialog.h>

class wxListEvent;
class wxListView;
class wxTextCtrl;
class wxUpdateUIEvent;

class WXSourceAuthDialog : public wxDialog {
public:
    // `source` decides what is shown: the cookie rows exist only for a cookie log-in.
    WXSourceAuthDialog(wxWindow* parent, const lumbrake::SourceConfiguration& source);
    ~WXSourceAuthDialog() override;

    bool TransferDataToWindow() override;
    bool TransferDataFromWindow() override;

    // Filled by the caller before the run, read back after OK. Its ACL passes through.
    lumbrake::AuthConfiguration auth;

private:
    void OnUpdateEdit(wxUpdateUIEvent& event);
    void OnItemActivated(wxListEvent& event);
    void OnEdit(wxCommandEvent& event);
    void FreeRows();

    lumbrake::SourceConfiguration source_;
    wxTextCtrl* user_field_ = nullptr;
    wxTextCtrl* password_field_ = nullptr;
    wxListView* cookie_list_ = nullptr; // only for a cookie log-in
    wxDECLARE_EVENT_TABLE();
};
