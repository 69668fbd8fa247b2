// Editing the lists of the pages: seeds, filters, the cookie log-in, the plug-in pipeline,
// the access lists and a collection's archives change through their dialogs and stay local
// until Apply; the schedule's "When:" value follows its frequency. The archive's credentials
// record is stored at once, since the archive only refers to it by id.
#include "controlpanel/cp-frame.h"

#include "client/string-conv.h"
#include "cpdialogs/acl-dialog.h"
#include "cpdialogs/archive-select-dialog.h"
#include "cpdialogs/cookie-param-dialog.h"
#include "cpdialogs/cp-services.h"
#include "cpdialogs/filter-dialog.h"
#include "cpdialogs/seed-url-dialog.h"
#include "cpdialogs/source-auth-dialog.h"
#include "cpdialogs/url-dialog.h"
#include "cpmodel/access-masks.h"
#include "cpmodel/cookie-param-model.h"
#include "cpmodel/frame-ids.h"
#include "cpmodel/page-lists.h"

#include <algorithm>

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/intl.h>
#include <wx/listctrl.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

namespace lumbrake {

namespace {

long first_selected(wxListCtrl* list) {
    return list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
}

wxString daemon_text(const std::string& utf8) {
    return utf8_to_wx(utf8_lenient(utf8));
}

// A translated literal; an empty one stays empty (the catalog would answer its header).
wxString translated(const char* text) {
    return *text != '\0' ? wxGetTranslation(wxString::FromUTF8(text)) : wxString();
}

wxString translated_mask(std::uint32_t mask) {
    return wxString::FromUTF8(
        access_mask_text(mask, [](const char* part) { return translated(part).utf8_string(); }));
}

// Deletes the first selected row; false when none is selected.
bool remove_first_selected(wxListCtrl* list) {
    const long row = list != nullptr ? first_selected(list) : -1;
    if (row < 0) return false;
    list->DeleteItem(row);
    return true;
}

// The first selected row's URL edited through a dialog with a `url` member; true after OK.
template <class Dialog> bool edit_url_row(wxWindow* parent, wxListCtrl* list) {
    const long row = first_selected(list);
    if (row < 0) return false;
    Dialog dialog(parent);
    dialog.url = list->GetItemText(row);
    if (dialog.ShowModal() != wxID_OK) return false;
    list->SetItemText(row, dialog.url);
    return true;
}

int row_image(wxListCtrl* list, long row) {
    wxListItem item;
    item.SetId(row);
    item.SetMask(wxLIST_MASK_IMAGE);
    list->GetItem(item);
    return item.GetImage();
}

} // namespace

// ---------------------------------------------------------------------------------------
// Seeds

void WXControlPanelFrame::OnSeedAdd(wxCommandEvent&) {
    WXUrlSmartDialog dialog(this);
    if (dialog.ShowModal() == wxID_OK) AddSeed(dialog.url);
}

void WXControlPanelFrame::OnSeedEdit(wxCommandEvent&) {
    if (edit_url_row<WXUrlSmartDialog>(this, seeds)) modified[0] = true;
}

void WXControlPanelFrame::OnSeedActivated(wxListEvent&) {
    if (edit_url_row<WXUrlSmartDialog>(this, seeds)) modified[0] = true;
}

void WXControlPanelFrame::OnSeedRemove(wxCommandEvent&) {
    if (remove_first_selected(seeds)) modified[0] = true;
}

void WXControlPanelFrame::OnSeedBrowse(wxCommandEvent&) {
    const long row = first_selected(seeds);
    cp_services* services = get_cp_services();
    if (row >= 0 && services != nullptr) services->OpenURL(wx_to_utf8(seeds->GetItemText(row)));
}

// ---------------------------------------------------------------------------------------
// Filters: the row's data tells include (0) from exclude (1), its image shows it.

void WXControlPanelFrame::OnFilterAdd(wxCommandEvent&) {
    WXRegExDialog dialog(this);
    if (dialog.ShowModal() != wxID_OK) return;
    const long row =
        filters->InsertItem(filters->GetItemCount(), dialog.expression, dialog.type == 1 ? 1 : 0);
    filters->SetItemData(row, dialog.type);
    modified[0] = true;
}

void WXControlPanelFrame::EditFilter() {
    const long row = first_selected(filters);
    if (row < 0) return;
    WXRegExDialog dialog(this);
    dialog.expression = filters->GetItemText(row);
    dialog.type = static_cast<int>(filters->GetItemData(row));
    if (dialog.ShowModal() != wxID_OK) return;
    filters->SetItemText(row, dialog.expression);
    filters->SetItemImage(row, dialog.type == 1 ? 1 : 0);
    filters->SetItemData(row, dialog.type);
    modified[0] = true;
}

void WXControlPanelFrame::OnFilterEdit(wxCommandEvent&) {
    EditFilter();
}

void WXControlPanelFrame::OnFilterActivated(wxListEvent&) {
    EditFilter();
}

void WXControlPanelFrame::OnFilterRemove(wxCommandEvent&) {
    if (remove_first_selected(filters)) modified[0] = true;
}

// ---------------------------------------------------------------------------------------
// Cookie log-in: its URL, its parameters (each row owns a CookieParam), its pre-URLs.

void WXControlPanelFrame::OnCookieUrlEdit(wxCommandEvent&) {
    WXUrlDialog dialog(this);
    dialog.url = cookieUrl->GetValue();
    if (dialog.ShowModal() != wxID_OK) return;
    cookieUrl->ChangeValue(dialog.url);
    modified[0] = true;
}

void WXControlPanelFrame::SetCookieParamRow(long row, const CookieParam& param) {
    cookieParams->SetItemText(row, daemon_text(param.Name));
    cookieParams->SetItem(row, 1, daemon_text(param.Value));
    cookieParams->SetItem(row, 2, translated(cookie_param_type_label(param.Type)));
    if (auto* held = reinterpret_cast<CookieParam*>(cookieParams->GetItemData(row)))
        *held = param;
    else
        cookieParams->SetItemPtrData(row, reinterpret_cast<wxUIntPtr>(new CookieParam(param)));
}

void WXControlPanelFrame::OnCookieParamAdd(wxCommandEvent&) {
    WXParamDialog dialog(this);
    if (dialog.ShowModal() != wxID_OK) return;
    const long row = cookieParams->InsertItem(cookieParams->GetItemCount(), wxString());
    SetCookieParamRow(row, dialog.param);
    modified[0] = true;
}

void WXControlPanelFrame::EditCookieParam() {
    const long row = first_selected(cookieParams);
    if (row < 0) return;
    WXParamDialog dialog(this);
    if (auto* held = reinterpret_cast<CookieParam*>(cookieParams->GetItemData(row)))
        dialog.param = *held;
    if (dialog.ShowModal() != wxID_OK) return;
    SetCookieParamRow(row, dialog.param);
    modified[0] = true;
}

void WXControlPanelFrame::OnCookieParamEdit(wxCommandEvent&) {
    EditCookieParam();
}

void WXControlPanelFrame::OnCookieParamActivated(wxListEvent&) {
    EditCookieParam();
}

void WXControlPanelFrame::OnCookieParamRemove(wxCommandEvent&) {
    const long row = first_selected(cookieParams);
    if (row < 0) return;
    delete reinterpret_cast<CookieParam*>(cookieParams->GetItemData(row));
    cookieParams->DeleteItem(row);
    modified[0] = true;
}

void WXControlPanelFrame::OnPreUrlAdd(wxCommandEvent&) {
    WXUrlDialog dialog(this);
    if (dialog.ShowModal() != wxID_OK) return;
    preUrls->InsertItem(preUrls->GetItemCount(), dialog.url);
    modified[0] = true;
}

void WXControlPanelFrame::OnPreUrlEdit(wxCommandEvent&) {
    if (edit_url_row<WXUrlDialog>(this, preUrls)) modified[0] = true;
}

void WXControlPanelFrame::OnPreUrlActivated(wxListEvent&) {
    if (edit_url_row<WXUrlDialog>(this, preUrls)) modified[0] = true;
}

void WXControlPanelFrame::OnPreUrlRemove(wxCommandEvent&) {
    if (remove_first_selected(preUrls)) modified[0] = true;
}

// ---------------------------------------------------------------------------------------
// Access lists: a row is a name, the text of its mask and the mask as data.

wxListCtrl* WXControlPanelFrame::AclList(int id) const {
    // Each page's list id is followed by its Add, Edit and Remove ids.
    wxListCtrl* const lists[] = {sourceAcl, archiveAcl, collectionAcl, watchAcl};
    const int index = (id - ID_SOURCE_ACL) / 4;
    return id >= ID_SOURCE_ACL && index < 4 ? lists[index] : nullptr;
}

std::vector<wxString> WXControlPanelFrame::AclNames() const {
    std::vector<wxString> names;
    for (const std::string& n : principalNames)
        names.push_back(daemon_text(n));
    return names;
}

void WXControlPanelFrame::SetAclRow(wxListCtrl* list, long row, const wxString& name,
                                    std::uint32_t mask) {
    list->SetItemText(row, name);
    list->SetItem(row, 1, translated_mask(mask));
    list->SetItemData(row, static_cast<long>(mask));
    modified[0] = true;
}

void WXControlPanelFrame::OnAclAdd(wxCommandEvent& event) {
    wxListCtrl* list = AclList(event.GetId());
    if (list == nullptr) return;
    WXACLDialog dialog(this, AclNames());
    if (dialog.ShowModal() != wxID_OK) return;
    SetAclRow(list, list->InsertItem(list->GetItemCount(), dialog.name), dialog.name, dialog.mask);
}

void WXControlPanelFrame::EditAcl(wxListCtrl* list) {
    const long row = list != nullptr ? first_selected(list) : -1;
    if (row < 0) return;
    WXACLDialog dialog(this, AclNames());
    dialog.name = list->GetItemText(row);
    dialog.mask = static_cast<std::uint32_t>(list->GetItemData(row));
    if (dialog.ShowModal() == wxID_OK) SetAclRow(list, row, dialog.name, dialog.mask);
}

void WXControlPanelFrame::OnAclEdit(wxCommandEvent& event) {
    EditAcl(AclList(event.GetId()));
}

void WXControlPanelFrame::OnAclActivated(wxListEvent& event) {
    EditAcl(AclList(event.GetId()));
}

void WXControlPanelFrame::OnAclRemove(wxCommandEvent& event) {
    if (remove_first_selected(AclList(event.GetId()))) modified[0] = true;
}

// ---------------------------------------------------------------------------------------
// A collection's archives

void WXControlPanelFrame::OnCollectionArchivesEdit(wxCommandEvent&) {
    WXArchiveDialog dialog(this, sources, archives);
    for (long i = 0; i < collectionArchives->GetItemCount(); ++i)
        dialog.archive_ids.push_back(static_cast<std::int32_t>(collectionArchives->GetItemData(i)));
    if (dialog.ShowModal() != wxID_OK) return;
    collectionArchives->DeleteAllItems();
    for (const auto& row : collection_archive_rows(dialog.archive_ids, archives, sources)) {
        const long item = collectionArchives->InsertItem(collectionArchives->GetItemCount(),
                                                         daemon_text(row.name), 0);
        collectionArchives->SetItem(item, 1, daemon_text(row.source_description));
        collectionArchives->SetItemData(item, row.id);
    }
    // An archive the list could not show but the dialog could is a row now: sent once.
    hiddenArchives = still_hidden_archives(hiddenArchives, dialog.archive_ids);
    modified[0] = true;
}

// ---------------------------------------------------------------------------------------
// The plug-in pipeline: a row's data is the document filter's id, negated while disabled.

void WXControlPanelFrame::OnPipelineSelected(wxListEvent&) {
    const long row = first_selected(pipeline);
    if (row < 0) return;
    const long data = static_cast<long>(pipeline->GetItemData(row));
    if (const DocFilterInfo* f = pipeline_row_filter(docFilters, data)) {
        pluginDescription->SetLabel(daemon_text(f->DocFilterConfiguration.Description));
        pluginDescription->Wrap(std::max(pluginDescription->GetSize().x, 100));
    }
    pluginEnabled->SetValue(data > 0);
}

void WXControlPanelFrame::OnPipelineDeselected(wxListEvent&) {
    pluginDescription->SetLabel(wxString());
    pluginEnabled->SetValue(false);
}

void WXControlPanelFrame::OnPluginEnabled(wxCommandEvent&) {
    const long row = first_selected(pipeline);
    if (row < 0) return;
    // The row follows the box, so the two cannot drift apart.
    const bool enabled = pluginEnabled->GetValue();
    pipeline->SetItemImage(row, enabled ? 0 : 1);
    pipeline->SetItemData(
        row, pipeline_row_data(static_cast<long>(pipeline->GetItemData(row)), enabled));
    modified[0] = true;
}

void WXControlPanelFrame::MovePlugin(int step) {
    const long row = first_selected(pipeline);
    const long target = row + step;
    if (row < 0 || target < 0 || target >= pipeline->GetItemCount()) return;
    const wxString text = pipeline->GetItemText(row);
    const int image = row_image(pipeline, row);
    const wxUIntPtr data = pipeline->GetItemData(row);
    pipeline->SetItemText(row, pipeline->GetItemText(target));
    pipeline->SetItemImage(row, row_image(pipeline, target));
    pipeline->SetItemPtrData(row, pipeline->GetItemData(target));
    pipeline->SetItemText(target, text);
    pipeline->SetItemImage(target, image);
    pipeline->SetItemPtrData(target, data);
    pipeline->SetItemState(row, 0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    pipeline->SetItemState(target, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                           wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    pipeline->EnsureVisible(target);
    modified[0] = true;
}

void WXControlPanelFrame::OnPluginUp(wxCommandEvent&) {
    MovePlugin(-1);
}

void WXControlPanelFrame::OnPluginDown(wxCommandEvent&) {
    MovePlugin(1);
}

// ---------------------------------------------------------------------------------------
// The schedule's "When:" value

void WXControlPanelFrame::ShowScheduleRule(int frequency, std::optional<int> stored) {
    schedule_every_rule rule;
    if (stored)
        rule = schedule_every_fill_rule(frequency, *stored);
    else if (!schedule_every_rule_of(frequency, rule))
        return;
    scheduleShown = frequency;
    scheduleLabel->SetLabel(translated(rule.label));
    scheduleEvery->SetRange(rule.min, rule.max);
}

void WXControlPanelFrame::OnScheduleFrequency(wxCommandEvent&) {
    modified[0] = true;
    // The spin clamps to its range: the value is read before the new range is set, and the
    // corrected value written after it.
    const int frequency = scheduleFrequency->GetSelection();
    const int value = scheduleEvery->GetValue();
    ShowScheduleRule(frequency, std::nullopt);
    scheduleEvery->SetValue(correct_schedule_every(frequency, value));
}

void WXControlPanelFrame::OnUpdateScheduleFrequency(wxUpdateUIEvent&) {
    const int frequency = scheduleFrequency->GetSelection();
    if (frequency != scheduleShown) ShowScheduleRule(frequency, std::nullopt);
}

// ---------------------------------------------------------------------------------------
// The archive's credentials

void WXControlPanelFrame::OnEditAuthentication(wxCommandEvent&) {
    if (currentArchive.Archive < 1) return;
    cp_services* services = get_cp_services();
    if (!proxy) RecreateProxy();
    if (!proxy) return;
    auto report = [&](const EasySoap::SOAPException& e) {
        if (services != nullptr) services->ReportSoapError(e, this);
    };
    const int archive_id = currentArchive.Archive;
    const int auth_id = currentArchive.Configuration.Auth;
    AuthConfiguration auth;
    std::uint32_t magic = 0;
    if (auth_id >= 1) {
        try {
            wxBusyCursor busy;
            proxy->GetAuthConfiguration(auth_id, auth, magic);
        } catch (const EasySoap::SOAPException& e) {
            report(e);
            return;
        }
    } else {
        auth = new_archive_auth(services != nullptr ? services->GetUserName() : "Anonymous");
    }
    // The dialog's rows follow the source's log-in; an unlisted source opens nothing.
    const SourceInfo* source = source_of(sources, currentArchive.Configuration.Source);
    if (source == nullptr) return;
    WXSourceAuthDialog dialog(this, source->Configuration);
    dialog.auth = auth;
    if (dialog.ShowModal() != wxID_OK) return;

    if (auth_id >= 1) {
        try {
            wxBusyCursor busy;
            proxy->SetAuthConfiguration(auth_id, dialog.auth, magic);
        } catch (const EasySoap::SOAPException& e) {
            report(e);
        }
        return;
    }
    int new_id = 0;
    try {
        wxBusyCursor busy;
        proxy->AddAuth(dialog.auth, new_id);
    } catch (const EasySoap::SOAPException& e) {
        report(e);
        return;
    }
    currentArchive.Configuration.Auth = new_id;
    modified[0] = true;
    wxCommandEvent apply(wxEVT_BUTTON, ID_APPLY);
    OnApply(apply);
    // Apply reported its own failure; a record no archive refers to cannot be reached again,
    // so it goes.
    const bool referred = std::any_of(archives.begin(), archives.end(), [&](const ArchiveInfo& a) {
        return a.Archive == archive_id && a.Configuration.Auth == new_id;
    });
    if (!referred && proxy) {
        try {
            wxBusyCursor busy;
            proxy->RemoveAuth(new_id);
        } catch (const EasySoap::SOAPException&) {
            // The apply's error is the one shown.
        }
    }
}

} // namespace lumbrake
