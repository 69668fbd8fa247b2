#include "cpdialogs/user-dialog.h"

#include "client/string-conv.h"
#include "cpdialogs/dlga-common.h"
#include "cpmodel/user-model.h"

#include <wx/checkbox.h>
#include <wx/listbox.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

using namespace lumbrake;

namespace {
constexpr int ID_PASSWORD = 6650;
}

wxBEGIN_EVENT_TABLE(WXUserDialog, wxDialog)
    EVT_TEXT(ID_PASSWORD, WXUserDialog::OnPasswordText)
wxEND_EVENT_TABLE()

WXUserDialog::WXUserDialog(wxWindow* parent, const std::vector<wxString>& groups_offered,
                           bool new_user)
    : wxDialog(parent, wxID_ANY, wxGetTranslation("User")) {
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* grid = field_grid();
    name_field_ = add_text_row(this, grid, wxGetTranslation("Name:"), "name");
    password_field_ =
        add_text_row(this, grid, wxGetTranslation("Password:"), "password", ID_PASSWORD,
                     wxTE_PASSWORD);
    grid->AddSpacer(0);
    admin_box_ = new wxCheckBox(this, wxID_ANY, wxGetTranslation("Administrator privileges"),
                                wxDefaultPosition, wxDefaultSize, 0, wxDefaultValidator, "admin");
    grid->Add(admin_box_, 0, wxALL, 4);
    top->Add(grid, 0, wxEXPAND);

    auto* box = new wxStaticBoxSizer(wxVERTICAL, this, wxGetTranslation("Groups"));
    group_list_ = new wxListBox(box->GetStaticBox(), wxID_ANY, wxDefaultPosition,
                                wxDefaultSize, 0, nullptr, wxLB_MULTIPLE, wxDefaultValidator,
                                "groups");
    box->Add(group_list_, 1, wxEXPAND | wxALL, 4);
    top->Add(box, 0, wxEXPAND | wxALL, 4);
    finish_dialog(this, top);

    list_ = sorted_group_list(wx_vector_to_utf8(groups_offered));
    for (const auto& g : list_)
        group_list_->Append(utf8_to_wx(g));
    if (!new_user) name_field_->Disable();
}

bool WXUserDialog::Validate() { return !name_field_->GetValue().empty(); }

bool WXUserDialog::TransferDataToWindow() {
    // ChangeValue raises no text event: only the user's own edits count as edits.
    name_field_->ChangeValue(name);
    password_field_->ChangeValue(password);
    password_edited = false;
    admin_box_->SetValue(admin);
    const auto sel = group_selection(list_, wx_vector_to_utf8(groups));
    for (std::size_t i = 0; i < sel.size(); ++i)
        if (sel[i]) group_list_->SetSelection(static_cast<int>(i));
        else group_list_->Deselect(static_cast<int>(i));
    return true;
}

bool WXUserDialog::TransferDataFromWindow() {
    name = name_field_->GetValue();
    password = password_field_->GetValue();
    admin = admin_box_->GetValue();
    std::vector<bool> sel(list_.size(), false);
    for (std::size_t i = 0; i < list_.size(); ++i)
        sel[i] = group_list_->IsSelected(static_cast<int>(i));
    groups = utf8_vector_to_wx(selected_groups(list_, sel));
    return true;
}

void WXUserDialog::OnPasswordText(wxCommandEvent&) { password_edited = true; }
