#include "cpdialogs/acl-dialog.h"

#include "cpdialogs/dlga-common.h"
#include "cpmodel/access-masks.h"

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

using namespace lumbrake;

namespace {

constexpr int ID_ALLOW_READ = 6899;
constexpr int ID_DENY_READ = 6900;
constexpr int ID_ALLOW_WRITE = 6901;
constexpr int ID_DENY_WRITE = 6902;

acl_box box_of(int id) {
    switch (id) {
    case ID_DENY_READ: return acl_box::deny_read;
    case ID_ALLOW_WRITE: return acl_box::allow_write;
    case ID_DENY_WRITE: return acl_box::deny_write;
    default: return acl_box::allow_read;
    }
}

} // namespace

wxBEGIN_EVENT_TABLE(WXACLDialog, wxDialog)
    EVT_CHECKBOX(ID_ALLOW_READ, WXACLDialog::OnBoxClicked)
    EVT_CHECKBOX(ID_DENY_READ, WXACLDialog::OnBoxClicked)
    EVT_CHECKBOX(ID_ALLOW_WRITE, WXACLDialog::OnBoxClicked)
    EVT_CHECKBOX(ID_DENY_WRITE, WXACLDialog::OnBoxClicked)
    EVT_UPDATE_UI(ID_ALLOW_READ, WXACLDialog::OnUpdateBox)
    EVT_UPDATE_UI(ID_DENY_WRITE, WXACLDialog::OnUpdateBox)
wxEND_EVENT_TABLE()

WXACLDialog::WXACLDialog(wxWindow* parent, const std::vector<wxString>& names)
    : wxDialog(parent, wxID_ANY, wxGetTranslation("ACL")) {
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* row = new wxFlexGridSizer(2, 0, 0);
    row->Add(new wxStaticText(this, wxID_ANY, wxGetTranslation("Name:")), 0,
             wxALIGN_CENTER_VERTICAL | wxALL, 4);
    choice_ = new wxChoice(this, wxID_ANY, wxDefaultPosition, wxSize(150, -1), 0, nullptr, 0,
                           wxDefaultValidator, "name");
    row->Add(choice_, 0, wxALL, 4);
    top->Add(row, 0, wxEXPAND);

    auto* box = new wxStaticBoxSizer(wxVERTICAL, this, wxGetTranslation("Access"));
    wxWindow* owner = box->GetStaticBox();
    auto* grid = new wxFlexGridSizer(3, 0, 0);
    grid->AddSpacer(0);
    grid->Add(new wxStaticText(owner, wxID_ANY, wxGetTranslation("Allow")), 0,
              wxALIGN_CENTER | wxALL, 4);
    grid->Add(new wxStaticText(owner, wxID_ANY, wxGetTranslation("Deny")), 0,
              wxALIGN_CENTER | wxALL, 4);
    const int ids[4] = {ID_ALLOW_READ, ID_DENY_READ, ID_ALLOW_WRITE, ID_DENY_WRITE};
    for (int i = 0; i < 4; ++i)
        boxes_[i] = new wxCheckBox(owner, ids[i], wxEmptyString);
    grid->Add(new wxStaticText(owner, wxID_ANY, wxGetTranslation("Read")), 0,
              wxALIGN_CENTER_VERTICAL | wxALL, 4);
    grid->Add(boxes_[0], 0, wxALIGN_CENTER | wxALL, 4);
    grid->Add(boxes_[1], 0, wxALIGN_CENTER | wxALL, 4);
    grid->Add(new wxStaticText(owner, wxID_ANY, wxGetTranslation("Write")), 0,
              wxALIGN_CENTER_VERTICAL | wxALL, 4);
    grid->Add(boxes_[2], 0, wxALIGN_CENTER | wxALL, 4);
    grid->Add(boxes_[3], 0, wxALIGN_CENTER | wxALL, 4);
    box->Add(grid, 0, wxALL, 4);
    top->Add(box, 0, wxEXPAND | wxALL, 4);
    finish_dialog(this, top);

    for (const auto& n : names)
        choice_->Append(n);
}

namespace {

acl_boxes read_boxes(wxCheckBox* const (&boxes)[4]) {
    return {boxes[0]->GetValue(), boxes[1]->GetValue(), boxes[2]->GetValue(),
            boxes[3]->GetValue()};
}

void write_boxes(wxCheckBox* const (&boxes)[4], const acl_boxes& b) {
    boxes[0]->SetValue(b.allow_read);
    boxes[1]->SetValue(b.deny_read);
    boxes[2]->SetValue(b.allow_write);
    boxes[3]->SetValue(b.deny_write);
}

} // namespace

bool WXACLDialog::Validate() {
    return acl_entry_complete(choice_->GetSelection() != wxNOT_FOUND, read_boxes(boxes_));
}

bool WXACLDialog::TransferDataToWindow() {
    // A name that is not offered gives wxNOT_FOUND: nothing is selected.
    choice_->SetSelection(choice_->FindString(name, true));
    write_boxes(boxes_, acl_boxes_of(mask));
    return true;
}

bool WXACLDialog::TransferDataFromWindow() {
    name = choice_->GetStringSelection();
    mask = acl_boxes_mask(read_boxes(boxes_));
    return true;
}

void WXACLDialog::OnBoxClicked(wxCommandEvent& event) {
    if (!event.IsChecked()) return;
    acl_boxes b = read_boxes(boxes_);
    acl_box_checked(b, box_of(event.GetId()));
    write_boxes(boxes_, b);
}

void WXACLDialog::OnUpdateBox(wxUpdateUIEvent& event) {
    event.Enable(acl_box_enabled(read_boxes(boxes_), box_of(event.GetId())));
}
