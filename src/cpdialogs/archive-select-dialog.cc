#include "cpdialogs/archive-select-dialog.h"

#include "client/string-conv.h"
#include "cpdialogs/dlga-common.h"

#include <wx/button.h>
#include <wx/imaglist.h>
#include <wx/sizer.h>
#include <wx/statbox.h>

using namespace lumbrake;

namespace {
constexpr int ID_ADD = 6999;
constexpr int ID_REMOVE = 7000;
} // namespace

WXSourceArchiveTreeItemData::WXSourceArchiveTreeItemData(std::string item_name,
                                                         const SourceInfo* src,
                                                         const ArchiveInfo* arc)
    : name(std::move(item_name)),
      source(src ? new SourceInfo(*src) : nullptr),
      archive(arc ? new ArchiveInfo(*arc) : nullptr) {}

WXSourceArchiveTreeItemData::~WXSourceArchiveTreeItemData() {
    delete source;
    delete archive;
}

wxBEGIN_EVENT_TABLE(WXArchiveDialog, wxDialog)
    EVT_UPDATE_UI(ID_ADD, WXArchiveDialog::OnUpdateAdd)
    EVT_UPDATE_UI(ID_REMOVE, WXArchiveDialog::OnUpdateRemove)
    EVT_BUTTON(ID_ADD, WXArchiveDialog::OnAdd)
    EVT_BUTTON(ID_REMOVE, WXArchiveDialog::OnRemove)
wxEND_EVENT_TABLE()

WXArchiveDialog::WXArchiveDialog(wxWindow* parent, const std::vector<SourceInfo>& sources,
                                 const std::vector<ArchiveInfo>& archives)
    : wxDialog(parent, wxID_ANY, wxGetTranslation("Select archives")) {
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* box = new wxStaticBoxSizer(wxVERTICAL, this, wxGetTranslation("Archives"));
    tree_ = new wxTreeCtrl(box->GetStaticBox(), wxID_ANY, wxDefaultPosition, wxSize(400, 300),
                           wxTR_HAS_BUTTONS | wxTR_LINES_AT_ROOT | wxTR_HIDE_ROOT);
    box->Add(tree_, 1, wxEXPAND);
    auto* buttons = new wxGridSizer(2, 0, 0);
    buttons->Add(new wxButton(box->GetStaticBox(), ID_ADD, wxGetTranslation("Add")), 0, wxALL, 4);
    buttons->Add(new wxButton(box->GetStaticBox(), ID_REMOVE, wxGetTranslation("Remove")), 0,
                 wxALL, 4);
    box->Add(buttons, 0, wxALIGN_RIGHT);
    top->Add(box, 1, wxEXPAND | wxALL, 4);
    finish_dialog(this, top);

    auto* images = new wxImageList(16, 16, true);
    images->Add(cp_bitmap("archive"));
    images->Add(cp_bitmap("source_alias"));
    tree_->AssignImageList(images);

    // The model sorts archives and their sources by label, so items go in in tree order.
    const wxTreeItemId root = tree_->AddRoot("Root");
    items_ = archive_tree(sources, archives, wx_to_utf8(wxGetTranslation("(no name)")));
    for (const auto& item : items_) {
        const wxTreeItemId id =
            tree_->AppendItem(root, utf8_to_wx(item.label), 0, -1,
                              new WXSourceArchiveTreeItemData(item.label, nullptr, &item.archive));
        for (const auto& s : item.sources)
            tree_->AppendItem(id, utf8_to_wx(s.label), 1, -1,
                              new WXSourceArchiveTreeItemData(s.label, &s.source, nullptr));
        item_ids_.push_back(id);
    }
}

bool WXArchiveDialog::TransferDataToWindow() {
    preset_ = archive_ids;
    const auto flags = archive_chosen_flags(items_, archive_ids);
    for (std::size_t i = 0; i < items_.size(); ++i) {
        tree_->SetItemBold(item_ids_[i], flags[i]);
        if (flags[i]) tree_->EnsureVisible(item_ids_[i]);
    }
    return true;
}

bool WXArchiveDialog::TransferDataFromWindow() {
    std::vector<bool> flags;
    for (const auto& id : item_ids_)
        flags.push_back(tree_->IsBold(id));
    archive_ids = chosen_archive_ids(items_, flags, preset_);
    return true;
}

wxTreeItemId WXArchiveDialog::HighlightedArchive() const {
    const wxTreeItemId id = tree_->GetSelection();
    if (!id.IsOk()) return {};
    auto* data = dynamic_cast<WXSourceArchiveTreeItemData*>(tree_->GetItemData(id));
    return data && data->archive ? id : wxTreeItemId();
}

void WXArchiveDialog::OnUpdateAdd(wxUpdateUIEvent& event) {
    const wxTreeItemId id = HighlightedArchive();
    event.Enable(id.IsOk() && !tree_->IsBold(id));
}

void WXArchiveDialog::OnUpdateRemove(wxUpdateUIEvent& event) {
    const wxTreeItemId id = HighlightedArchive();
    event.Enable(id.IsOk() && tree_->IsBold(id));
}

void WXArchiveDialog::OnAdd(wxCommandEvent&) {
    if (const wxTreeItemId id = HighlightedArchive(); id.IsOk()) tree_->SetItemBold(id, true);
}

void WXArchiveDialog::OnRemove(wxCommandEvent&) {
    if (const wxTreeItemId id = HighlightedArchive(); id.IsOk()) tree_->SetItemBold(id, false);
}
