#include "cpdialogs/seed-url-dialog.h"

#include "client/string-conv.h"
#include "cpdialogs/ok-cancel-row.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/intl.h>
#include <wx/panel.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace lumbrake {

wxBEGIN_EVENT_TABLE(WXUrlSmartDialog, wxDialog)
    EVT_UPDATE_UI(WXUrlSmartDialog::ID_WEB_PANEL, WXUrlSmartDialog::OnUpdateWebSite)
    EVT_UPDATE_UI(WXUrlSmartDialog::ID_FTP_PANEL, WXUrlSmartDialog::OnUpdateFtpSite)
    EVT_UPDATE_UI(WXUrlSmartDialog::ID_GOPHER_PANEL, WXUrlSmartDialog::OnUpdateGopherSite)
    EVT_UPDATE_UI(WXUrlSmartDialog::ID_NEWS_PANEL, WXUrlSmartDialog::OnUpdateUsenetNews)
    EVT_UPDATE_UI(WXUrlSmartDialog::ID_FILE_PANEL, WXUrlSmartDialog::OnUpdateFilesystem)
    EVT_UPDATE_UI(WXUrlSmartDialog::ID_SEARCH_PANEL, WXUrlSmartDialog::OnUpdateSearchEngine)
    EVT_RADIOBUTTON(WXUrlSmartDialog::ID_WEB_RADIO, WXUrlSmartDialog::OnSelectWebSite)
    EVT_RADIOBUTTON(WXUrlSmartDialog::ID_FTP_RADIO, WXUrlSmartDialog::OnSelectFtpSite)
    EVT_RADIOBUTTON(WXUrlSmartDialog::ID_GOPHER_RADIO, WXUrlSmartDialog::OnSelectGopherSite)
    EVT_RADIOBUTTON(WXUrlSmartDialog::ID_NEWS_RADIO, WXUrlSmartDialog::OnSelectUsenetNews)
    EVT_RADIOBUTTON(WXUrlSmartDialog::ID_FILE_RADIO, WXUrlSmartDialog::OnSelectFilesystem)
    EVT_RADIOBUTTON(WXUrlSmartDialog::ID_SEARCH_RADIO, WXUrlSmartDialog::OnSelectSearchEngine)
wxEND_EVENT_TABLE()

namespace {

wxPanel* kind_panel(wxWindow* parent, int id) {
    return new wxPanel(parent, id, wxDefaultPosition, wxDefaultSize,
                       wxTAB_TRAVERSAL | wxBORDER_NONE);
}

wxStaticText* label(wxWindow* parent, const wxString& text) {
    return new wxStaticText(parent, wxID_ANY, text);
}

// A fixed scheme text followed by its address field, the field stretching.
wxSizer* address_row(wxStaticText* scheme, wxTextCtrl* field) {
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(scheme, 0, wxALIGN_CENTER_VERTICAL);
    row->Add(field, 1, wxLEFT, 4);
    return row;
}

// "Address:" and a fixed scheme label with its field, in a panel's two-column grid.
wxFlexGridSizer* address_grid(wxWindow* panel, const char* scheme, wxTextCtrl*& field,
                              wxStaticText** scheme_label = nullptr) {
    auto* grid = new wxFlexGridSizer(2, 0, 0);
    grid->AddGrowableCol(1);
    grid->Add(label(panel, _("Address:")), 0, wxALL | wxALIGN_CENTER_VERTICAL, 4);
    auto* s = new wxStaticText(panel, wxID_ANY, scheme, wxDefaultPosition, wxDefaultSize,
                               wxST_NO_AUTORESIZE);
    if (scheme_label) *scheme_label = s;
    field = new wxTextCtrl(panel, wxID_ANY);
    grid->Add(address_row(s, field), 1, wxALL | wxEXPAND, 4);
    return grid;
}

} // namespace

WXUrlSmartDialog::WXUrlSmartDialog(wxWindow* parent) : wxDialog(parent, wxID_ANY, _("Url")) {
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* box = new wxStaticBoxSizer(wxVERTICAL, this, _("Resource"));
    wxWindow* area = box->GetStaticBox();

    const wxString kind_labels[6] = {_("Web site"),    _("FTP site"),   _("Gopher site"),
                                     _("Usenet news"), _("Filesystem"), _("Search engine")};
    wxPanel* panels[6];
    for (int i = 0; i < 6; ++i) {
        // One group: choosing a kind clears the others (GTK cannot clear a lone radio button).
        radios_[i] = new wxRadioButton(area, ID_WEB_RADIO + i, kind_labels[i], wxDefaultPosition,
                                       wxDefaultSize, i == 0 ? wxRB_GROUP : 0);
        panels[i] = kind_panel(area, ID_WEB_PANEL + i);
    }

    {
        wxPanel* p = panels[0];
        // Created with the longer text so that it never needs to grow.
        wxFlexGridSizer* grid = address_grid(p, "https://", web_address_, &web_scheme_);
        grid->AddSpacer(0);
        secure_ = new wxCheckBox(p, wxID_ANY, _("Secure"));
        grid->Add(secure_, 0, wxALL, 4);
        p->SetSizer(grid);
    }
    panels[1]->SetSizer(address_grid(panels[1], "ftp://", ftp_address_));
    panels[2]->SetSizer(address_grid(panels[2], "gopher://", gopher_address_));
    {
        wxPanel* p = panels[3];
        auto* grid = new wxFlexGridSizer(2, 0, 0);
        grid->AddGrowableCol(1);
        news_server_ = new wxTextCtrl(p, wxID_ANY);
        newsgroup_ = new wxTextCtrl(p, wxID_ANY);
        grid->Add(label(p, _("Server:")), 0, wxALL | wxALIGN_CENTER_VERTICAL, 4);
        grid->Add(news_server_, 1, wxALL | wxEXPAND, 4);
        grid->Add(label(p, _("Newsgroup:")), 0, wxALL | wxALIGN_CENTER_VERTICAL, 4);
        grid->Add(newsgroup_, 1, wxALL | wxEXPAND, 4);
        p->SetSizer(grid);
    }
    {
        wxPanel* p = panels[4];
        auto* grid = new wxFlexGridSizer(2, 0, 0);
        grid->AddGrowableCol(1);
        path_ = new wxTextCtrl(p, wxID_ANY);
        grid->Add(label(p, _("Path:")), 0, wxALL | wxALIGN_CENTER_VERTICAL, 4);
        grid->Add(path_, 1, wxALL | wxEXPAND, 4);
        p->SetSizer(grid);
    }
    {
        wxPanel* p = panels[5];
        auto* row = new wxBoxSizer(wxHORIZONTAL);
        search_text_ = new wxTextCtrl(p, wxID_ANY);
        const wxString engines[] = {_("Google"), _("MSN")};
        engine_ = new wxChoice(p, wxID_ANY, wxDefaultPosition, wxDefaultSize, 2, engines);
        engine_->SetSelection(SEED_ENGINE_GOOGLE);
        row->Add(label(p, _("Search:")), 0, wxALL | wxALIGN_CENTER_VERTICAL, 4);
        row->Add(search_text_, 1, wxALL | wxALIGN_CENTER_VERTICAL, 4);
        row->Add(label(p, _("on")), 0, wxALL | wxALIGN_CENTER_VERTICAL, 4);
        row->Add(engine_, 0, wxALL | wxALIGN_CENTER_VERTICAL, 4);
        p->SetSizer(row);
    }
    for (int i = 0; i < 6; ++i) {
        box->Add(radios_[i], 0, wxALL | wxEXPAND, 4);
        box->Add(panels[i], 0, wxLEFT | wxEXPAND, 16);
    }
    top->Add(box, 0, wxALL | wxEXPAND, 4);
    add_ok_cancel_row(this, top);

    SetSizer(top);
    top->SetSizeHints(this);
    SetSize(400, -1);
    Centre(wxBOTH);
    if (wxWindow* ok = FindWindow(wxID_OK)) ok->SetFocus();
}

bool WXUrlSmartDialog::IsSelected(seed_kind kind) const {
    return kind != seed_kind::none && kind_ == kind;
}

void WXUrlSmartDialog::SelectKind(seed_kind kind) {
    kind_ = kind;
    const int i = static_cast<int>(kind);
    if (i >= 0 && i < 6) radios_[i]->SetValue(true);
}

seed_fields WXUrlSmartDialog::ReadFields() const {
    seed_fields f;
    f.kind = kind_;
    f.secure = secure_->GetValue();
    f.web_address = wx_to_utf8(web_address_->GetValue());
    f.ftp_address = wx_to_utf8(ftp_address_->GetValue());
    f.gopher_address = wx_to_utf8(gopher_address_->GetValue());
    f.news_server = wx_to_utf8(news_server_->GetValue());
    f.newsgroup = wx_to_utf8(newsgroup_->GetValue());
    f.path = wx_to_utf8(path_->GetValue());
    f.search_text = wx_to_utf8(search_text_->GetValue());
    f.engine = engine_->GetSelection() == wxNOT_FOUND ? -1 : engine_->GetSelection();
    return f;
}

bool WXUrlSmartDialog::TransferDataToWindow() {
    const seed_fields f = split_seed_url(wx_to_utf8(url));
    SelectKind(f.kind);
    secure_->SetValue(f.secure);
    switch (f.kind) {
    case seed_kind::web: web_address_->SetValue(utf8_to_wx(f.web_address)); break;
    case seed_kind::ftp: ftp_address_->SetValue(utf8_to_wx(f.ftp_address)); break;
    case seed_kind::gopher: gopher_address_->SetValue(utf8_to_wx(f.gopher_address)); break;
    case seed_kind::news:
        news_server_->SetValue(utf8_to_wx(f.news_server));
        newsgroup_->SetValue(utf8_to_wx(f.newsgroup));
        break;
    case seed_kind::filesystem: path_->SetValue(utf8_to_wx(f.path)); break;
    case seed_kind::search_engine:
        engine_->SetSelection(f.engine);
        search_text_->SetValue(utf8_to_wx(f.search_text));
        break;
    case seed_kind::none: break;
    }
    return true;
}

bool WXUrlSmartDialog::Validate() { return seed_fields_complete(ReadFields()); }

bool WXUrlSmartDialog::TransferDataFromWindow() {
    url = utf8_to_wx(build_seed_url(ReadFields()));
    return true;
}

void WXUrlSmartDialog::OnUpdateWebSite(wxUpdateUIEvent& event) {
    event.Enable(IsSelected(seed_kind::web));
    const wxString scheme = seed_web_scheme_label(secure_->GetValue());
    if (web_scheme_->GetLabel() != scheme) web_scheme_->SetLabel(scheme);
}

void WXUrlSmartDialog::OnUpdateFtpSite(wxUpdateUIEvent& event) {
    event.Enable(IsSelected(seed_kind::ftp));
}
void WXUrlSmartDialog::OnUpdateGopherSite(wxUpdateUIEvent& event) {
    event.Enable(IsSelected(seed_kind::gopher));
}
void WXUrlSmartDialog::OnUpdateUsenetNews(wxUpdateUIEvent& event) {
    event.Enable(IsSelected(seed_kind::news));
}
void WXUrlSmartDialog::OnUpdateFilesystem(wxUpdateUIEvent& event) {
    event.Enable(IsSelected(seed_kind::filesystem));
}
void WXUrlSmartDialog::OnUpdateSearchEngine(wxUpdateUIEvent& event) {
    event.Enable(IsSelected(seed_kind::search_engine));
}

void WXUrlSmartDialog::OnSelectWebSite(wxCommandEvent&) { SelectKind(seed_kind::web); }
void WXUrlSmartDialog::OnSelectFtpSite(wxCommandEvent&) { SelectKind(seed_kind::ftp); }
void WXUrlSmartDialog::OnSelectGopherSite(wxCommandEvent&) { SelectKind(seed_kind::gopher); }
void WXUrlSmartDialog::OnSelectUsenetNews(wxCommandEvent&) { SelectKind(seed_kind::news); }
void WXUrlSmartDialog::OnSelectFilesystem(wxCommandEvent&) { SelectKind(seed_kind::filesystem); }
void WXUrlSmartDialog::OnSelectSearchEngine(wxCommandEvent&) {
    SelectKind(seed_kind::search_engine);
}

} // namespace lumbrake
