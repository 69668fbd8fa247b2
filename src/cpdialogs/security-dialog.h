// The "Security" dialog: an administrator's view of the daemon's login users and groups and of
// its two root access lists. Every change goes to the daemon at once and is followed by a full
// reload, so the lists always show the server's state.
#pragma once

#include "api/api-types.h"
#include "client/soap-client-proxy.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <wx/dialog.h>

class wxListCtrl;
class wxListEvent;
class wxShowEvent;
class wxUpdateUIEvent;

class WXUserGroupDialog : public wxDialog {
public:
    explicit WXUserGroupDialog(wxWindow* parent);
    ~WXUserGroupDialog() override;

    // Reloads everything from the daemon (also run by the constructor); a failure is reported
    // and closes the dialog.
    void Load();

private:
    struct root_acl_page {
        wxListCtrl* list = nullptr;
        std::vector<lumbrake::AccessSpec> acl;
        std::uint32_t magic = 0;
        lumbrake::RootACLKind kind = lumbrake::ROOTACL_BROWSING;
    };

    void OnUpdateUserButtons(wxUpdateUIEvent& event);
    void OnUpdateGroupRemove(wxUpdateUIEvent& event);
    void OnUpdateAclButtons(wxUpdateUIEvent& event);
    void OnUserActivated(wxListEvent& event);
    void OnAclActivated(wxListEvent& event);
    void OnAddUser(wxCommandEvent& event);
    void OnEditUser(wxCommandEvent& event);
    void OnRemoveUser(wxCommandEvent& event);
    void OnAddGroup(wxCommandEvent& event);
    void OnRemoveGroup(wxCommandEvent& event);
    void OnAddAcl(wxCommandEvent& event);
    void OnEditAcl(wxCommandEvent& event);
    void OnRemoveAcl(wxCommandEvent& event);

    void EditUser();
    void EditAcl(root_acl_page& page);
    root_acl_page& PageOf(int id);
    void Commit(root_acl_page& page);
    bool Confirm(const wxString& question);
    void RemovePrincipal(wxListCtrl* list, const wxString& question,
                         void (lumbrake::SoapClientProxy::*remove)(const std::string&));
    void CloseSoon();
    void CloseIfPending();
    void OnShow(wxShowEvent& event);

    wxListCtrl* users_list_ = nullptr;
    wxListCtrl* groups_list_ = nullptr;
    std::unique_ptr<lumbrake::SoapClientProxy> proxy_;
    std::vector<std::string> users_, builtin_users_, groups_, builtin_groups_;
    root_acl_page browsing_, gathering_;
    bool close_pending_ = false; // a failed load closes the dialog once it is shown

    wxDECLARE_EVENT_TABLE();
};
