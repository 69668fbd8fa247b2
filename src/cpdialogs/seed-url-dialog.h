// "Url" for seeds: the user picks the kind of resource (web, FTP, Gopher, Usenet news, file
// system, search engine), fills in its fields, and the dialog builds the seed URL; an existing
// seed is split back into its kind's fields for editing.
#pragma once

#include "cpmodel/seed-url.h"

#include <wx/dialog.h>

class wxCheckBox;
class wxChoice;
class wxRadioButton;
class wxStaticText;
class wxTextCtrl;
class wxUpdateUIEvent;

namespace lumbrake {

class WXUrlSmartDialog : public wxDialog {
public:
    explicit WXUrlSmartDialog(wxWindow* parent);

    bool Validate() override;
    bool TransferDataToWindow() override;
    bool TransferDataFromWindow() override;

    // Set before the modal run (empty for a new seed); read after wxID_OK.
    wxString url;

    // Control ids: the kinds' radio buttons and the panels of their fields.
    enum {
        ID_WEB_PANEL = 6599,
        ID_FTP_PANEL,
        ID_GOPHER_PANEL,
        ID_NEWS_PANEL,
        ID_FILE_PANEL,
        ID_SEARCH_PANEL,
        ID_WEB_RADIO = 6605,
        ID_FTP_RADIO,
        ID_GOPHER_RADIO,
        ID_NEWS_RADIO,
        ID_FILE_RADIO,
        ID_SEARCH_RADIO,
    };

private:
    seed_fields ReadFields() const;
    void SelectKind(seed_kind kind);
    bool IsSelected(seed_kind kind) const;

    void OnUpdateWebSite(wxUpdateUIEvent& event);
    void OnUpdateFtpSite(wxUpdateUIEvent& event);
    void OnUpdateGopherSite(wxUpdateUIEvent& event);
    void OnUpdateUsenetNews(wxUpdateUIEvent& event);
    void OnUpdateFilesystem(wxUpdateUIEvent& event);
    void OnUpdateSearchEngine(wxUpdateUIEvent& event);
    void OnSelectWebSite(wxCommandEvent& event);
    void OnSelectFtpSite(wxCommandEvent& event);
    void OnSelectGopherSite(wxCommandEvent& event);
    void OnSelectUsenetNews(wxCommandEvent& event);
    void OnSelectFilesystem(wxCommandEvent& event);
    void OnSelectSearchEngine(wxCommandEvent& event);

    // The chosen kind; the radio buttons show it.
    seed_kind kind_ = seed_kind::none;
    wxRadioButton* radios_[6];
    wxCheckBox* secure_;
    wxStaticText* web_scheme_;
    wxChoice* engine_;
    wxTextCtrl* web_address_;
    wxTextCtrl* ftp_address_;
    wxTextCtrl* gopher_address_;
    wxTextCtrl* news_server_;
    wxTextCtrl* newsgroup_;
    wxTextCtrl* path_;
    wxTextCtrl* search_text_;

    wxDECLARE_EVENT_TABLE();
};

} // namespace lumbrake
