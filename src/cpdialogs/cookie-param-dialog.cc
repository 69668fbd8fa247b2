#include "cpdialogs/cookie-param-dialog.h"

#include "client/string-conv.h"
#include "cpdialogs/dlga-common.h"
#include "cpmodel/cookie-param-model.h"

#include <wx/choice.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

using namespace lumbrake;

namespace {
constexpr int ID_VALUE = 7399;
}

wxBEGIN_EVENT_TABLE(WXParamDialog, wxDialog)
    EVT_UPDATE_UI(ID_VALUE, WXParamDialog::OnUpdateValue)
wxEND_EVENT_TABLE()

WXParamDialog::WXParamDialog(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, wxGetTranslation("Parameter")) {
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* grid = field_grid();
    name_field_ = add_text_row(this, grid, wxGetTranslation("Name:"), "name", wxID_ANY, 0, 200);
    value_field_ = add_text_row(this, grid, wxGetTranslation("Value:"), "value", ID_VALUE, 0, 200);
    grid->Add(new wxStaticText(this, wxID_ANY, wxGetTranslation("Type:")), 0,
              wxALIGN_CENTER_VERTICAL | wxALL, 4);
    type_choice_ = new wxChoice(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, 0, nullptr, 0,
                                wxDefaultValidator, "type");
    for (int t : {COOKIE_USERNAME, COOKIE_PASSWORD, COOKIE_OTHER})
        type_choice_->Append(wxGetTranslation(cookie_param_type_label(t)));
    grid->Add(type_choice_, 0, wxALIGN_CENTER_VERTICAL | wxALL, 4);
    top->Add(grid, 0, wxEXPAND);
    finish_dialog(this, top);
}

// An empty name is accepted.
bool WXParamDialog::Validate() { return true; }

bool WXParamDialog::TransferDataToWindow() {
    cookie_param_fields f{wx_to_utf8(name_field_->GetValue()), wx_to_utf8(value_field_->GetValue()),
                          type_choice_->GetSelection()};
    cookie_param_to_fields(param, f);
    name_field_->ChangeValue(utf8_to_wx(f.name));
    value_field_->ChangeValue(utf8_to_wx(f.value));
    type_choice_->SetSelection(f.choice);
    return true;
}

bool WXParamDialog::TransferDataFromWindow() {
    cookie_param_from_fields({wx_to_utf8(name_field_->GetValue()),
                              wx_to_utf8(value_field_->GetValue()), type_choice_->GetSelection()},
                             param);
    return true;
}

void WXParamDialog::OnUpdateValue(wxUpdateUIEvent& event) {
    event.Enable(cookie_param_value_enabled(type_choice_->GetSelection()));
}
