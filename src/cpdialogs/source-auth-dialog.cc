#include "cpdialogs/source-auth-dialog.h"

#include "client/string-conv.h"
#include "cpdialogs/dlga-common.h"
#include "cpdialogs/param-value-dialog.h"
#include "cpmodel/source-auth-model.h"

#include <wx/button.h>
#include <wx/listctrl.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

using namespace lumbrake;

namespace {
constexpr int ID_COOKIE_LIST = 6499;
constexpr int ID_EDIT = 6500;

ParamValue* row_value(wxListView* list, long row) {
    return reinterpret_cast<ParamValue*>(list->GetItemData(row));
}
} // namespace

wxBEGIN_EVENT_TABLE(WXSourceAuthDialog, wxDialog)
    EVT_UPDATE_UI(ID_EDIT, WXSourceAuthDialog::OnUpdateEdit)
    EVT_LIST_ITEM_ACTIVATED(ID_COOKIE_LIST, WXSourceAuthDialog::OnItemActivated)
    EVT_BUTTON(ID_EDIT, WXSourceAuthDialog::OnEdit)
wxEND_EVENT_TABLE()

WXSourceAuthDialog::WXSourceAuthDialog(wxWindow* parent, const SourceConfiguration& source)
    : wxDialog(parent, wxID_ANY, wxGetTranslation("Authentication")), source_(source) {
    auto* top = new wxBoxSizer(wxVERTICAL);

    auto* panel = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                              wxTAB_TRAVERSAL | wxNO_BORDER);
    auto* box = new wxStaticBoxSizer(wxVERTICAL, panel, wxGetTranslation("Authentication"));
    auto* grid = new wxFlexGridSizer(2, 0, 0);
    grid->AddGrowableCol(1);
    grid->Add(new wxStaticText(box->GetStaticBox(), wxID_ANY, wxGetTranslation("Username:")), 0,
              wxALIGN_CENTER);
    user_field_ = new wxTextCtrl(box->GetStaticBox(), wxID_ANY, wxEmptyString, wxDefaultPosition,
                                 wxDefaultSize, 0, wxDefaultValidator, "username");
    grid->Add(user_field_, 1, wxEXPAND | wxALL, 4);
    grid->Add(new wxStaticText(box->GetStaticBox(), wxID_ANY, wxGetTranslation("Password:")), 0,
              wxALIGN_CENTER);
    password_field_ = new wxTextCtrl(box->GetStaticBox(), wxID_ANY, wxEmptyString,
                                     wxDefaultPosition, wxDefaultSize, wxTE_PASSWORD,
                                     wxDefaultValidator, "password");
    grid->Add(password_field_, 1, wxEXPAND | wxALL, 4);
    box->Add(grid, 1, wxEXPAND);
    panel->SetSizer(box);
    top->Add(panel, 0, wxEXPAND | wxALL, 4);

    if (source_.Type == AUTH_COOKIE) {
        auto* cookie_panel = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                         wxTAB_TRAVERSAL | wxNO_BORDER);
        auto* cbox = new wxStaticBoxSizer(wxVERTICAL, cookie_panel,
                                          wxGetTranslation("Cookie parameters"));
        cookie_list_ = new wxListView(cbox->GetStaticBox(), ID_COOKIE_LIST, wxDefaultPosition,
                                      wxSize(300, 150), wxLC_REPORT | wxLC_SINGLE_SEL);
        cookie_list_->InsertColumn(0, wxGetTranslation("Name"), wxLIST_FORMAT_LEFT, 140);
        cookie_list_->InsertColumn(1, wxGetTranslation("Value"), wxLIST_FORMAT_LEFT, 140);
        cbox->Add(cookie_list_, 1, wxEXPAND | wxALL, 4);
        cbox->Add(new wxButton(cbox->GetStaticBox(), ID_EDIT, wxGetTranslation("Edit...")), 0,
                  wxALIGN_RIGHT | wxALL, 4);
        cookie_panel->SetSizer(cbox);
        top->Add(cookie_panel, 1, wxEXPAND | wxALL, 4);
    }
    finish_dialog(this, top);
}

WXSourceAuthDialog::~WXSourceAuthDialog() { FreeRows(); }

void WXSourceAuthDialog::FreeRows() {
    if (!cookie_list_) return;
    for (long i = 0; i < cookie_list_->GetItemCount(); ++i)
        delete row_value(cookie_list_, i);
    cookie_list_->DeleteAllItems();
}

bool WXSourceAuthDialog::TransferDataToWindow() {
    user_field_->ChangeValue(utf8_to_wx(auth.Username));
    password_field_->ChangeValue(utf8_to_wx(auth.Password));
    FreeRows();
    if (!cookie_list_) return true;
    for (const auto& v : cookie_value_rows(source_, auth.ParamValues)) {
        const long row = cookie_list_->InsertItem(cookie_list_->GetItemCount(), utf8_to_wx(v.Name));
        cookie_list_->SetItem(row, 1, utf8_to_wx(v.Value));
        cookie_list_->SetItemPtrData(row, reinterpret_cast<wxUIntPtr>(new ParamValue(v)));
    }
    return true;
}

bool WXSourceAuthDialog::TransferDataFromWindow() {
    auth.Username = wx_to_utf8(user_field_->GetValue());
    auth.Password = wx_to_utf8(password_field_->GetValue());
    auth.ParamValues.clear();
    if (cookie_list_)
        for (long i = 0; i < cookie_list_->GetItemCount(); ++i)
            auth.ParamValues.push_back(*row_value(cookie_list_, i));
    return true;
}

void WXSourceAuthDialog::OnUpdateEdit(wxUpdateUIEvent& event) {
    event.Enable(cookie_list_ && cookie_list_->GetFirstSelected() >= 0);
}

void WXSourceAuthDialog::OnItemActivated(wxListEvent& event) { OnEdit(event); }

void WXSourceAuthDialog::OnEdit(wxCommandEvent&) {
    if (!cookie_list_) return;
    const long row = cookie_list_->GetFirstSelected();
    if (row < 0) return;
    ParamValue* value = row_value(cookie_list_, row);
    WXParamValueDialog dlg(this);
    dlg.value = *value;
    if (dlg.ShowModal() != wxID_OK) return;
    *value = dlg.value;
    cookie_list_->SetItem(row, 1, utf8_to_wx(value->Value));
}
