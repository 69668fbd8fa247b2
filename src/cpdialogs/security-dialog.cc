#include "cpdialogs/security-dialog.h"

#include "client/string-conv.h"
#include "cpdialogs/acl-dialog.h"
#include "cpdialogs/dlga-common.h"
#include "cpdialogs/text-dialog.h"
#include "cpdialogs/user-dialog.h"
#include "cpmodel/access-masks.h"
#include "cpmodel/security-model.h"

#include <wx/button.h>
#include <wx/listctrl.h>
#include <wx/msgdlg.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/sizer.h>

using namespace lumbrake;

namespace {

constexpr int ID_USERS = 6699;
constexpr int ID_GROUPS = 6700;
constexpr int ID_BROWSING_ACL = 6701;
constexpr int ID_GATHERING_ACL = 6702;
constexpr int ID_ADD_USER = 6703;
constexpr int ID_EDIT_USER = 6704;
constexpr int ID_REMOVE_USER = 6705;
constexpr int ID_ADD_GROUP = 6706;
constexpr int ID_REMOVE_GROUP = 6707;
constexpr int ID_ADD_BROWSING = 6708;
constexpr int ID_EDIT_BROWSING = 6709;
constexpr int ID_REMOVE_BROWSING = 6710;
constexpr int ID_ADD_GATHERING = 6711;
constexpr int ID_EDIT_GATHERING = 6712;
constexpr int ID_REMOVE_GATHERING = 6713;

long selected_row(wxListCtrl* list) {
    return list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
}

void append_row(wxListCtrl* list, const wxString& name, const wxString& second, long data) {
    const long row = list->InsertItem(list->GetItemCount(), name);
    list->SetItem(row, 1, second);
    list->SetItemData(row, data);
}

// A page: the list over a row of buttons at the bottom right.
wxListCtrl* add_page(wxNotebook* book, const wxString& title, int list_id,
                     const wxString& second_column,
                     std::initializer_list<std::pair<const char*, int>> buttons) {
    auto* panel = new wxPanel(book, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                              wxTAB_TRAVERSAL | wxNO_BORDER);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    auto* list = new wxListCtrl(panel, list_id, wxDefaultPosition, wxDefaultSize,
                                wxLC_REPORT | wxLC_SINGLE_SEL | wxSUNKEN_BORDER);
    list->InsertColumn(0, wxGetTranslation("Name"), wxLIST_FORMAT_LEFT, 180);
    list->InsertColumn(1, second_column, wxLIST_FORMAT_LEFT, 100);
    sizer->Add(list, 1, wxEXPAND | wxALL, 4);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    for (const auto& [label, id] : buttons)
        row->Add(new wxButton(panel, id, wxGetTranslation(label)), 0, wxALL, 4);
    sizer->Add(row, 0, wxALIGN_RIGHT);
    panel->SetSizer(sizer);
    book->AddPage(panel, title);
    return list;
}

} // namespace

wxBEGIN_EVENT_TABLE(WXUserGroupDialog, wxDialog)
    EVT_UPDATE_UI_RANGE(ID_EDIT_USER, ID_REMOVE_USER, WXUserGroupDialog::OnUpdateUserButtons)
    EVT_UPDATE_UI(ID_REMOVE_GROUP, WXUserGroupDialog::OnUpdateGroupRemove)
    EVT_UPDATE_UI_RANGE(ID_EDIT_BROWSING, ID_REMOVE_BROWSING, WXUserGroupDialog::OnUpdateAclButtons)
    EVT_UPDATE_UI_RANGE(ID_EDIT_GATHERING, ID_REMOVE_GATHERING,
                        WXUserGroupDialog::OnUpdateAclButtons)
    EVT_LIST_ITEM_ACTIVATED(ID_USERS, WXUserGroupDialog::OnUserActivated)
    EVT_LIST_ITEM_ACTIVATED(ID_BROWSING_ACL, WXUserGroupDialog::OnAclActivated)
    EVT_LIST_ITEM_ACTIVATED(ID_GATHERING_ACL, WXUserGroupDialog::OnAclActivated)
    EVT_BUTTON(ID_ADD_USER, WXUserGroupDialog::OnAddUser)
    EVT_BUTTON(ID_EDIT_USER, WXUserGroupDialog::OnEditUser)
    EVT_BUTTON(ID_REMOVE_USER, WXUserGroupDialog::OnRemoveUser)
    EVT_BUTTON(ID_ADD_GROUP, WXUserGroupDialog::OnAddGroup)
    EVT_BUTTON(ID_REMOVE_GROUP, WXUserGroupDialog::OnRemoveGroup)
    EVT_BUTTON(ID_ADD_BROWSING, WXUserGroupDialog::OnAddAcl)
    EVT_BUTTON(ID_ADD_GATHERING, WXUserGroupDialog::OnAddAcl)
    EVT_BUTTON(ID_EDIT_BROWSING, WXUserGroupDialog::OnEditAcl)
    EVT_BUTTON(ID_EDIT_GATHERING, WXUserGroupDialog::OnEditAcl)
    EVT_BUTTON(ID_REMOVE_BROWSING, WXUserGroupDialog::OnRemoveAcl)
    EVT_BUTTON(ID_REMOVE_GATHERING, WXUserGroupDialog::OnRemoveAcl)
    EVT_SHOW(WXUserGroupDialog::OnShow)
wxEND_EVENT_TABLE()

WXUserGroupDialog::WXUserGroupDialog(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, wxGetTranslation("Security"), wxDefaultPosition,
               wxSize(400, 360)) {
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* book = new wxNotebook(this, wxID_ANY);
    users_list_ = add_page(book, wxGetTranslation("Users"), ID_USERS, wxGetTranslation("Type"),
                           {{"Add...", ID_ADD_USER},
                            {"Edit...", ID_EDIT_USER},
                            {"Remove", ID_REMOVE_USER}});
    groups_list_ = add_page(book, wxGetTranslation("Groups"), ID_GROUPS,
                            wxGetTranslation("Type"),
                            {{"Add...", ID_ADD_GROUP}, {"Remove", ID_REMOVE_GROUP}});
    browsing_.list = add_page(book, wxGetTranslation("Browsing ACL"), ID_BROWSING_ACL,
                              wxGetTranslation("Access"),
                              {{"Add...", ID_ADD_BROWSING},
                               {"Edit...", ID_EDIT_BROWSING},
                               {"Remove", ID_REMOVE_BROWSING}});
    browsing_.kind = ROOTACL_BROWSING;
    gathering_.list = add_page(book, wxGetTranslation("Gathering ACL"), ID_GATHERING_ACL,
                               wxGetTranslation("Access"),
                               {{"Add...", ID_ADD_GATHERING},
                                {"Edit...", ID_EDIT_GATHERING},
                                {"Remove", ID_REMOVE_GATHERING}});
    gathering_.kind = ROOTACL_CRAWLING;
    top->Add(book, 1, wxEXPAND | wxALL, 4);
    top->Add(ok_cancel_row(this, wxGetTranslation("Close"), false), 0,
             wxALIGN_RIGHT);
    SetSizer(top);
    SetMinSize(top->GetMinSize());
    SetSize(wxSize(400, 360));
    CentreOnParent(wxBOTH);

    if (cp_services* services = get_cp_services()) proxy_ = services->CreateSoapProxy();
    Load();
}

WXUserGroupDialog::~WXUserGroupDialog() = default;

void WXUserGroupDialog::Load() {
    users_.clear();
    builtin_users_.clear();
    groups_.clear();
    builtin_groups_.clear();
    browsing_.acl.clear();
    gathering_.acl.clear();
    const bool ok = soap_guarded(this, proxy_.get(), [&](SoapClientProxy& proxy) {
        proxy.EnumUsersAndGroups(users_, builtin_users_, groups_, builtin_groups_);
        proxy.GetRootACL(ROOTACL_BROWSING, browsing_.acl, browsing_.magic);
        proxy.GetRootACL(ROOTACL_CRAWLING, gathering_.acl, gathering_.magic);
    });
    if (!ok && proxy_) CloseSoon();

    for (auto* list : {users_list_, groups_list_, browsing_.list, gathering_.list})
        list->DeleteAllItems();
    for (const auto& r : principal_rows(users_, builtin_users_))
        append_row(users_list_, utf8_to_wx(r.name),
                   wxGetTranslation(r.builtin ? "Builtin" : "User defined"), r.builtin ? 1 : 0);
    for (const auto& r : principal_rows(groups_, builtin_groups_))
        append_row(groups_list_, utf8_to_wx(r.name),
                   wxGetTranslation(r.builtin ? "Builtin" : "User defined"), r.builtin ? 1 : 0);
    for (auto* page : {&browsing_, &gathering_})
        for (const auto& r : acl_rows(page->acl))
            append_row(page->list, utf8_to_wx(r.name), access_mask_display(r.mask),
                       static_cast<long>(r.mask));
}

// The close is queued: it takes effect once the dialog runs, also when the failed load was
// the constructor's, before anyone showed it.
void WXUserGroupDialog::CloseSoon() {
    close_pending_ = true;
    CallAfter(&WXUserGroupDialog::CloseIfPending);
}

void WXUserGroupDialog::CloseIfPending() {
    if (!close_pending_ || !IsShown()) return;
    close_pending_ = false;
    if (IsModal()) EndModal(wxID_OK);
    else Hide();
}

void WXUserGroupDialog::OnShow(wxShowEvent& event) {
    if (event.IsShown() && close_pending_) CallAfter(&WXUserGroupDialog::CloseIfPending);
    event.Skip();
}

void WXUserGroupDialog::OnUpdateUserButtons(wxUpdateUIEvent& event) {
    const long row = selected_row(users_list_);
    event.Enable(row >= 0 && users_list_->GetItemData(row) == 0);
}

void WXUserGroupDialog::OnUpdateGroupRemove(wxUpdateUIEvent& event) {
    const long row = selected_row(groups_list_);
    event.Enable(row >= 0 && groups_list_->GetItemData(row) == 0);
}

void WXUserGroupDialog::OnUpdateAclButtons(wxUpdateUIEvent& event) {
    event.Enable(selected_row(PageOf(event.GetId()).list) >= 0);
}

WXUserGroupDialog::root_acl_page& WXUserGroupDialog::PageOf(int id) {
    switch (id) {
    case ID_GATHERING_ACL:
    case ID_ADD_GATHERING:
    case ID_EDIT_GATHERING:
    case ID_REMOVE_GATHERING: return gathering_;
    default: return browsing_;
    }
}

bool WXUserGroupDialog::Confirm(const wxString& question) {
    return wxMessageBox(question, wxGetTranslation("Confirm remove"),
                        wxYES_NO | wxICON_QUESTION, this) == wxYES;
}

void WXUserGroupDialog::OnAddUser(wxCommandEvent&) {
    WXUserDialog dlg(this, utf8_vector_to_wx(groups_), true);
    if (dlg.ShowModal() != wxID_OK) return;
    soap_guarded(this, proxy_.get(), [&](SoapClientProxy& proxy) {
        proxy.AddUser(wx_to_utf8(dlg.name), wx_to_utf8(dlg.password), dlg.admin,
                      wx_vector_to_utf8(dlg.groups));
    });
    Load();
}

void WXUserGroupDialog::OnEditUser(wxCommandEvent&) { EditUser(); }
void WXUserGroupDialog::OnUserActivated(wxListEvent&) { EditUser(); }

void WXUserGroupDialog::EditUser() {
    const long row = selected_row(users_list_);
    if (row < 0 || users_list_->GetItemData(row) != 0) return; // built-in users stay as they are
    WXUserDialog dlg(this, utf8_vector_to_wx(groups_), false);
    const std::string username = wx_to_utf8(users_list_->GetItemText(row));
    bool admin = false;
    std::vector<std::string> held;
    if (!soap_guarded(this, proxy_.get(), [&](SoapClientProxy& proxy) {
            proxy.GetUserData(username, admin, held);
        }))
        return;
    dlg.name = utf8_to_wx(username);
    dlg.password = wxString::FromUTF8(PASSWORD_SENTINEL);
    dlg.admin = admin;
    dlg.groups = utf8_vector_to_wx(held);
    if (dlg.ShowModal() != wxID_OK) return;
    const auto groups = user_groups_to_send(held, groups_, wx_vector_to_utf8(dlg.groups));
    if (!soap_guarded(this, proxy_.get(), [&](SoapClientProxy& proxy) {
            proxy.SetUserData(username, dlg.admin, groups);
        }))
        return;
    if (auto password = password_to_send(dlg.password_edited, wx_to_utf8(dlg.password))) {
        if (!soap_guarded(this, proxy_.get(), [&](SoapClientProxy& proxy) {
                proxy.SetUserPassword(username, *password);
            }))
            return;
    }
    Load();
}

void WXUserGroupDialog::OnRemoveUser(wxCommandEvent&) {
    RemovePrincipal(users_list_, wxGetTranslation("Are you sure you want to remove this user?"),
                    &SoapClientProxy::RemoveUser);
}

void WXUserGroupDialog::OnRemoveGroup(wxCommandEvent&) {
    RemovePrincipal(groups_list_, wxGetTranslation("Are you sure you want to remove this group?"),
                    &SoapClientProxy::RemoveGroup);
}

// Built-in rows are never removed; the buttons are disabled for them, this checks again.
void WXUserGroupDialog::RemovePrincipal(wxListCtrl* list, const wxString& question,
                                        void (SoapClientProxy::*remove)(const std::string&)) {
    const long row = selected_row(list);
    if (row < 0 || list->GetItemData(row) != 0) return;
    if (!Confirm(question)) return;
    const std::string name = wx_to_utf8(list->GetItemText(row));
    soap_guarded(this, proxy_.get(), [&](SoapClientProxy& proxy) { (proxy.*remove)(name); });
    Load();
}

void WXUserGroupDialog::OnAddGroup(wxCommandEvent&) {
    WXTextDialog dlg(this, wxGetTranslation("Name:"), wxGetTranslation("New group"));
    if (dlg.ShowModal() != wxID_OK) return;
    soap_guarded(this, proxy_.get(),
                 [&](SoapClientProxy& proxy) { proxy.AddGroup(wx_to_utf8(dlg.text)); });
    Load();
}

void WXUserGroupDialog::OnAddAcl(wxCommandEvent& event) {
    root_acl_page& page = PageOf(event.GetId());
    WXACLDialog dlg(this, utf8_vector_to_wx(acl_principal_names(builtin_users_, users_,
                                                                builtin_groups_, groups_)));
    if (dlg.ShowModal() != wxID_OK) return;
    append_row(page.list, dlg.name, access_mask_display(dlg.mask),
               static_cast<long>(dlg.mask));
    Commit(page);
}

void WXUserGroupDialog::OnEditAcl(wxCommandEvent& event) { EditAcl(PageOf(event.GetId())); }
void WXUserGroupDialog::OnAclActivated(wxListEvent& event) { EditAcl(PageOf(event.GetId())); }

void WXUserGroupDialog::EditAcl(root_acl_page& page) {
    const long row = selected_row(page.list);
    if (row < 0) return;
    WXACLDialog dlg(this, utf8_vector_to_wx(acl_principal_names(builtin_users_, users_,
                                                                builtin_groups_, groups_)));
    dlg.name = page.list->GetItemText(row);
    dlg.mask = static_cast<std::uint32_t>(page.list->GetItemData(row));
    if (dlg.ShowModal() != wxID_OK) return;
    page.list->SetItemText(row, dlg.name);
    page.list->SetItem(row, 1, access_mask_display(dlg.mask));
    page.list->SetItemData(row, static_cast<long>(dlg.mask));
    Commit(page);
}

void WXUserGroupDialog::OnRemoveAcl(wxCommandEvent& event) {
    root_acl_page& page = PageOf(event.GetId());
    const long row = selected_row(page.list);
    if (row < 0) return;
    if (!Confirm(wxGetTranslation("Are you sure you want to remove this ACL?"))) return;
    page.list->DeleteItem(row);
    Commit(page);
}

void WXUserGroupDialog::Commit(root_acl_page& page) {
    std::vector<acl_row> rows;
    for (long i = 0; i < page.list->GetItemCount(); ++i)
        rows.push_back({wx_to_utf8(page.list->GetItemText(i)),
                        static_cast<std::uint32_t>(page.list->GetItemData(i))});
    page.acl = acl_from_rows(rows);
    soap_guarded(this, proxy_.get(), [&](SoapClientProxy& proxy) {
        proxy.SetRootACL(page.kind, page.acl, page.magic);
    });
    Load();
}
