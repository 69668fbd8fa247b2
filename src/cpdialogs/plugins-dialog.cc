#include "cpdialogs/plugins-dialog.h"

#include "client/string-conv.h"
#include "cpdialogs/dlga-common.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/imaglist.h>
#include <wx/listctrl.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

using namespace lumbrake;

namespace {
constexpr int ID_LIST = 7299;
constexpr int ID_ENABLED = 7300;
constexpr int ID_MOVE_UP = 7301;
constexpr int ID_MOVE_DOWN = 7302;
} // namespace

wxBEGIN_EVENT_TABLE(WXPluginDialog, wxDialog)
    EVT_LIST_ITEM_SELECTED(ID_LIST, WXPluginDialog::OnSelected)
    EVT_LIST_ITEM_DESELECTED(ID_LIST, WXPluginDialog::OnDeselected)
    EVT_UPDATE_UI(ID_ENABLED, WXPluginDialog::OnUpdateEnabled)
    EVT_CHECKBOX(ID_ENABLED, WXPluginDialog::OnEnabled)
    EVT_UPDATE_UI(ID_MOVE_UP, WXPluginDialog::OnUpdateMoveUp)
    EVT_UPDATE_UI(ID_MOVE_DOWN, WXPluginDialog::OnUpdateMoveDown)
    EVT_BUTTON(ID_MOVE_UP, WXPluginDialog::OnMoveUp)
    EVT_BUTTON(ID_MOVE_DOWN, WXPluginDialog::OnMoveDown)
wxEND_EVENT_TABLE()

WXPluginDialog::WXPluginDialog(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, wxGetTranslation("Plugins")) {
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* book = new wxNotebook(this, wxID_ANY);
    auto* page = new wxPanel(book, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                             wxTAB_TRAVERSAL | wxNO_BORDER);
    auto* grid = new wxFlexGridSizer(2, 0, 0);
    grid->AddGrowableCol(1);
    grid->AddGrowableRow(0);
    list_ = new wxListView(page, ID_LIST, wxDefaultPosition, wxSize(220, 200),
                           wxLC_REPORT | wxLC_SINGLE_SEL | wxSUNKEN_BORDER);
    list_->InsertColumn(0, wxGetTranslation("Plugin"), wxLIST_FORMAT_LEFT, 200);
    auto* images = new wxImageList(16, 16, true);
    images->Add(cp_bitmap("includefilter"));
    images->Add(cp_bitmap("excludefilter"));
    list_->AssignImageList(images, wxIMAGE_LIST_SMALL);
    grid->Add(list_, 1, wxEXPAND | wxALL, 4);

    auto* side = new wxBoxSizer(wxVERTICAL);
    auto* box = new wxStaticBoxSizer(wxVERTICAL, page, wxGetTranslation("Description"));
    description_ = new wxStaticText(box->GetStaticBox(), wxID_ANY, wxEmptyString,
                                    wxDefaultPosition, wxDefaultSize, wxST_NO_AUTORESIZE,
                                    "description");
    box->Add(description_, 1, wxEXPAND);
    side->Add(box, 1, wxEXPAND);
    auto* row = new wxFlexGridSizer(3, 0, 0);
    row->AddGrowableCol(0);
    enabled_ = new wxCheckBox(page, ID_ENABLED, wxGetTranslation("Enabled"));
    row->Add(enabled_, 0, wxALIGN_CENTER_VERTICAL);
    row->Add(new wxButton(page, ID_MOVE_UP, wxGetTranslation("Move up")), 0, wxLEFT, 8);
    row->Add(new wxButton(page, ID_MOVE_DOWN, wxGetTranslation("Move down")), 0, wxLEFT, 8);
    side->Add(row, 0, wxEXPAND | wxTOP, 8);
    grid->Add(side, 1, wxEXPAND | wxALL, 4);
    page->SetSizer(grid);
    book->AddPage(page, wxGetTranslation("Root pipeline"));

    top->Add(book, 1, wxEXPAND | wxALL, 4);
    top->Add(ok_cancel_row(this, wxGetTranslation("OK")), 0, wxALIGN_RIGHT);
    SetSizerAndFit(top);
    SetSize(wxSize(550, 400));
    CentreOnParent(wxBOTH);

    if (cp_services* services = get_cp_services()) proxy_ = services->CreateSoapProxy();
}

WXPluginDialog::~WXPluginDialog() = default;

bool WXPluginDialog::TransferDataToWindow() {
    filters_.clear();
    RendererPluginPipe pipe;
    const bool ok = soap_guarded(this, proxy_.get(), [&](SoapClientProxy& proxy) {
        proxy.GetRootRendererPipe(pipe, magic_);
        proxy.EnumDocFilters({ARCHIVEFFF_PLUGINTYPE}, false, filters_);
    });
    list_->DeleteAllItems();
    if (!ok) {
        // Closes as cancelled once the dialog runs; nothing is sent.
        wxCommandEvent cancel(wxEVT_BUTTON, wxID_CANCEL);
        cancel.SetEventObject(this);
        wxPostEvent(this, cancel);
        return false;
    }
    model_.load(pipe.DocFilterIDs, filters_);
    for (std::size_t i = 0; i < model_.rows().size(); ++i)
        ShowRow(static_cast<long>(i));
    return true;
}

// Writes the model's row into the list (inserting it when the list is shorter).
void WXPluginDialog::ShowRow(long row) {
    const plugin_row& r = model_.rows()[static_cast<std::size_t>(row)];
    if (row >= list_->GetItemCount()) list_->InsertItem(row, wxEmptyString);
    list_->SetItem(row, 0, utf8_to_wx(r.name), r.enabled ? 0 : 1);
    list_->SetItemData(row, r.enabled ? r.id : -r.id);
}

bool WXPluginDialog::TransferDataFromWindow() {
    RendererPluginPipe pipe;
    pipe.DocFilterIDs = model_.pipe();
    return soap_guarded(this, proxy_.get(), [&](SoapClientProxy& proxy) {
        proxy.SetRootRendererPipe(pipe, magic_);
    });
}

void WXPluginDialog::OnSelected(wxListEvent& event) {
    const long row = event.GetIndex();
    if (row < 0 || row >= static_cast<long>(model_.rows().size())) return;
    const plugin_row& r = model_.rows()[static_cast<std::size_t>(row)];
    description_->SetLabel(utf8_to_wx(r.description));
    enabled_->SetValue(r.enabled);
}

void WXPluginDialog::OnDeselected(wxListEvent&) {
    description_->SetLabel(wxEmptyString);
    enabled_->SetValue(false);
}

void WXPluginDialog::OnUpdateEnabled(wxUpdateUIEvent& event) {
    event.Enable(list_->GetFirstSelected() >= 0);
}

void WXPluginDialog::OnEnabled(wxCommandEvent& event) {
    const long row = list_->GetFirstSelected();
    if (row < 0) return;
    model_.set_enabled(static_cast<std::size_t>(row), event.IsChecked());
    ShowRow(row);
}

void WXPluginDialog::OnUpdateMoveUp(wxUpdateUIEvent& event) {
    const long row = list_->GetFirstSelected();
    event.Enable(row >= 0 && model_.can_move_up(static_cast<std::size_t>(row)));
}

void WXPluginDialog::OnUpdateMoveDown(wxUpdateUIEvent& event) {
    const long row = list_->GetFirstSelected();
    event.Enable(row >= 0 && model_.can_move_down(static_cast<std::size_t>(row)));
}

void WXPluginDialog::OnMoveUp(wxCommandEvent&) {
    const long row = list_->GetFirstSelected();
    if (row < 0 || !model_.can_move_up(static_cast<std::size_t>(row))) return;
    model_.move_up(static_cast<std::size_t>(row));
    Move(row, row - 1);
}

void WXPluginDialog::OnMoveDown(wxCommandEvent&) {
    const long row = list_->GetFirstSelected();
    if (row < 0 || !model_.can_move_down(static_cast<std::size_t>(row))) return;
    model_.move_down(static_cast<std::size_t>(row));
    Move(row, row + 1);
}

// The two rows swapped in the model are shown again; the moved one stays selected.
void WXPluginDialog::Move(long from, long to) {
    ShowRow(from);
    ShowRow(to);
    list_->Select(from, false);
    list_->Select(to, true);
    list_->Focus(to);
    list_->EnsureVisible(to);
}
