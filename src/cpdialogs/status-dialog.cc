#include "cpdialogs/status-dialog.h"

#include "client/string-conv.h"
#include "cpdialogs/cp-services.h"
#include "cpmodel/apply-model.h"

#include <algorithm>

#include <wx/button.h>
#include <wx/intl.h>
#include <wx/listctrl.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/utils.h>

namespace lumbrake {

const char* status_word(int status) {
    switch (status) {
    case RUNNING:
        return "running";
    case CRAWLSTOPPED:
        return "crawl stopped";
    case LOWDISKSPACE:
        return "low disk space";
    default:
        return "";
    }
}

WXStatusDialog::WXStatusDialog(wxWindow* parent) : wxDialog(parent, wxID_ANY, _("Server status")) {
    auto* top = new wxBoxSizer(wxVERTICAL);

    auto* platform = new wxStaticBoxSizer(wxHORIZONTAL, this, _("Platform status"));
    status_ = new wxStaticText(platform->GetStaticBox(), wxID_ANY, "");
    platform->Add(status_, 1, wxALIGN_CENTER_VERTICAL | wxALL, 4);
    top->Add(platform, 0, wxEXPAND | wxALL, 4);

    auto* extended = new wxStaticBoxSizer(wxHORIZONTAL, this, _("Extended status"));
    list_ = new wxListCtrl(extended->GetStaticBox(), wxID_ANY, wxDefaultPosition, wxDefaultSize,
                           wxLC_REPORT | wxLC_SINGLE_SEL | wxBORDER_SUNKEN);
    list_->InsertColumn(0, _("Key"), wxLIST_FORMAT_LEFT, 200);
    list_->InsertColumn(1, _("Value"), wxLIST_FORMAT_LEFT, 100);
    extended->Add(list_, 1, wxEXPAND | wxALL, 4);
    top->Add(extended, 1, wxEXPAND | wxALL, 4);

    auto* buttons = new wxGridSizer(1, 1, 0, 0);
    buttons->Add(new wxButton(this, wxID_OK, _("Close")), 0, wxALL, 4);
    top->Add(buttons, 0, wxALIGN_RIGHT);

    SetSizer(top);
    SetMinSize(top->GetMinSize());
    SetSize(520, 380);
    Centre(wxBOTH);
    Fill();
}

WXStatusDialog::~WXStatusDialog() = default;

void WXStatusDialog::Fill() {
    cp_services* services = get_cp_services();
    proxy_ = services->CreateSoapProxy();
    if (!proxy_) return;
    api_status_code status{};
    std::vector<ExtendedStatus> rows;
    try {
        wxBusyCursor busy;
        proxy_->GetStatus(status, rows);
    } catch (const EasySoap::SOAPException& e) {
        services->ReportSoapError(e, this);
        // Closes the dialog as soon as it is shown, as if "Close" had been pressed.
        wxCommandEvent close(wxEVT_BUTTON, wxID_OK);
        close.SetEventObject(this);
        wxPostEvent(this, close);
        return;
    }
    const char* word = status_word(status);
    status_->SetLabel(*word != 0 ? wxGetTranslation(word) : wxString());
    for (const ExtendedStatus& row : rows) {
        const long item =
            list_->InsertItem(list_->GetItemCount(), utf8_to_wx(utf8_lenient(row.Key)));
        list_->SetItem(item, 1, utf8_to_wx(utf8_lenient(row.Value)));
    }
    // Keys are long ("Platform: free disk space (MB)"): the key column takes their width.
    if (!rows.empty()) {
        list_->SetColumnWidth(0, wxLIST_AUTOSIZE);
        list_->SetColumnWidth(0, std::max(list_->GetColumnWidth(0) + 8, 200));
    }
}

} // namespace lumbrake
